#include "protocol/page_receiver.h"

#include <algorithm>
#include <bit>

#include "modem/byte_tables.h"
#include "protocol/page_sender.h"
#include "protocol/session_names.h"

namespace vexo {
namespace {

constexpr std::uint8_t kSub = 0x1A;
// Zero bytes in a row that are kept; longer runs are fill.
constexpr std::uint32_t kZeroBytesKept = 2;
// Zero bytes a page starts with ahead of its first EOL byte.
constexpr int kLeadingZeroBytes = 4;
constexpr std::uint32_t kZeroBitsCap = 0x10000;

}  // namespace

PageReceiver::PageReceiver(bool reverseBits, Sink sink, FaxCoding coding)
    : m_reverse(reverseBits), m_sink(std::move(sink)), m_coding(coding) {
  m_started = coding == FaxCoding::kMmr;
}

PageReceiver::Status PageReceiver::Feed(const std::uint8_t* data, std::size_t count,
                                        std::size_t& used) {
  used = 0;
  if (m_failed) return Status::WriteFailed;
  if (m_ended) return Status::PageEnd;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t b = data[i];
    bool ok = true;
    if (!m_dlePending) {
      if (b == kDle)
        m_dlePending = true;
      else
        ok = Data(b);
    } else {
      m_dlePending = false;
      if (b == kEtx) {
        used = i + 1;
        m_ended = true;
        if (!Flush()) return Status::WriteFailed;
        return Status::PageEnd;
      }
      if (b == kDle) {
        ok = Data(kDle);
      } else if (b == kSub) {
        ok = Data(kDle) && Data(kDle);
      }
      // Any other escape is a modem command, not page data: dropped.
    }
    if (!ok) {
      used = i + 1;
      m_failed = true;
      return Status::WriteFailed;
    }
  }
  used = count;
  return Status::More;
}

bool PageReceiver::Data(std::uint8_t byte) {
  const std::uint8_t r = m_reverse ? kBitReverse[byte] : byte;
  if (m_coding == FaxCoding::kMmr) return Store(r);
  const std::uint32_t carried = m_zeroBits;
  const bool eol = r != 0 && carried + kLeadingZeroBits[r] >= kEolZeroBits;
  m_zeroBits = r == 0 ? std::min(carried + 8, kZeroBitsCap) : kTrailingZeroBits[r];

  if (!m_started) {
    if (!eol) return true;
    m_started = true;
    m_eolRun = 1;
    const auto eolBit = static_cast<std::uint8_t>(std::bit_floor(static_cast<unsigned>(r)));
    m_quietSinceEol = r == EolBits(r, eolBit);
    for (int i = 0; i < kLeadingZeroBytes; ++i)
      if (!Store(0)) return false;
    return Store(r);
  }
  if (m_fullRtc) return true;
  // An MR tag bit that opens this byte belongs to the EOL before it.
  const bool tagOnly = m_tagNext && r == 0x80;
  m_tagNext = false;
  if (r == 0) {
    ++m_zeroBytes;
    return m_zeroBytes > kZeroBytesKept || Store(0);
  }
  m_zeroBytes = 0;
  if (tagOnly) return Store(r);
  if (!eol) {
    m_eolRun = 0;
    m_quietSinceEol = false;
    return Store(r);
  }
  ++m_eols;
  // An EOL continues the run when only zeros (EOL bits or fill) came since
  // the run's previous EOL; the EOL's own one bit is the byte's highest.
  // Bits after it in the same byte are the next code, or noise after an RTC:
  // they belong to what follows, not to this EOL.
  m_eolRun = m_quietSinceEol ? m_eolRun + 1 : 1;
  const std::uint8_t eolBit = static_cast<std::uint8_t>(std::bit_floor(static_cast<unsigned>(r)));
  const std::uint8_t own = EolBits(r, eolBit);
  m_quietSinceEol = r == own;
  if (m_eolRun < kFullRtcEols) return Store(r);
  // The full RTC: the page ends with its last EOL, whatever shares its byte.
  m_fullRtc = true;
  return Store(own);
}

std::uint8_t PageReceiver::EolBits(std::uint8_t r, std::uint8_t eolBit) {
  if (m_coding != FaxCoding::kMr) return eolBit;
  m_tagNext = eolBit == 1;
  return static_cast<std::uint8_t>(r & (eolBit | eolBit >> 1));
}

bool PageReceiver::Store(std::uint8_t byte) {
  m_block[m_used++] = byte;
  return m_used < m_block.size() || Flush();
}

bool PageReceiver::Flush() {
  if (m_used == 0) return true;
  const bool ok = m_sink(m_block.data(), m_used);
  m_used = 0;
  return ok;
}

std::uint32_t PageReceiver::Rows() const {
  if (!m_started || m_coding == FaxCoding::kMmr) return 0;
  // Without a closing EOL the data ends inside the last row, which counts.
  if (m_eolRun == 0) return m_eols + 1;
  const auto extra = static_cast<std::uint32_t>(m_eolRun - 1);
  return m_eols > extra ? m_eols - extra : 0;
}

bool CloseReceivedFile(TiffOper& tiff, FaxResult* result) {
  const bool closed = tiff.CloseWriteTiff() == 1;
  if (result) result->pagesTransferred = tiff.PageCounter();
  return closed;
}

}  // namespace vexo
