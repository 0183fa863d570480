#include "ui/send/chain_dialog.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/string_ids.h"
#include "ui/common/ui_strings.h"
#include "ui/send/send_chain.h"

namespace vexo::ui {

ChainDialog::ChainDialog(const QString& title, QWidget* parent) : QDialog(parent) {
  setWindowTitle(title);
  setModal(true);
  auto* outer = new QVBoxLayout(this);
  m_body = new QVBoxLayout;
  outer->addLayout(m_body, 1);
  m_buttons = new QHBoxLayout;
  m_buttons->addStretch(1);
  m_back = new QPushButton(ResString(str::kChainBack), this);
  m_next = new QPushButton(ResString(str::kChainNext), this);
  m_cancel = new QPushButton(ResString(str::kCancel), this);
  m_next->setDefault(true);
  m_buttons->addWidget(m_back);
  m_buttons->addWidget(m_next);
  m_buttons->addWidget(m_cancel);
  outer->addLayout(m_buttons);
  connect(m_next, &QPushButton::clicked, this, [this] {
    if (AcceptNext()) done(kResultNext);
  });
  connect(m_back, &QPushButton::clicked, this, [this] {
    StoreForBack();
    done(kResultBack);
  });
  connect(m_cancel, &QPushButton::clicked, this, &ChainDialog::reject);
}

void ChainDialog::reject() { done(kResultCancel); }

}  // namespace vexo::ui
