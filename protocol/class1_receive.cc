// The Class 1 receive session: answer, CSI/DIS out and DCS in, the training
// check judged and answered with CFR or FTT, every page judged for its copy
// quality and answered with MCF (kept in the fax file) or RTN (the caller
// trains again and repeats it), until EOP; after EOM phase B runs again and
// the next document's pages go into the same file. T.30's recovery: a damaged
// or missing command is waited for again (CRP after a damaged post-page
// message), and a command the caller repeats because our response was lost
// gets that response again. With error correction mode a page comes in
// partial pages instead (class1_ecm_receive.cc) and is confirmed once whole.
#include <algorithm>
#include <bit>
#include <string_view>

#include "base/error_pool.h"
#include "base/job_control.h"
#include "document/tiff_oper.h"
#include "modem/byte_tables.h"
#include "modem/final_results.h"
#include "modem/win_com_ce.h"
#include "platform/text.h"
#include "protocol/class1_func.h"
#include "protocol/class1_page_decoder.h"
#include "protocol/class1_session.h"
#include "protocol/page_receiver.h"
#include "protocol/t30_timers.h"

namespace vexo {

using namespace class1;

namespace {

constexpr int kPhaseATries = 16;
constexpr int kCarrierTriesMax = 21;
// A caller that keeps answering FTT with a new DCS gets this many trainings.
constexpr int kTrainRoundsMax = 12;
constexpr std::uint32_t kDcsOkMs = 1000;
// The modem's result line after the page's DLE ETX.
constexpr std::uint32_t kCarrierEndMs = 5000;
constexpr std::uint32_t kFaxWidth = 1728;
constexpr std::string_view kConnect = ResultWord(FinalResult::Connect);
constexpr const char* kDcnText = "Hangup (DCN) frame received.";
constexpr const char* kTrainFailedText =
    "Some unknown error happen in Class 1 TCF Receiving process.";
// AT+FRM for a page is given this many times (after a burst of noise, or V.21
// from a caller that repeats a command) before the call is given up.
constexpr int kPageStartTries = 2 * t30::kCommandTries;
// Rows after an RTC beyond this many mean the RTC was line noise.
constexpr std::uint32_t kRowsAfterRtcMax = 2;
// Receptions while waiting for one command: the caller sends it at most
// three times, and a bad line may damage each time a different frame of it.
constexpr int kReceptionsMax = 3 * t30::kCommandTries;

// Reads of training and page data return as soon as bytes are there, so the
// end of the data and the modem's word after it are acted on at once; a read
// without a byte for totalMs is a timeout.
COMMTIMEOUTS DataReads(std::uint32_t totalMs) {
  return {MAXDWORD, MAXDWORD, totalMs, 0, kWriteConstantMs};
}
constexpr std::string_view kFcError = "+FCERROR";
constexpr std::string_view kNoCarrier = ResultWord(FinalResult::NoCarrier);

std::string_view AsText(const std::vector<std::uint8_t>& bytes, std::size_t from = 0) {
  from = std::min(from, bytes.size());
  return {reinterpret_cast<const char*>(bytes.data()) + from, bytes.size() - from};
}

// The text lines of a batch after its index-th item.
std::vector<std::string> LinesAfter(const Class1Items& items, std::size_t index) {
  std::vector<std::string> lines;
  for (std::size_t i = index + 1; i < items.size(); ++i)
    if (!items[i].isFrame) lines.push_back(items[i].text);
  return lines;
}

// Counts a training check as it arrives and judges it at its DLE ETX.
class TcfJudge {
 public:
  explicit TcfJudge(std::uint32_t bitRate) {
    const std::uint32_t n = bitRate + (bitRate + 1) / 2;  // 1.5 s of bits
    const std::uint32_t d = (n + 5) / 10;
    m_maxBytes = (n + d + 4) / 8;
    m_minBytes = (n - d + 4) / 8;
  }
  // Takes bytes; returns how many were used, ended() once DLE ETX came.
  std::size_t Feed(const std::uint8_t* data, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t b = data[i];
      if (m_dlePending) {
        m_dlePending = false;
        if (b == kEtx) {
          m_ended = true;
          return i + 1;
        }
        Count(b);  // DLE DLE is one 0x10; another escape is taken as its byte
      } else if (b == kDle) {
        m_dlePending = true;
      } else {
        Count(b);
      }
    }
    return count;
  }
  bool ended() const { return m_ended; }
  bool Good() const {
    const std::uint64_t n = m_counted;
    const std::uint64_t longest = std::max(m_longestRun, m_run);
    return n >= m_minBytes && n <= m_maxBytes && m_ones <= (8 * n + 5) / 10 &&
           longest >= (16 * n + 2) / 3;
  }

