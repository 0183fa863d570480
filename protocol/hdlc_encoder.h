// HdlcEncoder builds the bit stream of HDLC frames that a Class 1 modem sends
// as raw data after AT+FTM: flags, each frame with its FCS and zero bits
// inserted after five ones, bits least significant first, packed into the
// bytes the modem takes (no DLE doubling). Error correction mode frames its
// high-speed data this way, since most Class 1 modems (spandsp's T.31 among
// them) offer AT+FTH only at V.21.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vexo::hdlc {

class HdlcEncoder {
 public:
  // Flags on their own: a preamble, or the closing flags of a transmission.
  void AddFlags(std::size_t count);
  // One frame (address, control, FCF and information field), its FCS and a
  // closing flag, which also opens the next frame.
  void AddFrame(std::span<const std::uint8_t> frame);
  // The bytes built; the last one is completed with ones (an idle line).
  std::vector<std::uint8_t> Finish();

 private:
  void PutBit(bool one);
  void PutStuffed(std::uint8_t byte);

  std::vector<std::uint8_t> m_bytes;
  std::uint8_t m_current = 0;
  int m_bitsInCurrent = 0;
  int m_onesInRow = 0;
};

}  // namespace vexo::hdlc
