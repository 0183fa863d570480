#include "app/settings/settings.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "base/code_page.h"
#include "base/error_pool.h"
#include "base/log_file.h"
#include "base/presenter.h"
#include "tests/support/box_recorder.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { m_old ? setenv(m_name, m_old->c_str(), 1) : unsetenv(m_name); }

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ErrorPool::Instance().Clear();
    settings.SetHomeDirectory(home.dir());
  }
  void TearDown() override {
    ErrorPool::Instance().Clear();
    SetAnsiCodePage(kDefaultCodePage);
  }

  fs::path File() const { return home.path() / "Init.vxi"; }
  void WriteFile(std::string_view bytes) const { test::WriteFileBytes(File(), bytes); }
  std::string ReadFile() const { return test::ReadFileBytes(File()); }
  // Message box i as "caption|text".
  std::string Shown(std::size_t i) const {
    return presenter.captions[i].value_or("") + "|" + presenter.boxes[i];
  }
  // Loads a fresh record from the file as it stands.
  AppSettings Reload() const {
    AppSettings s;
    s.SetHomeDirectory(home.dir());
    EXPECT_EQ(s.LoadSettings(), 1);
    return s;
  }

  ScopedEnv locale{"LC_ALL", "en_US.UTF-8"};
  test::TempDir home;
  test::BoxRecorder presenter;
  AppSettings settings;
};

TEST_F(SettingsTest, FirstStartWritesEveryKeyInTableOrderWithItsDefault) {
  ASSERT_EQ(settings.LoadSettings(), 1);
  ASSERT_EQ(settings.EnsureDirectories(), 1);
  for (const char* dir : {"Log", "Data", "Cover"}) EXPECT_TRUE(fs::is_directory(home.path() / dir));

  const std::string h = home.dir();
  std::string font = "E8,FF,FF,FF,";  // -24, then zeros up to the weight 400
  for (int i = 0; i < 12; ++i) font += "00,";
  font += "90,01,00,00,00,00,00,01,00,00,00,00,54,00,61,00,68,00,6F,00,6D,00,61,00,";  // "Tahoma"
  for (int i = 0; i < 52; ++i) font += "00,";
  std::string expected =
      "***********************************\r\nInit Data File of Vexo\r\n"
      "***********************************\r\n\r\n";
  const std::vector<std::pair<std::string, std::string>> lines{
      {"LogPath", "\"" + h + "Log/\""},
      {"LocalCSID", "\"Vexo_Application\""},
      {"TIFDataDir", "\"" + h + "Data/\""},
      {"CoverDir", "\"" + h + "Cover/\""},
      {"ForceFaxClass", "0"},
      {"FaxCommLogOn", "0"},
      {"COMPortNum", "1"},
      {"ModemName", "\"\""},
      {"InitBaudRate", "19200"},
      {"CurrentCodePage", "0"},
      {"TiffAutoNumber", "0"},
      {"OpenedDatabase", "0"},
      {"SortOnColumn", "1"},
      {"SortDirection", "0"},
      {"UILanguage", "0"},
      {"T2TPaperHeight", "2970"},
      {"T2TQuality", "2"},
      {"T2TLineExtra", "0"},
      {"T2TTabSize", "4"},
      {"T2TWordWrap", "0"},
      {"T2TFont", font},
      {"I2TResTransfer", "1"},
      {"ProfileFullName", "\"\""},
      {"ProfileEmail", "\"\""},
      {"ProfileFaxNO", "\"\""},
      {"ProfilePhone1", "\"\""},
      {"ProfilePhone2", "\"\""},
      {"ProfileMobile", "\"\""},
      {"ProfileLogo", "\"" + h + "Cover/logo.bmp\""},
      {"HintAutoModem", "1"},
      {"HintContactDetail", "1"},
      {"HintSetVoiceModem", "1"},
      {"SeedCallNum", "\"\""},
      {"HangupBreak", "20"},
      {"UseWhatAsSeedNum", "1"},
      {"CloseAllRasConn", "1"},
      {"COMPortDevice", "\"\""},
      {"PhoneCommandDevice", "\"\""},
      {"PhoneDataDevice", "\"\""},
      {"TelephonyDevices", "\"\""},
  };
  for (const auto& [key, value] : lines) expected += "\r\n\r\n" + key + " = " + value;
  EXPECT_EQ(ReadFile(), expected);
  ASSERT_EQ(lines.size(), SettingKeys().size());

  // A second start reads the file back unchanged and writes the same bytes.
  const AppSettings again = Reload();
  EXPECT_EQ(again, settings);
  ASSERT_EQ(again.SaveSettings(), 1);
  EXPECT_EQ(ReadFile(), expected);
  EXPECT_TRUE(presenter.boxes.empty());
}

