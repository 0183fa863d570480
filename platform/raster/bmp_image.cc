#include "platform/raster/bmp_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <vector>

#include "platform/posix/full_io.h"
#include "platform/posix/unique_fd.h"

namespace vexo {

namespace {

// Compression values of the information header.
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;
// Where the colour masks lie: behind a 40-byte header, or inside a longer one
// (red, green and blue from the V2 header of 52 bytes on, alpha from V3's 56).
constexpr std::size_t kMasksOffset = kBmpFileHeaderBytes + kBmpInfoHeaderBytes;
constexpr std::uint32_t kInfoWithAlphaMask = 56;
// Masks of uncompressed direct pixels: 5-5-5 in 16 bits, 8-8-8 in 24 and 32.
constexpr BmpMasks kRgb555{0x7C00, 0x03E0, 0x001F, 0};
constexpr BmpMasks kRgb888{0xFF0000, 0x00FF00, 0x0000FF, 0};
// Brightness (0..255, ITU-R BT.601 weights) below which a colour is black.
constexpr int kBlackBelow = 128;
constexpr unsigned kOpaque = 255;
// Largest palette a direct-colour file may carry (it only suggests colours).
constexpr std::uint32_t kMaxDirectPalette = 256;

std::uint32_t Le16(std::span<const std::uint8_t> b, std::size_t at) {
  return b[at] | (b[at + 1] << 8);
}
std::uint32_t Le24(std::span<const std::uint8_t> b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16);
}
std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
  return Le24(b, at) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// The brightness of a colour seen on white paper.
std::uint8_t GreyOf(unsigned red, unsigned green, unsigned blue, unsigned alpha = kOpaque) {
  const unsigned brightness = (299 * red + 587 * green + 114 * blue) / 1000;
  return static_cast<std::uint8_t>((brightness * alpha + 255 * (kOpaque - alpha)) / kOpaque);
}

bool IsPaletteDepth(int bits) { return bits == 1 || bits == 2 || bits == 4 || bits == 8; }
bool IsDirectDepth(int bits) { return bits == 16 || bits == 24 || bits == 32; }

// A mask's field scaled to 0..255.
unsigned Channel(std::uint32_t pixel, std::uint32_t mask) {
  const int shift = std::countr_zero(mask);
  const std::uint64_t largest = mask >> shift;
  return static_cast<unsigned>(((pixel & mask) >> shift) * std::uint64_t{255} / largest);
}

// One run of bits that fits in a pixel of the depth.
bool ValidMask(std::uint32_t mask, int bits) {
  if (mask == 0 || (bits < 32 && (mask >> bits) != 0)) return false;
  const std::uint32_t field = mask >> std::countr_zero(mask);
  return (field & (field + 1)) == 0;
}

// The colour masks of a direct-colour file; the alpha mask may be 0 (opaque).
bool ValidMasks(const BmpMasks& m, int bits) {
  if (!ValidMask(m[0], bits) || !ValidMask(m[1], bits) || !ValidMask(m[2], bits)) return false;
  if (m[3] != 0 && !ValidMask(m[3], bits)) return false;
  return ((m[0] & m[1]) | (m[0] & m[2]) | (m[1] & m[2]) | ((m[0] | m[1] | m[2]) & m[3])) == 0;
}

std::optional<BmpLayout> Refuse(BmpProblem why, BmpProblem* problem) {
  if (problem != nullptr) *problem = why;
  return std::nullopt;
}

}  // namespace

