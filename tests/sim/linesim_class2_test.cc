// Calls through the simulator's Class 2 and Class 2.0 modems with independent
// fax programs (efax, mgetty-fax's sendfax): the proof that the emulated
// service-class modems behave like real ones, before our own sessions use them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/sim/sim_harness.h"
#include "tests/sim/test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr int kPageRows = 480;
// efax puts a band of this many rows above every page it sends, blank with -h "".
constexpr int kEfaxHeaderRows = 20;
constexpr auto kCallLimit = seconds(90);
constexpr auto kToolLimit = seconds(20);
constexpr const char* kEfax = "/usr/bin/efax";
constexpr const char* kEfix = "/usr/bin/efix";
constexpr const char* kTiffcp = "/usr/bin/tiffcp";
constexpr const char* kSendfax = "/usr/sbin/sendfax";
constexpr const char* kPbm2g3 = "/usr/bin/pbm2g3";

struct ClassCase {
  const char* fclass;   // --class
  const char* efaxOpt;  // efax's option forcing that command set
  const char* hangup;   // the hang-up report
};

std::string CaseName(const ::testing::TestParamInfo<ClassCase>& info) {
  return std::string(info.param.fclass) == "2" ? "Class2" : "Class20";
}

class LinesimClass2 : public ::testing::TestWithParam<ClassCase> {
 protected:
  void SetUp() override {
    if (!HaveEfax()) GTEST_SKIP() << "efax is not installed";
    for (unsigned n = 1; n <= 2; ++n) {
      m_pages.push_back(MakeTestPage(n + 10, kPageRows));
      const fs::path pbm = m_dir.path() / ("page" + std::to_string(n) + ".pbm");
      ASSERT_TRUE(WritePbm(pbm, m_pages.back()));
      m_pbms.push_back(pbm);
      const fs::path pattern = m_dir.path() / ("page" + std::to_string(n) + ".%03d");
      ChildProcess efix({kEfix, "-i", "pbm", "-o", "tiffg3", "-R", "204x196", "-r", "204x196", "-n",
                         pattern.string(), pbm.string()},
                        m_dir.path() / "efix.log");
      ASSERT_EQ(efix.Wait(kToolLimit), 0) << efix.Log();
      m_tiffs.push_back(m_dir.path() / ("page" + std::to_string(n) + ".001"));
    }
    m_both = m_dir.path() / "pages.tif";
    ChildProcess tiffcp({kTiffcp, m_tiffs[0].string(), m_tiffs[1].string(), m_both.string()},
                        m_dir.path() / "tiffcp.log");
    ASSERT_EQ(tiffcp.Wait(kToolLimit), 0) << tiffcp.Log();
  }

  std::vector<std::string> SimOptions(std::vector<std::string> more) const {
    std::vector<std::string> options = {"--class", GetParam().fclass};
    options.insert(options.end(), more.begin(), more.end());
    return options;
  }

  std::vector<std::string> EfaxSend(const std::string& pty) const {
    std::vector<std::string> argv = {kEfax, "-d",       pty,  GetParam().efaxOpt,
                                     "-v",  "ewinchmr", "-l", "+1 555 0100",
                                     "-h",  "",         "-t", "5551234"};
    for (const auto& file : m_tiffs) argv.push_back(file.string());
    return argv;
  }

  // The pages the far end kept are the test pages, below blankRows rows.
  void ExpectPages(const fs::path& file, int blankRows) const {
    const auto got = ReadTiffPages(file);
    ASSERT_EQ(got.size(), m_pages.size()) << file;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].rows, kPageRows + blankRows) << "page " << i + 1;
      std::string why;
      EXPECT_TRUE(HoldsPage(got[i], m_pages[i], blankRows, why)) << "page " << i + 1 << ": " << why;
    }
  }

  TempDir m_dir;
  std::vector<Bitmap> m_pages;
  std::vector<fs::path> m_pbms;
  std::vector<fs::path> m_tiffs;  // one G3 TIFF per page, made by efix
  fs::path m_both;                // both pages in one TIFF
};

