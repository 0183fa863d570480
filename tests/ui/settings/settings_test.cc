// The settings sheet with its real pages and dialogs: every control loads from
// and stores to its key, the special entries and refusals, Cancel, the kernel
// step on OK, the serial device list, the font choice, and screenshots.
#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <functional>

#include "app/jobs/app_oper.h"
#include "app/settings/settings.h"
#include "base/presenter.h"
#include "base/strings.h"
#include "kernel/fax_kernel.h"
#include "platform/telephony/linux_provider.h"
#include "tests/support/box_recorder.h"
#include "tests/support/temp_dir.h"
#include "ui/settings/c_setting_sheet.h"
#include "ui/settings/font_choice_dlg.h"
#include "ui/settings/hint_dialog.h"
#include "ui/settings/mdm_set_dlg.h"
#include "ui/settings/prof_set_dlg.h"
#include "ui/settings/serial_ports.h"
#include "ui/settings/tif_out_set_dlg.h"
#include "ui/settings/vmodem_dlg.h"

namespace vexo::ui {
namespace {

namespace fs = std::filesystem;

// Runs answer on each modal window that opens while it lives.
class ModalScript {
 public:
  explicit ModalScript(std::function<void(QWidget*)> answer) : m_answer(std::move(answer)) {
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
      // A window is answered once (the next may be made at the same address).
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || modal->property("answered").toBool()) return;
      modal->setProperty("answered", true);
      if (std::getenv("VEXO_DEBUG_MODAL"))
        fprintf(stderr, "modal %s\n", modal->metaObject()->className());
      ++shown;
      // Answered from a fresh call, so a window the answer opens is answered too.
      QTimer::singleShot(0, modal, [this, modal] {
        m_answer(modal);
        if (std::getenv("VEXO_DEBUG_MODAL")) fprintf(stderr, "answered\n");
        // An answer that failed its checks still closes the window.
        if (modal == QApplication::activeModalWidget())
          if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
      });
    });
    m_timer.start(20);
  }
  int shown = 0;

 private:
  std::function<void(QWidget*)> m_answer;
  QTimer m_timer;
};

template <typename T>
T* Child(QWidget* parent, const char* name) {
  T* child = parent->findChild<T*>(name);
  EXPECT_NE(child, nullptr) << name;
  return child;
}

std::string Res(unsigned id) { return LoadResString(id); }

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LoadResDll("EngRes"));
    settings.SetHomeDirectory(home.dir());
    ASSERT_EQ(settings.LoadSettings(), 1);
    context.settings = &settings;
    context.modems = {
        {"Built-in phone modem", false}, {"usb-Modem_A", false}, {"Voice line", true}};
    context.currentModem = kAutoModemIndex;
    context.serialDevices = {"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyUSB0"};
    context.applySettings = [this] { ++applied; };
  }
  std::unique_ptr<CSettingSheet> Sheet() { return std::make_unique<CSettingSheet>(context); }

  vexo::test::TempDir home;
  AppSettings settings;
  SettingSheetContext context;
  vexo::test::BoxRecorder boxes;
  int applied = 0;
};

