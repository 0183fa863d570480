#include "base/error_pool.h"

#include <gtest/gtest.h>

#include <regex>

#include "base/code_page.h"
#include "base/log_file.h"
#include "base/presenter.h"
#include "tests/support/box_recorder.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

class ErrorPoolTest : public ::testing::Test {
 protected:
  void SetUp() override { ErrorPool::Instance().Clear(); }
  void TearDown() override {
    ErrorPool::Instance().Clear();
    SetAnsiCodePage(kDefaultCodePage);
  }
  test::BoxRecorder presenter;
};

TEST_F(ErrorPoolTest, ThePoolKeepsTheLastThirtyTwoReportsWithTheirFormsFilled) {
  EXPECT_EQ(ReportText(0, 25, nullptr, nullptr, ""), 0);  // empty reports are dropped
  EXPECT_EQ(ReportText(0, 25, "", "", ""), 0);
  EXPECT_EQ(ReportError(0, 25, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(ReportSystemError(0, 25, "M", "F", 987654), 0);  // the system has no text
  EXPECT_EQ(ReportText(0, 0, "M", "F", "boom"), 1);
  ErrorRecord r;
  EXPECT_EQ(ErrorPool::Instance().TakeOldest(r), 1);
  EXPECT_EQ(r.MessageType, 25u);  // type 0: an error to log and to show

  for (int i = 0; i < 23; ++i) ReportError(0, 25, "M", "F", "record %d", i);
  const std::uint64_t mark = ErrorPool::Instance().Added();
  for (int i = 23; i < 33; ++i) ReportError(0, 25, "M", "F", "record %d", i);
  EXPECT_EQ(ErrorPool::Instance().Count(), 32);
  // Since sees the ten added after the mark, though the oldest was replaced,
  // and leaves them in the pool.
  const std::vector<ErrorRecord> since = ErrorPool::Instance().Since(mark);
  ASSERT_EQ(since.size(), 10u);
  EXPECT_EQ(since.front().message, "record 23");
  EXPECT_EQ(since.back().message, "record 32");
  for (int i = 1; i < 33; ++i) {
    ASSERT_GT(ErrorPool::Instance().TakeOldest(r), 0);
    EXPECT_EQ(r.message, "record " + std::to_string(i));
  }
  ReportErrorCode(0, 25, "DBFunc", "Open", 987654, "no text %d, ErrMsg = ", 5);
  ReportError(0, 25, "M", "F", "%s", std::string(5000, 'a').c_str());
  ErrorPool::Instance().TakeOldest(r);
  EXPECT_EQ(r.message, "no text 5, ErrMsg = ");
  ErrorPool::Instance().TakeOldest(r);
  EXPECT_EQ(r.message.size(), kMaxMessageChars);
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);
}

TEST_F(ErrorPoolTest, EightBitRecordsAreConvertedAndBadBytesNeverBlockThePool) {
  SetAnsiCodePage(936);
  ReportTextA(0, 25, "Mod", "Fn", "\xD6\xD0");  // 中 in GBK
  ReportTextA(0, 25, "Mod", "Fn", "bad \xFF");  // no meaning in GBK
  ReportText(0, 25, "Mod", "Fn", "after");
  ErrorRecord r;
  EXPECT_EQ(ErrorPool::Instance().TakeOldest(r), 3);
  EXPECT_EQ(r.message, "\xE4\xB8\xAD");
  EXPECT_EQ(ErrorPool::Instance().TakeOldest(r), 2);
  EXPECT_EQ(r.message, "bad \xEF\xBF\xBD");
  EXPECT_EQ(ErrorPool::Instance().TakeOldest(r), 1);
  EXPECT_EQ(r.message, "after");
}

TEST_F(ErrorPoolTest, DialogBlocksFollowTheTypeAndMissingParts) {
  ErrorRecord r;
  r.MsgID = 0;
  r.MessageType = 3;  // no single type: no MessageType text
  r.module = "Mod";
  r.message = "";
  EXPECT_EQ(ErrorDialogBlock(r),
            "MsgID = 0Module = Mod\r\nMessage = NA\r\n-------------------\r\n\r\n");
  r.MessageType = 28;
  EXPECT_TRUE(ErrorDialogBlock(r).starts_with("MsgID = 0, MessageType = Information\r\n"));
}

TEST_F(ErrorPoolTest, FlushWritesLogLinesAndOneDialog) {
  test::TempDir dir;
  LogFile log;
  ASSERT_EQ(log.Open(1, dir.dir(), "T", "est"), 1);
  ReportText(0, 25, "FaxCommFunc", "MatchOKResult", "Wait modem OK response timeout.");
  ReportText(0, 9, "FClass20Func", nullptr, "log only");
  ReportText(0, 16 | MSG_WARNING, nullptr, "F", "user only");
  EXPECT_EQ(FlushErrorPool(&log, false), 1);
  log.Close();

  ASSERT_EQ(presenter.details.size(), 1u);
  EXPECT_NE(presenter.details[0].find("Message = Wait modem OK response timeout."),
            std::string::npos);
  EXPECT_EQ(presenter.details[0].find("log only"), std::string::npos);
  EXPECT_NE(presenter.details[0].find("MessageType = Warning"), std::string::npos);

  const std::string bytes = test::ReadFileBytes(dir.path() / "Test.log");
  const std::string stamp = "\\[\\d{4}/\\d\\d/\\d\\d - \\d\\d:\\d\\d:\\d\\d:\\d{3}\\]\t";
  std::string text;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) text += bytes[i];
  EXPECT_TRUE(std::regex_match(
      text,
      std::regex(stamp +
                 "File=FaxCommFunc, Line=0\tFunc = \\[MatchOKResult\\], Message = "
                 "\\[Wait modem OK response timeout\\.\\]\r\n\r\n" +
                 stamp + "File=FClass20Func, Line=0\tFunc = NA, Message = \\[log only\\]\r\n\r\n")))
      << text;

  // Quiet flushes and log-only records show no dialog; a dialog is bounded.
  presenter.details.clear();
  ReportText(0, 25, "M", "F", "x");
  FlushErrorPool(nullptr, true);
  ReportText(0, 9, "M", "F", "y");  // log only
  FlushErrorPool(nullptr, false);
  EXPECT_TRUE(presenter.details.empty());
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);
  for (int i = 0; i < 32; ++i) ReportText(0, 25, "M", "F", std::string(4000, 'x'));
  FlushErrorPool(nullptr, false);
  ASSERT_EQ(presenter.details.size(), 1u);
  EXPECT_EQ(presenter.details[0].size(), kErrorDialogChars);
}

