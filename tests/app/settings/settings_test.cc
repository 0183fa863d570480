#include "app/settings/settings.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <ranges>

#include "app/settings/layer_options.h"
#include "base/code_page.h"
#include "base/error_pool.h"
#include "base/log_file.h"
#include "base/presenter.h"
#include "base/string_ids.h"
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

  std::string font = "E8,FF,FF,FF,";  // -24, then zeros up to the weight 400
  for (int i = 0; i < 12; ++i) font += "00,";
  font += "90,01,00,00,00,00,00,01,00,00,00,00,54,00,61,00,68,00,6F,00,6D,00,61,00,";  // "Tahoma"
  for (int i = 0; i < 52; ++i) font += "00,";
  std::string expected =
      "***********************************\r\nInit Data File of Vexo\r\n"
      "***********************************\r\n\r\n";
  // Every key in table order, "|" between lines; @ is the home, % the font.
  const std::string table =
      "LogPath = \"@Log/\"|LocalCSID = \"Vexo_Application\"|TIFDataDir = \"@Data/\"|"
      "CoverDir = \"@Cover/\"|ForceFaxClass = 0|FaxCommLogOn = 0|COMPortNum = 1|"
      "ModemName = \"\"|InitBaudRate = 19200|CurrentCodePage = 0|TiffAutoNumber = 0|"
      "OpenedDatabase = 0|SortOnColumn = 1|SortDirection = 0|UILanguage = 0|"
      "T2TPaperHeight = 2970|T2TQuality = 2|T2TLineExtra = 0|T2TTabSize = 4|T2TWordWrap = 0|"
      "T2TFont = %|I2TResTransfer = 1|ProfileFullName = \"\"|ProfileEmail = \"\"|"
      "ProfileFaxNO = \"\"|ProfilePhone1 = \"\"|ProfilePhone2 = \"\"|ProfileMobile = \"\"|"
      "ProfileLogo = \"@Cover/logo.bmp\"|HintAutoModem = 1|HintContactDetail = 1|"
      "HintSetVoiceModem = 1|SeedCallNum = \"\"|HangupBreak = 20|UseWhatAsSeedNum = 1|"
      "CloseAllRasConn = 1|COMPortDevice = \"\"|PhoneCommandDevice = \"\"|"
      "PhoneDataDevice = \"\"|TelephonyDevices = \"\"|FaxECM = 1|FaxCoding = 2|AutoAnswer = 0|"
      "ReceivePdfDir = \"\"|PaperSize = 0|RetryDelay = 5|MaxTries = 3";
  std::size_t keys = 0;
  for (const auto line : std::views::split(table, '|')) {
    std::string text(line.begin(), line.end());
    if (const auto at = text.find('@'); at != std::string::npos) text.replace(at, 1, home.dir());
    if (const auto at = text.find('%'); at != std::string::npos) text.replace(at, 1, font);
    expected += "\r\n\r\n" + text;
    ++keys;
  }
  EXPECT_EQ(ReadFile(), expected);
  ASSERT_EQ(keys, SettingKeys().size());

  // A second start reads the file back unchanged and writes the same bytes.
  const AppSettings again = Reload();
  EXPECT_EQ(again, settings);
  ASSERT_EQ(again.SaveSettings(), 1);
  EXPECT_EQ(ReadFile(), expected);
  EXPECT_TRUE(presenter.boxes.empty());
}

// Calls use(key, value) for each "Key=value" of list, "|" between them.
template <typename Use>
void ForEachValue(const std::string& list, Use use) {
  for (const auto part : std::views::split(list, '|')) {
    const std::string word(part.begin(), part.end());
    const auto eq = word.find('=');
    const SettingKey* key = FindSettingKey(word.substr(0, eq));
    ASSERT_NE(key, nullptr) << word;
    use(*key, word.substr(eq + 1));
  }
}

