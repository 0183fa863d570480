// The PDF importer on PDF files ghostscript makes from small PostScript
// programs: text pages against ghostscript's own rendering, a photographic
// page dithered, long pages split, normal resolution, and the refusals
// (damaged, truncated, password, no pages, empty file, a page too long) that
// leave no page behind.
#include "document/pdf_import.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <fstream>

#include "document/convert_options.h"
#include "document/txt2tif_paper.h"
#include "tests/document/pdf_test_files.h"
#include "tests/document/tiff_test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::DecodeTiffPage;
using test::MakePdf;
using test::MonoPage;
using test::PostScript;
using test::TextPage;

constexpr std::uint32_t kWidth = 1728;

class PdfImportTest : public ::testing::Test {
 protected:
  void SetUp() override { test::TakePool(); }

  // Imports pdf into a new fax file; the result, pages in *pages.
  int Import(const std::filesystem::path& pdf, std::uint32_t* pages, bool normal = false,
             const PdfImport::CancelFn& cancel = {}) {
    ConvertOptions settings;
    settings.quality = normal ? 1 : 2;
    PdfImport importer;
    importer.Initialize();
    EXPECT_EQ(ConfigurePdfImport(importer, settings), 1);
    FaxOutputFile out;
    EXPECT_EQ(out.Open(Output().string(), CreateMode::Replace), 1);
    const int result = importer.Pdf2Tiff(pdf.string(), out.Tiff(), cancel, pages);
    out.AddPages(*pages);
    EXPECT_EQ(out.Close(), 1);
    return result;
  }
  std::filesystem::path Output() const { return dir.path() / "out.tif"; }
  std::filesystem::path File(const char* name) const { return dir.path() / name; }
  int OutputPages() const {
    TIFF* t = TIFFOpen(Output().c_str(), "r");
    if (t == nullptr) return -1;
    const int n = TIFFNumberOfDirectories(t);
    TIFFClose(t);
    return n;
  }
  // The refusal's record names the file and says why.
  void ExpectRefused(const std::filesystem::path& pdf, const std::string& why) {
    std::uint32_t pages = 99;
    EXPECT_EQ(Import(pdf, &pages), 0);
    EXPECT_EQ(pages, 0u);
    const auto records = test::TakePool();
    EXPECT_TRUE(test::PoolHas(records, why)) << why;
    EXPECT_TRUE(test::PoolHas(records, pdf.string()));
    // Nothing was appended to the fax file.
    EXPECT_LE(OutputPages(), 1);
    EXPECT_TRUE(DecodeTiffPage(Output(), 0).bits.empty());
  }

  test::TempDir dir;
};

TEST_F(PdfImportTest, TextPagesMatchGhostscriptsRendering) {
  const auto pdf = File("text.pdf");
  MakePdf(pdf, PostScript(595, 842,
                          {TextPage({"First page: the quick brown fox", "jumps over 1234567890"}),
                           TextPage({"Second page", "with other words"}, 600),
                           TextPage({"Third page at the foot"}, 120)}));
  std::uint32_t pages = 0;
  ASSERT_EQ(Import(pdf, &pages), 1);
  ASSERT_EQ(pages, 3u);
  ASSERT_EQ(OutputPages(), 3);
  for (int p = 0; p < 3; ++p) {
    const MonoPage ours = DecodeTiffPage(Output(), p);
    ASSERT_EQ(ours.width, kWidth);
    const MonoPage reference = test::GhostscriptPage(pdf, p + 1, 209, 209);
    ASSERT_GT(reference.rows, 2000u);
    const std::uint32_t rows = std::min(ours.rows, reference.rows);
    EXPECT_GT(ours.CountBlack(0, 0, kWidth, rows), 2000u) << "page " << p;
    // Text drawn in the same places: nearly every black pixel of each has one
    // of the other within a pixel or two.
    EXPECT_GT(test::InkCovered(ours, reference, rows, 2), 0.97) << "page " << p;
    EXPECT_GT(test::InkCovered(reference, ours, rows, 2), 0.97) << "page " << p;
    // A text page is cut, not dithered: the paper between the lines stays white.
    EXPECT_EQ(ours.CountBlack(0, 1100, kWidth, 1500), 0u) << "page " << p;
  }
}

