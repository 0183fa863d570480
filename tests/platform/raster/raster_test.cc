// The raster stand-ins: fonts and their metrics, text drawing, the LOGFONT
// record, the one-bit bitmap and its canvas, and BMP reading and stretching for
// every depth and form a logo or picture may have (ImageMagick's files), with
// headers that lie about the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <vector>

#include "platform/raster/bmp_image.h"
#include "platform/raster/canvas.h"
#include "platform/raster/font.h"
#include "platform/raster/log_font.h"
#include "platform/raster/mono_bitmap.h"
#include "tests/support/temp_dir.h"

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
  EXPECT_EQ(font->PixelSize(), 21);
  const TextMetrics& m = font->Metrics();
  EXPECT_EQ(m.tmHeight, m.tmAscent + m.tmDescent);
  EXPECT_GE(m.tmHeight, 21);
  EXPECT_LE(m.tmHeight, 32);
  EXPECT_EQ(m.tmInternalLeading, m.tmHeight - 21);
  EXPECT_GT(m.tmAveCharWidth, 5);
  EXPECT_LT(m.tmAveCharWidth, 21);
}

TEST(Font, PositiveHeightIsTheCellHeightAndHeightsAreBounded) {
  LOGFONTW record = MakeLogFont("Tahoma", 160);
  record.lfHeight = 30;
  auto font = Font::Create(record);
  ASSERT_NE(font, nullptr);
  EXPECT_NEAR(font->Metrics().tmHeight, 30, 1);
  EXPECT_LT(font->PixelSize(), 30);
  record.lfHeight = std::numeric_limits<std::int32_t>::min();  // absurd heights are bounded
  EXPECT_EQ(Font::Create(record)->PixelSize(), Font::kMaxPixelSize);
}

TEST(Font, ExtentsCountWhatFitsAndGiveRunningWidths) {
  auto font = Tahoma();
  const TextExtent all = font->Measure("Page 2 of 5");
  ASSERT_EQ(all.partial.size(), 11u);
  EXPECT_EQ(all.fit, 11u);
  EXPECT_EQ(all.cx, all.partial.back());
  EXPECT_EQ(all.cy, font->Metrics().tmHeight);
  // Widths add up: the extent of a text is the sum of its pieces.
  EXPECT_EQ(all.cx, font->TextWidth("Page 2") + font->TextWidth(" of 5"));

  const int limit = all.partial[5];
  EXPECT_EQ(font->Measure("Page 2 of 5", limit).fit, 6u);
  EXPECT_EQ(font->Measure("Page 2 of 5", limit - 1).fit, 5u);
}

TEST(Font, ExtentsCountCharactersTabsAndMissingGlyphsButNoControls) {
  auto font = Tahoma();
  const TextExtent e = font->Measure("中文é😀");
  EXPECT_EQ(e.partial.size(), 4u);
  EXPECT_GT(font->Glyph(U'中')->advance, font->Glyph(U'i')->advance);
  // Tabs are a blank without tab stops (the stops: the text pages' tests).
  EXPECT_EQ(font->TextWidth("\t"), font->TextWidth(" "));
  // Control characters are not drawn.
  EXPECT_TRUE(font->Glyph(U'\n')->ink.empty());
  EXPECT_EQ(font->TextWidth("a\r\nb"), font->TextWidth("ab"));
  // Characters no face has get the missing-glyph box.
  const char32_t unassigned = 0x0378;  // no character, in no installed font
  auto glyph = font->Glyph(unassigned);
  EXPECT_GT(glyph->advance, 0);
  EXPECT_EQ(font->Glyph(unassigned).get(), glyph.get());
  EXPECT_EQ(font->Measure("\xCD\xB8").partial.size(), 1u);  // U+0378 in UTF-8
}

// Chinese text on a page: the page header's and text pages' tests.
TEST(Font, AChineseCharacterSetPicksAnInstalledCjkFace) {
  LOGFONTW chinese = MakeLogFont("Tahoma", 160);
  chinese.lfCharSet = GB2312_CHARSET;
  auto cjk = Font::Create(chinese);
  ASSERT_NE(cjk, nullptr);
  EXPECT_NE(cjk->Choice().family.find("WenQuanYi"), std::string::npos) << cjk->Choice().family;
}

