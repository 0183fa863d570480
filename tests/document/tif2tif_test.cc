// The resolution converter on real TIFF files: sources written with libtiff
// (every width, resolution and photometric the cases need) and made by
// ImageMagick and libtiff's tools (G4, LZW, uncompressed, both fill orders),
// converted, checked with the send side's page checks and decoded by libtiff.
#include "document/tif2tif.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "base/presenter.h"
#include "document/convert_options.h"
#include "tests/document/tiff_test_pages.h"
#include "tests/support/box_recorder.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::DecodeWithLibTiff;
using test::kTestRowBytes;

using Page = std::vector<std::uint8_t>;
using Row = std::vector<std::uint8_t>;

constexpr std::uint32_t kFineRows = 2362;
constexpr std::uint32_t kNormalRows = 1181;

// One source page to write with libtiff; row(r) gives row r's bytes.
struct Source {
  std::uint32_t width = 1728;
  std::uint32_t length = 100;
  std::uint16_t bits = 1;
  std::uint16_t samples = 1;
  std::uint16_t photometric = PHOTOMETRIC_MINISWHITE;
  std::uint16_t compression = COMPRESSION_CCITTFAX4;
  float xResolution = 204, yResolution = 196;
  bool resolution = true;
  std::uint16_t unit = RESUNIT_INCH;
  std::function<Row(std::uint32_t)> row;
};

void WriteSource(const std::filesystem::path& file, const std::vector<Source>& pages) {
  TIFF* t = TIFFOpen(file.c_str(), "w");
  ASSERT_NE(t, nullptr);
  for (const Source& s : pages) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, s.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, s.length);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, s.bits);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, s.samples);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, s.photometric);
    TIFFSetField(t, TIFFTAG_COMPRESSION, s.compression);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, s.length);
    if (s.resolution) {
      TIFFSetField(t, TIFFTAG_XRESOLUTION, s.xResolution);
      TIFFSetField(t, TIFFTAG_YRESOLUTION, s.yResolution);
    }
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, s.unit);
    const std::size_t bytes = (static_cast<std::size_t>(s.width) * s.bits * s.samples + 7) / 8;
    for (std::uint32_t r = 0; r < s.length; ++r) {
      Row row = s.row ? s.row(r) : Row(bytes, 0);
      row.resize(bytes, 0);
      ASSERT_EQ(TIFFWriteScanline(t, row.data(), r, 0), 1);
    }
    ASSERT_EQ(TIFFWriteDirectory(t), 1);
  }
  TIFFClose(t);
}

bool Black(const std::uint8_t* row, std::size_t x) { return (row[x / 8] & (0x80 >> (x % 8))) != 0; }

// Rows of a decoded page that hold any black.
std::size_t InkedRows(const Page& page) {
  std::size_t n = 0;
  for (std::size_t r = 0; r < page.size() / kTestRowBytes; ++r)
    for (std::size_t i = 0; i < kTestRowBytes; ++i)
      if (page[r * kTestRowBytes + i] != 0) {
        ++n;
        break;
      }
  return n;
}

