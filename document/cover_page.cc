#include "document/cover_page.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <new>
#include <vector>

#include "base/code_page.h"
#include "base/error_pool.h"
#include "document/txt2tif_reader.h"
#include "platform/posix/full_io.h"
#include "platform/text.h"

namespace vexo {
namespace {

constexpr const char* kModule = "CoverPage";
constexpr const char* kGdiError = "Windows GDI Error, ErrMsg = ";
constexpr const char* kReadFailed = "Fail to read file [filename=%s], ErrMsg = ";
// Bytes read per chunk (the template's 512-byte buffer less its terminator).
constexpr std::size_t kChunkBytes = 511;
// Coordinates are kept within this bound, so sums of lengths never overflow.
constexpr std::int64_t kMaxCoordinate = std::int64_t{1} << 24;
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
// Characters measured beyond one a pixel when a note line is wrapped.
constexpr std::size_t kMeasureSlack = 64;

int Clamp(std::int64_t v) {
  return static_cast<int>(std::clamp(v, -kMaxCoordinate, kMaxCoordinate));
}

bool IsWrapBreak(char32_t ch) { return ch == U'\t' || ch == U' ' || ch == U'-'; }

std::string CodePointsToUtf8(std::u32string_view chars) {
  std::u16string wide;
  for (const char32_t c : chars) {
    if (c >= 0x10000) {
      wide += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      wide += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      wide += static_cast<char16_t>(c);
    }
  }
  return Utf16ToUtf8(wide);
}

// The lines of a note: CR LF, a lone CR and a lone LF each end one.
std::vector<std::string_view> NoteLines(std::string_view note) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < note.size(); ++i) {
    if (note[i] != '\r' && note[i] != '\n') continue;
    lines.push_back(note.substr(start, i - start));
    if (note[i] == '\r' && i + 1 < note.size() && note[i + 1] == '\n') ++i;
    start = i + 1;
  }
  lines.push_back(note.substr(start));
  return lines;
}

}  // namespace

// Where the template bytes come from: a file read in chunks, or memory.
struct CoverPage::Source {
  std::string name;
  UniqueFd fd;
  std::string_view memory;
  std::size_t position = 0;
  bool utf8 = false;

  // Bytes read into out (0 at the end), or -1 with errno set.
  long Read(char* out, std::size_t size) {
    if (!fd.valid()) {
      const std::size_t n = std::min(size, memory.size() - position);
      std::copy_n(memory.data() + position, n, out);
      position += n;
      return static_cast<long>(n);
    }
    return static_cast<long>(RetryOnEintr([&] { return ::read(fd.get(), out, size); }));
  }

  // A template is UTF-8 when it starts with the UTF-8 mark (which is then
  // skipped) or is valid UTF-8 with a character beyond ASCII; otherwise it is
  // 8-bit text in the code page. False with errno after a read failure.
  bool Sniff() {
    Utf8Sniffer sniffer;
    if (!fd.valid()) {
      if (memory.starts_with(kUtf8Mark)) {
        position = kUtf8Mark.size();
        utf8 = true;
        return true;
      }
      sniffer.Feed(reinterpret_cast<const std::uint8_t*>(memory.data()), memory.size());
      utf8 = sniffer.IsUtf8();
      return true;
    }
    std::array<std::uint8_t, 1 << 14> block{};
    off_t offset = 0;
    for (;;) {
      const ssize_t n =
          RetryOnEintr([&] { return ::pread(fd.get(), block.data(), block.size(), offset); });
      if (n < 0) return false;
      if (n == 0) break;
      if (offset == 0 && n >= 3 &&
          std::string_view(reinterpret_cast<char*>(block.data()), 3) == kUtf8Mark) {
        utf8 = true;
        return ::lseek(fd.get(), 3, SEEK_SET) == 3;
      }
      sniffer.Feed(block.data(), static_cast<std::size_t>(n));
      offset += n;
    }
    utf8 = sniffer.IsUtf8();
    return true;
  }
};

