#include <algorithm>

#include "base/code_page.h"
#include "base/error_pool.h"
#include "base/job_control.h"
#include "document/page_header.h"
#include "document/tiff_oper.h"
#include "modem/final_results.h"
#include "modem/hangup_codes.h"
#include "modem/win_com_ce.h"
#include "platform/text.h"
#include "protocol/class2x_func.h"
#include "protocol/class2x_internal.h"
#include "protocol/page_feed.h"
#include "protocol/page_sender.h"

namespace vexo {

using namespace class2x;

int Class2xFunc::Send(std::span<const std::string> files, std::string_view number,
                      std::string_view localId, std::uint32_t* resume, FaxResult* result) {
  const char* fn = m_dialect.sendFunction;
  if (m_port == nullptr) return kSessionFailed;
  PageFeed feed(files, resume, {m_dialect.module, fn});
  if (feed.Finished()) {
    Debug("Debug: %s: dwStartFileIndex >= dwFileNum", fn);
    return kSessionDone;
  }
  switch (feed.CountPages(PageFeed::FirstPage::kExactly)) {
    case PageFeed::Count::kReady:
      break;
    case PageFeed::Count::kFileUnreadable:
      Debug("Debug: %s: TiffFile.OpenReadTiffHeader failed", fn);
      return kSessionFailed;
    case PageFeed::Count::kNoPages:
      Debug("Debug: %s: dwTotalPageNumber == 0", fn);
      return kSessionFailed;
    case PageFeed::Count::kFirstFileUnreadable:
      Debug("Debug: %s: TiffFile.OpenReadTiffHeader return FALSE", fn);
      return kSessionFailed;
    case PageFeed::Count::kFirstPageUnreadable:
      return kSessionFailed;
  }

  if (result) result->Clear();
  const std::string field = LocalIdField(localId);
  m_port->Delay(kSetupPauseMs);

  m_params = {};
  m_link = {};
  m_linkShown.clear();
  if (m_dialect.class20) {
    m_port->WriteCommandF("AT+FBO=%s", "0", 0);
    MatchOKResult(m_timeouts.command, false);
  }
  if (!CommandOk(m_dialect.localIdCommand, field.c_str())) return kSessionFailed;
  // The modem now paces us with CTS: the port follows it.
  if (m_dialect.class20 && (!CommandOk("AT+FLO=%s", "2") || !m_port->UseHardwareFlowControl()))
    return kSessionFailed;
  if (!QueryCapabilities(fn)) return kSessionFailed;
  const std::uint32_t flags = feed.FirstPageFlags();
  m_params[kVR] = (flags & PAGE_FINE) ? 1 : 0;
  m_params[kLN] = PageLengthParam(m_offeredLn, feed.AnyLongPage());
  m_params[kWD] = 0;
  m_params[kBF] = 0;
  // Pages go in the coding the modem and the limits allow, whatever they are
  // stored in: SendPageData codes them for the line.
  ChooseCoding();
  const std::string params = FormatSessionParams(m_params);
  if (!CommandOk(m_dialect.capabilitySet, params.c_str())) return kSessionFailed;
  if (m_dialect.class20 && !CommandOk("AT+FNR=1,1,1,1", nullptr)) return kSessionFailed;
  m_port->Delay(kSetupPauseMs);

  if (!Dial(number, result)) return kSessionFailed;

  m_buffer.assign(kPageBufferBytes, 0);
  const COMMTIMEOUTS pageTimeouts{0, 0, 0, kWriteMultiplierMs, m_timeouts.writeConstant};
  if (!SetTimeouts(pageTimeouts)) {
    m_buffer.clear();
    return kSessionFailed;
  }
  m_pacing = m_port->PhoneModem() == 1;
  const int sent = feed.Send(*this, {m_sender, m_recipient, m_systemLog}, m_job, result);
  m_buffer.clear();
  m_buffer.shrink_to_fit();
  return sent;
}

bool Class2xFunc::Dial(std::string_view number, FaxResult* result) {
  const char* fn = m_dialect.sendFunction;
  const char* module = m_dialect.module;
  ShowStatus(kStrDialling);
  std::string digits = WideToMultiLossy(number);
  if (digits.size() > kDialNumberBytes) digits.resize(kDialNumberBytes);
  const char* dial = (!m_dialect.class20 && digits.empty()) ? "ATD" : "ATX4DT%s";
  if (!m_port->WriteCommandF(dial, digits.c_str(), 0)) return false;

  PhaseWait wait(m_timeouts.dialFirst, m_timeouts.dialFurther);
  std::array<char*, kResultLinesMax> lines{};
  for (;;) {
    const std::uint32_t ms = wait.Next();
    const int count = ms ? m_port->ReadResultA(nullptr, kReadBufferBytes, lines, ms, true) : 0;
    if (count < 0) return false;
    if (count == 0) {
      ReportError(0, kMsgDefault, module, fn, "%s", kTimeoutText);
      return false;
    }
    const std::span<char*> batch(lines.data(), static_cast<std::size_t>(count));
    for (const DialWord& failure : kDialFailures)
      for (const char* line : batch)
        if (Has(line, failure.word)) {
          ReportError(0, kMsgDefault, module, fn, "%s", failure.message);
          return false;
        }
    for (const char* line : batch)
      if (Has(line, m_dialect.connected) && !Has(line, m_dialect.remoteIdSend))
        ShowStatus(kStrRemoteAnswered);
    for (const char* line : batch)
      if (Has(line, m_dialect.hangup)) {
        ReportHangupCodeError(line, m_dialect.hangupClass);
        return false;
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
    if (ok) return true;
  }
}

// AT+FDT, CONNECT (and for Class 2 the XON), the page, and the page end:
// Class 2.0 tells with it whether more pages follow.
bool Class2xFunc::TransmitPage(TiffOper& tiff, std::uint32_t pageNo, std::uint32_t total) {
  if (!m_port->WriteCommand("AT+FDT", 0) || !WaitPageConnect()) return false;
  if (SendPageData(tiff, pageNo, total) != PageSendResult::kSent) {
    AbortSend();
    return false;
  }
  const bool last = pageNo == total;
  const std::uint8_t end[2] = {kDle, !m_dialect.class20 ? kEtx : last ? kLastPage : kMorePages};
  return WritePageBytes(end, sizeof end);
}

// Class 2 waits for the page end's OK and tells with AT+FET whether more pages follow.
PageAnswer Class2xFunc::AnswerPage(bool last, std::uint32_t pageNo, std::uint32_t /*total*/) {
  ShowStatus(kStrPageSentWaiting);
  if (!m_dialect.class20) {
    MatchOKResult(m_timeouts.pageEndOk, false);
    if (!m_port->WriteCommand(last ? "AT+FET=2" : "AT+FET=0", 0)) return {};
  }
  return PostPage(last, pageNo);
}

bool Class2xFunc::WaitPageConnect() {
  const char* fn = m_dialect.sendFunction;
  std::array<char*, kResultLinesMax> lines{};
  bool connected = false;
  bool xon = m_dialect.class20;  // only Class 2 waits for the modem's XON
  const std::uint32_t start = TickCountMs();
  for (;;) {
    const std::uint32_t spent = TickCountMs() - start;
    const std::uint32_t left = spent < m_timeouts.pageConnect ? m_timeouts.pageConnect - spent : 0;
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
      } else if (Has(lines[i], ResultWord(FinalResult::Connect))) {
        connected = true;
      }
    }
    if (connected && xon) return true;
  }
}

