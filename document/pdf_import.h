// PdfImport turns every page of a PDF file into fax pages appended to an open
// fax TIFF: each page is rendered by poppler through cairo at the fax
// resolution (204 pixels per inch across; 196 or 98 rows down), scaled to fit
// the paper with its shape kept and centred on it (a page much longer than the
// paper is fitted to the 1728-pixel width and goes on over pages), made
// one-bit (threshold or halftone, chosen per page by ClassifyGrey's rule) and
// cut into pages as long pictures are. Locked, damaged and empty PDFs are
// refused before any page is written. The attachment conversion and `vexo
// import` use it; reports carry the module name "PdfImport".
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "document/convert_options.h"
#include "document/tiff_lib.h"
#include "document/txt2tif_paper.h"

namespace vexo {

class LogFile;

// User-interface strings of the refusals ("%s" is the file).
constexpr unsigned kStringPdfDamaged = 65400;
constexpr unsigned kStringPdfLocked = 65401;
constexpr unsigned kStringPdfNoPages = 65402;
constexpr unsigned kStringPdfPageTooLong = 65403;  // "%s", then the page number "%u"
constexpr unsigned kStringFileEmpty = 65406;

// A PDF page may make at most this many fax pages.
constexpr std::uint32_t kMaxFaxPagesPerPdfPage = 8;
// PDF files with more pages are refused as damaged.
constexpr int kMaxPdfPages = 10000;

class PdfImport {
 public:
  // Asked before each page: true stops (result -1).
  using CancelFn = std::function<bool()>;

  // systemLog (may be null: the debug output) gets the row-write failure lines.
  int Initialize(LogFile* systemLog = nullptr);
  // The paper the pages are laid out on (see ConfigurePdfImport).
  void SetLayout(const PaperLayout& layout) { m_layout = layout; }
  const PaperLayout& Layout() const { return m_layout; }

  // Converts every page of sourceFile into tif. 1, 0 on failure (reported),
  // -1 when cancelled; *pagesOut gets the fax pages written (they stay in tif
  // whatever the result; a refused file writes none).
  int Pdf2Tiff(const std::string& sourceFile, TiffFile& tif, const CancelFn& cancel,
               std::uint32_t* pagesOut);

 private:
  bool m_initialized = false;
  LogFile* m_systemLog = nullptr;
  PaperLayout m_layout;
};

// The paper of the send job's attachments: the one the resolution converter
// uses (T2TQuality, T2TPaperHeight less the page header).
int ConfigurePdfImport(PdfImport& importer, const ConvertOptions& options);

}  // namespace vexo
