#include "document/tiff_convert.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <optional>

#include "base/error_pool.h"
#include "document/image_import.h"
#include "document/page_header.h"
#include "document/pdf_import.h"
#include "document/tif2tif.h"
#include "document/tiff_update.h"
#include "document/txt2tif.h"

namespace vexo {
namespace {

constexpr const char* kModule = "TiffConvert";
constexpr const char* kOpenError = "Open File Error FileName=[%s], ErrMsg = ";
constexpr const char* kSizeError = "Get File Size Error FileName=[%s], ErrMsg = ";
constexpr mode_t kOutputMode = 0644;
// Directories counted when measuring a TIFF file (a loop of directories ends here).
constexpr int kMaxMeasuredPages = 65535;
// The top margin of generated pages, page header included (tenths of a millimetre).

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

// The size of a file, or nullopt with errno.
std::optional<std::uint64_t> FileSize(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

// Rows of every page of a TIFF file, or -1 after a report.
std::int64_t TiffRows(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    ReportErrorCode(0, kMsgDefault, kModule, "GetSrcTiffRow", errno, kOpenError, path.c_str());
    return -1;
  }
  std::unique_ptr<TiffFile> tif = TIFFOpenHandle(std::move(fd), path, "r");
  if (!tif) {
    ReportErrorCode(0, kMsgDefault, kModule, "GetSrcTiffRow", EINVAL, kOpenError, path.c_str());
    return -1;
  }
  std::int64_t rows = 0;
  int pages = 0;
  do {
    std::uint32_t length = 0;
    if (TIFFGetField(tif->get(), TIFFTAG_IMAGELENGTH, &length) == 1) rows += length;
  } while (++pages < kMaxMeasuredPages && TIFFReadDirectory(tif->get()) == 1);
  return rows;
}

// Whether the renderers take pages of this paper height with the other options.
bool PaperHeightFits(ConvertOptions options, std::uint32_t height) {
  options.paperHeight = height;
  PaperLayout layout;
  return layout.SetPaper(SendPaper(options), PAPER_ID | PAPER_HEIGHT | PAPER_TOP) == 1;
}

// The heights that fit are one range: walking from a height that fits (inside)
// towards one that does not (outside), the last one that still fits.
std::uint32_t LastFitting(const ConvertOptions& options, std::uint32_t inside,
                          std::uint32_t outside) {
  while (inside + 1 != outside && outside + 1 != inside) {
    const std::uint32_t middle = inside / 2 + outside / 2 + (inside % 2 + outside % 2) / 2;
    (PaperHeightFits(options, middle) ? inside : outside) = middle;
  }
  return inside;
}

// Names of the attachments a request converts, for a message.
std::string SourceNames(const ConvertRequest& request) {
  std::string names;
  const std::size_t count = request.firstSourceOnly
                                ? std::min<std::size_t>(1, request.sources.size())
                                : request.sources.size();
  for (std::size_t i = 0; i < count; ++i) names += (i == 0 ? "" : ", ") + request.sources[i];
  return names;
}

}  // namespace

PaperHeightRange UsablePaperHeights(const ConvertOptions& options) {
  // The default paper fits whatever the other options; the range is found around it.
  const std::uint32_t anchor = ConvertOptions{}.paperHeight;
  constexpr std::uint32_t kLongest = std::numeric_limits<std::uint32_t>::max();
  if (!PaperHeightFits(options, anchor)) return {};
  return {LastFitting(options, anchor, 0),
          PaperHeightFits(options, kLongest) ? kLongest : LastFitting(options, anchor, kLongest)};
}

bool CheckPaperHeight(const ConvertOptions& options) {
  if (PaperHeightFits(options, options.paperHeight)) return true;
  const PaperHeightRange usable = UsablePaperHeights(options);
  ReportResString(0, kMsgDefault, kModule, "SetPaper", kStringPaperHeightUnusable,
                  options.paperHeight, usable.lowest, usable.highest);
  return false;
}

std::size_t ClassifyAttachment(std::string_view path, bool* matched) {
  if (matched != nullptr) *matched = false;
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
    return kTiffFileRow;
  const std::string_view extension = path.substr(dot + 1);
  for (std::size_t row = 1; row < kFileTypes.size(); ++row) {
    std::string_view pattern = kFileTypes[row].pattern;
    pattern.remove_prefix(2);  // "*."
    if (SameIgnoringCase(extension, pattern)) {
      if (matched != nullptr) *matched = true;
      return row;
    }
  }
  return kTiffFileRow;
}

std::vector<std::pair<std::string, std::string>> AttachmentFilter() {
  std::vector<std::pair<std::string, std::string>> filter{{"All", "*.*"}};
  for (std::size_t row = 1; row < kFileTypes.size(); ++row)
    filter.emplace_back(kFileTypes[row].name, kFileTypes[row].pattern);
  return filter;
}

std::int64_t MeasureConversion(const ConvertRequest& request) {
  std::int64_t total = 0;
  auto bySize = [&](const std::string& path) {
    const auto size = FileSize(path);
    if (!size) {
      ReportErrorCode(0, kMsgDefault, kModule, "GetFileSize", errno, kSizeError, path.c_str());
      return false;
    }
    total += static_cast<std::int64_t>(std::min<std::uint64_t>(*size, 1ull << 48));
    return true;
  };
  if (!request.coverTemplate.empty() && !bySize(request.coverTemplate)) return -1;
  const std::size_t count = request.firstSourceOnly
                                ? std::min<std::size_t>(1, request.sources.size())
                                : request.sources.size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& source = request.sources[i];
    bool matched = false;
    const std::size_t row = ClassifyAttachment(source, &matched);
    if (kFileTypes[row].kind != ConvertKind::Tiff || !matched) {
      if (!bySize(source)) return -1;
      continue;
    }
    const auto size = FileSize(source);
    if (!size) {
      ReportErrorCode(0, kMsgDefault, kModule, "GetFileSize", errno, kSizeError, source.c_str());
      return -1;
    }
    if (*size == 0) continue;  // skipped by the conversion
    const std::int64_t rows = TiffRows(source);
    if (rows < 0) return -1;
    total += rows;
  }
  return total;
}

