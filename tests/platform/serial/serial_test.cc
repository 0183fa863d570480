// The Linux serial stand-ins on a real pty: the termios device (raw line, the
// Windows read timeouts, XON/XOFF in page data, closing) and the device lock
// file other serial programs look for.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/serial/termios_device.h"
#include "platform/serial/uucp_lock.h"
#include "tests/support/pty_peer.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;

std::unique_ptr<TermiosDevice> OpenRaw(test::Pty& pty) {
  int error = 0;
  auto device = TermiosDevice::Open(pty.SlavePath(), error);
  EXPECT_NE(device, nullptr) << error;
  if (!device) return device;
  // The serial port object's working settings: 8 data bits, no parity, "one
  // and a half" stop bits, flow control as found.
  DCB dcb;
  EXPECT_TRUE(device->GetCommState(dcb));
  dcb.BaudRate = 115200;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONE5STOPBITS;
  EXPECT_TRUE(device->SetCommState(dcb));
  return device;
}

std::string ReadAll(SerialDevice& device, std::uint32_t length) {
  std::string buffer(length, '\0');
  std::uint32_t count = 0;
  EXPECT_TRUE(device.Read(buffer.data(), length, count));
  buffer.resize(count);
  return buffer;
}

TEST(TermiosDevice, WorkingSettingsOneStopBitNotedOnceAndWaitingBytesCounted) {
  test::Pty pty;
  auto device = OpenRaw(pty);
  ASSERT_NE(device, nullptr);
  // The found settings are checked by the serial port object's pty test (its
  // DCB dump); that the raw line passes bytes unchanged, the line simulator's.
  const termios t = pty.SlaveTermios();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));

  const auto notes = device->TakeNotes();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("one stop bit"), std::string::npos);
  DCB dcb;
  ASSERT_TRUE(device->GetCommState(dcb));
  EXPECT_EQ(dcb.StopBits, ONE5STOPBITS);  // the DCB keeps what was asked
  ASSERT_TRUE(device->SetCommState(dcb));
  EXPECT_TRUE(device->TakeNotes().empty());

  dcb.BaudRate = 12345;  // no such line speed
  EXPECT_FALSE(device->SetCommState(dcb));
  EXPECT_EQ(device->LastError(), EINVAL);

  // Waiting bytes are counted; line calls a pty cannot do count as done, and
  // the output stopped by SETXOFF runs again after SETXON.
  for (std::uint32_t f : {SETDTR, CLRDTR, SETRTS, CLRRTS, SETBREAK, CLRBREAK, SETXOFF, SETXON})
    EXPECT_TRUE(device->EscapeCommFunction(f)) << f;
  EXPECT_FALSE(device->EscapeCommFunction(77));
  ASSERT_TRUE(pty.WriteAll("xyz"));
  pty.ReadQuiet(50);
  std::uint32_t errors = 99;
  COMSTAT stat{};
  EXPECT_TRUE(device->ClearCommError(errors, &stat));
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(stat.cbInQue, 3u);
  // No line error on a pty; the drained output reports the transmitter empty.
  ASSERT_TRUE(device->SetCommMask(EV_ERR | EV_BREAK | EV_TXEMPTY));
  std::uint32_t events = 0;
  EXPECT_TRUE(device->WaitCommEvent(events));
  EXPECT_EQ(events, static_cast<std::uint32_t>(EV_TXEMPTY));
}

TEST(TermiosDevice, ReadTimeoutsFollowTheDriverRules) {
  test::Pty pty;
  auto device = OpenRaw(pty);
  ASSERT_NE(device, nullptr);
  struct Step {
    COMMTIMEOUTS timeouts;
    std::string sent;  // by the modem before the read
    std::uint32_t asked;
    std::string read;
  };
  const Step steps[] = {
      // Interval MAXDWORD with no totals: what is waiting, at once.
      {{MAXDWORD, 0, 0, 0, 0}, "", 16, ""},
      // With a total the bytes that arrived are returned; a timeout is not an error.
      {{MAXDWORD, 0, 200, 0, 0}, "abc", 16, "abc"},
      {{MAXDWORD, 0, 200, 0, 0}, "", 16, ""},
      // A total timeout ends a read that got fewer bytes; the bytes are kept.
      {{0, 0, 150, 0, 0}, "12", 10, "12"},
      // The interval timeout ends a read once bytes stop coming.
      {{30, 0, 0, 0, 0}, "\r\nOK\r\n", 255, "\r\nOK\r\n"},
      // Exactly the bytes asked for.
      {{0, 0, 500, 0, 0}, "0123456789", 4, "0123"},
      {{0, 0, 500, 0, 0}, "", 6, "456789"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.read);
    ASSERT_TRUE(device->SetCommTimeouts(step.timeouts));
    ASSERT_TRUE(pty.WriteAll(step.sent));
    EXPECT_EQ(ReadAll(*device, step.asked), step.read);
  }
}

TEST(TermiosDevice, PageDataWritesPauseOnXoffButReadsNeverFilter) {
  test::Pty pty;
  auto device = OpenRaw(pty);  // the tty had IXON, so the DCB asks for output XON/XOFF
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(device->SetCommTimeouts({MAXDWORD, 0, 0, 0, 200}));

  device->SetPageDataMode(true);
  EXPECT_TRUE(pty.SlaveTermios().c_iflag & IXON);
  ASSERT_TRUE(pty.WriteAll("\x13"));  // XOFF from the modem
  pty.ReadQuiet(100);                 // let the line discipline take it
  std::uint32_t written = 0;
  ASSERT_TRUE(device->Write("page", 4, written));
  EXPECT_EQ(written, 0u);  // held back until XON
  ASSERT_TRUE(pty.WriteAll("\x11"));
  pty.ReadQuiet(50);
  ASSERT_TRUE(device->Write("page", 4, written));
  EXPECT_EQ(written, 4u);
  EXPECT_EQ(pty.ReadQuiet(100), "page");

  // The next read leaves page data mode: XON/XOFF from the modem are data again.
  EXPECT_EQ(ReadAll(*device, 8), "");
  EXPECT_FALSE(pty.SlaveTermios().c_iflag & IXON);
  ASSERT_TRUE(pty.WriteAll("\x13\x11"));
  ASSERT_TRUE(device->SetCommTimeouts({MAXDWORD, 0, 200, 0, 0}));
  EXPECT_EQ(ReadAll(*device, 8), "\x13\x11");
}

