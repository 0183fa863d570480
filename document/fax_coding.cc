#include "document/fax_coding.h"

#include <algorithm>
#include <bit>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <memory>

#include "base/error_pool.h"
#include "document/tiff_lib.h"
#include "document/tiff_oper.h"

namespace vexo {

FaxCoding CodingOfPageFlags(std::uint32_t flags) {
  if (flags & PAGE_G4) return FaxCoding::kMmr;
  if (flags & PAGE_2D) return FaxCoding::kMr;
  return FaxCoding::kMh;
}

std::uint32_t PageFlagsOfCoding(FaxCoding coding) {
  switch (coding) {
    case FaxCoding::kMmr:
      return PAGE_G4;
    case FaxCoding::kMr:
      return PAGE_2D;
    case FaxCoding::kMh:
      break;
  }
  return 0;
}

const char* CodingName(FaxCoding coding) {
  switch (coding) {
    case FaxCoding::kMmr:
      return "MMR";
    case FaxCoding::kMr:
      return "MR";
    case FaxCoding::kMh:
      break;
  }
  return "MH";
}

namespace {

// An EOL: eleven zeros and a one. A one after at least this many zeros ends
// one row's code and starts the next (fill is more zeros ahead of it).
constexpr std::size_t kEolZeros = 11;
constexpr std::size_t kEolBits = kEolZeros + 1;
// Zero bits put ahead of an EOL: more than any code ends with.
constexpr std::size_t kFillBits = 16;
// The end of an MMR page: two EOLs (the RTC of MH and MR, kRtcEols, six).
constexpr std::size_t kEofbEols = 2;
// No page holds more rows (B4 at 15.4 lines per mm needs some 5,600).
constexpr std::uint32_t kMaxPageRows = 1u << 15;
// Resolutions that make libtiff's MR coder pick K = 4 (fine) or 2 (normal).
constexpr Rational kFineLines{196, 1};
constexpr Rational kNormalLines{98, 1};

// Bits of coded data, most significant bit of each byte first.
class BitView {
 public:
  explicit BitView(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
  bool operator[](std::size_t i) const { return (m_bytes[i / 8] >> (7 - i % 8)) & 1; }
  std::size_t size() const { return m_bytes.size() * 8; }
  std::span<const std::uint8_t> bytes() const { return m_bytes; }

  // Position just after the last one bit, 0 when there is none.
  std::size_t EndOfOnes() const {
    for (std::size_t i = m_bytes.size(); i > 0; --i)
      if (m_bytes[i - 1] != 0)
        return i * 8 - static_cast<std::size_t>(std::countr_zero(m_bytes[i - 1]));
    return 0;
  }

 private:
  std::span<const std::uint8_t> m_bytes;
};

// A run of bits [begin, end) of a BitView.
struct BitRange {
  std::size_t begin = 0;
  std::size_t end = 0;
};

bool SameBits(const BitView& a, BitRange ra, const BitView& b, BitRange rb) {
  const std::size_t length = ra.end - ra.begin;
  if (length != rb.end - rb.begin) return false;
  std::size_t i = 0;
  // Whole bytes at once where both ranges start on a byte.
  if (ra.begin % 8 == 0 && rb.begin % 8 == 0) {
    i = length / 8 * 8;
    if (std::memcmp(a.bytes().data() + ra.begin / 8, b.bytes().data() + rb.begin / 8, i / 8) != 0)
      return false;
  }
  for (; i < length; ++i)
    if (a[ra.begin + i] != b[rb.begin + i]) return false;
  return true;
}

// Appends bits, most significant bit first.
class BitWriter {
 public:
  void Put(bool bit) {
    if (m_bits % 8 == 0) m_bytes.push_back(0);
    if (bit) m_bytes.back() |= static_cast<std::uint8_t>(0x80 >> (m_bits % 8));
    ++m_bits;
  }
  void PutZeros(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) Put(false);
  }
  void PutEol() {
    PutZeros(kEolZeros);
    Put(true);
  }
  void PutRange(const BitView& bits, BitRange range) {
    for (std::size_t i = range.begin; i < range.end; ++i) Put(bits[i]);
  }
  std::vector<std::uint8_t> Take() { return std::move(m_bytes); }

