#include "cli/fax_call.h"

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "base/error_pool.h"
#include "platform/text.h"

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

bool TakeJobOption(int argc, char** argv, int& i, JobOptions& options, std::string& error) {
  const std::string_view name = argv[i];
  const bool known = name == "--home" || name == "--device" || name == "--class" ||
                     name == "--baud" || name == "--id" || name == "--ecm" || name == "--coding";
  if (!known) return false;
  if (i + 1 >= argc) {
    error = std::string(name) + " needs a value";
    return false;
  }
  const std::string value = argv[++i];
  if (name == "--home") {
    options.home = value;
  } else if (name == "--device") {
    options.device = value;
  } else if (name == "--class") {
    if (value == "1")
      options.forcedClass = kFaxClass1;
    else if (value == "2")
      options.forcedClass = kFaxClass2;
    else if (value == "2.0")
      options.forcedClass = kFaxClass20;
    else if (value == "auto")
      options.forcedClass = kFaxClassAuto;
    else
      error = "--class takes 1, 2, 2.0 or auto";
  } else if (name == "--baud") {
    char* end = nullptr;
    const unsigned long baud = std::strtoul(value.c_str(), &end, 10);
    if (end == value.c_str() || *end != 0 || baud == 0 || baud > kMaxBaud)
      error = "--baud takes a line speed";
    else
      options.baud = static_cast<std::uint32_t>(baud);
  } else if (name == "--ecm") {
    if (value == "on" || value == "off")
      options.ecm = value == "on" ? 1 : 0;
    else
      error = "--ecm takes on or off";
  } else if (name == "--coding") {
    if (value == "mh")
      options.coding = 0;
    else if (value == "mr")
      options.coding = 1;
    else if (value == "mmr")
      options.coding = 2;
    else
      error = "--coding takes mh, mr or mmr";
  } else {
    options.localId = value;
  }
  return error.empty();
}

AppOperOptions MakeAppOptions(const JobOptions& options) {
  AppOperOptions app;
  app.homeDirectory = options.home;
  app.deviceOverride = options.device;
  app.saveSettingsAtExit = false;
  app.askAppToRelist = true;
  return app;
}

bool StartApp(AppOper& app, const JobOptions& options, const char* command) {
  if (!app.Startup()) {
    ShowErrorPoolBoxes(command);
    return false;
  }
  AppSettings& settings = app.Settings();
  if (options.forcedClass) settings.ForceFaxClass = *options.forcedClass;
  if (options.baud) settings.InitBaudRate = *options.baud;
  if (options.localId) settings.LocalCSID = *options.localId;
  if (options.ecm) settings.FaxECM = *options.ecm;
  if (options.coding) settings.FaxCoding = *options.coding;
  if (options.forcedClass || options.baud || options.ecm || options.coding) app.ApplySettings();
  return true;
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
        m_signalled = true;
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

int RunTerminalJob(AppOper& app, std::uint32_t kind, const std::function<int()>& body) {
  TerminalStatus terminal(app.Job());
  if (!app.Job().StartJob(kind)) return -1;
  CancelOnSignal cancel(app.Job());
  if (body) {
    const int result = body();
    app.Job().EndJob();
    return result;
  }
  return app.RunJob(kind);  // ends the job itself
}

std::optional<std::string> FindCoverTemplate(const std::string& name, const std::string& coverDir) {
  namespace fs = std::filesystem;
  std::error_code error;
  for (const fs::path& candidate :
       {fs::path(name), fs::path(coverDir) / name, fs::path(coverDir) / (name + ".txt")})
    if (fs::is_regular_file(candidate, error)) return candidate.string();
  return std::nullopt;
}

std::string LinkSuffix(AppOper& app, std::uint32_t pages) {
  const std::optional<LinkCoding>& link = app.Kernel().LastLink();
  if (!link || pages == 0) return {};
  return " (" + LinkCodingText(*link) + ")";
}

void PrintReceiveOutcome(int result, const FaxResult& record, const std::string& file,
                         const std::string& link) {
  const std::string remote = Utf16ToUtf8(record.RemoteId());
  const char* outcome = result == 0                   ? "Received"
                        : result == 1                 ? "Partly received"
                        : result == kJobWaitCancelled ? "Cancelled"
                                                      : "Not received";
  std::printf("%s: %u page(s)", outcome, record.pagesTransferred);
  if (record.pagesTransferred != 0 && !file.empty()) std::printf(" in %s", file.c_str());
  if (!remote.empty()) std::printf(" from \"%s\"", remote.c_str());
  std::printf("%s\n", link.c_str());
  std::fflush(stdout);
}

int ExitCodeOf(int kernelResult) {
  if (kernelResult == 0) return 0;
  if (kernelResult == 1) return 1;
  return 2;
}

}  // namespace vexo::cli
