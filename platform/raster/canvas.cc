#include "platform/raster/canvas.h"

#include <algorithm>

namespace vexo {

void Canvas::FillRect(const Rect& rect, Ink ink) { m_target.Fill(rect.Intersect(m_clip), ink); }

void Canvas::HorizontalLine(int x0, int x1, int y, int thickness, Ink ink) {
  if (thickness < 1) thickness = 1;
  const int top = y - thickness / 2;
  FillRect({std::min(x0, x1), top, std::max(x0, x1), top + thickness}, ink);
}

TextSize Canvas::DrawText(const Font& font, std::string_view utf8, const Rect& rect,
                          const TextOptions& options, Ink ink) {
  const TextMetrics& metrics = font.Metrics();
  const Rect clip = rect.Intersect(m_clip);
  const std::u32string chars = Utf8ToCodePoints(utf8);
  const int baseline = rect.top + metrics.tmAscent;

  // Lay the line out first: the opaque background covers the whole text cell.
  struct Placed {
    std::shared_ptr<const GlyphImage> glyph;
    int x;
  };
  std::vector<Placed> placed;
  placed.reserve(chars.size());
  int x = 0;
  for (const char32_t ch : chars) {
    if (ch == U'\t') {
      x = options.tabWidth > 0 ? (x / options.tabWidth + 1) * options.tabWidth
                               : x + font.Glyph(U' ')->advance;
      continue;
    }
    auto glyph = font.Glyph(ch);
    placed.push_back({glyph, x});
    x += glyph->advance;
  }
  const TextSize size{x, metrics.tmHeight};
  if (clip.IsEmpty()) return size;

  const Ink background = ink == Ink::Black ? Ink::White : Ink::Black;
  if (options.opaque)
    m_target.Fill(
        Rect{rect.left, rect.top, rect.left + size.cx, rect.top + size.cy}.Intersect(clip),
        background);

  for (const Placed& p : placed) {
    const GlyphImage& g = *p.glyph;
    const int left = rect.left + p.x + g.left;
    const int top = baseline - g.top;
    const Rect box = Rect{left, top, left + g.width, top + g.rows}.Intersect(clip);
    for (int y = box.top; y < box.bottom; ++y) {
      const std::uint8_t* row = g.ink.data() + static_cast<std::size_t>(y - top) * g.width;
      for (int px = box.left; px < box.right; ++px)
        if (row[px - left] != 0) m_target.SetPixel(px, y, ink);
    }
  }
  if (font.LogFont().lfUnderline != 0) {
    const int top = baseline + font.UnderlinePosition() - font.UnderlineThickness() / 2;
    m_target.Fill(
        Rect{rect.left, top, rect.left + size.cx, top + font.UnderlineThickness()}.Intersect(clip),
        ink);
  }
  return size;
}

void Canvas::StretchBmp(const BmpImage& image, const Rect& dest) {
  const Rect area = dest.Intersect(m_clip);
  if (area.IsEmpty() || dest.IsEmpty()) return;
  const MonoBitmap& source = image.Pixels();
  const long long sw = source.Width(), sh = source.Height();
  const long long dw = dest.Width(), dh = dest.Height();
  for (int y = area.top; y < area.bottom; ++y) {
    const long long dy = y - dest.top;
    const int sy0 = static_cast<int>(dy * sh / dh);
    const int sy1 = std::max(sy0 + 1, static_cast<int>((dy + 1) * sh / dh));
    for (int x = area.left; x < area.right; ++x) {
      const long long dx = x - dest.left;
      const int sx0 = static_cast<int>(dx * sw / dw);
      const int sx1 = std::max(sx0 + 1, static_cast<int>((dx + 1) * sw / dw));
      const bool black = source.CountBlack({sx0, sy0, sx1, sy1}) > 0;
      m_target.SetPixel(x, y, black ? Ink::Black : Ink::White);
    }
  }
}

}  // namespace vexo