// The drawing state of one cover page: the page area, the group and line
// rectangles, the line start, unit, font and tab width, and the canvas.
class CoverPage::Drawing {
 public:
  struct Setup {
    const PaperLayout* layout;
    MonoBitmap* bitmap;
    std::shared_ptr<const Font> font;
    const CoverProfile* profile;
    const CoverFaxDetails* details;
    std::uint32_t codePage;
    bool utf8;
    LocalTime time;
    CoverBox area;
  };

  explicit Drawing(const Setup& setup)
      : m_setup(setup), m_canvas(*setup.bitmap), m_area(setup.area), m_font(setup.font) {
    m_group = m_line = m_area;
    m_startX = m_area.left;
    m_startY = m_area.top;
    m_canvas.SetClip(m_area.ToRect());
    MeasureFont();
  }

  // Executes the items of one template line. False after a report.
  bool Line(std::string_view line) {
    const std::vector<CoverItem> items = SplitCoverLine(line);
    for (const CoverItem& item : items)
      if (!Execute(item)) return false;
    if (items.empty() || !m_inGroup) return true;
    const CoverItem& last = items.back();
    if (last.IsTag(CoverKeyword::Group) || last.IsTag(CoverKeyword::EndGroup) ||
        last.IsTag(CoverKeyword::Sep))
      return true;
    NextLine(m_group.left, m_group.right, m_line.bottom);
    return true;
  }

 private:
  int FontHeight() const { return m_font->Metrics().tmHeight; }
  // A tag length in pixels at r per inch: millimetres, or whole inches after UNIT INCH.
  int Length(std::uint32_t value, std::int64_t r) const {
    const std::int64_t v = value;
    return Clamp(m_inches ? r * v : (r * v * 10 + 127) / 254);
  }
  // Lengths across and down: pixels are 204 per inch across and the drawing's
  // rows per inch down, so shapes keep their size on paper.
  int LengthX(std::uint32_t value) const { return Length(value, PaperLayout::XResolution()); }
  int LengthY(std::uint32_t value) const { return Length(value, m_setup.layout->Resolution()); }
  // A position across, measured from the paper's left edge (0 stays "none").
  int PositionX(std::uint32_t value) const {
    return value == 0 ? 0 : Clamp(std::int64_t{m_setup.layout->PaperLeft()} + LengthX(value));
  }

  void MeasureFont() {
    m_tabWidth = std::max(1, m_font->TextWidth(std::string(kCoverTabChars, 'x')));
  }

  // The next text line: from left to right, its top at top.
  void NextLine(int left, int right, int top) {
    m_line = {left, top, right, Clamp(std::int64_t{top} + kCoverLineExtra + FontHeight() - 1)};
    m_startX = left;
    m_startY = top;
    m_lineHasText = false;
  }

  bool Execute(const CoverItem& item) {
    if (!item.isTag) {
      DrawField(TemplateText(item.text));
      return true;
    }
    const auto& a = item.args;
    switch (item.keyword) {
      case CoverKeyword::Font:
        return SetFont(a[0], a[1], a[2], a[3]);
      case CoverKeyword::Unit:
        m_inches = item.text == "INCH";
        return true;
      case CoverKeyword::Logo:
        return DrawLogo(a[0], a[1], a[2], a[3]);
      case CoverKeyword::Group:
        OpenGroup(PositionX(a[0]), LengthY(a[1]), LengthX(a[2]), LengthY(a[3]));
        return true;
      case CoverKeyword::EndGroup:
        m_inGroup = false;
        return true;
      case CoverKeyword::Sep:
        Separator(a[0]);
        return true;
      case CoverKeyword::SendName:
        DrawField(FieldText(m_setup.profile->fullName));
        return true;
      case CoverKeyword::SendFax:
        DrawField(FieldText(m_setup.profile->faxNumber));
        return true;
      case CoverKeyword::Phone1:
        DrawField(FieldText(m_setup.profile->phone1));
        return true;
      case CoverKeyword::Phone2:
        DrawField(FieldText(m_setup.profile->phone2));
        return true;
      case CoverKeyword::Email:
        DrawField(FieldText(m_setup.profile->email));
        return true;
      case CoverKeyword::RcvName:
        DrawField(FieldText(m_setup.details->recipientName));
        return true;
      case CoverKeyword::RcvFax:
        DrawField(FieldText(m_setup.details->recipientFax));
        return true;
      case CoverKeyword::DateTime:
        DrawField(CoverDateText(m_setup.time));
        return true;
      case CoverKeyword::Subject:
        DrawField(FieldText(m_setup.details->subject));
        return true;
      case CoverKeyword::Note:
        DrawNote();
        return true;
    }
    return true;
  }

