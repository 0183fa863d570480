// BMP reading and stretching: every depth the logo may have, and headers that
// lie about the file.
#include "platform/raster/bmp_image.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/raster/canvas.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

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

TEST_P(BmpDepth, StretchDoublesEachPixel) {
  const auto image = BmpImage::FromFile(MakeBmp(8, 6, GetParam(), Checker));
  ASSERT_TRUE(image.has_value());
  MonoBitmap page(100, 100);
  Canvas canvas(page);
  canvas.FillRect(page.Bounds(), Ink::Black);
  canvas.StretchBmp(*image, {20, 30, 36, 42});
  for (int y = 30; y < 42; ++y)
    for (int x = 20; x < 36; ++x)
      ASSERT_EQ(page.Pixel(x, y) == Ink::Black, Checker((x - 20) / 2, (y - 30) / 2))
          << x << "," << y;
  // Outside the rectangle nothing changed.
  EXPECT_EQ(page.CountBlack({0, 0, 100, 30}), 100u * 30);
  EXPECT_EQ(page.CountBlack({36, 30, 100, 42}), 64u * 12);
}

INSTANTIATE_TEST_SUITE_P(Depths, BmpDepth, ::testing::Values(1, 2, 4, 8, 16, 24, 32));

TEST(BmpStretch, ShrinkingKeepsThinBlackLines) {
  // A one-pixel grid every 8 pixels survives a shrink to a quarter.
  const auto image =
      BmpImage::FromFile(MakeBmp(64, 64, 1, [](int x, int y) { return x % 8 == 0 || y % 8 == 0; }));
  ASSERT_TRUE(image.has_value());
  MonoBitmap page(16, 16);
  Canvas(page).StretchBmp(*image, page.Bounds());
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      EXPECT_EQ(page.Pixel(x, y) == Ink::Black, x % 2 == 0 || y % 2 == 0) << x << "," << y;
}

TEST(BmpStretch, StretchRespectsTheClip) {
  const auto image = BmpImage::FromFile(MakeBmp(4, 4, 24, [](int, int) { return true; }));
  ASSERT_TRUE(image.has_value());
  MonoBitmap page(50, 50);
  Canvas canvas(page);
  canvas.SetClip({0, 0, 25, 25});
  canvas.StretchBmp(*image, {10, 10, 40, 40});
  EXPECT_EQ(page.CountBlack(page.Bounds()), 15u * 15);
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

TEST(BmpValidation, SignatureInEitherOrderIsAccepted) {
  auto file = MakeBmp(4, 4, 1, Checker);
  std::swap(file[0], file[1]);
  EXPECT_TRUE(BmpImage::FromFile(file).has_value());
  file[0] = 'P';
  EXPECT_FALSE(BmpImage::FromFile(file).has_value());
}

TEST(BmpValidation, LyingHeadersAreRefused) {
  const auto good = MakeBmp(16, 8, 8, Checker);
  ASSERT_TRUE(BmpImage::FromFile(good).has_value());
  struct Case {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> spoil;
  };
  const Case cases[] = {
      {"3 bits per pixel", [](auto& b) { Put16(b, 28, 3); }},
      {"zero width", [](auto& b) { Put32(b, 18, 0); }},
      {"negative width", [](auto& b) { Put32(b, 18, 0xFFFFFFF0u); }},
      {"zero height", [](auto& b) { Put32(b, 22, 0); }},
      {"negative (top-down) height", [](auto& b) { Put32(b, 22, static_cast<std::uint32_t>(-8)); }},
      {"width overflowing the row size", [](auto& b) { Put32(b, 18, 0x7FFFFFFF); }},
      {"height beyond the file", [](auto& b) { Put32(b, 22, 9); }},
      {"more colours than the depth", [](auto& b) { Put32(b, 46, 257); }},
      {"pixel data past the end",
       [](auto& b) { Put32(b, 10, static_cast<std::uint32_t>(b.size())); }},
      {"pixel offset inside the palette", [](auto& b) { Put32(b, 10, 60); }},
      {"short header size", [](auto& b) { Put32(b, 14, 12); }},
      {"header size past the file", [](auto& b) { Put32(b, 14, 0xFFFFFFF0u); }},
      {"compressed", [](auto& b) { Put32(b, 30, 1); }},
      {"two planes", [](auto& b) { Put16(b, 26, 2); }},
      {"truncated file", [](auto& b) { b.resize(b.size() - 1); }},
      {"header only", [](auto& b) { b.resize(30); }},
  };
  for (const Case& c : cases) {
    auto file = good;
    c.spoil(file);
    EXPECT_FALSE(BmpImage::FromFile(file).has_value()) << c.what;
  }
}

TEST(BmpValidation, LayoutNeedsOnlyTheHeadAndTheFileSize) {
  const auto file = MakeBmp(30, 10, 24, Checker);
  const auto layout = ParseBmpLayout(std::span(file).first(kBmpHeadBytes), file.size());
  ASSERT_TRUE(layout.has_value());
  EXPECT_EQ(layout->rowBytes, 92u);
  EXPECT_EQ(layout->imageBytes, 920u);
  EXPECT_EQ(layout->pixelOffset, 54u);
  EXPECT_FALSE(ParseBmpLayout(std::span(file).first(kBmpHeadBytes), file.size() - 1).has_value());
}

}  // namespace
}  // namespace vexo

namespace vexo {
namespace {

TEST(BmpFile, ReadOnlyLogoIsRead) {
  test::TempDir dir;
  const auto path = dir.path() / "logo.bmp";
  const auto bytes = MakeBmp(20, 10, 8, Checker);
  test::WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
  std::filesystem::permissions(path, std::filesystem::perms::owner_read);
  const BmpReadResult result = ReadBmpFile(path.string());
  ASSERT_EQ(result.status, BmpReadStatus::Ok);
  ASSERT_TRUE(result.image.has_value());
  EXPECT_EQ(result.image->Width(), 20);
  EXPECT_EQ(result.image->Pixels().Pixel(0, 0), Ink::Black);
}

TEST(BmpFile, FailuresAreTold) {
  test::TempDir dir;
  EXPECT_EQ(ReadBmpFile((dir.path() / "none.bmp").string()).status, BmpReadStatus::NotFound);
  EXPECT_EQ(ReadBmpFile(dir.path().string()).status, BmpReadStatus::ReadFailed);  // a directory

  const auto path = dir.path() / "short.bmp";
  test::WriteFileBytes(path, "BM\x10");
  EXPECT_EQ(ReadBmpFile(path.string()).status, BmpReadStatus::ReadFailed);

  auto bytes = MakeBmp(20, 10, 4, Checker);
  Put16(bytes, 28, 3);
  test::WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
  EXPECT_EQ(ReadBmpFile(path.string()).status, BmpReadStatus::Invalid);

  // A header claiming far more pixels than the file holds is refused before reading.
  bytes = MakeBmp(20, 10, 24, Checker);
  Put32(bytes, 22, 30000);
  test::WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
  EXPECT_EQ(ReadBmpFile(path.string()).status, BmpReadStatus::Invalid);
}

}  // namespace
}  // namespace vexo
