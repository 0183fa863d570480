// The Class 1 transmit session: dial, CSI/DIS in, TSI/DCS and the training
// check out until CFR, every page with its post-page message, then DCN.
#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>

#include "base/code_page.h"
#include "base/error_pool.h"
#include "base/job_control.h"
#include "document/fax_coding.h"
#include "document/page_header.h"
#include "document/tiff_oper.h"
#include "modem/win_com_ce.h"
#include "platform/text.h"
#include "protocol/class1_func.h"
#include "protocol/class1_session.h"
#include "protocol/page_feed.h"
#include "protocol/page_sender.h"
#include "protocol/session_abort.h"
#include "protocol/t30_timers.h"

namespace vexo {

using namespace class1;

namespace {

constexpr std::size_t kDialNumberBytes = 64;
constexpr std::uint32_t kPageFailOkMs = 10000;
constexpr int kPhaseBDisMax = 3;
// Answers in a row without a frame (only ERROR, +FCERROR or NO CARRIER) after
// which the far end is taken to be gone rather than damaged.
constexpr int kPhaseBEmptyAnswersMax = 10;
// A remote that answers DCS with neither CFR, FTT nor CSI is given this many
// rounds before the call is given up, so that it cannot hold the call for ever.
constexpr int kTrainRoundsMax = 2 * kModulationCount;
// A refused page is sent again at most this often before the call ends.
constexpr int kPageResendsMax = 2;
// A second RTN at one speed moves one speed step down.
constexpr int kRtnsBeforeFallBack = 2;
// The RTC of MH (six EOLs in line order) and DLE ETX that end every MH page.
constexpr std::array<std::uint8_t, 11> kPageEnd = {0x00, 0x08, 0x80, 0x00, 0x08, 0x80,
                                                   0x00, 0x08, 0x80, kDle, kEtx};
// The RTC of MR (six EOLs, each with the tag bit 1) in line order, after
// zero fill to a byte boundary, and DLE ETX.
constexpr std::array<std::uint8_t, 12> kMrPageEnd = {0x00, 0x60, 0x00, 0x0C, 0x80, 0x01,
                                                     0x30, 0x00, 0x06, 0xC0, kDle, kEtx};
constexpr std::array<std::size_t, 3> kPageWriteSizes = {512, 1024, 4095};
constexpr std::array<std::size_t, 4> kTrainWriteSizes = {256, 512, 1024, 4095};

struct DialFailure {
  int word;
  const char* message;
};
constexpr std::array<DialFailure, 6> kDialFailures = {{
    {kWordError, kErrorText},
    {kWordNoCarrier, "No carrier was detected."},
    {kWordNoAnswer, "No answer tone detected."},
    {kWordNoDialtone, "Dial failure or no dial tone detected."},
    {kWordNoDialTone2, "Dial failure or no dial tone detected."},
    {kWordBusy,
     "An equipment busy tone is detected on the line and the busy tone [on] time exceeds 300 ms."},
}};

}  // namespace

void FClass1Func::ShowStatus(unsigned id) {
  if (m_job) m_job->SetStatusString(id);
}

bool FClass1Func::Cancelled() { return m_job && m_job->IsCancelled(0); }

int FClass1Func::SendFAXClass1(std::span<const std::string> files, std::string_view number,
                               std::string_view localId, std::uint32_t* resume, FaxResult* result) {
  constexpr const char* kFunction = "SendFAXClass1";
  m_link = {};  // nothing settled yet: a call that fails early used neither
  if (m_port == nullptr) return kSessionFailed;
  PageFeed feed(files, resume, {kModule, kFunction});
  if (feed.Finished()) return kSessionDone;
  if (feed.CountPages(PageFeed::FirstPage::kFirstReadable) != PageFeed::Count::kReady)
    return kSessionFailed;

  m_tx = Transmit{};
  m_tx.tsi = BuildStationIdField(localId);
  m_port->Delay(kCommandPauseMs);
  if (!QueryBRCap(ModulationQuery::kTransmit)) return kSessionFailed;
  m_port->Delay(kCommandPauseMs);

  ShowStatus(kStrDialling);
  std::string digits = WideToMultiLossy(number);
  if (digits.size() > kDialNumberBytes) digits.resize(kDialNumberBytes);
  if (!m_port->WriteCommandF(digits.empty() ? "ATD" : "ATX4DT%s", digits.c_str(), 0))
    return kSessionFailed;

  // From here a call that fails, a cancelled one among them, ends with DCN
  // and a hang-up; only a dial the modem itself failed does not.
  SessionAbort abort([this] { AbortSend(); });
  // The DCS declares a length every page of the call fits, not the first one's.
  const std::uint32_t pageFlags = feed.FirstPageFlags() | (feed.AnyLongPage() ? PAGE_LONG : 0);
  switch (ProcessSendPhaseA(result, pageFlags, m_tx.dcs, m_tx.tsi)) {
    case PhaseA::kTrained:
      break;
    case PhaseA::kModemFailed:
      abort.Keep();
      return kSessionFailed;
    case PhaseA::kNoAnswer:
      Report(kFunction, "No answer or no DIS detected (T.30 T1 timeout).");
      return kSessionFailed;
    case PhaseA::kDisconnected:
      Report(kFunction, "Unspecified phase A error.");
      return kSessionFailed;
    case PhaseA::kFailed:
      return kSessionFailed;
  }

  const COMMTIMEOUTS pageTimeouts{0, 0, 0, kWriteMultiplierMs, kWriteConstantMs};
  if (!m_port->SetComPortTimeouts(pageTimeouts, true)) return kSessionFailed;
  const int sent = feed.Send(*this, {m_sender, m_recipient}, m_job, result);
  if (m_job) m_job->HideProgress();
  m_pending.clear();
  if (sent != kSessionFailed) abort.Keep();
  return sent;
}

// After RTN or RTP a new DCS and training first; then the short-train
// carrier, 100 ms of ones and 20 ms of zeros, the page, and the modem's OK
// once the page has gone.
bool FClass1Func::TransmitPage(TiffOper& tiff, std::uint32_t pageNo, std::uint32_t total) {
  if (m_tx.retrain) {
    m_tx.retrain = false;
    if (ProcessTrain(m_tx.dcs, m_tx.tsi) != Training::kConfirmed) return false;
  }
  const std::uint32_t rate = kClass1Modulations[m_modulation].bitRate;
  m_minLineBytes = MinimumLineBytes(rate, m_minScanMs);
  const std::vector<std::uint8_t> ones((rate + 40) / 80, 0xFF);
  const std::vector<std::uint8_t> zeros((rate + 200) / 400, 0x00);
  GenHeader(tiff, pageNo, total, !m_remoteFine);
  m_progressTotal = std::max<std::uint32_t>(
      1, static_cast<std::uint32_t>(tiff.Tags().stripByteCount + tiff.PageHeaderSize()));
  if (m_link.ecm) return TransmitEcmPage(tiff, pageNo, total);

  // A stored MH page with MH on the line goes as it is stored; any other is
  // coded for the line first (before the carrier, so that the modem never
  // waits for data).
  std::optional<std::vector<std::uint8_t>> coded;
  if (m_link.coding != FaxCoding::kMh ||
      CodingOfPageFlags(tiff.PageInfo().flags) != FaxCoding::kMh) {
    const bool finePage = (tiff.PageInfo().flags & PAGE_FINE) != 0;
    coded =
        CodePageForLine(tiff, m_link.coding, finePage && !m_remoteFine, finePage && m_remoteFine);
    if (!coded) return false;
  }

  m_port->Delay(kCommandPauseMs);
  const char* code = kClass1Modulations[ToShortTrain(m_modulation)].code;
  if (!m_port->WriteCommandF("AT+FTM=%s", code, 0) || !CheckCmdResponse2(kWaitOkMs, true) ||
      !WriteData(ones.data(), ones.size()) || !WriteData(zeros.data(), zeros.size()))
    return false;
  const PageSendResult sent =
      coded ? SendCodedPage(*coded, m_link.coding) : SendClass1FaxPage(tiff);
  if (sent != PageSendResult::kSent) {
    EndFailedData();
    return false;
  }
  ShowStatus(kStrPageSentWaiting);
  return CheckCmdResponse2(m_timeouts.pageOk, true);
}

// MCF or RTP confirm the page; RTN has it sent again after a new training
// (a speed step lower after a second RTN at one speed), at most twice, and
// then ends the call partly sent; without any of them the last page stays
// unconfirmed, and an earlier one ends the call.
PageAnswer FClass1Func::AnswerPage(bool last, std::uint32_t pageNo, std::uint32_t total) {
  if (m_link.ecm) return AnswerEcmPage(last, pageNo);
  constexpr PageAnswer kConfirmed{.confirmed = true, .goOn = true};
  switch (SendPostPageMessage(total - pageNo)) {
    case PostPageAnswer::kConfirmed:
      m_tx.resends = 0;
      return kConfirmed;
    case PostPageAnswer::kRetrain:
      m_tx.resends = 0;
      m_tx.retrain = true;
      return kConfirmed;
    case PostPageAnswer::kRefused:
      m_tx.retrain = true;
      if (m_tx.rtnModulation != m_modulation) m_tx.rtnsThere = 0;
      m_tx.rtnModulation = m_modulation;
      if (++m_tx.rtnsThere >= kRtnsBeforeFallBack && FallBack(m_tx.dcs)) m_tx.rtnsThere = 0;
      if (m_tx.resends < kPageResendsMax) {
        ++m_tx.resends;
        return {.resend = true};
      }
      ReportError(0, kMsgDefault, kModule, "SendFAXClass1",
                  "Page %u was refused by the remote fax machine.", pageNo);
      return {.refused = true, .endsPartly = true};
    case PostPageAnswer::kUnanswered:
      break;
  }
  return {.endsPartly = last};
}

// Once the far end has answered, a damaged frame (ERROR, +FCERROR or NO
// CARRIER) or a frame that is not the DIS puts the modem back in command
// state: a new AT+FRH=3 waits for the next frame, the called station
// repeating its DIS until T1 has run out.
FClass1Func::PhaseA FClass1Func::ProcessSendPhaseA(FaxResult* result, std::uint32_t pageFlags,
                                                   CapabilityBytes& dcs,
                                                   const StationIdField& tsi) {
  constexpr const char* kFunction = "ProcessSendPhaseA";
  Class1Items items;
  auto disBy = DeadlineIn(m_timeouts.dialFirst);
  const auto startT1 = [&disBy, this] { disBy = DeadlineIn(m_timeouts.disAfterAnswer); };
  bool answered = false;
  int disSeen = 0;
  int emptyAnswers = 0;
  for (;;) {
    const std::uint32_t left = MsUntil(disBy);
    const int count = left == 0 ? 0 : ReadFrameList(items, kFrameItemsMax, left, true);
    if (count < 0) return PhaseA::kModemFailed;
    if (count == 0) return PhaseA::kNoAnswer;
    bool restarted = false;
    for (const Class1Item& item : items) {
      if (!item.isFrame) {
        const int word = ClassifyResult(item.text);
        if (word == kWordConnect && !answered) {
          answered = true;
          startT1();
          ShowStatus(kStrRemoteAnswered);
        }
        if (answered) continue;  // a damaged frame: the AT+FRH below
        for (const DialFailure& failure : kDialFailures)
          if (failure.word == word) {
            Report(kFunction, failure.message);
            return PhaseA::kModemFailed;
          }
        continue;
      }
      answered = true;
      if (item.Is(fcf::DCN)) return PhaseA::kDisconnected;
      if (item.Is(fcf::CSI)) {
        if (result) result->SetRemoteId(Utf8ToUtf16(DecodeStationId(item.Fif())));
        continue;
      }
      if (!item.Is(fcf::DIS)) continue;
      if (!AnalysisDIS(item, pageFlags, dcs)) return PhaseA::kFailed;
      ShowStatusF(kStrRemoteId, result ? Utf16ToUtf8(result->RemoteId()).c_str() : "");
      const Training trained = ProcessTrain(dcs, tsi);
      if (trained == Training::kConfirmed) return PhaseA::kTrained;
      if (trained == Training::kFailed || ++disSeen >= kPhaseBDisMax) return PhaseA::kFailed;
      restarted = true;  // the remote sent CSI again: read its DIS
      startT1();
      break;
    }
    const bool anyFrame = std::any_of(items.begin(), items.end(),
                                      [](const Class1Item& item) { return item.isFrame; });
    emptyAnswers = anyFrame || !answered ? 0 : emptyAnswers + 1;
    if (emptyAnswers >= kPhaseBEmptyAnswersMax) return PhaseA::kNoAnswer;
    if (restarted || (answered && EndsWithResult(items))) {
      m_port->Delay(kCommandPauseMs);
      if (!m_port->WriteCommandF(kReceiveFrameCommand, kV21Code, 0)) return PhaseA::kModemFailed;
    }
  }
}

FClass1Func::Training FClass1Func::ProcessTrain(CapabilityBytes& dcs, const StationIdField& tsi) {
  constexpr const char* kFunction = "ProcessTrain";
  bool repeatedHere = false;  // one repetition at a modulation before falling back
  int unanswered = 0;         // tries in a row without a usable answer
  for (int round = 0; round < kTrainRoundsMax; ++round) {
    Class1Items items;
    if (!SendFrame(kFrameCommand, kV21Code, false, fcf::TSI, tsi, false) ||
        !SendNextFrame(true, fcf::DCS, CapabilityField(dcs), true) || !SendTrainSeq())
      return Training::kFailed;
    // No answer, a damaged one or CRP: DCS and training go again.
    const Heard heard = ListenOnce(items, kFrameItemsMax, m_timeouts.trainAnswer);
    if (heard == Heard::kPortFailed) return Training::kFailed;
    if (heard == Heard::kDisconnect) {
      Report("GetFrame", "Call answered without successful FAX handshake.");
      return Training::kFailed;
    }
    if (heard != Heard::kFrame) {
      if (++unanswered < t30::kCommandTries) continue;
      Report("GetFrame", kTimeoutText);
      return Training::kFailed;
    }
    unanswered = 0;
    const Class1Item* frame = FirstFrame(items);
    if (frame == nullptr) return Training::kFailed;
    if (frame->Is(fcf::CFR)) return Training::kConfirmed;
    if (frame->Is(fcf::FTT)) {
      if (!repeatedHere) {
        repeatedHere = true;
        continue;
      }
      if (!FallBack(dcs)) {
        Report(kFunction, "Call answered without successful FAX handshake.");
        return Training::kFailed;
      }
      repeatedHere = false;
      continue;
    }
    if (frame->Is(fcf::DIS)) continue;
    if (frame->Is(fcf::CSI)) return Training::kRemoteRestarted;
    Report(kFunction, "Fail to wait for TSI frame.");
  }
  Report(kFunction, "Call answered without successful FAX handshake.");
  return Training::kFailed;
}

int FClass1Func::SendTrainSeq() {
  const std::uint32_t rate = kClass1Modulations[m_modulation].bitRate;
  const std::vector<std::uint8_t> zeros(rate / 16 + rate / 8 + 2, 0x00);  // 1.5 s, plus 2
  // T.30's 75 ms between the end of DCS (its OK) and the training check. An
  // AT+FTS would add its own command and answer to the silence.
  m_port->Delay(t30::kTrainingGapMs);
  const char* code = kClass1Modulations[ToLongTrain(m_modulation)].code;
  if (!m_port->WriteCommandF("AT+FTM=%s", code, 0) || !CheckCmdResponse2(kWaitOkMs, true)) return 0;
  std::size_t at = 0;
  std::size_t step = 0;
  while (at < zeros.size()) {
    const std::size_t piece = std::min(kTrainWriteSizes[step], zeros.size() - at);
    if (!m_port->WriteCommandA(reinterpret_cast<const char*>(zeros.data() + at),
                               static_cast<std::uint32_t>(piece), 0))
      return 0;
    at += piece;
    step = std::min(step + 1, kTrainWriteSizes.size() - 1);
  }
  const char end[2] = {static_cast<char>(kDle), static_cast<char>(kEtx)};
  if (!m_port->WriteCommandA(end, 2, 0)) return 0;
  return CheckCmdResponse2(kWaitOkMs, true);
}

bool FClass1Func::WriteData(const std::uint8_t* bytes, std::size_t count) {
  std::uint32_t written = 0;
  return m_port->WriteComDataSYN(Channel::Data, bytes, static_cast<std::uint32_t>(count), &written,
                                 kTransferAll) == 1 &&
         written == count;
}

// Page data goes out in growing pieces (512, 1024, then 4095 bytes), so the
// modem's buffer starts filling at once after CONNECT.
bool FClass1Func::WritePageChunked(const std::uint8_t* bytes, std::size_t count) {
  m_pending.insert(m_pending.end(), bytes, bytes + count);
  while (m_pending.size() >= kPageWriteSizes[m_chunkStep]) {
    const std::size_t piece = kPageWriteSizes[m_chunkStep];
    if (!WriteData(m_pending.data(), piece)) return false;
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(piece));
    m_chunkStep = std::min(m_chunkStep + 1, kPageWriteSizes.size() - 1);
  }
  return true;
}

