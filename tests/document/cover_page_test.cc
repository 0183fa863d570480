// Cover pages from real template files: every page is written into a TIFF,
// decoded by libtiff and looked at pixel by pixel (where the ink lies), for
// groups, units, fonts, tags, literal text, the line rule, notes, separators,
// fields, logos and the failures. The template parser is checked on its own.
#include "document/cover_page.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/document/tiff_test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::kTestRowBytes;

// A decoded page: rows of 216 bytes, 1 black.
struct Page {
  std::vector<std::uint8_t> bits;
  int Rows() const { return static_cast<int>(bits.size() / kTestRowBytes); }
  bool Black(int x, int y) const {
    return (bits[static_cast<std::size_t>(y) * kTestRowBytes + x / 8] & (0x80 >> (x % 8))) != 0;
  }
  // The smallest rectangle holding all ink (right and bottom inclusive); left < 0 when blank.
  CoverBox Ink() const {
    CoverBox box{-1, -1, -1, -1};
    for (int y = 0; y < Rows(); ++y)
      for (int x = 0; x < static_cast<int>(kTestRowBytes * 8); ++x)
        if (Black(x, y)) {
          if (box.left < 0 || x < box.left) box.left = x;
          if (box.top < 0) box.top = y;
          box.right = std::max(box.right, x);
          box.bottom = y;
        }
    return box;
  }
  int InkRows() const {
    int n = 0;
    for (int y = 0; y < Rows(); ++y)
      for (std::size_t i = 0; i < kTestRowBytes; ++i)
        if (bits[static_cast<std::size_t>(y) * kTestRowBytes + i] != 0) {
          ++n;
          break;
        }
    return n;
  }
};

// Millimetres and inches at 209 pixels per inch, as the tags convert them.
int Mm(int mm) { return (209 * mm * 10 + 127) / 254; }
constexpr int kInch = 209;
// The A4 page area: margins 6.7 mm left and right, 4 mm top, 11.5 mm bottom.
constexpr CoverBox kArea{55, 33, 1672, 2348};

std::string Bmp(int width, int height, int bits, std::size_t pixelBytes) {
  std::string b = "BM";
  auto le32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  auto le16 = [&](std::uint32_t v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>(v >> 8);
  };
  const std::uint32_t colours = bits <= 8 ? (1u << bits) : 0;
  const std::uint32_t offset = 54 + 4 * colours;
  le32(offset + static_cast<std::uint32_t>(pixelBytes));
  le32(0);
  le32(offset);
  le32(40);
  le32(static_cast<std::uint32_t>(width));
  le32(static_cast<std::uint32_t>(height));
  le16(1);
  le16(static_cast<std::uint32_t>(bits));
  for (int i = 0; i < 6; ++i) le32(0);
  for (std::uint32_t i = 0; i < colours; ++i)
    b += i == 0 ? std::string("\0\0\0\0", 4) : std::string("\xFF\xFF\xFF\0", 4);
  b.resize(offset, '\0');
  b += std::string(pixelBytes, '\0');  // palette entry 0 is black: an all-black picture
  return b;
}

class CoverPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::TakePool();
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

  // Generates the template into a new TIFF; the result and the decoded page.
  int Generate(const std::string& templateBytes, Page* page = nullptr) {
    const auto tif = dir.path() / ("page" + std::to_string(++files) + ".tif");
    FaxOutputFile out;
    if (out.Open(tif.string()) != 1) return -9;
    std::uint32_t pages = 0;
    const int result = cover.GenCoverPage(File(templateBytes).string(), out.Tiff(), {}, {}, &pages);
    out.AddPages(pages);
    EXPECT_EQ(out.Close(), 1);
    lastTif = tif;
    if (result == 1 && page != nullptr) {
      EXPECT_EQ(pages, 1u);
      page->bits = test::DecodeWithLibTiff(tif, 0);
      EXPECT_FALSE(page->bits.empty());
    }
    return result;
  }

  Page Draw(const std::string& templateBytes) {
    Page page;
    EXPECT_EQ(Generate(templateBytes, &page), 1);
    return page;
  }

  test::TempDir dir;
  int files = 0;
  std::filesystem::path lastTif;
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
  EXPECT_EQ(numbers(" 20,30,100,0"), (std::vector<std::uint32_t>{20, 30, 100, 0}));
  EXPECT_EQ(numbers(" 120,0,1"), (std::vector<std::uint32_t>{120, 1}));
  EXPECT_EQ(numbers("\t12mm, 7x8\t9"), (std::vector<std::uint32_t>{12, 7, 9}));
  EXPECT_EQ(numbers(""), (std::vector<std::uint32_t>{0}));
  EXPECT_EQ(numbers(" 1 2 3 4 5 6 7 8 9 10").size(), 8u);
  EXPECT_EQ(numbers(" 99999999999999999999"), (std::vector<std::uint32_t>{kCoverMaxNumber}));
}

TEST_F(CoverPageTest, TextDrawsOnlyInsideAGroupPlacedInMillimetres) {
  EXPECT_EQ(Draw("WWWW\r\n").Ink().left, -1);
  const CoverBox ink = Draw("WWWW\r\n<GROUP 20,30,100,0>WWWW\r\n").Ink();
  EXPECT_GE(ink.left, Mm(20));
  EXPECT_LE(ink.left, Mm(20) + 4);
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
}

TEST_F(CoverPageTest, UnitInchAndBackToMillimetres) {
  const std::string wide(200, 'W');
  const CoverBox inch = Draw("<UNIT INCH><GROUP 1,1,3,2>" + wide).Ink();
  EXPECT_GE(inch.left, kInch);
  EXPECT_LE(inch.left, kInch + 4);
  EXPECT_GE(inch.top, kInch);
  EXPECT_LE(inch.right, kInch + 3 * kInch - 1);
  EXPECT_GT(inch.right, kInch + 3 * kInch - 40);  // clipped at the group's right
  const CoverBox mm = Draw("<UNIT INCH><UNIT MM><GROUP 10,10,3,2>W").Ink();
  EXPECT_LE(mm.left, Mm(10) + 4);
  EXPECT_LE(mm.right, Mm(13));
}

TEST_F(CoverPageTest, FontSizeBoldItalicAndTheSkippedZero) {
  const Page skipped = Draw("<FONT 120,0,1><GROUP 20,20,150,0>HHHH");
  const Page bold = Draw("<FONT 120,1><GROUP 20,20,150,0>HHHH");
  const Page regular = Draw("<FONT 120><GROUP 20,20,150,0>HHHH");
  const Page large = Draw("<GROUP 20,20,150,0>HHHH");
  EXPECT_EQ(skipped.bits, bold.bits);  // the 0 is skipped: 1 is the bold value
  EXPECT_NE(bold.bits, regular.bits);
  EXPECT_GT(bold.InkRows(), 8);
  EXPECT_LT(bold.InkRows(), large.InkRows());  // 12 points below the default 22
  // Italic and underline are the third and fourth values.
  const Page italic = Draw("<FONT 220,1,1><GROUP 20,20,150,0>HHHH");
  const Page underline = Draw("<FONT 220,1,1,1><GROUP 20,20,150,0>HHHH");
  EXPECT_NE(italic.bits, Draw("<FONT 220,1><GROUP 20,20,150,0>HHHH").bits);
  EXPECT_GT(underline.Ink().bottom, italic.Ink().bottom);
  // Font and group carry over the template's lines; FONT without values restores the default.
  EXPECT_EQ(Draw("<FONT 120,1>\n<FONT>\n<GROUP 20,20,150,0>HHHH").bits, large.bits);
}

