// The simulator's Class 2 and Class 2.0 modems with mgetty-fax's sendfax, an
// independent fax program, and their command sets typed over the pty: the
// proof that the emulated service-class modems behave like real ones. Calls
// with efax and with our own sessions are proven by those sessions' tests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <tuple>

#include "tests/sim/sim_harness.h"
#include "tools/linesim/far_station.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

// mgetty's sendfax, with G3 files from its own pbm2g3, names its line
// relative to /dev; it finds the class itself from AT+FCLASS=?.
TEST(LinesimClass2, SendfaxSendsTwoG3Pages) {
  for (const char* fclass : {"2", "2.0"}) {
    SCOPED_TRACE(fclass);
    if (::access("/usr/sbin/sendfax", X_OK) != 0) GTEST_SKIP() << "mgetty-fax is not installed";
    const std::string name = "ttyVexoSim" + std::to_string(::getpid());
    const fs::path link = fs::path("/dev") / name;
    if (!std::ofstream(fs::path("/dev") / (name + ".probe")))
      GTEST_SKIP() << "cannot make a link under /dev";
    fs::remove(fs::path("/dev") / (name + ".probe"));
    TempDir dir;
    const auto pages = TestPages(2, 480, 11);
    std::vector<std::string> argv = {"/usr/sbin/sendfax", "-v", "-l", name, "5551234"};
    for (std::size_t i = 0; i < pages.size(); ++i) {
      const fs::path pbm = dir.path() / ("page" + std::to_string(i + 1) + ".pbm");
      const fs::path g3 = dir.path() / ("page" + std::to_string(i + 1) + ".g3");
      ASSERT_TRUE(WritePbm(pbm, pages[i]));
      ChildProcess pbm2g3(
          {"/bin/sh", "-c", "/usr/bin/pbm2g3 '" + pbm.string() + "' > '" + g3.string() + "'"},
          dir.path() / "pbm2g3.log");
      ASSERT_EQ(pbm2g3.Wait(seconds(20)), 0) << pbm2g3.Log();
      argv.push_back(g3.string());
    }
    const fs::path rx = dir.path() / "rx";
    Linesim sim({"--class", fclass, "--far-receive", rx.string(), "--link", link.string()});
    ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
    ChildProcess sendfax(argv, dir.path() / "sendfax.log");
    ASSERT_EQ(sendfax.Wait(seconds(90)), 0) << sendfax.Log();
    const std::string line = sim.Report(seconds(10));
    EXPECT_NE(line.find("completed, 2 pages"), std::string::npos) << line;
    EXPECT_TRUE(ReadTiffPages(rx / "fax-001.tif") == pages) << "the far end's pages differ";
  }
}

// The command sets themselves, typed over the pty.
TEST(LinesimClass2Commands, Class20RefusesWhatARealModemRefuses) {
  Linesim sim({"--class", "2.0", "--vr0-only", "--far-id", "FAR"});
  PtyClient modem(sim.Pty(1));
  ASSERT_TRUE(modem.ok()) << sim.Stderr();
  modem.Command("ATE0");
  // What our sessions type is proven by their calls; here what a modem refuses:
  // Class 2 on a 2.0 modem, a fax call in class 0, out-of-range values,
  // non-numbers, a ninth value, and a page without a call. Empty fields keep
  // their value.
  EXPECT_EQ(modem.Command("AT+FCLASS=2"), "\r\nERROR\r\n");
  EXPECT_EQ(modem.Command("ATD555"), "\r\nERROR\r\n");
  EXPECT_EQ(modem.Command("AT+FCLASS=2.0;+FCC=1,3,,,,,,2"), "\r\nOK\r\n");
  for (const char* refused :
       {"AT+FCC=1,6", "AT+FCC=x", "AT+FCC=1,5,0,2,0,0,0,0,0", "AT+FBO=4", "AT+FDT"})
    EXPECT_EQ(modem.Command(refused), "\r\nERROR\r\n") << refused;
  EXPECT_EQ(modem.Command("AT+FCC?"), "\r\n1,3,0,2,0,0,0,2\r\n\r\nOK\r\n");
  // A far end without fine rows: its DIS says so and the session follows it.
  EXPECT_EQ(modem.Command("ATD555", milliseconds(5000)),
            "\r\n+FCO\r\n\r\n+FCI:\"FAR\"\r\n\r\n+FIS:0,5,0,2,0,0,0,0\r\n\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+FDT"), "\r\n+FCS:0,3,0,2,0,0,0,2\r\n\r\nCONNECT\r\n");
  // The program gives up on the page: CAN after DLE ends the call.
  EXPECT_EQ(modem.Command("\x10\x18"), "\r\n+FHS:02\r\n\r\nOK\r\n");
  const std::string line = sim.Report(seconds(5));
  EXPECT_NE(line.find("failed, 0 pages, 9600 bit/s, normal"), std::string::npos) << line;
  EXPECT_NE(line.find("the program aborted the call"), std::string::npos) << line;
}