// Whether each "Key=value" of expected is what s holds for that key: texts
// without quotes, numbers in decimal; "@" at the start stands for home.
void ExpectValues(const AppSettings& s, const std::string& expected, const std::string& home) {
  ForEachValue(expected, [&](const SettingKey& key, std::string value) {
    if (value.starts_with('@')) value.replace(0, 1, home);
    EXPECT_EQ(key.text ? s.*key.text : s.FormatValue(key), value) << key.key;
  });
}

// Values as a hand-written file gives them: line ends, blanks, quotes, key names
// inside lines and values, empty texts, texts and directories too long for
// their field, numbers out of range, long files and over-long lines.
TEST_F(SettingsTest, HandWrittenFilesGiveCheckedValues) {
  // The first read takes 2,045 bytes: the LocalCSID line (bytes 2,035 to 2,054)
  // is completed by the next read; an over-long line is dropped whole.
  std::string longFile = "; " + std::string(2032, 'p') +
                         "\nLocalCSID = split\r\nProfileEmail = \"" + std::string(3000, 'e') +
                         "\"\nSeedCallNum = 123\n";
  for (int i = 0; i < 200; ++i) longFile += "; filler line " + std::to_string(i) + "\r\n";
  longFile += "ProfilePhone1 = 555";
  const std::string f63(63, 'f'), c31(31, 'c'), logo = "/" + std::string(258, 'l'),
                                                cover = "/c/" + std::string(250, 'c');
  const std::pair<std::string, std::string> rows[] = {
      {"garbage without key\r"
       "LogPath = /media/card/Logs\n"       // no quotes, no trailing slash
       "LocalCSID\t=\t'Single Quoted'\r\n"  // tabs and single quotes
       "\r\n\n\r"                           // empty lines of every kind
       "Unknown = 12\n"
       "COMPortNum=7\r"  // no blanks around "="
       "   ModemName   =  \"  My Modem\"  trailing\n"
       "XProfileFullName = \"Anna\"\n"                // key found inside the line
       "ProfilePhone1 = \"LogPath x ModemName y\"\n"  // key names inside a value
       "ProfileEmail = \"a@b.c",                      // no closing quote, no line end at the end
       "LogPath=/media/card/Logs/|LocalCSID=Single Quoted|COMPortNum=7|ModemName=My Modem|"
       "ProfileFullName=Anna|ProfileEmail=a@b.c|ProfilePhone1=LogPath x ModemName y|"
       "TIFDataDir=@Data/"},  // absent: the default
      {longFile, "LocalCSID=split|ProfileEmail=|SeedCallNum=123|ProfilePhone1=555"},
      {"LocalCSID = \"Fax 1\"", "LocalCSID=Fax 1"},
      {"LocalCSID = 'Fax 1'", "LocalCSID=Fax 1"},
      {"LocalCSID = Fax 1", "LocalCSID=Fax 1"},
      {"LocalCSID = \" 'Fax 1\"", "LocalCSID=Fax 1"},
      // An empty text keeps the default, except for the modem name and the
      // logo, where empty means "serial port" and "no logo".
      {"LocalCSID = \"\"\r\nProfileFullName =\r\nModemName = \"\"\r\nProfileLogo = \"\"\r\n",
       "LocalCSID=Vexo_Application|ModemName=|ProfileLogo="},
      {"LocalCSID = \"" + std::string(32, 'x') + "\"\nProfileMobile = \"" + std::string(64, 'm') +
           "\"\nProfileFaxNO = \"" + f63 + "\"\n",
       "LocalCSID=Vexo_Application|ProfileMobile=|ProfileFaxNO=" + f63},
      {"LocalCSID = " + c31, "LocalCSID=" + c31},
      {"ProfileLogo = " + logo, "ProfileLogo=" + logo},  // as long as the other paths
      // Quoted empty keeps the default; 259 characters cannot take the "/".
      {"LogPath = \"\"\nTIFDataDir = /" + std::string(258, 'd') + "\nCoverDir = " + cover + "\n",
       "LogPath=@Log/|TIFDataDir=@Data/|CoverDir=" + cover + "/"},
      // ForceFaxClass takes the leading digits, T2TLineExtra has none, and past
      // 32 bits T2TPaperHeight is the largest value.
      {"InitBaudRate = 9600\nCOMPortNum = 14\nT2TTabSize = 40\nHangupBreak = 1000\n"
       "OpenedDatabase = 4\nSortOnColumn = 4\nSortDirection = 2\nI2TResTransfer = 3\n"
       "ForceFaxClass = 12abc\nT2TLineExtra = -5\nT2TPaperHeight = 99999999999999\n"
       "FaxECM = 2\nFaxCoding = 3\nPaperSize = 3\nRetryDelay = 1441\nMaxTries = 0\n",
       "InitBaudRate=19200|COMPortNum=1|T2TTabSize=16|HangupBreak=20|OpenedDatabase=0|"
       "SortOnColumn=1|SortDirection=0|I2TResTransfer=1|ForceFaxClass=12|T2TLineExtra=0|"
       "T2TPaperHeight=4294967295|FaxECM=1|FaxCoding=2|PaperSize=0|RetryDelay=5|MaxTries=3"},
      // The later COMPortNum line wins and is out of range.
      {"InitBaudRate = 115200\nCOMPortNum = 13\nT2TTabSize = 16\nHangupBreak = 999\n"
       "I2TResTransfer = 2\nSortDirection = 1\nCOMPortNum = 99999999999\n"
       "FaxECM = 0\nFaxCoding = 1\nPaperSize = 2\nRetryDelay = 0\nMaxTries = 99\n",
       "InitBaudRate=115200|T2TTabSize=16|HangupBreak=999|I2TResTransfer=2|SortDirection=1|"
       "COMPortNum=1|FaxECM=0|FaxCoding=1|PaperSize=2|RetryDelay=0|MaxTries=99"},
  };
  for (const auto& [file, values] : rows) {
    SCOPED_TRACE(values.substr(0, 40));
    WriteFile(file);
    ErrorPool::Instance().Clear();
    ExpectValues(Reload(), values, home.dir());
    // Only the ECM, coding, paper and outbox keys report a value out of range.
    EXPECT_EQ(ErrorPool::Instance().Count(), file.find("FaxECM = 2") != std::string::npos ? 5 : 0);
  }
  EXPECT_TRUE(presenter.boxes.empty());
  // Capacity counts characters, not bytes: 31 two-byte characters fit.
  SetAnsiCodePage(1252);
  WriteFile("LocalCSID = " + std::string(31, '\xE9'));
  std::string e31;
  for (int i = 0; i < 31; ++i) e31 += "\xC3\xA9";
  EXPECT_EQ(Reload().LocalCSID, e31);
  // An empty directory would be the root; it becomes the default instead.
  settings.LogPath.clear();
  settings.ApplyChecks();
  EXPECT_EQ(settings.LogPath, home.dir() + "Log/");
  // Loading again starts from the defaults, not from the values in memory.
  settings.HangupBreak = 77;
  ASSERT_EQ(settings.LoadSettings(), 1);
  EXPECT_EQ(settings.HangupBreak, 20u);
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

TEST_F(SettingsTest, SaveThenLoadIsTheIdentity) {
  ASSERT_EQ(settings.LoadSettings(), 1);
  std::uint32_t n = 3;
  for (const SettingKey& key : SettingKeys())
    if (key.kind == SettingKind::Unsigned) settings.*key.number = n++;
  // Values the checks keep; M\xC3\xBCller is in code page 1252.
  ForEachValue(
      "InitBaudRate=57600|COMPortNum=13|OpenedDatabase=3|SortOnColumn=2|SortDirection=1|"
      "UILanguage=3|T2TTabSize=16|I2TResTransfer=2|CurrentCodePage=0|HangupBreak=999|"
      "TiffAutoNumber=4294967295|LocalCSID=M\xC3\xBCller Fax|ModemName=|ProfileLogo=|"
      "ProfileFullName=" +
          std::string(63, 'n') +
          "|ProfileEmail=x=y@z|"
          "COMPortDevice=/dev/serial/by-id/usb-Modem_1 port0|PhoneCommandDevice=/dev/ttyUSB2|"
          "PhoneDataDevice=/dev/ttyUSB0|LogPath=/var/tmp/vexo logs/",
      [&](const SettingKey& key, const std::string& value) {
        EXPECT_TRUE(settings.SetValue(key, value)) << key.key << "=" << value;
      });
  settings.T2TFont.lfWidth = -7;
  settings.T2TFont.lfQuality = 255;
  SetLogFontFaceName(settings.T2TFont, "DejaVu Sans");
  settings.ApplyChecks();
  ASSERT_EQ(settings.SaveSettings(), 1);
  EXPECT_NE(ReadFile().find("LocalCSID = \"M\xFCller Fax\""), std::string::npos);  // 8-bit
  EXPECT_EQ(Reload(), settings);
}

TEST_F(SettingsTest, LanguageAndCodePageFollowTheLocaleUnlessChosenAndCarryTexts) {
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

  // A chosen Chinese code page carries texts through a save and a load.
  ASSERT_EQ(settings.LoadSettings(), 1);
  settings.CurrentCodePage = 936;
  settings.ProfileFullName = "\xE5\xBC\xA0\xE4\xB8\x89";  // 张三
  settings.ApplyChecks();
  ASSERT_EQ(settings.SaveSettings(), 1);
  EXPECT_NE(ReadFile().find("ProfileFullName = \"\xD5\xC5\xC8\xFD\""), std::string::npos);  // GBK
  const AppSettings chinese = Reload();
  EXPECT_EQ(chinese.ProfileFullName, settings.ProfileFullName);
  EXPECT_EQ(chinese.effectiveCodePage, 936u);
  EXPECT_EQ(AnsiCodePage(), 936u);

  EXPECT_EQ(CodePageOfLocale("zh_CN.GB2312"), 936u);
  EXPECT_EQ(CodePageOfLocale("zh_HK"), 950u);
  EXPECT_EQ(CodePageOfLocale("C"), 1252u);
}

TEST_F(SettingsTest, HomeDirectoryComesFromTheEnvironmentAndIsMadeOnFirstStart) {
  // Either the home directory or, when there is none, the error the load reports.
  struct Row {
    const char *vexo, *xdg, *user, *result;
  };
  const Row rows[] = {
      {nullptr, nullptr, "/home/u", "/home/u/.local/share/vexofax/"},
      {nullptr, "/data/", "/home/u", "/data/vexofax/"},
      {"/opt/fax", "/data/", "/home/u", "/opt/fax/"},
      {"relative/dir", nullptr, "/home/u", "Can't find backslash in module file name"},
      {nullptr, nullptr, nullptr, "GetModuleFileName fail"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.result);
    ScopedEnv vexo("VEXO_HOME", row.vexo), xdg("XDG_DATA_HOME", row.xdg), user("HOME", row.user);
    EXPECT_EQ(HomeDirectoryFromEnvironment().value_or(""), row.result[0] == '/' ? row.result : "");
    if (row.result[0] == '/') continue;
    std::string debug;
    SetDebugOutputSink([&](std::string_view text) { debug += text; });
    EXPECT_EQ(AppSettings().LoadSettings(), 0);
    SetDebugOutputSink(nullptr);
    EXPECT_NE(debug.find(std::string("Error: ") + row.result), std::string::npos) << debug;
  }
  ScopedEnv vexo("VEXO_HOME", (home.dir() + "a/b").c_str());
  AppSettings s;
  ASSERT_EQ(s.LoadSettings(), 1);
  EXPECT_EQ(s.programDirectory, home.dir() + "a/b/");
  EXPECT_TRUE(fs::exists(home.path() / "a/b/Init.vxi"));
}

// Saves under a file size limit, SIGXFSZ ignored so that the write fails
// instead of killing the process.
int SaveWithSizeLimit(const AppSettings& s, rlim_t limit) {
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  const rlimit small{limit, old.rlim_max};
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  const int result = s.SaveSettings();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  return result;
}

TEST_F(SettingsTest, FailedSaveKeepsThePreviousFileAndAnUnreadableFileFailsTheLoad) {
  ASSERT_EQ(settings.LoadSettings(), 1);
  const std::string before = ReadFile();
  settings.LocalCSID = "changed";
  AppSettings elsewhere = settings;  // its directory is gone
  elsewhere.programDirectory = home.dir() + "gone/";
  // Failing half-way (a short write), at the first byte, and at the creation.
  EXPECT_EQ(SaveWithSizeLimit(settings, 600), 0);
  EXPECT_EQ(SaveWithSizeLimit(settings, 0), 0);
  EXPECT_EQ(elsewhere.SaveSettings(), 0);
  EXPECT_EQ(ReadFile(), before);
  const std::string error = "Error in WriteINIFile|", file = "[filename=" + File().string() + "]";
  ASSERT_EQ(presenter.boxes.size(), 3u);
  EXPECT_EQ(Shown(0), error + "Write to file " + file +
                          " not complete, please check there is enough space on your PocketPC");
  EXPECT_EQ(Shown(1), error + "Fail to write file " + file + ", ErrMsg = File too large");
  EXPECT_EQ(Shown(2), error + "CreateFile failed, ErrMsg =No such file or directory");
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(home.path()), fs::directory_iterator()), 1);
  EXPECT_EQ(Reload().LocalCSID, "Vexo_Application");

  // A file that cannot be read fails the load with its message.
  fs::remove(File());
  fs::create_directory(File());
  EXPECT_EQ(settings.LoadSettings(), 0);
  ASSERT_EQ(presenter.boxes.size(), 4u);
  EXPECT_EQ(Shown(3), "Error in ReadINIFile|CreateFile failed, ErrMsg =Is a directory");
}

