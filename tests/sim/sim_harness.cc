#include "tests/sim/sim_harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "base/error_pool.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_for.h"

extern char** environ;

namespace vexo::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kStopGrace = std::chrono::seconds(5);
constexpr auto kStartTimeout = std::chrono::seconds(5);
constexpr auto kPollStep = std::chrono::milliseconds(20);

// Final result codes that end a command's answer.
constexpr std::string_view kFinalResults[] = {"OK\r\n",         "ERROR\r\n", "CONNECT\r\n",
                                              "NO CARRIER\r\n", "BUSY\r\n",  "NO ANSWER\r\n",
                                              "NO DIALTONE\r\n"};

// Starts argv[0] with the file actions, which it then destroys; the pid, or -1.
pid_t Spawn(const std::vector<std::string>& argv, posix_spawn_file_actions_t& actions) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits for pid until deadline; the wait status, or nullopt if it still runs.
std::optional<int> WaitUntil(pid_t pid, Clock::time_point deadline) {
  int status = 0;
  pid_t r = 0;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (!WaitFor([&] { return (r = ::waitpid(pid, &status, WNOHANG)) != 0; }, left, kPollStep) ||
      r != pid)
    return std::nullopt;
  return status;
}

void EndProcess(pid_t pid) {
  ::kill(pid, SIGTERM);
  if (!WaitUntil(pid, Clock::now() + kStopGrace)) {
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
  }
}

std::optional<int> ExitCode(std::optional<int> status) {
  if (!status || !WIFEXITED(*status)) return std::nullopt;
  return WEXITSTATUS(*status);
}

}  // namespace

struct TiffCloser {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

bool WriteFaxTiff(const std::filesystem::path& file, const std::vector<Bitmap>& pages, bool fine) {
  std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpen(file.c_str(), "w"));
  if (!tiff) return false;
  for (std::size_t n = 0; n < pages.size(); ++n) {
    TIFF* t = tiff.get();
    const Bitmap& page = pages[n];
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, page.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, page.rows);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, page.rows);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 204.0f);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, fine ? 196.0f : 98.0f);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t, TIFFTAG_SOFTWARE, "VEXO");
    TIFFSetField(t, TIFFTAG_PAGENUMBER, static_cast<int>(n), static_cast<int>(pages.size()));
    const int stride = page.width / 8;
    for (int row = 0; row < page.rows; ++row) {
      auto* bits = const_cast<std::uint8_t*>(page.bits.data() + row * stride);
      if (TIFFWriteScanline(t, bits, static_cast<std::uint32_t>(row), 0) < 0) return false;
    }
    if (!TIFFWriteDirectory(t)) return false;
  }
  return true;
}

std::vector<std::string> Commands(const std::string& trace) {
  std::vector<std::string> commands;
  const std::string mark = "modem 1 < ";
  for (auto at = trace.find(mark); at != std::string::npos; at = trace.find(mark, at + 1)) {
    const auto from = at + mark.size();
    commands.push_back(trace.substr(from, trace.find('\n', from) - from));
  }
  return commands;
}

