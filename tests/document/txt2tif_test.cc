// The text renderer: line extra, page layout and ends, line breaks, encodings,
// tabs and wrap, cancel, progress and failures, on files decoded by libtiff.
#include "document/txt2tif.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "document/line_breaks.h"
#include "document/page_header.h"
#include "document/tiff_oper.h"
#include "document/txt2tif_reader.h"
#include "platform/text.h"
#include "tests/document/test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::kTestRowBytes;

using Page = std::vector<std::uint8_t>;

std::size_t BlackPixels(const Page& page) {
  return test::InkIn(page, 0, 0, test::kTestWidth, static_cast<int>(page.size() / kTestRowBytes));
}
int FirstBlackColumn(const Page& page) { return test::InkBounds(page).left; }

class Txt2TifTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::TakeErrors();
    ASSERT_EQ(renderer.Initialize(), 1);
    ASSERT_EQ(test::UseSendPaper(renderer, kPaperA4Fine), 1);
    renderer.SetCodePage(1252);
  }

  std::filesystem::path TextFile(const std::string& bytes) {
    const auto path = dir.path() / ("text" + std::to_string(++files) + ".txt");
    test::WriteFileBytes(path, bytes);
    return path;
  }

  using Rendered = test::WrittenFax;
  Rendered RenderFile(const std::filesystem::path& text, bool allowEmpty = false,
                      const Txt2Tif::CancelFn& cancel = {},
                      const Txt2Tif::ProgressFn& progress = {}) {
    return test::WriteFaxFile(dir.path() / ("out" + std::to_string(++files) + ".tif"),
                              [&](TiffFile& tif, std::uint32_t* pages) {
                                return renderer.Text2Tiff(text.string(), tif, allowEmpty, cancel,
                                                          progress, pages);
                              });
  }

  Rendered Render(const std::string& bytes, bool allowEmpty = false) {
    return RenderFile(TextFile(bytes), allowEmpty);
  }

  // Text lines that fill exactly one page.
  int LinesPerPage() const {
    const PaperLayout& l = renderer.Layout();
    int n = 1;
    while (l.Height() - l.Bottom() >
           l.Top() + n * renderer.LineHeight() + renderer.Metrics().tmHeight - 1)
      ++n;
    return n;
  }

  test::TempDir dir;
  Txt2Tif renderer;
  int files = 0;
};

TEST(PaperLayoutTest, RefusedPapersLeaveTheLayoutAsItWas) {
  PaperLayout layout;
  PaperInfo p;
  p.id = 19;
  EXPECT_EQ(layout.SetPaper(p, PAPER_ID), 0);
  p.left = 1000;  // 2 * (1000 + 67) > 2100
  EXPECT_EQ(layout.SetPaper(p, PAPER_LEFT), 0);
  p.height = 300;  // less than 2 * (40 + 115)
  EXPECT_EQ(layout.SetPaper(p, PAPER_HEIGHT), 0);
  p.height = kMaxPaperHeight + 1;
  EXPECT_EQ(layout.SetPaper(p, PAPER_HEIGHT), 0);
  EXPECT_STREQ(layout.Paper().name, "A4-FINE");
  EXPECT_EQ(layout.Height(), 2292);  // the full A4 page at 196 rows per inch
  p.bottom = 0;
  p.height = 2000;
  EXPECT_EQ(layout.SetPaper(p, PAPER_HEIGHT | PAPER_BOTTOM), 1);
  EXPECT_EQ(layout.Bottom(), 0);
}

