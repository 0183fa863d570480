// The fax file the viewer shows: opened once, its pages selected by number,
// each page's tags read and checked (only pages this system wrote are shown),
// and the selected page decoded with libtiff into one-bit rows. No Qt here.
// Reports go under the viewer's module "TiffEditor".
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "document/tiff_lib.h"

namespace vexo::ui {

constexpr const char* kViewerModule = "TiffEditor";
constexpr const char* kForeignTiffMessage =
    "Tiff format not support, please use tiff created by Vexo itself";
// Pages taller than this are taken as damaged (a metre of paper at fine
// resolution is about 7800 rows).
constexpr std::uint32_t kMaxViewerRows = 1u << 16;

// The tag set of one page, in the order the viewer reads it.
struct ViewerTags {
  std::uint32_t newSubfileType = 0;
  std::uint32_t imageWidth = 0;
  std::uint32_t imageLength = 0;
  std::uint16_t bitsPerSample = 0;
  std::uint16_t compression = 0;
  std::uint16_t photometricInverted = 0;  // 1 for PhotometricInterpretation 0, else 0
  std::uint16_t fillOrder = 0;
  std::uint16_t orientation = 0;
  std::uint16_t samplesPerPixel = 0;
  std::uint32_t rowsPerStrip = 0;
  float xResolution = 0;
  float yResolution = 0;
  std::uint16_t planarConfig = 0;
  std::uint32_t group3Options = 0;
  std::uint16_t resolutionUnit = 0;
  std::uint16_t pageIndex = 0;
  std::uint16_t pageTotal = 0;
  std::string software;
};

// True for a page of a fax file of this system: Software "VEXO" (any case),
// NewSubfileType 2, a page total, one bit per sample in one sample, CCITT
// Group 3, FillOrder 1 and resolution in inches.
bool IsSystemFaxPage(const ViewerTags& tags);

// The resolutions' ratio a page's rows are shown at; 1 when a resolution is
// missing or the two are further apart than any fax page's (damaged tags).
double RowScaleOf(const ViewerTags& tags);

// One decoded page: rows of (width + 7) / 8 bytes, leftmost pixel in the most
// significant bit, bit 1 black.
struct ViewerPage {
  std::uint32_t width = 0;
  std::uint32_t rows = 0;
  // How much taller a row is than a pixel is wide (XResolution over
  // YResolution): about 2 on a normal page, 1.04 on a fine one.
  double rowScale = 1.0;
  std::vector<std::uint8_t> bits;
  std::size_t RowBytes() const { return (std::size_t{width} + 7) / 8; }
};

class FaxPageFile {
 public:
  // Opens path read-only and reads the tag set of its first page. False after
  // "Open File Error FileName=[%s], ErrMsg = " (function "ShowTiff") or a
  // libtiff report.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return m_tiff != nullptr; }
  const std::string& Path() const { return m_path; }

  // The pages of the file: the first page's total, or the number of
  // directories when it holds none.
  std::uint32_t PageTotal() const { return m_total; }
  // Selects page index (from 0) and reads its tags; false when there is no
  // such page (the selected page stays).
  bool SelectPage(std::uint32_t index);
  std::uint32_t SelectedPage() const { return m_selected; }
  const ViewerTags& Tags() const { return m_tags; }

  // Decodes the selected page; nullopt after a report (function "DecodePage").
  std::optional<ViewerPage> Decode();

 private:
  void ReadTags();

  std::string m_path;
  std::unique_ptr<TiffFile> m_tiff;
  ViewerTags m_tags;
  std::uint32_t m_total = 0;
  std::uint32_t m_selected = 0;
};

}  // namespace vexo::ui
