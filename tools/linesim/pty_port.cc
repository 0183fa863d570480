#include "tools/linesim/pty_port.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

namespace vexo::linesim {
namespace {

// Output held back for a program that reads slowly; beyond this the oldest
// bytes would be lost on a real port too, so the queue stops growing.
constexpr std::size_t kMaxPendingBytes = 1 << 20;

bool MakeSlaveRaw(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  termios tio{};
  bool ok = ::tcgetattr(fd, &tio) == 0;
  if (ok) {
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B115200);
    ok = ::tcsetattr(fd, TCSANOW, &tio) == 0;
  }
  if (!ok) error = "cannot set " + path + " raw: " + std::strerror(errno);
  ::close(fd);
  return ok;
}

}  // namespace

std::optional<PtyPort> PtyPort::Open(const std::string& link, std::string& error) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0) {
    error = std::string("posix_openpt: ") + std::strerror(errno);
    return std::nullopt;
  }
  char name[128] = {};
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
      ::ptsname_r(master, name, sizeof name) != 0) {
    error = std::string("cannot unlock the pty: ") + std::strerror(errno);
    ::close(master);
    return std::nullopt;
  }
  if (!MakeSlaveRaw(name, error)) {
    ::close(master);
    return std::nullopt;
  }
  if (!link.empty()) {
    std::error_code ec;
    std::filesystem::remove(link, ec);
    std::filesystem::create_symlink(name, link, ec);
    if (ec) {
      error = "cannot create link " + link + ": " + ec.message();
      ::close(master);
      return std::nullopt;
    }
  }
  return PtyPort(master, name, link);
}

PtyPort::PtyPort(int master, std::string slavePath, std::string link)
    : m_master(master), m_slavePath(std::move(slavePath)), m_link(std::move(link)) {}

PtyPort::PtyPort(PtyPort&& other) noexcept
    : m_master(std::exchange(other.m_master, -1)),
      m_slavePath(std::move(other.m_slavePath)),
      m_link(std::exchange(other.m_link, {})),
      m_pending(std::move(other.m_pending)),
      m_slaveOpen(other.m_slaveOpen),
      m_everOpened(other.m_everOpened) {}

PtyPort::~PtyPort() {
  if (m_master >= 0) ::close(m_master);
  if (!m_link.empty()) {
    std::error_code ec;
    std::filesystem::remove(m_link, ec);
  }
}

bool PtyPort::PollSlaveOpen() {
  // The master reports POLLHUP while no program holds the slave open.
  pollfd p{m_master, POLLIN, 0};
  const bool open = ::poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP) == 0;
  if (open && !m_slaveOpen) m_everOpened = true;
  if (!open) m_pending.clear();
  m_slaveOpen = open;
  return open;
}

std::size_t PtyPort::Read(char* buffer, std::size_t size) {
  if (!m_slaveOpen) return 0;
  const ssize_t n = ::read(m_master, buffer, size);
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

void PtyPort::Write(std::string_view bytes) {
  if (!m_slaveOpen) return;
  if (m_pending.size() + bytes.size() <= kMaxPendingBytes) m_pending.append(bytes);
  Flush();
}

void PtyPort::Flush() {
  while (!m_pending.empty() && m_slaveOpen) {
    const ssize_t n = ::write(m_master, m_pending.data(), m_pending.size());
    if (n <= 0) return;  // EAGAIN: the program has not read yet; try on the next tick
    m_pending.erase(0, static_cast<std::size_t>(n));
  }
}

}  // namespace vexo::linesim
