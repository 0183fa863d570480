// Helpers of the Class 1 tests: a Class 1 protocol object on a real pty whose
// master side a scripted modem plays, frames written as the modem sends them,
// and the error pool's messages.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "modem/win_com_ce.h"
#include "protocol/class1_func.h"
#include "tests/support/pty_peer.h"

namespace vexo::test {

// The messages in the error pool, oldest first; empties the pool.
std::vector<std::string> TakeClass1Messages();

// A frame as a modem delivers it after AT+FRH: address, control, FCF, the
// information field (DLE doubled), two check bytes, DLE ETX, then "OK".
std::string ModemFrame(bool final, std::uint8_t fcfValue, std::vector<std::uint8_t> fif = {});
// The bytes the program writes for a frame after AT+FTH's CONNECT.
std::string WrittenFrame(bool final, std::uint8_t fcfValue, std::vector<std::uint8_t> fif = {});
// Capability bytes in their line order (each byte bit-reversed).
std::vector<std::uint8_t> OnLine(const CapabilityBytes& bytes);
// A received frame item with two dummy check bytes.
Class1Item FrameItem(bool final, std::uint8_t fcfValue, std::vector<std::uint8_t> fif);

// A protocol object attached to a serial port object opened on a pty.
struct Class1PtyRig {
  Pty pty;
  PtyModem modem{pty};
  WinCOMCE port;
  FClass1Func fax;

  Class1PtyRig();
  ~Class1PtyRig();
  // Opens the port and starts the script; false when the port did not open.
  bool Start();
};

}  // namespace vexo::test
