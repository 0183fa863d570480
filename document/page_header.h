// The header strip sent ahead of every fax page: sender and recipient, date and
// time of the call, and "Page N of M" above a black line, drawn into a one-bit
// bitmap at the page's resolution and coded as Group 3 rows. GenHeader builds
// it for the page a TiffOper has loaded and hands the coded rows to
// ReadFAXData; the send procedures call it for every page. HeaderRenderer and
// CodeHeaderStrip are the two halves, also used by `vexo header`.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document/page_geometry.h"
#include "document/tiff_oper.h"
#include "platform/clock.h"
#include "platform/raster/canvas.h"

namespace vexo {

class LogFile;

// Header geometry in tenths of a millimetre.
constexpr int kHeaderHeightTenthMm = 100;
constexpr int kHeaderTextTopTenthMm = 50;
constexpr int kHeaderLeftTenthMm = 67;
// Text rectangles, in pixels from the left edge L.
constexpr int kSenderLeftOffset = 10;
constexpr int kSenderRightOffset = 826;
constexpr int kDateLeftOffset = 856;
constexpr int kDateRightOffset = 1338;
constexpr int kPageLeftOffset = 1368;
constexpr int kHeaderLineThickness = 3;
// Longest texts, in characters.
constexpr std::size_t kHeaderPartiesChars = 319;
constexpr std::size_t kHeaderDateChars = 127;
// The header font: "Tahoma" of 16 points, created for the display.
constexpr const char* kHeaderFace = "Tahoma";
constexpr int kHeaderFontTenthsOfPoint = 160;
// The resolution a header is drawn at when the page states none usable.
constexpr std::uint32_t kHeaderDefaultResolution = kFineRowsPerInch;
constexpr std::uint32_t kHeaderMaxResolution = 1200;

// A length in tenths of a millimetre in pixels at resolution r: (v * r + 127) / 254.
int HeaderPixels(int tenthsOfMm, std::uint32_t resolution);

// Where the header's parts lie, in pixels (right and bottom inclusive, as the
// header is laid out; the rectangles below are drawing rectangles).
struct HeaderGeometry {
  int width = 0;   // page width
  int height = 0;  // H
  int top = 0;     // T
  int left = 0;    // L
  int right = 0;   // R = width - L - 1
  int bottom = 0;  // B = H - 1

  // From the page width, the pixels per inch across and the drawing rows per
  // inch (a normal page's header is drawn at the fine density and halved).
  // A value of 0 or above kHeaderMaxResolution counts as kHeaderDefaultResolution.
  static HeaderGeometry For(std::uint32_t width, std::uint32_t xResolution,
                            std::uint32_t yResolution);

  Rect PartiesRect() const {
    return {left + kSenderLeftOffset, top, left + kSenderRightOffset, bottom};
  }
  Rect DateRect() const { return {left + kDateLeftOffset, top, left + kDateRightOffset, bottom}; }
  Rect PageRect() const { return {left + kPageLeftOffset, top, right, bottom}; }
  // What a later page clears before drawing its number: above the line.
  Rect PageClearRect() const {
    return {left + kPageLeftOffset, top, right, bottom - kHeaderLineThickness};
  }
  // The line's centre row; it runs from L to R inclusive.
  int LineRow() const { return bottom - 2; }
};

// The header texts, cut to their limits.
std::string FormatHeaderParties(std::string_view sender, std::string_view recipient);
std::string FormatHeaderDate(const LocalTime& time);
std::string FormatHeaderPage(std::uint32_t pageNo, std::uint32_t totalPages);

// Draws the header bitmap: the whole header for the first page, only the page
// text for later ones.
class HeaderRenderer {
 public:
  // Creates the bitmap and the font. False after a report under module
  // "TiffOper" (function "CreateDIBSection" or "CreateFontIndirect").
  bool Create(const HeaderGeometry& geometry);
  // First page: clears, draws the line and the three texts.
  void DrawFirst(std::string_view parties, std::string_view date, std::string_view page);
  // Later pages: clears the page number area and draws the new page text.
  void DrawPage(std::string_view page);

  const MonoBitmap& Bitmap() const { return *m_bitmap; }
  const HeaderGeometry& Geometry() const { return m_geometry; }
  const Font& HeaderFont() const { return *m_font; }

 private:
  HeaderGeometry m_geometry;
  std::optional<MonoBitmap> m_bitmap;
  std::shared_ptr<const Font> m_font;
};

// Codes the header bitmap as one Group 3 strip (one-dimensional, EOL at each
// line, no RTC, most significant bit first): every row, or rows 0, 2, 4, ...
// when halving. nullopt after a report; a failing row write also puts
// "CTIFFWriteScanline failed, ref to previous error message for detail
// information" into systemLog (when given).
std::optional<std::vector<std::uint8_t>> CodeHeaderStrip(const MonoBitmap& bitmap, bool halving,
                                                         std::uint32_t xResolution,
                                                         std::uint32_t yResolution,
                                                         LogFile* systemLog);

// Rows a header of height rows has when sent (halved or not).
inline std::uint32_t HeaderRows(int height, bool halving) {
  return static_cast<std::uint32_t>(halving ? (height + 1) / 2 : height);
}

// The header state a TiffOper keeps for its whole life: texts fixed at the
// first page, the halving decision of the first page, the drawing.
class PageHeader : public TiffOper::HeaderState {
 public:
  // The sender's full name (setting ProfileFullName) and the recipient's name
  // of the current call; both are read at the first GenHeader.
  void SetSender(std::string_view fullName) { m_sender = fullName; }
  void SetRecipient(std::string_view name) { m_recipient = name; }
  // Where scanline failures are logged (the system log); may stay unset.
  void SetSystemLog(LogFile* log) { m_systemLog = log; }
  // Source of the date and time of the first page (the local time by default).
  void SetClock(std::function<LocalTime()> clock) { m_clock = std::move(clock); }

  // See GenHeader below.
  int Generate(TiffOper& oper, std::uint32_t pageNo, std::uint32_t totalPages, bool sendAsNormal);

  bool Drawn() const { return m_renderer.has_value(); }
  bool Halving() const { return m_halving; }
  const HeaderRenderer* Renderer() const { return m_renderer ? &*m_renderer : nullptr; }

 private:
  bool DrawFirstPage(const TiffOper& oper, std::uint32_t pageNo, std::uint32_t totalPages,
                     bool sendAsNormal);

  std::string m_sender;
  std::string m_recipient;
  LogFile* m_systemLog = nullptr;
  std::function<LocalTime()> m_clock = LocalTimeNow;
  bool m_halving = false;
  std::uint32_t m_xResolution = kHeaderDefaultResolution;
  std::uint32_t m_yResolution = kHeaderDefaultResolution;
  std::optional<HeaderRenderer> m_renderer;  // set once the first page is drawn
};

// The header state of oper, made on first use.
PageHeader& PageHeaderOf(TiffOper& oper);

// Builds the header for the page oper has loaded (after ReadTags, before the
// first ReadFAXData): pageNo counts from 1 over the whole call, totalPages is
// the call's page count, sendAsNormal asks for a normal-resolution header on a
// fine page. The first call fixes texts, date and halving for all later pages.
// Returns 1 when ReadFAXData will deliver the header, 0 after a report (the
// page then goes without a header).
int GenHeader(TiffOper& oper, std::uint32_t pageNo, std::uint32_t totalPages, bool sendAsNormal);

}  // namespace vexo
