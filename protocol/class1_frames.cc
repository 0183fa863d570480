// Class 1 HDLC frames and result words: frames sent with AT+FTH, frames and
// text lines read after AT+FRH, T.30's command-response rule (GetFrame), and
// the waits for the modem's result lines.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>

#include "base/error_pool.h"
#include "modem/byte_tables.h"
#include "modem/final_results.h"
#include "modem/win_com_ce.h"
#include "protocol/class1_func.h"
#include "protocol/class1_session.h"
#include "protocol/t30_timers.h"

namespace vexo {

using namespace class1;

namespace {

constexpr std::uint32_t kResponseIntervalMs = 50;
constexpr std::uint32_t kFrameReadIntervalMs = 250;
constexpr std::uint32_t kFrameReadBytes = 255;
// A modem still in AT+FRH answers CAN with OK at once; one that has just
// ended the reception by itself answers nothing.
constexpr std::uint32_t kAbortWaitMs = 1000;
constexpr std::uint32_t kAbortPauseMs = 75;
// Once the modem has found the flags of a response (CONNECT), the frame may
// take this long to arrive, whatever is left of the wait for the response.
constexpr std::uint32_t kFrameAfterFlagsMs = 3000;
// A T.30 frame holds at most 256 information bytes; anything longer is noise.
constexpr std::size_t kMaxFrameBytes = 3 + 256 + 2;

constexpr std::array<const char*, 9> kResultWords = {ResultWord(FinalResult::Ok),
                                                     ResultWord(FinalResult::Error),
                                                     ResultWord(FinalResult::Connect),
                                                     ResultWord(FinalResult::NoCarrier),
                                                     ResultWord(FinalResult::NoAnswer),
                                                     ResultWord(FinalResult::NoDialtone),
                                                     ResultWord(FinalResult::NoDialTone),
                                                     ResultWord(FinalResult::Busy),
                                                     "+FCERROR"};

// Milliseconds left of a wait of timeoutMs that began at start.
std::uint32_t Remaining(std::uint32_t timeoutMs, Clock::time_point start) {
  return MsUntil(start + std::chrono::milliseconds(timeoutMs));
}

// Splits the bytes of one AT+FRH reception into text lines and frames. Frames
// are unstuffed with a DLE-pending state, so a stuffed DLE is never mistaken
// for the start of DLE ETX.
class FrameScanner {
 public:
  void Feed(const std::uint8_t* bytes, std::size_t count, Class1Items& items,
            std::size_t maxItems) {
    for (std::size_t i = 0; i < count; ++i) Take(bytes[i], items, maxItems);
  }
  // Ends a text line left open by the end of the read.
  void Flush(Class1Items& items, std::size_t maxItems) { EndLine(items, maxItems); }
  bool InsideFrame() const { return m_state != State::kText; }

 private:
  enum class State { kText, kAddress, kFrame };

  void Take(std::uint8_t b, Class1Items& items, std::size_t maxItems) {
    switch (m_state) {
      case State::kText:
        if (b == kHdlcAddress) {
          EndLine(items, maxItems);
          m_state = State::kAddress;
        } else if (b == '\r' || b == '\n') {
          EndLine(items, maxItems);
        } else if (b < 0x20 || b >= 0x7F || ((b == ' ' || b == '\t') && m_line.empty())) {
          // control characters and blanks between lines
        } else {
          m_line.push_back(b >= 'a' && b <= 'z' ? static_cast<char>(b - 'a' + 'A')
                                                : static_cast<char>(b));
        }
        return;
      case State::kAddress:
        if (b == kControlFinal || b == kControlMore) {
          m_frame.assign({kHdlcAddress, b});
          m_dlePending = false;
          m_state = State::kFrame;
        } else {
          m_state = b == kHdlcAddress ? State::kAddress : State::kText;
        }
        return;
      case State::kFrame:
        if (m_dlePending) {
          m_dlePending = false;
          if (b == kEtx) {
            if (items.size() < maxItems) items.push_back({true, {}, std::move(m_frame)});
            m_frame.clear();
            m_state = State::kText;
            return;
          }
          if (b != kDle) m_frame.push_back(kDle);  // an unknown escape stays data
          m_frame.push_back(b);
        } else if (b == kDle) {
          m_dlePending = true;
        } else {
          m_frame.push_back(b);
        }
        if (m_frame.size() > kMaxFrameBytes) {
          m_frame.clear();
          m_state = State::kText;
        }
        return;
    }
  }

  void EndLine(Class1Items& items, std::size_t maxItems) {
    while (!m_line.empty() && (m_line.back() == ' ' || m_line.back() == '\t')) m_line.pop_back();
    if (!m_line.empty() && items.size() < maxItems) items.push_back({false, std::move(m_line), {}});
    m_line.clear();
  }

