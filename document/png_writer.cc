#include "document/png_writer.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstring>

namespace vexo {
namespace {

constexpr double kMetresPerInch = 0.0254;

// libpng's errors jump back into the call that caused them.
[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
  auto* error = static_cast<std::string*>(png_get_error_ptr(png));
  if (error != nullptr) *error = message != nullptr ? message : "libpng error";
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

std::uint32_t PixelsPerMetre(std::uint32_t ppi) {
  return static_cast<std::uint32_t>(ppi / kMetresPerInch + 0.5);
}

}  // namespace

PngWriter::~PngWriter() { Release(); }

void PngWriter::Release() {
  if (m_png != nullptr) {
    auto png = static_cast<png_structp>(m_png);
    auto info = static_cast<png_infop>(m_info);
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
  }
  m_png = m_info = nullptr;
  if (m_file != nullptr) std::fclose(m_file);
  m_file = nullptr;
}

bool PngWriter::Fail(const std::string& reason) {
  if (!reason.empty()) m_error = reason;
  Release();
  return false;
}

bool PngWriter::Open(const std::string& path, std::uint32_t width, std::uint32_t height,
                     std::uint32_t xPixelsPerInch, std::uint32_t yPixelsPerInch) {
  Release();
  m_error.clear();
  if (width == 0 || height == 0 || width > PNG_UINT_31_MAX || height > PNG_UINT_31_MAX)
    return Fail("image size out of range");
  m_file = std::fopen(path.c_str(), "wbe");
  if (m_file == nullptr) return Fail(path + ": " + std::strerror(errno));
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, &m_error, OnPngError, OnPngWarning);
  if (png == nullptr) return Fail("out of memory");
  m_png = png;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) return Fail("out of memory");
  m_info = info;
  if (setjmp(png_jmpbuf(png)) != 0) return Fail("");
  png_init_io(png, m_file);
  png_set_IHDR(png, info, width, height, 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (xPixelsPerInch != 0 && yPixelsPerInch != 0)
    png_set_pHYs(png, info, PixelsPerMetre(xPixelsPerInch), PixelsPerMetre(yPixelsPerInch),
                 PNG_RESOLUTION_METER);
  png_write_info(png, info);
  m_width = width;
  m_height = height;
  m_rows = 0;
  m_row.assign((width + 7) / 8, 0);
  return true;
}

bool PngWriter::WriteRow(const std::uint8_t* faxRow) {
  if (m_png == nullptr || m_rows >= m_height) return false;
  // In a grey PNG 0 is black: the fax row's bits are inverted.
  for (std::size_t i = 0; i < m_row.size(); ++i) m_row[i] = static_cast<std::uint8_t>(~faxRow[i]);
  auto png = static_cast<png_structp>(m_png);
  if (setjmp(png_jmpbuf(png)) != 0) return Fail("");
  png_write_row(png, m_row.data());
  ++m_rows;
  return true;
}

bool PngWriter::Close() {
  if (m_png == nullptr) return false;
  std::fill(m_row.begin(), m_row.end(), 0xFF);
  auto png = static_cast<png_structp>(m_png);
  if (setjmp(png_jmpbuf(png)) != 0) return Fail("");
  for (; m_rows < m_height; ++m_rows) png_write_row(png, m_row.data());
  png_write_end(png, static_cast<png_infop>(m_info));
  std::FILE* file = m_file;
  m_file = nullptr;
  Release();
  const bool ok = std::fflush(file) == 0 && std::ferror(file) == 0;
  return (std::fclose(file) == 0 && ok) || Fail("write failed");
}

}  // namespace vexo