TEST_F(SettingsTest, EveryControlLoadsFromItsKeyAndStoresToIt) {
  settings.ModemName = "usb-Modem_A";
  settings.InitBaudRate = 57600;
  settings.ForceFaxClass = 2;
  settings.FaxCommLogOn = 1;
  settings.LocalCSID = "+1 555 0100";
  settings.LogPath = "/var/tmp/vexo-log/";
  settings.PhoneCommandDevice = "/dev/ttyUSB2";
  settings.PhoneDataDevice = "/dev/ttyUSB3";
  settings.TelephonyDevices = "/dev/ttyACM0;/dev/ttyACM1";
  settings.T2TPaperHeight = 2794;
  settings.T2TLineExtra = 12;
  settings.T2TTabSize = 8;
  settings.T2TQuality = 2;
  settings.I2TResTransfer = 2;
  settings.T2TWordWrap = 1;
  settings.T2TFont = MakeLogFont("DejaVu Sans", 100, 600, true);
  settings.ProfileFullName = "Ada Lovelace";
  settings.ProfileEmail = "ada@example.org";
  settings.ProfileFaxNO = "555-0101";
  settings.ProfilePhone1 = "555-0102";
  settings.ProfilePhone2 = "555-0103";
  settings.ProfileMobile = "555-0104";
  settings.ProfileLogo = "/home/ada/logo.bmp";
  settings.UseWhatAsSeedNum = 2;
  settings.SeedCallNum = "555-0199";
  settings.HangupBreak = 35;
  auto sheet = Sheet();
  CMdmSetDlg* m = sheet->ModemPage();
  EXPECT_TRUE(m->ModemMode()->isChecked());
  EXPECT_FALSE(m->PortList()->isEnabled());
  EXPECT_EQ(m->ModemList()->currentIndex(), 2);
  EXPECT_EQ(m->BaudList()->currentText(), "57600");
  EXPECT_EQ(m->ClassList()->currentText(), "Class 2");
  EXPECT_TRUE(m->CommLog()->isChecked());
  EXPECT_EQ(m->StationId()->text(), "+1 555 0100");
  EXPECT_EQ(m->LogPath()->text(), "/var/tmp/vexo-log/");
  EXPECT_EQ(m->PhoneCommand()->text(), "/dev/ttyUSB2");
  EXPECT_EQ(m->PhoneData()->text(), "/dev/ttyUSB3");
  EXPECT_EQ(m->TelephonyDevices()->text(), "/dev/ttyACM0;/dev/ttyACM1");
  CTifOutSetDlg* t = sheet->TextPage();
  EXPECT_EQ(t->PaperHeight()->text(), "2794");
  EXPECT_EQ(t->LineExtra()->text(), "12");
  EXPECT_EQ(t->TabSize()->text(), "8");
  EXPECT_EQ(t->Quality()->currentIndex(), 1);
  EXPECT_EQ(t->ResTransfer()->currentIndex(), 1);
  EXPECT_TRUE(t->WordWrap()->isChecked());
  EXPECT_EQ(t->FontCopy(), settings.T2TFont);
  CProfSetDlg* p = sheet->ProfilePage();
  EXPECT_EQ(p->Edit(0)->text(), "Ada Lovelace");
  EXPECT_EQ(p->Edit(5)->text(), "555-0104");
  EXPECT_EQ(p->Logo()->text(), "/home/ada/logo.bmp");
  CVModem* v = sheet->VoicePage();
  EXPECT_TRUE(v->CallSeedNumber()->isChecked());
  EXPECT_TRUE(v->SeedNumber()->isEnabled());
  EXPECT_EQ(v->SeedNumber()->text(), "555-0199");
  EXPECT_EQ(v->HangupBreak()->text(), "35");

  // Every control changed, then OK.
  m->PortMode()->setChecked(true);
  EXPECT_TRUE(m->PortList()->isEnabled());
  EXPECT_FALSE(m->ModemList()->isEnabled());
  m->PortList()->setCurrentIndex(1);
  m->BaudList()->setCurrentIndex(4);
  m->ClassList()->setCurrentIndex(1);
  m->CommLog()->setChecked(false);
  m->StationId()->setText("Office");
  m->LogPath()->setText("/tmp/logs/");
  m->PhoneCommand()->setText(" /dev/ttyUSB4 ");
  m->PhoneData()->setText("");
  m->TelephonyDevices()->setText("/dev/ttyACM5");
  t->PaperHeight()->setText("1500");
  t->LineExtra()->setText("3");
  t->TabSize()->setText("2");
  t->Quality()->setCurrentIndex(0);
  t->ResTransfer()->setCurrentIndex(0);
  t->WordWrap()->setChecked(false);
  for (int i = 0; i < 6; ++i) p->Edit(i)->setText(QString("field %1").arg(i));
  p->Logo()->setText("");
  v->CallFaxNumber()->setChecked(true);
  EXPECT_FALSE(v->SeedNumber()->isEnabled());
  v->HangupBreak()->setText("7");
  sheet->accept();
  ASSERT_EQ(sheet->result(), QDialog::Accepted);
  EXPECT_EQ(applied, 1);
  EXPECT_EQ(settings.ModemName, "");
  EXPECT_EQ(settings.COMPortNum, 2u);
  EXPECT_EQ(settings.COMPortDevice, "");
  EXPECT_EQ(settings.InitBaudRate, 115200u);
  EXPECT_EQ(settings.ForceFaxClass, 1u);
  EXPECT_EQ(settings.FaxCommLogOn, 0u);
  EXPECT_EQ(settings.LocalCSID, "Office");
  EXPECT_EQ(settings.LogPath, "/tmp/logs/");
  EXPECT_EQ(settings.PhoneCommandDevice, "/dev/ttyUSB4");
  EXPECT_EQ(settings.PhoneDataDevice, "");
  EXPECT_EQ(settings.TelephonyDevices, "/dev/ttyACM5");
  EXPECT_EQ(settings.T2TPaperHeight, 1500u);
  EXPECT_EQ(settings.T2TLineExtra, 3u);
  EXPECT_EQ(settings.T2TTabSize, 2u);
  EXPECT_EQ(settings.T2TQuality, 1u);
  EXPECT_EQ(settings.I2TResTransfer, 1u);
  EXPECT_EQ(settings.T2TWordWrap, 0u);
  EXPECT_EQ(settings.ProfileFullName, "field 0");
  EXPECT_EQ(settings.ProfileEmail, "field 1");
  EXPECT_EQ(settings.ProfileFaxNO, "field 2");
  EXPECT_EQ(settings.ProfilePhone1, "field 3");
  EXPECT_EQ(settings.ProfilePhone2, "field 4");
  EXPECT_EQ(settings.ProfileMobile, "field 5");
  EXPECT_EQ(settings.ProfileLogo, "");
  EXPECT_EQ(settings.UseWhatAsSeedNum, 1u);
  EXPECT_EQ(settings.HangupBreak, 7u);
  EXPECT_EQ(settings.SeedCallNum, "555-0199");
  EXPECT_TRUE(boxes.boxes.empty());

  // What the sheet stored survives the settings file.
  ASSERT_EQ(settings.SaveSettings(), 1);
  AppSettings reread;
  reread.SetHomeDirectory(home.dir());
  ASSERT_EQ(reread.LoadSettings(), 1);
  EXPECT_EQ(reread, settings);
}

