// Writes one-bit images as PNG files through libpng, row by row, so that a fax
// page is never held whole in memory. `vexo preview` writes every page of a fax
// TIFF with it, for a person to look at what will be sent.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vexo {

class PngWriter {
 public:
  PngWriter() = default;
  ~PngWriter();
  PngWriter(const PngWriter&) = delete;
  PngWriter& operator=(const PngWriter&) = delete;

  // Creates path for a width x height one-bit greyscale image; pixelsPerInch
  // (0: not stated) go into the pHYs chunk. False with the reason in Error().
  bool Open(const std::string& path, std::uint32_t width, std::uint32_t height,
            std::uint32_t xPixelsPerInch, std::uint32_t yPixelsPerInch);
  // One row of (width + 7) / 8 bytes, most significant bit first, bit 1 black
  // (as fax rows are).
  bool WriteRow(const std::uint8_t* faxRow);
  // Writes the end of the image (rows not written are white) and closes the file.
  bool Close();
  const std::string& Error() const { return m_error; }

 private:
  bool Fail(const std::string& reason);
  void Release();

  std::FILE* m_file = nullptr;
  void* m_png = nullptr;   // png_structp
  void* m_info = nullptr;  // png_infop
  std::uint32_t m_width = 0, m_height = 0, m_rows = 0;
  std::vector<std::uint8_t> m_row;
  std::string m_error;
};

}  // namespace vexo
