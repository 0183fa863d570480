// Test pages for the fax TIFF tests: 1-bit bitmaps with a different pattern in
// every row, TIFF files made directly with libtiff (the independent writer and
// decoder), a minimal directory reader that does not share code with the one
// under test, and a way to take the error pool's records.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/error_pool.h"

namespace vexo::test {

constexpr std::uint32_t kTestWidth = 1728;
constexpr std::size_t kTestRowBytes = kTestWidth / 8;

// A bitmap of rows rows whose row r has black runs that depend on r and seed.
std::vector<std::uint8_t> PatternPage(std::uint32_t rows, unsigned seed);

struct LibTiffPage {
  std::vector<std::uint8_t> bitmap;
  std::uint32_t rows = 0;
  std::uint32_t width = kTestWidth;
  std::uint16_t compression = 3;  // COMPRESSION_CCITTFAX3
  std::uint16_t fillOrder = 1;
  std::uint32_t rowsPerStrip = 0;  // 0: one strip
  float yResolution = 209.0f;
  std::uint16_t resolutionUnit = 2;
  std::uint16_t bitsPerSample = 1;
  std::string software = "VEXO";  // empty: no Software tag
};

// Writes pages with libtiff's own coder ("w", or "wb" for big-endian).
void WriteWithLibTiff(const std::filesystem::path& file, const std::vector<LibTiffPage>& pages,
                      bool bigEndian = false);

// Decodes page `directory` with libtiff; empty when libtiff fails.
std::vector<std::uint8_t> DecodeWithLibTiff(const std::filesystem::path& file, int directory);

// Raw strip 0 of page `directory`, read by libtiff.
std::vector<std::uint8_t> RawStripWithLibTiff(const std::filesystem::path& file, int directory);

// Decodes coded Group 3 (1-D) data of rows rows of kTestWidth pixels by wrapping it
// as the strip of a new TIFF file.
std::vector<std::uint8_t> DecodeG3Strip(const std::filesystem::path& scratch,
                                        const std::vector<std::uint8_t>& coded, std::uint32_t rows,
                                        std::uint16_t fillOrder = 1);

// Every second row (0, 2, 4, ...) of a bitmap.
std::vector<std::uint8_t> EvenRows(const std::vector<std::uint8_t>& bitmap);

// Independent little/big-endian reader: the (count, type, value or pointer)
// of tag in directory `directory`.
struct DumpEntry {
  std::uint16_t type = 0;
  std::uint32_t count = 0;
  std::uint32_t value = 0;              // inline value (first SHORT or LONG) or pointer
  std::uint32_t value2 = 0;             // second inline SHORT
  std::vector<std::uint32_t> rational;  // numerator, denominator when RATIONAL
  bool found = false;
};
DumpEntry DumpTag(const std::filesystem::path& file, int directory, std::uint16_t tag);

// Takes every record out of the error pool.
std::vector<ErrorRecord> TakePool();
// True when some record's message contains text.
bool PoolHas(const std::vector<ErrorRecord>& records, const std::string& text);

}  // namespace vexo::test
