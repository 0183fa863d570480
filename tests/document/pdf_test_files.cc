#include "tests/document/pdf_test_files.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

namespace vexo::test {

bool RunCommand(const std::string& command) { return std::system(command.c_str()) == 0; }

std::string CommandOutput(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  std::string out;
  if (!pipe) return out;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) out.append(buffer, n);
  return out;
}

std::string PostScript(int widthPoints, int heightPoints, const std::vector<std::string>& pages) {
  std::ostringstream ps;
  ps << "%!PS\n<< /PageSize [" << widthPoints << " " << heightPoints << "] >> setpagedevice\n";
  for (const std::string& page : pages) ps << page << "showpage\n";
  return ps.str();
}

std::string TextPage(const std::vector<std::string>& lines, int top, int size) {
  std::ostringstream ps;
  ps << "/Helvetica findfont " << size << " scalefont setfont\n";
  int y = top;
  for (const std::string& line : lines) {
    ps << "72 " << y << " moveto (" << line << ") show\n";
    y -= size * 3 / 2;
  }
  return ps.str();
}

std::string RampPage(int x, int y, int w, int h) {
  std::ostringstream ps;
  ps << "gsave " << x << " " << y << " translate " << w << " " << h << " scale\n"
     << "/ramp 256 string def 0 1 255 { ramp exch dup put } for\n"
     << "256 1 8 [256 0 0 1 0 0] { ramp } image grestore\n";
  return ps.str();
}

void MakePdf(const std::filesystem::path& pdf, const std::string& postScript,
             const std::string& extra) {
  const std::filesystem::path ps = pdf.string() + ".ps";
  std::ofstream(ps) << postScript;
  ASSERT_TRUE(RunCommand("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite " + extra + " -o '" +
                         pdf.string() + "' '" + ps.string() + "'"));
}

std::uint64_t MonoPage::CountBlack(std::uint32_t x0, std::uint32_t y0, std::uint32_t x1,
                                   std::uint32_t y1) const {
  std::uint64_t count = 0;
  for (std::uint32_t y = y0; y < y1 && y < rows; ++y)
    for (std::uint32_t x = x0; x < x1 && x < width; ++x) count += Black(x, y) ? 1 : 0;
  return count;
}

MonoPage ReadNetpbm(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  // Header fields, with "#" comments between them skipped.
  auto field = [&in] {
    std::string token;
    while (in >> token && token.starts_with("#")) in.ignore(1 << 20, '\n');
    return token;
  };
  const std::string magic = field();
  const std::uint32_t width = static_cast<std::uint32_t>(std::stoul(field()));
  const std::uint32_t rows = static_cast<std::uint32_t>(std::stoul(field()));
  const std::uint32_t maxValue =
      magic == "P5" ? static_cast<std::uint32_t>(std::stoul(field())) : 1;
  in.get();
  MonoPage page;
  page.width = width;
  page.rows = rows;
  const std::size_t rowBytes = (width + 7) / 8;
  page.bits.assign(rowBytes * rows, 0);
  if (magic == "P4") {
    in.read(reinterpret_cast<char*>(page.bits.data()),
            static_cast<std::streamsize>(page.bits.size()));
  } else if (magic == "P5") {
    std::vector<unsigned char> grey(std::size_t{width} * rows);
    in.read(reinterpret_cast<char*>(grey.data()), static_cast<std::streamsize>(grey.size()));
    for (std::uint32_t y = 0; y < rows; ++y)
      for (std::uint32_t x = 0; x < width; ++x)
        if (grey[std::size_t{y} * width + x] * 2 < maxValue + 1)
          page.bits[y * rowBytes + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
  } else {
    ADD_FAILURE() << file << " is not a PBM or PGM file";
  }
  return page;
}

MonoPage GhostscriptPage(const std::filesystem::path& pdf, int page, double xdpi, double ydpi) {
  const std::filesystem::path out = pdf.string() + ".ref.pgm";
  char resolution[64];
  std::snprintf(resolution, sizeof resolution, "-r%gx%g", xdpi, ydpi);
  EXPECT_TRUE(RunCommand(
      "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pgmraw -dTextAlphaBits=1 "
      "-dGraphicsAlphaBits=1 " +
      std::string(resolution) + " -dFirstPage=" + std::to_string(page) +
      " -dLastPage=" + std::to_string(page) + " -o '" + out.string() + "' '" + pdf.string() + "'"));
  return ReadNetpbm(out);
}

MonoPage DecodeTiffPage(const std::filesystem::path& tif, int directory) {
  MonoPage page;
  TIFF* t = TIFFOpen(tif.c_str(), "r");
  if (t == nullptr) return page;
  if (TIFFSetDirectory(t, static_cast<tdir_t>(directory)) == 1) {
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &page.width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &page.rows);
    const std::size_t rowBytes = (page.width + 7) / 8;
    page.bits.assign(rowBytes * page.rows, 0);
    for (std::uint32_t r = 0; r < page.rows; ++r)
      if (TIFFReadScanline(t, page.bits.data() + r * rowBytes, r, 0) != 1) break;
  }
  TIFFClose(t);
  return page;
}

double InkCovered(const MonoPage& a, const MonoPage& b, std::uint32_t rows, int radius) {
  std::uint64_t ink = 0, covered = 0;
  for (std::uint32_t y = 0; y < rows && y < a.rows; ++y)
    for (std::uint32_t x = 0; x < a.width; ++x) {
      if (!a.Black(x, y)) continue;
      ++ink;
      bool found = false;
      for (int dy = -radius; dy <= radius && !found; ++dy)
        for (int dx = -radius; dx <= radius && !found; ++dx) {
          const long bx = static_cast<long>(x) + dx, by = static_cast<long>(y) + dy;
          found = bx >= 0 && by >= 0 &&
                  b.Black(static_cast<std::uint32_t>(bx), static_cast<std::uint32_t>(by));
        }
      covered += found ? 1 : 0;
    }
  return ink == 0 ? 1.0 : static_cast<double>(covered) / static_cast<double>(ink);
}

}  // namespace vexo::test
