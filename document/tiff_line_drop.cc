#include "document/tiff_line_drop.h"

#include <algorithm>
#include <bit>

namespace vexo {
namespace {

// Zero bits that precede the final 1 of an EOL code.
constexpr int kEolZeros = 11;
// Cap on the carried zero count, so long zero fill cannot overflow it.
constexpr int kMaxCarry = 64;
// Output one input byte may need: up to two zero bytes and the byte itself.
constexpr std::size_t kMaxOutPerByte = 3;

std::uint8_t ReverseBits(std::uint8_t b) {
  b = static_cast<std::uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<std::uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<std::uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

int LeadingZeros(std::uint8_t b) { return std::countl_zero(b); }
int TrailingZeros(std::uint8_t b) { return std::countr_zero(b); }

}  // namespace

void LineDropper::Reset(bool lsbFirst) {
  *this = LineDropper{};
  m_lsbFirst = lsbFirst;
}

LineDropper::Result LineDropper::Feed(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out,
                                      std::size_t outSize) {
  Result r;
  auto emitZeros = [&](std::uint8_t b) {
    // The kept line's EOL gets at least 11 zero bits before its final 1,
    // however the line before it (now dropped) ended.
    out[r.produced++] = 0;
    if (LeadingZeros(b) < 3) out[r.produced++] = 0;
  };
  while (r.consumed < inSize && !m_rtcSeen && outSize - r.produced >= kMaxOutPerByte) {
    const std::uint8_t stored = in[r.consumed];
    const std::uint8_t b = m_lsbFirst ? ReverseBits(stored) : stored;
    bool eol = false;
    if (b == 0) {
      m_zeroCarry = std::min(m_zeroCarry + 8, kMaxCarry);
    } else {
      eol = LeadingZeros(b) + m_zeroCarry >= kEolZeros;
      // An EOL byte that holds nothing else starts an empty line: the run goes on.
      const bool alone = LeadingZeros(b) + TrailingZeros(b) == 7;
      m_eolRun = eol && alone ? m_eolRun + 1 : 0;
      m_zeroCarry = TrailingZeros(b);
    }
    if (eol) {
      const bool previousKept = m_segmentKept;
      if (!m_firstEolPassed) {
        m_firstEolPassed = true;
        m_segmentKept = true;
        m_keepNext = false;
        emitZeros(b);
      } else if (m_eolRun >= 2) {
        // Consecutive EOLs (the return to control) go out as they are.
        m_segmentKept = true;
        if (!previousKept) emitZeros(b);
      } else {
        m_segmentKept = m_keepNext;
        m_keepNext = !m_keepNext;
        if (m_segmentKept) emitZeros(b);
      }
    }
    if (!m_firstEolPassed || m_segmentKept) out[r.produced++] = stored;
    ++r.consumed;
    if (eol && m_eolRun >= kRtcEols) m_rtcSeen = true;
  }
  return r;
}

}  // namespace vexo
