#include "tools/linesim/v21_frame_tracker.h"

#include <algorithm>

#include "tools/linesim/audio.h"

namespace vexo::linesim {
namespace {

constexpr int kBitRate = 300;  // V.21
constexpr double kSamplesPerBit = static_cast<double>(kSampleRate) / kBitRate;
// Samples handed to the demodulator at a time: bit times are known this finely.
constexpr std::size_t kChunk = 4;
// The demodulator reports a bit about one bit time after its audio.
constexpr int kDemodulatorLagBits = 1;
// Flags in a row before a run counts as a V.21 preamble: random bits of a
// high-speed carrier heard through a V.21 receiver practically never make three.
constexpr int kBurstFlags = 3;
constexpr int kFlagBits = 8;
constexpr std::size_t kMaxFrameBits = 260 * 8;
constexpr std::size_t kMinFrameOctets = 5;  // address, control, FCF, FCS

}  // namespace

V21FrameTracker::V21FrameTracker() {
  m_fsk = fsk_rx_init(nullptr, &preset_fsk_specs[FSK_V21CH2], FSK_FRAME_MODE_SYNC,
                      &V21FrameTracker::PutBit, this);
}

V21FrameTracker::~V21FrameTracker() {
  if (m_fsk != nullptr) fsk_rx_free(m_fsk);
}

std::vector<FrameEvent> V21FrameTracker::Feed(std::span<const std::int16_t> block,
                                              std::int64_t first) {
  m_events.clear();
  if (m_fsk == nullptr) return {};
  for (std::size_t i = 0; i < block.size(); i += kChunk) {
    const std::size_t n = std::min(kChunk, block.size() - i);
    m_now = first + static_cast<std::int64_t>(i + n);
    fsk_rx(m_fsk, block.data() + i, static_cast<int>(n));
  }
  return std::move(m_events);
}

std::int64_t V21FrameTracker::BitsBack(int bits) const {
  return m_now - static_cast<std::int64_t>((bits + kDemodulatorLagBits) * kSamplesPerBit);
}

void V21FrameTracker::PutBit(void* self, int bit) {
  auto& tracker = *static_cast<V21FrameTracker*>(self);
  if (bit >= 0) {
    tracker.OnBit(bit & 1);
  } else if (bit == SIG_STATUS_CARRIER_DOWN) {
    tracker.Lose();
  }
}

void V21FrameTracker::Lose() {
  if (m_state != State::kHunt) m_events.push_back({FrameEvent::Kind::kIdle, m_now, {}, false});
  m_state = State::kHunt;
  m_ones = 0;
  m_flagRun = 0;
  m_inBurst = false;
  m_afterGood = false;
  m_bits.clear();
}

void V21FrameTracker::OnBit(int bit) {
  if (bit == 1) {
    if (++m_ones >= 7) {
      Lose();  // an abort, or no HDLC at all
      return;
    }
    OnDataBit(1);
    return;
  }
  const int ones = m_ones;
  m_ones = 0;
  if (ones == 6) {
    OnFlag();
  } else if (ones != 5) {  // a zero after five ones is stuffing
    OnDataBit(0);
  }
}

void V21FrameTracker::OnDataBit(int bit) {
  if (m_state == State::kHunt) return;
  if (m_bits.empty()) m_dataStart = BitsBack(0);
  m_bits.push_back(static_cast<std::uint8_t>(bit));
  if (m_bits.size() > kMaxFrameBits) {
    Lose();
    return;
  }
  // A flag's first seven bits arrive as data before it is recognised; eight
  // data bits after a flag are the start of a frame.
  if (m_state == State::kFlags && m_bits.size() == kFlagBits) {
    if (!m_inBurst && !m_afterGood) {
      Lose();
      return;
    }
    m_state = State::kFrame;
    m_events.push_back({FrameEvent::Kind::kFrameStart, m_dataStart, {}, false});
  }
}

void V21FrameTracker::OnFlag() {
  // The flag's leading zero and six ones were taken as data.
  const std::size_t flagPart = std::min<std::size_t>(m_bits.size(), kFlagBits - 1);
  m_bits.resize(m_bits.size() - flagPart);
  const std::int64_t flagStart = BitsBack(kFlagBits);
  if (m_state == State::kFrame) {
    FrameEvent end{FrameEvent::Kind::kFrameEnd, flagStart, {}, false};
    for (std::size_t i = 0; i + 8 <= m_bits.size(); i += 8) {
      std::uint8_t octet = 0;
      for (int b = 0; b < 8; ++b) octet |= static_cast<std::uint8_t>(m_bits[i + b] << b);
      end.frame.push_back(octet);  // HDLC sends each octet least significant bit first
    }
    end.good = m_bits.size() % 8 == 0 && end.frame.size() >= kMinFrameOctets &&
               crc_itu16_check(end.frame.data(), static_cast<int>(end.frame.size()));
    m_afterGood = end.good;
    m_events.push_back(std::move(end));
    m_state = State::kFlags;
    m_flagRun = 1;
  } else if (m_state == State::kHunt || !m_bits.empty()) {
    m_state = State::kFlags;
    m_flagRun = 1;
    m_firstFlag = flagStart;
  } else if (++m_flagRun == kBurstFlags && !m_inBurst) {
    m_inBurst = true;
    m_events.push_back({FrameEvent::Kind::kBurst, m_firstFlag, {}, false});
  }
  m_bits.clear();
}

}  // namespace vexo::linesim
