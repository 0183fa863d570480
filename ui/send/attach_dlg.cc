#include "ui/send/attach_dlg.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/error_pool.h"
#include "base/presenter.h"
#include "base/string_ids.h"
#include "document/tiff_convert.h"
#include "ui/common/ui_strings.h"

namespace vexo::ui {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

void ReportWrite(const char* function, const char* format, const QString& path, int error) {
  ReportError(0, kMsgDefault, "TxtEditor", function, "%s%s",
              QString::fromLatin1(format).arg(path).toStdString().c_str(), std::strerror(error));
}

// The name of a file type in the table's language.
QString FileTypeName(ConvertKind kind) {
  switch (kind) {
    case ConvertKind::CoverPage:
      return ResString(str::kFileTypeCover);
    case ConvertKind::Tiff:
      return ResString(str::kFileTypeTiff);
    case ConvertKind::Text:
      return ResString(str::kFileTypeText);
    case ConvertKind::Pdf:
      return ResString(str::kFileTypePdf);
    case ConvertKind::Image:
      return ResString(str::kFileTypePicture);
  }
  return {};
}

}  // namespace

QStringList AttachmentFilters() {
  // Rows of one kind share a filter line, in the table's order.
  std::vector<ConvertKind> kinds;
  std::map<ConvertKind, QStringList> patterns;
  for (std::size_t i = 1; i < kFileTypes.size(); ++i) {
    const ConvertKind kind = kFileTypes[i].kind;
    if (!patterns.count(kind)) kinds.push_back(kind);
    patterns[kind] << QString::fromLatin1(kFileTypes[i].pattern);
  }
  QStringList filters{ResString(str::kFileTypeAll) + QStringLiteral(" (*.*)")};
  for (const ConvertKind kind : kinds)
    filters << FileTypeName(kind) + " (" + patterns[kind].join(' ') + ")";
  return filters;
}

bool WriteUtf16TextFile(const QString& path, const QString& text) {
  const std::string name = path.toStdString();
  FilePtr file(std::fopen(name.c_str(), "wb"));
  if (!file) {
    ReportWrite("CreateFile", "Fail to create new text file [filename=%1], ErrMsg = ", path, errno);
    return false;
  }
  std::string bytes = "\xFF\xFE";
  bytes.reserve(2 + static_cast<std::size_t>(text.size()) * 2);
  for (const QChar c : text) {  // UTF-16 code units, low byte first
    bytes += static_cast<char>(c.unicode() & 0xFF);
    bytes += static_cast<char>(c.unicode() >> 8);
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  const int writeError = errno;
  const bool closed = std::fclose(file.release()) == 0;
  if (!written || !closed) {
    ReportWrite("WriteFile", "Fail to write to new text file [filename=%1], ErrMsg = ", path,
                written ? errno : writeError);
    return false;
  }
  return true;
}

TxtEditor::TxtEditor(QWidget* parent) : QDialog(parent) {
  setObjectName("TxtEditor");
  setWindowTitle(ResString(str::kNewTextTitle));
  auto* layout = new QVBoxLayout(this);
  m_text = new QPlainTextEdit(this);
  layout->addWidget(m_text);
  auto* box = new QDialogButtonBox(this);
  box->addButton(ResString(str::kOk), QDialogButtonBox::AcceptRole);
  box->addButton(ResString(str::kCancel), QDialogButtonBox::RejectRole);
  connect(box, &QDialogButtonBox::accepted, this, &TxtEditor::accept);
  connect(box, &QDialogButtonBox::rejected, this, &TxtEditor::reject);
  layout->addWidget(box);
  m_askSavePath = [this] {
    return QFileDialog::getSaveFileName(this, ResString(str::kSaveTextTitle), QString(),
                                        ResString(str::kTextFilter) + QStringLiteral(" (*.txt)"));
  };
  resize(460, 340);
}

void TxtEditor::accept() {
  const QString text = m_text->toPlainText();
  if (text.isEmpty()) {
    reject();
    return;
  }
  QString path = m_askSavePath();
  if (path.isEmpty()) {
    // Yes throws the text away; No goes back to it.
    if (ShowMessage(MB_YESNO | MB_ICONEXCLAMATION, nullptr, str::kAskDiscardText) == IDYES)
      reject();
    return;
  }
  if (!WriteUtf16TextFile(path, text)) {
    FlushErrorPool(systemLog, false);
    reject();
    return;
  }
  m_saved = path;
  QDialog::accept();
}

CAttachDlg::CAttachDlg(SendFields& fields, LogFile* systemLog, QWidget* parent)
    : ChainDialog(ResString(str::kAttachmentsTitle), parent),
      m_fields(fields),
      m_systemLog(systemLog) {
  setObjectName("CAttachDlg177");
  auto* row = new QHBoxLayout;
  m_list = new QListWidget(this);
  m_list->setObjectName("IDC_LISTATTCH");
  for (const std::string& source : fields.sources) m_list->addItem(QString::fromStdString(source));
  row->addWidget(m_list, 1);
  auto* column = new QVBoxLayout;
  m_add = new QPushButton(ResString(str::kAttachAddFile), this);
  m_newText = new QPushButton(ResString(str::kAttachNewText), this);
  m_remove = new QPushButton(ResString(str::kAttachRemove), this);
  column->addWidget(m_add);
  column->addWidget(m_newText);
  column->addWidget(m_remove);
  column->addStretch(1);
  row->addLayout(column);
  Body()->addLayout(row);
  connect(m_add, &QPushButton::clicked, this, &CAttachDlg::AddFiles);
  connect(m_newText, &QPushButton::clicked, this, &CAttachDlg::NewText);
  connect(m_remove, &QPushButton::clicked, this, &CAttachDlg::RemoveSelected);
  m_askFiles = [this] {
    return QFileDialog::getOpenFileNames(this, ResString(str::kAttachFilesTitle), QString(),
                                         AttachmentFilters().join(";;"));
  };
  resize(520, 320);
}

void CAttachDlg::AddFiles() {
  for (const QString& path : m_askFiles()) m_list->addItem(path);
}

void CAttachDlg::NewText() {
  TxtEditor editor(this);
  editor.systemLog = m_systemLog;
  if (m_editorHook) m_editorHook(editor);
  if (editor.exec() == QDialog::Accepted) m_list->addItem(editor.SavedPath());
}

void CAttachDlg::RemoveSelected() {
  QListWidgetItem* item = m_list->currentItem();
  if (!item || !item->isSelected()) {
    ShowMessage(MB_ICONEXCLAMATION, nullptr, str::kNoAttachmentChosen);
    return;
  }
  std::unique_ptr<QListWidgetItem> removed(m_list->takeItem(m_list->row(item)));
}

void CAttachDlg::Store() {
  m_fields.sources.clear();
  for (int i = 0; i < m_list->count(); ++i)
    m_fields.sources.push_back(m_list->item(i)->text().toStdString());
}

bool CAttachDlg::AcceptNext() {
  if (m_list->count() == 0) {
    ShowMessage(MB_ICONEXCLAMATION, nullptr, str::kNoAttachments);
    return false;
  }
  Store();
  return true;
}

void CAttachDlg::StoreForBack() { Store(); }

}  // namespace vexo::ui
