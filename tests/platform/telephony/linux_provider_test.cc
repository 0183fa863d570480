// The Linux telephony provider: which devices become lines, and a pass-through
// call on a real pty that hands the device out as the call's data port.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "platform/telephony/linux_provider.h"
#include "tests/support/pty_peer.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const std::vector<SerialLine>& lines) {
  std::vector<std::string> names;
  for (const auto& l : lines) names.push_back(l.name);
  return names;
}

TEST(LinuxTelephonyLines, ByIdEntriesInNameOrderThenListedPathsOnce) {
  test::TempDir dir;
  const fs::path byId = dir.path() / "by-id";
  fs::create_directories(byId);
  test::WriteFileBytes(dir.path() / "ttyUSB0", "");
  test::WriteFileBytes(dir.path() / "ttyUSB1", "");
  fs::create_symlink(dir.path() / "ttyUSB1", byId / "usb-Zoom_Modem-if00");
  fs::create_symlink(dir.path() / "ttyUSB0", byId / "usb-Acme_Fax-if00");
  fs::create_directories(byId / "subfolder");

  const std::string other = (dir.path() / "other").string();
  const std::string listed = " " + other + " ;;  ; " + (dir.path() / "ttyUSB0").string() + ";" +
                             other + ";" + (dir.path() / "missing").string();
  const auto lines = FindSerialLines(byId.string(), listed);
  EXPECT_EQ(Names(lines), (std::vector<std::string>{"usb-Acme_Fax-if00", "usb-Zoom_Modem-if00",
                                                    other, (dir.path() / "missing").string()}));
  EXPECT_EQ(lines[0].path, (byId / "usb-Acme_Fax-if00").string());

  // No by-id folder (no USB serial device plugged in): only the listed paths.
  EXPECT_EQ(Names(FindSerialLines((dir.path() / "none").string(), other)),
            std::vector<std::string>{other});
}

// A provider over one listed device with its line open and a call asked for.
struct CalledLine {
  CalledLine(const std::string& device, const test::TempDir& dir)
      : provider(device, (dir.path() / "by-id").string()) {
    std::uint32_t devices = 0;
    EXPECT_EQ(provider.Initialize("test", version, devices), 0);
    EXPECT_EQ(devices, 1u);
    EXPECT_EQ(
        provider.Open(0, version, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM, params, line),
        0);
    request = provider.MakeCall(line, call, "", 0, params);
    EXPECT_GT(request, 0);
  }
  TapiResult GetPort(std::uint32_t size, std::uint32_t& needed,
                     std::unique_ptr<SerialDevice>& port) {
    return provider.GetID(line, call, LINECALLSELECT_CALL, kDataModemClass, size, needed, port);
  }

  LinuxTelephonyProvider provider;
  std::uint32_t version = 0x20000;
  const LineCallParams params{LINEBEARERMODE_PASSTHROUGH, LINEMEDIAMODE_DATAMODEM, 0, 0, 0, ""};
  LineHandle line = 0;
  CallHandle call = 0;
  TapiResult request = 0;
};

