// The PDF and PNG export of a fine and a normal A4 fax page, read back with
// poppler (pdfinfo, pdftoppm, pdfimages) and libpng; failures leave no PDF.
#include "document/pdf_export.h"

#include <gtest/gtest.h>
#include <png.h>

#include <fstream>
#include <regex>

#include "document/png_writer.h"
#include "document/txt2tif_paper.h"
#include "tests/document/test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::MonoPage;

constexpr std::uint32_t kWidth = 1728;
constexpr std::uint32_t kA4Rows[] = {2292, 1146};       // 297 mm at 196 and 98 rows per inch
constexpr double kLineMillimetres = 1728 * 25.4 / 204;  // the T.4 line: 215 mm
constexpr double kMillimetresPerPoint = 25.4 / 72;

// The grey pixels of a PNG file read with libpng; empty when it does not read.
std::vector<std::uint8_t> ReadPng(const std::string& file, png_image& image) {
  image = {};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, file.c_str()) == 0) return {};
  image.format = PNG_FORMAT_GRAY;
  std::vector<std::uint8_t> grey(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, grey.data(), 0, nullptr) == 0) return {};
  return grey;
}

class PdfExportTest : public ::testing::Test {
 protected:
  // A fax of two A4 pages with patterns: fine, then normal.
  void SetUp() override {
    test::TakeErrors();
    FaxOutputFile out;
    ASSERT_EQ(out.Open(fax.string(), CreateMode::Replace), 1);
    FaxPageWriter writer(out.Tiff(), nullptr);
    for (int p = 0; p < 2; ++p) {
      ASSERT_TRUE(writer.BeginPage(FaxPageFormat{1728, kA4Rows[p], kFineRowsPerInch, p == 1}));
      const auto bitmap = test::PatternPage(kA4Rows[p], static_cast<unsigned>(p + 3));
      for (std::uint32_t r = 0; r < kA4Rows[p]; ++r)
        ASSERT_TRUE(writer.WriteRow(bitmap.data() + r * test::kTestRowBytes));
      ASSERT_TRUE(writer.EndPage());
    }
    out.AddPages(2);
    ASSERT_EQ(out.Close(), 1);
  }
  test::TempDir dir;
  std::filesystem::path fax = dir.path() / "QX000001.tif";
  std::filesystem::path pdf = dir.path() / "fax.pdf";
};

TEST_F(PdfExportTest, PdfOpensWithA4PagesAndRendersBackToTheFaxPixels) {
  std::uint32_t pages = 0;
  ASSERT_EQ(ExportFaxToPdf(fax.string(), pdf.string(), &pages), 1);
  EXPECT_EQ(pages, 2u);
  EXPECT_FALSE(std::filesystem::exists(pdf.string() + ".part"));
  // Group 4 keeps the PDF no larger than the Group 3 fax.
  EXPECT_LT(std::filesystem::file_size(pdf), std::filesystem::file_size(fax));
  test::RunCommand("pdfinfo -f 1 -l 2 '" + pdf.string() + "' > '" + pdf.string() + ".info' 2>&1");
  const std::string info = test::ReadFileBytes(pdf.string() + ".info");
  EXPECT_NE(info.find("Pages:           2"), std::string::npos) << info;
  const std::regex size(R"(Page +(\d) size: +([0-9.]+) x ([0-9.]+) pts)");
  int sized = 0;
  for (std::sregex_iterator it(info.begin(), info.end(), size), end; it != end; ++it, ++sized) {
    EXPECT_NEAR(std::stod((*it)[2]) * kMillimetresPerPoint, kLineMillimetres, 1) << info;
    EXPECT_NEAR(std::stod((*it)[3]) * kMillimetresPerPoint, 297, 1) << info;
  }
  EXPECT_EQ(sized, 2) << info;
  const std::string base = (dir.path() / "back").string();
  ASSERT_TRUE(test::RunCommand("pdfimages '" + pdf.string() + "' '" + base + "-image'"));
  for (int p = 0; p < 2; ++p) {
    SCOPED_TRACE(p);
    const MonoPage page{kWidth, kA4Rows[p], test::DecodeWithLibTiff(fax, p)};
    const std::string n = std::to_string(p + 1), back = base + n;
    ASSERT_TRUE(
        test::RunCommand("pdftoppm -gray -aa no -aaVector no -scale-to-x 1728 -scale-to-y " +
                         std::to_string(page.rows) + " -f " + n + " -l " + n + " -singlefile '" +
                         pdf.string() + "' '" + back + "'"));
    const MonoPage rendered = test::ReadNetpbm(back + ".pgm");
    EXPECT_EQ(rendered.rows, page.rows);
    EXPECT_EQ(rendered.width, kWidth);
    // Rendered onto the fax's own pixel grid, every black pixel comes back
    // within a pixel (the renderer's resampling may move an edge or lose a lone dot).
    EXPECT_GT(test::InkCovered(rendered, page, page.rows, 1), 0.99);
    EXPECT_GT(test::InkCovered(page, rendered, page.rows, 1), 0.99);
    // The embedded Group 4 image, decoded by poppler, is the fax's pixels exactly.
    EXPECT_EQ(test::ReadNetpbm(base + "-image-00" + std::to_string(p) + ".pbm").bits, page.bits);
  }
}

