#include <algorithm>

#include "base/error_pool.h"
#include "base/job_control.h"
#include "document/tiff_oper.h"
#include "modem/final_results.h"
#include "modem/hangup_codes.h"
#include "modem/win_com_ce.h"
#include "platform/text.h"
#include "protocol/class2x_func.h"
#include "protocol/class2x_internal.h"
#include "protocol/page_receiver.h"

namespace vexo {

using namespace class2x;

// The raw receive stream: the current chunk and the read position in it.
struct Class2xFunc::Raw {
  std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t pos = 0;
};

int Class2xFunc::Receive(const std::string& fileName, std::string_view localId, FaxResult* result) {
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
    CloseReceivedFile(tiff, result);
    return kSessionFailed;
  };

  m_params = {};
  m_link = {};
  m_linkShown.clear();
  if (!CommandOk(m_dialect.localIdCommand, field.c_str())) return fail();
  if (m_dialect.class20) {
    m_port->WriteCommandF("AT+FBO=%s", "0", 0);
    MatchOKResult(m_timeouts.command, false);
  }
  if (!QueryCapabilities(fn)) return fail();
  if (m_dialect.class20) m_params[kVR] = 1;
  m_params[kWD] = 0;
  m_params[kBF] = 0;
  ChooseCoding();
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
  const bool closed = CloseReceivedFile(tiff, result);
  return pages == 1 && closed ? kSessionDone : kSessionFailed;
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

int Class2xFunc::ReadChunk(Raw& raw, Channel channel) {
  std::uint8_t* into = m_buffer.data() + kChunkBytes;
  std::uint32_t got = 0;
  // The page's closing reports end in OK: the read need not wait out the
  // interval after them before the next page is asked for.
  if (m_port->ReadComDataSYN(channel, into, kChunkBytes, &got, kEndAtFinalLine) != 1) return -1;
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
    const int got = ReadChunk(raw, Channel::Command);
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
      } else if (Has(line.c_str(), ResultWord(FinalResult::Connect))) {
        break;
      }
    }
    const std::uint8_t start = kDc2;
    std::uint32_t written = 0;
    if (m_port->WriteComDataSYN(Channel::Data, &start, 1, &written, kTransferAll) != 1) return 0;
    // A line end right after CONNECT belongs to the line, not to the page.
    while (raw.pos < raw.size && (raw.data[raw.pos] == '\n' || raw.data[raw.pos] == '\r'))
      ++raw.pos;

    const bool fine = m_params[kVR] != 0;
    const std::uint32_t width = PageWidthOf(m_params[kWD], module, fn);
    // The page is stored in the coding it arrives in.
    const FaxCoding coding = CodingOfDf(m_params[kDF]);
    if (tiff.SetPageTags(width, 1, (fine ? PAGE_FINE : 0) | PageFlagsOfCoding(coding)) != 1) {
      AbortReceive();
      return 0;
    }
    if (result) result->resolution = fine ? kResultResolutionFine : kResultResolutionNormal;
    const int page = ReceivePage(tiff, raw, coding, width, fine);
    // A page cut off is kept with its whole rows: the record counts what the file holds.
    received = tiff.PageCounter();
    if (result) result->pagesTransferred = received;
    if (page == -2 || page == -3) {
      AbortReceive();
      return 0;
    }
    if (page != 0) return 0;

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

int Class2xFunc::ReceivePage(TiffOper& tiff, Raw& raw, FaxCoding coding, std::uint32_t width,
                             bool fine) {
  // T.6 has no EOLs to count rows by: the page is decoded once it is complete.
  std::vector<std::uint8_t> mmr;
  const bool keep = coding == FaxCoding::kMmr;
  PageReceiver receiver(
      m_dialect.class20,
      [&](const std::uint8_t* bytes, std::size_t count) {
        if (keep) mmr.insert(mmr.end(), bytes, bytes + count);
        return tiff.WriteFaxData(bytes, count) == 1;
      },
      coding);
  // A page whose data stops before its DLE ETX keeps the rows that arrived whole.
  const auto cutOff = [&](int code) {
    receiver.Flush();
    return tiff.EndCutPage() == 1 ? code : -2;
  };
  std::uint64_t taken = 0;
  for (;;) {
    if (raw.pos < raw.size) {
      std::size_t used = 0;
      const auto status = receiver.Feed(raw.data + raw.pos, raw.size - raw.pos, used);
      raw.pos += used;
      taken += used;
      if (status == PageReceiver::Status::WriteFailed) return cutOff(-2);
      if (status == PageReceiver::Status::PageEnd) break;
    }
    if (Cancelled()) {
      ReportError(0, kMsgDefault, m_dialect.module, m_dialect.pageFunction, "%s", kCancelText);
      return cutOff(-3);
    }
    if (taken > m_pageDataLimit) {
      ReportError(0, kMsgDefault, m_dialect.module, m_dialect.pageFunction,
                  "The page data did not end after %llu bytes; the reception is stopped.",
                  static_cast<unsigned long long>(taken));
      return cutOff(-2);
    }
    if (ReadChunk(raw, Channel::Data) != 1) return cutOff(-1);
  }
  if (keep) {
    const std::optional<DecodedFaxPage> decoded = DecodeFaxPage(mmr, coding, width, fine);
    if (!decoded) {
      ReportError(0, kMsgDefault, m_dialect.module, m_dialect.pageFunction,
                  "The page received in MMR could not be decoded; the reception is stopped.");
      return -2;
    }
    return tiff.EndPage(decoded->bitmap.rows) == 1 ? 0 : -2;
  }
  if (receiver.FullRtc()) return tiff.EndPage(receiver.Rows()) == 1 ? 0 : -2;
  // Without its RTC the page may have been cut inside a row (the line dropped).
  ReportError(0, kMsgLogOnly, m_dialect.module, m_dialect.pageFunction,
              "End of page, got EOLs = %d", receiver.EolRun());
  return tiff.EndCutPage() == 1 ? 0 : -2;
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
    if (m_port->ReadComDataSYN(Channel::Data, sink.data(), sink.size(), &got, kQuiet) != 1 ||
        got == 0)
      break;
    if (TickCountMs() - start >= m_timeouts.drainTotal) break;
  }
  m_port->WriteCommand(m_dialect.abortCommand, kQuiet);
  MatchOKResult(m_timeouts.command, false);
}

}  // namespace vexo
