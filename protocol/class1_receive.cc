// The Class 1 receive session: answer, CSI/DIS out and DCS in, the training
// check judged and answered with CFR or FTT, every page into the fax file,
// each post-page message confirmed with MCF, until EOP; after EOM phase B runs
// again and the next document's pages go into the same file.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
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

namespace vexo {

using namespace class1;

namespace {

constexpr int kPhaseATries = 16;
constexpr int kCarrierTriesMax = 21;
// A caller that keeps answering FTT with a new DCS gets this many trainings.
constexpr int kTrainRoundsMax = 12;
constexpr std::uint32_t kDcsOkMs = 1000;
constexpr std::uint32_t kIntervalMs = 250;
// The modem's result line after the page's DLE ETX.
constexpr std::uint32_t kCarrierEndMs = 5000;
// A modem that never stops sending is drained at most this long.
constexpr std::uint32_t kDrainLimitMs = 60000;
constexpr std::uint32_t kFaxWidth = 1728;
constexpr std::string_view kConnect = ResultWord(FinalResult::Connect);

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
  if (m_port == nullptr) return kSessionFailed;
  TiffOper tiff;
  tiff.SetErrorPool(false);
  if (tiff.OpenWriteTiff(fileName) != 1) return kSessionFailed;
  const StationIdField csi = BuildStationIdField(localId);

  m_port->Delay(kCommandPauseMs);
  if (!QueryBRCap(ModulationQuery::kReceive) || !m_port->WriteCommand("ATA", kSkipLineCheck) ||
      !CheckCmdResponse2(m_timeouts.answerConnect, true))
    return FailReceive(tiff, result);
  const COMMTIMEOUTS pageTimeouts = DataReads(m_timeouts.pageData);
  // Phase B: identifiers and capabilities, DCS, the training check. A caller
  // that ends a document with EOM goes through it again for the next one.
  const auto negotiate = [&](bool afterAnswer) -> bool {
    if (ProcessRevPhaseA(csi, result, kPhaseATries, afterAnswer) != 1) return false;
    ShowStatusF(kStrRemoteIdReceive, result ? Utf16ToUtf8(result->RemoteId()).c_str() : "");
    if (RevTrainSeqLoop(result) != 1) {
      Report(kFunction, "Some unknown error happen in Class 1 TCF Receiving process.");
      return false;
    }
    return m_port->SetComPortTimeouts(pageTimeouts, true);
  };
  if (!negotiate(true)) return FailReceive(tiff, result);
  std::uint32_t pages = 0;
  ShowStatusF(kStrReceivingPage, 1u);
  if (m_job) m_job->ShowProgress(1, 0);
  if (Cancelled()) {
    Report(kFunction, kCancelText);
    return FailReceive(tiff, result);
  }
  for (;;) {
    m_port->Delay(kCommandPauseMs);
    const char* code = kClass1Modulations[ToShortTrain(m_modulation)].code;
    if (!m_port->WriteCommandF("AT+FRM=%s", code, 0)) return FailReceive(tiff, result);
    std::vector<std::uint8_t> first;
    if (FirstPageData(first) != 1) return FailReceive(tiff, result);
    if (tiff.SetPageTags(kFaxWidth, 1, m_fine ? PAGE_FINE : 0) != 1) {
      DrainPage();
      return FailReceive(tiff, result);
    }
    std::uint32_t rows = 0;
    const int page = RevClass1FaxPage(tiff, first, rows);
    if (page == -2) DrainPage();
    if (page != 0 || tiff.EndPage(rows) != 1) return FailReceive(tiff, result);
    ++pages;
    if (result) result->pagesTransferred = pages;

    Class1Items items;
    if (!GetFrame(items, kFrameItemsMax, m_timeouts.postPageMessage, RepeatMode::kNever) ||
        items.empty())
      return FailReceive(tiff, result);
    std::uint8_t message = 0;
    for (const Class1Item& item : items)
      for (std::uint8_t candidate : {fcf::EOP, fcf::EOM, fcf::MPS})
        if (item.Is(candidate)) message = candidate;
    if (message == 0) return FailReceive(tiff, result);
    // Every page is confirmed; RTN is never sent.
    if (!SendFrame(kFrameCommand, kV21Code, true, fcf::MCF, {}, false))
      return FailReceive(tiff, result);
    if (message == fcf::EOP) {
      ShowStatusF(kStrReceiveEnd, pages);
      if (m_job) m_job->HideProgress();
      return tiff.CloseWriteTiff() == 1 ? kSessionDone : kSessionFailed;
    }
    // EOM: more pages follow after a new phase B (other resolution or size),
    // into the same file; ending the call here would lose them.
    if (message == fcf::EOM && !negotiate(false)) return FailReceive(tiff, result);
    ShowStatusF(kStrReceivingPage, pages + 1);
    if (m_job) m_job->ShowProgress(pages + 1, 0);
    if (Cancelled()) {
      Report(kFunction, kCancelText);
      return FailReceive(tiff, result);
    }
  }
}

int FClass1Func::ProcessRevPhaseA(const StationIdField& csi, FaxResult* result, int tries,
                                  bool afterAnswer) {
  constexpr const char* kFunction = "ProcessRevPhaseA";
  bool firstPass = true;
  while (tries > 0) {
    // After ATA the modem already sends flags: the first CSI needs no command.
    // A retry first stops the frame reception that found nothing.
    bool sent = false;
    if (firstPass && afterAnswer) {
      sent = SendNextFrame(false, fcf::CSI, csi, false);
    } else {
      if (!firstPass) AbortReceive();
      sent = SendFrame(kFrameCommand, kV21Code, false, fcf::CSI, csi, false);
    }
    firstPass = false;
    CapabilityBytes dis{};
    BuildDIS(dis);
    sent = sent && SendNextFrame(true, fcf::DIS, dis, true);
    m_port->Delay(kCommandPauseMs);
    if (!sent || !m_port->WriteCommandF(kReceiveFrameCommand, kV21Code, 0)) {
      --tries;
      continue;
    }
    bool again = false;
    while (!again) {
      Class1Items items;
      const int count = ReadFrameList(items, kFrameItemsMax, m_timeouts.dcsPass, true);
      if (count < 0) return 0;
      if (count == 0) {
        if (tries == 1) {
          Report(kFunction, kErrorText);
          AbortReceive();
          return 0;
        }
        --tries;
        again = true;
        break;
      }
      for (const Class1Item& item : items) {
        if (item.isFrame) continue;
        const int word = ClassifyResult(item.text);
        if (word == kWordError) {
          Report(kFunction, kErrorText);
          return 0;
        }
        if (word == kWordNoCarrier) again = true;
      }
      if (again) {
        if (--tries == 0) {
          Report(kFunction, kErrorText);
          return 0;
        }
        break;
      }
      for (const Class1Item& item : items)
        if (item.Is(fcf::DCN)) {
          Report(kFunction, "Hangup (DCN) frame received.");
          return 0;
        }
      const DcsTaken dcs = TakeDcs(items, result);
      if (dcs != DcsTaken::kNone) return dcs == DcsTaken::kTaken ? 1 : 0;
      if (HasNonFinalFrame(items)) {
        m_port->Delay(kCommandPauseMs);
        if (!m_port->WriteCommandF(kReceiveFrameCommand, kV21Code, 0)) return 0;
      }
    }
  }
  Report(kFunction, kErrorText);
  return 0;
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
    for (;;) {
      Class1Items items;
      if (!GetFrame(items, kFrameItemsMax, m_timeouts.dcsAfterFtt, RepeatMode::kOnCrp)) return -1;
      const DcsTaken dcs = TakeDcs(items, result);
      if (dcs == DcsTaken::kRefused) return -1;
      if (dcs == DcsTaken::kTaken) break;
      if (!HasNonFinalFrame(items)) return -1;
    }
    carrierTries = 0;
  }
  return -1;
}

