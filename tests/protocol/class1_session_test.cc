// Class 1 calls against a scripted modem on a pty, for what the line simulator
// cannot make: RTN, silence after EOP, DCN or a repeated CSI in phase B, a
// damaged training check, a caller without DCS, the wrong carrier again and again.
#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/class1_func.h"
#include "tests/protocol/class1_test_util.h"
#include "tests/protocol/g3_test_pages.h"
#include "tests/protocol/pool_messages.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::ModemFrame;
using test::OnLine;
using test::TakeMessages;
using test::WrittenFrame;

constexpr const char* kAllCodes = "\r\n24,48,72,73,74,96,97,98,121,122,145,146\r\n\r\nOK\r\n";
const std::string kConnect = "\r\nCONNECT\r\n";
const std::string kOk = "\r\nOK\r\n";
const std::string kPageEnd("\x00\x08\x80\x00\x08\x80\x00\x08\x80\x10\x03", 11);

// Short waits, so that timeouts cost little.
const Class1Timeouts kShortTimeouts = [] {
  Class1Timeouts t;
  t.trainAnswer = t.dcsAfterFtt = t.postPageMessage = 1500;
  t.postPageAnswer = 400;
  t.dcsPass = 150;
  t.tcfNoCarrier = 1000;
  t.pageData = 3000;
  return t;
}();

std::vector<std::uint8_t> FieldOf(const char* id) {
  const StationIdField field = FClass1Func::BuildStationIdField(id);
  return {field.begin(), field.end()};
}
const std::vector<std::uint8_t> kFarId = FieldOf("+1 555 9999");

// The far end's DIS: fine, V.17 at 14400 bit/s, any scan time.
CapabilityBytes Dis() {
  CapabilityBytes dis{};
  dis[1] = capbit::kReceiverFax | capbit::kFine;
  SetRateBits(dis, 0b1101);
  dis[2] = capbit::kUnlimitedLength | (0b111 << capbit::kScanShift);
  return dis;
}

class Class1Send : public ::testing::Test {
 protected:
  void SetUp() override {
    m_file = (m_dir.path() / "fax.tif").string();
    ASSERT_TRUE(test::WriteFaxFile(m_file, {12, 12}, true));
    m_rig.fax.SetTimeouts(kShortTimeouts);
    m_rig.modem.Answer("AT+FTM=?\r", kAllCodes);  // first in every script
  }
  // The modem's side of a call. Dial answered: CSI, then DIS after AT+FRH.
  void AnswerWithCsiAndDis() {
    m_rig.modem.Answer("ATX4DT5551234\r", kConnect + ModemFrame(false, fcf::CSI, kFarId))
        .Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcf::DIS, OnLine(Dis())));
  }
  // TSI, DCS and the training check at 14400 bit/s.
  void TakeTraining() {
    m_rig.modem.Answer("AT+FTH=3\r", kConnect)
        .Expect(std::string(WrittenFrame(false, fcf::TSI, FieldOf("5550100"))))
        .Send(kConnect)
        .Expect(std::string(1, static_cast<char>(fcf::DCS)))
        .Expect("\x10\x03")
        .Send(kOk)
        .Answer("AT+FTM=145\r", kConnect)
        .Expect("\x10\x03")
        .Send(kOk);
  }
  void AnswerFrame(std::uint8_t fcfValue) {
    m_rig.modem.Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcfValue));
  }
  // One page at 14400 bit/s, then its post-page message.
  void TakePage(std::uint8_t message) {
    m_rig.modem.Answer("AT+FTM=146\r", kConnect)
        .Expect(kPageEnd)
        .Send(kOk)
        .Answer("AT+FTS=8\r", kOk)
        .Answer("AT+FTH=3\r", kConnect)
        .Expect(WrittenFrame(true, message))
        .Send(kOk);
  }
  void TakeDcn() {
    m_rig.modem.Answer("AT+FTH=3\r", kConnect).Expect(WrittenFrame(true, fcf::DCN)).Send(kOk);
  }
  int Send() {
    EXPECT_TRUE(m_rig.Start());
    const std::vector<std::string> files = {m_file};
    const int sent = m_rig.fax.SendFAXClass1(files, "5551234", "5550100", &m_resume, &m_result);
    EXPECT_TRUE(m_rig.modem.Finish()) << m_rig.modem.Failure();
    return sent;
  }

  test::TempDir m_dir;
  std::string m_file;
  test::Class1PtyRig m_rig;
  std::uint32_t m_resume = 0;
  FaxResult m_result;
};