 private:
  void Count(std::uint8_t b) {
    if (!m_started) {
      if (b != 0) return;
      m_started = true;
    }
    ++m_counted;
    if (b == 0) {
      m_run += 8;
      return;
    }
    m_ones += static_cast<std::uint64_t>(std::popcount(static_cast<unsigned>(b)));
    m_longestRun = std::max<std::uint64_t>(m_longestRun, m_run + kTrailingZeroBits[b]);
    m_run = kLeadingZeroBits[b];
  }

  std::uint32_t m_minBytes = 0;
  std::uint32_t m_maxBytes = 0;
  bool m_started = false;
  bool m_dlePending = false;
  bool m_ended = false;
  std::uint64_t m_counted = 0;
  std::uint64_t m_ones = 0;
  std::uint64_t m_run = 0;
  std::uint64_t m_longestRun = 0;
};

}  // namespace

int FClass1Func::ReceiveFAXClass1(const std::string& fileName, std::string_view localId,
                                  FaxResult* result) {
  constexpr const char* kFunction = "ReceiveFAXClass1";
  m_link = {};  // nothing settled yet: a call that fails early used neither
  if (m_port == nullptr) return kSessionFailed;
  TiffOper tiff;
  tiff.SetErrorPool(false);
  if (tiff.OpenWriteTiff(fileName) != 1) return kSessionFailed;
  const StationIdField csi = BuildStationIdField(localId);
  m_ecmConfirmed.reset();

  m_port->Delay(kCommandPauseMs);
  if (!QueryBRCap(ModulationQuery::kReceive) || !m_port->WriteCommand("ATA", kSkipLineCheck) ||
      !CheckCmdResponse2(m_timeouts.answerConnect, true))
    return FailReceive(tiff, result);
  // Phase B: identifiers and capabilities, DCS, the training check. A caller
  // that ends a document with EOM goes through it again for the next one.
  const auto negotiate = [&](PhaseBStart start) -> bool {
    if (ProcessRevPhaseA(csi, result, kPhaseATries, start) != 1) return false;
    ShowStatusF(kStrRemoteIdReceive, result ? Utf16ToUtf8(result->RemoteId()).c_str() : "");
    ShowStatusF(kStrLinkCoding, LinkCodingText(m_link).c_str());
    return Train(result);
  };
  if (!negotiate(PhaseBStart::kAfterAnswer)) return FailReceive(tiff, result);
  std::uint32_t pages = 0;
  ShowStatusF(kStrReceivingPage, 1u);
  if (m_job) m_job->ShowProgress(1, 0);
  if (Cancelled()) {
    Report(kFunction, kCancelText);
    return FailReceive(tiff, result);
  }
  // After RTN the caller sends DCS and trains again, then repeats the page.
  bool retrain = false;
  for (;;) {
    if (retrain && !negotiate(PhaseBStart::kListen)) return FailReceive(tiff, result);
    std::uint8_t message = 0;
    if (m_link.ecm) {
      // Error correction: the page is stored and confirmed once every frame is here.
      message = ReceiveEcmPage(tiff);
      if (message == 0) return FailReceive(tiff, result);
      ++pages;
      if (result) result->pagesTransferred = pages;
    } else {
      ReceivedPage page;
      const bool pageEnded = ReceivePage(page, result);
      message = pageEnded ? AwaitPostPageMessage(result) : 0;
      if (message == 0) {
        // The call ended during or right after the page: what came of it is kept.
        KeepCutPage(tiff, page.coded, kFaxWidth);
        return FailReceive(tiff, result);
      }
      // A page with too many broken rows is refused: the caller repeats it.
      const PageVerdict verdict = JudgePage(page, m_fine, m_link.coding);
      if (!verdict.accepted)
        ReportError(0, kMsgLogOnly, kModule, "RevClass1FaxPage",
                    "Page refused (RTN): %u of %u rows bad, %u in a row", verdict.badRows,
                    page.rows, verdict.longestBadRun);
      if (verdict.accepted) {
        if (!StorePage(tiff, page)) return FailReceive(tiff, result);
        ++pages;
        if (result) result->pagesTransferred = pages;
      }
      if (!SendFrame(kFrameCommand, kV21Code, true, verdict.accepted ? fcf::MCF : fcf::RTN, {},
                     false))
        return FailReceive(tiff, result);
      retrain = !verdict.accepted;
      if (retrain) continue;
    }
    // After EOP the caller's DCN. After EOM phase B follows once T2 has shown
    // that our MCF came through (the caller repeats EOM otherwise).
    if (message == fcf::EOP) ConfirmRepeats(m_timeouts.postPageMessage, result);
    const bool hungUp = message == fcf::EOM &&
                        ConfirmRepeats(std::min(t30::kT2Ms, m_timeouts.postPageMessage), result) ==
                            Command::kDisconnect;
    if (message == fcf::EOP || hungUp) {
      ShowStatusF(kStrReceiveEnd, pages);
      if (m_job) m_job->HideProgress();
      return CloseReceivedFile(tiff, result) ? kSessionDone : kSessionFailed;
    }
    // EOM: more pages follow after a new phase B (other resolution or size),
    // into the same file; ending the call here would lose them.
    if (message == fcf::EOM && !negotiate(PhaseBStart::kInvite)) return FailReceive(tiff, result);
    if (message == fcf::EOM) m_ecmConfirmed.reset();  // the next document counts anew
    ShowStatusF(kStrReceivingPage, pages + 1);
    if (m_job) m_job->ShowProgress(pages + 1, 0);
    if (Cancelled()) {
      Report(kFunction, kCancelText);
      return FailReceive(tiff, result);
    }
  }
}

