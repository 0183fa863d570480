#include "document/tif2tif.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <numeric>
#include <vector>

#include "base/error_pool.h"
#include "document/page_header.h"

namespace vexo {
namespace {

constexpr const char* kModule = "Tif2Tif";
constexpr std::size_t kFaxRowBytes = (kFaxPageWidth + 7) / 8;
constexpr std::uint64_t kCentimetresPerHundredInches = 254;
// A source file may have at most this many pages.
constexpr int kMaxSourcePages = 65535;

// Bits a partial last byte keeps, for 0 to 7 pixels used.
constexpr std::uint8_t kKeepMask[8] = {0x00, 0x80, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE};

ScaleRatio Reduced(std::uint64_t num, std::uint64_t den) {
  const std::uint64_t g = std::gcd(num, den);
  return g == 0 ? ScaleRatio{} : ScaleRatio{num / g, den / g};
}

bool UsableResolution(bool present, const Rational& r, std::uint16_t unit) {
  if (!present || r.num == 0 || r.den == 0) return false;
  if (unit != RESUNIT_INCH && unit != RESUNIT_CENTIMETER) return false;
  double ppi = static_cast<double>(r.num) / r.den;
  if (unit == RESUNIT_CENTIMETER) ppi *= 2.54;
  return ppi >= kMinSourceResolution && ppi <= kMaxSourceResolution;
}

// perInch * m / n for a resolution n / m, in inches or centimetres.
ScaleRatio RatioFor(const Rational& r, std::uint16_t unit, std::uint64_t perInch) {
  std::uint64_t num = perInch * r.den;
  std::uint64_t den = r.num;
  if (unit == RESUNIT_CENTIMETER) {
    num *= kCentimetresPerHundredInches;
    den *= 100;
  }
  return Reduced(num, den);
}

void SetBits(std::uint8_t* row, std::uint64_t from, std::uint64_t to) {
  for (std::uint64_t x = from; x < to; ++x)
    row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
}

bool BitAt(const std::uint8_t* row, std::uint64_t x) {
  return (row[x / 8] & (0x80 >> (x % 8))) != 0;
}

// The product is taken in 128 bits so that no pixel position and ratio overflow.
__extension__ using Wide = unsigned __int128;

std::uint64_t ScaledPosition(std::uint64_t pixel, const ScaleRatio& ratio) {
  return static_cast<std::uint64_t>(static_cast<Wide>(pixel) * ratio.num / ratio.den);
}

std::uint64_t ScaledPositionUp(std::uint64_t pixel, const ScaleRatio& ratio) {
  return static_cast<std::uint64_t>((static_cast<Wide>(pixel) * ratio.num + ratio.den - 1) /
                                    ratio.den);
}

// Orientations 5 to 8 store the page's columns as rows.
bool IsTurned(std::uint16_t orientation) {
  return orientation >= ORIENTATION_LEFTTOP && orientation <= ORIENTATION_LEFTBOT;
}

// One page of the source as libtiff describes it, as it appears on paper.
SourcePage ReadSourcePage(TiffFile& source) {
  TIFF* t = source.get();
  SourcePage page;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &page.width);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &page.length);
  if (auto x = TIFFGetRational(source, TIFFTAG_XRESOLUTION))
    page.hasX = true, page.xResolution = *x;
  if (auto y = TIFFGetRational(source, TIFFTAG_YRESOLUTION))
    page.hasY = true, page.yResolution = *y;
  TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &page.resolutionUnit);
  std::uint16_t photometric = PHOTOMETRIC_MINISWHITE;
  TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
  page.minIsBlack = photometric == PHOTOMETRIC_MINISBLACK;
  TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &page.orientation);
  if (page.orientation < ORIENTATION_TOPLEFT || page.orientation > ORIENTATION_LEFTBOT)
    page.orientation = ORIENTATION_TOPLEFT;
  if (IsTurned(page.orientation)) {
    std::swap(page.width, page.length);
    std::swap(page.hasX, page.hasY);
    std::swap(page.xResolution, page.yResolution);
  }
  return page;
}

// Every page must be one bit per pixel with one sample.
bool AllPagesBilevel(TIFF* t) {
  int pages = 0;
  do {
    std::uint16_t bits = 1, samples = 1;
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    if (bits != 1 || samples != 1) return false;
  } while (++pages < kMaxSourcePages && TIFFReadDirectory(t) == 1);
  return TIFFSetDirectory(t, 0) == 1;
}

// Gives the rows of one source page top to bottom as they appear on paper. A
// page stored in strips the right way up is read row by row; a tiled page, or
// one stored turned or upside down, is read whole and its rows taken from it.
class SourceRows {
 public:
  SourceRows(TIFF* tif, const SourcePage& page) : m_tif(tif), m_page(page) {}

