// Whole Class 2.0 and Class 2 calls through the fax kernel over the line
// simulator's service-class modems, in real time: the kernel finds the class
// on its own, the far end decodes every page we send (our header above the
// source rows), a call-in lands in a new fax file with the source rows, and
// each failure ends with its message in the error pool. Every case starts its
// own simulator, so the cases can run side by side.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/job_control.h"
#include "base/strings.h"
#include "kernel/fax_kernel.h"
#include "platform/text.h"
#include "tests/sim/sim_harness.h"
#include "tests/sim/test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

constexpr const char* kLocalId = "+1 555 0100";
constexpr const char* kFarId = "+1 555 9999";
// The page header band drawn above each page we send is at most this high.
constexpr int kHeaderRowsMax = 120;
// Rows of a page of little ink: a few KB once coded.
constexpr int kLightRows = 64;

bool Holds(const std::vector<std::string>& messages, const std::string& text) {
  return std::any_of(messages.begin(), messages.end(),
                     [&](const std::string& m) { return m.find(text) != std::string::npos; });
}

// Empty when got is a header band with some ink above exactly the source rows.
std::string HeaderAbove(const Bitmap& got, const Bitmap& source) {
  if (got.width != source.width) return "width " + std::to_string(got.width);
  const int header = got.rows - source.rows;
  if (header <= 0 || header >= kHeaderRowsMax) return std::to_string(got.rows) + " rows";
  const auto stride = static_cast<std::ptrdiff_t>(got.width / 8);
  const auto body = got.bits.begin() + header * stride;
  if (std::all_of(got.bits.begin(), body, [](std::uint8_t b) { return b == 0; }))
    return "the header band is blank";
  if (!std::equal(body, got.bits.end(), source.bits.begin(), source.bits.end()))
    return "the rows below the header differ";
  return {};
}

struct ClassCase {
  const char* simClass;  // --class
  std::uint32_t kernel;  // the class the kernel must detect
};

class Class2Sim : public ::testing::TestWithParam<ClassCase> {
 protected:
  void SetUp() override {
    LoadResDll("EngRes");
    PoolMessages();
  }
  void TearDown() override {
    kernel.ClosePort(0);
    job.EndJob();
  }

  bool Open(std::vector<std::string> options, std::uint32_t jobKind) {
    options.insert(options.end(), {"--class", GetParam().simClass, "--far-id", kFarId,
                                   "--far-receive", (dir.path() / "rx").string(), "--verbose"});
    sim = std::make_unique<Linesim>(options);
    if (sim->Pty(1).empty()) return false;
    kernel.SetPortOptions({sim->Pty(1), "", "", false});
    kernel.SetBaudRate(115200);
    if (kernel.InitKernel(nullptr, dir.path().string() + "/", &job) != 1) return false;
    job.StartJob(jobKind);
    return kernel.OpenPort(1, nullptr, "", 0) == 1;
  }

  std::vector<Bitmap> Pages(int count, int rows, unsigned seed = 1) {
    std::vector<Bitmap> pages;
    for (int n = 0; n < count; ++n)
      pages.push_back(MakeTestPage(seed + static_cast<unsigned>(n), rows));
    return pages;
  }

  int Send(const std::vector<Bitmap>& pages, bool fine, std::uint32_t* resume = nullptr) {
    const fs::path file = dir.path() / "out.tif";
    EXPECT_TRUE(WriteFaxTiff(file, pages, fine));
    std::uint32_t start = resume ? *resume : 0;
    const std::vector<std::string> files = {file.string()};
    const int sent = kernel.SendFax(files, "5551234", kLocalId, &start, &result);
    if (resume) *resume = start;
    return sent;
  }

  // The far end's report line for the call.
  std::string Report() {
    const auto line = sim->WaitForReport(seconds(20));
    return line ? *line : "no report: " + sim->Stderr();
  }

  // Every page the far end kept is our header above the source page.
  void ExpectFarPages(const std::vector<Bitmap>& pages) {
    const auto got = ReadTiffPages(dir.path() / "rx" / "fax-001.tif");
    ASSERT_EQ(got.size(), pages.size());
    for (std::size_t i = 0; i < got.size(); ++i)
      EXPECT_EQ(HeaderAbove(got[i], pages[i]), "") << "page " << i + 1;
  }

  TempDir dir;
  JobControl job;
  FaxKernel kernel;
  FaxResult result;
  std::unique_ptr<Linesim> sim;
};

TEST_P(Class2Sim, ThreeFinePagesAreDecodedByTheFarEnd) {
  const auto pages = Pages(3, 200);
  ASSERT_TRUE(Open({}, kSendJob)) << (sim ? sim->Stderr() : "");
  ASSERT_EQ(Send(pages, true), 0) << ::testing::PrintToString(PoolMessages());
  EXPECT_EQ(kernel.DetectedClass(), GetParam().kernel);
  EXPECT_EQ(result.pagesTransferred, 3u);
  EXPECT_EQ(Utf16ToUtf8(result.RemoteId()), kFarId);
  const std::string report = Report();
  EXPECT_NE(report.find("completed, 3 pages"), std::string::npos) << report;
  EXPECT_NE(report.find("fine"), std::string::npos) << report;
  ExpectFarPages(pages);
}