// A page in each DF through a Class 2.0 modem with ECM: the far end (offering
// ECM and T.6) decodes it in the session's coding and keeps it.
TEST(LinesimClass2Commands, Class20TakesPagesInEveryCoding) {
  for (const auto& [df, encoding, session] :
       {std::tuple{"0", T4_COMPRESSION_ITU_T4_1D, "ECM, T.4 1-D"},
        std::tuple{"1", T4_COMPRESSION_ITU_T4_2D, "ECM, T.4 2-D"},
        std::tuple{"3", T4_COMPRESSION_ITU_T6, "ECM, T.6"}}) {
    SCOPED_TRACE(session);
    TempDir dir;
    const auto pages = TestPages(1, 200);
    ASSERT_TRUE(WriteFaxTiff(dir.path() / "page.tif", pages));
    linesim::FarStation coder;  // codes the page for the line as the far end would
    std::string error;
    ASSERT_TRUE(coder.LoadCallIn((dir.path() / "page.tif").string(), encoding, error)) << error;
    Linesim sim({"--class", "2.0", "--far-ecm", "--far-coding", "mmr", "--far-receive",
                 (dir.path() / "rx").string()});
    PtyClient modem(sim.Pty(1));
    ASSERT_TRUE(modem.ok()) << sim.Stderr();
    modem.Command("ATE0");
    EXPECT_EQ(modem.Command(std::string("AT+FCLASS=2.0;+FCC=1,5,0,2,") + df + ",1"), "\r\nOK\r\n");
    EXPECT_NE(modem.Command("ATD555", milliseconds(5000)).find("+FIS:1,5,0,2,3,1,0,0"),
              std::string::npos);
    EXPECT_NE(modem.Command("AT+FDT").find("CONNECT"), std::string::npos);
    std::string data;
    for (const char byte : coder.callInPages()[0].data)
      data += std::string(byte == 0x10 ? 2 : 1, byte);
    EXPECT_NE(modem.Command(data + "\x10.", seconds(10)).find("+FPS:1,200"), std::string::npos);
    const std::string line = sim.Report(seconds(10));
    EXPECT_NE(line.find(std::string("completed, 1 page, 14400 bit/s, fine, ") + session),
              std::string::npos)
        << line;
    EXPECT_TRUE(ReadTiffPages(dir.path() / "rx" / "fax-001.tif") == pages);
  }
}

TEST(LinesimClass2Commands, FccErrorRefusesTheCapabilities) {
  Linesim sim({"--class", "2.0", "--fcc-error"});
  PtyClient modem(sim.Pty(1));
  ASSERT_TRUE(modem.ok()) << sim.Stderr();
  modem.Command("ATE0");
  EXPECT_EQ(modem.Command("AT+FCLASS=2.0;+FCC=1,5"), "\r\nERROR\r\n");
}

}  // namespace
}  // namespace vexo::test
