// The vexo command: one subcommand per task, each reporting failures through the
// error pool and printing them before it exits.
#include <cstdio>
#include <string>
#include <string_view>

#include "cli/commands.h"

namespace {

int Usage() {
  std::fputs("usage: vexo COMMAND [options]\n", stderr);
  for (const auto& command : vexo::cli::Commands())
    std::fprintf(stderr, "  %-12s %s\n", command.name, command.summary);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string_view name = argv[1];
  for (const auto& command : vexo::cli::Commands())
    if (name == command.name) return command.run(argc - 1, argv + 1);
  return Usage();
}