TEST_P(Class2Sim, OneNormalPage) {
  const auto pages = Pages(1, 100, 5);
  ASSERT_TRUE(Open({}, kSendJob)) << (sim ? sim->Stderr() : "");
  ASSERT_EQ(Send(pages, false), 0) << ::testing::PrintToString(PoolMessages());
  const std::string report = Report();
  EXPECT_NE(report.find("completed, 1 page"), std::string::npos) << report;
  EXPECT_NE(report.find("normal"), std::string::npos) << report;
  ExpectFarPages(pages);
}

TEST_P(Class2Sim, EightPagesOfLittleInk) {
  const auto pages = Pages(8, kLightRows, 20);
  ASSERT_TRUE(Open({}, kSendJob)) << (sim ? sim->Stderr() : "");
  ASSERT_EQ(Send(pages, true), 0) << ::testing::PrintToString(PoolMessages());
  EXPECT_EQ(result.pagesTransferred, 8u);
  const std::string report = Report();
  EXPECT_NE(report.find("completed, 8 pages"), std::string::npos) << report;
  ExpectFarPages(pages);
}

// The far end's modem passes on a second RTC behind the coder's, with stray
// one bits in between: the stored pages still hold exactly the source rows.
TEST_P(Class2Sim, ACallInIsReceivedIntoANewFile) {
  const auto pages = Pages(3, 150, 9);
  const fs::path in = dir.path() / "in.tif";
  ASSERT_TRUE(WriteFaxTiff(in, pages, true));
  ASSERT_TRUE(Open({"--call-in", in.string()}, kReceiveJob)) << (sim ? sim->Stderr() : "");
  ASSERT_EQ(kernel.WaitRing_NoEvent(), 0) << ::testing::PrintToString(PoolMessages());
  EXPECT_EQ(kernel.DetectedClass(), GetParam().kernel);
  const fs::path received = dir.path() / "QX000001.tif";
  ASSERT_EQ(kernel.ReceiveFax(received.string(), kLocalId, 0, &result), 0)
      << ::testing::PrintToString(PoolMessages());
  EXPECT_EQ(result.pagesTransferred, 3u);
  EXPECT_EQ(result.resolution, kResultResolutionFine);
  EXPECT_EQ(Utf16ToUtf8(result.RemoteId()), kFarId);
  const auto got = ReadTiffPages(received);
  ASSERT_EQ(got.size(), pages.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].rows, pages[i].rows) << "page " << i + 1;
    EXPECT_TRUE(got[i].bits == pages[i].bits) << "page " << i + 1;
  }
  const std::string report = Report();
  EXPECT_NE(report.find("completed, 3 pages"), std::string::npos) << report;
  EXPECT_NE(report.find(std::string("far saw \"") + kLocalId + "\""), std::string::npos) << report;
}

// A refused page is counted, the next one follows, and the call is a partial
// success with the refusal in the error pool.
TEST_P(Class2Sim, ARefusedPageMakesAPartialSuccess) {
  const auto pages = Pages(3, kLightRows, 30);
  ASSERT_TRUE(Open({"--rtn-page", "2"}, kSendJob)) << (sim ? sim->Stderr() : "");
  EXPECT_EQ(Send(pages, true), 1);
  const auto messages = PoolMessages();
  EXPECT_TRUE(Holds(messages, "Page 2 was refused by the remote fax machine."))
      << ::testing::PrintToString(messages);
  EXPECT_EQ(result.pagesTransferred, 3u);
  const std::string report = Report();
  EXPECT_NE(report.find("(1 refused)"), std::string::npos) << report;
}

// A drop during page 3 keeps the resume position on page 3; a new call from
// there delivers pages 3 and 4 only.
TEST_P(Class2Sim, ADropDuringPageThreeResumesThere) {
  const auto pages = Pages(4, kLightRows, 40);
  ASSERT_TRUE(Open({"--drop-during-page", "3"}, kSendJob)) << (sim ? sim->Stderr() : "");
  std::uint32_t resume = 0;
  EXPECT_EQ(Send(pages, true, &resume), 1) << "two pages went";
  EXPECT_EQ(resume, ResumePosition::At(0, 2).Raw());
  EXPECT_FALSE(PoolMessages().empty());
  EXPECT_NE(Report().find("failed"), std::string::npos);

  kernel.ClosePort(0);
  job.EndJob();
  fs::remove_all(dir.path() / "rx");
  ASSERT_TRUE(Open({}, kSendJob)) << sim->Stderr();
  EXPECT_EQ(Send(pages, true, &resume), 0) << ::testing::PrintToString(PoolMessages());
  EXPECT_EQ(resume, 0u);
  EXPECT_NE(Report().find("completed, 2 pages"), std::string::npos);
  ExpectFarPages({pages[2], pages[3]});
}