TEST_F(SettingsTest, ForcedClassEntriesStoreZeroOneTwoAndTwenty) {
  const std::uint32_t expected[] = {0, 1, 2, 20};
  for (int index = 0; index < 4; ++index) {
    auto sheet = Sheet();
    sheet->ModemPage()->ClassList()->setCurrentIndex(index);
    sheet->accept();
    EXPECT_EQ(settings.ForceFaxClass, expected[index]);
    EXPECT_EQ(Sheet()->ModemPage()->ClassList()->currentIndex(), index);
  }
  EXPECT_EQ(Sheet()->ModemPage()->ClassList()->currentText(), "Class 2.0");
  // Baud rates: each entry stores its rate.
  const std::uint32_t rates[] = {2400, 19200, 38400, 57600, 115200};
  for (int index = 0; index < 5; ++index) {
    auto sheet = Sheet();
    sheet->ModemPage()->BaudList()->setCurrentIndex(index);
    sheet->accept();
    EXPECT_EQ(settings.InitBaudRate, rates[index]);
  }
}

// The sheet over a started program: OK reaches the kernel and the settings
// file at once, Cancel reaches neither.
TEST_F(SettingsTest, TheProgramsKernelAndFileGetTheNewValuesOnOk) {
  vexo::test::TempDir appHome;
  vexo::test::TempDir noLines;
  AppOperOptions options;
  options.homeDirectory = appHome.dir();
  options.installSampleCovers = false;
  options.saveSettingsAtExit = false;
  options.makeProvider = [&](const AppSettings& s) {
    return std::make_unique<LinuxTelephonyProvider>(s.TelephonyDevices, noLines.dir());
  };
  AppOper app(std::move(options));
  ASSERT_EQ(app.Startup(), 1);
  EXPECT_EQ(app.Kernel().ForcedClass(), 0u);
  int classIndex = 3;
  bool ok = true;
  ModalScript script([&](QWidget* modal) {
    auto* sheet = qobject_cast<CSettingSheet*>(modal);
    ASSERT_NE(sheet, nullptr);
    sheet->ModemPage()->ClassList()->setCurrentIndex(classIndex);
    sheet->ModemPage()->BaudList()->setCurrentIndex(0);
    ok ? sheet->accept() : sheet->reject();
  });
  EXPECT_TRUE(RunAppSettingSheet(nullptr, app));
  EXPECT_EQ(app.Kernel().ForcedClass(), 20u);
  AppSettings stored;
  stored.SetHomeDirectory(appHome.dir());
  ASSERT_EQ(stored.LoadSettings(), 1);
  EXPECT_EQ(stored.ForceFaxClass, 20u);
  EXPECT_EQ(stored.InitBaudRate, 2400u);

  classIndex = 1;
  ok = false;
  QTest::qWait(50);
  EXPECT_FALSE(RunAppSettingSheet(nullptr, app));
  EXPECT_EQ(script.shown, 2);
  EXPECT_EQ(app.Kernel().ForcedClass(), 20u);
  EXPECT_EQ(app.Settings().ForceFaxClass, 20u);
}

