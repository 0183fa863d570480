#include "protocol/class1_page_decoder.h"

#include <algorithm>
#include <bit>
#include <cstdarg>
#include <cstring>
#include <optional>

#include "document/tiff_lib.h"
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
  if (m_rtc) {
    // Nothing after the RTC is stored; rows there mean that line noise looked
    // like an RTC and cut the page.
    if (r != 0) {
      if (eol && !m_lastOneWasEol) ++m_rowsAfterRtc;
      m_lastOneWasEol = eol && std::popcount(static_cast<unsigned>(r)) == 1;
    }
    return true;
  }
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

namespace {

constexpr std::uint32_t kPageWidth = 1728;
constexpr std::size_t kRowBytes = kPageWidth / 8;
// Six EOLs, after the coded rows of a repaired page.
constexpr std::array<std::uint8_t, 9> kRtc = {0x00, 0x10, 0x01, 0x00, 0x10, 0x01, 0x00, 0x10, 0x01};

FaxCoding PageCoding(bool fine) {
  FaxCoding coding;
  coding.width = kPageWidth;
  coding.yResolution = fine ? Rational{196, 1} : Rational{98, 1};
  return coding;
}

// The coded page alone in a TIFF in memory, for libtiff's Group 3 decoder.
std::optional<std::vector<std::uint8_t>> PageAsTiff(const ReceivedPage& page) {
  const auto tiff = TIFFOpenHandle(UniqueFd(), "page", "tu");
  if (!tiff) return std::nullopt;
  TIFF* t = tiff->get();
  const auto size = static_cast<tmsize_t>(page.coded.size());
  const bool ok =
      TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kPageWidth) == 1 &&
      TIFFSetField(t, TIFFTAG_IMAGELENGTH, page.rows) == 1 &&
      TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1) == 1 &&
      TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3) == 1 &&
      TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) == 1 &&
      TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB) == 1 &&
      TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1) == 1 &&
      TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, page.rows) == 1 &&
      TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, 0) == 1 &&
      TIFFWriteRawStrip(t, 0, const_cast<std::uint8_t*>(page.coded.data()), size) == size &&
      TIFFWriteDirectory(t) == 1;
  if (!ok) return std::nullopt;
  return tiff->MemoryBytes();
}

// Reads the rows of a TIFF held in memory. What libtiff says while it decodes
// a row (a bad code, a length other than the page width) marks that row bad;
// it is the page's quality, not a fault of the program, so it stays out of
// the error pool.
class RowReader {
 public:
  explicit RowReader(const std::vector<std::uint8_t>& file) : m_file(file) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) return;
    TIFFOpenOptionsSetErrorHandlerExtR(options, &RowReader::Complaint, this);
    TIFFOpenOptionsSetWarningHandlerExtR(options, &RowReader::Complaint, this);
    m_tiff =
        TIFFClientOpenExt("page", "rm", this, Read, Write, Seek, Close, Size, Map, Unmap, options);
    TIFFOpenOptionsFree(options);
  }
  ~RowReader() {
    if (m_tiff) TIFFClose(m_tiff);
  }
  RowReader(const RowReader&) = delete;
  RowReader& operator=(const RowReader&) = delete;

  bool Opened() const { return m_tiff != nullptr; }
  // Decodes row into out (one row of pixels); false when the row is bad.
  bool ReadRow(std::uint32_t row, std::uint8_t* out) {
    m_complained = false;
    return TIFFReadScanline(m_tiff, out, row, 0) == 1 && !m_complained;
  }

 private:
  static RowReader& Of(thandle_t handle) { return *static_cast<RowReader*>(handle); }
  static int Complaint(TIFF*, void* self, const char*, const char*, va_list) {
    static_cast<RowReader*>(self)->m_complained = true;
    return 1;  // handled: not passed on to the process-wide handlers
  }
  static tmsize_t Read(thandle_t handle, void* buffer, tmsize_t size) {
    RowReader& r = Of(handle);
    if (size <= 0 || r.m_pos >= r.m_file.size()) return 0;
    const std::size_t n = std::min(static_cast<std::size_t>(size), r.m_file.size() - r.m_pos);
    std::memcpy(buffer, r.m_file.data() + r.m_pos, n);
    r.m_pos += n;
    return static_cast<tmsize_t>(n);
  }
  static tmsize_t Write(thandle_t, void*, tmsize_t) { return 0; }
  static toff_t Seek(thandle_t handle, toff_t offset, int whence) {
    RowReader& r = Of(handle);
    const std::uint64_t base = whence == SEEK_CUR   ? r.m_pos
                               : whence == SEEK_END ? r.m_file.size()
                                                    : 0;
    r.m_pos = static_cast<std::size_t>(base + offset);
    return r.m_pos;
  }
  static int Close(thandle_t) { return 0; }
  static toff_t Size(thandle_t handle) { return Of(handle).m_file.size(); }
  static int Map(thandle_t, void**, toff_t*) { return 0; }
  static void Unmap(thandle_t, void*, toff_t) {}

  const std::vector<std::uint8_t>& m_file;
  std::size_t m_pos = 0;
  TIFF* m_tiff = nullptr;
  bool m_complained = false;
};

