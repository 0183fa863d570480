#include "document/pdf_import.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <vector>

#include <cairo.h>
#include <poppler.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "base/error_pool.h"
#include "document/dither.h"
#include "document/tif2tif.h"

namespace vexo {
namespace {

constexpr const char* kModule = "PdfImport";
constexpr const char* kFunction = "Pdf2Tiff";
constexpr double kPointsPerInch = 72.0;
// The grey of the paper around a page that does not fill it.
constexpr std::uint8_t kWhiteGrey = 255;
// Rows drawn at a time: a page of Legal paper at fine resolution fits one
// band, and poppler goes through a page's content once for every band.
constexpr std::uint32_t kBandRows = 2800;

struct GObjectUnref {
  void operator()(void* object) const { g_object_unref(object); }
};
struct GErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
struct GFree {
  void operator()(char* text) const { g_free(text); }
};
struct SurfaceDestroy {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextDestroy {
  void operator()(cairo_t* context) const { cairo_destroy(context); }
};
using DocumentPtr = std::unique_ptr<PopplerDocument, GObjectUnref>;
using PagePtr = std::unique_ptr<PopplerPage, GObjectUnref>;
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDestroy>;
using ContextPtr = std::unique_ptr<cairo_t, ContextDestroy>;

enum class OpenResult { kOpened, kDamaged, kLocked };

// Opens the PDF without a password: a file that needs one to be read is
// locked; one with an owner password alone opens.
OpenResult OpenDocument(const std::string& path, DocumentPtr& document) {
  std::error_code ec;
  const std::string absolute = std::filesystem::absolute(path, ec).string();
  GError* rawError = nullptr;
  const std::unique_ptr<char, GFree> uri(g_filename_to_uri(absolute.c_str(), nullptr, &rawError));
  std::unique_ptr<GError, GErrorFree> error(rawError);
  if (!uri) return OpenResult::kDamaged;
  rawError = nullptr;
  document.reset(poppler_document_new_from_file(uri.get(), nullptr, &rawError));
  error.reset(rawError);
  if (document) return OpenResult::kOpened;
  const bool locked =
      error && error->domain == POPPLER_ERROR && error->code == POPPLER_ERROR_ENCRYPTED;
  return locked ? OpenResult::kLocked : OpenResult::kDamaged;
}

// The page's size in points as it is shown (turned pages swapped).
struct PageSize {
  double width = 0;
  double height = 0;
};

PageSize ShownSize(PopplerPage* page) {
  PageSize size;
  poppler_page_get_size(page, &size.width, &size.height);
  size.width = std::abs(size.width);
  size.height = std::abs(size.height);
  return size;
}

// How one PDF page is rendered onto the paper: render resolutions across and
// down, the rendered width and rows, and where they sit on the fax page.
struct RenderPlan {
  double xResolution = 0;
  double yResolution = 0;
  std::uint32_t width = 0;
  std::uint32_t rows = 0;
  std::uint32_t left = 0;
  std::uint32_t top = 0;
};

// A page that must shrink below this part of its width-fitted size to fit the
// paper's length is a long page: it keeps the width and goes on over pages.
constexpr double kMinFitToWidth = 0.75;

// The page is scaled to fit the paper (both ways, shape kept) and centred on
// it; a page much longer than the paper is fitted to the width and split.
// Columns are 204 per inch and rows the page's stored rows per inch, so the
// picture keeps its shape on paper.
RenderPlan PlanFor(const PageSize& size, const FaxPageFormat& format) {
  RenderPlan plan;
  if (!(size.width > 0) || !(size.height > 0)) return plan;
  const double across = format.xResolution;
  const double down = format.normal ? format.resolution / 2.0 : format.resolution;
  const double widthFit = format.width / across / (size.width / kPointsPerInch);
  const double lengthFit = format.rows / down / (size.height / kPointsPerInch);
  const bool fitsPaper = lengthFit >= widthFit * kMinFitToWidth;
  const double scale = fitsPaper ? std::min(widthFit, lengthFit) : widthFit;
  plan.xResolution = across * scale;
  plan.yResolution = down * scale;
  const double width = std::round(size.width * plan.xResolution / kPointsPerInch);
  const double rows = std::ceil(size.height * plan.yResolution / kPointsPerInch - 1e-6);
  if (!(rows >= 1 && rows < 1e9) || !(width >= 1)) return plan;
  plan.width = std::min(format.width, static_cast<std::uint32_t>(width));
  plan.rows = static_cast<std::uint32_t>(rows);
  plan.left = (format.width - plan.width) / 2;
  plan.top = fitsPaper && plan.rows < format.rows ? (format.rows - plan.rows) / 2 : 0;
  return plan;
}

// One rendered PDF page: its grey rows (plan width by plan rows), the same
// rows cut at the text threshold into fax rows (the paper's width, the page
// centred across it), which rows hold anything but white, the kind of page
// the greys make, and the halftoned rows of a photographic page. One is kept
// for a whole import and filled again page after page: new memory for every
// page costs more than drawing it.
struct RenderedPage {
  std::vector<std::uint8_t> grey;
  std::vector<std::uint8_t> cut;
  std::vector<std::uint8_t> inked;  // per row: 0 when the row is all white
  GreyKind kind = GreyKind::Text;
  std::vector<std::uint8_t> halftoned;

