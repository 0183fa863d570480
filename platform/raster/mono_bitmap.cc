#include "platform/raster/mono_bitmap.h"

#include <algorithm>

namespace vexo {

Rect Rect::Intersect(const Rect& other) const {
  Rect r{std::max(left, other.left), std::max(top, other.top), std::min(right, other.right),
         std::min(bottom, other.bottom)};
  if (r.IsEmpty()) return {};
  return r;
}

std::size_t MonoBitmap::StrideFor(int width) {
  return (static_cast<std::size_t>(width) + 31) / 32 * 4;
}

MonoBitmap::MonoBitmap(int width, int height) {
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return;
  m_width = width;
  m_height = height;
  m_stride = StrideFor(width);
  m_bits.assign(m_stride * static_cast<std::size_t>(height), 0);
}

std::span<std::uint8_t> MonoBitmap::Row(int y) {
  return std::span(m_bits).subspan(static_cast<std::size_t>(y) * m_stride, m_stride);
}

std::span<const std::uint8_t> MonoBitmap::Row(int y) const {
  return std::span(m_bits).subspan(static_cast<std::size_t>(y) * m_stride, m_stride);
}

Ink MonoBitmap::Pixel(int x, int y) const {
  if (!Bounds().Contains(x, y)) return Ink::White;
  const std::uint8_t byte = m_bits[static_cast<std::size_t>(y) * m_stride + x / 8];
  return (byte & (0x80 >> (x % 8))) ? Ink::Black : Ink::White;
}

void MonoBitmap::SetPixel(int x, int y, Ink ink) {
  if (!Bounds().Contains(x, y)) return;
  std::uint8_t& byte = m_bits[static_cast<std::size_t>(y) * m_stride + x / 8];
  const auto mask = static_cast<std::uint8_t>(0x80 >> (x % 8));
  byte = ink == Ink::Black ? (byte | mask) : (byte & ~mask);
}

void MonoBitmap::Fill(const Rect& rect, Ink ink) {
  const Rect r = rect.Intersect(Bounds());
  if (r.IsEmpty()) return;
  for (int y = r.top; y < r.bottom; ++y) {
    std::uint8_t* row = m_bits.data() + static_cast<std::size_t>(y) * m_stride;
    int x = r.left;
    // Partial first byte, whole bytes, partial last byte.
    while (x < r.right && x % 8 != 0) SetPixel(x++, y, ink);
    const int wholeEnd = r.right - r.right % 8;
    if (x < wholeEnd) {
      std::fill(row + x / 8, row + wholeEnd / 8, ink == Ink::Black ? 0xFF : 0x00);
      x = wholeEnd;
    }
    while (x < r.right) SetPixel(x++, y, ink);
  }
}

std::size_t MonoBitmap::CountBlack(const Rect& rect) const {
  const Rect r = rect.Intersect(Bounds());
  std::size_t count = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) count += Pixel(x, y) == Ink::Black;
  return count;
}

}  // namespace vexo
