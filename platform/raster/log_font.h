// The logical font record: the 92-byte LOGFONTW layout that the settings file
// stores (T2TFont) and the renderers create fonts from. The raster fonts read
// face, height, weight, italic, underline and character set from it; the other
// fields are kept so a record read from a file is written back unchanged.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vexo {

constexpr std::size_t kLogFontBytes = 92;
constexpr std::size_t kLfFaceSize = 32;  // UTF-16 units, terminator included

// Weights and character sets with their Windows values.
constexpr std::int32_t FW_DONTCARE = 0;
constexpr std::int32_t FW_NORMAL = 400;
constexpr std::int32_t FW_BOLD = 700;
constexpr std::uint8_t ANSI_CHARSET = 0;
constexpr std::uint8_t DEFAULT_CHARSET = 1;
constexpr std::uint8_t GB2312_CHARSET = 134;
constexpr std::uint8_t CHINESEBIG5_CHARSET = 136;

// The display that display-based font sizes are computed for (there is none on
// a server, and a fixed value keeps pages identical on every machine).
constexpr int kDisplayDpi = 96;

struct LOGFONTW {
  std::int32_t lfHeight = 0;  // < 0: character height in pixels; > 0: cell height
  std::int32_t lfWidth = 0;
  std::int32_t lfEscapement = 0;
  std::int32_t lfOrientation = 0;
  std::int32_t lfWeight = 0;
  std::uint8_t lfItalic = 0;
  std::uint8_t lfUnderline = 0;
  std::uint8_t lfStrikeOut = 0;
  std::uint8_t lfCharSet = 0;
  std::uint8_t lfOutPrecision = 0;
  std::uint8_t lfClipPrecision = 0;
  std::uint8_t lfQuality = 0;
  std::uint8_t lfPitchAndFamily = 0;
  std::array<char16_t, kLfFaceSize> lfFaceName{};

  bool operator==(const LOGFONTW&) const = default;
};
static_assert(sizeof(LOGFONTW) == kLogFontBytes, "LOGFONTW must keep the 92-byte layout");

// The record as the 92 little-endian bytes Windows stores, and back. FromBytes
// returns nullopt unless exactly 92 bytes are given.
std::array<std::uint8_t, kLogFontBytes> LogFontToBytes(const LOGFONTW& font);
std::optional<LOGFONTW> LogFontFromBytes(std::span<const std::uint8_t> bytes);

// Face name as UTF-8; setting cuts it to 31 UTF-16 units (never inside a pair).
std::string LogFontFaceName(const LOGFONTW& font);
void SetLogFontFaceName(LOGFONTW& font, std::string_view utf8);

// The default text font of generated pages: height -24, weight 400, character
// set 1, face "Tahoma", all else zero (there is no stock system font to start
// from).
LOGFONTW DefaultLogFont();

// lfHeight for a size in tenths of a point created for the display:
// -(kDisplayDpi * tenths / 720), as a display font of that size is made.
std::int32_t DisplayFontHeight(int tenthsOfPoint);

// A font record: face, size in tenths of a point (display based), weight,
// italic, underline; character set DEFAULT_CHARSET.
LOGFONTW MakeLogFont(std::string_view face, int tenthsOfPoint, std::int32_t weight = FW_NORMAL,
                     bool italic = false, bool underline = false);

}  // namespace vexo