  State m_state = State::kText;
  bool m_dlePending = false;
  std::string m_line;
  std::vector<std::uint8_t> m_frame;
};

// ERROR, +FCERROR or NO CARRIER after AT+FRH: the frame was damaged or its
// carrier lost, and the modem is back in command state.
bool IsDamageWord(int word) {
  return word == kWordError || word == kWordFcError || word == kWordNoCarrier;
}

bool HasDamageWord(const Class1Items& items) {
  return std::any_of(items.begin(), items.end(), [](const Class1Item& item) {
    return !item.isFrame && IsDamageWord(ClassifyResult(item.text));
  });
}

// A frame the modem follows with ERROR (or +FCERROR) failed its check sum.
void DropDamagedFrames(Class1Items& items) {
  for (std::size_t i = 0; i + 1 < items.size();) {
    const int next = items[i + 1].isFrame ? kWordNone : ClassifyResult(items[i + 1].text);
    if (items[i].isFrame && (next == kWordError || next == kWordFcError))
      items.erase(items.begin() + static_cast<std::ptrdiff_t>(i));
    else
      ++i;
  }
}

bool HasAnyFrame(const Class1Items& items) {
  return std::any_of(items.begin(), items.end(), [](const Class1Item& i) { return i.isFrame; });
}

bool HasFrame(const Class1Items& items, std::uint8_t fcfValue) {
  return std::any_of(items.begin(), items.end(),
                     [fcfValue](const Class1Item& item) { return item.Is(fcfValue); });
}

// The last item is CONNECT: the frame follows once the modem has taken it off
// the line, which at 300 bit/s can be most of a second later.
bool AwaitsFrame(const Class1Items& items) {
  return !items.empty() && !items.back().isFrame &&
         ClassifyResult(items.back().text) == kWordConnect;
}

}  // namespace

void class1::Report(const char* function, const char* message) {
  ReportError(0, kMsgDefault, kModule, function, "%s", message);
}

std::uint32_t class1::MsUntil(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<std::uint32_t>(left);
}

bool EndsWithResult(const Class1Items& items) {
  if (items.empty() || items.back().isFrame) return false;
  const int word = ClassifyResult(items.back().text);
  return word >= 0 && word != kWordConnect;
}

const Class1Item* FirstFrame(const Class1Items& items) {
  for (const Class1Item& item : items)
    if (item.isFrame) return &item;
  return nullptr;
}

std::span<const std::uint8_t> Class1Item::Fif() const {
  constexpr std::size_t kHead = 3;
  constexpr std::size_t kCheckBytes = 2;
  if (frame.size() <= kHead + kCheckBytes) return {};
  return std::span<const std::uint8_t>(frame).subspan(kHead, frame.size() - kHead - kCheckBytes);
}

int ClassifyResult(std::string_view text) {
  for (std::size_t i = 0; i < kResultWords.size(); ++i)
    if (text.starts_with(kResultWords[i])) return static_cast<int>(i);
  if (!text.empty())
    for (const char* word : kResultWords)
      if (std::string_view(word).starts_with(text)) return kWordPartial;
  return kWordNone;
}

// ---- result lines ----

int FClass1Func::DecideLines(const std::vector<std::string>& lines, const char* function,
                             bool report) {
  for (const std::string& line : lines) {
    switch (ClassifyResult(line)) {
      case kWordOk:
      case kWordConnect:
        return 1;
      case kWordError:
        if (report) Report(function, kErrorText);
        return 0;
      case kWordNoCarrier:
        if (report) Report(function, "Modem return NO CARRIER result.");
        return 0;
      default:
        break;
    }
  }
  return -1;
}

int FClass1Func::CheckCmdResponse2(std::uint32_t timeoutMs, bool report) {
  constexpr const char* kFunction = "CheckCmdResponse2";
  if (m_port == nullptr) return 0;
  std::array<char*, kResultLinesMax> found{};
  const auto start = Clock::now();
  std::size_t kept = 0;
  for (;;) {
    const std::uint32_t left = Remaining(timeoutMs, start);
    const int count = left == 0
                          ? 0
                          : m_port->ReadResultExxA(m_lineBuffer.data(), kept, m_lineBuffer.size(),
                                                   found, left, kResponseIntervalMs, report);
    if (count < 0) return 0;
    if (count == 0) {
      if (report) Report(kFunction, "Wait modem OK response timeout.");
      return 0;
    }
    std::vector<std::string> lines(found.begin(), found.begin() + count);
    const int decided = DecideLines(lines, kFunction, report);
    if (decided >= 0) return decided;
    // A word cut by the end of the read is completed by the next one.
    kept = 0;
    if (ClassifyResult(lines.back()) == kWordPartial) {
      kept = lines.back().size();
      std::memmove(m_lineBuffer.data(), lines.back().data(), kept);
    }
  }
}

int FClass1Func::CheckCmdResponse1(const std::vector<std::string>& lines, std::uint32_t timeoutMs,
                                   bool report) {
  const int decided = DecideLines(lines, "CheckCmdResponse1", report);
  return decided >= 0 ? decided : CheckCmdResponse2(timeoutMs, report);
}

int FClass1Func::WaitNoCarrier(std::uint32_t timeoutMs, bool report) {
  constexpr const char* kFunction = "WaitNoCarrier";
  if (m_port == nullptr) return 0;
  std::array<char*, kResultLinesMax> found{};
  const auto start = Clock::now();
  for (;;) {
    const std::uint32_t left = Remaining(timeoutMs, start);
    const int count = left == 0
                          ? 0
                          : m_port->ReadResultExxA(m_lineBuffer.data(), 0, m_lineBuffer.size(),
                                                   found, left, kResponseIntervalMs, report);
    if (count < 0) return 0;
    if (count == 0) {
      if (report) Report(kFunction, "Wait modem OK response timeout.");
      return 0;
    }
    for (int i = 0; i < count; ++i)
      if (ClassifyResult(found[i]) == kWordNoCarrier) return 1;
  }
}

// Only a modem still receiving (AT+FRH or AT+FRM) takes CAN; it answers OK.
// One that has already ended the reception is in command state, ignores the
// CAN and answers nothing: either way the modem is then in command state.
int FClass1Func::AbortReceive() {
  if (m_port == nullptr) return 0;
  const char cancel[] = {static_cast<char>(kCan)};
  if (!m_port->WriteCommandA(cancel, 1, kQuiet)) return 0;
  CheckCmdResponse2(kAbortWaitMs, false);
  m_port->Delay(kAbortPauseMs);
  return 1;
}

// ---- sending frames ----

int FClass1Func::WriteFrameBytes(bool final, std::uint8_t fcfValue,
                                 std::span<const std::uint8_t> data, bool reverseBits) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve((data.size() + 3) * 2);
  const auto put = [&bytes](std::uint8_t b) {
    if (b == kDle) bytes.push_back(kDle);
    bytes.push_back(b);
  };
  put(kHdlcAddress);
  put(final ? kControlFinal : kControlMore);
  put(fcfValue);
  for (std::uint8_t b : data) put(reverseBits ? kBitReverse[b] : b);
  bytes.push_back(kDle);
  bytes.push_back(kEtx);
  if (!m_port->WriteCommandA(reinterpret_cast<const char*>(bytes.data()),
                             static_cast<std::uint32_t>(bytes.size()), kSkipLineCheck))
    return 0;
  // "OK" after a final frame, "CONNECT" when the modem waits for the next one.
  return CheckCmdResponse2(kWaitOkMs, true);
}

