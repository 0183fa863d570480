// The Class 1 receiver's side of error correction mode (T.30 Annex A, T.4
// Annex A). Most Class 1 modems receive HDLC frames only at V.21, so the
// partial pages come as raw data through AT+FRM and the frames are found by
// the host (HdlcDecoder). After each partial page the caller's command comes
// on V.21: PPS is answered with MCF once every frame of the block is here,
// else with PPR naming the frames still missing, which the caller sends
// again; CTC (a lower speed, long training next) with CTR; EOR (the caller
// gives the block up) with ERR. A page is filed when its last block is
// complete and it decodes; the file keeps the coding the page came in.
#include <algorithm>
#include <string_view>

#include "base/error_pool.h"
#include "document/fax_coding.h"
#include "document/tiff_oper.h"
#include "modem/byte_tables.h"
#include "modem/final_results.h"
#include "modem/win_com_ce.h"
#include "protocol/class1_func.h"
#include "protocol/class1_session.h"
#include "protocol/dle_unstuffer.h"
#include "protocol/ecm_block.h"
#include "protocol/hdlc_decoder.h"
#include "protocol/t30_timers.h"

namespace vexo {

using namespace class1;

namespace {

constexpr const char* kFunction = "ReceiveEcmPage";
// The modem's result line after the data's DLE ETX.
constexpr std::uint32_t kCarrierEndMs = 5000;
constexpr std::string_view kNoCarrier = ResultWord(FinalResult::NoCarrier);
// AT+FRM for a partial page is given this many times (after bursts of noise).
constexpr int kBurstStartTries = 2 * t30::kCommandTries;
// Receptions while waiting for one command, as for the post-page messages.
constexpr int kReceptionsMax = 3 * t30::kCommandTries;
// The caller sends CTC or EOR after its fourth PPR for a block: four rounds
// of four PPRs at ever lower speeds are the most a block gets.
constexpr int kPprsPerBlockMax = 16;
// Commands and bursts for one block, repeats and CRPs included.
constexpr int kRoundsPerBlockMax = 4 * kPprsPerBlockMax;
// The block counter of PPS has eight bits.
constexpr std::size_t kBlocksPerPageMax = 256;
// PPS: the post-page part, the page, block and frame counts.
constexpr std::size_t kPpsFifBytes = 4;
// CTC: the first two DCS bytes, the second with the new rate.
constexpr std::size_t kCtcFifBytes = 2;

// The data after AT+FRM with its DLE escapes resolved, up to DLE ETX.
class DleReader {
 public:
  // Appends the data in `in` to out; returns the bytes of `in` used (all, or
  // up to the DLE ETX).
  std::size_t Feed(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out) {
    for (std::size_t i = 0; i < in.size(); ++i) {
      DleUnstuffer::Out bytes;
      const int taken = m_unstuffer.Take(in[i], bytes);
      if (taken == DleUnstuffer::kEnd) {
        m_ended = true;
        return i + 1;
      }
      out.insert(out.end(), bytes.begin(), bytes.begin() + taken);
    }
    return in.size();
  }
  bool Ended() const { return m_ended; }