std::optional<BmpLayout> ParseBmpLayout(std::span<const std::uint8_t> head, std::uint64_t fileSize,
                                        BmpProblem* problem) {
  if (problem != nullptr) *problem = BmpProblem::None;
  constexpr std::size_t kFixed = kBmpFileHeaderBytes + kBmpInfoHeaderBytes;
  if (head.size() < 2 || fileSize < 2) return Refuse(BmpProblem::NotBmp, problem);
  const bool signature = (head[0] == 'B' && head[1] == 'M') || (head[0] == 'M' && head[1] == 'B');
  if (!signature) return Refuse(BmpProblem::NotBmp, problem);
  if (head.size() < kBmpFileHeaderBytes + 4 || fileSize < kBmpFileHeaderBytes + 4)
    return Refuse(BmpProblem::Damaged, problem);
  const std::uint32_t infoSize = Le32(head, 14);
  // The 12-byte header of OS/2 bitmaps has 16-bit sizes: another format.
  if (infoSize < kBmpInfoHeaderBytes) return Refuse(BmpProblem::Unsupported, problem);
  if (head.size() < kFixed || fileSize < kFixed) return Refuse(BmpProblem::Damaged, problem);
  BmpLayout layout;
  layout.pixelOffset = Le32(head, 10);
  const auto width = static_cast<std::int32_t>(Le32(head, 18));
  const auto height = static_cast<std::int32_t>(Le32(head, 22));
  const std::uint32_t planes = Le16(head, 26);
  layout.bitsPerPixel = static_cast<int>(Le16(head, 28));
  const std::uint32_t compression = Le32(head, 30);
  const std::uint32_t coloursUsed = Le32(head, 46);

  if (width <= 0 || height == 0 || height == INT32_MIN || planes != 1)
    return Refuse(BmpProblem::Damaged, problem);
  layout.width = width;
  layout.topDown = height < 0;
  layout.height = height < 0 ? -height : height;
  if (layout.width > MonoBitmap::kMaxSide || layout.height > MonoBitmap::kMaxSide ||
      std::uint64_t(layout.width) * std::uint64_t(layout.height) > kMaxBmpPixels)
    return Refuse(BmpProblem::TooLarge, problem);
  const bool masked = compression == kBiBitfields || compression == kBiAlphaBitfields;
  if (compression != kBiRgb && !masked) return Refuse(BmpProblem::Unsupported, problem);

  std::uint64_t infoEnd = kBmpFileHeaderBytes + static_cast<std::uint64_t>(infoSize);
  if (IsPaletteDepth(layout.bitsPerPixel)) {
    if (masked) return Refuse(BmpProblem::Damaged, problem);
    const std::uint32_t depthColours = 1u << layout.bitsPerPixel;
    if (coloursUsed > depthColours) return Refuse(BmpProblem::Damaged, problem);
    layout.colours = coloursUsed != 0 ? coloursUsed : depthColours;
  } else if (IsDirectDepth(layout.bitsPerPixel)) {
    if (coloursUsed > kMaxDirectPalette || (masked && layout.bitsPerPixel == 24))
      return Refuse(BmpProblem::Damaged, problem);
    layout.colours = coloursUsed;
    layout.masks = layout.bitsPerPixel == 16 ? kRgb555 : kRgb888;
    if (masked) {
      // Masks the header does not hold follow it: 12 bytes, 16 with alpha.
      const bool alpha = compression == kBiAlphaBitfields || infoSize >= kInfoWithAlphaMask;
      const std::size_t maskEnd = kMasksOffset + (alpha ? 16 : 12);
      infoEnd = std::max<std::uint64_t>(infoEnd, maskEnd);
      if (maskEnd > head.size() || maskEnd > fileSize) return Refuse(BmpProblem::Damaged, problem);
      for (std::size_t i = 0; i < (alpha ? 4u : 3u); ++i)
        layout.masks[i] = Le32(head, kMasksOffset + 4 * i);
      if (!ValidMasks(layout.masks, layout.bitsPerPixel))
        return Refuse(BmpProblem::Damaged, problem);
    }
  } else {
    return Refuse(BmpProblem::Damaged, problem);
  }
  layout.paletteOffset = infoEnd;
  const std::uint64_t paletteEnd = layout.paletteOffset + 4ull * layout.colours;
  if (paletteEnd > fileSize) return Refuse(BmpProblem::Damaged, problem);
  if (IsPaletteDepth(layout.bitsPerPixel) && layout.pixelOffset < paletteEnd)
    return Refuse(BmpProblem::Damaged, problem);
  if (layout.pixelOffset < kFixed) return Refuse(BmpProblem::Damaged, problem);
  layout.rowBytes = (static_cast<std::uint64_t>(layout.bitsPerPixel) * layout.width + 31) / 32 * 4;
  layout.imageBytes = layout.rowBytes * static_cast<std::uint64_t>(layout.height);  // < 2^48
  if (layout.pixelOffset > fileSize || layout.imageBytes > fileSize - layout.pixelOffset)
    return Refuse(BmpProblem::Damaged, problem);
  return layout;
}

namespace {

// Turns the stored rows of a checked file into grey, top-down.
class BmpDecoder {
 public:
  BmpDecoder(const BmpLayout& layout, std::span<const std::uint8_t> file)
      : m_layout(layout), m_file(file), m_palette(layout.colours, kOpaque) {
    for (std::uint32_t i = 0; i < layout.colours; ++i) {
      const std::size_t at = layout.paletteOffset + 4 * i;  // blue, green, red, reserved
      m_palette[i] = GreyOf(file[at + 2], file[at + 1], file[at]);
    }
    // Writers that do not use the alpha field leave it 0 everywhere: the
    // picture is then opaque, not invisible.
    m_alpha = layout.masks[3] != 0 && AnyAlpha();
  }

