// The Class 1 receive session against a scripted T.31 modem on a pty: T.30's
// recovery from damaged, lost and repeated frames in every phase, and the copy
// quality check that refuses a broken page (RTN) and repairs a few bad rows.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "document/tiff_oper.h"
#include "protocol/class1_func.h"
#include "protocol/class1_page_decoder.h"
#include "tests/protocol/class1_test_util.h"
#include "tests/protocol/g3_test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using namespace test;

const std::string kConnect = "\r\nCONNECT\r\n";
const std::string kOk = "\r\nOK\r\n";
const std::string kEnd = "\x10\x03\r\nNO CARRIER\r\n";

std::vector<std::uint8_t> FieldOf(const char* id) {
  const StationIdField field = FClass1Func::BuildStationIdField(id);
  return {field.begin(), field.end()};
}

// Rows of a page, most significant bit first, then RTC: 'w' all white, 'b'
// all black, 'x' a row of 64 pixels (a bad length), 'm' two white rows without
// the EOL between them.
std::vector<std::uint8_t> Rows(std::string_view kinds) {
  const std::string white = "01001101100110101";
  std::string bits;
  for (char kind : kinds)
    bits += "000000000001" + (kind == 'w'   ? white
                              : kind == 'b' ? "0011010100000011001010000110111"
                              : kind == 'm' ? white + white
                                            : "1101100110101");
  for (int i = 0; i < 6; ++i) bits += "000000000001";
  std::vector<std::uint8_t> out((bits.size() + 7) / 8);
  for (std::size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '1') out[i / 8] |= static_cast<std::uint8_t>(0x80u >> (i % 8));
  return out;
}

// The modem's side of a call at 9600 bit/s (V.29), one letter a step. After
// AT+FRH: T the TSI, D the DCS, d a damaged DCS, n NO CARRIER, M MPS, E EOP,
// e a damaged EOP, N DCN. After AT+FRM: G a good training check (CFR
// expected), B a bad one (FTT), p a page, x a broken page, f +FCERROR. Our
// frames after AT+FTH: m MCF, r RTN, c CRP; I our CSI and DIS.
void Script(PtyModem& modem, std::string_view steps) {
  const auto page = [](const char* kinds) {
    const std::vector<std::uint8_t> bytes = ModemBytes(Rows(kinds));
    return kConnect + std::string(bytes.begin(), bytes.end()) + kEnd;
  };
  CapabilityBytes dcs{};
  dcs[1] = capbit::kReceiverFax;
  SetRateBits(dcs, 0b1000);
  const std::string tcf(1800, '\0');
  const std::map<char, std::string> afterFrh = {
      {'T', ModemFrame(false, fcf::TSI, FieldOf("5551234"))},
      {'D', ModemFrame(true, fcf::DCS, OnLine(dcs))},
      {'d', ModemFrame(true, fcf::DCS, {}, "ERROR")},
      {'n', "\r\nNO CARRIER\r\n"},
      {'M', ModemFrame(true, fcf::MPS)},
      {'E', ModemFrame(true, fcf::EOP)},
      {'e', ModemFrame(true, fcf::EOP, {}, "ERROR")},
      {'N', ModemFrame(true, fcf::DCN)}};
  const std::map<char, std::string> afterFrm = {
      {'G', kConnect + tcf + kEnd},
      {'B', kConnect + std::string(600, '\0') + '\x01' + tcf + kEnd},
      {'p', page("wbwbwbwbwb")},
      {'x', page("wbxxxxxxxb")},
      {'f', "\r\n+FCERROR\r\n"}};
  const std::map<char, std::uint8_t> ours = {
      {'G', fcf::CFR}, {'B', fcf::FTT}, {'m', fcf::MCF}, {'r', fcf::RTN}, {'c', fcf::CRP}};
  for (char step : steps) {
    if (step == 'I')  // after the CONNECT of ATA or AT+FTH: our CSI, then our DIS
      modem.Expect(WrittenFrame(false, fcf::CSI, FieldOf("5550100")))
          .Send(kConnect)
          .Expect(std::string(1, static_cast<char>(fcf::DIS)))
          .Expect("\x10\x03")
          .Send(kOk);
    if (afterFrh.contains(step)) modem.Answer("AT+FRH=3\r", kConnect + afterFrh.at(step));
    if (afterFrm.contains(step)) modem.Answer("AT+FRM=96\r", afterFrm.at(step));
    if (ours.contains(step))
      modem.Answer("AT+FTH=3\r", kConnect).Expect(WrittenFrame(true, ours.at(step))).Send(kOk);
  }
}

