// A font for drawing into one-bit bitmaps: made from a LOGFONTW record, matched
// to an installed file by fontconfig, rendered by FreeType with a fixed threshold
// (no grey), with its glyphs cached. It answers the text metrics and the text
// extents (GetTextExtentExPointW: how many characters fit in a width and their
// widths) that the page header, text pages and cover pages lay text out with.
// A Font is immutable to its users and safe to share between threads.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/raster/font_matcher.h"
#include "platform/raster/log_font.h"

namespace vexo {

// The TEXTMETRIC values the renderers use, in pixels.
struct TextMetrics {
  int tmHeight = 0;  // ascent + descent: the height of a text line
  int tmAscent = 0;
  int tmDescent = 0;
  int tmInternalLeading = 0;  // tmHeight minus the character height
  int tmExternalLeading = 0;
  int tmAveCharWidth = 0;
  int tmMaxCharWidth = 0;
  int tmWeight = 0;
  bool tmItalic = false;
  bool tmUnderlined = false;
};

struct TextOptions {
  // > 0: a tab moves to the next multiple of tabWidth pixels counted from the
  // start of the text; 0: a tab is as wide as a blank.
  int tabWidth = 0;
  // Paint the text's cell (width x tmHeight) white under the glyphs, as an
  // opaque background does.
  bool opaque = true;
};

// GetTextExtentExPointW's answer. Characters are code points.
struct TextExtent {
  std::size_t fit = 0;       // leading characters whose extent is at most maxExtent
  std::vector<int> partial;  // partial[i]: width of the first i + 1 characters
  int cx = 0;                // width of the whole text
  int cy = 0;                // tmHeight
};

// One glyph at the font's size: ink[row * width + col] is 1 for black.
struct GlyphImage {
  int left = 0;  // from the pen position to the first column
  int top = 0;   // from the baseline up to the first row
  int width = 0;
  int rows = 0;
  int advance = 0;  // pen movement in whole pixels
  std::vector<std::uint8_t> ink;
};

// The pixel density of the bitmap a font draws into: pixels per inch across
// and rows per inch down. Glyphs keep their shape on it: the em is the record's
// size in rows, and as many pixels across as that length takes (a fax page has
// 204 pixels an inch across and is drawn at 196 rows an inch).
struct PixelDensity {
  std::uint32_t across = 1;
  std::uint32_t down = 1;
  auto operator<=>(const PixelDensity&) const = default;
};

class FreeTypeLibrary;
struct FontFace;

class Font {
 public:
  // Renders at the record's size: lfHeight < 0 is the character height in
  // pixels, > 0 the cell height (ascent + descent), 0 a default of 12 points on
  // the display. Returns nullptr when no installed font can serve the record;
  // *error then holds an errno value for the report. Equal records at equal
  // densities share one Font and its glyph cache.
  static std::shared_ptr<const Font> Create(const LOGFONTW& logFont, int* error = nullptr,
                                            PixelDensity density = {});

  ~Font();
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;

  const LOGFONTW& LogFont() const { return m_logFont; }
  PixelDensity Density() const { return m_density; }
  const TextMetrics& Metrics() const { return m_metrics; }
  // The em size in pixels the glyphs are rendered at.
  int PixelSize() const { return m_pixelSize; }
  const FontFileChoice& Choice() const;

  // The glyph for a character (a fallback face's when this face lacks it; an
  // empty glyph when no installed face has it). Control characters are empty.
  std::shared_ptr<const GlyphImage> Glyph(char32_t ch) const;

  // Extents of UTF-8 text; maxExtent < 0 lets every character fit.
  TextExtent Measure(std::string_view utf8, int maxExtent = -1,
                     const TextOptions& options = {}) const;
  int TextWidth(std::string_view utf8, const TextOptions& options = {}) const;

  // Underline stroke relative to the baseline (position > 0 is below it).
  int UnderlinePosition() const { return m_underlinePosition; }
  int UnderlineThickness() const { return m_underlineThickness; }

  // Glyph bytes kept per font before the cache starts afresh (bounds memory for
  // text with very many distinct characters), and the largest em size served.
  static constexpr std::size_t kMaxCacheBytes = 8u << 20;
  static constexpr int kMaxPixelSize = 1000;

 private:
  struct Key {};  // only Create makes fonts

 public:
  Font(Key, std::shared_ptr<FreeTypeLibrary> library, const LOGFONTW& logFont,
       PixelDensity density);

 private:
  bool Open(int* error);
  void ComputeMetrics();
  std::shared_ptr<const GlyphImage> RenderLocked(char32_t ch) const;
  FontFace* FaceForLocked(char32_t ch, unsigned* glyphIndex) const;

  std::shared_ptr<FreeTypeLibrary> m_library;
  LOGFONTW m_logFont;
  PixelDensity m_density;
  TextMetrics m_metrics;
  int m_pixelSize = 0;
  int m_pixelWidth = 0;  // the em across
  int m_underlinePosition = 1;
  int m_underlineThickness = 1;
  std::unique_ptr<FontFace> m_primary;

  mutable std::mutex m_lock;  // guards the faces and the caches below
  mutable std::map<std::string, std::unique_ptr<FontFace>> m_fallbacks;  // by file and index
  mutable std::map<char32_t, FontFace*> m_fallbackFor;
  mutable std::map<char32_t, std::shared_ptr<const GlyphImage>> m_glyphs;
  mutable std::size_t m_cacheBytes = 0;
};

// Characters (code points) of UTF-8 text, as Measure counts them.
std::u32string Utf8ToCodePoints(std::string_view utf8);

}  // namespace vexo
