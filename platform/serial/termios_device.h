// TermiosDevice: the SerialDevice of a real tty, USB modem or pty. Line settings
// always put the tty in raw mode; read and write timeouts are kept as the
// driver of a Windows-style port keeps them and carried out with poll. The
// termios found at opening is put back byte for byte when the device closes.
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

class TermiosDevice : public SerialDevice {
 public:
  // Opens path (exclusive, no controlling tty, its lock file in /var/lock taken
  // where that can be written); null and an errno value (EBUSY: another
  // program holds the lock) on failure.
  static std::unique_ptr<TermiosDevice> Open(const std::string& path, int& error);
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
  TermiosDevice(int fd, const termios& original, std::unique_ptr<UucpLock> lock);
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
  bool m_xonOn = false;
  bool m_stopBitsNoted = false;
  std::vector<std::string> m_notes;
  int m_error = 0;
};

}  // namespace vexo