bool FClass1Func::Train(FaxResult* result) {
  if (RevTrainSeqLoop(result) != 1) {
    Report("ReceiveFAXClass1", kTrainFailedText);
    return false;
  }
  return m_port->SetComPortTimeouts(DataReads(m_timeouts.pageData), true) == 1;
}

int FClass1Func::ProcessRevPhaseA(const StationIdField& csi, FaxResult* result, int tries,
                                  PhaseBStart start) {
  constexpr const char* kFunction = "ProcessRevPhaseA";
  bool firstPass = true;
  bool invite = start != PhaseBStart::kListen;
  for (; tries > 0; --tries) {
    if (invite) {
      // After ATA the modem already sends flags: the first CSI needs no command.
      const bool csiSent = firstPass && start == PhaseBStart::kAfterAnswer
                               ? SendNextFrame(false, fcf::CSI, csi, false)
                               : SendFrame(kFrameCommand, kV21Code, false, fcf::CSI, csi, false);
      firstPass = false;
      CapabilityBytes dis{};
      BuildDIS(dis);
      if (!csiSent || !SendNextFrame(true, fcf::DIS, CapabilityField(dis), true)) continue;
    }
    std::uint8_t message = 0;
    switch (ListenForCommand(m_timeouts.dcsPass, result, message)) {
      case Command::kDcs:
        return 1;
      case Command::kFailed:
        return 0;
      case Command::kDisconnect:
        Report(kFunction, kDcnText);
        return 0;
      case Command::kDamaged:
        // A damaged or missing TSI or DCS: listen on for the rest of the
        // caller's frames; a DIS follows when T4 brings nothing, before the
        // caller's own T4 (started after its training check) runs out.
        invite = false;
        break;
      case Command::kPostPage:
        // The caller repeats its post-page message: our RTN was lost.
        if (!RepeatLastFrame()) return 0;
        invite = false;
        break;
      case Command::kSilence:
        invite = true;
        break;
    }
  }
  Report(kFunction, kErrorText);
  return 0;
}