 private:
  DleUnstuffer m_unstuffer;
  bool m_ended = false;
};

// The post-page message a PPS or EOR carries for a page's last block; 0 for
// a block within the page (PPS-NULL) or an unknown one.
std::uint8_t PageEndOf(std::uint8_t fcf2) {
  for (const std::uint8_t message : {fcf::MPS, fcf::EOP, fcf::EOM})
    if (SameFcf(fcf2, message)) return message;
  return 0;
}

// The modulation a CTC asks for (its DCS rate bits), long training first;
// -1 when the modem has none.
template <typename Offers>
int ModulationOfRate(std::uint8_t rate, Offers offers) {
  for (int i = kMod2400; i < kModulationCount; ++i)
    if (kClass1Modulations[i].rateBits == rate && offers(i)) return i;
  return -1;
}

void ReportFaults(unsigned faults) {
  if (faults & EcmBlock::kFrameTooLong)
    Report(kFunction, "ECM frame longer than the frame size agreed; asked for again.");
  if (faults & EcmBlock::kNumberBeyondCount)
    Report(kFunction, "ECM frame numbered beyond the frames of the partial page; ignored.");
}

}  // namespace

// One page's partial pages and where the last command left them.
struct FClass1Func::EcmPage {
  explicit EcmPage(std::size_t frameBytes) : block(frameBytes) {}
  EcmBlock block;
  std::vector<std::uint8_t> data;  // the confirmed blocks' data, line bit order
  std::size_t blocks = 0;
  int pprs = 0;    // of the block now coming
  int rounds = 0;  // of the block now coming
  bool longTrain = false;
  bool lossy = false;  // a block was given up (EOR)
  std::uint8_t pageCount = 0;
  std::uint8_t blockCount = 0;  // of the block's PPS
  std::uint8_t message = 0;     // the page's post-page message once it is done
  void NextBlock() {
    block.AppendData(data);
    block.Clear();
    ++blocks;
    pprs = 0;
    rounds = 0;
  }
};

std::uint8_t FClass1Func::ReceiveEcmPage(TiffOper& tiff) {
  EcmPage page(m_link.frameBytes);
  const std::uint8_t message = ReceiveEcmBlocks(page, tiff);
  if (message == 0) {
    // The call ended inside the page: its confirmed blocks are what arrived.
    std::vector<std::uint8_t> coded(page.data.size());
    std::transform(page.data.begin(), page.data.end(), coded.begin(),
                   [](std::uint8_t b) { return kBitReverse[b]; });
    KeepCutPage(tiff, coded, m_pageWidth);
  }
  return message;
}

std::uint8_t FClass1Func::ReceiveEcmBlocks(EcmPage& page, TiffOper& tiff) {
  EcmNext next = EcmNext::kBurst;
  while (++page.rounds <= kRoundsPerBlockMax && page.blocks < kBlocksPerPageMax) {
    if (next == EcmNext::kBurst) {
      const EcmBurst burst = ReceiveEcmBurst(page);
      if (burst == EcmBurst::kFailed) return 0;
      if (burst == EcmBurst::kEnded) page.longTrain = false;
    }
    const auto command = AwaitEcmCommand();
    if (!command) return 0;
    next = TakeEcmCommand(*command, page, tiff);
    if (next == EcmNext::kFailed) return 0;
    if (next == EcmNext::kPageDone) return page.message;
  }
  Report(kFunction, "The caller does not complete the partial page; the call ends.");
  return 0;
}

FClass1Func::EcmBurst FClass1Func::ReceiveEcmBurst(EcmPage& page) {
  const int modulation = page.longTrain ? ToLongTrain(m_modulation) : ToShortTrain(m_modulation);
  for (int attempt = 0; attempt < kBurstStartTries; ++attempt) {
    m_port->Delay(kCommandPauseMs);
    if (!m_port->WriteCommandF("AT+FRM=%s", kClass1Modulations[modulation].code, 0))
      return EcmBurst::kFailed;
    std::vector<std::uint8_t> first;
    switch (AwaitCarrier(first)) {
      case Carrier::kConnected:
        return ReadEcmFrames(page, std::move(first)) ? EcmBurst::kEnded : EcmBurst::kFailed;
      case Carrier::kTimeout:
        Report(kFunction, kTimeoutText);
        return EcmBurst::kFailed;
      case Carrier::kLost:
        break;  // a burst of noise: the partial page is still to come
      case Carrier::kV21:
        return EcmBurst::kCommand;  // the caller's command instead (its frames were missed)
    }
  }
  Report(kFunction, kErrorText);
  return EcmBurst::kFailed;
}

bool FClass1Func::ReadEcmFrames(EcmPage& page, std::vector<std::uint8_t> chunk) {
  EcmBlock& block = page.block;
  hdlc::HdlcDecoder decoder([&block](std::span<const std::uint8_t> frame, bool good) {
    if (good) block.Take(frame);
  });
  DleReader dle;
  std::vector<std::uint8_t> data;
  for (;;) {
    data.clear();
    const std::size_t used = dle.Feed(chunk, data);
    decoder.Feed(data);
    if (dle.Ended()) {
      // The modem ends the data with a result line (NO CARRIER).
      const std::string_view rest(reinterpret_cast<const char*>(chunk.data()) + used,
                                  chunk.size() - used);
      if (rest.find(kNoCarrier) == std::string_view::npos) CheckCmdResponse2(kCarrierEndMs, false);
      return true;
    }
    if (ReadPageChunk(chunk, Channel::Data) != 1) {
      Report("RevFaxCls1Access", kTimeoutText);
      return false;
    }
  }
}

std::optional<Class1Item> FClass1Func::AwaitEcmCommand() {
  int silences = 0;
  for (int reception = 0; reception < kReceptionsMax && silences < t30::kCommandTries;
       ++reception) {
    Class1Items items;
    switch (ListenOnce(items, kFrameItemsMax, m_timeouts.postPageMessage)) {
      case Heard::kFrame:
        for (const Class1Item& item : items)
          for (const std::uint8_t command : {fcf::PPS, fcf::CTC, fcf::EOR, fcf::RR, fcf::DCS})
            if (item.Is(command)) return item;
        break;  // other frames: the command was missed and comes again
      case Heard::kDamaged:
        // Ask for the command again rather than wait for the caller's T4.
        if (!SendFrame(kFrameCommand, kV21Code, true, fcf::CRP, {}, false)) return std::nullopt;
        break;
      case Heard::kRepeatRequest:
        if (!RepeatLastFrame()) return std::nullopt;
        break;
      case Heard::kSilence:
        ++silences;  // the caller repeats its command after its T4
        break;
      case Heard::kDisconnect:
        Report(kFunction, "Hangup (DCN) frame received.");
        return std::nullopt;
      case Heard::kPortFailed:
        return std::nullopt;
    }
  }
  Report("GetFrame", kTimeoutText);
  return std::nullopt;
}

FClass1Func::EcmNext FClass1Func::TakeEcmCommand(const Class1Item& command, EcmPage& page,
                                                 TiffOper& tiff) {
  if (command.Is(fcf::PPS)) return TakePps(command.Fif(), page, tiff);
  if (command.Is(fcf::CTC)) return TakeCtc(command.Fif(), page);
  if (command.Is(fcf::EOR)) return TakeEor(command.Fif(), page, tiff);
  // DCS: the caller did not hear our CFR and trains again, maybe slower.
  if (command.Is(fcf::DCS))
    return AnalysisDCS(command) && Train(nullptr) ? EcmNext::kBurst : EcmNext::kFailed;
  // RR: we never ask the caller to wait, so it missed our last answer.
  return RepeatLastFrame() ? EcmNext::kBurst : EcmNext::kFailed;
}

FClass1Func::EcmNext FClass1Func::TakePps(std::span<const std::uint8_t> fif, EcmPage& page,
                                          TiffOper& tiff) {
  if (fif.size() < kPpsFifBytes) {
    Report(kFunction, "PPS frame too short.");
    return EcmNext::kFailed;
  }
  const std::uint8_t fcf2 = fif[0];
  // The PPS of the block confirmed last: the caller missed our answer.
  if (m_ecmConfirmed && m_ecmConfirmed->page == fif[1] && m_ecmConfirmed->block == fif[2])
    return SendEcmResponse(m_ecmConfirmed->response) ? EcmNext::kBurst : EcmNext::kFailed;
  page.pageCount = fif[1];
  page.blockCount = fif[2];
  page.block.SetFrameCount(std::size_t{fif[3]} + 1);
  ReportFaults(page.block.TakeNewFaults());
  if (!page.block.Complete()) {
    if (++page.pprs > kPprsPerBlockMax) {
      Report(kFunction, "The partial page stays incomplete after every PPR; the call ends.");
      return EcmNext::kFailed;
    }
    ReportError(0, kMsgLogOnly, kModule, kFunction, "PPR: %zu of %zu frames missing",
                page.block.Missing(), page.block.FrameCount().value_or(0));
    const PprMap map = page.block.MissingMap();
    return SendEcmResponse(fcf::PPR, map) ? EcmNext::kBurst : EcmNext::kFailed;
  }
  page.NextBlock();
  if (PageEndOf(fcf2) == 0 && !SameFcf(fcf2, fcf::kPpsNull)) {
    Report(kFunction, "Unknown post-page message in PPS.");
    return EcmNext::kFailed;
  }
  return EndEcmPage(fcf2, fcf::MCF, page, tiff);
}

FClass1Func::EcmNext FClass1Func::TakeCtc(std::span<const std::uint8_t> fif, EcmPage& page) {
  CapabilityBytes dcs{};
  if (fif.size() >= kCtcFifBytes) dcs[1] = kBitReverse[fif[1]];
  const int modulation =
      fif.size() < kCtcFifBytes
          ? -1
          : ModulationOfRate(RateBitsOf(dcs), [this](int index) { return Offers(index); });
  if (modulation < 0) {
    Report(kFunction, "Unknown data rate code inside CTC frame.");
    return EcmNext::kFailed;
  }
  // T.30: after CTC the next partial page begins with long training.
  m_modulation = modulation;
  page.longTrain = true;
  return SendEcmResponse(fcf::CTR) ? EcmNext::kBurst : EcmNext::kFailed;
}

FClass1Func::EcmNext FClass1Func::TakeEor(std::span<const std::uint8_t> fif, EcmPage& page,
                                          TiffOper& tiff) {
  // EOR before any PPS of the block: the caller missed our ERR.
  if (!page.block.FrameCount())
    return SendEcmResponse(fcf::ERR) ? EcmNext::kBurst : EcmNext::kFailed;
  const std::uint8_t fcf2 = fif.empty() ? fcf::kPpsNull : fif[0];
  ReportError(0, kMsgLogOnly, kModule, kFunction,
              "Partial page given up by the caller (EOR): %zu of %zu frames lost",
              page.block.Missing(), page.block.FrameCount().value_or(0));
  page.lossy = true;
  page.NextBlock();
  return EndEcmPage(fcf2, fcf::ERR, page, tiff);
}

FClass1Func::EcmNext FClass1Func::EndEcmPage(std::uint8_t fcf2, std::uint8_t response,
                                             EcmPage& page, TiffOper& tiff) {
  const std::uint8_t message = PageEndOf(fcf2);
  if (message != 0) {
    const bool filed = FileEcmPage(tiff, page);
    page.data.clear();  // filed or refused: it is not kept a second time
    if (!filed) return EcmNext::kFailed;
  }
  if (!SendEcmResponse(response)) return EcmNext::kFailed;
  m_ecmConfirmed = EcmConfirmed{page.pageCount, page.blockCount, response};
  page.message = message;
  return message != 0 ? EcmNext::kPageDone : EcmNext::kBurst;
}

bool FClass1Func::FileEcmPage(TiffOper& tiff, const EcmPage& page) {
  std::vector<std::uint8_t> coded(page.data.size());
  std::transform(page.data.begin(), page.data.end(), coded.begin(),
                 [](std::uint8_t b) { return kBitReverse[b]; });
  const FaxCoding coding = m_link.coding;
  const auto decoded = DecodeFaxPage(coded, coding, m_pageWidth, m_fine);
  // Error correction delivers the page as it was sent: a page that does not
  // decode was coded wrongly and is not kept; after EOR what decodes is kept.
  if (!decoded || decoded->bitmap.rows == 0 || (!decoded->complete && !page.lossy)) {
    ReportError(0, kMsgDefault, kModule, kFunction,
                "The %s page received does not decode; it is not kept.", CodingName(coding));
    return false;
  }
  if (page.lossy || decoded->badRows > 0) {
    ReportError(0, kMsgLogOnly, kModule, kFunction, "Page kept with %u of %u rows lost",
                decoded->badRows, decoded->bitmap.rows);
    coded = EncodeFaxPage(decoded->bitmap, coding, m_fine, true);
  }
  const std::uint32_t flags = PageFlagsOfCoding(coding) | (m_fine ? PAGE_FINE : 0);
  return tiff.SetPageTags(m_pageWidth, 1, flags) == 1 &&
         tiff.WriteFaxData(coded.data(), coded.size()) == 1 &&
         tiff.EndPage(decoded->bitmap.rows) == 1;
}

bool FClass1Func::SendEcmResponse(std::uint8_t fcfValue, std::span<const std::uint8_t> fif) {
  return SendFrame(kFrameCommand, kV21Code, true, fcfValue, fif, false) == 1;
}

}  // namespace vexo
