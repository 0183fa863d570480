// vexo answer [--count N] [--rings N] [--home DIR] [--device PATH]
// [--class 1|2|2.0|auto] [--baud N] [--id LOCALID] [--ecm on|off]
// [--coding mh|mr|mmr]: the receive job of vexo receive, over and over: each
// call is answered after N rings (default 1), received into a new file of the
// data directory and filed in the Inbox, with one outcome line; then the wait
// resumes, until N calls were taken (--count) or SIGINT/SIGTERM. A signal
// while waiting ends it at once; during a call it cancels the call, keeping
// and filing the pages already received. A wait that fails once the service
// once listened for rings (the modem went away later) is tried again after a
// pause; a failure before the modem ever listened (a device that is missing
// or no fax modem) ends it with exit 2. A send of another process of the home
// borrows the modem from a wait that has no call yet: the wait ends, the send
// runs, and waiting resumes once it has ended.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "app/jobs/home_lock.h"
#include "base/error_pool.h"
#include "cli/fax_call.h"

namespace vexo::cli {
namespace {

constexpr unsigned kMaxRings = 20;
constexpr std::chrono::seconds kRetryPause{20};
constexpr std::chrono::milliseconds kSignalCheck{200};

struct AnswerOptions {
  JobOptions job;
  unsigned count = 0;  // calls to take; 0: until a signal
  unsigned rings = 1;
};

// One wait and receive as the job thread runs it; a signal that came before
// the job started cancels it at once.
int AnswerOneCall(AppOper& app, const CancelOnSignal& signals) {
  if (!app.Job().StartJob(kReceiveJob)) return kJobWaitFailed;
  if (signals.Signalled()) app.Job().Cancel();
  return app.RunJob(kReceiveJob);
}

// Sleeps for pause, or less when a signal comes.
void PauseUnlessSignalled(const CancelOnSignal& signals, std::chrono::milliseconds pause) {
  for (auto left = pause; left.count() > 0 && !signals.Signalled(); left -= kSignalCheck)
    std::this_thread::sleep_for(kSignalCheck);
}

// Sleeps while busy() holds, in short steps, until a signal comes.
template <typename Busy>
void PauseWhile(const CancelOnSignal& signals, Busy busy) {
  while (!signals.Signalled() && busy()) std::this_thread::sleep_for(kSignalCheck);
}

// While a job of another process (a send) holds the home's job lock, or the
// modem lent to a send is not back yet, there is nothing to wait with.
void PauseForOtherJobs(AppOper& app, const CancelOnSignal& signals) {
  PauseWhile(signals, [&app] { return app.ModemLent() || HomeJobLockBusy(app.Home()); });
}

void PrintCallOutcome(AppOper& app, int result) {
  const FaxResult& record = app.Result();
  const std::string file =
      app.JobFileName().empty() ? "" : app.Settings().TIFDataDir + app.JobFileName();
  PrintReceiveOutcome(result, record, file, LinkSuffix(app, record.pagesTransferred));
  if (app.LastFilingFailed())
    std::fprintf(stderr, "vexo answer: warning: the fax was kept in %s but could not be filed\n",
                 file.empty() ? "the data directory" : file.c_str());
}

}  // namespace

int RunAnswer(int argc, char** argv) {
  AnswerOptions options;
  CLI::App cli{
      "Answer every call, receive each fax and file it in the Inbox, until COUNT calls "
      "were taken or SIGINT/SIGTERM."};
  cli.add_option("--count", options.count, "the calls to take (else until a signal)")
      ->check(CLI::Range(1u, ~0u).description(""))
      ->type_name("N");
  cli.add_option("--rings", options.rings, "the rings before answering (1 to 20, default 1)")
      ->check(CLI::Range(1u, kMaxRings).description(""))
      ->type_name("N");
  AddJobOptions(cli, options.job);
  if (const auto code = ParseCommand(cli, argc, argv)) return *code;

  AppOper app(MakeAppOptions(options.job));
  if (!StartApp(app, options.job, "vexo answer")) return 2;
  app.SetRingsToAnswer(options.rings);
  const CancelOnSignal signals(app.Job());
  bool started = false;  // the modem has listened for rings once
  app.ListenForBorrowers(true);
  for (unsigned calls = 0; options.count == 0 || calls < options.count;) {
    PauseForOtherJobs(app, signals);
    if (signals.Signalled()) break;
    const int result = AnswerOneCall(app, signals);
    const bool gaveWay = (result == kJobWaitCancelled && app.WaitWasLent()) ||
                         (result == kJobWaitFailed && app.JobFoundHomeBusy());
    if (gaveWay && !signals.Signalled()) {
      // A send of another process has the modem: no outcome to show.
      FlushErrorPool(&app.SystemLog(), true);
      continue;
    }
    // Every outcome shows its reasons and empties the error pool.
    if (result == kJobWaitCancelled) {
      app.ShowOutcome(kReceiveJob, result, true);
      break;
    }
    started = started || app.Kernel().LastWaitListened();
    if (result == kJobWaitFailed) {
      app.ShowOutcome(kReceiveJob, result, true);
      if (!started) return 2;
      PauseUnlessSignalled(signals, kRetryPause);
      if (signals.Signalled()) break;
      continue;
    }
    ++calls;
    PrintCallOutcome(app, result);
    app.ShowOutcome(kReceiveJob, result, true);
    if (signals.Signalled()) break;
  }
  return 0;
}

}  // namespace vexo::cli
