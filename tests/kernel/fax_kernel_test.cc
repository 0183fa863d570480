// The fax kernel against a scripted modem on a pty, for what the simulator's
// calls (tests/sim) do not reach: odd answers to the class query and the set-up,
// "AT" rounds, a phone modem's indications on failing and cancelled exits.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/error_pool.h"
#include "base/strings.h"
#include "document/tiff_oper.h"
#include "kernel/fax_kernel.h"
#include "tests/protocol/class2_call_driver.h"
#include "tests/protocol/g3_test_pages.h"
#include "tests/protocol/pool_messages.h"
#include "tests/support/error_records.h"
#include "tests/support/pty_peer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_for.h"

namespace vexo {
namespace {

using test::CountOf;
using test::kOk;
using test::TakeMessages;
using ::testing::Contains;

constexpr const char* kError = "\r\nERROR\r\n";
constexpr const char* kInitEnd = "+CBST=7,0,0\r";
constexpr const char* kFallback = "AT E0 V1 Q0 M0 &C1 &D2 S7=60 S10=10\r";
constexpr const char* kPhoneMaker = "\r\nVEXO PHONE WORKS\r\n\r\nOK\r\n";
constexpr const char* kSavedCnmi = "2,1,0,0,0";
constexpr const char* kAllClasses = "\r\n(0,1,2,2.0)\r\n\r\nOK\r\n";
constexpr const char* kOnlyOne = "\r\n0,1\r\n\r\nOK\r\n";

class FaxKernelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadResDll("EngRes");
    ErrorPool::Instance().Clear();
    kernel.SetPortOptions({pty.SlavePath(), "", "", false});
    kernel.SetBaudRate(115200);
    ASSERT_EQ(kernel.InitKernel(nullptr, dir.path().string() + "/", &job), 1);
    kernel.SetTimeouts({.initOk = 1500, .answer = 1500});
    kernel.SetClass2Timeouts(test::TestTimeouts());
    job.StartJob(kSendJob);
  }
  void TearDown() override {
    modem.Stop();
    kernel.ClosePort(false);
    job.EndJob();
  }

  void Start() {
    modem.Start();
    ASSERT_EQ(kernel.OpenPort(1, nullptr, "", false), 1);
    EXPECT_EQ(kernel.PortName(), "COM1:");
    EXPECT_EQ(kernel.OpenPortNumber(), 1u);
  }
  std::string File(const std::string& name, const std::vector<int>& rows) {
    const std::string path = (dir.path() / name).string();
    EXPECT_TRUE(test::WriteFaxFile(path, rows, true));
    return path;
  }

  // The modem up to the class query of a ring wait: initialisation, the maker's
  // answer (a phone, or ERROR) and, for a phone, the indication query and switch-off.
  void Prelude(bool phone, bool initOk = true, const std::string& cnmiAnswer = "") {
    if (initOk) modem.Answer(kInitEnd, kOk);
    modem.Answer("AT+CGMI\r", phone ? kPhoneMaker : kError);
    if (phone) {
      modem.Answer("AT+CNMI?\r", cnmiAnswer.empty()
                                     ? std::string("\r\n+CNMI: ") + kSavedCnmi + "\r\n\r\nOK\r\n"
                                     : cnmiAnswer);
      modem.Answer("AT+CNMI=0,0,0,0,0\r", kOk);
    }
    modem.Answer("ATX4\r", kOk);
  }
  void Classes(const std::string& answer, const std::string& selected) {
    modem.Answer("AT+FCLASS=?\r", answer).Answer("AT+FCLASS=" + selected + "\r", kOk);
  }
  void Ring() { modem.Pause(800).Send("\r\nRING\r\n"); }
  void Hangup() {
    modem.Answer("AT\r", kOk)
        .Answer("ATH0\r", kOk)
        .Answer("AT+FCLASS=0\r", kOk)
        .Answer("ATZ\r", kOk);
  }
  int Send(const std::vector<std::string>& files) {
    std::uint32_t resume = 0;
    return kernel.SendFax(files, "5551234", "VEXO TEST", &resume, &result);
  }

  test::Pty pty;
  test::PtyModem modem{pty};
  test::TempDir dir;
  JobControl job;
  FaxKernel kernel;
  FaxResult result;
};