// Text placement at the rectangle's left, clipping at its right edge and the
// opaque background (a later page number drawn over the first) are checked by
// the page header's tests.
TEST(CanvasText, AmpersandIsDrawnAsItself) {
  auto font = Tahoma();
  MonoBitmap joined(300, 40), pieces(300, 40);
  Canvas(joined).DrawText(*font, "A&B", {0, 0, 300, 40});
  Canvas canvas(pieces);
  const TextOptions transparent{0, false};
  canvas.DrawText(*font, "A", {0, 0, 300, 40}, transparent);
  canvas.DrawText(*font, "&", {font->TextWidth("A"), 0, 300, 40}, transparent);
  canvas.DrawText(*font, "B", {font->TextWidth("A&"), 0, 300, 40}, transparent);
  EXPECT_TRUE(std::ranges::equal(joined.Bits(), pieces.Bits()));
}

TEST(LogFont, BytesFollowTheWindowsLayout) {
  LOGFONTW font = MakeLogFont("Tahoma", 160, FW_BOLD, true, true);
  font.lfCharSet = GB2312_CHARSET;
  const auto bytes = LogFontToBytes(font);
  ASSERT_EQ(bytes.size(), 92u);
  // lfHeight -21 little-endian, lfWeight at 16, the byte fields at 20..27, face at 28.
  EXPECT_EQ(bytes[0], 0xEB);
  EXPECT_EQ(bytes[16], 700 & 0xFF);
  EXPECT_EQ(bytes[20], 1);  // italic
  EXPECT_EQ(bytes[21], 1);  // underline
  EXPECT_EQ(bytes[23], GB2312_CHARSET);
  EXPECT_EQ(bytes[28], 'T');
  EXPECT_EQ(bytes[28 + 2 * 6], 0);  // terminator after "Tahoma"
  const auto back = LogFontFromBytes(bytes);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, font);
  // Only exactly 92 bytes convert.
  EXPECT_FALSE(LogFontFromBytes(std::span(bytes).first(91)).has_value());
  std::vector<std::uint8_t> longer(bytes.begin(), bytes.end());
  longer.push_back(0);
  EXPECT_FALSE(LogFontFromBytes(longer).has_value());
}

TEST(LogFont, FaceNameIsCutToThirtyOneUnitsWithoutSplittingAPairAndHeightsAre96Dpi) {
  LOGFONTW font;
  SetLogFontFaceName(font, std::string(40, 'x'));
  EXPECT_EQ(LogFontFaceName(font), std::string(31, 'x'));
  EXPECT_EQ(font.lfFaceName[31], u'\0');
  // 30 letters then a character outside the BMP: its pair would not fit whole.
  SetLogFontFaceName(font, std::string(30, 'y') + "\xF0\x9F\x98\x80");
  EXPECT_EQ(LogFontFaceName(font), std::string(30, 'y'));
  SetLogFontFaceName(font, "宋体");
  EXPECT_EQ(LogFontFaceName(font), "宋体");
  // Display heights follow 96 dpi.
  EXPECT_EQ(DisplayFontHeight(160), -21);  // the page header's 16 points
  EXPECT_EQ(DisplayFontHeight(200), -26);
}

TEST(MonoBitmap, RowsArePaddedStartWhiteAndHoldOneBitAPixelHighFirst) {
  EXPECT_EQ(MonoBitmap::StrideFor(1728), 216u);
  EXPECT_EQ(MonoBitmap::StrideFor(33), 8u);
  MonoBitmap bitmap(1728, 82);
  EXPECT_EQ(bitmap.Bits().size(), 216u * 82);
  for (auto byte : bitmap.Bits()) ASSERT_EQ(byte, 0);
  // The leftmost pixel is the high bit, and 1 is black.
  bitmap.SetPixel(0, 0, Ink::Black);
  bitmap.SetPixel(9, 1, Ink::Black);
  EXPECT_EQ(bitmap.Row(0)[0], 0x80);
  EXPECT_EQ(bitmap.Row(1)[1], 0x40);
  bitmap.SetPixel(9, 1, Ink::White);
  EXPECT_EQ(bitmap.Row(1)[1], 0x00);
}