TEST_F(CoverPageTest, BlankAfterBracketAndUnknownKeywordsAsLiteralText) {
  CoverProfile profile;
  profile.fullName = "Ada Lovelace";
  cover.SetProfile(profile);
  const Page tag = Draw("<GROUP 20,20,150,0><SENDNAME>");
  EXPECT_EQ(Draw("<GROUP 20,20,150,0><  SENDNAME>").bits, tag.bits);
  EXPECT_EQ(Draw("<GROUP 20,20,150,0>Ada Lovelace").bits, tag.bits);
  profile.fullName = "<SENDNAMES>";
  cover.SetProfile(profile);
  EXPECT_EQ(Draw("<GROUP 20,20,150,0><SENDNAMES>").bits,
            Draw("<GROUP 20,20,150,0><SENDNAME>").bits);
}

TEST_F(CoverPageTest, FieldsAndDateAreDrawnAsText) {
  CoverProfile profile{"Sender", "+1 555 0100", "555 0101", "555 0102", "s@example.org", ""};
  cover.SetProfile(profile);
  cover.SetFaxDetails({"Bob", "555 0199", "Quarterly figures", ""});
  const Page fields = Draw(
      "<GROUP 20,20,170,0><SENDNAME>|<SENDFAX>|<PHONE1>|<PHONE2>|<EMAIL>\n"
      "<RCVNAME>|<RCVFAX>|<SUBJECT>\n<DATETIME>");
  const Page literal = Draw(
      "<GROUP 20,20,170,0>Sender|+1 555 0100|555 0101|555 0102|s@example.org\n"
      "Bob|555 0199|Quarterly figures\n12/6/2026    9:5:7");
  EXPECT_EQ(fields.bits, literal.bits);
  EXPECT_GT(fields.InkRows(), 60);  // three lines
  // A value that the code page cannot hold is drawn with "?".
  cover.SetFaxDetails({"Bob \xE2\x98\x83", "", "", ""});
  EXPECT_EQ(Draw("<GROUP 20,20,170,0><RCVNAME>").bits, Draw("<GROUP 20,20,170,0>Bob ?").bits);
}

TEST_F(CoverPageTest, EightBitTemplatesInTheirCodePage) {
  const std::string chinese = "\xE4\xBC\xA0\xE7\x9C\x9F";  // the same two characters in UTF-8 ...
  const std::string gbk = "\xB4\xAB\xD5\xE6";              // ... and in GBK
  const Page utf8 = Draw("<GROUP 20,20,170,0>" + chinese);
  cover.SetCodePage(936);
  EXPECT_EQ(Draw("<GROUP 20,20,170,0>" + gbk).bits, utf8.bits);
  EXPECT_GT(utf8.InkRows(), 10);
}

TEST_F(CoverPageTest, LinesOfMoreThan511BytesAreRefused) {
  const std::string lf(510, 'a'), crlf(509, 'a');
  EXPECT_EQ(Generate("<GROUP>\n" + lf + "\nend\n"), 1);
  EXPECT_EQ(Generate("<GROUP>\r\n" + crlf + "\r\nend"), 1);
  EXPECT_EQ(Generate(lf), 1);  // the last line without its line end
  test::TakePool();
  for (const std::string& bad : {std::string(511, 'a') + "\n", lf + "\r\n", std::string(511, 'a'),
                                 "x\n" + std::string(100000, 'b')}) {
    EXPECT_EQ(Generate(bad), 0);
    const auto records = test::TakePool();
    EXPECT_TRUE(test::PoolHas(records, "line is too long in [filename="));
    EXPECT_TRUE(test::PoolHas(
        records, "The maximum size of line is 511 (including the line feed and return)"));
    EXPECT_EQ(test::DecodeWithLibTiff(lastTif, 0).size(), 0u);  // nothing written
  }
}

