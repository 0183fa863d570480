// The emulated Class 1 modem where its timing meets the program's: commands
// typed right after the last frame of a burst, before the modem has seen the
// carrier drop, and a line running faster than real time.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "modem/win_com_ce.h"
#include "platform/text.h"
#include "protocol/class1_func.h"
#include "tests/sim/sim_harness.h"
#include "tests/sim/test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr const char* kLocalId = "+1 555 0100";
constexpr const char* kFarId = "+1 555 9999";
constexpr std::uint32_t kRingWaitMs = 30000;

// The program's end: our serial port and Class 1 protocol on a simulator pty.
struct Station {
  WinCOMCE port;
  FClass1Func fax;
  FaxResult result;

  bool Open(const std::string& pty) {
    port.SetBaudRate(115200);
    port.SetOptions({pty, "", "", false});
    if (port.OpenComPort(nullptr, "COM1:", 0, "", 0) != 1) return false;
    fax.Attach(&port);
    return port.WriteCommand("AT+FCLASS=1", 0) == 1 && fax.MatchOKResult(kWaitOkMs, true) == 1;
  }
  ~Station() {
    fax.HangupModem();
    port.CloseComPort(0);
  }
};

// Every line the program typed reached the modem whole: a lost first
// character shows as a line that does not start with AT.
void ExpectWholeCommandLines(const std::string& trace) {
  const auto commands = Commands(trace);
  EXPECT_FALSE(commands.empty());
  for (const auto& line : commands) {
    std::string head = line.substr(0, 2);
    std::transform(head.begin(), head.end(), head.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    EXPECT_EQ(head, "AT") << "the modem saw \"" << line << "\"";
  }
}

// Pages of alternating resolution make the far terminal end each page with
// EOM and negotiate again: after each EOM the program answers MCF and at once
// asks for the next frames, while the modem still waits for the carrier to drop.
TEST(LinesimClass1, ACallInWithEomBetweenPagesArrivesWhole) {
  TempDir dir;
  std::vector<Bitmap> pages;
  std::vector<std::string> tiffcp = {"/usr/bin/tiffcp"};
  for (int n = 1; n <= 4; ++n) {
    pages.push_back(MakeTestPage(static_cast<unsigned>(n), 64));
    const fs::path one = dir.path() / ("p" + std::to_string(n) + ".tif");
    ASSERT_TRUE(WriteFaxTiff(one, {pages.back()}, n % 2 == 1));
    tiffcp.push_back(one.string());
  }
  const fs::path in = dir.path() / "in.tif";
  tiffcp.push_back(in.string());
  ChildProcess join(tiffcp, dir.path() / "tiffcp.log");
  ASSERT_EQ(join.Wait(seconds(20)), 0) << join.Log();

  Linesim sim({"--call-in", in.string(), "--far-id", kFarId, "--verbose"});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  Station station;
  ASSERT_TRUE(station.Open(sim.Pty(1)));
  ASSERT_GT(station.fax.WaitRings(kRingWaitMs, 1, true), 0);
  const fs::path received = dir.path() / "QX000001.tif";
  ASSERT_EQ(station.fax.ReceiveFAXClass1(received.string(), kLocalId, &station.result),
            kSessionDone)
      << ::testing::PrintToString(PoolMessages()) << sim.Stderr();
  station.fax.HangupModem();
  EXPECT_EQ(station.result.pagesTransferred, 4u);
  const auto got = ReadTiffPages(received);
  ASSERT_EQ(got.size(), pages.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].rows, pages[i].rows) << "page " << i + 1;
    EXPECT_TRUE(got[i].bits == pages[i].bits) << "page " << i + 1;
  }
  const auto line = sim.WaitForReport(seconds(20));
  ASSERT_TRUE(line) << sim.Stderr();
  EXPECT_NE(line->find("completed, 4 pages"), std::string::npos) << *line;
  ExpectWholeCommandLines(sim.Stderr());
}

// At twice the line speed the far end answers sooner than the program expects
// and its frames end while the program is still busy with the previous ones.
TEST(LinesimClass1, ASendAtDoubleSpeedSucceeds) {
  TempDir dir;
  const std::vector<Bitmap> pages = {MakeTestPage(1, 64), MakeTestPage(2, 64)};
  const fs::path file = dir.path() / "out.tif";
  ASSERT_TRUE(WriteFaxTiff(file, pages));
  Linesim sim({"--speed", "2", "--far-id", kFarId, "--far-receive", (dir.path() / "rx").string(),
               "--verbose"});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  Station station;
  ASSERT_TRUE(station.Open(sim.Pty(1)));
  std::uint32_t resume = 0;
  const std::vector<std::string> files = {file.string()};
  EXPECT_EQ(station.fax.SendFAXClass1(files, "5551234", kLocalId, &resume, &station.result),
            kSessionDone)
      << ::testing::PrintToString(PoolMessages()) << sim.Stderr();
  station.fax.HangupModem();
  EXPECT_EQ(station.result.pagesTransferred, 2u);
  EXPECT_EQ(Utf16ToUtf8(station.result.RemoteId()), kFarId);
  const auto line = sim.WaitForReport(seconds(20));
  ASSERT_TRUE(line) << sim.Stderr();
  EXPECT_NE(line->find("completed, 2 pages"), std::string::npos) << *line;
  EXPECT_EQ(ReadTiffPages(dir.path() / "rx" / "fax-001.tif").size(), 2u);
  ExpectWholeCommandLines(sim.Stderr());
}

// Typing while the modem waits for a carrier still aborts the wait, with OK,
// also right after frames that ended with OK.
TEST(LinesimClass1, ACharacterTypedWhileWaitingForACarrierAborts) {
  Linesim sim({"--far-id", kFarId});
  PtyClient modem(sim.Pty(1));
  ASSERT_TRUE(modem.ok()) << sim.Stderr();
  modem.Command("ATE0");
  ASSERT_EQ(modem.Command("AT+FCLASS=1"), "\r\nOK\r\n");
  ASSERT_EQ(modem.Command("ATD555", milliseconds(10000)), "\r\nCONNECT\r\n") << sim.Stderr();
  // The far terminal's CSI and DIS, each ending with DLE ETX and OK.
  const std::string frames = modem.ReadFor(milliseconds(1500));
  ASSERT_TRUE(frames.ends_with("\x10\x03\r\nOK\r\n")) << ::testing::PrintToString(frames);
  EXPECT_EQ(modem.Command("AT+FRM=96", milliseconds(300)), "");
  EXPECT_EQ(modem.Command("X", milliseconds(1000)), "\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT"), "\r\nOK\r\n");
  modem.Command("ATH0");
}

}  // namespace
}  // namespace vexo::test