FClass1Func::Command FClass1Func::ListenForCommand(std::uint32_t windowMs, FaxResult* result,
                                                   std::uint8_t& message) {
  const Clock::time_point deadline = DeadlineIn(windowMs);
  // Frames without a command (a TSI whose DCS was lost) mean the command was
  // missed: the caller repeats it, as after a damaged one.
  bool heard = false;
  for (;;) {
    const std::uint32_t left = MsUntil(deadline);
    if (left == 0) return heard ? Command::kDamaged : Command::kSilence;
    Class1Items items;
    switch (ListenOnce(items, kFrameItemsMax, left)) {
      case Heard::kPortFailed:
        return Command::kFailed;
      case Heard::kDamaged:
        return Command::kDamaged;
      case Heard::kSilence:
        return heard ? Command::kDamaged : Command::kSilence;
      case Heard::kDisconnect:
        return Command::kDisconnect;
      case Heard::kRepeatRequest:
        // The caller missed our last frame.
        if (!RepeatLastFrame()) return Command::kFailed;
        continue;
      case Heard::kFrame:
        break;
    }
    const DcsTaken dcs = TakeDcs(items, result);
    if (dcs != DcsTaken::kNone) return dcs == DcsTaken::kTaken ? Command::kDcs : Command::kFailed;
    message = PostPageMessage(items);
    if (message != 0) return Command::kPostPage;
    heard = true;
    // Other frames (the TSI ahead of the DCS, NSS): the command follows.
  }
}

// MPS, EOP or EOM; in error correction mode also PPS and EOR, so that a
// caller that repeats one because our answer was lost gets it again.
std::uint8_t FClass1Func::PostPageMessage(const Class1Items& items) {
  std::uint8_t message = 0;
  for (const Class1Item& item : items)
    for (std::uint8_t candidate : {fcf::EOP, fcf::EOM, fcf::MPS, fcf::PPS, fcf::EOR})
      if (item.Is(candidate)) message = candidate;
  return message;
}

bool FClass1Func::RepeatLastFrame() {
  if (!m_lastFrame) return false;
  const LastFrame last = *m_lastFrame;
  return SendFrame(kFrameCommand, kV21Code, last.final, last.fcfValue, last.data,
                   last.reverseBits) == 1;
}

bool FClass1Func::AwaitDcs(std::uint32_t windowMs, FaxResult* result) {
  int silences = 0;
  for (int reception = 0; reception < kReceptionsMax; ++reception) {
    std::uint8_t message = 0;
    switch (ListenForCommand(windowMs, result, message)) {
      case Command::kDcs:
        return true;
      case Command::kDamaged:
        break;  // the caller repeats its DCS after its T4
      case Command::kSilence:
      case Command::kPostPage:
        // Our FTT was not heard: the caller waits or repeats its command.
        if (++silences >= t30::kCommandTries || !RepeatLastFrame()) return false;
        break;
      default:
        return false;
    }
  }
  return false;
}