TEST_F(Txt2TifTest, LineExtraInEveryUnit) {
  LOGFONTW font = MakeLogFont("DejaVu Sans", 100);
  font.lfHeight = 20;  // a cell 20 pixels high
  ASSERT_EQ(renderer.SetFont(font), 1);
  ASSERT_EQ(renderer.Metrics().tmHeight, 20);
  // value, unit, pixels, and the pixels in tenths of a millimetre and hundredths of an inch.
  struct Case {
    std::uint32_t value, unit, pixels, tenthsOfMm, hundredthsOfInch;
  };
  const Case cases[] = {
      {10, LINE_EXTRA_TENTH_MM, 8, 10, 4},          // 1 mm at 196 rows; (8 * 100 + 98) / 196
      {10, LINE_EXTRA_HUNDREDTH_INCH, 20, 26, 10},  // (20 * 254 + 98) / 196
      {7, LINE_EXTRA_PIXELS, 7, 9, 4},
      {500, LINE_EXTRA_PIXELS, 200, 259, 102},  // cut to ten font heights, in every unit
      {5000, LINE_EXTRA_PERCENT, 200, 259, 102},
      {50, LINE_EXTRA_PERCENT, 10, 13, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    ASSERT_EQ(renderer.SetLineExtra(c.value, c.unit), 1);
    EXPECT_EQ(renderer.LineExtraRecord().pixels, c.pixels);
    EXPECT_EQ(renderer.LineExtraRecord().tenthsOfMm, c.tenthsOfMm);
    EXPECT_EQ(renderer.LineExtraRecord().hundredthsOfInch, c.hundredthsOfInch);
  }
  EXPECT_EQ(renderer.LineHeight(), 30);
  EXPECT_EQ(renderer.SetLineExtra(5, 3), 0);
  // A percentage follows the font.
  font.lfHeight = 40;
  ASSERT_EQ(renderer.SetFont(font), 1);
  EXPECT_EQ(renderer.LineExtraRecord().pixels, 20u);
}

// A text page is its paper's length at the far end: its rows and the page
// header's make the paper's rows at the line's density, the tags say 204 by
// 196 (or 98), tiff2pdf makes a page of the paper's length less the header's
// 10 mm, and only the page longer than A4 asks the line for more length.
// Pages are as long as their paper, and a text line as wide as its font says.
TEST_F(Txt2TifTest, PagesAreTheirPapersLengthAtTheLinesDensity) {
  struct Case {
    PaperSize paper;
    std::uint32_t quality;
    double millimetres;
  };
  const Case cases[] = {{PaperSize::kA4, 2, 297},       {PaperSize::kA4, 1, 297},
                        {PaperSize::kLetter, 2, 279.4}, {PaperSize::kLetter, 1, 279.4},
                        {PaperSize::kLegal, 2, 355.6},  {PaperSize::kLegal, 1, 355.6}};
  const std::regex pageSize(R"(Page size: +[0-9.]+ x ([0-9.]+) pts)");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.millimetres) + (c.quality == 1 ? " normal" : " fine"));
    ConvertOptions options;
    options.paperSize = c.paper;
    options.quality = c.quality;
    ASSERT_EQ(ConfigureTxt2Tif(renderer, options), 1);
    const std::string line = "The quick brown fox jumps over the lazy dog";
    const Rendered page = Render(line + "\n");
    ASSERT_EQ(page.pages, 1u);
    const test::InkBox ink = test::InkBounds(page.decoded[0]);
    const double across = test::DesignedInkAcross(renderer.CurrentFont()->LogFont(), line);
    EXPECT_NEAR(ink.right - ink.left + 1, across, across / 100);
    const bool normal = c.quality == 1;
    const std::uint32_t density = normal ? kNormalRowsPerInch : kFineRowsPerInch;
    const auto rows = static_cast<std::uint32_t>(page.decoded[0].size() / kTestRowBytes);
    const HeaderGeometry header = HeaderGeometry::For(1728, kFaxXResolution, kFineRowsPerInch);
    EXPECT_NEAR(rows + HeaderRows(header.height, normal), PaperRows(c.paper, density), 1);
    EXPECT_EQ(test::DumpTag(page.file, 0, TIFFTAG_XRESOLUTION).rational,
              (std::vector<std::uint32_t>{kFaxXResolution, 1}));
    EXPECT_EQ(test::DumpTag(page.file, 0, TIFFTAG_YRESOLUTION).rational,
              (std::vector<std::uint32_t>{density, 1}));
    const std::string pdf = page.file.string() + ".pdf";
    ASSERT_TRUE(test::RunCommand("tiff2pdf -o '" + pdf + "' '" + page.file.string() +
                                 "' && pdfinfo '" + pdf + "' > '" + pdf + ".txt'"));
    const std::string info = test::ReadFileBytes(pdf + ".txt");
    std::smatch height;
    ASSERT_TRUE(std::regex_search(info, height, pageSize)) << info;
    const double expected = (c.millimetres - 10) * 72 / 25.4;
    EXPECT_NEAR(std::stod(height[1]), expected, expected / 100) << info;
    TiffOper reader;
    ASSERT_EQ(reader.OpenReadTiffHeader(page.file.string()), 1);
    ASSERT_EQ(reader.ReadTags(), 1);
    EXPECT_EQ((reader.PageInfo().flags & PAGE_LONG) != 0, c.paper == PaperSize::kLegal);
  }
}

