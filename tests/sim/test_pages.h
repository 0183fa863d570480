// Small fax pages for the simulator's end-to-end tests: a deterministic 1-bit
// page pattern, written as PBM for efix to code into G3 TIFF, and any fax TIFF
// read back into bitmaps with libtiff to compare the images.
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

// Writes the page as a raw PBM image.
bool WritePbm(const std::filesystem::path& file, const Bitmap& page);

// Reads every page of a bilevel TIFF; empty when it cannot be read.
std::vector<Bitmap> ReadTiffPages(const std::filesystem::path& file);

// Whether page holds expected starting at row offset, with only white rows
// above it and below it; explains the first difference in why.
bool HoldsPage(const Bitmap& page, const Bitmap& expected, int offset, std::string& why);

// Empty when got is a header band with some ink, less than maxHeaderRows
// high, above exactly the source rows; otherwise what differs.
std::string HeaderAbove(const Bitmap& got, const Bitmap& source, int maxHeaderRows = 120);

// Every second row of a page, as a fine page sent at normal resolution.
Bitmap EvenRowsOf(const Bitmap& page);

// count pages of rows rows made with the seeds firstSeed, firstSeed + 1, ...
std::vector<Bitmap> TestPages(int count, int rows, unsigned firstSeed = 1);

}  // namespace vexo::test
