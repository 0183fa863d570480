#include "ui/viewer/fax_page_file.h"

#include <fcntl.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>

#include "base/error_pool.h"
#include "platform/posix/unique_fd.h"

namespace vexo::ui {

bool IsSystemFaxPage(const ViewerTags& tags) {
  return ::strcasecmp(tags.software.c_str(), "VEXO") == 0 && tags.newSubfileType == 2 &&
         tags.pageTotal != 0 && tags.bitsPerSample == 1 && tags.compression == 3 &&
         tags.fillOrder == 1 && tags.samplesPerPixel == 1 && tags.resolutionUnit == 2;
}

double RowScaleOf(const ViewerTags& tags) {
  // Fax rows run from 49 (a quarter of normal) to 392 (superfine) per inch
  // against 204 to 408 pixels across.
  constexpr double kLowest = 0.25;
  constexpr double kHighest = 8.0;
  if (!(tags.xResolution > 0) || !(tags.yResolution > 0)) return 1.0;
  const double scale = static_cast<double>(tags.xResolution) / tags.yResolution;
  return scale >= kLowest && scale <= kHighest ? scale : 1.0;
}

bool FaxPageFile::Open(const std::string& path) {
  Close();
  m_path = path;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    ReportErrorCode(0, kMsgDefault, kViewerModule, "ShowTiff", errno,
                    "Open File Error FileName=[%s], ErrMsg = ", path.c_str());
    return false;
  }
  m_tiff = TIFFOpenHandle(std::move(fd), path, "r");
  if (!m_tiff) return false;
  ReadTags();
  m_total = m_tags.pageTotal != 0 ? m_tags.pageTotal : TIFFNumberOfDirectories(m_tiff->get());
  m_tags.pageTotal = static_cast<std::uint16_t>(std::min<std::uint32_t>(m_total, 0xFFFF));
  return true;
}

void FaxPageFile::Close() {
  m_tiff.reset();
  m_tags = {};
  m_total = 0;
  m_selected = 0;
}

bool FaxPageFile::SelectPage(std::uint32_t index) {
  if (!m_tiff || index >= m_total || index > 0xFFFF) return false;
  if (index == m_selected) return true;
  if (TIFFSetDirectory(m_tiff->get(), static_cast<tdir_t>(index)) != 1) {
    // Back to the page still shown, so its tags and data stay readable.
    TIFFSetDirectory(m_tiff->get(), static_cast<tdir_t>(m_selected));
    return false;
  }
  m_selected = index;
  const std::uint32_t total = m_total;
  ReadTags();
  // Later pages may carry no total; the file's total is what the check needs.
  if (m_tags.pageTotal == 0) m_tags.pageTotal = static_cast<std::uint16_t>(total);
  return true;
}

void FaxPageFile::ReadTags() {
  TIFF* t = m_tiff->get();
  ViewerTags tags;
  std::uint16_t photometric = 0;
  std::uint16_t page = 0, total = 0;
  char* software = nullptr;
  TIFFGetField(t, TIFFTAG_SUBFILETYPE, &tags.newSubfileType);
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &tags.imageWidth);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &tags.imageLength);
  TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &tags.bitsPerSample);
  TIFFGetField(t, TIFFTAG_COMPRESSION, &tags.compression);
  TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
  tags.photometricInverted = photometric == 0 ? 1 : 0;
  TIFFGetField(t, TIFFTAG_FILLORDER, &tags.fillOrder);
  TIFFGetField(t, TIFFTAG_ORIENTATION, &tags.orientation);
  TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &tags.samplesPerPixel);
  TIFFGetField(t, TIFFTAG_ROWSPERSTRIP, &tags.rowsPerStrip);
  TIFFGetField(t, TIFFTAG_XRESOLUTION, &tags.xResolution);
  TIFFGetField(t, TIFFTAG_YRESOLUTION, &tags.yResolution);
  TIFFGetField(t, TIFFTAG_PLANARCONFIG, &tags.planarConfig);
  TIFFGetField(t, TIFFTAG_GROUP3OPTIONS, &tags.group3Options);
  TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &tags.resolutionUnit);
  if (TIFFGetField(t, TIFFTAG_PAGENUMBER, &page, &total) == 1) {
    tags.pageIndex = page;
    tags.pageTotal = total;
  }
  if (TIFFGetField(t, TIFFTAG_SOFTWARE, &software) == 1 && software != nullptr)
    tags.software = software;
  m_tags = tags;
}

std::optional<ViewerPage> FaxPageFile::Decode() {
  if (!m_tiff) return std::nullopt;
  TIFF* t = m_tiff->get();
  const int number = static_cast<int>(m_selected) + 1;
  ViewerPage page;
  page.width = m_tags.imageWidth;
  page.rows = m_tags.imageLength;
  page.rowScale = RowScaleOf(m_tags);
  if (page.width == 0 || page.width > kMaxFaxWidth || page.rows == 0 ||
      page.rows > kMaxViewerRows) {
    ReportError(0, kMsgDefault, kViewerModule, "DecodePage",
                "Page %d of %s has an impossible size (%u x %u).", number, m_path.c_str(),
                page.width, page.rows);
    return std::nullopt;
  }
  const std::size_t rowBytes = page.RowBytes();
  const tmsize_t scanline = TIFFScanlineSize(t);
  if (scanline <= 0) {
    ReportError(0, kMsgDefault, kViewerModule, "DecodePage", "Page %d of %s cannot be decoded.",
                number, m_path.c_str());
    return std::nullopt;
  }
  std::vector<std::uint8_t> row(std::max(static_cast<std::size_t>(scanline), rowBytes));
  page.bits.assign(rowBytes * page.rows, 0);
  // PhotometricInterpretation 0 (the system's own) already has 1 for black.
  const std::uint8_t flip = m_tags.photometricInverted ? 0x00 : 0xFF;
  for (std::uint32_t r = 0; r < page.rows; ++r) {
    if (TIFFReadScanline(t, row.data(), r, 0) != 1) {
      ReportError(0, kMsgDefault, kViewerModule, "DecodePage", "Page %d of %s cannot be decoded.",
                  number, m_path.c_str());
      return std::nullopt;
    }
    std::uint8_t* out = page.bits.data() + r * rowBytes;
    for (std::size_t i = 0; i < rowBytes; ++i) out[i] = row[i] ^ flip;
    if (page.width % 8 != 0)
      out[rowBytes - 1] &= static_cast<std::uint8_t>(0xFF << (8 - page.width % 8));
  }
  return page;
}

}  // namespace vexo::ui
