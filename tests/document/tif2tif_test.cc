// The resolution converter on TIFF files written with libtiff, converted,
// checked with the send side's page checks and decoded by libtiff.
#include "document/tif2tif.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/document/test_pages.h"
#include "tests/support/box_recorder.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::kTestRowBytes;

using Page = std::vector<std::uint8_t>;
using Row = std::vector<std::uint8_t>;

// A Group 4 page at 204 x 196 dpi; row(r) gives row r's bytes, white when
// shorter or when there is no row.
test::LibTiffPage Source(std::uint32_t rows, const std::function<Row(std::uint32_t)>& row = {},
                         std::uint32_t width = 1728) {
  test::LibTiffPage page{{}, rows, width, COMPRESSION_CCITTFAX4, 1, 0, 196};
  page.xResolution = 204;
  for (std::uint32_t r = 0; r < rows; ++r) {
    Row bytes = row ? row(r) : Row();
    bytes.resize((width + 7) / 8, 0);
    page.bitmap.insert(page.bitmap.end(), bytes.begin(), bytes.end());
  }
  return page;
}

class Tif2TifTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::TakeErrors();
    ASSERT_EQ(converter.Initialize(), 1);
    ASSERT_EQ(test::UseSendPaper(converter, kPaperA4Fine), 1);
    converter.SetNotBilevelHandler([this](const std::string& file) { refused.push_back(file); });
  }

  std::filesystem::path Path(const std::string& name) { return dir.path() / name; }
  struct Converted : test::WrittenFax {
    std::uint64_t progressRows = 0;
  };
  Converted Convert(const std::filesystem::path& source, const Tif2Tif::CancelFn& cancel = {}) {
    Converted out;
    static_cast<test::WrittenFax&>(out) = test::WriteFaxFile(
        Path("out" + std::to_string(++outputs) + ".tif"), [&](TiffFile& tif, std::uint32_t* pages) {
          return converter.Tiff2Tiff(
              source.string(), tif, cancel, [&](std::uint32_t rows) { out.progressRows += rows; },
              pages);
        });
    return out;
  }

  test::TempDir dir;
  std::vector<std::string> refused;  // told to the not-bilevel handler
  Tif2Tif converter;
  int outputs = 0;
};

// A row with pixel x (and x + 1) black: each row marks its own column.
Row MarkedRow(std::uint32_t width, std::uint32_t x) {
  Row row((width + 7) / 8, 0);
  row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
  return row;
}

TEST(Tif2TifRatioTest, RatiosFromTheResolutions) {
  SourcePage fax;
  fax.hasX = fax.hasY = true;
  fax.xResolution = {200, 1};
  fax.yResolution = {196, 1};
  EXPECT_EQ(VerticalRatio(fax, kFineRowsPerInch), ScaleRatio{});
  EXPECT_EQ(VerticalRatio(fax, kNormalRowsPerInch), (ScaleRatio{1, 2}));
  EXPECT_EQ(HorizontalRatio(fax), (ScaleRatio{51, 50}));  // 204 / 200, from XResolution
  fax.resolutionUnit = RESUNIT_CENTIMETER;
  fax.yResolution = {118, 1};  // 300 dpi, near enough
  EXPECT_EQ(VerticalRatio(fax, kFineRowsPerInch), (ScaleRatio{6223, 1475}));  // 196*254 / 118*100
  // Nothing to divide by, or nothing to trust: one to one.
  struct Odd {
    std::uint16_t unit;
    Rational y;
    bool hasY;
  };
  for (const Odd& o : {Odd{RESUNIT_NONE, {196, 1}, true}, Odd{RESUNIT_INCH, {196, 0}, true},
                       Odd{RESUNIT_INCH, {0, 1}, true}, Odd{RESUNIT_INCH, {196, 1}, false},
                       Odd{RESUNIT_INCH, {1, 1000}, true}}) {  // a thousandth of a pixel an inch
    SourcePage odd = fax;
    odd.resolutionUnit = o.unit;
    odd.yResolution = o.y;
    odd.hasY = o.hasY;
    EXPECT_EQ(VerticalRatio(odd, kNormalRowsPerInch), ScaleRatio{}) << o.y.num << "/" << o.y.den;
  }
  SourcePage odd = fax;
  odd.resolutionUnit = RESUNIT_NONE;
  EXPECT_EQ(HorizontalRatio(odd), ScaleRatio{});
  // Without XResolution the horizontal ratio follows YResolution.
  odd = fax;
  odd.resolutionUnit = RESUNIT_INCH;
  odd.hasX = false;
  odd.yResolution = {408, 1};
  EXPECT_EQ(HorizontalRatio(odd), (ScaleRatio{1, 2}));
}