TEST_F(PdfImportTest, PhotographicPageIsDitheredTextPageIsNot) {
  const auto pdf = File("photo.pdf");
  MakePdf(pdf, PostScript(595, 842, {test::RampPage(72, 200, 451, 451) + TextPage({"Ramp"})}));
  std::uint32_t pages = 0;
  ASSERT_EQ(Import(pdf, &pages), 1);
  ASSERT_EQ(pages, 1u);
  const MonoPage page = DecodeTiffPage(Output(), 0);
  // The ramp spans x 209..1519 and rows about 572..1882 of the fine page.
  const std::uint32_t top = 900, bottom = 1500;
  auto share = [&](std::uint32_t x0, std::uint32_t x1) {
    return static_cast<double>(page.CountBlack(x0, top, x1, bottom)) / ((x1 - x0) * (bottom - top));
  };
  EXPECT_GT(share(230, 330), 0.85);        // nearly black
  EXPECT_NEAR(share(814, 914), 0.5, 0.1);  // mid grey: half the dots
  EXPECT_LT(share(1400, 1500), 0.15);      // nearly white
}

TEST_F(PdfImportTest, NormalResolutionHasHalfTheRows) {
  const auto pdf = File("normal.pdf");
  MakePdf(pdf, PostScript(595, 842, {TextPage({"Normal resolution page"})}));
  std::uint32_t pages = 0;
  ASSERT_EQ(Import(pdf, &pages, true), 1);
  ASSERT_EQ(pages, 1u);
  const MonoPage ours = DecodeTiffPage(Output(), 0);
  const MonoPage reference = test::GhostscriptPage(pdf, 1, 209, 104.5);
  ASSERT_GT(reference.rows, 1000u);
  const std::uint32_t rows = std::min(ours.rows, reference.rows);
  EXPECT_LT(ours.rows, 1250u);
  EXPECT_GT(test::InkCovered(ours, reference, rows, 2), 0.95);
  EXPECT_GT(test::InkCovered(reference, ours, rows, 2), 0.95);
  const test::DumpEntry y = test::DumpTag(Output(), 0, TIFFTAG_YRESOLUTION);
  ASSERT_EQ(y.rational.size(), 2u);
  EXPECT_EQ(y.rational[0] * 2, y.rational[1] * 209);
}

TEST_F(PdfImportTest, LongPageIsSplitAndInkAtItsFootKeepsAPage) {
  // 2500 points at 209 per inch: three full fax pages and a short remainder.
  const auto blankFoot = File("long.pdf");
  MakePdf(blankFoot, PostScript(595, 2500, {TextPage({"Top of a long page"}, 2400)}));
  std::uint32_t pages = 0;
  ASSERT_EQ(Import(blankFoot, &pages), 1);
  EXPECT_EQ(pages, 3u);  // the white remainder is dropped

  const auto inkedFoot = File("long-foot.pdf");
  MakePdf(inkedFoot, PostScript(595, 2500,
                                {TextPage({"Top of a long page"}, 2400) +
                                 TextPage({"Foot of the long page"}, 20)}));
  ASSERT_EQ(Import(inkedFoot, &pages), 1);
  ASSERT_EQ(pages, 4u);
  const MonoPage last = DecodeTiffPage(Output(), 3);
  EXPECT_GT(last.CountBlack(0, 0, kWidth, last.rows), 500u);
}

