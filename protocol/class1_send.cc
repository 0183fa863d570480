// The Class 1 transmit session: dial, CSI/DIS in, TSI/DCS and the training
// check out until CFR, every page with its post-page message, then DCN.
#include <algorithm>
#include <array>
#include <cstring>

#include "base/code_page.h"
#include "base/error_pool.h"
#include "base/job_control.h"
#include "document/page_header.h"
#include "document/tiff_oper.h"
#include "modem/win_com_ce.h"
#include "platform/text.h"
#include "protocol/class1_func.h"
#include "protocol/class1_session.h"
#include "protocol/page_sender.h"

namespace vexo {

using namespace class1;

namespace {

constexpr std::size_t kDialNumberBytes = 64;
constexpr std::uint32_t kTrainPauseMs = 500;
constexpr std::uint32_t kPageFailOkMs = 10000;
constexpr int kPhaseBDisMax = 3;
// A remote that answers DCS with neither CFR, FTT nor CSI is given this many
// rounds before the call is given up, so that it cannot hold the call for ever.
constexpr int kTrainRoundsMax = 2 * kModulationCount;
constexpr const char* kSilence80ms = "8";
// The RTC (six EOLs in line order) and DLE ETX that end every page.
constexpr std::array<std::uint8_t, 11> kPageEnd = {0x00, 0x08, 0x80, 0x00, 0x08, 0x80,
                                                   0x00, 0x08, 0x80, kDle, kEtx};
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

void Report(const char* function, const char* message) {
  ReportError(0, kMsgDefault, kModule, function, "%s", message);
}

const Class1Item* FirstFrame(const Class1Items& items) {
  for (const Class1Item& item : items)
    if (item.isFrame) return &item;
  return nullptr;
}

}  // namespace

struct FClass1Func::SendPlan {
  std::uint32_t startFile = 0;
  std::uint32_t startPage = 0;
  std::uint32_t total = 0;
  std::uint32_t firstFlags = 0;
  bool flagsKnown = false;
};

void FClass1Func::ShowStatus(unsigned id) {
  if (m_job) m_job->SetStatusString(id);
}

bool FClass1Func::Cancelled() { return m_job && m_job->IsCancelled(0); }

bool FClass1Func::CountPages(std::span<const std::string> files, SendPlan& plan) {
  constexpr const char* kFunction = "SendFAXClass1";
  for (std::uint32_t f = plan.startFile; f < files.size(); ++f) {
    TiffOper tiff;
    tiff.SetErrorPool(true);
    if (tiff.OpenReadTiffHeader(files[f]) != 1) return false;
    int pages = tiff.GetTotalPageNum();
    if (pages <= 0) {
      ReportError(0, kMsgDefault, kModule, kFunction,
                  "Fail to GetTotalPageNum or page number of TIFF image file is zero, Filename=%s",
                  files[f].c_str());
      pages = 0;
    }
    std::uint32_t skip = 0;
    if (f == plan.startFile && plan.startPage != 0) {
      if (plan.startPage >= static_cast<std::uint32_t>(pages)) {
        ++plan.startFile;  // nothing left of this file
        plan.startPage = 0;
        pages = 0;
      } else {
        skip = plan.startPage;
        pages -= static_cast<int>(skip);
      }
    }
    // The DCS describes the first page that will be sent.
    if (pages > 0 && !plan.flagsKnown &&
        (skip == 0 || tiff.MovePage(static_cast<int>(skip)) >= 0) && tiff.ReadTags() == 1) {
      plan.firstFlags = tiff.PageInfo().flags;
      plan.flagsKnown = true;
    }
    plan.total += static_cast<std::uint32_t>(pages);
    tiff.CloseReadTiff();
  }
  if (plan.total == 0) {
    Report(kFunction, "Page number of TIFF image files is zero");
    return false;
  }
  return true;
}

int FClass1Func::SendFAXClass1(std::span<const std::string> files, std::string_view number,
                               std::string_view localId, std::uint32_t* resume, FaxResult* result) {
  constexpr const char* kFunction = "SendFAXClass1";
  if (m_port == nullptr) return kSessionFailed;
  const ResumePosition from(resume ? *resume : 0);
  SendPlan plan;
  plan.startFile = from.FileIndex();
  plan.startPage = from.PageIndex();
  if (plan.startFile >= files.size()) return kSessionDone;
  if (!CountPages(files, plan)) return kSessionFailed;

  const StationIdField tsi = BuildStationIdField(localId);
  m_port->Delay(kCommandPauseMs);
  if (!QueryBRCap(1)) return kSessionFailed;
  m_port->Delay(kCommandPauseMs);

  ShowStatus(kStrDialling);
  std::string digits = WideToMultiLossy(number);
  if (digits.size() > kDialNumberBytes) digits.resize(kDialNumberBytes);
  if (!m_port->WriteCommandF(digits.empty() ? "ATD" : "ATX4DT%s", digits.c_str(), 0))
    return kSessionFailed;

  CapabilityBytes dcs{};
  switch (ProcessSendPhaseA(result, plan.firstFlags, dcs, tsi)) {
    case 0:
      break;
    case 1:
      return kSessionFailed;
    case 2:
      Report(kFunction, "No answer or no DIS detected (T.30 T1 timeout).");
      AbortSend();
      return kSessionFailed;
    case 3:
      Report(kFunction, "Unspecified phase A error.");
      AbortSend();
      return kSessionFailed;
    default:
      AbortSend();
      return kSessionFailed;
  }

  const std::uint32_t rate = kClass1Modulations[m_modulation].bitRate;
  m_minLineBytes = MinimumLineBytes(rate, m_minScanMs);
  const COMMTIMEOUTS pageTimeouts{0, 0, 0, kWriteMultiplierMs, kWriteConstantMs};
  if (!m_port->SetComPortTimeouts(pageTimeouts, true)) {
    AbortSend();
    return kSessionFailed;
  }
  const int sent = SendPages(files, plan, resume, result);
  if (m_job) m_job->HideProgress();
  m_pending.clear();
  return sent;
}

int FClass1Func::SendPages(std::span<const std::string> files, const SendPlan& plan,
                           std::uint32_t* resume, FaxResult* result) {
  constexpr const char* kFunction = "SendFAXClass1";
  const std::uint32_t rate = kClass1Modulations[m_modulation].bitRate;
  const std::vector<std::uint8_t> ones((rate + 40) / 80, 0xFF);     // 100 ms of ones
  const std::vector<std::uint8_t> zeros((rate + 200) / 400, 0x00);  // 20 ms of zeros
  std::uint32_t sent = 0;
  std::uint32_t refused = 0;
  TiffOper tiff;
  tiff.SetErrorPool(true);
  PageHeader& header = PageHeaderOf(tiff);
  header.SetSender(m_sender);
  header.SetRecipient(m_recipient);

  std::uint32_t pageInFile = plan.startPage;
  for (std::uint32_t f = plan.startFile; f < files.size(); ++f, pageInFile = 0) {
    if (Cancelled()) {
      Report(kFunction, kCancelText);
      AbortSend();
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
        Report(kFunction, kCancelText);
        AbortSend();
        return kSessionFailed;
      }
      if (tiff.ReadTags() != 1) {
        AbortSend();
        return kSessionFailed;
      }
      GenHeader(tiff, sent + 1, plan.total, !m_remoteFine);
      m_progressTotal = std::max<std::uint32_t>(
          1, static_cast<std::uint32_t>(tiff.Tags().stripByteCount + tiff.PageHeaderSize()));

      m_port->Delay(kCommandPauseMs);
      const char* code = kClass1Modulations[ToShortTrain(m_modulation)].code;
      if (!m_port->WriteCommandF("AT+FTM=%s", code, 0) || !CheckCmdResponse2(kWaitOkMs, true) ||
          !WriteData(ones.data(), ones.size()) || !WriteData(zeros.data(), zeros.size())) {
        AbortSend();
        return kSessionFailed;
      }
      if (SendClass1FaxPage(tiff) != 0) {
        const std::uint8_t end[2] = {kDle, kEtx};
        std::uint32_t written = 0;
        m_port->WriteComDataSYN(1, end, sizeof end, &written, kQuiet | kTransferAll);
        CheckCmdResponse2(kPageFailOkMs, false);
        AbortSend();
        return kSessionFailed;
      }
      ShowStatus(kStrPageSentWaiting);
      if (!CheckCmdResponse2(m_timeouts.pageOk, true)) {
        AbortSend();
        return kSessionFailed;
      }
      const bool last = sent + 1 == plan.total;
      const bool moreInFile = !last && tiff.NextPage() == 1;
      const int answer = SendPostPageMessage(plan.total - sent - 1);
      if (answer == 0) {
        AbortSend();
        return kSessionFailed;
      }
      // The page counts, and the resume position moves past it, only once the
      // far end has answered it: a page the line dropped during is sent again.
      ++sent;
      if (result) result->pagesTransferred = sent;
      if (resume) {
        if (last)
          *resume = 0;
        else if (moreInFile)
          *resume = ResumePosition::At(f, pageInFile + 1).Raw();
        else
          *resume = ResumePosition::At(f + 1, 0).Raw();
      }
      if (m_lastPageRefused) {
        ++refused;
        ReportError(0, kMsgDefault, kModule, kFunction,
                    "Page %u was refused by the remote fax machine.", sent);
      }
      if (answer == 2) {
        if (resume) *resume = 0;
        tiff.CloseReadTiff();
        ShowStatusF(kStrSendEnd, sent);
        SendDcn();
        return refused ? kSessionPartly : kSessionDone;
      }
      ++pageInFile;
      if (!moreInFile) break;
    }
    tiff.CloseReadTiff();
  }
  // The files held fewer pages than counted.
  ShowStatusF(kStrSendEnd, sent);
  SendDcn();
  return refused ? kSessionPartly : kSessionDone;
}

