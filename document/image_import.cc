#include "document/image_import.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

#include "base/error_pool.h"
#include "document/dither.h"
#include "document/pdf_import.h"
#include "document/tif2tif.h"
#include "platform/posix/full_io.h"
#include "platform/raster/bmp_image.h"

namespace vexo {
namespace {

constexpr const char* kModule = "ImageImport";
constexpr const char* kFunction = "Image2Tiff";
// Largest picture file read into memory.
constexpr std::uint64_t kMaxImageFileBytes = std::uint64_t{256} << 20;
constexpr std::uint8_t kWhite = 255;

bool SizeAllowed(std::uint64_t width, std::uint64_t height) {
  return width > 0 && height > 0 && width <= kMaxImageSide && height <= kMaxImageSide &&
         width * height <= kMaxImagePixels;
}

enum class ReadStatus { Ok, Damaged, TooLarge, Unsupported };

ReadStatus ReadPng(const std::vector<std::uint8_t>& file, GreyImage& out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_memory(&image, file.data(), file.size()) == 0) {
    png_image_free(&image);
    return ReadStatus::Damaged;
  }
  if (!SizeAllowed(image.width, image.height)) {
    png_image_free(&image);
    return ReadStatus::TooLarge;
  }
  image.format = PNG_FORMAT_GRAY;
  out.width = image.width;
  out.height = image.height;
  out.pixels.assign(PNG_IMAGE_SIZE(image), kWhite);
  const png_color background{kWhite, kWhite, kWhite};
  const int ok = png_image_finish_read(&image, &background, out.pixels.data(), 0, nullptr);
  png_image_free(&image);
  return ok != 0 ? ReadStatus::Ok : ReadStatus::Damaged;
}

// libjpeg reports a fatal error by calling error_exit, which must not return.
struct JpegError {
  jpeg_error_mgr manager{};
  std::jmp_buf jump{};
};

[[noreturn]] void JpegErrorExit(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

void JpegQuiet(j_common_ptr) {}

// Only plain C objects live between setjmp and longjmp here; out's buffer is
// sized before the decoding starts and outlives any jump.
// An ink value of a CMYK JPEG as paper brightness (0 full ink); Adobe's files
// store the values inverted.
unsigned Paper(unsigned ink, bool inverted) { return inverted ? ink : 255 - ink; }

// A CMYK pixel's grey: the luminance of the colour the inks leave.
std::uint8_t CmykGrey(const JSAMPLE* pixel, bool inverted) {
  const unsigned k = Paper(pixel[3], inverted);
  const unsigned r = Paper(pixel[0], inverted) * k / 255;
  const unsigned g = Paper(pixel[1], inverted) * k / 255;
  const unsigned b = Paper(pixel[2], inverted) * k / 255;
  return static_cast<std::uint8_t>((r * 77 + g * 150 + b * 29) >> 8);
}

ReadStatus ReadJpeg(const std::vector<std::uint8_t>& file, GreyImage& out) {
  jpeg_decompress_struct info{};
  JpegError error;
  std::vector<JSAMPLE> cmykRow;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JpegErrorExit;
  error.manager.output_message = JpegQuiet;
  if (setjmp(error.jump) != 0) {
    jpeg_destroy_decompress(&info);
    return ReadStatus::Damaged;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&info, TRUE);
  if (!SizeAllowed(info.image_width, info.image_height)) {
    jpeg_destroy_decompress(&info);
    return ReadStatus::TooLarge;
  }
  // libjpeg turns every colour space but CMYK into grey itself.
  const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  info.out_color_space = cmyk ? JCS_CMYK : JCS_GRAYSCALE;
  jpeg_start_decompress(&info);
  out.width = info.output_width;
  out.height = info.output_height;
  out.pixels.assign(std::size_t{out.width} * out.height, kWhite);
  if (cmyk) cmykRow.resize(std::size_t{out.width} * 4);
  while (info.output_scanline < info.output_height) {
    std::uint8_t* grey = out.pixels.data() + std::size_t{info.output_scanline} * out.width;
    JSAMPROW row = cmyk ? cmykRow.data() : grey;
    if (jpeg_read_scanlines(&info, &row, 1) != 1) break;
    if (cmyk)
      for (std::uint32_t x = 0; x < out.width; ++x)
        grey[x] = CmykGrey(cmykRow.data() + std::size_t{x} * 4, info.saw_Adobe_marker != 0);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return ReadStatus::Ok;
}

ReadStatus ReadBmp(const std::vector<std::uint8_t>& file, GreyImage& out) {
  BmpProblem problem = BmpProblem::None;
  std::optional<BmpImage> bmp = BmpImage::FromFile(file, &problem);
  if (problem == BmpProblem::TooLarge) return ReadStatus::TooLarge;
  if (problem == BmpProblem::Unsupported) return ReadStatus::Unsupported;
  if (!bmp) return ReadStatus::Damaged;
  out.width = static_cast<std::uint32_t>(bmp->Width());
  out.height = static_cast<std::uint32_t>(bmp->Height());
  out.pixels = bmp->Grey();
  return SizeAllowed(out.width, out.height) ? ReadStatus::Ok : ReadStatus::TooLarge;
}

// The whole file, or nullopt after a report.
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    ReportErrorCode(0, kMsgDefault, kModule, kFunction, errno,
                    "Open File Error FileName=[%s], ErrMsg = ", path.c_str());
    return std::nullopt;
  }
  const off_t size = ::lseek(fd.get(), 0, SEEK_END);
  if (size < 0 || ::lseek(fd.get(), 0, SEEK_SET) != 0) {
    ReportErrorCode(0, kMsgDefault, kModule, kFunction, errno,
                    "Read File Error FileName=[%s], ErrMsg = ", path.c_str());
    return std::nullopt;
  }
  if (static_cast<std::uint64_t>(size) > kMaxImageFileBytes) {
    ReportResString(0, kMsgDefault, kModule, kFunction, kStringImageTooLarge, path.c_str());
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  const IoResult read = FullRead(fd.get(), bytes.data(), bytes.size());
  if (read.bytes < bytes.size()) {
    ReportErrorCode(0, kMsgDefault, kModule, kFunction, read.error != 0 ? read.error : EIO,
                    "Read File Error FileName=[%s], ErrMsg = ", path.c_str());
    return std::nullopt;
  }
  return bytes;
}

}  // namespace

ImageFormat SniffImageFormat(std::string_view head) {
  if (head.starts_with("\x89PNG\r\n\x1a\n")) return ImageFormat::Png;
  if (head.starts_with("\xFF\xD8\xFF")) return ImageFormat::Jpeg;
  if (head.starts_with("BM")) return ImageFormat::Bmp;
  return ImageFormat::Unknown;
}

std::optional<GreyImage> ReadGreyImage(const std::string& path) {
  const auto file = ReadWholeFile(path);
  if (!file) return std::nullopt;
  if (file->empty()) {
    ReportResString(0, kMsgDefault, kModule, kFunction, kStringFileEmpty, path.c_str());
    return std::nullopt;
  }
  GreyImage image;
  ReadStatus status = ReadStatus::Damaged;
  const std::string_view head(reinterpret_cast<const char*>(file->data()),
                              std::min<std::size_t>(file->size(), 8));
  switch (SniffImageFormat(head)) {
    case ImageFormat::Png:
      status = ReadPng(*file, image);
      break;
    case ImageFormat::Jpeg:
      status = ReadJpeg(*file, image);
      break;
    case ImageFormat::Bmp:
      status = ReadBmp(*file, image);
      break;
    case ImageFormat::Unknown:
      break;
  }
  switch (status) {
    case ReadStatus::Ok:
      return image;
    case ReadStatus::TooLarge:
      ReportResString(0, kMsgDefault, kModule, kFunction, kStringImageTooLarge, path.c_str());
      break;
    case ReadStatus::Unsupported:
      ReportResString(0, kMsgDefault, kModule, kFunction, kStringBmpUnsupported, path.c_str());
      break;
    case ReadStatus::Damaged:
      ReportResString(0, kMsgDefault, kModule, kFunction, kStringImageDamaged, path.c_str());
      break;
  }
  return std::nullopt;
}

int ImageImport::Initialize(LogFile* systemLog) {
  m_systemLog = systemLog;
  TiffLib::Initialize();
  m_initialized = true;
  return 1;
}

int ImageImport::Image2Tiff(const std::string& sourceFile, TiffFile& tif, std::uint32_t* pagesOut) {
  if (pagesOut != nullptr) *pagesOut = 0;
  if (!m_initialized || sourceFile.empty() || tif.get() == nullptr) return 0;
  const std::optional<GreyImage> image = ReadGreyImage(sourceFile);
  if (!image) return 0;
  return Grey2Tiff(*image, sourceFile, tif, pagesOut);
}

int ImageImport::Grey2Tiff(const GreyImage& image, const std::string& name, TiffFile& tif,
                           std::uint32_t* pagesOut) {
  if (pagesOut != nullptr) *pagesOut = 0;
  if (!m_initialized || tif.get() == nullptr) return 0;
  if (!SizeAllowed(image.width, image.height) ||
      image.pixels.size() != std::size_t{image.width} * image.height) {
    ReportResString(0, kMsgDefault, kModule, kFunction, kStringImageDamaged, name.c_str());
    return 0;
  }
  const FaxPageFormat format = FaxPageFormat::Of(m_layout);
  // Fitted to the width with its shape kept on paper: columns are 204 per inch
  // and fine rows 196, and a normal page has half the rows of a fine one.
  const std::uint64_t across = std::uint64_t{image.width} * format.xResolution;
  const std::uint64_t fineRows =
      (std::uint64_t{image.height} * format.width * format.resolution + across / 2) / across;
  const std::uint64_t rows =
      std::max<std::uint64_t>(1, format.normal ? (fineRows + 1) / 2 : fineRows);
  if (rows > std::uint64_t{format.rows} * kMaxFaxPagesPerImage) {
    ReportResString(0, kMsgDefault, kModule, kFunction, kStringImageTooLarge, name.c_str());
    return 0;
  }
  GreyHistogram histogram;
  histogram.Add(image.pixels);
  Ditherer ditherer(format.width, histogram.Kind(), format.normal);
  const GreyScaler scaler(image.width, image.height, format.width,
                          static_cast<std::uint32_t>(rows));
  FaxPageWriter writer(tif, m_systemLog);
  std::vector<std::uint8_t> grey(format.width);
  std::vector<std::uint8_t> faxRow((std::size_t{format.width} + 7) / 8);
  std::vector<const std::uint8_t*> sourceRows;
  auto done = [&](int result) {
    writer.AbandonPage();
    if (pagesOut != nullptr) *pagesOut = writer.PagesWritten();
    return result;
  };
  {
    FaxPageSplitter splitter(writer, format, static_cast<std::uint32_t>(rows));
    for (std::uint32_t y = 0; y < rows; ++y) {
      sourceRows.clear();
      for (std::uint32_t r = scaler.FirstSourceRow(y); r < scaler.LastSourceRow(y); ++r)
        sourceRows.push_back(image.pixels.data() + std::size_t{r} * image.width);
      scaler.ScaleRows(sourceRows, grey.data());
      ditherer.Row(grey.data(), faxRow.data());
      if (!splitter.Row(faxRow.data())) return done(0);
    }
    if (!splitter.Finish()) return done(0);
  }
  return done(1);
}

int ConfigureImageImport(ImageImport& importer, const ConvertOptions& options) {
  Tif2Tif paper;
  if (ConfigureTif2Tif(paper, options) != 1) return 0;
  importer.SetLayout(paper.Layout());
  return 1;
}

}  // namespace vexo
