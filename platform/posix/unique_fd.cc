#include "platform/posix/unique_fd.h"

#include <unistd.h>

namespace vexo {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    Reset();
    m_fd = other.Release();
  }
  return *this;
}

int UniqueFd::Release() {
  const int fd = m_fd;
  m_fd = -1;
  return fd;
}

int UniqueFd::Close() {
  const int rc = m_fd >= 0 ? ::close(m_fd) : 0;
  m_fd = -1;
  return rc;
}

}  // namespace vexo
