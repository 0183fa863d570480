#include "app/jobs/modem_lending.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "app/jobs/list_refresh.h"

namespace vexo {
namespace {

constexpr const char* kSocketName = "vexo-modem.sock";
constexpr std::string_view kLendLine = "lend\n";
constexpr std::string_view kYesLine = "yes\n";
constexpr std::string_view kNoLine = "no\n";
// How long either side waits for the other's line.
constexpr int kReplyTimeoutMs = 5000;
constexpr int kBacklog = 4;
constexpr mode_t kSocketMode = 0600;

bool AddressOf(const std::string& path, sockaddr_un& address) {
  address = sockaddr_un{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// A socket connected to path, or -1 when nobody listens there.
int ConnectTo(const std::string& path) {
  sockaddr_un address;
  if (!AddressOf(path, address)) return -1;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
  ::close(fd);
  return -1;
}

bool WriteLine(int fd, std::string_view line) {
  return ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
}

// Reads one short line ending in '\n' within the timeout; empty on EOF,
// error or timeout.
std::string ReadLine(int fd) {
  std::string line;
  char c = 0;
  while (line.size() < kLendLine.size() + 1) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, kReplyTimeoutMs) <= 0 || ::read(fd, &c, 1) != 1) return {};
    line += c;
    if (c == '\n') return line;
  }
  return {};
}

// Listens on path, replacing a socket file that nobody answers on (left by a
// process that ended without removing it); -1 when another lender listens.
int ListenOn(const std::string& path) {
  sockaddr_un address;
  if (!AddressOf(path, address)) return -1;
  if (const int other = ConnectTo(path); other >= 0) {
    ::close(other);
    return -1;
  }
  ::unlink(path.c_str());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // Only the user's own processes may ask for the modem.
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::chmod(path.c_str(), kSocketMode) != 0 || ::listen(fd, kBacklog) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::string ModemLendSocketPath(const std::string& homeDirectory) {
  return HomeSocketPath(homeDirectory, kSocketName, "vexo-modem");
}

// ---- the lender

ModemLendListener::ModemLendListener(const std::string& homeDirectory, std::function<bool()> lend)
    : m_path(ModemLendSocketPath(homeDirectory)), m_lend(std::move(lend)) {
  m_listenFd = ListenOn(m_path);
  if (m_listenFd < 0) return;
  m_stopFd = ::eventfd(0, EFD_CLOEXEC);
  if (m_stopFd < 0) {
    ::close(m_listenFd);
    ::unlink(m_path.c_str());
    m_listenFd = -1;
    return;
  }
  m_thread = std::thread([this] { Run(); });
}

ModemLendListener::~ModemLendListener() {
  if (m_thread.joinable()) {
    const std::uint64_t one = 1;
    if (::write(m_stopFd, &one, sizeof one) == sizeof one) m_thread.join();
  }
  for (const int fd : m_borrowers) ::close(fd);
  if (m_stopFd >= 0) ::close(m_stopFd);
  if (m_listenFd >= 0) {
    ::close(m_listenFd);
    ::unlink(m_path.c_str());
  }
}

void ModemLendListener::Run() {
  for (;;) {
    std::vector<pollfd> watched{{m_stopFd, POLLIN, 0}, {m_listenFd, POLLIN, 0}};
    for (const int fd : m_borrowers) watched.push_back({fd, POLLIN, 0});
    if (::poll(watched.data(), watched.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (watched[0].revents != 0) return;
    // A borrower's connection that ends (or says anything) gives the modem back.
    for (std::size_t i = 2; i < watched.size(); ++i) {
      if (watched[i].revents == 0) continue;
      ::close(watched[i].fd);
      std::erase(m_borrowers, watched[i].fd);
      --m_lent;
    }
    if (watched[1].revents & POLLIN) {
      const int client = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (client >= 0) Serve(client);
    }
  }
}

void ModemLendListener::Serve(int client) {
  if (ReadLine(client) != kLendLine) {
    ::close(client);
    return;
  }
  // Counted as lent before the wait is cancelled, so that the lender never
  // sees its wait end without the loan.
  ++m_lent;
  if (m_lend() && WriteLine(client, kYesLine)) {
    m_borrowers.push_back(client);
    return;
  }
  --m_lent;
  WriteLine(client, kNoLine);
  ::close(client);
}

// ---- the borrower

std::optional<ModemLoan> ModemLoan::Borrow(const std::string& homeDirectory) {
  const int fd = ConnectTo(ModemLendSocketPath(homeDirectory));
  if (fd < 0) return std::nullopt;
  ModemLoan loan(fd);
  if (!WriteLine(fd, kLendLine) || ReadLine(fd) != kYesLine) return std::nullopt;
  return loan;
}

ModemLoan::ModemLoan(ModemLoan&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

ModemLoan& ModemLoan::operator=(ModemLoan&& other) noexcept {
  std::swap(m_fd, other.m_fd);
  return *this;
}

ModemLoan::~ModemLoan() {
  if (m_fd >= 0) ::close(m_fd);
}

}  // namespace vexo
