// The paper the page producers lay pages out on, and the writer that appends
// finished fax pages to an open TIFF. PaperInfo rows give A4 at normal, fine and
// superfine resolution in tenths of a millimetre; PaperLayout turns a row into
// pixels: rows at the line's density (page_geometry.h), columns at 204 per inch
// on the 1728-pixel line with the paper centred on it. FaxPageWriter codes one page's rows as they
// are produced and appends the page (fax tags, one Group 3 strip, its directory) when it is
// complete. FaxOutputFile opens and finishes a whole fax document. Used by the text renderer, the
// resolution converter, the cover pages and the `vexo` commands.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "document/page_geometry.h"
#include "document/tiff_lib.h"
#include "document/tiff_oper.h"
#include "platform/raster/font.h"

namespace vexo {

class LogFile;

// One kind of paper; lengths in tenths of a millimetre.
struct PaperInfo {
  const char* name = "";
  std::uint32_t id = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t top = 0;
  std::uint32_t bottom = 0;
  std::uint32_t left = 0;
  std::uint32_t right = 0;
  // Drawing rows per inch; a normal page stores every second drawing row.
  std::uint32_t rowsPerInch = 0;
};

constexpr std::uint32_t kPaperA4Normal = 17;
constexpr std::uint32_t kPaperA4Fine = 18;
constexpr std::uint32_t kPaperA4SuperFine = 20;

constexpr std::array<PaperInfo, 3> kPaperTable{{
    {"A4-NORMAL", kPaperA4Normal, 2100, 2970, 40, 115, 67, 67, kFineRowsPerInch},
    {"A4-FINE", kPaperA4Fine, 2100, 2970, 40, 115, 67, 67, kFineRowsPerInch},
    {"A4-SFINE", kPaperA4SuperFine, 2100, 2970, 40, 115, 67, 67, 2 * kFineRowsPerInch},
}};

// The row of an id, or nullptr.
const PaperInfo* FindPaper(std::uint32_t id);

// SetPaper mask bits: which fields of the parameters are taken.
enum PaperMask : std::uint32_t {
  PAPER_ID = 1,
  PAPER_HEIGHT = 2,
  PAPER_TOP = 4,
  PAPER_BOTTOM = 8,
  PAPER_LEFT = 16,
  PAPER_RIGHT = 32,
  PAPER_WIDTH = 64,
};

// The longest paper accepted (1 m), so that no setting makes a page of
// millions of rows.
constexpr std::uint32_t kMaxPaperHeight = 10000;

// A length in tenths of a millimetre in pixels: (v * resolution + 127) / 254.
std::uint32_t PaperPixels(std::uint32_t tenthsOfMm, std::uint32_t resolution);

// A paper row and its pixel values. The page is the 1728-pixel line at 204
// pixels per inch; a paper narrower than the line is centred on it and the
// left and right margins are measured from the paper's edges. Rows are drawn
// at the row's rowsPerInch; normal pages (id with bit 0 set) store only every
// second drawing row, so a normal page has half the rows per inch of a fine one.
class PaperLayout {
 public:
  PaperLayout() : PaperLayout(*FindPaper(kPaperA4Fine)) {}
  explicit PaperLayout(const PaperInfo& paper) { Apply(paper); }

  // The mask rules: PAPER_ID takes the row of params.id (refused when unknown),
  // the other bits take that field of params; refused when width is less than
  // 2 * (left + right), height less than 2 * (top + bottom), or the height is 0
  // or beyond kMaxPaperHeight. 1, or 0 with the layout unchanged.
  int SetPaper(const PaperInfo& params, std::uint32_t mask);

  const PaperInfo& Paper() const { return m_paper; }
  bool IsNormal() const { return (m_paper.id & 1) != 0; }
  // Drawing rows per inch (vertical) and pixels per inch across.
  std::uint32_t Resolution() const { return m_paper.rowsPerInch; }
  static constexpr std::uint32_t XResolution() { return kFaxXResolution; }
  // The density fonts are made for: text is as wide on paper as its size says.
  PixelDensity Density() const { return {XResolution(), Resolution()}; }
  // Drawing pixels; PaperLeft is the paper's left edge on the line.
  int Width() const { return m_width; }
  int Height() const { return m_height; }
  int Top() const { return m_top; }
  int Bottom() const { return m_bottom; }
  int Left() const { return m_left; }
  int Right() const { return m_right; }
  int PaperLeft() const { return m_paperLeft; }
  // Rows a page stores: Height(), or (Height() + 1) / 2 on a normal page.
  std::uint32_t StoredRows() const;

