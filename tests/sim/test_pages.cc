#include "tests/sim/test_pages.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace vexo::test {
namespace {

constexpr float kXDpi = 204.0f;
constexpr float kYDpi = 196.0f;

struct TiffCloser {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

void SetBlack(Bitmap& page, int row, int from, int to) {
  const int stride = page.width / 8;
  for (int x = from; x < to && x < page.width; ++x)
    page.bits[static_cast<std::size_t>(row * stride + x / 8)] |=
        static_cast<std::uint8_t>(0x80 >> (x % 8));
}

}  // namespace

Bitmap MakeTestPage(unsigned seed, int rows) {
  Bitmap page;
  page.width = kFaxWidth;
  page.rows = rows;
  page.bits.assign(static_cast<std::size_t>(rows * kFaxWidth / 8), 0);
  unsigned state = seed * 2654435761u + 1;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return (state >> 16) & 0x7fff;
  };
  // Bands of short bars, like lines of text: some ink, a few KB when coded.
  for (int band = 8; band + 12 < rows; band += 24) {
    int x = 40;
    while (x < kFaxWidth - 80) {
      const int length = 4 + static_cast<int>(next() % 28);
      for (int row = band; row < band + 12; ++row) SetBlack(page, row, x, x + length);
      x += length + 6 + static_cast<int>(next() % 30);
    }
  }
  return page;
}

bool WriteG3Tiff(const std::filesystem::path& file, const std::vector<Bitmap>& pages) {
  TiffHandle tiff(TIFFOpen(file.c_str(), "w"));
  if (!tiff) return false;
  for (std::size_t n = 0; n < pages.size(); ++n) {
    const Bitmap& page = pages[n];
    TIFF* t = tiff.get();
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, page.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, page.rows);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, page.rows);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, kXDpi);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, kYDpi);
    TIFFSetField(t, TIFFTAG_PAGENUMBER, static_cast<int>(n), static_cast<int>(pages.size()));
    std::vector<std::uint8_t> row(static_cast<std::size_t>(page.width / 8));
    for (int y = 0; y < page.rows; ++y) {
      std::memcpy(row.data(), &page.bits[static_cast<std::size_t>(y) * row.size()], row.size());
      if (TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y), 0) < 0) return false;
    }
    if (!TIFFWriteDirectory(t)) return false;
  }
  return true;
}

std::vector<Bitmap> ReadTiffPages(const std::filesystem::path& file) {
  std::vector<Bitmap> pages;
  TIFFSetWarningHandler(nullptr);
  TiffHandle tiff(TIFFOpen(file.c_str(), "r"));
  if (!tiff) return pages;
  do {
    TIFF* t = tiff.get();
    std::uint32_t width = 0, rows = 0;
    std::uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &rows);
    TIFFGetFieldDefaulted(t, TIFFTAG_PHOTOMETRIC, &photometric);
    Bitmap page;
    page.width = static_cast<int>(width);
    page.rows = static_cast<int>(rows);
    const auto stride = static_cast<std::size_t>((width + 7) / 8);
    page.bits.assign(stride * rows, 0);
    std::vector<std::uint8_t> line(static_cast<std::size_t>(TIFFScanlineSize(t)) + stride);
    for (std::uint32_t y = 0; y < rows; ++y) {
      if (TIFFReadScanline(t, line.data(), y, 0) < 0) return {};
      for (std::size_t i = 0; i < stride; ++i) {
        std::uint8_t byte = line[i];
        if (photometric == PHOTOMETRIC_MINISBLACK) byte = static_cast<std::uint8_t>(~byte);
        page.bits[y * stride + i] = byte;
      }
    }
    pages.push_back(std::move(page));
  } while (TIFFReadDirectory(tiff.get()));
  return pages;
}

int DifferingRows(const Bitmap& page, const Bitmap& expected) {
  if (page.width != expected.width) return std::max(page.rows, expected.rows);
  const auto stride = static_cast<std::size_t>(page.width / 8);
  int differing = 0;
  for (int y = 0; y < std::min(page.rows, expected.rows); ++y) {
    if (std::memcmp(&page.bits[y * stride], &expected.bits[y * stride], stride) != 0)
      ++differing;
  }
  return differing;
}

}  // namespace vexo::test
