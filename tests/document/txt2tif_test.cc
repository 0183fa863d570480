// The text renderer on real files: paper and line extra arithmetic, page
// layout (rows, margins, page ends), the three line breaks and chunk edges, the
// encodings, tabs and word wrap, cancel and progress, and the failures. Every
// produced file is checked with the send side's page checks and decoded by libtiff.
#include "document/txt2tif.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/log_file.h"
#include "document/convert_options.h"
#include "document/txt2tif_reader.h"
#include "platform/text.h"
#include "tests/document/tiff_test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::DecodeWithLibTiff;
using test::kTestRowBytes;

using Page = std::vector<std::uint8_t>;

// The paper of the send job: page height 2970 less the header, top margin 100.
PaperInfo SendPaper(std::uint32_t id) {
  PaperInfo paper;
  paper.id = id;
  paper.height = 2870;
  paper.top = 100;
  return paper;
}

std::size_t BlackPixels(const Page& page) {
  std::size_t n = 0;
  for (const std::uint8_t b : page) n += static_cast<std::size_t>(__builtin_popcount(b));
  return n;
}

// Leftmost black column of a page, or -1.
int FirstBlackColumn(const Page& page) {
  int best = -1;
  for (std::size_t r = 0; r < page.size() / kTestRowBytes; ++r)
    for (std::size_t x = 0; x < kTestRowBytes * 8; ++x)
      if (page[r * kTestRowBytes + x / 8] & (0x80 >> (x % 8))) {
        if (best < 0 || static_cast<int>(x) < best) best = static_cast<int>(x);
        break;
      }
  return best;
}

// Topmost and bottommost rows holding black.
std::pair<int, int> InkRows(const Page& page) {
  int first = -1, last = -1;
  for (std::size_t r = 0; r < page.size() / kTestRowBytes; ++r) {
    const auto row = page.begin() + static_cast<std::ptrdiff_t>(r * kTestRowBytes);
    if (std::any_of(row, row + kTestRowBytes, [](std::uint8_t b) { return b != 0; })) {
      if (first < 0) first = static_cast<int>(r);
      last = static_cast<int>(r);
    }
  }
  return {first, last};
}

class Txt2TifTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::TakePool();
    ASSERT_EQ(renderer.Initialize(), 1);
    ASSERT_EQ(renderer.SetPaper(SendPaper(kPaperA4Fine), PAPER_ID | PAPER_HEIGHT | PAPER_TOP), 1);
    renderer.SetCodePage(1252);
  }

  std::filesystem::path TextFile(const std::string& bytes) {
    const auto path = dir.path() / ("text" + std::to_string(++files) + ".txt");
    test::WriteFileBytes(path, bytes);
    return path;
  }

  struct Rendered {
    int result = 0;
    std::uint32_t pages = 0;
    std::filesystem::path tif;
    std::vector<Page> decoded;
  };

  // Renders a file into a new fax file and decodes every page. Every page must
  // pass the checks of the send side.
  Rendered RenderFile(const std::filesystem::path& text, bool allowEmpty = false,
                      const Txt2Tif::CancelFn& cancel = {},
                      const Txt2Tif::ProgressFn& progress = {}) {
    Rendered out;
    out.tif = dir.path() / ("out" + std::to_string(++files) + ".tif");
    FaxOutputFile file;
    EXPECT_EQ(file.Open(out.tif.string()), 1);
    out.result =
        renderer.Text2Tiff(text.string(), file.Tiff(), allowEmpty, cancel, progress, &out.pages);
    file.AddPages(out.pages);
    EXPECT_EQ(file.Close(), 1);
    if (out.pages == 0) return out;
    TiffOper oper;
    oper.SetErrorPool(false);
    EXPECT_EQ(oper.OpenReadTiffHeader(out.tif.string()), 1);
    EXPECT_EQ(oper.GetTotalPageNum(), static_cast<int>(out.pages));
    for (std::uint32_t p = 0; p < out.pages; ++p) {
      if (p > 0) {
        EXPECT_EQ(oper.NextPage(), 1);
      }
      EXPECT_EQ(oper.ReadTags(), 1) << "page " << p;
      EXPECT_EQ(oper.PageInfo().width, 1728u);
      EXPECT_EQ(oper.Tags().pageIndex, p);
      EXPECT_EQ(oper.Tags().pageTotal, out.pages);
      out.decoded.push_back(DecodeWithLibTiff(out.tif, static_cast<int>(p)));
      EXPECT_FALSE(out.decoded.back().empty()) << "page " << p << " does not decode";
    }
    return out;
  }

  Rendered Render(const std::string& bytes, bool allowEmpty = false) {
    return RenderFile(TextFile(bytes), allowEmpty);
  }

  // Text lines that fill exactly one page.
  int LinesPerPage() const {
    const PaperLayout& l = renderer.Layout();
    const int lineHeight = renderer.LineHeight();
    const int fontHeight = renderer.Metrics().tmHeight;
    int n = 1;
    while (l.Height() - l.Bottom() > l.Top() + n * lineHeight + fontHeight - 1) ++n;
    return n;
  }

  test::TempDir dir;
  Txt2Tif renderer;
  int files = 0;
};