TEST_F(SettingsTest, HandWrittenFileWithMixedLineEndsTabsQuotesAndUnknownLines) {
  WriteFile(
      "garbage without key\r"
      "LogPath = /media/card/Logs\n"       // no quotes, no trailing slash
      "LocalCSID\t=\t'Single Quoted'\r\n"  // tabs and single quotes
      "\r\n\n\r"                           // empty lines of every kind
      "Unknown = 12\n"
      "COMPortNum=7\r"  // no blanks around "="
      "   ModemName   =  \"  My Modem\"  trailing\n"
      "XProfileFullName = \"Anna\"\n"  // key found inside the line
      "ProfileEmail = \"a@b.c"         // no closing quote, no line end at the end
  );
  ASSERT_EQ(settings.LoadSettings(), 1);
  EXPECT_EQ(settings.LogPath, "/media/card/Logs/");
  EXPECT_EQ(settings.LocalCSID, "Single Quoted");
  EXPECT_EQ(settings.COMPortNum, 7u);
  EXPECT_EQ(settings.ModemName, "My Modem");
  EXPECT_EQ(settings.ProfileFullName, "Anna");
  EXPECT_EQ(settings.ProfileEmail, "a@b.c");
  EXPECT_EQ(settings.TIFDataDir, home.dir() + "Data/");  // absent: default
  EXPECT_TRUE(presenter.boxes.empty());

  // Loading again starts from the defaults, not from the values in memory.
  settings.HangupBreak = 77;
  ASSERT_EQ(settings.LoadSettings(), 1);
  EXPECT_EQ(settings.HangupBreak, 20u);
}

TEST_F(SettingsTest, QuotesAroundTextsAndEmptyValues) {
  for (const char* line : {"LocalCSID = \"Fax 1\"", "LocalCSID = 'Fax 1'", "LocalCSID = Fax 1",
                           "LocalCSID = \" 'Fax 1\""}) {
    WriteFile(line);
    EXPECT_EQ(Reload().LocalCSID, "Fax 1") << line;
  }
  // An empty text keeps the default ...
  WriteFile("LocalCSID = \"\"\r\nProfileFullName =\r\n");
  EXPECT_EQ(Reload().LocalCSID, "Vexo_Application");
  // ... except for the modem name and the logo, where empty means "serial port"
  // and "no logo".
  WriteFile("ModemName = \"\"\r\nProfileLogo = \"\"\r\n");
  const AppSettings s = Reload();
  EXPECT_EQ(s.ModemName, "");
  EXPECT_EQ(s.ProfileLogo, "");
}

TEST_F(SettingsTest, TextsTooLongForTheirFieldKeepTheDefault) {
  const std::string csid31(31, 'c');
  WriteFile("LocalCSID = \"" + std::string(32, 'x') + "\"\nProfileMobile = \"" +
            std::string(64, 'm') + "\"\nProfileFaxNO = \"" + std::string(63, 'f') + "\"\n");
  AppSettings s = Reload();
  EXPECT_EQ(s.LocalCSID, "Vexo_Application");
  EXPECT_EQ(s.ProfileMobile, "");
  EXPECT_EQ(s.ProfileFaxNO, std::string(63, 'f'));
  WriteFile("LocalCSID = " + csid31);
  EXPECT_EQ(Reload().LocalCSID, csid31);
  // Capacity counts characters, not bytes: 31 two-byte characters fit.
  SetAnsiCodePage(1252);
  WriteFile("LocalCSID = " + std::string(31, '\xE9'));
  std::string e31;
  for (int i = 0; i < 31; ++i) e31 += "\xC3\xA9";
  EXPECT_EQ(Reload().LocalCSID, e31);
  // The logo path holds as much as the other paths.
  const std::string logo = "/" + std::string(258, 'l');
  WriteFile("ProfileLogo = " + logo);
  EXPECT_EQ(Reload().ProfileLogo, logo);
}