// The bits of coded rows, most significant bit first.
class Bits {
 public:
  explicit Bits(const std::vector<std::uint8_t>& bytes) : m_bytes(bytes) {}
  bool operator[](std::size_t i) const { return (m_bytes[i / 8] >> (7 - i % 8)) & 1; }
  std::size_t size() const { return m_bytes.size() * 8; }

  // Where each row's code lies: from after its EOL's one bit up to the one
  // bit of the next EOL (so its fill and the next EOL's zeros included).
  std::vector<std::pair<std::size_t, std::size_t>> RowSpans() const {
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    std::size_t zeros = 0;
    std::optional<std::size_t> start;
    for (std::size_t i = 0; i < size(); ++i) {
      if (!(*this)[i]) {
        ++zeros;
        continue;
      }
      if (zeros >= kEolZeros) {
        if (start) spans.emplace_back(*start, i);
        start = i + 1;
      }
      zeros = 0;
    }
    if (start) spans.emplace_back(*start, size());
    return spans;
  }

 private:
  const std::vector<std::uint8_t>& m_bytes;
};

// Whether a received row's span holds exactly the code of the row decoded
// from it, then only zeros: a row that runs on after its last pixel holds
// more (rows merged where line noise destroyed an EOL).
bool HoldsOnlyItsCode(const Bits& got, std::pair<std::size_t, std::size_t> row,
                      const Bits& canonical, std::pair<std::size_t, std::size_t> code) {
  std::size_t end = code.second;
  while (end > code.first && !canonical[end - 1]) --end;
  const std::size_t length = end - code.first;
  if (row.second - row.first < length) return false;
  for (std::size_t i = 0; i < length; ++i)
    if (got[row.first + i] != canonical[code.first + i]) return false;
  for (std::size_t i = row.first + length; i < row.second; ++i)
    if (got[i]) return false;
  return true;
}

// libtiff's decoder ends a row at the page width and skips what follows up
// to the next EOL: compare each row with its code as libtiff writes it.
void MarkRowsWithMoreCode(const std::vector<std::uint8_t>& coded,
                          const std::vector<std::uint8_t>& pixels, bool fine,
                          std::vector<bool>& bad) {
  const auto canonical = EncodeFaxRows(PageCoding(fine), pixels.data(), pixels.size());
  if (!canonical) return;
  const Bits got(coded);
  const Bits expected(*canonical);
  const auto rows = got.RowSpans();
  const auto codes = expected.RowSpans();
  for (std::size_t r = 0; r < bad.size(); ++r)
    if (!bad[r])
      bad[r] = r >= rows.size() || r >= codes.size() ||
               !HoldsOnlyItsCode(got, rows[r], expected, codes[r]);
}

}  // namespace

PageVerdict JudgePage(ReceivedPage& page, bool fine) {
  PageVerdict verdict;
  // No rows, or the rest of the page missing.
  if (page.rows == 0 || page.cut) return verdict;
  const auto file = PageAsTiff(page);
  std::optional<RowReader> reader;
  if (file) reader.emplace(*file);
  if (!reader || !reader->Opened()) {
    verdict.accepted = true;  // cannot be judged here: kept as it came
    return verdict;
  }
  std::vector<std::uint8_t> pixels(page.rows * kRowBytes);
  std::vector<bool> bad(page.rows);
  for (std::uint32_t r = 0; r < page.rows; ++r)
    bad[r] = !reader->ReadRow(r, pixels.data() + r * kRowBytes);
  MarkRowsWithMoreCode(page.coded, pixels, fine, bad);
  std::uint32_t run = 0;
  for (std::uint32_t r = 0; r < page.rows; ++r) {
    run = bad[r] ? run + 1 : 0;
    if (bad[r]) ++verdict.badRows;
    verdict.longestBadRun = std::max(verdict.longestBadRun, run);
  }
  const std::uint32_t runLimit = kMaxConsecutiveBadRows * (fine ? 2 : 1);
  verdict.accepted =
      std::uint64_t{verdict.badRows} * 100 <= std::uint64_t{page.rows} * kMaxBadRowPercent &&
      verdict.longestBadRun <= runLimit;
  if (!verdict.accepted || verdict.badRows == 0) return verdict;
  // Each bad row becomes the row before it (already repaired), the top one white.
  for (std::uint32_t r = 0; r < page.rows; ++r) {
    if (!bad[r]) continue;
    std::uint8_t* row = pixels.data() + r * kRowBytes;
    if (r == 0)
      std::fill_n(row, kRowBytes, 0);
    else
      std::copy_n(row - kRowBytes, kRowBytes, row);
  }
  auto coded = EncodeFaxRows(PageCoding(fine), pixels.data(), pixels.size());
  if (coded) {
    coded->insert(coded->end(), kRtc.begin(), kRtc.end());
    page.coded = std::move(*coded);
  }
  return verdict;
}

}  // namespace vexo