TEST_F(PdfImportTest, TurnedPageIsFittedAsShown) {
  // An A4 page with /Rotate 90 shows as 842 x 595 points; a box drawn at
  // x 50..250, y 700..800 shows at 700..800 across and 50..250 down.
  const auto pdf = File("turned.pdf");
  std::ofstream(pdf, std::ios::binary)
      << "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
         "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
         "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Rotate 90 /Contents 4 0 R "
         ">> endobj\n"
         "4 0 obj << /Length 29 >>\nstream\n0 0 0 rg 50 700 200 100 re f\nendstream\nendobj\n"
         "trailer << /Root 1 0 R >>\n%%EOF\n";
  std::uint32_t pages = 0;
  ASSERT_EQ(Import(pdf, &pages), 1);
  ASSERT_EQ(pages, 1u);
  const MonoPage page = DecodeTiffPage(Output(), 0);
  // 1728 / 842 pixels a point: the box is x 1437..1642, rows 103..513.
  EXPECT_EQ(page.CountBlack(1445, 110, 1635, 505), 190u * 395u);
  const std::uint64_t all = page.CountBlack(0, 0, kWidth, page.rows);
  EXPECT_EQ(all, page.CountBlack(1430, 95, 1650, 520));
}

TEST_F(PdfImportTest, CancelStopsBeforeThePage) {
  const auto pdf = File("cancel.pdf");
  MakePdf(pdf, PostScript(595, 842, {TextPage({"one"}), TextPage({"two"})}));
  std::uint32_t pages = 0;
  int asked = 0;
  EXPECT_EQ(Import(pdf, &pages, false, [&] { return ++asked == 2; }), -1);
  EXPECT_EQ(pages, 1u);
}

TEST_F(PdfImportTest, OwnerPasswordAloneDoesNotStopTheImport) {
  const auto pdf = File("owner.pdf");
  MakePdf(pdf, PostScript(595, 842, {TextPage({"Printable page"})}),
          "-sOwnerPassword=owner -dEncryptionR=3 -dKeyLength=128 -dPermissions=-4");
  std::uint32_t pages = 0;
  EXPECT_EQ(Import(pdf, &pages), 1);
  EXPECT_EQ(pages, 1u);
}

TEST_F(PdfImportTest, RefusesBadFiles) {
  const auto good = File("good.pdf");
  MakePdf(good, PostScript(595, 842, {TextPage({"A good page"})}));
  const std::string bytes = test::ReadFileBytes(good);

  const auto locked = File("locked.pdf");
  MakePdf(locked, PostScript(595, 842, {TextPage({"A secret page"})}),
          "-sOwnerPassword=owner -sUserPassword=user -dEncryptionR=3 -dKeyLength=128");
  ExpectRefused(locked, "protected by a password");

  const auto truncated = File("truncated.pdf");
  std::ofstream(truncated, std::ios::binary) << bytes.substr(0, 300);
  ExpectRefused(truncated, "damaged");

  const auto garbage = File("garbage.pdf");
  std::ofstream(garbage, std::ios::binary) << "%PDF-1.4\nthis is not a PDF file at all\n";
  ExpectRefused(garbage, "damaged");

  const auto empty = File("empty.pdf");
  std::ofstream{empty};
  ExpectRefused(empty, "is empty");

  const auto noPages = File("nopages.pdf");
  std::ofstream(noPages, std::ios::binary)
      << "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
         "2 0 obj << /Type /Pages /Kids [] /Count 0 >> endobj\n"
         "trailer << /Root 1 0 R >>\n%%EOF\n";
  ExpectRefused(noPages, "no pages");

  // 14400 points (200 inches) is more than eight fax pages.
  const auto tooLong = File("toolong.pdf");
  MakePdf(tooLong, PostScript(595, 14400, {TextPage({"Endless"}, 14000)}));
  ExpectRefused(tooLong, "page 1 is too long");

  std::uint32_t pages = 0;
  EXPECT_EQ(Import(File("missing.pdf"), &pages), 0);
  EXPECT_TRUE(test::PoolHas(test::TakePool(), "Open File Error"));
}

}  // namespace
}  // namespace vexo