TEST_F(Txt2TifTest, NormalPageIsDrawnAtFullResolutionAndStoredHalved) {
  ASSERT_EQ(test::UseSendPaper(renderer, kPaperA4Normal), 1);
  const Rendered normal = Render("Hello fax\n");
  ASSERT_EQ(normal.pages, 1u);
  ASSERT_EQ(normal.decoded[0].size(), 1108 * kTestRowBytes);
  EXPECT_EQ(test::DumpTag(normal.file, 0, TIFFTAG_YRESOLUTION).rational,
            (std::vector<std::uint32_t>{98, 1}));
  ASSERT_EQ(test::UseSendPaper(renderer, kPaperA4Fine), 1);
  const Rendered fine = Render("Hello fax\n");
  ASSERT_EQ(fine.decoded[0].size(), 2215 * kTestRowBytes);
  // The normal page holds the even rows of the fine drawing.
  EXPECT_EQ(normal.decoded[0], test::EvenRows(fine.decoded[0]));
  const auto ink = test::InkBounds(fine.decoded[0]);
  EXPECT_GE(ink.top, 77);  // below the top margin
  EXPECT_LT(ink.bottom, 77 + renderer.LineHeight());
  EXPECT_GE(FirstBlackColumn(fine.decoded[0]), 74);  // the A4 paper centred on the line
}

TEST_F(Txt2TifTest, PageEndsProduceNoEmptyPages) {
  const int perPage = LinesPerPage();
  std::string full;
  for (int i = 0; i < perPage; ++i) full += "line " + std::to_string(i) + "\n";
  const Rendered exact = Render(full);
  EXPECT_EQ(exact.result, 1);
  EXPECT_EQ(exact.pages, 1u);
  // The last line sits just above the bottom margin.
  EXPECT_LT(test::InkBounds(exact.decoded[0]).bottom,
            renderer.Layout().Height() - renderer.Layout().Bottom());
  full.pop_back();  // no break after the last line
  EXPECT_EQ(Render(full).pages, 1u);
  EXPECT_EQ(Render(full + "\nmore").pages, 2u);
  // Trailing line ends and form feeds never make a page of their own; a form
  // feed starts a new page.
  const std::pair<std::string, std::uint32_t> ends[] = {
      {full + "\n\n\n", 1}, {full + "\n\f\n", 1}, {"a\fb", 2}, {"a\n\n\f\fb\f\n", 2}};
  for (const bool wrap : {false, true}) {
    renderer.SetWordWrap(wrap);
    for (const auto& [text, pages] : ends) EXPECT_EQ(Render(text).pages, pages) << wrap;
  }
  renderer.SetWordWrap(false);
  // Three and a half pages of lines.
  std::string longer;
  for (int i = 0; i < perPage * 7 / 2; ++i) longer += "x\n";
  const Rendered many = Render(longer);
  EXPECT_EQ(many.pages, 4u);
  EXPECT_EQ(test::InkBounds(many.decoded[0]), test::InkBounds(many.decoded[1]));
}

