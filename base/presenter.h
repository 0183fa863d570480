// How the core talks to the person at the screen: message boxes, questions and
// the error detail dialog go through the current Presenter. The desktop
// interface installs a Qt presenter; until then (and in the vexo command) the
// console presenter prints to stderr and asks questions on a terminal, answering
// No when there is none.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vexo {

// Message box styles: buttons in the low nibble, icon in 0xF0.
enum MessageBoxStyle : unsigned {
  MB_OK = 0x00,
  MB_OKCANCEL = 0x01,
  MB_YESNO = 0x04,
  MB_ICONSTOP = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONEXCLAMATION = 0x30,
  MB_ICONINFORMATION = 0x40,
};

// Buttons a message box returns.
enum MessageBoxResult : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

class Presenter {
 public:
  virtual ~Presenter() = default;
  // Shows a modal message box; returns the button chosen.
  virtual int MessageBox(std::string_view text, const std::optional<std::string>& caption,
                         unsigned style) = 0;
  // Shows the error detail dialog with the gathered text.
  virtual void ShowErrorDetails(std::string_view text) = 0;
};

class ConsolePresenter : public Presenter {
 public:
  int MessageBox(std::string_view text, const std::optional<std::string>& caption,
                 unsigned style) override;
  void ShowErrorDetails(std::string_view text) override;
};

// The presenter in use; SetPresenter(nullptr) restores the console presenter.
Presenter& CurrentPresenter();
void SetPresenter(Presenter* presenter);

// The caption a style implies when none is given ("ERROR", "WARNING",
// "INFORMATION", "QUESTION" from the string table), or nullopt.
std::optional<std::string> CaptionForStyle(unsigned style);

// Message box whose text is the string-table entry for stringId used as the
// printf format. A null caption follows the style's icon.
int ShowMessage(unsigned style, const char* caption, unsigned stringId, ...);

}  // namespace vexo
