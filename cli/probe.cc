// vexo probe [--home DIR] [DEVICE...] | --apply DEVICE: asks the serial
// devices (by default every device of `vexo modems` and /dev/ttyS*, ttyUSB*,
// ttyACM*) what modem answers there and prints one line per device with its
// fax classes, Class 1 speeds, maker and model and the suggested
// COMPortDevice and ForceFaxClass. --apply probes one device and stores its
// suggestion in the settings. Exit 0 when a fax modem was found, 1 when none.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/jobs/modem_probe.h"
#include "app/settings/settings.h"
#include "base/error_pool.h"
#include "base/strings.h"
#include "cli/arg_parser.h"
#include "platform/text.h"

namespace vexo::cli {
namespace {

constexpr int kModemFound = 0;
constexpr int kNoModem = 1;
constexpr std::size_t kMessageChars = 1024;

// Stores one value as `vexo settings set` does; false after saying why not.
bool StoreValue(AppSettings& settings, const char* name, const std::string& value) {
  const SettingKey* key = FindSettingKey(name);
  if (const auto refusal = settings.RefusalOf(*key, value)) {
    std::fprintf(stderr, "vexo probe: %s\n",
                 Format(kMessageChars, LoadResString(refusal->stringId).c_str(),
                        refusal->first.c_str(), refusal->second.c_str())
                     .c_str());
    return false;
  }
  if (!settings.SetValue(*key, value)) {
    std::fprintf(stderr, "vexo probe: %s cannot hold the value \"%s\"\n", name, value.c_str());
    return false;
  }
  return true;
}

// The serial port with the suggested class; ModemName is cleared, else the
// jobs would keep using the modem line it names instead of the port.
int ApplySuggestion(AppSettings& settings, const ProbeResult& result) {
  const std::uint32_t faxClass = *result.SuggestedClass();
  if (!StoreValue(settings, "COMPortDevice", result.device) ||
      !StoreValue(settings, "ForceFaxClass", std::to_string(faxClass)))
    return kNoModem;
  settings.ModemName.clear();
  settings.ApplyChecks();
  ShowErrorPoolBoxes(nullptr);  // values the checks replaced
  if (!settings.SaveSettings()) return kNoModem;
  for (const char* name : {"COMPortDevice", "ForceFaxClass", "ModemName"})
    std::printf("%s = %s\n", name, settings.FormatValue(*FindSettingKey(name)).c_str());
  return kModemFound;
}

}  // namespace

int RunProbe(int argc, char** argv) {
  std::optional<std::string> home;
  std::vector<std::string> devices;
  std::optional<std::string> apply;
  CLI::App cli{
      "Ask serial devices which fax modem answers there and suggest the settings "
      "COMPortDevice and ForceFaxClass for it; exit 0 when a fax modem was found."};
  AddHome(cli, home);
  auto* named = cli.add_option("DEVICE", devices,
                               "the devices to probe (else the modems of `vexo modems` and "
                               "/dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*)");
  cli.add_option("--apply", apply, "probe DEVICE and store its suggestion in the settings")
      ->type_name("DEVICE")
      ->excludes(named);
  if (const auto code = ParseCommand(cli, argc, argv)) return *code;

  AppSettings settings;
  if (home) settings.SetHomeDirectory(*home);
  if (!settings.LoadSettings()) {
    std::fputs(
        "vexo probe: the settings file could not be read (without a home directory set "
        "VEXO_HOME or use --home)\n",
        stderr);
    return kNoModem;
  }
  if (apply)
    devices = {*apply};
  else if (devices.empty())
    devices = ProbeDevices(SerialDevicesOf(), settings.TelephonyDevices);
  else
    devices = ProbeDevices(devices, "");  // a device named twice is probed once

  bool found = false;
  const std::vector<ProbeResult> results = ProbeModems(devices, settings.InitBaudRate);
  for (const ProbeResult& result : results) {
    std::printf("%s\n", ProbeLine(result).c_str());
    found = found || result.SuggestedClass().has_value();
  }
  std::fflush(stdout);
  // What the port object reported beyond the lines (settings a port refused).
  ShowErrorPoolBoxes(nullptr);
  if (!found) return kNoModem;
  return apply ? ApplySuggestion(settings, results.front()) : kModemFound;
}

}  // namespace vexo::cli
