#include "protocol/hdlc_encoder.h"

#include "protocol/hdlc_fcs.h"

namespace vexo::hdlc {
namespace {

// After five ones in a row inside a frame a zero goes in, so that no frame
// bits look like a flag.
constexpr int kOnesBeforeStuffing = 5;

}  // namespace

void HdlcEncoder::PutBit(bool one) {
  if (one) m_current = static_cast<std::uint8_t>(m_current | (1u << m_bitsInCurrent));
  if (++m_bitsInCurrent == 8) {
    m_bytes.push_back(m_current);
    m_current = 0;
    m_bitsInCurrent = 0;
  }
}

void HdlcEncoder::PutStuffed(std::uint8_t byte) {
  for (int bit = 0; bit < 8; ++bit) {
    const bool one = (byte >> bit) & 1u;
    PutBit(one);
    m_onesInRow = one ? m_onesInRow + 1 : 0;
    if (m_onesInRow == kOnesBeforeStuffing) {
      PutBit(false);
      m_onesInRow = 0;
    }
  }
}

void HdlcEncoder::AddFlags(std::size_t count) {
  for (std::size_t n = 0; n < count; ++n)
    for (int bit = 0; bit < 8; ++bit) PutBit((kFlag >> bit) & 1u);
  m_onesInRow = 0;
}

void HdlcEncoder::AddFrame(std::span<const std::uint8_t> frame) {
  if (m_bytes.empty() && m_bitsInCurrent == 0) AddFlags(1);  // every frame opens with a flag
  m_onesInRow = 0;
  for (const std::uint8_t byte : frame) PutStuffed(byte);
  const std::uint16_t fcs = Fcs(frame);
  PutStuffed(static_cast<std::uint8_t>(fcs & 0xFF));
  PutStuffed(static_cast<std::uint8_t>(fcs >> 8));
  AddFlags(1);
}

std::vector<std::uint8_t> HdlcEncoder::Finish() {
  while (m_bitsInCurrent != 0) PutBit(true);
  m_onesInRow = 0;
  std::vector<std::uint8_t> bytes;
  bytes.swap(m_bytes);
  return bytes;
}

}  // namespace vexo::hdlc
