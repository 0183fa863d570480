// The image importer on PNG files written with libpng, JPEG and BMP files
// made by ImageMagick: photographs are dithered and line art is cut sharp,
// pictures are fitted to the fax width (half the rows at normal resolution),
// tall ones split, transparency is white paper, and damaged, empty and
// oversized files are refused. Also the grey rules the PDF importer shares.
#include "document/image_import.h"

#include <gtest/gtest.h>
#include <png.h>

#include <fstream>

#include "document/convert_options.h"
#include "document/dither.h"
#include "tests/document/pdf_test_files.h"
#include "tests/document/tiff_test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::DecodeTiffPage;
using test::MonoPage;

constexpr std::uint32_t kWidth = 1728;

// A grey (or grey and alpha) PNG written by libpng.
void WritePng(const std::filesystem::path& file, std::uint32_t width, std::uint32_t height,
              const std::vector<std::uint8_t>& pixels, bool alpha = false) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = alpha ? PNG_FORMAT_GA : PNG_FORMAT_GRAY;
  ASSERT_NE(png_image_write_to_file(&image, file.c_str(), 0, pixels.data(), 0, nullptr), 0)
      << image.message;
}

// Black on the left to white on the right.
std::vector<std::uint8_t> Ramp(std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint8_t> pixels(std::size_t{width} * height);
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x)
      pixels[y * width + x] = static_cast<std::uint8_t>(x * 255 / (width - 1));
  return pixels;
}

// White with a black box over the middle half.
std::vector<std::uint8_t> Box(std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint8_t> pixels(std::size_t{width} * height, 255);
  for (std::uint32_t y = height / 4; y < height * 3 / 4; ++y)
    for (std::uint32_t x = width / 4; x < width * 3 / 4; ++x) pixels[y * width + x] = 0;
  return pixels;
}

double Share(const MonoPage& page, std::uint32_t x0, std::uint32_t y0, std::uint32_t x1,
             std::uint32_t y1) {
  return static_cast<double>(page.CountBlack(x0, y0, x1, y1)) / (double(x1 - x0) * (y1 - y0));
}

class ImageImportTest : public ::testing::Test {
 protected:
  void SetUp() override { test::TakePool(); }

  int Import(const std::filesystem::path& image, std::uint32_t* pages, bool normal = false) {
    ConvertOptions settings;
    settings.quality = normal ? 1 : 2;
    ImageImport importer;
    importer.Initialize();
    EXPECT_EQ(ConfigureImageImport(importer, settings), 1);
    FaxOutputFile out;
    EXPECT_EQ(out.Open(Output().string(), CreateMode::Replace), 1);
    const int result = importer.Image2Tiff(image.string(), out.Tiff(), pages);
    out.AddPages(*pages);
    EXPECT_EQ(out.Close(), 1);
    return result;
  }
  std::filesystem::path Output() const { return dir.path() / "out.tif"; }
  std::filesystem::path File(const char* name) const { return dir.path() / name; }
  void ExpectRefused(const std::filesystem::path& image, const std::string& why) {
    std::uint32_t pages = 99;
    EXPECT_EQ(Import(image, &pages), 0) << image;
    EXPECT_EQ(pages, 0u);
    const auto records = test::TakePool();
    EXPECT_TRUE(test::PoolHas(records, why)) << image << ": " << why;
    EXPECT_TRUE(DecodeTiffPage(Output(), 0).bits.empty());
  }

  test::TempDir dir;
};

TEST_F(ImageImportTest, PhotoLikePngIsDitheredNotCut) {
  const auto png = File("ramp.png");
  WritePng(png, 400, 300, Ramp(400, 300));
  std::uint32_t pages = 0;
  ASSERT_EQ(Import(png, &pages), 1);
  ASSERT_EQ(pages, 1u);
  const MonoPage page = DecodeTiffPage(Output(), 0);
  ASSERT_EQ(page.width, kWidth);
  // 300 rows at 1728 / 400 become 1296 fine rows.
  EXPECT_GT(Share(page, 0, 100, 100, 1200), 0.9);
  EXPECT_NEAR(Share(page, 814, 100, 914, 1200), 0.5, 0.08);
  EXPECT_NEAR(Share(page, 382, 100, 482, 1200), 0.75, 0.08);
  EXPECT_LT(Share(page, 1628, 100, 1728, 1200), 0.1);
  EXPECT_EQ(page.CountBlack(0, 1310, kWidth, page.rows), 0u);  // below the picture
}

