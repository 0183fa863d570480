#include "platform/serial/termios_device.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/pty_peer.h"

namespace vexo {
namespace {

// The working settings the serial port object applies: 8 data bits, no
// parity, "one and a half" stop bits, flow control as found.
DCB WorkingDcb(DCB dcb, std::uint32_t baud) {
  dcb.BaudRate = baud;
  dcb.fBinary = 1;
  dcb.fParity = 0;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONE5STOPBITS;
  return dcb;
}

std::unique_ptr<TermiosDevice> OpenRaw(test::Pty& pty) {
  int error = 0;
  auto device = TermiosDevice::Open(pty.SlavePath(), error);
  EXPECT_NE(device, nullptr) << error;
  if (!device) return device;
  DCB dcb;
  EXPECT_TRUE(device->GetCommState(dcb));
  EXPECT_TRUE(device->SetCommState(WorkingDcb(dcb, 115200)));
  return device;
}

std::string ReadAll(SerialDevice& device, std::uint32_t length) {
  std::string buffer(length, '\0');
  std::uint32_t count = 0;
  EXPECT_TRUE(device.Read(buffer.data(), length, count));
  buffer.resize(count);
  return buffer;
}

TEST(TermiosDevice, DescribesAFreshlyPluggedTtyAsFound) {
  test::Pty pty;
  const termios cooked = pty.SlaveTermios();
  ASSERT_TRUE(cooked.c_lflag & ICANON);
  ASSERT_TRUE(cooked.c_lflag & ECHO);
  ASSERT_TRUE(cooked.c_iflag & IXON);

  int error = 0;
  auto device = TermiosDevice::Open(pty.SlavePath(), error);
  ASSERT_NE(device, nullptr);
  DCB dcb;
  ASSERT_TRUE(device->GetCommState(dcb));
  EXPECT_EQ(dcb.BaudRate, 38400u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(dcb.fOutX, 1u);
  EXPECT_EQ(dcb.fInX, 0u);
  EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
  EXPECT_EQ(dcb.XonChar, 0x11);
  EXPECT_EQ(dcb.XoffChar, 0x13);

  COMMPROP properties{};
  properties.wPacketLength = kCommPropPacketLength;
  ASSERT_TRUE(device->GetCommProperties(properties));
  EXPECT_EQ(properties.wPacketLength, kCommPropPacketLength);
  EXPECT_EQ(properties.dwProvCapabilities & (PCF_RTSCTS | PCF_XONXOFF | PCF_TOTALTIMEOUTS),
            PCF_RTSCTS | PCF_XONXOFF | PCF_TOTALTIMEOUTS);
}

TEST(TermiosDevice, WorkingSettingsMakeTheTtyRawAndOneStopBitIsNotedOnce) {
  test::Pty pty;
  auto device = OpenRaw(pty);
  ASSERT_NE(device, nullptr);
  const termios t = pty.SlaveTermios();
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
  EXPECT_FALSE(t.c_iflag & (ICRNL | IXON | IXOFF | INLCR | IGNCR | ISTRIP));
  EXPECT_FALSE(t.c_oflag & OPOST);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB));
  EXPECT_TRUE(t.c_cflag & CLOCAL);
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
}

TEST(TermiosDevice, BytesPassUnchangedBothWays) {
  test::Pty pty;
  auto device = OpenRaw(pty);
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(device->SetCommTimeouts({50, 0, 1000, 0, 1000}));

  const std::string out("AT\r\n\x11\x13\x00\xFF", 8);
  std::uint32_t written = 0;
  ASSERT_TRUE(device->Write(out.data(), static_cast<std::uint32_t>(out.size()), written));
  EXPECT_EQ(written, out.size());
  EXPECT_EQ(pty.ReadQuiet(100), out);  // no CR LF mapping on output

  const std::string in("\r\nOK\r\x11\x13\x00\x7F\x03", 11);
  ASSERT_TRUE(pty.WriteAll(in));
  EXPECT_EQ(ReadAll(*device, 64), in);  // no line buffering, no mapping, XON/XOFF kept
  EXPECT_EQ(pty.ReadQuiet(50), "");     // and no echo
}

TEST(TermiosDevice, ReadTimeoutsFollowTheDriverRules) {
  test::Pty pty;
  auto device = OpenRaw(pty);
  ASSERT_NE(device, nullptr);

  // Interval MAXDWORD with no totals: what is waiting, at once.
  ASSERT_TRUE(device->SetCommTimeouts({MAXDWORD, 0, 0, 0, 0}));
  EXPECT_EQ(ReadAll(*device, 16), "");
  ASSERT_TRUE(pty.WriteAll("abc"));
  ASSERT_TRUE(device->SetCommTimeouts({MAXDWORD, 0, 200, 0, 0}));
  EXPECT_EQ(ReadAll(*device, 16), "abc");  // the bytes arrived; a timeout is not an error
  EXPECT_EQ(ReadAll(*device, 16), "");

  // A total timeout ends a read that got fewer bytes; the bytes are kept.
  ASSERT_TRUE(device->SetCommTimeouts({0, 0, 150, 0, 0}));
  ASSERT_TRUE(pty.WriteAll("12"));
  EXPECT_EQ(ReadAll(*device, 10), "12");

  // The interval timeout ends a read once bytes stop coming.
  ASSERT_TRUE(device->SetCommTimeouts({30, 0, 0, 0, 0}));
  ASSERT_TRUE(pty.WriteAll("\r\nOK\r\n"));
  EXPECT_EQ(ReadAll(*device, 255), "\r\nOK\r\n");

  // Exactly the bytes asked for.
  ASSERT_TRUE(device->SetCommTimeouts({0, 0, 500, 0, 0}));
  ASSERT_TRUE(pty.WriteAll("0123456789"));
  EXPECT_EQ(ReadAll(*device, 4), "0123");
  EXPECT_EQ(ReadAll(*device, 6), "456789");
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

TEST(TermiosDevice, ModemLineCallsAPtyCannotDoCountAsDone) {
  test::Pty pty;
  auto device = OpenRaw(pty);
  ASSERT_NE(device, nullptr);
  EXPECT_TRUE(device->EscapeCommFunction(SETDTR));
  EXPECT_TRUE(device->EscapeCommFunction(CLRRTS));
  EXPECT_FALSE(device->EscapeCommFunction(77));
  EXPECT_TRUE(device->ClearCommBreak());
  ASSERT_TRUE(pty.WriteAll("xyz"));
  pty.ReadQuiet(50);
  std::uint32_t errors = 99;
  COMSTAT stat{};
  EXPECT_TRUE(device->ClearCommError(errors, &stat));
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(stat.cbInQue, 3u);
  ASSERT_TRUE(device->SetCommMask(EV_ERR | EV_BREAK | EV_TXEMPTY));
  std::uint32_t events = 0;
  EXPECT_TRUE(device->WaitCommEvent(events));
  EXPECT_EQ(events, static_cast<std::uint32_t>(EV_TXEMPTY));
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

}  // namespace
}  // namespace vexo