TiffConvert::TiffConvert(const ConvertOptions& options, LogFile* systemLog)
    : m_options(options), m_systemLog(systemLog) {}

TiffConvert::~TiffConvert() { Wait(); }

bool TiffConvert::Start(ConvertRequest request, std::function<void(ConvertOutcome)> finished) {
  if (m_running.exchange(true)) return false;
  if (m_thread.joinable()) m_thread.join();
  m_cancelled = false;
  m_thread = std::thread([this, request = std::move(request), finished = std::move(finished)] {
    // A grey or colour TIFF is refused with its own message to the user, which
    // is then the one thing to show: the outcome has no failure of its own.
    bool refusedNotBilevel = false;
    ConvertRequest watched = request;
    watched.notBilevel = [&refusedNotBilevel, told = request.notBilevel](const std::string& file) {
      refusedNotBilevel = true;
      if (told) told(file);
    };
    const int result = Convert(watched);
    if (finished)
      finished(result == 1                       ? ConvertOutcome::Success
               : result < 0 || refusedNotBilevel ? ConvertOutcome::Cancelled
                                                 : ConvertOutcome::Failure);
    m_running = false;  // after the callback: a Start from inside it is refused, not deadlocked
  });
  return true;
}

void TiffConvert::Wait() {
  if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}