// ---- paper and line extra ----

TEST(PaperLayoutTest, SendPaperInPixels) {
  PaperLayout layout;
  ASSERT_EQ(layout.SetPaper(SendPaper(kPaperA4Normal), PAPER_ID | PAPER_HEIGHT | PAPER_TOP), 1);
  EXPECT_EQ(layout.Width(), 1728);
  EXPECT_EQ(layout.Height(), 2362);
  EXPECT_EQ(layout.Top(), 82);
  EXPECT_EQ(layout.Bottom(), 95);
  EXPECT_EQ(layout.Left(), 55);
  EXPECT_EQ(layout.Right(), 55);
  EXPECT_TRUE(layout.IsNormal());
  EXPECT_EQ(layout.StoredRows(), 1181u);
  ASSERT_EQ(layout.SetPaper(SendPaper(kPaperA4Fine), PAPER_ID | PAPER_HEIGHT | PAPER_TOP), 1);
  EXPECT_FALSE(layout.IsNormal());
  EXPECT_EQ(layout.StoredRows(), 2362u);
}

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
  EXPECT_EQ(layout.Height(), 2444);  // the full A4 page
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

  ASSERT_EQ(renderer.SetLineExtra(50, LINE_EXTRA_PERCENT), 1);
  EXPECT_EQ(renderer.LineExtraRecord().pixels, 10u);
  EXPECT_EQ(renderer.LineHeight(), 30);
  ASSERT_EQ(renderer.SetLineExtra(10, LINE_EXTRA_TENTH_MM), 1);  // 1 mm at 209 dpi
  EXPECT_EQ(renderer.LineExtraRecord().pixels, 8u);
  EXPECT_EQ(renderer.LineExtraRecord().tenthsOfMm, 10u);
  EXPECT_EQ(renderer.LineExtraRecord().hundredthsOfInch, 4u);  // (8 * 100 + 104) / 209
  ASSERT_EQ(renderer.SetLineExtra(10, LINE_EXTRA_HUNDREDTH_INCH), 1);
  EXPECT_EQ(renderer.LineExtraRecord().pixels, 21u);
  EXPECT_EQ(renderer.LineExtraRecord().tenthsOfMm, 26u);  // (21 * 254 + 104) / 209
  ASSERT_EQ(renderer.SetLineExtra(7, LINE_EXTRA_PIXELS), 1);
  EXPECT_EQ(renderer.LineExtraRecord().pixels, 7u);

  // More than ten font heights is cut to ten, in every unit.
  ASSERT_EQ(renderer.SetLineExtra(500, LINE_EXTRA_PIXELS), 1);
  EXPECT_EQ(renderer.LineExtraRecord().pixels, 200u);
  ASSERT_EQ(renderer.SetLineExtra(5000, LINE_EXTRA_PERCENT), 1);
  EXPECT_EQ(renderer.LineExtraRecord().pixels, 200u);
  EXPECT_EQ(renderer.SetLineExtra(5, 3), 0);

  // A percentage follows the font.
  ASSERT_EQ(renderer.SetLineExtra(50, LINE_EXTRA_PERCENT), 1);
  font.lfHeight = 40;
  ASSERT_EQ(renderer.SetFont(font), 1);
  EXPECT_EQ(renderer.LineExtraRecord().pixels, 20u);
}

