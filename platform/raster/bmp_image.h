// Windows BMP files (the sender's logo) read into a one-bit image: the file and
// information headers are checked against the file's real size before anything
// is allocated, palette depths 1, 2, 4 and 8 and direct depths 16, 24 and 32
// (uncompressed) are decoded, and each pixel becomes black or white by its
// brightness. The cover page draws the result with Canvas::StretchBmp.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/raster/mono_bitmap.h"

namespace vexo {

constexpr std::size_t kBmpFileHeaderBytes = 14;
constexpr std::size_t kBmpInfoHeaderBytes = 40;
constexpr std::size_t kBmpHeadBytes = kBmpFileHeaderBytes + kBmpInfoHeaderBytes;
// Largest logo file read (a full A4 page at 400 dpi in 24 bits is about 46 MB).
constexpr std::uint64_t kMaxBmpFileBytes = std::uint64_t{64} << 20;

// Where the parts of a checked BMP file lie.
struct BmpLayout {
  int width = 0;
  int height = 0;  // rows stored bottom-up
  int bitsPerPixel = 0;
  std::uint32_t colours = 0;        // palette entries stored in the file
  std::uint64_t paletteOffset = 0;  // behind the information header
  std::uint64_t pixelOffset = 0;
  std::uint64_t rowBytes = 0;    // padded to a multiple of 4
  std::uint64_t imageBytes = 0;  // rowBytes * height
};

// Checks the first kBmpHeadBytes bytes of a file of fileSize bytes: the "BM"
// signature (either byte order), a header size of at least 40, width and
// height above 0 and at most MonoBitmap::kMaxSide, one plane, a supported
// depth, no compression, a colour count within the depth, and palette and
// pixel data that lie inside the file without overflow. nullopt when any fails.
std::optional<BmpLayout> ParseBmpLayout(std::span<const std::uint8_t> head, std::uint64_t fileSize);

class BmpImage {
 public:
  // The image of a whole BMP file, or nullopt when the file is not a valid one.
  static std::optional<BmpImage> FromFile(std::span<const std::uint8_t> file);

  int Width() const { return m_pixels.Width(); }
  int Height() const { return m_pixels.Height(); }
  // Top-down, black where the pixel's colour is dark.
  const MonoBitmap& Pixels() const { return m_pixels; }

 private:
  explicit BmpImage(MonoBitmap pixels) : m_pixels(std::move(pixels)) {}
  MonoBitmap m_pixels;
};

// Reading a logo file: opened read-only, its headers checked against the
// file's size before the palette and pixels are read (so a lying header never
// makes a large allocation); files past kMaxBmpFileBytes are not read.
enum class BmpReadStatus {
  Ok,
  NotFound,    // the file does not exist
  OpenFailed,  // it exists but cannot be opened
  ReadFailed,  // a read failed or the file ended early (error: errno, 0 for short)
  SeekFailed,
  Invalid,  // not a BMP this reader accepts
};

struct BmpReadResult {
  BmpReadStatus status = BmpReadStatus::Invalid;
  int error = 0;  // errno of the failing call
  std::optional<BmpImage> image;
};

BmpReadResult ReadBmpFile(const std::string& path);

}  // namespace vexo
