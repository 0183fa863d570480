// vexofax, the CUPS backend of the print queue "Fax". CUPS runs it as root
// (its file is mode 0700) with argv: job-id user title copies options [file];
// without a file the document (PDF, as the queue's PPD asks CUPS for) comes on
// stdin. It copies the document, up to a size cap, into a private folder given
// to the printing user, then runs the installed `vexo queue add` as that user
// (their groups, uid, gid and HOME) with the job's fax-number and fax-name
// options, so the fax lands in that user's outbox; a job without a number is
// queued held for one, which the user's vexofax asks for. Nothing of the job
// (title, options) ever names a path. Run without arguments, it names its device for
// `lpinfo -v`. Messages go to stderr with the prefixes CUPS reads.
#include <cups/backend.h>
#include <cups/cups.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxDocumentBytes = 64u << 20;
constexpr std::string_view kPdfMagic = "%PDF-";
constexpr std::size_t kMaxNumberLength = 40;
constexpr std::size_t kMaxNameLength = 200;
constexpr const char* kUserPath = "/usr/local/bin:/usr/bin:/bin";
constexpr const char* kTempPattern = "/tmp/vexofax-XXXXXX";
constexpr const char* kDocumentName = "document.pdf";
// argv positions CUPS passes.
enum Arg { kJobId = 1, kUser, kTitle, kCopies, kOptions, kFile, kArgsWithFile };

void Message(const char* level, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", level, text.c_str());
}

class Fd {
 public:
  explicit Fd(int fd) : m_fd(fd) {}
  ~Fd() {
    if (m_fd >= 0) close(m_fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return m_fd; }

 private:
  int m_fd;
};

// A folder of its own under /tmp, removed with what it holds.
class PrivateDir {
 public:
  PrivateDir() {
    std::array<char, 32> pattern{};
    std::strncpy(pattern.data(), kTempPattern, pattern.size() - 1);
    if (mkdtemp(pattern.data())) m_path = pattern.data();
  }
  ~PrivateDir() {
    std::error_code ec;
    if (!m_path.empty()) fs::remove_all(m_path, ec);
  }
  PrivateDir(const PrivateDir&) = delete;
  PrivateDir& operator=(const PrivateDir&) = delete;
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

// The job's fax options, parsed by libcups.
class JobOptions {
 public:
  explicit JobOptions(const char* text) : m_count(cupsParseOptions(text, 0, &m_options)) {}
  ~JobOptions() { cupsFreeOptions(m_count, m_options); }
  JobOptions(const JobOptions&) = delete;
  JobOptions& operator=(const JobOptions&) = delete;
  std::string Get(const char* name) const {
    const char* value = cupsGetOption(name, m_count, m_options);
    return value ? value : "";
  }

