// Helpers of the kernel tests: a serial port object over the scripted fake
// device, the error pool's records, and log files compared byte for byte
// with their time stamps filled in.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/error_pool.h"
#include "modem/win_com_ce.h"
#include "platform/serial/fake_serial_device.h"

namespace vexo::test {

// Takes every record out of the error pool, oldest first.
std::vector<ErrorRecord> TakeErrors();
// The messages of the records, oldest first; empties the pool.
std::vector<std::string> TakeMessages();

// The text of a UTF-16LE log file with its byte-order mark, checked to be
// exactly that encoding of ASCII text; empty when it is not.
std::string LogText(const std::string& fileBytes);
// expected with each "{T}" replaced by the next "[YYYY/MM/DD - hh:mm:ss:mmm]"
// stamp found in actual (in order); what a byte comparison needs.
std::string WithStamps(const std::string& expected, const std::string& actual);

// A serial port object whose devices are fake lines.
struct FakePortRig {
  explicit FakePortRig(std::uint32_t capabilities = PCF_RTSCTS | PCF_XONXOFF | PCF_TOTALTIMEOUTS);

  std::shared_ptr<FakeLine> line;      // the named port or the phone command port
  std::shared_ptr<FakeLine> dataLine;  // the phone data port
  std::vector<std::string> opened;     // device paths asked for
  int failOpens = 0;                   // openings still to refuse (ENOENT)
  std::vector<std::uint32_t> sleeps;   // Delay and pause requests
  std::unique_ptr<WinCOMCE> port;

  // Opens "COM3:" (device path from the options) and clears the pool.
  bool OpenNamed();
};

}  // namespace vexo::test
