// Whole Class 2.0 and Class 2 calls through the fax kernel over the line
// simulator's service-class modems, in real time: the kernel finds the class
// on its own, the far end decodes every page we send (our header above the
// source rows), a call-in lands in a new fax file with the source rows, and
// each failure ends with its message in the error pool; a call in that drops
// inside a page (here also over Class 1) leaves a valid file. Every case starts
// its own simulator, so the cases can run side by side.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/strings.h"
#include "platform/text.h"
#include "tests/sim/sim_harness.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

// Rows of a page of little ink: a few KB once coded.
constexpr int kLightRows = 64;

bool Holds(const std::vector<std::string>& messages, const std::string& text) {
  return std::any_of(messages.begin(), messages.end(),
                     [&](const std::string& m) { return m.find(text) != std::string::npos; });
}

struct ClassCase {
  const char* simClass;  // --class
  std::uint32_t kernel;  // the class the kernel must detect
};

class Class2Sim : public ::testing::TestWithParam<ClassCase>, public KernelCall {
 protected:
  void SetUp() override {
    LoadResDll("EngRes");
    TakeMessages();
  }
  bool Open(std::vector<std::string> options, std::uint32_t jobKind) {
    options.insert(options.end(), {"--class", GetParam().simClass});
    return KernelCall::Open(options, jobKind);
  }
  // Every page the far end kept is our header above the source page.
  void ExpectFarPages(const std::vector<Bitmap>& pages) {
    const auto got = ReadTiffPages(dir.path() / "rx" / "fax-001.tif");
    ASSERT_EQ(got.size(), pages.size());
    for (std::size_t i = 0; i < got.size(); ++i)
      EXPECT_EQ(HeaderAbove(got[i], pages[i]), "") << "page " << i + 1;
  }
};

// Sends that complete: fine and normal pages, and MMR with error correction
// when both ends allow it.
TEST_P(Class2Sim, PagesAreDecodedByTheFarEnd) {
  struct Case {
    int count, rows;
    unsigned seed;
    bool fine, ecm;
    const char *report, *resolution;
  };
  for (const Case c : {Case{3, 200, 1, true, false, "completed, 3 pages", "fine"},
                       Case{1, 100, 5, false, false, "completed, 1 page", "normal"},
                       Case{1, 100, 7, true, true, "ECM, T.6", "fine"}}) {
    SCOPED_TRACE(c.report);
    const auto pages = TestPages(c.count, c.rows, c.seed);
    const std::vector<std::string> far = {"--far-ecm", "--far-coding", "mmr"};
    ASSERT_TRUE(Open(c.ecm ? far : std::vector<std::string>{}, kSendJob))
        << (sim ? sim->Stderr() : "");
    kernel.SetCallSettings({1, 20, c.ecm, c.ecm ? FaxCoding::kMmr : FaxCoding::kMh});
    ASSERT_EQ(Send(pages, c.fine), 0) << ::testing::PrintToString(TakeMessages());
    EXPECT_EQ(kernel.DetectedClass(), GetParam().kernel);
    EXPECT_EQ(result.pagesTransferred, static_cast<std::uint32_t>(c.count));
    EXPECT_EQ(Utf16ToUtf8(result.RemoteId()), kSimFarId);
    const std::string report = Report();
    EXPECT_NE(report.find(c.report), std::string::npos) << report;
    EXPECT_NE(report.find(c.resolution), std::string::npos) << report;
    ExpectFarPages(pages);
    End();
    std::filesystem::remove_all(dir.path() / "rx");
  }
}

