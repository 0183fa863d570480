#include "cli/fax_call.h"

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "app/base/error_pool.h"

namespace vexo::cli {
namespace {

constexpr long kSignalPollNs = 200'000'000;
constexpr unsigned long kMaxBaud = 4'000'000;

sigset_t CancelSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

bool TakeCallOption(int argc, char** argv, int& i, CallOptions& options, std::string& error) {
  const std::string_view name = argv[i];
  if (name == "--no-comm-log") {
    options.commLog = false;
    return true;
  }
  const bool known = name == "--device" || name == "--class" || name == "--baud" ||
                     name == "--log" || name == "--id";
  if (!known) return false;
  if (i + 1 >= argc) {
    error = std::string(name) + " needs a value";
    return false;
  }
  const std::string value = argv[++i];
  if (name == "--device") {
    options.device = value;
  } else if (name == "--class") {
    if (value == "1") options.forcedClass = kFaxClass1;
    else if (value == "2") options.forcedClass = kFaxClass2;
    else if (value == "2.0") options.forcedClass = kFaxClass20;
    else if (value == "auto") options.forcedClass = kFaxClassAuto;
    else error = "--class takes 1, 2, 2.0 or auto";
  } else if (name == "--baud") {
    char* end = nullptr;
    const unsigned long baud = std::strtoul(value.c_str(), &end, 10);
    if (end == value.c_str() || *end != 0 || baud == 0 || baud > kMaxBaud)
      error = "--baud takes a line speed";
    else
      options.baud = static_cast<std::uint32_t>(baud);
  } else if (name == "--log") {
    options.logDirectory = value;
    if (value.empty()) error = "--log takes a directory";
    else if (options.logDirectory.back() != '/') options.logDirectory += '/';
  } else {
    options.localId = value;
  }
  return error.empty();
}

TerminalStatus::TerminalStatus(JobControl& job) : m_job(job) { m_job.SetObserver(this); }

TerminalStatus::~TerminalStatus() { m_job.SetObserver(nullptr); }

void TerminalStatus::JobStatusChanged() {
  const JobStatus status = m_job.Status();
  if (!status.text.empty() && status.text != m_lastText) {
    m_lastText = status.text;
    std::printf("%s\n", status.text.c_str());
  }
  if (status.progressVisible && (status.total != m_lastPage || status.secondTotal != m_lastCount)) {
    m_lastPage = status.total;
    m_lastCount = status.secondTotal;
    if (status.secondTotal != 0)
      std::printf("[page %u of %u]\n", status.total, status.secondTotal);
    else
      std::printf("[page %u]\n", status.total);
  }
  std::fflush(stdout);
}

CancelOnSignal::CancelOnSignal(JobControl& job) {
  const sigset_t set = CancelSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  m_thread = std::thread([this, &job, set] {
    const timespec poll{0, kSignalPollNs};
    while (!m_done) {
      if (sigtimedwait(&set, nullptr, &poll) > 0) {
        std::fputs("vexo: cancelling the call\n", stderr);
        job.Cancel();
      }
    }
  });
}

CancelOnSignal::~CancelOnSignal() {
  m_done = true;
  m_thread.join();
  const sigset_t set = CancelSignals();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

bool OpenKernel(FaxKernel& kernel, JobControl& job, const CallOptions& options) {
  kernel.SetPortOptions({options.device, "", "", false});
  kernel.SetBaudRate(options.baud);
  if (!kernel.InitKernel(nullptr, options.logDirectory, &job)) {
    std::fprintf(stderr, "vexo: cannot create %sVexoCommLog.log\n", options.logDirectory.c_str());
    return false;
  }
  kernel.ApplyKernelSettings(options.forcedClass, options.commLog ? 1 : 0,
                             kApplyForcedClass | kApplyCommLog);
  return kernel.OpenPort(1, nullptr, "", 0) == 1;
}

int ExitCodeOf(int kernelResult) {
  if (kernelResult == 0) return 0;
  if (kernelResult == 1) return 1;
  return 2;
}

}  // namespace vexo::cli
