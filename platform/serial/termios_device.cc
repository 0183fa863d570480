#include "platform/serial/termios_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <filesystem>
#include <thread>

#include "platform/posix/full_io.h"
#include "platform/posix/unique_fd.h"

namespace vexo {
namespace {

struct BaudRow {
  std::uint32_t baud;
  speed_t speed;
};

constexpr std::array kBaudRates{
    BaudRow{300, B300},       BaudRow{600, B600},       BaudRow{1200, B1200},
    BaudRow{2400, B2400},     BaudRow{4800, B4800},     BaudRow{9600, B9600},
    BaudRow{19200, B19200},   BaudRow{38400, B38400},   BaudRow{57600, B57600},
    BaudRow{115200, B115200}, BaudRow{230400, B230400}, BaudRow{460800, B460800},
    BaudRow{921600, B921600},
};

// What the device reports about itself; RTS/CTS only where the lines exist.
constexpr std::uint32_t kCapabilities = PCF_XONXOFF | PCF_TOTALTIMEOUTS | PCF_INTTIMEOUTS;
constexpr std::uint32_t kServiceSerialComm = 1;     // SP_SERIALCOMM
constexpr std::uint32_t kSubTypeModem = 6;          // PST_MODEM
constexpr std::uint32_t kMaxBaudUser = 0x10000000;  // BAUD_USER
// Longest wait for the output queue to drain when EV_TXEMPTY is asked for.
constexpr int kTxEmptyWaitMs = 5000;
constexpr int kTxEmptyPollMs = 10;

using Clock = std::chrono::steady_clock;

std::int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Calls a pty (or any device without modem lines) cannot do answer ENOTTY or
// EINVAL; they count as done.
bool NotSupported(int error) { return error == ENOTTY || error == EINVAL; }

std::optional<speed_t> SpeedFor(std::uint32_t baud) {
  for (const auto& row : kBaudRates)
    if (row.baud == baud) return row.speed;
  return std::nullopt;
}

std::uint32_t BaudFor(speed_t speed) {
  for (const auto& row : kBaudRates)
    if (row.speed == speed) return row.baud;
  return 0;
}

int PollMs(std::int64_t ms) { return static_cast<int>(std::clamp<std::int64_t>(ms, 0, INT_MAX)); }

}  // namespace

bool HasModemControlLines(const std::string& path, const std::string& sysClassTty) {
  std::error_code error;
  const auto device = std::filesystem::canonical(path, error);
  if (error || device.filename().empty()) return false;
  return std::filesystem::exists(std::filesystem::path(sysClassTty) / device.filename() / "device",
                                 error);
}

std::unique_ptr<TermiosDevice> TermiosDevice::Open(const std::string& path, int& error,
                                                   const std::string& sysClassTty) {
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    error = errno;
    return nullptr;
  }
  termios original{};
  if (::tcgetattr(fd.get(), &original) != 0) {
    error = errno;
    return nullptr;
  }
  // No sharing: a second opening of the device is refused while we hold it,
  // and programs that keep to the lock files see it as taken.
  ::ioctl(fd.get(), TIOCEXCL);
  auto lock = std::make_unique<UucpLock>(path);
  if (!lock->Acquire()) {
    ::ioctl(fd.get(), TIOCNXCL);
    error = EBUSY;
    return nullptr;
  }
  const bool controlLines = HasModemControlLines(path, sysClassTty);
  return std::unique_ptr<TermiosDevice>(
      new TermiosDevice(fd.Release(), original, std::move(lock), controlLines));
}

TermiosDevice::TermiosDevice(int fd, const termios& original, std::unique_ptr<UucpLock> lock,
                             bool controlLines)
    : m_fd(fd), m_original(original), m_lock(std::move(lock)), m_controlLines(controlLines) {
  serial_icounter_struct counts{};
  if (::ioctl(m_fd, TIOCGICOUNT, &counts) == 0) m_counts = counts;
}

TermiosDevice::~TermiosDevice() {
  ::tcsetattr(m_fd, TCSANOW, &m_original);
  ::ioctl(m_fd, TIOCNXCL);
  ::close(m_fd);
}

bool TermiosDevice::Fail(int error) {
  m_error = error;
  return false;
}

