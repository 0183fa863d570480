// The ink drawn on a page: a chain of strokes, each with its pen (colour and
// width in page pixels) and its points in page coordinates, so that the strokes
// can be drawn again at any display scale and burnt into the page. The display
// scale is a whole factor: one screen pixel stands for `factor` page pixels.
// No Qt here.
#pragma once

#include <cstdint>
#include <vector>

namespace vexo::ui {

enum class InkColour : std::uint16_t { Black = 0, White = 1 };

struct InkPoint {
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  bool operator==(const InkPoint&) const = default;
};

struct InkStroke {
  InkColour colour = InkColour::Black;
  std::uint16_t width = 1;  // page pixels
  std::vector<InkPoint> points;
};

// How page pixels map to the screen: one screen pixel stands for `factor` page
// pixels across, and rows are first stretched by rowScale (XResolution over
// YResolution: about 2 for a normal page), so a page shows at its true
// proportions.
struct ScreenScale {
  int factor = 1;
  double rowScale = 1.0;
  int ScreenX(int pageX) const;
  int ScreenY(int pageY) const;
};

// A screen position relative to the page's displayed origin, as a page point
// (clamped into 0..65535).
InkPoint PageFromScreen(int screenX, int screenY, int originX, int originY,
                        const ScreenScale& scale);
// The on-screen pen width of a stroke at a factor: width / factor, at least 1.
int ScreenPenWidth(std::uint16_t width, int factor);

class InkChain {
 public:
  // Starts a stroke with the pen; it is extended by Add and ended by End.
  void Begin(InkColour colour, std::uint16_t width);
  void Add(InkPoint point);
  // Ends the stroke drawn at factor. A tap (one point) with a pen thinner than
  // one screen pixel gets a second point factor - 1 page pixels right and
  // below, so that it leaves a visible dot. A stroke without points is dropped.
  void End(int factor);
  bool Drawing() const { return m_drawing; }

  void Undo();
  void Clear();
  bool Empty() const { return m_strokes.empty(); }
  const std::vector<InkStroke>& Strokes() const { return m_strokes; }

 private:
  std::vector<InkStroke> m_strokes;
  bool m_drawing = false;
};

}  // namespace vexo::ui
