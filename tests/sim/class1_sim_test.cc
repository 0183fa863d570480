// Class 1 calls over the line simulator: our transmit and receive sessions
// against spandsp's T.30 terminal, each in real time. The far end's T.30 must
// finish without error and its pages must decode to our header above the
// source rows; identifiers must arrive both ways.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "document/tiff_oper.h"
#include "platform/text.h"
#include "tests/sim/sim_harness.h"
#include "tests/support/wait_for.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

class Class1Sim : public ::testing::Test {
 protected:
  void SetUp() override { TakeMessages(); }
  TempDir m_dir;
};

// A send to the far terminal: the simulator's options, the pages, and what
// the far end's report must and must not hold (each a list of words).
struct SendCase {
  const char* name;
  std::string options;
  int pages, rows;
  bool fine;
  const char *report, *notInReport;
  enum class Kept { AsSent, EveryOtherRow, Unchecked } kept = Kept::AsSent;
  int result = kSessionDone;
  bool ecm = false;  // what our side may offer and use
  FaxCoding highest = FaxCoding::kMh;
};

class Class1Send : public Class1Sim, public ::testing::WithParamInterface<SendCase> {};

TEST_P(Class1Send, FarEndReportsAndKeepsThePages) {
  const SendCase& c = GetParam();
  const auto pages = TestPages(c.pages, c.rows);
  const fs::path file = m_dir.path() / "out.tif";
  ASSERT_TRUE(WriteFaxTiff(file, pages, c.fine));
  std::vector<std::string> options = {"--far-receive", (m_dir.path() / "rx").string(),
                                      "--far-id",      kSimFarId,
                                      "--report",      (m_dir.path() / "calls.json").string()};
  for (const auto& option : Words(c.options)) options.push_back(option);
  Linesim sim(options);
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  Class1Station station;
  ASSERT_TRUE(station.Open(sim.Pty(1), sim.DataPty(1)));
  station.fax.SetCodingLimits(c.ecm, c.highest);
  std::uint32_t resume = 0;
  const std::vector<std::string> files = {file.string()};
  ASSERT_EQ(station.fax.SendFAXClass1(files, "5551234", kSimLocalId, &resume, &station.result),
            c.result)
      << ::testing::PrintToString(TakeMessages());
  if (c.result == kSessionPartly) {  // the last page unconfirmed: a resend starts at it
    EXPECT_EQ(resume, 0x10001u);
    return;
  }
  EXPECT_EQ(resume, 0u);
  station.fax.HangupModem();  // as the kernel does after every call
  EXPECT_EQ(station.result.pagesTransferred, static_cast<std::uint32_t>(c.pages));
  EXPECT_EQ(Utf16ToUtf8(station.result.RemoteId()), kSimFarId);

  EXPECT_TRUE(sim.Report(seconds(20)).starts_with("call ")) << sim.Stderr();
  const std::string json = ReportJson(m_dir.path() / "calls.json");
  EXPECT_NE(json.find("\"pages\":" + std::to_string(c.pages)), std::string::npos) << json;
  EXPECT_NE(json.find("\"completion_code\":0"), std::string::npos) << json;
  EXPECT_NE(json.find(std::string("\"ident_seen_by_far\":\"") + kSimLocalId), std::string::npos);
  for (const auto& text : Words(c.report)) EXPECT_NE(json.find(text), std::string::npos) << json;
  for (const auto& text : Words(c.notInReport))
    EXPECT_EQ(json.find(text), std::string::npos) << json;
  std::fprintf(stderr, "%s", sim.Stderr().c_str());
  if (c.kept == SendCase::Kept::Unchecked) return;
  const auto got = ReadTiffPages(m_dir.path() / "rx" / "fax-001.tif");
  ASSERT_EQ(got.size(), pages.size());
  for (std::size_t i = 0; i < got.size(); ++i)
    EXPECT_EQ(
        HeaderAbove(got[i], c.kept == SendCase::Kept::AsSent ? pages[i] : EvenRowsOf(pages[i])), "")
        << "page " << i + 1;
}

