#include "protocol/class2x_func.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/base/code_page.h"
#include "app/base/error_pool.h"
#include "app/base/job_control.h"
#include "app/base/log_file.h"
#include "document/page_header.h"
#include "document/tiff_oper.h"
#include "kernel/hangup_codes.h"
#include "kernel/win_com_ce.h"
#include "platform/text.h"
#include "protocol/page_receiver.h"
#include "protocol/page_sender.h"

namespace vexo {
namespace {

constexpr std::array<std::uint32_t, 6> kBitRates{2400, 4800, 7200, 9600, 12000, 14400};
constexpr std::array<std::uint32_t, 5> kPageWidths{1728, 2048, 2432, 1216, 864};
constexpr std::array<std::uint32_t, 8> kScanNormal{0, 5, 10, 10, 20, 20, 40, 40};
constexpr std::array<std::uint32_t, 8> kScanFine{0, 5, 5, 10, 10, 20, 20, 40};

constexpr std::size_t kPageBufferBytes = 8192;
constexpr std::size_t kChunkBytes = 4096;
constexpr std::size_t kDialNumberBytes = 64;
constexpr std::size_t kClass20WriteBytes = 255;
constexpr std::size_t kClass2WriteBytes = 4095;
constexpr std::uint32_t kSetupPauseMs = 20;
constexpr std::uint32_t kWriteMultiplierMs = 10;
constexpr std::uint32_t kReceiveIntervalMs = 250;
constexpr std::uint32_t kReceiveMultiplierMs = 10;
// A line longer than this in the raw receive stream is cut.
constexpr std::size_t kRawLineChars = 256;

constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kDc2 = 0x12;
constexpr std::uint8_t kMorePages = 0x2C;  // ","
constexpr std::uint8_t kLastPage = 0x2E;   // "."

// Post-page answers that refuse the page: RTN and PIN.
constexpr long kPageRetrainNegative = 2;
constexpr long kPageInterruptNegative = 4;

constexpr unsigned kStrDialling = 65062;
constexpr unsigned kStrRemoteAnswered = 65063;
constexpr unsigned kStrRemoteId = 65064;
constexpr unsigned kStrPageSentWaiting = 65065;
constexpr unsigned kStrSendingPage = 65066;
constexpr unsigned kStrSendEnd = 65067;
constexpr unsigned kStrRemoteIdReceive = 65071;
constexpr unsigned kStrReceivingPage = 65072;
constexpr unsigned kStrReceiveEnd = 65073;

constexpr const char* kTimeoutText = "Timeout waiting for modem response.";
constexpr const char* kErrorText = "Modem return ERROR result.";
constexpr const char* kCancelText = "User terminate the fax operation";
constexpr const char* kMemoryText = "Memory allocation failed.";

struct DialWord {
  const char* word;
  const char* message;
};
constexpr std::array kDialFailures{
    DialWord{"NO DIALTONE", "Dial failure or no dial tone detected."},
    DialWord{"NO DIAL TONE", "Dial failure or no dial tone detected."},
    DialWord{"BUSY",
             "An equipment busy tone is detected on the line and the busy tone 'on' time "
             "exceeds 300 ms."},
    DialWord{"NO ANSWER", "No answer tone detected."},
    DialWord{"NO CARRIER", "Auto speed failed because no carrier was detected."},
};

bool Has(const char* line, const char* word) { return FaxCommFunc::FindToken(line, word) >= 0; }
bool StartsWith(const char* line, const char* word) {
  return FaxCommFunc::FindToken(line, word) == 0;
}

// A wait made of a first read and further reads, bounded as a whole.
class PhaseWait {
 public:
  PhaseWait(std::uint32_t firstMs, std::uint32_t furtherMs)
      : m_first(firstMs), m_further(furtherMs), m_start(TickCountMs()) {}
  // Time for the next read; 0 when the phase is over.
  std::uint32_t Next() {
    if (m_firstDone) {
      const std::uint32_t spent = TickCountMs() - m_start;
      const std::uint32_t limit = m_first + m_further;
      if (spent >= limit) return 0;
      return std::min(m_further, limit - spent);
    }
    m_firstDone = true;
    return m_first;
  }

