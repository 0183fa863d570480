// The serial port object and the command exchange on a real pty, against the
// scripted modem of tests/support: dialogue, dump records, bad modems.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "base/log_file.h"
#include "modem/comm_log.h"
#include "modem/fax_comm_func.h"
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
  test::TempDir dir;
  LogFile log;
  WinCOMCE port;
  FaxCommFunc exchange;

  PtyRig() {
    OpenCommLog(log, 1, dir.dir());
    port.SetLog(&log);
    port.SetCommLog(1);
    port.SetBaudRate(115200);
    port.SetOptions({pty.SlavePath(), "", "", false});
  }
  bool Open() {
    const bool ok = port.OpenComPort(nullptr, "COM1:", 0, "", 0) == 1;
    exchange.Attach(&port);
    return ok;
  }
  std::string LogTextNow() {
    log.Close();
    return test::LogText(test::ReadFileBytes(dir.path() / "VexoCommLog.log"));
  }
};

TEST(WinCOMCEPty, AnAtExchangeIsDumpedRecordByRecord) {
  PtyRig rig;
  rig.modem.Answer("AT\r", "\r\nOK\r\n").Start();
  ASSERT_TRUE(rig.Open());
  ASSERT_EQ(rig.port.WriteCommand("AT", 0), 1);
  EXPECT_EQ(rig.exchange.MatchOKResult(kWaitOkMs, true), 1);
  EXPECT_TRUE(rig.modem.Finish()) << rig.modem.Failure();
  rig.port.CloseComPort(0);
  EXPECT_TRUE(TakeMessages().empty());

  const std::string all = rig.LogTextNow();
  ASSERT_FALSE(all.empty());
  EXPECT_NE(all.find("\tDebug: ProvCapability = d2, flowctrl=1, softtimeout=0\r\n\r\n"),
            std::string::npos);
  EXPECT_NE(all.find("\tDebug: m_CommDCB dump: BaudRate=38400, fOutxCtsFlow=0x0, "
                     "fOutxDsrFlow=0x0, fDtrControl=0x1, fDsrSensitivity=0x0, "
                     "fTXContinueOnXoff=0x0, fOutX=0x1, fInX=0x0, fRtsControl=0x1, XonLim=0, "
                     "XoffLim=0, ByteSize=8, Parity=0, StopBits=0, XonChar=17, XoffChar=19, "
                     "ErrorChar=0, EofChar=4, EvtChar=0\r\n\r\n"),
            std::string::npos);
  EXPECT_NE(
      all.find("\tDebug: StopBits=1 (one and a half) is programmed as one stop bit (8N1)\r\n"),
      std::string::npos);

  // The records after the opening lines, byte for byte: the command write, the
  // timeout-free read of the answer.
  const auto first = all.find("] -- Write: ");
  ASSERT_NE(first, std::string::npos);
  const std::string records = all.substr(all.rfind('\n', first) + 1);
  const std::string expected = test::WithStamps(
      "{T} -- Write: Successful.\r\n"
      "41 54 0D" +
          std::string(48, ' ') +
          "AT.\r\n\r\n"
          "{T} -- Read: Successful.\r\n"
          "0D 0A 4F 4B 0D 0A" +
          std::string(39, ' ') + "..OK..\r\n\r\n",
      records);
  EXPECT_EQ(test::Utf16Le(records), test::Utf16Le(expected));
}

TEST(WinCOMCEPty, ClosingPutsTheTtyBackAsFound) {
  PtyRig rig;
  const termios before = rig.pty.SlaveTermios();
  ASSERT_TRUE(rig.Open());
  const termios open = rig.pty.SlaveTermios();
  EXPECT_FALSE(open.c_lflag & (ICANON | ECHO));
  rig.port.CloseComPort(0);
  const termios after = rig.pty.SlaveTermios();
  EXPECT_EQ(std::memcmp(&before, &after, sizeof after), 0);
}

