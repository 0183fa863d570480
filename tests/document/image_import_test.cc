// The image importer on PNG, JPEG and BMP files: photographs dithered, line
// art cut sharp, fitted to the fax width, transparency white, bad files refused.
#include "document/image_import.h"

#include <gtest/gtest.h>
#include <png.h>

#include "document/convert_options.h"
#include "document/fax_coding.h"
#include "tests/document/test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

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
  void SetUp() override { test::TakeErrors(); }
  // Imports image into a new fax file (quality 1: normal resolution).
  test::WrittenFax Import(const std::filesystem::path& image, std::uint32_t quality = 2) {
    ConvertOptions settings;
    settings.quality = quality;
    ImageImport importer;
    importer.Initialize();
    EXPECT_EQ(ConfigureImageImport(importer, settings), 1);
    return test::WriteFaxFile(dir.path() / ("out" + std::to_string(++outputs) + ".tif"),
                              [&](TiffFile& tif, std::uint32_t* pages) {
                                return importer.Image2Tiff(image.string(), tif, pages);
                              });
  }
  // The one page an import gives.
  MonoPage Imported(const std::filesystem::path& image, std::uint32_t quality = 2) {
    auto fax = Import(image, quality);
    EXPECT_EQ(fax.result, 1) << image;
    EXPECT_EQ(fax.pages, 1u) << image;
    return test::FaxMonoPage(fax.decoded.empty() ? std::vector<std::uint8_t>() : fax.decoded[0]);
  }
  std::filesystem::path File(const char* name) const { return dir.path() / name; }
  void ExpectRefused(const std::filesystem::path& image, const std::string& why) {
    const auto fax = Import(image);
    EXPECT_EQ(fax.result, 0) << image;
    EXPECT_EQ(fax.pages, 0u);
    EXPECT_TRUE(test::PoolHas(test::TakeErrors(), why)) << image << ": " << why;
    EXPECT_TRUE(test::DecodeWithLibTiff(fax.file, 0).empty());
  }

  test::TempDir dir;
  int outputs = 0;
};

TEST_F(ImageImportTest, PhotoLikePngIsDitheredNotCut) {
  const auto png = File("ramp.png");
  WritePng(png, 400, 300, Ramp(400, 300));
  const MonoPage page = Imported(png);
  // 300 rows at 1728 / 400 across become 1245 fine rows (204 pixels per inch across, 196 down).
  EXPECT_GT(Share(page, 0, 100, 100, 1200), 0.9);
  EXPECT_NEAR(Share(page, 814, 100, 914, 1200), 0.5, 0.08);
  EXPECT_NEAR(Share(page, 382, 100, 482, 1200), 0.75, 0.08);
  EXPECT_LT(Share(page, 1628, 100, 1728, 1200), 0.1);
  EXPECT_EQ(page.CountBlack(0, 1310, kWidth, page.rows), 0u);  // below the picture
}

// Mid grey, a ramp from top to bottom and a photograph, at both resolutions:
// the halftone decodes in libtiff's tools and in our own decoder (single-pixel
// runs across a whole row stop libtiff's G3 decoder with "Buffer overflow").
TEST_F(ImageImportTest, HalftonesDecodeInEveryReader) {
  const struct {
    const char* name;
    const char* picture;  // ImageMagick's
    std::uint32_t rows;   // fine rows it is drawn on
    double ink;           // share of black pixels there
  } pictures[] = {{"grey.png", "-size 1728x400 xc:gray50", 384, 0.5},
                  {"ramp.png", "-size 1728x800 gradient:white-black", 768, 0.5},
                  {"photo.png", "rose: -resize 1728x", 1090, 0.6}};  // mean grey 0.39
  for (const auto& p : pictures) {
    const auto png = File(p.name);
    ASSERT_TRUE(test::RunCommand(std::string("convert ") + p.picture + " -colorspace Gray '" +
                                 png.string() + "'"));
    for (const std::uint32_t quality : {1u, 2u}) {
      SCOPED_TRACE(std::string(p.name) + " quality " + std::to_string(quality));
      const auto fax = Import(png, quality);
      ASSERT_EQ(fax.result, 1);
      const std::string tif = fax.file.string(), errors = tif + ".err";
      EXPECT_TRUE(test::RunCommand("tiffcp -c g4 '" + tif + "' '" + tif + ".g4' 2>'" + errors +
                                   "' && tiff2pdf -o '" + tif + ".pdf' '" + tif + "' 2>>'" +
                                   errors + "'"));
      EXPECT_EQ(test::ReadFileBytes(errors), "");
      const auto coded = test::RawStripWithLibTiff(fax.file, 0);
      const auto decoded = DecodeFaxPage(coded, FaxCoding::kMh, kWidth, quality == 2);
      ASSERT_TRUE(decoded.has_value());
      EXPECT_EQ(decoded->badRows, 0u);
      EXPECT_TRUE(decoded->complete);
      const MonoPage page = test::FaxMonoPage(fax.decoded[0]);
      EXPECT_NEAR(Share(page, 0, 0, kWidth, quality == 2 ? p.rows : p.rows / 2), p.ink, 0.05);
    }
  }
}

