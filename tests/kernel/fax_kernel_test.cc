// The fax kernel against a scripted modem on a real pty: class detection over
// the answers modems give, the initialisation with its fall-back and its "AT"
// rounds, a phone modem's indications switched off and restored on every exit,
// cancel during the ring wait, and the kernel's results of Class 2.0 sends that
// succeed, drop early, drop late or have a page refused.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/settings/settings.h"
#include "base/error_pool.h"
#include "base/strings.h"
#include "document/tiff_oper.h"
#include "kernel/fax_kernel.h"
#include "modem/tapi_oper.h"
#include "platform/telephony/linux_provider.h"
#include "tests/protocol/class2_call_driver.h"
#include "tests/protocol/g3_test_pages.h"
#include "tests/support/pty_peer.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::kOk;

constexpr const char* kError = "\r\nERROR\r\n";
constexpr const char* kInitEnd = "+CBST=7,0,0\r";
constexpr const char* kFallback = "AT E0 V1 Q0 M0 &C1 &D2 S7=60 S10=10\r";
constexpr const char* kPhoneMaker = "\r\nVEXO PHONE WORKS\r\n\r\nOK\r\n";
constexpr const char* kSavedCnmi = "2,1,0,0,0";
constexpr const char* kAllClasses = "\r\n(0,1,2,2.0)\r\n\r\nOK\r\n";
constexpr const char* kCaps20 = "\r\n(0,1),(0-5),(0-4),(0-2),(0-3),0,0,(0-7)\r\n\r\nOK\r\n";
constexpr const char* kConnect20 = "\r\n+FCS:1,5,0,2,0,0,0,0\r\n\r\nCONNECT\r\n";
constexpr const char* kPageOk20 = "\r\n+FPS:1,0,0,0,0\r\n\r\nOK\r\n";
constexpr const char* kLastPageOk20 = "\r\n+FPS:1,0,0,0,0\r\n\r\n+FHS:00\r\n\r\nOK\r\n";

std::vector<std::string> TakeMessages() {
  std::vector<std::string> all;
  ErrorRecord r;
  while (ErrorPool::Instance().TakeOldest(r) > 0) all.push_back(r.message);
  return all;
}

bool Has(const std::vector<std::string>& messages, const std::string& text) {
  for (const auto& m : messages)
    if (m == text) return true;
  return false;
}

std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class FaxKernelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadResDll("EngRes");
    ErrorPool::Instance().Clear();
    kernel.SetPortOptions({pty.SlavePath(), "", "", false});
    kernel.SetBaudRate(115200);
    ASSERT_EQ(kernel.InitKernel(nullptr, dir.path().string() + "/", &job), 1);
    KernelTimeouts quick;
    quick.initOk = 1500;
    quick.answer = 1500;
    kernel.SetTimeouts(quick);
    kernel.SetClass2Timeouts(test::TestTimeouts());
    job.StartJob(kSendJob);
  }
  void TearDown() override {
    modem.Stop();
    kernel.ClosePort(0);
    job.EndJob();
  }

  void Start() {
    modem.Start();
    ASSERT_EQ(kernel.OpenPort(1, nullptr, "", 0), 1);
    EXPECT_EQ(kernel.PortName(), "COM1:");
    EXPECT_EQ(kernel.OpenPortNumber(), 1u);
  }
  std::string File(const std::string& name, const std::vector<int>& rows) {
    const std::string path = (dir.path() / name).string();
    EXPECT_TRUE(test::WriteFaxFile(path, rows, true));
    return path;
  }

  // The modem up to the class query: initialisation, the maker's answer (a
  // phone, or ERROR) and, for a phone, the indication query and switch-off.
  void Prelude(bool send, bool phone, const std::string& cnmiAnswer = "") {
    modem.Answer(kInitEnd, kOk);
    if (send) modem.Answer("AT\r", kOk);
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
  // The Class 2.0 set-up and dial of a fine file from "VEXO TEST" to 5551234.
  void Dial20() {
    modem.Answer("AT+FBO=0\r", kOk)
        .Answer("AT+FLI=\"           VEXO TEST\"\r", kOk)
        .Answer("AT+FLO=2\r", kOk)
        .Answer("AT+FCC=?\r", kCaps20)
        .Answer("AT+FCC=1,5,0,2,0,0,0,0\r", kOk)
        .Answer("AT+FNR=1,1,1,1\r", kOk)
        .Answer("ATX4DT5551234\r", "\r\n+FCO\r\n\r\n+FCI:\"REMOTE ONE\"\r\n\r\nOK\r\n");
  }
  void Page20(bool last, const std::string& answer) {
    modem.Answer("AT+FDT\r", kConnect20).Expect(last ? "\x10\x2e" : "\x10\x2c").Send(answer);
  }
  int Send(const std::vector<std::string>& files, std::uint32_t* resume = nullptr) {
    std::uint32_t own = 0;
    return kernel.SendFax(files, "5551234", "VEXO TEST", resume ? resume : &own, &result);
  }

  test::Pty pty;
  test::PtyModem modem{pty};
  test::TempDir dir;
  JobControl job;
  FaxKernel kernel;
  FaxResult result;
};

