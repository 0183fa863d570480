// The settings sheet with its real pages and dialogs: every control loads from
// and stores to its key, the special entries and refusals, Cancel, the kernel
// step on OK, the serial device list, the font choice, and screenshots.
#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

#include <filesystem>
#include <functional>
#include <tuple>

#include "app/jobs/app_oper.h"
#include "app/settings/layer_options.h"
#include "base/string_ids.h"
#include "base/strings.h"
#include "document/tiff_convert.h"
#include "kernel/fax_kernel.h"
#include "platform/telephony/linux_provider.h"
#include "platform/text.h"
#include "tests/sim/sim_harness.h"
#include "tests/support/box_recorder.h"
#include "tests/support/pty_peer.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/support/ui_test_support.h"
#include "ui/settings/c_setting_sheet.h"
#include "ui/settings/font_choice_dlg.h"
#include "ui/settings/mdm_set_dlg.h"
#include "ui/settings/prof_set_dlg.h"
#include "ui/settings/serial_ports.h"
#include "ui/settings/tif_out_set_dlg.h"
#include "ui/settings/vmodem_dlg.h"

namespace vexo::ui {
namespace {

namespace fs = std::filesystem;
using test::ModalHandler;

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
  // A sheet whose form is changed by edit, then OK.
  void Accept(const std::function<void(CSettingSheet&)>& edit) {
    auto sheet = Sheet();
    edit(*sheet);
    sheet->accept();
  }

