#include "document/txt2tif.h"

#include <algorithm>
#include <cerrno>

#include "base/code_page.h"
#include "base/error_pool.h"
#include "base/log_file.h"
#include "document/line_breaks.h"
#include "document/page_header.h"
#include "document/txt2tif_reader.h"
#include "platform/raster/canvas.h"
#include "platform/text.h"

namespace vexo {
namespace {

constexpr const char* kModule = "TXT2TIF";
constexpr const char* kGdiError = "Windows GDI Error, ErrMsg = ";
constexpr const char* kFillLinesFailed =
    "FillLines2Tif failed, ref to error pool for detail information";
// The top margin the send job asks for, page header included.

std::string ToUtf8(std::u32string_view chars) {
  std::string out;
  for (const char32_t c : chars) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Lays text out on pages and hands the rows to a FaxPageWriter: one text line
// at a time in a bitmap of page width x line height. Rows are counted in the
// drawing's resolution; a normal page stores only the even ones.
class TextPageComposer {
 public:
  struct Setup {
    const PaperLayout* layout;
    const Font* font;
    int lineHeight;
    bool wordWrap;
    std::uint32_t tabSize;
  };

  TextPageComposer(const Setup& setup, FaxPageWriter& writer)
      : m_layout(*setup.layout),
        m_font(*setup.font),
        m_writer(writer),
        m_wordWrap(setup.wordWrap),
        m_line(setup.layout->Width(), setup.lineHeight),
        m_rightLimit(setup.layout->Width() - setup.layout->Right() - 1),
        m_left(setup.layout->Left()) {
    // Tab stops lie every tabSize blanks from the left margin.
    m_tabStop = std::max(1, m_font.TextWidth(std::string(setup.tabSize, ' ')));
  }

  bool Ready() const { return !m_line.IsEmpty(); }

  // One chunk of text, line breaks as '\n', form feeds as '\f'. False after a
  // write failure.
  bool Add(std::string_view text) {
    while (!text.empty()) {
      const std::size_t br = text.find_first_of("\n\f");
      const std::string_view piece = text.substr(0, br);
      if (!piece.empty() && !(m_wordWrap ? AddWrapped(piece) : AddClipped(piece))) return false;
      if (br == std::string_view::npos) break;
      if (!(text[br] == '\f' ? EndPage() : EndLine())) return false;
      text.remove_prefix(br + 1);
    }
    return true;
  }

  // The end of the file: a pending line is written, the open page finished.
  // Blank lines that would start a page of their own are left out.
  bool Finish() { return EndPage(); }

  // One blank page (an empty file that is allowed).
  bool BlankPage() { return m_writer.BeginPage(FaxPageFormat::Of(m_layout)) && m_writer.EndPage(); }

 private:
  Rect LineRect(int x) const { return {x, 0, m_rightLimit, m_line.Height()}; }

  // Without wrap: the line's characters gather until they reach the right
  // margin; the rest of the line is clipped and not kept.
  bool AddClipped(std::string_view piece) {
    m_lineStarted = true;
    const int room = m_rightLimit - m_left;
    for (const char32_t ch : Utf8ToCodePoints(piece)) {
      if (m_pendingWidth >= room || m_pending.size() >= kMaxLineChars) break;
      m_pending += ch;
      m_pendingWidth = Advance(m_pendingWidth, ch);
    }
    return true;
  }

  // With wrap: characters gather until the line is full, then the line is cut
  // at its last break opportunity after the Unicode line breaking rules (or
  // where it stops fitting) and the rest goes on on the next line.
  bool AddWrapped(std::string_view piece) {
    for (const char32_t ch : Utf8ToCodePoints(piece))
      if (!Place(ch)) return false;
    return true;
  }

  int Advance(int x, char32_t ch) const {
    if (ch == U'\t') return (x / m_tabStop + 1) * m_tabStop;
    return x + m_font.Glyph(ch)->advance;
  }

  bool Place(char32_t ch) {
    const int room = m_rightLimit - m_left;
    const int next = Advance(m_pendingWidth, ch);
    // A blank past the right margin hangs at the end of the line (drawn
    // clipped), so that the line can end behind it.
    if ((next <= room || ch == U' ') && m_pending.size() < kMaxLineChars) {
      m_pending += ch;
      m_pendingWidth = next;
      return true;
    }
    if (m_pending.empty()) {
      // A single character wider than the line goes on a line of its own.
      m_pending += ch;
      return EndLine();
    }
    // ch does not fit: whether the line may end before it depends on it too.
    const std::size_t fitting = m_pending.size();
    m_pending += ch;
    const std::size_t cut = WrappedLineEnd(m_pending, fitting);
    const std::u32string rest = m_pending.substr(cut);
    m_pending.resize(cut);
    if (!EndLine()) return false;
    for (const char32_t c : rest)
      if (!Place(c)) return false;
    return true;
  }

  // The line is drawn whole from the left margin, so it comes out the same
  // wherever the chunks of the file ended.
  void DrawPending() {
    if (m_pending.empty()) return;
    Canvas canvas(m_line);
    TextOptions options;
    options.tabWidth = m_tabStop;
    options.opaque = false;
    canvas.DrawText(m_font, ToUtf8(m_pending), LineRect(m_left), options);
  }

  // Ends the text line. A blank line with no page open is only counted: it is
  // written when a line with ink follows, so that line ends at the end of the
  // text never make a page of their own.
  bool EndLine() {
    DrawPending();
    ResetLine();
    const auto bits = m_line.Bits();
    if (!m_writer.PageOpen() &&
        std::all_of(bits.begin(), bits.end(), [](auto b) { return b == 0; })) {
      ++m_blankLinesAhead;
      return true;
    }
    for (; m_blankLinesAhead > 0; --m_blankLinesAhead)
      if (!WriteLine(m_blankLine)) return false;
    const bool ok = WriteLine(m_line);
    m_line.Clear();
    return ok;
  }

  // A form feed, and the end of the text: the pending line is ended and the
  // open page finished; blank lines waiting for a page are dropped.
  bool EndPage() {
    if ((m_lineStarted || !m_pending.empty()) && !EndLine()) return false;
    m_blankLinesAhead = 0;
    return !m_writer.PageOpen() || m_writer.EndPage();
  }

  void ResetLine() {
    m_lineStarted = false;
    m_pending.clear();
    m_pendingWidth = 0;
  }

  // Writes line as the next text line, starting a page when none is open and
  // finishing it when the next line's text would reach the bottom margin.
  bool WriteLine(const MonoBitmap& line) {
    if (!m_writer.PageOpen()) {
      if (!m_writer.BeginPage(FaxPageFormat::Of(m_layout)) ||
          !WriteBlankDrawingRows(m_layout.Top()))
        return false;
      m_row = m_layout.Top();
    }
    for (int y = 0; y < line.Height(); ++y, ++m_row) {
      if (m_layout.IsNormal() && m_row % 2 != 0) continue;
      if (!m_writer.WriteRow(line.Row(y).data())) return false;
    }
    const int fontHeight = m_font.Metrics().tmHeight;
    if (m_layout.Height() - m_layout.Bottom() <= m_row + fontHeight - 1) return m_writer.EndPage();
    return true;
  }

  bool WriteBlankDrawingRows(int count) {
    const auto stored = static_cast<std::uint32_t>(m_layout.IsNormal() ? (count + 1) / 2 : count);
    return m_writer.WriteBlankRows(stored);
  }

  const PaperLayout& m_layout;
  const Font& m_font;
  FaxPageWriter& m_writer;
  const bool m_wordWrap;
  MonoBitmap m_line;
  const MonoBitmap m_blankLine{m_line.Width(), m_line.Height()};
  const int m_rightLimit;
  const int m_left;
  int m_tabStop = 1;

  int m_row = 0;  // drawing row of the page the next line starts at
  bool m_lineStarted = false;
  int m_blankLinesAhead = 0;  // blank lines not yet written: no page is open
  std::u32string m_pending;   // wrap mode: the line gathered so far
  int m_pendingWidth = 0;
};

}  // namespace

Txt2Tif::Txt2Tif() = default;
Txt2Tif::~Txt2Tif() = default;

int Txt2Tif::Initialize(LogFile* systemLog) {
  m_systemLog = systemLog;
  int error = 0;
  auto font = Font::Create(MakeLogFont(kTextDefaultFace, kTextDefaultTenthsOfPoint), &error,
                           m_layout.Density());
  if (!font) {
    ReportErrorCode(0, kMsgDefault, kModule, "CreateFontIndirect", error, "%s", kGdiError);
    return 0;
  }
  m_font = std::move(font);
  RecomputeLineExtra();
  return 1;
}

void Txt2Tif::Log(const std::string& text) const {
  if (m_systemLog != nullptr)
    m_systemLog->WriteLine(nullptr, 0, text);
  else
    DebugOutput(text);
}

const TextMetrics& Txt2Tif::Metrics() const {
  static const TextMetrics kNone{};
  return m_font ? m_font->Metrics() : kNone;
}

int Txt2Tif::LineHeight() const {
  return Metrics().tmHeight + static_cast<int>(m_lineExtra.pixels);
}

int Txt2Tif::SetPaper(const PaperInfo& params, std::uint32_t mask) {
  if (m_layout.SetPaper(params, mask) != 1) return 0;
  // The font's glyphs follow the new paper's rows per inch.
  if (m_font && m_font->Density() != m_layout.Density())
    if (auto font = Font::Create(m_font->LogFont(), nullptr, m_layout.Density()))
      m_font = std::move(font);
  RecomputeLineExtra();
  return 1;
}

int Txt2Tif::SetLineExtra(std::uint32_t value, std::uint32_t unit) {
  if (unit != LINE_EXTRA_TENTH_MM && unit != LINE_EXTRA_HUNDREDTH_INCH &&
      unit != LINE_EXTRA_PIXELS && unit != LINE_EXTRA_PERCENT)
    return 0;
  m_lineExtra.unit = unit;
  m_lineExtra.value = unit == LINE_EXTRA_PERCENT ? std::min(value, kMaxLineExtraPercent) : value;
  RecomputeLineExtra();
  return 1;
}

void Txt2Tif::RecomputeLineExtra() {
  LineExtra& e = m_lineExtra;
  const std::uint64_t r = m_layout.Resolution();
  const std::uint64_t v = e.value;
  const std::uint64_t fontHeight = static_cast<std::uint64_t>(std::max(0, Metrics().tmHeight));
  std::uint64_t pixels = 0;
  switch (e.unit) {
    case LINE_EXTRA_TENTH_MM:
      pixels = (v * r + 127) / 254;
      break;
    case LINE_EXTRA_HUNDREDTH_INCH:
      pixels = (v * r + 50) / 100;
      break;
    case LINE_EXTRA_PIXELS:
      pixels = v;
      break;
    case LINE_EXTRA_PERCENT:
      pixels = (v * fontHeight + 50) / 100;
      break;
  }
  const bool capped = pixels > kMaxLineExtraFontHeights * fontHeight;
  if (capped) pixels = kMaxLineExtraFontHeights * fontHeight;
  e.resolution = static_cast<std::uint32_t>(r);
  e.pixels = static_cast<std::uint32_t>(pixels);
  const std::uint64_t half = r / 2;
  e.tenthsOfMm = r == 0 ? 0 : static_cast<std::uint32_t>((pixels * 254 + half) / r);
  e.hundredthsOfInch = r == 0 ? 0 : static_cast<std::uint32_t>((pixels * 100 + half) / r);
  if (!capped && e.unit == LINE_EXTRA_TENTH_MM) e.tenthsOfMm = e.value;
  if (!capped && e.unit == LINE_EXTRA_HUNDREDTH_INCH) e.hundredthsOfInch = e.value;
}

void Txt2Tif::SetTabSize(std::uint32_t chars) {
  m_tabSize = chars == 0 ? kDefaultTabSize : std::min(chars, kMaxTabSize);
}

int Txt2Tif::SetFont(const LOGFONTW& logFont) {
  int error = 0;
  auto font = Font::Create(logFont, &error, m_layout.Density());
  if (!font) {
    Log("SelectObject (Font) failed, ErrMsg =" +
        SystemErrorText(error != 0 ? error : EINVAL).value_or(std::string()));
    return 0;
  }
  m_font = std::move(font);
  RecomputeLineExtra();
  return 1;
}

int Txt2Tif::Text2Tiff(const std::string& textFile, TiffFile& tif, bool allowEmpty,
                       const CancelFn& cancel, const ProgressFn& progress,
                       std::uint32_t* pagesOut) {
  if (pagesOut != nullptr) *pagesOut = 0;
  if (!Initialized()) {
    ReportText(0, kMsgDefault, kModule, "Text2Tiff", "Txt2Tif module uninitialize");
    return 0;
  }
  if (textFile.empty()) {
    Log("Text2Tiff failed, Parameter [lpTxtFile] is NULL");
    return 0;
  }
  const char* name = textFile.c_str();
  TextFileReader reader;
  const std::uint32_t codePage = m_codePage != 0 ? m_codePage : AnsiCodePage();
  switch (reader.Open(textFile, codePage)) {
    case TextFileReader::Status::Ok:
      break;
    case TextFileReader::Status::OpenFailed:
      ReportErrorCode(0, kMsgDefault, kModule, "CreateFile", reader.Error(),
                      "Fail to Open text file [filename=%s], ErrMsg = ", name);
      return 0;
    case TextFileReader::Status::SizeFailed:
      ReportErrorCode(0, kMsgDefault, kModule, "GetFileSize", reader.Error(),
                      "Get File Size Error FileName=[%s], ErrMsg = ", name);
      return 0;
    case TextFileReader::Status::ReadFailed:
      ReportErrorCode(0, kMsgDefault, kModule, "ReadFile", reader.Error(),
                      "Fail to read file [filename=%s], ErrMsg = ", name);
      return 0;
  }
  if (reader.TextBytes() == 0 && !allowEmpty) {
    ReportError(0, kMsgDefault, kModule, "Text2Tiff", "Text file is empty [filename=%s].", name);
    return 0;
  }

  FaxPageWriter writer(tif, m_systemLog);
  TextPageComposer composer({&m_layout, m_font.get(), LineHeight(), m_wordWrap, m_tabSize}, writer);
  if (!composer.Ready()) {
    ReportErrorCode(0, kMsgDefault, kModule, "CreateDIBSection", EINVAL, "%s", kGdiError);
    return 0;
  }
  auto done = [&](int result) {
    writer.AbandonPage();
    if (pagesOut != nullptr) *pagesOut = writer.PagesWritten();
    return result;
  };
  auto writeFailed = [&] {
    Log(kFillLinesFailed);
    return done(0);
  };

  if (reader.TextBytes() == 0) return composer.BlankPage() ? done(1) : writeFailed();
  for (;;) {
    if (cancel && cancel()) return done(-1);
    TextFileReader::Status status = TextFileReader::Status::Ok;
    std::optional<TextFileReader::Chunk> chunk = reader.Next(&status);
    if (status == TextFileReader::Status::ReadFailed) {
      ReportErrorCode(0, kMsgDefault, kModule, "ReadFile", reader.Error(),
                      "Fail to read file [filename=%s], ErrMsg = ", name);
      return done(0);
    }
    if (!chunk) break;
    if (progress) progress(chunk->bytes);
    if (!composer.Add(chunk->text)) return writeFailed();
  }
  if (!composer.Finish()) return writeFailed();
  // A text that decodes to nothing at all still gives its one page.
  if (writer.PagesWritten() == 0 && !composer.BlankPage()) return writeFailed();
  return done(1);
}

int ConfigureTxt2Tif(Txt2Tif& renderer, const ConvertOptions& options) {
  int ok = renderer.SetPaper(SendPaper(options), kSendPaperMask);
  ok &= renderer.SetLineExtra(options.lineExtra, LINE_EXTRA_TENTH_MM);
  renderer.SetWordWrap(options.wordWrap);
  renderer.SetTabSize(options.tabSize);
  ok &= renderer.SetFont(options.font);
  return ok;
}

}  // namespace vexo