TEST_F(SettingsTest, SetValueRefusesWhatALoadWouldNotGiveBack) {
  EXPECT_EQ(FindSettingKey("localcsid"), nullptr);
  const auto setTo = [&](bool accepted) {
    return [&, accepted](const SettingKey& key, const std::string& value) {
      EXPECT_EQ(settings.SetValue(key, value), accepted) << key.key << "=" << value;
    };
  };
  ForEachValue("LocalCSID=Fax 2|InitBaudRate=38400|ModemName=", setTo(true));
  // Blanks, quotes, line ends, too long, not in code page 1252, not a number.
  ForEachValue(
      "LocalCSID=|LocalCSID= lead|LocalCSID=a\"b|LocalCSID=it's|LocalCSID=two\nlines|"
      "LocalCSID=\xE5\xBC\xA0|InitBaudRate=|InitBaudRate=12a|InitBaudRate=-1|"
      "InitBaudRate=4294967296|T2TFont=00,11|LocalCSID=" +
          std::string(32, 'x'),
      setTo(false));
  EXPECT_EQ(settings.LocalCSID, "Fax 2");
  EXPECT_EQ(settings.InitBaudRate, 38400u);
  const SettingKey& font = *FindSettingKey("T2TFont");
  EXPECT_TRUE(settings.SetValue(font, settings.FormatValue(font)));

  // The check of "vexo settings set" and the sheet: the characters the file
  // cannot hold, once each, or a log folder that cannot be made.
  const SettingKey& logPath = *FindSettingKey("LogPath");
  const std::string lodz =
      "\xC5\x81\xC3\xB3"
      "d\xC5\xBA \xC5\x81";  // "Łódź Ł"
  EXPECT_EQ(settings.RefusalOf(*FindSettingKey("ProfileFullName"), lodz).value().first,
            "\xC5\x81\xC5\xBA");
  EXPECT_EQ(settings.RefusalOf(logPath, home.dir() + "no/such/").value().stringId,
            str::kLogFolderRefused);
  EXPECT_FALSE(settings.RefusalOf(logPath, home.dir() + "made/"));
  EXPECT_TRUE(fs::is_directory(home.path() / "made"));
  // The outbox numbers outside their range, named in the refusal.
  const auto refused = [&](bool expected) {
    return [&, expected](const SettingKey& key, const std::string& value) {
      EXPECT_EQ(settings.RefusalOf(key, value).has_value(), expected) << key.key << "=" << value;
    };
  };
  ForEachValue("MaxTries=0|MaxTries=100|RetryDelay=-5|RetryDelay=1441|RetryDelay=5m|MaxTries=",
               refused(true));
  ForEachValue("MaxTries=1|MaxTries=99|RetryDelay=0|RetryDelay=1440", refused(false));
  EXPECT_EQ(settings.RefusalOf(*FindSettingKey("MaxTries"), "0").value().first, "1");
}

