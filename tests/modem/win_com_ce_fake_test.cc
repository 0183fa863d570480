// The serial port object over the scripted fake driver: opening and closing,
// software timeouts, command timeouts, error bits, breaks and failing calls.
#include "modem/win_com_ce.h"

#include <gtest/gtest.h>

#include <array>

#include "base/log_file.h"
#include "modem/comm_log.h"
#include "tests/modem/modem_test_util.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::FakePortRig;
using test::TakeErrors;
using test::TakeMessages;

TEST(WinCOMCEOpen, NamedPortGetsTheWorkingSettingsAndKeepsTheFoundOnes) {
  FakePortRig rig;
  const DCB found = rig.line->dcb;
  const COMMTIMEOUTS foundTimeouts = rig.line->timeouts;
  rig.port->SetBaudRate(38400);
  DCB working{};
  ASSERT_EQ(rig.port->OpenComPort(&working, "COM3:", 0, "", 0), 1);
  EXPECT_TRUE(TakeErrors().empty());
  EXPECT_EQ(rig.opened, std::vector<std::string>{"/dev/fake-modem"});
  EXPECT_EQ(rig.port->IsPortOpen(), 1);
  EXPECT_EQ(rig.port->FlowControl(), 1);
  EXPECT_EQ(rig.port->SoftTimeouts(), 0);

  EXPECT_EQ(working.BaudRate, 38400u);
  EXPECT_EQ(working.ByteSize, 8);
  EXPECT_EQ(working.Parity, NOPARITY);
  EXPECT_EQ(working.StopBits, ONE5STOPBITS);
  EXPECT_EQ(working.fBinary, 1u);
  EXPECT_EQ(working.fOutxCtsFlow, found.fOutxCtsFlow);  // flow control stays as found
  EXPECT_EQ(working.fRtsControl, found.fRtsControl);
  EXPECT_EQ(rig.line->dcb, working);
  EXPECT_EQ(rig.line->timeouts, (COMMTIMEOUTS{kBasicReadIntervalMs, 0, 0, 0, 0}));
  EXPECT_EQ(rig.line->mask, 0xC0u);
  ASSERT_EQ(rig.line->queuesSet.size(), 1u);
  EXPECT_EQ(rig.line->queuesSet[0], (std::array<std::uint32_t, 2>{8192, 8192}));
  EXPECT_EQ(rig.line->escapes, std::vector<std::uint32_t>{SETDTR});

  rig.port->CloseComPort(0);
  EXPECT_TRUE(rig.line->closed);
  EXPECT_EQ(rig.port->IsPortOpen(), 0);
  // Put back in order: queues, DTR, mask, timeouts, line settings.
  ASSERT_EQ(rig.line->queuesSet.size(), 2u);
  EXPECT_EQ(rig.line->queuesSet[1], (std::array<std::uint32_t, 2>{4096, 2048}));
  EXPECT_EQ(rig.line->mask, 0x1FFu);
  EXPECT_EQ(rig.line->timeouts, foundTimeouts);
  EXPECT_EQ(rig.line->dcb, found);
  EXPECT_TRUE(rig.sleeps.empty());  // only the phone modem pauses at closing
}

