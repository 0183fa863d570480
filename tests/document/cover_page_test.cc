// Cover pages from template files, written into fax files, decoded by libtiff
// and looked at pixel by pixel; the template parser is checked on its own.
#include "document/cover_page.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/document/test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::kTestRowBytes;

// A decoded page: rows of 216 bytes, 1 black.
struct Page {
  std::vector<std::uint8_t> bits;
  int Rows() const { return static_cast<int>(bits.size() / kTestRowBytes); }
  // The smallest rectangle holding all ink (right and bottom inclusive); left < 0 when blank.
  CoverBox Ink() const {
    const auto box = test::InkBounds(bits);
    return {box.left, box.top, box.right, box.bottom};
  }
  int InkRows() const { return static_cast<int>(test::InkedRows(bits)); }
};

// Lengths as the tags convert them: down at 196 rows per inch, across at 204
// pixels per inch from the A4 paper's left edge, 20 pixels into the 1728-pixel line.
int Mm(int mm) { return (196 * mm * 10 + 127) / 254; }
int MmAcross(int mm) { return (204 * mm * 10 + 127) / 254; }
constexpr int kPaperLeft = 20;
int X(int mm) { return kPaperLeft + MmAcross(mm); }
constexpr int kInch = 196;
constexpr int kInchAcross = 204;
// The A4 page area: margins 6.7 mm left and right, 4 mm top, 11.5 mm bottom.
constexpr CoverBox kArea{74, 31, 1653, 2202};

// A BMP file whose palette entry 0 is black and whose pixels are all 0: all black.
std::string Bmp(std::uint32_t width, std::uint32_t height, std::uint32_t bits,
                std::uint32_t pixelBytes) {
  const std::uint32_t colours = bits <= 8 ? (1u << bits) : 0;
  const std::uint32_t offset = 54 + 4 * colours;
  std::string b = "BM";
  // Sizes, offset, header size, width, height, planes and bits, then 24 bytes of 0.
  const std::uint32_t fields[] = {offset + pixelBytes, 0, offset, 40, width, height, 1, bits};
  for (std::size_t f = 0; f < std::size(fields); ++f)
    for (int i = 0; i < (f < 6 ? 4 : 2); ++i) b += static_cast<char>((fields[f] >> (8 * i)) & 0xFF);
  b.append(24, '\0');
  for (std::uint32_t i = 0; i < colours; ++i)
    b += i == 0 ? std::string("\0\0\0\0", 4) : std::string("\xFF\xFF\xFF\0", 4);
  return b + std::string(pixelBytes, '\0');
}

class CoverPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::TakeErrors();
    ASSERT_EQ(cover.Initialize(), 1);
    cover.SetCodePage(1252);
    cover.SetClock([] {
      LocalTime t;
      t.year = 2026, t.month = 12, t.day = 6, t.hour = 9, t.minute = 5, t.second = 7;
      return t;
    });
  }

  std::filesystem::path File(const std::string& bytes, const std::string& ext = ".txt") {
    const auto path = dir.path() / ("file" + std::to_string(++files) + ext);
    test::WriteFileBytes(path, bytes);
    return path;
  }

  // Generates the template into a new fax file.
  test::WrittenFax Generate(const std::string& templateBytes) {
    return test::WriteFaxFile(dir.path() / ("page" + std::to_string(++files) + ".tif"),
                              [&](TiffFile& tif, std::uint32_t* pages) {
                                return cover.GenCoverPage(File(templateBytes).string(), tif, {}, {},
                                                          pages);
                              });
  }

  Page Draw(const std::string& templateBytes) {
    const auto written = Generate(templateBytes);
    EXPECT_EQ(written.result, 1);
    EXPECT_EQ(written.pages, 1u);
    return {written.decoded.empty() ? std::vector<std::uint8_t>() : written.decoded[0]};
  }

  test::TempDir dir;
  int files = 0;
  CoverPage cover;
};

