#include "protocol/class1_page_decoder.h"

#include <algorithm>
#include <bit>

#include "modem/byte_tables.h"
#include "protocol/class1_tables.h"

namespace vexo {
namespace {

constexpr std::uint32_t kEolZeros = 11;
constexpr std::uint32_t kZeroBytesKept = 2;
constexpr int kLeadingZeroBytes = 2;
constexpr std::uint32_t kZeroBitsCap = 0x10000;

}  // namespace

Class1PageDecoder::Status Class1PageDecoder::Feed(const std::uint8_t* data, std::size_t count,
                                                  std::size_t& used) {
  used = 0;
  if (m_failed) return Status::kWriteFailed;
  if (m_ended) return Status::kPageEnd;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t b = data[i];
    bool ok = true;
    if (m_dlePending) {
      m_dlePending = false;
      if (b == kEtx) {
        used = i + 1;
        m_ended = true;
        return Flush() ? Status::kPageEnd : Status::kWriteFailed;
      }
      // DLE DLE is one 0x10 of data; any other escape stays data as it came.
      if (b != kDle) ok = Data(kDle);
      ok = ok && Data(b);
    } else if (b == kDle) {
      m_dlePending = true;
    } else {
      ok = Data(b);
    }
    if (!ok) {
      used = i + 1;
      m_failed = true;
      return Status::kWriteFailed;
    }
  }
  used = count;
  return Status::kMore;
}

bool Class1PageDecoder::Data(std::uint8_t lineOrder) {
  const std::uint8_t r = kBitReverse[lineOrder];
  const std::uint32_t carried = m_zeroBits;
  const bool eol = r != 0 && carried + kLeadingZeroBits[r] >= kEolZeros;
  m_zeroBits = r == 0 ? std::min(carried + 8, kZeroBitsCap) : kTrailingZeroBits[r];
  if (!m_started) {
    if (!eol) return true;
    m_started = true;
    m_lastOneWasEol = std::popcount(static_cast<unsigned>(r)) == 1;
    for (int i = 0; i < kLeadingZeroBytes; ++i)
      if (!Store(0)) return false;
    return Store(r);
  }
  if (m_rtc) return true;  // nothing after the RTC is stored
  if (r == 0) {
    ++m_zeroBytes;
    return m_zeroBytes > kZeroBytesKept || Store(0);
  }
  m_zeroBytes = 0;
  if (eol) {
    // Only zeros since the previous EOL's one bit: the run goes on, and no
    // row lay between the two (a coded row always holds a one bit).
    if (!m_lastOneWasEol) ++m_rows;
    m_eolRun = m_lastOneWasEol ? m_eolRun + 1 : 1;
  } else {
    m_eolRun = 0;
  }
  // Ones after the EOL's own bit in this byte belong to what follows it.
  m_lastOneWasEol = eol && std::popcount(static_cast<unsigned>(r)) == 1;
  // EOLs ahead of the first row are fill, not the end of the page.
  m_rtc = m_rows > 0 && m_eolRun >= kRtcEols;
  return Store(r);
}

bool Class1PageDecoder::Store(std::uint8_t byte) {
  m_block[m_used++] = byte;
  return m_used < m_block.size() || Flush();
}

bool Class1PageDecoder::Flush() {
  if (m_used == 0) return true;
  const bool ok = m_sink(m_block.data(), m_used);
  m_used = 0;
  return ok;
}

std::uint32_t Class1PageDecoder::Rows() const { return m_rows; }

}  // namespace vexo