TEST(WinCOMCEOpen, PortNamesResolveToDevices) {
  EXPECT_EQ(ResolvePortDevice("COM1:", ""), "/dev/ttyS0");
  EXPECT_EQ(ResolvePortDevice("COM12:", ""), "/dev/ttyS11");
  EXPECT_EQ(ResolvePortDevice("COM1:", "/dev/ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(ResolvePortDevice("/dev/pts/7", ""), "/dev/pts/7");
  EXPECT_EQ(ResolvePortDevice("COM0:", ""), "");
  EXPECT_EQ(ResolvePortDevice("LPT1:", ""), "");
  EXPECT_EQ(ResolvePortDevice("COM1", ""), "");
}

TEST(WinCOMCEOpen, FailuresReportAndCloseWhatWasOpened) {
  {
    FakePortRig rig;
    rig.failOpens = 1;
    EXPECT_EQ(rig.port->OpenComPort(nullptr, "COM3:", 0, "", 0), 0);
    const auto errors = TakeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(*errors[0].module, "WinCOMCE");
    EXPECT_EQ(*errors[0].function, "OpenComPort_Normal");
    EXPECT_EQ(errors[0].message,
              "CreateFile to open COM port failed, device not ready or COM port not available, "
              "ErrMsg =No such file or directory");
  }
  {
    FakePortRig rig;
    rig.port->SetOptions({});
    EXPECT_EQ(rig.port->OpenComPort(nullptr, "LPT1:", 0, "", 0), 0);
    EXPECT_TRUE(rig.opened.empty());
    EXPECT_EQ(TakeErrors().size(), 1u);
  }
  struct Case {
    FakeCall call;
    const char* function;
    const char* message;
  };
  for (const Case& c :
       {Case{FakeCall::GetCommProperties, "OpenComPort_Normal",
             "GetCommProperties failed, ErrMsg ="},
        Case{FakeCall::GetCommState, "GetOriginalComState", "GetCommState failed, ErrMsg ="},
        Case{FakeCall::GetCommMask, "GetOriginalComState", "GetCommMask failed, ErrMsg ="},
        Case{FakeCall::SetCommTimeouts, "SetBasicComState", "SetCommTimeouts failed, ErrMsg ="},
        Case{FakeCall::SetCommState, "SetBasicComState", "SetCommState failed, ErrMsg ="},
        Case{FakeCall::SetCommMask, "SetBasicComState", "SetCommMask failed, ErrMsg ="},
        Case{FakeCall::EscapeCommFunction, "SetBasicComState",
             "EscapeCommFunction failed, ErrMsg ="}}) {
    FakePortRig rig;
    rig.line->Fail(c.call, EIO);
    EXPECT_EQ(rig.port->OpenComPort(nullptr, "COM3:", 0, "", 0), 0) << c.message;
    EXPECT_TRUE(rig.line->closed) << c.message;
    EXPECT_EQ(rig.port->IsPortOpen(), 0);
    const auto errors = TakeErrors();
    ASSERT_EQ(errors.size(), 1u) << c.message;
    EXPECT_EQ(*errors[0].function, c.function);
    EXPECT_EQ(errors[0].message, std::string(c.message) + "Input/output error");
    EXPECT_EQ(errors[0].MessageType, 25u);
  }
}

TEST(WinCOMCEOpen, AFailedSetupCommIsOnlyAWarning) {
  FakePortRig rig;
  rig.line->Fail(FakeCall::SetupComm, EINVAL);
  EXPECT_EQ(rig.port->OpenComPort(nullptr, "COM3:", 0, "", 0), 1);
  const auto errors = TakeErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].MessageType, 26u);
  EXPECT_EQ(errors[0].message, "SetupComm failed (Warning), ErrMsg =Invalid argument");
}

TEST(WinCOMCETimeouts, ADriverWithoutTotalTimeoutsGetsSoftwareTimeouts) {
  FakePortRig rig(PCF_RTSCTS);
  const COMMTIMEOUTS found = rig.line->timeouts;
  ASSERT_TRUE(rig.OpenNamed());
  EXPECT_EQ(rig.port->SoftTimeouts(), 1);
  EXPECT_TRUE(rig.line->timeoutsSet.empty());  // nothing reached the driver

  const COMMTIMEOUTS asked{100, 0, 300, 0, 0};
  EXPECT_EQ(rig.port->SetComPortTimeouts(asked, true), 1);
  COMMTIMEOUTS back{};
  EXPECT_EQ(rig.port->GetComPortTimeouts(&back, true), 1);
  EXPECT_EQ(back, asked);
  EXPECT_TRUE(rig.line->timeoutsSet.empty());
  EXPECT_EQ(rig.line->timeouts, found);

  // The software read reads again after a pause until a byte comes.
  rig.line->input = {"", "", "OK"};
  char buffer[8];
  std::uint32_t count = 0;
  EXPECT_EQ(rig.port->ReadComDataSYN(0, buffer, sizeof buffer, &count, 0), 1);
  EXPECT_EQ(std::string(buffer, count), "OK");
  EXPECT_EQ(rig.line->CallCount(FakeCall::Read), 3u);

  // Nothing within the allowed time: a success with no byte.
  const auto readsBefore = rig.line->CallCount(FakeCall::Read);
  EXPECT_EQ(rig.port->ReadComDataSYN(0, buffer, sizeof buffer, &count, 0), 1);
  EXPECT_EQ(count, 0u);
  EXPECT_GE(rig.line->CallCount(FakeCall::Read) - readsBefore, 2u);

  // Writes without driver timeouts go through the software write as well.
  rig.line->writeLimit = 0;
  EXPECT_EQ(rig.port->SetComPortTimeouts({0, 0, 0, 0, 250}, true), 1);
  EXPECT_EQ(rig.port->WriteComDataSYN(0, "AT\r", 3, &count, kTransferAll), 0);
  EXPECT_GE(rig.line->CallCount(FakeCall::Write), 2u);
  EXPECT_EQ(TakeMessages(),
            std::vector<std::string>{"Timeout occurred waiting for writing data to serial port."});

  rig.port->CloseComPort(0);
  EXPECT_TRUE(rig.line->timeoutsSet.empty());  // put back from the software copy
}