  // The page's fax rows.
  const std::vector<std::uint8_t>& FaxRows() const {
    return kind == GreyKind::Text ? cut : halftoned;
  }
};

// Each byte with its bits in reverse order.
constexpr std::array<std::uint8_t, 256> kReversedBits = [] {
  std::array<std::uint8_t, 256> table{};
  for (unsigned byte = 0; byte < table.size(); ++byte)
    for (unsigned bit = 0; bit < 8; ++bit)
      if (byte & (1u << bit)) table[byte] |= static_cast<std::uint8_t>(0x80u >> bit);
  return table;
}();

// Renders PDF pages with cairo into two colour surfaces kept for the whole
// import, a band of rows at a time: one band is read while the next is drawn
// into the other surface, and memory stays two bands of colour whatever the
// pages' length. Anti-aliasing is off, so text stays black and white and the
// tones that are left come from pictures and shading, which decide the
// page's kind. Each band is read once: into greys, cut rows and tone counts,
// so a text page (most pages) is ready without another pass.
class PageRasterizer {
 public:
  static constexpr std::size_t kSurfaces = 2;

  PageRasterizer(const FaxPageFormat& format, std::uint32_t bandRows)
      : m_format(format), m_bandRows(bandRows), m_whitePixels(2 * std::size_t{format.width}, 0xFF) {
    for (SurfacePtr& surface : m_surfaces) {
      surface.reset(cairo_image_surface_create(
          CAIRO_FORMAT_RGB16_565, static_cast<int>(format.width), static_cast<int>(bandRows)));
      const ContextPtr context(cairo_create(surface.get()));
      cairo_set_source_rgb(context.get(), 1, 1, 1);
      cairo_paint(context.get());
    }
  }

  std::uint32_t BandRows() const { return m_bandRows; }

  // Draws the band of the page from row top into surface `slot`.
  bool Draw(std::size_t slot, PopplerPage* page, const RenderPlan& plan, std::uint32_t top) const {
    cairo_surface_t* surface = m_surfaces[slot].get();
    return cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS &&
           DrawBand(surface, page, plan, top);
  }

  // Readies out for a page of plan's size.
  void Begin(const RenderPlan& plan, RenderedPage& out) {
    out.grey.resize(std::size_t{plan.width} * plan.rows);
    out.cut.assign(RowBytes() * plan.rows, 0);
    out.inked.resize(plan.rows);
    m_tones = 0;
  }