TEST_F(Txt2TifTest, EmptyFiles) {
  for (const std::string& empty :
       {std::string(), std::string("\xFF\xFE"), std::string("\xEF\xBB\xBF")}) {
    const Rendered refused = Render(empty);
    EXPECT_EQ(refused.result, 0);
    EXPECT_EQ(refused.pages, 0u);
    EXPECT_TRUE(test::PoolHas(test::TakeErrors(), "Text file is empty [filename="));
    const Rendered blank = Render(empty, true);
    EXPECT_EQ(blank.result, 1);
    ASSERT_EQ(blank.pages, 1u);
    EXPECT_EQ(BlackPixels(blank.decoded[0]), 0u);
  }
}

TEST_F(Txt2TifTest, TextsThatRenderAlike) {
  std::string lf;
  for (int i = 0; i < 200; ++i) lf += "Line " + std::to_string(i) + " of the text\n\n";
  std::string crlf, cr;
  for (const char c : lf) {
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    cr += c == '\n' ? '\r' : c;
  }
  const std::string utf8 =
      "Caf\xC3\xA9 fa\xC3\xA7"
      "ade\n";
  std::string utf16 = "\xFF\xFE";
  for (const char16_t u : Utf8ToUtf16(utf8))
    utf16 += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
  const std::string straddle(kTextChunkBytes - 1, 'a');
  const std::pair<std::string, std::string> alike[] = {
      {lf, crlf},  // the three line breaks, over several pages
      {lf, cr},
      {straddle + "\r\nb\r\n", straddle + "\nb\n"},  // CR LF across the first chunk boundary
      {utf8,
       "Caf\xE9 fa\xE7"
       "ade\n"},  // code page 1252
      {utf8, "\xEF\xBB\xBF" + utf8},
      {utf8, utf16},
      {"\tb\n", "        b\n"},  // a tab stop every eight blanks
      // Without wrap a long line is clipped and stays one line.
      {std::string(2000, 'M') + "\nnext\n", std::string(300, 'M') + "\nnext\n"},
  };
  for (const auto& [a, b] : alike)
    EXPECT_EQ(Render(a).decoded, Render(b).decoded) << a.substr(0, 40);
  EXPECT_GE(Render(lf).pages, 2u);
  renderer.SetTabSize(4);
  EXPECT_EQ(Render("\tb\n").decoded, Render("    b\n").decoded);
  // Bytes that are not UTF-8 are code page text.
  EXPECT_NE(BlackPixels(Render("\xE9\xE8\n").decoded[0]), 0u);
}

TEST_F(Txt2TifTest, ChineseInCodePage936AndUtf8) {
  const std::string chinese = "\xE4\xB8\xAD\xE6\x96\x87\xE4\xBC\xA0\xE7\x9C\x9F";  // 中文传真
  const std::string gbk = *Utf8ToCodePage(936, chinese);
  ASSERT_EQ(gbk.size(), 8u);
  renderer.SetCodePage(936);
  // Odd ASCII prefixes put a double-byte character and a UTF-8 sequence
  // across the first chunk boundary.
  for (const std::size_t prefix : {std::size_t{0}, kTextChunkBytes - 1, kTextChunkBytes - 2}) {
    const std::string ascii(prefix, 'a');
    std::string a, b;
    for (int i = 0; i < 40; ++i) a += gbk, b += chinese;
    const Rendered fromGbk = Render(ascii + "\n" + a + "\n");
    const Rendered fromUtf8 = Render(ascii + "\n" + b + "\n");
    ASSERT_EQ(fromGbk.pages, 1u);
    EXPECT_EQ(fromGbk.decoded, fromUtf8.decoded) << "prefix " << prefix;
    EXPECT_GT(BlackPixels(fromGbk.decoded[0]), 1000u);
  }
}