 private:
  std::vector<std::uint8_t> m_bytes;
  std::size_t m_bits = 0;
};

// The rows of a stream with an EOL ahead of every row: each row's code from
// after its EOL up to its last one bit (fill and the next EOL's zeros cut).
// Bits ahead of the first EOL and after the RTC are no rows, nor is what lies
// between two EOLs without a code (for MR, the tag bit alone).
struct RowSplit {
  std::vector<BitRange> rows;
  bool lastClosed = true;  // an EOL followed the last row
  bool capped = false;     // more rows than a page holds
};

RowSplit SplitRows(const BitView& bits, bool twoD) {
  RowSplit split;
  std::size_t zeros = 0;
  bool started = false;
  std::size_t start = 0;
  std::size_t end = 0;  // just after the latest one bit of the current code
  int eolRun = 0;
  // A code holds a one beyond its start (for MR, beyond the tag bit).
  const auto isRow = [&] { return end > start + (twoD ? 1 : 0); };
  for (std::size_t i = 0; i < bits.size(); ++i) {
    if (!bits[i]) {
      ++zeros;
      continue;
    }
    const bool eol = zeros >= kEolZeros;
    zeros = 0;
    if (!eol) {
      end = i + 1;
      continue;
    }
    if (started && isRow()) {
      if (split.rows.size() == kMaxPageRows) {
        split.capped = true;
        return split;
      }
      split.rows.push_back({start, end});
      eolRun = 1;
    } else if (started) {
      ++eolRun;
      if (!split.rows.empty() && eolRun >= kRtcEols) return split;
    }
    started = true;
    start = end = i + 1;
  }
  if (started && isRow()) {
    if (split.rows.size() == kMaxPageRows) {
      split.capped = true;
    } else {
      split.rows.push_back({start, end});
      split.lastClosed = false;
    }
  }
  return split;
}

StripCoding StripCodingFor(FaxCoding coding, std::uint32_t width, bool fine) {
  StripCoding strip;
  strip.width = width;
  strip.compression = coding == FaxCoding::kMmr ? COMPRESSION_CCITTFAX4 : COMPRESSION_CCITTFAX3;
  strip.group3Options = coding == FaxCoding::kMr ? GROUP3OPT_2DENCODING : 0;
  strip.yResolution = fine ? kFineLines : kNormalLines;
  return strip;
}

// A TIFF in memory holding coded as the one strip of a page of rows rows.
std::optional<std::vector<std::uint8_t>> PageAsTiff(std::span<const std::uint8_t> coded,
                                                    const StripCoding& strip, std::uint32_t rows) {
  const auto tiff = TIFFOpenHandle(UniqueFd(), "page", "tu");
  if (!tiff) return std::nullopt;
  TIFF* t = tiff->get();
  const auto size = static_cast<tmsize_t>(coded.size());
  const bool ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, strip.width) == 1 &&
                  TIFFSetField(t, TIFFTAG_IMAGELENGTH, rows) == 1 &&
                  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1) == 1 &&
                  TIFFSetField(t, TIFFTAG_COMPRESSION, strip.compression) == 1 &&
                  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) == 1 &&
                  TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB) == 1 &&
                  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1) == 1 &&
                  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rows) == 1 &&
                  (strip.compression != COMPRESSION_CCITTFAX3 ||
                   TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, strip.group3Options) == 1) &&
                  TIFFWriteRawStrip(t, 0, const_cast<std::uint8_t*>(coded.data()), size) == size &&
                  TIFFWriteDirectory(t) == 1;
  if (!ok) return std::nullopt;
  return tiff->MemoryBytes();
}

// Reads the rows of a TIFF held in memory. What libtiff says while it decodes
// a row (a bad code, a length other than the page width, the data ending)
// marks that row bad; it is the page's quality, not a fault of the program,
// so it stays out of the error pool.
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
  // Decodes the next row into out; false when the row is bad.
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

// Rows decoded by libtiff from a strip of coded rows: the pixels of every row
// read (a bad row holds what libtiff made of it) and which rows were bad.
struct RawRows {
  FaxBitmap bitmap;
  std::vector<bool> bad;
};

// Decodes up to rows rows; stopAtBad ends at the first bad row (MMR, where
// nothing after an error can be trusted), which is then not kept.
std::optional<RawRows> ReadRows(std::span<const std::uint8_t> coded, const StripCoding& strip,
                                std::uint32_t rows, bool stopAtBad) {
  const auto file = PageAsTiff(coded, strip, rows);
  if (!file) return std::nullopt;
  RowReader reader(*file);
  if (!reader.Opened()) return std::nullopt;
  RawRows out;
  out.bitmap.width = strip.width;
  const std::size_t stride = out.bitmap.Stride();
  std::vector<std::uint8_t> row(stride);
  for (std::uint32_t r = 0; r < rows; ++r) {
    std::fill(row.begin(), row.end(), 0);
    const bool good = reader.ReadRow(r, row.data());
    if (!good && stopAtBad) break;
    out.bitmap.bits.insert(out.bitmap.bits.end(), row.begin(), row.end());
    out.bad.push_back(!good);
    ++out.bitmap.rows;
  }
  return out;
}