// A serial port, found with CRTSCTS off as the kernel leaves a freshly plugged
// one and reached through a by-id link, starts with the RTS/CTS handshake; a
// pty has no CTS line and never gets it. Both keep the XON/XOFF pause.
TEST(TermiosDevice, APortGetsRtsCtsThroughItsLinksAPtyNever) {
  for (const bool port : {true, false}) {
    SCOPED_TRACE(port);
    test::Pty pty;
    test::TempDir sys;
    const fs::path link = sys.path() / "usb-Modem_1234-if00";
    fs::create_symlink(pty.SlavePath(), link);
    if (port) fs::create_directories(sys.path() / fs::path(pty.SlavePath()).filename() / "device");
    int error = 0;
    auto device = TermiosDevice::Open(link.string(), error, sys.path().string());
    ASSERT_NE(device, nullptr) << error;
    DCB dcb;
    COMMPROP properties{};
    ASSERT_TRUE(device->GetCommState(dcb) && device->GetCommProperties(properties));
    EXPECT_EQ(dcb.fRtsControl == RTS_CONTROL_HANDSHAKE, port);
    EXPECT_EQ((properties.dwProvCapabilities & PCF_RTSCTS) != 0, port);
    dcb.fOutxCtsFlow = 1;  // asked for on the pty as well
    ASSERT_TRUE(device->SetCommState(dcb));
    EXPECT_EQ((pty.SlaveTermios().c_cflag & CRTSCTS) != 0, port);
    device->SetPageDataMode(true);
    EXPECT_TRUE(pty.SlaveTermios().c_iflag & IXON);
  }
}

TEST(TermiosDevice, ClosingPutsBackTheTermiosByteForByte) {
  test::Pty pty;
  const termios before = pty.SlaveTermios();
  {
    auto device = OpenRaw(pty);
    ASSERT_NE(device, nullptr);
    device->SetPageDataMode(true);
    const termios raw = pty.SlaveTermios();
    EXPECT_NE(std::memcmp(&raw, &before, sizeof raw), 0);
  }
  const termios after = pty.SlaveTermios();
  EXPECT_EQ(std::memcmp(&after, &before, sizeof after), 0);
}

TEST(TermiosDevice, OpeningFailuresAndAVanishedPeerAreErrors) {
  int error = 0;
  EXPECT_EQ(TermiosDevice::Open("/nonexistent/tty", error), nullptr);
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(TermiosDevice::Open("/dev/null", error), nullptr);  // not a tty
  EXPECT_EQ(error, ENOTTY);

  test::Pty pty;
  auto device = OpenRaw(pty);
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(device->SetCommTimeouts({0, 0, 2000, 0, 0}));
  pty.CloseMaster();
  char buffer[8];
  std::uint32_t count = 0;
  EXPECT_FALSE(device->Read(buffer, sizeof buffer, count));
  EXPECT_EQ(device->LastError(), EIO);
}

std::string Content(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  return text;
}

// A process id that is certainly not running: a child that has been reaped.
pid_t GonePid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

TEST(UucpLock, NamedAfterTheDeviceTakenWithOurPidAndRemovedAtTheEnd) {
  test::TempDir dir;
  std::string path;
  {
    UucpLock lock("/dev/ttyUSB0", dir.path().string());
    path = lock.Path();
    EXPECT_EQ(fs::path(path).filename(), "LCK..ttyUSB0");
    ASSERT_TRUE(lock.Acquire());
    EXPECT_TRUE(lock.Owned());
    EXPECT_EQ(std::stol(Content(path)), ::getpid());
    EXPECT_EQ(Content(path).size(), 10u) << "ten characters, as the other programs write it";
  }
  EXPECT_FALSE(fs::exists(path));
  // Links are followed to the device name.
  const fs::path link = dir.path() / "modem";
  fs::create_symlink("/dev/null", link);
  EXPECT_EQ(fs::path(UucpLock(link.string(), dir.path().string()).Path()).filename(), "LCK..null");
}

TEST(UucpLock, ARunningOwnerKeepsItAGoneOneLosesItAndNoDirectoryIsNoObstacle) {
  test::TempDir dir;
  UucpLock lock("/dev/ttyS3", dir.path().string());
  std::ofstream(lock.Path()) << "         1\n";  // init is always running
  EXPECT_FALSE(lock.Acquire());
  EXPECT_EQ(Content(lock.Path()), "         1") << "left as it was";

  std::ofstream(lock.Path(), std::ios::trunc) << GonePid() << "\n";
  EXPECT_TRUE(lock.Acquire());
  EXPECT_EQ(std::stol(Content(lock.Path())), ::getpid());

  // No writable lock directory is no obstacle.
  UucpLock nowhere("/dev/ttyS0", "/nonexistent/lock/dir");
  EXPECT_TRUE(nowhere.Acquire());
  EXPECT_FALSE(nowhere.Owned());
}

}  // namespace
}  // namespace vexo
