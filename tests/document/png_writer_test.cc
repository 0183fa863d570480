// The PNG writer behind `vexo preview`: a one-bit image written row by row and
// read back with libpng, black where the fax row has a 1, rows not written white.
#include "document/png_writer.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <vector>

#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

struct ReadBack {
  std::uint32_t width = 0, height = 0, xPpm = 0, yPpm = 0;
  std::vector<std::vector<std::uint8_t>> rows;  // 8-bit grey, 0 black
};

ReadBack ReadPng(const std::filesystem::path& file) {
  ReadBack out;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, file.c_str()) == 0) return out;
  image.format = PNG_FORMAT_GRAY;
  std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) == 0) return out;
  out.width = image.width;
  out.height = image.height;
  for (std::uint32_t y = 0; y < image.height; ++y)
    out.rows.emplace_back(pixels.begin() + y * image.width, pixels.begin() + (y + 1) * image.width);
  // The pHYs chunk, read the plain way.
  std::FILE* f = std::fopen(file.c_str(), "rb");
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, f);
    png_read_info(png, info);
    int unit = 0;
    png_get_pHYs(png, info, &out.xPpm, &out.yPpm, &unit);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  return out;
}

TEST(PngWriterTest, RowsReadBackWithLibpng) {
  test::TempDir dir;
  const auto file = dir.path() / "page.png";
  PngWriter writer;
  ASSERT_TRUE(writer.Open(file.string(), 12, 3, 209, 209));
  const std::uint8_t first[] = {0x80, 0x10};  // pixels 0 and 11 black
  ASSERT_TRUE(writer.WriteRow(first));
  ASSERT_TRUE(writer.Close());  // rows 1 and 2 were not written: white

  const ReadBack png = ReadPng(file);
  ASSERT_EQ(png.width, 12u);
  ASSERT_EQ(png.height, 3u);
  for (std::uint32_t x = 0; x < 12; ++x)
    EXPECT_EQ(png.rows[0][x], x == 0 || x == 11 ? 0 : 255) << x;
  EXPECT_EQ(png.rows[1], std::vector<std::uint8_t>(12, 255));
  EXPECT_EQ(png.xPpm, 8228u);  // 209 per inch
  EXPECT_EQ(png.yPpm, 8228u);
}

TEST(PngWriterTest, RefusesWhatCannotBeWritten) {
  test::TempDir dir;
  PngWriter writer;
  EXPECT_FALSE(writer.Open((dir.path() / "none" / "x.png").string(), 10, 10, 0, 0));
  EXPECT_FALSE(writer.Error().empty());
  EXPECT_FALSE(writer.Open((dir.path() / "x.png").string(), 0, 10, 0, 0));
  const std::uint8_t row[2] = {};
  EXPECT_FALSE(writer.WriteRow(row));
  ASSERT_TRUE(writer.Open((dir.path() / "y.png").string(), 8, 1, 0, 0));
  EXPECT_TRUE(writer.WriteRow(row));
  EXPECT_FALSE(writer.WriteRow(row));  // past the last row
  EXPECT_TRUE(writer.Close());
}

}  // namespace
}  // namespace vexo
