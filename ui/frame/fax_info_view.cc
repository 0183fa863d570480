#include "ui/frame/fax_info_view.h"

#include <QPainter>
#include <QResizeEvent>

#include <filesystem>
#include <system_error>

#include "app/settings/settings.h"
#include "app/store/record_file.h"
#include "base/log_file.h"
#include "base/string_ids.h"
#include "ui/common/ui_strings.h"

namespace vexo::ui {
namespace {

constexpr int kLineSpacing = 4;
constexpr int kMargin = 6;
constexpr int kPaneLines = 8;

QString Text(const std::optional<std::string>& text) {
  return text ? QString::fromStdString(*text) : QString();
}

QString ResolutionName(std::uint16_t resolution) {
  switch (resolution) {
    case 1:
      return ResString(str::kInfoNormal);
    case 2:
      return ResString(str::kInfoFine);
    case 3:
      return ResString(str::kInfoSuperFine);
    default:
      return {};  // 0xFFFF (not recorded) and unknown values show no name
  }
}

}  // namespace

// The drawing surface inside the scroll view.
class CFaxInfoView::Canvas : public QWidget {
 public:
  explicit Canvas(CFaxInfoView* view) : QWidget(view), m_view(view) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(9);
    setFont(font);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
  }

  int LineHeight() const { return fontMetrics().height(); }

  // The scroll height: the visible height, or eight lines when that is more.
  void Fit(int viewHeight, int viewWidth) {
    const int lines = kPaneLines * (LineHeight() + kLineSpacing) + 2 * kMargin;
    resize(viewWidth, std::max(viewHeight, lines));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    int y = kMargin;
    const QStringList& lines = m_view->Lines();
    for (int i = 0; i < lines.size(); ++i) {
      // Colour 0x800000 in the platform's blue-green-red order: dark blue.
      painter.setPen(i == 0 ? QColor(0, 0, 0x80) : QColor(Qt::black));
      painter.drawText(QRect(kMargin, y, width() - 2 * kMargin, LineHeight()),
                       Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, lines[i]);
      y += LineHeight() + kLineSpacing;
    }
  }

 private:
  CFaxInfoView* m_view;
};

CFaxInfoView::CFaxInfoView(const AppSettings* settings, LogFile* log, QWidget* parent)
    : QScrollArea(parent), m_settings(settings), m_log(log) {
  setObjectName(QStringLiteral("CFaxInfoView"));
  m_canvas = new Canvas(this);
  setWidget(m_canvas);
  setWidgetResizable(false);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_canvas->Fit(viewport()->height(), viewport()->width());
}

void CFaxInfoView::ShowRecord(const FaxRecord& record) {
  m_record = record;
  BuildLines();
}

void CFaxInfoView::Clear() {
  m_record.reset();
  BuildLines();
}

QString CFaxInfoView::SizeText(std::uint64_t bytes) {
  return QStringLiteral("%1.%2K").arg(bytes / 1024).arg((bytes % 1024) / 103);
}

std::optional<std::uint64_t> CFaxInfoView::FileSize(const FaxRecord& record) const {
  if (!m_settings) return std::nullopt;
  const std::string name = record.fileName.value_or("");
  const auto path = RecordFilePath(m_settings->TIFDataDir, name);
  if (!path) {
    // A record naming a file outside the data folder: the file is never opened.
    if (m_log && !name.empty()) {
      m_log->WriteLineF("CFaxInfoView", 0, "Func = [OnDraw], Message = [%s]",
                        ("The fax file name [" + name + "] is not valid.").c_str());
    }
    return std::nullopt;
  }
  std::error_code error;
  const auto size = std::filesystem::file_size(*path, error);
  if (error) return std::nullopt;
  return size;
}

void CFaxInfoView::BuildLines() {
  m_lines.clear();
  if (m_record) {
    const FaxRecord& r = *m_record;
    m_lines << Text(r.contact);
    m_lines << ResString(str::kInfoTelephone) + Text(r.telephone);
    m_lines << ResString(str::kInfoRemoteId) + Text(r.remoteStationId);
    m_lines << ResString(str::kInfoInfo) + Text(r.info1);
    m_lines << ResString(str::kInfoMoreInfo) + Text(r.info2);
    m_lines << ResFormat(str::kInfoPages, static_cast<int>(r.pages));
    m_lines << ResString(str::kInfoResolution) + ResolutionName(r.resolution);
    const auto size = FileSize(r);
    m_lines << ResString(str::kInfoSize) + (size ? SizeText(*size) : QString());
  }
  m_canvas->Fit(viewport()->height(), viewport()->width());
  m_canvas->update();
}

void CFaxInfoView::resizeEvent(QResizeEvent* event) {
  QScrollArea::resizeEvent(event);
  m_canvas->Fit(viewport()->height(), viewport()->width());
}

}  // namespace vexo::ui
