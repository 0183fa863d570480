#include "cli/arg_parser.h"

#include <iostream>
#include <utility>

#include "document/page_geometry.h"

namespace vexo::cli {

std::optional<int> ParseCommand(CLI::App& app, int argc, char** argv) {
  if (app.get_name().empty() && argc > 0) app.name(std::string("vexo ") + argv[0]);
  // Positional arguments are shown by their names alone ("FILE ..."), not their types.
  for (CLI::Option* option : app.get_options())
    if (option->get_positional() && !option->nonpositional()) option->type_name("");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help() << std::flush;
    return 0;
  } catch (const CLI::CallForAllHelp&) {
    std::cout << app.help("", CLI::AppFormatMode::All) << std::flush;
    return 0;
  } catch (const CLI::ParseError& error) {
    std::cerr << app.get_name() << ": " << error.what() << "\n"
              << CLI::Formatter().make_usage(&app, app.get_name()) << "Run '" << app.get_name()
              << " --help' for every option.\n"
              << std::flush;
    return kUsageExitCode;
  }
  return std::nullopt;
}

CLI::Validator Accepts(std::function<bool(const std::string&)> accepts, const std::string& what) {
  return CLI::Validator(
      [accepts = std::move(accepts), what](std::string& value) {
        return accepts(value) ? std::string() : "takes " + what;
      },
      "");
}

CLI::Option* AddChoice(CLI::App& app, const std::string& name, std::optional<std::uint32_t>& value,
                       std::span<const Choice> choices, const std::string& help) {
  std::string words;
  for (const Choice& choice : choices)
    words += (words.empty() ? "" : "|") + std::string(choice.word);
  const auto find = [choices](const std::string& word) -> const Choice* {
    for (const Choice& choice : choices)
      if (choice.word == word) return &choice;
    return nullptr;
  };
  return app
      .add_option_function<std::string>(
          name, [&value, find](const std::string& word) { value = find(word)->value; }, help)
      ->check(Accepts([find](const std::string& word) { return find(word) != nullptr; }, words))
      ->type_name(words);
}

CLI::Option* AddPaper(CLI::App& app, std::string& paper) {
  return app.add_option("--paper", paper, "the paper of the pages (else the settings' paper)")
      ->check(Accepts([](const std::string& name) { return PaperSizeFromName(name).has_value(); },
                      "a4, letter or legal"))
      ->type_name("a4|letter|legal");
}

}  // namespace vexo::cli