TEST(CoverTemplateTest, SplitsTagsAndLiteralText) {
  auto items = SplitCoverLine("Name: < SENDNAME >, <FOO> x <SENDNAMES><SEP>tail < open");
  ASSERT_EQ(items.size(), 8u);
  EXPECT_EQ(items[0].text, "Name: ");
  EXPECT_TRUE(items[1].IsTag(CoverKeyword::SendName));
  EXPECT_EQ(items[2].text, ", ");
  EXPECT_EQ(items[3].text, "<FOO> x ");
  EXPECT_EQ(items[4].text, "<SENDNAMES>");
  EXPECT_TRUE(items[5].IsTag(CoverKeyword::Sep));
  EXPECT_EQ(items[6].text, "tail ");
  EXPECT_EQ(items[7].text, "< open");
  // Keywords are upper case, and \GROUP is matched although GROUP comes first.
  items = SplitCoverLine("<group><\\GROUP><UNIT INCH>");
  ASSERT_EQ(items.size(), 3u);
  EXPECT_FALSE(items[0].isTag);
  EXPECT_TRUE(items[1].IsTag(CoverKeyword::EndGroup));
  EXPECT_TRUE(items[2].IsTag(CoverKeyword::Unit));
  EXPECT_EQ(items[2].text, "INCH");
}

TEST(CoverTemplateTest, NumbersSkipZerosButKeepTheLast) {
  auto numbers = [](std::string_view args) {
    CoverItem item;
    ParseCoverNumbers(args, item);
    return std::vector<std::uint32_t>(item.args.begin(), item.args.begin() + item.argCount);
  };
  EXPECT_EQ(numbers(" 120,0,1"), (std::vector<std::uint32_t>{120, 1}));
  EXPECT_EQ(numbers("\t12mm, 7x8\t9"), (std::vector<std::uint32_t>{12, 7, 9}));
  EXPECT_EQ(numbers(""), (std::vector<std::uint32_t>{0}));
  EXPECT_EQ(numbers(" 1 2 3 4 5 6 7 8 9 10").size(), 8u);
  EXPECT_EQ(numbers(" 99999999999999999999"), (std::vector<std::uint32_t>{kCoverMaxNumber}));
}

TEST_F(CoverPageTest, TextDrawsOnlyInsideAGroupPlacedInMillimetresOrInches) {
  EXPECT_EQ(Draw("WWWW\r\n").Ink().left, -1);
  const CoverBox ink = Draw("WWWW\r\n<GROUP 20,30,100,0>WWWW\r\n").Ink();
  EXPECT_GE(ink.left, X(20));
  EXPECT_LE(ink.left, X(20) + 4);
  EXPECT_GE(ink.top, Mm(30));
  EXPECT_LE(ink.top, Mm(30) + 12);
  EXPECT_LT(ink.bottom, Mm(30) + 40);
  // Height 0 reaches down to the page area's bottom: a long note fills it.
  CoverFaxDetails details;
  for (int i = 0; i < 200; ++i) details.note += "W\n";
  cover.SetFaxDetails(details);
  const CoverBox note = Draw("<GROUP 20,30,100,0><NOTE>").Ink();
  EXPECT_GT(note.bottom, kArea.bottom - 40);
  EXPECT_LE(note.bottom, kArea.bottom);
  // Inches, and back to millimetres.
  const std::string wide(200, 'W');
  const CoverBox inch = Draw("<UNIT INCH><GROUP 1,1,3,2>" + wide).Ink();
  EXPECT_GE(inch.left, kPaperLeft + kInchAcross);
  EXPECT_LE(inch.left, kPaperLeft + kInchAcross + 4);
  EXPECT_GE(inch.top, kInch);
  EXPECT_LE(inch.right, kPaperLeft + 4 * kInchAcross - 1);
  EXPECT_GT(inch.right, kPaperLeft + 4 * kInchAcross - 40);  // clipped at the group's right
  const CoverBox mm = Draw("<UNIT INCH><UNIT MM><GROUP 10,10,3,2>W").Ink();
  EXPECT_LE(mm.left, X(10) + 4);
  EXPECT_LE(mm.right, X(13));
}

