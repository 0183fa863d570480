// CSettingSheet: the four settings pages in one modal dialog with OK and
// Cancel. The pages edit a working copy of the settings; OK checks every page
// (a refusing page is brought to the front and the sheet stays), then stores
// the copy and the modem choice and applies the kernel settings. A changed text
// the settings file cannot keep, or a log folder that cannot be created, is
// refused the same way. Cancel keeps every old value.
#pragma once

#include <QDialog>

#include "app/settings/settings.h"
#include "ui/settings/setting_sheet.h"

class QTabWidget;

namespace vexo::ui {

class CMdmSetDlg;
class CTifOutSetDlg;
class CProfSetDlg;
class CVModem;

class CSettingSheet : public QDialog {
  Q_OBJECT
 public:
  explicit CSettingSheet(SettingSheetContext& context, QWidget* parent = nullptr);

  void accept() override;

  QTabWidget* Tabs() const { return m_tabs; }
  CMdmSetDlg* ModemPage() const { return m_modem; }
  CTifOutSetDlg* TextPage() const { return m_text; }
  CProfSetDlg* ProfilePage() const { return m_profile; }
  CVModem* VoicePage() const { return m_voice; }

 private:
  // The page that edits key.
  QWidget* PageOf(const SettingKey& key) const;
  // A changed text the settings cannot take (characters the file cannot hold,
  // a log folder that cannot be created): after the message, its page.
  QWidget* RefusedPage(const AppSettings& edited) const;

  SettingSheetContext& m_context;
  AppSettings m_edited;
  QTabWidget* m_tabs = nullptr;
  CMdmSetDlg* m_modem = nullptr;
  CTifOutSetDlg* m_text = nullptr;
  CProfSetDlg* m_profile = nullptr;
  CVModem* m_voice = nullptr;
};

}  // namespace vexo::ui