TEST_P(LinesimClass2, EfaxSendsTwoPagesThatTheFarEndDecodes) {
  const fs::path rx = m_dir.path() / "rx";
  const fs::path report = m_dir.path() / "calls.json";
  Linesim sim(SimOptions(
      {"--far-receive", rx.string(), "--far-id", "+1 555 9999", "--report", report.string()}));
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  ChildProcess efax(EfaxSend(sim.Pty(1)), m_dir.path() / "efax.log");
  ASSERT_EQ(efax.Wait(kCallLimit), 0) << efax.Log();
  EXPECT_NE(efax.Log().find("remote ID -> \"+1 555 9999\""), std::string::npos) << efax.Log();
  // Paced at the line rate: efax's flow-control check stays quiet.
  EXPECT_EQ(efax.Log().find("flow control did not work"), std::string::npos) << efax.Log();

  const auto line = sim.WaitForReport(seconds(10));
  ASSERT_TRUE(line) << sim.Stderr();
  EXPECT_NE(line->find("completed, 2 pages, 14400 bit/s, fine"), std::string::npos) << *line;
  ExpectPages(rx / "fax-001.tif", kEfaxHeaderRows);
  std::ifstream in(report);
  std::string json;
  std::getline(in, json);
  EXPECT_NE(json.find("\"pages\":2,\"pages_refused\":0"), std::string::npos) << json;
  EXPECT_NE(json.find("\"ident_seen_by_far\":\"+1 555 0100\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"completion_code\":0"), std::string::npos) << json;
}

TEST_P(LinesimClass2, EfaxReceivesACallIn) {
  Linesim sim(SimOptions({"--call-in", m_both.string(), "--far-id", "+1 555 9999"}));
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  ChildProcess efax({kEfax, "-d", sim.Pty(1), GetParam().efaxOpt, "-v", "ewinchmr", "-l",
                     "+1 555 0200", "-r", "in"},
                    m_dir.path() / "efax.log", m_dir.path());
  ASSERT_EQ(efax.Wait(kCallLimit), 0) << efax.Log();
  // Each page ends with a complete RTC, so efax has no reason to ask for it again.
  EXPECT_EQ(efax.Log().find("reception errors"), std::string::npos) << efax.Log();
  EXPECT_NE(efax.Log().find("remote ID -> \"+1 555 9999\""), std::string::npos) << efax.Log();
  std::vector<Bitmap> got;
  for (const char* name : {"in.001", "in.002"}) {
    auto pages = ReadTiffPages(m_dir.path() / name);
    ASSERT_EQ(pages.size(), 1u) << name;
    got.push_back(pages[0]);
  }
  for (std::size_t i = 0; i < got.size(); ++i) {
    std::string why;
    EXPECT_TRUE(HoldsPage(got[i], m_pages[i], 0, why)) << "page " << i + 1 << ": " << why;
  }
  const auto line = sim.WaitForReport(seconds(10));
  ASSERT_TRUE(line) << sim.Stderr();
  EXPECT_NE(line->find("in modem 1 <- terminal: completed, 2 pages"), std::string::npos) << *line;
  EXPECT_NE(line->find("far saw \"+1 555 0200\""), std::string::npos) << *line;
}

// The far end hangs up before the second page: efax hears the code in its
// class's numbering (the same digits here) and fails the call.
TEST_P(LinesimClass2, HangupCodeBeforeThePageReachesEfax) {
  Linesim sim(SimOptions({"--hangup-code", "52:2"}));
  ChildProcess efax(EfaxSend(sim.Pty(1)), m_dir.path() / "efax.log");
  const auto status = efax.Wait(kCallLimit);
  ASSERT_TRUE(status) << efax.Log();
  EXPECT_NE(*status, 0) << efax.Log();
  EXPECT_NE(efax.Log().find(std::string("[<CR><LF>") + GetParam().hangup + "52<CR><LF>]"),
            std::string::npos)
      << efax.Log();
  const auto line = sim.WaitForReport(seconds(10));
  ASSERT_TRUE(line) << sim.Stderr();
  EXPECT_NE(line->find("failed, 1 page"), std::string::npos) << *line;
  EXPECT_NE(line->find("far end hung up with code 52"), std::string::npos) << *line;
}

