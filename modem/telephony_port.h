// TelephonyPort: how the serial port object reaches a modem line of the
// telephony interface. The telephony line code implements it: it opens a line
// of its device list (dialling when asked) and yields the line's data port,
// and takes that port back when the line is closed.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/serial/serial_device.h"

namespace vexo {

class TelephonyPort {
 public:
  virtual ~TelephonyPort() = default;
  // The data port of list entry index, or null when the line cannot be opened.
  virtual std::unique_ptr<SerialDevice> OpenLine(std::uint32_t index,
                                                 std::string_view dialNumber) = 0;
  // Takes back the port of the line opened last and closes the line.
  virtual void CloseLine(std::unique_ptr<SerialDevice> port) = 0;
};

}  // namespace vexo
