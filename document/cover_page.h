// CoverPage draws a cover page from a template file (document/cover_page_template.h)
// into one page-sized one-bit bitmap, filling in the sender's profile, the
// recipient, subject, note and date of the fax being sent and the sender's logo,
// and appends it as one fax page to an open TIFF (GenCoverPage) or keeps the
// bitmap for the page viewer (PreviewCoverPage). The attachment conversion and
// `vexo compose` use it. Reports carry the module name "CoverPage".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "document/convert_options.h"
#include "document/cover_page_template.h"
#include "document/tiff_lib.h"
#include "document/txt2tif_paper.h"
#include "platform/clock.h"
#include "platform/raster/canvas.h"

namespace vexo {

class LogFile;

// The default font: "Tahoma" of 22 points, made for the display; a FONT tag
// with size 0 but another value set takes 22 points too.
constexpr const char* kCoverFace = "Tahoma";
constexpr int kCoverDefaultTenthsOfPoint = 220;
// The largest FONT size taken, in tenths of a point (the raster fonts stop at
// 1000 pixels anyway).
constexpr std::uint32_t kCoverMaxTenthsOfPoint = 7200;
constexpr int kCoverLineExtra = 1;
constexpr std::uint32_t kCoverTabChars = 8;
constexpr std::uint32_t kCoverMaxTabChars = 16;
constexpr int kCoverDefaultSepThickness = 3;
// Logo size when the LOGO tag gives none, in tenths of a millimetre.
constexpr std::uint32_t kLogoDefaultWidthTenthMm = 300;
constexpr std::uint32_t kLogoDefaultHeightTenthMm = 200;
// Field values (all but the note) are cut to this many characters.
constexpr std::size_t kCoverFieldChars = 255;

// The fax being sent, as the send job holds it.
struct CoverFaxDetails {
  std::string recipientName;  // RCVNAME
  std::string recipientFax;   // RCVFAX
  std::string subject;
  std::string note;  // several lines
};

// A rectangle with inclusive right and bottom edges, as the template's
// geometry is stated.
struct CoverBox {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left + 1; }
  Rect ToRect() const { return {left, top, right + 1, bottom + 1}; }
  bool operator==(const CoverBox&) const = default;
};

class CoverPage {
 public:
  // Asked before each chunk of the template: true stops (result -1).
  using CancelFn = std::function<bool()>;
  // Told the bytes of each chunk read.
  using ProgressFn = std::function<void(std::size_t bytes)>;
  using ClockFn = std::function<LocalTime()>;

  CoverPage();
  ~CoverPage();
  CoverPage(const CoverPage&) = delete;
  CoverPage& operator=(const CoverPage&) = delete;

  // Creates the default font; sets the page to "A4-FINE" and the rectangles to
  // the page area. systemLog (may be null: the debug output) gets the row-write
  // failure lines. 1, or 0 after a report.
  int Initialize(LogFile* systemLog = nullptr);
  // As the text renderer's SetPaper (same table, mask bits and checks); the
  // rectangles go back to the page area. 0 while a page is being drawn.
  int SetPaper(const PaperInfo& params, std::uint32_t mask);
  void SetProfile(const CoverProfile& profile) { m_profile = profile; }
  void SetFaxDetails(const CoverFaxDetails& details) { m_details = details; }
  // Code page of 8-bit templates; 0 (the default) is the process's ANSI code page.
  void SetCodePage(std::uint32_t codePage) { m_codePage = codePage; }
  // Where DATETIME takes the time from (the local time by default).
  void SetClock(ClockFn clock) { m_clock = std::move(clock); }

  // The tags of the page GenCoverPage writes (FaxPageWriter sets them).
  FaxPageFormat PageFormat() const { return FaxPageFormat::Of(m_layout); }

  // Draws templateFile and appends it as one page to tif. 1 with *pagesOut 1,
  // 0 after a report (nothing written), -1 when cancelled.
  int GenCoverPage(const std::string& templateFile, TiffFile& tif, const CancelFn& cancel,
                   const ProgressFn& progress, std::uint32_t* pagesOut);
  // The same drawing without a TIFF; the bitmap stays for Bitmap().
  int PreviewCoverPage(const std::string& templateFile, const CancelFn& cancel,
                       const ProgressFn& progress);
  // Draws template text already in memory (the fuzz target and tests); the
  // line and read rules are those of a file.
  int PreviewCoverText(std::string_view templateBytes);

  // The page bitmap of the last drawing (empty before any).
  const MonoBitmap* Bitmap() const { return m_bitmap.get(); }
  const PaperLayout& Layout() const { return m_layout; }
  // left margin, top margin, width - right margin - 1, height - bottom margin - 1.
  CoverBox PageArea() const;
  bool Initialized() const { return m_defaultFont != nullptr; }

  class Drawing;  // the state of one page being drawn (cover_page.cc)

 private:
  struct Source;
  int Draw(Source& source, const CancelFn& cancel, const ProgressFn& progress);

  LogFile* m_systemLog = nullptr;
  PaperLayout m_layout;
  std::shared_ptr<const Font> m_defaultFont;
  CoverProfile m_profile;
  CoverFaxDetails m_details;
  std::uint32_t m_codePage = 0;
  ClockFn m_clock;
  std::unique_ptr<MonoBitmap> m_bitmap;
  bool m_drawing = false;
};

// "%d/%d/%d    %d:%d:%d": month, day, year, hour, minute, second, no leading zeros.
std::string CoverDateText(const LocalTime& time);

// Copies the sample templates and logo shipped in the resources' "cover"
// folder into coverDir, leaving files that already exist alone. The number of
// files copied, or -1 when the folder of samples cannot be read.
int InstallSampleCovers(const std::string& coverDir);

}  // namespace vexo