  // Reads the band drawn into surface `slot` into the page.
  void Read(std::size_t slot, const RenderPlan& plan, std::uint32_t top, RenderedPage& out) {
    m_tones += ReadBand(m_surfaces[slot].get(), plan, top, out);
  }

  // After the page's last band: the kind of page its greys make.
  void Finish(const RenderPlan& plan, RenderedPage& out) const {
    GreyHistogram histogram;
    histogram.AddCounts(m_tones, std::uint64_t{plan.width} * plan.rows);
    out.kind = histogram.Kind();
  }

 private:
  std::size_t RowBytes() const { return (std::size_t{m_format.width} + 7) / 8; }

  // The surface is white where the band is drawn: painted white once, and
  // every pixel ReadBand found inked was made white again. The drawing is
  // clipped to the rows and columns ReadBand reads.
  bool DrawBand(cairo_surface_t* surface, PopplerPage* page, const RenderPlan& plan,
                std::uint32_t top) const {
    cairo_surface_mark_dirty(surface);
    const ContextPtr context(cairo_create(surface));
    cairo_t* cr = context.get();
    cairo_rectangle(cr, 0, 0, plan.width, std::min(m_bandRows, plan.rows - top));
    cairo_clip(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_font_options_t* fontOptions = cairo_font_options_create();
    cairo_font_options_set_antialias(fontOptions, CAIRO_ANTIALIAS_NONE);
    cairo_set_font_options(cr, fontOptions);
    cairo_font_options_destroy(fontOptions);
    cairo_translate(cr, 0, -static_cast<double>(top));
    cairo_scale(cr, plan.xResolution / kPointsPerInch, plan.yResolution / kPointsPerInch);
    poppler_page_render_for_printing(page, cr);
    const bool drawn = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_surface_flush(surface);
    return drawn;
  }

  // Reads the band's rows from top into the page; the band's tone count.
  std::uint64_t ReadBand(cairo_surface_t* surface, const RenderPlan& plan, std::uint32_t top,
                         RenderedPage& out) const {
    const std::uint32_t rows = std::min(m_bandRows, plan.rows - top);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const auto stride = static_cast<std::size_t>(cairo_image_surface_get_stride(surface));
    std::uint64_t tones = 0;
    for (std::uint32_t r = 0; r < rows; ++r) {
      const std::size_t row = top + r;
      const RowInk ink = ReadRow(data + r * stride, plan, out.grey.data() + row * plan.width,
                                 out.cut.data() + row * RowBytes());
      out.inked[row] = ink.inked ? 1 : 0;
      tones += ink.tones;
    }
    return tones;
  }

  struct RowInk {
    bool inked = false;
    std::uint64_t tones = 0;
  };

  // Cairo's RGB16_565 pixels are native 16-bit words RRRRRGGGGGGBBBBB; the
  // grey is their luminance, looked up. A row of white paper (about half the
  // rows of a page of text) is passed over whole after one comparison: its
  // greys are not written, as nothing reads the greys of a row that is not
  // inked. Other rows are read eight pixels at a time; white stretches are
  // passed over with one compare (their greys 255, their cut bits left 0).
  // What is not white is made white again for the next band drawn into the
  // surface. Everything the loops use is in locals: the stores through
  // byte pointers would otherwise make the compiler load members again.
  RowInk ReadRow(unsigned char* rgb, const RenderPlan& plan, std::uint8_t* grey,
                 std::uint8_t* cut) const {
    constexpr std::uint64_t kWhitePixels = ~std::uint64_t{0};
    constexpr std::uint32_t kBlock = 8;
    const std::uint32_t width = plan.width;
    const std::uint32_t left = plan.left;
    const std::uint8_t* const luminance = m_luminance.data();
    RowInk ink;
    if (std::memcmp(rgb, m_whitePixels.data(), 2 * std::size_t{width}) == 0) return ink;
    ink.inked = true;
    std::uint64_t tones = 0;
    std::uint32_t x = 0;
    for (; x + kBlock <= width; x += kBlock) {
      std::uint64_t words[2];
      std::memcpy(words, rgb + 2 * std::size_t{x}, sizeof words);
      if ((words[0] & words[1]) == kWhitePixels) {
        std::memset(grey + x, kWhiteGrey, kBlock);
        continue;
      }
      unsigned bits = 0;
      if (BlackAndWhite(rgb + 2 * std::size_t{x}, grey + x, bits)) {
        PutBits(cut, left + x, bits);
        std::memset(rgb + 2 * std::size_t{x}, 0xFF, sizeof words);
        continue;
      }
      std::uint16_t pixels[kBlock];
      std::memcpy(pixels, words, sizeof pixels);
      for (std::uint32_t k = 0; k < kBlock; ++k) {
        const std::uint8_t value = luminance[pixels[k]];
        grey[x + k] = value;
        bits |= static_cast<unsigned>(value < kGreyThreshold) << (kBlock - 1 - k);
        tones += IsTone(value) ? 1 : 0;
      }
      PutBits(cut, left + x, bits);
      std::memset(rgb + 2 * std::size_t{x}, 0xFF, sizeof words);
    }
    for (; x < width; ++x) {
      std::uint16_t pixel;
      std::memcpy(&pixel, rgb + 2 * std::size_t{x}, sizeof pixel);
      const std::uint8_t value = luminance[pixel];
      grey[x] = value;
      tones += IsTone(value) ? 1 : 0;
      if (value < kGreyThreshold) PutBits(cut, left + x, 0x80);
      std::memset(rgb + 2 * std::size_t{x}, 0xFF, sizeof pixel);
    }
    ink.tones = tones;
    return ink;
  }

  // Eight pixels that are each black or white (text drawn without
  // anti-aliasing: most inked pixels) give their greys, 0 or 255, and their
  // cut bits straight from two compares; false for any other pixel.
  static bool BlackAndWhite(const unsigned char* rgb, std::uint8_t* grey, unsigned& bits) {
#ifdef __SSE2__
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb));
    const __m128i white = _mm_cmpeq_epi16(pixels, _mm_set1_epi16(-1));
    const __m128i black = _mm_cmpeq_epi16(pixels, _mm_setzero_si128());
    if (_mm_movemask_epi8(_mm_or_si128(white, black)) != 0xFFFF) return false;
    // Each 16-bit lane is all ones or all zeros: packing them to bytes keeps that.
    _mm_storel_epi64(reinterpret_cast<__m128i*>(grey), _mm_packs_epi16(white, white));
    const auto blackBits = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(black, black)));
    bits = kReversedBits[blackBits & 0xFF];  // pixel 0 in bit 7
    return true;
#else
    (void)rgb;
    (void)grey;
    (void)bits;
    return false;
#endif
  }

