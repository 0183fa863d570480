// Calls between efax, an independent Class 1 fax program, and the simulator's
// far ends: the proof that the emulated modem behaves like a real fax modem.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/sim/sim_harness.h"
#include "tests/sim/test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

constexpr int kPageRows = 480;
// efax puts a band of this many rows above every page it sends, blank with -h "".
constexpr int kEfaxHeaderRows = 20;
// A generous bound on one short call; a hang fails the test instead of blocking it.
constexpr auto kCallLimit = seconds(150);
constexpr auto kToolLimit = seconds(20);
constexpr const char* kEfax = "/usr/bin/efax";
constexpr const char* kEfix = "/usr/bin/efix";
constexpr const char* kTiffcp = "/usr/bin/tiffcp";

class LinesimEfax : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveEfax()) GTEST_SKIP() << "efax is not installed";
    // Two different pages, coded by efix (efax's own converter) into G3 TIFF files.
    for (unsigned n = 1; n <= 2; ++n) {
      const Bitmap page = MakeTestPage(n, kPageRows);
      const fs::path pbm = m_dir.path() / ("page" + std::to_string(n) + ".pbm");
      ASSERT_TRUE(WritePbm(pbm, page));
      const fs::path pattern = m_dir.path() / ("page" + std::to_string(n) + ".%03d");
      ChildProcess efix({kEfix, "-i", "pbm", "-o", "tiffg3", "-R", "204x196", "-r", "204x196", "-n",
                         pattern.string(), pbm.string()},
                        m_dir.path() / "efix.log");
      ASSERT_EQ(efix.Wait(kToolLimit), 0) << efix.Log();
      m_files.push_back(m_dir.path() / ("page" + std::to_string(n) + ".001"));
      auto coded = ReadTiffPages(m_files.back());
      ASSERT_EQ(coded.size(), 1u);
      std::string why;
      ASSERT_TRUE(HoldsPage(coded[0], page, 0, why)) << why;
      m_sent.push_back(coded[0]);
    }
    m_tiff = m_dir.path() / "pages.tif";
    ChildProcess tiffcp({kTiffcp, m_files[0].string(), m_files[1].string(), m_tiff.string()},
                        m_dir.path() / "tiffcp.log");
    ASSERT_EQ(tiffcp.Wait(kToolLimit), 0) << tiffcp.Log();
  }

  // efax sending the test pages; no header text, so the header band stays blank.
  std::vector<std::string> EfaxSend(const std::string& pty) const {
    std::vector<std::string> argv = {kEfax,         "-d", pty, "-o1", "-l",
                                     "+1 555 0100", "-h", "",  "-t",  "5551234"};
    for (const auto& file : m_files) argv.push_back(file.string());
    return argv;
  }
  static std::vector<std::string> EfaxReceive(const std::string& pty) {
    return {kEfax, "-d", pty, "-o1", "-l", "+1 555 0200", "-r", "in"};
  }

  // Whether efax's log shows the remote station identifier it received.
  static bool ShowsRemoteId(const std::string& log, const std::string& id) {
    const auto at = log.find("remote ID ->");
    return at != std::string::npos && log.find(id, at) == log.find_first_not_of(' ', at + 12);
  }

  // Every page of the files, in order, read back with libtiff.
  static std::vector<Bitmap> ReadAll(const std::vector<fs::path>& files) {
    std::vector<Bitmap> pages;
    for (const auto& file : files) {
      auto more = ReadTiffPages(file);
      pages.insert(pages.end(), more.begin(), more.end());
    }
    return pages;
  }

  // efax stores each received page as in.001, in.002, ...
  static std::vector<fs::path> EfaxPages(const fs::path& dir) {
    std::vector<fs::path> files;
    for (int n = 1; fs::exists(dir / ("in.00" + std::to_string(n))); ++n)
      files.push_back(dir / ("in.00" + std::to_string(n)));
    return files;
  }

  // The received pages are the sent ones, below headerRows blank rows.
  void ExpectSentPages(const std::vector<Bitmap>& got, int headerRows) const {
    ASSERT_EQ(got.size(), m_sent.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      std::string why;
      EXPECT_TRUE(HoldsPage(got[i], m_sent[i], headerRows, why)) << "page " << i + 1 << ": " << why;
    }
  }

  TempDir m_dir;
  std::vector<fs::path> m_files;  // one G3 TIFF per page
  std::vector<Bitmap> m_sent;     // their images
  fs::path m_tiff;                // both pages in one TIFF
};

