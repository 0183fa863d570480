// vexo modems [--home DIR]: builds the modem list as start-up does (the Linux
// telephony lines: /dev/serial/by-id and the TelephonyDevices setting) and
// prints it as the settings sheet shows it: index, name, bearer and media
// modes, and the kind of line.
#include <cstdio>
#include <optional>
#include <string>

#include "app/settings/layer_options.h"
#include "app/settings/settings.h"
#include "base/error_pool.h"
#include "base/strings.h"
#include "cli/arg_parser.h"
#include "modem/tapi_oper.h"
#include "platform/telephony/linux_provider.h"

namespace vexo::cli {
namespace {

const char* LineKind(const TAPIOper& tapi, std::uint32_t index) {
  if (index == 0) return "phone modem";
  return tapi.IsVoiceLine(index) ? "voice line" : "data line";
}

}  // namespace

int RunModems(int argc, char** argv) {
  std::optional<std::string> home;
  CLI::App cli{
      "List the modems the program can use: the phone modem, telephony data and voice "
      "lines."};
  AddHome(cli, home);
  if (const auto code = ParseCommand(cli, argc, argv)) return *code;

  AppSettings settings;
  if (home) settings.SetHomeDirectory(*home);
  if (!settings.LoadSettings()) {
    std::fputs(
        "vexo modems: the settings file could not be read (without a home directory set "
        "VEXO_HOME or use --home)\n",
        stderr);
    return 1;
  }
  LoadResDll(ResourceNameOfLanguage(settings.effectiveLanguage));

  LinuxTelephonyProvider provider(settings.TelephonyDevices);
  TAPIOper tapi(provider, [&settings] { return DialSettingsOf(settings); });
  if (!tapi.InitTapi(nullptr, nullptr)) {
    ShowErrorPoolBoxes(nullptr);
    return 1;
  }
  const auto modems = tapi.Modems();
  for (std::uint32_t i = 0; i < modems.size(); ++i) {
    std::printf("%u\t%s\tbearer=0x%x\tmedia=0x%x\t%s\n", i, modems[i].name.c_str(),
                modems[i].bearerModes, modems[i].mediaModes, LineKind(tapi, i));
  }
  // Devices that could not be asked are reported, the list stands.
  ShowErrorPoolBoxes(nullptr);
  return 0;
}

}  // namespace vexo::cli
