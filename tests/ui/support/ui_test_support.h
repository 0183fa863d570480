// What every widget test binary shares: waiting on the event loop with a
// deadline, buttons found by their string-table text, the screenshot folder,
// and answering the modal windows the code under test opens.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <filesystem>
#include <functional>

class QAbstractButton;
class QWidget;

namespace vexo::ui::test {

// The shared WaitFor with the event loop run between the polls: whether
// ready() held before ms passed.
bool WaitFor(const std::function<bool()>& ready, int ms = 10000);

// The visible button of window that shows string textId; a test failure when
// there is none.
QAbstractButton* ButtonWithText(QWidget* window, unsigned textId);

// Saves widget's picture as <name>.png where screenshots go:
// $VEXO_SCREENSHOT_DIR, else screenshots/ in the build directory of the binary.
bool Screenshot(QWidget* widget, const QString& name);

// A bilevel TIFF as a scanner or another fax program writes it: width x rows
// pixels at xdpi x ydpi, Group 4 or another compression, black bars and a left
// margin line, and the writer's name in the Software tag when one is given.
void WriteForeignTiff(const std::filesystem::path& file, std::uint32_t width, std::uint32_t rows,
                      float xdpi, float ydpi, std::uint16_t pages = 1, int compression = 4,
                      const char* software = nullptr);

// Runs answer on each modal window that opens while it lives, once a window,
// from a fresh call so that a window the answer opens is answered too. A
// window the answer leaves open (a failed check) is rejected.
class ModalHandler {
 public:
  explicit ModalHandler(std::function<void(QWidget*)> answer);
  int shown = 0;

 private:
  std::function<void(QWidget*)> m_answer;
  QTimer m_timer;
};

// Answers every message box with a button, the way a user clicks it, and
// closes every other dialog (the error dialog) with OK; records what they said.
class ModalAnswerer {
 public:
  explicit ModalAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok);
  void SetAnswer(QMessageBox::StandardButton answer) { m_answer = answer; }

  QStringList boxes;        // texts of the message boxes, in order
  QStringList captions;     // their captions
  QStringList dialogTexts;  // texts of other dialogs (the error dialog)
  bool shownOnGuiThread = true;

 private:
  QMessageBox::StandardButton m_answer;
  ModalHandler m_handler;
};

}  // namespace vexo::ui::test
