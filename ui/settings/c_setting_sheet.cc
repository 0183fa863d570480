#include "ui/settings/setting_sheet.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "base/presenter.h"
#include "base/string_ids.h"
#include "modem/tapi_oper.h"
#include "ui/common/ui_strings.h"
#include "ui/settings/c_setting_sheet.h"
#include "ui/settings/mdm_set_dlg.h"
#include "ui/settings/prof_set_dlg.h"
#include "ui/settings/serial_ports.h"
#include "ui/settings/tif_out_set_dlg.h"
#include "ui/settings/vmodem_dlg.h"

namespace vexo::ui {

std::vector<SheetModem> SheetModemsOf(const TAPIOper* modems) {
  std::vector<SheetModem> list;
  if (!modems) return list;
  const auto entries = modems->Modems();
  for (std::size_t i = 0; i < entries.size(); ++i)
    list.push_back({entries[i].name, modems->IsVoiceLine(static_cast<std::uint32_t>(i)) == 1});
  return list;
}

CSettingSheet::CSettingSheet(SettingSheetContext& context, QWidget* parent)
    : QDialog(parent), m_context(context), m_edited(*context.settings) {
  setObjectName("CSettingSheet");
  setWindowTitle(ResString(str::kSettings));
  auto* layout = new QVBoxLayout(this);
  m_tabs = new QTabWidget(this);
  std::vector<std::string> devices = context.serialDevices;
  if (devices.empty()) devices = ListSerialDevices();
  m_modem = new CMdmSetDlg(m_edited, context.modems, std::move(devices), m_tabs);
  m_text = new CTifOutSetDlg(m_tabs);
  m_profile = new CProfSetDlg(m_tabs);
  m_voice = new CVModem(m_tabs);
  m_tabs->addTab(m_modem, ResString(str::kSettingsModemPage));
  m_tabs->addTab(m_text, ResString(str::kSettingsTextPage));
  m_tabs->addTab(m_profile, ResString(str::kSettingsProfilePage));
  m_tabs->addTab(m_voice, ResString(str::kSettingsVoicePage));
  layout->addWidget(m_tabs);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(ResString(str::kOk));
  buttons->button(QDialogButtonBox::Cancel)->setText(ResString(str::kCancel));
  connect(buttons, &QDialogButtonBox::accepted, this, &CSettingSheet::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);

  m_modem->Load();
  m_text->Load(m_edited);
  m_profile->Load(m_edited);
  m_voice->Load(m_edited);
}

void CSettingSheet::accept() {
  AppSettings edited = m_edited;
  std::uint32_t modem = m_context.currentModem;
  auto refuse = [this](QWidget* page) {
    m_tabs->setCurrentWidget(page);
    return;
  };
  if (!m_modem->Accept(edited, modem)) return refuse(m_modem);
  if (!m_text->Accept(edited)) return refuse(m_text);
  m_profile->Accept(edited);
  if (!m_voice->Accept(edited)) return refuse(m_voice);
  if (QWidget* page = RefusedPage(edited)) return refuse(page);
  *m_context.settings = edited;
  m_context.currentModem = modem;
  if (m_context.applySettings) m_context.applySettings();
  QDialog::accept();
}

QWidget* CSettingSheet::PageOf(const SettingKey& key) const {
  const std::string_view name = key.key;
  if (name.starts_with("Profile")) return m_profile;
  if (name == "SeedCallNum") return m_voice;
  return m_modem;
}

QWidget* CSettingSheet::RefusedPage(const AppSettings& edited) const {
  for (const SettingKey& key : SettingKeys()) {
    // The modem name is chosen from the list, not typed.
    if (key.kind != SettingKind::Text || std::string_view(key.key) == "ModemName") continue;
    const std::string& value = edited.*key.text;
    if (value == m_context.settings->*key.text) continue;  // kept as it was
    if (const auto refusal = edited.RefusalOf(key, value)) {
      ShowMessage(MB_ICONEXCLAMATION, nullptr, refusal->stringId, refusal->first.c_str(),
                  refusal->second.c_str());
      return PageOf(key);
    }
  }
  return nullptr;
}

bool RunSettingSheet(QWidget* parent, SettingSheetContext& context) {
  if (!context.settings) return false;
  CSettingSheet sheet(context, parent);
  return sheet.exec() == QDialog::Accepted;
}

bool RunAppSettingSheet(QWidget* parent, AppOper& app) {
  SettingSheetContext context;
  context.settings = &app.Settings();
  context.modems = SheetModemsOf(app.Modems());
  context.currentModem = app.CurrentModem();
  context.systemLog = &app.SystemLog();
  context.applySettings = [&app] {
    app.ApplySettings();
    app.SaveSettings();
  };
  return RunSettingSheet(parent, context);
}

}  // namespace vexo::ui