class Tif2TifTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::TakePool();
    ASSERT_EQ(converter.Initialize(), 1);
    UsePaper(kPaperA4Fine);
  }

  void UsePaper(std::uint32_t id) {
    PaperInfo paper;
    paper.id = id;
    paper.height = 2870;
    paper.top = 100;
    ASSERT_EQ(converter.SetPaper(paper, PAPER_ID | PAPER_HEIGHT | PAPER_TOP), 1);
  }

  std::filesystem::path Path(const std::string& name) { return dir.path() / name; }

  struct Converted {
    int result = 0;
    std::uint32_t pages = 0;
    std::uint64_t progressRows = 0;
    std::vector<Page> decoded;
  };

  // Converts into a new fax file; every page must pass the send side's checks.
  Converted Convert(const std::filesystem::path& source, const Tif2Tif::CancelFn& cancel = {}) {
    Converted out;
    const auto tif = Path("out" + std::to_string(++outputs) + ".tif");
    FaxOutputFile file;
    EXPECT_EQ(file.Open(tif.string()), 1);
    out.result = converter.Tiff2Tiff(
        source.string(), file.Tiff(), cancel, [&](std::uint32_t rows) { out.progressRows += rows; },
        &out.pages);
    file.AddPages(out.pages);
    EXPECT_EQ(file.Close(), 1);
    if (out.pages == 0) return out;
    TiffOper oper;
    oper.SetErrorPool(false);
    EXPECT_EQ(oper.OpenReadTiffHeader(tif.string()), 1);
    for (std::uint32_t p = 0; p < out.pages; ++p) {
      if (p > 0) {
        EXPECT_EQ(oper.NextPage(), 1);
      }
      EXPECT_EQ(oper.ReadTags(), 1) << "page " << p;
      EXPECT_EQ(oper.Tags().imageWidth, 1728u);
      out.decoded.push_back(DecodeWithLibTiff(tif, static_cast<int>(p)));
      EXPECT_FALSE(out.decoded.back().empty());
    }
    return out;
  }

  test::TempDir dir;
  test::BoxRecorder presenter;
  Tif2Tif converter;
  int outputs = 0;
};

// A row with pixel x (and x + 1) black: each row marks its own column.
Row MarkedRow(std::uint32_t width, std::uint32_t x) {
  Row row((width + 7) / 8, 0);
  row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
  return row;
}

// ---- ratios and rows ----

TEST(Tif2TifRatioTest, RatiosFromTheResolutions) {
  SourcePage fax;
  fax.hasX = fax.hasY = true;
  fax.xResolution = {204, 1};
  fax.yResolution = {196, 1};
  EXPECT_EQ(VerticalRatio(fax, false), (ScaleRatio{209, 196}));
  EXPECT_EQ(VerticalRatio(fax, true), (ScaleRatio{209, 392}));
  EXPECT_EQ(HorizontalRatio(fax), (ScaleRatio{209, 204}));  // from XResolution
  fax.resolutionUnit = RESUNIT_CENTIMETER;
  fax.yResolution = {118, 1};                                               // 300 dpi, near enough
  EXPECT_EQ(VerticalRatio(fax, false), (ScaleRatio{209 * 127, 59 * 100}));  // 209*254 / 118*100

  // Nothing to divide by, or nothing to trust: one to one.
  SourcePage odd = fax;
  odd.resolutionUnit = RESUNIT_NONE;
  EXPECT_EQ(VerticalRatio(odd, false), ScaleRatio{});
  EXPECT_EQ(HorizontalRatio(odd), ScaleRatio{});
  odd = fax;
  odd.yResolution = {196, 0};
  EXPECT_EQ(VerticalRatio(odd, false), ScaleRatio{});
  odd.yResolution = {0, 1};
  EXPECT_EQ(VerticalRatio(odd, false), ScaleRatio{});
  odd.hasY = false;
  EXPECT_EQ(VerticalRatio(odd, false), ScaleRatio{});
  odd.yResolution = {1, 1000};  // a thousandth of a pixel per inch
  odd.hasY = true;
  EXPECT_EQ(VerticalRatio(odd, false), ScaleRatio{});
  // Without XResolution the horizontal ratio follows YResolution.
  odd = fax;
  odd.resolutionUnit = RESUNIT_INCH;
  odd.hasX = false;
  odd.yResolution = {418, 1};
  EXPECT_EQ(HorizontalRatio(odd), (ScaleRatio{1, 2}));
}

TEST(Tif2TifRowTest, CopyCropsPadsAndInverts) {
  Row wide(2048 / 8, 0xAA), dest(216, 0x77);
  CopyRow(wide.data(), 2048, false, dest.data());
  EXPECT_EQ(dest, Row(216, 0xAA));
  CopyRow(wide.data(), 2048, true, dest.data());
  EXPECT_EQ(dest, Row(216, 0x55));
  // 1001 pixels of 0-is-black zeros: 1001 black pixels, then white.
  Row narrow((1001 + 7) / 8, 0x00);
  CopyRow(narrow.data(), 1001, true, dest.data());
  for (std::size_t x = 0; x < 1728; ++x) ASSERT_EQ(Black(dest.data(), x), x < 1001) << x;
}