  // ORs eight bits (most significant first) into a fax row from column on.
  static void PutBits(std::uint8_t* row, std::uint32_t column, unsigned bits) {
    const std::uint32_t shift = column % 8;
    row[column / 8] |= static_cast<std::uint8_t>(bits >> shift);
    if (shift != 0 && (bits << (8 - shift) & 0xFF) != 0)
      row[column / 8 + 1] |= static_cast<std::uint8_t>(bits << (8 - shift));
  }

  // The grey of every 565 pixel: each channel widened to eight bits (its top
  // bits repeated, so full is 255), then weighted as the eye sees it.
  static std::vector<std::uint8_t> LuminanceTable() {
    std::vector<std::uint8_t> table(std::size_t{1} << 16);
    for (std::uint32_t pixel = 0; pixel < table.size(); ++pixel) {
      const std::uint32_t red = (pixel >> 11) & 0x1F;
      const std::uint32_t green = (pixel >> 5) & 0x3F;
      const std::uint32_t blue = pixel & 0x1F;
      const std::uint32_t red8 = (red << 3) | (red >> 2);
      const std::uint32_t green8 = (green << 2) | (green >> 4);
      const std::uint32_t blue8 = (blue << 3) | (blue >> 2);
      table[pixel] = static_cast<std::uint8_t>((red8 * 77 + green8 * 151 + blue8 * 28) >> 8);
    }
    return table;
  }

