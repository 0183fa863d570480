// Running the line simulator and fax programs from the sim tests: a child
// process with its output captured and a bounded wait, the simulator itself
// (its ptys and report lines), and a plain pty client for AT conversations.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/job_control.h"
#include "kernel/fax_kernel.h"
#include "modem/win_com_ce.h"
#include "protocol/class1_func.h"
#include "tests/sim/test_pages.h"
#include "tests/support/error_records.h"
#include "tests/support/temp_dir.h"

namespace vexo::test {

// The station ids of our end and of the simulator's far end.
inline constexpr const char* kSimLocalId = "+1 555 0100";
inline constexpr const char* kSimFarId = "+1 555 9999";
// How long our receiving end waits for the first ring.
inline constexpr std::uint32_t kRingWaitMs = 30000;
// efax puts a band of this many rows above every page it sends, blank with -h "".
inline constexpr int kEfaxHeaderRows = 20;

// A program started with stdout and stderr going to one log file. The
// destructor ends it (SIGTERM, then SIGKILL) if it still runs.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& log,
               const std::filesystem::path& workDir = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits up to timeout; the exit status, or nullopt if it still runs (it is
  // then ended) or died by a signal.
  std::optional<int> Wait(std::chrono::seconds timeout);
  std::string Log() const;
  pid_t pid() const { return m_pid; }

 private:
  void Stop();
  pid_t m_pid = -1;
  std::filesystem::path m_log;
};

// vexo-linesim with the given options, its ptys known once it has started.
class Linesim {
 public:
  explicit Linesim(const std::vector<std::string>& options);
  ~Linesim();
  Linesim(const Linesim&) = delete;
  Linesim& operator=(const Linesim&) = delete;

  // The pty of modem n (from 1); empty when the simulator did not start.
  std::string Pty(int n) const;
  // The data pty of modem n with --phone-two-ports; empty without.
  std::string DataPty(int n) const;
  // Waits for the next call report line on stdout ("call N ..."); without one
  // within timeout, "no report: " and the simulator's stderr.
  std::string Report(std::chrono::seconds timeout);
  // Stops it with SIGTERM and returns its exit status.
  std::optional<int> Stop(std::chrono::seconds timeout);
  bool running() const;
  std::string Stderr() const;

 private:
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
  pid_t m_pid = -1;
  int m_stdout = -1;
  std::string m_buffered;
  std::vector<std::string> m_ptys;
  std::vector<std::string> m_dataPtys;
  std::filesystem::path m_stderr;      // removed at the end; empty when kept
  std::filesystem::path m_stderrPath;  // where the simulator's stderr goes
};

// The program side of a modem's pty, for talking AT to it directly.
class PtyClient {
 public:
  explicit PtyClient(const std::string& path);
  ~PtyClient();
  PtyClient(const PtyClient&) = delete;
  PtyClient& operator=(const PtyClient&) = delete;

  bool ok() const { return m_fd >= 0; }
  // Sends the command and a CR, returns all bytes up to and including the
  // final result (OK, ERROR, CONNECT, BUSY, ...), or what came before timeout.
  std::string Command(const std::string& command,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
  // Collects what the modem sends within the given time.
  std::string ReadFor(std::chrono::milliseconds duration);

 private:
  // What arrives until done(what arrived) holds or timeout passes.
  std::string ReadUntil(std::chrono::milliseconds timeout,
                        const std::function<bool(const std::string&)>& done);
  int m_fd = -1;
};

// A fax TIFF file as this system writes them: Group 3, 1728 wide, one strip
// per page, fine (196 lines per inch) or normal, marked with our Software tag.
bool WriteFaxTiff(const std::filesystem::path& file, const std::vector<Bitmap>& pages,
                  bool fine = true);
// The command lines the program wrote to modem 1, in order, from the
// simulator's --verbose trace.
std::vector<std::string> Commands(const std::string& trace);
// Index of the first command that starts with prefix at or after from; -1 when none.
int IndexOf(const std::vector<std::string>& commands, const std::string& prefix, int from = 0);

// The words of text, split at spaces: simulator options written as one string.
std::vector<std::string> Words(const std::string& text);

// The first line of a --report file.
std::string ReportJson(const std::filesystem::path& file);

// Our serial port object and Class 1 protocol on a simulator pty, the modem
// switched to Class 1; hung up and closed at the end. With a data pty, the
// two ports of a phone modem.
struct Class1Station {
  WinCOMCE port;
  FClass1Func fax;
  FaxResult result;

  bool Open(const std::string& pty, const std::string& dataPty = "");
  ~Class1Station();
};

// Opens kernel on pty with its logs in logDir and starts a job of jobKind on
// job; whether the port opened.
bool OpenSimKernel(FaxKernel& kernel, JobControl& job, const std::string& pty,
                   const std::string& logDir, std::uint32_t jobKind);

// Codes each page into a G3 TIFF file of its own with efix (efax's converter).
std::vector<std::filesystem::path> EfixPages(const std::filesystem::path& dir,
                                             const std::vector<Bitmap>& pages);

// A fax kernel on the first modem of a simulator of its own, for the calls of
// one test; the port is closed and the job ended at the end.
class KernelCall {
 public:
  ~KernelCall() { End(); }
  // Starts the simulator with options, the far end's id, the far end keeping
  // its pages in dir/rx and a verbose trace, and opens the kernel on it.
  bool Open(std::vector<std::string> options, std::uint32_t jobKind);
  void End();
  // Sends the pages as one fax file from resume (0 when null); SendFax's result.
  int Send(const std::vector<Bitmap>& pages, bool fine = true, std::uint32_t* resume = nullptr);
  // The far end's report line of the call, or why there is none.
  std::string Report();
  std::vector<std::string> Trace() const { return Commands(sim->Stderr()); }

  TempDir dir;
  JobControl job;
  FaxKernel kernel;
  FaxResult result;
  std::unique_ptr<Linesim> sim;
};

// The pages efax received into dir (in.001, in.002, ..., one page each), in order.
std::vector<Bitmap> EfaxReceived(const std::filesystem::path& dir);

std::string LinesimPath();
// Whether efax is installed (it is an independent peer, not part of the build).
bool HaveEfax();

}  // namespace vexo::test