TEST_F(CoverPageTest, FontSizeBoldItalicAndUnderline) {
  const std::string text = "<GROUP 20,20,150,0>HHHH";
  const Page bold = Draw("<FONT 120,1>" + text);
  EXPECT_NE(bold.bits, Draw("<FONT 120>" + text).bits);
  EXPECT_GT(bold.InkRows(), 8);
  EXPECT_LT(bold.InkRows(), Draw(text).InkRows());  // 12 points below the default 22
  // Italic and underline are the third and fourth values.
  const Page italic = Draw("<FONT 220,1,1>" + text);
  EXPECT_NE(italic.bits, Draw("<FONT 220,1>" + text).bits);
  EXPECT_GT(Draw("<FONT 220,1,1,1>" + text).Ink().bottom, italic.Ink().bottom);
  // A line is as wide as its font says (hinted faces take whole sizes across:
  // within 2 % at 12 points).
  const std::string line = "The quick brown fox jumps over the lazy dog";
  for (const int size : {kCoverDefaultTenthsOfPoint, 120}) {
    const CoverBox ink =
        Draw("<FONT " + std::to_string(size) + "><GROUP 10,20,190,0>" + line).Ink();
    const double across = test::DesignedInkAcross(MakeLogFont(kCoverFace, size), line);
    EXPECT_NEAR(ink.right - ink.left + 1, across, across / 50) << size;
  }
}

TEST_F(CoverPageTest, TemplatesDrawTheTextsTheyStandFor) {
  cover.SetProfile({"<SENDNAMES>", "+1 555 0100", "555 0101", "555 0102", "s@example.org", ""});
  cover.SetFaxDetails({"\xE5\xBC\xA0\xE4\xB8\x89", "555 0199", "Quarterly figures", ""});
  const std::string group = "<GROUP 20,20,170,0>";
  const std::pair<std::string, std::string> alike[] = {
      // The 0 is skipped: 1 is the bold value. Font and group carry over the
      // template's lines, and FONT without values restores the default.
      {"<FONT 120,0,1>" + group + "HHHH", "<FONT 120,1>" + group + "HHHH"},
      {"<FONT 120,1>\n<FONT>\n" + group + "HHHH", group + "HHHH"},
      {group + "<SENDNAME>|<SENDFAX>|<PHONE1>|<PHONE2>|<EMAIL>\n<RCVFAX>|<SUBJECT>\n<DATETIME>",
       group + "<SENDNAMES>|+1 555 0100|555 0101|555 0102|s@example.org\n555 0199|Quarterly "
               "figures\n12/6/2026    9:5:7"},
      // A value is drawn as Unicode whatever the template's code page (1252
      // here, so "\xE9" is its e acute): the same page as a UTF-8 template's.
      {group + "\xE9 <RCVNAME>", group + "\xC3\xA9 \xE5\xBC\xA0\xE4\xB8\x89"},
      // A blank after the bracket; an unknown keyword is text, and a value is never parsed.
      {group + "<  SENDNAME>", group + "<SENDNAMES>"},
  };
  for (const auto& [tags, texts] : alike) EXPECT_EQ(Draw(tags).bits, Draw(texts).bits) << tags;
  EXPECT_GT(Draw(alike[2].first).InkRows(), 60);  // three lines
  EXPECT_NE(Draw(alike[3].first).bits, Draw(group + "\xE9 ??").bits);
}

TEST_F(CoverPageTest, LinesOfMoreThan511BytesAreRefused) {
  const std::string lf(510, 'a'), crlf(509, 'a');
  EXPECT_EQ(Generate("<GROUP>\n" + lf + "\nend\n").result, 1);
  EXPECT_EQ(Generate("<GROUP>\r\n" + crlf + "\r\nend").result, 1);
  EXPECT_EQ(Generate(lf).result, 1);  // the last line without its line end
  test::TakeErrors();
  for (const std::string& bad : {std::string(511, 'a') + "\n", lf + "\r\n", std::string(511, 'a'),
                                 "x\n" + std::string(100000, 'b')}) {
    const auto written = Generate(bad);
    EXPECT_EQ(written.result, 0);
    const auto records = test::TakeErrors();
    EXPECT_TRUE(test::PoolHas(records, "line is too long in [filename="));
    EXPECT_TRUE(test::PoolHas(
        records, "The maximum size of line is 511 (including the line feed and return)"));
    EXPECT_TRUE(test::DecodeWithLibTiff(written.file, 0).empty());  // nothing written
  }
}