PageSendResult FClass1Func::SendClass1FaxPage(TiffOper& tiff) {
  m_pending.clear();
  m_chunkStep = 0;
  PageSendOptions options;
  options.lsbFirstInput = (tiff.PageInfo().flags & PAGE_LSB_FIRST) != 0;
  options.skipToFirstEol = true;
  options.minLineBytes = m_minLineBytes;
  PageSender sender(options, [this](const std::uint8_t* bytes, std::size_t count) {
    return WritePageChunked(bytes, count);
  });
  std::vector<std::uint8_t> input(kChunkBytes);
  for (;;) {
    const int got = tiff.ReadFAXData(input.data(), input.size(), !m_remoteFine);
    if (got < 0) return PageSendResult::kReadFailed;
    if (got == 0) break;
    if (!sender.Feed(input.data(), static_cast<std::size_t>(got)))
      return PageSendResult::kWriteFailed;
    if (m_job)
      m_job->SetProgressPercent(static_cast<std::uint32_t>(
          std::min<std::uint64_t>(sender.Consumed() * 100 / m_progressTotal, 100)));
  }
  const PageSendResult done = sender.Finish();
  if (done != PageSendResult::kSent) return done;
  m_pending.insert(m_pending.end(), kPageEnd.begin(), kPageEnd.end());
  if (!WriteData(m_pending.data(), m_pending.size())) return PageSendResult::kWriteFailed;
  m_pending.clear();
  if (m_job) m_job->SetProgressPercent(100);
  return PageSendResult::kSent;
}

