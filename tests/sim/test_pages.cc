#include "tests/sim/test_pages.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>

namespace vexo::test {
namespace {

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
  for (int band = 8; band + 12 < rows; band += 64) {
    int x = 40;
    while (x < kFaxWidth / 2) {
      const int length = 4 + static_cast<int>(next() % 28);
      for (int row = band; row < band + 12; ++row) SetBlack(page, row, x, x + length);
      x += length + 6 + static_cast<int>(next() % 30);
    }
  }
  return page;
}

bool WritePbm(const std::filesystem::path& file, const Bitmap& page) {
  std::ofstream out(file, std::ios::binary);
  out << "P4\n" << page.width << ' ' << page.rows << '\n';
  out.write(reinterpret_cast<const char*>(page.bits.data()),
            static_cast<std::streamsize>(page.bits.size()));
  return static_cast<bool>(out);
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

bool HoldsPage(const Bitmap& page, const Bitmap& expected, int offset, std::string& why) {
  if (page.width != expected.width) {
    why = "width " + std::to_string(page.width) + ", expected " + std::to_string(expected.width);
    return false;
  }
  if (page.rows < offset + expected.rows) {
    why = std::to_string(page.rows) + " rows, expected at least " +
          std::to_string(offset + expected.rows);
    return false;
  }
  const auto stride = static_cast<std::size_t>(page.width / 8);
  auto row = [stride](const Bitmap& b, int y) {
    return &b.bits[static_cast<std::size_t>(y) * stride];
  };
  const std::vector<std::uint8_t> white(stride, 0);
  for (int y = 0; y < page.rows; ++y) {
    const bool inside = y >= offset && y < offset + expected.rows;
    const std::uint8_t* want = inside ? row(expected, y - offset) : white.data();
    if (std::memcmp(row(page, y), want, stride) != 0) {
      why = "row " + std::to_string(y) + (inside ? " differs" : " should be white");
      return false;
    }
  }
  return true;
}

std::string HeaderAbove(const Bitmap& got, const Bitmap& source, int maxHeaderRows) {
  if (got.width != source.width) return "width " + std::to_string(got.width);
  const int header = got.rows - source.rows;
  if (header <= 0 || header >= maxHeaderRows) return std::to_string(got.rows) + " rows";
  const auto stride = static_cast<std::ptrdiff_t>(got.width / 8);
  const auto body = got.bits.begin() + header * stride;
  if (std::all_of(got.bits.begin(), body, [](std::uint8_t b) { return b == 0; }))
    return "the header band is blank";
  if (!std::equal(body, got.bits.end(), source.bits.begin(), source.bits.end()))
    return "the rows below the header differ";
  return {};
}

Bitmap EvenRowsOf(const Bitmap& page) {
  Bitmap half{page.width, (page.rows + 1) / 2, {}};
  const auto stride = static_cast<std::ptrdiff_t>(page.width / 8);
  for (int row = 0; row < page.rows; row += 2)
    half.bits.insert(half.bits.end(), page.bits.begin() + row * stride,
                     page.bits.begin() + (row + 1) * stride);
  return half;
}

std::vector<Bitmap> TestPages(int count, int rows, unsigned firstSeed) {
  std::vector<Bitmap> pages;
  for (int n = 0; n < count; ++n)
    pages.push_back(MakeTestPage(firstSeed + static_cast<unsigned>(n), rows));
  return pages;
}

}  // namespace vexo::test
