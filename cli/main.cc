// The vexo command: one subcommand per task, each reporting failures through the
// error pool and printing them before it exits.
#include <cstdio>
#include <string>
#include <string_view>

#include "cli/arg_parser.h"
#include "cli/commands.h"

namespace vexo::cli {
void PrintVersion();
}  // namespace vexo::cli

namespace {

using vexo::cli::Command;
using vexo::cli::Commands;

void PrintUsage(std::FILE* out) {
  std::fputs(
      "usage: vexo COMMAND [options]\n"
      "       vexo help COMMAND | vexo COMMAND --help   the options of a command\n"
      "       vexo --version\n"
      "commands:\n",
      out);
  for (const Command& command : Commands())
    std::fprintf(out, "  %-12s %s\n", command.name, command.summary);
}

int UsageError() {
  PrintUsage(stderr);
  return vexo::cli::kUsageExitCode;
}

const Command* FindCommand(std::string_view name) {
  for (const Command& command : Commands())
    if (name == command.name) return &command;
  return nullptr;
}

// vexo help [COMMAND]: the command list, or the command's own help.
int Help(int argc, char** argv) {
  if (argc == 1) {
    PrintUsage(stdout);
    return 0;
  }
  const Command* command = argc == 2 ? FindCommand(argv[1]) : nullptr;
  if (!command) return UsageError();
  std::string name = argv[1];
  std::string help = "--help";
  char* commandArgv[] = {name.data(), help.data(), nullptr};
  return command->run(2, commandArgv);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return UsageError();
  const std::string_view name = argv[1];
  if (name == "--help" || name == "-h") {
    PrintUsage(stdout);
    return 0;
  }
  if (name == "--version") {
    vexo::cli::PrintVersion();
    return 0;
  }
  if (name == "help") return Help(argc - 1, argv + 1);
  if (const Command* command = FindCommand(name)) return command->run(argc - 1, argv + 1);
  std::fprintf(stderr, "vexo: unknown command or option %s\n", argv[1]);
  return UsageError();
}
