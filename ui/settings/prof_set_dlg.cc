#include "ui/settings/prof_set_dlg.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "app/settings/settings.h"
#include "base/string_ids.h"
#include "ui/common/ui_strings.h"

namespace vexo::ui {
namespace {

struct ProfileField {
  unsigned label;
  const char* control;
  std::string AppSettings::*field;
};
constexpr std::array<ProfileField, 6> kFields{{
    {str::kProfileFullName, "control1009", &AppSettings::ProfileFullName},
    {str::kProfileEmail, "control1005", &AppSettings::ProfileEmail},
    {str::kProfileFaxNumber, "control1013", &AppSettings::ProfileFaxNO},
    {str::kProfilePhone1, "control1015", &AppSettings::ProfilePhone1},
    {str::kProfilePhone2, "control1018", &AppSettings::ProfilePhone2},
    {str::kProfileMobile, "control1035", &AppSettings::ProfileMobile},
}};

}  // namespace

CProfSetDlg::CProfSetDlg(QWidget* parent) : QWidget(parent) {
  setObjectName("CProfSetDlg");
  auto* form = new QFormLayout(this);
  for (std::size_t i = 0; i < kFields.size(); ++i) {
    m_edits[i] = new QLineEdit(this);
    m_edits[i]->setObjectName(kFields[i].control);
    m_edits[i]->setMaxLength(kProfileMaxChars);
    form->addRow(ResString(kFields[i].label), m_edits[i]);
  }
  auto* logoRow = new QHBoxLayout;
  m_logo = new QLineEdit(this);
  m_logo->setObjectName("control1020");
  m_logo->setMaxLength(kLogoMaxChars);
  m_browse = new QPushButton(ResString(str::kProfileBrowse), this);
  m_browse->setObjectName("browseLogo");
  connect(m_browse, &QPushButton::clicked, this, &CProfSetDlg::BrowseLogo);
  logoRow->addWidget(m_logo, 1);
  logoRow->addWidget(m_browse);
  form->addRow(ResString(str::kProfileLogo), logoRow);
}

void CProfSetDlg::Load(const AppSettings& s) {
  for (std::size_t i = 0; i < kFields.size(); ++i)
    m_edits[i]->setText(QString::fromStdString(s.*kFields[i].field));
  m_logo->setText(QString::fromStdString(s.ProfileLogo));
}

void CProfSetDlg::Accept(AppSettings& s) const {
  for (std::size_t i = 0; i < kFields.size(); ++i)
    s.*kFields[i].field = m_edits[i]->text().left(kProfileMaxChars).toStdString();
  s.ProfileLogo = m_logo->text().left(kLogoMaxChars).toStdString();
}

void CProfSetDlg::BrowseLogo() {
  QFileDialog dialog(this,
                     ResString(str::kProfileLogo).remove(':').remove(QChar(0xFF1A)).trimmed());
  dialog.setObjectName("logoBrowser");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilter("BitMap (*.bmp)");
  const QFileInfo current(m_logo->text());
  if (!m_logo->text().isEmpty()) {
    dialog.setDirectory(current.absolutePath());
    dialog.selectFile(current.fileName());
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  m_logo->setText(dialog.selectedFiles().front());
}

}  // namespace vexo::ui
