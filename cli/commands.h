// The table of vexo subcommands. Each subcommand lives in its own file and adds
// one row here; run gets argv starting at the subcommand's name.
#pragma once

#include <span>

namespace vexo::cli {

struct Command {
  const char* name;
  const char* summary;
  int (*run)(int argc, char** argv);
};

std::span<const Command> Commands();

}  // namespace vexo::cli
