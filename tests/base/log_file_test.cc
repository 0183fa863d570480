#include "base/log_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

TEST(LogFile, SystemLogHeaderAndLineLayoutAreByteExact) {
  test::TempDir dir;
  LogFile log;
  ASSERT_EQ(OpenSystemLog(log, 1, dir.dir()), 1);
  const LocalTime t{2026, 3, 4, 5, 6, 7, 8, 0};
  log.WriteLine("File.cc", 12, "text \xE4\xB8\xAD", &t);
  log.WriteLine(nullptr, 0, "plain", &t);
  log.Close();
  const std::string bytes = test::ReadFileBytes(dir.path() / "VexoSysLog.log");
  const std::string head = "\xFF\xFE" + test::Utf16Le("/" + std::string(58, '*') +
                                                      "\r\n*\r\n*\tVexo System Log file \r\n"
                                                      "*\t\t\tCreate time : [");
  EXPECT_EQ(bytes.substr(0, head.size()), head);
  const std::string tail =
      test::Utf16Le("]\t*\r\n" + std::string(57, '*') + "/\r\n\r\n" +
                    "[2026/03/04 - 05:06:07:008]\tFile=File.cc, Line=12\ttext \xE4\xB8\xAD\r\n"
                    "[2026/03/04 - 05:06:07:008]\tplain\r\n");
  ASSERT_GT(bytes.size(), tail.size());
  EXPECT_EQ(bytes.substr(bytes.size() - tail.size()), tail);
}

TEST(LogFile, WithoutAFileLinesGoToTheDebugOutput) {
  std::vector<std::string> seen;
  SetDebugOutputSink([&](std::string_view text) { seen.emplace_back(text); });
  LogFile log;
  const LocalTime t{2026, 1, 2, 3, 4, 5, 6, 0};
  log.WriteLine("F", 1, "before open", &t);
  log.WriteRawN("dropped");
  EXPECT_EQ(log.Open(0, "/tmp/", "x", "y"), 0);  // no owner
  EXPECT_EQ(log.Open(1, "/nonexistent-dir/", "x", "y"), 0);
  SetDebugOutputSink(nullptr);
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen[0], "[2026/01/02 - 03:04:05:006]\tFile=F, Line=1\tbefore open\r\n");
  EXPECT_EQ(seen[1], "/nonexistent-dir/xy.log");
  EXPECT_NE(seen[2].find("CreateFile failed, ErrMsg = No such file or directory"),
            std::string::npos);
}

TEST(LogFile, TheBufferReachesTheFileWhenFullAndFailingWritesNeitherRecurseNorOverrun) {
  test::TempDir dir;
  LogFile log;
  ASSERT_EQ(log.Open(1, dir.dir(), "F", "ull"), 1);
  // The BOM takes 2 bytes; 2,047 characters more fill the 4,096-byte buffer exactly.
  log.WriteRawN(std::string(2047, 'x'));
  EXPECT_EQ(log.FileWrites(), 1u);
  EXPECT_EQ(test::ReadFileBytes(dir.path() / "Full.log").size(), 4096u);
  log.WriteRawN("yy");
  EXPECT_EQ(log.FileWrites(), 1u);
  log.Close();
  EXPECT_EQ(test::ReadFileBytes(dir.path() / "Full.log").size(), 4100u);

  ASSERT_EQ(log.Open(1, dir.dir(), "F", "ail"), 1);
  // A file size limit makes every write past it fail with EFBIG, as a full disk would.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 1024;
  setrlimit(RLIMIT_FSIZE, &small);
  for (int i = 0; i < 50; ++i) log.WriteLineF("F", i, "%s", std::string(1000, 'z').c_str());
  setrlimit(RLIMIT_FSIZE, &old);
  log.Close();
  const std::string bytes = test::ReadFileBytes(dir.path() / "Fail.log");
  EXPECT_LE(bytes.size(), 1024u + 4096u);
  EXPECT_NE(bytes.find(test::Utf16Le("WriteFile")), std::string::npos);
}

}  // namespace
}  // namespace vexo