  // False when the page is too large to hold.
  bool Prepare() {
    const bool turned = IsTurned(m_page.orientation);
    m_storedWidth = turned ? m_page.length : m_page.width;
    m_storedLength = turned ? m_page.width : m_page.length;
    if (m_page.width == 0 || m_page.width > kMaxSourceWidth) return false;
    m_storedRowBytes = (std::size_t{m_storedWidth} + 7) / 8;
    const tmsize_t scanline = TIFFScanlineSize(m_tif);
    if (scanline <= 0) return false;
    m_row.assign(std::max(static_cast<std::size_t>(scanline), m_storedRowBytes), 0);
    m_streaming = TIFFIsTiled(m_tif) == 0 && (m_page.orientation == ORIENTATION_TOPLEFT ||
                                              m_page.orientation == ORIENTATION_TOPRIGHT);
    if (m_streaming) return true;
    if (std::uint64_t{m_storedRowBytes} * m_storedLength > kMaxSourcePageBytes) return false;
    m_whole.assign(m_storedRowBytes * m_storedLength, 0);
    return true;
  }

  // Row r of the page as seen (width pixels, MSB first), into row. False when
  // libtiff cannot read it.
  bool Read(std::uint32_t r, std::vector<std::uint8_t>& row) {
    if (!m_streaming && !m_loaded) {
      if (!LoadWhole()) return false;
      m_loaded = true;
    }
    if (m_streaming) {
      if (TIFFReadScanline(m_tif, m_row.data(), r, 0) != 1) return false;
      if (m_page.orientation == ORIENTATION_TOPLEFT) {
        row.assign(m_row.begin(), m_row.begin() + static_cast<std::ptrdiff_t>(m_storedRowBytes));
        return true;
      }
    }
    row.assign((std::size_t{m_page.width} + 7) / 8, 0);
    for (std::uint32_t x = 0; x < m_page.width; ++x)
      if (StoredBlack(x, r)) row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    return true;
  }

 private:
  // Whether the stored pixel that appears at (x, y) on paper is set.
  bool StoredBlack(std::uint32_t x, std::uint32_t y) const {
    const std::uint32_t w = m_storedWidth - 1, l = m_storedLength - 1;
    std::uint32_t col = x, row = y;
    switch (m_page.orientation) {
      case ORIENTATION_TOPRIGHT:
        col = w - x;
        break;
      case ORIENTATION_BOTRIGHT:
        col = w - x, row = l - y;
        break;
      case ORIENTATION_BOTLEFT:
        row = l - y;
        break;
      case ORIENTATION_LEFTTOP:
        col = y, row = x;
        break;
      case ORIENTATION_RIGHTTOP:
        col = y, row = l - x;
        break;
      case ORIENTATION_RIGHTBOT:
        col = w - y, row = l - x;
        break;
      case ORIENTATION_LEFTBOT:
        col = w - y, row = x;
        break;
      default:
        break;
    }
    if (m_streaming) return BitAt(m_row.data(), col);
    return BitAt(m_whole.data() + std::size_t{row} * m_storedRowBytes, col);
  }

  bool LoadWhole() {
    if (TIFFIsTiled(m_tif) != 0) return LoadTiles();
    for (std::uint32_t r = 0; r < m_storedLength; ++r) {
      if (TIFFReadScanline(m_tif, m_row.data(), r, 0) != 1) return false;
      std::copy_n(m_row.begin(), m_storedRowBytes, m_whole.begin() + r * m_storedRowBytes);
    }
    return true;
  }

  // Tiles are a multiple of 16 pixels wide, so each tile row is whole bytes of a page row.
  bool LoadTiles() {
    std::uint32_t tileWidth = 0, tileLength = 0;
    TIFFGetField(m_tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(m_tif, TIFFTAG_TILELENGTH, &tileLength);
    const tmsize_t tileSize = TIFFTileSize(m_tif);
    if (tileWidth == 0 || tileWidth % 8 != 0 || tileLength == 0 || tileSize <= 0) return false;
    const std::size_t tileRowBytes = tileWidth / 8;
    std::vector<std::uint8_t> tile(static_cast<std::size_t>(tileSize));
    for (std::uint32_t ty = 0; ty < m_storedLength; ty += tileLength) {
      for (std::uint32_t tx = 0; tx < m_storedWidth; tx += tileWidth) {
        if (TIFFReadTile(m_tif, tile.data(), tx, ty, 0, 0) < 0) return false;
        const std::size_t offset = tx / 8;
        const std::size_t bytes = std::min(tileRowBytes, m_storedRowBytes - offset);
        const std::uint32_t rows = std::min(tileLength, m_storedLength - ty);
        for (std::uint32_t r = 0; r < rows; ++r)
          std::copy_n(
              tile.begin() + static_cast<std::ptrdiff_t>(r * tileRowBytes), bytes,
              m_whole.begin() + static_cast<std::ptrdiff_t>((ty + r) * m_storedRowBytes + offset));
      }
    }
    return true;
  }

  TIFF* m_tif;
  const SourcePage m_page;
  std::uint32_t m_storedWidth = 0, m_storedLength = 0;
  std::size_t m_storedRowBytes = 0;
  bool m_streaming = true;
  bool m_loaded = false;
  std::vector<std::uint8_t> m_row;    // one stored row as libtiff reads it
  std::vector<std::uint8_t> m_whole;  // the stored page, when read whole
};

}  // namespace

