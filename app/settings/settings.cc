#include "app/settings/settings.h"

#include <functional>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "base/code_page.h"
#include "base/error_pool.h"
#include "base/log_file.h"
#include "platform/text.h"

namespace vexo {
namespace {

using S = AppSettings;

constexpr SettingKey Text(const char* key, std::size_t capacity, std::string S::*field) {
  return SettingKey{key, SettingKind::Text, capacity, field, nullptr, nullptr};
}
constexpr SettingKey Number(const char* key, std::uint32_t S::*field) {
  return SettingKey{key, SettingKind::Unsigned, 0, nullptr, field, nullptr};
}
constexpr SettingKey Font(const char* key, LOGFONTW S::*field) {
  return SettingKey{key, SettingKind::Binary, kLogFontBytes, nullptr, nullptr, field};
}

// The file order. Keys added for Linux come last, so files written by the
// original table read unchanged.
constexpr std::array kKeys{
    Text("LogPath", kSettingsPathChars, &S::LogPath),
    Text("LocalCSID", kLocalCSIDChars, &S::LocalCSID),
    Text("TIFDataDir", kSettingsPathChars, &S::TIFDataDir),
    Text("CoverDir", kSettingsPathChars, &S::CoverDir),
    Number("ForceFaxClass", &S::ForceFaxClass),
    Number("FaxCommLogOn", &S::FaxCommLogOn),
    Number("COMPortNum", &S::COMPortNum),
    Text("ModemName", kSettingsPathChars, &S::ModemName),
    Number("InitBaudRate", &S::InitBaudRate),
    Number("CurrentCodePage", &S::CurrentCodePage),
    Number("TiffAutoNumber", &S::TiffAutoNumber),
    Number("OpenedDatabase", &S::OpenedDatabase),
    Number("SortOnColumn", &S::SortOnColumn),
    Number("SortDirection", &S::SortDirection),
    Number("UILanguage", &S::UILanguage),
    Number("T2TPaperHeight", &S::T2TPaperHeight),
    Number("T2TQuality", &S::T2TQuality),
    Number("T2TLineExtra", &S::T2TLineExtra),
    Number("T2TTabSize", &S::T2TTabSize),
    Number("T2TWordWrap", &S::T2TWordWrap),
    Font("T2TFont", &S::T2TFont),
    Number("I2TResTransfer", &S::I2TResTransfer),
    Text("ProfileFullName", kProfileChars, &S::ProfileFullName),
    Text("ProfileEmail", kProfileChars, &S::ProfileEmail),
    Text("ProfileFaxNO", kProfileChars, &S::ProfileFaxNO),
    Text("ProfilePhone1", kProfileChars, &S::ProfilePhone1),
    Text("ProfilePhone2", kProfileChars, &S::ProfilePhone2),
    Text("ProfileMobile", kProfileChars, &S::ProfileMobile),
    // A path like the others: 63 characters cut real logo paths.
    Text("ProfileLogo", kSettingsPathChars, &S::ProfileLogo),
    Number("HintAutoModem", &S::HintAutoModem),
    Number("HintContactDetail", &S::HintContactDetail),
    Number("HintSetVoiceModem", &S::HintSetVoiceModem),
    Text("SeedCallNum", kSeedCallNumChars, &S::SeedCallNum),
    Number("HangupBreak", &S::HangupBreak),
    Number("UseWhatAsSeedNum", &S::UseWhatAsSeedNum),
    Number("CloseAllRasConn", &S::CloseAllRasConn),
    Text("COMPortDevice", kSettingsPathChars, &S::COMPortDevice),
    Text("PhoneCommandDevice", kSettingsPathChars, &S::PhoneCommandDevice),
    Text("PhoneDataDevice", kSettingsPathChars, &S::PhoneDataDevice),
    Text("TelephonyDevices", kSettingsPathChars, &S::TelephonyDevices),
    Number("FaxECM", &S::FaxECM),
    Number("FaxCoding", &S::FaxCoding),
    Number("AutoAnswer", &S::AutoAnswer),
    Text("ReceivePdfDir", kSettingsPathChars, &S::ReceivePdfDir),
    Number("PaperSize", &S::PaperSize),
    Number("RetryDelay", &S::RetryDelay),
    Number("MaxTries", &S::MaxTries),
};

}  // namespace

std::span<const SettingKey> SettingKeys() { return kKeys; }

const SettingKey* FindSettingKey(std::string_view key) {
  for (const SettingKey& row : kKeys)
    if (key == row.key) return &row;
  return nullptr;
}

namespace {

constexpr std::array<std::uint32_t, 5> kBaudRates{2400, 19200, 38400, 57600, 115200};
constexpr std::uint32_t kDefaultBaudRate = 19200;
constexpr std::uint32_t kMaxComPort = 13;
constexpr std::uint32_t kMaxFolder = 3;
constexpr std::uint32_t kMaxSortColumn = 3;
constexpr std::uint32_t kMaxSortDirection = 1;
constexpr std::uint32_t kMaxTabSize = 16;
constexpr std::uint32_t kMaxHangupBreak = 999;
constexpr std::uint32_t kDefaultHangupBreak = 20;
constexpr std::uint32_t kDefaultFaxECM = 1;
constexpr std::uint32_t kMaxFaxECM = 1;
constexpr std::uint32_t kDefaultFaxCoding = 2;
constexpr std::uint32_t kMaxFaxCoding = 2;
constexpr std::uint32_t kMaxAutoAnswerRings = 20;
constexpr std::uint32_t kMaxPaperSize = 2;
constexpr std::uint32_t kDefaultRetryDelay = 5;
constexpr std::uint32_t kDefaultMaxTries = 3;

constexpr const char* kLogDirName = "Log/";
constexpr const char* kDataDirName = "Data/";
constexpr const char* kCoverDirName = "Cover/";
constexpr const char* kLogoFileName = "logo.bmp";

// A directory value ends in "/". One without it gets it appended while that
// still fits; an empty one (which would name the root) or one too long to take
// the "/" becomes the default.
void CheckDirectory(std::string& value, const std::string& fallback) {
  if (value.empty()) {
    value = fallback;
    return;
  }
  if (value.back() == '/') return;
  if (Utf8Length(value) < kSettingsPathChars - 1)
    value += '/';
  else
    value = fallback;
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

std::string EnvValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

// A value outside min to max is reported and replaced by the default: a typing error in
// the file should not silently change how every call is made.
void CheckRange(std::uint32_t& value, std::uint32_t max, std::uint32_t fallback, const char* key,
                const char* meaning, std::uint32_t min = 0) {
  if (value >= min && value <= max) return;
  ReportError(0, kMsgDefault, "AppSettings", "ApplyChecks",
              "The setting %s = %u is out of range (%s); %u is used.", key, value, meaning,
              fallback);
  value = fallback;
}

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace

// ---- derived values

std::optional<std::string> HomeDirectoryFromEnvironment() {
  std::string dir = EnvValue("VEXO_HOME");
  if (dir.empty()) {
    const std::string xdg = EnvValue("XDG_DATA_HOME");
    const std::string home = EnvValue("HOME");
    if (!xdg.empty())
      dir = WithSlash(xdg) + "vexofax/";
    else if (!home.empty())
      dir = WithSlash(home) + ".local/share/vexofax/";
  }
  if (dir.empty() || dir.front() != '/') return std::nullopt;
  return WithSlash(dir);
}

std::uint32_t CodePageOfLocale(std::string_view localeName) {
  const auto starts = [&](std::string_view prefix) {
    return localeName.substr(0, prefix.size()) == prefix;
  };
  if (starts("zh_CN") || starts("zh_SG")) return 936;
  if (starts("zh_TW") || starts("zh_HK")) return 950;
  return 1252;
}

std::uint32_t SystemCodePage() {
  // The locale categories in the order the C library consults them.
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const std::string value = EnvValue(name);
    if (!value.empty()) return CodePageOfLocale(value);
  }
  return CodePageOfLocale("C");
}

std::uint32_t EffectiveLanguage(std::uint32_t uiLanguage, std::uint32_t systemCodePage) {
  if (uiLanguage >= 1 && uiLanguage <= 3) return uiLanguage;
  if (systemCodePage == 936) return 2;
  if (systemCodePage == 950) return 3;
  return 1;
}

std::uint32_t EffectiveCodePage(std::uint32_t currentCodePage, std::uint32_t systemCodePage) {
  return currentCodePage == 936 || currentCodePage == 950 ? currentCodePage : systemCodePage;
}

const char* ResourceNameOfLanguage(std::uint32_t language) {
  switch (language) {
    case 2:
      return "ChsRes";
    case 3:
      return "ChtRes";
    default:
      return "EngRes";
  }
}

std::uint32_t AppSettings::FileCodePage() const {
  return EffectiveCodePage(CurrentCodePage, systemCodePage);
}

// ---- start-up and exit

void AppSettings::SetHomeDirectory(std::string_view dir) {
  std::error_code ec;
  std::filesystem::path path = std::filesystem::absolute(std::filesystem::path(dir), ec);
  if (ec) path = std::filesystem::path(dir);
  programDirectory = WithSlash(path.lexically_normal().string());
}

namespace {

// The default paths, found before the file is read. The home directory is
// created with its parents, so that the first start can write Init.vxi there.
bool SetDefaultPaths(AppSettings& s) {
  // Every field starts from its default, also when a record is loaded again.
  const std::string home = s.programDirectory;
  s = AppSettings{};
  s.programDirectory = home;
  if (s.programDirectory.empty()) {
    if (EnvValue("VEXO_HOME").empty() && EnvValue("XDG_DATA_HOME").empty() &&
        EnvValue("HOME").empty()) {
      DebugOutput("Error: GetModuleFileName fail");
      return false;
    }
    const std::optional<std::string> fromEnvironment = HomeDirectoryFromEnvironment();
    if (!fromEnvironment) {
      DebugOutput("Error: Can't find backslash in module file name");
      return false;
    }
    s.programDirectory = *fromEnvironment;
  }
  // The longest default path must fit its field.
  const std::string logo = s.programDirectory + kCoverDirName + kLogoFileName;
  if (Utf8Length(logo) >= kSettingsPathChars) {
    DebugOutput("Error: home directory path is too long");
    return false;
  }
  std::error_code ec;
  std::filesystem::create_directories(s.programDirectory, ec);

  s.LogPath = s.programDirectory + kLogDirName;
  s.LocalCSID = "Vexo_Application";
  s.TIFDataDir = s.programDirectory + kDataDirName;
  s.CoverDir = s.programDirectory + kCoverDirName;
  s.ProfileLogo = s.CoverDir + kLogoFileName;
  s.T2TFont = DefaultLogFont();
  s.systemCodePage = SystemCodePage();
  return true;
}

// Defaults, the file and the checks, without touching the process's code page.
bool ReadAndCheck(AppSettings& s, std::string_view fileName) {
  if (!SetDefaultPaths(s)) return false;
  const std::string path = s.programDirectory + std::string(fileName);
  struct stat st {};
  s.settingsFileExisted.value = ::stat(path.c_str(), &st) == 0 || errno != ENOENT;
  const AppSettings defaults = s;
  const std::uint32_t firstCodePage = s.FileCodePage();
  if (!s.ReadINIFileIn(path, firstCodePage)) return false;
  // The file's texts are in the code page its own CurrentCodePage chooses; when
  // that is not the one assumed, read it again in the right one.
  const std::uint32_t fileCodePage = s.FileCodePage();
  if (fileCodePage != firstCodePage) {
    s = defaults;
    if (!s.ReadINIFileIn(path, fileCodePage)) return false;
  }
  s.ApplyChecks();
  return true;
}

}  // namespace

int AppSettings::LoadSettings(std::string_view fileName) {
  if (!ReadAndCheck(*this, fileName)) return 0;
  SetAnsiCodePage(effectiveCodePage);
  return 1;
}

int AppSettings::SaveSettings(std::string_view fileName) const {
  return WriteINIFile(programDirectory + std::string(fileName));
}

void AppSettings::ApplyChecks() {
  CheckDirectory(LogPath, programDirectory + kLogDirName);
  CheckDirectory(TIFDataDir, programDirectory + kDataDirName);
  CheckDirectory(CoverDir, programDirectory + kCoverDirName);
  if (std::find(kBaudRates.begin(), kBaudRates.end(), InitBaudRate) == kBaudRates.end())
    InitBaudRate = kDefaultBaudRate;
  if (COMPortNum > kMaxComPort) COMPortNum = 1;
  if (OpenedDatabase > kMaxFolder) OpenedDatabase = 0;
  if (SortOnColumn > kMaxSortColumn) SortOnColumn = 1;
  if (SortDirection > kMaxSortDirection) SortDirection = 0;
  if (T2TTabSize > kMaxTabSize) T2TTabSize = kMaxTabSize;
  if (T2TFont.lfHeight == 0 && T2TFont.lfFaceName[0] == u'\0') T2TFont = DefaultLogFont();
  if (I2TResTransfer != 1 && I2TResTransfer != 2) I2TResTransfer = 1;
  effectiveLanguage = EffectiveLanguage(UILanguage, systemCodePage);
  effectiveCodePage = EffectiveCodePage(CurrentCodePage, systemCodePage);
  if (HangupBreak > kMaxHangupBreak) HangupBreak = kDefaultHangupBreak;
  CheckRange(FaxECM, kMaxFaxECM, kDefaultFaxECM, "FaxECM", "0 off, 1 on");
  CheckRange(FaxCoding, kMaxFaxCoding, kDefaultFaxCoding, "FaxCoding", "0 MH, 1 MR, 2 MMR");
  CheckRange(AutoAnswer, kMaxAutoAnswerRings, 0, "AutoAnswer", "0 off, 1 to 20 rings");
  CheckRange(PaperSize, kMaxPaperSize, 0, "PaperSize", "0 A4, 1 Letter, 2 Legal");
  CheckRange(RetryDelay, kMaxRetryDelayMinutes, kDefaultRetryDelay, "RetryDelay",
             "0 to 1440 minutes");
  CheckRange(MaxTries, kMaxMaxTries, kDefaultMaxTries, "MaxTries", "1 to 99 calls", kMinMaxTries);
}

int CreateSettingsDirectory(std::string_view dir) {
  std::string path(dir);
  if (EndsWith(path, "/") && path.size() > 1) path.pop_back();
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return errno;
  return 0;
}

int AppSettings::EnsureDirectories() const {
  for (const std::string* dir : {&LogPath, &TIFDataDir, &CoverDir}) {
    const int error = CreateSettingsDirectory(*dir);
    if (error == 0) continue;
    std::string path = *dir;
    if (EndsWith(path, "/") && path.size() > 1) path.pop_back();
    ReportErrorCode(0, kMsgDefault, "AppSettings", "EnsureDirectories", error,
                    "Fail to create directory [%s], ErrMsg = ", path.c_str());
    return 0;
  }
  return 1;
}

// Starts from the file as it stands (another process, or this run's own
// overrides, may differ in other keys) and changes only what change sets.
int AppSettings::CommitOnDisk(const std::function<void(AppSettings&)>& change,
                              std::string_view fileName) const {
  AppSettings onDisk;
  onDisk.programDirectory = programDirectory;
  if (!ReadAndCheck(onDisk, fileName)) return 0;
  change(onDisk);
  return onDisk.SaveSettings(fileName);
}

int AppSettings::CommitTiffAutoNumber(std::uint32_t number, std::string_view fileName) {
  TiffAutoNumber = number;
  return CommitOnDisk([number](AppSettings& s) { s.TiffAutoNumber = number; }, fileName);
}

int AppSettings::CommitModemName(std::string_view fileName) const {
  return CommitOnDisk([this](AppSettings& s) { s.ModemName = ModemName; }, fileName);
}

std::uint32_t AppSettings::StoredTiffAutoNumber(std::string_view fileName) const {
  AppSettings onDisk;
  onDisk.programDirectory = programDirectory;
  if (!ReadAndCheck(onDisk, fileName)) return TiffAutoNumber;
  return onDisk.TiffAutoNumber;
}

}  // namespace vexo
