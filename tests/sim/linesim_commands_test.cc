// The emulated modem's command interface, talked to directly over its pty:
// what our sessions' calls do not already prove. (A call-in with EOM between
// pages and sends faster than real time, where the modem's timing meets the
// program's, run in test_sim and the soak.)
#include <gtest/gtest.h>
#include <spandsp.h>

#include <filesystem>

#include "tests/sim/sim_harness.h"
#include "tests/support/wait_for.h"
#include "tools/linesim/hdlc_stream_faults.h"
#include "tools/linesim/t30_monitor.h"

namespace vexo::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// What our sessions' calls do not already prove: echo, refusals, the rest of
// an init string after unknown commands, numeric results and narrower lists.
TEST(LinesimCommands, AnswersLikeAPlainClass1Modem) {
  Linesim sim({});
  PtyClient modem(sim.Pty(1));
  ASSERT_TRUE(modem.ok()) << sim.Stderr();
  EXPECT_EQ(modem.Command("AT"), "AT\r\r\nOK\r\n");  // echo is on at power-on
  // Commands a modem does not know are accepted; those after them still run
  // (spandsp alone would drop the rest of the line after &K3, keeping echo on).
  EXPECT_EQ(modem.Command("ATQ0V1X4&K3\\N0%C0 S7=45 E0"),
            "ATQ0V1X4&K3\\N0%C0 S7=45 E0\r\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT"), "\r\nOK\r\n");
  for (const char* refused :
       {"AT+FCLASS=1.0", "AT+FCLASS=2", "AT+FTM=50", "AT+FRM=3", "AT+CGMI", "AT+CNMI?"})
    EXPECT_EQ(modem.Command(refused), "\r\nERROR\r\n") << refused;
  EXPECT_EQ(modem.Command("AT&K3+FCLASS=1;+FCLASS?"), "\r\n1\r\n\r\nOK\r\n");
  // An error stops the line: the class stays as it was.
  EXPECT_EQ(modem.Command("AT+FCLASS=0;+FTM=13;+FCLASS=1"), "\r\nERROR\r\n");
  EXPECT_EQ(modem.Command("AT+FCLASS?"), "\r\n0\r\n\r\nOK\r\n");
  // Reset brings echo back.
  EXPECT_EQ(modem.Command("ATZ"), "\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT"), "AT\r\r\nOK\r\n");
  // Numeric results.
  EXPECT_EQ(modem.Command("ATE0V0", milliseconds(500)), "ATE0V0\r0\r");
  EXPECT_EQ(modem.Command("AT+FTM=1", milliseconds(500)), "4\r");

  Linesim narrow({"--modulations", "24,48,72,96", "--fclass-list", "0,1,1.0"});
  PtyClient other(narrow.Pty(1));
  ASSERT_TRUE(other.ok()) << narrow.Stderr();
  other.Command("ATE0");
  EXPECT_EQ(other.Command("AT+FCLASS=?"), "\r\n0,1,1.0\r\n\r\nOK\r\n");
  EXPECT_EQ(other.Command("AT+FCLASS=1.0"), "\r\nOK\r\n");
  EXPECT_EQ(other.Command("AT+FRM=?"), "\r\n24,48,72,96\r\n\r\nOK\r\n");
}

// Typing while the modem waits for a carrier still aborts the wait, with OK,
// also right after frames that ended with OK.
TEST(LinesimCommands, ACharacterTypedWhileWaitingForACarrierAborts) {
  Linesim sim({"--far-id", kSimFarId});
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

TEST(LinesimCommands, RefusesBadOptions) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"--speed", "0"},
                                             {"--modulations", "24,50"},
                                             {"--fclass-list", "2"},
                                             {"--busy", "--no-answer"},
                                             {"--busy-calls", "0"},
                                             {"--busy-calls", "1", "--busy"},
                                             {"--noise", "loud"},
                                             {"--noise", "30", "--signal-noise", "20"},
                                             {"--far", "fax"},
                                             {"--far-coding", "jbig"},
                                             {"--call-in", "/nonexistent/page.tif"},
                                             {"--call-in-repeat", "2"},
                                             {"--call-in-repeat", "0"},
                                             {"--line-delay", "-1"},
                                             {"--frobnicate"}}) {
    TempDir dir;
    std::vector<std::string> argv = {LinesimPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess sim(argv, dir.path() / "log");
    EXPECT_EQ(sim.Wait(seconds(5)), 2) << args.front() << ": " << sim.Log();
  }
}

// An unanswered call ends with NO ANSWER once S7 has passed. (A busy line and
// no dial tone are proven by our sessions' calls.)
TEST(LinesimLine, AnUnansweredCallEndsWithNoAnswer) {
  Linesim sim({"--no-answer"});
  PtyClient modem(sim.Pty(1));
  ASSERT_TRUE(modem.ok()) << sim.Stderr();
  modem.Command("ATE0S7=5");
  EXPECT_EQ(modem.Command("ATD5551234", milliseconds(10000)), "\r\nNO ANSWER\r\n");
  const std::string report = sim.Report(seconds(5));
  EXPECT_NE(report.find(": no answer"), std::string::npos) << report;
}

