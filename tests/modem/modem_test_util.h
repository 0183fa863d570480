// Helpers of the modem tests: a serial port object over the scripted fake
// device, the communication log, log files' text without their time stamps.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "base/log_file.h"
#include "modem/comm_log.h"
#include "modem/win_com_ce.h"
#include "platform/serial/fake_serial_device.h"
#include "tests/support/error_records.h"
#include "tests/support/temp_dir.h"

namespace vexo::test {

// The text of a UTF-16LE log file with its byte-order mark, checked to be
// exactly that encoding of ASCII text; empty when it is not.
inline std::string LogText(const std::string& bytes) {
  if (bytes.size() < 2 || bytes.size() % 2 != 0 || bytes.compare(0, 2, "\xFF\xFE") != 0) return {};
  std::string text;
  for (std::size_t i = 2; i < bytes.size(); i += 2) {
    if (bytes[i + 1] != 0 || static_cast<unsigned char>(bytes[i]) > 0x7F) return {};
    text += bytes[i];
  }
  return text;
}

// text with each "[YYYY/MM/DD - hh:mm:ss:mmm]" stamp replaced by "{T}".
inline std::string Unstamped(const std::string& text) {
  static const std::regex kStamp(R"(\[\d{4}/\d{2}/\d{2} - \d{2}:\d{2}:\d{2}:\d{3}\])");
  return std::regex_replace(text, kStamp, "{T}");
}

// The communication log (VexoCommLog.log) in a temporary directory.
struct CommLogFile {
  CommLogFile() { EXPECT_EQ(OpenCommLog(log, 1, dir.dir()), 1); }
  // Closes the log and gives its text.
  std::string Text() {
    log.Close();
    return LogText(ReadFileBytes(dir.path() / "VexoCommLog.log"));
  }

  TempDir dir;
  LogFile log;
};

// A serial port object whose device is a fake line.
struct FakePortRig {
  explicit FakePortRig(std::uint32_t capabilities = PCF_RTSCTS | PCF_XONXOFF | PCF_TOTALTIMEOUTS)
      : line(MakeFakeLine(capabilities)) {
    PortEnvironment env;
    env.openDevice = [this](const std::string& path, int& error) -> std::unique_ptr<SerialDevice> {
      opened.push_back(path);
      if (failOpens > 0) {
        --failOpens;
        error = ENOENT;
        return nullptr;
      }
      return std::make_unique<FakeSerialDevice>(line);
    };
    env.sleep = [this](std::uint32_t ms) { sleeps.push_back(ms); };
    port = std::make_unique<WinCOMCE>(env);
    port->SetOptions({"/dev/fake-modem", "", "", false});
  }
  // Opens "COM3:" (device path from the options) and clears the pool.
  bool OpenNamed() {
    const bool ok = port->OpenComPort(nullptr, "COM3:", 0, "", false) == 1;
    TakeErrors();
    return ok;
  }

  std::shared_ptr<FakeLine> line;
  std::vector<std::string> opened;    // device paths asked for
  int failOpens = 0;                  // openings still to refuse (ENOENT)
  std::vector<std::uint32_t> sleeps;  // pause requests
  std::unique_ptr<WinCOMCE> port;
};

}  // namespace vexo::test