bool TermiosDevice::GetCommState(DCB& dcb) {
  if (m_dcb) {
    dcb = *m_dcb;
    return true;
  }
  termios t{};
  if (::tcgetattr(m_fd, &t) != 0) return Fail(errno);
  dcb = DCB{};
  dcb.BaudRate = BaudFor(cfgetospeed(&t));
  dcb.fBinary = 1;
  dcb.fParity = (t.c_iflag & INPCK) ? 1 : 0;
  // A port starts with the handshake a modem port asks for, whatever CRTSCTS
  // the kernel left it with.
  const bool rtscts = m_controlLines || (t.c_cflag & CRTSCTS) != 0;
  dcb.fOutxCtsFlow = rtscts ? 1 : 0;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = rtscts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  dcb.fOutX = (t.c_iflag & IXON) ? 1 : 0;
  dcb.fInX = (t.c_iflag & IXOFF) ? 1 : 0;
  switch (t.c_cflag & CSIZE) {
    case CS5:
      dcb.ByteSize = 5;
      break;
    case CS6:
      dcb.ByteSize = 6;
      break;
    case CS7:
      dcb.ByteSize = 7;
      break;
    default:
      dcb.ByteSize = 8;
      break;
  }
  if (!(t.c_cflag & PARENB))
    dcb.Parity = NOPARITY;
  else if (t.c_cflag & CMSPAR)
    dcb.Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
  else
    dcb.Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
  dcb.StopBits = (t.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
  dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
  dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
  dcb.EofChar = static_cast<char>(t.c_cc[VEOF]);
  return true;
}

bool TermiosDevice::SetCommState(const DCB& dcb) {
  const auto speed = SpeedFor(dcb.BaudRate);
  if (!speed || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
      dcb.StopBits > TWOSTOPBITS)
    return Fail(EINVAL);
  termios t{};
  if (::tcgetattr(m_fd, &t) != 0) return Fail(errno);

  // Raw mode whatever the tty had: bytes pass unchanged both ways.
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY |
                 IMAXBEL | IUCLC | INPCK);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CREAD | CLOCAL;
  static constexpr std::array kSizes{CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[dcb.ByteSize - 5];
  switch (dcb.Parity) {
    case ODDPARITY:
      t.c_cflag |= PARENB | PARODD;
      break;
    case EVENPARITY:
      t.c_cflag |= PARENB;
      break;
    case MARKPARITY:
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case SPACEPARITY:
      t.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  if (dcb.fParity) t.c_iflag |= INPCK;
  // One and a half stop bits do not exist with 8 data bits: one stop bit it is.
  if (dcb.StopBits == TWOSTOPBITS) t.c_cflag |= CSTOPB;
  if (dcb.StopBits == ONE5STOPBITS && !m_stopBitsNoted) {
    m_stopBitsNoted = true;
    m_notes.push_back("StopBits=1 (one and a half) is programmed as one stop bit (8N1)");
  }
  // Without a CTS line (a pty) output XON/XOFF stays the only pause.
  if (m_controlLines && (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE))
    t.c_cflag |= CRTSCTS;
  if (dcb.fInX) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, *speed);
  cfsetospeed(&t, *speed);
  if (::tcsetattr(m_fd, TCSANOW, &t) != 0) return Fail(errno);
  m_dcb = dcb;
  m_xonOn = false;
  return true;
}

bool TermiosDevice::GetCommTimeouts(COMMTIMEOUTS& timeouts) {
  timeouts = m_timeouts;
  return true;
}

bool TermiosDevice::SetCommTimeouts(const COMMTIMEOUTS& timeouts) {
  m_timeouts = timeouts;
  return true;
}

bool TermiosDevice::GetCommProperties(COMMPROP& p) {
  const std::uint16_t packetLength = p.wPacketLength;
  p = COMMPROP{};
  p.wPacketLength = packetLength;
  p.wPacketVersion = 2;
  p.dwServiceMask = kServiceSerialComm;
  p.dwMaxBaud = kMaxBaudUser;
  p.dwProvSubType = kSubTypeModem;
  p.dwProvCapabilities = kCapabilities | (m_controlLines ? std::uint32_t{PCF_RTSCTS} : 0u);
  p.dwCurrentTxQueue = m_outQueue;
  p.dwCurrentRxQueue = m_inQueue;
  return true;
}

bool TermiosDevice::GetCommMask(std::uint32_t& mask) {
  mask = m_mask;
  return true;
}

bool TermiosDevice::SetCommMask(std::uint32_t mask) {
  m_mask = mask;
  return true;
}

std::uint32_t TermiosDevice::PendingErrors(bool consume) {
  if (!m_counts) return 0;
  serial_icounter_struct now{};
  if (::ioctl(m_fd, TIOCGICOUNT, &now) != 0) return 0;
  std::uint32_t bits = 0;
  if (now.frame != m_counts->frame) bits |= CE_FRAME;
  if (now.overrun != m_counts->overrun) bits |= CE_OVERRUN;
  if (now.parity != m_counts->parity) bits |= CE_RXPARITY;
  if (now.brk != m_counts->brk) bits |= CE_BREAK;
  if (now.buf_overrun != m_counts->buf_overrun) bits |= CE_RXOVER;
  if (consume) m_counts = now;
  return bits;
}

bool TermiosDevice::WaitForEmptyOutput(int timeoutMs) {
  const auto start = Clock::now();
  for (;;) {
    int queued = 0;
    if (::ioctl(m_fd, TIOCOUTQ, &queued) != 0 || queued == 0) return true;
    if (MsSince(start) >= timeoutMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kTxEmptyPollMs));
  }
}

