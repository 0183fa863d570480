// vexo settings [--home DIR] [set KEY VALUE]: reads Init.vxi of the home
// directory with the start-up rules (writing it with the defaults when there is
// none, creating Log/, Data/ and Cover/), optionally changes one key, writes the
// file back and prints the effective settings as they stand in the file.
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings/settings.h"
#include "base/error_pool.h"
#include "base/strings.h"
#include "platform/text.h"

namespace vexo::cli {
namespace {

constexpr std::size_t kMessageChars = 1024;

int SettingsUsage() {
  std::fputs(
      "usage: vexo settings [--home DIR]            print the settings and the home directory\n"
      "       vexo settings [--home DIR] set KEY VALUE   change one key and save\n",
      stderr);
  return 2;
}

void PrintSettings(const AppSettings& settings) {
  std::printf("Home directory: %s\n", settings.programDirectory.c_str());
  for (const SettingKey& key : SettingKeys())
    std::printf("%s = %s\n", key.key, settings.FormatValue(key).c_str());
}

}  // namespace

int RunSettings(int argc, char** argv) {
  std::optional<std::string> home;
  std::vector<std::string_view> words;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--home" && i + 1 < argc)
      home = argv[++i];
    else if (arg.starts_with("--home="))
      home = std::string(arg.substr(7));
    else
      words.push_back(arg);
  }
  const bool set = words.size() == 3 && words[0] == "set";
  if (!words.empty() && !set) return SettingsUsage();

  const SettingKey* key = nullptr;
  if (set) {
    key = FindSettingKey(words[1]);
    if (!key) {
      std::fprintf(stderr, "vexo settings: unknown key %.*s\n", static_cast<int>(words[1].size()),
                   words[1].data());
      return 2;
    }
  }

  AppSettings settings;
  if (home) settings.SetHomeDirectory(*home);
  if (!settings.LoadSettings()) {
    std::fputs(
        "vexo settings: the settings file could not be read (see above; without a home "
        "directory set VEXO_HOME or use --home)\n",
        stderr);
    return 1;
  }
  if (!settings.EnsureDirectories()) {
    ShowErrorPoolBoxes(nullptr);
    return 1;
  }
  if (set) {
    // Refused where it is entered: what the file cannot hold, a log folder
    // that cannot be created.
    if (const auto refusal = settings.RefusalOf(*key, words[2])) {
      std::fprintf(stderr, "vexo settings: %s\n",
                   Format(kMessageChars, LoadResString(refusal->stringId).c_str(),
                          refusal->first.c_str(), refusal->second.c_str())
                       .c_str());
      return 1;
    }
    if (!settings.SetValue(*key, words[2])) {
      std::fprintf(stderr, "vexo settings: %s cannot hold the value \"%.*s\"\n", key->key,
                   static_cast<int>(words[2].size()), words[2].data());
      return 1;
    }
    settings.ApplyChecks();
  }
  // Values the checks replaced (out of range in the file or in the new value).
  ShowErrorPoolBoxes(nullptr);
  if (!settings.SaveSettings()) return 1;
  if (set)
    std::printf("%s = %s\n", key->key, settings.FormatValue(*key).c_str());
  else
    PrintSettings(settings);
  return 0;
}

}  // namespace vexo::cli