// A home whose path the file's code page cannot hold ("łukasz") starts every
// time: the paths under it are stored relative to it.
TEST_F(SettingsTest, AHomeOfAnyCharactersStartsEveryTime) {
  const std::string lukasz = home.dir() + "\xC5\x82ukasz/";
  for (int start = 1; start <= 2; ++start) {
    SCOPED_TRACE(start);
    AppSettings s;
    s.SetHomeDirectory(lukasz);
    ASSERT_EQ(s.LoadSettings(), 1);
    ASSERT_EQ(s.EnsureDirectories(), 1);
    EXPECT_EQ(std::tie(s.LogPath, s.TIFDataDir, s.ProfileLogo),
              std::tuple(lukasz + "Log/", lukasz + "Data/", lukasz + "Cover/logo.bmp"));
    ASSERT_EQ(s.SaveSettings(), 1);
  }
  EXPECT_EQ(test::ReadFileBytes(lukasz + "Init.vxi").find('?'), std::string::npos);
  // A file an earlier version wrote with "?" for the home's characters.
  test::WriteFileBytes(lukasz + "Init.vxi", "LogPath = \"" + home.dir() + "?ukasz/Old/\"");
  AppSettings old;
  old.SetHomeDirectory(lukasz);
  ASSERT_EQ(old.LoadSettings(), 1);
  EXPECT_EQ(old.LogPath, lukasz + "Old/");
  EXPECT_EQ(old.UnstorableChars(*FindSettingKey("LogPath"), lukasz + "New/"), "");
  EXPECT_EQ(old.UnstorableChars(*FindSettingKey("LogPath"), "/tmp/\xC5\x82/"), "\xC5\x82");
}