PageSendResult Class2xFunc::SendPageData(TiffOper& tiff, std::uint32_t pageNo,
                                         std::uint32_t total) {
  const std::uint8_t vr = m_params[kVR];
  GenHeader(tiff, pageNo, total, vr == 0);
  const std::uint32_t bitRate = BitRateOf(m_params[kBR]);
  m_resolution = vr;
  if (m_pacing) StartPacing(bitRate / 8);
  const FaxCoding coding = CodingOfDf(m_params[kDF]);
  const PageSendResult done =
      coding == FaxCoding::kMh && CodingOfPageFlags(tiff.PageInfo().flags) == FaxCoding::kMh
          ? SendStoredPage(tiff, bitRate)
          : SendCodedPage(tiff, coding, bitRate);
  if (done == PageSendResult::kSent && m_job) m_job->SetProgressPercent(100);
  return done;
}

// An MH page on an MH line: the stored bytes as they are, fine rows dropped
// for a normal-resolution call.
PageSendResult Class2xFunc::SendStoredPage(TiffOper& tiff, std::uint32_t bitRate) {
  const std::uint8_t vr = m_params[kVR];
  m_progressTotal = static_cast<std::uint32_t>(tiff.Tags().stripByteCount + tiff.PageHeaderSize());
  if (m_progressTotal == 0) m_progressTotal = 1;
  PageSendOptions options;
  options.lsbFirstInput = (tiff.PageInfo().flags & PAGE_LSB_FIRST) != 0;
  if (m_dialect.class20) {
    options.skipToFirstEol = true;
    options.minLineBytes = m_pacing ? MinimumLineBytes(bitRate, ScanTimeOf(m_params[kST], vr)) : 0;
    options.writeThreshold = kClass20WriteBytes;
  } else {
    options.skipToFirstEol = false;
    options.minLineBytes = 0;
    options.writeThreshold = kClass2WriteBytes;
  }
  PageSender sender(options, [this](const std::uint8_t* bytes, std::size_t count) {
    return WritePageBytes(bytes, count);
  });
  std::uint8_t* input = m_buffer.data();
  for (;;) {
    const int got = tiff.ReadFAXData(input, kChunkBytes, m_resolution == 0);
    if (got < 0) return PageSendResult::kReadFailed;
    if (got == 0) break;
    if (Stream(sender, input, static_cast<std::size_t>(got)) != PageSendResult::kSent)
      return PageSendResult::kWriteFailed;
  }
  return sender.Finish();
}

