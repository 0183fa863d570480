// The page feed on fax files, without a modem: the pages counted from the
// resume position, and the walk through recorded steps: which pages go, where
// the resume position stands after each answer, refusals, cancel, failures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/job_control.h"
#include "base/strings.h"
#include "document/tiff_oper.h"
#include "protocol/fax_result.h"
#include "protocol/page_feed.h"
#include "protocol/session_names.h"
#include "tests/protocol/g3_test_pages.h"
#include "tests/support/error_records.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

constexpr PageAnswer kConfirmed{.confirmed = true, .refused = false, .goOn = true};
constexpr PageAnswer kRefused{.confirmed = true, .refused = true, .goOn = true};
constexpr PageAnswer kDropped{};                                                     // no answer
constexpr PageAnswer kLastWord{.confirmed = true, .refused = false, .goOn = false};  // then a drop

// Records what the feed hands it and answers the pages from a list.
class RecordedSteps : public PageSteps {
 public:
  bool TransmitPage(TiffOper& tiff, std::uint32_t pageNo, std::uint32_t total) override {
    rows.push_back(static_cast<int>(tiff.PageInfo().length));
    totals.push_back(total);
    return pageNo != failAt;
  }
  PageAnswer AnswerPage(bool last, std::uint32_t pageNo, std::uint32_t /*total*/) override {
    lasts.push_back(last);
    return pageNo <= answers.size() ? answers[pageNo - 1] : kConfirmed;
  }
  void EndUnreadable() override { ends += "unreadable;"; }
  void EndCancelled() override { ends += "cancelled;"; }
  void EndSent() override { ends += "sent;"; }

  std::vector<PageAnswer> answers;  // past its end every page is confirmed
  std::uint32_t failAt = 0;         // the page whose transmission fails
  std::vector<int> rows;            // the length of each page transmitted
  std::vector<std::uint32_t> totals;
  std::vector<bool> lasts;
  std::string ends;
};

class PageFeedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadResDll("EngRes");
    ErrorPool::Instance().Clear();
    job.StartJob(kSendJob);
  }
  void TearDown() override { job.EndJob(); }
  // Fax files of pages with the given row counts.
  std::vector<std::string> Files(const std::vector<std::vector<int>>& pages) {
    std::vector<std::string> files;
    for (const auto& rows : pages) {
      files.push_back((dir.path() / (std::to_string(files.size()) + ".tif")).string());
      EXPECT_TRUE(test::WriteFaxFile(files.back(), rows, true));
    }
    return files;
  }
  int Send(const std::vector<std::string>& files) {
    PageFeed feed(files, &resume, {"Feed", "Send"});
    EXPECT_EQ(feed.CountPages(PageFeed::FirstPage::kExactly), PageFeed::Count::kReady);
    EXPECT_TRUE(feed.FirstPageFlags() & PAGE_FINE);
    return feed.Send(steps, {"sender", "recipient"}, &job, &result);
  }

  test::TempDir dir;
  JobControl job;
  RecordedSteps steps;
  std::uint32_t resume = 0;
  FaxResult result;
};

TEST_F(PageFeedTest, EveryPageFromTheResumePositionGoesAndTheSendEnds) {
  resume = ResumePosition::At(0, 1).Raw();
  EXPECT_EQ(Send(Files({{10, 11, 12}, {13}})), kSessionDone);
  EXPECT_EQ(steps.rows, (std::vector<int>{11, 12, 13}));
  EXPECT_EQ(steps.totals, (std::vector<std::uint32_t>{3, 3, 3}));
  EXPECT_EQ(steps.lasts, (std::vector<bool>{false, false, true}));
  EXPECT_EQ(steps.ends, "sent;");
  EXPECT_EQ(resume, 0u);
  EXPECT_EQ(result.pagesTransferred, 3u);
  // Pages are counted from the resume position: the page shown out of those left.
  EXPECT_EQ(job.Status().total, 3u);
  EXPECT_EQ(job.Status().secondTotal, 3u);
  EXPECT_NE(job.Status().text.find("3 page(s) sent"), std::string::npos);
}

