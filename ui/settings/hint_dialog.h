// The hint dialog of the modem page: a text, a choice that turns the hint off,
// and OK.
#pragma once

#include <QDialog>

#include <cstdint>

class QCheckBox;

namespace vexo::ui {

class HintDialog : public QDialog {
  Q_OBJECT
 public:
  HintDialog(const QString& text, QWidget* parent = nullptr);
  bool TurnOff() const;
  QCheckBox* TurnOffBox() const { return m_turnOff; }

 private:
  QCheckBox* m_turnOff = nullptr;
};

// Shows the hint with string textId when flag is 1; the turn-off choice sets
// flag to 0.
void ShowHint(QWidget* parent, unsigned textId, std::uint32_t& flag);

}  // namespace vexo::ui