  // Template bytes as program text.
  std::string TemplateText(std::string_view bytes) const {
    if (m_setup.utf8) return std::string(bytes);
    return CodePageToUtf8(m_setup.codePage, bytes, true).value_or(std::string());
  }

  // A value is Unicode whatever the template's code page (only the
  // template's own texts are in it), so a name in any script prints as it is;
  // cut to maxChars characters.
  std::string FieldText(std::string_view utf8, std::size_t maxChars = kCoverFieldChars) const {
    return std::string(Utf8Prefix(utf8, maxChars));
  }

  TextOptions Options() const {
    TextOptions options;
    options.tabWidth = m_tabWidth;
    options.opaque = false;
    return options;
  }

  // One line of text at the line rectangle's left edge, clipped at its right;
  // the edge moves right by the drawn width. Only inside a group.
  void DrawField(const std::string& text) {
    if (!m_inGroup || m_line.Width() <= 0 || text.empty()) return;
    DrawInLine(text);
  }

  void DrawInLine(const std::string& text) {
    m_canvas.SetClip(m_line.ToRect().Intersect(m_area.ToRect()));
    const TextSize size = m_canvas.DrawText(*m_font, text, m_line.ToRect(), Options());
    m_canvas.SetClip(m_area.ToRect());
    m_line.left = Clamp(std::int64_t{m_line.left} + size.cx);
    m_lineHasText = true;
  }

  bool SetFont(std::uint32_t size, std::uint32_t bold, std::uint32_t italic,
               std::uint32_t underline) {
    std::shared_ptr<const Font> font = m_setup.font;
    if (size != 0 || bold != 0 || italic != 0 || underline != 0) {
      if (size == 0) size = kCoverDefaultTenthsOfPoint;
      size = std::min(size, kCoverMaxTenthsOfPoint);
      LOGFONTW record =
          MakeLogFont(kCoverFace, static_cast<int>(size), bold != 0 ? FW_BOLD : FW_NORMAL);
      record.lfItalic = static_cast<std::uint8_t>(italic & 0xFF);
      record.lfUnderline = static_cast<std::uint8_t>(underline & 0xFF);
      int error = 0;
      font = Font::Create(record, &error, m_setup.font->Density());
      if (!font) {
        ReportErrorCode(0, kMsgDefault, kModule, "CreateFontIndirect", error != 0 ? error : EINVAL,
                        "%s", kGdiError);
        return false;
      }
    }
    m_font = std::move(font);
    m_line.bottom = Clamp(std::int64_t{m_line.top} + FontHeight());
    MeasureFont();
    return true;
  }

  void OpenGroup(int x, int y, int width, int height) {
    if (x == 0 && y == 0) {
      const int edge = m_inGroup ? m_group.left : m_area.left;
      x = m_area.left;
      y = m_startX == edge ? m_startY
                           : Clamp(std::int64_t{m_startY} + kCoverLineExtra + FontHeight());
    } else if (x == 0) {
      x = m_area.left;
    } else if (y == 0) {
      y = m_line.top;
    }
    if (width == 0) width = m_area.right - x + 1;
    if (height == 0) height = m_area.bottom - y + 1;
    m_group = {x, y, Clamp(std::int64_t{x} + width - 1), Clamp(std::int64_t{y} + height - 1)};
    NextLine(m_group.left, m_group.right, y);
    m_inGroup = true;
  }

