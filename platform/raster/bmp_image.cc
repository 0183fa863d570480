#include "platform/raster/bmp_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <vector>

#include "platform/posix/full_io.h"
#include "platform/posix/unique_fd.h"

namespace vexo {

namespace {

constexpr std::uint32_t kBiRgb = 0;
// Brightness (0..255, ITU-R BT.601 weights) below which a colour is black.
constexpr int kBlackBelow = 128;

std::uint32_t Le16(std::span<const std::uint8_t> b, std::size_t at) {
  return b[at] | (b[at + 1] << 8);
}
std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

Ink InkOf(unsigned red, unsigned green, unsigned blue) {
  const unsigned brightness = (299 * red + 587 * green + 114 * blue) / 1000;
  return brightness < kBlackBelow ? Ink::Black : Ink::White;
}

bool IsPaletteDepth(int bits) { return bits == 1 || bits == 2 || bits == 4 || bits == 8; }
bool IsDirectDepth(int bits) { return bits == 16 || bits == 24 || bits == 32; }

// Largest palette a direct-colour file may carry (it only suggests colours).
constexpr std::uint32_t kMaxDirectPalette = 256;

}  // namespace

std::optional<BmpLayout> ParseBmpLayout(std::span<const std::uint8_t> head,
                                        std::uint64_t fileSize) {
  if (head.size() < kBmpHeadBytes || fileSize < kBmpHeadBytes) return std::nullopt;
  const bool signature = (head[0] == 'B' && head[1] == 'M') || (head[0] == 'M' && head[1] == 'B');
  if (!signature) return std::nullopt;
  BmpLayout layout;
  layout.pixelOffset = Le32(head, 10);
  const std::uint32_t infoSize = Le32(head, 14);
  const auto width = static_cast<std::int32_t>(Le32(head, 18));
  const auto height = static_cast<std::int32_t>(Le32(head, 22));
  const std::uint32_t planes = Le16(head, 26);
  layout.bitsPerPixel = static_cast<int>(Le16(head, 28));
  const std::uint32_t compression = Le32(head, 30);
  const std::uint32_t coloursUsed = Le32(head, 46);

  if (infoSize < kBmpInfoHeaderBytes || width <= 0 || height <= 0 || width > MonoBitmap::kMaxSide ||
      height > MonoBitmap::kMaxSide || planes != 1 || compression != kBiRgb)
    return std::nullopt;
  layout.width = width;
  layout.height = height;
  if (IsPaletteDepth(layout.bitsPerPixel)) {
    const std::uint32_t depthColours = 1u << layout.bitsPerPixel;
    if (coloursUsed > depthColours) return std::nullopt;
    layout.colours = coloursUsed != 0 ? coloursUsed : depthColours;
  } else if (IsDirectDepth(layout.bitsPerPixel)) {
    if (coloursUsed > kMaxDirectPalette) return std::nullopt;
    layout.colours = coloursUsed;
  } else {
    return std::nullopt;
  }
  layout.paletteOffset = kBmpFileHeaderBytes + static_cast<std::uint64_t>(infoSize);
  const std::uint64_t paletteEnd = layout.paletteOffset + 4ull * layout.colours;
  if (paletteEnd > fileSize) return std::nullopt;
  if (IsPaletteDepth(layout.bitsPerPixel) && layout.pixelOffset < paletteEnd) return std::nullopt;
  if (layout.pixelOffset < kBmpHeadBytes) return std::nullopt;
  layout.rowBytes = (static_cast<std::uint64_t>(layout.bitsPerPixel) * layout.width + 31) / 32 * 4;
  layout.imageBytes = layout.rowBytes * static_cast<std::uint64_t>(layout.height);  // < 2^48
  if (layout.pixelOffset > fileSize || layout.imageBytes > fileSize - layout.pixelOffset)
    return std::nullopt;
  return layout;
}

std::optional<BmpImage> BmpImage::FromFile(std::span<const std::uint8_t> file) {
  const std::optional<BmpLayout> layout = ParseBmpLayout(file, file.size());
  if (!layout) return std::nullopt;
  std::vector<Ink> palette(layout->colours, Ink::White);
  for (std::uint32_t i = 0; i < layout->colours; ++i) {
    const std::size_t at = layout->paletteOffset + 4 * i;  // blue, green, red, reserved
    palette[i] = InkOf(file[at + 2], file[at + 1], file[at]);
  }
  MonoBitmap pixels(layout->width, layout->height);
  for (int y = 0; y < layout->height; ++y) {
    // Stored bottom-up: the last stored row is the top of the picture.
    const auto row = file.subspan(layout->pixelOffset + layout->rowBytes * (layout->height - 1 - y),
                                  layout->rowBytes);
    for (int x = 0; x < layout->width; ++x) {
      Ink ink = Ink::White;
      switch (layout->bitsPerPixel) {
        case 1:
        case 2:
        case 4:
        case 8: {
          const int bits = layout->bitsPerPixel;
          const std::size_t bit = static_cast<std::size_t>(x) * bits;
          const unsigned index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
          // An index past the stored palette reads as white, as nothing draws it.
          ink = index < palette.size() ? palette[index] : Ink::White;
          break;
        }
        case 16: {
          const std::uint32_t v = Le16(row, 2 * static_cast<std::size_t>(x));  // 5-5-5
          ink = InkOf(((v >> 10) & 31) * 255 / 31, ((v >> 5) & 31) * 255 / 31, (v & 31) * 255 / 31);
          break;
        }
        default: {  // 24 and 32: blue, green, red
          const std::size_t at = static_cast<std::size_t>(x) * (layout->bitsPerPixel / 8);
          ink = InkOf(row[at + 2], row[at + 1], row[at]);
          break;
        }
      }
      if (ink == Ink::Black) pixels.SetPixel(x, y, Ink::Black);
    }
  }
  return BmpImage(std::move(pixels));
}

namespace {

// Reads exactly size bytes at offset; 0, or the errno (-1 for a short read).
int ReadAt(int fd, std::uint8_t* out, std::size_t size, std::uint64_t offset) {
  const IoResult read = FullPread(fd, out, size, offset);
  if (read.error != 0) return read.error;
  return read.bytes == size ? 0 : -1;
}

}  // namespace

BmpReadResult ReadBmpFile(const std::string& path) {
  BmpReadResult result;
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) {
    result.error = errno;
    result.status = errno == ENOENT ? BmpReadStatus::NotFound : BmpReadStatus::OpenFailed;
    return result;
  }
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) {
    result.error = errno;
    result.status = BmpReadStatus::SeekFailed;
    return result;
  }
  const auto fileSize = static_cast<std::uint64_t>(info.st_size);
  std::array<std::uint8_t, kBmpHeadBytes> head{};
  if (fileSize < head.size()) {
    result.status = BmpReadStatus::ReadFailed;
    return result;
  }
  if (const int error = ReadAt(file.get(), head.data(), head.size(), 0); error != 0) {
    result.error = std::max(error, 0);
    result.status = BmpReadStatus::ReadFailed;
    return result;
  }
  const std::optional<BmpLayout> layout = ParseBmpLayout(head, fileSize);
  if (!layout) {
    result.status = BmpReadStatus::Invalid;
    return result;
  }
  // Everything up to the end of the pixels or of the palette, whichever is later.
  const std::uint64_t needed = std::max<std::uint64_t>(
      layout->pixelOffset + layout->imageBytes, layout->paletteOffset + 4ull * layout->colours);
  if (needed > kMaxBmpFileBytes) {
    result.status = BmpReadStatus::Invalid;
    return result;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(needed));
  if (const int error = ReadAt(file.get(), bytes.data(), bytes.size(), 0); error != 0) {
    result.error = std::max(error, 0);
    result.status = BmpReadStatus::ReadFailed;
    return result;
  }
  result.image = BmpImage::FromFile(bytes);
  result.status = result.image ? BmpReadStatus::Ok : BmpReadStatus::Invalid;
  return result;
}

}  // namespace vexo