TEST_F(ErrorPoolTest, BoxesAreShownForLoggedRecordsOnly) {
  ReportText(0, 25, "AppOper", "Init", "first");
  ReportText(0, 16 | 1, "AppOper", "Init", "not logged");
  ReportText(0, 25, "AppOper", nullptr, "second");
  ShowErrorPoolBoxes("ERROR");
  ASSERT_EQ(presenter.boxes.size(), 2u);
  EXPECT_EQ(presenter.boxes[0], "Module=AppOper, Func = [Init], Message = [first]");
  EXPECT_EQ(presenter.boxes[1], "Module=AppOper, Func = NA, Message = [second]");
  EXPECT_EQ(presenter.captions[1].value_or("<none>"), "ERROR");
  EXPECT_EQ(presenter.styles[1], 16u);
  presenter.boxes.clear();
  presenter.captions.clear();

  // ShowMessage's caption follows the icon.
  EXPECT_FALSE(CaptionForStyle(0x01).has_value());
  ShowMessage(0x24, nullptr, 1);  // an id no table has
  ASSERT_EQ(presenter.boxes.size(), 1u);
  EXPECT_EQ(presenter.captions[0].value_or("<none>"), "QUESTION");
  EXPECT_EQ(presenter.boxes[0], "\tFail to Load String from Resource ID:1 !");
}

}  // namespace
}  // namespace vexo
