// What vexo send and vexo receive share: their home, device and class
// options, the AppOper they run the job through, the terminal that shows the
// job's status text and page progress, Ctrl-C as the cancel button, and the
// exit code of a job result (0 success, 1 partial success, 2 failure).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "app/jobs/app_oper.h"
#include "base/job_control.h"
#include "cli/arg_parser.h"
#include "cli/progress_line.h"

namespace vexo::cli {

// The options every job command takes: --home DIR (else VEXO_HOME or the
// user's home), --device PATH (the serial device for this run; the settings
// file keeps its own), --class 1|2|2.0|auto, --baud N, --id LOCALID,
// --ecm on|off, --coding mh|mr|mmr.
struct JobOptions {
  std::string home;
  std::string device;
  std::optional<std::uint32_t> forcedClass;
  std::optional<std::uint32_t> baud;
  std::optional<std::string> localId;
  std::optional<std::uint32_t> ecm;     // FaxECM for this run
  std::optional<std::uint32_t> coding;  // FaxCoding for this run
};

// Adds the above options to a job command's parser.
void AddJobOptions(CLI::App& app, JobOptions& options);

// What a job command's AppOper starts with: the home, the device for this
// run, no settings written at exit, a running vexofax told to relist.
AppOperOptions MakeAppOptions(const JobOptions& options);

// Starts the AppOper and applies the run's class, speed, station id, ECM and
// coding (not saved). False, with the reasons shown, when start-up fails.
bool StartApp(AppOper& app, const JobOptions& options, const char* command);

// Prints every new status text and every new page count on stdout; on a
// terminal the page count is one line updated in place.
class TerminalStatus : public JobStatusObserver {
 public:
  explicit TerminalStatus(JobControl& job);
  ~TerminalStatus() override;
  TerminalStatus(const TerminalStatus&) = delete;
  TerminalStatus& operator=(const TerminalStatus&) = delete;
  void JobStatusChanged() override;

 private:
  JobControl& m_job;
  std::string m_lastText;
  std::uint32_t m_lastPage = 0;
  std::uint32_t m_lastCount = 0;
  ProgressLine m_progress;
};

// While it lives, SIGINT and SIGTERM cancel the job instead of ending the
// program; a thread of its own waits for them.
class CancelOnSignal {
 public:
  explicit CancelOnSignal(JobControl& job);
  ~CancelOnSignal();
  CancelOnSignal(const CancelOnSignal&) = delete;
  CancelOnSignal& operator=(const CancelOnSignal&) = delete;
  // Whether SIGINT or SIGTERM came while it lived.
  bool Signalled() const { return m_signalled; }

 private:
  std::atomic<bool> m_done{false};
  std::atomic<bool> m_signalled{false};
  std::thread m_thread;
};

// Runs the job of kind on this thread with the status on the terminal and
// Ctrl-C as Cancel; the job's result. body runs the job (default: RunJob).
int RunTerminalJob(AppOper& app, std::uint32_t kind, const std::function<int()>& body = {});

// A cover page template named by path, or by its name in the cover directory
// (".txt" may be left out).
std::optional<std::string> FindCoverTemplate(const std::string& name, const std::string& coverDir);

// The outcome line of a receive on stdout: "Received: 2 page(s) in FILE from
// "ID" (ECM, MMR)" and the like; file and link may be empty.
void PrintReceiveOutcome(int result, const FaxResult& record, const std::string& file,
                         const std::string& link);

// 0 for kernel result 0, 1 for 1, 2 for everything else.
int ExitCodeOf(int kernelResult);

// " (ECM, MMR)" and the like for the outcome line once pages went; else empty.
std::string LinkSuffix(AppOper& app, std::uint32_t pages);

}  // namespace vexo::cli
