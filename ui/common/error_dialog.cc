#include "ui/common/error_dialog.h"

#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/string_ids.h"
#include "ui/common/ui_strings.h"

namespace vexo::ui {

ErrorDialog::ErrorDialog(const QString& text, QWidget* parent) : QDialog(parent) {
  setWindowTitle(ResString(str::kErrorDetailsTitle));
  setObjectName(QStringLiteral("ErrorDialog"));
  auto* layout = new QVBoxLayout(this);
  m_text = new QPlainTextEdit(this);
  m_text->setReadOnly(true);
  m_text->setPlainText(text);
  m_text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  layout->addWidget(m_text);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* close =
      buttons->addButton(ResString(str::kErrorDetailsClose), QDialogButtonBox::AcceptRole);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(buttons);
  resize(480, 360);
}

QString ErrorDialog::Text() const { return m_text->toPlainText(); }

}  // namespace vexo::ui
