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
constexpr std::size_t kFaxRowBytes = (kFaxDestinationWidth + 7) / 8;
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

// R * m / (f * n) for a resolution n / m, in inches or centimetres.
ScaleRatio RatioFor(const Rational& r, std::uint16_t unit, std::uint64_t factor) {
  std::uint64_t num = std::uint64_t{kFaxDestinationResolution} * r.den;
  std::uint64_t den = factor * r.num;
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

// The product is taken in 128 bits so that no pixel position and ratio overflow.
__extension__ using Wide = unsigned __int128;

std::uint64_t ScaledPosition(std::uint64_t pixel, const ScaleRatio& ratio) {
  return static_cast<std::uint64_t>(static_cast<Wide>(pixel) * ratio.num / ratio.den);
}

// One page of the source as libtiff describes it.
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

}  // namespace

ScaleRatio VerticalRatio(const SourcePage& page, bool normalDestination) {
  if (!UsableResolution(page.hasY, page.yResolution, page.resolutionUnit)) return {};
  return RatioFor(page.yResolution, page.resolutionUnit, normalDestination ? 2 : 1);
}

ScaleRatio HorizontalRatio(const SourcePage& page) {
  if (UsableResolution(page.hasX, page.xResolution, page.resolutionUnit))
    return RatioFor(page.xResolution, page.resolutionUnit, 1);
  if (UsableResolution(page.hasY, page.yResolution, page.resolutionUnit))
    return RatioFor(page.yResolution, page.resolutionUnit, 1);
  return {};
}

void CopyRow(const std::uint8_t* source, std::uint32_t width, bool minIsBlack,
             std::uint8_t* destination) {
  const std::uint8_t flip = minIsBlack ? 0xFF : 0x00;
  const std::size_t bytes = std::min<std::size_t>((std::size_t{width} + 7) / 8, kFaxRowBytes);
  for (std::size_t i = 0; i < bytes; ++i) destination[i] = source[i] ^ flip;
  if (width < kFaxDestinationWidth) {
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
    if (from >= kFaxDestinationWidth) return;
    SetBits(destination, from,
            std::min<std::uint64_t>(ScaledPosition(end, ratio), kFaxDestinationWidth));
    x = end;
  }
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
  FaxPageFormat format;
  format.width = kFaxDestinationWidth;
  format.rows = m_layout.StoredRows();
  format.resolution = kFaxDestinationResolution;
  format.normal = m_layout.IsNormal();
  std::vector<std::uint8_t> destRow(kFaxRowBytes);
  std::vector<std::uint8_t> sourceRow;

  do {
    if (cancel && cancel()) return done(-1);
    if (!writer.BeginPage(format)) return done(0);
    const SourcePage page = ReadSourcePage(*source);
    const bool scale = m_mode == TRANSFER_SCALE;
    const ScaleRatio vertical = scale ? VerticalRatio(page, format.normal) : ScaleRatio{};
    const ScaleRatio horizontal = scale ? HorizontalRatio(page) : ScaleRatio{};
    const tmsize_t rowSize = TIFFScanlineSize(src);
    if (page.width == 0 || page.width > kMaxSourceWidth || rowSize <= 0) {
      ReportError(0, kMsgDefault, kModule, "Tiff2Tiff", "Allocate memory for %s failed.",
                  "SrcScanLineBuf");
      return done(0);
    }
    sourceRow.assign(
        std::max<std::size_t>(static_cast<std::size_t>(rowSize), (std::size_t{page.width} + 7) / 8),
        0);
    std::uint64_t carry = 0;
    bool dropped = false;
    for (std::uint32_t r = 0; r < page.length && !dropped; ++r) {
      if (TIFFReadScanline(src, sourceRow.data(), r, 0) != 1) return done(0);
      if (progress) progress(1);
      const std::uint64_t repeat = (carry + vertical.num) / vertical.den;
      carry = (carry + vertical.num) % vertical.den;
      if (repeat == 0) continue;
      if (scale)
        ScaleRow(sourceRow.data(), page.width, page.minIsBlack, horizontal, destRow.data());
      else
        CopyRow(sourceRow.data(), page.width, page.minIsBlack, destRow.data());
      for (std::uint64_t i = 0; i < repeat; ++i) {
        if (writer.RowsLeft() == 0) {
          if (!writer.EndPage()) return done(0);
          // A remainder of at most an eighth of a page is dropped.
          const std::uint64_t left = page.length - r;
          if (left * 8 <= format.rows) {
            if (progress) progress(static_cast<std::uint32_t>(left - 1));
            dropped = true;
            break;
          }
          if (!writer.BeginPage(format)) return done(0);
        }
        if (!writer.WriteRow(destRow.data())) return done(0);
      }
    }
    if (!dropped && !writer.EndPage()) return done(0);
  } while (TIFFReadDirectory(src) == 1);
  return done(1);
}

int ConfigureTif2Tif(Tif2Tif& converter, const ConvertOptions& options) {
  converter.SetTransferMode(options.resTransfer);
  return converter.SetPaper(SendPaper(options), PAPER_ID | PAPER_HEIGHT | PAPER_TOP);
}

}  // namespace vexo
