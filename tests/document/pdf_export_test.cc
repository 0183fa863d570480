// The PDF and PNG export of fax files: a fax of a fine and a normal A4 page is
// exported, opened with poppler's pdfinfo (page count, A4 within a millimetre)
// and rendered back with pdftoppm to the fax's own pixels; PNG pages are read
// back with libpng; files that cannot be exported leave no PDF behind.
#include "document/pdf_export.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <fstream>
#include <regex>

#include "document/txt2tif_paper.h"
#include "tests/document/pdf_test_files.h"
#include "tests/document/tiff_test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::MonoPage;

constexpr std::uint32_t kWidth = 1728;
constexpr std::uint32_t kA4FineRows = 2444;  // 297 mm at 209 per inch
constexpr std::uint32_t kA4NormalRows = 1222;
constexpr double kMillimetresPerPoint = 25.4 / 72;

// A fax of two A4 pages with patterns: fine, then normal.
void WriteFax(const std::filesystem::path& file) {
  FaxOutputFile out;
  ASSERT_EQ(out.Open(file.string(), CreateMode::Replace), 1);
  FaxPageWriter writer(out.Tiff(), nullptr);
  const std::uint32_t rows[] = {kA4FineRows, kA4NormalRows};
  for (int p = 0; p < 2; ++p) {
    FaxPageFormat format;
    format.rows = rows[p];
    format.normal = p == 1;
    ASSERT_TRUE(writer.BeginPage(format));
    const auto bitmap = test::PatternPage(rows[p], static_cast<unsigned>(p + 3));
    for (std::uint32_t r = 0; r < rows[p]; ++r)
      ASSERT_TRUE(writer.WriteRow(bitmap.data() + r * test::kTestRowBytes));
    ASSERT_TRUE(writer.EndPage());
  }
  out.AddPages(2);
  ASSERT_EQ(out.Close(), 1);
}

MonoPage AsPage(std::vector<std::uint8_t> bits, std::uint32_t rows) {
  MonoPage page;
  page.width = kWidth;
  page.rows = rows;
  page.bits = std::move(bits);
  return page;
}

std::uint64_t Differences(const MonoPage& a, const MonoPage& b) {
  std::uint64_t differ = 0;
  for (std::uint32_t y = 0; y < std::max(a.rows, b.rows); ++y)
    for (std::uint32_t x = 0; x < kWidth; ++x) differ += a.Black(x, y) != b.Black(x, y) ? 1 : 0;
  return differ;
}

class PdfExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::TakePool();
    WriteFax(fax);
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

  const std::string info = test::CommandOutput("pdfinfo -f 1 -l 2 '" + pdf.string() + "' 2>&1");
  EXPECT_NE(info.find("Pages:           2"), std::string::npos) << info;
  const std::regex size(R"(Page +(\d) size: +([0-9.]+) x ([0-9.]+) pts)");
  int sized = 0;
  for (std::sregex_iterator it(info.begin(), info.end(), size), end; it != end; ++it, ++sized) {
    EXPECT_NEAR(std::stod((*it)[2]) * kMillimetresPerPoint, 210, 1) << info;
    EXPECT_NEAR(std::stod((*it)[3]) * kMillimetresPerPoint, 297, 1) << info;
  }
  EXPECT_EQ(sized, 2) << info;

  const auto fine = AsPage(test::DecodeWithLibTiff(fax, 0), kA4FineRows);
  const auto normal = AsPage(test::DecodeWithLibTiff(fax, 1), kA4NormalRows);
  const std::string base = (dir.path() / "back").string();
  ASSERT_TRUE(
      test::RunCommand("pdftoppm -gray -aa no -aaVector no -scale-to-x 1728 -scale-to-y 2444 -f 1 "
                       "-l 1 -singlefile '" +
                       pdf.string() + "' '" + base + "-1'"));
  ASSERT_TRUE(
      test::RunCommand("pdftoppm -gray -aa no -aaVector no -scale-to-x 1728 -scale-to-y 1222 -f 2 "
                       "-l 2 -singlefile '" +
                       pdf.string() + "' '" + base + "-2'"));
  const MonoPage back1 = test::ReadNetpbm(base + "-1.pgm");
  const MonoPage back2 = test::ReadNetpbm(base + "-2.pgm");
  EXPECT_EQ(back1.rows, kA4FineRows);
  EXPECT_EQ(back2.rows, kA4NormalRows);
  EXPECT_EQ(back1.width, kWidth);
  // Rendered onto the fax's own pixel grid, every black pixel comes back
  // within a pixel (the renderer's resampling may move an edge or lose a lone dot).
  EXPECT_GT(test::InkCovered(back1, fine, kA4FineRows, 1), 0.99);
  EXPECT_GT(test::InkCovered(fine, back1, kA4FineRows, 1), 0.99);
  EXPECT_GT(test::InkCovered(back2, normal, kA4NormalRows, 1), 0.99);
  EXPECT_GT(test::InkCovered(normal, back2, kA4NormalRows, 1), 0.99);
  // The embedded Group 4 images, decoded by poppler, are the fax's pixels exactly.
  ASSERT_TRUE(test::RunCommand("pdfimages '" + pdf.string() + "' '" + base + "-image'"));
  EXPECT_EQ(Differences(test::ReadNetpbm(base + "-image-000.pbm"), fine), 0u);
  EXPECT_EQ(Differences(test::ReadNetpbm(base + "-image-001.pbm"), normal), 0u);
  EXPECT_GT(fine.CountBlack(0, 0, kWidth, kA4FineRows), 10000u);
}

