#include "protocol/class1_page_decoder.h"

#include <algorithm>

#include "modem/byte_tables.h"
#include "protocol/class1_tables.h"

namespace vexo {
namespace {

constexpr std::uint32_t kEolZeros = 11;
constexpr std::uint32_t kZeroBytesKept = 2;
constexpr int kLeadingZeroBytes = 2;
constexpr std::uint32_t kZeroBitsCap = 0x10000;
constexpr std::uint32_t kPageWidth = 1728;

}  // namespace

Class1PageDecoder::Status Class1PageDecoder::Feed(const std::uint8_t* data, std::size_t count,
                                                  std::size_t& used) {
  used = 0;
  if (m_failed) return Status::kWriteFailed;
  if (m_ended) return Status::kPageEnd;
  for (std::size_t i = 0; i < count; ++i) {
    DleUnstuffer::Out bytes;
    const int taken = m_dle.Take(data[i], bytes);
    if (taken == DleUnstuffer::kEnd) {
      used = i + 1;
      m_ended = true;
      return Flush() ? Status::kPageEnd : Status::kWriteFailed;
    }
    bool ok = true;
    for (int k = 0; k < taken && ok; ++k) ok = Data(bytes[static_cast<std::size_t>(k)]);
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
  const bool started = m_started;
  const bool afterRtc = m_rtc;
  for (int bit = 7; bit >= 0; --bit) FollowBit(((r >> bit) & 1u) != 0);
  if (!started) {
    if (!m_started) return true;  // still ahead of the first EOL
    for (int i = 0; i < kLeadingZeroBytes; ++i)
      if (!Store(0)) return false;
    return Store(r);
  }
  // Nothing after the RTC is stored.
  if (afterRtc) return true;
  if (r == 0) {
    ++m_zeroBytes;
    return m_zeroBytes > kZeroBytesKept || Store(0);
  }
  m_zeroBytes = 0;
  return Store(r);
}

void Class1PageDecoder::FollowBit(bool one) {
  if (m_tagNext) {
    m_tagNext = false;  // MR: 1 = a one-dimensional row follows, 0 = a 2-D row
    return;
  }
  if (!one) {
    m_zeroBits = std::min(m_zeroBits + 1, kZeroBitsCap);
    return;
  }
  const bool eol = m_zeroBits >= kEolZeros;
  m_zeroBits = 0;
  if (!eol) {
    m_codeSinceEol = true;
    if (!m_rtc) m_eolRun = 0;
    return;
  }
  m_tagNext = m_twoDim;
  if (!m_started) {
    m_started = true;
  } else if (m_rtc) {
    // Rows after the RTC mean that line noise looked like an RTC and cut the page.
    if (m_codeSinceEol) ++m_rowsAfterRtc;
  } else {
    // Only zeros since the previous EOL: the run goes on, and no row lay
    // between the two (a coded row always holds a one bit).
    if (m_codeSinceEol) ++m_rows;
    ++m_eolRun;
    // EOLs ahead of the first row are fill, not the end of the page.
    m_rtc = m_rows > 0 && m_eolRun >= kRtcEols;
  }
  m_codeSinceEol = false;
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

PageVerdict JudgePage(ReceivedPage& page, bool fine, FaxCoding coding) {
  PageVerdict verdict;
  // No rows, or the rest of the page missing.
  if (page.rows == 0 || page.cut) return verdict;
  auto decoded = DecodeFaxPage(page.coded, coding, kPageWidth, fine);
  if (!decoded) {
    verdict.badRows = verdict.longestBadRun = page.rows;  // not one row decodes
    return verdict;
  }
  verdict.badRows = decoded->badRows;
  verdict.longestBadRun = decoded->longestBadRun;
  const std::uint32_t runLimit = kMaxConsecutiveBadRows * (fine ? 2 : 1);
  verdict.accepted =
      std::uint64_t{verdict.badRows} * 100 <= std::uint64_t{page.rows} * kMaxBadRowPercent &&
      verdict.longestBadRun <= runLimit;
  if (!verdict.accepted || verdict.badRows == 0) return verdict;
  // The decoding has already replaced each bad row by the row before it.
  auto coded = EncodeFaxPage(decoded->bitmap, coding, fine, true);
  if (!coded.empty()) page.coded = std::move(coded);
  return verdict;
}

}  // namespace vexo