TEST(WinCOMCEPty, ModemAnswersInAllTheirShapes) {
  PtyRig rig;
  rig.modem
      .Answer("ATE0\r", "ATE0\r\r\nok\r\n")                                     // echo, lower case
      .Answer("AT+FCLASS=?\r", "\r\n+CBM: 1,2\r\nnews\r\n0,1,2\r\n\r\nOK\r\n")  // broadcast inside
      .Expect("ATS0=0\r")
      .SendSplit("\r\nOK\r\n", 2, 50)  // pieces within the interval
      .Expect("ATI\r")
      .Send("\r\n")
      .Pause(400)
      .Send("OK\r\n")  // CR LF alone, then the rest
      .Answer("ATX\r", "\r\n+CRG: VOICE\r\nERROR\r\n")
      .Start();
  ASSERT_TRUE(rig.Open());
  std::array<char*, 10> lines{};
  ASSERT_EQ(rig.port.WriteCommand("ATE0", 0), 1);
  EXPECT_EQ(rig.exchange.MatchOKResult(kWaitOkMs, true), 1);
  ASSERT_EQ(rig.port.WriteCommand("AT+FCLASS=?", 0), 1);
  ASSERT_EQ(rig.port.ReadResultA(nullptr, 256, lines, kWaitOkMs, true), 2);
  EXPECT_STREQ(lines[0], "0,1,2");
  EXPECT_STREQ(lines[1], "OK");
  ASSERT_EQ(rig.port.WriteCommand("ATS0=0", 0), 1);
  EXPECT_EQ(rig.exchange.MatchOKResult(kWaitOkMs, true), 1);
  ASSERT_EQ(rig.port.WriteCommand("ATI", 0), 1);
  EXPECT_EQ(rig.exchange.MatchOKResult(kWaitOkMs, true), 1);
  ASSERT_EQ(rig.port.WriteCommand("ATX", 0), 1);
  EXPECT_EQ(rig.exchange.MatchOKResult(kWaitOkMs, true), 0);
  EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Modem return ERROR result."});
  EXPECT_TRUE(rig.modem.Finish()) << rig.modem.Failure();
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

TEST(WinCOMCEPty, XonAndSilence) {
  PtyRig rig;
  rig.modem.Answer("AT+FDT\r", "\r\nCONNECT\r\n\x11").Expect("AT\r").Start();
  ASSERT_TRUE(rig.Open());
  std::array<char*, 4> lines{};
  int xon = 0;
  ASSERT_EQ(rig.port.WriteCommand("AT+FDT", 0), 1);
  // The line and the XON may come in one read or two; either way the XON is seen.
  int count = rig.port.ReadResultWithXONA(nullptr, 256, lines, kWaitOkMs, &xon);
  if (xon == 0) {
    EXPECT_EQ(count, 1);
    count = rig.port.ReadResultWithXONA(nullptr, 256, lines, kWaitOkMs, &xon);
  }
  EXPECT_EQ(xon, 1);
  ASSERT_EQ(rig.port.WriteCommand("AT", 0), 1);
  EXPECT_EQ(rig.exchange.MatchOKResult(300, true), -1);  // the modem stays silent
  EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Wait modem OK response timeout."});
  EXPECT_TRUE(rig.modem.Finish()) << rig.modem.Failure();
}

// Modems that never decide: the waits end at their deadlines, the buffers hold.
TEST(WinCOMCEPty, FloodsOfGarbageNulsAndEndlessLinesEndAtTheDeadline) {
  struct Case {
    const char* name;
    std::string pattern;
  };
  for (const Case& c :
       {Case{"garbage", "\x7F\xFE garbage \x01\r\n+++~~~"}, Case{"nuls", std::string(64, '\0')},
        Case{"endless line", "ABCDEFGHIJ"}, Case{"cr lf only", "\r\n"}}) {
    PtyRig rig;
    rig.port.SetCommLog(0);
    rig.modem.Expect("AT\r").Flood(c.pattern, kFloodBytes).Start();
    ASSERT_TRUE(rig.Open());
    ASSERT_EQ(rig.port.WriteCommand("AT", 0), 1);
    EXPECT_EQ(rig.exchange.MatchOKResult(700, true), -1) << c.name;
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Wait modem OK response timeout."})
        << c.name;
    rig.modem.Stop();
  }
}

TEST(WinCOMCEPty, ATrickleOfBytesEndsTheWaitAtItsDeadline) {
  PtyRig rig;
  rig.port.SetCommLog(0);
  // One byte every 100 ms for 4 s: never silent for a whole read interval.
  rig.modem.Expect("AT\r").SendSplit(std::string(40, 'A'), 1, 100).Start();
  ASSERT_TRUE(rig.Open());
  ASSERT_EQ(rig.port.WriteCommand("AT", 0), 1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(rig.exchange.MatchOKResult(600, true), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
  EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Wait modem OK response timeout."});
  rig.modem.Stop();
}

TEST(WinCOMCEPty, EndlessRingsEndTheRingWaitAtItsDeadline) {
  PtyRig rig;
  rig.port.SetCommLog(0);
  rig.modem.Flood("\r\nRING\r\n", kFloodBytes).Start();
  ASSERT_TRUE(rig.Open());
  EXPECT_GT(rig.exchange.WaitRings(500, 1000000, true), 0);
  rig.modem.Stop();
}

TEST(WinCOMCEPty, AVanishedModemFailsTheRead) {
  PtyRig rig;
  ASSERT_TRUE(rig.Open());
  rig.pty.CloseMaster();
  std::array<char*, 4> lines{};
  EXPECT_EQ(rig.port.ReadResultA(nullptr, 256, lines, 1000, true), -1);
  const auto messages = TakeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0],
            "ReadFile from COM failed, device not ready or COM port not available, ErrMsg "
            "=Input/output error");
}

}  // namespace
}  // namespace vexo
