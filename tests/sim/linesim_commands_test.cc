// The emulated modem's command interface, talked to directly over its pty.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <thread>

#include "tests/sim/sim_harness.h"
#include "tests/sim/test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(LinesimCommands, AnswersLikeAPlainClass1Modem) {
  Linesim sim({});
  ASSERT_FALSE(sim.Pty(1).empty()) << sim.Stderr();
  PtyClient modem(sim.Pty(1));
  ASSERT_TRUE(modem.ok());
  EXPECT_EQ(modem.Command("AT"), "AT\r\r\nOK\r\n");  // echo is on at power-on
  EXPECT_EQ(modem.Command("ATE0"), "ATE0\r\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT"), "\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+FCLASS=?"), "\r\n0,1\r\n\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+FTM=?"), "\r\n24,48,72,73,74,96,97,98,121,122,145,146\r\n\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+FRM=?"), "\r\n24,48,72,73,74,96,97,98,121,122,145,146\r\n\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+FCLASS=1.0"), "\r\nERROR\r\n");
  EXPECT_EQ(modem.Command("AT+FCLASS=2"), "\r\nERROR\r\n");
  EXPECT_EQ(modem.Command("AT+FCLASS=1"), "\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+FCLASS?"), "\r\n1\r\n\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+FTM=50"), "\r\nERROR\r\n");
  EXPECT_EQ(modem.Command("AT+FRM=3"), "\r\nERROR\r\n");
  // Not a phone: no maker line, no message indications.
  EXPECT_EQ(modem.Command("AT+CGMI"), "\r\nERROR\r\n");
  EXPECT_EQ(modem.Command("AT+CNMI?"), "\r\nERROR\r\n");
}

TEST(LinesimCommands, RunsEveryCommandOfAnInitString) {
  Linesim sim({});
  PtyClient modem(sim.Pty(1));
  ASSERT_TRUE(modem.ok()) << sim.Stderr();
  // Commands a modem does not know are accepted; those after them still run
  // (spandsp alone would drop the rest of the line after &K3, keeping echo on).
  EXPECT_EQ(modem.Command("ATQ0V1X4&K3\\N0%C0 S7=45 E0"),
            "ATQ0V1X4&K3\\N0%C0 S7=45 E0\r\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT"), "\r\nOK\r\n");
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
}

TEST(LinesimCommands, OffersNarrowerListsByOption) {
  Linesim sim({"--modulations", "24,48,72,96", "--fclass-list", "0,1,1.0"});
  PtyClient modem(sim.Pty(1));
  ASSERT_TRUE(modem.ok()) << sim.Stderr();
  modem.Command("ATE0");
  EXPECT_EQ(modem.Command("AT+FCLASS=?"), "\r\n0,1,1.0\r\n\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+FCLASS=1.0"), "\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+FTM=?"), "\r\n24,48,72,96\r\n\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+FRM=?"), "\r\n24,48,72,96\r\n\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+FTM=146"), "\r\nERROR\r\n");
  EXPECT_EQ(modem.Command("AT+FRM=97"), "\r\nERROR\r\n");
}

TEST(LinesimCommands, PhoneModemAnswersMakerAndMessageIndications) {
  Linesim sim({"--phone"});
  PtyClient modem(sim.Pty(1));
  ASSERT_TRUE(modem.ok()) << sim.Stderr();
  modem.Command("ATE0");
  EXPECT_EQ(modem.Command("AT+CGMI"), "\r\nVexo Linesim Mobile\r\n\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+CNMI?"), "\r\n+CNMI: 2,1,0,0,0\r\n\r\nOK\r\n");
  EXPECT_EQ(modem.Command("AT+CNMI=2,1,0,0,0"), "\r\nOK\r\n");
}

TEST(LinesimCommands, RefusesBadOptions) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"--speed", "0"},
                                             {"--modulations", "24,50"},
                                             {"--fclass-list", "2"},
                                             {"--busy", "--no-answer"},
                                             {"--noise", "loud"},
                                             {"--noise", "30", "--signal-noise", "20"},
                                             {"--far", "fax"},
                                             {"--call-in", "/nonexistent/page.tif"},
                                             {"--line-delay", "-1"},
                                             {"--frobnicate"}}) {
    TempDir dir;
    std::vector<std::string> argv = {LinesimPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess sim(argv, dir.path() / "log");
    EXPECT_EQ(sim.Wait(seconds(5)), 2) << args.front() << ": " << sim.Log();
  }
}

TEST(LinesimLine, BusyAndNoDialtoneAreReportedToTheDialler) {
  Linesim busy({"--busy"});
  Linesim silent({"--no-dialtone"});
  PtyClient busyModem(busy.Pty(1));
  PtyClient silentModem(silent.Pty(1));
  ASSERT_TRUE(busyModem.ok() && silentModem.ok());
  busyModem.Command("ATE0");
  silentModem.Command("ATE0");
  std::thread other([&] {
    EXPECT_EQ(silentModem.Command("ATDT5551234", milliseconds(10000)), "\r\nNO DIALTONE\r\n");
  });
  EXPECT_EQ(busyModem.Command("ATDT5551234", milliseconds(10000)), "\r\nBUSY\r\n");
  other.join();
  const auto report = busy.WaitForReport(seconds(2));
  ASSERT_TRUE(report);
  EXPECT_NE(report->find("busy"), std::string::npos) << *report;
  const auto silentReport = silent.WaitForReport(seconds(2));
  ASSERT_TRUE(silentReport);
  EXPECT_NE(silentReport->find("no dialtone"), std::string::npos) << *silentReport;
}

TEST(LinesimLine, DiallingOneModemRingsTheOther) {
  Linesim sim({"--far", "modem"});
  PtyClient caller(sim.Pty(1));
  PtyClient called(sim.Pty(2));
  ASSERT_TRUE(caller.ok() && called.ok()) << sim.Stderr();
  caller.Command("ATE0S7=3");
  called.Command("ATE0");
  // ATD returns nothing until the call is answered or given up.
  std::thread dial(
      [&] { EXPECT_EQ(caller.Command("ATD5550002", milliseconds(8000)), "\r\nNO ANSWER\r\n"); });
  EXPECT_NE(called.ReadFor(milliseconds(1500)).find("RING"), std::string::npos);
  dial.join();
  const auto report = sim.WaitForReport(seconds(2));
  ASSERT_TRUE(report);
  EXPECT_NE(report->find("modem 1 -> modem 2: no answer"), std::string::npos) << *report;
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
  for (int i = 0; i < 100 && once.running(); ++i) std::this_thread::sleep_for(milliseconds(20));
  EXPECT_FALSE(once.running());
}

}  // namespace
}  // namespace vexo::test