TEST(Txt2TifSetupTest, ConfiguredAsTheSendJobDoes) {
  ConvertOptions settings;
  settings.quality = 1;
  settings.lineExtra = 10;
  settings.wordWrap = true;
  settings.tabSize = 4;
  Txt2Tif renderer;
  ASSERT_EQ(renderer.Initialize(), 1);
  ASSERT_EQ(ConfigureTxt2Tif(renderer, settings), 1);
  EXPECT_STREQ(renderer.Layout().Paper().name, "A4-NORMAL");
  EXPECT_EQ(renderer.Layout().Height(), 2362);
  EXPECT_EQ(renderer.Layout().Top(), 82);
  EXPECT_EQ(renderer.LineExtraRecord().pixels, 8u);
  EXPECT_TRUE(renderer.WordWrap());
  EXPECT_EQ(renderer.TabSize(), 4u);
  EXPECT_EQ(renderer.CurrentFont()->LogFont(), settings.font);
  settings.paperHeight = 50;  // shorter than the header
  EXPECT_EQ(ConfigureTxt2Tif(renderer, settings), 0);
}

// ---- layout ----

TEST_F(Txt2TifTest, NormalPageIsDrawnAtFullResolutionAndStoredHalved) {
  ASSERT_EQ(renderer.SetPaper(SendPaper(kPaperA4Normal), PAPER_ID | PAPER_HEIGHT | PAPER_TOP), 1);
  const Rendered normal = Render("Hello fax\n");
  ASSERT_EQ(normal.pages, 1u);
  ASSERT_EQ(normal.decoded[0].size(), 1181 * kTestRowBytes);
  const test::DumpEntry y = test::DumpTag(normal.tif, 0, TIFFTAG_YRESOLUTION);
  ASSERT_EQ(y.rational.size(), 2u);
  EXPECT_EQ(y.rational[0], 209u);
  EXPECT_EQ(y.rational[1], 2u);

  ASSERT_EQ(renderer.SetPaper(SendPaper(kPaperA4Fine), PAPER_ID | PAPER_HEIGHT | PAPER_TOP), 1);
  const Rendered fine = Render("Hello fax\n");
  ASSERT_EQ(fine.decoded[0].size(), 2362 * kTestRowBytes);
  // The normal page holds the even rows of the fine drawing.
  EXPECT_EQ(normal.decoded[0], test::EvenRows(fine.decoded[0]));
  const auto [first, last] = InkRows(fine.decoded[0]);
  EXPECT_GE(first, 82);  // below the top margin
  EXPECT_LT(last, 82 + renderer.LineHeight());
  EXPECT_GE(FirstBlackColumn(fine.decoded[0]), 55);
}

TEST_F(Txt2TifTest, PageEndsProduceNoEmptyPages) {
  const int perPage = LinesPerPage();
  std::string full;
  for (int i = 0; i < perPage; ++i) full += "line " + std::to_string(i) + "\n";
  const Rendered exact = Render(full);
  EXPECT_EQ(exact.result, 1);
  EXPECT_EQ(exact.pages, 1u);
  // The last line sits just above the bottom margin.
  EXPECT_LT(InkRows(exact.decoded[0]).second, 2362 - 95);

  full.pop_back();  // no break after the last line
  EXPECT_EQ(Render(full).pages, 1u);
  EXPECT_EQ(Render(full + "\nmore").pages, 2u);
  EXPECT_EQ(Render("one line\n").pages, 1u);
  EXPECT_EQ(Render("one line").pages, 1u);

  // Three and a half pages of lines.
  std::string longer;
  for (int i = 0; i < perPage * 7 / 2; ++i) longer += "x\n";
  const Rendered many = Render(longer);
  EXPECT_EQ(many.pages, 4u);
  EXPECT_EQ(InkRows(many.decoded[0]), InkRows(many.decoded[1]));
}

