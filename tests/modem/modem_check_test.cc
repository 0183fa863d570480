#include "modem/modem_check.h"

#include <gtest/gtest.h>

#include "tests/modem/modem_test_util.h"
#include "tests/support/pty_peer.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

TEST(CheckModem, AnAnsweringModemLeavesTheDialogueInTheLog) {
  test::Pty pty;
  test::PtyModem modem(pty);
  modem.Answer("AT\r", "AT\r\r\nOK\r\n").Start();
  test::TempDir dir;
  const auto result = CheckModem({pty.SlavePath(), 115200, dir.dir()});
  EXPECT_EQ(result.answer, ModemAnswer::Ok);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  EXPECT_EQ(result.logPath, dir.dir() + "VexoCommLog.log");
  const std::string text = test::LogText(test::ReadFileBytes(result.logPath));
  const auto write =
      text.find(" -- Write: Successful.\r\n41 54 0D" + std::string(48, ' ') + "AT.\r\n\r\n");
  ASSERT_NE(write, std::string::npos);
  EXPECT_NE(text.find(" -- Read: Successful.\r\n41 54 0D 0D 0A 4F 4B 0D 0A", write),
            std::string::npos);
  EXPECT_TRUE(test::TakeErrors().empty());
}

TEST(CheckModem, ErrorsSilenceAndMissingDevicesAreTold) {
  {
    test::Pty pty;
    test::PtyModem modem(pty);
    modem.Answer("AT\r", "\r\nERROR\r\n").Start();
    test::TempDir dir;
    EXPECT_EQ(CheckModem({pty.SlavePath(), 19200, dir.dir()}).answer, ModemAnswer::Error);
    EXPECT_EQ(test::TakeMessages(), std::vector<std::string>{"Modem return ERROR result."});
  }
  test::TempDir dir;
  const auto missing = CheckModem({"/nonexistent/ttyX", 19200, dir.dir()});
  EXPECT_EQ(missing.answer, ModemAnswer::NotOpened);
  EXPECT_EQ(test::TakeErrors().size(), 1u);
  const auto noLog = CheckModem({"/nonexistent/ttyX", 19200, dir.dir() + "no/such/"});
  EXPECT_TRUE(noLog.logPath.empty());
  test::TakeErrors();
}

}  // namespace
}  // namespace vexo