TEST_F(SettingsTest, TheAutomaticEntryAndTheModemsOfTheList) {
  settings.ModemName = "";
  auto sheet = Sheet();
  CMdmSetDlg* m = sheet->ModemPage();
  EXPECT_TRUE(m->PortMode()->isChecked());
  EXPECT_EQ(m->ModemList()->count(), 4);
  EXPECT_EQ(m->ModemList()->itemText(0).toStdString(), Res(65055));
  m->ModemMode()->setChecked(true);
  // No modem chosen: refused with the message, the sheet stays open.
  sheet->accept();
  EXPECT_NE(sheet->result(), QDialog::Accepted);
  ASSERT_EQ(boxes.boxes, std::vector<std::string>{Res(65106)});
  EXPECT_EQ(boxes.styles[0] & 0xF0, unsigned{MB_ICONEXCLAMATION});
  EXPECT_EQ(settings.ModemName, "");
  EXPECT_EQ(applied, 0);

  m->ModemList()->setCurrentIndex(0);
  sheet->accept();
  EXPECT_EQ(settings.ModemName, Res(65055));
  EXPECT_EQ(context.currentModem, kAutoModemIndex);
  EXPECT_EQ(Sheet()->ModemPage()->ModemList()->currentIndex(), 0);

  auto second = Sheet();
  second->ModemPage()->ModemList()->setCurrentIndex(2);
  second->accept();
  EXPECT_EQ(settings.ModemName, "usb-Modem_A");
  EXPECT_EQ(context.currentModem, 1u);

  // A modem no longer in the list selects nothing.
  settings.ModemName = "gone";
  EXPECT_EQ(Sheet()->ModemPage()->ModemList()->currentIndex(), -1);
}

TEST_F(SettingsTest, HintsForTheAutomaticChoiceAndAPhoneModemCanBeTurnedOff) {
  settings.ModemName = "usb-Modem_A";
  std::vector<QString> hints;
  ModalScript script([&](QWidget* modal) {
    auto* hint = qobject_cast<HintDialog*>(modal);
    ASSERT_NE(hint, nullptr);
    hints.push_back(hint->findChild<QLabel*>()->text());
    hint->TurnOffBox()->setChecked(hints.size() == 2);  // the second one turns off
    hint->accept();
  });
  auto sheet = Sheet();
  QComboBox* list = sheet->ModemPage()->ModemList();
  list->setCurrentIndex(0);
  emit list->activated(0);
  list->setCurrentIndex(3);
  emit list->activated(3);
  list->setCurrentIndex(1);
  emit list->activated(1);  // not a phone modem: no hint
  ASSERT_EQ(hints.size(), 2u);
  EXPECT_EQ(hints[0].toStdString(), Res(65056));
  EXPECT_EQ(hints[1].toStdString(), Res(65191));
  list->setCurrentIndex(3);
  emit list->activated(3);  // turned off: no more hint
  EXPECT_EQ(hints.size(), 2u);
  sheet->accept();
  EXPECT_EQ(settings.HintAutoModem, 1u);
  EXPECT_EQ(settings.HintSetVoiceModem, 0u);
}

