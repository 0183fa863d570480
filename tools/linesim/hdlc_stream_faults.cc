#include "tools/linesim/hdlc_stream_faults.h"

#include <spandsp.h>

#include <algorithm>

namespace vexo::linesim {
namespace {

constexpr std::uint8_t kDle = 0x10;
constexpr int kFlagBits = 8;
constexpr std::uint8_t kFlag = 0x7E;  // sent least significant bit first: 0 1 1 1 1 1 1 0
// Bits held at most: the longest ECM frame (256 octets of data, address,
// control, FCF, frame number, FCS) with worst-case zero-bit stuffing, and a
// flag. Data without flags (non-ECM pages) passes on at this distance.
constexpr std::size_t kMaxHeldBits = 262 * 8 * 6 / 5 + kFlagBits;
constexpr std::size_t kMinFrameOctets = 4;  // address, control, FCS
// A damaged frame keeps its address, control and FCF; a one bit after them is cleared.
constexpr std::size_t kDamageFromBit = 24;

}  // namespace

void HdlcStreamFaults::Reset() {
  m_dle = false;
  m_ones = 0;
  m_afterFlag = false;
  m_held.clear();
  m_outByte = 0;
  m_outBits = 0;
}

bool HdlcStreamFaults::Feed(char c, std::string& out) {
  const auto byte = static_cast<std::uint8_t>(c);
  if (!m_dle && byte == kDle) {
    m_dle = true;
  } else if (m_dle && byte == kDle) {
    m_dle = false;
    TakeByte(kDle, out);
  } else if (m_dle) {
    // The end of the data: everything held goes on before it.
    Release(m_held.size(), out);
    Reset();
    out += static_cast<char>(kDle);
    out += c;
    return true;
  } else {
    TakeByte(byte, out);
  }
  return false;
}

void HdlcStreamFaults::TakeByte(std::uint8_t byte, std::string& out) {
  for (int i = 0; i < 8; ++i) TakeBit(static_cast<std::uint8_t>((byte >> i) & 1), out);
}

void HdlcStreamFaults::TakeBit(std::uint8_t bit, std::string& out) {
  m_held.push_back(bit);
  if (bit == 1) {
    if (++m_ones >= 7) {  // an abort, or no HDLC at all
      m_afterFlag = false;
      Release(m_held.size(), out);
    }
  } else {
    if (m_ones == 6) OnFlag(out);
    m_ones = 0;
  }
  if (m_held.size() > kMaxHeldBits) {
    m_afterFlag = false;
    Release(m_held.size(), out);
  }
}

void HdlcStreamFaults::OnFlag(std::string& out) {
  const std::size_t frameBits = m_held.size() >= kFlagBits ? m_held.size() - kFlagBits : 0;
  if (m_afterFlag && frameBits > 0 && GoodFrame(frameBits)) {
    const FrameFate fate = m_onFrame ? m_onFrame() : FrameFate::kPass;
    if (fate != FrameFate::kPass) Damage(frameBits, fate);
  }
  m_afterFlag = true;
  Release(m_held.size(), out);
}

bool HdlcStreamFaults::GoodFrame(std::size_t frameBits) const {
  std::vector<std::uint8_t> octets;
  std::uint8_t octet = 0;
  int bits = 0;
  int ones = 0;
  for (std::size_t i = 0; i < frameBits; ++i) {
    const std::uint8_t bit = m_held[i];
    if (bit == 0 && ones == 5) {  // a zero stuffed after five ones
      ones = 0;
      continue;
    }
    ones = bit == 1 ? ones + 1 : 0;
    octet = static_cast<std::uint8_t>(octet | bit << bits);
    if (++bits == 8) {
      octets.push_back(octet);
      octet = 0;
      bits = 0;
    }
  }
  return bits == 0 && octets.size() >= kMinFrameOctets &&
         crc_itu16_check(octets.data(), static_cast<int>(octets.size()));
}

void HdlcStreamFaults::Damage(std::size_t frameBits, FrameFate fate) {
  if (fate == FrameFate::kLose) {
    // Flags from the opening flag on; a last partial flag before the closing
    // one leaves fewer than eight bits between flags, which receivers drop.
    for (std::size_t i = 0; i < frameBits; ++i) m_held[i] = (kFlag >> (i % kFlagBits)) & 1;
    return;
  }
  // Clearing a one bit can neither make a flag nor an abort; the FCS (or the
  // octet count, when it undoes a stuffed zero) fails.
  const auto from =
      m_held.begin() + static_cast<std::ptrdiff_t>(std::min(kDamageFromBit, frameBits));
  const auto one = std::find(from, m_held.begin() + static_cast<std::ptrdiff_t>(frameBits), 1);
  if (one != m_held.begin() + static_cast<std::ptrdiff_t>(frameBits)) *one = 0;
}

void HdlcStreamFaults::Release(std::size_t count, std::string& out) {
  for (std::size_t i = 0; i < count; ++i) {
    m_outByte = static_cast<std::uint8_t>(m_outByte | m_held[i] << m_outBits);
    if (++m_outBits == 8) {
      if (m_outByte == kDle) out += static_cast<char>(kDle);
      out += static_cast<char>(m_outByte);
      m_outByte = 0;
      m_outBits = 0;
    }
  }
  m_held.erase(m_held.begin(), m_held.begin() + static_cast<std::ptrdiff_t>(count));
}

}  // namespace vexo::linesim
