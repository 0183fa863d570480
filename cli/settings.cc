// vexo settings [--home DIR] [set KEY VALUE]: reads Init.vxi of the home
// directory with the start-up rules (writing it with the defaults when there is
// none, creating Log/, Data/ and Cover/), optionally changes one key, writes the
// file back and prints the effective settings as they stand in the file.
#include <cstdio>
#include <optional>
#include <string>

#include "app/settings/settings.h"
#include "base/error_pool.h"
#include "base/strings.h"
#include "cli/arg_parser.h"
#include "platform/text.h"

namespace vexo::cli {
namespace {

constexpr std::size_t kMessageChars = 1024;

void PrintSettings(const AppSettings& settings) {
  std::printf("Home directory: %s\n", settings.programDirectory.c_str());
  for (const SettingKey& key : SettingKeys())
    std::printf("%s = %s\n", key.key, settings.FormatValue(key).c_str());
}

}  // namespace

int RunSettings(int argc, char** argv) {
  std::optional<std::string> home;
  std::string keyName, value;  // of set
  CLI::App cli{"Print the settings and the home directory, or change one key and save."};
  AddHome(cli, home);
  CLI::App* setCommand = cli.add_subcommand("set", "change one key and save");
  setCommand->add_option("KEY", keyName, "the key, as the settings print it")->required();
  setCommand->add_option("VALUE", value, "its new value")->required();
  setCommand->fallthrough();
  if (const auto code = ParseCommand(cli, argc, argv)) return *code;
  const bool set = setCommand->parsed();

  const SettingKey* key = nullptr;
  if (set) {
    key = FindSettingKey(keyName);
    if (!key) {
      std::fprintf(stderr, "vexo settings: unknown key %s\n", keyName.c_str());
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
    if (const auto refusal = settings.RefusalOf(*key, value)) {
      std::fprintf(stderr, "vexo settings: %s\n",
                   Format(kMessageChars, LoadResString(refusal->stringId).c_str(),
                          refusal->first.c_str(), refusal->second.c_str())
                       .c_str());
      return 1;
    }
    if (!settings.SetValue(*key, value)) {
      std::fprintf(stderr, "vexo settings: %s cannot hold the value \"%s\"\n", key->key,
                   value.c_str());
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
