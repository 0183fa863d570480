// vexo printer install|remove [--host SERVER] [--ppd FILE]: sets up, or takes
// away, the print queue "Fax" of the CUPS server through lpadmin. The queue's
// PPD has CUPS turn any document into PDF and hand it to the vexofax backend,
// which queues it in the printing user's outbox. A job the backend refuses
// aborts that job only, so the queue keeps taking the next ones.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/strings.h"
#include "cli/arg_parser.h"

namespace vexo::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCommand = "vexo printer";
constexpr const char* kQueueName = "Fax";
constexpr const char* kDeviceUri = "vexofax:/";
constexpr const char* kPpdName = "cups/vexofax.ppd";

enum class Action { kInstall, kRemove };
constexpr Choice kActions[] = {{"install", static_cast<std::uint32_t>(Action::kInstall)},
                               {"remove", static_cast<std::uint32_t>(Action::kRemove)}};

// The shipped PPD, in the resources next to the program.
std::optional<std::string> FindPpd() {
  const fs::path ppd = ResourceDir() / kPpdName;
  std::error_code ec;
  if (ResourceDir().empty() || !fs::is_regular_file(ppd, ec)) return std::nullopt;
  return ppd.string();
}

// Runs lpadmin with args and waits for it; its exit code, 127 when it could
// not run.
int RunLpadmin(const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>("lpadmin")};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    execvp("lpadmin", argv.data());
    std::perror("vexo printer: lpadmin");
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return 127;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 127;
}

}  // namespace

int RunPrinter(int argc, char** argv) {
  std::optional<std::uint32_t> action;
  std::string host;
  std::string ppd;
  CLI::App cli{
      "Set up the print queue \"Fax\" that queues every document printed to it in the printing "
      "user's outbox (install), or take it away (remove)."};
  AddChoice(cli, "ACTION", action, kActions, "what to do")->required();
  cli.add_option("--host", host, "the CUPS server (a name, or the path of its socket)")
      ->type_name("SERVER");
  cli.add_option("--ppd", ppd, "install: the PPD file (else the one shipped)")->type_name("FILE");
  if (const auto code = ParseCommand(cli, argc, argv)) return *code;

  std::vector<std::string> args;
  if (!host.empty()) args.insert(args.end(), {"-h", host});
  if (static_cast<Action>(*action) == Action::kRemove) {
    args.insert(args.end(), {"-x", kQueueName});
  } else {
    if (ppd.empty()) ppd = FindPpd().value_or("");
    if (ppd.empty()) {
      std::fprintf(stderr, "%s: the PPD file %s is missing\n", kCommand, kPpdName);
      return 2;
    }
    args.insert(args.end(), {"-p", kQueueName, "-E", "-v", kDeviceUri, "-P", ppd, "-D", "Vexo Fax",
                             "-o", "printer-error-policy=abort-job"});
  }
  const int code = RunLpadmin(args);
  if (code != 0) {
    std::fprintf(stderr, "%s: lpadmin failed (exit code %d)\n", kCommand, code);
    return 2;
  }
  return 0;
}

}  // namespace vexo::cli
