#include "app/base/settings.h"

#include <cstdlib>
#include <filesystem>

#include "app/base/code_page.h"
#include "app/base/log_file.h"
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
};

}  // namespace

std::span<const SettingKey> SettingKeys() { return kKeys; }

const SettingKey* FindSettingKey(std::string_view key) {
  for (const SettingKey& row : kKeys)
    if (key == row.key) return &row;
  return nullptr;
}

LOGFONTW DefaultLogFont() {
  LOGFONTW f;
  f.lfHeight = -24;
  f.lfWeight = 400;
  f.lfCharSet = 1;
  SetLogFontFaceName(f, "Tahoma");
  return f;
}

}  // namespace vexo
