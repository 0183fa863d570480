#include "document/page_header.h"

#include <cerrno>

#include "base/error_pool.h"
#include "base/log_file.h"
#include "platform/text.h"

namespace vexo {

namespace {

constexpr const char* kModule = "TiffOper";
constexpr const char* kGdiError = "Windows GDI Error, ErrMsg = ";
constexpr const char* kScanlineFailed =
    "CTIFFWriteScanline failed, ref to previous error message for detail information";

std::uint32_t UsableResolution(std::uint32_t numerator) {
  return numerator == 0 || numerator > kHeaderMaxResolution ? kHeaderDefaultResolution : numerator;
}

// Pixels per inch of a resolution tag, rounded (0 when it has no denominator).
std::uint32_t PerInch(const Rational& value) {
  if (value.den == 0) return 0;
  return static_cast<std::uint32_t>((std::uint64_t{value.num} + value.den / 2) / value.den);
}

// The rows per inch a header for a page is drawn at: the page's own on a fine
// page, twice it on a normal one (whose header is drawn fine and halved), so
// old pages tagged 209/2 and pages tagged 98 both get a header of the same length.
std::uint32_t HeaderDrawingRows(const Rational& yResolution, bool finePage) {
  const std::uint64_t drawn = std::uint64_t{yResolution.num} * (finePage ? 1 : 2);
  if (yResolution.den == 0 || drawn / yResolution.den > kHeaderMaxResolution) return 0;
  return static_cast<std::uint32_t>((drawn + yResolution.den / 2) / yResolution.den);
}

// The rows of bitmap packed as the coder takes them ((width + 7) / 8 bytes).
std::vector<std::uint8_t> PackedRows(const MonoBitmap& bitmap, std::size_t rowBytes) {
  std::vector<std::uint8_t> rows;
  rows.reserve(rowBytes * static_cast<std::size_t>(bitmap.Height()));
  for (int y = 0; y < bitmap.Height(); ++y) {
    const auto row = bitmap.Row(y).first(rowBytes);
    rows.insert(rows.end(), row.begin(), row.end());
  }
  return rows;
}

}  // namespace

int HeaderPixels(int tenthsOfMm, std::uint32_t resolution) {
  return static_cast<int>((static_cast<std::uint64_t>(tenthsOfMm) * resolution + 127) / 254);
}

HeaderGeometry HeaderGeometry::For(std::uint32_t width, std::uint32_t xResolution,
                                   std::uint32_t yResolution) {
  const std::uint32_t rx = UsableResolution(xResolution);
  const std::uint32_t ry = UsableResolution(yResolution);
  HeaderGeometry g;
  g.width = static_cast<int>(width);
  g.height = HeaderPixels(kHeaderHeightTenthMm, ry);
  g.top = HeaderPixels(kHeaderTextTopTenthMm, ry);
  g.left = HeaderPixels(kHeaderLeftTenthMm, rx);
  g.right = g.width - g.left - 1;
  g.bottom = g.height - 1;
  return g;
}

std::string FormatHeaderParties(std::string_view sender, std::string_view recipient) {
  const std::string text = "From:" + std::string(sender) + "          To:" + std::string(recipient);
  return std::string(Utf8Prefix(text, kHeaderPartiesChars));
}

std::string FormatHeaderDate(const LocalTime& t) {
  return Format(kHeaderDateChars, "Date: %d/%d/%d   Time: %d:%d:%d", t.month, t.day, t.year, t.hour,
                t.minute, t.second);
}

std::string FormatHeaderPage(std::uint32_t pageNo, std::uint32_t totalPages) {
  return Format(kHeaderDateChars, "Page %u of %u", pageNo, totalPages);
}

bool HeaderRenderer::Create(const HeaderGeometry& geometry) {
  m_geometry = geometry;
  m_bitmap.emplace(geometry.width, geometry.height);
  if (m_bitmap->IsEmpty()) {
    ReportErrorCode(0, kMsgDefault, kModule, "CreateDIBSection", EINVAL, "%s", kGdiError);
    m_bitmap.reset();
    return false;
  }
  // Created the way a 16-point display font is, then used for the bitmap as is.
  int error = 0;
  m_font = Font::Create(MakeLogFont(kHeaderFace, kHeaderFontTenthsOfPoint), &error);
  if (!m_font) {
    ReportErrorCode(0, kMsgDefault, kModule, "CreateFontIndirect", error, "%s", kGdiError);
    m_bitmap.reset();
    return false;
  }
  return true;
}

void HeaderRenderer::DrawFirst(std::string_view parties, std::string_view date,
                               std::string_view page) {
  Canvas canvas(*m_bitmap);
  m_bitmap->Clear();
  const HeaderGeometry& g = m_geometry;
  canvas.HorizontalLine(g.left, g.right + 1, g.LineRow(), kHeaderLineThickness);
  canvas.DrawText(*m_font, parties, g.PartiesRect());
  canvas.DrawText(*m_font, date, g.DateRect());
  canvas.DrawText(*m_font, page, g.PageRect());
}

void HeaderRenderer::DrawPage(std::string_view page) {
  Canvas canvas(*m_bitmap);
  const Rect area = m_geometry.PageClearRect();
  canvas.FillRect(area, Ink::White);
  canvas.DrawText(*m_font, page, area);
}

std::optional<std::vector<std::uint8_t>> CodeHeaderStrip(const MonoBitmap& bitmap, bool halving,
                                                         std::uint32_t xResolution,
                                                         std::uint32_t yResolution,
                                                         LogFile* systemLog) {
  StripCoding coding;
  coding.width = static_cast<std::uint32_t>(bitmap.Width());
  coding.compression = COMPRESSION_CCITTFAX3;
  coding.group3Options = 0;
  coding.fillOrder = FILLORDER_MSB2LSB;
  coding.xResolution = {xResolution, 1};
  coding.yResolution = {yResolution, halving ? 2u : 1u};
  FaxEncoder encoder(coding);
  const std::size_t rowBytes = encoder.RowBytes();
  const std::vector<std::uint8_t> rows = PackedRows(bitmap, rowBytes);
  const std::uint32_t count = HeaderRows(bitmap.Height(), halving);
  if (!encoder.Begin(count, rows.size())) return std::nullopt;
  if (halving) {
    for (std::uint32_t i = 0; i < count; ++i) {
      if (!encoder.WriteScanline(rows.data() + rowBytes * 2 * i, i)) {
        if (systemLog != nullptr) systemLog->WriteLine(nullptr, 0, kScanlineFailed);
        return std::nullopt;
      }
    }
  } else if (!encoder.WriteEncodedStrip(rows.data(), rows.size())) {
    return std::nullopt;
  }
  return encoder.Finish();
}

bool PageHeader::DrawFirstPage(const TiffOper& oper, std::uint32_t pageNo, std::uint32_t totalPages,
                               bool sendAsNormal) {
  const FaxPageInfo& page = oper.PageInfo();
  m_halving = sendAsNormal || (page.flags & PAGE_FINE) == 0;
  m_xResolution = UsableResolution(PerInch(oper.Tags().xResolution));
  m_yResolution =
      UsableResolution(HeaderDrawingRows(oper.Tags().yResolution, (page.flags & PAGE_FINE) != 0));
  HeaderRenderer renderer;
  if (!renderer.Create(HeaderGeometry::For(page.width, m_xResolution, m_yResolution))) return false;
  renderer.DrawFirst(FormatHeaderParties(m_sender, m_recipient), FormatHeaderDate(m_clock()),
                     FormatHeaderPage(pageNo, totalPages));
  m_renderer = std::move(renderer);
  return true;
}

int PageHeader::Generate(TiffOper& oper, std::uint32_t pageNo, std::uint32_t totalPages,
                         bool sendAsNormal) {
  if (!oper.HeaderAllowed()) {
    ReportText(0, kMsgDefault, kModule, "GenHeader",
               "TiffOper object without ReadFlag can not generate fax header");
    return 0;
  }
  if (!m_renderer) {
    if (!DrawFirstPage(oper, pageNo, totalPages, sendAsNormal)) return 0;
  } else {
    m_renderer->DrawPage(FormatHeaderPage(pageNo, totalPages));
  }
  auto coded =
      CodeHeaderStrip(m_renderer->Bitmap(), m_halving, m_xResolution, m_yResolution, m_systemLog);
  if (!coded) return 0;
  oper.SetPageHeader(std::move(*coded));
  return oper.PageHeaderReady() ? 1 : 0;
}

PageHeader& PageHeaderOf(TiffOper& oper) {
  if (auto* header = dynamic_cast<PageHeader*>(oper.PageHeaderState())) return *header;
  auto header = std::make_unique<PageHeader>();
  PageHeader& ref = *header;
  oper.SetPageHeaderState(std::move(header));
  return ref;
}

int GenHeader(TiffOper& oper, std::uint32_t pageNo, std::uint32_t totalPages, bool sendAsNormal) {
  return PageHeaderOf(oper).Generate(oper, pageNo, totalPages, sendAsNormal);
}

}  // namespace vexo
