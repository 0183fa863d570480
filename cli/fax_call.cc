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

void AddJobOptions(CLI::App& app, JobOptions& options) {
  static constexpr Choice kClasses[] = {
      {"1", kFaxClass1}, {"2", kFaxClass2}, {"2.0", kFaxClass20}, {"auto", kFaxClassAuto}};
  static constexpr Choice kEcm[] = {{"on", 1}, {"off", 0}};
  static constexpr Choice kCodings[] = {{"mh", 0}, {"mr", 1}, {"mmr", 2}};
  AddHome(app, options.home);
  app.add_option("--device", options.device,
                 "the serial device of the modem for this run (the settings keep their own)")
      ->type_name("PATH");
  AddChoice(app, "--class", options.forcedClass, kClasses, "the fax class to use for this run");
  app.add_option("--baud", options.baud, "the line speed of the serial port for this run")
      ->check(CLI::Range(1ul, kMaxBaud).description(""))
      ->type_name("N");
  app.add_option("--id", options.localId, "the station id sent to the far end for this run")
      ->type_name("LOCALID");
  AddChoice(app, "--ecm", options.ecm, kEcm, "error correction mode for this run");
  AddChoice(app, "--coding", options.coding, kCodings, "the page coding offered for this run");
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
    m_progress.Clear();
    std::printf("%s\n", status.text.c_str());
  }
  if (status.progressVisible && (status.total != m_lastPage || status.secondTotal != m_lastCount)) {
    m_lastPage = status.total;
    m_lastCount = status.secondTotal;
    const std::string page = status.secondTotal != 0
                                 ? "[page " + std::to_string(status.total) + " of " +
                                       std::to_string(status.secondTotal) + "]"
                                 : "[page " + std::to_string(status.total) + "]";
    if (m_progress.OnTerminal())
      m_progress.Show(page);
    else
      std::printf("%s\n", page.c_str());
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