// ---- initialisation and class detection

// How the modem answers the first initialisation command.
enum class Init { Ok, Error, Silence };

struct DetectionCase {
  const char* name;
  std::string answer;  // the modem's lines to "AT+FCLASS=?"
  std::string later;   // lines the modem sends after a pause
  std::uint32_t forced;
  std::string selected;  // the text sent in "AT+FCLASS=%s"; empty: detection fails
  std::uint32_t detected;
  std::string message;  // the kernel's report (it stays when the wait succeeds)
  Init init = Init::Ok;
};

class FaxKernelDetection : public FaxKernelTest,
                           public ::testing::WithParamInterface<DetectionCase> {};

TEST_P(FaxKernelDetection, WaitRingSelectsTheClass) {
  const DetectionCase& c = GetParam();
  kernel.ApplyKernelSettings(c.forced, 0, kApplyForcedClass);
  if (c.init == Init::Error) modem.Answer(kInitEnd, kError).Answer(kFallback, kOk);
  if (c.init == Init::Silence) modem.Expect(kInitEnd);
  Prelude(false, c.init == Init::Ok);
  modem.Answer("AT+FCLASS=?\r", c.answer);
  if (!c.later.empty()) modem.Pause(600).Send(c.later);
  if (!c.selected.empty()) {
    modem.Answer("AT+FCLASS=" + c.selected + "\r", kOk);
    Ring();
  }
  Start();
  const int got = kernel.WaitRing_NoEvent();
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  const auto messages = TakeMessages();
  if (c.message.empty())
    EXPECT_TRUE(messages.empty()) << ::testing::PrintToString(messages);
  else
    EXPECT_THAT(messages, Contains(c.message));
  // Only an ERROR brings the fall-back (DCD and DTR options, never a dial).
  EXPECT_EQ(CountOf(modem.Received(), "&C1"), c.init == Init::Error ? 1u : 0u);
  EXPECT_EQ(modem.Received().find(" C1 D2"), std::string::npos);
  if (c.selected.empty()) {
    EXPECT_EQ(got, -1);
    EXPECT_EQ(CountOf(modem.Received(), "AT+FCLASS="), 1u) << "only the query goes out";
  } else {
    EXPECT_EQ(got, 0);
    EXPECT_EQ(kernel.DetectedClass(), c.detected);
    // A modem that is not a phone never sees an indication command.
    EXPECT_EQ(modem.Received().find("CNMI"), std::string::npos);
    EXPECT_EQ(kernel.SavedIndication(), "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FaxKernelDetection,
    ::testing::Values(
        DetectionCase{"AllForced1", kAllClasses, "", 1, "1", 1, ""},
        DetectionCase{"AllForced2", kAllClasses, "", 2, "2", 2, ""},
        DetectionCase{"AllForced20", kAllClasses, "", 20, "2.0", 20, ""},
        // "2" is found inside "2.0": forced Class 2 switches with the text 2.
        DetectionCase{"Only20Forced2", "\r\n0,1,2.0\r\n\r\nOK\r\n", "", 2, "2", 2, ""},
        DetectionCase{"TwoOverOne", "\r\n0,1,2\r\nOK\r\n", "", 0, "2", 2, ""},
        // A forced value the kernel does not know counts as automatic.
        DetectionCase{"UnknownForcedIsAutomatic", kOnlyOne, "", 7, "1", 1, ""},
        DetectionCase{"NoClassAtAll", "\r\n0\r\n\r\nOK\r\n", "", 0, "", 0,
                      "Cannot determine FAX modem class type"},
        DetectionCase{"Error", kError, "", 0, "", 0, "Modem return ERROR result."},
        DetectionCase{"Silence", "", "", 0, "", 0, "Timeout waiting for modem response."},
        // The list's OK may come in a later batch; without one the wait fails.
        DetectionCase{"OkInALaterBatch", "\r\n0,1,2\r\n", kOk, 0, "2", 2, ""},
        DetectionCase{"NoOkAfterTheList", "\r\n0,1,2\r\n", "", 0, "", 2,
                      "Wait modem OK response timeout."},
        DetectionCase{"AnInitErrorBringsTheFallback", kOnlyOne, "", 0, "1", 1,
                      "Modem return ERROR result.", Init::Error},
        DetectionCase{"InitSilenceGoesOnWithoutTheFallback", kOnlyOne, "", 0, "1", 1,
                      "Wait modem OK response timeout.", Init::Silence}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(FaxKernelTest, TwelveAtRoundsOfErrorEndTheSendAtOnce) {
  const std::string file = File("a.tif", {20});
  modem.Answer(kInitEnd, kOk);
  for (int round = 0; round < 12; ++round) modem.Answer("AT\r", kError);
  Start();
  EXPECT_EQ(Send({file}), -1);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  // The send has returned: whatever it wrote after the script is in the pty.
  const std::string received = modem.Received() + pty.ReadQuiet(50);
  EXPECT_EQ(CountOf(received, "\rAT\r"), 12u);
  EXPECT_EQ(received.find("ATH0"), std::string::npos) << "no hang-up after the rounds";
  EXPECT_EQ(received.find("AT+CGMI"), std::string::npos);
}

// An OK after eleven ERROR rounds goes on to the phone probe, where an
// indication value of 32 characters fails the send without the switch-off.
TEST_F(FaxKernelTest, AnOkAfterErrorRoundsGoesOnAnd32IndicationCharactersFail) {
  const std::string file = File("a.tif", {20});
  modem.Answer(kInitEnd, kOk);
  for (int round = 0; round < 11; ++round) modem.Answer("AT\r", kError);
  modem.Answer("AT\r", kOk).Answer("AT+CGMI\r", kPhoneMaker);
  modem.Answer("AT+CNMI?\r", "\r\n+CNMI: " + std::string(32, '1') + "\r\n\r\nOK\r\n");
  Hangup();
  Start();
  EXPECT_EQ(Send({file}), -1);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  EXPECT_THAT(TakeMessages(), Contains("Failed to query original cnmi value."));
  EXPECT_EQ(modem.Received().find("AT+CNMI="), std::string::npos);
  // The file's facts are read even when the call fails early.
  EXPECT_EQ(result.totalPages, 1u);
  EXPECT_TRUE(result.resolution & PAGE_FINE);
}

// The longest value is kept over an unanswered ring and restored when the
// port closes.
TEST_F(FaxKernelTest, AnIndicationValueOf31CharactersIsKeptAndRestoredAtTheClose) {
  const std::string value = "1,2,3,4,5,6,7,8,9,0,1,2,3,4,5,6";  // 31 characters
  ASSERT_EQ(value.size(), kIndicationChars);
  Prelude(true, true, "\r\n+CNMI:   " + value + "\r\n\r\nOK\r\n");
  Classes(kOnlyOne, "1");
  Ring();
  modem.Answer("AT+CNMI=" + value + "\r", kOk);
  Start();
  ASSERT_EQ(kernel.WaitRing_NoEvent(), 0);
  EXPECT_EQ(kernel.SavedIndication(), value);
  kernel.ClosePort(false);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  EXPECT_EQ(kernel.IsPortOpen(), 0);
  EXPECT_EQ(kernel.OpenPortNumber(), 0u);
}

TEST_F(FaxKernelTest, TheValueSavedAtTheRingIsRestoredWhenTheReceiveEnds) {
  Prelude(true);
  Classes(kAllClasses, "2.0");
  Ring();
  // The receive's first set-up command fails.
  modem.Answer("AT+FLI=", kError);
  modem.Answer(std::string("AT+CNMI=") + kSavedCnmi + "\r", kOk);
  Hangup();
  Start();
  ASSERT_EQ(kernel.WaitRing_NoEvent(), 0);
  EXPECT_EQ(kernel.SavedIndication(), kSavedCnmi) << "kept for the receive";
  const std::string file = (dir.path() / "in.tif").string();
  EXPECT_EQ(kernel.ReceiveFax(file, "VEXO TEST", false, &result), -1);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  const std::string received = modem.Received();
  EXPECT_LT(received.find("AT+FLI="), received.find(std::string("AT+CNMI=") + kSavedCnmi));
  EXPECT_EQ(kernel.SavedIndication(), "");
  EXPECT_EQ(result.pagesTransferred, 0u);
}

// A ring during the set-up counts: with one ring to answer the call is
// answered without waiting for the next; with two, after one more.
class FaxKernelRingCount : public FaxKernelTest, public ::testing::WithParamInterface<unsigned> {};

TEST_P(FaxKernelRingCount, ARingDuringTheSetUpCountsTowardTheRingsToAnswer) {
  const unsigned rings = GetParam();
  Prelude(false);
  modem.Answer("AT+FCLASS=?\r", kOnlyOne).Answer("AT+FCLASS=1\r", "\r\nRING\r\n\r\nOK\r\n");
  for (unsigned n = 1; n < rings; ++n) Ring();
  Start();
  // No further ring comes: a wait that ignored the first one would poll
  // until this guard cancels it.
  std::atomic<bool> done{false};
  std::thread guard([&] {
    if (!test::WaitFor([&] { return done.load(); }, std::chrono::seconds(5))) job.Cancel();
  });
  const int got = kernel.WaitRing_NoEvent(rings);
  done = true;
  guard.join();
  EXPECT_EQ(got, 0);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  // Shown as waiting for a call only when a ring was still to come.
  EXPECT_EQ(job.Status().text.empty(), rings == 1);
}

INSTANTIATE_TEST_SUITE_P(Rings, FaxKernelRingCount, ::testing::Values(1u, 2u));

TEST_F(FaxKernelTest, CancelWhileWaitingForARingEndsWithMinusTwoAndRestores) {
  Prelude(true);
  Classes(kOnlyOne, "1");
  modem.Answer(std::string("AT+CNMI=") + kSavedCnmi + "\r", kOk);
  Start();
  std::thread canceller([this] {
    test::WaitFor([this] { return !job.Status().text.empty(); }, std::chrono::seconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    job.Cancel();
  });
  const int got = kernel.WaitRing_NoEvent();
  canceller.join();
  EXPECT_EQ(got, -2);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  EXPECT_EQ(job.Status().text.rfind(LoadResString(kStrWaitingForCall), 0), 0u);
  EXPECT_EQ(kernel.SavedIndication(), "");
}

// On a closed port every entry fails; once it is open, a cancelled job fails
// the send and the receive before they write a byte.
TEST_F(FaxKernelTest, EntriesFailOnAClosedPortAndAfterACancel) {
  const std::string file = File("a.tif", {20});
  const std::string in = (dir.path() / "in.tif").string();
  EXPECT_EQ(kernel.IsPortOpen(), 0);
  EXPECT_EQ(kernel.WaitRing_NoEvent(), -1);
  EXPECT_EQ(Send({file}), -1);
  EXPECT_EQ(kernel.ReceiveFax(in, "X", true, &result), -1);
  Start();
  job.Cancel();
  EXPECT_EQ(Send({file}), -1);
  EXPECT_EQ(kernel.ReceiveFax(in, "X", true, &result), -1);
  EXPECT_TRUE(modem.Finish());
  EXPECT_EQ(modem.Received() + pty.ReadQuiet(50), "");
}

TEST(FaxKernelSettings, OnlyKnownClassesAreForcedAndInitKernelNeedsItsLog) {
  FaxKernel kernel;
  kernel.ApplyKernelSettings(20, 1, kApplyForcedClass);
  EXPECT_EQ(kernel.ForcedClass(), kFaxClass20);
  kernel.ApplyKernelSettings(3, 1, kApplyCommLog);
  EXPECT_EQ(kernel.ForcedClass(), kFaxClass20) << "mask without the class bit";
  kernel.ApplyKernelSettings(3, 1, kApplyForcedClass | kApplyCommLog);
  EXPECT_EQ(kernel.ForcedClass(), kFaxClassAuto);
  EXPECT_EQ(kernel.OpenPort(1, nullptr, "", false), 0) << "no port before InitKernel";
  // InitKernel fails when the log cannot be created.
  JobControl job;
  EXPECT_EQ(kernel.InitKernel(nullptr, "/nonexistent/dir/", &job), 0);
  EXPECT_EQ(kernel.Port(), nullptr);
  EXPECT_EQ(kernel.Class1(), nullptr);
  ErrorPool::Instance().Clear();
}

}  // namespace
}  // namespace vexo
