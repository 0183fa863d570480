// A one-bit top-down bitmap, the stand-in for a one-bit DIB section: rows from
// top to bottom, each padded to a multiple of 4 bytes, the leftmost pixel in the
// most significant bit, bit value 0 white and 1 black. The page renderers draw
// into it and hand its rows unchanged to the Group 3 coder (PhotometricInterpretation 0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vexo {

enum class Ink : std::uint8_t { White = 0, Black = 1 };

// A rectangle as the drawing calls take it: left and top inside, right and
// bottom just outside.
struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  Rect Intersect(const Rect& other) const;
  bool operator==(const Rect&) const = default;
};

class MonoBitmap {
 public:
  // Largest side accepted, so a bad size never allocates without bound
  // (a page of 2048 pixels at 400 dpi and 1 m length stays far inside).
  static constexpr int kMaxSide = 32768;

  // A white bitmap; a size outside 1..kMaxSide gives an empty bitmap.
  MonoBitmap(int width, int height);

  int Width() const { return m_width; }
  int Height() const { return m_height; }
  bool IsEmpty() const { return m_bits.empty(); }
  Rect Bounds() const { return {0, 0, m_width, m_height}; }
  // Bytes per row: the row's bits rounded up to a multiple of 4 bytes.
  std::size_t Stride() const { return m_stride; }
  static std::size_t StrideFor(int width);

  std::span<std::uint8_t> Bits() { return m_bits; }
  std::span<const std::uint8_t> Bits() const { return m_bits; }
  std::span<std::uint8_t> Row(int y);
  std::span<const std::uint8_t> Row(int y) const;

  // Pixels outside the bitmap read as white and are not written.
  Ink Pixel(int x, int y) const;
  void SetPixel(int x, int y, Ink ink);
  // Fills the part of rect inside the bitmap.
  void Fill(const Rect& rect, Ink ink);
  void Clear() { Fill(Bounds(), Ink::White); }
  // Number of black pixels inside rect (tests and checks).
  std::size_t CountBlack(const Rect& rect) const;

 private:
  int m_width = 0;
  int m_height = 0;
  std::size_t m_stride = 0;
  std::vector<std::uint8_t> m_bits;
};

}  // namespace vexo
