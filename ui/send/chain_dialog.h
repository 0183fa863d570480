// The frame shared by the steps of the send chain: the step's own controls
// above a row of Back, Next and Cancel. Next closes with kResultNext once the
// step accepts its input, Back with kResultBack after the step has stored what
// was entered, Cancel (and Escape) with kResultCancel.
#pragma once

#include <QDialog>

class QBoxLayout;
class QPushButton;
class QVBoxLayout;

namespace vexo::ui {

class ChainDialog : public QDialog {
  Q_OBJECT
 public:
  explicit ChainDialog(const QString& title, QWidget* parent = nullptr);

  QPushButton* BackButton() const { return m_back; }
  QPushButton* NextButton() const { return m_next; }
  QPushButton* CancelButton() const { return m_cancel; }

 protected:
  // The layout the step puts its controls into.
  QVBoxLayout* Body() const { return m_body; }
  // The button row, for a step's extra buttons (placed before Back).
  QBoxLayout* Buttons() const { return m_buttons; }
  // Checks and stores the input; false keeps the dialog open.
  virtual bool AcceptNext() { return true; }
  // Stores what was entered before the dialog closes with Back.
  virtual void StoreForBack() {}
  void reject() override;

 private:
  QVBoxLayout* m_body = nullptr;
  QBoxLayout* m_buttons = nullptr;
  QPushButton* m_back = nullptr;
  QPushButton* m_next = nullptr;
  QPushButton* m_cancel = nullptr;
};

}  // namespace vexo::ui
