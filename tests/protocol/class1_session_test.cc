// Class 1 calls against a scripted modem on a pty, for what the line
// simulator cannot make: RTN, silence after EOP, DCN or a repeated CSI in
// phase B, FTT and fallback, a training check with a burst of errors, a caller
// that never sends DCS, a modem that keeps reporting the wrong carrier.
#include <gtest/gtest.h>

#include <algorithm>

#include "document/tiff_oper.h"
#include "protocol/class1_func.h"
#include "tests/protocol/class1_test_util.h"
#include "tests/protocol/g3_test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::ModemFrame;
using test::OnLine;
using test::TakeClass1Messages;
using test::WrittenFrame;

constexpr const char* kAllCodes = "\r\n24,48,72,73,74,96,97,98,121,122,145,146\r\n\r\nOK\r\n";
constexpr const char* kV29Codes = "\r\n24,48,72,96\r\n\r\nOK\r\n";
const std::string kConnect = "\r\nCONNECT\r\n";
const std::string kOk = "\r\nOK\r\n";
const std::string kPageEnd("\x00\x08\x80\x00\x08\x80\x00\x08\x80\x10\x03", 11);

// Short waits, so that timeouts cost little.
Class1Timeouts ShortTimeouts() {
  Class1Timeouts t;
  t.trainAnswer = 1500;
  t.postPageAnswer = 400;
  t.dcsPass = 150;
  t.dcsAfterFtt = 1500;
  t.postPageMessage = 1500;
  t.tcfNoCarrier = 1000;
  t.pageData = 3000;
  return t;
}

std::vector<std::uint8_t> FieldOf(const char* id) {
  const StationIdField field = FClass1Func::BuildStationIdField(id);
  return {field.begin(), field.end()};
}

CapabilityBytes Dis(std::uint8_t rate) {
  CapabilityBytes dis{};
  dis[1] = capbit::kReceiverFax | capbit::kFine;
  SetRateBits(dis, rate);
  dis[2] = capbit::kUnlimitedLength | (0b111 << capbit::kScanShift);
  return dis;
}

CapabilityBytes Dcs(std::uint8_t rate) {
  CapabilityBytes dcs{};
  dcs[1] = capbit::kReceiverFax;
  SetRateBits(dcs, rate);
  return dcs;
}

// The modem's side of the steps of a call, added to a script.
struct Script {
  test::PtyModem& m;

  // Dial answered: CSI, then the DIS after the program's AT+FRH.
  void AnswerWithCsiAndDis(std::uint8_t disRate = 0b1101) {
    m.Answer("ATX4DT5551234\r", kConnect + ModemFrame(false, fcf::CSI, FieldOf("+1 555 9999")))
        .Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcf::DIS, OnLine(Dis(disRate))));
  }
  // TSI, DCS and the training check at the given long-training code.
  void TakeTraining(const char* tcfCode) {
    m.Answer("AT+FTH=3\r", kConnect)
        .Expect(std::string(WrittenFrame(false, fcf::TSI, FieldOf("5550100"))))
        .Send(kConnect)
        .Expect(std::string(1, static_cast<char>(fcf::DCS)))
        .Expect("\x10\x03")
        .Send(kOk)
        .Answer(std::string("AT+FTM=") + tcfCode + "\r", kConnect)
        .Expect("\x10\x03")
        .Send(kOk);
  }
  void AnswerFrame(std::uint8_t fcfValue) {
    m.Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcfValue));
  }
  // One page at the short-training code, then its post-page message.
  void TakePage(const char* code, std::uint8_t message) {
    m.Answer(std::string("AT+FTM=") + code + "\r", kConnect)
        .Expect(kPageEnd)
        .Send(kOk)
        .Answer("AT+FTS=8\r", kOk)
        .Answer("AT+FTH=3\r", kConnect)
        .Expect(WrittenFrame(true, message))
        .Send(kOk);
  }
  void TakeDcn() {
    m.Answer("AT+FTH=3\r", kConnect).Expect(WrittenFrame(true, fcf::DCN)).Send(kOk);
  }
};

class Class1Send : public ::testing::Test {
 protected:
  void SetUp() override {
    m_file = (m_dir.path() / "fax.tif").string();
    ASSERT_TRUE(test::WriteFaxFile(m_file, {12, 12}, true));
    m_rig.fax.SetTimeouts(ShortTimeouts());
  }
  // The modem's answer to the modulation query comes first in every script.
  void Query(const char* codes = kAllCodes) { m_rig.modem.Answer("AT+FTM=?\r", codes); }
  int Send() {
    EXPECT_TRUE(m_rig.Start());
    const std::vector<std::string> files = {m_file};
    const int sent = m_rig.fax.SendFAXClass1(files, "5551234", "5550100", &m_resume, &m_result);
    EXPECT_TRUE(m_rig.modem.Finish()) << m_rig.modem.Failure();
    return sent;
  }
  std::size_t Count(const std::string& text) const {
    const std::string all = m_rig.modem.Received();
    std::size_t n = 0;
    for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
    return n;
  }