TEST_F(SettingsTest, OutOfRangeNumbersAreReplaced) {
  WriteFile(
      "InitBaudRate = 9600\nCOMPortNum = 14\nT2TTabSize = 40\nHangupBreak = 1000\n"
      "OpenedDatabase = 4\nSortOnColumn = 4\nSortDirection = 2\nI2TResTransfer = 3\n"
      "ForceFaxClass = 12abc\nT2TLineExtra = -5\nT2TPaperHeight = 99999999999999\n");
  AppSettings s = Reload();
  EXPECT_EQ(s.InitBaudRate, 19200u);
  EXPECT_EQ(s.COMPortNum, 1u);
  EXPECT_EQ(s.T2TTabSize, 16u);
  EXPECT_EQ(s.HangupBreak, 20u);
  EXPECT_EQ(s.OpenedDatabase, 0u);
  EXPECT_EQ(s.SortOnColumn, 1u);
  EXPECT_EQ(s.SortDirection, 0u);
  EXPECT_EQ(s.I2TResTransfer, 1u);
  EXPECT_EQ(s.ForceFaxClass, 12u);           // leading digits
  EXPECT_EQ(s.T2TLineExtra, 0u);             // no leading digit
  EXPECT_EQ(s.T2TPaperHeight, 4294967295u);  // past 32 bits: the largest value

  WriteFile(
      "InitBaudRate = 115200\nCOMPortNum = 13\nT2TTabSize = 16\nHangupBreak = 999\n"
      "I2TResTransfer = 2\nSortDirection = 1\nCOMPortNum = 99999999999\n");
  s = Reload();
  EXPECT_EQ(s.InitBaudRate, 115200u);
  EXPECT_EQ(s.T2TTabSize, 16u);
  EXPECT_EQ(s.HangupBreak, 999u);
  EXPECT_EQ(s.I2TResTransfer, 2u);
  EXPECT_EQ(s.SortDirection, 1u);
  EXPECT_EQ(s.COMPortNum, 1u);  // the later line wins and is out of range
}

TEST_F(SettingsTest, FontValuesAndBadHexadecimal) {
  LOGFONTW arial{};
  arial.lfHeight = -30;
  arial.lfWeight = 700;
  arial.lfItalic = 1;
  SetLogFontFaceName(arial, "Arial");
  std::string hex;
  for (std::uint8_t b : LogFontToBytes(arial)) {
    static const char digits[] = "0123456789abcdef";
    hex += std::string("x") + digits[b >> 4] + " " + digits[b & 15] + ";";  // junk between digits
  }
  WriteFile("T2TFont = " + hex);
  EXPECT_EQ(Reload().T2TFont, arial);
  EXPECT_TRUE(presenter.boxes.empty());

  // 183 digits: one short of 92 bytes.
  WriteFile("T2TFont = " + std::string(183, 'A') + "\nLocalCSID = after");
  const AppSettings s = Reload();
  EXPECT_EQ(s.T2TFont, DefaultLogFont());
  EXPECT_EQ(s.LocalCSID, "after");  // reading went on
  ASSERT_EQ(presenter.boxes.size(), 1u);
  EXPECT_EQ(Shown(0),
            "Error in ReadINIFile|Format of Binary data field [T2TFont] is incorrect, Vexo will "
            "skip it");

  // Height 0 and no face name: the default font.
  WriteFile("T2TFont = " + std::string(184, '0'));
  EXPECT_EQ(Reload().T2TFont, DefaultLogFont());
}

TEST_F(SettingsTest, DirectoryChecks) {
  const std::string long259 = "/" + std::string(258, 'd');
  WriteFile("LogPath = \"\"\nTIFDataDir = " + long259 + "\nCoverDir = /c/" + std::string(250, 'c') +
            "\n");
  AppSettings s = Reload();
  // Quoted empty keeps the default; the 259-character value cannot take the "/".
  EXPECT_EQ(s.LogPath, home.dir() + "Log/");
  EXPECT_EQ(s.TIFDataDir, home.dir() + "Data/");
  EXPECT_EQ(s.CoverDir, "/c/" + std::string(250, 'c') + "/");

  // An empty directory would be the root; it becomes the default instead.
  s.LogPath.clear();
  s.ApplyChecks();
  EXPECT_EQ(s.LogPath, home.dir() + "Log/");
}

