#include "document/pdf_export.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "base/error_pool.h"
#include "document/png_writer.h"

namespace vexo {
namespace {

constexpr const char* kModule = "PdfExport";
constexpr double kPointsPerInch = 72.0;
constexpr double kCentimetresPerInch = 2.54;
constexpr std::uint32_t kCatalogObject = 1;
constexpr std::uint32_t kPagesObject = 2;
constexpr std::uint32_t kMaxRowRepeat = 4;
// Written after the header line, so that file transfer programs see binary data.
constexpr const char* kPdfHeader = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";

double DpiOf(TiffFile& tif, ttag_t tag, std::uint16_t unit) {
  const auto r = TIFFGetRational(tif, tag);
  if (!r || r->num == 0 || r->den == 0) return 0;
  const double value = static_cast<double>(r->num) / r->den;
  return unit == RESUNIT_CENTIMETER ? value * kCentimetresPerInch : value;
}

}  // namespace

std::string PdfNumber(double value) {
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 4);
  std::string text(buffer, result.ptr);
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  return text == "-0" ? "0" : text;
}

bool FaxPageReader::Open(const std::string& path) {
  m_path = path;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    ReportErrorCode(0, kMsgDefault, kModule, "Open", errno,
                    "Open File Error FileName=[%s], ErrMsg = ", path.c_str());
    return false;
  }
  m_tiff = TIFFOpenHandle(std::move(fd), path, "r");
  return m_tiff != nullptr;
}

std::optional<DecodedPage> FaxPageReader::Next() {
  if (!m_tiff || m_failed) return std::nullopt;
  if (m_started && TIFFReadDirectory(m_tiff->get()) != 1) return std::nullopt;
  m_started = true;
  TIFF* t = m_tiff->get();
  DecodedPage page;
  std::uint16_t bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISWHITE, unit = RESUNIT_INCH;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &page.width);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &page.rows);
  TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &unit);
  const int index = TIFFCurrentDirectory(t) + 1;
  if (bits != 1 || samples != 1 || page.width == 0 || page.width > kMaxFaxWidth || page.rows == 0 ||
      page.rows > kMaxExportRows) {
    ReportError(0, kMsgDefault, kModule, "ReadPage",
                "Page %d of %s is not a black-and-white fax page.", index, m_path.c_str());
    m_failed = true;
    return std::nullopt;
  }
  const double x = DpiOf(*m_tiff, TIFFTAG_XRESOLUTION, unit);
  const double y = DpiOf(*m_tiff, TIFFTAG_YRESOLUTION, unit);
  page.xDpi = x > 0 ? x : kDefaultFaxDpi;
  page.yDpi = y > 0 ? y : page.xDpi;
  const std::size_t rowBytes = (std::size_t{page.width} + 7) / 8;
  std::vector<std::uint8_t> row(
      std::max<std::size_t>(static_cast<std::size_t>(TIFFScanlineSize(t)), rowBytes));
  page.bits.assign(rowBytes * page.rows, 0);
  const std::uint8_t flip = photometric == PHOTOMETRIC_MINISBLACK ? 0xFF : 0x00;
  for (std::uint32_t r = 0; r < page.rows; ++r) {
    if (TIFFReadScanline(t, row.data(), r, 0) != 1) {
      ReportError(0, kMsgDefault, kModule, "ReadPage", "Page %d of %s cannot be decoded.", index,
                  m_path.c_str());
      m_failed = true;
      return std::nullopt;
    }
    std::uint8_t* out = page.bits.data() + r * rowBytes;
    for (std::size_t i = 0; i < rowBytes; ++i) out[i] = row[i] ^ flip;
    if (page.width % 8 != 0)
      out[rowBytes - 1] &= static_cast<std::uint8_t>(0xFF << (8 - page.width % 8));
  }
  return page;
}

PdfWriter::~PdfWriter() {
  if (m_file) {
    m_file.reset();
    std::remove(m_path.c_str());
  }
}