TEST_F(Tif2TifTest, RowsFollowTheVerticalResolutionInBothModes) {
  for (const float dpi : {98.0f, 196.0f, 209.0f, 300.0f}) {
    auto s = Source(300, [](std::uint32_t r) { return MarkedRow(1728, r); });
    s.xResolution = s.yResolution = dpi;
    test::WriteWithLibTiff(Path("source.tif"), {s});
    for (const std::uint32_t mode : {TRANSFER_COPY, TRANSFER_SCALE})
      for (const std::uint32_t id : {kPaperA4Fine, kPaperA4Normal}) {
        SCOPED_TRACE(testing::Message() << dpi << " dpi, mode " << mode << ", paper " << id);
        converter.SetTransferMode(mode);
        ASSERT_EQ(test::UseSendPaper(converter, id), 1);
        const Converted out = Convert(Path("source.tif"));
        ASSERT_EQ(out.pages, 1u);
        const double density = id == kPaperA4Fine ? kFineRowsPerInch : kNormalRowsPerInch;
        EXPECT_NEAR(test::InkedRows(out.decoded[0]), 300 * density / dpi, 1);
        const int rows = static_cast<int>(out.decoded[0].size() / kTestRowBytes);
        for (int x = 0; mode == TRANSFER_COPY && x < 300; ++x)  // folded rows are OR-ed
          ASSERT_GT(test::InkIn(out.decoded[0], x, 0, x + 1, rows), 0u) << x;
        const auto y = test::DumpTag(out.file, 0, TIFFTAG_YRESOLUTION).rational;
        EXPECT_DOUBLE_EQ(double(y.at(0)) / y.at(1), density);
      }
  }
}

TEST_F(Tif2TifTest, ThinRulesFrom300DpiSurviveScaling) {
  // Rows 0-149: a 1-pixel vertical rule every 7 pixels; then a 1-pixel
  // horizontal rule every 7 rows.
  auto s = Source(
      300,
      [](std::uint32_t r) {
        Row row(300, 0);
        for (std::uint32_t x = 3; x < 2400 && r < 150; x += 7) row[x / 8] |= 0x80 >> (x % 8);
        if (r >= 150 && r % 7 == 0) std::fill_n(row.begin(), 100, 0xFF);
        return row;
      },
      2400);
  s.xResolution = s.yResolution = 300;
  test::WriteWithLibTiff(Path("rules.tif"), {s});
  converter.SetTransferMode(TRANSFER_SCALE);
  const Page page = Convert(Path("rules.tif")).decoded.at(0);
  int runs = 0;
  for (int x = 0; x < 1728; ++x)
    runs += test::Black(page, x, 50) && (x == 0 || !test::Black(page, x - 1, 50));
  EXPECT_EQ(runs, 343);  // every vertical rule
  const int below = 150 * 196 / 300 + 1;
  EXPECT_EQ(test::InkedRows(Page(page.begin() + below * kTestRowBytes, page.end())), 150u / 7);
}

TEST_F(Tif2TifTest, TiledAndTurnedSourcesReadAsStored) {
  test::WriteWithLibTiff(Path("strips.tif"),
                         {Source(1000, [](std::uint32_t r) { return test::PatternPage(1, r); })});
  ASSERT_TRUE(test::RunCommand("tiffcp -t -w 256 -l 256 " + Path("strips.tif").string() + " " +
                               Path("tiles.tif").string()));
  EXPECT_EQ(Convert(Path("tiles.tif")).decoded, Convert(Path("strips.tif")).decoded);
  // A 16 x 8 block at the stored top left, 800 x 400 stored, in each orientation.
  const test::InkBox expected[] = {{0, 0, 15, 7},        {784, 0, 799, 7}, {784, 392, 799, 399},
                                   {0, 392, 15, 399},    {0, 0, 7, 15},    {392, 0, 399, 15},
                                   {392, 784, 399, 799}, {0, 784, 7, 799}};
  auto block = Source(
      400, [](std::uint32_t r) { return Row(r < 8 ? 2 : 0, 0xFF); }, 800);
  block.xResolution = 196;  // square pixels, so that turning keeps the sizes
  for (int orientation = 1; orientation <= 8; ++orientation) {
    const auto file = Path("turned" + std::to_string(orientation) + ".tif");
    test::WriteWithLibTiff(file, {block});
    ASSERT_TRUE(
        test::RunCommand("tiffset -s 274 " + std::to_string(orientation) + " " + file.string()));
    EXPECT_EQ(test::InkBounds(Convert(file).decoded.at(0)), expected[orientation - 1])
        << orientation;
  }
}

TEST_F(Tif2TifTest, LongPagesAreSplitAndShortRemaindersDropped) {
  const std::uint32_t kFineRows = converter.Layout().StoredRows();
  auto marked = [](std::uint32_t rows) {
    return Source(rows, [](std::uint32_t r) { return MarkedRow(1728, r % 1728); });
  };
  // More than an eighth left: a second page.
  test::WriteWithLibTiff(Path("long.tif"), {marked(kFineRows + kFineRows / 8 + 1)});
  Converted out = Convert(Path("long.tif"));
  ASSERT_EQ(out.pages, 2u);
  EXPECT_EQ(out.progressRows, kFineRows + kFineRows / 8 + 1);
  EXPECT_EQ(test::InkedRows(out.decoded[0]), kFineRows);
  EXPECT_EQ(test::InkedRows(out.decoded[1]), kFineRows / 8 + 1);  // padded with white
  // At most an eighth left: dropped.
  test::WriteWithLibTiff(Path("drop.tif"), {marked(kFineRows + kFineRows / 8)});
  out = Convert(Path("drop.tif"));
  EXPECT_EQ(out.pages, 1u);
  EXPECT_EQ(out.progressRows, kFineRows + kFineRows / 8);  // rows read and rows dropped
  // Exactly two pages: no empty third.
  test::WriteWithLibTiff(Path("two.tif"), {marked(2 * kFineRows)});
  EXPECT_EQ(Convert(Path("two.tif")).pages, 2u);
}

