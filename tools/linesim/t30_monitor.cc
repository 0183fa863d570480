#include "tools/linesim/t30_monitor.h"

#include <algorithm>

namespace vexo::linesim {
namespace {

constexpr int kHdlcFramingOkThreshold = 5;  // flags before a frame counts
constexpr std::size_t kFifStart = 3;        // address, control, FCF, then FIF
constexpr std::size_t kIdentLength = 20;
constexpr std::uint8_t kFinalBit = 0x01;  // the X bit of an FCF from the caller

// DCS bits 11 to 14 (FIF octet 2) choose the modem and rate; bit 15 fine resolution.
constexpr std::uint8_t kDcsRateMask = 0x3C;
constexpr std::uint8_t kDcsFineBit = 0x40;
// DCS bit 16 (FIF octet 2) chooses 2-D coding; bits 27 and 31 (octet 4) ECM and T.6.
constexpr std::size_t kDcsTwoDimOctet = 1;
constexpr std::uint8_t kDcsTwoDimBit = 0x80;
constexpr std::size_t kDcsEcmOctet = 3;
constexpr std::uint8_t kDcsEcmBit = 0x04;
constexpr std::uint8_t kDcsT6Bit = 0x40;
struct DcsRate {
  std::uint8_t code;
  int bitRate;
};
constexpr DcsRate kDcsRates[] = {{0x20, 14400}, {0x28, 12000}, {0x24, 9600}, {0x04, 9600},
                                 {0x2C, 7200},  {0x0C, 7200},  {0x08, 4800}, {0x00, 2400}};

// Identifiers travel last character first, padded with spaces.
std::string DecodeIdent(std::span<const std::uint8_t> fif) {
  std::string ident;
  for (std::size_t i = std::min(fif.size(), kIdentLength); i > 0; --i)
    ident += static_cast<char>(fif[i - 1]);
  const auto first = ident.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return ident.substr(first, ident.find_last_not_of(' ') - first + 1);
}

bool IsPostPage(std::uint8_t fcf) {
  return fcf == T30_MPS || fcf == T30_EOP || fcf == T30_EOM || fcf == T30_PRI_MPS ||
         fcf == T30_PRI_EOP || fcf == T30_PRI_EOM;
}

}  // namespace

T30Monitor::T30Monitor() { Start(); }

T30Monitor::~T30Monitor() { Stop(); }

void T30Monitor::Start() {
  for (int i = 0; i < 2; ++i) {
    Receiver& r = m_receivers[i];
    r.monitor = this;
    r.direction = static_cast<Direction>(i);
    r.hdlc = hdlc_rx_init(nullptr, false, false, kHdlcFramingOkThreshold, &T30Monitor::OnHdlc, &r);
    r.fsk = fsk_rx_init(nullptr, &preset_fsk_specs[FSK_V21CH2], FSK_FRAME_MODE_SYNC,
                        &T30Monitor::PutBit, &r);
  }
}

void T30Monitor::Stop() {
  for (auto& r : m_receivers) {
    if (r.fsk != nullptr) fsk_rx_free(r.fsk);
    if (r.hdlc != nullptr) hdlc_rx_free(r.hdlc);
    r.fsk = nullptr;
    r.hdlc = nullptr;
  }
}

void T30Monitor::Reset() {
  Stop();
  Start();
  m_seen = {};
  m_postPagePending[0] = m_postPagePending[1] = false;
}

void T30Monitor::Listen(Direction direction, std::span<const std::int16_t> block) {
  Receiver& r = m_receivers[static_cast<int>(direction)];
  if (r.fsk != nullptr) fsk_rx(r.fsk, block.data(), static_cast<int>(block.size()));
  // Both directions pass each block: time is counted once.
  if (direction == Direction::kFromFar && m_seen.samplesSincePageGo >= 0)
    m_seen.samplesSincePageGo += static_cast<std::int64_t>(block.size());
}

void T30Monitor::PutBit(void* receiver, int bit) {
  auto& r = *static_cast<Receiver*>(receiver);
  hdlc_rx_put_bit(r.hdlc, bit);
}

void T30Monitor::OnHdlc(void* receiver, const std::uint8_t* frame, int length, int ok) {
  auto& r = *static_cast<Receiver*>(receiver);
  // A negative length reports carrier and framing changes, not a frame.
  if (length <= 0 || !ok) return;
  r.monitor->OnFrame(r.direction, std::span(frame, static_cast<std::size_t>(length)));
}

void T30Monitor::OnFrame(Direction direction, std::span<const std::uint8_t> frame) {
  if (frame.size() < kFifStart) return;
  const auto fcf = static_cast<std::uint8_t>(frame[2] & ~kFinalBit);
  const auto fif = frame.subspan(kFifStart);
  const int from = static_cast<int>(direction);
  if (fcf == T30_CFR || fcf == T30_MCF) m_seen.samplesSincePageGo = 0;
  if (fcf == T30_CSI || fcf == T30_TSI) {
    (direction == Direction::kFromModem ? m_seen.identFromModem : m_seen.identFromFar) =
        DecodeIdent(fif);
  } else if (fcf == T30_DCS && fif.size() >= 2) {
    const auto code = static_cast<std::uint8_t>(fif[1] & kDcsRateMask);
    for (const auto& rate : kDcsRates)
      if (rate.code == code) m_seen.bitRate = rate.bitRate;
    m_seen.resolution = (fif[1] & kDcsFineBit) != 0 ? "fine" : "normal";
    const std::uint8_t ecmOctet = fif.size() > kDcsEcmOctet ? fif[kDcsEcmOctet] : 0;
    m_seen.ecm = (ecmOctet & kDcsEcmBit) != 0;
    if ((ecmOctet & kDcsT6Bit) != 0) {
      m_seen.coding = "T.6";
    } else {
      m_seen.coding = (fif[kDcsTwoDimOctet] & kDcsTwoDimBit) != 0 ? "T.4 2-D" : "T.4 1-D";
    }
  } else if (fcf == T30_DCN) {
    m_seen.disconnected = true;
  } else if (IsPostPage(fcf)) {
    m_postPagePending[from] = true;
  } else if (fcf == T30_MCF && m_postPagePending[1 - from]) {
    m_postPagePending[1 - from] = false;
    ++m_seen.pagesConfirmed;
  } else if (fcf == T30_RTN || fcf == T30_RTP) {
    // RTP accepts the page and asks for retraining; RTN rejects it.
    if (fcf == T30_RTP && m_postPagePending[1 - from]) ++m_seen.pagesConfirmed;
    m_postPagePending[1 - from] = false;
  }
}

}  // namespace vexo::linesim
