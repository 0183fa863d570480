// The frame check sequence of HDLC frames (ITU-T V.42 / ISO 3309 CRC-16,
// x^16 + x^12 + x^5 + 1), computed over bytes in the order they go on the
// line, least significant bit first. The host frames ECM data itself when it
// goes through AT+FTM / AT+FRM, so both directions need it.
#pragma once

#include <cstdint>
#include <span>

namespace vexo::hdlc {

constexpr std::uint8_t kFlag = 0x7E;
constexpr std::uint16_t kFcsInit = 0xFFFF;
// The register after running over a whole frame and its own FCS.
constexpr std::uint16_t kFcsGood = 0xF0B8;

constexpr std::uint16_t FcsUpdate(std::uint16_t fcs, std::uint8_t byte) {
  fcs ^= byte;
  for (int bit = 0; bit < 8; ++bit) fcs = (fcs & 1) ? (fcs >> 1) ^ 0x8408 : fcs >> 1;
  return fcs;
}

// The FCS to send after bytes: low byte first, each least significant bit first.
constexpr std::uint16_t Fcs(std::span<const std::uint8_t> bytes) {
  std::uint16_t fcs = kFcsInit;
  for (const std::uint8_t byte : bytes) fcs = FcsUpdate(fcs, byte);
  return static_cast<std::uint16_t>(~fcs);
}

// Whether bytes (a frame with its two FCS bytes at the end) arrived intact.
constexpr bool FcsGood(std::span<const std::uint8_t> bytes) {
  std::uint16_t fcs = kFcsInit;
  for (const std::uint8_t byte : bytes) fcs = FcsUpdate(fcs, byte);
  return fcs == kFcsGood;
}

}  // namespace vexo::hdlc
