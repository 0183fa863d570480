// The combined modem of --class auto, talked to over its pty: one modem that
// offers 0,1,2,2.0 and answers as the class last selected.
#include <gtest/gtest.h>

#include <string>

#include "tests/sim/sim_harness.h"

namespace vexo::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr const char* kModulations = "\r\n24,48,72,73,74,96,97,98,121,122,145,146\r\n\r\nOK\r\n";
constexpr const char* kRanges = "\r\n(0,1),(0-5),(0-2),(0-2),(0,1),0,0,(0-7)\r\n\r\nOK\r\n";

TEST(LinesimCombined, OffersEveryClassAndAnswersAsTheOneSelected) {
  Linesim sim({"--class", "auto", "--far-id", "FAR"});
  {
    PtyClient modem(sim.Pty(1));
    ASSERT_TRUE(modem.ok()) << sim.Stderr();
    EXPECT_EQ(modem.Command("ATE0"), "ATE0\r\r\nOK\r\n");
    EXPECT_EQ(modem.Command("AT+FCLASS=?"), "\r\n0,1,2,2.0\r\n\r\nOK\r\n");
    EXPECT_EQ(modem.Command("AT+FCLASS=1.0"), "\r\nERROR\r\n");
    // Class 2.0 takes the whole line, with the echo setting, and answers it once.
    EXPECT_EQ(modem.Command("AT+FCLASS=2.0;+FCLASS?;+FCC=?"), std::string("\r\n2.0\r\n") + kRanges);
    EXPECT_EQ(modem.Command("AT+FBO?"), "\r\n0\r\n\r\nOK\r\n");
    EXPECT_EQ(modem.Command("AT+FCLASS=?"), "\r\n0,1,2,2.0\r\n\r\nOK\r\n");
    // Class 2 from 2.0: its own words, not 2.0's.
    EXPECT_EQ(modem.Command("AT+FCLASS=2;+FDCC=?"), kRanges);
    EXPECT_EQ(modem.Command("AT+FBO?"), "\r\nERROR\r\n");
    // A call in Class 2 meets the protocol-level far end.
    EXPECT_EQ(modem.Command("ATD555", milliseconds(5000)),
              "\r\n+FCON\r\n\r\n+FCSI:\"FAR\"\r\n\r\n+FDIS:1,5,0,2,0,0,0,0\r\n\r\nOK\r\n");
    EXPECT_EQ(modem.Command("AT+FK"), "\r\n+FHNG:2\r\n\r\nOK\r\n");
    const auto first = sim.WaitForReport(seconds(5));
    ASSERT_TRUE(first) << sim.Stderr();
    EXPECT_NE(first->find("call 1 out"), std::string::npos) << *first;
    // Back to Class 1: spandsp's modem answers again, and a call there runs
    // over the audio line to the far terminal, which greets with its frames.
    EXPECT_EQ(modem.Command("AT+FCLASS=1;+FCLASS?"), "\r\n1\r\n\r\nOK\r\n");
    EXPECT_EQ(modem.Command("AT+FTM=?"), kModulations);
    EXPECT_EQ(modem.Command("ATD555", milliseconds(10000)), "\r\nCONNECT\r\n");
    modem.ReadFor(milliseconds(300));
  }
  const auto second = sim.WaitForReport(seconds(10));
  ASSERT_TRUE(second) << sim.Stderr();
  EXPECT_NE(second->find("call 2 out"), std::string::npos) << *second;
  // Closing the port reset the modem: class 0, echo on, Class 1 answering.
  PtyClient again(sim.Pty(1));
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again.Command("AT+FCLASS?"), "AT+FCLASS?\r\r\n0\r\n\r\nOK\r\n");
  EXPECT_EQ(again.Command("ATE0+FTM=?"), std::string("ATE0+FTM=?\r") + kModulations);
}

}  // namespace
}  // namespace vexo::test