TEST(WinCOMCECommands, WriteTimeoutsGrowWithTheCommandLength) {
  FakePortRig rig;
  ASSERT_TRUE(rig.OpenNamed());
  const COMMTIMEOUTS before = rig.line->timeouts;
  rig.line->timeoutsSet.clear();

  const std::string shortCommand(100, 'A');
  EXPECT_EQ(rig.port->WriteCommandA(shortCommand.c_str(), 0, 0), 1);
  ASSERT_EQ(rig.line->timeoutsSet.size(), 2u);
  EXPECT_EQ(rig.line->timeoutsSet[0], (COMMTIMEOUTS{0, 0, 0, 0, 5000}));
  EXPECT_EQ(rig.line->timeoutsSet[1], before);

  const std::string longWrite(1200, 'B');
  EXPECT_EQ(rig.port->WriteCommandA(longWrite.data(), 1200, 0), 1);
  ASSERT_EQ(rig.line->timeoutsSet.size(), 4u);
  EXPECT_EQ(rig.line->timeoutsSet[2], (COMMTIMEOUTS{0, 0, 0, 2, 5000}));
  EXPECT_EQ(rig.line->timeoutsSet[3], before);
  EXPECT_EQ(rig.line->written, shortCommand + longWrite);
  EXPECT_EQ(rig.line->mask, 0xC0u);  // the write's mask was put back
}

TEST(WinCOMCECommands, CommandTextsGetACarriageReturnAndMustFit) {
  FakePortRig rig;
  ASSERT_TRUE(rig.OpenNamed());
  EXPECT_EQ(rig.port->WriteCommand("ATZ", 0), 1);
  EXPECT_EQ(rig.port->WriteCommand("", 0), 0);
  EXPECT_EQ(rig.port->WriteCommand(nullptr, 0), 0);
  EXPECT_EQ(rig.port->WriteCommandF("AT+FCLASS=%s", "1", 0), 1);
  EXPECT_EQ(rig.port->WriteCommandF("ATD%s", nullptr, 0), 1);
  EXPECT_EQ(rig.port->WriteCommandF("AT%%F%d", "x", 0), 1);  // only %s takes the argument
  EXPECT_EQ(std::string(rig.port->CommandBuffer()), "AT%F%d\r");
  EXPECT_EQ(rig.port->WriteComDataSYN(0, nullptr, 7, nullptr, kTransferAll), 1);
  const std::string fits(250, '9');
  EXPECT_EQ(rig.port->WriteCommandF("ATD%s", fits.c_str(), 0), 1);
  const std::string tooLong(253, '9');
  EXPECT_EQ(rig.port->WriteCommandF("ATD%s", tooLong.c_str(), 0), 0);
  EXPECT_EQ(rig.port->WriteCommand(std::string(256, 'A').c_str(), 0), 0);
  EXPECT_EQ(rig.line->written, "ATZ\rAT+FCLASS=1\rATD\rAT%F%d\rAT%F%d\rATD" + fits + "\r");
}

TEST(WinCOMCECommands, WaitingInputIsReadAndDumpedBeforeTheCommand) {
  test::TempDir dir;
  LogFile log;
  ASSERT_EQ(OpenCommLog(log, 1, dir.dir()), 1);
  FakePortRig rig;
  rig.port->SetLog(&log);
  rig.port->SetCommLog(1);
  ASSERT_TRUE(rig.OpenNamed());
  rig.line->input = {std::string(300, 'x') + "RING\r\n"};
  EXPECT_EQ(rig.port->WriteCommandA("ATA\r", 0, kClearInput), 1);
  EXPECT_TRUE(rig.line->input.empty());
  EXPECT_EQ(rig.line->written, "ATA\r");
  log.Close();
  const std::string text = test::LogText(test::ReadFileBytes(dir.path() / "VexoCommLog.log"));
  const auto first = text.find("-- Read: (Clear Buffer) Successful.\r\n");
  ASSERT_NE(first, std::string::npos);
  const auto second = text.find("-- Read: (Clear Buffer) Successful.\r\n", first + 1);
  ASSERT_NE(second, std::string::npos);
  EXPECT_NE(text.find("-- Write: Successful.\r\n41 54 41 0D", second), std::string::npos);
}

