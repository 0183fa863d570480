// vexo modem-talk: checks that a modem answers. Opens the device with the
// serial port object, writes "AT", waits for the final result and prints it;
// the dialogue is dumped into VexoCommLog.log in the log directory.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/error_pool.h"
#include "modem/modem_check.h"

namespace vexo::cli {
namespace {

int Usage() {
  std::fputs("usage: vexo modem-talk --device PATH [--baud N] [--log DIR]\n", stderr);
  return 2;
}

bool ParseOptions(int argc, char** argv, ModemCheck& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view name = argv[i];
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    if (name == "--device") {
      options.device = value;
    } else if (name == "--baud") {
      char* end = nullptr;
      const unsigned long baud = std::strtoul(value, &end, 10);
      if (end == value || *end != 0 || baud == 0 || baud > 4000000) return false;
      options.baud = static_cast<std::uint32_t>(baud);
    } else if (name == "--log") {
      options.logDirectory = value;
      if (options.logDirectory.empty()) return false;
      if (options.logDirectory.back() != '/') options.logDirectory += '/';
    } else {
      return false;
    }
  }
  return !options.device.empty();
}

const char* AnswerText(ModemAnswer answer) {
  switch (answer) {
    case ModemAnswer::Ok:
      return "OK";
    case ModemAnswer::Error:
      return "ERROR";
    case ModemAnswer::NoAnswer:
      return "NO ANSWER";
    case ModemAnswer::NotOpened:
      break;
  }
  return nullptr;
}

}  // namespace

int RunModemTalk(int argc, char** argv) {
  ModemCheck options;
  if (!ParseOptions(argc, argv, options)) return Usage();
  const ModemCheckResult result = CheckModem(options);
  if (const char* text = AnswerText(result.answer)) std::printf("%s\n", text);
  if (result.logPath.empty())
    std::fprintf(stderr, "vexo: cannot create %sVexoCommLog.log\n", options.logDirectory.c_str());
  else
    std::printf("Communication log: %s\n", result.logPath.c_str());
  if (result.answer != ModemAnswer::Ok) FlushErrorPool(nullptr, false);
  return result.answer == ModemAnswer::Ok ? 0 : 1;
}

}  // namespace vexo::cli
