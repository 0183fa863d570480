#include <cstdio>

#include "cli/arg_parser.h"

namespace vexo::cli {

// "vexo <version>", the version of the project's build.
void PrintVersion() { std::puts("vexo " VEXO_VERSION); }

int RunVersion(int argc, char** argv) {
  CLI::App app{"Print the program version."};
  if (const auto code = ParseCommand(app, argc, argv)) return *code;
  PrintVersion();
  return 0;
}

}  // namespace vexo::cli