 private:
  cups_option_t* m_options = nullptr;  // before m_count: set by its initialiser
  int m_count;
};

// A dialable number: digits and the signs a dial string may hold.
bool IsDialable(const std::string& number) {
  if (number.empty() || number.size() > kMaxNumberLength) return false;
  for (const char c : number)
    if (!std::strchr("0123456789+-*#,() ", c)) return false;
  return true;
}

bool HasControlCharacters(const std::string& text) {
  for (const unsigned char c : text)
    if (c < 0x20 || c == 0x7f) return true;
  return false;
}

// Copies fd into path (created exclusively, mode 0600); an error text, or
// empty when the whole document, a PDF within the cap, is there.
std::string CopyDocument(int input, const std::string& path) {
  const Fd output(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (output.Get() < 0) return "The document could not be stored: " + std::string(strerror(errno));
  std::array<char, 65536> buffer{};
  std::size_t total = 0;
  std::string head;
  for (;;) {
    const ssize_t got = read(input, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return "The document could not be read: " + std::string(strerror(errno));
    if (got == 0) break;
    total += static_cast<std::size_t>(got);
    if (total > kMaxDocumentBytes) return "The document is larger than 64 MB.";
    if (head.size() < kPdfMagic.size()) head.append(buffer.data(), static_cast<std::size_t>(got));
    if (write(output.Get(), buffer.data(), static_cast<std::size_t>(got)) != got)
      return "The document could not be stored: " + std::string(strerror(errno));
  }
  if (!head.starts_with(kPdfMagic)) return "The document is not a PDF file.";
  return {};
}

// The installed vexo: $VEXO_CLI (set by the server's configuration), else
// <prefix>/bin/vexo for the backend in <prefix>/lib/cups/backend, else /usr/bin/vexo.
std::string VexoPath() {
  if (const char* configured = std::getenv("VEXO_CLI"); configured && *configured)
    return configured;
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  const fs::path besides =
      self.parent_path().parent_path().parent_path().parent_path() / "bin/vexo";
  if (!ec && access(besides.c_str(), X_OK) == 0) return besides.string();
  return "/usr/bin/vexo";
}

// In the child: becomes the user for good; false when any step fails.
bool BecomeUser(const passwd& user) {
  if (initgroups(user.pw_name, user.pw_gid) != 0 || setgid(user.pw_gid) != 0 ||
      setuid(user.pw_uid) != 0)
    return false;
  return getuid() == user.pw_uid && geteuid() == user.pw_uid && getgid() == user.pw_gid &&
         setuid(0) != 0;
}

// The exit code of the child that could not start vexo.
constexpr int kNotRun = 127;

// Runs `vexo queue add` as the user; its exit code, -1 when it did not run.
int QueueAsUser(const passwd& user, const std::string& file, const std::string& number,
                const std::string& name) {
  const std::string vexo = VexoPath();
  // "--name=NAME": a name that looks like an option stays the name.
  std::vector<std::string> args = {vexo, "queue", "add", file};
  if (!number.empty()) args.push_back("--to=" + number);
  if (!name.empty()) args.push_back("--name=" + name);
  const std::vector<std::string> env = {
      std::string("HOME=") + user.pw_dir, std::string("USER=") + user.pw_name,
      std::string("LOGNAME=") + user.pw_name, std::string("PATH=") + kUserPath};
  const pid_t child = fork();
  if (child == 0) {
    // CUPS reads stderr; vexo's stdout lines go there too, as debug lines.
    dup2(STDERR_FILENO, STDOUT_FILENO);
    if (!BecomeUser(user) || chdir(user.pw_dir) != 0) {
      Message("ERROR", "Could not act as the printing user.");
      _exit(126);
    }
    std::vector<char*> argv, envp;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    for (const std::string& var : env) envp.push_back(const_cast<char*>(var.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    execve(vexo.c_str(), argv.data(), envp.data());
    Message("ERROR", "Could not run " + vexo + ": " + strerror(errno));
    _exit(kNotRun);
  }
  int status = 0;
  if (child < 0) return -1;
  while (waitpid(child, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The printing user: a known user other than root.
std::optional<passwd> PrintingUser(const char* name) {
  const passwd* user = getpwnam(name);
  if (!user || user->pw_uid == 0 || !user->pw_dir || user->pw_dir[0] != '/') return std::nullopt;
  return *user;
}

int Backend(char** argv, int argc) {
  const auto user = PrintingUser(argv[kUser]);
  if (!user) {
    Message("ERROR", std::string("Fax jobs of user \"") + argv[kUser] + "\" cannot be taken.");
    return CUPS_BACKEND_FAILED;
  }
  const JobOptions options(argv[kOptions]);
  const std::string number = options.Get("fax-number");
  const std::string name = options.Get("fax-name");
  // Without a number the fax is queued held for one.
  if ((!number.empty() && !IsDialable(number)) || name.size() > kMaxNameLength ||
      HasControlCharacters(name)) {
    Message("ERROR", "The fax number or name is not valid.");
    return CUPS_BACKEND_CANCEL;
  }
  const PrivateDir dir;
  if (dir.Path().empty()) {
    Message("ERROR", "No temporary folder for the document.");
    return CUPS_BACKEND_FAILED;
  }
  const std::string file = dir.Path() + "/" + kDocumentName;
  const Fd input(argc == kArgsWithFile ? open(argv[kFile], O_RDONLY | O_CLOEXEC)
                                       : fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0));
  const std::string refused =
      input.Get() < 0 ? "The document cannot be opened." : CopyDocument(input.Get(), file);
  if (!refused.empty()) {
    Message("ERROR", refused);
    return CUPS_BACKEND_CANCEL;
  }
  if (chown(dir.Path().c_str(), user->pw_uid, user->pw_gid) != 0 ||
      chown(file.c_str(), user->pw_uid, user->pw_gid) != 0) {
    Message("ERROR", "The document could not be given to the printing user.");
    return CUPS_BACKEND_FAILED;
  }
  Message("INFO", number.empty() ? "Queueing the fax" : "Queueing the fax to " + number);
  const int code = QueueAsUser(*user, file, number, name);
  // vexo could not be started (being upgraded, say): the job and its document
  // stay with CUPS, which tries again later.
  if (code == kNotRun || code < 0) {
    Message("ERROR", "Vexo Fax could not be started; the fax is tried again later.");
    return CUPS_BACKEND_RETRY;
  }
  if (code != 0) {
    Message("ERROR", "Vexo Fax could not queue the fax (exit code " + std::to_string(code) + ").");
    return CUPS_BACKEND_FAILED;
  }
  Message("INFO", number.empty() ? "Queued without a number: Vexo Fax will ask for one."
                                 : "The fax to " + number + " is queued.");
  return CUPS_BACKEND_OK;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 1) {
    std::puts("direct vexofax \"Vexo Fax\" \"Vexo Fax\"");
    return CUPS_BACKEND_OK;
  }
  if (argc != kOptions + 1 && argc != kArgsWithFile) {
    Message("ERROR", "Usage: vexofax job-id user title copies options [file]");
    return CUPS_BACKEND_FAILED;
  }
  return Backend(argv, argc);
}