std::uint8_t FClass1Func::AwaitPostPageMessage(FaxResult* result) {
  constexpr const char* kFunction = "GetFrame";
  int silences = 0;
  for (int reception = 0; reception < kReceptionsMax && silences < t30::kCommandTries;
       ++reception) {
    std::uint8_t message = 0;
    switch (ListenForCommand(m_timeouts.postPageMessage, result, message)) {
      case Command::kPostPage:
        return message;
      case Command::kDamaged:
        // Ask for the message again rather than wait for the caller's T4.
        if (!SendFrame(kFrameCommand, kV21Code, true, fcf::CRP, {}, false)) return 0;
        break;
      case Command::kDisconnect:
        Report(kFunction, "Call answered without successful FAX handshake.");
        return 0;
      case Command::kFailed:
        return 0;
      default:
        ++silences;  // nothing yet: the caller repeats its message after its T4
        break;
    }
  }
  Report(kFunction, kTimeoutText);
  return 0;
}

FClass1Func::Command FClass1Func::ConfirmRepeats(std::uint32_t windowMs, FaxResult* result) {
  for (int attempt = 0; attempt < t30::kCommandTries; ++attempt) {
    std::uint8_t message = 0;
    const Command heard = ListenForCommand(windowMs, result, message);
    // Our MCF was lost when the caller repeats its message: it gets it again.
    if (heard == Command::kPostPage && RepeatLastFrame()) continue;
    if (heard != Command::kDamaged) return heard;
  }
  return Command::kSilence;
}

bool FClass1Func::ReceivePage(ReceivedPage& page, FaxResult* result) {
  constexpr const char* kFunction = "ReceiveFAXClass1";
  for (int attempt = 0; attempt < kPageStartTries; ++attempt) {
    m_port->Delay(kCommandPauseMs);
    const char* code = kClass1Modulations[ToShortTrain(m_modulation)].code;
    if (!m_port->WriteCommandF("AT+FRM=%s", code, 0)) return false;
    std::vector<std::uint8_t> first;
    switch (AwaitCarrier(first)) {
      case Carrier::kConnected:
        return RevClass1FaxPage(page, first) == 0;
      case Carrier::kTimeout:
        Report(kFunction, kTimeoutText);
        return false;
      case Carrier::kLost:
        break;  // a burst of noise: the page's carrier is still to come
      case Carrier::kV21:
        if (!TakeV21Command(result)) return false;
        break;
    }
  }
  Report(kFunction, kErrorText);
  return false;
}

bool FClass1Func::TakeV21Command(FaxResult* result) {
  std::uint8_t message = 0;
  switch (ListenForCommand(m_timeouts.postPageMessage, result, message)) {
    case Command::kPostPage:
      // Right after our CFR the page itself was missed (its carrier never
      // came): RTN has the caller train again and send the page again.
      // Otherwise our answer to the last page was lost and goes again.
      if (m_lastFrame && SameFcf(m_lastFrame->fcfValue, fcf::CFR))
        return SendFrame(kFrameCommand, kV21Code, true, fcf::RTN, {}, false) == 1;
      return RepeatLastFrame();
    case Command::kDcs:
      // Our CFR was lost, or the caller retrains: a new training check.
      return Train(result);
    case Command::kDamaged:
    case Command::kSilence:
      return true;
    case Command::kDisconnect:
      Report("ProcessRevPhaseA", kDcnText);
      return false;
    case Command::kFailed:
      return false;
  }
  return false;
}

bool FClass1Func::StorePage(TiffOper& tiff, const ReceivedPage& page) {
  const std::uint32_t flags = PageFlagsOfCoding(m_link.coding) | (m_fine ? PAGE_FINE : 0);
  return tiff.SetPageTags(kFaxWidth, 1, flags) == 1 &&
         tiff.WriteFaxData(page.coded.data(), page.coded.size()) == 1 &&
         tiff.EndPage(page.rows) == 1;
}

void FClass1Func::KeepCutPage(TiffOper& tiff, std::span<const std::uint8_t> coded,
                              std::uint32_t width) {
  if (coded.empty()) return;
  const std::uint32_t flags = PageFlagsOfCoding(m_link.coding) | (m_fine ? PAGE_FINE : 0);
  if (tiff.SetPageTags(width, 1, flags) == 1 && tiff.WriteFaxData(coded.data(), coded.size()) == 1)
    tiff.EndCutPage();
}

