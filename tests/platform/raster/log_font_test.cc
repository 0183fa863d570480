#include "platform/raster/log_font.h"

#include <gtest/gtest.h>

namespace vexo {
namespace {

TEST(LogFont, BytesFollowTheWindowsLayout) {
  LOGFONTW font = MakeLogFont("Tahoma", 160, FW_BOLD, true, true);
  font.lfCharSet = GB2312_CHARSET;
  const auto bytes = LogFontToBytes(font);
  ASSERT_EQ(bytes.size(), 92u);
  // lfHeight -21 little-endian, lfWeight at 16, the byte fields at 20..27, face at 28.
  EXPECT_EQ(bytes[0], 0xEB);
  EXPECT_EQ(bytes[3], 0xFF);
  EXPECT_EQ(bytes[16], 700 & 0xFF);
  EXPECT_EQ(bytes[17], 700 >> 8);
  EXPECT_EQ(bytes[20], 1);  // italic
  EXPECT_EQ(bytes[21], 1);  // underline
  EXPECT_EQ(bytes[23], GB2312_CHARSET);
  EXPECT_EQ(bytes[28], 'T');
  EXPECT_EQ(bytes[29], 0);
  EXPECT_EQ(bytes[30], 'a');
  EXPECT_EQ(bytes[28 + 2 * 6], 0);  // terminator after "Tahoma"
  const auto back = LogFontFromBytes(bytes);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, font);
}

TEST(LogFont, OnlyExactlyNinetyTwoBytesConvert) {
  std::array<std::uint8_t, 93> bytes{};
  EXPECT_FALSE(LogFontFromBytes(std::span(bytes).first(91)).has_value());
  EXPECT_FALSE(LogFontFromBytes(bytes).has_value());
  EXPECT_TRUE(LogFontFromBytes(std::span(bytes).first(92)).has_value());
}

TEST(LogFont, FaceNameIsCutToThirtyOneUnitsWithoutSplittingAPair) {
  LOGFONTW font;
  SetLogFontFaceName(font, std::string(40, 'x'));
  EXPECT_EQ(LogFontFaceName(font), std::string(31, 'x'));
  EXPECT_EQ(font.lfFaceName[31], u'\0');
  // 30 letters then a character outside the BMP: its pair would not fit whole.
  SetLogFontFaceName(font, std::string(30, 'y') + "\xF0\x9F\x98\x80");
  EXPECT_EQ(LogFontFaceName(font), std::string(30, 'y'));
  SetLogFontFaceName(font, "宋体");
  EXPECT_EQ(LogFontFaceName(font), "宋体");
}

TEST(LogFont, DisplayHeightsFollowNinetySixDpi) {
  EXPECT_EQ(DisplayFontHeight(160), -21);  // the page header's 16 points
  EXPECT_EQ(DisplayFontHeight(200), -26);
  EXPECT_EQ(DisplayFontHeight(220), -29);
  EXPECT_EQ(DisplayFontHeight(120), -16);
}

}  // namespace
}  // namespace vexo
