// The error detail dialog: one read-only text box with the gathered error
// records, shown modally by the error pool's flush.
#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace vexo::ui {

class ErrorDialog : public QDialog {
  Q_OBJECT
 public:
  explicit ErrorDialog(const QString& text, QWidget* parent = nullptr);
  QString Text() const;

 private:
  QPlainTextEdit* m_text = nullptr;
};

}  // namespace vexo::ui