TEST_F(Tif2TifTest, ZeroIsBlackSourceComesOutRightWayRound) {
  // 0 is black: a black band in rows 10..19, white elsewhere.
  auto s = Source(
      100, [](std::uint32_t r) { return Row(125, r >= 10 && r < 20 ? 0x00 : 0xFF); }, 1000);
  s.photometric = PHOTOMETRIC_MINISBLACK;
  s.compression = COMPRESSION_NONE;
  test::WriteWithLibTiff(Path("inverse.tif"), {s});
  for (const std::uint32_t mode : {TRANSFER_COPY, TRANSFER_SCALE}) {
    converter.SetTransferMode(mode);
    const Converted out = Convert(Path("inverse.tif"));
    ASSERT_EQ(out.pages, 1u);
    const Page& page = out.decoded[0];
    EXPECT_EQ(test::InkedRows(page), 10u);
    for (int x = 0; x < 1728; ++x) ASSERT_EQ(test::Black(page, x, 15), x < 1000) << x;
  }
}

TEST_F(Tif2TifTest, WideSourceIsCutInCopyMode) {
  // (The zero-is-black test covers a narrow source padded with white.)
  test::WriteWithLibTiff(
      Path("wide.tif"),
      {Source(
          100, [](std::uint32_t r) { return r == 5 ? Row(256, 0xFF) : MarkedRow(2048, 1800); },
          2048)});
  const Converted out = Convert(Path("wide.tif"));
  ASSERT_EQ(out.pages, 1u);
  // The wide page keeps its left 1728 pixels (the mark at 1800 is cut off).
  EXPECT_EQ(test::InkedRows(out.decoded[0]), 1u);
  EXPECT_EQ(
      Row(out.decoded[0].begin() + 5 * kTestRowBytes, out.decoded[0].begin() + 6 * kTestRowBytes),
      Row(216, 0xFF));
}

TEST_F(Tif2TifTest, GreyAndColourSourcesAreRefusedOnAnyPage) {
  auto grey = Source(100, {}, 1728 * 8);  // the bytes of 8 bits a pixel
  grey.width = 1728;
  grey.bitsPerSample = 8;
  grey.compression = COMPRESSION_NONE;
  grey.photometric = PHOTOMETRIC_MINISBLACK;
  test::WriteWithLibTiff(Path("grey2.tif"), {Source(100), grey});
  auto rgb = Source(100, {}, 1728 * 3);
  rgb.width = 1728;
  rgb.samplesPerPixel = 3;
  rgb.compression = COMPRESSION_NONE;
  rgb.photometric = PHOTOMETRIC_RGB;
  test::WriteWithLibTiff(Path("rgb.tif"), {rgb});
  for (const char* name : {"grey2.tif", "rgb.tif"}) {
    refused.clear();
    const Converted out = Convert(Path(name));
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.pages, 0u) << "nothing of " << name << " is converted";
    EXPECT_EQ(refused, std::vector<std::string>{Path(name).string()});
  }
}

TEST_F(Tif2TifTest, UnusableResolutionsScaleOneToOne) {
  converter.SetTransferMode(TRANSFER_SCALE);
  auto s = Source(300, [](std::uint32_t r) { return MarkedRow(1728, r); });
  s.xResolution = 0;  // no resolution tags (the ratio test covers other unusable values)
  test::WriteWithLibTiff(Path("nores.tif"), {s});
  const Converted out = Convert(Path("nores.tif"));
  ASSERT_EQ(out.result, 1);
  EXPECT_EQ(test::InkedRows(out.decoded[0]), 300u);
  EXPECT_TRUE(test::Black(out.decoded[0], 299, 299));
}

TEST_F(Tif2TifTest, CancelKeepsTheFinishedPages) {
  test::WriteWithLibTiff(Path("three.tif"), {Source(50), Source(50), Source(50)});
  int asked = 0;
  const Converted out = Convert(Path("three.tif"), [&] { return ++asked > 2; });
  EXPECT_EQ(out.result, -1);
  EXPECT_EQ(out.pages, 2u);
  EXPECT_EQ(Convert(Path("three.tif")).pages, 3u);
  EXPECT_EQ(Convert(Path("missing.tif")).result, 0);
  EXPECT_TRUE(test::PoolHas(test::TakeErrors(), "Open File Error FileName=["));
}

}  // namespace
}  // namespace vexo
