// Running the line simulator and fax programs from the sim tests: a child
// process with its output captured and a bounded wait, the simulator itself
// (its ptys and report lines), and a plain pty client for AT conversations.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/sim/test_pages.h"

namespace vexo::test {

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
  // Waits for the next call report line on stdout ("call N ...").
  std::optional<std::string> WaitForReport(std::chrono::seconds timeout);
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
  int m_fd = -1;
};

// A fax TIFF file as this system writes them: Group 3, 1728 wide, one strip
// per page, fine (196 lines per inch) or normal, marked with our Software tag.
bool WriteFaxTiff(const std::filesystem::path& file, const std::vector<Bitmap>& pages,
                  bool fine = true);
// Takes every message out of the error pool, oldest first.
std::vector<std::string> PoolMessages();
// The command lines the program wrote to modem 1, in order, from the
// simulator's --verbose trace.
std::vector<std::string> Commands(const std::string& trace);
// Index of the first command that starts with prefix at or after from; -1 when none.
int IndexOf(const std::vector<std::string>& commands, const std::string& prefix, int from = 0);

std::string LinesimPath();
// Whether efax is installed (it is an independent peer, not part of the build).
bool HaveEfax();

}  // namespace vexo::test