// The page the line dropped during is not counted: nothing went.
TEST_P(Class2Sim, ADropDuringTheFirstPageEndsFailed) {
  const auto pages = Pages(2, kLightRows, 50);
  ASSERT_TRUE(Open({"--drop-during-page", "1"}, kSendJob)) << (sim ? sim->Stderr() : "");
  std::uint32_t resume = 0;
  EXPECT_EQ(Send(pages, true, &resume), -1);
  EXPECT_EQ(result.pagesTransferred, 0u);
  EXPECT_FALSE(PoolMessages().empty());
}

TEST_P(Class2Sim, AHangupBeforeTheLastPageIsReported) {
  const auto pages = Pages(3, kLightRows, 60);
  ASSERT_TRUE(Open({"--hangup-code", "52:3"}, kSendJob)) << (sim ? sim->Stderr() : "");
  EXPECT_EQ(Send(pages, true), 1);
  const auto messages = PoolMessages();
  EXPECT_TRUE(Holds(messages, "No response to MPS (Multi-Page Signal) repeated 3 times."))
      << ::testing::PrintToString(messages);
  EXPECT_EQ(result.pagesTransferred, 2u);
}

struct LineEvent {
  const char* option;
  const char* message;
};

TEST_P(Class2Sim, LineEventsOnDiallingFailTheSend) {
  const LineEvent events[] = {
      {"--busy", "busy tone 'on' time exceeds 300 ms."},
      {"--no-dialtone", "no dial tone"},
  };
  for (const LineEvent& event : events) {
    ASSERT_TRUE(Open({event.option}, kSendJob)) << (sim ? sim->Stderr() : "");
    EXPECT_EQ(Send(Pages(1, kLightRows), true), -1) << event.option;
    const auto messages = PoolMessages();
    EXPECT_TRUE(Holds(messages, event.message))
        << event.option << ::testing::PrintToString(messages);
    EXPECT_EQ(result.pagesTransferred, 0u);
    kernel.ClosePort(0);
    job.EndJob();
  }
}

// Cancels the job when the status shows the page given.
class CancelAtPage : public JobStatusObserver {
 public:
  CancelAtPage(JobControl& job, std::uint32_t page) : m_job(job), m_page(page) {}
  void JobStatusChanged() override {
    if (m_job.Status().total == m_page) m_job.Cancel();
  }

 private:
  JobControl& m_job;
  std::uint32_t m_page;
};

TEST_P(Class2Sim, ACancelBetweenPagesEndsTheCall) {
  const auto pages = Pages(3, kLightRows, 70);
  ASSERT_TRUE(Open({}, kSendJob)) << (sim ? sim->Stderr() : "");
  CancelAtPage cancel(job, 2);
  job.SetObserver(&cancel);
  std::uint32_t resume = 0;
  EXPECT_EQ(Send(pages, true, &resume), 1);
  job.SetObserver(nullptr);
  const auto messages = PoolMessages();
  EXPECT_TRUE(Holds(messages, "User terminate the fax operation"))
      << ::testing::PrintToString(messages);
  EXPECT_EQ(result.pagesTransferred, 1u);
  EXPECT_EQ(resume, ResumePosition::At(0, 1).Raw());
}

INSTANTIATE_TEST_SUITE_P(Classes, Class2Sim,
                         ::testing::Values(ClassCase{"2.0", kFaxClass20},
                                           ClassCase{"2", kFaxClass2}),
                         [](const ::testing::TestParamInfo<ClassCase>& param) {
                           return param.param.kernel == kFaxClass20 ? "Class20" : "Class2";
                         });

// Class 2 only: the modem's CONNECT to AT+FDT without XON.
TEST(Class2OnlySim, NoXonFailsTheSendBeforeAnyPageData) {
  LoadResDll("EngRes");
  PoolMessages();
  TempDir dir;
  Linesim sim({"--class", "2", "--no-xon", "--far-id", kFarId});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  JobControl job;
  FaxKernel kernel;
  kernel.SetPortOptions({sim.Pty(1), "", "", false});
  kernel.SetBaudRate(115200);
  ASSERT_EQ(kernel.InitKernel(nullptr, dir.path().string() + "/", &job), 1);
  // The wait for XON is all the case is about: a few seconds do.
  Class2Timeouts timeouts;
  timeouts.pageConnect = 3000;
  kernel.SetClass2Timeouts(timeouts);
  job.StartJob(kSendJob);
  ASSERT_EQ(kernel.OpenPort(1, nullptr, "", 0), 1);
  const fs::path file = dir.path() / "out.tif";
  ASSERT_TRUE(WriteFaxTiff(file, {MakeTestPage(1, kLightRows)}));
  std::uint32_t resume = 0;
  FaxResult result;
  const std::vector<std::string> files = {file.string()};
  EXPECT_EQ(kernel.SendFax(files, "5551234", kLocalId, &resume, &result), -1);
  EXPECT_EQ(kernel.DetectedClass(), kFaxClass2);
  const auto messages = PoolMessages();
  EXPECT_TRUE(Holds(messages, "Timeout waiting for modem response."))
      << ::testing::PrintToString(messages);
  EXPECT_EQ(result.pagesTransferred, 0u);
  kernel.ClosePort(0);
  job.EndJob();
}

}  // namespace
}  // namespace vexo::test
