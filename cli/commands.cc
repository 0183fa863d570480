#include "cli/commands.h"

#include <array>

namespace vexo::cli {

int RunVersion(int argc, char** argv);
int RunSettings(int argc, char** argv);

std::span<const Command> Commands() {
  static const std::array kCommands{
      Command{"version", "print the program version", RunVersion},
      Command{"settings", "print the settings, or set KEY VALUE", RunSettings},
  };
  return kCommands;
}

}  // namespace vexo::cli