// libtiff's coding of bitmap's rows [first, last), with a white row ahead when
// whiteAhead (so that row first is coded against white, as the first row of a page is).
std::vector<std::uint8_t> CodeRows(const FaxBitmap& bitmap, std::uint32_t first, std::uint32_t last,
                                   const StripCoding& strip, bool whiteAhead) {
  const std::size_t stride = bitmap.Stride();
  std::vector<std::uint8_t> rows(whiteAhead ? stride : 0, 0);
  rows.insert(rows.end(), bitmap.bits.begin() + static_cast<std::ptrdiff_t>(first * stride),
              bitmap.bits.begin() + static_cast<std::ptrdiff_t>(last * stride));
  if (rows.empty()) return {};
  return EncodeFaxRows(strip, rows.data(), rows.size()).value_or(std::vector<std::uint8_t>{});
}

// The code a row of decoded pixels has as libtiff writes it: one per row for
// MH; for MR both the 1-D code and the 2-D code against the row before (two
// MR codings with K = 2, one shifted by a white row, between them hold both).
struct CanonicalRows {
  std::vector<std::uint8_t> even;  // MH, or MR with even rows 1-D
  std::vector<std::uint8_t> odd;   // MR with odd rows 1-D
  RowSplit evenRows;
  RowSplit oddRows;

  CanonicalRows(const FaxBitmap& bitmap, bool twoD) {
    const StripCoding strip =
        StripCodingFor(twoD ? FaxCoding::kMr : FaxCoding::kMh, bitmap.width, false);
    even = CodeRows(bitmap, 0, bitmap.rows, strip, false);
    evenRows = SplitRows(BitView(even), twoD);
    if (!twoD) return;
    odd = CodeRows(bitmap, 0, bitmap.rows, strip, true);
    oddRows = SplitRows(BitView(odd), twoD);
    // The white row ahead is no row of the page.
    if (!oddRows.rows.empty()) oddRows.rows.erase(oddRows.rows.begin());
  }

  // Whether row r's received code is exactly the code of its decoded pixels.
  bool Matches(std::uint32_t r, const BitView& got, BitRange code, bool twoD) const {
    const bool oneD = !twoD || got[code.begin];
    const bool useEven = !twoD || (r % 2 == 0) == oneD;
    const RowSplit& split = useEven ? evenRows : oddRows;
    if (r >= split.rows.size()) return false;
    return SameBits(got, code, BitView(useEven ? even : odd), split.rows[r]);
  }
};

// Each bad row becomes the row before it (already repaired), the top one white.
void RepairRows(FaxBitmap& bitmap, const std::vector<bool>& bad) {
  const std::size_t stride = bitmap.Stride();
  for (std::uint32_t r = 0; r < bitmap.rows; ++r) {
    if (!bad[r]) continue;
    std::uint8_t* row = bitmap.bits.data() + r * stride;
    if (r == 0)
      std::fill_n(row, stride, 0);
    else
      std::copy_n(row - stride, stride, row);
  }
}