int FClass1Func::ProcessSendPhaseA(FaxResult* result, std::uint32_t pageFlags, CapabilityBytes& dcs,
                                   const StationIdField& tsi) {
  constexpr const char* kFunction = "ProcessSendPhaseA";
  Class1Items items;
  std::uint32_t wait = m_timeouts.dialFirst;
  int disSeen = 0;
  for (;;) {
    const int count = ReadFrameList(items, kFrameItemsMax, wait, true);
    if (count < 0) return 1;
    if (count == 0) return 2;
    bool newFrh = false;
    for (const Class1Item& item : items) {
      if (!item.isFrame) {
        const int word = ClassifyResult(item.text);
        if (word == kWordConnect) ShowStatus(kStrRemoteAnswered);
        for (const DialFailure& failure : kDialFailures)
          if (failure.word == word) {
            Report(kFunction, failure.message);
            return 1;
          }
        continue;
      }
      if (item.Is(fcf::DCN)) return 3;
      if (item.Is(fcf::CSI)) {
        if (result) result->SetRemoteId(Utf8ToUtf16(DecodeStationId(item.Fif())));
        continue;
      }
      if (!item.Is(fcf::DIS)) continue;
      if (!AnalysisDIS(item, pageFlags, dcs)) return 4;
      ShowStatusF(kStrRemoteId, result ? Utf16ToUtf8(result->RemoteId()).c_str() : "");
      const int trained = ProcessTrain(dcs, tsi);
      if (trained == 0) return 0;
      if (trained == 1 || ++disSeen >= kPhaseBDisMax) return 4;
      newFrh = true;  // the remote sent CSI again: read its DIS
      break;
    }
    if (newFrh || HasNonFinalFrame(items)) {
      m_port->Delay(kCommandPauseMs);
      if (!m_port->WriteCommandF(kReceiveFrameCommand, kV21Code, 0)) return 1;
      wait = m_timeouts.phaseBAfterFrh;
    } else {
      wait = m_timeouts.phaseBFurther;
    }
  }
}