  FaxPageFormat m_format;
  std::uint32_t m_bandRows;
  std::array<SurfacePtr, kSurfaces> m_surfaces;
  std::uint64_t m_tones = 0;  // tones counted on the page so far
  std::vector<std::uint8_t> m_luminance = LuminanceTable();
  std::vector<unsigned char> m_whitePixels;  // a row of white 565 pixels, the paper's width
};

// A photographic page is halftoned from its greys; a text page keeps its cut
// rows.
void Halftone(RenderedPage& page, const RenderPlan& plan, const FaxPageFormat& format) {
  if (page.kind == GreyKind::Text) return;
  const std::size_t rowBytes = (std::size_t{format.width} + 7) / 8;
  page.halftoned.assign(rowBytes * plan.rows, 0);
  Ditherer ditherer(format.width, page.kind, format.normal);
  std::vector<std::uint8_t> greyRow(format.width, kWhiteGrey);
  for (std::uint32_t r = 0; r < plan.rows; ++r) {
    if (!page.inked[r]) {
      ditherer.SkipWhiteRow();
      continue;
    }
    std::copy_n(page.grey.data() + std::size_t{r} * plan.width, plan.width,
                greyRow.begin() + plan.left);
    ditherer.Row(greyRow.data(), page.halftoned.data() + r * rowBytes);
  }
}

// A band of a page's rows, drawn and read at once.
struct Band {
  std::size_t page = 0;
  std::uint32_t top = 0;  // its first row
};

// Every page's bands, in order.
std::vector<Band> Bands(const std::vector<RenderPlan>& plans, std::uint32_t bandRows) {
  std::vector<Band> bands;
  for (std::size_t page = 0; page < plans.size(); ++page)
    for (std::uint32_t top = 0; top < plans[page].rows; top += bandRows)
      bands.push_back({page, top});
  return bands;
}

std::uint64_t FileSize(const std::string& path, int* error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    *error = errno;
    return 0;
  }
  *error = 0;
  return static_cast<std::uint64_t>(st.st_size);
}

}  // namespace

int PdfImport::Initialize(LogFile* systemLog) {
  m_systemLog = systemLog;
  TiffLib::Initialize();
  m_initialized = true;
  return 1;
}