TEST_F(PdfExportTest, PngPagesKeepTheirShape) {
  const auto out = dir.path() / "png";
  std::vector<std::string> files;
  ASSERT_EQ(ExportFaxToPng(fax.string(), out.string(), &files), 1);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[1], (out / "page-002.png").string());
  for (int i = 0; i < 2; ++i) {
    png_image image;
    const auto grey = ReadPng(files[i], image);
    ASSERT_FALSE(grey.empty());
    EXPECT_EQ(image.width, kWidth);
    // The normal page's rows are doubled: both pages are A4-shaped.
    EXPECT_EQ(image.height, kA4Rows[0]);
    const auto source = test::DecodeWithLibTiff(fax, i);
    std::uint64_t differ = 0;
    for (std::uint32_t y = 0; y < image.height; ++y)
      for (std::uint32_t x = 0; x < kWidth; ++x)
        differ += test::Black(source, x, y >> i) != (grey[std::size_t{y} * kWidth + x] < 128);
    EXPECT_EQ(differ, 0u) << files[i];
  }
}

TEST(PngWriterTest, UnwrittenRowsAreWhiteAndBadWritesAreRefused) {
  test::TempDir dir;
  const auto file = (dir.path() / "page.png").string();
  PngWriter writer;
  ASSERT_TRUE(writer.Open(file, 12, 3, 209, 209));
  const std::uint8_t first[] = {0x80, 0x10};  // pixels 0 and 11 black
  ASSERT_TRUE(writer.WriteRow(first));
  ASSERT_TRUE(writer.Close());  // rows 1 and 2 were not written: white
  png_image image;
  const auto grey = ReadPng(file, image);
  ASSERT_EQ(grey.size(), 36u);
  for (std::uint32_t x = 0; x < 36; ++x) EXPECT_EQ(grey[x], x == 0 || x == 11 ? 0 : 255) << x;
  EXPECT_FALSE(writer.Open((dir.path() / "none" / "x.png").string(), 10, 10, 0, 0));
  EXPECT_FALSE(writer.Error().empty());
  EXPECT_FALSE(writer.Open((dir.path() / "x.png").string(), 0, 10, 0, 0));
  EXPECT_FALSE(writer.WriteRow(first));
  ASSERT_TRUE(writer.Open((dir.path() / "y.png").string(), 8, 1, 0, 0));
  EXPECT_TRUE(writer.WriteRow(first));
  EXPECT_FALSE(writer.WriteRow(first));  // past the last row
  EXPECT_TRUE(writer.Close());
}

TEST_F(PdfExportTest, FailedExportLeavesNoPdfAndKeepsAnOldOne) {
  std::uint32_t pages = 7;
  EXPECT_EQ(ExportFaxToPdf((dir.path() / "missing.tif").string(), pdf.string(), &pages), 0);
  EXPECT_EQ(pages, 0u);
  EXPECT_FALSE(std::filesystem::exists(pdf));
  EXPECT_TRUE(test::PoolHas(test::TakeErrors(), "Open File Error"));
  // A grey TIFF is no fax: refused, and an existing PDF stays as it was.
  const auto grey = dir.path() / "grey.tif";
  ASSERT_TRUE(test::RunCommand("convert -size 64x64 gradient:black-white -depth 8 '" +
                               grey.string() + "'"));
  std::ofstream(pdf) << "old";
  EXPECT_EQ(ExportFaxToPdf(grey.string(), pdf.string(), &pages), 0);
  EXPECT_EQ(test::ReadFileBytes(pdf), "old");
  EXPECT_FALSE(std::filesystem::exists(pdf.string() + ".part"));
  EXPECT_TRUE(test::PoolHas(test::TakeErrors(), "not a black-and-white fax page"));
}

}  // namespace
}  // namespace vexo