int FClass1Func::SendFrame(const char* format, const char* code, bool final, std::uint8_t fcfValue,
                           std::span<const std::uint8_t> data, bool reverseBits) {
  if (m_port == nullptr) return 0;
  m_lastFrame = LastFrame{final, fcfValue, {data.begin(), data.end()}, reverseBits};
  m_port->Delay(kFrameWaitMs);
  // A result line the modem sent late (the OK of a CAN) must not pass for CONNECT.
  if (!m_port->WriteCommandF(format ? format : kFrameCommand, code ? code : "3", kClearInput))
    return 0;
  if (!CheckCmdResponse2(kWaitOkMs, true)) return 0;  // CONNECT: the modem sends flags
  return WriteFrameBytes(final, fcfValue, data, reverseBits);
}

int FClass1Func::SendNextFrame(bool final, std::uint8_t fcfValue,
                               std::span<const std::uint8_t> data, bool reverseBits) {
  if (m_port == nullptr) return 0;
  m_lastFrame = LastFrame{final, fcfValue, {data.begin(), data.end()}, reverseBits};
  return WriteFrameBytes(final, fcfValue, data, reverseBits);
}

// ---- receiving frames ----

int FClass1Func::ReadFrameList(Class1Items& items, std::size_t maxItems, std::uint32_t timeoutMs,
                               bool report) {
  items.clear();
  if (m_port == nullptr) return -1;
  COMMTIMEOUTS saved{};
  if (!m_port->GetComPortTimeouts(&saved, report)) return -1;
  FrameScanner scanner;
  std::array<std::uint8_t, kFrameReadBytes> buffer{};
  const auto start = Clock::now();
  int result = 0;
  for (;;) {
    // Each read returns as soon as bytes are there. Until the first item,
    // inside a frame and after CONNECT it may take what is left of the
    // timeout; between other items a pause longer than the gap between the
    // characters of one answer ends the answer.
    std::uint32_t left = Remaining(timeoutMs, start);
    if (left == 0) break;
    if (!items.empty() && !scanner.InsideFrame() && !AwaitsFrame(items))
      left = std::min(left, kFrameReadIntervalMs);
    if (!m_port->SetComPortTimeouts({MAXDWORD, MAXDWORD, left, 0, 0}, report)) {
      result = -1;
      break;
    }
    // A two-port modem delivers the frame after CONNECT on its data port.
    const Channel channel =
        AwaitsFrame(items) || scanner.InsideFrame() ? Channel::Data : Channel::Command;
    std::uint32_t got = 0;
    if (!m_port->ReadComDataSYN(channel, buffer.data(), kFrameReadBytes, &got,
                                report ? 0u : std::uint32_t{kQuiet})) {
      result = -1;
      break;
    }
    if (got == 0) break;
    scanner.Feed(buffer.data(), got, items, maxItems);
    // The answer is complete at its result word; a frame cut by the end of
    // a read is completed by the next one.
    if (!scanner.InsideFrame() && EndsWithResult(items)) break;
  }
  scanner.Flush(items, maxItems);
  DropDamagedFrames(items);
  m_port->SetComPortTimeouts(saved, false);
  return result < 0 ? -1 : static_cast<int>(items.size());
}