// The option records of the lower layers carry the settings they name.
TEST(LayerOptions, CarryTheSettingsOfTheirLayers) {
  AppSettings s;
  s.T2TQuality = 1, s.T2TPaperHeight = 2794, s.T2TLineExtra = 5, s.T2TWordWrap = 1;
  s.T2TTabSize = 8, s.I2TResTransfer = 2, s.T2TFont.lfHeight = -30;
  s.ProfileFullName = "Ann", s.ProfileFaxNO = "1", s.ProfilePhone1 = "2", s.ProfilePhone2 = "3";
  s.ProfileEmail = "a@b", s.ProfileLogo = "/l.bmp", s.UseWhatAsSeedNum = 2, s.SeedCallNum = "100";
  const ConvertOptions o = ConvertOptionsOf(s);
  EXPECT_EQ(std::tuple(o.quality, o.paperHeight, o.lineExtra, o.wordWrap, o.tabSize, o.resTransfer),
            std::tuple(1u, 2794u, 5u, true, 8u, 2u));
  EXPECT_EQ(o.font, s.T2TFont);
  const CoverProfile& p = o.profile;
  EXPECT_EQ(std::vector({p.fullName, p.faxNumber, p.phone1, p.phone2, p.email, p.logoFile}),
            std::vector<std::string>({"Ann", "1", "2", "3", "a@b", "/l.bmp"}));
  const DialSettings d = DialSettingsOf(s);
  EXPECT_EQ(std::tuple(d.useWhatAsSeedNum, d.seedCallNum), std::tuple(2u, std::string("100")));
}

}  // namespace
}  // namespace vexo
