#include "cli/commands.h"

#include <array>

namespace vexo::cli {

int RunVersion(int argc, char** argv);
int RunSettings(int argc, char** argv);
int RunHeader(int argc, char** argv);

std::span<const Command> Commands() {
  static const std::array kCommands{
      Command{"version", "print the program version", RunVersion},
      Command{"settings", "print the settings, or set KEY VALUE", RunSettings},
      Command{"header", "write the header strip of a sent page as a TIFF", RunHeader},
  };
  return kCommands;
}

}  // namespace vexo::cli
