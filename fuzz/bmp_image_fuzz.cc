// libFuzzer target for the BMP reader: a logo or a picture attachment comes
// from any program, or from a damaged disk. Reading must never crash or read
// past the file, the headers alone must decide as the whole file does (the
// logo reader checks them before it reads the rest), and an image read must
// hold exactly its pixels, each black where its grey is dark. Seeds: the forms
// ImageMagick writes (fuzz/seeds/bmp_image).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/raster/bmp_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> file(data, size);
  vexo::BmpProblem fromFile = vexo::BmpProblem::None, fromHead = vexo::BmpProblem::None;
  const auto image = vexo::BmpImage::FromFile(file, &fromFile);
  const auto head = file.first(std::min(size, vexo::kBmpHeadBytes));
  const bool headOk = vexo::ParseBmpLayout(head, size, &fromHead).has_value();
  if (headOk != image.has_value() || fromHead != fromFile) std::abort();
  if (!image) return 0;
  const int width = image->Width(), height = image->Height();
  if (width <= 0 || height <= 0 || image->Grey().size() != std::size_t(width) * height)
    std::abort();
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const bool dark = image->Grey()[std::size_t(y) * width + x] < 128;
      if ((image->Pixels().Pixel(x, y) == vexo::Ink::Black) != dark) std::abort();
    }
  return 0;
}
