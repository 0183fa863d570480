#include "document/txt2tif_paper.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "base/error_pool.h"
#include "base/log_file.h"
#include "document/tiff_update.h"

namespace vexo {
namespace {

constexpr const char* kScanlineFailed =
    "CTIFFWriteScanline failed, ref to error pool for detail information";
constexpr const char* kMarker = "VEXO";
constexpr mode_t kFileMode = 0644;
// Coded bytes reserved per row ahead of coding (a text row codes to a few bytes).
constexpr std::size_t kReservePerRow = 16;

}  // namespace

const PaperInfo* FindPaper(std::uint32_t id) {
  for (const PaperInfo& paper : kPaperTable)
    if (paper.id == id) return &paper;
  return nullptr;
}

std::uint32_t PaperPixels(std::uint32_t tenthsOfMm, std::uint32_t resolution) {
  return static_cast<std::uint32_t>((std::uint64_t{tenthsOfMm} * resolution + 127) / 254);
}

int PaperLayout::SetPaper(const PaperInfo& params, std::uint32_t mask) {
  PaperInfo paper = m_paper;
  if (mask & PAPER_ID) {
    const PaperInfo* row = FindPaper(params.id);
    if (row == nullptr) return 0;
    paper = *row;
  }
  if (mask & PAPER_WIDTH) paper.width = params.width;
  if (mask & PAPER_HEIGHT) paper.height = params.height;
  if (mask & PAPER_TOP) paper.top = params.top;
  if (mask & PAPER_BOTTOM) paper.bottom = params.bottom;
  if (mask & PAPER_LEFT) paper.left = params.left;
  if (mask & PAPER_RIGHT) paper.right = params.right;
  const std::uint64_t across = std::uint64_t{paper.left} + paper.right;
  const std::uint64_t down = std::uint64_t{paper.top} + paper.bottom;
  if (paper.width < 2 * across || paper.height < 2 * down || paper.height == 0 ||
      paper.height > kMaxPaperHeight)
    return 0;
  Apply(paper);
  return 1;
}

void PaperLayout::Apply(const PaperInfo& paper) {
  m_paper = paper;
  const std::uint32_t y = paper.rowsPerInch;
  const std::uint32_t x = XResolution();
  const auto paperWidth = static_cast<int>(PaperPixels(paper.width, x));
  m_width = static_cast<int>(kFaxPageWidth);
  m_paperLeft = std::max(0, (m_width - paperWidth) / 2);
  m_height = static_cast<int>(PaperPixels(paper.height, y));
  m_top = static_cast<int>(PaperPixels(paper.top, y));
  m_bottom = static_cast<int>(PaperPixels(paper.bottom, y));
  m_left = m_paperLeft + static_cast<int>(PaperPixels(paper.left, x));
  m_right = m_paperLeft + static_cast<int>(PaperPixels(paper.right, x));
}

std::uint32_t PaperLayout::StoredRows() const {
  const auto rows = static_cast<std::uint32_t>(m_height);
  return IsNormal() ? (rows + 1) / 2 : rows;
}

FaxPageFormat FaxPageFormat::Of(const PaperLayout& layout) {
  FaxPageFormat format;
  format.width = static_cast<std::uint32_t>(layout.Width());
  format.rows = layout.StoredRows();
  format.resolution = layout.Resolution();
  format.normal = layout.IsNormal();
  format.xResolution = PaperLayout::XResolution();
  return format;
}

// ---- FaxPageWriter ----

FaxPageWriter::FaxPageWriter(TiffFile& tif, LogFile* systemLog)
    : m_tif(tif), m_systemLog(systemLog) {}

bool FaxPageWriter::BeginPage(const FaxPageFormat& format) {
  AbandonPage();
  m_format = format;
  StripCoding coding;
  coding.width = format.width;
  coding.xResolution = {format.xResolution, 1};
  coding.yResolution = {format.resolution, format.normal ? 2u : 1u};
  m_encoder.emplace(coding);
  if (format.rows == 0 || !m_encoder->Begin(format.rows, format.rows * kReservePerRow)) {
    m_encoder.reset();
    return false;
  }
  m_blank.assign(m_encoder->RowBytes(), 0);
  m_row = 0;
  m_open = true;
  return true;
}

bool FaxPageWriter::ScanlineFailed() {
  if (m_systemLog != nullptr)
    m_systemLog->WriteLine(nullptr, 0, kScanlineFailed);
  else
    DebugOutput(kScanlineFailed);
  AbandonPage();
  return false;
}

bool FaxPageWriter::WriteRow(const std::uint8_t* row) {
  if (!m_open) return false;
  if (m_row >= m_format.rows) return true;
  if (!m_encoder->WriteScanline(row, m_row)) return ScanlineFailed();
  ++m_row;
  return true;
}

bool FaxPageWriter::WriteBlankRows(std::uint32_t count) {
  for (std::uint32_t i = 0; i < count && m_open && m_row < m_format.rows; ++i)
    if (!WriteRow(m_blank.data())) return false;
  return m_open;
}

bool FaxPageWriter::EndPage() {
  if (!m_open || !WriteBlankRows(RowsLeft())) return false;
  std::optional<std::vector<std::uint8_t>> coded = m_encoder->Finish();
  AbandonPage();
  if (!coded || coded->size() > static_cast<std::size_t>(std::numeric_limits<tmsize_t>::max()))
    return false;
  TIFF* t = m_tif.get();
  const float x = static_cast<float>(m_format.xResolution);
  const float fine = static_cast<float>(m_format.resolution);
  const float y = m_format.normal ? fine / 2 : fine;
  const bool ok = TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) == 1 &&
                  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, m_format.width) == 1 &&
                  TIFFSetField(t, TIFFTAG_IMAGELENGTH, m_format.rows) == 1 &&
                  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1) == 1 &&
                  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3) == 1 &&
                  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) == 1 &&
                  TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB) == 1 &&
                  TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) == 1 &&
                  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1) == 1 &&
                  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, m_format.rows) == 1 &&
                  TIFFSetField(t, TIFFTAG_XRESOLUTION, x) == 1 &&
                  TIFFSetField(t, TIFFTAG_YRESOLUTION, y) == 1 &&
                  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
                  TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, 0) == 1 &&
                  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) == 1 &&
                  TIFFSetField(t, TIFFTAG_PAGENUMBER, std::uint16_t{0}, std::uint16_t{0}) == 1 &&
                  TIFFSetField(t, TIFFTAG_SOFTWARE, kMarker) == 1 &&
                  TIFFWriteRawStrip(t, 0, coded->data(), static_cast<tmsize_t>(coded->size())) ==
                      static_cast<tmsize_t>(coded->size()) &&
                  TIFFWriteDirectory(t) == 1;
  if (ok) ++m_pages;
  return ok;
}