TEST_F(LinesimEfax, EfaxSendsTwoPagesToTheFarTerminal) {
  const fs::path rx = m_dir.path() / "rx";
  const fs::path report = m_dir.path() / "calls.json";
  Linesim sim(
      {"--far-receive", rx.string(), "--far-id", "+1 555 9999", "--report", report.string()});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  ChildProcess efax(EfaxSend(sim.Pty(1)), m_dir.path() / "efax.log");
  ASSERT_EQ(efax.Wait(kCallLimit), 0) << efax.Log();
  EXPECT_TRUE(ShowsRemoteId(efax.Log(), "+1 555 9999")) << efax.Log();

  const auto line = sim.WaitForReport(seconds(10));
  ASSERT_TRUE(line) << sim.Stderr();
  EXPECT_NE(line->find("completed, 2 pages"), std::string::npos) << *line;
  ExpectSentPages(ReadAll({rx / "fax-001.tif"}), kEfaxHeaderRows);

  std::ifstream in(report);
  std::string json;
  std::getline(in, json);
  EXPECT_NE(json.find("\"direction\":\"out\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"pages\":2"), std::string::npos) << json;
  EXPECT_NE(json.find("\"ident_seen_by_far\":\"+1 555 0100\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"far_ident\":\"+1 555 9999\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"ident_seen_by_modem\":\"+1 555 9999\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"resolution\":\"fine\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"completion_code\":0"), std::string::npos) << json;
}

// Calls with the far terminal that are not about timing run the line twice as
// fast as real time, which spandsp's T.30 and efax both take.
TEST_F(LinesimEfax, FarTerminalCallsInAndEfaxReceives) {
  Linesim sim({"--call-in", m_tiff.string(), "--speed", "2"});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  ChildProcess efax(EfaxReceive(sim.Pty(1)), m_dir.path() / "efax.log", m_dir.path());
  ASSERT_EQ(efax.Wait(kCallLimit), 0) << efax.Log();
  ExpectSentPages(ReadAll(EfaxPages(m_dir.path())), 0);
  const auto line = sim.WaitForReport(seconds(10));
  ASSERT_TRUE(line) << sim.Stderr();
  EXPECT_NE(line->find("in modem 1 <- terminal: completed, 2 pages"), std::string::npos) << *line;
  EXPECT_NE(line->find("far saw \"+1 555 0200\""), std::string::npos) << *line;
}

TEST_F(LinesimEfax, EfaxFaxesEfaxAcrossTwoModems) {
  // Real time and a long-distance line: efax answers TCF with CFR at once,
  // without the pause T.30 asks for, and the sending efax first waits for
  // silence (+FRS); the line's round trip is what keeps the CFR from starting
  // before that wait is over, also when the machine is busy.
  Linesim sim({"--far", "modem", "--line-delay", "60"});
  ASSERT_FALSE(sim.Pty(2).empty()) << sim.Stderr();
  const fs::path rx = m_dir.path() / "rx";
  fs::create_directory(rx);
  ChildProcess receiver(EfaxReceive(sim.Pty(2)), m_dir.path() / "receiver.log", rx);
  ChildProcess sender(EfaxSend(sim.Pty(1)), m_dir.path() / "sender.log");
  ASSERT_EQ(sender.Wait(kCallLimit), 0) << sender.Log() << receiver.Log();
  ASSERT_EQ(receiver.Wait(kCallLimit), 0) << receiver.Log();
  EXPECT_TRUE(ShowsRemoteId(sender.Log(), "+1 555 0200")) << sender.Log();
  EXPECT_TRUE(ShowsRemoteId(receiver.Log(), "+1 555 0100")) << receiver.Log();
  ExpectSentPages(ReadAll(EfaxPages(rx)), kEfaxHeaderRows);
  const auto line = sim.WaitForReport(seconds(10));
  ASSERT_TRUE(line) << sim.Stderr();
  EXPECT_NE(line->find("out modem 1 -> modem 2: completed, 2 pages, 14400 bit/s, fine"),
            std::string::npos)
      << *line;
  EXPECT_NE(line->find("modem saw \"+1 555 0200\", far saw \"+1 555 0100\""), std::string::npos)
      << *line;
}