TEST(WinCOMCELineErrors, ErrorBitsAreReportedInTableOrder) {
  FakePortRig rig;
  ASSERT_TRUE(rig.OpenNamed());
  rig.line->pendingErrors = CE_OVERRUN | CE_FRAME;
  EXPECT_EQ(rig.port->WriteCommand("AT", 0), 0);
  EXPECT_EQ(rig.line->written, "");
  auto errors = TakeErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(*errors[0].function, "ReportComPortError");
  EXPECT_EQ(errors[0].message, "Communication device error: Framing error, Overrun error.");

  rig.port->ReportComPortError(0x20);
  rig.port->ReportComPortError(CE_BREAK | CE_RXOVER | CE_RXPARITY | CE_TXFULL);
  EXPECT_EQ(TakeMessages(),
            (std::vector<std::string>{
                "Communication device error: Unexpected error code = 0x00000020.",
                "Communication device error: Break condition, Input buffer overflow, Parity "
                "error, Output buffer full."}));

  // Flag 4 skips the look at the line; quiet reports nothing.
  rig.line->pendingErrors = CE_FRAME;
  EXPECT_EQ(rig.port->WriteCommand("AT", kSkipLineCheck), 1);
  rig.line->pendingErrors = CE_FRAME;
  EXPECT_EQ(rig.port->WriteCommand("AT", kQuiet), 0);
  EXPECT_TRUE(TakeErrors().empty());
}

TEST(WinCOMCELineErrors, ABreakDuringAPartialWriteEndsIt) {
  FakePortRig rig;
  ASSERT_TRUE(rig.OpenNamed());
  rig.line->writeLimit = 2;
  rig.line->pendingEvents = EV_BREAK;
  std::uint32_t count = 0;
  EXPECT_EQ(rig.port->WriteComDataSYN(1, "ABCDEF", 6, &count, kTransferAll), 0);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(rig.line->CallCount(FakeCall::ClearCommBreak), 1u);
  EXPECT_EQ(TakeMessages(),
            std::vector<std::string>{"Communication device error: Break condition."});
  EXPECT_EQ(rig.line->masksSet.back(), 0xC0u);  // the mask is put back on failure too
  EXPECT_TRUE(rig.line->pageDataMode);          // page data was being written

  // Without events the partial writes go on until everything went.
  EXPECT_EQ(rig.port->WriteComDataSYN(0, "ABCDEF", 6, &count, kTransferAll), 1);
  EXPECT_EQ(count, 6u);
  EXPECT_FALSE(rig.line->pageDataMode);
  // An error event with error bits ends the write as well.
  rig.line->pendingEvents = EV_ERR;
  rig.line->pendingErrors = CE_RXPARITY;
  EXPECT_EQ(rig.port->WriteComDataSYN(0, "ABCDEF", 6, &count, kTransferAll), 0);
  EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Communication device error: Parity error."});
  // Without flag 1 the first write is the whole result.
  EXPECT_EQ(rig.port->WriteComDataSYN(0, "ABCDEF", 6, &count, 0), 1);
  EXPECT_EQ(count, 2u);
}