PageSendResult FClass1Func::SendCodedPage(std::span<const std::uint8_t> coded, FaxCoding coding) {
  m_pending.clear();
  m_chunkStep = 0;
  PageSendOptions options;
  options.minLineBytes = m_minLineBytes;
  PageSender sender(options, [this](const std::uint8_t* bytes, std::size_t count) {
    return WritePageChunked(bytes, count);
  });
  if (!sender.Feed(coded.data(), coded.size())) return PageSendResult::kWriteFailed;
  const PageSendResult done = sender.Finish();
  if (done != PageSendResult::kSent) return done;
  if (coding == FaxCoding::kMh)
    m_pending.insert(m_pending.end(), kPageEnd.begin(), kPageEnd.end());
  else
    m_pending.insert(m_pending.end(), kMrPageEnd.begin(), kMrPageEnd.end());
  if (!WriteData(m_pending.data(), m_pending.size())) return PageSendResult::kWriteFailed;
  m_pending.clear();
  if (m_job) m_job->SetProgressPercent(100);
  return PageSendResult::kSent;
}

bool FClass1Func::WriteDataEnd(std::span<const std::uint8_t> stuffed) {
  m_pending.clear();
  m_chunkStep = 0;
  if (!WritePageChunked(stuffed.data(), stuffed.size())) {
    EndFailedData();
    return false;
  }
  m_pending.push_back(kDle);
  m_pending.push_back(kEtx);
  const bool written = WriteData(m_pending.data(), m_pending.size());
  m_pending.clear();
  if (!written) EndFailedData();
  return written;
}

