// TiffConvert turns a composed fax (an optional cover page and the attachments)
// into one fax TIFF file: each attachment is classified by its extension and
// handed to its renderer (cover page, text, or TIFF conversion), all pages are
// appended to the output file, and the page numbers of every page are
// rewritten at the end. A failed or cancelled conversion leaves no output file.
// It runs on a thread of its own for the conversion dialog; `vexo compose`
// calls it directly. Reports carry the module name "TiffConvert".
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "document/convert_options.h"
#include "document/cover_page.h"

namespace vexo {

class LogFile;

enum class ConvertKind { CoverPage, Tiff, Text, Pdf, Image };

// One row of the file-type table.
struct FileTypeRow {
  const char* name;
  const char* pattern;
  ConvertKind kind;
};

// Row 0 serves only the cover page slot; attachments are matched from row 1 on.
// Behind the first three rows: Markdown as text (README.md), PDF files and
// pictures, which a desktop user attaches as often as text.
constexpr std::array<FileTypeRow, 10> kFileTypes{{
    {"Cover Page", "*.txt", ConvertKind::CoverPage},
    {"Tiff File", "*.tif", ConvertKind::Tiff},
    {"Text File", "*.txt", ConvertKind::Text},
    {"Text File", "*.md", ConvertKind::Text},
    {"Tiff File", "*.tiff", ConvertKind::Tiff},
    {"PDF File", "*.pdf", ConvertKind::Pdf},
    {"Picture", "*.png", ConvertKind::Image},
    {"Picture", "*.jpg", ConvertKind::Image},
    {"Picture", "*.jpeg", ConvertKind::Image},
    {"Picture", "*.bmp", ConvertKind::Image},
}};
constexpr std::size_t kTiffFileRow = 1;

// The table row of an attachment: the text after its last "." compared,
// ignoring case, with the patterns from row 1 on; a name without "." or with
// no matching extension is a TIFF file (row 1). *matched tells whether the
// extension was found (measuring counts unmatched files by their size).
std::size_t ClassifyAttachment(std::string_view path, bool* matched = nullptr);

// The open-file filter of the attachment dialog: ("All", "*.*") and the
// table's rows without the first.
std::vector<std::pair<std::string, std::string>> AttachmentFilter();

struct ConvertRequest {
  std::vector<std::string> sources;  // attachments, in order
  std::string output;                // created exclusively; must not exist
  std::string coverTemplate;         // empty: no cover page
  CoverFaxDetails details;           // recipient, subject and note for the cover page
  bool firstSourceOnly = false;      // convert only sources[0]
  // Asked between chunks and pages: true cancels (result -1).
  std::function<bool()> cancel;
  // Told the work done so far, in the units of MeasureConversion.
  std::function<void(std::uint64_t done)> progress;
  // Told the name of a TIFF attachment refused because a page is not black and
  // white (the conversion then fails, and Start ends it as Cancelled: that
  // message is all there is to show); the caller decides what the user sees.
  std::function<void(const std::string& file)> notBilevel;
  // Told the total pages and the output file's size (0 when unknown) after a
  // conversion that succeeded.
  std::function<void(std::uint32_t pages, std::uint64_t bytes)> completion;
};

// The work a request means: the cover page, text, PDF and picture files (and
// files of unknown type) by their size in bytes, TIFF files by their rows. -1 after a
// report ("Get File Size Error FileName=[%s], ErrMsg = " or, for a TIFF file
// that cannot be opened, "Open File Error FileName=[%s], ErrMsg = ").
std::int64_t MeasureConversion(const ConvertRequest& request);

// User-interface strings of refusals that name their reason.
constexpr unsigned kStringNothingToDraw = 65745;        // "%s": the attachments
constexpr unsigned kStringPaperHeightUnusable = 65746;  // the height, then the range

// The paper heights (T2TPaperHeight, tenths of a millimetre) whose pages fit
// with the other options: the page header and the top and bottom margins leave
// room, and the page is no longer than the renderers take. {0, 0} when none.
struct PaperHeightRange {
  std::uint32_t lowest = 0;
  std::uint32_t highest = 0;
};
PaperHeightRange UsablePaperHeights(const ConvertOptions& options);

// True when the options' paper height is usable; otherwise reports the height
// and the usable range (string 65746) and returns false.
bool CheckPaperHeight(const ConvertOptions& options);

enum class ConvertOutcome {
  Success,
  Failure,    // the error pool holds the reasons: flush it
  Cancelled,  // nothing to show
};

class TiffConvert {
 public:
  // The renderers are set up from options (paper, fonts, profile) for every
  // conversion. systemLog (may be null) gets the renderers' log lines.
  explicit TiffConvert(const ConvertOptions& options, LogFile* systemLog = nullptr);
  ~TiffConvert();  // waits for a running conversion
  TiffConvert(const TiffConvert&) = delete;
  TiffConvert& operator=(const TiffConvert&) = delete;

  // The whole conversion on the calling thread. The error pool is emptied
  // first, so only this conversion's reports remain. 1, 0 on failure, -1 when
  // cancelled; the output file exists only after 1. A paper height the pages
  // do not fit, and attachments that give no page at all (empty files), are
  // refused with a message that says so.
  int Convert(const ConvertRequest& request);

  // The conversion on its own thread; finished is called on that thread at its
  // end. False (nothing started) while another conversion runs.
  bool Start(ConvertRequest request, std::function<void(ConvertOutcome)> finished);
  // Asks the running conversion to stop.
  void Cancel() { m_cancelled = true; }
  // Waits for the thread started by Start.
  void Wait();

 private:
  int ConvertSources(const ConvertRequest& request, TiffFile& tif, std::uint32_t* total);
  int ConvertOne(ConvertKind kind, const std::string& source, const ConvertRequest& request,
                 TiffFile& tif, std::uint32_t* pages);

  ConvertOptions m_options;
  LogFile* m_systemLog;
  std::thread m_thread;
  std::atomic<bool> m_cancelled{false};
  std::atomic<bool> m_running{false};
  std::uint64_t m_done = 0;  // progress units of finished sources
};

}  // namespace vexo
