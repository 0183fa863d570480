// The frames of error correction mode as the transmitter builds them (T.4
// Annex A, T.30 Annex A): a coded page cut into partial pages of at most 256
// FCD frames, the HDLC stream of one partial page (or of the frames a PPR
// asks for again) for AT+FTM, and the frame map of a PPR.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vexo::ecm {

constexpr std::size_t kFramesPerBlockMax = 256;
// The PPR map: one bit per frame, frame 8 * i + j in bit j of byte i.
constexpr std::size_t kPprMapBytes = kFramesPerBlockMax / 8;
using FrameSet = std::bitset<kFramesPerBlockMax>;

// The FCD frames of data (bytes in line order, least significant bit first):
// frameBytes octets each, the last one padded.
constexpr std::size_t FrameCount(std::size_t dataBytes, std::size_t frameBytes) {
  return frameBytes == 0 ? 0 : (dataBytes + frameBytes - 1) / frameBytes;
}

// The partial pages of page data: at most 256 frames each; at least one,
// even for an empty page.
std::vector<std::span<const std::uint8_t>> SplitBlocks(std::span<const std::uint8_t> data,
                                                       std::size_t frameBytes);

// The bytes AT+FTM sends for a partial page (no DLE doubling): a preamble of
// flags, the FCD frames of block that frames names, each numbered and padded
// to frameBytes, three RCP frames and closing flags.
std::vector<std::uint8_t> BlockTransmission(std::span<const std::uint8_t> block,
                                            std::size_t frameBytes, const FrameSet& frames,
                                            std::size_t preambleFlags);

// The frames of a block of frameCount frames a PPR's information field asks
// for; nullopt when the field is not a 32-byte map.
std::optional<FrameSet> FramesAsked(std::span<const std::uint8_t> pprFif, std::size_t frameCount);

}  // namespace vexo::ecm