class Class1ReceiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_rig.fax.SetTimeouts({.dcsPass = 150, .postPageMessage = 1500});
    m_rig.modem.Answer("AT+FRM=?\r", "\r\n24,48,72,96\r\n\r\nOK\r\n").Answer("ATA\r", kConnect);
    Script(m_rig.modem, "I");
  }
  int Receive() {
    EXPECT_TRUE(m_rig.Start());
    const int got = m_rig.fax.ReceiveFAXClass1(m_file, "5550100", &m_result);
    EXPECT_TRUE(m_rig.modem.Finish()) << m_rig.modem.Failure();
    return got;
  }

  test::TempDir m_dir;
  std::string m_file = (m_dir.path() / "QX000001.tif").string();
  test::Class1PtyRig m_rig;
  FaxResult m_result;
};

struct Recovery {
  const char* name;
  const char* steps;
  std::uint32_t pages;
};

class Class1ReceiveRecovers : public Class1ReceiveTest,
                              public ::testing::WithParamInterface<Recovery> {};

// Every call ends with each page in the file once, intact (no RTN pages), and
// no CAN sent to a modem in command state.
TEST_P(Class1ReceiveRecovers, AndKeepsEveryPageOnce) {
  Script(m_rig.modem, GetParam().steps);
  EXPECT_EQ(Receive(), kSessionDone) << ::testing::PrintToString(TakeMessages());
  EXPECT_EQ(m_rig.modem.IgnoredCans(), 0);
  EXPECT_EQ(m_result.pagesTransferred, GetParam().pages);
  EXPECT_EQ(m_result.RemoteId(), u"5551234");
  TiffOper file;
  ASSERT_EQ(file.OpenReadTiffHeader(m_file), 1);
  EXPECT_EQ(file.GetTotalPageNum(), static_cast<int>(GetParam().pages));
}

