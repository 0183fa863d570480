// AppSettings: every setting of the program in one record, read at start-up from
// Init.vxi in the home directory and written back at exit. The key table below
// drives reading and writing; the checks after reading and the derived values
// (home directory, system and effective code page, effective language) live here
// too. Start-up (AppOper), the kernel, the jobs, the renderers and the settings
// sheet read and change the fields directly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/raster/log_font.h"

namespace vexo {

// Capacities of text keys in characters, terminator included: a text holds at
// most capacity - 1 characters.
constexpr std::size_t kSettingsPathChars = 260;
constexpr std::size_t kLocalCSIDChars = 32;
constexpr std::size_t kProfileChars = 64;
constexpr std::size_t kSeedCallNumChars = 65;

constexpr const char* kSettingsFileName = "Init.vxi";

// The outbox settings' ranges: the checks after reading, "vexo settings set"
// and the settings sheet take the same ones.
constexpr std::uint32_t kMaxRetryDelayMinutes = 24 * 60;  // a day
constexpr std::uint32_t kMinMaxTries = 1;
constexpr std::uint32_t kMaxMaxTries = 99;

enum class SettingKind { Text, Unsigned, Binary };

struct AppSettings;

// One row of the key table.
struct SettingKey {
  const char* key;
  SettingKind kind;
  std::size_t capacity;  // characters for text (terminator included), bytes for binary
  std::string AppSettings::*text = nullptr;
  std::uint32_t AppSettings::*number = nullptr;
  LOGFONTW AppSettings::*font = nullptr;
};

// A value refused where it is entered, as the message that says why: a
// string-table text and its two arguments.
struct SettingRefusal {
  unsigned stringId = 0;
  std::string first, second;
};

// The key table in file order (defined in settings.cc).
std::span<const SettingKey> SettingKeys();
// The row of a key (exact, case-sensitive), or nullptr.
const SettingKey* FindSettingKey(std::string_view key);

struct AppSettings {
  // ---- the keys, in file order, with their defaults (paths are set by LoadSettings)
  std::string LogPath;
  std::string LocalCSID = "Vexo_Application";
  std::string TIFDataDir;
  std::string CoverDir;
  std::uint32_t ForceFaxClass = 0;
  std::uint32_t FaxCommLogOn = 0;
  std::uint32_t COMPortNum = 1;
  std::string ModemName;  // empty: the serial-port modem
  std::uint32_t InitBaudRate = 19200;
  std::uint32_t CurrentCodePage = 0;
  std::uint32_t TiffAutoNumber = 0;
  std::uint32_t OpenedDatabase = 0;
  std::uint32_t SortOnColumn = 1;
  std::uint32_t SortDirection = 0;
  std::uint32_t UILanguage = 0;
  std::uint32_t T2TPaperHeight = 2970;
  std::uint32_t T2TQuality = 2;
  std::uint32_t T2TLineExtra = 0;
  std::uint32_t T2TTabSize = 4;
  std::uint32_t T2TWordWrap = 0;
  LOGFONTW T2TFont = DefaultLogFont();
  std::uint32_t I2TResTransfer = 1;
  std::string ProfileFullName;
  std::string ProfileEmail;
  std::string ProfileFaxNO;
  std::string ProfilePhone1;
  std::string ProfilePhone2;
  std::string ProfileMobile;
  std::string ProfileLogo;  // CoverDir + "logo.bmp"; empty: no logo
  std::uint32_t HintAutoModem = 1;
  std::uint32_t HintContactDetail = 1;
  std::uint32_t HintSetVoiceModem = 1;
  std::string SeedCallNum;
  std::uint32_t HangupBreak = 20;
  std::uint32_t UseWhatAsSeedNum = 1;
  std::uint32_t CloseAllRasConn = 1;
  // Linux devices: the serial port (empty: /dev/ttyS<COMPortNum-1>) and the
  // built-in phone modem's command and data ports (empty: not available).
  std::string COMPortDevice;
  std::string PhoneCommandDevice;
  std::string PhoneDataDevice;
  // Further serial devices offered as telephony lines, separated by ";".
  std::string TelephonyDevices;
  // Error correction mode: 1 offer and use it, 0 never.
  std::uint32_t FaxECM = 1;
  // The highest page coding offered and used: 0 MH, 1 MR, 2 MMR (MMR only with ECM).
  std::uint32_t FaxCoding = 2;
  // Automatic answering: 0 off, n answers every call after n rings while the
  // desktop program runs.
  std::uint32_t AutoAnswer = 0;
  // Every received fax is also exported here as a PDF; empty: not exported.
  std::string ReceivePdfDir;
  // The paper generated pages are laid out for: 0 A4, 1 Letter, 2 Legal (the
  // values of PaperSize in document/page_geometry.h).
  std::uint32_t PaperSize = 0;
  // The outbox: minutes before a call that failed on the line (busy, no
  // answer, no carrier, dropped) is tried again, and how many calls a queued
  // fax gets in all before it is marked failed.
  std::uint32_t RetryDelay = 5;
  std::uint32_t MaxTries = 3;