TEST_F(CoverPageTest, NoteIsWrappedAndCutAtTheGroupsBottom) {
  CoverFaxDetails details;
  for (int i = 0; i < 40; ++i) details.note += "line " + std::to_string(i) + "\r\n";
  cover.SetFaxDetails(details);
  const int top = Mm(50), bottom = Mm(50) + Mm(30) - 1;
  const CoverBox cut = Draw("<GROUP 20,50,100,30><NOTE>").Ink();
  EXPECT_GE(cut.top, top);
  EXPECT_GT(cut.bottom, bottom - 40);
  EXPECT_LT(cut.bottom, bottom + 40);  // the last line starts inside the group

  // One long word is cut at the group's width and goes on over the next lines.
  details.note = std::string(120, 'W');
  cover.SetFaxDetails(details);
  const Page word = Draw("<GROUP 20,50,50,0><NOTE>");
  const CoverBox ink = word.Ink();
  EXPECT_LE(ink.right, Mm(20) + Mm(50) - 1);
  EXPECT_GT(ink.right, Mm(20) + Mm(50) - 40);
  EXPECT_GT(ink.bottom - ink.top, 4 * 25);  // several lines

  // A very long note is wrapped piece by piece, never measured whole for each piece.
  details.note = std::string(200000, 'i');
  cover.SetFaxDetails(details);
  EXPECT_GT(Draw("<GROUP 20,50,50,40><NOTE>").InkRows(), 100);

  // Words are wrapped behind a blank: no line ends inside "Wxxx".
  details.note = "aaaa aaaa aaaa aaaa aaaa aaaa aaaa aaaa aaaa aaaa aaaa aaaa aaaa aaaa";
  cover.SetFaxDetails(details);
  const Page wrapped = Draw("<GROUP 20,50,50,0><NOTE>");
  details.note = "aaaa";
  cover.SetFaxDetails(details);
  const int wordWidth = Draw("<GROUP 20,50,50,0><NOTE>").Ink().right - Mm(20);
  EXPECT_LE(wrapped.Ink().right, Mm(20) + Mm(50) - 1);
  EXPECT_GT(wrapped.Ink().right, Mm(20) + Mm(50) - 1 - 2 * wordWidth);
}

TEST_F(CoverPageTest, SeparatorSpansThePageAreaInsideANarrowGroup) {
  const Page page = Draw("<GROUP 50,50,30,30>ab\r\n<SEP>\r\ncd");
  std::vector<int> full;
  for (int y = 0; y < page.Rows(); ++y) {
    bool all = true;
    for (int x = kArea.left; x <= kArea.right && all; ++x) all = page.Black(x, y);
    if (all) {
      full.push_back(y);
      EXPECT_FALSE(page.Black(kArea.left - 1, y));
      EXPECT_FALSE(page.Black(kArea.right + 1, y));
    }
  }
  ASSERT_EQ(full.size(), 3u);
  EXPECT_EQ(full[2] - full[0], 2);
  EXPECT_GT(full[0], Mm(50) + 20);  // below the first line of text
  // The text after it starts below the line, at the group's left.
  int below = -1;
  for (int y = full[2] + 1; y < page.Rows() && below < 0; ++y)
    for (int x = 0; x < 1728; ++x)
      if (page.Black(x, y)) below = y;
  EXPECT_GT(below, full[2]);
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
  EXPECT_EQ(ink, (CoverBox{Mm(20), Mm(40), Mm(20) + Mm(30) - 1, Mm(40) + Mm(10) - 1}));
  // Without size: 30 mm by 20 mm at the page area's corner.
  const CoverBox fallback = Draw("<LOGO>").Ink();
  EXPECT_EQ(fallback,
            (CoverBox{kArea.left, kArea.top, kArea.left + Mm(30) - 1, kArea.top + Mm(20) - 1}));
  // No logo set: the tag draws nothing.
  cover.SetProfile({});
  EXPECT_EQ(Draw("<LOGO 20,40,30,10>").Ink().left, -1);
}

