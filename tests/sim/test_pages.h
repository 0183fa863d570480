// Small fax pages for the simulator's end-to-end tests: a deterministic 1-bit
// page pattern, writing pages as a G3 TIFF (what efax and spandsp send), and
// reading any fax TIFF back into bitmaps with libtiff to compare images.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vexo::test {

struct Bitmap {
  int width = 0;
  int rows = 0;
  std::vector<std::uint8_t> bits;  // rows of width/8 bytes, most significant bit first, 1 = black

  bool operator==(const Bitmap&) const = default;
};

constexpr int kFaxWidth = 1728;

// A page of bars whose lengths follow seed, so that different pages differ.
Bitmap MakeTestPage(unsigned seed, int rows);

// Writes the pages as one multi-page TIFF, CCITT G3 1-D, 204 x 196 dpi.
bool WriteG3Tiff(const std::filesystem::path& file, const std::vector<Bitmap>& pages);

// Reads every page of a bilevel TIFF; empty when it cannot be read.
std::vector<Bitmap> ReadTiffPages(const std::filesystem::path& file);

// Rows of page that differ from expected, ignoring rows beyond the shorter page.
int DifferingRows(const Bitmap& page, const Bitmap& expected);

}  // namespace vexo::test
