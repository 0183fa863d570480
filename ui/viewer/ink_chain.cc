#include "ui/viewer/ink_chain.h"

#include <algorithm>
#include <cmath>

namespace vexo::ui {
namespace {

std::uint16_t ClampCoordinate(long long value) {
  return static_cast<std::uint16_t>(std::clamp<long long>(value, 0, 0xFFFF));
}

}  // namespace

int ScreenScale::ScreenX(int pageX) const { return pageX / std::max(factor, 1); }

int ScreenScale::ScreenY(int pageY) const {
  return static_cast<int>(std::lround(pageY * rowScale / std::max(factor, 1)));
}

InkPoint PageFromScreen(int screenX, int screenY, int originX, int originY,
                        const ScreenScale& scale) {
  const long long f = std::max(scale.factor, 1);
  const double rows = static_cast<double>((static_cast<long long>(screenY) - originY) * f);
  return {ClampCoordinate((static_cast<long long>(screenX) - originX) * f),
          ClampCoordinate(std::llround(rows / scale.rowScale))};
}

int ScreenPenWidth(std::uint16_t width, int factor) {
  return std::max(1, static_cast<int>(width) / std::max(factor, 1));
}

void InkChain::Begin(InkColour colour, std::uint16_t width) {
  if (m_drawing) End(1);
  m_strokes.push_back({colour, std::max<std::uint16_t>(width, 1), {}});
  m_drawing = true;
}

void InkChain::Add(InkPoint point) {
  if (m_drawing) m_strokes.back().points.push_back(point);
}

void InkChain::End(int factor) {
  if (!m_drawing) return;
  m_drawing = false;
  InkStroke& stroke = m_strokes.back();
  if (stroke.points.empty()) {
    m_strokes.pop_back();
    return;
  }
  const int f = std::max(factor, 1);
  if (stroke.points.size() == 1 && stroke.width < f) {
    const InkPoint p = stroke.points.front();
    stroke.points.push_back({ClampCoordinate(p.x + f - 1LL), ClampCoordinate(p.y + f - 1LL)});
  }
  stroke.points.shrink_to_fit();
}

void InkChain::Undo() {
  if (m_drawing) m_drawing = false;
  if (!m_strokes.empty()) m_strokes.pop_back();
}

void InkChain::Clear() {
  m_strokes.clear();
  m_drawing = false;
}

}  // namespace vexo::ui