TEST_F(CoverPageTest, NoteIsWrappedAndCutAtTheGroupsBottom) {
  auto drawNote = [&](const std::string& note, const std::string& group) {
    cover.SetFaxDetails({"", "", "", note});
    return Draw(group + "<NOTE>").Ink();
  };
  std::string lines;
  for (int i = 0; i < 40; ++i) lines += "line " + std::to_string(i) + "\r\n";
  const int bottom = Mm(50) + Mm(30) - 1;
  const CoverBox cut = drawNote(lines, "<GROUP 20,50,100,30>");
  EXPECT_GE(cut.top, Mm(50));
  EXPECT_GT(cut.bottom, bottom - 40);
  EXPECT_LT(cut.bottom, bottom + 40);  // the last line starts inside the group
  // One long word is cut at the group's width and goes on over the next lines.
  const CoverBox word = drawNote(std::string(120, 'W'), "<GROUP 20,50,50,0>");
  EXPECT_LE(word.right, X(20) + MmAcross(50) - 1);
  EXPECT_GT(word.right, X(20) + MmAcross(50) - 40);
  EXPECT_GT(word.bottom - word.top, 4 * 25);  // several lines
  // A very long note is wrapped piece by piece, never measured whole for each piece.
  const CoverBox longNote = drawNote(std::string(200000, 'i'), "<GROUP 20,50,50,40>");
  EXPECT_GT(longNote.bottom - longNote.top, 100);
  // Words are wrapped behind a blank: no line ends inside "aaaa".
  const CoverBox wrapped =
      drawNote("aaaa aaaa aaaa aaaa aaaa aaaa aaaa aaaa aaaa aaaa aaaa aaaa aaaa aaaa",
               "<GROUP 20,50,50,0>");
  const int wordWidth = drawNote("aaaa", "<GROUP 20,50,50,0>").right - X(20);
  EXPECT_LE(wrapped.right, X(20) + MmAcross(50) - 1);
  EXPECT_GT(wrapped.right, X(20) + MmAcross(50) - 1 - 2 * wordWidth);
}

TEST_F(CoverPageTest, SeparatorSpansThePageAreaInsideANarrowGroup) {
  const Page page = Draw("<GROUP 50,50,30,30>ab\r\n<SEP>\r\ncd");
  std::vector<int> full;  // rows black across the page area and nowhere else
  const std::size_t width = kArea.right + 1 - kArea.left;
  for (int y = 0; y < page.Rows(); ++y)
    if (test::InkIn(page.bits, 0, y, 1728, y + 1) == width &&
        test::InkIn(page.bits, kArea.left, y, kArea.right + 1, y + 1) == width)
      full.push_back(y);
  ASSERT_EQ(full.size(), 3u);
  EXPECT_EQ(full[2] - full[0], 2);
  EXPECT_GT(full[0], Mm(50) + 20);  // below the first line of text
  // The text after it starts below the line, at the group's left.
  EXPECT_GT(test::InkIn(page.bits, X(50), full[2] + 1, X(50) + 5, page.Rows()), 0u);
  // A thicker line is centred on the line's top when the line holds no text.
  const Page thick = Draw("<GROUP 20,20,100,0>\n<SEP 7>");
  EXPECT_EQ(thick.InkRows(), 7);
  EXPECT_EQ(thick.Ink().top, Mm(20) - 3);
  EXPECT_EQ(Draw("<SEP 7>").Ink().top, kArea.top);  // clipped to the page area
}

TEST_F(CoverPageTest, LogoIsStretchedIntoItsRectangle) {
  const auto logo = File(Bmp(8, 8, 1, 32), ".bmp");
  ::chmod(logo.c_str(), 0444);  // a read-only logo works
  CoverProfile profile;
  profile.logoFile = logo.string();
  cover.SetProfile(profile);
  const CoverBox ink = Draw("<LOGO 20,40,30,10>").Ink();
  // ImageMagick's usual form (a V5 header, 32 bits with colour masks) draws alike.
  profile.logoFile = (dir.path() / "v5.bmp").string();
  ASSERT_TRUE(test::RunCommand(
      "convert -size 8x8 xc:black -type TrueColorAlpha 'BMP:" + profile.logoFile + "'"));
  cover.SetProfile(profile);
  EXPECT_EQ(Draw("<LOGO 20,40,30,10>").Ink(), ink);
  EXPECT_EQ(ink, (CoverBox{X(20), Mm(40), X(20) + MmAcross(30) - 1, Mm(40) + Mm(10) - 1}));
  // Without size: 30 mm by 20 mm at the page area's corner.
  const CoverBox fallback = Draw("<LOGO>").Ink();
  EXPECT_EQ(fallback, (CoverBox{kArea.left, kArea.top, kArea.left + MmAcross(30) - 1,
                                kArea.top + Mm(20) - 1}));
  // No logo set: the tag draws nothing.
  cover.SetProfile({});
  EXPECT_EQ(Draw("<LOGO 20,40,30,10>").Ink().left, -1);
}