TEST(Tif2TifRowTest, ScaleMapsPixelsByTheRatio) {
  Row source = MarkedRow(1728, 1000);
  Row dest(216);
  ScaleRow(source.data(), 1728, false, {209, 204}, dest.data());
  for (std::size_t x = 0; x < 1728; ++x)
    ASSERT_EQ(Black(dest.data(), x), x >= 1000 * 209 / 204 && x < 1001 * 209 / 204) << x;
  // Halving: pixel pairs become one; the far right of a wide source is cut.
  Row wide(4000 / 8, 0xFF);
  ScaleRow(wide.data(), 4000, false, {1, 2}, dest.data());
  EXPECT_EQ(dest, Row(216, 0xFF));
  ScaleRow(wide.data(), 4000, true, {1, 2}, dest.data());
  EXPECT_EQ(dest, Row(216, 0x00));
}

// ---- whole files ----

TEST_F(Tif2TifTest, FaxSourceAt196LinesScaledToFine) {
  converter.SetTransferMode(TRANSFER_SCALE);
  Source s;
  s.length = 1000;
  s.row = [](std::uint32_t r) { return MarkedRow(1728, r); };
  WriteSource(Path("fax196.tif"), {s});
  const Converted out = Convert(Path("fax196.tif"));
  ASSERT_EQ(out.result, 1);
  ASSERT_EQ(out.pages, 1u);
  EXPECT_EQ(out.progressRows, 1000u);
  const Page& page = out.decoded[0];
  ASSERT_EQ(page.size(), kFineRows * kTestRowBytes);
  // Source row r lands on destination rows floor(r*209/196) up to the next
  // row's, its pixel at floor(r*209/204); then white padding.
  for (std::uint32_t r = 0; r < 1000; ++r) {
    const std::uint32_t from = r * 209 / 196, to = (r + 1) * 209 / 196;
    for (std::uint32_t d = from; d < to; ++d) {
      const std::uint8_t* row = page.data() + d * kTestRowBytes;
      ASSERT_TRUE(Black(row, r * 209 / 204)) << "row " << d;
    }
  }
  EXPECT_EQ(InkedRows(page), 1000u * 209 / 196);

  // At normal resolution about every second source row remains.
  UsePaper(kPaperA4Normal);
  const Converted normal = Convert(Path("fax196.tif"));
  ASSERT_EQ(normal.decoded[0].size(), kNormalRows * kTestRowBytes);
  EXPECT_EQ(InkedRows(normal.decoded[0]), 1000u * 209 / 392);
}

TEST_F(Tif2TifTest, LongPagesAreSplitAndShortRemaindersDropped) {
  Source s;
  s.row = [](std::uint32_t r) { return MarkedRow(1728, r % 1728); };
  s.length = kFineRows + kFineRows / 8 + 1;  // more than an eighth left: a second page
  WriteSource(Path("long.tif"), {s});
  Converted out = Convert(Path("long.tif"));
  ASSERT_EQ(out.pages, 2u);
  EXPECT_EQ(out.progressRows, s.length);
  EXPECT_EQ(InkedRows(out.decoded[0]), kFineRows);
  EXPECT_EQ(InkedRows(out.decoded[1]), kFineRows / 8 + 1);  // padded with white

  s.length = kFineRows + kFineRows / 8;  // at most an eighth left: dropped
  WriteSource(Path("drop.tif"), {s});
  out = Convert(Path("drop.tif"));
  EXPECT_EQ(out.pages, 1u);
  EXPECT_EQ(out.progressRows, s.length);  // rows read and rows dropped

  s.length = 2 * kFineRows;  // exactly two pages: no empty third
  WriteSource(Path("two.tif"), {s});
  EXPECT_EQ(Convert(Path("two.tif")).pages, 2u);
}

