// The serial port object over the scripted fake driver: opening and closing,
// software timeouts, command timeouts, error bits, breaks and failing calls.
#include "modem/win_com_ce.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

#include "tests/modem/modem_test_util.h"

namespace vexo {
namespace {

using test::FakePortRig;
using test::TakeErrors;
using test::TakeMessages;
using test::TakeReports;
using ::testing::HasSubstr;

TEST(WinCOMCEOpen, NamedPortGetsTheWorkingSettingsAndKeepsTheFoundOnesNamesResolve) {
  FakePortRig rig;
  rig.line->dcb.fOutxCtsFlow = 0;  // found without the RTS/CTS handshake
  rig.line->dcb.fRtsControl = RTS_CONTROL_ENABLE;
  const DCB found = rig.line->dcb;
  const COMMTIMEOUTS foundTimeouts = rig.line->timeouts;
  rig.port->SetBaudRate(38400);
  DCB working{};
  ASSERT_EQ(rig.port->OpenComPort(&working, "COM3:", 0, "", false), 1);
  EXPECT_TRUE(TakeErrors().empty());
  EXPECT_EQ(rig.opened, std::vector<std::string>{"/dev/fake-modem"});
  EXPECT_EQ(rig.port->SoftTimeouts(), 0);
  EXPECT_EQ(working.BaudRate, 38400u);
  EXPECT_EQ(working.StopBits, ONE5STOPBITS);
  EXPECT_EQ(working.fOutxCtsFlow, found.fOutxCtsFlow);  // flow control stays as found
  EXPECT_EQ(rig.line->dcb, working);
  EXPECT_EQ(rig.line->timeouts, (COMMTIMEOUTS{kBasicReadIntervalMs, 0, 0, 0, 0}));
  EXPECT_EQ(rig.line->mask, 0xC0u);
  ASSERT_EQ(rig.line->queuesSet.size(), 1u);
  EXPECT_EQ(rig.line->queuesSet[0], (std::array<std::uint32_t, 2>{8192, 8192}));
  EXPECT_EQ(rig.line->escapes, std::vector<std::uint32_t>{SETDTR});
  // Once the modem paces with CTS (Class 2.0 "AT+FLO=2") the port asks for it.
  ASSERT_EQ(rig.port->UseHardwareFlowControl(), 1);
  working.fOutxCtsFlow = 1;
  working.fRtsControl = RTS_CONTROL_HANDSHAKE;
  EXPECT_EQ(rig.line->dcb, working);

  rig.port->CloseComPort(false);
  EXPECT_TRUE(rig.line->closed);
  // Put back in order: queues, DTR, mask, timeouts, line settings.
  ASSERT_EQ(rig.line->queuesSet.size(), 2u);
  EXPECT_EQ(rig.line->queuesSet[1], (std::array<std::uint32_t, 2>{4096, 2048}));
  EXPECT_EQ(rig.line->mask, 0x1FFu);
  EXPECT_EQ(rig.line->timeouts, foundTimeouts);
  EXPECT_EQ(rig.line->dcb, found);
  EXPECT_TRUE(rig.sleeps.empty());  // only the phone modem pauses at closing

  // Port names resolve to devices.
  EXPECT_EQ(ResolvePortDevice("COM1:", ""), "/dev/ttyS0");
  EXPECT_EQ(ResolvePortDevice("COM1:", "/dev/ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(ResolvePortDevice("/dev/pts/7", ""), "/dev/pts/7");
  EXPECT_EQ(ResolvePortDevice("COM0:", ""), "");
  EXPECT_EQ(ResolvePortDevice("COM1", ""), "");
}

TEST(WinCOMCEOpen, FailuresReportAndCloseWhatWasOpened) {
  {
    FakePortRig rig;
    rig.failOpens = 1;
    EXPECT_EQ(rig.port->OpenComPort(nullptr, "COM3:", 0, "", false), 0);
    const auto errors = TakeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(*errors[0].function, "OpenComPort_Normal");
    EXPECT_EQ(errors[0].message,
              "CreateFile to open COM port failed, device not ready or COM port not available, "
              "ErrMsg =No such file or directory");
  }
  {
    FakePortRig rig;
    rig.port->SetOptions({});
    EXPECT_EQ(rig.port->OpenComPort(nullptr, "LPT1:", 0, "", false), 0);
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
        Case{FakeCall::SetCommTimeouts, "SetBasicComState", "SetCommTimeouts failed, ErrMsg ="},
        Case{FakeCall::SetCommState, "SetBasicComState", "SetCommState failed, ErrMsg ="},
        Case{FakeCall::EscapeCommFunction, "SetBasicComState",
             "EscapeCommFunction failed, ErrMsg ="}}) {
    FakePortRig rig;
    rig.line->Fail(c.call, EIO);
    EXPECT_EQ(rig.port->OpenComPort(nullptr, "COM3:", 0, "", false), 0) << c.message;
    EXPECT_TRUE(rig.line->closed) << c.message;
    const auto errors = TakeErrors();
    ASSERT_EQ(errors.size(), 1u) << c.message;
    EXPECT_EQ(*errors[0].function, c.function);
    EXPECT_EQ(errors[0].message, std::string(c.message) + "Input/output error");
    EXPECT_EQ(errors[0].MessageType, 25u);
  }
  // A failed SetupComm is only a warning.
  FakePortRig rig;
  rig.line->Fail(FakeCall::SetupComm, EINVAL);
  EXPECT_EQ(rig.port->OpenComPort(nullptr, "COM3:", 0, "", false), 1);
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

  EXPECT_EQ(rig.port->SetComPortTimeouts({100, 0, 300, 0, 0}, true), 1);
  EXPECT_EQ(rig.line->timeouts, found);

  // The software read reads again after a pause until a byte comes.
  rig.line->input = {"", "", "OK"};
  char buffer[8];
  std::uint32_t count = 0;
  EXPECT_EQ(rig.port->ReadComDataSYN(Channel::Command, buffer, sizeof buffer, &count, 0), 1);
  EXPECT_EQ(std::string(buffer, count), "OK");
  EXPECT_EQ(rig.line->CallCount(FakeCall::Read), 3u);

  // Nothing within the allowed time: a success with no byte.
  const auto readsBefore = rig.line->CallCount(FakeCall::Read);
  EXPECT_EQ(rig.port->ReadComDataSYN(Channel::Command, buffer, sizeof buffer, &count, 0), 1);
  EXPECT_EQ(count, 0u);
  EXPECT_GE(rig.line->CallCount(FakeCall::Read) - readsBefore, 2u);

  // Writes without driver timeouts go through the software write as well.
  rig.line->writeLimit = 0;
  EXPECT_EQ(rig.port->SetComPortTimeouts({0, 0, 0, 0, 250}, true), 1);
  EXPECT_EQ(rig.port->WriteComDataSYN(Channel::Command, "AT\r", 3, &count, kTransferAll), 0);
  EXPECT_GE(rig.line->CallCount(FakeCall::Write), 2u);
  EXPECT_EQ(TakeMessages(),
            std::vector<std::string>{"Timeout occurred waiting for writing data to serial port."});

  rig.port->CloseComPort(false);
  EXPECT_TRUE(rig.line->timeoutsSet.empty());  // put back from the software copy
}

TEST(WinCOMCECommands, WriteTimeoutsGrowWithTheLengthAndCommandTextsMustFit) {
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

  {  // A caller's own change is put back at the end of its scope.
    const ScopedComPortTimeouts scoped(*rig.port, true);
    ASSERT_TRUE(scoped.saved());
    EXPECT_EQ(rig.port->SetComPortTimeouts({1, 2, 3, 4, 5}, true), 1);
  }
  EXPECT_EQ(rig.line->timeouts, before);

  // Command texts get a carriage return and must fit.
  rig.line->written.clear();
  EXPECT_EQ(rig.port->WriteCommand("ATZ", 0), 1);
  EXPECT_EQ(rig.port->WriteCommand("", 0), 0);
  EXPECT_EQ(rig.port->WriteCommandF("AT+FCLASS=%s", "1", 0), 1);
  EXPECT_EQ(rig.port->WriteCommandF("ATD%s", nullptr, 0), 1);
  EXPECT_EQ(rig.port->WriteCommandF("AT%%F%d", "x", 0), 1);  // only %s takes the argument
  EXPECT_EQ(std::string(rig.port->CommandBuffer()), "AT%F%d\r");
  EXPECT_EQ(rig.port->WriteComDataSYN(Channel::Command, nullptr, 7, nullptr, kTransferAll),
            1);  // the buffer
  const std::string fits(250, '9');
  EXPECT_EQ(rig.port->WriteCommandF("ATD%s", fits.c_str(), 0), 1);
  const std::string tooLong(253, '9');
  EXPECT_EQ(rig.port->WriteCommandF("ATD%s", tooLong.c_str(), 0), 0);
  EXPECT_EQ(rig.port->WriteCommand(std::string(256, 'A').c_str(), 0), 0);
  EXPECT_EQ(rig.line->written, "ATZ\rAT+FCLASS=1\rATD\rAT%F%d\rAT%F%d\rATD" + fits + "\r");
}

TEST(WinCOMCECommands, WaitingInputIsReadAndDumpedBeforeTheCommand) {
  test::CommLogFile comm;
  FakePortRig rig;
  rig.port->SetLog(&comm.log);
  ASSERT_TRUE(rig.OpenNamed());
  EXPECT_EQ(rig.port->WriteCommand("AT", 0), 1);  // the dump flag is off: no record
  rig.port->SetCommLog(1);
  rig.line->input = {std::string(300, 'x') + "RING\r\n"};
  EXPECT_EQ(rig.port->WriteCommandA("ATA\r", 0, kClearInput), 1);
  EXPECT_TRUE(rig.line->input.empty());
  EXPECT_EQ(rig.line->written, "AT\rATA\r");
  const std::string text = comm.Text();
  EXPECT_EQ(text.find("41 54 0D"), std::string::npos);
  const auto first = text.find("-- Read: (Clear Buffer) Successful.\r\n");
  ASSERT_NE(first, std::string::npos);
  const auto second = text.find("-- Read: (Clear Buffer) Successful.\r\n", first + 1);
  ASSERT_NE(second, std::string::npos);
  EXPECT_NE(text.find("-- Write: Successful.\r\n41 54 41 0D", second), std::string::npos);
}

TEST(WinCOMCELineErrors, ErrorBitsBreaksAndFailingTransfersAreReported) {
  FakePortRig rig;
  ASSERT_TRUE(rig.OpenNamed());
  rig.line->pendingErrors = CE_OVERRUN | CE_FRAME;
  EXPECT_EQ(rig.port->WriteCommand("AT", 0), 0);
  EXPECT_EQ(rig.line->written, "");
  EXPECT_EQ(TakeReports(),
            std::vector<std::string>{
                "ReportComPortError: Communication device error: Framing error, Overrun error."});

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

  // A break during a partial write ends it.
  rig.line->writeLimit = 2;
  rig.line->pendingEvents = EV_BREAK;
  std::uint32_t count = 0;
  EXPECT_EQ(rig.port->WriteComDataSYN(Channel::Data, "ABCDEF", 6, &count, kTransferAll), 0);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(rig.line->CallCount(FakeCall::ClearCommBreak), 1u);
  EXPECT_EQ(TakeMessages(),
            std::vector<std::string>{"Communication device error: Break condition."});
  EXPECT_EQ(rig.line->masksSet.back(), 0xC0u);  // the mask is put back on failure too
  EXPECT_TRUE(rig.line->pageDataMode);          // page data was being written

  // Without events the partial writes go on until everything went.
  EXPECT_EQ(rig.port->WriteComDataSYN(Channel::Command, "ABCDEF", 6, &count, kTransferAll), 1);
  EXPECT_EQ(count, 6u);
  EXPECT_FALSE(rig.line->pageDataMode);
  // An error event with error bits ends the write as well.
  rig.line->pendingEvents = EV_ERR;
  rig.line->pendingErrors = CE_RXPARITY;
  EXPECT_EQ(rig.port->WriteComDataSYN(Channel::Command, "ABCDEF", 6, &count, kTransferAll), 0);
  EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Communication device error: Parity error."});
  // Without flag 1 the first write is the whole result.
  EXPECT_EQ(rig.port->WriteComDataSYN(Channel::Command, "ABCDEF", 6, &count, 0), 1);
  EXPECT_EQ(count, 2u);

  // Failing transfers are reported unless quiet.
  rig.line->writeLimit = 1000;
  char buffer[16];
  rig.line->Fail(FakeCall::Read, EIO, 2);
  EXPECT_EQ(rig.port->ReadComDataSYN(Channel::Command, buffer, sizeof buffer, &count, 0), 0);
  EXPECT_EQ(rig.port->ReadComDataSYN(Channel::Command, buffer, sizeof buffer, &count, kQuiet), 0);
  EXPECT_EQ(TakeMessages(),
            std::vector<std::string>{"ReadFile from COM failed, device not ready or COM port not "
                                     "available, ErrMsg =Input/output error"});
  rig.line->Fail(FakeCall::Write, EPIPE);
  EXPECT_EQ(rig.port->WriteComDataSYN(Channel::Command, "AT", 2, &count, 0), 0);
  EXPECT_EQ(TakeMessages(),
            std::vector<std::string>{"WriteFile to COM failed, device not ready or COM port not "
                                     "available, ErrMsg =Broken pipe"});
  // A failed command write is reported even when the command was quiet.
  rig.line->Fail(FakeCall::Write, EPIPE);
  EXPECT_EQ(rig.port->WriteCommand("AT", kQuiet), 0);
  EXPECT_EQ(TakeErrors().size(), 1u);
  rig.line->Fail(FakeCall::GetCommMask, EIO);
  EXPECT_EQ(rig.port->WriteComDataSYN(Channel::Command, "AT", 2, &count, 0), 0);
  EXPECT_EQ(TakeMessages(),
            std::vector<std::string>{"GetCommMask failed, ErrMsg =Input/output error"});

  // Reading everything asked for: silence is a failure.
  rig.line->input = {"ab"};
  EXPECT_EQ(rig.port->SetComPortTimeouts({0, 0, 20, 0, 0}, true), 1);
  EXPECT_EQ(rig.port->ReadComDataSYN(Channel::Command, buffer, 4, &count, kTransferAll), 0);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(TakeMessages(), std::vector<std::string>{
                                "Timeout occurred waiting for reading data from serial port."});
  EXPECT_EQ(rig.port->ReadComDataSYN(Channel::Command, buffer, 0, &count, kTransferAll), 1);
  rig.port->CloseComPort(false);
  EXPECT_EQ(rig.port->ReadComDataSYN(Channel::Command, buffer, 4, &count, kQuiet), 0);
  EXPECT_EQ(rig.port->WriteCommand("AT", kQuiet), 0);
}

TEST(WinCOMCEReadResult, LinesAreUpperCasedUnsolicitedOnesDroppedAndKeptBytesJoined) {
  FakePortRig rig;
  ASSERT_TRUE(rig.OpenNamed());
  std::array<char*, 10> lines{};
  rig.line->input = {"\r\n", "\r\nok\r\n"};  // only CR LF: read again
  ASSERT_EQ(rig.port->ReadResultA(nullptr, 256, lines, 500, true), 1);
  EXPECT_STREQ(lines[0], "OK");
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
  // Kept bytes join the first read; beyond the buffer they are clamped.
  char buffer[32] = "+FHS";
  rig.line->input = {":4A\r\n"};
  ASSERT_EQ(rig.port->ReadResultExxA(buffer, 4, sizeof buffer, lines, 500, 100, true), 1);
  EXPECT_STREQ(lines[0], "+FHS:4A");
  EXPECT_EQ(rig.line->timeouts.ReadIntervalTimeout, kBasicReadIntervalMs);  // put back
  char small[8] = "ABCDEFG";
  rig.line->input = {"\r"};
  EXPECT_EQ(rig.port->ReadResultExxA(small, 100, sizeof small, lines, 500, 0, true), 1);
  EXPECT_TRUE(TakeErrors().empty());
}

TEST(WinCOMCEReadResult, XonEndsTheWaitEvenWithoutALineAndFailuresAreTold) {
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

  EXPECT_EQ(rig.port->ReadResultA(nullptr, 256, lines, 30, true), 0);  // silence
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
    const bool asked = code == kPhonePortControlCode && input.size() == 2 && input[0] == 0x84;
    calls.push_back(asked && input[1] == 0 ? "port control" : "bad port control");
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

// The phone modem: a command port and a data port that stays busy while a
// packet-data connection (by default any) holds the radio.
struct PhoneRig {
  RecordingRadio radio;
  RecordingConnections connections;
  std::shared_ptr<FakeLine> command = MakeFakeLine(PCF_RTSCTS | PCF_TOTALTIMEOUTS);
  std::shared_ptr<FakeLine> data = MakeFakeLine(PCF_RTSCTS | PCF_TOTALTIMEOUTS);
  std::vector<std::uint32_t> sleeps;
  std::function<bool(const DataConnection&)> holdsData = [](const DataConnection&) { return true; };
  test::CommLogFile comm;
  std::unique_ptr<WinCOMCE> port;

  explicit PhoneRig(bool closeAllConnections = false) {
    PortEnvironment env;
    env.openDevice = [this](const std::string& path, int& error) -> std::unique_ptr<SerialDevice> {
      const bool isData = path == "/dev/ttyUSB2";
      if (isData && std::ranges::any_of(connections.up, holdsData)) {
        error = EBUSY;
        return nullptr;
      }
      return std::make_unique<FakeSerialDevice>(isData ? data : command);
    };
    env.radio = &radio;
    env.dataConnections = &connections;
    env.sleep = [this](std::uint32_t ms) { sleeps.push_back(ms); };
    port = std::make_unique<WinCOMCE>(env);
    port->SetOptions({"", "/dev/ttyUSB1", "/dev/ttyUSB2", closeAllConnections});
    port->SetLog(&comm.log);
  }
  int Open() { return port->OpenComPort(nullptr, "", 0, "", true); }
};

TEST(WinCOMCEPhoneModem, OpensBothPortsAtItsBaudAndSwitchesMessagesOffAndOn) {
  PhoneRig rig;
  rig.port->SetBaudRate(19200);
  DCB working{};
  ASSERT_EQ(rig.port->OpenComPort(&working, "", 0, "", true), 1);
  EXPECT_EQ(rig.port->PhoneModem(), 1);
  EXPECT_EQ(working.BaudRate, kPhoneModemBaud);
  EXPECT_EQ(rig.port->BaudRate(), kPhoneModemBaud);  // kept for later openings
  EXPECT_EQ(rig.data->dcb.BaudRate, kPhoneModemBaud);
  EXPECT_EQ(rig.radio.calls,
            (std::vector<std::string>{"port control", "open", "sms off", "close"}));

  // Commands go to the command port, page data to the data port; timeouts to both.
  EXPECT_EQ(rig.port->WriteCommand("AT", 0), 1);
  EXPECT_EQ(rig.port->WriteComDataSYN(Channel::Data, "page", 4, nullptr, kTransferAll), 1);
  EXPECT_EQ(rig.command->written, "AT\r");
  EXPECT_EQ(rig.data->written, "page");
  EXPECT_EQ(rig.port->SetComPortTimeouts({1, 2, 3, 4, 5}, true), 1);
  EXPECT_EQ(rig.data->timeouts, (COMMTIMEOUTS{1, 2, 3, 4, 5}));

  rig.port->CloseComPort(true);
  EXPECT_TRUE(rig.command->closed);
  EXPECT_TRUE(rig.data->closed);
  EXPECT_EQ(rig.radio.calls, (std::vector<std::string>{"port control", "open", "sms off", "close",
                                                       "open", "sms on", "close"}));
  EXPECT_EQ(rig.sleeps, std::vector<std::uint32_t>{kPhoneClosePauseMs});
  EXPECT_THAT(rig.comm.Text(),
              HasSubstr("\tDebug: Disable RIL SMS success, rildevresult=0x1234, nReturned=4\r\n"));
}

TEST(WinCOMCEPhoneModem, ConnectionsHoldingTheDataPortAreHungUpOrTheOpeningFails) {
  {  // Only the packet-data connection that holds the port is hung up.
    PhoneRig rig;
    rig.connections.up = {{1, "Internet"}, {2, "My GPRS"}, {3, "gprs backup"}};
    rig.holdsData = [](const DataConnection& c) { return c.id == 2; };
    ASSERT_EQ(rig.Open(), 1);
    EXPECT_EQ(rig.connections.hungUp, std::vector<std::string>{"My GPRS"});
    EXPECT_THAT(rig.comm.Text(), HasSubstr("\tDebug: Open COM9: port failed\r\n"));
  }
  {  // No packet-data connection among them: the opening fails, nothing left open.
    PhoneRig rig;
    rig.connections.up = {{1, "Internet"}};
    EXPECT_EQ(rig.Open(), 0);
    EXPECT_TRUE(rig.connections.hungUp.empty());
    EXPECT_EQ(rig.port->PhoneModem(), 0);
    EXPECT_TRUE(rig.command->closed);
  }
  {  // CloseAllRasConn hangs every connection up.
    PhoneRig rig(true);
    rig.connections.up = {{1, "Internet"}, {2, "Work"}};
    EXPECT_EQ(rig.Open(), 1);
    EXPECT_EQ(rig.connections.hungUp, (std::vector<std::string>{"Internet", "Work"}));
  }
  {  // A radio that cannot be opened fails the opening.
    PhoneRig rig;
    rig.radio.openFails = true;
    EXPECT_EQ(rig.Open(), 0);
    EXPECT_TRUE(rig.command->closed);
    EXPECT_TRUE(rig.data->closed);
    EXPECT_THAT(rig.comm.Text(), HasSubstr("\tDebug: Open RIL1: port failed\r\n"));
  }
  // No command device configured: the usual message, nothing opened.
  PhoneRig rig;
  rig.port->SetOptions({});
  TakeErrors();
  EXPECT_EQ(rig.Open(), 0);
  EXPECT_EQ(TakeMessages().at(0), "Fail to OpenModem");
}

}  // namespace
}  // namespace vexo