ScaleRatio VerticalRatio(const SourcePage& page, std::uint32_t rowsPerInch) {
  if (!UsableResolution(page.hasY, page.yResolution, page.resolutionUnit)) return {};
  return RatioFor(page.yResolution, page.resolutionUnit, rowsPerInch);
}

ScaleRatio HorizontalRatio(const SourcePage& page) {
  if (UsableResolution(page.hasX, page.xResolution, page.resolutionUnit))
    return RatioFor(page.xResolution, page.resolutionUnit, kFaxXResolution);
  if (UsableResolution(page.hasY, page.yResolution, page.resolutionUnit))
    return RatioFor(page.yResolution, page.resolutionUnit, kFaxXResolution);
  return {};
}

void CopyRow(const std::uint8_t* source, std::uint32_t width, bool minIsBlack,
             std::uint8_t* destination) {
  const std::uint8_t flip = minIsBlack ? 0xFF : 0x00;
  const std::size_t bytes = std::min<std::size_t>((std::size_t{width} + 7) / 8, kFaxRowBytes);
  for (std::size_t i = 0; i < bytes; ++i) destination[i] = source[i] ^ flip;
  if (width < kFaxPageWidth) {
    if (width % 8 != 0) destination[bytes - 1] &= kKeepMask[width % 8];
    std::memset(destination + bytes, 0, kFaxRowBytes - bytes);
  }
}

void ScaleRow(const std::uint8_t* source, std::uint32_t width, bool minIsBlack,
              const ScaleRatio& ratio, std::uint8_t* destination) {
  std::memset(destination, 0, kFaxRowBytes);
  const std::uint8_t flip = minIsBlack ? 0xFF : 0x00;
  std::uint32_t x = 0;
  while (x < width) {
    // Find the next black run [x, end).
    const std::uint8_t byte = source[x / 8] ^ flip;
    if (x % 8 == 0 && byte == 0) {
      x += 8;
      continue;
    }
    if ((byte & (0x80 >> (x % 8))) == 0) {
      ++x;
      continue;
    }
    std::uint32_t end = x + 1;
    while (end < width && ((source[end / 8] ^ flip) & (0x80 >> (end % 8))) != 0) ++end;
    const std::uint64_t from = ScaledPosition(x, ratio);
    if (from >= kFaxPageWidth) return;
    SetBits(destination, from,
            std::min<std::uint64_t>(ScaledPositionUp(end, ratio), kFaxPageWidth));
    x = end;
  }
}

RowMapper::RowMapper(const ScaleRatio& ratio, std::size_t rowBytes)
    : m_ratio(ratio), m_folded(rowBytes, 0) {}

bool RowMapper::Add(std::uint64_t index, const std::uint8_t* row, const Sink& sink) {
  const std::uint64_t first = ScaledPosition(index, m_ratio);
  const std::uint64_t end = ScaledPosition(index + 1, m_ratio);
  for (std::size_t i = 0; i < m_folded.size(); ++i) m_folded[i] |= row[i];
  if (end == first) {  // the next source row still falls on the same destination row
    m_pending = true;
    return true;
  }
  m_pending = false;
  const bool ok = sink(m_folded.data());
  std::fill(m_folded.begin(), m_folded.end(), 0);
  for (std::uint64_t d = first + 1; ok && d < end; ++d)
    if (!sink(row)) return false;
  return ok;
}

bool RowMapper::Finish(const Sink& sink) {
  if (!m_pending) return true;
  m_pending = false;
  return sink(m_folded.data());
}

std::uint64_t RowMapper::RowsFor(std::uint64_t sourceRows) const {
  return ScaledPosition(sourceRows, m_ratio);
}

int Tif2Tif::Initialize(LogFile* systemLog) {
  m_systemLog = systemLog;
  TiffLib::Initialize();
  m_initialized = true;
  return 1;
}