TEST(WinCOMCELineErrors, FailingTransfersAreReportedUnlessQuiet) {
  FakePortRig rig;
  ASSERT_TRUE(rig.OpenNamed());
  char buffer[16];
  std::uint32_t count = 7;
  rig.line->Fail(FakeCall::Read, EIO, 2);
  EXPECT_EQ(rig.port->ReadComDataSYN(0, buffer, sizeof buffer, &count, 0), 0);
  EXPECT_EQ(rig.port->ReadComDataSYN(0, buffer, sizeof buffer, &count, kQuiet), 0);
  EXPECT_EQ(TakeMessages(),
            std::vector<std::string>{"ReadFile from COM failed, device not ready or COM port not "
                                     "available, ErrMsg =Input/output error"});
  rig.line->Fail(FakeCall::Write, EPIPE);
  EXPECT_EQ(rig.port->WriteComDataSYN(0, "AT", 2, &count, 0), 0);
  EXPECT_EQ(TakeMessages(),
            std::vector<std::string>{"WriteFile to COM failed, device not ready or COM port not "
                                     "available, ErrMsg =Broken pipe"});
  // A failed command write is reported even when the command was quiet.
  rig.line->Fail(FakeCall::Write, EPIPE);
  EXPECT_EQ(rig.port->WriteCommand("AT", kQuiet), 0);
  EXPECT_EQ(TakeErrors().size(), 1u);
  rig.line->Fail(FakeCall::GetCommMask, EIO);
  EXPECT_EQ(rig.port->WriteComDataSYN(0, "AT", 2, &count, 0), 0);
  EXPECT_EQ(TakeMessages(),
            std::vector<std::string>{"GetCommMask failed, ErrMsg =Input/output error"});

  // Reading everything asked for: silence is a failure.
  rig.line->input = {"ab"};
  EXPECT_EQ(rig.port->SetComPortTimeouts({0, 0, 20, 0, 0}, true), 1);
  EXPECT_EQ(rig.port->ReadComDataSYN(0, buffer, 4, &count, kTransferAll), 0);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(TakeMessages(), std::vector<std::string>{
                                "Timeout occurred waiting for reading data from serial port."});
  EXPECT_EQ(rig.port->ReadComDataSYN(0, buffer, 0, &count, kTransferAll), 1);
  rig.port->CloseComPort(0);
  EXPECT_EQ(rig.port->ReadComDataSYN(0, buffer, 4, &count, kQuiet), 0);
  EXPECT_EQ(rig.port->WriteCommand("AT", kQuiet), 0);
}

TEST(WinCOMCEReadResult, LinesAreUpperCasedAndUnsolicitedLinesDropped) {
  FakePortRig rig;
  ASSERT_TRUE(rig.OpenNamed());
  std::array<char*, 10> lines{};
  rig.line->input = {"\r\nok\r\n"};
  ASSERT_EQ(rig.port->ReadResultA(nullptr, 256, lines, 500, true), 1);
  EXPECT_STREQ(lines[0], "OK");

  rig.line->input = {"\r\n", "\r\nCONNECT 9600\r\n"};  // only CR LF: read again
  ASSERT_EQ(rig.port->ReadResultA(nullptr, 256, lines, 500, true), 1);
  EXPECT_STREQ(lines[0], "CONNECT 9600");

  rig.line->input = {"\r\n+FCON\r\n+CBM: 20,50\r\nbroadcast text\r\n+CRG: VOICE\r\nOK\r\n"};
  ASSERT_EQ(rig.port->ReadResultA(nullptr, 256, lines, 500, true), 2);
  EXPECT_STREQ(lines[0], "+FCON");
  EXPECT_STREQ(lines[1], "OK");

  // The other readers keep "+CRG:" lines.
  rig.line->input = {"+CRG: FAX\r\nOK\r\n"};
  ASSERT_EQ(rig.port->ReadResultExxA(nullptr, 0, 256, lines, 500, 0, true), 2);
  EXPECT_STREQ(lines[0], "+CRG: FAX");

  // At most the lines asked for are stored.
  rig.line->input = {"A\rB\rC\rD\r"};
  ASSERT_EQ(rig.port->ReadResultA(nullptr, 256, std::span<char*>(lines).first(2), 500, true), 2);
  EXPECT_STREQ(lines[1], "B");
  EXPECT_TRUE(TakeErrors().empty());
}

TEST(WinCOMCEReadResult, KeptBytesJoinTheFirstRead) {
  FakePortRig rig;
  ASSERT_TRUE(rig.OpenNamed());
  char buffer[32] = "+FHS";
  std::array<char*, 4> lines{};
  rig.line->input = {":4A\r\n"};
  ASSERT_EQ(rig.port->ReadResultExxA(buffer, 4, sizeof buffer, lines, 500, 100, true), 1);
  EXPECT_STREQ(lines[0], "+FHS:4A");
  EXPECT_EQ(rig.line->timeouts.ReadIntervalTimeout, kBasicReadIntervalMs);  // put back

  // Kept bytes beyond the buffer are clamped, never read past.
  char small[8] = "ABCDEFG";
  rig.line->input = {"\r"};
  EXPECT_EQ(rig.port->ReadResultExxA(small, 100, sizeof small, lines, 500, 0, true), 1);
}

