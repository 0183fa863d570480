#include "protocol/hdlc_decoder.h"

#include "protocol/hdlc_fcs.h"

namespace vexo::hdlc {
namespace {

constexpr int kOnesBeforeStuffing = 5;
constexpr int kOnesOfFlag = 6;
constexpr int kOnesOfAbort = 7;
// The bits of a flag taken as data before its sixth one shows what it is:
// its opening zero and five ones.
constexpr std::size_t kFlagBitsTaken = 6;
// Address, control, FCF and the FCS: anything shorter is no frame.
constexpr std::size_t kMinFrameBytes = 5;
constexpr std::size_t kFcsBytes = 2;

}  // namespace

void HdlcDecoder::Feed(std::span<const std::uint8_t> bytes) {
  for (const std::uint8_t byte : bytes)
    for (int bit = 0; bit < 8; ++bit) TakeBit((byte >> bit) & 1u);
}

void HdlcDecoder::TakeBit(bool one) {
  if (one) {
    if (++m_onesInRow == kOnesOfAbort) Drop();  // the sender gave the frame up
    if (m_onesInRow > kOnesBeforeStuffing) return;
  } else {
    const int ones = m_onesInRow;
    m_onesInRow = 0;
    if (ones == kOnesBeforeStuffing) return;  // a zero inserted by the sender
    if (ones == kOnesOfFlag) {
      EndFrame();
      m_inFrame = true;
      return;
    }
    if (ones > kOnesOfFlag) return;  // the idle line after an abort
  }
  if (!m_inFrame) return;
  if (m_bitCount % 8 == 0) m_frame.push_back(0);
  if (one) m_frame.back() = static_cast<std::uint8_t>(m_frame.back() | (1u << (m_bitCount % 8)));
  if (++m_bitCount > kMaxFrameBytes * 8 + kFlagBitsTaken) Drop();  // noise, not a frame
}

void HdlcDecoder::EndFrame() {
  if (m_inFrame && m_bitCount >= kFlagBitsTaken) {
    const std::size_t bits = m_bitCount - kFlagBitsTaken;
    const std::size_t bytes = bits / 8;
    // A frame of whole octets; between frames only flags (or a few bits of noise).
    if (bytes >= kMinFrameBytes) {
      const std::span<const std::uint8_t> frame(m_frame.data(), bytes);
      const bool good = bits % 8 == 0 && FcsGood(frame);
      m_sink(frame.first(bytes - kFcsBytes), good);
    }
  }
  m_bitCount = 0;
  m_frame.clear();
}

}  // namespace vexo::hdlc
