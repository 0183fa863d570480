// The serial port object and the command exchange on a real pty against the
// scripted modem of tests/support (dialogue, dump records, modems that never
// decide), the settings sheet's modem check, and the communication log's lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "base/log_file.h"
#include "modem/comm_dump.h"
#include "modem/comm_log.h"
#include "modem/fax_comm_func.h"
#include "modem/modem_check.h"
#include "modem/win_com_ce.h"
#include "tests/modem/modem_test_util.h"
#include "tests/support/pty_peer.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::TakeMessages;

constexpr std::size_t kFloodBytes = 10 * 1024 * 1024;

struct PtyRig {
  test::Pty pty;
  test::PtyModem modem{pty};
  test::CommLogFile comm;
  WinCOMCE port;
  FaxCommFunc exchange;

  PtyRig() {
    port.SetLog(&comm.log);
    port.SetCommLog(1);
    port.SetBaudRate(115200);
    port.SetOptions({pty.SlavePath(), "", "", false});
  }
  bool Open() {
    const bool ok = port.OpenComPort(nullptr, "COM1:", 0, "", false) == 1;
    exchange.Attach(&port);
    return ok;
  }
};

TEST(WinCOMCEPty, AnAtExchangeIsDumpedRecordByRecord) {
  PtyRig rig;
  rig.modem.Answer("AT\r", "\r\nOK\r\n").Start();
  ASSERT_TRUE(rig.Open());
  ASSERT_EQ(rig.port.WriteCommand("AT", 0), 1);
  EXPECT_EQ(rig.exchange.MatchOKResult(kWaitOkMs, true), 1);
  EXPECT_TRUE(rig.modem.Finish()) << rig.modem.Failure();
  rig.port.CloseComPort(false);
  EXPECT_TRUE(TakeMessages().empty());

  const std::string all = rig.comm.Text();
  ASSERT_NE(all.find("] -- Write: "), std::string::npos);
  for (const char* line :
       {"\tDebug: ProvCapability = d0, flowctrl=1, softtimeout=0\r\n\r\n",  // no RTS/CTS
        "\tDebug: m_CommDCB dump: BaudRate=38400, fOutxCtsFlow=0x0, fOutxDsrFlow=0x0, "
        "fDtrControl=0x1, fDsrSensitivity=0x0, fTXContinueOnXoff=0x0, fOutX=0x1, fInX=0x0, "
        "fRtsControl=0x1, XonLim=0, XoffLim=0, ByteSize=8, Parity=0, StopBits=0, XonChar=17, "
        "XoffChar=19, ErrorChar=0, EofChar=4, EvtChar=0\r\n\r\n",
        "\tDebug: StopBits=1 (one and a half) is programmed as one stop bit (8N1)\r\n"})
    EXPECT_THAT(all, ::testing::HasSubstr(line));

  // The records after the opening lines, byte for byte: the command write, the
  // timeout-free read of the answer.
  const std::string records =
      test::Unstamped(all.substr(all.rfind('\n', all.find("] -- Write: ")) + 1));
  EXPECT_EQ(records, "{T} -- Write: Successful.\r\n41 54 0D" + std::string(48, ' ') +
                         "AT.\r\n\r\n{T} -- Read: Successful.\r\n0D 0A 4F 4B 0D 0A" +
                         std::string(39, ' ') + "..OK..\r\n\r\n");
}

TEST(WinCOMCEPty, ABatchEndsAtAFinalLineOtherwiseAtTheInterval) {
  PtyRig rig;
  rig.modem.Expect("AT+FCC=?\r")
      .Send("\r\n(0,1),(0-5)\r\n")
      .Pause(100)
      .Send("\r\nOK\r\n")
      .Pause(100)
      .Send("\r\n+FHS:00\r\n")
      .Start();
  ASSERT_TRUE(rig.Open());
  std::array<char*, 10> lines{};
  ASSERT_EQ(rig.port.WriteCommand("AT+FCC=?", 0), 1);
  // The list line is not final: what follows within the interval joins it.
  ASSERT_EQ(rig.port.ReadResultA(nullptr, 256, lines, kWaitOkMs, true), 2);
  EXPECT_STREQ(lines[0], "(0,1),(0-5)");
  EXPECT_STREQ(lines[1], "OK");
  // The OK ended its batch; the later line is a batch of its own.
  ASSERT_EQ(rig.port.ReadResultA(nullptr, 256, lines, kWaitOkMs, true), 1);
  EXPECT_STREQ(lines[0], "+FHS:00");
  EXPECT_TRUE(rig.modem.Finish()) << rig.modem.Failure();
}

