#include "platform/raster/font.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/raster/canvas.h"

namespace vexo {
namespace {

std::shared_ptr<const Font> Tahoma(int tenths = 160, std::int32_t weight = FW_NORMAL,
                                   bool italic = false, bool underline = false) {
  auto font = Font::Create(MakeLogFont("Tahoma", tenths, weight, italic, underline));
  EXPECT_NE(font, nullptr);
  return font;
}

TEST(Font, TahomaGetsAnInstalledScalableFace) {
  auto font = Tahoma();
  ASSERT_NE(font, nullptr);
  EXPECT_FALSE(font->Choice().file.empty());
  EXPECT_EQ(font->PixelSize(), 21);
  const TextMetrics& m = font->Metrics();
  EXPECT_EQ(m.tmHeight, m.tmAscent + m.tmDescent);
  EXPECT_GE(m.tmHeight, 21);
  EXPECT_LE(m.tmHeight, 32);
  EXPECT_EQ(m.tmInternalLeading, m.tmHeight - 21);
  EXPECT_GT(m.tmAveCharWidth, 5);
  EXPECT_LT(m.tmAveCharWidth, 21);
}

TEST(Font, EqualRecordsShareOneFontAndItsGlyphs) {
  auto a = Tahoma();
  auto b = Tahoma();
  EXPECT_EQ(a.get(), b.get());
  EXPECT_EQ(a->Glyph(U'A').get(), b->Glyph(U'A').get());
  EXPECT_NE(a.get(), Tahoma(200).get());
}

TEST(Font, PositiveHeightIsTheCellHeight) {
  LOGFONTW record = MakeLogFont("Tahoma", 160);
  record.lfHeight = 30;
  auto font = Font::Create(record);
  ASSERT_NE(font, nullptr);
  EXPECT_NEAR(font->Metrics().tmHeight, 30, 1);
  EXPECT_LT(font->PixelSize(), 30);
}

TEST(Font, AbsurdHeightsAreBounded) {
  LOGFONTW record = MakeLogFont("Tahoma", 160);
  record.lfHeight = std::numeric_limits<std::int32_t>::min();
  auto font = Font::Create(record);
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(font->PixelSize(), Font::kMaxPixelSize);
}

TEST(Font, ExtentsCountWhatFitsAndGiveRunningWidths) {
  auto font = Tahoma();
  const TextExtent all = font->Measure("Page 2 of 5");
  ASSERT_EQ(all.partial.size(), 11u);
  EXPECT_EQ(all.fit, 11u);
  EXPECT_EQ(all.cx, all.partial.back());
  EXPECT_EQ(all.cy, font->Metrics().tmHeight);
  for (std::size_t i = 1; i < all.partial.size(); ++i)
    EXPECT_GE(all.partial[i], all.partial[i - 1]);
  // Widths add up: the extent of a text is the sum of its pieces.
  EXPECT_EQ(all.cx, font->TextWidth("Page 2") + font->TextWidth(" of 5"));

  const int limit = all.partial[5];
  EXPECT_EQ(font->Measure("Page 2 of 5", limit).fit, 6u);
  EXPECT_EQ(font->Measure("Page 2 of 5", limit - 1).fit, 5u);
  EXPECT_EQ(font->Measure("Page 2 of 5", 0).fit, 0u);
  EXPECT_EQ(font->Measure("", 100).fit, 0u);
  EXPECT_EQ(font->Measure("", 100).cx, 0);
}

TEST(Font, ExtentsCountCharactersNotBytes) {
  auto font = Tahoma();
  const TextExtent e = font->Measure("中文é😀");
  EXPECT_EQ(e.partial.size(), 4u);
  EXPECT_GT(font->Glyph(U'中')->advance, font->Glyph(U'i')->advance);
}

TEST(Font, TabsUseTabStopsOrABlank) {
  auto font = Tahoma();
  const int blank = font->TextWidth(" ");
  EXPECT_EQ(font->TextWidth("\t"), blank);
  TextOptions stops;
  stops.tabWidth = 100;
  EXPECT_EQ(font->TextWidth("\t", stops), 100);
  EXPECT_EQ(font->TextWidth("ab\tc", stops), 100 + font->TextWidth("c"));
  EXPECT_EQ(font->TextWidth("\t\t", stops), 200);
}

TEST(Font, CjkTextRendersWithAnInstalledCjkFace) {
  auto font = Tahoma();
  auto glyph = font->Glyph(U'传');
  EXPECT_GT(glyph->width, 5);
  EXPECT_GT(std::count(glyph->ink.begin(), glyph->ink.end(), 1), 20);

  LOGFONTW chinese = MakeLogFont("Tahoma", 160);
  chinese.lfCharSet = GB2312_CHARSET;
  auto cjk = Font::Create(chinese);
  ASSERT_NE(cjk, nullptr);
  EXPECT_NE(cjk->Choice().family.find("WenQuanYi"), std::string::npos) << cjk->Choice().family;
}

TEST(Font, CharactersNoFaceHasGetTheMissingGlyphBox) {
  auto font = Tahoma();
  const char32_t unassigned = 0x0378;  // no character, in no installed font
  auto glyph = font->Glyph(unassigned);
  EXPECT_GT(glyph->advance, 0);
  EXPECT_EQ(font->Glyph(unassigned).get(), glyph.get());
  EXPECT_EQ(font->Measure("\xCD\xB8").partial.size(), 1u);  // U+0378 in UTF-8
}

TEST(Font, BoldAndItalicChangeTheGlyphs) {
  auto regular = Tahoma();
  auto bold = Tahoma(160, FW_BOLD);
  auto italic = Tahoma(160, FW_NORMAL, true);
  auto ink = [](const GlyphImage& g) { return std::count(g.ink.begin(), g.ink.end(), 1); };
  EXPECT_GT(ink(*bold->Glyph(U'H')), ink(*regular->Glyph(U'H')));
  EXPECT_NE(italic->Glyph(U'l')->ink, regular->Glyph(U'l')->ink);
  EXPECT_TRUE(bold->Metrics().tmWeight == FW_BOLD);
}

TEST(Font, ControlCharactersAreNotDrawn) {
  auto font = Tahoma();
  EXPECT_EQ(font->Glyph(U'\r')->advance, 0);
  EXPECT_TRUE(font->Glyph(U'\n')->ink.empty());
  EXPECT_EQ(font->TextWidth("a\r\nb"), font->TextWidth("ab"));
}

}  // namespace
}  // namespace vexo

namespace vexo {
namespace {

TEST(FontThreads, ThreadsSharingAFontMeasureAlike) {
  // The send job, the conversion thread and the window may measure with the
  // same font at once; the glyph cache must give each the same answer.
  auto font = Font::Create(MakeLogFont("Tahoma", 180));
  ASSERT_NE(font, nullptr);
  const std::string text = "Vexo Fax 传真 测试 ÄÖÜ & 0123456789";
  std::vector<int> widths(4);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < widths.size(); ++i)
    threads.emplace_back([&, i] {
      for (int round = 0; round < 20; ++round) widths[i] = font->TextWidth(text);
    });
  for (auto& thread : threads) thread.join();
  for (const int width : widths) EXPECT_EQ(width, widths[0]);
  EXPECT_EQ(widths[0], font->TextWidth(text));
}

}  // namespace
}  // namespace vexo
