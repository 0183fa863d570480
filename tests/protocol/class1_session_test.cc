// Class 1 calls against a scripted modem on a pty: the T.30 recovery of the
// sender (damaged and lost frames, RTN, RTP, silence after EOP), DCN or a
// repeated CSI in phase B. The receive session's are in class1_receive_test.cc.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "protocol/class1_func.h"
#include "protocol/hdlc_decoder.h"
#include "protocol/hdlc_fcs.h"
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
  // TSI, DCS and the training check (14400 bit/s: "145").
  void TakeTraining(const std::string& code = "145") {
    m_rig.modem.Answer("AT+FTH=3\r", kConnect)
        .Expect(std::string(WrittenFrame(false, fcf::TSI, FieldOf("5550100"))))
        .Send(kConnect)
        .Expect(std::string(1, static_cast<char>(fcf::DCS)))
        .Expect("\x10\x03")
        .Send(kOk)
        .Answer("AT+FTM=" + code + "\r", kConnect)
        .Expect("\x10\x03")
        .Send(kOk);
  }
  void AnswerFrame(std::uint8_t fcfValue) {
    m_rig.modem.Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcfValue));
  }
  // One page at a short-train code, then its post-page message.
  void TakePage(std::uint8_t message, const std::string& code = "146") {
    m_rig.modem.Answer("AT+FTM=" + code + "\r", kConnect)
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

// Each post-page answer, as the far end gives it to a two-page fax. A step:
// "T<code>" a new DCS and training at a long-train code, confirmed; "M" or
// "E" the page with MPS or EOP, then its answer: m MCF, p RTP, n RTN, s no
// answer to three tries (the modem still listening each time).
struct PostPageCase {
  const char* name;
  const char* steps;  // separated by blanks
  int session;
  std::uint32_t pages;
  std::uint32_t resume;
  const char* message;  // "" for none
};

class Class1PostPage : public Class1Send, public ::testing::WithParamInterface<PostPageCase> {};

TEST_P(Class1PostPage, AnswersRetrainResendOrEndTheCall) {
  const PostPageCase& c = GetParam();
  AnswerWithCsiAndDis();
  TakeTraining();
  AnswerFrame(fcf::CFR);
  std::string pageCode = "146";
  std::istringstream steps(c.steps);
  for (std::string step; steps >> step;) {
    if (step[0] == 'T') {
      TakeTraining(step.substr(1));
      AnswerFrame(fcf::CFR);
      pageCode = std::to_string(std::stoi(step.substr(1)) + 1);  // its short-train partner
      continue;
    }
    const std::uint8_t message = step[0] == 'M' ? fcf::MPS : fcf::EOP;
    TakePage(message, pageCode);
    if (step[1] != 's') {
      AnswerFrame(step[1] == 'm' ? fcf::MCF : step[1] == 'p' ? fcf::RTP : fcf::RTN);
      continue;
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
      if (attempt > 0)
        m_rig.modem.Answer("AT+FTH=3\r", kConnect).Expect(WrittenFrame(true, message)).Send(kOk);
      m_rig.modem.Expect("AT+FRH=3\r").Answer("\x18", kOk);
    }
  }
  TakeDcn();
  EXPECT_EQ(Send(), c.session);
  EXPECT_EQ(m_result.pagesTransferred, c.pages);
  EXPECT_EQ(m_resume, c.resume);
  EXPECT_EQ(TakeMessages(),
            *c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
}

// The second RTN at 14400 bit/s falls back to 12000; after two resends the
// call ends partly sent, resuming at the refused page.
INSTANTIATE_TEST_SUITE_P(
    Answers, Class1PostPage,
    ::testing::Values(
        PostPageCase{"RtnRetrainsAndResendsThePage", "Mn T145 Mm Em", kSessionDone, 2, 0, ""},
        PostPageCase{"ThirdRtnEndsThePartlySent", "Mn T145 Mn T121 Mn", kSessionPartly, 0,
                     ResumePosition::At(0, 0).Raw(),
                     "Page 1 was refused by the remote fax machine."},
        PostPageCase{"RtpRetrainsForTheNextPage", "Mp T145 Em", kSessionDone, 2, 0, ""},
        PostPageCase{"AnUnconfirmedEopLeavesThePageToResume", "Mm Es", kSessionPartly, 1,
                     ResumePosition::At(0, 1).Raw(), "Timeout waiting for modem response."}),
    [](const auto& param) { return std::string(param.param.name); });

// A damaged DIS after the answer is waited for again (a new AT+FRH); a DCS and
// training check left without answer, then answered with a damaged frame,
// go again until CFR.
TEST_F(Class1Send, DamagedOrMissingAnswersInPhaseBAreRepeated) {
  ASSERT_TRUE(test::WriteFaxFile(m_file + "1", {12}, false));
  m_file += "1";
  m_rig.modem.Answer("ATX4DT5551234\r", kConnect + ModemFrame(false, fcf::CSI, kFarId))
      .Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcf::DIS, {}, "ERROR"))
      .Answer("AT+FRH=3\r", kConnect + ModemFrame(false, fcf::CSI, kFarId))
      .Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcf::DIS, OnLine(Dis())));
  TakeTraining();
  m_rig.modem.Expect("AT+FRH=3\r").Answer("\x18", kOk);
  TakeTraining();
  m_rig.modem.Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcf::CFR, {}, "ERROR"));
  TakeTraining();
  AnswerFrame(fcf::CFR);
  TakePage(fcf::EOP);
  AnswerFrame(fcf::MCF);
  TakeDcn();
  EXPECT_EQ(Send(), kSessionDone);
  EXPECT_EQ(m_result.pagesTransferred, 1u);
  EXPECT_EQ(m_rig.modem.IgnoredCans(), 0);
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

