#include "document/pdf_import.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <future>
#include <memory>
#include <mutex>
#include <vector>

#include <poppler-document.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

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

// poppler writes its complaints about damaged files to stderr; the refusal
// goes into the error pool instead.
void QuietPoppler() {
  static std::once_flag once;
  std::call_once(
      once, [] { poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr); });
}

// The page's size in points as it is shown (turned pages swapped).
struct PageSize {
  double width = 0;
  double height = 0;
};

PageSize ShownSize(const poppler::page& page) {
  const poppler::rectf box = page.page_rect(poppler::crop_box);
  PageSize size{std::abs(box.width()), std::abs(box.height())};
  const auto orientation = page.orientation();
  if (orientation == poppler::page::landscape || orientation == poppler::page::seascape)
    std::swap(size.width, size.height);
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
  QuietPoppler();
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
  std::unique_ptr<poppler::document> document(poppler::document::load_from_file(sourceFile));
  if (!document) {
    ReportResString(0, kMsgDefault, kModule, kFunction, kStringPdfDamaged, name);
    return 0;
  }
  if (document->is_locked()) {
    ReportResString(0, kMsgDefault, kModule, kFunction, kStringPdfLocked, name);
    return 0;
  }
  const int pageCount = document->pages();
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
  std::vector<std::unique_ptr<poppler::page>> pages;
  std::vector<RenderPlan> plans;
  for (int i = 0; i < pageCount; ++i) {
    std::unique_ptr<poppler::page> page(document->create_page(i));
    const RenderPlan plan = page ? PlanFor(ShownSize(*page), format) : RenderPlan{};
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

  poppler::page_renderer renderer;
  renderer.set_image_format(poppler::image::format_gray8);
  // Without anti-aliasing text stays black and white, so the tones that are
  // left come from pictures and shading, which decide the page's kind.
  renderer.set_render_hints(0);
  FaxPageWriter writer(tif, m_systemLog);
  std::vector<std::uint8_t> faxRow((std::size_t{format.width} + 7) / 8);
  auto done = [&](int result) {
    writer.AbandonPage();
    if (pagesOut != nullptr) *pagesOut = writer.PagesWritten();
    return result;
  };
  // The next page is rendered on a thread of its own while this one is
  // halftoned and coded; poppler is used by one thread at a time.
  auto render = [&renderer, &pages, &plans](std::size_t i) {
    return std::async(std::launch::async | std::launch::deferred, [&renderer, &pages, &plans, i] {
      const RenderPlan& plan = plans[i];
      return renderer.render_page(pages[i].get(), plan.xResolution, plan.yResolution, 0, 0,
                                  static_cast<int>(plan.width), static_cast<int>(plan.rows));
    });
  };
  std::future<poppler::image> next = render(0);
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (cancel && cancel()) return done(-1);
    const RenderPlan& plan = plans[i];
    const poppler::image image = next.get();
    if (i + 1 < pages.size()) next = render(i + 1);
    if (!image.is_valid() || image.format() != poppler::image::format_gray8 ||
        image.width() != static_cast<int>(plan.width) ||
        image.height() != static_cast<int>(plan.rows)) {
      ReportResString(0, kMsgDefault, kModule, kFunction, kStringPdfDamaged, name);
      return done(0);
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(image.const_data());
    const std::size_t stride = static_cast<std::size_t>(image.bytes_per_row());
    GreyHistogram histogram;
    for (std::uint32_t r = 0; r < plan.rows; ++r) histogram.Add({bytes + r * stride, plan.width});
    Ditherer ditherer(format.width, histogram.Kind(), format.normal);
    FaxPageSplitter splitter(writer, format, plan.top + plan.rows);
    std::vector<std::uint8_t> greyRow(format.width, kWhiteGrey);
    std::fill(faxRow.begin(), faxRow.end(), 0);
    for (std::uint32_t r = 0; r < plan.top; ++r)
      if (!splitter.Row(faxRow.data())) return done(0);
    // A page as wide as the paper is halftoned straight from poppler's rows.
    const bool fillsWidth = plan.width == format.width;
    for (std::uint32_t r = 0; r < plan.rows; ++r) {
      const std::uint8_t* grey = bytes + r * stride;
      if (!fillsWidth) {
        std::copy_n(grey, plan.width, greyRow.begin() + plan.left);
        grey = greyRow.data();
      }
      ditherer.Row(grey, faxRow.data());
      if (!splitter.Row(faxRow.data())) return done(0);
    }
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