int FClass1Func::ProcessTrain(CapabilityBytes& dcs, const StationIdField& tsi) {
  constexpr const char* kFunction = "ProcessTrain";
  bool repeatedHere = false;  // one repetition at a modulation before falling back
  for (int round = 0; round < kTrainRoundsMax; ++round) {
    Class1Items items;
    if (!SendFrame(kFrameCommand, kV21Code, false, fcf::TSI, tsi, false) ||
        !SendNextFrame(true, fcf::DCS, dcs, true) || !SendTrainSeq() ||
        !GetFrame(items, kFrameItemsMax, m_timeouts.trainAnswer, RepeatMode::kNever))
      return 1;
    const Class1Item* frame = FirstFrame(items);
    if (frame == nullptr) return 1;
    if (frame->Is(fcf::CFR)) return 0;
    if (frame->Is(fcf::FTT)) {
      if (!repeatedHere) {
        repeatedHere = true;
        continue;
      }
      if (!FallBack(dcs)) {
        Report(kFunction, "Call answered without successful FAX handshake.");
        return 1;
      }
      repeatedHere = false;
      continue;
    }
    if (frame->Is(fcf::DIS)) continue;
    if (frame->Is(fcf::CSI)) return 2;
    Report(kFunction, "Fail to wait for TSI frame.");
  }
  Report(kFunction, "Call answered without successful FAX handshake.");
  return 1;
}

