// The PDF importer on PDF files made by ghostscript, against ghostscript's own
// rendering. Grey pictures and normal resolution share the image importer's code.
#include "document/pdf_import.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "document/convert_options.h"
#include "document/txt2tif_paper.h"
#include "tests/document/test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::MonoPage;

// The PostScript prologue of a page size in points, then the pages' programs.
std::string PostScript(int widthPoints, int heightPoints, const std::vector<std::string>& pages) {
  std::ostringstream ps;
  ps << "%!PS\n<< /PageSize [" << widthPoints << " " << heightPoints << "] >> setpagedevice\n";
  for (const std::string& page : pages) ps << page << "showpage\n";
  return ps.str();
}

// A page program that writes text lines (one per entry) from the top left.
std::string TextPage(const std::vector<std::string>& lines, int top = 760, int size = 28) {
  std::ostringstream ps;
  ps << "/Helvetica findfont " << size << " scalefont setfont\n";
  int y = top;
  for (const std::string& line : lines) {
    ps << "72 " << y << " moveto (" << line << ") show\n";
    y -= size * 3 / 2;
  }
  return ps.str();
}

// Writes PostScript and has ghostscript turn it into a PDF; extra goes on the
// gs command line (for passwords).
void MakePdf(const std::filesystem::path& pdf, const std::string& postScript,
             const std::string& extra = "") {
  const std::filesystem::path ps = pdf.string() + ".ps";
  std::ofstream(ps) << postScript;
  ASSERT_TRUE(test::RunCommand("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite " + extra +
                               " -o '" + pdf.string() + "' '" + ps.string() + "'"));
}

// Ghostscript's rendering of page (from 1) of pdf fitted to a fax page of
// rows (204 x 196 dpi, scaled to fit and centred), without anti-aliasing,
// cut at grey 128.
MonoPage GhostscriptPage(const std::filesystem::path& pdf, int page, std::uint32_t rows) {
  const std::string out = pdf.string() + ".ref.pgm", n = std::to_string(page);
  EXPECT_TRUE(test::RunCommand(
      "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pgmraw -dTextAlphaBits=1 -dGraphicsAlphaBits=1 "
      "-r204x196 -g1728x" +
      std::to_string(rows) + " -dFIXEDMEDIA -dPDFFitPage -dFirstPage=" + n + " -dLastPage=" + n +
      " -o '" + out + "' '" + pdf.string() + "'"));
  return test::ReadNetpbm(out);
}

constexpr std::uint32_t kWidth = 1728;

class PdfImportTest : public ::testing::Test {
 protected:
  void SetUp() override { test::TakeErrors(); }
  // Imports pdf into a new fax file.
  test::WrittenFax Import(const std::filesystem::path& pdf,
                          const PdfImport::CancelFn& cancel = {}) {
    ConvertOptions settings;
    settings.quality = 2;
    PdfImport importer;
    importer.Initialize();
    EXPECT_EQ(ConfigurePdfImport(importer, settings), 1);
    return test::WriteFaxFile(dir.path() / ("out" + std::to_string(++outputs) + ".tif"),
                              [&](TiffFile& tif, std::uint32_t* pages) {
                                return importer.Pdf2Tiff(pdf.string(), tif, cancel, pages);
                              });
  }
  std::filesystem::path File(const char* name) const { return dir.path() / name; }
  // The refusal's record names the file and says why; nothing is written.
  void ExpectRefused(const std::filesystem::path& pdf, const std::string& why) {
    const auto fax = Import(pdf);
    EXPECT_EQ(fax.result, 0);
    EXPECT_EQ(fax.pages, 0u);
    const auto records = test::TakeErrors();
    EXPECT_TRUE(test::PoolHas(records, why)) << why;
    EXPECT_TRUE(test::PoolHas(records, pdf.string()));
    EXPECT_TRUE(test::DecodeWithLibTiff(fax.file, 0).empty());
  }

  test::TempDir dir;
  int outputs = 0;
};