 private:
  std::uint32_t m_first;
  std::uint32_t m_further;
  std::uint32_t m_start;
  bool m_firstDone = false;
};

}  // namespace

// ---- parameter helpers ----

std::string FormatSessionParams(const SessionParams& p) {
  char text[64];
  std::snprintf(text, sizeof text, "%x,%d,%d,%d,%d,%d,%x,%d", p[kVR], p[kBR], p[kWD], p[kLN],
                p[kDF], p[kEC], p[kBF], p[kST]);
  return text;
}

std::uint32_t BitRateOf(std::uint8_t br) {
  return kBitRates[std::min<std::size_t>(br, kBitRates.size() - 1)];
}

std::uint32_t ScanTimeOf(std::uint8_t st, std::uint8_t vr) {
  const auto& column = vr == 0 ? kScanNormal : kScanFine;
  return column[std::min<std::size_t>(st, column.size() - 1)];
}

std::uint32_t PageWidthOf(std::uint8_t wd, const char* module, const char* function) {
  if (wd < kPageWidths.size()) return kPageWidths[wd];
  ReportError(0, kMsgLogOnly, module, function,
              "Page width parameter %d is not known; the page is taken as 1728 pixels wide.", wd);
  return kPageWidths[0];
}

std::string LocalIdField(std::string_view localIdUtf8) {
  std::string id = WideToMultiLossy(localIdUtf8);
  if (id.size() >= kRemoteIdChars) return id.substr(0, kRemoteIdChars);
  return std::string(kRemoteIdChars - id.size(), ' ') + id;
}

std::string RemoteIdOf(const char* line) {
  char value[kQuotedValueChars + 1];
  FaxCommFunc::GetQuotedValue(line, value);
  return MultiToWideLossy(value);
}

int CapabilityLine(std::span<const std::string> kept) {
  for (std::size_t i = kept.size(); i-- > 0;)
    if (kept[i].find_first_of("0123456789(),") != std::string::npos) return static_cast<int>(i);
  return -1;
}

// ---- the object ----

struct Class2xFunc::SendPlan {
  std::uint32_t startFile = 0;
  std::uint32_t startPage = 0;
  std::uint32_t total = 0;
  std::uint32_t firstFlags = 0;
};

// The raw receive stream: the current chunk and the read position in it.
struct Class2xFunc::Raw {
  std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t pos = 0;
};

Class2xFunc::Class2xFunc(const Class2Dialect& dialect) : m_dialect(dialect) {
  if (!dialect.class20) {
    m_timeouts.postPageFirst = 30000;
    m_timeouts.answerFurther = 10000;
  }
}

Class2xFunc::~Class2xFunc() = default;

void Class2xFunc::SetHeaderParties(std::string sender, std::string recipient) {
  m_sender = std::move(sender);
  m_recipient = std::move(recipient);
}

bool Class2xFunc::Cancelled() const { return m_job != nullptr && m_job->IsCancelled(0) == 1; }

void Class2xFunc::ShowStatus(unsigned id) {
  if (m_job) m_job->SetStatusString(id);
}

template <typename... Args>
void Class2xFunc::ShowStatusF(unsigned id, Args... args) {
  if (m_job) m_job->SetStatusFormat(id, args...);
}

void Class2xFunc::Debug(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (m_systemLog)
    m_systemLog->WriteLine(nullptr, 0, text);
  else
    DebugOutput(std::string(text) + "\n");
}

bool Class2xFunc::SetTimeouts(const COMMTIMEOUTS& timeouts) {
  return m_port->SetComPortTimeouts(timeouts, true) == 1;
}

// MatchOKResult reports an ERROR answer or the timeout itself.
bool Class2xFunc::CommandOk(const char* format, const char* argument) {
  if (!m_port->WriteCommandF(format, argument, 0)) return false;
  return MatchOKResult(m_timeouts.command, true) == 1;
}

bool Class2xFunc::QueryCapabilities(const char* function) {
  const char* module = m_dialect.module;
  if (!m_port->WriteCommand(m_dialect.capabilityQuery, 0)) return false;
  std::array<char*, kResultLinesMax> lines{};
  const int count = m_port->ReadResultA(nullptr, kReadBufferBytes, lines, m_timeouts.command, true);
  if (count < 0) return false;
  if (count == 0) {
    ReportError(0, kMsgDefault, module, function, "%s", kTimeoutText);
    return false;
  }
  std::vector<std::string> kept;
  bool okSeen = false;
  for (int i = 0; i < count; ++i) {
    if (StartsWith(lines[i], m_errorText)) {
      ReportError(0, kMsgDefault, module, function, "%s", kErrorText);
      return false;
    }
    if (Has(lines[i], m_okText)) {
      okSeen = true;
      break;
    }
    kept.emplace_back(lines[i]);
  }
  const int at = CapabilityLine(kept);
  if (at < 0) {
    ReportError(0, kMsgDefault, module, function, "%s", m_dialect.unknownCapability);
    return false;
  }
  SessionParams offered{};
  ParseFaxParams(kept[at].c_str(), offered.data(), nullptr);
  m_params[kBR] = offered[kBR];
  m_params[kLN] = offered[kLN];
  m_params[kST] = offered[kST];
  m_params[kVR] = offered[kVR];  // the receive side of Class 2 keeps it
  if (!okSeen && MatchOKResult(m_timeouts.command, true) != 1) return false;
  return true;
}

void Class2xFunc::ApplyReport(const char* line) {
  ParseFaxParams(line, m_params.data(), nullptr);
}

bool Class2xFunc::WritePageBytes(const std::uint8_t* bytes, std::size_t count) {
  if (m_pacing) PaceData(0, static_cast<std::uint32_t>(count));
  std::uint32_t written = 0;
  return m_port->WriteComDataSYN(1, bytes, static_cast<std::uint32_t>(count), &written,
                                 kTransferAll) == 1 &&
         written == count;
}

// ---- sending ----

bool Class2xFunc::CountPages(std::span<const std::string> files, SendPlan& plan) {
  const char* fn = m_dialect.sendFunction;
  for (std::uint32_t f = plan.startFile; f < files.size(); ++f) {
    TiffOper tiff;
    tiff.SetErrorPool(true);
    if (tiff.OpenReadTiffHeader(files[f]) != 1) {
      Debug("Debug: %s: TiffFile.OpenReadTiffHeader failed", fn);
      return false;
    }
    int pages = tiff.GetTotalPageNum();
    if (pages <= 0) {
      ReportError(0, kMsgDefault, m_dialect.module, fn,
                  "Fail to GetTotalPageNum or page number of TIFF image file is zero, "
                  "Filename=%s",
                  files[f].c_str());
      pages = 0;
    }
    if (f == plan.startFile && plan.startPage != 0) {
      if (plan.startPage >= static_cast<std::uint32_t>(pages)) {
        // Nothing left of this file: start with the next one.
        ++plan.startFile;
        plan.startPage = 0;
        pages = 0;
      } else {
        pages -= static_cast<int>(plan.startPage);
      }
    }
    plan.total += static_cast<std::uint32_t>(pages);
    tiff.CloseReadTiff();
  }
  if (plan.total == 0) {
    Debug("Debug: %s: dwTotalPageNumber == 0", fn);
    ReportError(0, kMsgDefault, m_dialect.module, fn, "Page number of TIFF image files is zero");
    return false;
  }
  return true;
}

bool Class2xFunc::FirstPageFlags(std::span<const std::string> files, SendPlan& plan) {
  for (std::uint32_t f = plan.startFile; f < files.size(); ++f) {
    TiffOper tiff;
    tiff.SetErrorPool(true);
    if (tiff.OpenReadTiffHeader(files[f]) != 1) {
      Debug("Debug: %s: TiffFile.OpenReadTiffHeader return FALSE", m_dialect.sendFunction);
      return false;
    }
    if (tiff.GetTotalPageNum() <= 0) continue;
    if (f == plan.startFile && plan.startPage != 0 &&
        tiff.MovePage(static_cast<int>(plan.startPage)) < 0)
      return false;
    if (tiff.ReadTags() != 1) return false;
    plan.firstFlags = tiff.PageInfo().flags;
    tiff.CloseReadTiff();
    return true;
  }
  return false;
}

int Class2xFunc::Send(std::span<const std::string> files, std::string_view number,
                      std::string_view localId, std::uint32_t* resume, FaxResult* result) {
  const char* fn = m_dialect.sendFunction;
  if (m_port == nullptr) return kSessionFailed;
  const ResumePosition from(resume ? *resume : 0);
  SendPlan plan;
  plan.startFile = from.FileIndex();
  plan.startPage = from.PageIndex();
  if (plan.startFile >= files.size()) {
    Debug("Debug: %s: dwStartFileIndex >= dwFileNum", fn);
    return kSessionDone;
  }
  if (!CountPages(files, plan)) return kSessionFailed;
  if (!FirstPageFlags(files, plan)) return kSessionFailed;

  if (result) result->Clear();
  const std::string field = LocalIdField(localId);
  m_port->Delay(kSetupPauseMs);

  m_params = {};
  if (m_dialect.class20) {
    m_port->WriteCommandF("AT+FBO=%s", "0", 0);
    MatchOKResult(m_timeouts.command, false);
  }
  if (!CommandOk(m_dialect.localIdCommand, field.c_str())) return kSessionFailed;
  if (m_dialect.class20 && !CommandOk("AT+FLO=%s", "2")) return kSessionFailed;
  if (!QueryCapabilities(fn)) return kSessionFailed;
  const std::uint32_t flags = plan.firstFlags;
  m_params[kVR] = (flags & PAGE_FINE) ? 1 : 0;
  m_params[kDF] = (flags & PAGE_G4) ? 3 : (flags & PAGE_2D) ? 1 : 0;
  m_params[kWD] = 0;
  m_params[kEC] = 0;
  m_params[kBF] = 0;
  const std::string params = FormatSessionParams(m_params);
  if (!CommandOk(m_dialect.capabilitySet, params.c_str())) return kSessionFailed;
  if (m_dialect.class20 && !CommandOk("AT+FNR=1,1,1,1", nullptr)) return kSessionFailed;
  m_port->Delay(kSetupPauseMs);

  if (Dial(number, result) != 1) return kSessionFailed;

  m_buffer.assign(kPageBufferBytes, 0);
  const COMMTIMEOUTS pageTimeouts{0, 0, 0, kWriteMultiplierMs, m_timeouts.writeConstant};
  if (!SetTimeouts(pageTimeouts)) {
    m_buffer.clear();
    return kSessionFailed;
  }
  m_pacing = m_port->PhoneModem() == 1;
  const int sent = SendPages(files, plan, resume, result);
  m_buffer.clear();
  m_buffer.shrink_to_fit();
  return sent;
}

int Class2xFunc::Dial(std::string_view number, FaxResult* result) {
  const char* fn = m_dialect.sendFunction;
  const char* module = m_dialect.module;
  ShowStatus(kStrDialling);
  std::string digits = WideToMultiLossy(number);
  if (digits.size() > kDialNumberBytes) digits.resize(kDialNumberBytes);
  const char* dial = (!m_dialect.class20 && digits.empty()) ? "ATD" : "ATX4DT%s";
  if (!m_port->WriteCommandF(dial, digits.c_str(), 0)) return 0;

  PhaseWait wait(m_timeouts.dialFirst, m_timeouts.dialFurther);
  std::array<char*, kResultLinesMax> lines{};
  for (;;) {
    const std::uint32_t ms = wait.Next();
    const int count = ms ? m_port->ReadResultA(nullptr, kReadBufferBytes, lines, ms, true) : 0;
    if (count < 0) return 0;
    if (count == 0) {
      ReportError(0, kMsgDefault, module, fn, "%s", kTimeoutText);
      return 0;
    }
    const std::span<char*> batch(lines.data(), static_cast<std::size_t>(count));
    for (const DialWord& failure : kDialFailures)
      for (const char* line : batch)
        if (Has(line, failure.word)) {
          ReportError(0, kMsgDefault, module, fn, "%s", failure.message);
          return 0;
        }
    for (const char* line : batch)
      if (Has(line, m_dialect.connected) && !Has(line, m_dialect.remoteIdSend))
        ShowStatus(kStrRemoteAnswered);
    for (const char* line : batch)
      if (Has(line, m_dialect.hangup)) {
        ReportHangupCodeError(line, m_dialect.hangupClass);
        return 0;
      }
    bool ok = false;
    for (const char* line : batch) {
      if (Has(line, m_dialect.remoteIdSend)) {
        const std::string id = RemoteIdOf(line);
        if (result) result->SetRemoteId(Utf8ToUtf16(id));
        ShowStatusF(kStrRemoteId, id.c_str());
      } else if (StartsWith(line, m_okText)) {
        ok = true;
      }
    }
    if (ok) return 1;
  }
}

int Class2xFunc::SendPages(std::span<const std::string> files, SendPlan& plan,
                           std::uint32_t* resume, FaxResult* result) {
  const char* fn = m_dialect.sendFunction;
  const char* module = m_dialect.module;
  std::uint32_t sent = 0;
  std::uint32_t refusedPages = 0;
  TiffOper tiff;
  tiff.SetErrorPool(true);
  PageHeader& header = PageHeaderOf(tiff);
  header.SetSender(m_sender);
  header.SetRecipient(m_recipient);
  header.SetSystemLog(m_systemLog);

  std::uint32_t pageInFile = plan.startPage;
  for (std::uint32_t f = plan.startFile; f < files.size(); ++f, pageInFile = 0) {
    if (Cancelled()) {
      ReportError(0, kMsgDefault, module, fn, "%s", kCancelText);
      return kSessionFailed;
    }
    if (tiff.OpenReadTiffHeader(files[f]) != 1) {
      AbortSend();
      return kSessionFailed;
    }
    if (tiff.GetTotalPageNum() <= 0) {
      tiff.CloseReadTiff();
      continue;
    }
    if (pageInFile != 0 && tiff.MovePage(static_cast<int>(pageInFile)) < 0) {
      AbortSend();
      return kSessionFailed;
    }
    for (;;) {
      ShowStatusF(kStrSendingPage, sent + 1, plan.total);
      if (m_job) m_job->ShowProgress(sent + 1, plan.total);
      if (Cancelled()) {
        ReportError(0, kMsgDefault, module, fn, "%s", kCancelText);
        return kSessionFailed;
      }
      if (tiff.ReadTags() != 1) {
        AbortSend();
        return kSessionFailed;
      }
      if (!m_port->WriteCommand("AT+FDT", 0) || !WaitPageConnect()) return kSessionFailed;
      const int page = SendPageData(tiff, sent + 1, plan.total);
      if (page != PageSender::kPageSent) {
        AbortSend();
        return kSessionFailed;
      }
      const bool last = sent + 1 == plan.total;
      bool moreInFile = false;
      if (m_dialect.class20) {
        const std::uint8_t end[2] = {kDle, last ? kLastPage : kMorePages};
        if (!WritePageBytes(end, sizeof end)) return kSessionFailed;
      } else {
        const std::uint8_t end[2] = {kDle, kEtx};
        if (!WritePageBytes(end, sizeof end)) return kSessionFailed;
      }
      ++sent;
      if (result) result->pagesTransferred = sent;
      if (!last) moreInFile = tiff.NextPage() == 1;
      if (resume) {
        if (last)
          *resume = 0;
        else if (moreInFile)
          *resume = ResumePosition::At(f, pageInFile + 1).Raw();
        else
          *resume = ResumePosition::At(f + 1, 0).Raw();
      }
      ShowStatus(kStrPageSentWaiting);
      if (!m_dialect.class20) {
        MatchOKResult(m_timeouts.pageEndOk, false);
        if (!m_port->WriteCommand(last ? "AT+FET=2" : "AT+FET=0", 0)) return kSessionFailed;
      }
      bool refused = false;
      const int answer = PostPage(last, sent, refused);
      if (refused) ++refusedPages;
      if (answer != 1) return kSessionFailed;
      if (last) {
        tiff.CloseReadTiff();
        ShowStatusF(kStrSendEnd, sent);
        return refusedPages ? kSessionPartly : kSessionDone;
      }
      ++pageInFile;
      if (!moreInFile) break;
    }
    tiff.CloseReadTiff();
  }
  // The count said more pages than the files held.
  ShowStatusF(kStrSendEnd, sent);
  return refusedPages ? kSessionPartly : kSessionDone;
}

bool Class2xFunc::WaitPageConnect() {
  const char* fn = m_dialect.sendFunction;
  std::array<char*, kResultLinesMax> lines{};
  bool connected = false;
  bool xon = m_dialect.class20;  // only Class 2 waits for the modem's XON
  const std::uint32_t start = TickCountMs();
  for (;;) {
    const std::uint32_t spent = TickCountMs() - start;
    const std::uint32_t left =
        spent < m_timeouts.pageConnect ? m_timeouts.pageConnect - spent : 0;
    int xonSeen = 0;
    int count = 0;
    if (left != 0)
      count = m_dialect.class20
                  ? m_port->ReadResultA(nullptr, kReadBufferBytes, lines, left, true)
                  : m_port->ReadResultWithXONA(nullptr, kReadBufferBytes, lines, left, &xonSeen);
    if (count < 0) return false;
    if (count == 0 && xonSeen == 0) {
      ReportError(0, kMsgDefault, m_dialect.module, fn, "%s", kTimeoutText);
      return false;
    }
    if (xonSeen) xon = true;
    for (int i = 0; i < count; ++i) {
      if (Has(lines[i], m_dialect.parameters)) {
        ApplyReport(lines[i]);
      } else if (Has(lines[i], m_dialect.hangup)) {
        ReportHangupCodeError(lines[i], m_dialect.hangupClass);
        return false;
      } else if (Has(lines[i], "CONNECT")) {
        connected = true;
      }
    }
    if (connected && xon) return true;
  }
}

int Class2xFunc::SendPageData(TiffOper& tiff, std::uint32_t pageNo, std::uint32_t total) {
  const std::uint8_t vr = m_params[kVR];
  GenHeader(tiff, pageNo, total, vr == 0);
  m_progressTotal =
      static_cast<std::uint32_t>(tiff.Tags().stripByteCount + tiff.PageHeaderSize());
  if (m_progressTotal == 0) m_progressTotal = 1;
  const std::uint32_t bitRate = BitRateOf(m_params[kBR]);
  m_resolution = vr;
  PageSendOptions options;
  options.lsbFirstInput = (tiff.PageInfo().flags & PAGE_LSB_FIRST) != 0;
  if (m_dialect.class20) {
    options.skipToFirstEol = true;
    options.minLineBytes =
        m_pacing ? MinimumLineBytes(bitRate, ScanTimeOf(m_params[kST], vr)) : 0;
    options.writeThreshold = kClass20WriteBytes;
  } else {
    options.skipToFirstEol = false;
    options.minLineBytes = 0;
    options.writeThreshold = kClass2WriteBytes;
  }
  if (m_pacing) StartPacing(bitRate / 8);
  PageSender sender(options, [this](const std::uint8_t* bytes, std::size_t count) {
    return WritePageBytes(bytes, count);
  });
  std::uint8_t* input = m_buffer.data();
  for (;;) {
    const int got = tiff.ReadFAXData(input, kChunkBytes, m_resolution == 0);
    if (got < 0) return -1;
    if (got == 0) break;
    if (!sender.Feed(input, static_cast<std::size_t>(got))) return PageSender::kWriteFailed;
    if (m_job)
      m_job->SetProgressPercent(
          static_cast<std::uint32_t>(std::min<std::uint64_t>(sender.Consumed() * 100 /
                                                                  m_progressTotal, 100)));
  }
  const int done = sender.Finish();
  if (done == PageSender::kPageSent && m_job) m_job->SetProgressPercent(100);
  return done;
}

int Class2xFunc::PostPage(bool last, std::uint32_t pageNo, bool& refused) {
  const char* fn = m_dialect.sendFunction;
  const char* module = m_dialect.module;
  PhaseWait wait(m_timeouts.postPageFirst, m_timeouts.postPageFurther);
  std::array<char*, kResultLinesMax> lines{};
  for (;;) {
    if (m_dialect.class20 && Cancelled()) {
      ReportError(0, kMsgDefault, module, fn, "%s", kCancelText);
      return 0;
    }
    const std::uint32_t ms = wait.Next();
    const int count = ms ? m_port->ReadResultA(nullptr, kReadBufferBytes, lines, ms, true) : 0;
    if (count <= 0) {
      if (count == 0) ReportError(0, kMsgDefault, module, fn, "%s", kTimeoutText);
      return last ? 1 : 0;
    }
    for (int i = 0; i < count; ++i) {
      const char* line = lines[i];
      if (Has(line, m_dialect.pageStatus)) {
        const long status = ParseNumberAfterColon(line, false);
        if ((status == kPageRetrainNegative || status == kPageInterruptNegative) && !refused) {
          refused = true;
          ReportError(0, kMsgDefault, module, fn,
                      "Page %u was refused by the remote fax machine.", pageNo);
        }
      } else if (Has(line, m_dialect.hangup)) {
        if (!last) {
          ReportHangupCodeError(line, m_dialect.hangupClass);
          return 0;
        }
        if (ParseNumberAfterColon(line, m_dialect.hangupClass == kHangupClass20) > 0)
          ReportHangupCodeError(line, m_dialect.hangupClass);
        return 1;
      } else if (StartsWith(line, m_okText)) {
        return 1;
      }
    }
  }
}

void Class2xFunc::AbortSend() {
  const std::uint8_t cancel[2] = {kDle, kLastPage};
  std::uint32_t written = 0;
  m_port->WriteComDataSYN(1, cancel, sizeof cancel, &written, kTransferAll | kQuiet);
  if (MatchOKResult(m_timeouts.abortOk, false) == 1) {
    m_port->WriteCommand(m_dialect.abortCommand, kQuiet);
    MatchOKResult(m_timeouts.command, false);
  }
}

// ---- receiving ----

int Class2xFunc::Receive(const std::string& fileName, std::string_view localId,
                         FaxResult* result) {
  const char* fn = m_dialect.receiveFunction;
  if (m_port == nullptr) return kSessionFailed;
  TiffOper tiff;
  tiff.SetErrorPool(false);
  if (tiff.OpenWriteTiff(fileName) != 1) return kSessionFailed;
  if (result) result->Clear();
  const std::string field = LocalIdField(localId);
  m_port->Delay(kSetupPauseMs);

  auto fail = [&]() {
    m_buffer.clear();
    m_buffer.shrink_to_fit();
    if (tiff.CloseWriteTiff() != 1 && result) result->pagesTransferred = 0;
    return kSessionFailed;
  };

  m_params = {};
  if (!CommandOk(m_dialect.localIdCommand, field.c_str())) return fail();
  if (m_dialect.class20) {
    m_port->WriteCommandF("AT+FBO=%s", "0", 0);
    MatchOKResult(m_timeouts.command, false);
  }
  if (!QueryCapabilities(fn)) return fail();
  if (m_dialect.class20) m_params[kVR] = 1;
  m_params[kWD] = 0;
  m_params[kDF] = 0;
  m_params[kEC] = 0;
  m_params[kBF] = 0;
  const std::string params = FormatSessionParams(m_params);
  if (!CommandOk(m_dialect.capabilitySet, params.c_str())) return fail();
  if (m_dialect.class20) {
    if (!CommandOk("AT+FIS=%s", params.c_str())) return fail();
    if (!CommandOk("AT+FNR=1,1,1,1", nullptr)) return fail();
  }
  if (!CommandOk("AT+FCR=1", nullptr)) return fail();
  if (!m_port->WriteCommand("ATA", 0)) return fail();
  if (AnswerPhase(result) != 1) return fail();

  m_buffer.assign(kPageBufferBytes, 0);
  const COMMTIMEOUTS receiveTimeouts{kReceiveIntervalMs, kReceiveMultiplierMs,
                                     m_timeouts.receiveRead, 0, m_timeouts.writeConstant};
  if (!SetTimeouts(receiveTimeouts)) return fail();
  const int pages = ReceivePages(tiff, result);
  m_buffer.clear();
  m_buffer.shrink_to_fit();
  if (pages != 1) {
    if (tiff.CloseWriteTiff() != 1 && result) result->pagesTransferred = 0;
    return kSessionFailed;
  }
  return tiff.CloseWriteTiff() == 1 ? kSessionDone : kSessionFailed;
}

int Class2xFunc::AnswerPhase(FaxResult* result) {
  const char* fn = m_dialect.receiveFunction;
  PhaseWait wait(m_timeouts.answerFirst, m_timeouts.answerFurther);
  std::array<char*, kResultLinesMax> lines{};
  for (;;) {
    const std::uint32_t ms = wait.Next();
    const int count = ms ? m_port->ReadResultA(nullptr, kReadBufferBytes, lines, ms, true) : 0;
    if (count < 0) return 0;
    if (count == 0) {
      ReportError(0, kMsgDefault, m_dialect.module, fn, "%s", kTimeoutText);
      return 0;
    }
    bool ok = false;
    for (int i = 0; i < count; ++i) {
      const char* line = lines[i];
      if (Has(line, m_dialect.parameters)) {
        ApplyReport(line);
      } else if (Has(line, m_dialect.remoteIdReceive)) {
        const std::string id = RemoteIdOf(line);
        if (result) result->SetRemoteId(Utf8ToUtf16(id));
        ShowStatusF(kStrRemoteIdReceive, id.c_str());
      } else if (Has(line, m_dialect.hangup)) {
        ReportHangupCodeError(line, m_dialect.hangupClass);
        return 0;
      } else if (StartsWith(line, m_okText)) {
        ok = true;
      }
    }
    if (ok) return 1;
  }
}

int Class2xFunc::ReadChunk(Raw& raw, int useDataPort) {
  std::uint8_t* into = m_buffer.data() + kChunkBytes;
  std::uint32_t got = 0;
  if (m_port->ReadComDataSYN(useDataPort, into, kChunkBytes, &got, 0) != 1) return -1;
  if (got == 0) {
    ReportError(0, kMsgDefault, m_dialect.module, m_dialect.accessFunction, "%s", kTimeoutText);
    return 0;
  }
  if (m_job) m_job->AddProgress(got);
  raw.data = into;
  raw.size = got;
  raw.pos = 0;
  return 1;
}

// The next line of the raw stream, read further when the chunk is used up;
// 1 with a line, 0 on timeout, -1 on a read failure.
int Class2xFunc::NextRawLine(Raw& raw, std::string& line, bool& timedOut) {
  line.clear();
  timedOut = false;
  for (;;) {
    while (raw.pos < raw.size) {
      const char c = static_cast<char>(raw.data[raw.pos++]);
      if (c == '\r' || c == '\n') {
        if (!line.empty()) return 1;
        continue;
      }
      if (line.size() < kRawLineChars) line.push_back(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    // Result lines come on the command handle.
    const int got = ReadChunk(raw, 0);
    if (got <= 0) {
      timedOut = got == 0;
      return got;
    }
  }
}

int Class2xFunc::ReceivePages(TiffOper& tiff, FaxResult* result) {
  const char* fn = m_dialect.receiveFunction;
  const char* module = m_dialect.module;
  std::uint32_t received = 0;
  ShowStatusF(kStrReceivingPage, 1u);
  if (m_job) m_job->ShowProgress(1, 0);
  if (Cancelled()) {
    ReportError(0, kMsgDefault, module, fn, "%s", kCancelText);
    return 0;
  }
  Raw raw;
  for (;;) {
    if (!m_port->WriteCommand("AT+FDR", 0)) return 0;
    raw = Raw{};
    std::string line;
    bool timedOut = false;
    for (;;) {
      const int got = NextRawLine(raw, line, timedOut);
      if (got <= 0) return 0;
      if (Has(line.c_str(), m_dialect.parameters)) {
        ApplyReport(line.c_str());
      } else if (Has(line.c_str(), m_dialect.hangup)) {
        ReportHangupCodeError(line.c_str(), m_dialect.hangupClass);
        return 0;
      } else if (Has(line.c_str(), "CONNECT")) {
        break;
      }
    }
    const std::uint8_t start = kDc2;
    std::uint32_t written = 0;
    if (m_port->WriteComDataSYN(1, &start, 1, &written, kTransferAll) != 1) return 0;
    // A line end right after CONNECT belongs to the line, not to the page.
    while (raw.pos < raw.size && (raw.data[raw.pos] == '\n' || raw.data[raw.pos] == '\r'))
      ++raw.pos;

    const bool fine = m_params[kVR] != 0;
    const std::uint32_t width = PageWidthOf(m_params[kWD], module, fn);
    if (tiff.SetPageTags(width, 1, fine ? PAGE_FINE : 0) != 1) {
      AbortReceive();
      return 0;
    }
    if (result) result->resolution = fine ? kResultResolutionFine : kResultResolutionNormal;
    const int page = ReceivePage(tiff, raw);
    if (page == -2 || page == -3) {
      AbortReceive();
      return 0;
    }
    if (page != 0) return 0;
    ++received;
    if (result) result->pagesTransferred = received;

    // The page's closing reports, up to OK.
    bool lastPage = false;
    for (;;) {
      const int got = NextRawLine(raw, line, timedOut);
      if (got <= 0) return 0;
      const char* text = line.c_str();
      if (Has(text, "+FET:")) {
        lastPage = ParseNumberAfterColon(text, false) == 2;
      } else if (Has(text, m_dialect.hangup)) {
        ReportHangupCodeError(text, m_dialect.hangupClass);
        return 0;
      } else if (Has(text, m_dialect.parameters)) {
        ApplyReport(text);
      } else if (StartsWith(text, m_okText)) {
        break;
      }
    }
    if (lastPage) break;
    ShowStatusF(kStrReceivingPage, received + 1);
    if (m_job) m_job->ShowProgress(received + 1, 0);
    if (Cancelled()) {
      ReportError(0, kMsgDefault, module, fn, "%s", kCancelText);
      return 0;
    }
  }
  FinalAnswer();
  ShowStatusF(kStrReceiveEnd, received);
  return 1;
}

int Class2xFunc::ReceivePage(TiffOper& tiff, Raw& raw) {
  PageReceiver receiver(m_dialect.class20, [&tiff](const std::uint8_t* bytes, std::size_t count) {
    return tiff.WriteFaxData(bytes, count) == 1;
  });
  std::uint64_t taken = 0;
  for (;;) {
    if (raw.pos < raw.size) {
      std::size_t used = 0;
      const auto status = receiver.Feed(raw.data + raw.pos, raw.size - raw.pos, used);
      raw.pos += used;
      taken += used;
      if (status == PageReceiver::Status::WriteFailed) return -2;
      if (status == PageReceiver::Status::PageEnd) break;
    }
    if (Cancelled()) {
      ReportError(0, kMsgDefault, m_dialect.module, m_dialect.pageFunction, "%s", kCancelText);
      return -3;
    }
    if (taken > m_pageDataLimit) {
      ReportError(0, kMsgDefault, m_dialect.module, m_dialect.pageFunction,
                  "The page data did not end after %llu bytes; the reception is stopped.",
                  static_cast<unsigned long long>(taken));
      return -2;
    }
    if (ReadChunk(raw, 1) != 1) return -1;
  }
  if (!receiver.FullRtc())
    ReportError(0, kMsgLogOnly, m_dialect.module, m_dialect.pageFunction,
                "End of page, got EOLs = %d", receiver.EolRun());
  return tiff.EndPage(receiver.Rows()) == 1 ? 0 : -2;
}

int Class2xFunc::FinalAnswer() {
  if (!m_port->WriteCommand("AT+FDR", 0)) return 1;
  PhaseWait wait(m_timeouts.finalFirst, m_timeouts.finalFurther);
  std::array<char*, kResultLinesMax> lines{};
  for (;;) {
    const std::uint32_t ms = wait.Next();
    const int count = ms ? m_port->ReadResultA(nullptr, kReadBufferBytes, lines, ms, false) : 0;
    if (count <= 0) return 1;
    for (int i = 0; i < count; ++i) {
      if (StartsWith(lines[i], m_okText)) return 1;
      if (Has(lines[i], m_dialect.hangup)) {
        if (ParseNumberAfterColon(lines[i], m_dialect.hangupClass == kHangupClass20) > 0) {
          ReportHangupCodeError(lines[i], m_dialect.hangupClass);
          return 1;
        }
      }
    }
  }
}

void Class2xFunc::AbortReceive() {
  const COMMTIMEOUTS drain{kReceiveIntervalMs, 0, m_timeouts.drainRead, 0,
                           m_timeouts.writeConstant};
  m_port->SetComPortTimeouts(drain, false);
  std::array<std::uint8_t, kChunkBytes> sink{};
  const std::uint32_t start = TickCountMs();
  for (;;) {
    std::uint32_t got = 0;
    if (m_port->ReadComDataSYN(1, sink.data(), sink.size(), &got, kQuiet) != 1 || got == 0) break;
    if (TickCountMs() - start >= m_timeouts.drainTotal) break;
  }
  m_port->WriteCommand(m_dialect.abortCommand, kQuiet);
  MatchOKResult(m_timeouts.command, false);
}

}  // namespace vexo