// The far end's answers to the partial pages of a one-page fax in ECM, one
// letter per answer: m MCF, p PPR naming frame 1, r RNR (RR follows), c CTR
// to the CTC after a fourth PPR, e ERR to the EOR there, d a damaged frame
// (waited out with a silent AT+FRH, then the PPS again). blocks: the FCD
// frame numbers each transmission carried.
struct EcmCase {
  const char* name;
  const char* modemCodes;  // the answer to AT+FTM=?
  const char* answers;
  const char* blocks;
  int session;
  const char* message;  // "" for none
};

class Class1EcmSend : public Class1Send, public ::testing::WithParamInterface<EcmCase> {
 protected:
  void SetUp() override {
    m_file = (m_dir.path() / "ecm.tif").string();
    ASSERT_TRUE(test::WriteFaxFile(m_file, {100}, false));  // header and page: a few frames
    m_rig.fax.SetTimeouts(kShortTimeouts);
    m_rig.fax.SetCodingLimits(true, FaxCoding::kMh);
    m_rig.modem.Answer("AT+FTM=?\r", GetParam().modemCodes);
  }
  // The frame numbers of the FCD frames (full, FCS good) after each AT+FTM
  // whose data begins with flags.
  static std::string BlocksSent(const std::string& written) {
    std::string blocks;
    for (auto at = written.find("AT+FTM="); at != std::string::npos;
         at = written.find("AT+FTM=", at + 1)) {
      std::vector<std::uint8_t> data;
      for (std::size_t i = written.find('\r', at) + 1; i + 1 < written.size(); ++i) {
        if (written[i] == '\x10' && written[++i] == '\x03') break;
        data.push_back(static_cast<std::uint8_t>(written[i]));
      }
      if (data.empty() || data[0] != hdlc::kFlag) continue;
      blocks += blocks.empty() ? "" : " ";
      hdlc::HdlcDecoder decoder([&blocks](std::span<const std::uint8_t> frame, bool good) {
        if (good && frame.size() == 4 + 256 && frame[2] == fcf::FCD)
          blocks += std::to_string(frame[3]);
      });
      decoder.Feed(data);
    }
    return blocks;
  }
};

