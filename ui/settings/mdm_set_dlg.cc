#include "ui/settings/mdm_set_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

#include "app/jobs/modem_probe.h"
#include "app/settings/settings.h"
#include "base/presenter.h"
#include "base/string_ids.h"
#include "ui/common/ui_strings.h"
#include "ui/settings/hint_dialog.h"
#include "ui/settings/serial_ports.h"

namespace vexo::ui {
namespace {

QLineEdit* PathEdit(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setMaxLength(kPathMaxChars);
  return edit;
}

std::string Text(const QLineEdit* edit) { return edit->text().toStdString(); }

QSpinBox* NumberBox(QWidget* parent, const char* name, std::uint32_t min, std::uint32_t max,
                    unsigned tip) {
  auto* box = new QSpinBox(parent);
  box->setObjectName(name);
  box->setRange(static_cast<int>(min), static_cast<int>(max));
  box->setToolTip(ResString(tip));
  return box;
}

}  // namespace

CMdmSetDlg::CMdmSetDlg(AppSettings& settings, std::vector<SheetModem> modems,
                       std::vector<std::string> serialDevices, QWidget* parent)
    : QWidget(parent), m_settings(settings), m_modems(std::move(modems)) {
  setObjectName("CMdmSetDlg");
  auto* form = new QFormLayout(this);

  m_portMode = new QRadioButton(ResString(str::kModemPortMode), this);
  m_portMode->setObjectName("portMode");
  m_port = new QComboBox(this);
  m_port->setObjectName("control1016");
  m_port->setEditable(true);  // a device path may be typed
  m_port->setInsertPolicy(QComboBox::NoInsert);
  for (const std::string& device : serialDevices)
    m_port->addItem(QString::fromStdString(PortLabel(device)), QString::fromStdString(device));
  m_detect = new QPushButton(ResString(str::kModemDetect), this);
  m_detect->setObjectName("detect");
  m_detect->setToolTip(ResString(str::kModemDetectTip));
  connect(m_detect, &QPushButton::clicked, this, &CMdmSetDlg::Detect);
  auto* portRow = new QHBoxLayout;
  portRow->addWidget(m_port, 1);
  portRow->addWidget(m_detect);
  form->addRow(m_portMode);
  form->addRow(ResString(str::kModemPort), portRow);

  m_modemMode = new QRadioButton(ResString(str::kModemListMode), this);
  m_modemMode->setObjectName("control1050");
  m_modem = new QComboBox(this);
  m_modem->setObjectName("control1051");
  m_modem->addItem(AutoModemName());
  for (const SheetModem& modem : m_modems) m_modem->addItem(QString::fromStdString(modem.name));
  form->addRow(m_modemMode);
  form->addRow(ResString(str::kModemChoice), m_modem);
  connect(m_portMode, &QRadioButton::toggled, this, &CMdmSetDlg::UpdateEnabled);
  connect(m_modem, &QComboBox::activated, this, &CMdmSetDlg::ModemChosen);

  m_baud = new QComboBox(this);
  m_baud->setObjectName("control1019");
  for (std::uint32_t rate : kBaudRates) m_baud->addItem(QString::number(rate));
  form->addRow(ResString(str::kModemSpeed), m_baud);

  m_class = new QComboBox(this);
  m_class->setObjectName("control1025");
  m_class->addItems({ResString(str::kAutomaticClass), "Class 1", "Class 2", "Class 2.0"});
  form->addRow(ResString(str::kModemClass), m_class);

  m_ecm = new QCheckBox(ResString(str::kModemEcm), this);
  m_ecm->setObjectName("FaxECM");
  m_ecm->setToolTip(ResString(str::kModemEcmTip));
  form->addRow(m_ecm);
  m_coding = new QComboBox(this);
  m_coding->setObjectName("FaxCoding");
  m_coding->addItems({"MH", "MR", "MMR"});
  m_coding->setToolTip(ResString(str::kModemCodingTip));
  form->addRow(ResString(str::kModemCoding), m_coding);

  m_commLog = new QCheckBox(ResString(str::kModemCommLog), this);
  m_commLog->setObjectName("control1031");
  form->addRow(m_commLog);

  m_csid = new QLineEdit(this);
  m_csid->setObjectName("control1027");
  m_csid->setMaxLength(kLocalCSIDMaxChars);
  form->addRow(ResString(str::kModemStationId), m_csid);
  m_logPath = PathEdit(this, "control1029");
  form->addRow(ResString(str::kModemLogPath), m_logPath);
  m_phoneCommand = PathEdit(this, "PhoneCommandDevice");
  form->addRow(ResString(str::kModemPhoneCommand), m_phoneCommand);
  m_phoneData = PathEdit(this, "PhoneDataDevice");
  form->addRow(ResString(str::kModemPhoneData), m_phoneData);
  m_telephony = PathEdit(this, "TelephonyDevices");
  form->addRow(ResString(str::kModemTelephony), m_telephony);
  m_autoAnswer = new QSpinBox(this);
  m_autoAnswer->setObjectName("AutoAnswer");
  m_autoAnswer->setRange(0, kMaxAutoAnswerRings);
  form->addRow(ResString(str::kAutoAnswerRings), m_autoAnswer);
  m_retryDelay = NumberBox(this, "RetryDelay", 0, kMaxRetryDelayMinutes, str::kRetryDelayTip);
  form->addRow(ResString(str::kRetryDelayLabel), m_retryDelay);
  m_maxTries = NumberBox(this, "MaxTries", kMinMaxTries, kMaxMaxTries, str::kMaxTriesTip);
  form->addRow(ResString(str::kMaxTriesLabel), m_maxTries);
}

int CMdmSetDlg::PortEntry(const std::string& device) {
  const QString path = QString::fromStdString(device);
  int index = m_port->findData(path);
  if (index < 0) {
    m_port->addItem(QString::fromStdString(PortLabel(device)), path);
    index = m_port->count() - 1;
  }
  return index;
}

void CMdmSetDlg::Detect() {
  std::vector<std::string> listed;
  for (int i = 0; i < m_port->count(); ++i)
    listed.push_back(m_port->itemData(i).toString().toStdString());
  const std::vector<std::string> devices = ProbeDevices(listed, m_telephony->text().toStdString());
  const std::uint32_t baud = kBaudRates[std::max(m_baud->currentIndex(), 0)];
  m_detect->setEnabled(false);
  setCursor(Qt::BusyCursor);
  // Silent ports take seconds: the probe runs on a thread of its own, the page
  // stays responsive, and the results come back to the page's thread.
  m_probe = std::jthread([this, devices, baud] {
    std::vector<ProbeResult> results = ProbeModems(devices, baud);
    QMetaObject::invokeMethod(
        this, [this, results = std::move(results)] { Detected(results); }, Qt::QueuedConnection);
  });
}

void CMdmSetDlg::Detected(const std::vector<ProbeResult>& results) {
  m_detect->setEnabled(true);
  unsetCursor();
  const auto modem = std::ranges::find_if(
      results, [](const ProbeResult& result) { return result.SuggestedClass().has_value(); });
  if (modem == results.end()) {
    ShowMessage(MB_ICONEXCLAMATION, nullptr, str::kModemDetectNone);
    return;
  }
  m_portMode->setChecked(true);
  m_port->setCurrentIndex(PortEntry(modem->device));
  const auto* cls =
      std::find(std::begin(kForcedClasses), std::end(kForcedClasses), *modem->SuggestedClass());
  m_class->setCurrentIndex(static_cast<int>(cls - std::begin(kForcedClasses)));
}

void CMdmSetDlg::Load() {
  const AppSettings& s = m_settings;
  const bool modemMode = !s.ModemName.empty();
  (modemMode ? m_modemMode : m_portMode)->setChecked(true);
  m_port->setCurrentIndex(PortEntry(DeviceOfSettings(s.COMPortNum, s.COMPortDevice)));

  // The entry named as ModemName; none in the serial port mode or when the
  // modem is gone from the list.
  const int modem = modemMode ? m_modem->findText(QString::fromStdString(s.ModemName),
                                                  Qt::MatchExactly | Qt::MatchCaseSensitive)
                              : -1;
  m_modem->setCurrentIndex(modem);

  const auto* rate = std::find(std::begin(kBaudRates), std::end(kBaudRates), s.InitBaudRate);
  m_baud->setCurrentIndex(
      rate == std::end(kBaudRates) ? 1 : static_cast<int>(rate - std::begin(kBaudRates)));
  const auto* cls =
      std::find(std::begin(kForcedClasses), std::end(kForcedClasses), s.ForceFaxClass);
  m_class->setCurrentIndex(
      cls == std::end(kForcedClasses) ? 0 : static_cast<int>(cls - std::begin(kForcedClasses)));
  m_ecm->setChecked(s.FaxECM != 0);
  m_coding->setCurrentIndex(static_cast<int>(std::min<std::uint32_t>(s.FaxCoding, 2)));
  m_commLog->setChecked(s.FaxCommLogOn == 1);
  m_csid->setText(QString::fromStdString(s.LocalCSID));
  m_logPath->setText(QString::fromStdString(s.LogPath));
  m_phoneCommand->setText(QString::fromStdString(s.PhoneCommandDevice));
  m_phoneData->setText(QString::fromStdString(s.PhoneDataDevice));
  m_telephony->setText(QString::fromStdString(s.TelephonyDevices));
  m_autoAnswer->setValue(
      static_cast<int>(std::min<std::uint32_t>(s.AutoAnswer, kMaxAutoAnswerRings)));
  // The boxes take a value below their range as their minimum.
  m_retryDelay->setValue(static_cast<int>(std::min(s.RetryDelay, kMaxRetryDelayMinutes)));
  m_maxTries->setValue(static_cast<int>(std::min(s.MaxTries, kMaxMaxTries)));
  UpdateEnabled();
}

void CMdmSetDlg::UpdateEnabled() {
  const bool portMode = m_portMode->isChecked();
  m_port->setEnabled(portMode);
  m_modem->setEnabled(!portMode);
}

void CMdmSetDlg::ModemChosen(int index) {
  if (index == 0) {
    ShowHint(this, str::kAutoModemHint, m_settings.HintAutoModem);
  } else if (index > 0 && static_cast<std::size_t>(index) <= m_modems.size() &&
             m_modems[static_cast<std::size_t>(index) - 1].voice) {
    ShowHint(this, str::kVoiceModemHint, m_settings.HintSetVoiceModem);
  }
}

bool CMdmSetDlg::Accept(AppSettings& s, std::uint32_t& currentModem) {
  if (m_modemMode->isChecked()) {
    const int index = m_modem->currentIndex();
    if (index < 0) {
      ShowMessage(MB_ICONEXCLAMATION, nullptr, str::kChooseModem);
      m_modem->setFocus();
      return false;
    }
    if (index == 0) {
      s.ModemName = AutoModemName().toStdString();
      currentModem = kAutoModemIndex;
    } else {
      s.ModemName = m_modems[static_cast<std::size_t>(index) - 1].name;
      currentModem = static_cast<std::uint32_t>(index - 1);
    }
  } else {
    // A typed path, or the device of the chosen entry.
    const int entry = m_port->findText(m_port->currentText());
    const std::string device = entry >= 0 ? m_port->itemData(entry).toString().toStdString()
                                          : m_port->currentText().trimmed().toStdString();
    if (!device.empty()) {
      const PortChoice port = ChoosePort(device, s.COMPortNum);
      s.COMPortNum = port.comPortNum;
      s.COMPortDevice = port.comPortDevice;
    }
    s.ModemName.clear();
  }
  s.InitBaudRate = kBaudRates[std::max(m_baud->currentIndex(), 0)];
  s.ForceFaxClass = kForcedClasses[std::max(m_class->currentIndex(), 0)];
  s.FaxECM = m_ecm->isChecked() ? 1 : 0;
  s.FaxCoding = static_cast<std::uint32_t>(std::max(m_coding->currentIndex(), 0));
  s.FaxCommLogOn = m_commLog->isChecked() ? 1 : 0;
  s.LocalCSID = Text(m_csid);
  s.LogPath = Text(m_logPath);
  s.PhoneCommandDevice = m_phoneCommand->text().trimmed().toStdString();
  s.PhoneDataDevice = m_phoneData->text().trimmed().toStdString();
  s.TelephonyDevices = m_telephony->text().trimmed().toStdString();
  s.AutoAnswer = static_cast<std::uint32_t>(m_autoAnswer->value());
  s.RetryDelay = static_cast<std::uint32_t>(m_retryDelay->value());
  s.MaxTries = static_cast<std::uint32_t>(m_maxTries->value());
  return true;
}

}  // namespace vexo::ui