void FaxPageWriter::AbandonPage() {
  m_encoder.reset();
  m_open = false;
}

// ---- FaxOutputFile ----

FaxOutputFile::~FaxOutputFile() {
  if (m_tiff) Close();
}

int FaxOutputFile::Open(const std::string& path, CreateMode mode) {
  m_tiff.reset();
  m_path = path;
  m_pages = 0;
  const int flags =
      O_RDWR | O_CREAT | O_CLOEXEC | (mode == CreateMode::Exclusive ? O_EXCL : O_TRUNC);
  UniqueFd fd(::open(path.c_str(), flags, kFileMode));
  if (!fd.valid()) {
    ReportErrorCode(0, kMsgDefault, "TiffOper", "CreateFile", errno,
                    "Open File Error FileName=[%s], ErrMsg = ", path.c_str());
    return 0;
  }
  m_tiff = TIFFOpenHandle(std::move(fd), path, "w");
  if (!m_tiff) {
    ::unlink(path.c_str());
    return 0;
  }
  return 1;
}

int FaxOutputFile::Close() {
  if (!m_tiff) return 0;
  UniqueFd keep(::dup(m_tiff->fd()));
  const int dupError = errno;
  m_tiff.reset();  // libtiff writes what it still holds and closes its descriptor
  if (!keep.valid()) {
    ReportErrorCode(0, kMsgDefault, "TiffOper", "CreateFile", dupError,
                    "Open File Error FileName=[%s], ErrMsg = ", m_path.c_str());
    return 0;
  }
  if (m_pages == 0) return 1;
  // PageNumber holds 16 bits; a longer document still gets a total that is not wrapped round.
  const auto total = static_cast<std::uint16_t>(std::min<std::uint32_t>(m_pages, 0xFFFF));
  const int ok = TIFFUpdateAllPageNum(keep.get(), m_path, total);
  if (::fsync(keep.get()) != 0) return 0;
  return ok == 1 ? 1 : 0;
}

void FaxOutputFile::Discard() {
  m_tiff.reset();
  if (!m_path.empty()) ::unlink(m_path.c_str());
  m_pages = 0;
}

}  // namespace vexo