FClass1Func::TrainCheck FClass1Func::CheckTrainData() {
  const ScopedComPortTimeouts guard(*m_port, true);
  if (!guard.saved() || !m_port->SetComPortTimeouts(DataReads(m_timeouts.tcfData), true))
    return TrainCheck::kPortFailed;
  TcfJudge judge(kClass1Modulations[m_modulation].bitRate);
  std::vector<std::uint8_t> seen;  // what came before CONNECT
  bool connected = false;
  std::vector<std::uint8_t> chunk;
  for (;;) {
    if (ReadPageChunk(chunk) != 1) return TrainCheck::kBad;
    if (!connected) {
      seen.insert(seen.end(), chunk.begin(), chunk.end());
      const std::string_view text = AsText(seen);
      if (text.find(kFcError) != std::string_view::npos) return TrainCheck::kWrongCarrier;
      const std::size_t at = text.find(kConnect);
      if (at == std::string_view::npos) {
        // Keep only a tail that may hold the start of a word.
        if (seen.size() > kFcError.size())
          seen.erase(seen.begin(), seen.end() - static_cast<std::ptrdiff_t>(kFcError.size()));
        continue;
      }
      connected = true;
      // The word and its line end; the training data follows.
      chunk.assign(seen.begin() + static_cast<std::ptrdiff_t>(std::min(at + 9, seen.size())),
                   seen.end());
    }
    const std::size_t used = judge.Feed(chunk.data(), chunk.size());
    if (!judge.ended()) continue;
    if (!judge.Good()) return TrainCheck::kBad;
    const bool ended = AsText(chunk, used).find(kNoCarrier) != std::string_view::npos ||
                       WaitNoCarrier(m_timeouts.tcfNoCarrier, false) == 1;
    return ended ? TrainCheck::kGood : TrainCheck::kBad;
  }
}