// Data that could not all be written still ends with DLE ETX, so that the
// modem returns to command state.
void FClass1Func::EndFailedData() {
  const std::uint8_t end[2] = {kDle, kEtx};
  std::uint32_t written = 0;
  m_port->WriteComDataSYN(Channel::Data, end, sizeof end, &written, kQuiet | kTransferAll);
  CheckCmdResponse2(kPageFailOkMs, false);
}

// The post-page message goes up to three times (GetFrame) until MCF, RTP or
// RTN answers it.
PostPageAnswer FClass1Func::SendPostPageMessage(std::uint32_t pagesLeft) {
  if (!PauseBeforeV21()) return PostPageAnswer::kUnanswered;
  if (!SendFrame(kFrameCommand, kV21Code, true, pagesLeft ? fcf::MPS : fcf::EOP, {}, false))
    return PostPageAnswer::kUnanswered;
  Class1Items items;
  if (!GetFrame(items, kFrameItemsMax, m_timeouts.postPageAnswer, RepeatMode::kAlways))
    return PostPageAnswer::kUnanswered;
  for (const Class1Item& item : items) {
    if (item.Is(fcf::MCF)) return PostPageAnswer::kConfirmed;
    if (item.Is(fcf::RTP)) return PostPageAnswer::kRetrain;
    if (item.Is(fcf::RTN)) return PostPageAnswer::kRefused;
  }
  return PostPageAnswer::kUnanswered;
}

bool FClass1Func::PauseBeforeV21() {
  return m_port->WriteCommandF("AT+FTS=%s", "8", 0) && CheckCmdResponse2(kWaitOkMs, true);
}

void FClass1Func::SendDcn() { SendFrame(kFrameCommand, kV21Code, true, fcf::DCN, {}, false); }

void FClass1Func::AbortSend() {
  if (m_job) m_job->HideProgress();
  SendDcn();
  m_port->Delay(kCommandPauseMs);
  m_port->WriteCommand("ATH0", kQuiet);
  CheckCmdResponse2(kWaitOkMs, false);
}

}  // namespace vexo