TEST(WinCOMCEReadResult, XonEndsTheWaitEvenWithoutALine) {
  FakePortRig rig;
  ASSERT_TRUE(rig.OpenNamed());
  std::array<char*, 4> lines{};
  int xon = 5;
  rig.line->input = {"\r\nCONNECT\r\n\x11"};
  EXPECT_EQ(rig.port->ReadResultWithXONA(nullptr, 256, lines, 500, &xon), 1);
  EXPECT_EQ(xon, 1);
  rig.line->input = {"\x11"};
  EXPECT_EQ(rig.port->ReadResultWithXONA(nullptr, 256, lines, 500, &xon), 0);
  EXPECT_EQ(xon, 1);
  rig.line->input = {"OK\r\n"};
  EXPECT_EQ(rig.port->ReadResultWithXONA(nullptr, 256, lines, 500, &xon), 1);
  EXPECT_EQ(xon, 0);
}

TEST(WinCOMCEReadResult, FailuresAndTimeouts) {
  FakePortRig rig;
  ASSERT_TRUE(rig.OpenNamed());
  std::array<char*, 4> lines{};
  EXPECT_EQ(rig.port->ReadResultA(nullptr, 256, lines, 30, true), 0);
  rig.line->Fail(FakeCall::Read, EIO);
  EXPECT_EQ(rig.port->ReadResultA(nullptr, 256, lines, 30, false), -1);
  EXPECT_TRUE(TakeErrors().empty());
  rig.line->Fail(FakeCall::GetCommTimeouts, EIO);
  EXPECT_EQ(rig.port->ReadResultA(nullptr, 256, lines, 30, true), -1);
  EXPECT_EQ(TakeMessages(),
            std::vector<std::string>{"GetCommTimeouts failed, ErrMsg =Input/output error"});
  rig.line->Fail(FakeCall::SetCommTimeouts, EIO);
  EXPECT_EQ(rig.port->ReadResultA(nullptr, 256, lines, 30, true), -1);
  EXPECT_EQ(TakeErrors().size(), 1u);
}

// A radio switch and data connections that record what was asked of them.
struct RecordingRadio : RadioControl {
  std::vector<std::string> calls;
  bool openFails = false;
  bool Open() override {
    calls.push_back("open");
    return !openFails;
  }
  void Close() override { calls.push_back("close"); }
  bool SetMessageDelivery(bool on, std::uint32_t& result, std::uint32_t& returned) override {
    calls.push_back(on ? "sms on" : "sms off");
    result = 0x1234;
    returned = 4;
    return true;
  }
  bool CommandPortControl(std::uint32_t code, std::span<const std::uint8_t> input) override {
    calls.push_back(code == kPhonePortControlCode && input.size() == 2 && input[0] == 0x84 &&
                            input[1] == 0
                        ? "port control"
                        : "bad port control");
    return false;
  }
};

struct RecordingConnections : DataConnections {
  std::vector<DataConnection> up;
  std::vector<std::string> hungUp;
  bool Enumerate(std::vector<DataConnection>& out) override {
    out = up;
    return true;
  }
  bool HangUp(const DataConnection& connection) override {
    hungUp.push_back(connection.entryName);
    std::erase_if(up, [&](const DataConnection& c) { return c.id == connection.id; });
    return true;
  }
};

struct PhoneRig {
  RecordingRadio radio;
  RecordingConnections connections;
  std::shared_ptr<FakeLine> command = MakeFakeLine(PCF_RTSCTS | PCF_TOTALTIMEOUTS);
  std::shared_ptr<FakeLine> data = MakeFakeLine(PCF_RTSCTS | PCF_TOTALTIMEOUTS);
  std::vector<std::uint32_t> sleeps;
  // The data port stays busy while a packet-data connection holds the radio.
  std::function<bool()> dataBusy = [this] { return !connections.up.empty(); };
  test::TempDir dir;
  LogFile log;
  std::unique_ptr<WinCOMCE> port;

  PhoneRig() {
    PortEnvironment env;
    env.openDevice = [this](const std::string& path, int& error) -> std::unique_ptr<SerialDevice> {
      if (path == "/dev/ttyUSB2" && dataBusy()) {
        error = EBUSY;
        return nullptr;
      }
      return std::make_unique<FakeSerialDevice>(path == "/dev/ttyUSB2" ? data : command);
    };
    env.radio = &radio;
    env.dataConnections = &connections;
    env.sleep = [this](std::uint32_t ms) { sleeps.push_back(ms); };
    port = std::make_unique<WinCOMCE>(env);
    port->SetOptions({"", "/dev/ttyUSB1", "/dev/ttyUSB2", false});
    OpenCommLog(log, 1, dir.dir());
    port->SetLog(&log);
  }
  std::string LogTextNow() {
    log.Close();
    return test::LogText(test::ReadFileBytes(dir.path() / "VexoCommLog.log"));
  }
};