FClass1Func::DcsTaken FClass1Func::TakeDcs(const Class1Items& items, FaxResult* result) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    const Class1Item& item = items[i];
    if (item.Is(fcf::TSI)) {
      if (result) result->SetRemoteId(Utf8ToUtf16(DecodeStationId(item.Fif())));
    } else if (item.Is(fcf::DCS)) {
      if (!AnalysisDCS(item)) return DcsTaken::kRefused;
      if (result) result->resolution = m_fine ? kResultResolutionFine : kResultResolutionNormal;
      CheckCmdResponse1(LinesAfter(items, i), kDcsOkMs, false);
      return DcsTaken::kTaken;
    }
  }
  return DcsTaken::kNone;
}

int FClass1Func::RevTrainSeqLoop(FaxResult* result) {
  constexpr const char* kFunction = "RevTrainSeqLoop";
  int carrierTries = 0;
  for (int round = 0; round < kTrainRoundsMax;) {
    m_port->Delay(kCommandPauseMs);
    const char* code = kClass1Modulations[ToLongTrain(m_modulation)].code;
    if (!m_port->WriteCommandF("AT+FRM=%s", code, 0)) return -1;
    const TrainCheck judged = CheckTrainData();
    if (judged == TrainCheck::kWrongCarrier) {
      // The modem found another carrier: listen for the training check again
      // at once, while it may still be on the line.
      if (++carrierTries >= kCarrierTriesMax) {
        Report(kFunction, "Can not match Carrier in specific modulate speed.");
        return -1;
      }
      continue;
    }
    if (judged == TrainCheck::kPortFailed) return -1;
    if (judged == TrainCheck::kGood)
      return SendFrame(kFrameCommand, kV21Code, true, fcf::CFR, {}, false) ? 1 : -1;
    if (!SendFrame(kFrameCommand, kV21Code, true, fcf::FTT, {}, false)) return -1;
    ++round;
    // The caller answers FTT with TSI and a new DCS.
    if (!AwaitDcs(m_timeouts.dcsAfterFtt, result)) return -1;
    carrierTries = 0;
  }
  return -1;
}

FClass1Func::TrainCheck FClass1Func::CheckTrainData() {
  const ScopedComPortTimeouts guard(*m_port, true);
  if (!guard.saved() || !m_port->SetComPortTimeouts(DataReads(m_timeouts.tcfData), true))
    return TrainCheck::kPortFailed;
  std::vector<std::uint8_t> chunk;
  switch (AwaitCarrier(chunk)) {
    case Carrier::kConnected:
      break;
    case Carrier::kV21:
      return TrainCheck::kWrongCarrier;
    default:
      return TrainCheck::kBad;
  }
  TcfJudge judge(kClass1Modulations[m_modulation].bitRate);
  for (;;) {
    const std::size_t used = judge.Feed(chunk.data(), chunk.size());
    if (judge.ended()) {
      if (!judge.Good()) return TrainCheck::kBad;
      const bool ended = AsText(chunk, used).find(kNoCarrier) != std::string_view::npos ||
                         WaitNoCarrier(m_timeouts.tcfNoCarrier, false) == 1;
      return ended ? TrainCheck::kGood : TrainCheck::kBad;
    }
    if (ReadPageChunk(chunk, Channel::Data) != 1) return TrainCheck::kBad;
  }
}

// One read of at most 4096 bytes: result lines come on the command port, page
// and training data on the data port (the same port but on a two-port modem).
int FClass1Func::ReadPageChunk(std::vector<std::uint8_t>& chunk, Channel channel) {
  chunk.resize(kChunkBytes);
  std::uint32_t got = 0;
  if (!m_port->ReadComDataSYN(channel, chunk.data(), kChunkBytes, &got, 0)) {
    chunk.clear();
    return 0;
  }
  chunk.resize(got);
  if (got == 0) return 0;
  if (m_job) m_job->AddProgress(got);
  return 1;
}