  // A black line across the whole page area, below the text of the current
  // line (or at its top when it holds none); the next line starts below it.
  void Separator(std::uint32_t thicknessArg) {
    const int thickness =
        thicknessArg == 0 ? kCoverDefaultSepThickness
                          : static_cast<int>(std::min<std::int64_t>(thicknessArg, kMaxCoordinate));
    const int y = m_lineHasText ? m_line.bottom : m_line.top;
    m_canvas.HorizontalLine(m_area.left, m_area.right + 1, y, thickness);
    const int left = m_inGroup ? m_group.left : m_area.left;
    const int right = m_inGroup ? m_group.right : m_area.right;
    NextLine(left, right, Clamp(std::int64_t{y} + kCoverLineExtra + thickness));
  }

  // The note over as many lines as it needs, each note line wrapped to the
  // line's width; it stops when a line's top passes the group's bottom (or
  // the page area's, below which nothing shows).
  void DrawNote() {
    if (!m_inGroup) return;
    const std::string note = FieldText(m_setup.details->note, std::string::npos);
    const int lastTop = std::min(m_group.bottom, m_area.bottom);
    bool first = true;
    auto newLine = [&] {
      NextLine(m_group.left, m_group.right, m_line.bottom);
      return m_line.top <= lastTop && m_line.Width() > 0;
    };
    for (const std::string_view noteLine : NoteLines(note)) {
      if (!first && !newLine()) return;
      first = false;
      std::u32string rest = Utf8ToCodePoints(noteLine);
      while (!rest.empty()) {
        const int room = m_line.Width();
        if (room <= 0) {
          if (!newLine()) return;
          continue;
        }
        // No more characters can fit than the line has pixels (but for ones
        // without width), so only that much of a long note is measured.
        const std::size_t window =
            std::min(rest.size(), static_cast<std::size_t>(room) + kMeasureSlack);
        const std::u32string_view head = std::u32string_view(rest).substr(0, window);
        const TextExtent extent = m_font->Measure(CodePointsToUtf8(head), room, Options());
        std::size_t cut = std::min(extent.fit, window);
        if (cut < rest.size()) {
          std::size_t lastBreak = 0;
          for (std::size_t i = 0; i < cut; ++i)
            if (IsWrapBreak(rest[i])) lastBreak = i + 1;
          if (lastBreak > 0) cut = lastBreak;
        }
        if (cut == 0) {
          // Nothing fits: a line already holding text gives way to a new one;
          // on a fresh line one character is drawn (cut at the width), so the
          // note always moves on.
          if (m_line.left != m_group.left) {
            if (!newLine()) return;
            continue;
          }
          cut = 1;
        }
        DrawInLine(CodePointsToUtf8(std::u32string_view(rest).substr(0, cut)));
        rest.erase(0, cut);
        if (!rest.empty() && !newLine()) return;
      }
    }
  }

  bool DrawLogo(std::uint32_t ax, std::uint32_t ay, std::uint32_t aw, std::uint32_t ah);

  const Setup m_setup;
  Canvas m_canvas;
  const CoverBox m_area;
  std::shared_ptr<const Font> m_font;
  CoverBox m_group;
  CoverBox m_line;
  int m_startX = 0, m_startY = 0;
  int m_tabWidth = 1;
  bool m_inGroup = false;
  bool m_inches = false;
  bool m_lineHasText = false;
};