TEST_F(CoverPageTest, BadLogosFailTheCoverPage) {
  auto refused = [&](const std::string& logo, const char* message) {
    CoverProfile profile;
    profile.logoFile = logo;
    cover.SetProfile(profile);
    test::TakeErrors();
    const auto written = Generate("<GROUP>text\n<LOGO 20,40,30,10>");
    EXPECT_EQ(written.result, 0);
    EXPECT_TRUE(test::PoolHas(test::TakeErrors(), message)) << message;
    EXPECT_TRUE(test::DecodeWithLibTiff(written.file, 0).empty());
  };
  std::string notBm = Bmp(8, 8, 1, 32);
  notBm[0] = 'X';
  for (const std::string& bytes :
       {notBm, Bmp(8, 8, 3, 32), Bmp(64, 64, 24, 64 * 64 * 3).substr(0, 2000),
        Bmp(0x7FFF, 0x7FFF, 32, 16)})
    refused(File(bytes, ".bmp").string(), "Format of Logo bitmap file is invalid.");
  refused(File("BM", ".bmp").string(), "Fail to read file [filename=");
  refused((dir.path() / "none.bmp").string(), "No such file or directory");
}

TEST_F(CoverPageTest, FailuresCancelAndProgress) {
  EXPECT_EQ(cover.PreviewCoverPage((dir.path() / "none.txt").string(), {}, {}), 0);
  EXPECT_TRUE(test::PoolHas(test::TakeErrors(), "Fail to Open cover page file [filename="));
  EXPECT_EQ(cover.PreviewCoverPage(dir.path().string(), {}, {}), 0);
  EXPECT_TRUE(test::PoolHas(test::TakeErrors(), "Fail to Open cover page file [filename="));
  CoverPage uninitialized;
  EXPECT_EQ(uninitialized.PreviewCoverText("x"), 0);
  EXPECT_TRUE(test::PoolHas(test::TakeErrors(), "Txt2Tif module uninitialize"));
  std::string text = "<GROUP>\n";
  for (int i = 0; i < 30; ++i) text += std::string(49, 'a') + "\n";
  std::size_t told = 0;
  int asked = 0;
  EXPECT_EQ(
      cover.PreviewCoverPage(
          File(text).string(), [&] { return ++asked > 2; }, [&](std::size_t n) { told += n; }),
      -1);
  EXPECT_EQ(told, 2 * 511u);
  told = 0;
  EXPECT_EQ(cover.PreviewCoverPage(File(text).string(), {}, [&](std::size_t n) { told += n; }), 1);
  EXPECT_EQ(told, text.size());
}

TEST_F(CoverPageTest, SampleTemplatesDrawTheirFields) {
  const auto samples = std::filesystem::path(VEXO_SOURCE_DIR) / "resources" / "cover";
  CoverProfile profile{
      "Vexo Sender", "555 0100", "555 0101", "", "s@example.org", (samples / "logo.bmp").string()};
  cover.SetProfile(profile);
  cover.SetFaxDetails({"Recipient", "555 0199", "Subject", "A note\nover two lines"});
  for (const char* name : {"plain.txt", "business.txt", "chinese.txt"}) {
    test::TakeErrors();
    EXPECT_EQ(cover.PreviewCoverPage((samples / name).string(), {}, {}), 1) << name;
    EXPECT_GT(cover.Bitmap()->CountBlack(cover.Bitmap()->Bounds()), 5000u) << name;
    EXPECT_TRUE(test::TakeErrors().empty()) << name;
  }
  test::TempDir coverDir;
  EXPECT_EQ(InstallSampleCovers(coverDir.dir()), 4);
  EXPECT_EQ(InstallSampleCovers(coverDir.dir()), 0);
}

}  // namespace
}  // namespace vexo
