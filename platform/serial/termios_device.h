// TermiosDevice: the SerialDevice of a real tty, USB modem or pty. Line settings
// always put the tty in raw mode; read and write timeouts are kept as the
// driver of a Windows-style port keeps them and carried out with poll. The
// termios found at opening is put back byte for byte when the device closes.
//
// RTS/CTS: a serial port (a UART, USB serial adapter or USB modem) has the
// modem control lines, and its line settings start as a modem port's do, with
// the RTS/CTS handshake asked for: Linux keeps no such choice, a freshly
// plugged port always comes up with CRTSCTS off, and an RS-232 modem at
// 19200 baud or more overruns without it. A pty has no CTS: it never gets
// CRTSCTS and keeps the XON/XOFF pause of page data.
#pragma once

#include <termios.h>

#include <linux/serial.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/serial/serial_device.h"
#include "platform/serial/uucp_lock.h"

namespace vexo {

// Where the kernel lists its ttys; a tty driven by a serial port has a device
// link there, a pty or virtual console has none.
inline constexpr const char* kSysClassTty = "/sys/class/tty";

// True when path, with its links followed (/dev/serial/by-id/...), names a tty
// with a device link under sysClassTty: a port with the RTS and CTS lines.
bool HasModemControlLines(const std::string& path, const std::string& sysClassTty = kSysClassTty);

class TermiosDevice : public SerialDevice {
 public:
  // Opens path (exclusive, no controlling tty, its lock file in /var/lock taken
  // where that can be written); null and an errno value (EBUSY: another
  // program holds the lock) on failure. sysClassTty tells ports from ptys.
  static std::unique_ptr<TermiosDevice> Open(const std::string& path, int& error,
                                             const std::string& sysClassTty = kSysClassTty);
  ~TermiosDevice() override;
  TermiosDevice(const TermiosDevice&) = delete;
  TermiosDevice& operator=(const TermiosDevice&) = delete;

  bool GetCommState(DCB& dcb) override;
  bool SetCommState(const DCB& dcb) override;
  bool GetCommTimeouts(COMMTIMEOUTS& timeouts) override;
  bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override;
  bool GetCommProperties(COMMPROP& properties) override;
  bool GetCommMask(std::uint32_t& mask) override;
  bool SetCommMask(std::uint32_t mask) override;
  bool WaitCommEvent(std::uint32_t& events) override;
  bool ClearCommError(std::uint32_t& errors, COMSTAT* stat) override;
  bool ClearCommBreak() override;
  bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) override;
  bool EscapeCommFunction(std::uint32_t function) override;
  bool Read(void* buffer, std::uint32_t length, std::uint32_t& count) override;
  bool Write(const void* buffer, std::uint32_t length, std::uint32_t& count) override;
  void SetPageDataMode(bool on) override;
  int LastError() const override { return m_error; }
  std::vector<std::string> TakeNotes() override;

 private:
  TermiosDevice(int fd, const termios& original, std::unique_ptr<UucpLock> lock, bool controlLines);
  bool Fail(int error);
  // The error bits since the last look (TIOCGICOUNT deltas); none where the
  // device keeps no counters (a pty). consume moves the reference point.
  std::uint32_t PendingErrors(bool consume);
  bool SetOutputXon(bool on);
  bool WaitForEmptyOutput(int timeoutMs);

  int m_fd;
  termios m_original;
  std::unique_ptr<UucpLock> m_lock;  // released after the device is closed
  std::optional<DCB> m_dcb;          // the last DCB applied
  COMMTIMEOUTS m_timeouts{};
  std::uint32_t m_mask = 0;
  std::uint32_t m_inQueue = 0, m_outQueue = 0;
  std::optional<serial_icounter_struct> m_counts;  // none on a pty
  bool m_controlLines;                             // RTS and CTS exist: the handshake can be had
  bool m_xonOn = false;
  bool m_stopBitsNoted = false;
  std::vector<std::string> m_notes;
  int m_error = 0;
};

}  // namespace vexo
