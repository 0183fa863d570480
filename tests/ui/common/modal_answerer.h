// Answers the modal windows the code under test opens: every shown message box
// or error dialog is recorded and closed with the given button, the way a user
// would click it.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStringList>
#include <QThread>
#include <QTimer>

namespace vexo::ui::test {

class ModalAnswerer {
 public:
  explicit ModalAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok) : m_answer(answer) {
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Answer(); });
    m_timer.start(20);
  }
  void SetAnswer(QMessageBox::StandardButton answer) { m_answer = answer; }

  QStringList boxes;        // texts of the message boxes, in order
  QStringList captions;     // their captions
  QStringList dialogTexts;  // texts of other dialogs (the error dialog)
  bool shownOnGuiThread = true;

 private:
  void Answer() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    shownOnGuiThread = shownOnGuiThread && modal->thread() == qApp->thread();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      boxes << box->text();
      captions << box->windowTitle();
      QAbstractButton* button = box->button(m_answer);
      if (!button) button = box->buttons().value(0);
      button->click();
    } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      if (auto* text = dialog->findChild<QPlainTextEdit*>())
        dialogTexts << text->toPlainText();
      else
        dialogTexts << dialog->objectName();
      dialog->accept();
    }
  }

  QMessageBox::StandardButton m_answer;
  QTimer m_timer;
};

}  // namespace vexo::ui::test
