// The attachment step of the send chain (CAttachDlg): the list of files to
// send, with Add File (the open-file dialog with the attachment filters), New
// Text (a text typed in TxtEditor and saved as a UTF-16 text file) and Remove.
#pragma once

#include <QDialog>
#include <QStringList>

#include <functional>

#include "ui/send/chain_dialog.h"
#include "ui/send/send_chain.h"

class QListWidget;
class QPlainTextEdit;

namespace vexo::ui {

// The open-file dialog's filters: "All (*.*)", then one line per kind of
// attachment the conversion knows ("Tiff File (*.tif *.tiff)", ...).
QStringList AttachmentFilters();

// Writes text as a new file: the byte-order mark U+FEFF, then the text in
// UTF-16LE without terminator. False after a report under "TxtEditor".
bool WriteUtf16TextFile(const QString& path, const QString& text);

class TxtEditor : public QDialog {
  Q_OBJECT
 public:
  explicit TxtEditor(QWidget* parent = nullptr);
  // Asks for the file to save into; an empty path means the user cancelled.
  // By default the save-file dialog titled "Save Text file".
  void SetAskSavePath(std::function<QString()> ask) { m_askSavePath = std::move(ask); }
  QPlainTextEdit* Editor() const { return m_text; }
  // The file written, after OK.
  QString SavedPath() const { return m_saved; }
  LogFile* systemLog = nullptr;

 private:
  void accept() override;

  QPlainTextEdit* m_text = nullptr;
  std::function<QString()> m_askSavePath;
  QString m_saved;
};

class CAttachDlg : public ChainDialog {
  Q_OBJECT
 public:
  CAttachDlg(SendFields& fields, LogFile* systemLog, QWidget* parent = nullptr);

  // The files Add File appends; by default the open-file dialog "Attach Files".
  void SetAskFiles(std::function<QStringList()> ask) { m_askFiles = std::move(ask); }
  // Called with each new text editor before it runs (the tests answer it).
  void SetEditorHook(std::function<void(TxtEditor&)> hook) { m_editorHook = std::move(hook); }

  QListWidget* List() const { return m_list; }
  QPushButton* AddButton() const { return m_add; }
  QPushButton* NewTextButton() const { return m_newText; }
  QPushButton* RemoveButton() const { return m_remove; }

 private:
  bool AcceptNext() override;
  void StoreForBack() override;
  void Store();
  void AddFiles();
  void NewText();
  void RemoveSelected();

  SendFields& m_fields;
  LogFile* m_systemLog;
  QListWidget* m_list = nullptr;
  QPushButton* m_add = nullptr;
  QPushButton* m_newText = nullptr;
  QPushButton* m_remove = nullptr;
  std::function<QStringList()> m_askFiles;
  std::function<void(TxtEditor&)> m_editorHook;
};

}  // namespace vexo::ui