// Any other page, or any page on an MR or MMR line: header and page coded
// again into one stream in the line's coding, ended by its RTC or EOFB.
PageSendResult Class2xFunc::SendCodedPage(TiffOper& tiff, FaxCoding coding, std::uint32_t bitRate) {
  const std::uint8_t vr = m_params[kVR];
  const bool halve = vr == 0 && (tiff.PageInfo().flags & PAGE_FINE) != 0;
  const std::optional<std::vector<std::uint8_t>> page =
      CodePageForLine(tiff, coding, halve, vr != 0, true);
  if (!page) return PageSendResult::kReadFailed;
  m_progressTotal = static_cast<std::uint32_t>(std::max<std::size_t>(page->size(), 1));
  PageSendOptions options;
  // T.6 has no EOLs; with error correction the far end needs no minimum line.
  options.skipToFirstEol = m_dialect.class20 && coding != FaxCoding::kMmr;
  const bool minimumLine = m_dialect.class20 && m_pacing && !m_link.ecm;
  options.minLineBytes = minimumLine ? MinimumLineBytes(bitRate, ScanTimeOf(m_params[kST], vr)) : 0;
  options.writeThreshold = m_dialect.class20 ? kClass20WriteBytes : kClass2WriteBytes;
  PageSender sender(options, [this](const std::uint8_t* bytes, std::size_t count) {
    return WritePageBytes(bytes, count);
  });
  for (std::size_t at = 0; at < page->size(); at += kChunkBytes)
    if (Stream(sender, page->data() + at, std::min(kChunkBytes, page->size() - at)) !=
        PageSendResult::kSent)
      return PageSendResult::kWriteFailed;
  return sender.Finish();
}

PageSendResult Class2xFunc::Stream(PageSender& sender, const std::uint8_t* data, std::size_t size) {
  if (!sender.Feed(data, size)) return PageSendResult::kWriteFailed;
  if (m_job)
    m_job->SetProgressPercent(static_cast<std::uint32_t>(
        std::min<std::uint64_t>(sender.Consumed() * 100 / m_progressTotal, 100)));
  return PageSendResult::kSent;
}

PageAnswer Class2xFunc::PostPage(bool last, std::uint32_t pageNo) {
  const char* fn = m_dialect.sendFunction;
  const char* module = m_dialect.module;
  PageAnswer answer;
  // After the last page the call is over whatever follows, once the page is
  // answered.
  const auto ended = [&]() {
    answer.goOn = last && answer.confirmed;
    return answer;
  };
  PhaseWait wait(m_timeouts.postPageFirst, m_timeouts.postPageFurther);
  std::array<char*, kResultLinesMax> lines{};
  for (;;) {
    if (m_dialect.class20 && Cancelled()) {
      ReportError(0, kMsgDefault, module, fn, "%s", kCancelText);
      return answer;
    }
    const std::uint32_t ms = wait.Next();
    const int count = ms ? m_port->ReadResultA(nullptr, kReadBufferBytes, lines, ms, true) : 0;
    if (count <= 0) {
      if (count == 0) ReportError(0, kMsgDefault, module, fn, "%s", kTimeoutText);
      return ended();
    }
    for (int i = 0; i < count; ++i) {
      const char* line = lines[i];
      if (Has(line, m_dialect.pageStatus)) {
        answer.confirmed = true;
        const auto status = static_cast<PostPageStatus>(ParseNumberAfterColon(line, false));
        if ((status == PostPageStatus::kRtn || status == PostPageStatus::kPin) && !answer.refused) {
          answer.refused = true;
          ReportError(0, kMsgDefault, module, fn, "Page %u was refused by the remote fax machine.",
                      pageNo);
        }
      } else if (Has(line, m_dialect.hangup)) {
        const long code = ParseNumberAfterColon(line, m_dialect.hangupClass == kHangupClass20);
        if (!last || code > 0) ReportHangupCodeError(line, m_dialect.hangupClass);
        // A normal end of the call follows the far end's confirmation.
        if (code == 0) answer.confirmed = true;
        return ended();
      } else if (StartsWith(line, m_okText)) {
        answer.confirmed = true;
        answer.goOn = true;
        return answer;
      }
    }
  }
}

void Class2xFunc::AbortSend() {
  const std::uint8_t cancel[2] = {kDle, kLastPage};
  std::uint32_t written = 0;
  m_port->WriteComDataSYN(Channel::Data, cancel, sizeof cancel, &written, kTransferAll | kQuiet);
  if (MatchOKResult(m_timeouts.abortOk, false) == 1) {
    m_port->WriteCommand(m_dialect.abortCommand, kQuiet);
    MatchOKResult(m_timeouts.command, false);
  }
}

}  // namespace vexo
