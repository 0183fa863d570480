#include "platform/raster/log_font.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"

namespace vexo {

namespace {

void PutLe32(std::uint8_t* out, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::int32_t GetLe32(const std::uint8_t* in) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(in[i]) << (8 * i);
  return static_cast<std::int32_t>(v);
}

constexpr std::size_t kBytesOffset = 20;  // the eight one-byte fields
constexpr std::size_t kFaceOffset = 28;

}  // namespace

std::array<std::uint8_t, kLogFontBytes> LogFontToBytes(const LOGFONTW& font) {
  std::array<std::uint8_t, kLogFontBytes> out{};
  const std::int32_t ints[] = {font.lfHeight, font.lfWidth, font.lfEscapement, font.lfOrientation,
                               font.lfWeight};
  for (std::size_t i = 0; i < 5; ++i) PutLe32(out.data() + 4 * i, ints[i]);
  const std::uint8_t bytes[] = {font.lfItalic,  font.lfUnderline,     font.lfStrikeOut,
                                font.lfCharSet, font.lfOutPrecision,  font.lfClipPrecision,
                                font.lfQuality, font.lfPitchAndFamily};
  std::memcpy(out.data() + kBytesOffset, bytes, sizeof bytes);
  for (std::size_t i = 0; i < kLfFaceSize; ++i) {
    out[kFaceOffset + 2 * i] = static_cast<std::uint8_t>(font.lfFaceName[i] & 0xFF);
    out[kFaceOffset + 2 * i + 1] = static_cast<std::uint8_t>(font.lfFaceName[i] >> 8);
  }
  return out;
}

std::optional<LOGFONTW> LogFontFromBytes(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != kLogFontBytes) return std::nullopt;
  LOGFONTW font;
  const std::uint8_t* p = bytes.data();
  font.lfHeight = GetLe32(p);
  font.lfWidth = GetLe32(p + 4);
  font.lfEscapement = GetLe32(p + 8);
  font.lfOrientation = GetLe32(p + 12);
  font.lfWeight = GetLe32(p + 16);
  font.lfItalic = p[20];
  font.lfUnderline = p[21];
  font.lfStrikeOut = p[22];
  font.lfCharSet = p[23];
  font.lfOutPrecision = p[24];
  font.lfClipPrecision = p[25];
  font.lfQuality = p[26];
  font.lfPitchAndFamily = p[27];
  for (std::size_t i = 0; i < kLfFaceSize; ++i)
    font.lfFaceName[i] =
        static_cast<char16_t>(p[kFaceOffset + 2 * i] | (p[kFaceOffset + 2 * i + 1] << 8));
  return font;
}

std::string LogFontFaceName(const LOGFONTW& font) {
  std::u16string_view face(font.lfFaceName.data(), font.lfFaceName.size());
  face = face.substr(0, face.find(u'\0'));
  return Utf16ToUtf8(face);
}

void SetLogFontFaceName(LOGFONTW& font, std::string_view utf8) {
  std::u16string face = Utf8ToUtf16(utf8);
  std::size_t n = std::min(face.size(), kLfFaceSize - 1);
  if (n > 0 && n < face.size() && face[n - 1] >= 0xD800 && face[n - 1] <= 0xDBFF) --n;
  font.lfFaceName.fill(u'\0');
  std::copy_n(face.begin(), n, font.lfFaceName.begin());
}

std::int32_t DisplayFontHeight(int tenthsOfPoint) { return -(kDisplayDpi * tenthsOfPoint / 720); }

LOGFONTW MakeLogFont(std::string_view face, int tenthsOfPoint, std::int32_t weight, bool italic,
                     bool underline) {
  LOGFONTW font;
  font.lfHeight = DisplayFontHeight(tenthsOfPoint);
  font.lfWeight = weight;
  font.lfItalic = italic ? 1 : 0;
  font.lfUnderline = underline ? 1 : 0;
  font.lfCharSet = DEFAULT_CHARSET;
  SetLogFontFaceName(font, face);
  return font;
}

LOGFONTW DefaultLogFont() {
  LOGFONTW f;
  f.lfHeight = -24;
  f.lfWeight = 400;
  f.lfCharSet = 1;
  SetLogFontFaceName(f, "Tahoma");
  return f;
}

}  // namespace vexo