bool TermiosDevice::WaitCommEvent(std::uint32_t& events) {
  events = 0;
  const std::uint32_t errors = PendingErrors(false);
  if ((m_mask & EV_ERR) && (errors & ~CE_BREAK)) events |= EV_ERR;
  if ((m_mask & EV_BREAK) && (errors & CE_BREAK)) events |= EV_BREAK;
  if (events != 0) return true;
  // The output queue draining stands for the transmitter running empty; the
  // wait is bounded so that a line held by flow control cannot stop us.
  if ((m_mask & EV_TXEMPTY) && WaitForEmptyOutput(kTxEmptyWaitMs)) events |= EV_TXEMPTY;
  return true;
}

bool TermiosDevice::ClearCommError(std::uint32_t& errors, COMSTAT* stat) {
  errors = PendingErrors(true);
  if (stat) {
    int in = 0, out = 0;
    if (::ioctl(m_fd, FIONREAD, &in) != 0) in = 0;
    if (::ioctl(m_fd, TIOCOUTQ, &out) != 0) out = 0;
    stat->cbInQue = static_cast<std::uint32_t>(std::max(in, 0));
    stat->cbOutQue = static_cast<std::uint32_t>(std::max(out, 0));
  }
  return true;
}

bool TermiosDevice::ClearCommBreak() {
  if (::ioctl(m_fd, TIOCCBRK) != 0 && !NotSupported(errno)) return Fail(errno);
  return true;
}

bool TermiosDevice::SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) {
  // The kernel's tty buffers are fixed; the sizes are kept to be reported.
  m_inQueue = inQueue;
  m_outQueue = outQueue;
  return true;
}

bool TermiosDevice::EscapeCommFunction(std::uint32_t function) {
  int rc = 0;
  int bits = 0;
  switch (function) {
    case SETDTR:
      bits = TIOCM_DTR;
      rc = ::ioctl(m_fd, TIOCMBIS, &bits);
      break;
    case CLRDTR:
      bits = TIOCM_DTR;
      rc = ::ioctl(m_fd, TIOCMBIC, &bits);
      break;
    case SETRTS:
      bits = TIOCM_RTS;
      rc = ::ioctl(m_fd, TIOCMBIS, &bits);
      break;
    case CLRRTS:
      bits = TIOCM_RTS;
      rc = ::ioctl(m_fd, TIOCMBIC, &bits);
      break;
    case SETBREAK:
      rc = ::ioctl(m_fd, TIOCSBRK);
      break;
    case CLRBREAK:
      rc = ::ioctl(m_fd, TIOCCBRK);
      break;
    case SETXOFF:
      rc = ::tcflow(m_fd, TCOOFF);
      break;
    case SETXON:
      rc = ::tcflow(m_fd, TCOON);
      break;
    default:
      return Fail(EINVAL);
  }
  if (rc != 0 && !NotSupported(errno)) return Fail(errno);
  return true;
}

