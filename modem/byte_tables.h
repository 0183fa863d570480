// Byte tables the fax protocols share: the bit reversal of a byte (frame data
// travels least significant bit first) and the numbers of leading and trailing
// zero bits of a byte (8 for 0), used when scanning coded page data for EOLs.
#pragma once

#include <array>
#include <cstdint>

namespace vexo {

namespace detail {

constexpr std::array<std::uint8_t, 256> MakeBitReverse() {
  std::array<std::uint8_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    int r = 0;
    for (int bit = 0; bit < 8; ++bit)
      if (i & (1 << bit)) r |= 0x80 >> bit;
    table[i] = static_cast<std::uint8_t>(r);
  }
  return table;
}

constexpr std::array<std::uint8_t, 256> MakeLeadingZeros() {
  std::array<std::uint8_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    int n = 0;
    while (n < 8 && !(i & (0x80 >> n))) ++n;
    table[i] = static_cast<std::uint8_t>(n);
  }
  return table;
}

constexpr std::array<std::uint8_t, 256> MakeTrailingZeros() {
  std::array<std::uint8_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    int n = 0;
    while (n < 8 && !(i & (1 << n))) ++n;
    table[i] = static_cast<std::uint8_t>(n);
  }
  return table;
}

}  // namespace detail

// Entry i is i with bit 7 and bit 0 exchanged, bit 6 and bit 1, and so on.
inline constexpr std::array<std::uint8_t, 256> kBitReverse = detail::MakeBitReverse();
// Zero bits of a byte counted from its most significant bit; 8 for 0.
inline constexpr std::array<std::uint8_t, 256> kLeadingZeroBits = detail::MakeLeadingZeros();
// Zero bits of a byte counted from its least significant bit; 8 for 0.
inline constexpr std::array<std::uint8_t, 256> kTrailingZeroBits = detail::MakeTrailingZeros();

}  // namespace vexo