std::optional<DecodedFaxPage> DecodeWithEols(std::span<const std::uint8_t> coded, bool twoD,
                                             std::uint32_t width, bool fine) {
  const BitView bits(coded);
  const RowSplit split = SplitRows(bits, twoD);
  if (split.rows.empty()) return std::nullopt;
  // libtiff gets each row behind exactly one EOL, no stray EOLs. The code's
  // trailing zeros were cut with the fill: fill ahead of every EOL gives them
  // back without taking zeros from the EOL.
  BitWriter stream;
  for (const BitRange& row : split.rows) {
    stream.PutZeros(kFillBits);
    stream.PutEol();
    stream.PutRange(bits, row);
  }
  const std::vector<std::uint8_t> rowsCoded = stream.Take();
  const auto rowCount = static_cast<std::uint32_t>(split.rows.size());
  auto raw =
      ReadRows(rowsCoded, StripCodingFor(twoD ? FaxCoding::kMr : FaxCoding::kMh, width, fine),
               rowCount, false);
  if (!raw || raw->bitmap.rows != rowCount) return std::nullopt;
  // libtiff ends a row at the page width and skips what follows up to the
  // next EOL: a row whose code runs on (rows merged where an EOL was lost)
  // or differs from its pixels' own code is bad. In MR, a 2-D row after a
  // bad row was decoded against a wrong row: bad up to the next 1-D row.
  const CanonicalRows canonical(raw->bitmap, twoD);
  std::vector<bool>& bad = raw->bad;
  bool chainBroken = false;
  for (std::uint32_t r = 0; r < rowCount; ++r) {
    const BitRange code = split.rows[r];
    const bool oneD = !twoD || bits[code.begin];
    if (oneD) chainBroken = false;
    bad[r] = bad[r] || chainBroken || !canonical.Matches(r, bits, code, twoD);
    chainBroken = twoD && bad[r];
  }
  DecodedFaxPage page;
  std::uint32_t run = 0;
  for (std::uint32_t r = 0; r < rowCount; ++r) {
    run = bad[r] ? run + 1 : 0;
    if (bad[r]) ++page.badRows;
    page.longestBadRun = std::max(page.longestBadRun, run);
  }
  if (page.badRows == rowCount) return std::nullopt;
  RepairRows(raw->bitmap, bad);
  page.bitmap = std::move(raw->bitmap);
  page.complete = !split.capped && (split.lastClosed || !bad.back());
  return page;
}

// Where the code of an MMR coding by libtiff ends: ahead of its EOFB.
std::size_t MmrCodeEnd(const std::vector<std::uint8_t>& coded) {
  const std::size_t end = BitView(coded).EndOfOnes();
  return end >= kEofbEols * kEolBits ? end - kEofbEols * kEolBits : 0;
}

// Whether the rest of an MMR page after its rows is its end: nothing, zeros,
// or an EOFB (an EOL first).
bool IsMmrEnd(const BitView& bits, std::size_t from) {
  std::size_t zeros = 0;
  for (std::size_t i = from; i < bits.size(); ++i) {
    if (bits[i]) return zeros >= kEolZeros;
    ++zeros;
  }
  return true;
}

std::optional<DecodedFaxPage> DecodeMmr(std::span<const std::uint8_t> coded, std::uint32_t width,
                                        bool fine) {
  const BitView bits(coded);
  // A row takes at least one bit.
  const auto most = static_cast<std::uint32_t>(std::min<std::size_t>(bits.size(), kMaxPageRows));
  const StripCoding strip = StripCodingFor(FaxCoding::kMmr, width, fine);
  auto raw = ReadRows(coded, strip, most, true);
  if (!raw) return std::nullopt;
  // libtiff reads an EOFB as one more white row, and a damaged code may read
  // as rows without complaint: the page is the longest run of decoded rows
  // whose own coding starts the data (row codes are a prefix of each other).
  const auto codeEnd = [&](std::uint32_t rows) -> std::optional<std::size_t> {
    if (rows == 0) return 0;
    const auto canonical = CodeRows(raw->bitmap, 0, rows, strip, false);
    const std::size_t end = MmrCodeEnd(canonical);
    if (end == 0 || end > bits.size()) return std::nullopt;
    if (!SameBits(bits, {0, end}, BitView(canonical), {0, end})) return std::nullopt;
    return end;
  };
  std::uint32_t low = 0;  // codeEnd(low) holds
  std::uint32_t high = raw->bitmap.rows;
  // A whole page is every decoded row, or all but the row read from the EOFB.
  if (codeEnd(high))
    low = high;
  else if (high > 0 && codeEnd(high - 1))
    low = high - 1;
  else
    high = high >= 2 ? high - 2 : 0;
  while (low < high) {
    const std::uint32_t mid = low + (high - low + 1) / 2;
    if (codeEnd(mid))
      low = mid;
    else
      high = mid - 1;
  }
  if (low == 0) return std::nullopt;
  DecodedFaxPage page;
  page.complete = low < kMaxPageRows && IsMmrEnd(bits, codeEnd(low).value_or(0));
  page.bitmap = std::move(raw->bitmap);
  page.bitmap.rows = low;
  page.bitmap.bits.resize(std::size_t{low} * page.bitmap.Stride());
  return page;
}

}  // namespace

std::optional<DecodedFaxPage> DecodeFaxPage(std::span<const std::uint8_t> coded, FaxCoding coding,
                                            std::uint32_t width, bool fine) {
  if (coded.empty() || width == 0 || width > kMaxFaxWidth || coded.size() > kMaxMemoryTiffBytes / 2)
    return std::nullopt;
  if (coding == FaxCoding::kMmr) return DecodeMmr(coded, width, fine);
  return DecodeWithEols(coded, coding == FaxCoding::kMr, width, fine);
}