  // ---- derived at start-up, never written to the file
  // The home directory, ending in "/". LoadSettings takes it from the
  // environment unless SetHomeDirectory gave one.
  std::string programDirectory;
  std::uint32_t systemCodePage = 1252;
  std::uint32_t effectiveLanguage = 1;  // 1 English, 2 Simplified, 3 Traditional Chinese
  std::uint32_t effectiveCodePage = 1252;
  // Whether the settings file was there when LoadSettings ran; false on a
  // first start, when LoadSettings wrote it with the defaults. A fact of this
  // run, not a setting: it takes no part in comparing settings.
  struct RunFact {
    bool value = true;
    friend bool operator==(RunFact, RunFact) { return true; }
  } settingsFileExisted;

  // Uses dir (made absolute, "/" appended) as the home directory instead of the
  // one the environment names; call before LoadSettings.
  void SetHomeDirectory(std::string_view dir);

  // Sets the default paths and derived values, reads home + fileName (writing it
  // with the defaults when it does not exist), applies the checks, and sets the
  // process's ANSI code page to the effective code page. Returns 1 or 0.
  int LoadSettings(std::string_view fileName = kSettingsFileName);
  // Writes the whole table to home + fileName. Returns 1 or 0.
  int SaveSettings(std::string_view fileName = kSettingsFileName) const;
  // Fills the fields from the file at path; writes a new file with the current
  // values when there is none. Returns 1 or 0. Texts are read in FileCodePage().
  int ReadINIFile(const std::string& path);
  // The same with the texts read in the given code page.
  int ReadINIFileIn(const std::string& path, std::uint32_t codePage);
  // Replaces the file at path by one holding every entry: written to a temporary
  // file beside it and renamed over it, so a failed save keeps the old file.
  int WriteINIFile(const std::string& path) const;
  // Creates LogPath, TIFDataDir and CoverDir (one level each) when missing.
  int EnsureDirectories() const;

  // Sets TiffAutoNumber and stores it in home + fileName at once, keeping the
  // file's other values as they stand there. Returns 1 or 0.
  int CommitTiffAutoNumber(std::uint32_t number, std::string_view fileName = kSettingsFileName);
  // Stores ModemName in home + fileName, keeping the file's other values as
  // they stand there. Returns 1 or 0.
  int CommitModemName(std::string_view fileName = kSettingsFileName) const;
  // The running number the settings file holds now (another process may have
  // advanced it); TiffAutoNumber when the file cannot be read.
  std::uint32_t StoredTiffAutoNumber(std::string_view fileName = kSettingsFileName) const;

  // The checks after reading, in their order (LoadSettings runs them).
  void ApplyChecks();

  // The value of one entry as WriteINIFile writes it after " = ", in UTF-8.
  std::string FormatValue(const SettingKey& key) const;
  // Sets one entry from a value given as program text (a text without quotes,
  // a decimal number, hexadecimal pairs). Refuses (field unchanged, false) what
  // a save followed by a load would not give back: texts too long, with quotes,
  // line ends or leading blanks, not writable in FileCodePage(), or empty where
  // empty reads as the default; numbers that are not plain 32-bit decimals;
  // binary values without enough hexadecimal digits.
  bool SetValue(const SettingKey& key, std::string_view value);

  // The code page of the file's 8-bit texts: the effective code page that the
  // current CurrentCodePage gives on this system.
  std::uint32_t FileCodePage() const;
  // The characters of value (each once, in order) that the settings file
  // cannot hold for key in FileCodePage(); empty when it can keep the value. A
  // path under the home directory is stored relative to it when the code page
  // cannot hold the home, so only the characters after the home count.
  std::string UnstorableChars(const SettingKey& key, std::string_view value) const;
  // Why value cannot be taken for key where it is entered (the settings sheet,
  // "vexo settings set"): characters the file cannot hold, a LogPath whose
  // folder cannot be created (it is created here, as the next start would), or
  // a RetryDelay or MaxTries that is not a number of their range. nullopt when
  // the value can be taken.
  std::optional<SettingRefusal> RefusalOf(const SettingKey& key, std::string_view value) const;

  bool operator==(const AppSettings&) const = default;

 private:
  int CommitOnDisk(const std::function<void(AppSettings&)>& change,
                   std::string_view fileName) const;
};

// Creates the directory dir (one level: the parent must exist) unless it is
// there. 0 when it exists afterwards, else the errno of the failure (ENOTDIR
// when dir names something else).
int CreateSettingsDirectory(std::string_view dir);

// The home directory from the environment: $VEXO_HOME, else
// $XDG_DATA_HOME/vexofax/, else $HOME/.local/share/vexofax/; always ending in
// "/". nullopt when none of them is set or the result is not an absolute path.
std::optional<std::string> HomeDirectoryFromEnvironment();

// 936 for zh_CN / zh_SG locales, 950 for zh_TW / zh_HK, else 1252.
std::uint32_t CodePageOfLocale(std::string_view localeName);
// The code page of the locale the environment names (LC_ALL, LC_CTYPE, LANG).
std::uint32_t SystemCodePage();
// UILanguage 1, 2, 3 as it is; otherwise from the system code page.
std::uint32_t EffectiveLanguage(std::uint32_t uiLanguage, std::uint32_t systemCodePage);
// CurrentCodePage when it is 936 or 950; otherwise the system code page.
std::uint32_t EffectiveCodePage(std::uint32_t currentCodePage, std::uint32_t systemCodePage);
// The string table of a language: "EngRes", "ChsRes" or "ChtRes".
const char* ResourceNameOfLanguage(std::uint32_t language);

}  // namespace vexo