int TiffConvert::Convert(const ConvertRequest& requestIn) {
  ErrorPool::Instance().Clear();
  // A cover page alone is a fax too; only a request with nothing to convert is refused.
  if ((requestIn.sources.empty() && requestIn.coverTemplate.empty()) || requestIn.output.empty())
    return 0;
  if (!CheckPaperHeight(m_options)) return 0;
  ConvertRequest request = requestIn;
  request.cancel = [this, outer = requestIn.cancel] { return m_cancelled || (outer && outer()); };
  m_done = 0;

  const std::string& path = request.output;
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kOutputMode));
  if (!fd.valid()) {
    ReportErrorCode(0, kMsgDefault, kModule, "CreateFile", errno, kOpenError, path.c_str());
    return 0;
  }
  UniqueFd keep(::dup(fd.get()));
  std::unique_ptr<TiffFile> tif = TIFFOpenHandle(std::move(fd), path, "w");
  if (!tif || !keep.valid()) {
    tif.reset();
    ::unlink(path.c_str());
    return 0;
  }
  std::uint32_t total = 0;
  int result = ConvertSources(request, *tif, &total);
  tif.reset();  // libtiff writes what it still holds
  if (result == 1 && total == 0) {
    ReportResString(0, kMsgDefault, kModule, "Convert", kStringNothingToDraw,
                    SourceNames(request).c_str());
    result = 0;
  }
  if (result == 1) {
    // PageNumber holds 16 bits: a longer fax keeps the largest total, not a wrapped one.
    const auto pages = static_cast<std::uint16_t>(std::min<std::uint32_t>(total, 0xFFFF));
    if (TIFFUpdateAllPageNum(keep.get(), path, pages) != 1 || ::fsync(keep.get()) != 0) result = 0;
  }
  if (result == 1 && request.completion) {
    struct stat info {};
    const std::uint64_t bytes =
        ::fstat(keep.get(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    request.completion(total, bytes);
  }
  if (result != 1) ::unlink(path.c_str());
  return result;
}

int TiffConvert::ConvertSources(const ConvertRequest& request, TiffFile& tif,
                                std::uint32_t* total) {
  if (!request.coverTemplate.empty()) {
    std::uint32_t pages = 0;
    const int result =
        ConvertOne(ConvertKind::CoverPage, request.coverTemplate, request, tif, &pages);
    // A cover page that cannot be prepared is left out; one that fails to draw fails the fax.
    if (result == 0 || result == -1) return result;
    *total = pages;
  }
  const std::size_t count = request.firstSourceOnly
                                ? std::min<std::size_t>(1, request.sources.size())
                                : request.sources.size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& source = request.sources[i];
    const auto size = FileSize(source);
    if (!size || *size == 0) continue;
    std::uint32_t pages = 0;
    const int result =
        ConvertOne(kFileTypes[ClassifyAttachment(source)].kind, source, request, tif, &pages);
    *total += pages;
    if (result == 2) return 0;  // the prepare step failed
    if (result != 1) return result;
  }
  return 1;
}

// Prepares the renderer of kind from the settings and converts source. 1, 0
// or -1 as the renderer returns; 2 when preparing failed (reported).
int TiffConvert::ConvertOne(ConvertKind kind, const std::string& source,
                            const ConvertRequest& request, TiffFile& tif, std::uint32_t* pages) {
  const std::uint64_t base = m_done;
  std::uint64_t done = 0;
  auto told = [&](std::uint64_t units) {
    done += units;
    if (request.progress) request.progress(base + done);
  };
  auto finish = [&](int result) {
    m_done = base + done;
    return result;
  };
  switch (kind) {
    case ConvertKind::CoverPage: {
      CoverPage cover;
      if (cover.Initialize(m_systemLog) != 1 ||
          cover.SetPaper(SendPaper(m_options), kSendPaperMask) != 1)
        return finish(2);
      cover.SetProfile(m_options.profile);
      cover.SetFaxDetails(request.details);
      return finish(cover.GenCoverPage(source, tif, request.cancel, told, pages));
    }
    case ConvertKind::Text: {
      Txt2Tif text;
      if (text.Initialize(m_systemLog) != 1 || ConfigureTxt2Tif(text, m_options) != 1)
        return finish(2);
      return finish(text.Text2Tiff(source, tif, true, request.cancel, told, pages));
    }
    case ConvertKind::Tiff: {
      Tif2Tif image;
      if (image.Initialize(m_systemLog) != 1 || ConfigureTif2Tif(image, m_options) != 1)
        return finish(2);
      image.SetNotBilevelHandler(request.notBilevel);
      return finish(image.Tiff2Tiff(source, tif, request.cancel, told, pages));
    }
    case ConvertKind::Pdf: {
      PdfImport pdf;
      if (pdf.Initialize(m_systemLog) != 1 || ConfigurePdfImport(pdf, m_options) != 1)
        return finish(2);
      const int result = pdf.Pdf2Tiff(source, tif, request.cancel, pages);
      told(FileSize(source).value_or(0));
      return finish(result);
    }
    case ConvertKind::Image: {
      ImageImport picture;
      if (picture.Initialize(m_systemLog) != 1 || ConfigureImageImport(picture, m_options) != 1)
        return finish(2);
      const int result = picture.Image2Tiff(source, tif, pages);
      told(FileSize(source).value_or(0));
      return finish(result);
    }
  }
  return 0;
}

}  // namespace vexo
