// Windows BMP files (the sender's logo, picture attachments) read into grey
// and one-bit images: the file and information headers are checked against the
// file's real size before anything is allocated. Headers of 40 bytes and the
// longer V2 to V5 forms are read; palette depths 1, 2, 4 and 8 and direct
// depths 16, 24 and 32, uncompressed or with colour masks (BI_BITFIELDS,
// BI_ALPHABITFIELDS, as image editors write them), rows stored bottom-up or
// top-down (a negative height). Transparent parts are white. Each pixel becomes
// black or white by its brightness; the cover page draws the one-bit image with
// Canvas::StretchBmp, the picture import takes the grey one.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/raster/mono_bitmap.h"

namespace vexo {

constexpr std::size_t kBmpFileHeaderBytes = 14;
constexpr std::size_t kBmpInfoHeaderBytes = 40;
// The file header, the 40-byte information header and the four colour masks
// that follow it (or lie inside a longer header): all the headers say.
constexpr std::size_t kBmpHeadBytes = kBmpFileHeaderBytes + kBmpInfoHeaderBytes + 16;
// Largest logo file read (a full A4 page at 400 dpi in 24 bits is about 46 MB).
constexpr std::uint64_t kMaxBmpFileBytes = std::uint64_t{64} << 20;
// Largest picture decoded, in pixels (a grey byte each).
constexpr std::uint64_t kMaxBmpPixels = std::uint64_t{64} << 20;

// Why a file is refused.
enum class BmpProblem {
  None,
  NotBmp,       // no "BM" signature
  Unsupported,  // a compression (RLE, JPEG, PNG) or header form this reader does not decode
  TooLarge,     // sides or pixel count beyond the limits
  Damaged,      // sizes, offsets, depth or masks that do not fit the file or each other
};

// Red, green, blue and alpha masks of a direct-colour pixel (alpha 0: opaque).
using BmpMasks = std::array<std::uint32_t, 4>;

// Where the parts of a checked BMP file lie.
struct BmpLayout {
  int width = 0;
  int height = 0;
  bool topDown = false;  // rows stored from the top (the header's height was negative)
  int bitsPerPixel = 0;
  BmpMasks masks{};                 // direct depths only
  std::uint32_t colours = 0;        // palette entries stored in the file
  std::uint64_t paletteOffset = 0;  // behind the information header and its masks
  std::uint64_t pixelOffset = 0;
  std::uint64_t rowBytes = 0;    // padded to a multiple of 4
  std::uint64_t imageBytes = 0;  // rowBytes * height
};

// Checks the first kBmpHeadBytes bytes of a file of fileSize bytes (fewer when
// the file is shorter): the "BM" signature (either byte order), a header size
// of at least 40, width and height other than 0 within MonoBitmap::kMaxSide
// and kMaxBmpPixels, one plane, a supported depth and compression, colour
// masks that are non-empty, contiguous, inside the depth and apart, a colour
// count within the depth, and palette and pixel data that lie inside the file
// without overflow. nullopt when any fails, with the reason in *problem.
std::optional<BmpLayout> ParseBmpLayout(std::span<const std::uint8_t> head, std::uint64_t fileSize,
                                        BmpProblem* problem = nullptr);

class BmpImage {
 public:
  // The image of a whole BMP file, or nullopt (the reason in *problem) when
  // the file is not a valid one.
  static std::optional<BmpImage> FromFile(std::span<const std::uint8_t> file,
                                          BmpProblem* problem = nullptr);

  int Width() const { return m_pixels.Width(); }
  int Height() const { return m_pixels.Height(); }
  // Top-down, black where the pixel's colour is dark.
  const MonoBitmap& Pixels() const { return m_pixels; }
  // Top-down, one byte a pixel: 0 black, 255 white.
  const std::vector<std::uint8_t>& Grey() const { return m_grey; }

 private:
  BmpImage(MonoBitmap pixels, std::vector<std::uint8_t> grey)
      : m_pixels(std::move(pixels)), m_grey(std::move(grey)) {}
  MonoBitmap m_pixels;
  std::vector<std::uint8_t> m_grey;
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
  Invalid,  // not a BMP this reader accepts (why in problem)
};

struct BmpReadResult {
  BmpReadStatus status = BmpReadStatus::Invalid;
  int error = 0;  // errno of the failing call
  BmpProblem problem = BmpProblem::None;
  std::optional<BmpImage> image;
};

BmpReadResult ReadBmpFile(const std::string& path);

}  // namespace vexo