int PdfImport::Pdf2Tiff(const std::string& sourceFile, TiffFile& tif, const CancelFn& cancel,
                        std::uint32_t* pagesOut) {
  if (pagesOut != nullptr) *pagesOut = 0;
  if (!m_initialized || sourceFile.empty() || tif.get() == nullptr) return 0;
  const char* name = sourceFile.c_str();
  int error = 0;
  const std::uint64_t size = FileSize(sourceFile, &error);
  if (error != 0) {
    ReportErrorCode(0, kMsgDefault, kModule, kFunction, error,
                    "Open File Error FileName=[%s], ErrMsg = ", name);
    return 0;
  }
  if (size == 0) {
    ReportResString(0, kMsgDefault, kModule, kFunction, kStringFileEmpty, name);
    return 0;
  }
  DocumentPtr document;
  switch (OpenDocument(sourceFile, document)) {
    case OpenResult::kOpened:
      break;
    case OpenResult::kLocked:
      ReportResString(0, kMsgDefault, kModule, kFunction, kStringPdfLocked, name);
      return 0;
    case OpenResult::kDamaged:
      ReportResString(0, kMsgDefault, kModule, kFunction, kStringPdfDamaged, name);
      return 0;
  }
  const int pageCount = poppler_document_get_n_pages(document.get());
  if (pageCount <= 0) {
    ReportResString(0, kMsgDefault, kModule, kFunction, kStringPdfNoPages, name);
    return 0;
  }
  if (pageCount > kMaxPdfPages) {
    ReportResString(0, kMsgDefault, kModule, kFunction, kStringPdfDamaged, name);
    return 0;
  }

  const FaxPageFormat format = FaxPageFormat::Of(m_layout);
  const std::uint64_t maxRows = std::uint64_t{format.rows} * kMaxFaxPagesPerPdfPage;
  // Every page is checked before the first one is written.
  std::vector<PagePtr> pages;
  std::vector<RenderPlan> plans;
  for (int i = 0; i < pageCount; ++i) {
    PagePtr page(poppler_document_get_page(document.get(), i));
    const RenderPlan plan = page ? PlanFor(ShownSize(page.get()), format) : RenderPlan{};
    if (plan.rows == 0) {
      ReportResString(0, kMsgDefault, kModule, kFunction, kStringPdfDamaged, name);
      return 0;
    }
    if (plan.rows > maxRows) {
      ReportResString(0, kMsgDefault, kModule, kFunction, kStringPdfPageTooLong, name,
                      static_cast<unsigned>(i + 1));
      return 0;
    }
    pages.push_back(std::move(page));
    plans.push_back(plan);
  }

  PageRasterizer rasterizer(format, kBandRows);
  FaxPageWriter writer(tif, m_systemLog);
  const std::vector<std::uint8_t> whiteRow((std::size_t{format.width} + 7) / 8);
  RenderedPage rendered;
  auto done = [&](int result) {
    writer.AbandonPage();
    if (pagesOut != nullptr) *pagesOut = writer.PagesWritten();
    return result;
  };
  // Band k is drawn into surface k % 2 on a thread of its own while this one
  // reads band k - 1 from the other surface and codes the page it ends; the
  // document is used by one thread at a time.
  const std::vector<Band> bands = Bands(plans, rasterizer.BandRows());
  auto draw = [&rasterizer, &pages, &plans, &bands](std::size_t k) {
    return std::async(std::launch::async | std::launch::deferred,
                      [&rasterizer, &pages, &plans, &bands, k] {
                        const Band& band = bands[k];
                        return rasterizer.Draw(k % PageRasterizer::kSurfaces,
                                               pages[band.page].get(), plans[band.page], band.top);
                      });
  };
  std::future<bool> drawing = draw(0);
  for (std::size_t k = 0; k < bands.size(); ++k) {
    const Band& band = bands[k];
    const RenderPlan& plan = plans[band.page];
    if (band.top == 0 && cancel && cancel()) return done(-1);
    const bool drawn = drawing.get();
    if (k + 1 < bands.size()) drawing = draw(k + 1);
    if (!drawn) {
      ReportResString(0, kMsgDefault, kModule, kFunction, kStringPdfDamaged, name);
      return done(0);
    }
    if (band.top == 0) rasterizer.Begin(plan, rendered);
    rasterizer.Read(k % PageRasterizer::kSurfaces, plan, band.top, rendered);
    if (band.top + rasterizer.BandRows() < plan.rows) continue;
    rasterizer.Finish(plan, rendered);
    Halftone(rendered, plan, format);
    const std::vector<std::uint8_t>& rows = rendered.FaxRows();
    FaxPageSplitter splitter(writer, format, plan.top + plan.rows);
    for (std::uint32_t r = 0; r < plan.top; ++r)
      if (!splitter.Row(whiteRow.data())) return done(0);
    for (std::uint32_t r = 0; r < plan.rows; ++r)
      if (!splitter.Row(rows.data() + r * whiteRow.size())) return done(0);
    if (!splitter.Finish()) return done(0);
  }
  return done(1);
}

int ConfigurePdfImport(PdfImport& importer, const ConvertOptions& options) {
  Tif2Tif paper;
  if (ConfigureTif2Tif(paper, options) != 1) return 0;
  importer.SetLayout(paper.Layout());
  return 1;
}

}  // namespace vexo