// A refused page: efax in Class 2 reads +FPTS:2 and sends the page again; in
// Class 2.0 it takes the OK after +FPS:2 as the page's confirmation and goes
// on. Either way the far end keeps only the pages it accepted.
TEST_P(LinesimClass2, RefusedPageIsKeptOnlyWhenSentAgain) {
  const fs::path rx = m_dir.path() / "rx";
  Linesim sim(SimOptions({"--rtn-page", "1", "--far-receive", rx.string()}));
  ChildProcess efax(EfaxSend(sim.Pty(1)), m_dir.path() / "efax.log");
  ASSERT_EQ(efax.Wait(kCallLimit), 0) << efax.Log();
  const auto line = sim.WaitForReport(seconds(10));
  ASSERT_TRUE(line) << sim.Stderr();
  if (std::string(GetParam().fclass) == "2") {
    EXPECT_NE(line->find("completed, 2 pages (1 refused)"), std::string::npos) << *line;
    ExpectPages(rx / "fax-001.tif", kEfaxHeaderRows);
    return;
  }
  EXPECT_NE(efax.Log().find("+FPS:2,"), std::string::npos) << efax.Log();
  EXPECT_NE(line->find("completed, 1 page (1 refused)"), std::string::npos) << *line;
  const auto got = ReadTiffPages(rx / "fax-001.tif");
  ASSERT_EQ(got.size(), 1u);
  std::string why;
  EXPECT_TRUE(HoldsPage(got[0], m_pages[1], kEfaxHeaderRows, why)) << why;
}

// mgetty's sendfax, with G3 files from its own pbm2g3, names its line
// relative to /dev; it finds the class itself from AT+FCLASS=?.
TEST_P(LinesimClass2, SendfaxSendsTwoG3Pages) {
  if (::access(kSendfax, X_OK) != 0) GTEST_SKIP() << "mgetty-fax is not installed";
  const std::string name = "ttyVexoSim" + std::to_string(::getpid());
  const fs::path link = fs::path("/dev") / name;
  {
    std::ofstream probe(fs::path("/dev") / (name + ".probe"));
    if (!probe) GTEST_SKIP() << "cannot make a link under /dev";
  }
  fs::remove(fs::path("/dev") / (name + ".probe"));
  std::vector<std::string> argv = {kSendfax, "-v", "-l", name, "5551234"};
  for (std::size_t i = 0; i < m_pbms.size(); ++i) {
    const fs::path g3 = m_dir.path() / ("page" + std::to_string(i + 1) + ".g3");
    ChildProcess pbm2g3(
        {"/bin/sh", "-c",
         std::string(kPbm2g3) + " '" + m_pbms[i].string() + "' > '" + g3.string() + "'"},
        m_dir.path() / "pbm2g3.log");
    ASSERT_EQ(pbm2g3.Wait(kToolLimit), 0) << pbm2g3.Log();
    argv.push_back(g3.string());
  }
  const fs::path rx = m_dir.path() / "rx";
  Linesim sim(SimOptions({"--far-receive", rx.string(), "--link", link.string()}));
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  ChildProcess sendfax(argv, m_dir.path() / "sendfax.log");
  ASSERT_EQ(sendfax.Wait(kCallLimit), 0) << sendfax.Log();
  const auto line = sim.WaitForReport(seconds(10));
  ASSERT_TRUE(line) << sim.Stderr();
  EXPECT_NE(line->find("completed, 2 pages"), std::string::npos) << *line;
  ExpectPages(rx / "fax-001.tif", 0);
}