// A narrow modulation list, a far end without fine resolution and some line
// noise: efax falls back to what is offered and the page still gets through.
TEST_F(LinesimEfax, EfaxFallsBackToWhatTheModemAndFarEndOffer) {
  const fs::path report = m_dir.path() / "calls.json";
  Linesim sim({"--modulations", "24,48,72,96", "--far-refuse-fine", "--noise", "40", "--report",
               report.string(), "--speed", "2"});
  auto argv = EfaxSend(sim.Pty(1));
  argv.pop_back();  // one page is enough
  argv.insert(argv.begin() + 1, {"-v", "ewinc"});
  ChildProcess efax(argv, m_dir.path() / "efax.log");
  ASSERT_EQ(efax.Wait(kCallLimit), 0) << efax.Log();
  EXPECT_NE(efax.Log().find("command  \"+FTM=96\""), std::string::npos) << efax.Log();
  EXPECT_EQ(efax.Log().find("command  \"+FTM=146\""), std::string::npos) << efax.Log();
  const auto line = sim.WaitForReport(seconds(10));
  ASSERT_TRUE(line) << sim.Stderr();
  EXPECT_NE(line->find("completed, 1 page, 9600 bit/s, normal"), std::string::npos) << *line;
}

// Noise that follows the signal at 20 dB spoils V.17 at 14400 bit/s: the far
// end answers TCF with FTT and efax trains again at a lower rate.
TEST_F(LinesimEfax, NoisyLineMakesTheTrainingFallBack) {
  Linesim sim({"--signal-noise", "20", "--speed", "2"});
  auto argv = EfaxSend(sim.Pty(1));
  argv.pop_back();
  ChildProcess efax(argv, m_dir.path() / "efax.log");
  ASSERT_EQ(efax.Wait(kCallLimit), 0) << efax.Log();
  EXPECT_NE(efax.Log().find("received FTT"), std::string::npos) << efax.Log();
  const auto line = sim.WaitForReport(seconds(10));
  ASSERT_TRUE(line) << sim.Stderr();
  EXPECT_NE(line->find("completed, 1 page"), std::string::npos) << *line;
  EXPECT_EQ(line->find("14400 bit/s"), std::string::npos) << *line;
}

// The far end dropping the line mid-call leaves efax without answers.
TEST_F(LinesimEfax, FarEndHangingUpFailsTheCall) {
  Linesim sim({"--hangup-after", "8"});
  ChildProcess efax(EfaxSend(sim.Pty(1)), m_dir.path() / "efax.log");
  EXPECT_EQ(efax.Wait(kCallLimit), 3) << efax.Log();
  const auto line = sim.WaitForReport(seconds(10));
  ASSERT_TRUE(line) << sim.Stderr();
  EXPECT_NE(line->find("far hung up, 0 pages"), std::string::npos) << *line;
  EXPECT_NE(line->find("(The call dropped prematurely)"), std::string::npos) << *line;
}

// A busy line ends efax's call with its "busy" exit status, an unanswered one
// with a failed dial command; both within the modem's own waiting times.
TEST_F(LinesimEfax, BusyLineFailsTheCall) {
  Linesim sim({"--busy"});
  ChildProcess efax(EfaxSend(sim.Pty(1)), m_dir.path() / "efax.log");
  EXPECT_EQ(efax.Wait(seconds(30)), 1) << efax.Log();
  EXPECT_NE(efax.Log().find("number is busy"), std::string::npos) << efax.Log();
  const auto line = sim.WaitForReport(seconds(5));
  ASSERT_TRUE(line);
  EXPECT_NE(line->find(": busy"), std::string::npos) << *line;
}

TEST_F(LinesimEfax, UnansweredLineFailsTheCall) {
  Linesim sim({"--no-answer"});
  auto argv = EfaxSend(sim.Pty(1));
  argv.insert(argv.begin() + 1, {"-i", "S7=5", "-v", "ewinc"});
  ChildProcess efax(argv, m_dir.path() / "efax.log");
  EXPECT_EQ(efax.Wait(seconds(30)), 2) << efax.Log();
  EXPECT_NE(efax.Log().find("response \"NO ANSWER\""), std::string::npos) << efax.Log();
  const auto line = sim.WaitForReport(seconds(5));
  ASSERT_TRUE(line);
  EXPECT_NE(line->find(": no answer"), std::string::npos) << *line;
}

}  // namespace
}  // namespace vexo::test
