// The fax kernel's stand-in in the Class 2 and Class 2.0 session tests: the
// serial port object on a pty whose far side plays a scripted modem, the class
// selected with "AT+FCLASS=...", and short waits for both session objects.
#pragma once

#include <string>

#include "base/job_control.h"
#include "modem/win_com_ce.h"
#include "protocol/class20_func.h"
#include "protocol/class2_func.h"
#include "tests/support/pty_peer.h"
#include "tests/support/temp_dir.h"

namespace vexo::test {

inline constexpr const char* kOk = "\r\nOK\r\n";

// Waits short enough for tests, long enough for a loaded machine.
Class2Timeouts TestTimeouts();

struct Class2CallDriver {
  Class2CallDriver();
  ~Class2CallDriver();

  // Opens the port and selects the class ("2.0" or "2"); false on a failure.
  bool Open(const std::string& faxClass);

  Pty pty;
  PtyModem modem{pty};
  TempDir dir;
  JobControl job;
  WinCOMCE port;
  FClass20Func class20;
  FClass2Func class2;
};

}  // namespace vexo::test