TEST_F(ImageImportTest, LineArtIsCutSharpAndScaledToTheWidth) {
  const auto png = File("box.png");
  WritePng(png, 200, 100, Box(200, 100));
  std::uint32_t pages = 0;
  ASSERT_EQ(Import(png, &pages), 1);
  const MonoPage page = DecodeTiffPage(Output(), 0);
  // The box covers x 432..1296 and rows 216..648 exactly, with no dots around.
  EXPECT_EQ(Share(page, 432, 216, 1296, 648), 1.0);
  EXPECT_EQ(page.CountBlack(0, 0, kWidth, 216), 0u);
  EXPECT_EQ(page.CountBlack(0, 648, kWidth, page.rows), 0u);
  EXPECT_EQ(page.CountBlack(0, 0, 432, page.rows), 0u);
  EXPECT_EQ(page.CountBlack(1296, 0, kWidth, page.rows), 0u);

  ASSERT_EQ(Import(png, &pages, true), 1);
  const MonoPage normal = DecodeTiffPage(Output(), 0);
  EXPECT_EQ(Share(normal, 432, 108, 1296, 324), 1.0);
  EXPECT_EQ(normal.CountBlack(0, 324, kWidth, normal.rows), 0u);
}

TEST_F(ImageImportTest, JpegAndBmpFromImageMagick) {
  const auto jpg = File("ramp.jpg");
  ASSERT_TRUE(test::RunCommand("convert -size 300x400 gradient:black-white -rotate 90 '" +
                               jpg.string() + "'"));
  std::uint32_t pages = 0;
  ASSERT_EQ(Import(jpg, &pages), 1);
  ASSERT_EQ(pages, 1u);
  const MonoPage photo = DecodeTiffPage(Output(), 0);
  // 400 x 300 after turning: 1296 rows, a ramp across.
  EXPECT_NEAR(Share(photo, 814, 100, 914, 1200), 0.5, 0.1);
  EXPECT_LT(Share(photo, 0, 100, 100, 1200), 0.15);  // the top of the gradient turned to the left
  EXPECT_GT(Share(photo, 1628, 100, 1728, 1200), 0.85);

  // A CMYK JPEG (as print shops send): the ramp comes out the same.
  const auto cmyk = File("ramp-cmyk.jpg");
  ASSERT_TRUE(
      test::RunCommand("convert '" + jpg.string() + "' -colorspace CMYK '" + cmyk.string() + "'"));
  ASSERT_NE(
      test::CommandOutput("identify -format %[colorspace] '" + cmyk.string() + "'").find("CMYK"),
      std::string::npos);
  ASSERT_EQ(Import(cmyk, &pages), 1);
  const MonoPage printed = DecodeTiffPage(Output(), 0);
  EXPECT_NEAR(Share(printed, 814, 100, 914, 1200), 0.5, 0.1);
  EXPECT_LT(Share(printed, 0, 100, 100, 1200), 0.15);
  EXPECT_GT(Share(printed, 1628, 100, 1728, 1200), 0.85);

  const auto bmp = File("box.bmp");
  ASSERT_TRUE(
      test::RunCommand("convert -size 200x100 xc:white -fill black -draw 'rectangle 50,25 149,74' "
                       "-type TrueColor 'BMP3:" +
                       bmp.string() + "'"));
  ASSERT_EQ(Import(bmp, &pages), 1);
  const MonoPage box = DecodeTiffPage(Output(), 0);
  EXPECT_EQ(Share(box, 432, 216, 1296, 648), 1.0);
  EXPECT_EQ(box.CountBlack(0, 0, kWidth, 216), 0u);
}

