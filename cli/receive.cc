// vexo receive [--home DIR] [--device PATH] [--class 1|2|2.0|auto] [--baud N]
// [--id LOCALID] [--ecm on|off] [--coding mh|mr|mmr] [--out FILE]: a receive
// job of the home: waits for a ring on the modem the settings choose (or the
// serial device given with --device), answers and receives one fax into a new
// file of the data directory, filed in the Inbox. With --out the fax goes into
// FILE instead (which must not exist) and nothing is filed. Ctrl-C cancels.
// Exit 0 when the whole fax arrived, 1 when part of it did, 2 otherwise; a fax
// that arrived but could not be filed adds a warning on stderr.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "cli/fax_call.h"

namespace vexo::cli {
namespace {

// The receive into a file of the user's choosing: the same wait and receive
// as the job, without a new name or a record.
int ReceiveInto(AppOper& app, const std::string& file, FaxResult& record) {
  app.SetFileCalls(false);
  return RunTerminalJob(app, kReceiveJob, [&] {
    const int rang = app.WaitRingJob();
    return rang == 0 ? app.ReceiveFaxJob(file, &record) : rang - 1;
  });
}

}  // namespace

int RunReceive(int argc, char** argv) {
  JobOptions options;
  std::string out;
  CLI::App cli{"Wait for a call, receive one fax and file it in the Inbox."};
  AddJobOptions(cli, options);
  cli.add_option("--out", out, "receive into FILE (which must not exist) and file nothing")
      ->type_name("FILE");
  if (const auto code = ParseCommand(cli, argc, argv)) return *code;
  struct stat st {};
  if (!out.empty() && ::stat(out.c_str(), &st) == 0) {
    std::fprintf(stderr, "vexo receive: %s exists already\n", out.c_str());
    return kUsageExitCode;
  }

  AppOper app(MakeAppOptions(options));
  if (!StartApp(app, options, "vexo receive")) return 2;
  int result;
  FaxResult record;
  std::string file = out;
  if (out.empty()) {
    result = RunTerminalJob(app, kReceiveJob);
    record = app.Result();
    if (!app.JobFileName().empty()) file = app.Settings().TIFDataDir + app.JobFileName();
  } else {
    result = ReceiveInto(app, out, record);
  }
  PrintReceiveOutcome(result, record, file, LinkSuffix(app, record.pagesTransferred));
  // The fax arrived: the exit code says so; the warning says it is not listed yet.
  if (app.LastFilingFailed())
    std::fprintf(stderr, "vexo receive: warning: the fax was kept in %s but could not be filed\n",
                 file.empty() ? "the data directory" : file.c_str());
  app.ShowOutcome(kReceiveJob, result, true);
  return ExitCodeOf(result);
}

}  // namespace vexo::cli