TEST(MonoBitmap, FillCoversExactlyTheRectangleAndOutOfRangeIsHarmless) {
  MonoBitmap bitmap(100, 10);
  const Rect r{3, 2, 77, 5};  // right and bottom are outside
  bitmap.Fill(r, Ink::Black);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 100; ++x)
      ASSERT_EQ(bitmap.Pixel(x, y) == Ink::Black, r.Contains(x, y)) << x << "," << y;
  bitmap.Fill({10, 3, 11, 4}, Ink::White);
  EXPECT_EQ(bitmap.CountBlack(bitmap.Bounds()), 74u * 3 - 1);

  // Out-of-range sizes and pixels are harmless.
  EXPECT_TRUE(MonoBitmap(0, 10).IsEmpty());
  EXPECT_TRUE(MonoBitmap(10, -1).IsEmpty());
  EXPECT_TRUE(MonoBitmap(MonoBitmap::kMaxSide + 1, 1).IsEmpty());
  MonoBitmap small(8, 8);
  small.SetPixel(-1, 0, Ink::Black);
  small.SetPixel(8, 8, Ink::Black);
  small.Fill({-100, -100, 100, 0}, Ink::Black);
  EXPECT_EQ(small.CountBlack(small.Bounds()), 0u);
  EXPECT_EQ(small.Pixel(100, 100), Ink::White);
}

TEST(Canvas, ClipRectangleLimitsEveryDrawingAndText) {
  MonoBitmap bitmap(64, 64);
  Canvas canvas(bitmap);
  canvas.SetClip({8, 8, 24, 24});
  canvas.FillRect(bitmap.Bounds(), Ink::Black);
  canvas.HorizontalLine(0, 64, 30, 5);
  EXPECT_EQ(bitmap.CountBlack(bitmap.Bounds()), 16u * 16);
  canvas.ResetClip();
  canvas.HorizontalLine(0, 64, 30, 1);
  EXPECT_EQ(bitmap.CountBlack(bitmap.Bounds()), 16u * 16 + 64);

  // Text keeps to the bottom of a box shorter than a line and to the clip.
  MonoBitmap text(300, 60);
  Canvas textCanvas(text);
  textCanvas.SetClip({0, 0, 120, 60});
  textCanvas.DrawText(*Tahoma(), "Ågy|", {10, 10, 300, 22});
  EXPECT_GT(text.CountBlack(text.Bounds()), 0u);
  EXPECT_EQ(text.CountBlack(text.Bounds()), text.CountBlack({10, 10, 120, 22}));
}

void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  b[at] = v & 0xFF;
  b[at + 1] = (v >> 8) & 0xFF;
}

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}

// A BMP of the given depth whose pixel (x, y) (y from the top) is black when
// black(x, y); palette depths use a palette of white, black, then greys.
std::vector<std::uint8_t> MakeBmp(int width, int height, int bits,
                                  const std::function<bool(int, int)>& black) {
  const std::uint32_t colours = bits <= 8 ? (1u << bits) : 0;
  const std::size_t rowBytes = (static_cast<std::size_t>(bits) * width + 31) / 32 * 4;
  const std::size_t pixelOffset = 54 + 4 * colours;
  std::vector<std::uint8_t> b(pixelOffset + rowBytes * height, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, static_cast<std::uint32_t>(b.size()));
  Put32(b, 10, static_cast<std::uint32_t>(pixelOffset));
  Put32(b, 14, 40);
  Put32(b, 18, static_cast<std::uint32_t>(width));
  Put32(b, 22, static_cast<std::uint32_t>(height));
  Put16(b, 26, 1);
  Put16(b, 28, static_cast<std::uint32_t>(bits));
  for (std::uint32_t i = 0; i < colours; ++i) {
    const std::uint8_t level = i == 0 ? 255 : i == 1 ? 0 : 200;
    b[54 + 4 * i] = b[55 + 4 * i] = b[56 + 4 * i] = level;
  }
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = b.data() + pixelOffset + rowBytes * (height - 1 - y);
    for (int x = 0; x < width; ++x) {
      const bool ink = black(x, y);
      if (bits <= 8) {
        const unsigned index = ink ? 1 : 0;
        const std::size_t bit = static_cast<std::size_t>(x) * bits;
        row[bit / 8] |= static_cast<std::uint8_t>(index << (8 - bits - bit % 8));
      } else {
        const std::uint8_t level = ink ? 0 : 255;
        for (int c = 0; c < bits / 8; ++c) row[x * (bits / 8) + c] = level;
      }
    }
  }
  return b;
}

bool Checker(int x, int y) { return ((x / 2) + (y / 2)) % 2 == 0; }

class BmpDepth : public ::testing::TestWithParam<int> {};

TEST_P(BmpDepth, PixelsReadTopDownWithTheirColours) {
  const auto file = MakeBmp(13, 7, GetParam(), [](int x, int y) { return x == y || x == 12; });
  const auto image = BmpImage::FromFile(file);
  ASSERT_TRUE(image.has_value());
  ASSERT_EQ(image->Width(), 13);
  ASSERT_EQ(image->Height(), 7);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 13; ++x)
      EXPECT_EQ(image->Pixels().Pixel(x, y) == Ink::Black, x == y || x == 12) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Depths, BmpDepth, ::testing::Values(1, 2, 4, 8, 16, 24, 32));

