// Txt2Tif turns a plain text file into fax pages: the text is read in chunks,
// laid out line by line on the paper (margins, line extra, clipping or word
// wrap, tab expansion), drawn into a one-line one-bit bitmap and appended as
// Group 3 pages to a TIFF its caller has opened. The caller closes the file and
// rewrites the page numbers (FaxOutputFile). The attachment conversion and
// `vexo render` use it; the cover pages share its paper table (txt2tif_paper.h).
// Reports carry the module name "TXT2TIF".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "document/convert_options.h"
#include "document/tiff_lib.h"
#include "document/txt2tif_paper.h"
#include "platform/raster/font.h"

namespace vexo {

class LogFile;

// SetLineExtra units.
enum LineExtraUnit : std::uint32_t {
  LINE_EXTRA_TENTH_MM = 1,
  LINE_EXTRA_HUNDREDTH_INCH = 2,
  LINE_EXTRA_PIXELS = 4,
  LINE_EXTRA_PERCENT = 8,  // of the font height
};

// The space added below each text line, in all its forms.
struct LineExtra {
  std::uint32_t tenthsOfMm = 0;
  std::uint32_t hundredthsOfInch = 0;
  std::uint32_t pixels = 0;
  std::uint32_t resolution = kFineRowsPerInch;
  std::uint32_t unit = LINE_EXTRA_TENTH_MM;
  std::uint32_t value = 0;  // as the caller gave it
};

constexpr std::uint32_t kMaxLineExtraPercent = 1000;
constexpr std::uint32_t kMaxLineExtraFontHeights = 10;
constexpr std::uint32_t kDefaultTabSize = 8;
constexpr std::uint32_t kMaxTabSize = 16;
// The default font: "Tahoma" of 20 points, made for the display.
constexpr const char* kTextDefaultFace = "Tahoma";
constexpr int kTextDefaultTenthsOfPoint = 200;
// The most characters a text line keeps: a wrapped line that holds this many
// without reaching the right margin (characters without width) is written as
// it stands; an unwrapped line drops the rest as it drops what passes the margin.
constexpr std::size_t kMaxLineChars = 4096;

class Txt2Tif {
 public:
  // Asked before each chunk: true stops the rendering (result -1).
  using CancelFn = std::function<bool()>;
  // Told the file bytes of each chunk after it was read.
  using ProgressFn = std::function<void(std::size_t bytes)>;

  Txt2Tif();
  ~Txt2Tif();
  Txt2Tif(const Txt2Tif&) = delete;
  Txt2Tif& operator=(const Txt2Tif&) = delete;

  // Creates the default font. systemLog (may be null: the debug output) gets
  // the renderer's log lines. 1, or 0.
  int Initialize(LogFile* systemLog = nullptr);
  // See PaperLayout::SetPaper; the line extra follows the new resolution.
  int SetPaper(const PaperInfo& params, std::uint32_t mask);
  // value in unit (LineExtraUnit); the pixels are capped at ten font heights,
  // a percentage at 1000. 0 for an unknown unit.
  int SetLineExtra(std::uint32_t value, std::uint32_t unit);
  void SetWordWrap(bool wrap) { m_wordWrap = wrap; }
  // Tab width in characters (1 to 16; 0 means the default 8).
  void SetTabSize(std::uint32_t chars);
  // 1, or 0 with the log line "SelectObject (Font) failed, ErrMsg =" and the
  // previous font kept.
  int SetFont(const LOGFONTW& logFont);
  // Code page of 8-bit text files; 0 (the default) is the process's ANSI code page.
  void SetCodePage(std::uint32_t codePage) { m_codePage = codePage; }

  // Renders textFile into tif. An empty file (or one holding only its
  // byte-order mark) fails with "Text file is empty [filename=%s]." unless
  // allowEmpty, which gives one blank page. cancel and progress may be empty.
  // 1, 0 on failure, -1 when cancelled; *pagesOut (when given) gets the pages
  // written, which stay in tif whatever the result.
  int Text2Tiff(const std::string& textFile, TiffFile& tif, bool allowEmpty, const CancelFn& cancel,
                const ProgressFn& progress, std::uint32_t* pagesOut);

  bool Initialized() const { return m_font != nullptr; }
  const PaperLayout& Layout() const { return m_layout; }
  const LineExtra& LineExtraRecord() const { return m_lineExtra; }
  const TextMetrics& Metrics() const;
  const Font* CurrentFont() const { return m_font.get(); }
  bool WordWrap() const { return m_wordWrap; }
  std::uint32_t TabSize() const { return m_tabSize; }
  // Font height plus line extra, in pixels.
  int LineHeight() const;

 private:
  void RecomputeLineExtra();
  void Log(const std::string& text) const;

  LogFile* m_systemLog = nullptr;
  PaperLayout m_layout;
  std::shared_ptr<const Font> m_font;
  LineExtra m_lineExtra;
  bool m_wordWrap = false;
  std::uint32_t m_tabSize = kDefaultTabSize;
  std::uint32_t m_codePage = 0;
};

// Sets a renderer up as the send job does before each text file: paper
// "A4-NORMAL" when T2TQuality is 1 else "A4-FINE", the width of PaperSize, its
// height (or T2TPaperHeight when that is no standard length; TextPaperHeight)
// less the page header, top margin 200 less the header; T2TLineExtra in tenths of a
// millimetre, T2TWordWrap, T2TTabSize and T2TFont. 1, or 0 when a value is refused.
int ConfigureTxt2Tif(Txt2Tif& renderer, const ConvertOptions& options);

}  // namespace vexo