TEST(WinCOMCEPhoneModem, OpensBothPortsAtItsBaudAndSwitchesMessagesOffAndOn) {
  PhoneRig rig;
  rig.port->SetBaudRate(19200);
  DCB working{};
  ASSERT_EQ(rig.port->OpenComPort(&working, "", 0, "", 1), 1);
  EXPECT_EQ(rig.port->PhoneModem(), 1);
  EXPECT_EQ(working.BaudRate, kPhoneModemBaud);
  EXPECT_EQ(rig.port->BaudRate(), kPhoneModemBaud);  // kept for later openings
  EXPECT_EQ(rig.data->dcb.BaudRate, kPhoneModemBaud);
  EXPECT_EQ(rig.radio.calls,
            (std::vector<std::string>{"port control", "open", "sms off", "close"}));

  // Commands go to the command port, page data to the data port.
  EXPECT_EQ(rig.port->WriteCommand("AT", 0), 1);
  EXPECT_EQ(rig.port->WriteComDataSYN(1, "page", 4, nullptr, kTransferAll), 1);
  EXPECT_EQ(rig.command->written, "AT\r");
  EXPECT_EQ(rig.data->written, "page");
  // Timeouts reach both ports.
  EXPECT_EQ(rig.port->SetComPortTimeouts({1, 2, 3, 4, 5}, true), 1);
  EXPECT_EQ(rig.data->timeouts, (COMMTIMEOUTS{1, 2, 3, 4, 5}));

  rig.port->CloseComPort(1);
  EXPECT_TRUE(rig.command->closed);
  EXPECT_TRUE(rig.data->closed);
  EXPECT_EQ(rig.radio.calls.back(), "close");
  EXPECT_EQ(rig.radio.calls[rig.radio.calls.size() - 2], "sms on");
  EXPECT_EQ(rig.sleeps, std::vector<std::uint32_t>{kPhoneClosePauseMs});
  const std::string text = rig.LogTextNow();
  EXPECT_NE(text.find("\tDebug: DeviceIoControl failed\r\n\r\n"), std::string::npos);
  EXPECT_NE(text.find("\tDebug: Disable RIL SMS success, rildevresult=0x1234, nReturned=4\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("\tDebug: Enable RIL SMS success, rildevresult=0x1234, nReturned=4\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("\tDebug: m_CommDCB_Data dump: BaudRate=19200, fOutxCtsFlow=0x1, "),
            std::string::npos);
  EXPECT_NE(text.find("\tDebug: COMMPROP_Data dump: wPacketLength=64, "), std::string::npos);
}

TEST(WinCOMCEPhoneModem, AGprsConnectionIsHungUpAndTheOpeningTriedAgain) {
  PhoneRig rig;
  rig.connections.up = {{1, "Internet"}, {2, "My GPRS"}, {3, "gprs backup"}};
  rig.dataBusy = [&] {
    return std::any_of(rig.connections.up.begin(), rig.connections.up.end(),
                       [](const DataConnection& c) { return c.id == 2; });
  };
  ASSERT_EQ(rig.port->OpenComPort(nullptr, "", 0, "", 1), 1);
  EXPECT_EQ(rig.connections.hungUp, std::vector<std::string>{"My GPRS"});
  // The first attempt's command port was closed again before the second one.
  const std::string text = rig.LogTextNow();
  EXPECT_NE(text.find("\tDebug: Open COM9: port failed\r\n"), std::string::npos);
  EXPECT_NE(text.find("\tEnum RAS conn(0): Internet\r\n"), std::string::npos);
  EXPECT_NE(text.find("\tEnum RAS conn(2): gprs backup\r\n"), std::string::npos);
  EXPECT_NE(text.find("\tRasHangUp on Ras Conn: My GPRS\r\n"), std::string::npos);
}

TEST(WinCOMCEPhoneModem, WithoutAMatchingConnectionTheOpeningFails) {
  PhoneRig rig;
  rig.connections.up = {{1, "Internet"}};
  EXPECT_EQ(rig.port->OpenComPort(nullptr, "", 0, "", 1), 0);
  EXPECT_TRUE(rig.connections.hungUp.empty());
  EXPECT_EQ(rig.port->IsPortOpen(), 0);
  EXPECT_EQ(rig.port->PhoneModem(), 0);
  EXPECT_TRUE(rig.command->closed);

  // CloseAllRasConn hangs every connection up.
  rig.port->SetOptions({"", "/dev/ttyUSB1", "/dev/ttyUSB2", true});
  rig.connections.up = {{1, "Internet"}, {2, "Work"}};
  EXPECT_EQ(rig.port->OpenComPort(nullptr, "", 0, "", 1), 1);
  EXPECT_EQ(rig.connections.hungUp, (std::vector<std::string>{"Internet", "Work"}));
  rig.port->CloseComPort(1);

  // No command device configured: the usual message, nothing opened.
  rig.port->SetOptions({});
  TakeErrors();
  EXPECT_EQ(rig.port->OpenComPort(nullptr, "", 0, "", 1), 0);
  const auto messages = TakeMessages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages[0], "Fail to OpenModem");
}