// One read of page or training data from the data handle, at most 4096 bytes.
int FClass1Func::ReadPageChunk(std::vector<std::uint8_t>& chunk) {
  chunk.resize(kChunkBytes);
  std::uint32_t got = 0;
  if (!m_port->ReadComDataSYN(Channel::Data, chunk.data(), kChunkBytes, &got, 0)) {
    chunk.clear();
    return 0;
  }
  chunk.resize(got);
  if (got == 0) return 0;
  if (m_job) m_job->AddProgress(got);
  return 1;
}

int FClass1Func::FirstPageData(std::vector<std::uint8_t>& first) {
  constexpr const char* kFunction = "ReceiveFAXClass1";
  std::vector<std::uint8_t> seen;
  std::vector<std::uint8_t> chunk;
  for (;;) {
    if (ReadPageChunk(chunk) != 1) {
      Report(kFunction, kTimeoutText);
      return 0;
    }
    seen.insert(seen.end(), chunk.begin(), chunk.end());
    const std::string_view text = AsText(seen);
    const std::size_t at = text.find(kConnect);
    if (at == std::string_view::npos) {
      // A modem that refuses the carrier ends the command with a final result.
      if (text.find(kFcError) != std::string_view::npos ||
          text.find(kNoCarrier) != std::string_view::npos ||
          text.find(ResultWord(FinalResult::Error)) != std::string_view::npos) {
        Report(kFunction, kErrorText);
        return 0;
      }
      if (seen.size() > kFcError.size())
        seen.erase(seen.begin(), seen.end() - static_cast<std::ptrdiff_t>(kFcError.size()));
      continue;
    }
    std::size_t data = at + kConnect.size();
    // The CONNECT line's end may still be on its way.
    while (data + 2 > seen.size()) {
      if (ReadPageChunk(chunk) != 1) {
        Report(kFunction, kTimeoutText);
        return 0;
      }
      seen.insert(seen.end(), chunk.begin(), chunk.end());
    }
    if (seen[data] == '\r') ++data;
    if (seen[data] == '\n') ++data;
    first.assign(seen.begin() + static_cast<std::ptrdiff_t>(data), seen.end());
    return 1;
  }
}

int FClass1Func::RevClass1FaxPage(TiffOper& tiff, std::span<const std::uint8_t> first,
                                  std::uint32_t& rows) {
  Class1PageDecoder receiver([&tiff](const std::uint8_t* bytes, std::size_t count) {
    return tiff.WriteFaxData(bytes, count) == 1;
  });
  std::vector<std::uint8_t> chunk(first.begin(), first.end());
  for (;;) {
    std::size_t used = 0;
    const Class1PageDecoder::Status status = receiver.Feed(chunk.data(), chunk.size(), used);
    if (status == Class1PageDecoder::Status::kWriteFailed) return -2;
    if (status == Class1PageDecoder::Status::kPageEnd) {
      rows = receiver.Rows();
      if (!receiver.FullRtc())
        ReportError(0, kMsgLogOnly, kModule, "RevClass1FaxPage", "End of page, got EOLs = %d",
                    receiver.EolRun());
      // The modem ends the data with a result line (NO CARRIER).
      if (AsText(chunk, used).find(kNoCarrier) == std::string_view::npos)
        CheckCmdResponse2(kCarrierEndMs, false);
      return 0;
    }
    if (ReadPageChunk(chunk) != 1) {
      Report("RevFaxCls1Access", kTimeoutText);
      return -1;
    }
  }
}

void FClass1Func::DrainPage() {
  m_port->SetComPortTimeouts({kIntervalMs, 0, m_timeouts.drain, 0, 0}, false);
  std::array<std::uint8_t, kChunkBytes> buffer{};
  const std::uint32_t start = TickCountMs();
  while (TickCountMs() - start < kDrainLimitMs) {
    std::uint32_t got = 0;
    if (!m_port->ReadComDataSYN(Channel::Data, buffer.data(), kChunkBytes, &got, kQuiet) ||
        got == 0)
      break;
  }
}

int FClass1Func::FailReceive(TiffOper& tiff, FaxResult* result) {
  if (m_job) m_job->HideProgress();
  m_port->Delay(kCommandPauseMs);
  m_port->WriteCommand("ATH0", kQuiet);
  CheckCmdResponse2(kWaitOkMs, false);
  if (tiff.CloseWriteTiff() != 1 && result) result->pagesTransferred = 0;
  return kSessionFailed;
}

}  // namespace vexo