TEST_F(SettingsTest, EnsureDirectoriesCreatesOneLevelAndReportsFailures) {
  ASSERT_EQ(settings.LoadSettings(), 1);
  settings.TIFDataDir = home.dir() + "missing/parent/";
  EXPECT_EQ(settings.EnsureDirectories(), 0);
  EXPECT_TRUE(fs::is_directory(home.path() / "Log"));
  EXPECT_FALSE(fs::exists(home.path() / "Cover"));  // stops at the first failure
  ErrorRecord r;
  ASSERT_EQ(ErrorPool::Instance().TakeOldest(r), 1);
  EXPECT_EQ(r.message, "Fail to create directory [" + home.dir() +
                           "missing/parent], ErrMsg = No such file or directory");

  test::WriteFileBytes(home.path() / "plain", "x");
  settings.TIFDataDir = home.dir() + "plain/";
  EXPECT_EQ(settings.EnsureDirectories(), 0);
}

TEST_F(SettingsTest, KeyNamesInsideValuesDoNotTakeTheLineOver) {
  WriteFile("LocalCSID = \"LogPath x\"\nProfileFullName = \"ModemName Smith\"\n");
  const AppSettings s = Reload();
  EXPECT_EQ(s.LocalCSID, "LogPath x");
  EXPECT_EQ(s.ProfileFullName, "ModemName Smith");
  EXPECT_EQ(s.LogPath, home.dir() + "Log/");
  EXPECT_EQ(s.ModemName, "");
}

TEST_F(SettingsTest, LongFilesLinesAcrossReadsAndOverlongLines) {
  // The first read takes 2,045 bytes: a line crosses that boundary and is
  // completed by the next read; an over-long line is dropped whole.
  std::string head = "; " + std::string(2032, 'p') + "\n";
  head += "LocalCSID = split\r\n";
  ASSERT_LT(head.size() - 19, 2045u);
  ASSERT_GT(head.size(), 2045u);
  std::string text =
      head + "ProfileEmail = \"" + std::string(3000, 'e') + "\"\nSeedCallNum = 123\n";
  for (int i = 0; i < 200; ++i) text += "; filler line " + std::to_string(i) + "\r\n";
  text += "ProfilePhone1 = 555";
  WriteFile(text);
  const AppSettings s = Reload();
  EXPECT_EQ(s.LocalCSID, "split");
  EXPECT_EQ(s.ProfileEmail, "");
  EXPECT_EQ(s.SeedCallNum, "123");
  EXPECT_EQ(s.ProfilePhone1, "555");
}

TEST_F(SettingsTest, SaveThenLoadIsTheIdentity) {
  ASSERT_EQ(settings.LoadSettings(), 1);
  std::uint32_t n = 3;
  for (const SettingKey& key : SettingKeys())
    if (key.kind == SettingKind::Unsigned) settings.*key.number = n++;
  settings.InitBaudRate = 57600;  // values the checks keep
  settings.COMPortNum = 13;
  settings.OpenedDatabase = 3;
  settings.SortOnColumn = 2;
  settings.SortDirection = 1;
  settings.UILanguage = 3;
  settings.T2TTabSize = 16;
  settings.I2TResTransfer = 2;
  settings.CurrentCodePage = 0;
  settings.HangupBreak = 999;
  settings.TiffAutoNumber = 4294967295u;
  settings.LocalCSID = "M\xC3\xBCller Fax";  // Müller: in code page 1252
  settings.ModemName = "";
  settings.ProfileLogo = "";
  settings.ProfileFullName = std::string(63, 'n');
  settings.ProfileEmail = "x=y@z";
  settings.COMPortDevice = "/dev/serial/by-id/usb-Modem_1 port0";
  settings.PhoneCommandDevice = "/dev/ttyUSB2";
  settings.PhoneDataDevice = "/dev/ttyUSB0";
  settings.LogPath = "/var/tmp/vexo logs/";
  settings.T2TFont.lfWidth = -7;
  settings.T2TFont.lfQuality = 255;
  SetLogFontFaceName(settings.T2TFont, "DejaVu Sans");
  settings.ApplyChecks();
  ASSERT_EQ(settings.SaveSettings(), 1);
  EXPECT_NE(ReadFile().find("LocalCSID = \"M\xFCller Fax\""), std::string::npos);  // 8-bit
  EXPECT_EQ(Reload(), settings);
}