TEST_F(ImageImportTest, LineArtIsCutSharpAndScaledToTheWidth) {
  const auto png = File("box.png");
  WritePng(png, 200, 100, Box(200, 100));
  const MonoPage page = Imported(png);
  // The box covers x 432..1296 and rows 208..622 exactly, with no dots around.
  EXPECT_EQ(Share(page, 432, 208, 1296, 623), 1.0);
  EXPECT_EQ(page.CountBlack(0, 0, kWidth, page.rows), 864u * 415u);
  const MonoPage normal = Imported(png, 1);
  EXPECT_EQ(Share(normal, 432, 104, 1296, 312), 1.0);
  EXPECT_EQ(normal.CountBlack(0, 312, kWidth, normal.rows), 0u);
}

TEST_F(ImageImportTest, JpegAndBmpFromImageMagick) {
  const auto jpg = File("ramp.jpg");
  const auto cmyk = File("ramp-cmyk.jpg");  // as print shops send
  ASSERT_TRUE(test::RunCommand("convert -size 300x400 gradient:black-white -rotate 90 '" +
                               jpg.string() + "'"));
  ASSERT_TRUE(
      test::RunCommand("convert '" + jpg.string() + "' -colorspace CMYK '" + cmyk.string() + "'"));
  ASSERT_TRUE(
      test::RunCommand("identify -format %[colorspace] '" + cmyk.string() + "' | grep -q CMYK"));
  for (const auto& file : {jpg, cmyk}) {
    // 400 x 300 after turning: 1245 rows, a ramp across, white on the left.
    const MonoPage photo = Imported(file);
    EXPECT_NEAR(Share(photo, 814, 100, 914, 1200), 0.5, 0.1);
    EXPECT_LT(Share(photo, 0, 100, 100, 1200), 0.15);
    EXPECT_GT(Share(photo, 1628, 100, 1728, 1200), 0.85);
  }

  const auto bmp = File("box.bmp");
  ASSERT_TRUE(
      test::RunCommand("convert -size 200x100 xc:white -fill black -draw 'rectangle 50,25 149,74' "
                       "-type TrueColorAlpha 'BMP:" +
                       bmp.string() + "'"));
  const MonoPage box = Imported(bmp);
  EXPECT_EQ(Share(box, 432, 208, 1296, 623), 1.0);
  EXPECT_EQ(box.CountBlack(0, 0, kWidth, 208), 0u);
}

TEST_F(ImageImportTest, TransparentPixelsAreWhitePaper) {
  const auto png = File("clear.png");
  std::vector<std::uint8_t> pixels(100 * 100 * 2, 0);                  // black, fully transparent
  for (std::size_t i = 0; i < 50 * 100; ++i) pixels[i * 2 + 1] = 255;  // top half opaque
  WritePng(png, 100, 100, pixels, true);
  const MonoPage page = Imported(png);
  EXPECT_EQ(Share(page, 0, 0, kWidth, 826), 1.0);
  EXPECT_EQ(page.CountBlack(0, 834, kWidth, page.rows), 0u);
}

TEST_F(ImageImportTest, RefusesBadPictures) {
  WritePng(File("good.png"), 64, 64, Ramp(64, 64));
  const std::string bytes = test::ReadFileBytes(File("good.png"));
  const struct {
    const char* name;
    std::string bytes;
    const char* why;
  } files[] = {{"truncated.png", bytes.substr(0, bytes.size() / 2), "damaged"},
               {"notes.jpg", "not a picture\n", "damaged"},
               {"bad.jpg", std::string("\xFF\xD8\xFF\xE0garbage", 11), "damaged"},
               {"empty.png", "", "is empty"}};
  for (const auto& f : files) {
    test::WriteFileBytes(File(f.name), f.bytes);
    ExpectRefused(File(f.name), f.why);
  }
  WritePng(File("wide.png"), 40000, 1, std::vector<std::uint8_t>(40000, 0));
  ExpectRefused(File("wide.png"), "too large");
  // One pixel across and 4000 down would be far more than eight pages.
  WritePng(File("thin.png"), 1, 4000, std::vector<std::uint8_t>(4000, 0));
  ExpectRefused(File("thin.png"), "too large");
}

}  // namespace
}  // namespace vexo
