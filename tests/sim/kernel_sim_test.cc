// Whole calls through the fax kernel over the line simulator, in real time:
// a send and a call-in received on a phone modem (indications switched off
// before the class query and put back with the saved value at the end of each
// call), a forced class the modem lacks, and the combined-class modem where
// the kernel must pick 2.0 over 2 over 1.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/strings.h"
#include "platform/text.h"
#include "tests/sim/sim_harness.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

// What the simulator's phone modem answers to "AT+CNMI?".
constexpr const char* kSimCnmi = "2,1,0,0,0";

class KernelSim : public ::testing::Test, public KernelCall {
 protected:
  void SetUp() override {
    LoadResDll("EngRes");
    TakeMessages();
  }
  int Send(int pages) {
    std::uint32_t resume = 0;
    const int sent = KernelCall::Send(TestPages(pages, 160), true, &resume);
    EXPECT_EQ(resume, 0u);
    return sent;
  }
};

TEST_F(KernelSim, APhoneModemSendPutsTheIndicationsBack) {
  ASSERT_TRUE(Open({"--phone"}, kSendJob)) << (sim ? sim->Stderr() : "");
  ASSERT_EQ(Send(2), 0) << ::testing::PrintToString(TakeMessages());
  EXPECT_EQ(kernel.DetectedClass(), kFaxClass1);
  EXPECT_EQ(result.pagesTransferred, 2u);
  EXPECT_EQ(result.totalPages, 2u);
  EXPECT_EQ(Utf16ToUtf8(result.RemoteId()), kSimFarId);
  const std::string report = Report();
  EXPECT_NE(report.find("completed, 2 pages"), std::string::npos) << report;

  const auto commands = Trace();
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
  ASSERT_EQ(kernel.WaitRing_NoEvent(), 0) << ::testing::PrintToString(TakeMessages());
  EXPECT_EQ(kernel.SavedIndication(), kSimCnmi);
  const fs::path received = dir.path() / "QX000001.tif";
  ASSERT_EQ(kernel.ReceiveFax(received.string(), kSimLocalId, false, &result), 0)
      << ::testing::PrintToString(TakeMessages());
  EXPECT_EQ(result.pagesTransferred, 1u);
  EXPECT_EQ(Utf16ToUtf8(result.RemoteId()), kSimFarId);
  EXPECT_TRUE(ReadTiffPages(received) == pages);

  const auto commands = Trace();
  const int answer = IndexOf(commands, "ATA");
  ASSERT_GE(answer, 0) << sim->Stderr();
  EXPECT_GT(IndexOf(commands, std::string("AT+CNMI=") + kSimCnmi), answer);
  EXPECT_EQ(kernel.SavedIndication(), "");
}

TEST_F(KernelSim, AForcedClassTheModemLacksFailsTheSend) {
  kernel.ApplyKernelSettings(kFaxClass20, 0, kApplyForcedClass);
  ASSERT_TRUE(Open({}, kSendJob)) << (sim ? sim->Stderr() : "");
  EXPECT_EQ(Send(1), -1);
  const auto messages = TakeMessages();
  EXPECT_NE(std::find(messages.begin(), messages.end(),
                      "this modem does not support the user-forced FAX class 20"),
            messages.end())
      << ::testing::PrintToString(messages);
  EXPECT_EQ(IndexOf(Trace(), "ATX4DT"), -1) << "nothing was dialled";
}

// The combined modem offers 0,1,2,2.0; the kernel takes Class 2.0.
TEST_F(KernelSim, TheCombinedModemIsDrivenInClass20) {
  ASSERT_TRUE(Open({"--class", "auto"}, kSendJob)) << (sim ? sim->Stderr() : "");
  ASSERT_EQ(Send(1), 0) << ::testing::PrintToString(TakeMessages());
  EXPECT_EQ(kernel.DetectedClass(), kFaxClass20);
  const auto commands = Trace();
  EXPECT_LT(IndexOf(commands, "AT+FCLASS=?"), IndexOf(commands, "AT+FCLASS=2.0"));
}

}  // namespace
}  // namespace vexo::test
