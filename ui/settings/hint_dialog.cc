#include "ui/settings/hint_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdint>

#include "base/string_ids.h"
#include "ui/common/ui_strings.h"

namespace vexo::ui {

HintDialog::HintDialog(const QString& text, QWidget* parent) : QDialog(parent) {
  setObjectName("HintDialog");
  setWindowTitle(ResString(str::kHintTitle));
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(text, this);
  label->setWordWrap(true);
  layout->addWidget(label);
  m_turnOff = new QCheckBox(ResString(str::kHintTurnOff), this);
  layout->addWidget(m_turnOff);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setText(ResString(str::kOk));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
}

bool HintDialog::TurnOff() const { return m_turnOff->isChecked(); }

void ShowHint(QWidget* parent, unsigned textId, std::uint32_t& flag) {
  if (flag != 1) return;
  HintDialog hint(ResString(textId), parent);
  hint.exec();
  if (hint.TurnOff()) flag = 0;
}

}  // namespace vexo::ui