// A refused page is not sent again; the call ends as a partial success with
// the refusal reported.
TEST_F(Class1Send, RtnBeforeTheLastPageIsAPartialSuccess) {
  AnswerWithCsiAndDis();
  TakeTraining();
  AnswerFrame(fcf::CFR);
  TakePage(fcf::MPS);
  AnswerFrame(fcf::RTN);
  TakePage(fcf::EOP);
  AnswerFrame(fcf::MCF);
  TakeDcn();
  EXPECT_EQ(Send(), kSessionPartly);
  EXPECT_EQ(m_result.pagesTransferred, 2u);
  EXPECT_EQ(m_resume, 0u);
  EXPECT_EQ(m_result.RemoteId(), u"+1 555 9999");
  EXPECT_EQ(TakeMessages(),
            std::vector<std::string>{"Page 1 was refused by the remote fax machine."});
}

// No answer at all to the EOP after the last page: the EOP is sent again on
// each attempt, and the call still succeeds without a report.
TEST_F(Class1Send, SilenceAfterTheLastEopIsStillASuccess) {
  ASSERT_TRUE(test::WriteFaxFile(m_file + "1", {12}, false));
  m_file += "1";
  AnswerWithCsiAndDis();
  TakeTraining();
  AnswerFrame(fcf::CFR);
  TakePage(fcf::EOP);
  for (int attempt = 0; attempt < 2; ++attempt) {
    m_rig.modem.Expect("AT+FRH=3\r")
        .Answer("\x18", kOk)
        .Answer("AT+FTH=3\r", kConnect)
        .Expect(WrittenFrame(true, fcf::EOP))
        .Send(kOk);
  }
  m_rig.modem.Expect("AT+FRH=3\r");
  TakeDcn();
  EXPECT_EQ(Send(), kSessionDone);
  EXPECT_EQ(m_result.pagesTransferred, 1u);
  EXPECT_EQ(test::CountOf(m_rig.modem.Received(), WrittenFrame(true, fcf::EOP)), 3u);
  EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(Class1Send, DcnInPhaseBAbortsTheCall) {
  m_rig.modem.Answer("ATX4DT5551234\r", kConnect + ModemFrame(true, fcf::DCN));
  TakeDcn();
  m_rig.modem.Answer("ATH0\r", kOk);
  EXPECT_EQ(Send(), kSessionFailed);
  EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Unspecified phase A error."});
}

// A remote that answers every training with its CSI and DIS again is given
// three DIS, then the call is abandoned with DCN.
TEST_F(Class1Send, ThreeDisWithoutTrainingAbandonTheCall) {
  AnswerWithCsiAndDis();
  for (int round = 0; round < 3; ++round) {
    TakeTraining();
    m_rig.modem.Answer("AT+FRH=3\r", kConnect + ModemFrame(false, fcf::CSI, kFarId));
    if (round < 2)
      m_rig.modem.Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcf::DIS, OnLine(Dis())));
  }
  TakeDcn();
  m_rig.modem.Answer("ATH0\r", kOk);
  EXPECT_EQ(Send(), kSessionFailed);
  EXPECT_EQ(test::CountOf(m_rig.modem.Received(), "AT+FTM=145\r"), 3u);
  EXPECT_EQ(m_result.pagesTransferred, 0u);
  TakeMessages();
}