TEST(BmpStretch, ShrinkingKeepsThinBlackLinesAndTheClipHolds) {
  // A one-pixel grid every 8 pixels survives a shrink to a quarter.
  const auto image =
      BmpImage::FromFile(MakeBmp(64, 64, 1, [](int x, int y) { return x % 8 == 0 || y % 8 == 0; }));
  ASSERT_TRUE(image.has_value());
  MonoBitmap page(16, 16);
  Canvas(page).StretchBmp(*image, page.Bounds());
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      EXPECT_EQ(page.Pixel(x, y) == Ink::Black, x % 2 == 0 || y % 2 == 0) << x << "," << y;

  // Stretching respects the clip.
  const auto black = BmpImage::FromFile(MakeBmp(4, 4, 24, [](int, int) { return true; }));
  ASSERT_TRUE(black.has_value());
  MonoBitmap clipped(50, 50);
  Canvas canvas(clipped);
  canvas.SetClip({0, 0, 25, 25});
  canvas.StretchBmp(*black, {10, 10, 40, 40});
  EXPECT_EQ(clipped.CountBlack(clipped.Bounds()), 15u * 15);
}

TEST(BmpStretch, GreyPaletteEntriesAreLight) {
  // Index 2 of the 4-bit palette is a light grey: it stays white.
  auto file = MakeBmp(2, 1, 4, [](int, int) { return false; });
  file[file.size() - 4] = 0x21;  // pixels: index 2, index 1
  const auto image = BmpImage::FromFile(file);
  ASSERT_TRUE(image.has_value());
  EXPECT_EQ(image->Pixels().Pixel(0, 0), Ink::White);
  EXPECT_EQ(image->Pixels().Pixel(1, 0), Ink::Black);
}

// A picture ImageMagick writes in each BMP form: white, a black square at x 4..9,
// y 2..6, a light grey dot at 0,0 and a transparent (black) block at x 14..19,
// y 2..6, which the forms with alpha show as paper.
TEST(BmpFiles, ImageMagickFormsAndTopDownRowsGiveTheSamePixels) {
  test::TempDir dir;
  const std::string png = dir.dir() + "picture.png", bmp = dir.dir() + "picture.bmp";
  const std::string draw =
      "convert -size 20x10 xc:none -fill white -draw 'rectangle 0,0 13,9' "
      "-draw 'rectangle 14,0 19,1' -draw 'rectangle 14,7 19,9' -fill black "
      "-draw 'rectangle 4,2 9,6' -fill '#c0c0c0' -draw 'point 0,0' ";
  ASSERT_EQ(std::system((draw + png).c_str()), 0);
  auto expectPicture = [](const std::vector<std::uint8_t>& file, bool alpha, const char* what) {
    const auto image = BmpImage::FromFile(file);
    ASSERT_TRUE(image.has_value()) << what;
    ASSERT_EQ(image->Width() * 100 + image->Height(), 2010) << what;
    EXPECT_NEAR(image->Grey()[0], 192, 8) << what;  // the grey dot, white on paper
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 20; ++x)
        EXPECT_EQ(image->Pixels().Pixel(x, y) == Ink::Black,
                  y >= 2 && y <= 6 && ((x >= 4 && x <= 9) || (!alpha && x >= 14)))
            << what << " " << x << "," << y;
  };
  const struct {
    const char* options;  // ending in the output format
    std::uint8_t headerBytes, bits;
    bool alpha;
  } forms[] = {
      {"-type TrueColor BMP3:", 40, 24, false},
      {"BMP:", 108, 32, true},  // the default for a picture with transparency: masks
      {"-type TrueColorAlpha BMP:", 124, 32, true},
      {"-type TrueColor -define bmp:subtype=RGB565 BMP:", 124, 16, false},
      {"-define bmp:subtype=ARGB1555 BMP:", 108, 16, true},
      {"-type Palette BMP3:", 40, 4, false},
  };
  for (const auto& form : forms) {
    ASSERT_EQ(std::system(("convert " + png + " " + form.options + bmp).c_str()), 0);
    const std::string bytes = test::ReadFileBytes(bmp);
    const std::vector<std::uint8_t> file(bytes.begin(), bytes.end());
    ASSERT_EQ(file[14] * 100 + file[28], form.headerBytes * 100 + form.bits) << form.options;
    expectPicture(file, form.alpha, form.options);
    if (form.bits != 24) continue;
    // The same rows stored from the top, as a negative height says.
    auto topDown = file;
    for (std::size_t y = 0; y < 10; ++y)
      std::copy_n(file.begin() + 54 + 60 * (9 - y), 60, topDown.begin() + 54 + 60 * y);
    Put32(topDown, 22, static_cast<std::uint32_t>(-10));
    expectPicture(topDown, false, "top-down");
  }
}

