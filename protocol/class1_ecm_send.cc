// The Class 1 transmitter in error correction mode (T.30 Annex A, T.4 Annex
// A). Most Class 1 modems offer AT+FTH only at V.21, so the host frames the
// high-speed data itself (flags, FCS, zero-bit insertion) and sends it with
// AT+FTM. Each partial page ends with PPS on V.21; PPR has the frames it names
// sent again, RNR is asked with RR, and the fourth PPR for one partial page
// leads to CTC (a speed step down) or, at the lowest speed, to EOR.
#include <algorithm>
#include <array>

#include "base/error_pool.h"
#include "base/job_control.h"
#include "document/fax_coding.h"
#include "document/tiff_oper.h"
#include "modem/byte_tables.h"
#include "modem/win_com_ce.h"
#include "protocol/class1_func.h"
#include "protocol/class1_session.h"
#include "protocol/hdlc_encoder.h"
#include "protocol/t30_timers.h"

namespace vexo {

using namespace class1;

namespace {

// The frames RCP repeats three times, so that one bit error cannot hide it.
constexpr int kRcpRepeats = 3;
constexpr std::uint32_t kPreambleMs = 100;  // flags ahead of the first frame
constexpr std::size_t kClosingFlags = 4;
// A fourth PPR for one partial page leads to CTC or EOR.
constexpr int kPprsBeforeCtc = 4;

}  // namespace

// ---- frames of a partial page ----

std::vector<std::span<const std::uint8_t>> ecm::SplitBlocks(std::span<const std::uint8_t> data,
                                                            std::size_t frameBytes) {
  const std::size_t blockBytes = kFramesPerBlockMax * std::max<std::size_t>(frameBytes, 1);
  std::vector<std::span<const std::uint8_t>> blocks;
  for (std::size_t at = 0; at < data.size(); at += blockBytes)
    blocks.push_back(data.subspan(at, std::min(blockBytes, data.size() - at)));
  if (blocks.empty()) blocks.push_back(data);
  return blocks;
}

std::vector<std::uint8_t> ecm::BlockTransmission(std::span<const std::uint8_t> block,
                                                 std::size_t frameBytes, const FrameSet& frames,
                                                 std::size_t preambleFlags) {
  hdlc::HdlcEncoder encoder;
  encoder.AddFlags(preambleFlags);
  const std::size_t count = std::min(FrameCount(block.size(), frameBytes), kFramesPerBlockMax);
  std::vector<std::uint8_t> frame;
  for (std::size_t n = 0; n < count; ++n) {
    if (!frames.test(n)) continue;
    const auto data =
        block.subspan(n * frameBytes, std::min(frameBytes, block.size() - n * frameBytes));
    frame.assign({kAddress, kControlNonFinal, fcf::FCD, static_cast<std::uint8_t>(n)});
    frame.insert(frame.end(), data.begin(), data.end());
    frame.resize(4 + frameBytes, 0);  // receivers expect full frames
    encoder.AddFrame(frame);
  }
  const std::array<std::uint8_t, 3> rcp = {kAddress, kControlNonFinal, fcf::RCP};
  for (int n = 0; n < kRcpRepeats; ++n) encoder.AddFrame(rcp);
  encoder.AddFlags(kClosingFlags);
  return encoder.Finish();
}

std::optional<ecm::FrameSet> ecm::FramesAsked(std::span<const std::uint8_t> pprFif,
                                              std::size_t frameCount) {
  if (pprFif.size() != kPprMapBytes) return std::nullopt;
  FrameSet asked;
  for (std::size_t n = 0; n < std::min(frameCount, kFramesPerBlockMax); ++n)
    asked[n] = (pprFif[n / 8] >> (n % 8)) & 1u;
  return asked;
}

// ---- the transmit session's part ----

bool FClass1Func::TransmitEcmPage(TiffOper& tiff, std::uint32_t pageNo, std::uint32_t total) {
  const bool finePage = (tiff.PageInfo().flags & PAGE_FINE) != 0;
  std::optional<std::vector<std::uint8_t>> coded = CodePageForLine(
      tiff, m_link.coding, finePage && !m_remoteFine, finePage && m_remoteFine, true);
  if (!coded) return false;
  for (std::uint8_t& b : *coded) b = kBitReverse[b];  // frames carry bits in line order
  const auto blocks = ecm::SplitBlocks(*coded, m_link.frameBytes);
  const std::uint8_t lastMessage = pageNo < total ? fcf::MPS : fcf::EOP;
  for (std::size_t n = 0; n < blocks.size(); ++n) {
    const bool lastBlock = n + 1 == blocks.size();
    m_ecmEnd = SendEcmBlock(blocks[n], lastBlock ? lastMessage : fcf::kPpsNull,
                            static_cast<std::uint8_t>(pageNo - 1), static_cast<std::uint8_t>(n));
    if (m_ecmEnd == EcmEnd::kFailed) return false;
    if (m_ecmEnd != EcmEnd::kConfirmed) return true;
    if (m_job) m_job->SetProgressPercent(static_cast<std::uint32_t>((n + 1) * 100 / blocks.size()));
  }
  return true;
}

// A page given up with EOR counts as refused and ends the call partly sent;
// an unanswered one as an unanswered post-page message.
PageAnswer FClass1Func::AnswerEcmPage(bool last, std::uint32_t pageNo) {
  switch (m_ecmEnd) {
    case EcmEnd::kConfirmed:
      return {.confirmed = true, .goOn = true};
    case EcmEnd::kGivenUp:
      ReportError(0, kMsgDefault, kModule, "SendFAXClass1",
                  "Page %u was refused by the remote fax machine.", pageNo);
      return {.refused = true, .endsPartly = true};
    case EcmEnd::kUnanswered:
    case EcmEnd::kFailed:
      break;
  }
  return {.endsPartly = last};
}

FClass1Func::EcmEnd FClass1Func::SendEcmBlock(std::span<const std::uint8_t> block,
                                              std::uint8_t fcf2, std::uint8_t page,
                                              std::uint8_t blockNo) {
  constexpr const char* kFunction = "SendEcmBlock";
  const std::size_t count = ecm::FrameCount(block.size(), m_link.frameBytes);
  ecm::FrameSet wanted;
  for (std::size_t n = 0; n < count; ++n) wanted.set(n);
  const std::array<std::uint8_t, 4> pps = {fcf2, page, blockNo,
                                           static_cast<std::uint8_t>(count == 0 ? 0 : count - 1)};
  int pprs = 0;
  for (;;) {
    if (!WriteEcmFrames(block, wanted)) return EcmEnd::kFailed;
    if (fcf2 != fcf::kPpsNull) ShowStatus(kStrPageSentWaiting);
    if (!PauseBeforeV21()) return EcmEnd::kFailed;
    const std::optional<Class1Item> answer = EcmCommand(fcf::PPS, pps, false);
    if (!answer) return EcmEnd::kUnanswered;
    if (answer->Is(fcf::MCF)) return EcmEnd::kConfirmed;
    if (!answer->Is(fcf::PPR)) {
      Report(kFunction, "The remote fax machine answered PPS with neither MCF nor PPR.");
      return EcmEnd::kUnanswered;
    }
    const std::optional<ecm::FrameSet> asked = ecm::FramesAsked(answer->Fif(), count);
    if (!asked) {
      Report(kFunction, "The remote fax machine sent a PPR without a 32-byte frame map.");
      return EcmEnd::kUnanswered;
    }
    wanted = *asked;
    if (++pprs < kPprsBeforeCtc) continue;
    pprs = 0;
    if (!FallBack(m_tx.dcs)) return EndRetransmission(fcf2);
    if (!ContinueToCorrect()) return EcmEnd::kUnanswered;
  }
}

bool FClass1Func::WriteEcmFrames(std::span<const std::uint8_t> block, const ecm::FrameSet& frames) {
  const std::uint32_t rate = kClass1Modulations[m_modulation].bitRate;
  const std::vector<std::uint8_t> line =
      ecm::BlockTransmission(block, m_link.frameBytes, frames, rate * kPreambleMs / 8000);
  std::vector<std::uint8_t> stuffed;
  stuffed.reserve(line.size() + line.size() / 64);
  for (const std::uint8_t b : line) {
    if (b == kDle) stuffed.push_back(kDle);
    stuffed.push_back(b);
  }
  const int modulation = m_tx.ecmLongTrain ? ToLongTrain(m_modulation) : ToShortTrain(m_modulation);
  m_tx.ecmLongTrain = false;
  m_port->Delay(kCommandPauseMs);
  return m_port->WriteCommandF("AT+FTM=%s", kClass1Modulations[modulation].code, 0) &&
         CheckCmdResponse2(kWaitOkMs, true) && WriteDataEnd(stuffed) &&
         CheckCmdResponse2(m_timeouts.pageOk, true);
}

// T.30's command and response, with one difference to GetFrame: a damaged
// answer (a frame cut by the line) is waited out with a new AT+FRH before the
// command goes again, so that the repeat does not start while the far end
// still sends; a command repeated into its transmission would be lost, and
// the far end, waiting for the partial page, would end the call.
std::optional<Class1Item> FClass1Func::EcmCommand(std::uint8_t fcfValue,
                                                  std::span<const std::uint8_t> fif,
                                                  bool reverseBits) {
  if (!SendFrame(kFrameCommand, kV21Code, true, fcfValue, fif, reverseBits)) return std::nullopt;
  const auto readyBy = DeadlineIn(t30::kT5Ms);
  int tries = 1;
  bool waitedOut = false;
  for (;;) {
    Class1Items items;
    const Heard heard = ListenOnce(items, kFrameItemsMax, m_timeouts.postPageAnswer);
    if (heard == Heard::kPortFailed) return std::nullopt;
    if (heard == Heard::kDisconnect) {
      Report("GetFrame", "Call answered without successful FAX handshake.");
      return std::nullopt;
    }
    const Class1Item* frame = heard == Heard::kFrame ? FirstFrame(items) : nullptr;
    if (frame != nullptr && !frame->Is(fcf::RNR)) return *frame;
    if (frame != nullptr) {  // RNR: asked again with RR until T5 runs out
      if (MsUntil(readyBy) == 0) {
        Report("EcmCommand", "The remote fax machine was not ready within T5.");
        return std::nullopt;
      }
      if (!SendFrame(kFrameCommand, kV21Code, true, fcf::RR, {}, false)) return std::nullopt;
      tries = 1;
      continue;
    }
    if (heard == Heard::kDamaged && !waitedOut) {
      waitedOut = true;
      continue;
    }
    if (++tries > t30::kCommandTries) {
      Report("GetFrame", kTimeoutText);
      return std::nullopt;
    }
    waitedOut = false;
    if (!RepeatLastFrame()) return std::nullopt;
  }
}

// CTC names the new speed (the DCS rate bits in its second byte); after CTR
// the next partial page trains long.
bool FClass1Func::ContinueToCorrect() {
  const std::array<std::uint8_t, 2> ctc = {
      0, static_cast<std::uint8_t>(m_tx.dcs[1] & capbit::kRateMask)};
  const std::optional<Class1Item> answer = EcmCommand(fcf::CTC, ctc, true);
  if (!answer) return false;
  if (!answer->Is(fcf::CTR)) {
    Report("ContinueToCorrect", "The remote fax machine did not answer CTC with CTR.");
    return false;
  }
  m_tx.ecmLongTrain = true;
  return true;
}

FClass1Func::EcmEnd FClass1Func::EndRetransmission(std::uint8_t fcf2) {
  const std::array<std::uint8_t, 1> eor = {fcf2};
  const std::optional<Class1Item> answer = EcmCommand(fcf::EOR, eor, false);
  if (answer && answer->Is(fcf::ERR)) return EcmEnd::kGivenUp;
  if (answer) Report("EndRetransmission", "The remote fax machine did not answer EOR with ERR.");
  return EcmEnd::kUnanswered;
}

}  // namespace vexo