INSTANTIATE_TEST_SUITE_P(Classes, LinesimClass2,
                         ::testing::Values(ClassCase{"2", "-o2", "+FHNG:"},
                                           ClassCase{"2.0", "-o0", "+FHS:"}),
                         CaseName);

// The command sets themselves, typed over the pty.
TEST(LinesimClass2Commands, Class20AnswersItsCommandSet) {
  Linesim sim({"--class", "2.0", "--vr0-only", "--far-id", "FAR"});
  PtyClient modem(sim.Pty(1));
  ASSERT_TRUE(modem.ok()) << sim.Stderr();
  EXPECT_EQ(modem.Command("ATE0"), "ATE0\r\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+FCLASS=?"), "\r\n0,2.0\r\n\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+FCLASS=2"), "\r\nERROR\r\n");
  EXPECT_EQ(modem.Command("ATD555"), "\r\nERROR\r\n");  // no fax call in class 0
  EXPECT_EQ(modem.Command("AT+FCLASS=2.0;+FCLASS?"), "\r\n2.0\r\n\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+FCC=?"), "\r\n(0,1),(0-5),(0-2),(0-2),(0,1),0,0,(0-7)\r\n\r\nOK\r\n");
  // Empty fields keep their value; out of range, non-numbers and a ninth value are refused.
  EXPECT_EQ(modem.Command("AT+FCC=1,3,,,,,,2"), "\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+FCC?"), "\r\n1,3,0,2,0,0,0,2\r\n\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+FCC=1,6"), "\r\nERROR\r\n");
  EXPECT_EQ(modem.Command("AT+FCC=x"), "\r\nERROR\r\n");
  EXPECT_EQ(modem.Command("AT+FCC=1,5,0,2,0,0,0,0,0"), "\r\nERROR\r\n");
  EXPECT_EQ(modem.Command("AT+FCC?"), "\r\n1,3,0,2,0,0,0,2\r\n\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+FBO=1;+FBO?"), "\r\n1\r\n\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+FBO=4"), "\r\nERROR\r\n");
  EXPECT_EQ(modem.Command("AT+FLI=\"+1 555 0100\";+FLI?"), "\r\n\"+1 555 0100\"\r\n\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+FDT"), "\r\nERROR\r\n");  // no call
  // A far end without fine rows: its DIS says so and the session follows it.
  EXPECT_EQ(modem.Command("ATD555", milliseconds(5000)),
            "\r\n+FCO\r\n\r\n+FCI:\"FAR\"\r\n\r\n+FIS:0,5,0,2,0,0,0,0\r\n\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+FDT"), "\r\n+FCS:0,3,0,2,0,0,0,2\r\n\r\nCONNECT\r\n");
  // The program gives up on the page: CAN after DLE ends the call.
  EXPECT_EQ(modem.Command("\x10\x18"), "\r\n+FHS:02\r\n\r\nOK\r\n");
  const auto line = sim.WaitForReport(seconds(5));
  ASSERT_TRUE(line) << sim.Stderr();
  EXPECT_NE(line->find("failed, 0 pages, 9600 bit/s, normal"), std::string::npos) << *line;
  EXPECT_NE(line->find("the program aborted the call"), std::string::npos) << *line;
}