TEST_F(SettingsTest, SerialDevicesOtherThanTheComPortsAreKeptByPath) {
  settings.ModemName = "";
  settings.COMPortNum = 1;
  {
    auto sheet = Sheet();
    QComboBox* ports = sheet->ModemPage()->PortList();
    ASSERT_EQ(ports->count(), 3);
    EXPECT_EQ(ports->itemText(0), "COM1: (/dev/ttyS0)");
    EXPECT_EQ(ports->currentIndex(), 0);
    ports->setCurrentIndex(2);
    sheet->accept();
  }
  EXPECT_EQ(settings.COMPortDevice, "/dev/ttyUSB0");
  EXPECT_EQ(settings.COMPortNum, 1u);
  {
    auto sheet = Sheet();
    QComboBox* ports = sheet->ModemPage()->PortList();
    EXPECT_EQ(ports->currentText(), "/dev/ttyUSB0");
    ports->setEditText("/dev/pts/7");  // a typed device
    sheet->accept();
  }
  EXPECT_EQ(settings.COMPortDevice, "/dev/pts/7");
  {
    auto sheet = Sheet();
    QComboBox* ports = sheet->ModemPage()->PortList();
    EXPECT_EQ(ports->count(), 4);  // the stored device is offered
    EXPECT_EQ(ports->currentText(), "/dev/pts/7");
    ports->setCurrentIndex(1);
    sheet->accept();
  }
  EXPECT_EQ(settings.COMPortDevice, "");
  EXPECT_EQ(settings.COMPortNum, 2u);
  // A port number beyond this machine's devices is still offered as it is.
  settings.COMPortNum = 9;
  EXPECT_EQ(Sheet()->ModemPage()->PortList()->currentText(), "COM9: (/dev/ttyS8)");

  EXPECT_EQ(ComPortOfDevice("/dev/ttyS12"), 13u);
  EXPECT_EQ(ComPortOfDevice("/dev/ttyS13"), 0u);  // beyond COM13: kept by path
  EXPECT_EQ(ComPortOfDevice("/dev/ttyS01"), 0u);
  EXPECT_EQ(ChoosePort("/dev/ttyS13", 4).comPortDevice, "/dev/ttyS13");
}

TEST_F(SettingsTest, TheDeviceListComesFromTheDeviceFolder) {
  vexo::test::TempDir dev;
  for (const char* name :
       {"ttyS10", "ttyS2", "ttyUSB1", "ttyUSB0", "ttyACM0", "tty1", "ttyS", "ttySx", "null"})
    vexo::test::WriteFileBytes(dev.path() / name, "");
  fs::create_directories(dev.path() / "serial/by-id");
  vexo::test::WriteFileBytes(dev.path() / "serial/by-id/usb-Zoom_Modem-if00", "");
  vexo::test::WriteFileBytes(dev.path() / "serial/by-id/usb-Acme_Fax-if00", "");
  const std::string d = dev.path().string();
  EXPECT_EQ(ListSerialDevices(d, d + "/serial/by-id"),
            (std::vector<std::string>{d + "/ttyS2", d + "/ttyS10", d + "/ttyUSB0", d + "/ttyUSB1",
                                      d + "/ttyACM0", d + "/serial/by-id/usb-Acme_Fax-if00",
                                      d + "/serial/by-id/usb-Zoom_Modem-if00"}));
  EXPECT_TRUE(ListSerialDevices(d + "/none", d + "/none").empty());
}

TEST_F(SettingsTest, TheStationIdTakesTwentyCharactersAtMost) {
  auto sheet = Sheet();
  QLineEdit* csid = sheet->ModemPage()->StationId();
  csid->clear();
  QTest::keyClicks(csid, "123456789012345678901234");
  EXPECT_EQ(csid->text(), "12345678901234567890");
  EXPECT_EQ(sheet->ModemPage()->LogPath()->maxLength(), 259);
  sheet->accept();
  EXPECT_EQ(settings.LocalCSID, "12345678901234567890");
}

TEST_F(SettingsTest, AnInvalidPaperHeightIsRefused) {
  auto sheet = Sheet();
  QLineEdit* height = sheet->TextPage()->PaperHeight();
  QTest::keyClicks(height, "x");  // only digits can be typed
  EXPECT_EQ(height->text(), "2970");
  for (const char* bad : {"", "99"}) {
    boxes.boxes.clear();
    height->setText(bad);
    sheet->accept();
    EXPECT_NE(sheet->result(), QDialog::Accepted) << bad;
    ASSERT_EQ(boxes.boxes, std::vector<std::string>{Res(65107)}) << bad;
    EXPECT_EQ(sheet->Tabs()->currentWidget(), sheet->TextPage());
    EXPECT_EQ(height->selectedText(), height->text());
  }
  EXPECT_EQ(settings.T2TPaperHeight, 2970u);
  height->setText("100");
  sheet->accept();
  EXPECT_EQ(settings.T2TPaperHeight, 100u);
}