FClass1Func::Carrier FClass1Func::AwaitCarrier(std::vector<std::uint8_t>& first) {
  std::vector<std::uint8_t> seen;
  std::vector<std::uint8_t> chunk;
  for (;;) {
    if (ReadPageChunk(chunk, Channel::Command) != 1) return Carrier::kTimeout;
    seen.insert(seen.end(), chunk.begin(), chunk.end());
    const std::string_view text = AsText(seen);
    const std::size_t at = text.find(kConnect);
    if (at == std::string_view::npos) {
      // A modem that hears no carrier, or V.21 instead, ends the command.
      if (text.find(kFcError) != std::string_view::npos) return Carrier::kV21;
      if (text.find(kNoCarrier) != std::string_view::npos ||
          text.find(ResultWord(FinalResult::Error)) != std::string_view::npos)
        return Carrier::kLost;
      if (seen.size() > kFcError.size())
        seen.erase(seen.begin(), seen.end() - static_cast<std::ptrdiff_t>(kFcError.size()));
      continue;
    }
    std::size_t data = at + kConnect.size();
    // The CONNECT line's end may still be on its way.
    while (data + 2 > seen.size()) {
      if (ReadPageChunk(chunk, Channel::Command) != 1) return Carrier::kTimeout;
      seen.insert(seen.end(), chunk.begin(), chunk.end());
    }
    if (seen[data] == '\r') ++data;
    if (seen[data] == '\n') ++data;
    first.assign(seen.begin() + static_cast<std::ptrdiff_t>(data), seen.end());
    return Carrier::kConnected;
  }
}

int FClass1Func::RevClass1FaxPage(ReceivedPage& page, std::span<const std::uint8_t> first) {
  page = ReceivedPage{};
  Class1PageDecoder receiver(
      [&page](const std::uint8_t* bytes, std::size_t count) {
        page.coded.insert(page.coded.end(), bytes, bytes + count);
        return true;
      },
      m_link.coding);
  std::vector<std::uint8_t> chunk(first.begin(), first.end());
  for (;;) {
    std::size_t used = 0;
    if (receiver.Feed(chunk.data(), chunk.size(), used) == Class1PageDecoder::Status::kPageEnd) {
      page.rows = receiver.Rows();
      page.rtc = receiver.FullRtc();
      page.cut = receiver.EolRun() == 0 || receiver.RowsAfterRtc() > kRowsAfterRtcMax;
      if (!page.rtc)
        ReportError(0, kMsgLogOnly, kModule, "RevClass1FaxPage", "End of page, got EOLs = %d",
                    receiver.EolRun());
      // The modem ends the data with a result line (NO CARRIER).
      if (AsText(chunk, used).find(kNoCarrier) == std::string_view::npos)
        CheckCmdResponse2(kCarrierEndMs, false);
      return 0;
    }
    if (ReadPageChunk(chunk, Channel::Data) != 1) {
      Report("RevFaxCls1Access", kTimeoutText);
      // The data ends here as at a lost carrier, so the decoder hands over
      // what it holds of the page.
      constexpr std::uint8_t kDataEnd[] = {kDle, kEtx};
      std::size_t taken = 0;
      receiver.Feed(kDataEnd, sizeof kDataEnd, taken);
      return -1;
    }
  }
}

int FClass1Func::FailReceive(TiffOper& tiff, FaxResult* result) {
  if (m_job) m_job->HideProgress();
  m_port->Delay(kCommandPauseMs);
  m_port->WriteCommand("ATH0", kQuiet);
  CheckCmdResponse2(kWaitOkMs, false);
  CloseReceivedFile(tiff, result);
  return kSessionFailed;
}

}  // namespace vexo
