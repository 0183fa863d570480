#include "cli/commands.h"

#include <array>

namespace vexo::cli {

int RunVersion(int argc, char** argv);

std::span<const Command> Commands() {
  static const std::array kCommands{
      Command{"version", "print the program version", RunVersion},
  };
  return kCommands;
}

}  // namespace vexo::cli
