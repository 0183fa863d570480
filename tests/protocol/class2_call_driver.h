// The test-only stand-in for the fax kernel in the Class 2 and Class 2.0
// session tests: it opens the serial port object on a pty whose far side plays
// a scripted modem, selects the class with "AT+FCLASS=2.0" or "AT+FCLASS=2",
// and runs the session's entry operations with short waits.
#pragma once

#include <string>
#include <vector>

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

class Class2CallDriver {
 public:
  Class2CallDriver();
  ~Class2CallDriver();

  // Opens the port and selects the class ("2.0" or "2"); the modem script
  // must answer "AT+FCLASS=...". False when the port or the modem fails.
  bool Open(const std::string& faxClass);

  int Send20(const std::vector<std::string>& files, const std::string& number,
             std::uint32_t* resume, FaxResult* result);
  int Receive20(const std::string& file, FaxResult* result);
  int Send2(const std::vector<std::string>& files, const std::string& number, std::uint32_t* resume,
            FaxResult* result);
  int Receive2(const std::string& file, FaxResult* result);

  Pty pty;
  PtyModem modem{pty};
  TempDir dir;
  JobControl job;
  WinCOMCE port;
  FClass20Func class20;
  FClass2Func class2;
};

// The page data the program wrote after each "AT+FDT", up to its closing
// escape, DLE stuffing still in.
std::vector<std::string> SentPages(const std::string& received);

}  // namespace vexo::test
