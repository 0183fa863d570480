// EcmBlock is the receiver's partial page of error correction mode (T.4
// Annex A): up to 256 FCD frames kept by their frame number, the count the
// caller's PPS gives, the PPR map of the frames still missing, and the data
// in frame order once the block is complete. Frames that break the agreed
// layout (longer than the negotiated frame size, numbered beyond the PPS's
// count) are not kept: they count as missing and are named once per block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vexo {

// The information field of PPR: one bit per frame, frame 8i+j in bit j of byte i.
using PprMap = std::array<std::uint8_t, 32>;

class EcmBlock {
 public:
  static constexpr std::size_t kMaxFrames = 256;

  // What a block saw that the caller should not have sent.
  enum Fault : unsigned {
    kFrameTooLong = 1u << 0,       // an FCD frame longer than the agreed size
    kNumberBeyondCount = 1u << 1,  // an FCD frame numbered beyond the PPS's count
  };

  explicit EcmBlock(std::size_t frameBytes) : m_frameBytes(frameBytes) {}

  // Takes one good HDLC frame (without FCS): FCD frames are kept; RCP is
  // noted; anything else is ignored.
  void Take(std::span<const std::uint8_t> frame);
  // The frames in the block, from the first PPS of the block (later ones
  // after retransmissions may count only the frames resent).
  void SetFrameCount(std::size_t frames);
  std::optional<std::size_t> FrameCount() const { return m_count; }
  bool SawRcp() const { return m_rcp; }

  // Every frame of the counted block is here.
  bool Complete() const;
  std::size_t Missing() const;
  PprMap MissingMap() const;
  // The data of the frames present, in frame order (line bit order).
  void AppendData(std::vector<std::uint8_t>& out) const;
  // Faults not handed out before in this block (Fault bits).
  unsigned TakeNewFaults();

  // Empties the block for the next one.
  void Clear();

 private:
  std::size_t m_frameBytes;
  std::array<std::vector<std::uint8_t>, kMaxFrames> m_data{};
  std::array<bool, kMaxFrames> m_present{};
  std::optional<std::size_t> m_count;
  bool m_rcp = false;
  unsigned m_faults = 0;
  unsigned m_faultsHandedOut = 0;
};

}  // namespace vexo