TEST(LinuxTelephonyProvider, OneDataLineWhosePassThroughCallHandsOutTheDevice) {
  test::TempDir dir;
  test::Pty pty;
  CalledLine called(pty.SlavePath(), dir);
  auto& provider = called.provider;
  ASSERT_NE(called.call, 0u);

  std::uint32_t version = 0, needed = 0;
  EXPECT_EQ(provider.NegotiateAPIVersion(0, 0x30000, 0x30000, version),
            LINEERR_INCOMPATIBLEAPIVERSION);
  ASSERT_EQ(provider.NegotiateAPIVersion(0, 0x10004, 0x30000, version), 0);
  EXPECT_EQ(version, 0x20000u);
  LineDevCaps caps;
  EXPECT_EQ(provider.GetDevCaps(0, version, 100, needed, caps), LINEERR_STRUCTURETOOSMALL);
  ASSERT_EQ(provider.GetDevCaps(0, version, kDevCapsFixedBytes, needed, caps), 0);
  ASSERT_EQ(provider.GetDevCaps(0, version, needed, needed, caps), 0);
  EXPECT_EQ(caps.name, pty.SlavePath());
  EXPECT_EQ(caps.bearerModes, LINEBEARERMODE_PASSTHROUGH);
  EXPECT_EQ(caps.mediaModes, LINEMEDIAMODE_DATAMODEM);
  // One line at a time, data only: no Linux device is a voice line.
  LineHandle second = 0;
  EXPECT_EQ(provider.Open(0, version, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM,
                          called.params, second),
            LINEERR_ALLOCATED);

  // The reply and the connected state at once, then nothing.
  int error = 0;
  LineMessage message;
  ASSERT_EQ(provider.WaitForEvent(1000, error), EventWait::Signalled);
  ASSERT_EQ(provider.GetMessage(message), 0);
  EXPECT_EQ(message.message, LINE_REPLY);
  EXPECT_EQ(message.param1, static_cast<std::uint32_t>(called.request));
  ASSERT_EQ(provider.GetMessage(message), 0);
  EXPECT_EQ(message.message, LINE_CALLSTATE);
  EXPECT_EQ(message.param1, LINECALLSTATE_CONNECTED);
  EXPECT_EQ(provider.GetMessage(message), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(provider.WaitForEvent(0, error), EventWait::Timeout);

  // The port is handed out once. That it is the modem itself the line
  // simulator's tests show: their jobs send through such a line.
  std::unique_ptr<SerialDevice> port, again;
  ASSERT_EQ(called.GetPort(280, needed, port), 0);
  ASSERT_TRUE(port);
  EXPECT_EQ(called.GetPort(280, needed, again), LINEERR_RESOURCEUNAVAIL);
  port.reset();

  EXPECT_GT(provider.Drop(called.call), 0);
  EXPECT_EQ(provider.DeallocateCall(called.call), 0);
  LineCallParams voice = called.params;
  voice.bearerMode = LINEBEARERMODE_VOICE;
  CallHandle voiceCall = 0;
  EXPECT_EQ(provider.MakeCall(called.line, voiceCall, "5551234", 0, voice),
            LINEERR_BEARERMODEUNAVAIL);
  EXPECT_EQ(provider.Close(called.line), 0);
  EXPECT_EQ(provider.Shutdown(), 0);
  EXPECT_EQ(provider.GetMessage(message), LINEERR_UNINITIALIZED);
}

TEST(LinuxTelephonyProvider, ACallFailsOnADeviceThatCannotOpenLongNamesNeedMoreRoom) {
  test::TempDir dir;
  CalledLine called((dir.path() / "ttyGone").string(), dir);
  EXPECT_EQ(called.call, 0u);
  LineMessage reply;
  ASSERT_EQ(called.provider.GetMessage(reply), 0);
  EXPECT_EQ(reply.message, LINE_REPLY);
  EXPECT_EQ(static_cast<TapiResult>(reply.param2), LINEERR_RESOURCEUNAVAIL);
  EXPECT_EQ(called.provider.LastOpenError(), ENOENT);
  std::unique_ptr<SerialDevice> port;
  std::uint32_t needed = 0;
  EXPECT_EQ(called.GetPort(280, needed, port), LINEERR_INVALCALLHANDLE);

  // Long device names need a larger port result.
  test::Pty pty;
  const fs::path link = dir.path() / std::string(200, 'm');
  fs::create_symlink(pty.SlavePath(), link);
  CalledLine longName(link.string(), dir);
  std::unique_ptr<SerialDevice> longPort;
  EXPECT_EQ(longName.GetPort(280, needed, longPort), LINEERR_STRUCTURETOOSMALL);
  EXPECT_GT(needed, 280u);
  EXPECT_FALSE(longPort);
  EXPECT_EQ(longName.GetPort(needed, needed, longPort), 0);
  EXPECT_TRUE(longPort);
}

}  // namespace
}  // namespace vexo