  test::TempDir m_dir;
  std::string m_file;
  test::Class1PtyRig m_rig;
  Script m_script{m_rig.modem};
  std::uint32_t m_resume = 0;
  FaxResult m_result;
};

// A refused page is not sent again; the call ends as a partial success with
// the refusal reported.
TEST_F(Class1Send, RtnBeforeTheLastPageIsAPartialSuccess) {
  Query();
  m_script.AnswerWithCsiAndDis();
  m_script.TakeTraining("145");
  m_script.AnswerFrame(fcf::CFR);
  m_script.TakePage("146", fcf::MPS);
  m_script.AnswerFrame(fcf::RTN);
  m_script.TakePage("146", fcf::EOP);
  m_script.AnswerFrame(fcf::MCF);
  m_script.TakeDcn();
  EXPECT_EQ(Send(), kSessionPartly);
  EXPECT_EQ(m_result.pagesTransferred, 2u);
  EXPECT_EQ(m_resume, 0u);
  EXPECT_EQ(m_result.RemoteId(), u"+1 555 9999");
  EXPECT_EQ(TakeClass1Messages(),
            std::vector<std::string>{"Page 1 was refused by the remote fax machine."});
}

// No answer at all to the EOP after the last page: the EOP is sent again on
// each attempt, and the call still succeeds without a report.
TEST_F(Class1Send, SilenceAfterTheLastEopIsStillASuccess) {
  ASSERT_TRUE(test::WriteFaxFile(m_file + "1", {12}, false));
  m_file += "1";
  Query();
  m_script.AnswerWithCsiAndDis();
  m_script.TakeTraining("145");
  m_script.AnswerFrame(fcf::CFR);
  m_script.TakePage("146", fcf::EOP);
  for (int attempt = 0; attempt < 2; ++attempt) {
    m_rig.modem.Expect("AT+FRH=3\r")
        .Answer("\x18", kOk)
        .Answer("AT+FTH=3\r", kConnect)
        .Expect(WrittenFrame(true, fcf::EOP))
        .Send(kOk);
  }
  m_rig.modem.Expect("AT+FRH=3\r");
  m_script.TakeDcn();
  EXPECT_EQ(Send(), kSessionDone);
  EXPECT_EQ(m_result.pagesTransferred, 1u);
  EXPECT_EQ(Count(WrittenFrame(true, fcf::EOP)), 3u);
  EXPECT_TRUE(TakeClass1Messages().empty());
}

TEST_F(Class1Send, DcnInPhaseBAbortsTheCall) {
  Query();
  m_rig.modem.Answer("ATX4DT5551234\r", kConnect + ModemFrame(true, fcf::DCN));
  m_script.TakeDcn();
  m_rig.modem.Answer("ATH0\r", kOk);
  EXPECT_EQ(Send(), kSessionFailed);
  EXPECT_EQ(TakeClass1Messages(), std::vector<std::string>{"Unspecified phase A error."});
}

// A remote that answers every training with its CSI and DIS again is given
// three DIS, then the call is abandoned with DCN.
TEST_F(Class1Send, ThreeDisWithoutTrainingAbandonTheCall) {
  Query();
  m_script.AnswerWithCsiAndDis();
  for (int round = 0; round < 3; ++round) {
    m_script.TakeTraining("145");
    m_rig.modem.Answer("AT+FRH=3\r",
                       kConnect + ModemFrame(false, fcf::CSI, FieldOf("+1 555 9999")));
    if (round < 2)
      m_rig.modem.Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcf::DIS, OnLine(Dis(0b1101))));
  }
  m_script.TakeDcn();
  m_rig.modem.Answer("ATH0\r", kOk);
  EXPECT_EQ(Send(), kSessionFailed);
  EXPECT_EQ(Count("AT+FTM=145\r"), 3u);
  EXPECT_EQ(m_result.pagesTransferred, 0u);
  TakeClass1Messages();
}

// FTT twice at 9600: the first repeats the training at 9600, the second
// falls back to 7200, where the pages then go.
TEST_F(Class1Send, TwoFttsFallBackToTheNextRate) {
  Query(kV29Codes);
  ASSERT_TRUE(test::WriteFaxFile(m_file + "1", {12}, false));
  m_file += "1";
  m_script.AnswerWithCsiAndDis();
  m_script.TakeTraining("96");
  m_script.AnswerFrame(fcf::FTT);
  m_script.TakeTraining("96");
  m_script.AnswerFrame(fcf::FTT);
  m_script.TakeTraining("72");
  m_script.AnswerFrame(fcf::CFR);
  m_script.TakePage("72", fcf::EOP);
  m_script.AnswerFrame(fcf::MCF);
  m_script.TakeDcn();
  EXPECT_EQ(Send(), kSessionDone);
  EXPECT_EQ(Count("AT+FTM=96\r"), 2u);
  EXPECT_TRUE(TakeClass1Messages().empty());
}

class Class1Receive : public ::testing::Test {
 protected:
  void SetUp() override {
    m_rig.fax.SetTimeouts(ShortTimeouts());
    m_rig.modem.Answer("AT+FRM=?\r", kAllCodes)
        .Answer("ATA\r", kConnect)
        .Expect(WrittenFrame(false, fcf::CSI, FieldOf("5550100")))
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
    m_rig.modem.Answer("AT+FRH=3\r", kConnect + ModemFrame(false, fcf::TSI, FieldOf("5551234")))
        .Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcf::DCS, OnLine(Dcs(rate))));
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

