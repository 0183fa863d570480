// Test pages for the document tests: patterned 1-bit bitmaps, TIFF files made
// and decoded by libtiff, an independent directory reader, where ink lies.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error_pool.h"
#include "document/tiff_lib.h"
#include "document/txt2tif_paper.h"
#include "platform/raster/log_font.h"
#include "tests/support/error_records.h"

namespace vexo::test {

constexpr std::uint32_t kTestWidth = 1728;
constexpr std::size_t kTestRowBytes = kTestWidth / 8;

// Gives a renderer the paper of the send job (page height 2970 less the
// header, top margin 100); the renderer's result.
template <typename Renderer>
int UseSendPaper(Renderer& renderer, std::uint32_t id) {
  PaperInfo paper;
  paper.id = id;
  paper.height = 2870;
  paper.top = 100;
  return renderer.SetPaper(paper, PAPER_ID | PAPER_HEIGHT | PAPER_TOP);
}

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
  std::uint16_t photometric = 0;  // PHOTOMETRIC_MINISWHITE
  std::uint16_t samplesPerPixel = 1;
  float xResolution = 209.0f;  // 0: no resolution tags
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

// Where the ink of a decoded page (rows of kTestRowBytes, 1 black) lies.
bool Black(const std::vector<std::uint8_t>& rows, int x, int y);
// Black pixels in columns [left, right) of rows [top, bottom).
std::size_t InkIn(const std::vector<std::uint8_t>& rows, int left, int top, int right, int bottom);
// The smallest box holding all ink (right and bottom inclusive); all -1 when blank.
struct InkBox {
  int left = -1, top = -1, right = -1, bottom = -1;
  friend bool operator==(const InkBox&, const InkBox&) = default;
};
InkBox InkBounds(const std::vector<std::uint8_t>& rows);
// The ink width across, in pixels of 204 an inch, that text in font should
// have on a page drawn at 196 rows an inch (the font's em is its size in
// rows): drawn ten times larger with square pixels, where hinting moves the
// glyphs next to nothing, and scaled back.
double DesignedInkAcross(LOGFONTW font, std::string_view text);
// Rows holding any black.
std::size_t InkedRows(const std::vector<std::uint8_t>& rows);

// Every second row (0, 2, 4, ...) of a bitmap.
std::vector<std::uint8_t> EvenRows(const std::vector<std::uint8_t>& bitmap);

// Independent little/big-endian reader of tag in directory `directory`: its
// inline value (first SHORT or LONG, else a pointer), second inline SHORT and,
// when RATIONAL, numerator and denominator.
struct DumpEntry {
  std::uint32_t value = 0, value2 = 0;
  std::vector<std::uint32_t> rational;
};
DumpEntry DumpTag(const std::filesystem::path& file, int directory, std::uint16_t tag);

// A fax file written through FaxOutputFile by write (the writer's result; it
// sets the pages written). Every page must pass the send side's checks
// (ReadTags, width, page number) and decode with libtiff.
struct WrittenFax {
  int result = 0;
  std::uint32_t pages = 0;
  std::filesystem::path file;
  std::vector<std::vector<std::uint8_t>> decoded;
};
WrittenFax WriteFaxFile(const std::filesystem::path& file,
                        const std::function<int(TiffFile&, std::uint32_t*)>& write);

// True when some record's message contains text.
bool PoolHas(const std::vector<ErrorRecord>& records, const std::string& text);

// Runs a shell command; true when it exited with 0.
bool RunCommand(const std::string& command);

// A one-bit picture: rows of (width + 7) / 8 bytes, bit 1 black, MSB first.
struct MonoPage {
  std::uint32_t width = 0;
  std::uint32_t rows = 0;
  std::vector<std::uint8_t> bits;
  bool Black(std::uint32_t x, std::uint32_t y) const {
    return x < width && y < rows && (bits[y * ((width + 7) / 8) + x / 8] & (0x80 >> (x % 8))) != 0;
  }
  // Black pixels in [x0, x1) x [y0, y1).
  std::uint64_t CountBlack(std::uint32_t x0, std::uint32_t y0, std::uint32_t x1,
                           std::uint32_t y1) const;
};

// A PBM or PGM file (P4 or P5) read as a one-bit page.
MonoPage ReadNetpbm(const std::filesystem::path& file);
// A decoded fax page (rows of kTestRowBytes) as a MonoPage.
MonoPage FaxMonoPage(std::vector<std::uint8_t> rows);

// The share of a's black pixels in the first rows rows that have a black pixel
// of b within radius pixels (1 when a has none).
double InkCovered(const MonoPage& a, const MonoPage& b, std::uint32_t rows, int radius);

}  // namespace vexo::test
