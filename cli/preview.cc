// vexo preview FILE.tif -o DIR: writes every page of a black-and-white TIFF
// (a fax file, or any bilevel TIFF) as DIR/page-001.png, page-002.png, ...,
// decoded by libtiff, so that a person can look at what will be sent. Rows of
// a page whose vertical resolution is a half (or a third, a quarter) of its
// horizontal one are repeated, so normal-resolution pages keep their shape.
#include <fcntl.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/error_pool.h"
#include "cli/arg_parser.h"
#include "document/png_writer.h"
#include "document/tiff_lib.h"

namespace vexo::cli {
namespace {

constexpr std::uint32_t kMaxRowRepeat = 4;
constexpr std::uint32_t kMaxPreviewSide = 1u << 16;

double PixelsPerInch(TiffFile& tif, ttag_t tag, std::uint16_t unit) {
  const auto r = TIFFGetRational(tif, tag);
  if (!r || r->num == 0 || r->den == 0) return 0;
  const double value = static_cast<double>(r->num) / r->den;
  return unit == RESUNIT_CENTIMETER ? value * 2.54 : value;
}

// Writes the current page of tif; false with the reason printed.
bool WritePage(TiffFile& tif, const std::string& png) {
  TIFF* t = tif.get();
  std::uint32_t width = 0, length = 0;
  std::uint16_t bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISWHITE, unit = RESUNIT_INCH;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &length);
  TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &unit);
  if (bits != 1 || samples != 1) {
    std::fprintf(stderr, "vexo preview: page is not black and white\n");
    return false;
  }
  if (width == 0 || length == 0 || width > kMaxPreviewSide || length > kMaxPreviewSide) {
    std::fprintf(stderr, "vexo preview: page size %ux%u out of range\n", width, length);
    return false;
  }
  const double x = PixelsPerInch(tif, TIFFTAG_XRESOLUTION, unit);
  const double y = PixelsPerInch(tif, TIFFTAG_YRESOLUTION, unit);
  std::uint32_t repeat = 1;
  if (x > 0 && y > 0 && y < x)
    repeat = std::min(kMaxRowRepeat, static_cast<std::uint32_t>(std::lround(x / y)));
  repeat = std::max(repeat, 1u);
  PngWriter writer;
  if (!writer.Open(png, width, length * repeat, static_cast<std::uint32_t>(std::lround(x)),
                   static_cast<std::uint32_t>(std::lround(y * repeat)))) {
    std::fprintf(stderr, "vexo preview: %s\n", writer.Error().c_str());
    return false;
  }
  std::vector<std::uint8_t> row(
      std::max<std::size_t>(static_cast<std::size_t>(TIFFScanlineSize(t)), (width + 7) / 8));
  const bool invert = photometric == PHOTOMETRIC_MINISBLACK;
  for (std::uint32_t r = 0; r < length; ++r) {
    if (TIFFReadScanline(t, row.data(), r, 0) != 1) break;  // the rest of the page stays white
    if (invert)
      for (auto& b : row) b = static_cast<std::uint8_t>(~b);
    for (std::uint32_t i = 0; i < repeat; ++i)
      if (!writer.WriteRow(row.data())) break;
  }
  if (!writer.Close()) {
    std::fprintf(stderr, "vexo preview: %s\n", writer.Error().c_str());
    return false;
  }
  return true;
}

void PrintPool() {
  ErrorRecord record;
  while (ErrorPool::Instance().TakeOldest(record) > 0)
    std::fprintf(stderr, "vexo preview: %s\n", record.message.c_str());
}

}  // namespace

int RunPreview(int argc, char** argv) {
  std::string file, dir;
  CLI::App cli{
      "Write every page of a black-and-white TIFF file as DIR/page-001.png, "
      "page-002.png, ..."};
  cli.add_option("FILE.tif", file, "the TIFF file")->required();
  cli.add_option("-o", dir, "the directory of the PNG images (created when missing)")
      ->required()
      ->type_name("DIR");
  if (const auto code = ParseCommand(cli, argc, argv)) return *code;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    std::fprintf(stderr, "vexo preview: %s: %s\n", dir.c_str(), ec.message().c_str());
    return 1;
  }
  UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    std::perror(("vexo preview: " + file).c_str());
    return 1;
  }
  auto tif = TIFFOpenHandle(std::move(fd), file, "r");
  if (!tif) {
    PrintPool();
    return 1;
  }
  int page = 0;
  bool ok = true;
  do {
    char name[32];
    std::snprintf(name, sizeof name, "page-%03d.png", ++page);
    const std::string png = (std::filesystem::path(dir) / name).string();
    if (!WritePage(*tif, png)) {
      ok = false;
      continue;
    }
    std::printf("%s\n", png.c_str());
  } while (TIFFReadDirectory(tif->get()) == 1);
  PrintPool();
  return ok ? 0 : 1;
}

}  // namespace vexo::cli
