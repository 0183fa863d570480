// CMdmSetDlg: the modem page of the settings sheet. The serial port or a modem
// of the telephony line's list, line speed, forced fax class, error
// correction and page coding, communication log, station identifier, log
// folder, the Linux devices of the built-in phone modem and of further modem
// lines, the rings after which calls are answered automatically, and how a
// queued fax whose call failed is called again (after how many minutes, how
// many calls in all). Detect
// probes the serial devices on a thread of its own and chooses the port and
// class of the first fax modem that answers.
#pragma once

#include <QWidget>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "ui/settings/setting_sheet.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace vexo {
struct ProbeResult;
}

namespace vexo::ui {

// Line speeds of the speed list (indexes 0 to 4), and the forced class values
// of the class list (indexes 0 to 3).
constexpr std::uint32_t kBaudRates[] = {2400, 19200, 38400, 57600, 115200};
constexpr std::uint32_t kForcedClasses[] = {0, 1, 2, 20};
constexpr int kLocalCSIDMaxChars = 20;
constexpr int kPathMaxChars = 259;
constexpr int kMaxAutoAnswerRings = 20;

class CMdmSetDlg : public QWidget {
  Q_OBJECT
 public:
  // settings is the sheet's working copy: the hints turned off go into it.
  CMdmSetDlg(AppSettings& settings, std::vector<SheetModem> modems,
             std::vector<std::string> serialDevices, QWidget* parent = nullptr);

  // Fills the controls from the settings.
  void Load();
  // Checks and stores the controls; false (after the message) keeps the page.
  bool Accept(AppSettings& settings, std::uint32_t& currentModem);

  QRadioButton* ModemMode() const { return m_modemMode; }
  QRadioButton* PortMode() const { return m_portMode; }
  QComboBox* PortList() const { return m_port; }
  QPushButton* DetectButton() const { return m_detect; }
  QComboBox* ModemList() const { return m_modem; }
  QComboBox* BaudList() const { return m_baud; }
  QComboBox* ClassList() const { return m_class; }
  QCheckBox* EcmBox() const { return m_ecm; }
  QComboBox* CodingList() const { return m_coding; }
  QCheckBox* CommLog() const { return m_commLog; }
  QLineEdit* StationId() const { return m_csid; }
  QLineEdit* LogPath() const { return m_logPath; }
  QLineEdit* PhoneCommand() const { return m_phoneCommand; }
  QLineEdit* PhoneData() const { return m_phoneData; }
  QLineEdit* TelephonyDevices() const { return m_telephony; }
  QSpinBox* AutoAnswerRings() const { return m_autoAnswer; }
  QSpinBox* RetryDelay() const { return m_retryDelay; }
  QSpinBox* MaxTries() const { return m_maxTries; }

 private:
  void UpdateEnabled();
  void ModemChosen(int index);
  // The list entry of a device, added when the list lacks it.
  int PortEntry(const std::string& device);
  // Probes the devices of the port list and the further modem lines; the
  // button stays disabled until Detected has the results.
  void Detect();
  void Detected(const std::vector<ProbeResult>& results);

  AppSettings& m_settings;
  std::vector<SheetModem> m_modems;
  QRadioButton* m_portMode = nullptr;
  QRadioButton* m_modemMode = nullptr;
  QComboBox* m_port = nullptr;
  QComboBox* m_modem = nullptr;
  QComboBox* m_baud = nullptr;
  QComboBox* m_class = nullptr;
  QCheckBox* m_ecm = nullptr;
  QComboBox* m_coding = nullptr;  // FaxCoding: index 0 MH, 1 MR, 2 MMR
  QCheckBox* m_commLog = nullptr;
  QLineEdit* m_csid = nullptr;
  QLineEdit* m_logPath = nullptr;
  QLineEdit* m_phoneCommand = nullptr;
  QLineEdit* m_phoneData = nullptr;
  QLineEdit* m_telephony = nullptr;
  QSpinBox* m_autoAnswer = nullptr;  // 0: off
  QSpinBox* m_retryDelay = nullptr;  // minutes, 0: at once
  QSpinBox* m_maxTries = nullptr;
  QPushButton* m_detect = nullptr;
  std::jthread m_probe;  // joined before the page goes
};

}  // namespace vexo::ui
