// A telephony line of the Linux provider, listed in TelephonyDevices, opened by
// the serial port object through TAPIOper: the modem on the pty answers "AT"
// with OK through the line's data port, and closing gives the line back.
#include <gtest/gtest.h>

#include "base/log_file.h"
#include "modem/fax_comm_func.h"
#include "modem/tapi_oper.h"
#include "modem/win_com_ce.h"
#include "platform/telephony/linux_provider.h"
#include "tests/modem/modem_test_util.h"
#include "tests/support/pty_peer.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

TEST(TapiOperPty, ListedPtyIsADataLineThatAnswersAtAndCloses) {
  test::TempDir dir;
  test::Pty pty;
  test::PtyModem modem{pty};
  modem.Answer("AT\r", "\r\nOK\r\n").Start();

  LinuxTelephonyProvider provider(pty.SlavePath() + ";", (dir.path() / "by-id").string());
  TAPIOper tapi(provider, [] { return DialSettings{}; });
  LogFile commLog;
  commLog.Open(1, dir.dir(), "VexoC", "ommLog");
  ASSERT_EQ(tapi.InitTapi(nullptr, &commLog), 1);
  const std::uint32_t index = tapi.FindModem(pty.SlavePath());
  ASSERT_EQ(index, 1u);
  EXPECT_EQ(tapi.Modems()[index].bearerModes, LINEBEARERMODE_PASSTHROUGH);
  EXPECT_EQ(tapi.IsVoiceLine(index), 0);

  PortEnvironment environment;
  environment.telephony = &tapi;
  WinCOMCE port(environment);
  port.SetLog(&commLog);
  FaxCommFunc exchange;
  ASSERT_EQ(port.OpenComPort(nullptr, "TAPI", index, "", 1), 1);
  exchange.Attach(&port);
  ASSERT_EQ(port.WriteCommand("AT", 0), 1);
  EXPECT_EQ(exchange.MatchOKResult(kWaitOkMs, true), 1);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  port.CloseComPort(1);
  EXPECT_TRUE(test::TakeMessages().empty());

  // The line was given back: it opens again (only one line can be open).
  auto again = tapi.OpenModem(index, "");
  ASSERT_TRUE(again);
  tapi.CloseModem(std::move(again));
  tapi.ShutdownTapi();

  commLog.Close();
  const std::string log = test::LogText(test::ReadFileBytes(dir.path() / "VexoCommLog.log"));
  EXPECT_NE(log.find("File=TAPIOper, Line=0\tCalling LineMakeCall(ReqID=0x1)\r\n"),
            std::string::npos);
  EXPECT_NE(log.find("File=TAPIOper, Line=0\tLINE_REPLY(ReqID=0x1): OK\r\n"), std::string::npos);
}

}  // namespace
}  // namespace vexo
