#include "app/jobs/home_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vexo {

HomeJobLock::HomeJobLock(const std::string& homeDirectory) {
  std::string path = homeDirectory;
  if (!path.empty() && path.back() != '/') path += '/';
  path += kJobLockFileName;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return;
  }
  m_fd = fd;
}

HomeJobLock::~HomeJobLock() {
  if (m_fd >= 0) ::close(m_fd);  // closing releases the flock
}

}  // namespace vexo