bool PdfWriter::Open(const std::string& path) {
  m_path = path;
  m_file.reset(std::fopen(path.c_str(), "wb"));
  if (!m_file) {
    ReportErrorCode(0, kMsgDefault, kModule, "Open", errno,
                    "Open File Error FileName=[%s], ErrMsg = ", path.c_str());
    return false;
  }
  m_objectOffsets.assign(kPagesObject, 0);
  return Write(kPdfHeader);
}

bool PdfWriter::Fail() {
  if (m_ok)
    ReportErrorCode(0, kMsgDefault, kModule, "Write", errno,
                    "Write File Error FileName=[%s], ErrMsg = ", m_path.c_str());
  m_ok = false;
  return false;
}

bool PdfWriter::Write(const std::string& text) {
  if (!m_ok || !m_file) return false;
  if (std::fwrite(text.data(), 1, text.size(), m_file.get()) != text.size()) return Fail();
  m_offset += text.size();
  return true;
}

bool PdfWriter::Write(const std::vector<std::uint8_t>& bytes) {
  if (!m_ok || !m_file) return false;
  if (std::fwrite(bytes.data(), 1, bytes.size(), m_file.get()) != bytes.size()) return Fail();
  m_offset += bytes.size();
  return true;
}

std::uint32_t PdfWriter::BeginObject() {
  m_objectOffsets.push_back(m_offset);
  return static_cast<std::uint32_t>(m_objectOffsets.size());
}

bool PdfWriter::AddPage(std::uint32_t width, std::uint32_t rows, double widthPoints,
                        double heightPoints, const std::vector<std::uint8_t>& g4) {
  const std::string w = std::to_string(width), h = std::to_string(rows);
  const std::uint32_t image = BeginObject();
  Write(
      std::to_string(image) + " 0 obj\n<< /Type /XObject /Subtype /Image /Width " + w +
      " /Height " + h +
      " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /CCITTFaxDecode /DecodeParms << /K -1 "
      "/Columns " +
      w + " /Rows " + h + " /BlackIs1 false >> /Length " + std::to_string(g4.size()) +
      " >>\nstream\n");
  Write(g4);
  Write("\nendstream\nendobj\n");
  const std::string content =
      "q " + PdfNumber(widthPoints) + " 0 0 " + PdfNumber(heightPoints) + " 0 0 cm /Im0 Do Q\n";
  const std::uint32_t contents = BeginObject();
  Write(std::to_string(contents) + " 0 obj\n<< /Length " + std::to_string(content.size()) +
        " >>\nstream\n" + content + "endstream\nendobj\n");
  const std::uint32_t page = BeginObject();
  m_pageObjects.push_back(page);
  return Write(std::to_string(page) + " 0 obj\n<< /Type /Page /Parent " +
               std::to_string(kPagesObject) + " 0 R /MediaBox [0 0 " + PdfNumber(widthPoints) +
               " " + PdfNumber(heightPoints) + "] /Resources << /XObject << /Im0 " +
               std::to_string(image) + " 0 R >> >> /Contents " + std::to_string(contents) +
               " 0 R >>\nendobj\n");
}

bool PdfWriter::Finish() {
  if (!m_file) return false;
  m_objectOffsets[kCatalogObject - 1] = m_offset;
  Write(std::to_string(kCatalogObject) + " 0 obj\n<< /Type /Catalog /Pages " +
        std::to_string(kPagesObject) + " 0 R >>\nendobj\n");
  m_objectOffsets[kPagesObject - 1] = m_offset;
  std::string kids;
  for (const std::uint32_t page : m_pageObjects) kids += std::to_string(page) + " 0 R ";
  Write(std::to_string(kPagesObject) + " 0 obj\n<< /Type /Pages /Kids [" + kids + "] /Count " +
        std::to_string(m_pageObjects.size()) + " >>\nendobj\n");
  const std::uint64_t xref = m_offset;
  std::string table =
      "xref\n0 " + std::to_string(m_objectOffsets.size() + 1) + "\n0000000000 65535 f \n";
  for (const std::uint64_t offset : m_objectOffsets) {
    char entry[24];
    std::snprintf(entry, sizeof entry, "%010llu 00000 n \n",
                  static_cast<unsigned long long>(offset));
    table += entry;
  }
  Write(table + "trailer\n<< /Size " + std::to_string(m_objectOffsets.size() + 1) + " /Root " +
        std::to_string(kCatalogObject) + " 0 R >>\nstartxref\n" + std::to_string(xref) +
        "\n%%EOF\n");
  if (!m_ok) return false;
  if (std::fflush(m_file.get()) != 0 || ::fsync(::fileno(m_file.get())) != 0) return Fail();
  if (std::fclose(m_file.release()) != 0) {
    std::remove(m_path.c_str());
    return Fail();
  }
  return true;
}