TEST_F(SettingsTest, AnEmptySeedNumberIsRefusedWhenItIsToBeCalled) {
  auto sheet = Sheet();
  CVModem* v = sheet->VoicePage();
  v->CallSeedNumber()->setChecked(true);
  v->SeedNumber()->clear();
  sheet->accept();
  EXPECT_NE(sheet->result(), QDialog::Accepted);
  ASSERT_EQ(boxes.boxes, std::vector<std::string>{Res(65172)});
  EXPECT_EQ(sheet->Tabs()->currentWidget(), v);
  EXPECT_EQ(settings.UseWhatAsSeedNum, 1u);
  v->SeedNumber()->setText("555 0000");
  v->HangupBreak()->setText("");
  sheet->accept();
  EXPECT_EQ(settings.UseWhatAsSeedNum, 2u);
  EXPECT_EQ(settings.SeedCallNum, "555 0000");
  EXPECT_EQ(settings.HangupBreak, 0u);
  EXPECT_EQ(LeadingNumber(" 42s"), 42u);
}

TEST_F(SettingsTest, ALongLogoPathFromTheBrowseDialogIsKeptWhole) {
  // A logo deep enough that its path is longer than 63 characters.
  const fs::path folder =
      home.path() / "a-folder-with-a-rather-long-name" / "and-another-one-below-it";
  fs::create_directories(folder);
  const fs::path logo = folder / "company-logo.bmp";
  vexo::test::WriteFileBytes(logo, "BM");
  ASSERT_GT(logo.string().size(), 63u);
  ModalScript script([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (!dialog) {
      if (auto* box = qobject_cast<QMessageBox*>(modal)) ADD_FAILURE() << box->text().toStdString();
      return;
    }
    EXPECT_EQ(dialog->nameFilters(), QStringList{"BitMap (*.bmp)"});
    // Typed into the file name box, as a person would.
    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    name->setText(QString::fromStdString(logo.string()));
    // Accepted as a click on Open would, without waiting for the folder listing.
    static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
  });
  auto sheet = Sheet();
  sheet->ProfilePage()->Browse()->click();
  EXPECT_EQ(script.shown, 1);
  EXPECT_EQ(sheet->ProfilePage()->Logo()->text().toStdString(), logo.string());
  sheet->accept();
  EXPECT_EQ(settings.ProfileLogo, logo.string());

  // Profile edits take 63 characters, the logo 259.
  auto again = Sheet();
  again->ProfilePage()->Edit(0)->setText(QString(80, 'n'));
  again->ProfilePage()->Logo()->setText("/" + QString(300, 'l'));
  again->accept();
  EXPECT_EQ(settings.ProfileFullName, std::string(63, 'n'));
  EXPECT_EQ(settings.ProfileLogo.size(), 259u);
}

TEST_F(SettingsTest, CancelKeepsEveryOldValue) {
  const AppSettings before = settings;
  context.currentModem = 2;
  std::vector<QString> hints;
  ModalScript script([&](QWidget* modal) {
    if (auto* hint = qobject_cast<HintDialog*>(modal)) {
      hint->TurnOffBox()->setChecked(true);
      hint->accept();
    }
  });
  auto sheet = Sheet();
  sheet->ModemPage()->ModemMode()->setChecked(true);
  sheet->ModemPage()->ModemList()->setCurrentIndex(0);
  emit sheet->ModemPage()->ModemList()->activated(0);  // turns the hint off in the sheet
  sheet->ModemPage()->ClassList()->setCurrentIndex(3);
  sheet->TextPage()->PaperHeight()->setText("1234");
  sheet->ProfilePage()->Edit(0)->setText("Someone");
  sheet->VoicePage()->HangupBreak()->setText("99");
  sheet->reject();
  EXPECT_EQ(settings, before);
  EXPECT_EQ(context.currentModem, 2u);
  EXPECT_EQ(applied, 0);
}

TEST(FontChoiceTest, SizesGoToTheNearestEntrySmallerOnATie) {
  const std::pair<int, int> cases[] = {{-3, 8},  {7, 8},   {8, 8},   {13, 12}, {15, 14}, {18, 16},
                                       {19, 20}, {22, 20}, {68, 75}, {67, 60}, {75, 75}, {500, 75}};
  for (auto [height, size] : cases) EXPECT_EQ(NearestFontSize(height), size) << height;
}

