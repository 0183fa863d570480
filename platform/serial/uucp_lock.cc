#include "platform/serial/uucp_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace vexo {
namespace {

constexpr int kTries = 3;

// "ttyUSB0" for /dev/ttyUSB0, "pts_3" for /dev/pts/3.
std::string LockName(const std::string& devicePath) {
  std::error_code error;
  std::string path = std::filesystem::weakly_canonical(devicePath, error).string();
  if (error || path.empty()) path = devicePath;
  if (path.starts_with("/dev/")) path.erase(0, 5);
  for (char& c : path)
    if (c == '/') c = '_';
  return "LCK.." + path;
}

// The process id the file names, or 0 when it names none.
pid_t OwnerOf(const std::string& path) {
  std::ifstream in(path);
  long pid = 0;
  if (!(in >> pid) || pid <= 0) return 0;
  return static_cast<pid_t>(pid);
}

bool Running(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

}  // namespace

UucpLock::UucpLock(const std::string& devicePath, std::string lockDir)
    : m_path(std::move(lockDir) + "/" + LockName(devicePath)) {}

UucpLock::~UucpLock() {
  if (m_owned) ::unlink(m_path.c_str());
}

bool UucpLock::TryCreate() {
  const int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  char text[16];
  const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
  const bool written = ::write(fd, text, static_cast<size_t>(length)) == length;
  ::close(fd);
  if (!written) {
    ::unlink(m_path.c_str());
    return false;
  }
  m_owned = true;
  return true;
}

bool UucpLock::Acquire() {
  if (m_owned) return true;
  for (int attempt = 0; attempt < kTries; ++attempt) {
    if (TryCreate()) return true;
    if (errno != EEXIST) return true;  // no lock directory we may write into
    const pid_t owner = OwnerOf(m_path);
    if (owner == ::getpid()) return true;  // our own process holds it already
    if (owner != 0 && Running(owner)) return false;
    ::unlink(m_path.c_str());  // stale: its process is gone
  }
  return false;
}

}  // namespace vexo