// Modems that never decide: a flood of one endless line (the buffer fills), a
// trickle that is never silent for a whole read interval and endless rings
// all end the waits at their deadlines.
TEST(WinCOMCEPty, FloodsTricklesAndEndlessRingsEndAtTheDeadline) {
  PtyRig flood;
  flood.port.SetCommLog(0);
  flood.modem.Expect("AT\r").Flood("ABCDEFGHIJ", kFloodBytes).Start();
  ASSERT_TRUE(flood.Open());
  ASSERT_EQ(flood.port.WriteCommand("AT", 0), 1);
  EXPECT_EQ(flood.exchange.MatchOKResult(700, true), -1);
  EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Wait modem OK response timeout."});
  flood.modem.Stop();

  PtyRig trickle;
  trickle.port.SetCommLog(0);
  trickle.modem.Expect("AT\r").SendSplit(std::string(40, 'A'), 1, 100).Start();
  ASSERT_TRUE(trickle.Open());
  ASSERT_EQ(trickle.port.WriteCommand("AT", 0), 1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(trickle.exchange.MatchOKResult(600, true), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
  EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Wait modem OK response timeout."});
  trickle.modem.Stop();

  PtyRig rings;
  rings.port.SetCommLog(0);
  rings.modem.Flood("\r\nRING\r\n", kFloodBytes).Start();
  ASSERT_TRUE(rings.Open());
  EXPECT_GT(rings.exchange.WaitRings(500, 1000000, true), 0);
  rings.modem.Stop();
}

TEST(CheckModem, AnswersAreToldAndTheDialogueIsLogged) {
  for (const auto& [reply, answer] :
       {std::pair{"AT\r\r\nOK\r\n", ModemAnswer::Ok}, {"\r\nERROR\r\n", ModemAnswer::Error}}) {
    test::Pty pty;
    test::PtyModem modem(pty);
    modem.Answer("AT\r", reply).Start();
    test::TempDir dir;
    const auto result = CheckModem({pty.SlavePath(), 115200, dir.dir()});
    EXPECT_EQ(result.answer, answer);
    EXPECT_TRUE(modem.Finish()) << modem.Failure();
    EXPECT_EQ(result.logPath, dir.dir() + "VexoCommLog.log");
    // The exchange is dumped (the record format is checked above).
    EXPECT_NE(test::LogText(test::ReadFileBytes(result.logPath)).find(" -- Read: Successful."),
              std::string::npos);
  }
  EXPECT_EQ(test::TakeMessages(), std::vector<std::string>{"Modem return ERROR result."});
  test::TempDir dir;
  const auto missing = CheckModem({"/nonexistent/ttyX", 19200, dir.dir()});
  EXPECT_EQ(missing.answer, ModemAnswer::NotOpened);
  EXPECT_EQ(test::TakeErrors().size(), 1u);
  const auto noLog = CheckModem({"/nonexistent/ttyX", 19200, dir.dir() + "no/such/"});
  EXPECT_TRUE(noLog.logPath.empty());
  test::TakeErrors();
}

constexpr LocalTime kTime{2026, 7, 8, 9, 10, 11, 12, 0};

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(DumpRecord, DataLinesKeepTheCharacterColumnAt56) {
  EXPECT_EQ(DumpDataLines(Bytes("AT\r")), "41 54 0D" + std::string(48, ' ') + "AT.\r\n\r\n");

  const std::string sixteen("0123456789ABCDE\x7F", 16);
  const std::string full = "30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 7F" + std::string(9, ' ') +
                           "0123456789ABCDE.\r\n";
  EXPECT_EQ(DumpDataLines(Bytes(sixteen)), full + "\r\n");
  EXPECT_EQ(DumpDataLines(Bytes(sixteen + " ")), full + "20" + std::string(54, ' ') + " \r\n\r\n");

  const std::string binary("\x00\x1F\x7E\x80\xFF", 5);
  EXPECT_EQ(DumpDataLines(Bytes(binary)),
            "00 1F 7E 80 FF" + std::string(42, ' ') + "..~..\r\n\r\n");
}

TEST(CommLog, HeaderJobAndDebugLinesAreByteExactAndLaterOpeningsAppend) {
  test::TempDir dir;
  LogFile log;
  ASSERT_EQ(OpenCommLog(log, 1, dir.dir()), 1);
  EXPECT_EQ(log.Path(), dir.dir() + "VexoCommLog.log");
  WriteJobStartLine(log, JobDirection::Send, "COM1:", kTime);
  WriteJobStartLine(log, JobDirection::Receive, "USB Modem", kTime);
  log.WriteLineF(nullptr, 0, "Debug: ProvCapability = %x, flowctrl=%d, softtimeout=%d", 0x52, 1, 0);
  log.Close();
  // A second opening (another process, or the next start) appends its start line.
  ASSERT_EQ(OpenCommLog(log, 1, dir.dir()), 1);
  log.Close();

  // LogText gives the text only of a UTF-16LE file with its byte-order mark.
  const std::string text = test::LogText(test::ReadFileBytes(dir.path() / "VexoCommLog.log"));
  const std::string start = "{T}\t" + std::string(program_invocation_short_name) +
                            " started, process " + std::to_string(getpid()) + "\r\n\r\n";
  EXPECT_EQ(test::Unstamped(text),
            "/" + std::string(58, '*') + "\r\n*\r\n*\tVexo Communication Log file \r\n" +
                "*\t\t\tCreate time : {T}\t*\r\n" + std::string(57, '*') + "/\r\n\r\n" + start +
                "{T}\tStart to send Fax through [COM1:] -------------\r\n\r\n" +
                "{T}\tStart to receive Fax through [USB Modem] -------------\r\n\r\n" +
                "{T}\tDebug: ProvCapability = 52, flowctrl=1, softtimeout=0\r\n\r\n" + start);
  EXPECT_NE(text.find("[2026/07/08 - 09:10:11:012]\tStart to send"), std::string::npos);
  EXPECT_EQ(OpenCommLog(log, 1, dir.dir() + "missing/"), 0);
}

}  // namespace
}  // namespace vexo