INSTANTIATE_TEST_SUITE_P(
    Class1Receive, Class1ReceiveRecovers,
    ::testing::Values(Recovery{"DamagedDcsIsAwaitedAgain", "TdTDGpEmN", 1},
                      Recovery{"NoCarrierInPhaseBIsAwaitedAgain", "nTDGpEmN", 1},
                      Recovery{"DamagedDcsAfterFttIsAwaitedAgain", "TDBdTDGpEmN", 1},
                      Recovery{"DamagedEopGetsCrp", "TDGpecEmN", 1},
                      Recovery{"MpsRepeatedAfterALostMcfIsAnsweredAgain", "TDGpMmfMmpEmN", 2},
                      Recovery{"DcsRepeatedAfterALostCfrIsTrainedAgain", "TDGfTDGpEmN", 1},
                      Recovery{"EopRepeatedAfterALostMcfIsAnsweredAgain", "TDGpEmEmN", 1},
                      Recovery{"BrokenPageIsRefusedAndComesAgain", "TDGxErTDGpEmN", 1},
                      Recovery{"APageMissedWholeGetsRtnAndComesAgain", "TDGfErfTDGpEmN", 1}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(Class1ReceiveTest, ACallerThatNeverSendsDcsGetsSixteenPasses) {
  m_rig.modem.Expect("AT+FRH=3\r");
  for (int pass = 1; pass < 16; ++pass) {
    m_rig.modem.Answer("\x18", kOk).Answer("AT+FTH=3\r", kConnect);
    Script(m_rig.modem, "I");
    m_rig.modem.Expect("AT+FRH=3\r");
  }
  m_rig.modem.Answer("\x18", kOk).Answer("ATH0\r", kOk);
  EXPECT_EQ(Receive(), kSessionFailed);
  EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Modem return ERROR result."});
}

TEST_F(Class1ReceiveTest, TheWrongCarrierTwentyOneTimesEndsTheCall) {
  Script(m_rig.modem, "TD" + std::string(21, 'f'));
  m_rig.modem.Answer("ATH0\r", kOk);
  EXPECT_EQ(Receive(), kSessionFailed);
  EXPECT_EQ(TakeMessages(), (std::vector<std::string>{
                                "Can not match Carrier in specific modulate speed.",
                                "Some unknown error happen in Class 1 TCF Receiving process."}));
}

// With error correction mode a DCS repeated because our CFR was lost (the
// caller's V.21 comes where its first partial page should) is trained again.
TEST(Class1ReceiveTraining, WithEcmADcsRepeatedAfterALostCfrIsTrainedAgain) {
  test::TempDir dir;
  Class1PtyRig rig;
  rig.fax.SetTimeouts({.dcsPass = 150, .postPageMessage = 300});
  rig.fax.SetCodingLimits(true, FaxCoding::kMmr);
  CapabilityBytes dcs{};
  dcs[1] = capbit::kReceiverFax;
  SetRateBits(dcs, 0b1000);
  dcs[2] = capbit::kExtend;
  dcs[3] = capbit::kEcm | capbit::kT6;
  const std::string dcsFrame = kConnect + ModemFrame(true, fcf::DCS, OnLine(dcs));
  rig.modem.Answer("AT+FRM=?\r", "\r\n24,48,72,96\r\n\r\nOK\r\n").Answer("ATA\r", kConnect);
  Script(rig.modem, "I");
  rig.modem.Answer("AT+FRH=3\r", dcsFrame);
  Script(rig.modem, "G");
  rig.modem.Answer("AT+FRM=96\r", "\r\n+FCERROR\r\n").Answer("AT+FRH=3\r", dcsFrame);
  Script(rig.modem, "G");
  rig.modem.Answer("AT+FRM=96\r", "\r\n+FCERROR\r\n")
      .Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcf::DCN))
      .Answer("ATH0\r", kOk);
  ASSERT_TRUE(rig.Start());
  EXPECT_EQ(rig.fax.ReceiveFAXClass1((dir.path() / "r.tif").string(), "5550100", nullptr),
            kSessionFailed);
  EXPECT_TRUE(rig.modem.Finish()) << rig.modem.Failure();
  TakeMessages();
}

// Copy quality: too many bad rows, or too long a run of them, refuse the
// page; a few are repaired so that every row of the kept page decodes.
TEST(Class1PageQuality, RefusesABrokenPageAndRepairsAFewBadRows) {
  const auto w = [](std::size_t n) { return std::string(n, 'w'); };
  const std::string spread = "xbxbxbxbxbxbxbxbxbxbxbxbxbxbxbxbxbxbxbxbxb";  // 21 bad
  const struct {
    std::string kinds;
    bool fine, accepted;
    std::uint32_t bad;
  } cases[] = {
      {w(400), false, true, 0},
      {"x" + w(100) + "xbx" + w(296), false, true, 3},
      {w(100) + "m" + w(299), false, true, 1},
      {w(389) + std::string(11, 'x'), false, false, 11},
      {w(389) + std::string(11, 'x'), true, true, 11},
      {w(358) + spread, true, false, 21},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kinds);
    ReceivedPage page{Rows(c.kinds), static_cast<std::uint32_t>(c.kinds.size()), true, false};
    const PageVerdict verdict = JudgePage(page, c.fine);
    EXPECT_EQ(verdict.accepted, c.accepted);
    EXPECT_EQ(verdict.badRows, c.bad);
    if (!verdict.accepted) continue;
    EXPECT_EQ(JudgePage(page, c.fine).badRows, 0u);
    EXPECT_TRUE(TakeMessages().empty());
  }
  ReceivedPage cut{Rows("wbwb"), 4, false, true};
  EXPECT_FALSE(JudgePage(cut, false).accepted);
}

}  // namespace
}  // namespace vexo
