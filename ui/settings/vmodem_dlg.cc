#include "ui/settings/vmodem_dlg.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpressionValidator>

#include <cstdlib>

#include "app/settings/settings.h"
#include "base/presenter.h"
#include "base/string_ids.h"
#include "ui/common/ui_strings.h"

namespace vexo::ui {
namespace {

// The hang-up pause is read as a text of up to this many characters.
constexpr int kHangupReadChars = 10;

}  // namespace

std::uint32_t LeadingNumber(const QString& text) {
  const std::string bytes = text.left(kHangupReadChars).toStdString();
  return static_cast<std::uint32_t>(std::strtol(bytes.c_str(), nullptr, 10));
}

CVModem::CVModem(QWidget* parent) : QWidget(parent) {
  setObjectName("CVModem");
  auto* form = new QFormLayout(this);
  m_callFax = new QRadioButton(ResString(str::kVoiceCallFax), this);
  m_callFax->setObjectName("control1075");
  m_callSeed = new QRadioButton(ResString(str::kVoiceCallSeed), this);
  m_callSeed->setObjectName("control1076");
  m_seed = new QLineEdit(this);
  m_seed->setObjectName("control1078");
  m_seed->setMaxLength(kSeedCallNumMaxChars);
  m_hangupBreak = new QLineEdit(this);
  m_hangupBreak->setObjectName("control1077");
  m_hangupBreak->setMaxLength(kHangupBreakMaxChars);
  m_hangupBreak->setValidator(
      new QRegularExpressionValidator(QRegularExpression("[0-9]{0,3}"), m_hangupBreak));
  form->addRow(m_callFax);
  form->addRow(m_callSeed, m_seed);
  form->addRow(ResString(str::kVoiceHangupBreak), m_hangupBreak);
  connect(m_callSeed, &QRadioButton::toggled, this, &CVModem::UpdateEnabled);
}

void CVModem::Load(const AppSettings& s) {
  (s.UseWhatAsSeedNum == 2 ? m_callSeed : m_callFax)->setChecked(true);
  m_hangupBreak->setText(QString::number(s.HangupBreak));
  m_seed->setText(QString::fromStdString(s.SeedCallNum));
  UpdateEnabled();
}

void CVModem::UpdateEnabled() { m_seed->setEnabled(m_callSeed->isChecked()); }

bool CVModem::Accept(AppSettings& s) {
  if (m_callSeed->isChecked() && m_seed->text().isEmpty()) {
    ShowMessage(MB_ICONEXCLAMATION, nullptr, str::kNoSeedNumber);
    m_seed->setFocus();
    return false;
  }
  s.HangupBreak = LeadingNumber(m_hangupBreak->text());
  s.SeedCallNum = m_seed->text().left(kSeedCallNumMaxChars).toStdString();
  s.UseWhatAsSeedNum = m_callSeed->isChecked() ? 2 : 1;
  return true;
}

}  // namespace vexo::ui