// The settings line a fax program types first (phone-modem reports and a
// data bearer) is taken in class 0 already, as the Class 1 modem takes it.
TEST(LinesimClass2Commands, BothClassesTakeTheGeneralSettingsLine) {
  for (const char* fclass : {"2", "2.0"}) {
    SCOPED_TRACE(fclass);
    Linesim sim({"--class", fclass});
    PtyClient modem(sim.Pty(1));
    ASSERT_TRUE(modem.ok()) << sim.Stderr();
    EXPECT_EQ(modem.Command("AT E0 V1 Q0 M0 S7=60 S10=10 +CLIP=0; +CRC=0; +CMEE=0; +COLP=0; "
                            "+CBST=7,0,0"),
              "AT E0 V1 Q0 M0 S7=60 S10=10 +CLIP=0; +CRC=0; +CMEE=0; +COLP=0; +CBST=7,0,0\r"
              "\r\nOK\r\n");
    EXPECT_EQ(modem.Command("AT+CBST?"), "\r\n+CBST: 7,0,1\r\n\r\nOK\r\n");
    EXPECT_EQ(modem.Command("AT+CBST=?"), "\r\n+CBST: (0-134),(0-7),(0-3)\r\n\r\nOK\r\n");
    EXPECT_EQ(modem.Command("AT+CBST=7,0,4"), "\r\nERROR\r\n");
    EXPECT_EQ(modem.Command("AT+CBST=135"), "\r\nERROR\r\n");
    EXPECT_EQ(modem.Command("AT+CBST=7,0,0,1"), "\r\nERROR\r\n");
    EXPECT_EQ(modem.Command("AT+CLIPX=0"), "\r\nERROR\r\n");
    EXPECT_EQ(modem.Command("AT+FCLASS?"), "\r\n0\r\n\r\nOK\r\n");
  }
}

TEST(LinesimClass2Commands, Class2ConnectCarriesXonUnlessTurnedOff) {
  for (const bool noXon : {false, true}) {
    std::vector<std::string> options = {"--class", "2"};
    if (noXon) options.push_back("--no-xon");
    Linesim sim(options);
    PtyClient modem(sim.Pty(1));
    ASSERT_TRUE(modem.ok()) << sim.Stderr();
    modem.Command("ATE0");
    EXPECT_EQ(modem.Command("AT+FCLASS=2;+FBO=0"), "\r\nERROR\r\n");  // +FBO is Class 2.0's
    EXPECT_EQ(modem.Command("AT+FCLASS=2;+FDCC=?"),
              "\r\n(0,1),(0-5),(0-2),(0-2),(0,1),0,0,(0-7)\r\n\r\nOK\r\n");
    EXPECT_EQ(modem.Command("ATD555", milliseconds(5000)),
              "\r\n+FCON\r\n\r\n+FCSI:\"VEXO LINESIM\"\r\n\r\n+FDIS:1,5,0,2,0,0,0,0\r\n\r\nOK\r\n");
    const std::string connect = modem.Command("AT+FDT") + modem.ReadFor(milliseconds(300));
    EXPECT_EQ(connect,
              std::string("\r\n+FDCS:1,5,0,2,0,0,0,0\r\n\r\nCONNECT\r\n") + (noXon ? "" : "\x11"));
    // An abort with +FK after the page: the Class 2 hang-up report in decimal.
    EXPECT_EQ(modem.Command("\x10\x03"), "\r\nOK\r\n");
    EXPECT_EQ(modem.Command("AT+FK"), "\r\n+FHNG:2\r\n\r\nOK\r\n");
  }
}

TEST(LinesimClass2Commands, RefusedCapabilitiesAndLineEvents) {
  {
    Linesim sim({"--class", "2.0", "--fcc-error"});
    PtyClient modem(sim.Pty(1));
    ASSERT_TRUE(modem.ok()) << sim.Stderr();
    modem.Command("ATE0");
    EXPECT_EQ(modem.Command("AT+FCLASS=2.0;+FCC=1,5"), "\r\nERROR\r\n");
  }
  {
    Linesim sim({"--class", "2.0", "--busy"});
    PtyClient modem(sim.Pty(1));
    modem.Command("ATE0");
    modem.Command("AT+FCLASS=2.0");
    EXPECT_EQ(modem.Command("ATD555", milliseconds(8000)), "\r\nBUSY\r\n");
  }
}

}  // namespace
}  // namespace vexo::test
