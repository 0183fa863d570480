// ImageImport turns a PNG, JPEG or BMP picture into fax pages appended to an
// open fax TIFF: the picture is read as grey (libpng, libjpeg; BMP through the
// platform's BMP reader), scaled to the 1728-pixel fax width with its shape
// kept on paper (204 pixels per inch across, 196 rows down, half as many rows
// on a normal page), made one-bit by the same per-picture
// rule as PDF pages (threshold for line art, error diffusion for photographs)
// and cut into pages when it is longer than the paper. The attachment
// conversion and `vexo import` use it; reports carry the module name
// "ImageImport".
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document/convert_options.h"
#include "document/tiff_lib.h"
#include "document/txt2tif_paper.h"

namespace vexo {

class LogFile;

// User-interface strings of the refusals ("%s" is the file).
constexpr unsigned kStringImageDamaged = 65404;
constexpr unsigned kStringImageTooLarge = 65405;
// A BMP stored compressed (RLE, JPEG, PNG) or with an OS/2 header.
constexpr unsigned kStringBmpUnsupported = 65747;

// Pictures past these sizes are refused before their pixels are read.
constexpr std::uint32_t kMaxImageSide = 30000;
constexpr std::uint64_t kMaxImagePixels = std::uint64_t{64} << 20;
// A picture may make at most this many fax pages.
constexpr std::uint32_t kMaxFaxPagesPerImage = 8;

enum class ImageFormat { Png, Jpeg, Bmp, Unknown };

// The format by the file's first bytes.
ImageFormat SniffImageFormat(std::string_view head);

// A picture in grey, top-down, one byte a pixel (0 black, 255 white).
struct GreyImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> pixels;
};

// Reads a picture file as grey; transparent parts are white. nullopt after a
// report (damaged, too large, unreadable).
std::optional<GreyImage> ReadGreyImage(const std::string& path);

class ImageImport {
 public:
  int Initialize(LogFile* systemLog = nullptr);
  void SetLayout(const PaperLayout& layout) { m_layout = layout; }
  const PaperLayout& Layout() const { return m_layout; }

  // Converts the picture in sourceFile into tif. 1, or 0 after a report;
  // *pagesOut gets the fax pages written.
  int Image2Tiff(const std::string& sourceFile, TiffFile& tif, std::uint32_t* pagesOut);
  // The same for a picture already in memory (name is used in reports).
  int Grey2Tiff(const GreyImage& image, const std::string& name, TiffFile& tif,
                std::uint32_t* pagesOut);

 private:
  bool m_initialized = false;
  LogFile* m_systemLog = nullptr;
  PaperLayout m_layout;
};

// The paper of the send job's attachments (see ConfigurePdfImport).
int ConfigureImageImport(ImageImport& importer, const ConvertOptions& options);

}  // namespace vexo
