// CheckModem: the AT exchange that tells whether a modem answers. It opens the
// device with the serial port object, writes "AT", waits for the final result
// and leaves the dialogue as dump records in VexoCommLog.log in the log
// directory. The vexo modem-talk command runs it.
#pragma once

#include <cstdint>
#include <string>

namespace vexo {

struct ModemCheck {
  std::string device;
  std::uint32_t baud = 19200;
  std::string logDirectory = "./";  // ends in "/"
};

enum class ModemAnswer { Ok, Error, NoAnswer, NotOpened };

struct ModemCheckResult {
  ModemAnswer answer = ModemAnswer::NotOpened;
  std::string logPath;  // empty when the log could not be created
};

// Failures are in the error pool afterwards.
ModemCheckResult CheckModem(const ModemCheck& check);

}  // namespace vexo
