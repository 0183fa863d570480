#include "modem/comm_log.h"

#include <gtest/gtest.h>

#include "base/log_file.h"
#include "modem/comm_dump.h"
#include "tests/modem/modem_test_util.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

constexpr LocalTime kTime{2026, 7, 8, 9, 10, 11, 12, 0};

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(DumpRecord, HeadLinesNameDirectionKindAndOutcome) {
  EXPECT_EQ(DumpHeadLine(kTime, DumpKind::Read),
            "[2026/07/08 - 09:10:11:012] -- Read: Successful.\r\n");
  EXPECT_EQ(DumpHeadLine(kTime, DumpKind::Write),
            "[2026/07/08 - 09:10:11:012] -- Write: Successful.\r\n");
  EXPECT_EQ(DumpHeadLine(kTime, DumpKind::ReadFailed),
            "[2026/07/08 - 09:10:11:012] -- Read: Fail.\r\n");
  EXPECT_EQ(DumpHeadLine(kTime, DumpKind::WriteFailed),
            "[2026/07/08 - 09:10:11:012] -- Write: Fail.\r\n");
  EXPECT_EQ(DumpHeadLine(kTime, DumpKind::ClearRead),
            "[2026/07/08 - 09:10:11:012] -- Read: (Clear Buffer) Successful.\r\n");
  EXPECT_EQ(DumpHeadLine(kTime, DumpKind::ClearReadFailed),
            "[2026/07/08 - 09:10:11:012] -- Read: (Clear Buffer) Fail.\r\n");
}

TEST(DumpRecord, DataLinesKeepTheCharacterColumnAt56) {
  EXPECT_EQ(DumpDataLines({}), "");
  EXPECT_EQ(DumpDataLines(Bytes("AT\r")), "41 54 0D" + std::string(48, ' ') + "AT.\r\n\r\n");

  const std::string sixteen("0123456789ABCDE\x7F", 16);
  const std::string full = "30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 7F" + std::string(9, ' ') +
                           "0123456789ABCDE.\r\n";
  EXPECT_EQ(full.size(), 47u + 9 + 16 + 2);
  EXPECT_EQ(DumpDataLines(Bytes(sixteen)), full + "\r\n");
  EXPECT_EQ(DumpDataLines(Bytes(sixteen + " ")), full + "20" + std::string(54, ' ') + " \r\n\r\n");

  const std::string binary("\x00\x1F\x7E\x80\xFF", 5);
  EXPECT_EQ(DumpDataLines(Bytes(binary)),
            "00 1F 7E 80 FF" + std::string(42, ' ') + "..~..\r\n\r\n");
}

TEST(CommLog, HeaderJobAndDebugLinesAreByteExact) {
  test::TempDir dir;
  LogFile log;
  ASSERT_EQ(OpenCommLog(log, 1, dir.dir()), 1);
  EXPECT_EQ(log.Path(), dir.dir() + "VexoCommLog.log");
  WriteJobStartLine(log, JobDirection::Send, "COM1:", kTime);
  WriteJobStartLine(log, JobDirection::Receive, "USB Modem", kTime);
  log.WriteLineF(nullptr, 0, "Debug: ProvCapability = %x, flowctrl=%d, softtimeout=%d", 0x52, 1, 0);
  log.Close();

  const std::string bytes = test::ReadFileBytes(dir.path() / "VexoCommLog.log");
  const std::string text = test::LogText(bytes);
  const std::string expected = test::WithStamps(
      "/" + std::string(58, '*') + "\r\n" +
          "*\r\n*\tVexo Communication Log file \r\n"
          "*\t\t\tCreate time : {T}\t"
          "*\r\n" +
          std::string(57, '*') +
          "/\r\n\r\n"
          "[2026/07/08 - 09:10:11:012]\tStart to send Fax through [COM1:] -------------\r\n\r\n"
          "[2026/07/08 - 09:10:11:012]\tStart to receive Fax through [USB Modem] "
          "-------------\r\n\r\n"
          "{T}\tDebug: ProvCapability = 52, flowctrl=1, softtimeout=0\r\n\r\n",
      text);
  EXPECT_EQ(bytes, "\xFF\xFE" + test::Utf16Le(expected));
}

TEST(CommLog, TheFileIsCreatedAnewAtEveryOpening) {
  test::TempDir dir;
  test::WriteFileBytes(dir.path() / "VexoCommLog.log", std::string(10000, 'Q'));
  LogFile log;
  ASSERT_EQ(OpenCommLog(log, 1, dir.dir()), 1);
  log.Close();
  const std::string text = test::LogText(test::ReadFileBytes(dir.path() / "VexoCommLog.log"));
  EXPECT_EQ(text.find('Q'), std::string::npos);
  EXPECT_EQ(text.rfind("/\r\n\r\n"), text.size() - 5);
  EXPECT_EQ(OpenCommLog(log, 1, dir.dir() + "missing/"), 0);
}

}  // namespace
}  // namespace vexo
