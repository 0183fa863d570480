#include "tests/support/pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace vexo::test {
namespace {

constexpr int kExpectTimeoutMs = 5000;
constexpr int kPollSliceMs = 20;
constexpr std::size_t kChunkBytes = 4096;
constexpr char kCan = 0x18;

// The final result codes after which a T.31 modem is in command state.
bool EndsWithFinalResult(std::string_view sent) {
  for (const char* line : {"\nOK\r\n", "\nERROR\r\n", "\nNO CARRIER\r\n", "\n+FCERROR\r\n",
                           "\nBUSY\r\n", "\nNO ANSWER\r\n", "\nNO DIALTONE\r\n"})
    if (sent.ends_with(line)) return true;
  return false;
}

using Clock = std::chrono::steady_clock;

std::int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

Pty::Pty() {
  m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
    throw std::runtime_error("cannot open a pty");
  char name[128];
  if (::ptsname_r(m_master, name, sizeof name) != 0) throw std::runtime_error("no pty name");
  m_slavePath = name;
  m_keeper = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m_keeper < 0) throw std::runtime_error("cannot open the pty slave");
  ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

Pty::~Pty() {
  CloseMaster();
  if (m_keeper >= 0) ::close(m_keeper);
}

void Pty::CloseMaster() {
  if (m_master >= 0) ::close(m_master);
  m_master = -1;
}

termios Pty::SlaveTermios() const {
  termios t{};
  ::tcgetattr(m_keeper, &t);
  return t;
}

bool Pty::WriteAll(std::string_view bytes, const std::function<bool()>& whileBlocked) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(m_master, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if ((n < 0 && errno != EAGAIN && errno != EINTR) || (whileBlocked && !whileBlocked()))
      return false;
    pollfd p{m_master, POLLOUT, 0};
    ::poll(&p, 1, kPollSliceMs);
  }
  return true;
}

std::string Pty::ReadSome(int waitMs) {
  char buffer[kChunkBytes];
  pollfd p{m_master, POLLIN, 0};
  if (::poll(&p, 1, waitMs) <= 0 || !(p.revents & POLLIN)) return {};
  const ssize_t n = ::read(m_master, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::string Pty::ReadQuiet(int quietMs) {
  std::string out;
  for (std::string more; !(more = ReadSome(quietMs)).empty();) out += more;
  return out;
}

PtyModem& PtyModem::SendSplit(std::string bytes, std::size_t pieceBytes, int pauseMs) {
  for (std::size_t i = 0; i < bytes.size(); i += pieceBytes) {
    if (i > 0) Pause(pauseMs);
    Send(bytes.substr(i, pieceBytes));
  }
  return *this;
}

bool PtyModem::Finish() {
  if (m_thread.joinable()) m_thread.join();
  std::lock_guard lock(m_lock);
  return m_failure.empty();
}

std::string PtyModem::Received() const {
  std::lock_guard lock(m_lock);
  return m_received;
}

int PtyModem::IgnoredCans() const {
  std::lock_guard lock(m_lock);
  return m_ignoredCans;
}

std::string PtyModem::Failure() const {
  std::lock_guard lock(m_lock);
  return m_failure;
}

void PtyModem::Fail(std::string why) {
  std::lock_guard lock(m_lock);
  if (m_failure.empty()) m_failure = std::move(why);
}

void PtyModem::Run() {
  for (const Step& step : m_steps)
    if (m_stop || !RunStep(step)) return;
}

// Takes what the program wrote into the received text, waiting up to waitMs.
// In command state a CAN is dropped; the end of a command line leaves it.
void PtyModem::Drain(int waitMs) {
  const std::string bytes = m_pty.ReadSome(waitMs);
  std::lock_guard lock(m_lock);
  for (const char b : bytes) {
    if (m_commandState && b == kCan) {
      ++m_ignoredCans;
      continue;
    }
    if (b == '\r') m_commandState = false;
    m_received += b;
  }
}

// Sends while taking in what the program writes, so that neither side blocks.
bool PtyModem::SendBytes(std::string_view bytes) {
  if (m_pty.WriteAll(bytes, [this] {
        if (m_stop) return false;
        Drain(0);
        return true;
      })) {
    std::lock_guard lock(m_lock);
    m_commandState = m_commandState || EndsWithFinalResult(bytes);
    return true;
  }
  if (!m_stop) Fail("writing to the pty failed");
  return false;
}

bool PtyModem::RunStep(const Step& step) {
  const auto start = Clock::now();
  switch (step.kind) {
    case Step::Kind::Expect:
      for (;;) {
        {
          std::lock_guard lock(m_lock);
          const auto at = m_received.find(step.bytes, m_matchFrom);
          if (at != std::string::npos) {
            m_matchFrom = at + step.bytes.size();
            return true;
          }
        }
        if (m_stop) return false;
        if (MsSince(start) > kExpectTimeoutMs) {
          Fail("the program never wrote \"" + step.bytes + "\"");
          return false;
        }
        Drain(kPollSliceMs);
      }
    case Step::Kind::Send:
      return SendBytes(step.bytes);
    case Step::Kind::Pause: {
      const auto ms = static_cast<std::int64_t>(step.amount);
      while (!m_stop && MsSince(start) < ms)
        Drain(static_cast<int>(std::min<std::int64_t>(kPollSliceMs, ms - MsSince(start))));
      return !m_stop;
    }
    case Step::Kind::Flood: {
      std::string chunk;
      while (chunk.size() < kChunkBytes) chunk += step.bytes;
      for (std::size_t left = step.amount; left > 0 && !m_stop;) {
        const std::size_t n = std::min(left, chunk.size());
        if (!SendBytes(std::string_view(chunk).substr(0, n))) return false;
        left -= n;
        Drain(0);
      }
      return true;
    }
  }
  return false;
}

}  // namespace vexo::test