std::uint32_t WholeRows(std::span<const std::uint8_t> coded, FaxCoding coding, std::uint32_t width,
                        bool fine) {
  const auto page = DecodeFaxPage(coded, coding, width, fine);
  if (!page) return 0;
  // MMR rows count only when their code is all there; with EOLs the last row
  // may be cut (repaired by the decoder, but not received).
  if (page->complete || coding == FaxCoding::kMmr) return page->bitmap.rows;
  return page->bitmap.rows - 1;
}

std::vector<std::uint8_t> EncodeFaxPage(const FaxBitmap& bitmap, FaxCoding coding, bool fine,
                                        bool withEnd) {
  if (bitmap.width == 0 || bitmap.width > kMaxFaxWidth ||
      bitmap.bits.size() != std::size_t{bitmap.rows} * bitmap.Stride()) {
    TiffError("EncodeFaxPage", "A bitmap of %u rows of %u pixels holds %zu bytes", bitmap.rows,
              bitmap.width, bitmap.bits.size());
    return {};
  }
  std::vector<std::uint8_t> coded;
  if (bitmap.rows > 0) {
    coded = CodeRows(bitmap, 0, bitmap.rows, StripCodingFor(coding, bitmap.width, fine), false);
    if (coded.empty()) return {};
  }
  if (coding == FaxCoding::kMmr) {
    // libtiff always ends MMR with an EOFB.
    if (bitmap.rows == 0 && withEnd) return {0x00, 0x10, 0x01};
    if (!withEnd) coded.resize((MmrCodeEnd(coded) + 7) / 8);
    return coded;
  }
  if (!withEnd) return coded;
  BitWriter rtc;
  for (int i = 0; i < kRtcEols; ++i) {
    rtc.PutEol();
    if (coding == FaxCoding::kMr) rtc.Put(true);
  }
  const std::vector<std::uint8_t> end = rtc.Take();
  coded.insert(coded.end(), end.begin(), end.end());
  return coded;
}

namespace {

constexpr const char* kOperModule = "TiffOper";

void ReportLineCoding(const TiffOper& tiff, const char* reason) {
  ReportError(0, kMsgDefault, kOperModule, "CodePageForLine",
              "TiffOper encounter error: TiffFileName = %s, ErrMsg = %s", tiff.FileName().c_str(),
              reason);
}

std::uint8_t Reversed(std::uint8_t b) {
  b = static_cast<std::uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<std::uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<std::uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

void AppendRows(FaxBitmap& to, const FaxBitmap& from, bool everySecond) {
  const std::size_t stride = from.Stride();
  for (std::uint32_t r = 0; r < from.rows; r += everySecond ? 2 : 1) {
    const auto row = from.bits.begin() + static_cast<std::ptrdiff_t>(r * stride);
    to.bits.insert(to.bits.end(), row, row + static_cast<std::ptrdiff_t>(stride));
    ++to.rows;
  }
}

}  // namespace

std::optional<std::vector<std::uint8_t>> CodePageForLine(TiffOper& tiff, FaxCoding coding,
                                                         bool halve, bool fine, bool withEnd) {
  auto strip = tiff.ReadPageStrip();
  if (!strip) return std::nullopt;
  const FaxPageInfo& info = tiff.PageInfo();
  if (info.flags & PAGE_LSB_FIRST)
    std::transform(strip->begin(), strip->end(), strip->begin(), Reversed);
  const auto page = DecodeFaxPage(*strip, CodingOfPageFlags(info.flags), info.width,
                                  (info.flags & PAGE_FINE) != 0);
  if (!page) {
    ReportLineCoding(tiff, "The page data does not decode.");
    return std::nullopt;
  }
  FaxBitmap line;
  line.width = info.width;
  const std::vector<std::uint8_t>& header = tiff.PageHeaderBytes();
  if (tiff.PageHeaderReady() && !header.empty()) {
    const auto headerRows = DecodeFaxPage(header, FaxCoding::kMh, info.width, fine);
    if (!headerRows) {
      ReportLineCoding(tiff, "The page header does not decode.");
      return std::nullopt;
    }
    AppendRows(line, headerRows->bitmap, false);
  }
  AppendRows(line, page->bitmap, halve);
  auto coded = EncodeFaxPage(line, coding, fine, withEnd);
  if (coded.empty()) {
    ReportLineCoding(tiff, "The page cannot be coded for the line.");
    return std::nullopt;
  }
  return coded;
}

}  // namespace vexo