  vexo::test::TempDir home;
  AppSettings settings;
  SettingSheetContext context;
  vexo::test::BoxRecorder boxes;
  int applied = 0;
};

TEST_F(SettingsTest, EveryControlLoadsFromItsKeyAndStoresToIt) {
  // The edits: the key, the value loaded, the text typed, the value stored.
  const std::tuple<std::string*, const char*, const char*, const char*> texts[] = {
      {&settings.LocalCSID, "+1 555 0100", "Office", "Office"},
      {&settings.LogPath, "/var/tmp/vexo-log/", "/tmp/logs/", "/tmp/logs/"},
      {&settings.PhoneCommandDevice, "/dev/ttyUSB2", " /dev/ttyUSB4 ", "/dev/ttyUSB4"},
      {&settings.PhoneDataDevice, "/dev/ttyUSB3", "", ""},
      {&settings.TelephonyDevices, "/dev/ttyACM0;/dev/ttyACM1", "/dev/ttyACM5", "/dev/ttyACM5"},
      {&settings.ProfileFullName, "Ada Lovelace", "field 0", "field 0"},
      {&settings.ProfileEmail, "ada@example.org", "field 1", "field 1"},
      {&settings.ProfileFaxNO, "555-0101", "field 2", "field 2"},
      {&settings.ProfilePhone1, "555-0102", "field 3", "field 3"},
      {&settings.ProfilePhone2, "555-0103", "field 4", "field 4"},
      {&settings.ProfileMobile, "555-0104", "field 5", "field 5"},
      {&settings.ProfileLogo, "/home/ada/logo.bmp", "", ""},
      {&settings.SeedCallNum, "555-0199", "555-0199", "555-0199"}};
  const std::tuple<std::uint32_t*, const char*, const char*> numbers[] = {
      {&settings.T2TPaperHeight, "2794", "1500"},
      {&settings.T2TLineExtra, "12", "3"},
      {&settings.T2TTabSize, "8", "2"},
      {&settings.HangupBreak, "35", "7"}};
  // The spin boxes: loaded, entered, stored (held to the box's range).
  const std::tuple<std::uint32_t*, int, int, std::uint32_t> spins[] = {
      {&settings.AutoAnswer, 3, 5, 5},
      {&settings.RetryDelay, 10, 2000, kMaxRetryDelayMinutes},
      {&settings.MaxTries, 4, 0, kMinMaxTries}};
  for (const auto& [key, loaded, typed, stored] : texts) *key = loaded;
  for (const auto& [key, loaded, typed] : numbers) *key = std::stoul(loaded);
  for (const auto& [key, loaded, entered, stored] : spins)
    *key = static_cast<std::uint32_t>(loaded);
  settings.ModemName = "usb-Modem_A";
  settings.FaxCommLogOn = 1;
  settings.FaxCoding = 1;
  settings.T2TQuality = 2;
  settings.PaperSize = 1;
  settings.I2TResTransfer = 2;
  settings.T2TWordWrap = 1;
  settings.T2TFont = MakeLogFont("DejaVu Sans", 100, 600, true);
  settings.UseWhatAsSeedNum = 2;
  auto sheet = Sheet();
  CMdmSetDlg* m = sheet->ModemPage();
  CTifOutSetDlg* t = sheet->TextPage();
  CProfSetDlg* p = sheet->ProfilePage();
  CVModem* v = sheet->VoicePage();
  const QLineEdit* textEdits[] = {
      m->StationId(), m->LogPath(), m->PhoneCommand(), m->PhoneData(), m->TelephonyDevices(),
      p->Edit(0),     p->Edit(1),   p->Edit(2),        p->Edit(3),     p->Edit(4),
      p->Edit(5),     p->Logo(),    v->SeedNumber()};
  const QLineEdit* numberEdits[] = {t->PaperHeight(), t->LineExtra(), t->TabSize(),
                                    v->HangupBreak()};
  QSpinBox* spinBoxes[] = {m->AutoAnswerRings(), m->RetryDelay(), m->MaxTries()};
  for (std::size_t i = 0; i < std::size(texts); ++i) {
    EXPECT_EQ(textEdits[i]->text().toStdString(), std::get<1>(texts[i]));
    const_cast<QLineEdit*>(textEdits[i])->setText(std::get<2>(texts[i]));
  }
  for (std::size_t i = 0; i < std::size(numbers); ++i) {
    EXPECT_EQ(numberEdits[i]->text().toStdString(), std::get<1>(numbers[i]));
    const_cast<QLineEdit*>(numberEdits[i])->setText(std::get<2>(numbers[i]));
  }
  for (std::size_t i = 0; i < std::size(spins); ++i) {
    EXPECT_EQ(spinBoxes[i]->value(), std::get<1>(spins[i]));
    spinBoxes[i]->setValue(std::get<2>(spins[i]));
  }
  EXPECT_TRUE(m->ModemMode()->isChecked());
  EXPECT_FALSE(m->PortList()->isEnabled());
  EXPECT_EQ(m->ModemList()->currentIndex(), 2);
  EXPECT_TRUE(m->CommLog()->isChecked());
  EXPECT_TRUE(m->EcmBox()->isChecked());
  EXPECT_EQ(m->CodingList()->currentIndex(), 1);
  EXPECT_EQ(t->Quality()->currentIndex(), 1);
  EXPECT_EQ(t->PaperSize()->currentIndex(), 1);
  EXPECT_EQ(t->ResTransfer()->currentIndex(), 1);
  EXPECT_TRUE(t->WordWrap()->isChecked());
  EXPECT_EQ(t->FontCopy(), settings.T2TFont);
  EXPECT_TRUE(v->CallSeedNumber()->isChecked());
  EXPECT_TRUE(v->SeedNumber()->isEnabled());
  // Every other control changed, then OK.
  m->PortMode()->setChecked(true);
  EXPECT_TRUE(m->PortList()->isEnabled());
  EXPECT_FALSE(m->ModemList()->isEnabled());
  m->CommLog()->setChecked(false);
  m->EcmBox()->setChecked(false);
  m->CodingList()->setCurrentIndex(2);
  t->Quality()->setCurrentIndex(0);
  t->PaperSize()->setCurrentIndex(2);
  t->ResTransfer()->setCurrentIndex(0);
  t->WordWrap()->setChecked(false);
  v->CallFaxNumber()->setChecked(true);
  EXPECT_FALSE(v->SeedNumber()->isEnabled());
  sheet->accept();
  ASSERT_EQ(sheet->result(), QDialog::Accepted);
  EXPECT_EQ(applied, 1);
  for (const auto& [key, loaded, typed, stored] : texts) EXPECT_EQ(*key, stored);
  for (const auto& [key, loaded, typed] : numbers) EXPECT_EQ(std::to_string(*key), typed);
  for (const auto& [key, loaded, entered, stored] : spins) EXPECT_EQ(*key, stored);
  EXPECT_EQ(settings.ModemName, "");
  EXPECT_EQ(settings.FaxCommLogOn, 0u);
  EXPECT_EQ(settings.FaxECM, 0u);
  EXPECT_EQ(settings.FaxCoding, 2u);
  EXPECT_EQ(settings.T2TQuality, 1u);
  EXPECT_EQ(settings.PaperSize, 2u);
  EXPECT_EQ(settings.I2TResTransfer, 1u);
  EXPECT_EQ(settings.T2TWordWrap, 0u);
  EXPECT_EQ(settings.UseWhatAsSeedNum, 1u);
  EXPECT_TRUE(boxes.boxes.empty());
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
  int classIndex = 3;
  bool ok = true;
  ModalHandler script([&](QWidget* modal) {
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
  m->ModemMode()->setChecked(true);
  // No modem chosen: refused with the message, the sheet stays open.
  sheet->accept();
  EXPECT_NE(sheet->result(), QDialog::Accepted);
  ASSERT_EQ(boxes.boxes, std::vector<std::string>{Res(str::kChooseModem)});
  EXPECT_EQ(settings.ModemName, "");
  EXPECT_EQ(applied, 0);

  m->ModemList()->setCurrentIndex(0);
  sheet->accept();
  EXPECT_EQ(settings.ModemName, Res(str::kAutoRetryLabel));
  EXPECT_EQ(context.currentModem, kAutoModemIndex);
  EXPECT_EQ(Sheet()->ModemPage()->ModemList()->currentIndex(), 0);

  Accept([](CSettingSheet& s) { s.ModemPage()->ModemList()->setCurrentIndex(2); });
  EXPECT_EQ(settings.ModemName, "usb-Modem_A");
  EXPECT_EQ(context.currentModem, 1u);
  // A modem no longer in the list selects nothing.
  settings.ModemName = "gone";
  EXPECT_EQ(Sheet()->ModemPage()->ModemList()->currentIndex(), -1);
}

TEST_F(SettingsTest, SerialDevicesAreListedAndThoseBeyondTheComPortsKeptByPath) {
  settings.ModemName = "";
  settings.COMPortNum = 1;
  Accept([](CSettingSheet& s) {
    QComboBox* ports = s.ModemPage()->PortList();
    ASSERT_EQ(ports->count(), 3);
    EXPECT_EQ(ports->itemText(0), "COM1: (/dev/ttyS0)");
    EXPECT_EQ(ports->currentIndex(), 0);
    ports->setCurrentIndex(2);
  });
  EXPECT_EQ(settings.COMPortDevice, "/dev/ttyUSB0");
  EXPECT_EQ(settings.COMPortNum, 1u);
  Accept([](CSettingSheet& s) {
    EXPECT_EQ(s.ModemPage()->PortList()->currentText(), "/dev/ttyUSB0");
    s.ModemPage()->PortList()->setEditText("/dev/pts/7");  // a typed device
  });
  EXPECT_EQ(settings.COMPortDevice, "/dev/pts/7");
  Accept([](CSettingSheet& s) {
    QComboBox* ports = s.ModemPage()->PortList();
    EXPECT_EQ(ports->count(), 4);  // the stored device is offered
    EXPECT_EQ(ports->currentText(), "/dev/pts/7");
    ports->setCurrentIndex(1);
  });
  EXPECT_EQ(settings.COMPortDevice, "");
  EXPECT_EQ(settings.COMPortNum, 2u);
  // A port number beyond this machine's devices is still offered as it is.
  settings.COMPortNum = 9;
  EXPECT_EQ(Sheet()->ModemPage()->PortList()->currentText(), "COM9: (/dev/ttyS8)");

  EXPECT_EQ(ComPortOfDevice("/dev/ttyS12"), 13u);
  EXPECT_EQ(ComPortOfDevice("/dev/ttyS13"), 0u);  // beyond COM13: kept by path
  EXPECT_EQ(ComPortOfDevice("/dev/ttyS01"), 0u);
  EXPECT_EQ(ChoosePort("/dev/ttyS13", 4).comPortDevice, "/dev/ttyS13");
  // The device list comes from the device folder.
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

// A refusal names the fault, shows the page that holds it and stores nothing;
// once corrected, OK stores the values.
TEST_F(SettingsTest, InvalidValuesAreRefusedOnTheirPage) {
  auto sheet = Sheet();
  QLineEdit* height = sheet->TextPage()->PaperHeight();
  CVModem* v = sheet->VoicePage();
  QLineEdit* name = sheet->ProfilePage()->Edit(0);
  QLineEdit* logPath = sheet->ModemPage()->LogPath();
  const std::string noFolder = home.dir() + "no/such/";
  const char* lodz =
      "\xC5\x81\xC3\xB3"
      "d\xC5\xBA \xC5\x81";       // "Łódź Ł"
  QTest::keyClicks(height, "x");  // only digits can be typed
  EXPECT_EQ(height->text(), "2970");
  v->CallSeedNumber()->setChecked(true);
  const PaperHeightRange usable = UsablePaperHeights(ConvertOptionsOf(settings));
  const std::tuple<std::function<void()>, std::string, QWidget*> cases[] = {
      // Characters code page 1252 lacks, named once each.
      {[&] {
         v->SeedNumber()->setText("555 0000");
         name->setText(lodz);
       },
       Format(1024, Res(str::kUnstorableChars).c_str(), "\xC5\x81\xC5\xBA", lodz),
       sheet->ProfilePage()},
      {[&] {
         name->setText("Ann");
         logPath->setText(QString::fromStdString(noFolder));
       },
       Format(1024, Res(str::kLogFolderRefused).c_str(), noFolder.c_str(),
              "No such file or directory"),
       sheet->ModemPage()},
      {[&] {
         logPath->setText(QString::fromStdString(home.dir() + "Log2"));  // created on OK
         v->SeedNumber()->clear();
       },
       Res(str::kNoSeedNumber), v},
      {[&] {
         v->SeedNumber()->setText("555 0000");
         height->setText("");
       },
       Res(str::kBadPaperHeight), sheet->TextPage()},
      {[&] { height->setText("99"); }, Res(str::kBadPaperHeight), sheet->TextPage()},
      // A number the renderers cannot lay a page out on.
      {[&] { height->setText("500"); },
       Format(1024, Res(str::kPaperHeightUnusable).c_str(), 500u, usable.lowest, usable.highest),
       sheet->TextPage()}};
  for (const auto& [edit, message, page] : cases) {
    boxes.boxes.clear();
    edit();
    sheet->accept();
    EXPECT_NE(sheet->result(), QDialog::Accepted);
    EXPECT_EQ(boxes.boxes, std::vector<std::string>{message});
    EXPECT_EQ(sheet->Tabs()->currentWidget(), page);
  }
  EXPECT_EQ(height->selectedText(), height->text());
  EXPECT_EQ(settings.T2TPaperHeight, 2970u);
  EXPECT_EQ(settings.UseWhatAsSeedNum, 1u);
  EXPECT_EQ(settings.LogPath, home.dir() + "Log/");
  height->setText(QString::number(usable.lowest));
  v->HangupBreak()->setText("");
  sheet->accept();
  EXPECT_EQ(settings.T2TPaperHeight, usable.lowest);
  EXPECT_EQ(settings.UseWhatAsSeedNum, 2u);
  EXPECT_EQ(settings.SeedCallNum, "555 0000");
  EXPECT_EQ(settings.HangupBreak, 0u);
  EXPECT_TRUE(fs::is_directory(home.path() / "Log2"));
  EXPECT_EQ(LeadingNumber(" 42s"), 42u);
}

// The dialog edits face, size and weight and keeps the rest (the character
// set of a Chinese font); the sheet keeps it in the page's copy until OK.
TEST_F(SettingsTest, TheFontButtonEditsThePagesCopyUntilOk) {
  LOGFONTW font = MakeLogFont("DejaVu Sans", 120, 700, true);
  font.lfCharSet = GB2312_CHARSET;
  settings.T2TFont = font;
  ASSERT_FALSE(FontFamilies().isEmpty());
  int answer = QDialog::Rejected;
  ModalHandler script([&](QWidget* modal) {
    auto* dialog = qobject_cast<CFontChoiceDlg*>(modal);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->Weights()->currentItem()->text(), "Bold");
    dialog->Sizes()->setCurrentRow(14);
    dialog->Weights()->setCurrentRow(0);
    dialog->done(answer);
  });
  auto sheet = Sheet();
  sheet->TextPage()->FontButton()->click();  // cancelled
  EXPECT_EQ(sheet->TextPage()->FontCopy(), font);
  answer = QDialog::Accepted;
  sheet->TextPage()->FontButton()->click();
  EXPECT_EQ(script.shown, 2);
  EXPECT_EQ(sheet->TextPage()->FontCopy().lfHeight, -75);
  EXPECT_EQ(settings.T2TFont, font);  // not before OK
  sheet->accept();
  EXPECT_EQ(LogFontFaceName(settings.T2TFont), "DejaVu Sans");
  EXPECT_EQ(settings.T2TFont.lfHeight, -75);
  EXPECT_EQ(settings.T2TFont.lfWeight, 100);
  EXPECT_EQ(settings.T2TFont.lfItalic, 1);
  EXPECT_EQ(settings.T2TFont.lfCharSet, GB2312_CHARSET);
  // A face that is not installed: the first family, the default character set.
  CFontChoiceDlg missing(MakeLogFont("Tahoma", 90), {"First", "Second"});
  EXPECT_EQ(LogFontFaceName(missing.Font()), "First");
  EXPECT_EQ(missing.Font().lfCharSet, DEFAULT_CHARSET);
}

// Detect probes the listed devices while the page stays usable, then chooses
// the port and class of the modem that answered, or says that none did.
TEST_F(SettingsTest, DetectChoosesTheAnsweringModemsPortAndClass) {
  vexo::test::Linesim sim({"--class", "2.0"});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  vexo::test::Pty silent;
  settings.COMPortDevice = silent.SlavePath();
  for (const bool modemListed : {true, false}) {
    context.serialDevices = {silent.SlavePath()};
    if (modemListed) context.serialDevices.push_back(sim.Pty(1));
    auto sheet = Sheet();
    CMdmSetDlg* m = sheet->ModemPage();
    m->DetectButton()->click();
    EXPECT_FALSE(m->DetectButton()->isEnabled());
    ASSERT_TRUE(test::WaitFor([m] { return m->DetectButton()->isEnabled(); }));
    const std::string chosen = modemListed ? sim.Pty(1) : silent.SlavePath();
    EXPECT_EQ(m->PortList()->currentData().toString().toStdString(), chosen);
    EXPECT_EQ(m->ClassList()->currentIndex(), modemListed ? 3 : 0);
    EXPECT_EQ(boxes.boxes, modemListed ? std::vector<std::string>{}
                                       : std::vector<std::string>{Res(str::kModemDetectNone)});
  }
}

// Pictures of each page for a person to look at.
TEST_F(SettingsTest, Screenshots) {
  settings.ModemName = "usb-Modem_A";
  settings.ProfileFullName = "Ada Lovelace";
  auto sheet = Sheet();
  sheet->resize(560, 520);
  sheet->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet.get()));
  const char* names[] = {"settings-modem", "settings-text", "settings-profile", "settings-voice"};
  for (int i = 0; i < 4; ++i) {
    sheet->Tabs()->setCurrentIndex(i);
    QApplication::processEvents();
    EXPECT_TRUE(test::Screenshot(sheet.get(), names[i]));
  }
  CFontChoiceDlg font(settings.T2TFont, FontFamilies());
  font.show();
  QApplication::processEvents();
  EXPECT_TRUE(test::Screenshot(&font, "settings-font"));
}

}  // namespace
}  // namespace vexo::ui