bool TermiosDevice::SetOutputXon(bool on) {
  if (m_xonOn == on) return true;
  termios t{};
  if (::tcgetattr(m_fd, &t) != 0) return Fail(errno);
  if (on)
    t.c_iflag |= IXON;
  else
    t.c_iflag &= ~IXON;
  if (::tcsetattr(m_fd, TCSANOW, &t) != 0) return Fail(errno);
  m_xonOn = on;
  return true;
}

void TermiosDevice::SetPageDataMode(bool on) { SetOutputXon(on && m_dcb && m_dcb->fOutX); }

bool TermiosDevice::Read(void* buffer, std::uint32_t length, std::uint32_t& count) {
  count = 0;
  if (length == 0) return true;
  // Data from the modem is never filtered for XON/XOFF.
  if (!SetOutputXon(false)) return false;

  const COMMTIMEOUTS& t = m_timeouts;
  const bool returnAtOnce = t.ReadIntervalTimeout == MAXDWORD &&
                            t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
  const bool firstByteEnds =
      t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
      t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
  const std::int64_t total = firstByteEnds ? std::int64_t{t.ReadTotalTimeoutConstant}
                                           : std::int64_t{t.ReadTotalTimeoutMultiplier} * length +
                                                 std::int64_t{t.ReadTotalTimeoutConstant};
  const bool hasInterval =
      !firstByteEnds && t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD;
  const auto start = Clock::now();
  auto lastByte = start;
  auto* bytes = static_cast<unsigned char*>(buffer);
  bool hungUp = false;

  while (count < length) {
    const ssize_t n = RetryOnEintr([&] { return ::read(m_fd, bytes + count, length - count); });
    if (n > 0) {
      count += static_cast<std::uint32_t>(n);
      lastByte = Clock::now();
      if (firstByteEnds) break;
      continue;
    }
    if (n < 0 && errno != EAGAIN) return Fail(errno);
    if (hungUp) return Fail(EIO);  // the other end is gone and nothing is left
    if (returnAtOnce) break;

    // Nothing waiting: sleep until a byte comes or a timeout runs out.
    std::int64_t wait = -1;  // no timeout: wait for ever
    if (total > 0) wait = total - MsSince(start);
    if (count > 0 && hasInterval) {
      const std::int64_t interval = t.ReadIntervalTimeout - MsSince(lastByte);
      wait = wait < 0 ? interval : std::min(wait, interval);
    }
    if (wait == 0 || (wait < 0 && (total > 0 || (count > 0 && hasInterval)))) break;
    pollfd p{m_fd, POLLIN, 0};
    const int rc = ::poll(&p, 1, wait < 0 ? -1 : PollMs(wait));
    if (rc < 0 && errno != EINTR) return Fail(errno);
    hungUp = rc > 0 && (p.revents & (POLLHUP | POLLERR));
  }
  return true;
}

bool TermiosDevice::Write(const void* buffer, std::uint32_t length, std::uint32_t& count) {
  count = 0;
  const std::int64_t total = std::int64_t{m_timeouts.WriteTotalTimeoutMultiplier} * length +
                             std::int64_t{m_timeouts.WriteTotalTimeoutConstant};
  const auto start = Clock::now();
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  while (count < length) {
    const ssize_t n = RetryOnEintr([&] { return ::write(m_fd, bytes + count, length - count); });
    if (n > 0) {
      count += static_cast<std::uint32_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN) return Fail(errno);
    std::int64_t wait = -1;
    if (total > 0) {
      wait = total - MsSince(start);
      if (wait <= 0) break;
    }
    pollfd p{m_fd, POLLOUT, 0};
    const int rc = ::poll(&p, 1, wait < 0 ? -1 : PollMs(wait));
    if (rc < 0 && errno != EINTR) return Fail(errno);
    if (rc > 0 && !(p.revents & POLLOUT) && (p.revents & (POLLHUP | POLLERR))) return Fail(EIO);
  }
  return true;
}

std::vector<std::string> TermiosDevice::TakeNotes() {
  std::vector<std::string> notes;
  notes.swap(m_notes);
  return notes;
}

}  // namespace vexo
