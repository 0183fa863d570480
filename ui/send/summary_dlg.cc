#include "ui/send/summary_dlg.h"

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <filesystem>

#include "app/settings/settings.h"
#include "app/store/db_func.h"
#include "base/error_pool.h"
#include "base/string_ids.h"
#include "ui/common/ui_strings.h"

namespace vexo::ui {

QString FormatTableText(const QString& format, const QStringList& args) {
  QString out;
  int next = 0;
  for (int i = 0; i < format.size(); ++i) {
    const QChar c = format[i];
    if (c != '%' || i + 1 >= format.size()) {
      out += c;
      continue;
    }
    const QChar conv = format[i + 1];
    if (conv == '%') {
      out += '%';
      ++i;
    } else if ((conv == 's' || conv == 'd') && next < args.size()) {
      out += args[next++];
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}

FaxRecord ComposedFaxRecord(const SendFields& fields, const AppSettings& settings) {
  FaxRecord record;
  record.status = 1;
  record.contact = fields.recipient;
  record.telephone = fields.number;
  record.date = LocalFileTimeNow();
  record.remoteStationId = std::string();
  record.info1 = std::string();
  record.info2 = std::string();
  record.fileName = std::filesystem::path(fields.generatedFile).filename().string();
  record.pages = static_cast<std::uint16_t>(std::min<std::uint32_t>(fields.pages, 0xFFFE));
  record.resolution = settings.T2TQuality == 1 ? 1 : 2;
  record.noteFlag = fields.note.empty() ? 0 : 1;
  record.note = fields.note;
  return record;
}

SummaryDlg::SummaryDlg(const SendContext& context, const SendFields& fields, QWidget* parent)
    : ChainDialog(ResString(str::kSummaryTitle), parent), m_context(context), m_fields(fields) {
  setObjectName("SummaryDlg156");
  m_text = new QLabel(
      FormatTableText(ResString(str::kSummaryText),
                      {QString::fromStdString(fields.recipient),
                       QString::fromStdString(fields.number), QString::number(fields.pages)}),
      this);
  m_text->setObjectName("summary1028");
  m_text->setWordWrap(true);
  m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  Body()->addWidget(m_text);
  Body()->addStretch(1);
  m_sendNow = new QPushButton(ResString(str::kSummarySendNow), this);
  m_file = new QToolButton(this);
  m_file->setText(ResString(str::kSummaryFileInto));
  m_file->setPopupMode(QToolButton::InstantPopup);
  auto* menu = new QMenu(m_file);
  for (const auto& [text, folder] :
       {std::pair{str::kMenuToSent, 0}, {str::kMenuToInbox, 2}, {str::kMenuToDeleted, 3}}) {
    QAction* action = menu->addAction(ResString(text));
    action->setData(folder);
    connect(action, &QAction::triggered, this, [this, folder = folder] { FileInto(folder); });
  }
  m_file->setMenu(menu);
  Buttons()->insertWidget(1, m_sendNow);
  Buttons()->insertWidget(2, m_file);
  NextButton()->hide();  // Send Now is the way forward
  m_sendNow->setDefault(true);
  connect(m_sendNow, &QPushButton::clicked, this, [this] { done(kResultSendNow); });
  resize(420, 220);
}

QString SummaryDlg::SummaryText() const { return m_text->text(); }

void SummaryDlg::FileInto(int folder) {
  FaxRecord record = ComposedFaxRecord(m_fields, *m_context.settings);
  if (!m_context.store) {
    ReportError(0, kMsgDefault, "SummaryDlg", "OnFile", "The fax folders are not open.");
  } else if (m_context.store->AddRecord(folder, record) == 1) {
    if (m_context.filed) m_context.filed(folder, record);
    done(kResultFiled);
    return;
  }
  FlushErrorPool(m_context.systemLog, false);
}

}  // namespace vexo::ui