// Line noise that V.17 at 14400 bit/s cannot train through makes the far end
// answer FTT, and the sender falls back to a lower rate. The noise follows the
// signal, so the pauses between signals stay quiet and the receivers do not
// take noise for a carrier. VEXO_CLASS1_NOISE_DB tries another level than 20 dB.
std::string NoiseDb() {
  const char* level = std::getenv("VEXO_CLASS1_NOISE_DB");
  return level ? level : "20";
}

// Each case a distinct path: fine pages at the top rate, a narrower
// modulation list (normal pages at 9600 bit/s), a receiver without fine rows,
// a training that falls back; then the recoveries of T.30 on a hostile line
// (the far terminal sends CSI, DIS, CFR, MCF...; we send TSI, DCS, MPS...),
// the two ports of a phone modem; then ECM with MMR (PPS-MPS, then a
// second page counted in PPS), MR to a far end without ECM, and a damaged
// FCD frame (the third HDLC frame we send, after TSI and DCS) that the far
// end's PPR has sent again.
INSTANTIATE_TEST_SUITE_P(
    Sends, Class1Send,
    ::testing::Values(
        SendCase{"ThreeFinePagesAt14400", "", 3, 200, true,
                 "\"bit_rate\":14400 \"resolution\":\"fine\"", ""},
        SendCase{"ANarrowerModulationListGivesALowerRate", "--modulations 24,48,72,96", 1, 120,
                 false, "\"bit_rate\":9600 \"resolution\":\"normal\"", ""},
        SendCase{"AFinePageGoesNormalToAReceiverWithoutFine", "--far-refuse-fine", 1, 240, true,
                 "\"resolution\":\"normal\"", "", SendCase::Kept::EveryOtherRow},
        SendCase{"NoiseMakesTheTrainingFallBack", "--signal-noise " + NoiseDb(), 1, 120, false, "",
                 "\"bit_rate\":14400 \"bit_rate\":0", SendCase::Kept::Unchecked},
        SendCase{"ADamagedDisIsWaitedFor", "--corrupt-frame far:2", 1, 120, false,
                 "[\"corrupt far:2\"]", ""},
        SendCase{"ADamagedDcsIsSentAgain", "--corrupt-frame modem:2", 1, 120, false,
                 "[\"corrupt modem:2\"]", ""},
        SendCase{"ALostMcfAndADamagedEopAreRepeated", "--lose-frame far:4 --corrupt-frame modem:5",
                 2, 120, false, "\"lose far:4\" \"corrupt modem:5\"", ""},
        SendCase{"AnEopNeverConfirmedLeavesThePageToResend", "--lose-frame far:4,5,6", 1, 120,
                 false, "", "", SendCase::Kept::Unchecked, kSessionPartly},
        SendCase{"RtnRetrainsAndSendsThePageAgain", "--page-noise 1", 2, 800, false,
                 "[\"noise page 1\"] \"far_pages_intact\":2", ""},
        SendCase{"BlocksLostAsOnVoip", "--loss 0.5:3", 1, 120, false, "\"loss", "",
                 SendCase::Kept::Unchecked},
        SendCase{"ATwoPortPhoneModem", "--phone-two-ports", 1, 120, false, "", ""},
        SendCase{"TwoPagesInEcmWithMmr", "--far-ecm --far-coding mmr", 2, 120, true,
                 "\"ecm\":true \"coding\":\"T.6\"", "", SendCase::Kept::AsSent, kSessionDone, true,
                 FaxCoding::kMmr},
        SendCase{"MrWithoutEcmToAFarEndWithoutIt", "--far-coding mr", 1, 120, true,
                 "\"ecm\":false \"coding\":\"T.4 2-D\"", "", SendCase::Kept::AsSent, kSessionDone,
                 true, FaxCoding::kMmr},
        SendCase{"APprHasADamagedFcdFrameSentAgain",
                 "--far-ecm --far-coding mmr --corrupt-frame modem:3 --verbose", 1, 120, true,
                 "[\"corrupt modem:3\"] \"ecm\":true \"far_pages_intact\":1", "",
                 SendCase::Kept::AsSent, kSessionDone, true, FaxCoding::kMmr}),
    [](const ::testing::TestParamInfo<SendCase>& param) { return param.param.name; });

