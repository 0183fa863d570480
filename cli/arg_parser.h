// Runs a command's CLI11 parser the same way for every vexo command, so the
// help and usage-error conventions hold everywhere, and the option kinds
// several commands share.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vexo::cli {

// The exit code of a command line the command cannot run.
inline constexpr int kUsageExitCode = 2;

// Parses argv (argv[0] is the command's name, e.g. "send"). For --help or -h it
// prints the help on stdout and returns 0; for a bad command line it prints
// the error and the usage on stderr and returns kUsageExitCode; otherwise it
// returns nullopt and the command goes on. An app without a name is named
// "vexo COMMAND" for its usage line.
std::optional<int> ParseCommand(CLI::App& app, int argc, char** argv);

// A check that accepts a value when accepts says so; otherwise the error is
// "takes " + what.
CLI::Validator Accepts(std::function<bool(const std::string&)> accepts, const std::string& what);

// One word of an option that takes a word from a list, and what it stands for.
struct Choice {
  std::string_view word;
  std::uint32_t value;
};

// Adds an option taking one of the choices' words (shown as "a|b|c" in the
// help); value gets the chosen word's value.
CLI::Option* AddChoice(CLI::App& app, const std::string& name, std::optional<std::uint32_t>& value,
                       std::span<const Choice> choices, const std::string& help);

// Adds --home DIR; home is a std::string or a std::optional<std::string>.
template <typename Home>
CLI::Option* AddHome(CLI::App& app, Home& home) {
  return app
      .add_option("--home", home,
                  "the home directory (else $VEXO_HOME, else $XDG_DATA_HOME/vexofax or "
                  "~/.local/share/vexofax)")
      ->type_name("DIR");
}

// Adds --paper a4|letter|legal.
CLI::Option* AddPaper(CLI::App& app, std::string& paper);

}  // namespace vexo::cli
