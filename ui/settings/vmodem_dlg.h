// CVModem: the voice modem page of the settings sheet: whether a phone modem's
// voice call goes to the fax number itself or to a seed number first, the
// number, and the pause after the voice call.
#pragma once

#include <QWidget>

#include <cstdint>

class QLineEdit;
class QRadioButton;

namespace vexo {
struct AppSettings;
}

namespace vexo::ui {

constexpr int kHangupBreakMaxChars = 3;
constexpr int kSeedCallNumMaxChars = 64;

class CVModem : public QWidget {
  Q_OBJECT
 public:
  explicit CVModem(QWidget* parent = nullptr);

  void Load(const AppSettings& settings);
  // A seed number chosen but empty is refused (after the message); false keeps
  // the page.
  bool Accept(AppSettings& settings);

  QRadioButton* CallFaxNumber() const { return m_callFax; }
  QRadioButton* CallSeedNumber() const { return m_callSeed; }
  QLineEdit* HangupBreak() const { return m_hangupBreak; }
  QLineEdit* SeedNumber() const { return m_seed; }

 private:
  void UpdateEnabled();

  QRadioButton* m_callFax = nullptr;
  QRadioButton* m_callSeed = nullptr;
  QLineEdit* m_hangupBreak = nullptr;
  QLineEdit* m_seed = nullptr;
};

// The number at the start of text as _wtol reads it: blanks skipped, an
// optional sign, the digits up to the first other character; 0 when none. The
// value is cut to 32 bits.
std::uint32_t LeadingNumber(const QString& text);

}  // namespace vexo::ui
