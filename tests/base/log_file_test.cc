#include "base/log_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <regex>

#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;

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
  EXPECT_NE(bytes.find(test::Utf16Le("]\t*\r\n" + std::string(57, '*') + "/\r\n\r\n[")),
            std::string::npos);
  // The header, then the process's start line, then the lines.
  const std::string tail =
      test::Utf16Le(std::string("]\t") + program_invocation_short_name + " started, process " +
                    std::to_string(getpid()) + "\r\n\r\n" +
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

TEST(LogFile, AppendsAndRotatesAtTheBoundFollowingAnotherWritersRotation) {
  // Each row: the file's size before, bytes another writer of the same file
  // appends first, and whether the older copy is then "F.log.1".
  struct Row {
    const char* name;
    std::uint64_t before, other;
    bool rotated;
  };
  const Row rows[] = {{"appends", 1000, 0, false},
                      {"exactly at the bound", kLogMaxBytes - 200, 0, false},
                      {"past the bound", kLogMaxBytes - 198, 0, true},
                      {"rotated by the other", kLogMaxBytes - 198, 200, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    test::TempDir dir;
    const std::string old = "\xFF\xFE" + std::string(row.before - 2, 'o');
    test::WriteFileBytes(dir.path() / "F.log", old);
    LogFile log, other;
    ASSERT_EQ(log.Open(1, dir.dir(), "F", "", "Title "), 1);
    ASSERT_EQ(other.Open(1, dir.dir(), "F", "", "Title "), 1);
    const std::string otherText(row.other / 2, 'y'), text(100, 'x');
    if (row.other > 0) other.WriteRawN(otherText);
    log.WriteRawN(text);
    const std::string now = test::ReadFileBytes(dir.path() / "F.log");
    const std::string tail = test::Utf16Le(otherText + text);
    EXPECT_EQ(fs::exists(log.RotatedPath()), row.rotated);
    if (!row.rotated) {
      EXPECT_EQ(now, old + tail);
      continue;
    }
    EXPECT_EQ(test::ReadFileBytes(log.RotatedPath()), old);
    EXPECT_EQ(now.substr(0, 14), "\xFF\xFE" + test::Utf16Le("/*****"));
    EXPECT_NE(now.find(test::Utf16Le("*\tTitle \r\n")), std::string::npos);
    EXPECT_EQ(now.substr(now.size() - tail.size()), tail);
  }
}

// Two processes of one home log at once: every line arrives whole, and each
// process has its start line.
TEST(LogFile, TwoProcessesInterleaveWholeLines) {
  test::TempDir dir;
  constexpr int kLines = 300;
  std::vector<pid_t> children;
  for (int child = 0; child < 2; ++child) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      LogFile log;
      if (!OpenSystemLog(log, 1, dir.dir())) _exit(1);
      for (int i = 0; i < kLines; ++i)
        log.WriteLineF("Child", getpid(), "line %d %s", i, std::string(300, 'q').c_str());
      _exit(0);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(status, 0);
  }
  const std::string bytes = test::ReadFileBytes(dir.path() / "VexoSysLog.log");
  std::string text;  // the ASCII text of the UTF-16LE file
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) text += bytes[i];
  const std::regex line(R"(\]\tFile=Child, Line=\d+\tline \d+ q{300}\r\n\r\n)");
  EXPECT_EQ(std::distance(std::sregex_iterator(text.begin(), text.end(), line), {}), 2 * kLines);
  for (const pid_t pid : children)
    EXPECT_NE(text.find(" started, process " + std::to_string(pid) + "\r\n"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), 'q'), 2 * kLines * 300);  // no part lines
}

TEST(LogFile, FailingWritesNeitherRecurseNorStopLaterLines) {
  test::TempDir dir;
  LogFile log;
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
  EXPECT_EQ(test::ReadFileBytes(dir.path() / "Fail.log").size(), 1024u);
  log.WriteRawN("after");
  log.Close();
  EXPECT_EQ(test::ReadFileBytes(dir.path() / "Fail.log").substr(1024), test::Utf16Le("after"));
}

}  // namespace
}  // namespace vexo