TEST_F(SettingsTest, ChineseCodePageTextsSurviveASaveAndALoad) {
  ASSERT_EQ(settings.LoadSettings(), 1);
  settings.CurrentCodePage = 936;
  settings.ProfileFullName = "\xE5\xBC\xA0\xE4\xB8\x89";  // 张三
  settings.ApplyChecks();
  ASSERT_EQ(settings.SaveSettings(), 1);
  EXPECT_NE(ReadFile().find("ProfileFullName = \"\xD5\xC5\xC8\xFD\""), std::string::npos);  // GBK
  const AppSettings s = Reload();
  EXPECT_EQ(s.ProfileFullName, settings.ProfileFullName);
  EXPECT_EQ(s.effectiveCodePage, 936u);
  EXPECT_EQ(AnsiCodePage(), 936u);
}

TEST_F(SettingsTest, LanguageAndCodePageFollowTheLocaleUnlessChosen) {
  {
    ScopedEnv tw("LC_ALL", "zh_TW.UTF-8");
    AppSettings s = Reload();
    EXPECT_EQ(s.systemCodePage, 950u);
    EXPECT_EQ(s.effectiveLanguage, 3u);
    EXPECT_EQ(s.effectiveCodePage, 950u);
    EXPECT_EQ(AnsiCodePage(), 950u);
    ASSERT_EQ(s.SaveSettings(), 1);
  }
  WriteFile("UILanguage = 2\nCurrentCodePage = 1252\n");
  const AppSettings s = Reload();
  EXPECT_EQ(s.effectiveLanguage, 2u);
  EXPECT_EQ(s.effectiveCodePage, 1252u);  // 1252 is not a choice: the system's

  EXPECT_EQ(CodePageOfLocale("zh_CN.GB2312"), 936u);
  EXPECT_EQ(CodePageOfLocale("zh_HK"), 950u);
  EXPECT_EQ(CodePageOfLocale("C"), 1252u);
}

TEST_F(SettingsTest, HomeDirectoryComesFromTheEnvironment) {
  ScopedEnv vexo("VEXO_HOME", nullptr), xdg("XDG_DATA_HOME", nullptr), user("HOME", "/home/u");
  EXPECT_EQ(HomeDirectoryFromEnvironment(), "/home/u/.local/share/vexofax/");
  {
    ScopedEnv x("XDG_DATA_HOME", "/data/");
    EXPECT_EQ(HomeDirectoryFromEnvironment(), "/data/vexofax/");
    ScopedEnv v("VEXO_HOME", "/opt/fax");
    EXPECT_EQ(HomeDirectoryFromEnvironment(), "/opt/fax/");
  }
  std::vector<std::string> debug;
  SetDebugOutputSink([&](std::string_view text) { debug.emplace_back(text); });
  {
    ScopedEnv v("VEXO_HOME", "relative/dir");
    AppSettings s;
    EXPECT_EQ(s.LoadSettings(), 0);
  }
  {
    ScopedEnv none("HOME", nullptr);
    AppSettings s;
    EXPECT_EQ(s.LoadSettings(), 0);
  }
  SetDebugOutputSink(nullptr);
  ASSERT_EQ(debug.size(), 2u);
  EXPECT_NE(debug[0].find("Error: Can't find backslash in module file name"), std::string::npos);
  EXPECT_NE(debug[1].find("Error: GetModuleFileName fail"), std::string::npos);

  // The home directory is made with its parents on first start.
  ScopedEnv v("VEXO_HOME", (home.dir() + "a/b").c_str());
  AppSettings s;
  ASSERT_EQ(s.LoadSettings(), 1);
  EXPECT_EQ(s.programDirectory, home.dir() + "a/b/");
  EXPECT_TRUE(fs::exists(home.path() / "a/b/Init.vxi"));
}

TEST_F(SettingsTest, UnreadableFileFailsTheLoadWithItsMessage) {
  fs::create_directory(File());
  EXPECT_EQ(settings.LoadSettings(), 0);
  ASSERT_EQ(presenter.boxes.size(), 1u);
  EXPECT_EQ(Shown(0), "Error in ReadINIFile|CreateFile failed, ErrMsg =Is a directory");
}