TEST_F(PdfExportTest, PngPagesKeepTheirShape) {
  const auto out = dir.path() / "png";
  std::vector<std::string> files;
  ASSERT_EQ(ExportFaxToPng(fax.string(), out.string(), &files), 1);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[1], (out / "page-002.png").string());
  for (std::size_t i = 0; i < files.size(); ++i) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_file(&image, files[i].c_str()), 0);
    EXPECT_EQ(image.width, kWidth);
    // The normal page's rows are doubled: both pages are A4-shaped.
    EXPECT_EQ(image.height, kA4FineRows);
    image.format = PNG_FORMAT_GRAY;
    std::vector<std::uint8_t> grey(PNG_IMAGE_SIZE(image));
    ASSERT_NE(png_image_finish_read(&image, nullptr, grey.data(), 0, nullptr), 0);
    const auto source = test::DecodeWithLibTiff(fax, static_cast<int>(i));
    const std::uint32_t repeat = i == 0 ? 1 : 2;
    std::uint64_t differ = 0;
    for (std::uint32_t y = 0; y < image.height; ++y)
      for (std::uint32_t x = 0; x < kWidth; ++x) {
        const bool black =
            (source[(y / repeat) * test::kTestRowBytes + x / 8] & (0x80 >> (x % 8))) != 0;
        differ += black != (grey[std::size_t{y} * kWidth + x] < 128) ? 1 : 0;
      }
    EXPECT_EQ(differ, 0u) << files[i];
  }
}

TEST_F(PdfExportTest, FailedExportLeavesNoPdfAndKeepsAnOldOne) {
  std::uint32_t pages = 7;
  EXPECT_EQ(ExportFaxToPdf((dir.path() / "missing.tif").string(), pdf.string(), &pages), 0);
  EXPECT_EQ(pages, 0u);
  EXPECT_FALSE(std::filesystem::exists(pdf));
  EXPECT_TRUE(test::PoolHas(test::TakePool(), "Open File Error"));

  // A grey TIFF is no fax: refused, and an existing PDF stays as it was.
  const auto grey = dir.path() / "grey.tif";
  ASSERT_TRUE(test::RunCommand("convert -size 64x64 gradient:black-white -depth 8 '" +
                               grey.string() + "'"));
  std::ofstream(pdf) << "old";
  EXPECT_EQ(ExportFaxToPdf(grey.string(), pdf.string(), &pages), 0);
  EXPECT_EQ(test::ReadFileBytes(pdf), "old");
  EXPECT_FALSE(std::filesystem::exists(pdf.string() + ".part"));
  EXPECT_TRUE(test::PoolHas(test::TakePool(), "not a black-and-white fax page"));

  const auto text = dir.path() / "notes.tif";
  std::ofstream(text) << "not a TIFF";
  EXPECT_EQ(ExportFaxToPdf(text.string(), pdf.string(), &pages), 0);
  EXPECT_EQ(test::ReadFileBytes(pdf), "old");
  EXPECT_GT(test::TakePool().size(), 0u);
}

TEST(PdfNumberTest, FixedPointWithoutTrailingZeros) {
  EXPECT_EQ(PdfNumber(595.2918), "595.2918");
  EXPECT_EQ(PdfNumber(842.0), "842");
  EXPECT_EQ(PdfNumber(0.5), "0.5");
  EXPECT_EQ(PdfNumber(1e-9), "0");
  EXPECT_EQ(PdfNumber(12.34567), "12.3457");
}

}  // namespace
}  // namespace vexo
