// vexo modem-talk: checks that a modem answers. Opens the device with the
// serial port object, writes "AT", waits for the final result and prints it;
// the dialogue is dumped into VexoCommLog.log in the log directory.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/base/error_pool.h"
#include "app/base/log_file.h"
#include "kernel/comm_log.h"
#include "kernel/fax_comm_func.h"
#include "kernel/win_com_ce.h"

namespace vexo::cli {
namespace {

constexpr std::uint32_t kDefaultBaud = 19200;

struct ModemTalkOptions {
  std::string device;
  std::uint32_t baud = kDefaultBaud;
  std::string logDirectory = "./";
};

int Usage() {
  std::fputs("usage: vexo modem-talk --device PATH [--baud N] [--log DIR]\n", stderr);
  return 2;
}

bool ParseOptions(int argc, char** argv, ModemTalkOptions& options) {
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

const char* ResultText(int result) {
  switch (result) {
    case 1: return "OK";
    case 0: return "ERROR";
    default: return "NO ANSWER";
  }
}

}  // namespace

int RunModemTalk(int argc, char** argv) {
  ModemTalkOptions options;
  if (!ParseOptions(argc, argv, options)) return Usage();

  LogFile log;
  if (!OpenCommLog(log, reinterpret_cast<std::uintptr_t>(&log), options.logDirectory)) {
    std::fprintf(stderr, "vexo: cannot create %sVexoCommLog.log\n", options.logDirectory.c_str());
    return 1;
  }
  WinCOMCE port;
  port.SetLog(&log);
  port.SetCommLog(1);
  port.SetBaudRate(options.baud);
  port.SetOptions({options.device, "", "", false});

  int result = -1;
  bool opened = port.OpenComPort(nullptr, options.device, 0, "", 0) == 1;
  if (opened && port.WriteCommand("AT", 0)) {
    FaxCommFunc exchange;
    exchange.Attach(&port);
    result = exchange.MatchOKResult(kWaitOkMs, true);
  }
  if (opened) port.CloseComPort(0);
  log.Close();

  if (opened) std::printf("%s\n", ResultText(result));
  std::printf("Communication log: %s\n", log.Path().c_str());
  if (result != 1) FlushErrorPool(nullptr, false);
  return result == 1 ? 0 : 1;
}

}  // namespace vexo::cli