int ExportFaxToPdf(const std::string& tiffFile, const std::string& pdfFile,
                   std::uint32_t* pagesOut) {
  if (pagesOut != nullptr) *pagesOut = 0;
  FaxPageReader reader;
  if (!reader.Open(tiffFile)) return 0;
  const std::string side = pdfFile + ".part";
  PdfWriter writer;
  if (!writer.Open(side)) return 0;
  while (std::optional<DecodedPage> page = reader.Next()) {
    StripCoding coding;
    coding.width = page->width;
    coding.compression = COMPRESSION_CCITTFAX4;
    const auto g4 = EncodeFaxRows(coding, page->bits.data(), page->bits.size());
    if (!g4) return 0;
    if (!writer.AddPage(page->width, page->rows, page->width * kPointsPerInch / page->xDpi,
                        page->rows * kPointsPerInch / page->yDpi, *g4))
      return 0;
  }
  if (reader.Failed()) return 0;
  if (writer.Pages() == 0) {
    ReportError(0, kMsgDefault, kModule, "ExportFaxToPdf", "%s has no pages.", tiffFile.c_str());
    return 0;
  }
  const std::uint32_t pages = writer.Pages();
  if (!writer.Finish()) return 0;
  if (std::rename(side.c_str(), pdfFile.c_str()) != 0) {
    ReportErrorCode(0, kMsgDefault, kModule, "ExportFaxToPdf", errno,
                    "Rename File Error FileName=[%s], ErrMsg = ", pdfFile.c_str());
    std::remove(side.c_str());
    return 0;
  }
  if (pagesOut != nullptr) *pagesOut = pages;
  return 1;
}

int ExportFaxToPng(const std::string& tiffFile, const std::string& dir,
                   std::vector<std::string>* files) {
  FaxPageReader reader;
  if (!reader.Open(tiffFile)) return 0;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    ReportErrorCode(0, kMsgDefault, kModule, "ExportFaxToPng", ec.value(),
                    "Create Directory Error DirName=[%s], ErrMsg = ", dir.c_str());
    return 0;
  }
  int index = 0;
  while (std::optional<DecodedPage> page = reader.Next()) {
    char name[32];
    std::snprintf(name, sizeof name, "page-%03d.png", ++index);
    const std::string path = (std::filesystem::path(dir) / name).string();
    // Rows of a page with half (a third, a quarter) the resolution down are repeated.
    std::uint32_t repeat = 1;
    if (page->yDpi < page->xDpi)
      repeat = std::clamp<std::uint32_t>(
          static_cast<std::uint32_t>(std::lround(page->xDpi / page->yDpi)), 1, kMaxRowRepeat);
    PngWriter png;
    bool ok = png.Open(path, page->width, page->rows * repeat,
                       static_cast<std::uint32_t>(std::lround(page->xDpi)),
                       static_cast<std::uint32_t>(std::lround(page->yDpi * repeat)));
    const std::size_t rowBytes = (std::size_t{page->width} + 7) / 8;
    for (std::uint32_t r = 0; ok && r < page->rows; ++r)
      for (std::uint32_t i = 0; ok && i < repeat; ++i)
        ok = png.WriteRow(page->bits.data() + r * rowBytes);
    ok = png.Close() && ok;
    if (!ok) {
      ReportError(0, kMsgDefault, kModule, "ExportFaxToPng", "Write File Error FileName=[%s]: %s",
                  path.c_str(), png.Error().c_str());
      return 0;
    }
    if (files != nullptr) files->push_back(path);
  }
  return reader.Failed() ? 0 : 1;
}

}  // namespace vexo