int IndexOf(const std::vector<std::string>& commands, const std::string& prefix, int from) {
  for (std::size_t i = static_cast<std::size_t>(from); i < commands.size(); ++i)
    if (commands[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
  return -1;
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::string ReportJson(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string json;
  std::getline(in, json);
  return json;
}

bool Class1Station::Open(const std::string& pty, const std::string& dataPty) {
  port.SetBaudRate(115200);
  const bool phone = !dataPty.empty();
  port.SetOptions(phone ? PortOptions{"", pty, dataPty, false} : PortOptions{pty, "", "", false});
  if (port.OpenComPort(nullptr, phone ? "" : "COM1:", 0, "", phone) != 1) return false;
  fax.Attach(&port);
  return port.WriteCommand("AT+FCLASS=1", 0) == 1 && fax.MatchOKResult(kWaitOkMs, true) == 1;
}

Class1Station::~Class1Station() {
  fax.HangupModem();
  port.CloseComPort(false);
}

bool OpenSimKernel(FaxKernel& kernel, JobControl& job, const std::string& pty,
                   const std::string& logDir, std::uint32_t jobKind) {
  kernel.SetPortOptions({pty, "", "", false});
  kernel.SetBaudRate(115200);
  if (kernel.InitKernel(nullptr, logDir, &job) != 1) return false;
  job.StartJob(jobKind);
  return kernel.OpenPort(1, nullptr, "", false) == 1;
}

std::vector<std::filesystem::path> EfixPages(const std::filesystem::path& dir,
                                             const std::vector<Bitmap>& pages) {
  std::vector<std::filesystem::path> files;
  for (std::size_t n = 1; n <= pages.size(); ++n) {
    const auto name = dir / ("page" + std::to_string(n));
    const auto pbm = name.string() + ".pbm";
    EXPECT_TRUE(WritePbm(pbm, pages[n - 1]));
    ChildProcess efix({"/usr/bin/efix", "-i", "pbm", "-o", "tiffg3", "-R", "204x196", "-r",
                       "204x196", "-n", name.string() + ".%03d", pbm},
                      dir / "efix.log");
    EXPECT_EQ(efix.Wait(std::chrono::seconds(20)), 0) << efix.Log();
    files.push_back(name.string() + ".001");
  }
  return files;
}

bool KernelCall::Open(std::vector<std::string> options, std::uint32_t jobKind) {
  options.insert(options.end(), {"--far-id", kSimFarId, "--far-receive",
                                 (dir.path() / "rx").string(), "--verbose"});
  sim = std::make_unique<Linesim>(options);
  return !sim->Pty(1).empty() && OpenSimKernel(kernel, job, sim->Pty(1), dir.dir(), jobKind);
}

void KernelCall::End() {
  kernel.ClosePort(false);
  job.EndJob();
}

int KernelCall::Send(const std::vector<Bitmap>& pages, bool fine, std::uint32_t* resume) {
  const auto file = dir.path() / "out.tif";
  EXPECT_TRUE(WriteFaxTiff(file, pages, fine));
  std::uint32_t start = resume ? *resume : 0;
  const std::vector<std::string> files = {file.string()};
  const int sent = kernel.SendFax(files, "5551234", kSimLocalId, &start, &result);
  if (resume) *resume = start;
  return sent;
}

std::string KernelCall::Report() { return sim->Report(std::chrono::seconds(20)); }

std::vector<Bitmap> EfaxReceived(const std::filesystem::path& dir) {
  std::vector<Bitmap> pages;
  for (int n = 1; std::filesystem::exists(dir / ("in.00" + std::to_string(n))); ++n) {
    auto more = ReadTiffPages(dir / ("in.00" + std::to_string(n)));
    EXPECT_EQ(more.size(), 1u) << "in.00" << n;
    pages.insert(pages.end(), more.begin(), more.end());
  }
  return pages;
}

std::string LinesimPath() { return VEXO_LINESIM_PATH; }

bool HaveEfax() { return ::access("/usr/bin/efax", X_OK) == 0; }

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& log,
                           const std::filesystem::path& workDir)
    : m_log(log) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  m_pid = Spawn(argv, actions);
}

ChildProcess::~ChildProcess() { Stop(); }

void ChildProcess::Stop() {
  if (m_pid > 0) EndProcess(m_pid);
  m_pid = -1;
}

std::optional<int> ChildProcess::Wait(std::chrono::seconds timeout) {
  if (m_pid <= 0) return std::nullopt;
  const auto status = WaitUntil(m_pid, Clock::now() + timeout);
  if (status) m_pid = -1;
  Stop();  // still running: ended
  return ExitCode(status);
}

std::string ChildProcess::Log() const { return ReadFileBytes(m_log); }

Linesim::Linesim(const std::vector<std::string>& options) {
  std::array<int, 2> pipeFds{};
  if (::pipe2(pipeFds.data(), O_CLOEXEC) != 0) return;
  // VEXO_LINESIM_LOG=DIR keeps a verbose simulator log per run in DIR, for
  // finding out why a call failed.
  const char* logDir = std::getenv("VEXO_LINESIM_LOG");
  std::string stderrPattern =
      (logDir != nullptr ? std::filesystem::path(logDir) : std::filesystem::temp_directory_path()) /
      "vexo-linesim-err-XXXXXX";
  const int errFd = ::mkstemp(stderrPattern.data());
  if (logDir == nullptr) m_stderr = stderrPattern;
  m_stderrPath = stderrPattern;
  std::vector<std::string> argv = {LinesimPath()};
  argv.insert(argv.end(), options.begin(), options.end());
  if (logDir != nullptr) argv.push_back("--verbose");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  if (errFd >= 0) posix_spawn_file_actions_adddup2(&actions, errFd, 2);
  m_pid = Spawn(argv, actions);
  ::close(pipeFds[1]);
  if (errFd >= 0) ::close(errFd);
  m_stdout = pipeFds[0];
  if (m_pid <= 0) return;
  // The simulator prints "modem N PATH" for each pty (and "data N PATH" for
  // the data pty of a two-port phone modem) before anything else.
  const auto deadline = Clock::now() + kStartTimeout;
  const std::size_t modems =
      std::find(options.begin(), options.end(), "modem") != options.end() ? 2 : 1;
  const bool twoPorts =
      std::find(options.begin(), options.end(), "--phone-two-ports") != options.end();
  while ((m_ptys.size() < modems || (twoPorts && m_dataPtys.size() < modems)) &&
         Clock::now() < deadline) {
    auto line = ReadLine(std::chrono::milliseconds(500));
    if (!line || !(line->starts_with("modem ") || line->starts_with("data "))) continue;
    const auto space = line->find(' ', line->find(' ') + 1);
    if (space == std::string::npos) continue;
    (line->starts_with("data ") ? m_dataPtys : m_ptys).push_back(line->substr(space + 1));
  }
}

Linesim::~Linesim() {
  if (m_pid > 0) EndProcess(m_pid);
  if (m_stdout >= 0) ::close(m_stdout);
  std::error_code ec;
  std::filesystem::remove(m_stderr, ec);
}

std::string Linesim::Pty(int n) const {
  return n >= 1 && static_cast<std::size_t>(n) <= m_ptys.size() ? m_ptys[n - 1] : "";
}

std::string Linesim::DataPty(int n) const {
  return n >= 1 && static_cast<std::size_t>(n) <= m_dataPtys.size() ? m_dataPtys[n - 1] : "";
}

bool Linesim::running() const {
  if (m_pid <= 0) return false;
  int status = 0;
  return ::waitpid(m_pid, &status, WNOHANG) == 0;
}

std::string Linesim::Stderr() const { return ReadFileBytes(m_stderrPath); }

std::optional<std::string> Linesim::ReadLine(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (true) {
    const auto newline = m_buffered.find('\n');
    if (newline != std::string::npos) {
      std::string line = m_buffered.substr(0, newline);
      m_buffered.erase(0, newline + 1);
      return line;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || m_stdout < 0) return std::nullopt;
    pollfd p{m_stdout, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
    char buffer[512];
    const ssize_t n = ::read(m_stdout, buffer, sizeof buffer);
    if (n <= 0) return std::nullopt;
    m_buffered.append(buffer, static_cast<std::size_t>(n));
  }
}

std::string Linesim::Report(std::chrono::seconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    auto line =
        ReadLine(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
    if (!line) break;
    if (line->starts_with("call ")) return *line;
  }
  return "no report: " + Stderr();
}

std::optional<int> Linesim::Stop(std::chrono::seconds timeout) {
  if (m_pid <= 0) return std::nullopt;
  ::kill(m_pid, SIGTERM);
  const auto status = WaitUntil(m_pid, Clock::now() + timeout);
  if (status) m_pid = -1;
  return ExitCode(status);
}

PtyClient::PtyClient(const std::string& path) {
  m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_fd < 0) return;
  termios tio{};
  ::tcgetattr(m_fd, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(m_fd, TCSANOW, &tio);
}

PtyClient::~PtyClient() {
  if (m_fd >= 0) ::close(m_fd);
}

std::string PtyClient::Command(const std::string& command, std::chrono::milliseconds timeout) {
  const std::string line = command + "\r";
  if (::write(m_fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return {};
  return ReadUntil(timeout, [](const std::string& answer) {
    return std::any_of(std::begin(kFinalResults), std::end(kFinalResults),
                       [&](std::string_view final) { return answer.ends_with(final); });
  });
}

std::string PtyClient::ReadFor(std::chrono::milliseconds duration) {
  return ReadUntil(duration, [](const std::string&) { return false; });
}

std::string PtyClient::ReadUntil(std::chrono::milliseconds timeout,
                                 const std::function<bool(const std::string&)>& done) {
  std::string out;
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline && !done(out)) {
    pollfd p{m_fd, POLLIN, 0};
    char buffer[256];
    if (::poll(&p, 1, 50) <= 0) continue;
    const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
    if (n > 0) out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

}  // namespace vexo::test