void Tif2Tif::SetTransferMode(std::uint32_t mode) {
  if (mode == TRANSFER_COPY || mode == TRANSFER_SCALE) m_mode = mode;
}

int Tif2Tif::Tiff2Tiff(const std::string& sourceFile, TiffFile& tif, const CancelFn& cancel,
                       const ProgressFn& progress, std::uint32_t* pagesOut) {
  if (pagesOut != nullptr) *pagesOut = 0;
  if (!m_initialized || sourceFile.empty() || tif.get() == nullptr) return 0;
  const char* name = sourceFile.c_str();
  // Read-only: a read-only attachment converts as well.
  UniqueFd fd(::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) {
    ReportErrorCode(0, kMsgDefault, kModule, "Tiff2Tiff", errno,
                    "Open File Error FileName=[%s], ErrMsg = ", name);
    return 0;
  }
  std::unique_ptr<TiffFile> source = TIFFOpenHandle(std::move(fd), sourceFile, "r");
  if (!source) return 0;
  TIFF* src = source->get();
  if (!AllPagesBilevel(src)) {
    if (m_notBilevel) m_notBilevel(sourceFile);
    return 0;
  }

  FaxPageWriter writer(tif, m_systemLog);
  auto done = [&](int result) {
    writer.AbandonPage();
    if (pagesOut != nullptr) *pagesOut = writer.PagesWritten();
    return result;
  };
  do {
    if (cancel && cancel()) return done(-1);
    const int result = ConvertPage(*source, writer, progress);
    if (result != 1) return done(result);
  } while (TIFFReadDirectory(src) == 1);
  return done(1);
}

int Tif2Tif::ConvertPage(TiffFile& source, FaxPageWriter& writer, const ProgressFn& progress) {
  FaxPageFormat format = FaxPageFormat::Of(m_layout);
  format.width = kFaxPageWidth;
  const std::uint32_t rowsPerInch = m_layout.IsNormal() ? kNormalRowsPerInch : kFineRowsPerInch;
  const SourcePage page = ReadSourcePage(source);
  const bool scale = m_mode == TRANSFER_SCALE;
  const ScaleRatio horizontal = scale ? HorizontalRatio(page) : ScaleRatio{};
  SourceRows rows(source.get(), page);
  if (!rows.Prepare()) {
    ReportError(0, kMsgDefault, kModule, "Tiff2Tiff", "Allocate memory for %s failed.",
                "SrcScanLineBuf");
    return 0;
  }
  RowMapper mapper(VerticalRatio(page, rowsPerInch), kFaxRowBytes);
  const std::uint64_t destinationRows = mapper.RowsFor(page.length);
  std::uint64_t written = 0;
  bool failed = false;
  // Each destination row goes to the open page; a full page is appended, and a
  // remainder of at most an eighth of a page is dropped (the sink then stops).
  const RowMapper::Sink sink = [&](const std::uint8_t* row) {
    if (writer.PageOpen() && writer.RowsLeft() == 0) {
      if (!writer.EndPage()) {
        failed = true;
        return false;
      }
      const std::uint64_t left = destinationRows - std::min(written, destinationRows);
      if (left * 8 <= format.rows) return false;
    }
    if ((!writer.PageOpen() && !writer.BeginPage(format)) || !writer.WriteRow(row)) {
      failed = true;
      return false;
    }
    ++written;
    return true;
  };
  std::vector<std::uint8_t> sourceRow;
  std::vector<std::uint8_t> destRow(kFaxRowBytes);
  for (std::uint32_t r = 0; r < page.length; ++r) {
    if (!rows.Read(r, sourceRow)) return 0;
    if (progress) progress(1);
    if (scale)
      ScaleRow(sourceRow.data(), page.width, page.minIsBlack, horizontal, destRow.data());
    else
      CopyRow(sourceRow.data(), page.width, page.minIsBlack, destRow.data());
    if (!mapper.Add(r, destRow.data(), sink)) {
      if (failed) return 0;
      if (progress) progress(page.length - r - 1);
      return 1;
    }
  }
  if (!mapper.Finish(sink)) return failed ? 0 : 1;
  // A page without rows still gives its white page.
  if (!writer.PageOpen() && !writer.BeginPage(format)) return 0;
  return writer.EndPage() ? 1 : 0;
}

int ConfigureTif2Tif(Tif2Tif& converter, const ConvertOptions& options) {
  converter.SetTransferMode(options.resTransfer);
  return converter.SetPaper(SendPaper(options), PAPER_ID | PAPER_HEIGHT | PAPER_TOP);
}

}  // namespace vexo