// A training check of the right length whose zero run a burst of errors
// breaks is refused with FTT; the caller's lower rate is trained again and
// the page follows at it.
TEST_F(Class1Receive, ATcfWithABurstIsRefusedWithFtt) {
  SendTsiAndDcs(0b1000);  // 9600, V.29
  m_rig.modem.Answer("AT+FRM=96\r", Tcf(1800, true))
      .Answer("AT+FTH=3\r", kConnect)
      .Expect(WrittenFrame(true, fcf::FTT))
      .Send(kOk);
  SendTsiAndDcs(0b0100);  // 4800
  const std::vector<std::uint8_t> page = test::ModemBytes(test::CodeRows(10));
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
  EXPECT_EQ(Receive(), kSessionDone) << ::testing::PrintToString(TakeClass1Messages());
  EXPECT_EQ(m_result.pagesTransferred, 1u);
  EXPECT_EQ(m_result.RemoteId(), u"5551234");
  EXPECT_EQ(m_result.resolution, kResultResolutionNormal);
  TiffOper tiff;
  ASSERT_EQ(tiff.OpenReadTiffHeader(m_file), 1);
  EXPECT_EQ(tiff.GetTotalPageNum(), 1);
  ASSERT_EQ(tiff.ReadTags(), 1);
  EXPECT_EQ(tiff.PageInfo().length, 10u);
}

// EOM ends a document, not the call: phase B runs again (CSI and DIS sent
// with their own command) and the next document's page lands in the same file.
TEST_F(Class1Receive, AfterEomTheNextDocumentIsReceivedIntoTheSameFile) {
  const std::vector<std::uint8_t> page = test::ModemBytes(test::CodeRows(10));
  const std::string pageData =
      kConnect + std::string(page.begin(), page.end()) + "\x10\x03\r\nNO CARRIER\r\n";
  for (const std::uint8_t message : {fcf::EOM, fcf::EOP}) {
    SendTsiAndDcs(0b0100);  // 4800
    m_rig.modem.Answer("AT+FRM=48\r", Tcf(900, false))
        .Answer("AT+FTH=3\r", kConnect)
        .Expect(WrittenFrame(true, fcf::CFR))
        .Send(kOk)
        .Answer("AT+FRM=48\r", pageData)
        .Answer("AT+FRH=3\r", kConnect + ModemFrame(true, message))
        .Answer("AT+FTH=3\r", kConnect)
        .Expect(WrittenFrame(true, fcf::MCF))
        .Send(kOk);
    if (message == fcf::EOM) {
      m_rig.modem.Answer("AT+FTH=3\r", kConnect)
          .Expect(WrittenFrame(false, fcf::CSI, FieldOf("5550100")))
          .Send(kConnect)
          .Expect(std::string(1, static_cast<char>(fcf::DIS)))
          .Expect("\x10\x03")
          .Send(kOk);
    }
  }
  EXPECT_EQ(Receive(), kSessionDone) << ::testing::PrintToString(TakeClass1Messages());
  EXPECT_EQ(m_result.pagesTransferred, 2u);
  TiffOper tiff;
  ASSERT_EQ(tiff.OpenReadTiffHeader(m_file), 1);
  EXPECT_EQ(tiff.GetTotalPageNum(), 2);
}

TEST_F(Class1Receive, ACallerThatNeverSendsDcsGetsSixteenPasses) {
  m_rig.modem.Expect("AT+FRH=3\r");
  for (int pass = 1; pass < 16; ++pass)
    m_rig.modem.Answer("\x18", kOk)
        .Answer("AT+FTH=3\r", kConnect)
        .Expect(WrittenFrame(false, fcf::CSI, FieldOf("5550100")))
        .Send(kConnect)
        .Expect(std::string(1, static_cast<char>(fcf::DIS)))
        .Expect("\x10\x03")
        .Send(kOk)
        .Expect("AT+FRH=3\r");
  m_rig.modem.Answer("\x18", kOk).Answer("ATH0\r", kOk);
  EXPECT_EQ(Receive(), kSessionFailed);
  EXPECT_EQ(TakeClass1Messages(), std::vector<std::string>{"Modem return ERROR result."});
}

TEST_F(Class1Receive, TheWrongCarrierTwentyOneTimesEndsTheCall) {
  SendTsiAndDcs(0b1000);
  for (int n = 0; n < 21; ++n) m_rig.modem.Answer("AT+FRM=96\r", "\r\n+FCERROR\r\n");
  m_rig.modem.Answer("ATH0\r", kOk);
  EXPECT_EQ(Receive(), kSessionFailed);
  EXPECT_EQ(
      TakeClass1Messages(),
      (std::vector<std::string>{"Can not match Carrier in specific modulate speed.",
                                "Some unknown error happen in Class 1 TCF Receiving process."}));
}

}  // namespace
}  // namespace vexo