TEST_F(PageFeedTest, AResumePagePastItsFileStartsAtTheNextFile) {
  resume = ResumePosition::At(0, 4).Raw();
  EXPECT_EQ(Send(Files({{10}, {13, 14}})), kSessionDone);
  EXPECT_EQ(steps.rows, (std::vector<int>{13, 14}));
}

TEST_F(PageFeedTest, NothingLeftToSendIsReportedOrFinished) {
  const auto files = Files({{10}});
  resume = ResumePosition::At(0, 3).Raw();
  PageFeed pastThePages(files, &resume, {"Feed", "Send"});
  EXPECT_FALSE(pastThePages.Finished());
  EXPECT_EQ(pastThePages.CountPages(PageFeed::FirstPage::kFirstReadable),
            PageFeed::Count::kNoPages);
  EXPECT_THAT(test::TakeMessages(), ::testing::Contains("Page number of TIFF image files is zero"));
  resume = ResumePosition::At(1, 0).Raw();
  EXPECT_TRUE(PageFeed(files, &resume, {"Feed", "Send"}).Finished());

  const std::string junk = (dir.path() / "junk.tif").string();
  std::ofstream(junk) << "not a TIFF file";
  const std::vector<std::string> unreadable = {junk};
  EXPECT_EQ(PageFeed(unreadable, nullptr, {"Feed", "Send"})
                .CountPages(PageFeed::FirstPage::kFirstReadable),
            PageFeed::Count::kFileUnreadable);
}

// Where the answers leave the send, over a.tif of two pages and b.tif of one.
// An answer a letter: C confirmed, R refused, D dropped (no answer), L the
// last word (confirmed, then the line drops).
struct AnswerCase {
  const char* name;
  std::string_view answers;
  int session;
  std::uint32_t pages;
  ResumePosition resume;
  std::uint32_t failAt = 0;  // the page whose transmission fails
};

class PageFeedAnswers : public PageFeedTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(PageFeedAnswers, MoveTheResumePositionPastConfirmedPagesOnly) {
  const AnswerCase& c = GetParam();
  for (const char letter : c.answers)
    steps.answers.push_back(letter == 'C'   ? kConfirmed
                            : letter == 'R' ? kRefused
                            : letter == 'L' ? kLastWord
                                            : kDropped);
  steps.failAt = c.failAt;
  EXPECT_EQ(Send(Files({{10, 11}, {12}})), c.session);
  EXPECT_EQ(result.pagesTransferred, c.pages);
  EXPECT_EQ(resume, c.resume.Raw());
  EXPECT_EQ(steps.ends, c.session == kSessionFailed ? "" : "sent;");
  EXPECT_EQ(steps.lasts.size(), c.failAt ? c.failAt - 1 : steps.rows.size()) << "pages answered";
}

INSTANTIATE_TEST_SUITE_P(
    Answers, PageFeedAnswers,
    ::testing::Values(
        AnswerCase{"DropOnTheSecondPage", "CD", kSessionFailed, 1, ResumePosition::At(0, 1)},
        AnswerCase{"DropAfterAFilesLastPage", "CL", kSessionFailed, 2, ResumePosition::At(1, 0)},
        AnswerCase{"DropOnTheLastPage", "CCD", kSessionFailed, 2, ResumePosition::At(1, 0)},
        AnswerCase{"RefusedPageIsAPartialSuccess", "R", kSessionPartly, 3, ResumePosition()},
        AnswerCase{"LastWordOnTheLastPageEndsIt", "CCL", kSessionFailed, 3, ResumePosition()},
        // A page that cannot be transmitted is not answered: the send ends there.
        AnswerCase{"TransmissionFails", "", kSessionFailed, 1, ResumePosition::At(0, 1), 2}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(PageFeedTest, ACancelEndsTheSendBeforeThePageWithItsReport) {
  job.Cancel();
  EXPECT_EQ(Send(Files({{10}})), kSessionFailed);
  EXPECT_TRUE(steps.rows.empty());
  EXPECT_EQ(steps.ends, "cancelled;");
  const auto errors = test::TakeErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].message, kCancelText);
  EXPECT_EQ(*errors[0].module, "Feed");
  EXPECT_EQ(*errors[0].function, "Send");
}

}  // namespace
}  // namespace vexo
