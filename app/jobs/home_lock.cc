#include "app/jobs/home_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vexo {

HomeJobLock::HomeJobLock(const std::string& homeDirectory) : m_path(homeDirectory) {
  if (!m_path.empty() && m_path.back() != '/') m_path += '/';
  m_path += kJobLockFileName;
  TryAgain();
}

HomeJobLock::~HomeJobLock() {
  if (m_fd >= 0) ::close(m_fd);  // closing releases the flock
}

bool HomeJobLock::TryAgain() {
  if (m_fd >= 0) return true;
  const int fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  m_fd = fd;
  return true;
}

bool HomeJobLockBusy(const std::string& homeDirectory) {
  return !HomeJobLock(homeDirectory).Held();
}

}  // namespace vexo