TEST(FontChoiceTest, TheDialogEditsFaceSizeAndWeightAndKeepsTheRest) {
  LOGFONTW font = MakeLogFont("Second", 100, 700, true, true);
  font.lfHeight = -13;
  font.lfCharSet = GB2312_CHARSET;
  font.lfQuality = 5;
  CFontChoiceDlg dialog(font, {"First", "Second", "Third"});
  EXPECT_EQ(dialog.Faces()->currentItem()->text(), "Second");
  EXPECT_EQ(dialog.Sizes()->currentItem()->text(), "12");
  EXPECT_EQ(dialog.Weights()->currentItem()->text(), "Bold");
  dialog.Faces()->setCurrentRow(2);
  dialog.Sizes()->setCurrentRow(7);
  dialog.Weights()->setCurrentRow(0);
  const LOGFONTW chosen = dialog.Font();
  EXPECT_EQ(LogFontFaceName(chosen), "Third");
  EXPECT_EQ(chosen.lfHeight, -20);
  EXPECT_EQ(chosen.lfWeight, 100);
  EXPECT_EQ(chosen.lfItalic, 1);
  EXPECT_EQ(chosen.lfUnderline, 1);
  EXPECT_EQ(chosen.lfCharSet, GB2312_CHARSET);
  EXPECT_EQ(chosen.lfQuality, 5);

  // A face that is not installed: the first family, the default character set.
  CFontChoiceDlg missing(MakeLogFont("Tahoma", 90), {"First", "Second"});
  EXPECT_EQ(missing.Faces()->currentRow(), 0);
  EXPECT_EQ(LogFontFaceName(missing.Font()), "First");
  EXPECT_EQ(missing.Font().lfCharSet, DEFAULT_CHARSET);
}

TEST_F(SettingsTest, TheFontButtonEditsThePagesCopyUntilOk) {
  settings.T2TFont = MakeLogFont("DejaVu Sans", 120);
  const QStringList families = FontFamilies();
  ASSERT_FALSE(families.isEmpty());
  int answer = QDialog::Rejected;
  ModalScript script([&](QWidget* modal) {
    auto* dialog = qobject_cast<CFontChoiceDlg*>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->Sizes()->setCurrentRow(14);
    dialog->done(answer);
  });
  auto sheet = Sheet();
  const LOGFONTW before = sheet->TextPage()->FontCopy();
  sheet->TextPage()->FontButton()->click();  // cancelled
  EXPECT_EQ(sheet->TextPage()->FontCopy(), before);
  answer = QDialog::Accepted;
  QTest::qWait(50);
  sheet->TextPage()->FontButton()->click();
  EXPECT_EQ(script.shown, 2);
  EXPECT_EQ(sheet->TextPage()->FontCopy().lfHeight, -75);
  EXPECT_EQ(settings.T2TFont, MakeLogFont("DejaVu Sans", 120));  // not before OK
  sheet->accept();
  EXPECT_EQ(settings.T2TFont.lfHeight, -75);
}

// Pictures of each page for a person to look at.
TEST_F(SettingsTest, Screenshots) {
  settings.ModemName = "usb-Modem_A";
  settings.ProfileFullName = "Ada Lovelace";
  auto sheet = Sheet();
  sheet->resize(560, 520);
  sheet->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet.get()));
  QDir dir(QCoreApplication::applicationDirPath());
  while (!QFileInfo::exists(dir.filePath("CMakeCache.txt")) && dir.cdUp()) {
  }
  QString out = qEnvironmentVariable("VEXO_SCREENSHOT_DIR");
  if (out.isEmpty()) {
    dir.mkpath("screenshots");
    out = dir.filePath("screenshots");
  }
  const char* names[] = {"settings-modem", "settings-text", "settings-profile", "settings-voice"};
  for (int i = 0; i < 4; ++i) {
    sheet->Tabs()->setCurrentIndex(i);
    QApplication::processEvents();
    EXPECT_TRUE(sheet->grab().save(out + "/" + names[i] + ".png"));
  }
  CFontChoiceDlg font(settings.T2TFont, FontFamilies());
  font.show();
  QApplication::processEvents();
  EXPECT_TRUE(font.grab().save(out + "/settings-font.png"));
}

}  // namespace
}  // namespace vexo::ui