// The far end's modem passes on a second RTC behind the coder's, with stray
// one bits in between: the stored pages still hold exactly the source rows.
TEST_P(Class2Sim, ACallInIsReceivedIntoANewFile) {
  const auto pages = TestPages(3, 150, 9);
  const fs::path in = dir.path() / "in.tif";
  ASSERT_TRUE(WriteFaxTiff(in, pages, true));
  ASSERT_TRUE(Open({"--call-in", in.string()}, kReceiveJob)) << (sim ? sim->Stderr() : "");
  ASSERT_EQ(kernel.WaitRing_NoEvent(), 0) << ::testing::PrintToString(TakeMessages());
  EXPECT_EQ(kernel.DetectedClass(), GetParam().kernel);
  const fs::path received = dir.path() / "QX000001.tif";
  ASSERT_EQ(kernel.ReceiveFax(received.string(), kSimLocalId, false, &result), 0)
      << ::testing::PrintToString(TakeMessages());
  EXPECT_EQ(result.pagesTransferred, 3u);
  EXPECT_EQ(result.resolution, kResultResolutionFine);
  EXPECT_EQ(Utf16ToUtf8(result.RemoteId()), kSimFarId);
  EXPECT_TRUE(ReadTiffPages(received) == pages) << "the received pages differ";
  const std::string report = Report();
  EXPECT_NE(report.find("completed, 3 pages"), std::string::npos) << report;
  EXPECT_NE(report.find(std::string("far saw \"") + kSimLocalId + "\""), std::string::npos)
      << report;
}

// A drop during page 3 keeps the resume position on page 3; a new call from
// there delivers pages 3 and 4 only.
TEST_P(Class2Sim, ADropDuringPageThreeResumesThere) {
  const auto pages = TestPages(4, kLightRows, 40);
  ASSERT_TRUE(Open({"--drop-during-page", "3"}, kSendJob)) << (sim ? sim->Stderr() : "");
  std::uint32_t resume = 0;
  EXPECT_EQ(Send(pages, true, &resume), 1) << "two pages went";
  EXPECT_EQ(resume, ResumePosition::At(0, 2).Raw());
  EXPECT_FALSE(TakeMessages().empty());
  EXPECT_NE(Report().find("failed"), std::string::npos);

  End();
  fs::remove_all(dir.path() / "rx");
  ASSERT_TRUE(Open({}, kSendJob)) << sim->Stderr();
  EXPECT_EQ(Send(pages, true, &resume), 0) << ::testing::PrintToString(TakeMessages());
  EXPECT_EQ(resume, 0u);
  EXPECT_NE(Report().find("completed, 2 pages"), std::string::npos);
  ExpectFarPages({pages[2], pages[3]});
}

// Line faults: the result, the pages that went, and the message each leaves.
TEST_P(Class2Sim, LineFaultsEndTheSendWithTheirMessage) {
  struct Fault {
    const char* options;
    int pages;
    int sent;  // SendFax's result
    std::uint32_t transferred;
    const char* report;   // in the far end's report (empty: any)
    const char* message;  // empty: any message, but one
  };
  // A refused page is counted and the next one follows: a partial success; the
  // page the line dropped during is not counted.
  const Fault faults[] = {
      {"--rtn-page 2", 3, 1, 3, "(1 refused)", "Page 2 was refused by the remote fax machine."},
      {"--drop-during-page 1", 2, -1, 0, "", ""},
      {"--hangup-code 52:3", 3, 1, 2, "",
       "No response to MPS (Multi-Page Signal) repeated 3 times."},
      {"--busy", 1, -1, 0, "", "busy tone 'on' time exceeds 300 ms."},
      {"--no-dialtone", 1, -1, 0, "", "no dial tone"},
  };
  unsigned seed = 30;
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.options);
    ASSERT_TRUE(Open(Words(fault.options), kSendJob)) << (sim ? sim->Stderr() : "");
    EXPECT_EQ(Send(TestPages(fault.pages, kLightRows, seed += 10)), fault.sent);
    const auto messages = TakeMessages();
    EXPECT_TRUE(Holds(messages, fault.message)) << ::testing::PrintToString(messages);
    EXPECT_EQ(result.pagesTransferred, fault.transferred);
    EXPECT_NE(Report().find(fault.report), std::string::npos);
    End();
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
  const auto pages = TestPages(3, kLightRows, 70);
  ASSERT_TRUE(Open({}, kSendJob)) << (sim ? sim->Stderr() : "");
  CancelAtPage cancel(job, 2);
  job.SetObserver(&cancel);
  std::uint32_t resume = 0;
  EXPECT_EQ(Send(pages, true, &resume), 1);
  job.SetObserver(nullptr);
  const auto messages = TakeMessages();
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

