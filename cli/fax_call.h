// What vexo send and vexo receive share: their device and class options, the
// fax kernel set up on one serial device, the terminal that shows the job's
// status text and page progress, Ctrl-C as the cancel button, and the exit
// code of a kernel result (0 success, 1 partial success, 2 failure).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "app/base/job_control.h"
#include "protocol/fax_kernel.h"

namespace vexo::cli {

struct CallOptions {
  std::string device;
  std::uint32_t forcedClass = kFaxClassAuto;
  std::uint32_t baud = 19200;
  std::string logDirectory = "./";  // ends in "/"
  std::string localId = "Vexo_Application";
  bool commLog = true;
};

// Takes the option at argv[i] (and its value, advancing i) when it is one of
// --device, --class, --baud, --log, --id, --no-comm-log. False with error set
// for a bad value; false with error empty for an option it does not know.
bool TakeCallOption(int argc, char** argv, int& i, CallOptions& options, std::string& error);

// Prints every new status text and every new page count on stdout.
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
};

// While it lives, SIGINT and SIGTERM cancel the job instead of ending the
// program; a thread of its own waits for them.
class CancelOnSignal {
 public:
  explicit CancelOnSignal(JobControl& job);
  ~CancelOnSignal();
  CancelOnSignal(const CancelOnSignal&) = delete;
  CancelOnSignal& operator=(const CancelOnSignal&) = delete;

 private:
  std::atomic<bool> m_done{false};
  std::thread m_thread;
};

// Initialises the kernel with the options and opens the device; false (with
// the reason in the error pool or on stderr) when it cannot.
bool OpenKernel(FaxKernel& kernel, JobControl& job, const CallOptions& options);

// 0 for kernel result 0, 1 for 1, 2 for everything else.
int ExitCodeOf(int kernelResult);

}  // namespace vexo::cli