bool FClass1Func::HasNonFinalFrame(const Class1Items& items) {
  return std::any_of(items.begin(), items.end(), [](const Class1Item& item) {
    return item.isFrame && item.Control() == kControlMore;
  });
}

Heard FClass1Func::ListenOnce(Class1Items& items, std::size_t maxItems, std::uint32_t timeoutMs) {
  items.clear();
  m_port->Delay(kFrameWaitMs);
  if (!m_port->WriteCommandF(kReceiveFrameCommand, kV21Code, kClearInput))
    return Heard::kPortFailed;
  auto deadline = DeadlineIn(timeoutMs);
  bool flagsFound = false;
  for (;;) {
    const std::uint32_t left = MsUntil(deadline);
    Class1Items part;
    const int count = left == 0 ? 0 : ReadFrameList(part, maxItems, left, true);
    if (count < 0) return Heard::kPortFailed;
    for (Class1Item& item : part)
      if (items.size() < maxItems) items.push_back(std::move(item));
    if (count == 0 && !HasAnyFrame(items)) {
      // Nothing within T4: the modem still listens; stop it.
      AbortReceive();
      items.clear();
      return Heard::kSilence;
    }
    if (count == 0 || EndsWithResult(items)) break;
    if (!flagsFound) {
      flagsFound = true;
      deadline = std::max(deadline, DeadlineIn(kFrameAfterFlagsMs));
    }
  }
  if (HasDamageWord(items)) return Heard::kDamaged;
  if (HasFrame(items, fcf::CRP)) return Heard::kRepeatRequest;
  if (HasFrame(items, fcf::DCN)) return Heard::kDisconnect;
  return HasAnyFrame(items) ? Heard::kFrame : Heard::kDamaged;
}

// T.30's command and response: a response that does not come within the
// wait, comes damaged or asks for a repeat (CRP) gives a new attempt, the
// command (the last frame sent) going again when mode asks for it.
int FClass1Func::GetFrame(Class1Items& items, std::size_t maxItems, std::uint32_t timeoutMs,
                          RepeatMode mode, bool report) {
  constexpr const char* kFunction = "GetFrame";
  if (m_port == nullptr) return 0;
  bool crpReceived = false;
  for (int attempt = 0; attempt < t30::kCommandTries; ++attempt) {
    const bool repeat = mode == RepeatMode::kAlways || (mode == RepeatMode::kOnCrp && crpReceived);
    if (attempt > 0 && repeat && m_lastFrame) {
      const LastFrame last = *m_lastFrame;
      SendFrame(kFrameCommand, kV21Code, last.final, last.fcfValue, last.data, last.reverseBits);
    }
    const Heard heard = ListenOnce(items, maxItems, timeoutMs);
    if (heard == Heard::kFrame) return 1;
    if (heard == Heard::kDisconnect) {
      if (report) Report(kFunction, "Call answered without successful FAX handshake.");
      return 0;
    }
    crpReceived = heard == Heard::kRepeatRequest;
  }
  items.clear();
  if (report) Report(kFunction, kTimeoutText);
  return 0;
}

}  // namespace vexo