TEST_F(Txt2TifTest, ThreeLineBreaksGiveTheSamePages) {
  std::string lf;
  for (int i = 0; i < 200; ++i) lf += "Line " + std::to_string(i) + " of the text\n\n";
  std::string crlf, cr;
  for (const char c : lf) {
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    cr += c == '\n' ? '\r' : c;
  }
  const Rendered a = Render(lf), b = Render(crlf), c = Render(cr);
  ASSERT_GE(a.pages, 2u);
  EXPECT_EQ(a.decoded, b.decoded);
  EXPECT_EQ(a.decoded, c.decoded);

  // A CR LF pair exactly across the first chunk boundary stays one break.
  std::string straddle(kTextChunkBytes - 1, 'a');
  std::string split = straddle + "\r\nb\r\n";
  EXPECT_EQ(Render(split).decoded, Render(straddle + "\nb\n").decoded);
}

TEST_F(Txt2TifTest, EmptyFiles) {
  for (const std::string& empty :
       {std::string(), std::string("\xFF\xFE"), std::string("\xEF\xBB\xBF")}) {
    const Rendered refused = Render(empty);
    EXPECT_EQ(refused.result, 0);
    EXPECT_EQ(refused.pages, 0u);
    EXPECT_TRUE(test::PoolHas(test::TakePool(), "Text file is empty [filename="));
    const Rendered blank = Render(empty, true);
    EXPECT_EQ(blank.result, 1);
    ASSERT_EQ(blank.pages, 1u);
    EXPECT_EQ(blank.decoded[0].size(), 2362 * kTestRowBytes);
    EXPECT_EQ(BlackPixels(blank.decoded[0]), 0u);
  }
}

// ---- encodings ----

