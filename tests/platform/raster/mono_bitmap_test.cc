#include "platform/raster/mono_bitmap.h"

#include <gtest/gtest.h>

#include "platform/raster/canvas.h"

namespace vexo {
namespace {

TEST(MonoBitmap, RowsArePaddedToFourBytesAndStartWhite) {
  EXPECT_EQ(MonoBitmap::StrideFor(1728), 216u);
  EXPECT_EQ(MonoBitmap::StrideFor(1), 4u);
  EXPECT_EQ(MonoBitmap::StrideFor(32), 4u);
  EXPECT_EQ(MonoBitmap::StrideFor(33), 8u);
  MonoBitmap bitmap(1728, 82);
  EXPECT_EQ(bitmap.Bits().size(), 216u * 82);
  for (auto byte : bitmap.Bits()) ASSERT_EQ(byte, 0);
}

TEST(MonoBitmap, LeftmostPixelIsTheHighBitAndOneIsBlack) {
  MonoBitmap bitmap(40, 2);
  bitmap.SetPixel(0, 0, Ink::Black);
  bitmap.SetPixel(9, 1, Ink::Black);
  EXPECT_EQ(bitmap.Row(0)[0], 0x80);
  EXPECT_EQ(bitmap.Row(1)[1], 0x40);
  EXPECT_EQ(bitmap.Pixel(9, 1), Ink::Black);
  bitmap.SetPixel(9, 1, Ink::White);
  EXPECT_EQ(bitmap.Row(1)[1], 0x00);
}

TEST(MonoBitmap, OutOfRangeSizesAndPixelsAreHarmless) {
  EXPECT_TRUE(MonoBitmap(0, 10).IsEmpty());
  EXPECT_TRUE(MonoBitmap(10, -1).IsEmpty());
  EXPECT_TRUE(MonoBitmap(MonoBitmap::kMaxSide + 1, 1).IsEmpty());
  MonoBitmap bitmap(8, 8);
  bitmap.SetPixel(-1, 0, Ink::Black);
  bitmap.SetPixel(8, 8, Ink::Black);
  bitmap.Fill({-100, -100, 100, 0}, Ink::Black);
  EXPECT_EQ(bitmap.CountBlack(bitmap.Bounds()), 0u);
  EXPECT_EQ(bitmap.Pixel(100, 100), Ink::White);
}

TEST(MonoBitmap, FillCoversExactlyTheRectangleAcrossByteEdges) {
  MonoBitmap bitmap(100, 10);
  const Rect r{3, 2, 77, 5};  // right and bottom are outside
  bitmap.Fill(r, Ink::Black);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 100; ++x)
      ASSERT_EQ(bitmap.Pixel(x, y) == Ink::Black, r.Contains(x, y)) << x << "," << y;
  bitmap.Fill({10, 3, 11, 4}, Ink::White);
  EXPECT_EQ(bitmap.CountBlack(bitmap.Bounds()), 74u * 3 - 1);
}

TEST(Canvas, HorizontalLineIsCentredAndExcludesItsEndPoint) {
  MonoBitmap bitmap(100, 20);
  Canvas canvas(bitmap);
  canvas.HorizontalLine(10, 51, 9, 3);
  EXPECT_EQ(bitmap.CountBlack(bitmap.Bounds()), 41u * 3);
  EXPECT_EQ(bitmap.CountBlack({10, 8, 51, 11}), 41u * 3);
  EXPECT_EQ(bitmap.Pixel(51, 9), Ink::White);
  EXPECT_EQ(bitmap.Pixel(10, 7), Ink::White);
}

TEST(Canvas, ClipRectangleLimitsEveryDrawing) {
  MonoBitmap bitmap(64, 64);
  Canvas canvas(bitmap);
  canvas.SetClip({8, 8, 24, 24});
  canvas.FillRect(bitmap.Bounds(), Ink::Black);
  canvas.HorizontalLine(0, 64, 30, 5);
  EXPECT_EQ(bitmap.CountBlack(bitmap.Bounds()), 16u * 16);
  canvas.ResetClip();
  canvas.HorizontalLine(0, 64, 30, 1);
  EXPECT_EQ(bitmap.CountBlack(bitmap.Bounds()), 16u * 16 + 64);
}

}  // namespace
}  // namespace vexo
