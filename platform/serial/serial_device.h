// SerialDevice: one open serial line as the modem code sees it, with the calls
// of a Windows-style communications driver (line settings, timeouts, event
// mask, error bits, timed reads and writes). The termios device drives real
// ttys and ptys; the fake device scripts a driver for unit tests. Calls return
// true on success; on failure LastError() holds an errno value.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial/comm_types.h"

namespace vexo {

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  virtual bool GetCommState(DCB& dcb) = 0;
  virtual bool SetCommState(const DCB& dcb) = 0;
  virtual bool GetCommTimeouts(COMMTIMEOUTS& timeouts) = 0;
  virtual bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) = 0;
  virtual bool GetCommProperties(COMMPROP& properties) = 0;
  virtual bool GetCommMask(std::uint32_t& mask) = 0;
  virtual bool SetCommMask(std::uint32_t mask) = 0;
  // Waits for one of the events of the mask; events is 0 when none came in time.
  virtual bool WaitCommEvent(std::uint32_t& events) = 0;
  // Takes the error bits gathered since the last call; stat may be null.
  virtual bool ClearCommError(std::uint32_t& errors, COMSTAT* stat) = 0;
  virtual bool ClearCommBreak() = 0;
  virtual bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) = 0;
  virtual bool EscapeCommFunction(std::uint32_t function) = 0;
  // Reads up to length bytes under the timeouts set; a timeout is success with
  // fewer bytes (possibly none).
  virtual bool Read(void* buffer, std::uint32_t length, std::uint32_t& count) = 0;
  // Writes up to length bytes under the timeouts set; a timeout is success with
  // fewer bytes taken.
  virtual bool Write(const void* buffer, std::uint32_t length, std::uint32_t& count) = 0;
  // Page data mode: while on, writes pause when the modem sends XOFF (where the
  // line settings ask for output XON/XOFF). Input is never filtered for XON/XOFF
  // outside page-data writes; the next read leaves the mode.
  virtual void SetPageDataMode(bool on) = 0;

  virtual int LastError() const = 0;
  // Notes about settings the device could not program as asked (for the
  // communication log); each note is handed out once.
  virtual std::vector<std::string> TakeNotes() { return {}; }
};

// Opens the device at path; on failure returns null and sets error to an errno value.
using SerialDeviceOpener =
    std::function<std::unique_ptr<SerialDevice>(const std::string& path, int& error)>;

}  // namespace vexo
