// Test files for the PDF and image importers and the PDF export: PDF files
// made by ghostscript from small PostScript programs, ghostscript's own
// rendering of them as the reference, and comparisons of one-bit pages.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vexo::test {

// Runs a shell command; true when it exited with 0.
bool RunCommand(const std::string& command);
// Output of a shell command (its stdout).
std::string CommandOutput(const std::string& command);

// The PostScript prologue of a page size in points, then the pages' programs.
std::string PostScript(int widthPoints, int heightPoints, const std::vector<std::string>& pages);
// A page program that writes text lines (one per entry) from the top left.
std::string TextPage(const std::vector<std::string>& lines, int top = 760, int size = 28);
// A page program that draws a grey ramp (black on the left to white on the
// right) in the box x, y, w, h (points).
std::string RampPage(int x, int y, int w, int h);

// Writes PostScript and has ghostscript turn it into a PDF; extra goes on the
// gs command line (for passwords).
void MakePdf(const std::filesystem::path& pdf, const std::string& postScript,
             const std::string& extra = "");

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

// Ghostscript's rendering of page (from 1) of pdf at xdpi x ydpi, without
// anti-aliasing, cut at grey 128.
MonoPage GhostscriptPage(const std::filesystem::path& pdf, int page, double xdpi, double ydpi);
// A PBM or PGM file (P4 or P5) read as a one-bit page.
MonoPage ReadNetpbm(const std::filesystem::path& file);
// Page directory of a fax TIFF decoded by libtiff (any width).
MonoPage DecodeTiffPage(const std::filesystem::path& tif, int directory);

// The share of a's black pixels in the first rows rows that have a black pixel
// of b within radius pixels (1 when a has none).
double InkCovered(const MonoPage& a, const MonoPage& b, std::uint32_t rows, int radius);

}  // namespace vexo::test
