// The Linux telephony provider: which devices become lines, and a pass-through
// call on a real pty whose data port talks to a scripted modem.
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
  EXPECT_EQ(lines[2].path, other);

  // No by-id folder (no USB serial device plugged in): only the listed paths.
  EXPECT_EQ(Names(FindSerialLines((dir.path() / "none").string(), other)),
            std::vector<std::string>{other});
  EXPECT_TRUE(FindSerialLines((dir.path() / "none").string(), "").empty());
}

// Reads from the port until text arrives or the reads give up.
std::string ReadUntil(SerialDevice& port, std::string_view text) {
  std::string got;
  for (int i = 0; i < 20 && got.find(text) == std::string::npos; ++i) {
    char buffer[64];
    std::uint32_t count = 0;
    if (!port.Read(buffer, sizeof buffer, count)) break;
    got.append(buffer, count);
  }
  return got;
}

struct PtyLine {
  test::TempDir dir;
  test::Pty pty;
  test::PtyModem modem{pty};
  LinuxTelephonyProvider provider{pty.SlavePath(), (dir.path() / "by-id").string()};
  std::uint32_t version = 0x20000;
  std::uint32_t devices = 0;
  LineCallParams params{LINEBEARERMODE_PASSTHROUGH,
                        LINEMEDIAMODE_DATAMODEM,
                        LINECALLPARAMFLAGS_IDLE,
                        LINEADDRESSMODE_ADDRESSID,
                        0,
                        ""};
};