int FClass1Func::SendTrainSeq() {
  const std::uint32_t rate = kClass1Modulations[m_modulation].bitRate;
  const std::vector<std::uint8_t> zeros(rate / 16 + rate / 8 + 2, 0x00);  // 1.5 s, plus 2
  m_port->Delay(kTrainPauseMs);
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
  return m_port->WriteComDataSYN(1, bytes, static_cast<std::uint32_t>(count), &written,
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

int FClass1Func::SendClass1FaxPage(TiffOper& tiff) {
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
    if (got < 0) return -1;
    if (got == 0) break;
    if (!sender.Feed(input.data(), static_cast<std::size_t>(got))) return PageSender::kWriteFailed;
    if (m_job)
      m_job->SetProgressPercent(static_cast<std::uint32_t>(
          std::min<std::uint64_t>(sender.Consumed() * 100 / m_progressTotal, 100)));
  }
  const int done = sender.Finish();
  if (done != PageSender::kPageSent) return done;
  m_pending.insert(m_pending.end(), kPageEnd.begin(), kPageEnd.end());
  if (!WriteData(m_pending.data(), m_pending.size())) return PageSender::kWriteFailed;
  m_pending.clear();
  if (m_job) m_job->SetProgressPercent(100);
  return 0;
}

int FClass1Func::SendPostPageMessage(std::uint32_t pagesLeft) {
  m_lastPageRefused = false;
  if (!m_port->WriteCommandF("AT+FTS=%s", kSilence80ms, 0) || !CheckCmdResponse2(kWaitOkMs, true))
    return 0;
  if (!SendFrame(kFrameCommand, kV21Code, true, pagesLeft ? fcf::MPS : fcf::EOP, {}, false))
    return 0;
  m_port->Delay(kCommandPauseMs);
  Class1Items items;
  // No answer to EOP: every page went, and the call counts as complete.
  if (!GetFrame(items, kFrameItemsMax, m_timeouts.postPageAnswer, RepeatMode::kAlways,
                pagesLeft != 0))
    return pagesLeft ? 0 : 2;
  for (const Class1Item& item : items) {
    if (item.Is(fcf::MCF) || item.Is(fcf::RTP)) return pagesLeft ? 1 : 2;
    if (item.Is(fcf::RTN)) {
      m_lastPageRefused = true;
      return pagesLeft ? -1 : 2;
    }
  }
  return 0;
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