  std::vector<std::uint8_t> Grey() const {
    std::vector<std::uint8_t> grey(std::size_t(m_layout.width) * std::size_t(m_layout.height));
    for (int y = 0; y < m_layout.height; ++y) {
      const auto row = Row(y);
      for (int x = 0; x < m_layout.width; ++x)
        grey[std::size_t(y) * std::size_t(m_layout.width) + std::size_t(x)] = Pixel(row, x);
    }
    return grey;
  }

 private:
  std::span<const std::uint8_t> Row(int y) const {
    const int stored = m_layout.topDown ? y : m_layout.height - 1 - y;
    return m_file.subspan(m_layout.pixelOffset + m_layout.rowBytes * std::uint64_t(stored),
                          m_layout.rowBytes);
  }

  std::uint32_t Direct(std::span<const std::uint8_t> row, int x) const {
    const std::size_t at = static_cast<std::size_t>(x) * (m_layout.bitsPerPixel / 8);
    switch (m_layout.bitsPerPixel) {
      case 16:
        return Le16(row, at);
      case 24:
        return Le24(row, at);
      default:
        return Le32(row, at);
    }
  }

  std::uint8_t Pixel(std::span<const std::uint8_t> row, int x) const {
    const int bits = m_layout.bitsPerPixel;
    if (IsPaletteDepth(bits)) {
      const std::size_t bit = static_cast<std::size_t>(x) * bits;
      const unsigned index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
      // An index past the stored palette reads as white, as nothing draws it.
      return index < m_palette.size() ? m_palette[index] : kOpaque;
    }
    const std::uint32_t v = Direct(row, x);
    const BmpMasks& m = m_layout.masks;
    return GreyOf(Channel(v, m[0]), Channel(v, m[1]), Channel(v, m[2]),
                  m_alpha ? Channel(v, m[3]) : kOpaque);
  }

  bool AnyAlpha() const {
    for (int y = 0; y < m_layout.height; ++y) {
      const auto row = Row(y);
      for (int x = 0; x < m_layout.width; ++x)
        if ((Direct(row, x) & m_layout.masks[3]) != 0) return true;
    }
    return false;
  }

  const BmpLayout& m_layout;
  std::span<const std::uint8_t> m_file;
  std::vector<std::uint8_t> m_palette;  // grey of each entry
  bool m_alpha = false;
};

}  // namespace

std::optional<BmpImage> BmpImage::FromFile(std::span<const std::uint8_t> file,
                                           BmpProblem* problem) {
  const std::optional<BmpLayout> layout = ParseBmpLayout(file, file.size(), problem);
  if (!layout) return std::nullopt;
  std::vector<std::uint8_t> grey = BmpDecoder(*layout, file).Grey();
  MonoBitmap pixels(layout->width, layout->height);
  for (int y = 0; y < layout->height; ++y)
    for (int x = 0; x < layout->width; ++x)
      if (grey[std::size_t(y) * std::size_t(layout->width) + std::size_t(x)] < kBlackBelow)
        pixels.SetPixel(x, y, Ink::Black);
  return BmpImage(std::move(pixels), std::move(grey));
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
  // A file shorter than the fixed headers cannot even say what it is.
  if (fileSize < kBmpFileHeaderBytes + kBmpInfoHeaderBytes) {
    result.status = BmpReadStatus::ReadFailed;
    return result;
  }
  std::vector<std::uint8_t> head(std::min<std::uint64_t>(fileSize, kBmpHeadBytes));
  if (const int error = ReadAt(file.get(), head.data(), head.size(), 0); error != 0) {
    result.error = std::max(error, 0);
    result.status = BmpReadStatus::ReadFailed;
    return result;
  }
  const std::optional<BmpLayout> layout = ParseBmpLayout(head, fileSize, &result.problem);
  if (!layout) {
    result.status = BmpReadStatus::Invalid;
    return result;
  }
  // Everything up to the end of the pixels or of the palette, whichever is later.
  const std::uint64_t needed = std::max<std::uint64_t>(
      layout->pixelOffset + layout->imageBytes, layout->paletteOffset + 4ull * layout->colours);
  if (needed > kMaxBmpFileBytes) {
    result.status = BmpReadStatus::Invalid;
    result.problem = BmpProblem::TooLarge;
    return result;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(needed));
  if (const int error = ReadAt(file.get(), bytes.data(), bytes.size(), 0); error != 0) {
    result.error = std::max(error, 0);
    result.status = BmpReadStatus::ReadFailed;
    return result;
  }
  result.image = BmpImage::FromFile(bytes, &result.problem);
  result.status = result.image ? BmpReadStatus::Ok : BmpReadStatus::Invalid;
  return result;
}

}  // namespace vexo