// Every line the program typed reached the modem whole: a lost first
// character shows as a line that does not start with AT.
void ExpectWholeCommandLines(const std::string& trace) {
  const auto commands = Commands(trace);
  EXPECT_FALSE(commands.empty());
  for (const auto& line : commands)
    EXPECT_TRUE(line.starts_with("AT") || line.starts_with("at")) << "the modem saw " << line;
}

// Pages of alternating resolution make the far terminal end each page with
// EOM and negotiate again: after each EOM the program answers MCF and at once
// asks for the next frames, while the modem still waits for the carrier to drop.
TEST_F(Class1Sim, ACallInWithEomBetweenPagesIsReceivedWhole) {
  std::vector<Bitmap> pages;
  std::vector<std::string> tiffcp = {"/usr/bin/tiffcp"};
  for (int n = 1; n <= 4; ++n) {
    pages.push_back(MakeTestPage(static_cast<unsigned>(n), 64));
    const fs::path one = m_dir.path() / ("p" + std::to_string(n) + ".tif");
    ASSERT_TRUE(WriteFaxTiff(one, {pages.back()}, n % 2 == 0));
    tiffcp.push_back(one.string());
  }
  const fs::path in = m_dir.path() / "in.tif";
  tiffcp.push_back(in.string());
  ChildProcess join(tiffcp, m_dir.path() / "tiffcp.log");
  ASSERT_EQ(join.Wait(seconds(20)), 0) << join.Log();

  Linesim sim({"--call-in", in.string(), "--far-id", kSimFarId, "--verbose"});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  Class1Station station;
  ASSERT_TRUE(station.Open(sim.Pty(1)));
  ASSERT_GT(station.fax.WaitRings(kRingWaitMs, 1, true), 0);
  const fs::path received = m_dir.path() / "QX000001.tif";
  ASSERT_EQ(station.fax.ReceiveFAXClass1(received.string(), kSimLocalId, &station.result),
            kSessionDone)
      << ::testing::PrintToString(TakeMessages()) << sim.Stderr();
  station.fax.HangupModem();
  EXPECT_EQ(station.result.pagesTransferred, 4u);
  EXPECT_EQ(station.result.resolution, kResultResolutionFine) << "as the last page";
  EXPECT_EQ(Utf16ToUtf8(station.result.RemoteId()), kSimFarId);
  EXPECT_TRUE(ReadTiffPages(received) == pages) << "the received pages differ";
  const std::string line = sim.Report(seconds(20));
  EXPECT_NE(line.find("completed, 4 pages"), std::string::npos) << line;
  EXPECT_NE(line.find(std::string("far saw \"") + kSimLocalId + "\""), std::string::npos) << line;
  ExpectWholeCommandLines(sim.Stderr());
}

// A call in from the far terminal (TSI, DCS, MPS...; we send CSI, DIS, CFR,
// MCF...) over a hostile line or a two-port phone modem, or with ECM and
// two-dimensional coding: every page arrives whole, each exactly once, and is
// filed in the coding it came in.
struct ReceiveCase {
  const char* name;
  const char* options;
  int pages, rows;
  const char* report;
  bool ecm = false;  // what our side may offer and use
  FaxCoding highest = FaxCoding::kMh;
  FaxCoding filed = FaxCoding::kMh;
};

class Class1Receive : public Class1Sim, public ::testing::WithParamInterface<ReceiveCase> {};