TEST(LinesimLine, StopsCleanlyAndRemovesItsLinks) {
  TempDir dir;
  const auto link = dir.path() / "ttyFAX";
  {
    Linesim sim({"--link", link.string()});
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.Pty(1));
    EXPECT_EQ(sim.Stop(seconds(5)), 0);
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
  // With --once it goes when the program using the port has closed it.
  Linesim once({"--once"});
  {
    PtyClient modem(once.Pty(1));
    modem.Command("AT");
  }
  EXPECT_TRUE(WaitFor([&] { return !once.running(); }, seconds(2)));
}

}  // namespace
}  // namespace vexo::test

// The line tap on its own: which frames count as confirmed pages. Decoding
// whole sessions from the audio is proven by the call between our sender and
// efax, and how command lines are taken apart by every command our sessions type.
namespace vexo::linesim {
namespace {

TEST(LinesimLineTap, CountsOnlyConfirmationsOfPages) {
  T30Monitor monitor;
  const auto frame = [](std::uint8_t fcf) { return std::vector<std::uint8_t>{0xFF, 0x13, fcf}; };
  // An MCF without a post-page message before it (as after a mode change) is no page.
  monitor.OnFrame(Direction::kFromFar, frame(T30_MCF));
  monitor.OnFrame(Direction::kFromModem, frame(T30_MPS | 1));
  monitor.OnFrame(Direction::kFromFar, frame(T30_RTP));  // accepted, retrain
  monitor.OnFrame(Direction::kFromModem, frame(T30_EOP | 1));
  monitor.OnFrame(Direction::kFromFar, frame(T30_MCF));
  monitor.OnFrame(Direction::kFromFar, frame(T30_MCF));  // a repeated answer counts once
  // 14400 bit/s V.17, normal resolution.
  monitor.OnFrame(Direction::kFromModem, {{0xFF, 0x13, T30_DCS | 1, 0x00, 0x20, 0x1E}});
  // Frames too short to hold an FCF are ignored.
  monitor.OnFrame(Direction::kFromModem, std::vector<std::uint8_t>{0xFF, 0x13});
  EXPECT_EQ(monitor.observations().pagesConfirmed, 2);
  EXPECT_EQ(monitor.observations().bitRate, 14400);
  EXPECT_EQ(monitor.observations().resolution, "normal");
  EXPECT_EQ(monitor.observations().coding, "T.4 1-D");
  monitor.OnFrame(Direction::kFromModem, {{0xFF, 0x13, T30_DCS | 1, 0x00, 0xA0, 0x1E, 0x44}});
  EXPECT_TRUE(monitor.observations().ecm);
  EXPECT_EQ(monitor.observations().coding, "T.6");
}

// ECM frames in high-speed data (FCD frames holding DLE and flag octets):
// the second is passed, damaged or lost, the others pass, and the DLE ETX
// ending the data comes last.
TEST(LinesimDataFrames, DamagesOrLosesTheChosenFrame) {
  for (const FrameFate fate : {FrameFate::kPass, FrameFate::kCorrupt, FrameFate::kLose}) {
    SCOPED_TRACE(static_cast<int>(fate));
    hdlc_tx_state_t* tx = hdlc_tx_init(nullptr, false, 1, false, nullptr, nullptr);
    hdlc_tx_flags(tx, 8);
    std::uint8_t fcd[] = {0xFF, 0x03, 0x06, 0, 0x10, 0x7E, 0xFF, 0x10};
    std::string stuffed;
    for (int i = 0; i < 64; ++i) {
      int byte = 0;
      for (int b = 0; b < 8; ++b) {
        // The transmitter takes the next frame once it is done with the last.
        if (fcd[3] < 3 && hdlc_tx_frame(tx, fcd, sizeof fcd) == 0) ++fcd[3];
        byte |= (hdlc_tx_get_bit(tx) & 1) << b;
      }
      stuffed += std::string(byte == 0x10 ? 2 : 1, static_cast<char>(byte));
    }
    hdlc_tx_free(tx);
    int counted = 0;
    HdlcStreamFaults faults([&] { return ++counted == 2 ? fate : FrameFate::kPass; });
    std::string out;
    for (const char c : stuffed + "\x10\x03") faults.Feed(c, out);
    ASSERT_TRUE(out.ends_with("\x10\x03"));
    std::vector<int> frames;  // frame numbers received good, -1 for a bad frame
    hdlc_rx_state_t* rx = hdlc_rx_init(
        nullptr, false, true, 2,
        [](void* list, const std::uint8_t* frame, int length, int ok) {
          if (length > 0) static_cast<std::vector<int>*>(list)->push_back(ok ? frame[3] : -1);
        },
        &frames);
    for (std::size_t i = 0; i + 2 < out.size(); ++i) {
      if (out[i] == 0x10) ++i;  // DLE DLE is one data byte
      for (int b = 0; b < 8; ++b) hdlc_rx_put_bit(rx, (out[i] >> b) & 1);
    }
    hdlc_rx_free(rx);
    EXPECT_EQ(counted, 3);
    const std::vector<int> expected[] = {{0, 1, 2}, {0, -1, 2}, {0, 2}};
    EXPECT_EQ(frames, expected[static_cast<int>(fate)]);
  }
}

}  // namespace
}  // namespace vexo::linesim