// A call in that drops inside page 2, in Class 1 and in Class 2.0: a valid file
// of page 1 whole and page 2 with the rows that came whole as its length,
// counted as the partial receive's pages.
TEST(DropDuringReceiveSim, TheFileHoldsTheRowsReceivedAndTheRecordCountsThem) {
  LoadResDll("EngRes");
  for (const char* simClass : {"1", "2.0"}) {
    SCOPED_TRACE(simClass);
    TakeMessages();
    KernelCall call;
    Class1Timeouts timeouts;  // for the post-page message that never comes
    timeouts.postPageMessage = 3000;
    call.kernel.SetClass1Timeouts(timeouts);
    const auto pages = TestPages(3, 400, 80);
    const fs::path in = call.dir.path() / "in.tif";
    ASSERT_TRUE(WriteFaxTiff(in, pages, true));
    ASSERT_TRUE(call.Open(
        {"--class", simClass, "--call-in", in.string(), "--drop-during-page", "2"}, kReceiveJob));
    ASSERT_EQ(call.kernel.WaitRing_NoEvent(), 0) << ::testing::PrintToString(TakeMessages());
    const std::string file = (call.dir.path() / "QX000001.tif").string();
    EXPECT_EQ(call.kernel.ReceiveFax(file, kSimLocalId, false, &call.result), 1);
    EXPECT_EQ(call.result.pagesTransferred, 2u) << ::testing::PrintToString(TakeMessages());
    for (const auto& check :
         {std::vector<std::string>{"/usr/bin/tiffinfo", "-D", file},
          std::vector<std::string>{"/usr/bin/tiff2pdf", "-o", "/dev/null", file}}) {
      ChildProcess tool(check, call.dir.path() / "tool.log");
      EXPECT_EQ(tool.Wait(seconds(20)), 0) << tool.Log();
      EXPECT_EQ(tool.Log().find("rror"), std::string::npos) << tool.Log();
    }
    // libtiff decodes ImageLength rows of each page: the rows sent, page 2 cut short.
    const auto got = ReadTiffPages(file);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], pages[0]);
    EXPECT_GT(got[1].rows, 0);
    EXPECT_LT(got[1].rows, pages[1].rows);
    EXPECT_TRUE(std::equal(got[1].bits.begin(), got[1].bits.end(), pages[1].bits.begin()));
  }
}

// Class 2 only: the modem's CONNECT to AT+FDT without XON.
TEST(Class2OnlySim, NoXonFailsTheSendBeforeAnyPageData) {
  LoadResDll("EngRes");
  TakeMessages();
  KernelCall call;
  // The wait for XON is all the case is about: a few seconds do.
  Class2Timeouts timeouts;
  timeouts.pageConnect = 3000;
  call.kernel.SetClass2Timeouts(timeouts);
  ASSERT_TRUE(call.Open({"--class", "2", "--no-xon"}, kSendJob)) << call.sim->Stderr();
  EXPECT_EQ(call.Send({MakeTestPage(1, kLightRows)}), -1);
  EXPECT_EQ(call.kernel.DetectedClass(), kFaxClass2);
  const auto messages = TakeMessages();
  EXPECT_TRUE(Holds(messages, "Timeout waiting for modem response."))
      << ::testing::PrintToString(messages);
  EXPECT_EQ(call.result.pagesTransferred, 0u);
}

}  // namespace
}  // namespace vexo::test