TEST_P(Class1EcmSend, PartialPagesAreResentAsTheFarEndAsks) {
  const EcmCase& c = GetParam();
  CapabilityBytes dis = Dis();
  dis[2] |= capbit::kExtend;
  dis[3] = capbit::kEcm;
  m_rig.modem.Answer("ATX4DT5551234\r", kConnect + ModemFrame(false, fcf::CSI, kFarId))
      .Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcf::DIS, OnLine(dis)));
  const bool slow = std::string(c.modemCodes).find("145") == std::string::npos;
  TakeTraining(slow ? "24" : "145");
  AnswerFrame(fcf::CFR);
  std::string code = slow ? "24" : "146";
  const std::string pps = test::FrameBody(true, fcf::PPS, {fcf::EOP, 0, 0});  // count follows
  std::vector<std::uint8_t> frameOne(32, 0);
  frameOne[0] = 0x02;
  CapabilityBytes twelveK{};  // the DCS rate bits CTC names
  SetRateBits(twelveK, kClass1Modulations[9].rateBits);
  const auto command = [this](std::uint8_t fcfValue, std::vector<std::uint8_t> fif = {}) {
    m_rig.modem.Answer("AT+FTH=3\r", kConnect).Expect(WrittenFrame(true, fcfValue, fif)).Send(kOk);
  };
  const auto block = [&] {
    m_rig.modem.Answer("AT+FTM=" + code + "\r", kConnect).Expect("\x10\x03").Send(kOk);
    m_rig.modem.Answer("AT+FTS=8\r", kOk);
    m_rig.modem.Answer("AT+FTH=3\r", kConnect).Expect(pps).Expect("\x10\x03").Send(kOk);
  };
  block();
  for (const char* answer = c.answers; *answer; ++answer) {
    switch (*answer) {
      case 'm':
        AnswerFrame(fcf::MCF);
        break;
      case 'p':
        m_rig.modem.Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcf::PPR, frameOne));
        if (answer[1] != 'c' && answer[1] != 'e') block();
        break;
      case 'r':
        AnswerFrame(fcf::RNR);
        command(fcf::RR);
        break;
      case 'c':
        command(fcf::CTC, {0, kBitReverse[twelveK[1]]});
        AnswerFrame(fcf::CTR);
        code = "121";  // 12000 bit/s, long training after CTC
        block();
        code = "122";
        break;
      case 'e':
        command(fcf::EOR, {fcf::EOP});
        AnswerFrame(fcf::ERR);
        break;
      case 'd':
        m_rig.modem.Answer("AT+FRH=3\r", kConnect + ModemFrame(true, fcf::PPR, {}, "ERROR"))
            .Expect("AT+FRH=3\r")
            .Answer("\x18", kOk);
        m_rig.modem.Answer("AT+FTH=3\r", kConnect).Expect(pps).Expect("\x10\x03").Send(kOk);
        break;
    }
  }
  TakeDcn();
  EXPECT_EQ(Send(), c.session);
  const std::string written = m_rig.modem.Received();
  std::string blocks = BlocksSent(written);
  const std::string all = blocks.substr(0, blocks.find(' '));  // "A" in c.blocks
  EXPECT_GT(all.size(), 2u);
  // Each PPS counts every frame of the partial page, also when fewer are resent.
  for (auto at = written.find(pps); at != std::string::npos; at = written.find(pps, at + 1))
    EXPECT_EQ(written[at + pps.size()] + 1u, all.size());
  EXPECT_EQ(blocks.replace(0, all.size(), "A"), c.blocks);
  EXPECT_EQ(m_result.pagesTransferred, c.session == kSessionDone ? 1u : 0u);
  EXPECT_EQ(TakeMessages(),
            *c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Answers, Class1EcmSend,
    ::testing::Values(
        EcmCase{"Mcf", kAllCodes, "m", "A", kSessionDone, ""},
        EcmCase{"PprResendsFrameOne", kAllCodes, "pm", "A 1", kSessionDone, ""},
        EcmCase{"FourthPprStepsDownWithCtc", kAllCodes, "ppppcm", "A 1 1 1 1", kSessionDone, ""},
        EcmCase{"RnrIsAskedWithRr", kAllCodes, "rrm", "A", kSessionDone, ""},
        EcmCase{"ADamagedAnswerIsWaitedOut", kAllCodes, "dm", "A", kSessionDone, ""},
        EcmCase{"FourthPprAtTheLowestSpeedEndsWithEor", "\r\n24\r\n\r\nOK\r\n", "ppppe", "A 1 1 1",
                kSessionPartly, "Page 1 was refused by the remote fax machine."}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace vexo
