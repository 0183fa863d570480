// Whole calls through the fax kernel over the line simulator, in real time:
// a send and a call-in received on a phone modem (indications switched off
// before the class query and put back with the saved value at the end of each
// call), a forced class the modem lacks, and the combined-class modem where
// the kernel must pick 2.0 over 2 over 1.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/error_pool.h"
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
// What the simulator's phone modem answers to "AT+CNMI?".
constexpr const char* kSimCnmi = "2,1,0,0,0";

class KernelSim : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadResDll("EngRes");
    PoolMessages();
  }
  void TearDown() override {
    kernel.ClosePort(0);
    job.EndJob();
  }
  // Starts the simulator and opens the kernel on its first modem.
  bool Open(std::vector<std::string> options, std::uint32_t jobKind) {
    options.insert(options.end(), {"--far-id", kFarId, "--far-receive",
                                   (dir.path() / "rx").string(), "--verbose"});
    sim = std::make_unique<Linesim>(options);
    if (sim->Pty(1).empty()) return false;
    return OpenKernel(jobKind);
  }
  bool OpenKernel(std::uint32_t jobKind) {
    kernel.SetPortOptions({sim->Pty(1), "", "", false});
    kernel.SetBaudRate(115200);
    if (kernel.InitKernel(nullptr, dir.path().string() + "/", &job) != 1) return false;
    job.StartJob(jobKind);
    return kernel.OpenPort(1, nullptr, "", 0) == 1;
  }
  fs::path Document(int pages) {
    std::vector<Bitmap> bitmaps;
    for (int n = 1; n <= pages; ++n) bitmaps.push_back(MakeTestPage(static_cast<unsigned>(n), 160));
    const fs::path file = dir.path() / "out.tif";
    EXPECT_TRUE(WriteFaxTiff(file, bitmaps));
    return file;
  }
  int Send(const fs::path& file) {
    std::uint32_t resume = 0;
    const std::vector<std::string> files = {file.string()};
    const int sent = kernel.SendFax(files, "5551234", kLocalId, &resume, &result);
    EXPECT_EQ(resume, 0u);
    return sent;
  }

  TempDir dir;
  JobControl job;
  FaxKernel kernel;
  FaxResult result;
  std::unique_ptr<Linesim> sim;
};

TEST_F(KernelSim, APhoneModemSendPutsTheIndicationsBack) {
  const fs::path file = Document(2);
  ASSERT_TRUE(Open({"--phone"}, kSendJob)) << (sim ? sim->Stderr() : "");
  ASSERT_EQ(Send(file), 0) << ::testing::PrintToString(PoolMessages());
  EXPECT_EQ(kernel.DetectedClass(), kFaxClass1);
  EXPECT_EQ(result.pagesTransferred, 2u);
  EXPECT_EQ(result.totalPages, 2u);
  EXPECT_EQ(Utf16ToUtf8(result.RemoteId()), kFarId);
  const auto report = sim->WaitForReport(seconds(20));
  ASSERT_TRUE(report) << sim->Stderr();
  EXPECT_NE(report->find("completed, 2 pages"), std::string::npos) << *report;

  const auto commands = Commands(sim->Stderr());
  const int off = IndexOf(commands, "AT+CNMI=0,0,0,0,0");
  const int query = IndexOf(commands, "AT+FCLASS=?");
  const int dial = IndexOf(commands, "ATX4DT5551234");
  const int back = IndexOf(commands, std::string("AT+CNMI=") + kSimCnmi);
  ASSERT_GE(off, 0) << sim->Stderr();
  EXPECT_LT(off, query);
  EXPECT_GT(back, dial) << "restored after the call";
  EXPECT_LT(back, IndexOf(commands, "ATH0", dial)) << "and before the hang-up";
}

TEST_F(KernelSim, ACallInOnAPhoneModemIsReceivedAndTheIndicationsComeBack) {
  std::vector<Bitmap> pages = {MakeTestPage(7, 200)};
  const fs::path in = dir.path() / "in.tif";
  ASSERT_TRUE(WriteFaxTiff(in, pages));
  ASSERT_TRUE(Open({"--phone", "--call-in", in.string()}, kReceiveJob))
      << (sim ? sim->Stderr() : "");
  ASSERT_EQ(kernel.WaitRing_NoEvent(), 0) << ::testing::PrintToString(PoolMessages());
  EXPECT_EQ(kernel.SavedIndication(), kSimCnmi);
  const fs::path received = dir.path() / "QX000001.tif";
  ASSERT_EQ(kernel.ReceiveFax(received.string(), kLocalId, 0, &result), 0)
      << ::testing::PrintToString(PoolMessages());
  EXPECT_EQ(result.pagesTransferred, 1u);
  EXPECT_EQ(Utf16ToUtf8(result.RemoteId()), kFarId);
  const auto got = ReadTiffPages(received);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(got[0].bits == pages[0].bits);

  const auto commands = Commands(sim->Stderr());
  const int answer = IndexOf(commands, "ATA");
  ASSERT_GE(answer, 0) << sim->Stderr();
  EXPECT_GT(IndexOf(commands, std::string("AT+CNMI=") + kSimCnmi), answer);
  EXPECT_EQ(kernel.SavedIndication(), "");
}

TEST_F(KernelSim, AForcedClassTheModemLacksFailsTheSend) {
  const fs::path file = Document(1);
  kernel.ApplyKernelSettings(kFaxClass20, 0, kApplyForcedClass);
  ASSERT_TRUE(Open({}, kSendJob)) << (sim ? sim->Stderr() : "");
  EXPECT_EQ(Send(file), -1);
  const auto messages = PoolMessages();
  EXPECT_NE(std::find(messages.begin(), messages.end(),
                      "this modem does not support the user-forced FAX class 20"),
            messages.end())
      << ::testing::PrintToString(messages);
  EXPECT_EQ(IndexOf(Commands(sim->Stderr()), "ATX4DT"), -1) << "nothing was dialled";
}

// The combined modem offers 0,1,2,2.0; the kernel takes Class 2.0.
TEST_F(KernelSim, TheCombinedModemIsDrivenInClass20) {
  const fs::path file = Document(1);
  sim = std::make_unique<Linesim>(
      std::vector<std::string>{"--class", "auto", "--far-id", kFarId, "--verbose"});
  bool combined = false;
  if (!sim->Pty(1).empty()) {
    PtyClient probe(sim->Pty(1));
    combined = probe.ok() && probe.Command("AT+FCLASS=?").find("2.0") != std::string::npos;
  }
  ASSERT_TRUE(combined) << "the simulator's --class auto modem offers 2.0";
  ASSERT_TRUE(OpenKernel(kSendJob));
  ASSERT_EQ(Send(file), 0) << ::testing::PrintToString(PoolMessages());
  EXPECT_EQ(kernel.DetectedClass(), kFaxClass20);
  EXPECT_GE(IndexOf(Commands(sim->Stderr()), "AT+FCLASS=2.0"), 0);
}

}  // namespace
}  // namespace vexo::test