bool CoverPage::Drawing::DrawLogo(std::uint32_t ax, std::uint32_t ay, std::uint32_t aw,
                                  std::uint32_t ah) {
  const std::string& file = m_setup.profile->logoFile;
  if (file.empty()) return true;
  const char* name = file.c_str();
  BmpReadResult logo;
  try {
    logo = ReadBmpFile(file);
  } catch (const std::bad_alloc&) {
    ReportText(0, kMsgDefault, kModule, "DrawLogo", "Memory allocation failed.");
    return false;
  }
  switch (logo.status) {
    case BmpReadStatus::Ok:
      break;
    case BmpReadStatus::NotFound:
    case BmpReadStatus::OpenFailed:
    case BmpReadStatus::ReadFailed:
      // A file that ends early has no system error; say so rather than "Success".
      ReportErrorCode(0, kMsgDefault, kModule, "DrawLogo", logo.error != 0 ? logo.error : ENODATA,
                      kReadFailed, name);
      return false;
    case BmpReadStatus::SeekFailed:
      ReportErrorCode(0, kMsgDefault, kModule, "DrawLogo", logo.error,
                      "Fail to SetFilePointer on file [filename=%s], ErrMsg = .", name);
      return false;
    case BmpReadStatus::Invalid:
      ReportText(0, kMsgDefault, kModule, "DrawLogo", "Format of Logo bitmap file is invalid.");
      return false;
  }
  int x = PositionX(ax), y = LengthY(ay), width = LengthX(aw), height = LengthY(ah);
  if (x == 0 || x > m_area.right) x = m_inGroup ? m_line.left : m_area.left;
  if (y == 0 || y > m_area.bottom) y = m_inGroup ? m_line.top : m_area.top;
  if (width == 0)
    width = static_cast<int>(PaperPixels(kLogoDefaultWidthTenthMm, PaperLayout::XResolution()));
  if (height == 0)
    height = static_cast<int>(PaperPixels(kLogoDefaultHeightTenthMm, m_setup.layout->Resolution()));
  m_canvas.StretchBmp(*logo.image,
                      Rect{x, y, Clamp(std::int64_t{x} + width), Clamp(std::int64_t{y} + height)});
  return true;
}

// ---- CoverPage ----

std::string CoverDateText(const LocalTime& t) {
  return Format(64, "%d/%d/%d    %d:%d:%d", t.month, t.day, t.year, t.hour, t.minute, t.second);
}

CoverPage::CoverPage() = default;
CoverPage::~CoverPage() = default;

int CoverPage::Initialize(LogFile* systemLog) {
  m_systemLog = systemLog;
  int error = 0;
  m_layout = PaperLayout(*FindPaper(kPaperA4Fine));
  auto font =
      Font::Create(MakeLogFont(kCoverFace, kCoverDefaultTenthsOfPoint), &error, m_layout.Density());
  if (!font) {
    ReportErrorCode(0, kMsgDefault, kModule, "CreateFontIndirect", error != 0 ? error : EINVAL,
                    "%s", kGdiError);
    return 0;
  }
  m_defaultFont = std::move(font);
  return 1;
}

int CoverPage::SetPaper(const PaperInfo& params, std::uint32_t mask) {
  if (m_drawing) return 0;
  if (m_layout.SetPaper(params, mask) != 1) return 0;
  // The default font's glyphs follow the new paper's rows per inch.
  if (m_defaultFont && m_defaultFont->Density() != m_layout.Density())
    if (auto font = Font::Create(m_defaultFont->LogFont(), nullptr, m_layout.Density()))
      m_defaultFont = std::move(font);
  return 1;
}

CoverBox CoverPage::PageArea() const {
  return {m_layout.Left(), m_layout.Top(), m_layout.Width() - m_layout.Right() - 1,
          m_layout.Height() - m_layout.Bottom() - 1};
}

