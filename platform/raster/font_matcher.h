// Finds the installed font file that best serves a logical font record, through
// fontconfig: the face name, weight, slant and character set of the record are
// the request, so "Tahoma" gets the closest installed family. Also finds a
// fallback file for a character the chosen face lacks (CJK text in a Latin
// face). Used by Font; safe from any thread.
#pragma once

#include <optional>
#include <string>

#include "platform/raster/log_font.h"

namespace vexo {

struct FontFileChoice {
  std::string file;
  int index = 0;             // face index inside a collection (.ttc)
  std::string family;        // family name fontconfig chose
  bool synthBold = false;    // bold asked for, the file is not bold
  bool synthItalic = false;  // italic asked for, the file is upright

  bool operator==(const FontFileChoice&) const = default;
};

// The best installed scalable font for the record, or nullopt when fontconfig
// has none (no fonts installed).
std::optional<FontFileChoice> MatchFont(const LOGFONTW& logFont);

// The best installed font for the record that has a glyph for ch, or nullopt.
std::optional<FontFileChoice> MatchFontForChar(const LOGFONTW& logFont, char32_t ch);

// The fontconfig language tag a Windows character set asks for ("zh-cn" for
// GB2312_CHARSET, "zh-tw" for CHINESEBIG5_CHARSET, ...), or nullptr.
const char* CharSetLanguage(std::uint8_t charSet);

}  // namespace vexo