// ---- class detection

struct DetectionCase {
  const char* name;
  std::string answer;  // the modem's lines to "AT+FCLASS=?"
  std::uint32_t forced;
  std::string selected;  // the text sent in "AT+FCLASS=%s"; empty: detection fails
  std::uint32_t detected;
  std::string message;  // the kernel's report when detection fails
};

class FaxKernelDetection : public FaxKernelTest,
                           public ::testing::WithParamInterface<DetectionCase> {};

TEST_P(FaxKernelDetection, WaitRingSelectsTheClass) {
  const DetectionCase& c = GetParam();
  kernel.ApplyKernelSettings(c.forced, 0, kApplyForcedClass);
  Prelude(false, false);
  if (c.selected.empty()) {
    modem.Answer("AT+FCLASS=?\r", c.answer);
  } else {
    Classes(c.answer, c.selected);
    Ring();
  }
  Start();
  const int got = kernel.WaitRing_NoEvent();
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  const auto messages = TakeMessages();
  if (c.selected.empty()) {
    EXPECT_EQ(got, -1);
    EXPECT_TRUE(Has(messages, c.message)) << ::testing::PrintToString(messages);
    EXPECT_EQ(CountOf(modem.Received(), "AT+FCLASS="), 1u) << "only the query goes out";
  } else {
    EXPECT_EQ(got, 0) << ::testing::PrintToString(messages);
    EXPECT_EQ(kernel.DetectedClass(), c.detected);
    EXPECT_TRUE(messages.empty()) << ::testing::PrintToString(messages);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FaxKernelDetection,
    ::testing::Values(
        DetectionCase{"AllAutomaticTakes20", kAllClasses, 0, "2.0", 20, ""},
        DetectionCase{"AllForced1", kAllClasses, 1, "1", 1, ""},
        DetectionCase{"AllForced2", kAllClasses, 2, "2", 2, ""},
        DetectionCase{"AllForced20", kAllClasses, 20, "2.0", 20, ""},
        // "2" is found inside "2.0": forced Class 2 switches with the text 2.
        DetectionCase{"Only20Forced2", "\r\n0,1,2.0\r\n\r\nOK\r\n", 2, "2", 2, ""},
        DetectionCase{"TwoOverOne", "\r\n0,1,2\r\nOK\r\n", 0, "2", 2, ""},
        DetectionCase{"OnlyOne", "\r\n0,1\r\n\r\nOK\r\n", 0, "1", 1, ""},
        // A forced value the kernel does not know counts as automatic.
        DetectionCase{"UnknownForcedIsAutomatic", "\r\n0,1\r\n\r\nOK\r\n", 7, "1", 1, ""},
        DetectionCase{"Forced2NotOffered", "\r\n0,1\r\n\r\nOK\r\n", 2, "", 1,
                      "this modem does not support the user-forced FAX class 2"},
        DetectionCase{"NoClassAtAll", "\r\n0\r\n\r\nOK\r\n", 0, "", 0,
                      "Cannot determine FAX modem class type"},
        DetectionCase{"Error", kError, 0, "", 0, "Modem return ERROR result."},
        DetectionCase{"Silence", "", 0, "", 0, "Timeout waiting for modem response."}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(FaxKernelTest, AnOkInALaterBatchIsWaitedFor) {
  Prelude(false, false);
  modem.Answer("AT+FCLASS=?\r", "\r\n0,1,2\r\n").Pause(600).Send(kOk);
  modem.Answer("AT+FCLASS=2\r", kOk);
  Ring();
  Start();
  EXPECT_EQ(kernel.WaitRing_NoEvent(), 0);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  EXPECT_EQ(kernel.DetectedClass(), kFaxClass2);
  EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(FaxKernelTest, AClassListWithoutAnyOkFailsTheWait) {
  Prelude(false, false);
  modem.Answer("AT+FCLASS=?\r", "\r\n0,1,2\r\n");
  Start();
  EXPECT_EQ(kernel.WaitRing_NoEvent(), -1);
  EXPECT_EQ(modem.Received().find("AT+FCLASS=2\r"), std::string::npos);
}

// ---- initialisation

TEST_F(FaxKernelTest, AnErrorToTheFirstCommandBringsTheFallback) {
  modem.Answer(kInitEnd, kError).Answer(kFallback, kOk);
  modem.Answer("AT+CGMI\r", kError).Answer("ATX4\r", kOk);
  Classes("\r\n0,1\r\n\r\nOK\r\n", "1");
  Ring();
  Start();
  EXPECT_EQ(kernel.WaitRing_NoEvent(), 0);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  // The fall-back sets the DCD and DTR options; it never holds a dial command.
  EXPECT_EQ(modem.Received().find(" C1 D2"), std::string::npos);
  // The ERROR's report stays although the wait then succeeded.
  EXPECT_TRUE(Has(TakeMessages(), "Modem return ERROR result."));
}

TEST_F(FaxKernelTest, SilenceAfterTheFirstCommandGoesOnWithoutTheFallback) {
  modem.Expect(kInitEnd);
  modem.Answer("AT+CGMI\r", kError).Answer("ATX4\r", kOk);
  Classes("\r\n0,1\r\n\r\nOK\r\n", "1");
  Ring();
  Start();
  EXPECT_EQ(kernel.WaitRing_NoEvent(), 0);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  EXPECT_EQ(modem.Received().find("&C1"), std::string::npos);
  EXPECT_TRUE(Has(TakeMessages(), "Wait modem OK response timeout."));
}

TEST_F(FaxKernelTest, TwelveAtRoundsOfErrorEndTheSendAtOnce) {
  const std::string file = File("a.tif", {20});
  modem.Answer(kInitEnd, kOk);
  for (int round = 0; round < 12; ++round) modem.Answer("AT\r", kError);
  Start();
  EXPECT_EQ(Send({file}), -1);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::string received = modem.Received();
  EXPECT_EQ(CountOf(received, "\rAT\r"), 12u);
  EXPECT_EQ(received.find("ATH0"), std::string::npos) << "no hang-up after the rounds";
  EXPECT_EQ(received.find("AT+CGMI"), std::string::npos);
}

TEST_F(FaxKernelTest, AnOkAfterSomeErrorRoundsGoesOn) {
  const std::string file = File("a.tif", {20});
  modem.Answer(kInitEnd, kOk);
  for (int round = 0; round < 11; ++round) modem.Answer("AT\r", kError);
  modem.Answer("AT\r", kOk).Answer("AT+CGMI\r", kError).Answer("ATX4\r", kOk);
  modem.Answer("AT+FCLASS=?\r", kError);
  Hangup();
  Start();
  EXPECT_EQ(Send({file}), -1);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  EXPECT_TRUE(Has(TakeMessages(), "Modem return ERROR result."));
  // The file's facts are read even when the call fails early.
  EXPECT_EQ(result.totalPages, 1u);
  EXPECT_TRUE(result.resolution & PAGE_FINE);
}

// ---- phone modem indications

TEST_F(FaxKernelTest, APhoneSendSwitchesIndicationsOffAndRestoresTheSavedValue) {
  const std::string file = File("a.tif", {20, 20});
  Prelude(true, true);
  Classes(kAllClasses, "2.0");
  Dial20();
  Page20(false, kPageOk20);
  Page20(true, kLastPageOk20);
  modem.Answer(std::string("AT+CNMI=") + kSavedCnmi + "\r", kOk);
  Hangup();
  Start();
  EXPECT_EQ(Send({file}), 0) << ::testing::PrintToString(TakeMessages());
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  const std::string received = modem.Received();
  EXPECT_LT(received.find("AT+CNMI=0,0,0,0,0\r"), received.find("AT+FCLASS=?"));
  EXPECT_GT(received.find(std::string("AT+CNMI=") + kSavedCnmi + "\r"), received.find("AT+FDT"));
  EXPECT_EQ(CountOf(received, "AT+CNMI="), 2u);
  EXPECT_EQ(kernel.SavedIndication(), "");
  EXPECT_EQ(result.pagesTransferred, 2u);
  EXPECT_EQ(result.totalPages, 2u);
  EXPECT_TRUE(result.resolution & PAGE_FINE);
  EXPECT_EQ(result.RemoteId(), u"REMOTE ONE");
  ASSERT_NE(kernel.Class20(), nullptr) << "created at its first call";
  EXPECT_EQ(kernel.Class2(), nullptr);
}

TEST_F(FaxKernelTest, AFailedPhoneSendRestoresTheIndicationsToo) {
  const std::string file = File("a.tif", {20});
  Prelude(true, true);
  modem.Answer("AT+FCLASS=?\r", kAllClasses).Answer("AT+FCLASS=2.0\r", kError);
  modem.Answer(std::string("AT+CNMI=") + kSavedCnmi + "\r", kOk);
  Hangup();
  Start();
  EXPECT_EQ(Send({file}), -1);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  EXPECT_EQ(kernel.SavedIndication(), "");
}

TEST_F(FaxKernelTest, AnIndicationValueOf32CharactersFailsWithoutTheSwitchOff) {
  const std::string file = File("a.tif", {20});
  const std::string value(32, '1');
  modem.Answer(kInitEnd, kOk).Answer("AT\r", kOk).Answer("AT+CGMI\r", kPhoneMaker);
  modem.Answer("AT+CNMI?\r", "\r\n+CNMI: " + value + "\r\n\r\nOK\r\n");
  Hangup();
  Start();
  EXPECT_EQ(Send({file}), -1);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  EXPECT_TRUE(Has(TakeMessages(), "Failed to query original cnmi value."));
  EXPECT_EQ(modem.Received().find("AT+CNMI="), std::string::npos);
}

TEST_F(FaxKernelTest, AnIndicationValueOf31CharactersIsKept) {
  const std::string value = "1,2,3,4,5,6,7,8,9,0,1,2,3,4,5,6";  // 31 characters
  ASSERT_EQ(value.size(), kIndicationChars);
  Prelude(false, true, "\r\n+CNMI:   " + value + "\r\n\r\nOK\r\n");
  Classes("\r\n0,1\r\n\r\nOK\r\n", "1");
  Ring();
  Start();
  EXPECT_EQ(kernel.WaitRing_NoEvent(), 0);
  EXPECT_EQ(kernel.SavedIndication(), value);
}

TEST_F(FaxKernelTest, APlainModemNeverSeesIndicationCommands) {
  Prelude(false, false);
  Classes("\r\n0,1\r\n\r\nOK\r\n", "1");
  Ring();
  Start();
  EXPECT_EQ(kernel.WaitRing_NoEvent(), 0);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  EXPECT_EQ(modem.Received().find("CNMI"), std::string::npos);
  EXPECT_EQ(kernel.SavedIndication(), "");
}

TEST_F(FaxKernelTest, TheValueSavedAtTheRingIsRestoredWhenTheReceiveEnds) {
  Prelude(false, true);
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
  EXPECT_EQ(kernel.ReceiveFax(file, "VEXO TEST", 0, &result), -1);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  const std::string received = modem.Received();
  EXPECT_LT(received.find("AT+FLI="), received.find(std::string("AT+CNMI=") + kSavedCnmi));
  EXPECT_EQ(kernel.SavedIndication(), "");
  EXPECT_EQ(result.pagesTransferred, 0u);
}

TEST_F(FaxKernelTest, ARingDuringTheSetUpIsAnsweredWithoutWaitingForTheNext) {
  Prelude(false, false);
  modem.Answer("AT+FCLASS=?\r", "\r\n0,1\r\n\r\nOK\r\n")
      .Answer("AT+FCLASS=1\r", "\r\nRING\r\n\r\nOK\r\n");
  Start();
  // No further ring comes: a wait that ignored the first one would poll
  // until this guard cancels it.
  std::atomic<bool> done{false};
  std::thread guard([&] {
    for (int i = 0; i < 200 && !done; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    if (!done) job.Cancel();
  });
  const int got = kernel.WaitRing_NoEvent();
  done = true;
  guard.join();
  EXPECT_EQ(got, 0);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  EXPECT_TRUE(job.Status().text.empty());  // never shown as waiting for a call
}

TEST_F(FaxKernelTest, CancelWhileWaitingForARingEndsWithMinusTwoAndRestores) {
  Prelude(false, true);
  Classes("\r\n0,1\r\n\r\nOK\r\n", "1");
  modem.Answer(std::string("AT+CNMI=") + kSavedCnmi + "\r", kOk);
  Start();
  std::thread canceller([this] {
    while (job.Status().text.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
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

TEST_F(FaxKernelTest, ClosingAfterAnUnansweredRingRestoresTheIndications) {
  Prelude(false, true);
  Classes("\r\n0,1\r\n\r\nOK\r\n", "1");
  Ring();
  modem.Answer(std::string("AT+CNMI=") + kSavedCnmi + "\r", kOk);
  Start();
  ASSERT_EQ(kernel.WaitRing_NoEvent(), 0);
  kernel.ClosePort(0);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  EXPECT_EQ(kernel.IsPortOpen(), 0);
  EXPECT_EQ(kernel.OpenPortNumber(), 0u);
}

// ---- results of a send

TEST_F(FaxKernelTest, ADropDuringPageTwoIsAPartialSuccess) {
  const std::string file = File("a.tif", {20, 20, 20});
  Prelude(true, false);
  Classes(kAllClasses, "2.0");
  Dial20();
  Page20(false, kPageOk20);
  modem.Answer("AT+FDT\r", kConnect20).Expect("\x10\x2c").Send("\r\n+FHS:52\r\n");
  Hangup();
  Start();
  std::uint32_t resume = 0;
  EXPECT_EQ(Send({file}, &resume), 1);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  EXPECT_NE(resume, 0u) << "the send can resume where it stopped";
  EXPECT_GE(result.pagesTransferred, 1u);
  EXPECT_EQ(result.totalPages, 3u);
}

TEST_F(FaxKernelTest, ADropBeforePageOneIsAFailure) {
  const std::string file = File("a.tif", {20, 20});
  Prelude(true, false);
  Classes(kAllClasses, "2.0");
  modem.Answer("AT+FBO=0\r", kOk)
      .Answer("AT+FLI=", kOk)
      .Answer("AT+FLO=2\r", kOk)
      .Answer("AT+FCC=?\r", kCaps20)
      .Answer("AT+FCC=1,5,0,2,0,0,0,0\r", kOk)
      .Answer("AT+FNR=1,1,1,1\r", kOk)
      .Answer("ATX4DT5551234\r", "\r\n+FHS:11\r\n");
  Hangup();
  Start();
  std::uint32_t resume = 0;
  EXPECT_EQ(Send({file}, &resume), -1);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  EXPECT_EQ(resume, 0u);
  EXPECT_EQ(result.pagesTransferred, 0u);
}

TEST_F(FaxKernelTest, ARefusedPageMakesThePartialSuccess) {
  const std::string file = File("a.tif", {20, 20});
  Prelude(true, false);
  Classes(kAllClasses, "2.0");
  Dial20();
  Page20(false, "\r\n+FPS:2,0,0,0,0\r\n\r\nOK\r\n");
  Page20(true, kLastPageOk20);
  Hangup();
  Start();
  EXPECT_EQ(Send({file}), 1);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  EXPECT_TRUE(Has(TakeMessages(), "Page 1 was refused by the remote fax machine."));
  EXPECT_EQ(result.pagesTransferred, 2u);
}

TEST_F(FaxKernelTest, CancelBeforeTheSendWritesNothing) {
  const std::string file = File("a.tif", {20});
  Start();
  job.Cancel();
  EXPECT_EQ(Send({file}), -1);
  EXPECT_EQ(kernel.ReceiveFax((dir.path() / "in.tif").string(), "X", 1, &result), -1);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(modem.Received(), "");
}

TEST_F(FaxKernelTest, EntriesOnAClosedPortFail) {
  const std::string file = File("a.tif", {20});
  EXPECT_EQ(kernel.IsPortOpen(), 0);
  EXPECT_EQ(kernel.WaitRing_NoEvent(), -1);
  EXPECT_EQ(Send({file}), -1);
  EXPECT_EQ(kernel.ReceiveFax((dir.path() / "in.tif").string(), "X", 1, &result), -1);
}

// A modem-list data line (no voice) is opened through the telephony line and
// gets no "AT+CHUP": there is no preliminary voice call to end.
TEST(FaxKernelModemList, ADataLineOfTheModemListSendsWithoutEndingAVoiceCall) {
  LoadResDll("EngRes");
  ErrorPool::Instance().Clear();
  test::TempDir dir;
  test::Pty pty;
  test::PtyModem modem{pty};
  AppSettings settings;
  settings.TelephonyDevices = pty.SlavePath() + ";";
  LinuxTelephonyProvider provider(settings.TelephonyDevices, (dir.path() / "by-id").string());
  TAPIOper modems(provider, [] { return DialSettings{}; });
  ASSERT_EQ(modems.InitTapi(nullptr, nullptr), 1);
  const std::uint32_t index = modems.FindModem(pty.SlavePath());
  ASSERT_EQ(index, 1u);

  PortEnvironment environment;
  environment.telephony = &modems;
  FaxKernel kernel(environment);
  JobControl job;
  ASSERT_EQ(kernel.InitKernel(nullptr, dir.path().string() + "/", &job), 1);
  kernel.SetModemList(&modems);
  KernelTimeouts quick;
  quick.initOk = 1500;
  quick.answer = 1500;
  kernel.SetTimeouts(quick);
  job.StartJob(kSendJob);
  const std::string file = (dir.path() / "a.tif").string();
  ASSERT_TRUE(test::WriteFaxFile(file, {20}, true));
  modem.Answer(kInitEnd, kOk).Answer("AT\r", kOk).Answer("AT+CGMI\r", kError);
  modem.Answer("ATX4\r", kOk).Answer("AT+FCLASS=?\r", kError);
  modem.Answer("AT\r", kOk).Answer("ATH0\r", kOk).Answer("AT+FCLASS=0\r", kOk).Answer("ATZ\r", kOk);
  modem.Start();
  ASSERT_EQ(kernel.OpenPort(index, nullptr, "5551234", 1), 1);
  EXPECT_EQ(kernel.OpenPortNumber(), index);
  std::uint32_t resume = 0;
  FaxResult result;
  EXPECT_EQ(kernel.SendFax(std::vector<std::string>{file}, "5551234", "X", &resume, &result), -1);
  EXPECT_TRUE(modem.Finish()) << modem.Failure();
  EXPECT_EQ(modem.Received().find("AT+CHUP"), std::string::npos);
  kernel.ClosePort(1);
  EXPECT_EQ(kernel.OpenPortNumber(), 0u);
  job.EndJob();
  modems.ShutdownTapi();
  ErrorPool::Instance().Clear();
}

TEST(FaxKernelSettings, OnlyKnownClassesAreForcedAndTheMaskIsHonoured) {
  FaxKernel kernel;
  kernel.ApplyKernelSettings(20, 1, kApplyForcedClass);
  EXPECT_EQ(kernel.ForcedClass(), kFaxClass20);
  kernel.ApplyKernelSettings(3, 1, kApplyCommLog);
  EXPECT_EQ(kernel.ForcedClass(), kFaxClass20) << "mask without the class bit";
  kernel.ApplyKernelSettings(3, 1, kApplyForcedClass | kApplyCommLog);
  EXPECT_EQ(kernel.ForcedClass(), kFaxClassAuto);
  EXPECT_EQ(kernel.OpenPort(1, nullptr, "", 0), 0) << "no port before InitKernel";
}

TEST(FaxKernelSettings, InitKernelFailsWhenTheLogCannotBeCreated) {
  FaxKernel kernel;
  JobControl job;
  EXPECT_EQ(kernel.InitKernel(nullptr, "/nonexistent/dir/", &job), 0);
  EXPECT_EQ(kernel.Port(), nullptr);
  EXPECT_EQ(kernel.Class1(), nullptr);
  ErrorPool::Instance().Clear();
}

}  // namespace
}  // namespace vexo
