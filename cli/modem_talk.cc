// vexo modem-talk: checks that a modem answers. Opens the device with the
// serial port object, writes "AT", waits for the final result and prints it;
// the dialogue is dumped into VexoCommLog.log in the log directory (--log,
// created when missing). Exit 1 when the modem does not answer OK or the log
// cannot be written.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>

#include "base/error_pool.h"
#include "cli/arg_parser.h"
#include "modem/modem_check.h"

namespace vexo::cli {
namespace {

constexpr unsigned long kMaxBaud = 4'000'000;

// Creates the log directory with its parents; false with the reason printed.
bool MakeLogDirectory(const std::string& directory) {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (!error && ::access(directory.c_str(), W_OK) != 0)
    error = std::error_code(errno, std::generic_category());
  if (!error) return true;
  std::fprintf(stderr, "vexo modem-talk: cannot write the log into %s: %s\n", directory.c_str(),
               error.message().c_str());
  return false;
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
  std::string logDirectory;
  CLI::App cli{"Write AT to a modem and print its answer; the dialogue goes into VexoCommLog.log."};
  cli.add_option("--device", options.device, "the serial device of the modem")
      ->required()
      ->type_name("PATH");
  cli.add_option("--baud", options.baud, "the line speed of the serial port")
      ->check(CLI::Range(1ul, kMaxBaud).description(""))
      ->type_name("N");
  cli.add_option("--log", logDirectory,
                 "the directory of the log, created when missing (else the current directory)")
      ->type_name("DIR");
  if (const auto code = ParseCommand(cli, argc, argv)) return *code;
  if (!logDirectory.empty()) {
    if (!MakeLogDirectory(logDirectory)) return 1;
    options.logDirectory = logDirectory.back() == '/' ? logDirectory : logDirectory + '/';
  }
  const ModemCheckResult result = CheckModem(options);
  if (const char* text = AnswerText(result.answer)) std::printf("%s\n", text);
  if (!result.logPath.empty()) std::printf("Communication log: %s\n", result.logPath.c_str());
  if (result.answer != ModemAnswer::Ok) FlushErrorPool(nullptr, false);
  if (result.logPath.empty()) {
    std::fprintf(stderr, "vexo modem-talk: cannot create %sVexoCommLog.log\n",
                 options.logDirectory.c_str());
    return 1;
  }
  return result.answer == ModemAnswer::Ok ? 0 : 1;
}

}  // namespace vexo::cli
