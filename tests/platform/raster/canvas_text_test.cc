// Text drawing: placement, clipping at the rectangle, "&", CJK, determinism.
#include <gtest/gtest.h>

#include "platform/raster/canvas.h"

namespace vexo {
namespace {

std::shared_ptr<const Font> HeaderFont() {
  auto font = Font::Create(MakeLogFont("Tahoma", 160));
  EXPECT_NE(font, nullptr);
  return font;
}

bool SameInside(const MonoBitmap& a, const MonoBitmap& b, const Rect& r) {
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x)
      if (a.Pixel(x, y) != b.Pixel(x, y)) return false;
  return true;
}

TEST(CanvasText, TextStartsAtTheLeftAndTopOfItsRectangle) {
  auto font = HeaderFont();
  MonoBitmap bitmap(400, 80);
  Canvas canvas(bitmap);
  const Rect rect{50, 20, 400, 80};
  const TextSize size = canvas.DrawText(*font, "HHH", rect);
  EXPECT_EQ(size.cx, font->TextWidth("HHH"));
  EXPECT_EQ(size.cy, font->Metrics().tmHeight);
  // 'H' has ink on its first column near the pen and reaches the cap height.
  EXPECT_GT(bitmap.CountBlack({50, 20, 56, 20 + size.cy}), 0u);
  EXPECT_EQ(bitmap.CountBlack({0, 0, 50, 80}), 0u);
  EXPECT_EQ(bitmap.CountBlack({0, 0, 400, 20}), 0u);
  EXPECT_EQ(bitmap.CountBlack({0, 20 + font->Metrics().tmAscent + 1, 400, 80}), 0u);
}

TEST(CanvasText, LongTextIsClippedAtTheRectangleEdge) {
  auto font = HeaderFont();
  const std::string text(300, 'W');
  MonoBitmap wide(1728, 82), narrow(1728, 82);
  Canvas(wide).DrawText(*font, text, {65, 41, 1728, 81});
  Canvas narrowCanvas(narrow);
  const Rect box{65, 41, 881, 81};
  narrowCanvas.DrawText(*font, text, box);
  EXPECT_EQ(narrow.CountBlack(narrow.Bounds()), narrow.CountBlack(box));
  // Inside the box, the clipped drawing is the unclipped one.
  EXPECT_TRUE(SameInside(wide, narrow, box));
  EXPECT_GT(narrow.CountBlack({875, 41, 881, 81}), 0u);
}

TEST(CanvasText, BottomAndCanvasClipAlsoHold) {
  auto font = HeaderFont();
  MonoBitmap bitmap(300, 60);
  Canvas canvas(bitmap);
  canvas.SetClip({0, 0, 120, 60});
  const Rect box{10, 10, 300, 22};  // shorter than a text line
  canvas.DrawText(*font, "Ågy|", box);
  EXPECT_GT(bitmap.CountBlack(bitmap.Bounds()), 0u);
  EXPECT_EQ(bitmap.CountBlack(bitmap.Bounds()), bitmap.CountBlack({10, 10, 120, 22}));
}

TEST(CanvasText, AmpersandIsDrawnAsItself) {
  auto font = HeaderFont();
  MonoBitmap joined(300, 40), pieces(300, 40);
  Canvas(joined).DrawText(*font, "A&B", {0, 0, 300, 40});
  Canvas canvas(pieces);
  const TextOptions transparent{0, false};
  canvas.DrawText(*font, "A", {0, 0, 300, 40}, transparent);
  canvas.DrawText(*font, "&", {font->TextWidth("A"), 0, 300, 40}, transparent);
  canvas.DrawText(*font, "B", {font->TextWidth("A&"), 0, 300, 40}, transparent);
  EXPECT_TRUE(SameInside(joined, pieces, joined.Bounds()));
  // "&&" is two ampersands, not an escaped one.
  MonoBitmap twice(300, 40);
  Canvas(twice).DrawText(*font, "&&", {0, 0, 300, 40});
  EXPECT_EQ(
      twice.CountBlack(twice.Bounds()), 2 * [&] {
        MonoBitmap once(300, 40);
        Canvas(once).DrawText(*font, "&", {0, 0, 300, 40});
        return once.CountBlack(once.Bounds());
      }());
}

TEST(CanvasText, ChineseTextLeavesInk) {
  auto font = HeaderFont();
  MonoBitmap bitmap(400, 40);
  const TextSize size = Canvas(bitmap).DrawText(*font, "发件人：王小明", {0, 0, 400, 40});
  EXPECT_GT(size.cx, 7 * 15);
  EXPECT_GT(bitmap.CountBlack(bitmap.Bounds()), 300u);
}

TEST(CanvasText, SameTextGivesTheSameBits) {
  auto font = HeaderFont();
  MonoBitmap a(600, 40), b(600, 40);
  Canvas(a).DrawText(*font, "From:Ann & Bob  中文 Page 2 of 5", {3, 2, 600, 40});
  Canvas(b).DrawText(*font, "From:Ann & Bob  中文 Page 2 of 5", {3, 2, 600, 40});
  EXPECT_TRUE(std::equal(a.Bits().begin(), a.Bits().end(), b.Bits().begin()));
}

TEST(CanvasText, OpaqueBackgroundClearsTheTextCellOnly) {
  auto font = HeaderFont();
  MonoBitmap bitmap(200, 60);
  Canvas canvas(bitmap);
  canvas.FillRect(bitmap.Bounds(), Ink::Black);
  const TextSize size = canvas.DrawText(*font, "ii", {20, 10, 200, 60});
  const Rect cell{20, 10, 20 + size.cx, 10 + size.cy};
  EXPECT_LT(bitmap.CountBlack(cell), static_cast<std::size_t>(cell.Width() * cell.Height()) / 2);
  EXPECT_EQ(bitmap.CountBlack({0, 0, 20, 60}), 20u * 60);
  EXPECT_EQ(bitmap.CountBlack({0, 10 + size.cy, 200, 60}), 200u * (50 - size.cy));
}

TEST(CanvasText, UnderlineRunsUnderTheWholeText) {
  auto plain = HeaderFont();
  auto underlined = Font::Create(MakeLogFont("Tahoma", 160, FW_NORMAL, false, true));
  ASSERT_NE(underlined, nullptr);
  MonoBitmap a(300, 40), b(300, 40);
  Canvas(a).DrawText(*plain, "a b", {0, 0, 300, 40});
  const TextSize size = Canvas(b).DrawText(*underlined, "a b", {0, 0, 300, 40});
  const int y = underlined->Metrics().tmAscent + underlined->UnderlinePosition();
  EXPECT_EQ(b.CountBlack({0, y, size.cx, y + 1}), static_cast<std::size_t>(size.cx));
  EXPECT_GT(b.CountBlack(b.Bounds()), a.CountBlack(a.Bounds()));
}

}  // namespace
}  // namespace vexo