class Class1Receive : public ::testing::Test {
 protected:
  void SetUp() override {
    m_rig.fax.SetTimeouts(kShortTimeouts);
    m_rig.modem.Answer("AT+FRM=?\r", kAllCodes).Answer("ATA\r", kConnect);
    ExpectCsiAndDis();
  }
  // After the CONNECT of ATA or AT+FTH: our CSI, then our DIS.
  void ExpectCsiAndDis() {
    m_rig.modem.Expect(WrittenFrame(false, fcf::CSI, FieldOf("5550100")))
        .Send(kConnect)
        .Expect(std::string(1, static_cast<char>(fcf::DIS)))
        .Expect("\x10\x03")
        .Send(kOk);
  }
  int Receive() {
    EXPECT_TRUE(m_rig.Start());
    const int got = m_rig.fax.ReceiveFAXClass1(m_file, "5550100", &m_result);
    EXPECT_TRUE(m_rig.modem.Finish()) << m_rig.modem.Failure();
    return got;
  }
  // The caller's TSI and DCS, in two receptions.
  void SendTsiAndDcs(std::uint8_t rate) {
    CapabilityBytes dcs{};
    dcs[1] = capbit::kReceiverFax;
    SetRateBits(dcs, rate);
    m_rig.modem.Answer("AT+FRH=3\r", kConnect + ModemFrame(false, fcf::TSI, FieldOf("5551234")))
        .Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcf::DCS, OnLine(dcs)));
  }
  static std::string Tcf(std::size_t bytes, bool burst) {
    std::string zeros(bytes, '\0');
    if (burst) {
      zeros[bytes / 3] = '\x01';
      zeros[2 * bytes / 3] = '\x01';
    }
    return kConnect + zeros + "\x10\x03\r\nNO CARRIER\r\n";
  }

  test::TempDir m_dir;
  std::string m_file = (m_dir.path() / "QX000001.tif").string();
  test::Class1PtyRig m_rig;
  FaxResult m_result;
};

// A training check whose zero run a burst of errors breaks is refused with FTT;
// the caller's lower rate is trained again and the page follows at it.
TEST_F(Class1Receive, ATcfWithABurstIsRefusedWithFtt) {
  const std::vector<std::uint8_t> page = test::ModemBytes(test::CodeRows(10));
  SendTsiAndDcs(0b1000);  // 9600, V.29
  m_rig.modem.Answer("AT+FRM=96\r", Tcf(1800, true))
      .Answer("AT+FTH=3\r", kConnect)
      .Expect(WrittenFrame(true, fcf::FTT))
      .Send(kOk);
  SendTsiAndDcs(0b0100);  // 4800
  m_rig.modem.Answer("AT+FRM=48\r", Tcf(900, false))
      .Answer("AT+FTH=3\r", kConnect)
      .Expect(WrittenFrame(true, fcf::CFR))
      .Send(kOk)
      .Answer("AT+FRM=48\r",
              kConnect + std::string(page.begin(), page.end()) + "\x10\x03\r\nNO CARRIER\r\n")
      .Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcf::EOP))
      .Answer("AT+FTH=3\r", kConnect)
      .Expect(WrittenFrame(true, fcf::MCF))
      .Send(kOk);
  EXPECT_EQ(Receive(), kSessionDone) << ::testing::PrintToString(TakeMessages());
  EXPECT_EQ(m_result.pagesTransferred, 1u);
  EXPECT_EQ(m_result.RemoteId(), u"5551234");
  EXPECT_EQ(m_result.resolution, kResultResolutionNormal);
}

TEST_F(Class1Receive, ACallerThatNeverSendsDcsGetsSixteenPasses) {
  m_rig.modem.Expect("AT+FRH=3\r");
  for (int pass = 1; pass < 16; ++pass) {
    m_rig.modem.Answer("\x18", kOk).Answer("AT+FTH=3\r", kConnect);
    ExpectCsiAndDis();
    m_rig.modem.Expect("AT+FRH=3\r");
  }
  m_rig.modem.Answer("\x18", kOk).Answer("ATH0\r", kOk);
  EXPECT_EQ(Receive(), kSessionFailed);
  EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Modem return ERROR result."});
}

TEST_F(Class1Receive, TheWrongCarrierTwentyOneTimesEndsTheCall) {
  SendTsiAndDcs(0b1000);
  for (int n = 0; n < 21; ++n) m_rig.modem.Answer("AT+FRM=96\r", "\r\n+FCERROR\r\n");
  m_rig.modem.Answer("ATH0\r", kOk);
  EXPECT_EQ(Receive(), kSessionFailed);
  EXPECT_EQ(TakeMessages(), (std::vector<std::string>{
                                "Can not match Carrier in specific modulate speed.",
                                "Some unknown error happen in Class 1 TCF Receiving process."}));
}

}  // namespace
}  // namespace vexo
