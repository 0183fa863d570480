// Received and sent faxes as PDF and PNG: FaxPageReader decodes the pages of a
// fax TIFF (or any black-and-white TIFF) row by row with libtiff, PdfWriter
// writes a small PDF whose pages each hold one CCITT Group 4 image at the page's
// physical size, and ExportFaxToPdf / ExportFaxToPng join them for `vexo
// export`. A PDF is written to a side file and renamed into place, so a failed
// export never leaves a partial file. Reports carry the module name "PdfExport".
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "document/page_geometry.h"
#include "document/tiff_lib.h"

namespace vexo {

// The tallest page read (a page longer than this is refused as damaged).
constexpr std::uint32_t kMaxExportRows = 1u << 16;
// The resolution assumed across when a page states none; down, the same.
constexpr double kDefaultFaxDpi = kFaxXResolution;

// One decoded page: rows of (width + 7) / 8 bytes, bit 1 black.
struct DecodedPage {
  std::uint32_t width = 0;
  std::uint32_t rows = 0;
  double xDpi = kDefaultFaxDpi;
  double yDpi = kDefaultFaxDpi;
  std::vector<std::uint8_t> bits;
};

class FaxPageReader {
 public:
  // Opens path for reading. False after a report.
  bool Open(const std::string& path);
  // The next page, or nullopt at the end (Failed() tells a bad page from the end).
  std::optional<DecodedPage> Next();
  bool Failed() const { return m_failed; }

 private:
  std::unique_ptr<TiffFile> m_tiff;
  std::string m_path;
  bool m_started = false;
  bool m_failed = false;
};

// Writes a PDF of one-bit pages, each embedded as CCITT Group 4 data.
class PdfWriter {
 public:
  PdfWriter() = default;
  ~PdfWriter();
  PdfWriter(const PdfWriter&) = delete;
  PdfWriter& operator=(const PdfWriter&) = delete;

  // Creates path (replacing it); false after a report.
  bool Open(const std::string& path);
  // A page of widthPoints x heightPoints showing the coded image.
  bool AddPage(std::uint32_t width, std::uint32_t rows, double widthPoints, double heightPoints,
               const std::vector<std::uint8_t>& g4);
  // Writes the page tree, cross-reference table and trailer and closes the file.
  bool Finish();
  std::uint32_t Pages() const { return static_cast<std::uint32_t>(m_pageObjects.size()); }

 private:
  std::uint32_t BeginObject();
  bool Write(const std::string& text);
  bool Write(const std::vector<std::uint8_t>& bytes);
  bool Fail();

  std::unique_ptr<std::FILE, int (*)(std::FILE*)> m_file{nullptr, std::fclose};
  std::string m_path;
  std::uint64_t m_offset = 0;
  std::vector<std::uint64_t> m_objectOffsets;  // by object number - 1
  std::vector<std::uint32_t> m_pageObjects;
  bool m_ok = true;
};

// A number as PDF writes it: fixed point, at most four decimals, "." always.
std::string PdfNumber(double value);

// Every page of tiffFile as one PDF at pdfFile. 1, or 0 after a report with
// no pdfFile left behind (an existing one stays as it was). *pagesOut gets the pages.
int ExportFaxToPdf(const std::string& tiffFile, const std::string& pdfFile,
                   std::uint32_t* pagesOut);
// Every page as dir/page-001.png, ... (rows repeated on normal pages, so the
// picture keeps its shape). 1, or 0 after a report; the written files in *files.
int ExportFaxToPng(const std::string& tiffFile, const std::string& dir,
                   std::vector<std::string>* files);

}  // namespace vexo