TEST_F(Tif2TifTest, ZeroIsBlackSourceComesOutRightWayRound) {
  Source s;
  s.width = 1000;
  s.photometric = PHOTOMETRIC_MINISBLACK;
  s.compression = COMPRESSION_NONE;
  // 0 is black: a black band in rows 10..19, white elsewhere.
  s.row = [](std::uint32_t r) { return Row(125, r >= 10 && r < 20 ? 0x00 : 0xFF); };
  WriteSource(Path("inverse.tif"), {s});
  for (const std::uint32_t mode : {TRANSFER_COPY, TRANSFER_SCALE}) {
    converter.SetTransferMode(mode);
    const Converted out = Convert(Path("inverse.tif"));
    ASSERT_EQ(out.pages, 1u);
    const Page& page = out.decoded[0];
    EXPECT_EQ(InkedRows(page), mode == TRANSFER_COPY ? 10u : 10u * 209 / 196 + 1);
    const std::uint8_t* band = page.data() + 15 * kTestRowBytes;
    const std::size_t blackTo = mode == TRANSFER_COPY ? 1000 : 1000 * 209 / 204;
    for (std::size_t x = 0; x < 1728; ++x) ASSERT_EQ(Black(band, x), x < blackTo) << x;
  }
}

TEST_F(Tif2TifTest, WideAndNarrowSourcesInCopyMode) {
  Source wide;
  wide.width = 2048;
  wide.row = [](std::uint32_t r) { return r == 5 ? Row(256, 0xFF) : MarkedRow(2048, 1800); };
  Source narrow;
  narrow.width = 1000;
  narrow.row = [](std::uint32_t) { return Row(125, 0xFF); };
  WriteSource(Path("wide.tif"), {wide, narrow});
  const Converted out = Convert(Path("wide.tif"));
  ASSERT_EQ(out.pages, 2u);
  // The wide page keeps its left 1728 pixels (the mark at 1800 is cut off).
  EXPECT_EQ(InkedRows(out.decoded[0]), 1u);
  EXPECT_EQ(
      Row(out.decoded[0].begin() + 5 * kTestRowBytes, out.decoded[0].begin() + 6 * kTestRowBytes),
      Row(216, 0xFF));
  const std::uint8_t* row = out.decoded[1].data();
  for (std::size_t x = 0; x < 1728; ++x) ASSERT_EQ(Black(row, x), x < 1000) << x;
}

TEST_F(Tif2TifTest, GreyAndColourSourcesAreRefusedOnAnyPage) {
  Source bilevel;
  Source grey;
  grey.bits = 8;
  grey.compression = COMPRESSION_NONE;
  grey.photometric = PHOTOMETRIC_MINISBLACK;
  WriteSource(Path("grey2.tif"), {bilevel, grey});
  Source rgb = grey;
  rgb.bits = 1;
  rgb.samples = 3;
  rgb.photometric = PHOTOMETRIC_RGB;
  WriteSource(Path("rgb.tif"), {rgb});
  for (const char* name : {"grey2.tif", "rgb.tif"}) {
    presenter.boxes.clear();
    const Converted out = Convert(Path(name));
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.pages, 0u) << "nothing of " << name << " is converted";
    ASSERT_EQ(presenter.boxes.size(), 1u);
    EXPECT_NE(presenter.boxes[0].find(name), std::string::npos);
    EXPECT_NE(presenter.boxes[0].find("not black and white"), std::string::npos);
  }
}

TEST_F(Tif2TifTest, UnusableResolutionsScaleOneToOne) {
  converter.SetTransferMode(TRANSFER_SCALE);
  Source s;
  s.length = 300;
  s.row = [](std::uint32_t r) { return MarkedRow(1728, r); };
  s.resolution = false;
  WriteSource(Path("nores.tif"), {s});
  s.resolution = true;
  s.unit = RESUNIT_NONE;
  WriteSource(Path("unitless.tif"), {s});
  for (const char* name : {"nores.tif", "unitless.tif"}) {
    const Converted out = Convert(Path(name));
    ASSERT_EQ(out.result, 1) << name;
    EXPECT_EQ(InkedRows(out.decoded[0]), 300u) << name;
    EXPECT_TRUE(Black(out.decoded[0].data() + 299 * kTestRowBytes, 299));
  }
}