TEST_F(PdfImportTest, TextPagesMatchGhostscriptsRendering) {
  const auto pdf = File("text.pdf");
  MakePdf(pdf, PostScript(595, 842,
                          {TextPage({"First page: the quick brown fox", "jumps over 1234567890"}),
                           TextPage({"Second page", "with other words"}, 600),
                           TextPage({"Third page at the foot"}, 120)}));
  const auto fax = Import(pdf);
  ASSERT_EQ(fax.result, 1);
  ASSERT_EQ(fax.pages, 3u);
  for (int p = 0; p < 3; ++p) {
    const MonoPage ours = test::FaxMonoPage(fax.decoded[p]);
    const MonoPage reference = GhostscriptPage(pdf, p + 1, ours.rows);
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

TEST_F(PdfImportTest, LongPageIsSplitAndInkAtItsFootKeepsAPage) {
  // 2450 points fitted to the width: three full fax pages and a short remainder.
  const auto blankFoot = File("long.pdf");
  MakePdf(blankFoot, PostScript(595, 2450, {TextPage({"Top of a long page"}, 2400)}));
  EXPECT_EQ(Import(blankFoot).pages, 3u);  // the white remainder is dropped
  const auto inkedFoot = File("long-foot.pdf");
  MakePdf(inkedFoot, PostScript(595, 2450,
                                {TextPage({"Top of a long page"}, 2400) +
                                 TextPage({"Foot of the long page"}, 20)}));
  const auto fax = Import(inkedFoot);
  ASSERT_EQ(fax.pages, 4u);
  const MonoPage last = test::FaxMonoPage(fax.decoded[3]);
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
  const auto fax = Import(pdf);
  ASSERT_EQ(fax.pages, 1u);
  const MonoPage page = test::FaxMonoPage(fax.decoded[0]);
  // Fitted to the width (1728 / 842 pixels a point across, 196 / 204 of that
  // down) and centred down the page: the box is x 1437..1641, rows 619..1012.
  EXPECT_EQ(page.CountBlack(1445, 627, 1635, 1005), 190u * 378u);
  const std::uint64_t all = page.CountBlack(0, 0, kWidth, page.rows);
  EXPECT_EQ(all, page.CountBlack(1430, 612, 1650, 1020));
}

TEST_F(PdfImportTest, CancelStopsBeforeThePage) {
  const auto pdf = File("cancel.pdf");
  MakePdf(pdf, PostScript(595, 842, {TextPage({"one"}), TextPage({"two"})}));
  int asked = 0;
  const auto fax = Import(pdf, [&] { return ++asked == 2; });
  EXPECT_EQ(fax.result, -1);
  EXPECT_EQ(fax.pages, 1u);
}

TEST_F(PdfImportTest, OwnerPasswordAloneDoesNotStopTheImport) {
  const auto pdf = File("owner.pdf");
  MakePdf(pdf, PostScript(595, 842, {TextPage({"Printable page"})}),
          "-sOwnerPassword=owner -dEncryptionR=3 -dKeyLength=128 -dPermissions=-4");
  EXPECT_EQ(Import(pdf).pages, 1u);
}

TEST_F(PdfImportTest, RefusesBadFiles) {
  const auto locked = File("locked.pdf");
  MakePdf(locked, PostScript(595, 842, {TextPage({"A secret page"})}),
          "-sOwnerPassword=owner -sUserPassword=user -dEncryptionR=3 -dKeyLength=128");
  ExpectRefused(locked, "protected by a password");
  // 14400 points (200 inches) is more than eight fax pages.
  const auto tooLong = File("toolong.pdf");
  MakePdf(tooLong, PostScript(595, 14400, {TextPage({"Endless"}, 14000)}));
  ExpectRefused(tooLong, "page 1 is too long");
  const struct {
    const char* name;
    std::string bytes;
    const char* why;
  } files[] = {
      {"truncated.pdf", test::ReadFileBytes(tooLong).substr(0, 300), "damaged"},
      {"garbage.pdf", "%PDF-1.4\nthis is not a PDF file at all\n", "damaged"},
      {"empty.pdf", "", "is empty"},
      {"nopages.pdf",
       "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
       "2 0 obj << /Type /Pages /Kids [] /Count 0 >> endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n",
       "no pages"},
  };
  for (const auto& f : files) {
    test::WriteFileBytes(File(f.name), f.bytes);
    ExpectRefused(File(f.name), f.why);
  }
  EXPECT_EQ(Import(File("missing.pdf")).result, 0);
  EXPECT_TRUE(test::PoolHas(test::TakeErrors(), "Open File Error"));
}

}  // namespace
}  // namespace vexo