// Runs the save with a file size limit, SIGXFSZ ignored so that the write fails
// instead of killing the process.
int SaveWithSizeLimit(const AppSettings& s, rlim_t limit) {
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = limit;
  setrlimit(RLIMIT_FSIZE, &small);
  const int result = s.SaveSettings();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  return result;
}

TEST_F(SettingsTest, FailedSaveKeepsThePreviousFile) {
  ASSERT_EQ(settings.LoadSettings(), 1);
  const std::string before = ReadFile();
  settings.LocalCSID = "changed";

  EXPECT_EQ(SaveWithSizeLimit(settings, 600), 0);  // fails half-way: a short write
  EXPECT_EQ(SaveWithSizeLimit(settings, 0), 0);    // fails at the first byte
  EXPECT_EQ(ReadFile(), before);
  ASSERT_EQ(presenter.boxes.size(), 2u);
  const std::string path = File().string();
  EXPECT_EQ(Shown(0), "Error in WriteINIFile|Write to file [filename=" + path +
                                    "] not complete, please check there is enough space on your "
                                    "PocketPC");
  EXPECT_EQ(Shown(1), "Error in WriteINIFile|Fail to write file [filename=" + path +
                                    "], ErrMsg = File too large");
  // No temporary file is left behind.
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(home.path())) ++entries;
  EXPECT_EQ(entries, 1u);
  EXPECT_EQ(Reload().LocalCSID, "Vexo_Application");

  // A save into a directory that is gone reports the creation failure.
  AppSettings elsewhere = settings;
  elsewhere.programDirectory = home.dir() + "gone/";
  EXPECT_EQ(elsewhere.SaveSettings(), 0);
  EXPECT_EQ(Shown(presenter.boxes.size() - 1),
            "Error in WriteINIFile|CreateFile failed, ErrMsg =No such file or directory");
}

TEST_F(SettingsTest, TiffAutoNumberIsStoredAtOnceKeepingTheFileOtherwise) {
  ASSERT_EQ(settings.LoadSettings(), 1);
  // Another process changed a key in the file meanwhile.
  AppSettings other = Reload();
  other.LocalCSID = "Other";
  ASSERT_EQ(other.SaveSettings(), 1);

  settings.ProfileEmail = "kept in memory";
  ASSERT_EQ(settings.CommitTiffAutoNumber(42), 1);
  EXPECT_EQ(settings.TiffAutoNumber, 42u);
  const AppSettings s = Reload();
  EXPECT_EQ(s.TiffAutoNumber, 42u);
  EXPECT_EQ(s.LocalCSID, "Other");
  EXPECT_EQ(s.ProfileEmail, "");
}

TEST_F(SettingsTest, SetValueRefusesWhatALoadWouldNotGiveBack) {
  const SettingKey& csid = *FindSettingKey("LocalCSID");
  const SettingKey& modem = *FindSettingKey("ModemName");
  const SettingKey& baud = *FindSettingKey("InitBaudRate");
  const SettingKey& font = *FindSettingKey("T2TFont");
  EXPECT_EQ(FindSettingKey("localcsid"), nullptr);
  EXPECT_TRUE(settings.SetValue(csid, "Fax 2"));
  for (const char* bad : {"", " lead", "a\"b", "it's", "two\nlines"})
    EXPECT_FALSE(settings.SetValue(csid, bad)) << bad;
  EXPECT_FALSE(settings.SetValue(csid, std::string(32, 'x')));
  EXPECT_FALSE(settings.SetValue(csid, "\xE5\xBC\xA0"));  // not in code page 1252
  EXPECT_EQ(settings.LocalCSID, "Fax 2");
  EXPECT_TRUE(settings.SetValue(modem, ""));
  EXPECT_TRUE(settings.SetValue(baud, "38400"));
  for (const char* bad : {"", "12a", "-1", "4294967296"})
    EXPECT_FALSE(settings.SetValue(baud, bad));
  EXPECT_EQ(settings.InitBaudRate, 38400u);
  EXPECT_FALSE(settings.SetValue(font, "00,11"));
  EXPECT_TRUE(settings.SetValue(font, settings.FormatValue(font)));
}

}  // namespace
}  // namespace vexo