TEST_F(Txt2TifTest, SurrogatePairIsNeverSplitAcrossChunks) {
  // A surrogate pair across the chunk boundary of a UTF-16 file.
  std::string bytes = "\xFF\xFE";
  for (std::size_t i = 0; i < kTextChunkBytes / 2 - 1; ++i) bytes += std::string("x\0", 2);
  bytes += std::string("\x3D\xD8\x00\xDE", 4);  // U+1F600
  bytes += std::string("\r\0\n\0", 4);
  TextFileReader reader;
  ASSERT_EQ(reader.Open(TextFile(bytes).string(), 1252), TextFileReader::Status::Ok);
  EXPECT_EQ(reader.Encoding(), TextEncoding::Utf16);
  EXPECT_EQ(reader.TextBytes(), bytes.size() - 2);
  std::string text;
  std::size_t consumed = 0;
  TextFileReader::Status status;
  while (auto chunk = reader.Next(&status)) text += chunk->text, consumed += chunk->bytes;
  EXPECT_EQ(consumed, bytes.size() - 2);
  EXPECT_EQ(text, std::string(kTextChunkBytes / 2 - 1, 'x') + "\xF0\x9F\x98\x80\n");
}

TEST_F(Txt2TifTest, TabColumnsLineUpInBothWrapModes) {
  const int stop = renderer.Layout().Left() + renderer.CurrentFont()->TextWidth("        ");
  const int line = renderer.LineHeight();
  for (const bool wrap : {false, true}) {
    renderer.SetWordWrap(wrap);
    const Page page = Render("i\tMM\niiiii\tMM\n\t\tMM\n").decoded.at(0);
    // The first ink at or right of each line's column stop.
    auto column = [&](int row, int from) {
      const int top = renderer.Layout().Top() + row * line;
      while (from < 1728 && test::InkIn(page, from, top, from + 1, top + line) == 0) ++from;
      return from;
    };
    EXPECT_EQ(column(0, stop - 2), column(1, stop - 2)) << wrap;
    EXPECT_LT(column(0, stop - 2), stop + 4);
    EXPECT_EQ(column(2, 0) - column(0, stop - 2), stop - renderer.Layout().Left());
  }
}

TEST(LineBreaksTest, LinesEndAtTheLastBreakOpportunityThatFits) {
  struct Case {
    std::u32string text;
    std::size_t fitting, end;
  };
  const Case cases[] = {
      {U"Hello world again", 9, 6},  // behind a blank
      {U"Hello world again", 14, 12},
      {U"well-known", 7, 5},                            // behind a hyphen
      {U"\u4E2D\u6587\u4F20\u771F\u6587\u672C", 3, 3},  // 中文传真文本: between ideographs
      {U"\u4E2D\u6587\u3002\u4F20\u771F", 2, 1},        // 中文。传真: never before "。"
      {U"(see note) next", 9, 5},                       // nor before ")"
      {U"www.example.com/path", 10, 10},  // no opportunity: cut where it stops fitting
  };
  for (const auto& [text, fitting, end] : cases)
    EXPECT_EQ(WrappedLineEnd(text, fitting), end) << fitting;
  EXPECT_EQ(LineBreakOpportunities(U"a b"), (std::vector<std::size_t>{2, 3}));
}

TEST_F(Txt2TifTest, WrapBreaksAtBreakOpportunitiesAndCutsLongWords) {
  LOGFONTW big = MakeLogFont("DejaVu Sans", 100);
  big.lfHeight = -60;
  ASSERT_EQ(renderer.SetFont(big), 1);
  const int room =
      renderer.Layout().Width() - renderer.Layout().Right() - 1 - renderer.Layout().Left();
  const Font& font = *renderer.CurrentFont();
  // Wrapped, text renders as unwrapped text with line breaks at the cuts.
  auto expectWrappedAs = [&](const std::string& text, const std::string& broken) {
    renderer.SetWordWrap(true);
    const Rendered wrapped = Render(text);
    renderer.SetWordWrap(false);
    EXPECT_EQ(wrapped.decoded, Render(broken).decoded);
  };
  auto grow = [&](std::string text, const char* more, int lines = 1) {
    while (font.TextWidth(text) <= lines * room) text += more;
    return text;
  };
  // Words that fit are never split: the line breaks behind the blank (a blank
  // at the margin hangs on its line), or a hyphen.
  for (const std::string& line :
       {grow("Several words here", " more"), grow("well-known", "-known")}) {
    const std::size_t fit = font.Measure(line, room).fit;
    const std::size_t at = line.find_last_of(" -", fit) + 1;
    expectWrappedAs(line + "\n", line.substr(0, at) + "\n" + line.substr(at) + "\n");
  }
  // Each line filled with what fits: a word longer than the line is cut again
  // and again; ideographs break between any two, not behind an earlier blank.
  auto filledLines = [&](std::string_view text) {
    std::string lines;
    while (!text.empty()) {
      const std::string_view line = Utf8Prefix(text, font.Measure(text, room).fit);
      lines += std::string(line) + "\n";
      text.remove_prefix(line.size());
    }
    return lines;
  };
  const std::string word(3 * kTextChunkBytes, 'W');
  const std::string chinese = grow("\xE4\xB8\xAD \xE6\x96\x87", "\xE4\xBC\xA0\xE7\x9C\x9F", 3);
  for (const std::string& text : {word, chinese}) expectWrappedAs(text, filledLines(text));
}