TEST_F(ImageImportTest, TallPictureIsSplitIntoPages) {
  const auto png = File("tall.png");
  // 200 x 600 at 1728 across: 5184 rows, two full pages and a third.
  std::vector<std::uint8_t> pixels(200 * 600, 255);
  for (std::uint32_t y = 580; y < 600; ++y)
    for (std::uint32_t x = 0; x < 200; ++x) pixels[y * 200 + x] = 0;
  WritePng(png, 200, 600, pixels);
  std::uint32_t pages = 0;
  ASSERT_EQ(Import(png, &pages), 1);
  ASSERT_EQ(pages, 3u);
  const MonoPage last = DecodeTiffPage(Output(), 2);
  EXPECT_GT(last.CountBlack(0, 0, kWidth, last.rows), 100000u);
}

TEST_F(ImageImportTest, TransparentPixelsAreWhitePaper) {
  const auto png = File("clear.png");
  std::vector<std::uint8_t> pixels(100 * 100 * 2, 0);                  // black, fully transparent
  for (std::size_t i = 0; i < 50 * 100; ++i) pixels[i * 2 + 1] = 255;  // top half opaque
  WritePng(png, 100, 100, pixels, true);
  std::uint32_t pages = 0;
  ASSERT_EQ(Import(png, &pages), 1);
  const MonoPage page = DecodeTiffPage(Output(), 0);
  EXPECT_EQ(Share(page, 0, 0, kWidth, 860), 1.0);
  EXPECT_EQ(page.CountBlack(0, 868, kWidth, page.rows), 0u);
}

TEST_F(ImageImportTest, RefusesBadPictures) {
  const auto good = File("good.png");
  WritePng(good, 64, 64, Ramp(64, 64));
  const std::string bytes = test::ReadFileBytes(good);

  const auto truncated = File("truncated.png");
  std::ofstream(truncated, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  ExpectRefused(truncated, "damaged");

  const auto text = File("notes.jpg");
  std::ofstream(text) << "not a picture\n";
  ExpectRefused(text, "damaged");

  const auto badJpeg = File("bad.jpg");
  std::ofstream(badJpeg, std::ios::binary) << std::string("\xFF\xD8\xFF\xE0garbage", 11);
  ExpectRefused(badJpeg, "damaged");

  const auto empty = File("empty.png");
  std::ofstream{empty};
  ExpectRefused(empty, "is empty");

  const auto wide = File("wide.png");
  WritePng(wide, 40000, 1, std::vector<std::uint8_t>(40000, 0));
  ExpectRefused(wide, "too large");

  // One pixel across and 4000 down would be far more than eight pages.
  const auto thin = File("thin.png");
  WritePng(thin, 1, 4000, std::vector<std::uint8_t>(4000, 0));
  ExpectRefused(thin, "too large");
}

TEST(GreyRules, HistogramKindAndDitherDensity) {
  GreyHistogram text;
  std::vector<std::uint8_t> ink(1000, 255);
  std::fill(ink.begin(), ink.begin() + 300, 0);
  std::fill(ink.begin() + 300, ink.begin() + 310, 128);  // anti-aliased edges: 1%
  text.Add(ink);
  EXPECT_EQ(text.Kind(), GreyKind::Text);
  std::fill(ink.begin() + 300, ink.begin() + 330, 128);  // 3% tones
  GreyHistogram photo;
  photo.Add(ink);
  EXPECT_EQ(photo.Kind(), GreyKind::Photo);

  // Error diffusion keeps the grey level as a share of black dots.
  for (const int level : {32, 96, 160, 224}) {
    Ditherer ditherer(kWidth, GreyKind::Photo);
    const std::vector<std::uint8_t> grey(kWidth, static_cast<std::uint8_t>(level));
    std::vector<std::uint8_t> row(kWidth / 8);
    std::uint64_t black = 0;
    for (int r = 0; r < 200; ++r) {
      ditherer.Row(grey.data(), row.data());
      for (std::uint8_t b : row) black += static_cast<std::uint64_t>(__builtin_popcount(b));
    }
    EXPECT_NEAR(static_cast<double>(black) / (kWidth * 200.0), 1.0 - level / 255.0, 0.02) << level;
  }
}

}  // namespace
}  // namespace vexo
