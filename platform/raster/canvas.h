// Drawing into a MonoBitmap, the stand-in for a memory drawing context with a
// one-bit bitmap selected: rectangle fills, horizontal pen lines, one line of
// text left and top aligned in a clipping rectangle ("&" is drawn as itself,
// there are no prefix characters), and stretching a BMP image into a rectangle.
// Everything is clipped to the bitmap and to the canvas's clip rectangle. Used
// by the page header, the text and cover page renderers and the page viewer.
#pragma once

#include <string_view>

#include "platform/raster/bmp_image.h"
#include "platform/raster/font.h"
#include "platform/raster/mono_bitmap.h"

namespace vexo {

struct TextSize {
  int cx = 0;  // advance width of the whole text
  int cy = 0;  // the font's line height (tmHeight)
};

class Canvas {
 public:
  explicit Canvas(MonoBitmap& target) : m_target(target), m_clip(target.Bounds()) {}

  MonoBitmap& Target() { return m_target; }
  // Limits all later drawing to clip (within the bitmap); ResetClip lifts it.
  void SetClip(const Rect& clip) { m_clip = clip.Intersect(m_target.Bounds()); }
  void ResetClip() { m_clip = m_target.Bounds(); }
  const Rect& Clip() const { return m_clip; }

  void FillRect(const Rect& rect, Ink ink);

  // A pen line of the given thickness from (x0, y) up to but not including
  // (x1, y): rows y - thickness / 2 to y - thickness / 2 + thickness - 1.
  void HorizontalLine(int x0, int x1, int y, int thickness, Ink ink = Ink::Black);

  // One line of UTF-8 text: the pen starts at rect.left with the baseline
  // tmAscent below rect.top; nothing is drawn outside rect. Line breaks and
  // other control characters are not drawn. Returns the text's width and the
  // font's line height, as DrawTextW reports the height.
  TextSize DrawText(const Font& font, std::string_view utf8, const Rect& rect,
                    const TextOptions& options = {}, Ink ink = Ink::Black);

  // The whole image scaled into dest. Shrinking keeps black pixels (a
  // destination pixel is black when any source pixel it covers is black), as
  // the default black-on-white stretch mode does.
  void StretchBmp(const BmpImage& image, const Rect& dest);

 private:
  MonoBitmap& m_target;
  Rect m_clip;
};

}  // namespace vexo