TEST_F(Txt2TifTest, NoWrapClipsAtTheRightMarginAndWrapAlwaysAdvances) {
  const Page clipped = Render(std::string(2000, 'M') + "\n").decoded.at(0);
  EXPECT_GT(BlackPixels(clipped), 0u);
  const int rows = static_cast<int>(clipped.size() / kTestRowBytes);
  EXPECT_EQ(test::InkIn(clipped, 1728 - 56, 0, 1728, rows), 0u);
  // A piece that fits and ends the file, and one that fills a whole chunk:
  // both render and end.
  renderer.SetWordWrap(true);
  EXPECT_EQ(Render("fits").pages, 1u);
  LOGFONTW tiny = MakeLogFont("DejaVu Sans", 100);
  tiny.lfHeight = -2;
  ASSERT_EQ(renderer.SetFont(tiny), 1);
  EXPECT_EQ(Render(std::string(kTextChunkBytes, 'i')).pages, 1u);
}

TEST_F(Txt2TifTest, ProgressCountsEveryByteAndCancelKeepsFinishedPages) {
  std::string text;
  for (int i = 0; i < LinesPerPage() * 3; ++i) text += "A line of text to fill some pages\r\n";
  const auto file = TextFile(text);
  std::size_t bytes = 0, calls = 0;
  const Rendered all = RenderFile(file, false, {}, [&](std::size_t n) { bytes += n, ++calls; });
  EXPECT_EQ(all.pages, 3u);
  EXPECT_EQ(bytes, text.size());
  EXPECT_GE(calls, text.size() / kTextChunkBytes);
  // Cancelled after most of the text: the finished pages stay and are sound.
  std::size_t asked = 0;
  const Rendered part = RenderFile(file, false, [&] { return ++asked > calls * 3 / 4; });
  EXPECT_EQ(part.result, -1);
  EXPECT_EQ(part.pages, 2u);
  EXPECT_EQ(part.decoded[0], all.decoded[0]);
  EXPECT_EQ(part.decoded[1], all.decoded[1]);
}

TEST_F(Txt2TifTest, Failures) {
  test::TakeErrors();
  EXPECT_EQ(RenderFile(dir.path() / "missing.txt").result, 0);
  EXPECT_TRUE(test::PoolHas(test::TakeErrors(), "Fail to Open text file [filename="));
  EXPECT_EQ(RenderFile(dir.path()).result, 0);  // a directory
  EXPECT_TRUE(test::PoolHas(test::TakeErrors(), "Fail to Open text file [filename="));
  FaxOutputFile file;
  ASSERT_EQ(file.Open((dir.path() / "x.tif").string()), 1);
  std::uint32_t pages = 7;
  EXPECT_EQ(renderer.Text2Tiff("", file.Tiff(), true, {}, {}, &pages), 0);  // no file name
  EXPECT_EQ(pages, 0u);
  Txt2Tif uninitialized;
  EXPECT_EQ(uninitialized.Text2Tiff(TextFile("x").string(), file.Tiff(), true, {}, {}, &pages), 0);
  EXPECT_TRUE(test::PoolHas(test::TakeErrors(), "Txt2Tif module uninitialize"));
  file.Discard();
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "x.tif"));
}

}  // namespace
}  // namespace vexo