TEST(WinCOMCEPhoneModem, ARadioThatCannotBeOpenedFailsTheOpening) {
  PhoneRig rig;
  rig.radio.openFails = true;
  EXPECT_EQ(rig.port->OpenComPort(nullptr, "", 0, "", 1), 0);
  EXPECT_TRUE(rig.command->closed);
  EXPECT_TRUE(rig.data->closed);
  EXPECT_NE(rig.LogTextNow().find("\tDebug: Open RIL1: port failed\r\n"), std::string::npos);
}

struct FakeTelephony : TelephonyPort {
  std::shared_ptr<FakeLine> line = MakeFakeLine(PCF_RTSCTS | PCF_TOTALTIMEOUTS);
  std::vector<std::string> calls;
  bool give = true;
  std::unique_ptr<SerialDevice> OpenLine(std::uint32_t index, std::string_view number) override {
    calls.push_back("open " + std::to_string(index) + " " + std::string(number));
    if (!give) return nullptr;
    return std::make_unique<FakeSerialDevice>(line);
  }
  void CloseLine(std::unique_ptr<SerialDevice> port) override {
    calls.push_back(port ? "close" : "close nothing");
  }
};

TEST(WinCOMCETelephony, ALineIsOpenedAndHandedBackThroughTheHook) {
  FakeTelephony telephony;
  PortEnvironment env;
  env.telephony = &telephony;
  WinCOMCE port(env);
  ASSERT_EQ(port.OpenComPort(nullptr, "", 2, "5551234", 1), 1);
  EXPECT_EQ(port.PhoneModem(), 0);
  EXPECT_EQ(port.WriteCommand("ATA", 0), 1);
  EXPECT_EQ(telephony.line->written, "ATA\r");
  port.CloseComPort(1);
  EXPECT_EQ(telephony.calls, (std::vector<std::string>{"open 2 5551234", "close"}));
  EXPECT_EQ(telephony.line->dcb.StopBits, ONESTOPBIT);  // put back before the hand-back

  telephony.give = false;
  EXPECT_EQ(port.OpenComPort(nullptr, "", 2, "", 1), 0);
  EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Fail to OpenModem"});
}

}  // namespace
}  // namespace vexo

namespace vexo {
namespace {

TEST(WinCOMCEDump, WithTheDumpFlagOffOnlyDebugLinesAreWritten) {
  test::TempDir dir;
  LogFile log;
  ASSERT_EQ(OpenCommLog(log, 1, dir.dir()), 1);
  test::FakePortRig rig;
  rig.port->SetLog(&log);
  ASSERT_TRUE(rig.OpenNamed());
  EXPECT_EQ(rig.port->WriteCommand("AT", 0), 1);
  rig.port->SetCommLog(1);
  rig.line->input = {"\r\nOK\r\n"};
  std::array<char*, 4> lines{};
  EXPECT_EQ(rig.port->ReadResultA(nullptr, 256, lines, 500, true), 1);
  log.Close();
  const std::string text = test::LogText(test::ReadFileBytes(dir.path() / "VexoCommLog.log"));
  EXPECT_NE(text.find("\tDebug: ProvCapability = 52, flowctrl=1, softtimeout=0\r\n\r\n"),
            std::string::npos);
  EXPECT_EQ(text.find("-- Write:"), std::string::npos);
  EXPECT_NE(text.find("-- Read: Successful.\r\n0D 0A 4F 4B 0D 0A"), std::string::npos);
}

}  // namespace
}  // namespace vexo