TEST(LinuxTelephonyProvider, PassThroughCallHandsOutTheDeviceAsDataPort) {
  PtyLine rig;
  rig.modem.Answer("AT\r", "\r\nOK\r\n").Start();
  auto& provider = rig.provider;
  ASSERT_EQ(provider.Initialize("test", rig.version, rig.devices), 0);
  ASSERT_EQ(rig.devices, 1u);

  std::uint32_t version = 0;
  EXPECT_EQ(provider.NegotiateAPIVersion(1, 0x10004, 0x20000, version), LINEERR_BADDEVICEID);
  EXPECT_EQ(provider.NegotiateAPIVersion(0, 0x30000, 0x30000, version),
            LINEERR_INCOMPATIBLEAPIVERSION);
  ASSERT_EQ(provider.NegotiateAPIVersion(0, 0x10004, 0x30000, version), 0);
  EXPECT_EQ(version, 0x20000u);

  LineDevCaps caps;
  std::uint32_t needed = 0;
  EXPECT_EQ(provider.GetDevCaps(0, version, 100, needed, caps), LINEERR_STRUCTURETOOSMALL);
  ASSERT_EQ(provider.GetDevCaps(0, version, kDevCapsFixedBytes, needed, caps), 0);
  EXPECT_GT(needed, kDevCapsFixedBytes);
  EXPECT_TRUE(caps.name.empty());  // did not fit
  ASSERT_EQ(provider.GetDevCaps(0, version, needed, needed, caps), 0);
  EXPECT_EQ(caps.name, rig.pty.SlavePath());
  EXPECT_EQ(caps.bearerModes, LINEBEARERMODE_PASSTHROUGH);
  EXPECT_EQ(caps.mediaModes, LINEMEDIAMODE_DATAMODEM);

  LineHandle line = 0;
  EXPECT_EQ(provider.Open(0, version, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE,
                          rig.params, line),
            LINEERR_INVALMEDIAMODE);
  ASSERT_EQ(
      provider.Open(0, version, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM, rig.params, line),
      0);
  LineHandle second = 0;
  EXPECT_EQ(provider.Open(0, version, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM, rig.params,
                          second),
            LINEERR_ALLOCATED);

  CallHandle call = 0;
  LineCallParams voice = rig.params;
  voice.bearerMode = LINEBEARERMODE_VOICE;
  EXPECT_EQ(provider.MakeCall(line, call, "5551234", 0, voice), LINEERR_BEARERMODEUNAVAIL);
  const TapiResult request = provider.MakeCall(line, call, "", 0, rig.params);
  ASSERT_GT(request, 0);
  ASSERT_NE(call, 0u);

  int error = 0;
  LineMessage message;
  ASSERT_EQ(provider.WaitForEvent(1000, error), EventWait::Signalled);
  ASSERT_EQ(provider.GetMessage(message), 0);
  EXPECT_EQ(message.message, LINE_REPLY);
  EXPECT_EQ(message.param1, static_cast<std::uint32_t>(request));
  EXPECT_EQ(message.param2, 0u);
  ASSERT_EQ(provider.GetMessage(message), 0);
  EXPECT_EQ(message.message, LINE_CALLSTATE);
  EXPECT_EQ(message.device, call);
  EXPECT_EQ(message.param1, LINECALLSTATE_CONNECTED);
  EXPECT_EQ(provider.GetMessage(message), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(provider.WaitForEvent(0, error), EventWait::Timeout);

  std::unique_ptr<SerialDevice> port;
  EXPECT_EQ(provider.GetID(line, call, LINECALLSELECT_CALL, "comm", 280, needed, port),
            LINEERR_INVALDEVICECLASS);
  EXPECT_EQ(provider.GetID(line, call + 1, LINECALLSELECT_CALL, kDataModemClass, 280, needed, port),
            LINEERR_INVALCALLHANDLE);
  ASSERT_EQ(provider.GetID(line, call, LINECALLSELECT_CALL, kDataModemClass, 280, needed, port), 0);
  ASSERT_TRUE(port);
  std::unique_ptr<SerialDevice> again;
  EXPECT_EQ(provider.GetID(line, call, LINECALLSELECT_CALL, kDataModemClass, 280, needed, again),
            LINEERR_RESOURCEUNAVAIL);

  // The port is the modem: raw line settings, then an AT exchange.
  DCB dcb{};
  ASSERT_TRUE(port->GetCommState(dcb));
  ASSERT_TRUE(port->SetCommState(dcb));
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = 50;
  timeouts.ReadTotalTimeoutConstant = 500;
  ASSERT_TRUE(port->SetCommTimeouts(timeouts));
  std::uint32_t written = 0;
  ASSERT_TRUE(port->Write("AT\r", 3, written));
  EXPECT_EQ(written, 3u);
  EXPECT_NE(ReadUntil(*port, "OK\r\n").find("\r\nOK\r\n"), std::string::npos);
  EXPECT_TRUE(rig.modem.Finish()) << rig.modem.Failure();
  port.reset();

  EXPECT_GT(provider.Drop(call), 0);
  EXPECT_EQ(provider.DeallocateCall(call), 0);
  EXPECT_EQ(provider.DeallocateCall(call), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(provider.Close(line), 0);
  EXPECT_EQ(provider.Close(line), LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(provider.Shutdown(), 0);
  EXPECT_EQ(provider.GetMessage(message), LINEERR_UNINITIALIZED);
}

TEST(LinuxTelephonyProvider, DeviceThatCannotOpenFailsTheCallInItsReply) {
  test::TempDir dir;
  const std::string missing = (dir.path() / "ttyGone").string();
  LinuxTelephonyProvider provider(missing, (dir.path() / "by-id").string());
  std::uint32_t version = 0x20000, devices = 0;
  ASSERT_EQ(provider.Initialize("test", version, devices), 0);
  ASSERT_EQ(devices, 1u);
  LineHandle line = 0;
  const LineCallParams params{LINEBEARERMODE_PASSTHROUGH, LINEMEDIAMODE_DATAMODEM, 0, 0, 0, ""};
  ASSERT_EQ(
      provider.Open(0, version, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM, params, line), 0);
  CallHandle call = 0;
  const TapiResult request = provider.MakeCall(line, call, "", 0, params);
  ASSERT_GT(request, 0);
  EXPECT_EQ(call, 0u);
  LineMessage reply;
  ASSERT_EQ(provider.GetMessage(reply), 0);
  EXPECT_EQ(reply.message, LINE_REPLY);
  EXPECT_EQ(static_cast<TapiResult>(reply.param2), LINEERR_RESOURCEUNAVAIL);
  EXPECT_EQ(provider.LastOpenError(), ENOENT);
  std::unique_ptr<SerialDevice> port;
  std::uint32_t needed = 0;
  EXPECT_EQ(provider.GetID(line, call, LINECALLSELECT_CALL, kDataModemClass, 280, needed, port),
            LINEERR_INVALCALLHANDLE);
}

TEST(LinuxTelephonyProvider, LongDeviceNamesNeedALargerPortResult) {
  test::TempDir dir;
  test::Pty pty;
  const fs::path link = dir.path() / std::string(200, 'm');
  fs::create_symlink(pty.SlavePath(), link);
  LinuxTelephonyProvider provider(link.string(), (dir.path() / "by-id").string());
  std::uint32_t version = 0x20000, devices = 0;
  ASSERT_EQ(provider.Initialize("test", version, devices), 0);
  LineHandle line = 0;
  const LineCallParams params{LINEBEARERMODE_PASSTHROUGH, LINEMEDIAMODE_DATAMODEM, 0, 0, 0, ""};
  ASSERT_EQ(
      provider.Open(0, version, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM, params, line), 0);
  CallHandle call = 0;
  ASSERT_GT(provider.MakeCall(line, call, "", 0, params), 0);
  std::unique_ptr<SerialDevice> port;
  std::uint32_t needed = 0;
  EXPECT_EQ(provider.GetID(line, call, LINECALLSELECT_CALL, kDataModemClass, 280, needed, port),
            LINEERR_STRUCTURETOOSMALL);
  EXPECT_GT(needed, 280u);
  EXPECT_FALSE(port);
  EXPECT_EQ(provider.GetID(line, call, LINECALLSELECT_CALL, kDataModemClass, needed, needed, port),
            0);
  EXPECT_TRUE(port);
}

TEST(LineErrorTexts, KnownCodesHaveTextsOthersNone) {
  EXPECT_EQ(LineErrorText(LINEERR_REINIT).value_or(""),
            "The telephony configuration changed; initialise again.");
  EXPECT_EQ(LineErrorText(LINEERR_STRUCTURETOOSMALL).value_or(""),
            "The structure is too small for the result.");
  EXPECT_FALSE(LineErrorText(TapiCode(0x80000004)));  // no such line error
  EXPECT_FALSE(LineErrorText(TapiCode(0x80000100)));
  EXPECT_FALSE(LineErrorText(0));
}

}  // namespace
}  // namespace vexo
