// Helpers of the Class 1 tests: a Class 1 protocol object on a real pty whose
// master side a scripted modem plays, and frames written as the modem sends them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modem/byte_tables.h"
#include "modem/win_com_ce.h"
#include "protocol/class1_func.h"
#include "tests/support/error_records.h"
#include "tests/support/pty_peer.h"

namespace vexo::test {

// Address, control, FCF and information field, each DLE doubled.
inline std::string FrameBody(bool final, std::uint8_t fcfValue,
                             const std::vector<std::uint8_t>& fif) {
  std::string out;
  std::vector<std::uint8_t> bytes = {kHdlcAddress, final ? kControlFinal : kControlMore, fcfValue};
  bytes.insert(bytes.end(), fif.begin(), fif.end());
  for (std::uint8_t b : bytes) {
    if (b == kDle) out.push_back(static_cast<char>(kDle));
    out.push_back(static_cast<char>(b));
  }
  return out;
}

// A frame as a modem delivers it after AT+FRH: the body, two check bytes, DLE
// ETX, then "OK" (or "ERROR" when its check sum failed).
inline std::string ModemFrame(bool final, std::uint8_t fcfValue,
                              const std::vector<std::uint8_t>& fif = {},
                              const std::string& result = "OK") {
  return FrameBody(final, fcfValue, fif) + "\x5A\xA5\x10\x03\r\n" + result + "\r\n";
}

// The bytes the program writes for a frame after AT+FTH's CONNECT.
inline std::string WrittenFrame(bool final, std::uint8_t fcfValue,
                                const std::vector<std::uint8_t>& fif = {}) {
  return FrameBody(final, fcfValue, fif) + "\x10\x03";
}

// Capability bytes in their line order (each byte bit-reversed).
inline std::vector<std::uint8_t> OnLine(const CapabilityBytes& bytes) {
  std::vector<std::uint8_t> out;
  for (std::uint8_t b : CapabilityField(bytes)) out.push_back(kBitReverse[b]);
  return out;
}

// A received frame item with two dummy check bytes.
inline Class1Item FrameItem(bool final, std::uint8_t fcfValue, std::vector<std::uint8_t> fif) {
  Class1Item item;
  item.isFrame = true;
  item.frame = {kHdlcAddress, final ? kControlFinal : kControlMore, fcfValue};
  for (std::uint8_t b : fif) item.frame.push_back(b);
  item.frame.push_back(0x5A);
  item.frame.push_back(0xA5);
  return item;
}

// A protocol object attached to a serial port object opened on a pty.
struct Class1PtyRig {
  Pty pty;
  PtyModem modem{pty};
  WinCOMCE port;
  FClass1Func fax;

  Class1PtyRig() {
    port.SetBaudRate(115200);
    port.SetOptions({pty.SlavePath(), "", "", false});
    TakeMessages();
  }
  ~Class1PtyRig() {
    modem.Stop();
    port.CloseComPort(false);
  }
  // Opens the port, then starts the script (opening clears what the modem
  // sent); false when the port did not open.
  bool Start() {
    const bool ok = port.OpenComPort(nullptr, "COM1:", 0, "", false) == 1;
    modem.Start();
    fax.Attach(&port);
    TakeMessages();
    return ok;
  }
};

}  // namespace vexo::test