// A 32-bit BMP with a 40-byte header and its colour masks behind it.
std::vector<std::uint8_t> MaskedBmp() {
  auto b = MakeBmp(16, 8, 32, Checker);
  const std::uint8_t masks[12] = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0};
  b.insert(b.begin() + 54, std::begin(masks), std::end(masks));
  Put32(b, 10, 66);
  Put32(b, 30, 3);
  return b;
}

TEST(BmpValidation, LyingHeadersAreRefusedWithTheirReason) {
  const auto good = MakeBmp(16, 8, 8, Checker);
  ASSERT_TRUE(BmpImage::FromFile(good).has_value());
  ASSERT_TRUE(BmpImage::FromFile(MaskedBmp()).has_value());
  auto swapped = good;  // the signature is taken in either order
  std::swap(swapped[0], swapped[1]);
  EXPECT_TRUE(BmpImage::FromFile(swapped).has_value());
  using P = BmpProblem;
  struct Case {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> spoil;
    BmpProblem problem;
    bool masked = false;
  };
  const Case cases[] = {
      {"no BM signature", [](auto& b) { b[0] = 'P'; }, P::NotBmp},
      {"3 bits per pixel", [](auto& b) { Put16(b, 28, 3); }, P::Damaged},
      {"zero width", [](auto& b) { Put32(b, 18, 0); }, P::Damaged},
      {"negative width", [](auto& b) { Put32(b, 18, 0xFFFFFFF0u); }, P::Damaged},
      {"zero height", [](auto& b) { Put32(b, 22, 0); }, P::Damaged},
      {"most negative height", [](auto& b) { Put32(b, 22, 0x80000000u); }, P::Damaged},
      {"width overflowing the row size", [](auto& b) { Put32(b, 18, 0x7FFFFFFF); }, P::TooLarge},
      {"huge top-down height", [](auto& b) { Put32(b, 22, 0x80000001u); }, P::TooLarge},
      {"pixels beyond the limit", [](auto& b) { Put32(b, 18, 30000), Put32(b, 22, 30000); },
       P::TooLarge},
      {"height beyond the file", [](auto& b) { Put32(b, 22, 9); }, P::Damaged},
      {"more colours than the depth", [](auto& b) { Put32(b, 46, 257); }, P::Damaged},
      {"pixel data past the end",
       [](auto& b) { Put32(b, 10, static_cast<std::uint32_t>(b.size())); }, P::Damaged},
      {"pixel offset inside the palette", [](auto& b) { Put32(b, 10, 60); }, P::Damaged},
      {"OS/2 header", [](auto& b) { Put32(b, 14, 12); }, P::Unsupported},
      {"header size past the file", [](auto& b) { Put32(b, 14, 0xFFFFFFF0u); }, P::Damaged},
      {"run-length coded", [](auto& b) { Put32(b, 30, 1); }, P::Unsupported},
      {"two planes", [](auto& b) { Put16(b, 26, 2); }, P::Damaged},
      {"truncated file", [](auto& b) { b.resize(b.size() - 1); }, P::Damaged},
      {"header only", [](auto& b) { b.resize(30); }, P::Damaged},
      {"a colour mask of zero", [](auto& b) { Put32(b, 54, 0); }, P::Damaged, true},
      {"overlapping masks", [](auto& b) { Put32(b, 58, 0xFFFF00); }, P::Damaged, true},
      {"scattered mask", [](auto& b) { Put32(b, 62, 0x0F00F0); }, P::Damaged, true},
      {"masks past the end", [](auto& b) { b.resize(60); }, P::Damaged, true},
  };
  for (const Case& c : cases) {
    auto file = c.masked ? MaskedBmp() : good;
    c.spoil(file);
    BmpProblem problem = BmpProblem::None;
    EXPECT_FALSE(BmpImage::FromFile(file, &problem).has_value()) << c.what;
    EXPECT_EQ(problem, c.problem) << c.what;
  }
}

}  // namespace
}  // namespace vexo