TEST_P(Class1Receive, ThePagesArriveWhole) {
  const ReceiveCase& c = GetParam();
  const auto pages = TestPages(c.pages, c.rows);
  const fs::path in = m_dir.path() / "in.tif";
  ASSERT_TRUE(WriteFaxTiff(in, pages, false));
  std::vector<std::string> options = {"--call-in", in.string(), "--far-id", kSimFarId};
  for (const auto& option : Words(c.options)) options.push_back(option);
  Linesim sim(options);
  Class1Station station;
  ASSERT_TRUE(station.Open(sim.Pty(1), sim.DataPty(1))) << sim.Stderr();
  ASSERT_GT(station.fax.WaitRings(kRingWaitMs, 1, true), 0);
  station.fax.SetCodingLimits(c.ecm, c.highest);
  const fs::path received = m_dir.path() / "QX000001.tif";
  ASSERT_EQ(station.fax.ReceiveFAXClass1(received.string(), kSimLocalId, &station.result),
            kSessionDone)
      << ::testing::PrintToString(TakeMessages());
  station.fax.HangupModem();
  EXPECT_EQ(station.result.pagesTransferred, static_cast<std::uint32_t>(c.pages));
  EXPECT_TRUE(ReadTiffPages(received) == pages) << "the received pages differ";
  TiffOper file;
  ASSERT_EQ(file.OpenReadTiffHeader(received.string()), 1);
  ASSERT_EQ(file.ReadTags(), 1);
  EXPECT_EQ(CodingOfPageFlags(file.PageInfo().flags), c.filed);
  const std::string line = sim.Report(seconds(20));
  EXPECT_NE(line.find("completed, " + std::to_string(c.pages) + " page"), std::string::npos)
      << line;
  EXPECT_NE(line.find(c.report), std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Receives, Class1Receive,
    ::testing::Values(ReceiveCase{"ADamagedDcsIsWaitedFor", "--corrupt-frame far:2", 1, 120,
                                  "faults: corrupt far:2"},
                      ReceiveCase{"ADamagedDisIsSentAgain", "--corrupt-frame modem:2", 1, 120,
                                  "faults: corrupt modem:2"},
                      ReceiveCase{"ALostMcfIsSentAgain", "--lose-frame modem:4", 2, 120,
                                  "faults: lose modem:4"},
                      ReceiveCase{"ANoisyPageIsRefusedAndComesAgain", "--page-noise 1", 2, 800,
                                  "faults: noise page 1"},
                      ReceiveCase{"BlocksLostAsOnVoip", "--loss 0.5:3", 1, 120, "faults: loss"},
                      ReceiveCase{"ATwoPortPhoneModem", "--phone-two-ports", 1, 120, "completed"},
                      ReceiveCase{"EcmWithMmr", "--far-ecm --far-coding mmr", 1, 120, "ECM, T.6",
                                  true, FaxCoding::kMmr, FaxCoding::kMmr},
                      ReceiveCase{"MrWithoutEcmFromAFarEndWithoutIt", "--far-coding mr", 1, 120,
                                  "no ECM, T.4 2-D", true, FaxCoding::kMmr, FaxCoding::kMr},
                      ReceiveCase{"ANoisyEcmPageHasItsFramesSentAgain",
                                  "--far-ecm --far-coding mmr --page-noise 1", 1, 1100,
                                  "faults: noise page 1", true, FaxCoding::kMmr, FaxCoding::kMmr}),
    [](const ::testing::TestParamInfo<ReceiveCase>& param) { return param.param.name; });

// efax, an independent Class 1 program, on the second modem of the line.
// Two pages over a line to a second modem, with our station on one of them;
// the line damages the first DIS of modem 2 (efax's, or ours when efax sends).
class Class1Efax : public Class1Sim {
 protected:
  void SetUp() override {
    if (!HaveEfax()) GTEST_SKIP() << "efax is not installed";
    Class1Sim::SetUp();
    ASSERT_FALSE(sim.Pty(2).empty()) << sim.Stderr();
  }
  const std::vector<Bitmap> pages = TestPages(2, 200);
  Linesim sim{{"--far", "modem", "--corrupt-frame", "far:2"}};
  Class1Station station;
};

TEST_F(Class1Efax, OurSenderToEfaxsReceiver) {
  const fs::path file = m_dir.path() / "out.tif";
  ASSERT_TRUE(WriteFaxTiff(file, pages, true));
  const fs::path rx = m_dir.path() / "rx";
  fs::create_directory(rx);
  ChildProcess efax({"/usr/bin/efax", "-d", sim.Pty(2), "-o1", "-l", kSimFarId, "-r", "in"},
                    m_dir.path() / "efax.log", rx);
  // Dial only once efax has set its modem up ("using ... in class 1"), and
  // give it the moment it takes to start waiting for the call.
  ASSERT_TRUE(
      WaitFor([&] { return efax.Log().find(" in class 1") != std::string::npos; }, seconds(10)))
      << efax.Log();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_TRUE(station.Open(sim.Pty(1)));
  station.fax.SetCodingLimits(true, FaxCoding::kMmr);  // efax has neither: MH without ECM
  std::uint32_t resume = 0;
  const std::vector<std::string> files = {file.string()};
  ASSERT_EQ(station.fax.SendFAXClass1(files, "5550200", kSimLocalId, &resume, &station.result),
            kSessionDone)
      << ::testing::PrintToString(TakeMessages()) << efax.Log();
  station.fax.HangupModem();
  ASSERT_EQ(efax.Wait(seconds(60)), 0) << efax.Log();
  EXPECT_EQ(Utf16ToUtf8(station.result.RemoteId()), kSimFarId);
  EXPECT_NE(efax.Log().find(std::string("remote ID -> ") + kSimLocalId), std::string::npos)
      << efax.Log();
  // The simulator's line tap decodes the session between the two modems.
  const std::string line = sim.Report(seconds(10));
  EXPECT_NE(line.find("out modem 1 -> modem 2: completed, 2 pages, 14400 bit/s, fine, no ECM, "
                      "T.4 1-D"),
            std::string::npos)
      << line;
  EXPECT_NE(line.find(std::string("far saw \"") + kSimLocalId + "\""), std::string::npos) << line;
  const auto got = EfaxReceived(rx);
  ASSERT_EQ(got.size(), 2u);
  for (std::size_t i = 0; i < got.size(); ++i)
    EXPECT_EQ(HeaderAbove(got[i], pages[i]), "") << "page " << i + 1;
}

TEST_F(Class1Efax, EfaxsSenderToOurReceiver) {
  ASSERT_TRUE(station.Open(sim.Pty(2)));
  station.fax.SetCodingLimits(true, FaxCoding::kMmr);  // efax has neither: MH without ECM
  // efax sends files coded by its own converter, efix.
  std::vector<std::string> argv = {"/usr/bin/efax", "-d", sim.Pty(1), "-o1", "-l",
                                   kSimFarId,       "-h", "",         "-t",  "5550100"};
  for (const auto& file : EfixPages(m_dir.path(), pages)) argv.push_back(file.string());
  ChildProcess efax(argv, m_dir.path() / "efax.log");
  ASSERT_GT(station.fax.WaitRings(kRingWaitMs, 1, true), 0);
  const fs::path received = m_dir.path() / "QX000002.tif";
  ASSERT_EQ(station.fax.ReceiveFAXClass1(received.string(), kSimLocalId, &station.result),
            kSessionDone)
      << ::testing::PrintToString(TakeMessages()) << efax.Log();
  station.fax.HangupModem();
  ASSERT_EQ(efax.Wait(seconds(60)), 0) << efax.Log();
  EXPECT_EQ(station.result.pagesTransferred, 2u);
  EXPECT_EQ(Utf16ToUtf8(station.result.RemoteId()), kSimFarId);
  const auto got = ReadTiffPages(received);
  ASSERT_EQ(got.size(), 2u);
  for (std::size_t i = 0; i < got.size(); ++i) {  // below a blank header band of efax's own
    std::string why;
    EXPECT_TRUE(HoldsPage(got[i], pages[i], kEfaxHeaderRows, why))
        << "page " << i + 1 << ": " << why << " (" << got[i].rows << " rows)";
  }
}

}  // namespace
}  // namespace vexo::test