 private:
  void Apply(const PaperInfo& paper);

  PaperInfo m_paper;
  int m_width = 0, m_height = 0, m_top = 0, m_bottom = 0, m_left = 0, m_right = 0;
  int m_paperLeft = 0;
};

// The tags of a page the producers write: width, rows, drawing rows per inch,
// normal, pixels per inch across.
struct FaxPageFormat {
  std::uint32_t width = kFaxPageWidth;
  std::uint32_t rows = 0;
  std::uint32_t resolution = kFineRowsPerInch;
  bool normal = false;  // YResolution resolution / 2
  std::uint32_t xResolution = kFaxXResolution;

  static FaxPageFormat Of(const PaperLayout& layout);
};

// Appends pages to an open writing TIFF. Each page's rows go to a Group 3 coder
// as they come; EndPage writes the tags (NewSubfileType 2, 1 bit, Compression
// 3, PhotometricInterpretation 0, FillOrder 1, Orientation 1, XResolution
// xResolution, YResolution resolution or resolution / 2, ImageLength = RowsPerStrip =
// rows, Group3Options 0, ResolutionUnit 2, PageNumber (0, 0), Software "VEXO"),
// the strip and the directory. A page that is never ended leaves nothing in the
// file, so pages already written stay intact whatever happens to the next one.
class FaxPageWriter {
 public:
  // Failing row writes put "CTIFFWriteScanline failed, ref to error pool for
  // detail information" into systemLog (the debug output when null).
  FaxPageWriter(TiffFile& tif, LogFile* systemLog);

  bool BeginPage(const FaxPageFormat& format);
  bool PageOpen() const { return m_open; }
  // Rows are (width + 7) / 8 bytes, bit 0 white. Rows past the page's end are
  // dropped. False after a report (the page is then abandoned).
  bool WriteRow(const std::uint8_t* row);
  bool WriteBlankRows(std::uint32_t count);
  // Fills the page with white rows to its end and appends it. False after a report.
  bool EndPage();
  // Drops the open page.
  void AbandonPage();

  std::uint32_t RowsWritten() const { return m_row; }
  std::uint32_t RowsLeft() const { return m_format.rows - m_row; }
  std::uint32_t PagesWritten() const { return m_pages; }
  const FaxPageFormat& Format() const { return m_format; }

 private:
  bool ScanlineFailed();

  TiffFile& m_tif;
  LogFile* m_systemLog;
  FaxPageFormat m_format;
  std::optional<FaxEncoder> m_encoder;
  std::vector<std::uint8_t> m_blank;
  std::uint32_t m_row = 0;
  std::uint32_t m_pages = 0;
  bool m_open = false;
};

// A fax document being produced: a TIFF opened for writing, to which page
// producers append, finished with the page numbers of every page rewritten
// (TIFFUpdateAllPageNum) and the file synced.
class FaxOutputFile {
 public:
  FaxOutputFile() = default;
  ~FaxOutputFile();
  FaxOutputFile(const FaxOutputFile&) = delete;
  FaxOutputFile& operator=(const FaxOutputFile&) = delete;

  // Creates path (exclusively unless mode is Replace). 1, or 0 after the report
  // "Open File Error FileName=[%s], ErrMsg = " (module "TiffOper", "CreateFile").
  int Open(const std::string& path, CreateMode mode = CreateMode::Exclusive);
  bool IsOpen() const { return m_tiff != nullptr; }
  TiffFile& Tiff() { return *m_tiff; }
  // Counts pages a producer appended.
  void AddPages(std::uint32_t count) { m_pages += count; }
  std::uint32_t Pages() const { return m_pages; }
  // Closes the TIFF and rewrites the page numbers. 1, or 0 after a report.
  int Close();
  // Closes and deletes the file (a document that failed).
  void Discard();

 private:
  std::string m_path;
  std::unique_ptr<TiffFile> m_tiff;
  std::uint32_t m_pages = 0;
};

}  // namespace vexo