TEST_F(Txt2TifTest, EncodingsRenderTheSameGlyphs) {
  const std::string utf8 =
      "Caf\xC3\xA9 fa\xC3\xA7"
      "ade\n";
  const Rendered fromUtf8 = Render(utf8);
  EXPECT_EQ(fromUtf8.decoded, Render("Caf\xE9 fa\xE7"
                                     "ade\n")
                                  .decoded);  // 1252
  EXPECT_EQ(fromUtf8.decoded, Render("\xEF\xBB\xBF" + utf8).decoded);
  const std::u16string wide = Utf8ToUtf16(utf8);
  std::string utf16 = "\xFF\xFE";
  for (const char16_t u : wide) utf16 += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
  EXPECT_EQ(fromUtf8.decoded, Render(utf16).decoded);
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

TEST(TextChunkTest, ChunksNeverSplitCharacters) {
  const std::uint8_t gbk[] = {'a', 0xD6, 0xD0, 0xCE};  // a, one character, a lead byte
  EXPECT_EQ(CompleteCodePagePrefix(936, gbk, 4), 3u);
  EXPECT_EQ(CompleteCodePagePrefix(936, gbk, 3), 3u);
  EXPECT_EQ(CompleteCodePagePrefix(1252, gbk, 4), 4u);
  const std::uint8_t utf8[] = {'a', 0xE4, 0xB8, 0xAD, 0xF0, 0x9F, 0x98};
  EXPECT_EQ(CompleteUtf8Prefix(utf8, 7), 4u);
  EXPECT_EQ(CompleteUtf8Prefix(utf8, 4), 4u);
  EXPECT_EQ(CompleteUtf8Prefix(utf8, 3), 1u);

  // A surrogate pair across the chunk boundary of a UTF-16 file.
  test::TempDir dir;
  std::string bytes = "\xFF\xFE";
  for (std::size_t i = 0; i < kTextChunkBytes / 2 - 1; ++i) bytes += std::string("x\0", 2);
  bytes += std::string("\x3D\xD8\x00\xDE", 4);  // U+1F600
  bytes += std::string("\r\0\n\0", 4);
  test::WriteFileBytes(dir.path() / "u16.txt", bytes);
  TextFileReader reader;
  ASSERT_EQ(reader.Open((dir.path() / "u16.txt").string(), 1252), TextFileReader::Status::Ok);
  EXPECT_EQ(reader.Encoding(), TextEncoding::Utf16);
  EXPECT_EQ(reader.TextBytes(), bytes.size() - 2);
  std::string text;
  std::size_t consumed = 0;
  TextFileReader::Status status;
  while (auto chunk = reader.Next(&status)) text += chunk->text, consumed += chunk->bytes;
  EXPECT_EQ(consumed, bytes.size() - 2);
  EXPECT_EQ(text, std::string(kTextChunkBytes / 2 - 1, 'x') + "\xF0\x9F\x98\x80\n");
}

// ---- tabs and wrap ----

TEST_F(Txt2TifTest, TabsWithoutWrapAreEightBlanks) {
  const Rendered tab = Render("xx\tb\n");
  EXPECT_EQ(tab.decoded, Render("xx        b\n").decoded);
  EXPECT_EQ(Render("\tb\n").decoded, Render("        b\n").decoded);
  renderer.SetTabSize(4);
  EXPECT_EQ(Render("xx\tb\n").decoded, Render("xx    b\n").decoded);
}

TEST_F(Txt2TifTest, TabsWithWrapMoveToStopsOfEightXWidths) {
  renderer.SetWordWrap(true);
  const int stop = renderer.CurrentFont()->TextWidth("xxxxxxxx");
  const int plain = FirstBlackColumn(Render("b\n").decoded[0]);
  EXPECT_EQ(FirstBlackColumn(Render("\tb\n").decoded[0]), plain + stop);
  // "xx" and a tab end at the same stop as a tab alone.
  const Page twoX = Render("xx\tb\n").decoded[0];
  const Page tabOnly = Render("\tb\n").decoded[0];
  Page difference(twoX.size());
  std::transform(twoX.begin(), twoX.end(), tabOnly.begin(), difference.begin(),
                 [](std::uint8_t a, std::uint8_t b) { return a & ~b; });
  EXPECT_LT(FirstBlackColumn(difference), plain + stop);  // only the x's differ
  EXPECT_EQ(FirstBlackColumn(Render("\t\tb\n").decoded[0]), plain + 2 * stop);
}

TEST_F(Txt2TifTest, WrapBreaksBehindBlanksAndHyphensAndCutsLongWords) {
  LOGFONTW big = MakeLogFont("DejaVu Sans", 100);
  big.lfHeight = -60;
  ASSERT_EQ(renderer.SetFont(big), 1);
  renderer.SetWordWrap(true);
  const int room =
      renderer.Layout().Width() - renderer.Layout().Right() - 1 - renderer.Layout().Left();
  const Font& font = *renderer.CurrentFont();

  // Words that fit are never split: the line breaks behind the blank.
  const std::string first = "Several words ";
  std::string second = "here";
  while (font.TextWidth(first + second) <= room) second += " more";
  const std::string line = first + second;
  const auto fit = font.Measure(line, room).fit;
  std::size_t cut = line.rfind(' ', fit - 1) + 1;
  Rendered wrapped = Render(line + "\n");
  renderer.SetWordWrap(false);
  EXPECT_EQ(wrapped.decoded, Render(line.substr(0, cut) + "\n" + line.substr(cut) + "\n").decoded);

  // Behind a hyphen.
  renderer.SetWordWrap(true);
  std::string hyphened = "well-";
  while (font.TextWidth(hyphened) <= room) hyphened += "known";
  const std::size_t hyphenFit = font.Measure(hyphened, room).fit;
  const std::size_t hyphenCut = hyphened.rfind('-', hyphenFit - 1) + 1;
  wrapped = Render(hyphened + "\n");
  renderer.SetWordWrap(false);
  EXPECT_EQ(
      wrapped.decoded,
      Render(hyphened.substr(0, hyphenCut) + "\n" + hyphened.substr(hyphenCut) + "\n").decoded);

  // A word longer than the line is cut where it stops fitting, again and again.
  renderer.SetWordWrap(true);
  const std::string word(3 * kTextChunkBytes, 'W');
  const std::size_t wordFit = font.Measure(word, room).fit;
  ASSERT_GT(wordFit, 0u);
  wrapped = Render(word);
  renderer.SetWordWrap(false);
  std::string broken;
  for (std::size_t at = 0; at < word.size(); at += wordFit)
    broken += word.substr(at, wordFit) + "\n";
  EXPECT_EQ(wrapped.decoded, Render(broken).decoded);
}

TEST_F(Txt2TifTest, WrapAlwaysAdvances) {
  // One unbroken piece that fits the line and ends the file, and one that
  // fills a whole chunk: both render and end.
  renderer.SetWordWrap(true);
  const Rendered small = Render("fits");
  EXPECT_EQ(small.result, 1);
  EXPECT_EQ(small.pages, 1u);
  renderer.SetWordWrap(false);
  EXPECT_EQ(small.decoded, Render("fits").decoded);

  LOGFONTW tiny = MakeLogFont("DejaVu Sans", 100);
  tiny.lfHeight = -2;
  ASSERT_EQ(renderer.SetFont(tiny), 1);
  renderer.SetWordWrap(true);
  const Rendered chunk = Render(std::string(kTextChunkBytes, 'i'));
  EXPECT_EQ(chunk.result, 1);
  EXPECT_EQ(chunk.pages, 1u);
}

TEST_F(Txt2TifTest, NoWrapClipsAtTheRightMargin) {
  const Rendered clipped = Render(std::string(2000, 'M') + "\nnext\n");
  ASSERT_EQ(clipped.pages, 1u);
  const Page& page = clipped.decoded[0];
  for (std::size_t r = 0; r < 2362; ++r)
    for (std::size_t x = 1728 - 56; x < 1728; ++x)
      ASSERT_EQ(page[r * kTestRowBytes + x / 8] & (0x80 >> (x % 8)), 0)
          << "row " << r << " x " << x;
  // The long line stays one line: "next" is on the second.
  EXPECT_EQ(clipped.decoded, Render(std::string(300, 'M') + "\nnext\n").decoded);
}

// ---- cancel, progress, failures ----

TEST_F(Txt2TifTest, ProgressCountsEveryByteAndCancelKeepsFinishedPages) {
  std::string text;
  for (int i = 0; i < LinesPerPage() * 3; ++i) text += "A line of text to fill some pages\r\n";
  const auto file = TextFile(text);
  std::size_t bytes = 0, calls = 0;
  const Rendered all = RenderFile(file, false, {}, [&](std::size_t n) { bytes += n, ++calls; });
  EXPECT_EQ(all.pages, 3u);
  EXPECT_EQ(bytes, text.size());
  EXPECT_GE(calls, text.size() / kTextChunkBytes);

  EXPECT_EQ(RenderFile(file, false, [] { return true; }).result, -1);
  // Cancelled after most of the text: the finished pages stay and are sound.
  std::size_t asked = 0;
  const Rendered part = RenderFile(file, false, [&] { return ++asked > calls * 3 / 4; });
  EXPECT_EQ(part.result, -1);
  EXPECT_EQ(part.pages, 2u);
  EXPECT_EQ(part.decoded[0], all.decoded[0]);
  EXPECT_EQ(part.decoded[1], all.decoded[1]);
}

TEST_F(Txt2TifTest, Failures) {
  test::TakePool();
  EXPECT_EQ(RenderFile(dir.path() / "missing.txt").result, 0);
  EXPECT_TRUE(test::PoolHas(test::TakePool(), "Fail to Open text file [filename="));
  EXPECT_EQ(RenderFile(dir.path()).result, 0);  // a directory
  EXPECT_TRUE(test::PoolHas(test::TakePool(), "Fail to Open text file [filename="));

  std::string logged;
  SetDebugOutputSink([&](std::string_view text) { logged += text; });
  FaxOutputFile file;
  ASSERT_EQ(file.Open((dir.path() / "x.tif").string()), 1);
  std::uint32_t pages = 7;
  EXPECT_EQ(renderer.Text2Tiff("", file.Tiff(), true, {}, {}, &pages), 0);
  EXPECT_EQ(pages, 0u);
  EXPECT_NE(logged.find("Text2Tiff failed, Parameter [lpTxtFile] is NULL"), std::string::npos);
  SetDebugOutputSink(nullptr);

  Txt2Tif uninitialized;
  EXPECT_EQ(uninitialized.Text2Tiff(TextFile("x").string(), file.Tiff(), true, {}, {}, &pages), 0);
  EXPECT_TRUE(test::PoolHas(test::TakePool(), "Txt2Tif module uninitialize"));
  file.Discard();
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "x.tif"));
}

}  // namespace
}  // namespace vexo