int CoverPage::Draw(Source& source, const CancelFn& cancel, const ProgressFn& progress) {
  if (!Initialized()) {
    ReportText(0, kMsgDefault, kModule, "GenCoverPage", "Txt2Tif module uninitialize");
    return 0;
  }
  const char* name = source.name.c_str();
  if (!source.Sniff()) {
    ReportErrorCode(0, kMsgDefault, kModule, "ReadFile", errno, kReadFailed, name);
    return 0;
  }
  m_bitmap = std::make_unique<MonoBitmap>(m_layout.Width(), m_layout.Height());
  if (m_bitmap->IsEmpty()) {
    ReportErrorCode(0, kMsgDefault, kModule, "CreateDIBSection", ENOMEM, "%s", kGdiError);
    return 0;
  }
  m_drawing = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{m_drawing};

  // Each page starts afresh: default font, millimetres, outside any group,
  // the rectangles at the page area, so a template always gives the same page.
  Drawing drawing({&m_layout, m_bitmap.get(), m_defaultFont, &m_profile, &m_details,
                   m_codePage != 0 ? m_codePage : AnsiCodePage(), source.utf8,
                   m_clock ? m_clock() : LocalTimeNow(), PageArea()});
  std::string line;
  bool pendingCr = false;
  auto emit = [&](std::size_t lineEndBytes) {
    if (line.size() + lineEndBytes > kCoverMaxLineBytes) {
      ReportError(0, kMsgDefault, kModule, "InterpCoverPage",
                  "line is too long in [filename=%s], The maximum size of line is 511 "
                  "(including the line feed and return)",
                  name);
      return false;
    }
    const bool ok = drawing.Line(line);
    line.clear();
    return ok;
  };
  std::array<char, kChunkBytes> chunk{};
  for (;;) {
    if (cancel && cancel()) return -1;
    const long n = source.Read(chunk.data(), chunk.size());
    if (n < 0) {
      ReportErrorCode(0, kMsgDefault, kModule, "ReadFile", errno, kReadFailed, name);
      return 0;
    }
    if (n == 0) break;
    if (progress) progress(static_cast<std::size_t>(n));
    for (long i = 0; i < n; ++i) {
      const char c = chunk[static_cast<std::size_t>(i)];
      if (pendingCr) {
        pendingCr = false;
        if (c == '\n') {
          if (!emit(2)) return 0;
          continue;
        }
        if (!emit(1)) return 0;
      }
      if (c == '\r') {
        pendingCr = true;
      } else if (c == '\n') {
        if (!emit(1)) return 0;
      } else {
        line += c;
        // 511 bytes without a line end: too long whatever follows.
        if (line.size() >= kCoverMaxLineBytes && !emit(1)) return 0;
      }
    }
  }
  if ((pendingCr || !line.empty()) && !emit(pendingCr ? 1 : 0)) return 0;
  return 1;
}

int CoverPage::GenCoverPage(const std::string& templateFile, TiffFile& tif, const CancelFn& cancel,
                            const ProgressFn& progress, std::uint32_t* pagesOut) {
  if (pagesOut != nullptr) *pagesOut = 0;
  const int result = PreviewCoverPage(templateFile, cancel, progress);
  if (result != 1) return result;
  FaxPageWriter writer(tif, m_systemLog);
  if (!writer.BeginPage(PageFormat())) return 0;
  const int step = m_layout.IsNormal() ? 2 : 1;
  for (int y = 0; y < m_bitmap->Height(); y += step)
    if (!writer.WriteRow(m_bitmap->Row(y).data())) return 0;
  if (!writer.EndPage()) return 0;
  if (pagesOut != nullptr) *pagesOut = 1;
  return 1;
}

int CoverPage::PreviewCoverPage(const std::string& templateFile, const CancelFn& cancel,
                                const ProgressFn& progress) {
  Source source;
  source.name = templateFile;
  if (Initialized()) {
    // Opened without blocking, so a FIFO never holds the conversion; only
    // regular files are templates.
    source.fd = UniqueFd(::open(templateFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    int error = errno;
    if (source.fd.valid() && (::fstat(source.fd.get(), &info) != 0 || !S_ISREG(info.st_mode))) {
      error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
      source.fd.Reset();
    }
    if (!source.fd.valid()) {
      ReportErrorCode(
          0, kMsgDefault, kModule, "CreateFile", error,
          "Fail to Open cover page file [filename=%s], ErrMsg = ", templateFile.c_str());
      return 0;
    }
  }
  return Draw(source, cancel, progress);
}

int CoverPage::PreviewCoverText(std::string_view templateBytes) {
  Source source;
  source.name = "(memory)";
  source.memory = templateBytes;
  return Draw(source, {}, {});
}

}  // namespace vexo