TEST_F(CoverPageTest, BadLogosFailTheCoverPage) {
  struct Case {
    std::string bytes;
    const char* message;
  };
  std::string notBm = Bmp(8, 8, 1, 32);
  notBm[0] = 'X';
  const std::vector<Case> cases = {
      {notBm, "Format of Logo bitmap file is invalid."},
      {Bmp(8, 8, 3, 32), "Format of Logo bitmap file is invalid."},
      {Bmp(64, 64, 24, 64 * 64 * 3).substr(0, 2000), "Format of Logo bitmap file is invalid."},
      {Bmp(0x7FFF, 0x7FFF, 32, 16), "Format of Logo bitmap file is invalid."},
      {"BM", "Fail to read file [filename="},
  };
  for (const Case& c : cases) {
    CoverProfile profile;
    profile.logoFile = File(c.bytes, ".bmp").string();
    cover.SetProfile(profile);
    test::TakePool();
    EXPECT_EQ(Generate("<LOGO 20,40,30,10>"), 0);
    EXPECT_TRUE(test::PoolHas(test::TakePool(), c.message)) << c.message;
    EXPECT_TRUE(test::DecodeWithLibTiff(lastTif, 0).empty());
  }
  CoverProfile missing;
  missing.logoFile = (dir.path() / "none.bmp").string();
  cover.SetProfile(missing);
  EXPECT_EQ(Generate("<GROUP>text\n<LOGO>"), 0);
  EXPECT_TRUE(test::PoolHas(test::TakePool(), "No such file or directory"));
}

TEST_F(CoverPageTest, FailuresCancelProgressAndNormalPages) {
  EXPECT_EQ(cover.PreviewCoverPage((dir.path() / "none.txt").string(), {}, {}), 0);
  EXPECT_TRUE(test::PoolHas(test::TakePool(), "Fail to Open cover page file [filename="));
  EXPECT_EQ(cover.PreviewCoverPage(dir.path().string(), {}, {}), 0);
  EXPECT_TRUE(test::PoolHas(test::TakePool(), "Fail to Open cover page file [filename="));
  CoverPage uninitialized;
  EXPECT_EQ(uninitialized.PreviewCoverText("x"), 0);
  EXPECT_TRUE(test::PoolHas(test::TakePool(), "Txt2Tif module uninitialize"));

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

  PaperInfo paper;
  paper.id = kPaperA4Normal;
  paper.height = 2870;
  paper.top = 100;
  ASSERT_EQ(cover.SetPaper(paper, PAPER_ID | PAPER_HEIGHT | PAPER_TOP), 1);
  Page normal;
  ASSERT_EQ(Generate("<GROUP 20,20,100,0>WWWW", &normal), 1);
  EXPECT_EQ(normal.Rows(), (PaperPixels(2870, 209) + 1) / 2);
  const auto y = test::DumpTag(lastTif, 0, TIFFTAG_YRESOLUTION);
  EXPECT_EQ(y.rational, (std::vector<std::uint32_t>{209, 2}));
  // Every second drawing row: the text starts at half the group's top.
  EXPECT_GE(normal.Ink().top, Mm(20) / 2);
  EXPECT_LE(normal.Ink().top, Mm(20) / 2 + 6);
}

TEST_F(CoverPageTest, SampleTemplatesDrawTheirFields) {
  const auto samples = std::filesystem::path(VEXO_SOURCE_DIR) / "resources" / "cover";
  CoverProfile profile{
      "Vexo Sender", "555 0100", "555 0101", "", "s@example.org", (samples / "logo.bmp").string()};
  cover.SetProfile(profile);
  cover.SetFaxDetails({"Recipient", "555 0199", "Subject", "A note\nover two lines"});
  for (const char* name : {"plain.txt", "business.txt", "chinese.txt"}) {
    test::TakePool();
    Page page;
    EXPECT_EQ(cover.PreviewCoverPage((samples / name).string(), {}, {}), 1) << name;
    EXPECT_GT(cover.Bitmap()->CountBlack(cover.Bitmap()->Bounds()), 5000u) << name;
    EXPECT_TRUE(test::TakePool().empty()) << name;
  }
  test::TempDir coverDir;
  EXPECT_EQ(InstallSampleCovers(coverDir.dir()), 4);
  EXPECT_EQ(InstallSampleCovers(coverDir.dir()), 0);
}

}  // namespace
}  // namespace vexo