TEST_F(Tif2TifTest, CancelKeepsTheFinishedPages) {
  Source s;
  s.length = 50;
  WriteSource(Path("three.tif"), {s, s, s});
  int asked = 0;
  const Converted out = Convert(Path("three.tif"), [&] { return ++asked > 2; });
  EXPECT_EQ(out.result, -1);
  EXPECT_EQ(out.pages, 2u);
  EXPECT_EQ(Convert(Path("three.tif")).pages, 3u);
  EXPECT_EQ(Convert(Path("missing.tif")).result, 0);
  EXPECT_TRUE(test::PoolHas(test::TakePool(), "Open File Error FileName=["));
}

TEST(Tif2TifSetupTest, ConfiguredAsTheSendJobDoes) {
  ConvertOptions settings;
  settings.quality = 1;
  settings.resTransfer = 2;
  Tif2Tif converter;
  converter.Initialize();
  ASSERT_EQ(ConfigureTif2Tif(converter, settings), 1);
  EXPECT_EQ(converter.Layout().StoredRows(), kNormalRows);
  EXPECT_EQ(converter.TransferModeValue(), TRANSFER_SCALE);
  converter.SetTransferMode(3);
  EXPECT_EQ(converter.TransferModeValue(), TRANSFER_SCALE);
}

// ---- foreign files ----

int Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

TEST_F(Tif2TifTest, ForeignFilesFromImageMagickAndLibTiffToolsAllConvert) {
  if (Shell("command -v convert") != 0 || Shell("command -v tiffcp") != 0)
    GTEST_SKIP() << "ImageMagick convert or tiffcp missing";
  const std::string base = Path("drawing").string();
  ASSERT_EQ(Shell("convert -size 2480x1200 xc:white -fill black -draw 'rectangle 100,100 2300,180' "
                  "-draw 'circle 1240,700 1240,1100' -density 300 -units PixelsPerInch -monochrome "
                  "-compress Group4 " +
                  base + "-g4.tif"),
            0);
  ASSERT_EQ(Shell("convert " + base + "-g4.tif -compress LZW " + base + "-lzw.tif"), 0);
  ASSERT_EQ(Shell("convert " + base + "-g4.tif -compress None " + base + "-none.tif"), 0);
  ASSERT_EQ(Shell("tiffcp -c g3:2d -f lsb2msb " + base + "-g4.tif " + base + "-g3lsb.tif"), 0);
  ASSERT_EQ(Shell("tiffcp -c none -f lsb2msb " + base + "-g4.tif " + base + "-nonelsb.tif"), 0);
  ASSERT_EQ(Shell("convert " + base +
                  "-g4.tif -define tiff:photometric=min-is-black "
                  "-compress None " +
                  base + "-minblack.tif"),
            0);
  converter.SetTransferMode(TRANSFER_SCALE);
  std::vector<Page> first;
  for (const char* kind : {"g4", "lzw", "none", "g3lsb", "nonelsb", "minblack"}) {
    const Converted out = Convert(base + "-" + kind + ".tif");
    ASSERT_EQ(out.result, 1) << kind;
    ASSERT_EQ(out.pages, 1u) << kind;
    EXPECT_EQ(out.progressRows, 1200u) << kind;
    if (first.empty())
      first = out.decoded;
    else
      EXPECT_EQ(out.decoded, first) << kind << " differs from the G4 source";
  }
  // 2480 pixels at 300 dpi become 1728 at 209: the circle's centre row holds
  // black around 1240 * 209 / 300.
  const std::uint8_t* centre = first[0].data() + (700 * 209 / 300) * kTestRowBytes;
  EXPECT_TRUE(Black(centre, 1240 * 209 / 300));
  EXPECT_FALSE(Black(centre, 100));
}

}  // namespace
}  // namespace vexo
