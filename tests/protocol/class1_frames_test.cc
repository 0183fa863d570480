// Class 1 frames on a real pty with a scripted modem: what the program writes
// for a frame, how frames and lines are read back (stuffed DLEs, frames cut by
// the end of a read), the retry rule of GetFrame and the result waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "protocol/class1_func.h"
#include "tests/protocol/class1_test_util.h"

namespace vexo {
namespace {

using test::ModemFrame;
using test::TakeMessages;
using test::WrittenFrame;

// An ERROR instead of CONNECT fails a frame; TSI and DCS then go out stuffed
// and reversed.
TEST(Class1Frames, FramesGoOutStuffedAndReversedUnlessTheModemRefuses) {
  test::Class1PtyRig rig;
  const StationIdField tsi = FClass1Func::BuildStationIdField("5551234");
  const CapabilityBytes dcs = {0x00, 0x50, 0x08};  // a DLE after bit reversal: 0x08 -> 0x10
  rig.modem.Answer("AT+FTH=3\r", "\r\nERROR\r\n")
      .Answer("AT+FTH=3\r", "\r\nCONNECT\r\n")
      .Expect(WrittenFrame(false, fcf::TSI, {tsi.begin(), tsi.end()}))
      .Send("\r\nCONNECT\r\n")
      .Expect(WrittenFrame(true, fcf::DCS, test::OnLine(dcs)))
      .Send("\r\nOK\r\n");
  ASSERT_TRUE(rig.Start());
  EXPECT_EQ(rig.fax.SendFrame("AT+FTH=%s", "3", true, fcf::DCN, {}, false), 0);
  EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Modem return ERROR result."});
  ASSERT_EQ(rig.fax.SendFrame("AT+FTH=%s", "3", false, fcf::TSI, tsi, false), 1);
  ASSERT_EQ(rig.fax.SendNextFrame(true, fcf::DCS, CapabilityField(dcs), true), 1);
  EXPECT_TRUE(rig.modem.Finish()) << rig.modem.Failure();
  EXPECT_NE(rig.modem.Received().find("\x10\x10"), std::string::npos);
  EXPECT_TRUE(TakeMessages().empty());
}

TEST(Class1Frames, FramesAndLinesAreReadBack) {
  test::Class1PtyRig rig;
  // CSI then DIS, the DIS cut in three reads; the identifier holds stuffed DLEs.
  const std::string dis = ModemFrame(true, fcf::DIS, {0x00, 0x10, 0x10, 0x30});
  rig.modem.Send("\r\nconnect\r\n" + ModemFrame(false, fcf::CSI, {'4', '3', '2', '1', ' '}))
      .Pause(400)
      .SendSplit(dis, 4, 300);
  ASSERT_TRUE(rig.Start());
  Class1Items items;
  ASSERT_GT(rig.fax.ReadFrameList(items, kFrameItemsMax, 3000, true), 0);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].text, "CONNECT");
  EXPECT_TRUE(items[1].Is(fcf::CSI));
  EXPECT_FALSE(items[1].Final());
  EXPECT_EQ(FClass1Func::DecodeStationId(items[1].Fif()), "1234");
  EXPECT_EQ(items[2].text, "OK");
  EXPECT_TRUE(FClass1Func::HasNonFinalFrame(items));

  ASSERT_GT(rig.fax.ReadFrameList(items, kFrameItemsMax, 5000, true), 0);
  ASSERT_FALSE(items.empty());
  ASSERT_TRUE(items[0].Is(fcf::DIS));
  EXPECT_TRUE(items[0].Final());
  const auto fif = items[0].Fif();
  // 10 10 10 10 on the line is two 0x10 bytes of data.
  EXPECT_EQ(std::vector<std::uint8_t>(fif.begin(), fif.end()),
            (std::vector<std::uint8_t>{0x00, 0x10, 0x10, 0x30}));
  EXPECT_FALSE(FClass1Func::HasNonFinalFrame(items));
  EXPECT_TRUE(rig.modem.Finish()) << rig.modem.Failure();
}

// A response that is damaged (ERROR, +FCERROR, NO CARRIER, a bad check sum),
// a CRP or silence gives a new attempt with the command sent again. The modem
// is in command state after a result word and ignores CAN there; only the
// silent reception is stopped with CAN.
TEST(Class1GetFrame, AFailedResponseRepeatsTheCommand) {
  struct Case {
    const char* name;
    std::string answer;  // empty: silence
    RepeatMode mode = RepeatMode::kAlways;
  };
  const std::string connect = "\r\nCONNECT\r\n";
  for (const Case& c : {Case{"ERROR", "\r\nERROR\r\n"}, Case{"+FCERROR", "\r\n+FCERROR\r\n"},
                        Case{"NO CARRIER", connect + "\r\nNO CARRIER\r\n"},
                        Case{"bad check sum", connect + ModemFrame(true, fcf::MCF, {}, "ERROR")},
                        Case{"CRP", connect + ModemFrame(true, fcf::CRP | 1), RepeatMode::kOnCrp},
                        Case{"silence", ""}}) {
    SCOPED_TRACE(c.name);
    test::Class1PtyRig rig;
    rig.modem.Answer("AT+FTH=3\r", connect)
        .Expect(WrittenFrame(true, fcf::EOP))
        .Send("\r\nOK\r\n")
        .Expect("AT+FRH=3\r");
    if (c.answer.empty()) rig.modem.Expect("\x18");
    rig.modem.Send(c.answer.empty() ? "\r\nOK\r\n" : c.answer);
    rig.modem.Answer("AT+FTH=3\r", connect)
        .Expect(WrittenFrame(true, fcf::EOP))
        .Send("\r\nOK\r\n")
        .Answer("AT+FRH=3\r", connect + ModemFrame(true, fcf::MCF));
    ASSERT_TRUE(rig.Start());
    ASSERT_EQ(rig.fax.SendFrame("AT+FTH=%s", "3", true, fcf::EOP, {}, false), 1);
    Class1Items items;
    ASSERT_EQ(rig.fax.GetFrame(items, kFrameItemsMax, 500, c.mode), 1);
    EXPECT_TRUE(std::any_of(items.begin(), items.end(),
                            [](const Class1Item& i) { return i.Is(fcf::MCF); }));
    EXPECT_TRUE(rig.modem.Finish()) << rig.modem.Failure();
    EXPECT_EQ(rig.modem.IgnoredCans(), 0);
    EXPECT_TRUE(TakeMessages().empty());
  }
}

// Without CRP and with repeat mode 0 nothing is sent again; a DCN with either
// X bit ends the wait at once.
TEST(Class1GetFrame, DcnEndsTheWait) {
  for (std::uint8_t dcn : {std::uint8_t{0xFA}, std::uint8_t{0xFB}}) {
    test::Class1PtyRig rig;
    rig.modem.Answer("AT+FRH=3\r", "\r\nCONNECT\r\n" + ModemFrame(true, dcn));
    ASSERT_TRUE(rig.Start());
    Class1Items items;
    EXPECT_EQ(rig.fax.GetFrame(items, kFrameItemsMax, 3000, RepeatMode::kAlways), 0);
    EXPECT_EQ(TakeMessages(),
              std::vector<std::string>{"Call answered without successful FAX handshake."});
  }
}

// A modem that ended the reception by itself answers CAN with nothing.
TEST(Class1GetFrame, ThreeSilentAttemptsAreATimeout) {
  test::Class1PtyRig rig;
  rig.modem.Expect("AT+FRH=3\r")
      .Answer("\x18", "\r\nOK\r\n")
      .Expect("AT+FRH=3\r")
      .Expect("\x18")
      .Expect("AT+FRH=3\r");
  ASSERT_TRUE(rig.Start());
  Class1Items items;
  EXPECT_EQ(rig.fax.GetFrame(items, kFrameItemsMax, 300, RepeatMode::kNever), 0);
  EXPECT_TRUE(rig.modem.Finish()) << rig.modem.Failure();
  EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Timeout waiting for modem response."});
}

// A word cut by the end of a read is completed by the next one.
TEST(Class1Responses, CutWordsErrorsNoCarrierAndSilence) {
  test::Class1PtyRig rig;
  rig.modem.Send("\r\nCONN").Pause(200).Send("ECT\r\n").Pause(300);
  rig.modem.Send("\r\n+FRH:3\r\nERROR\r\n").Pause(300).Send("\r\nNO CARRIER\r\n");
  ASSERT_TRUE(rig.Start());
  EXPECT_EQ(rig.fax.CheckCmdResponse2(3000, true), 1);
  EXPECT_EQ(rig.fax.CheckCmdResponse2(3000, true), 0);
  EXPECT_EQ(rig.fax.CheckCmdResponse1({"+FCERROR", "OK"}, 3000, true), 1);
  EXPECT_EQ(rig.fax.CheckCmdResponse1({"RING"}, 3000, true), 0);  // reads the NO CARRIER
  EXPECT_EQ(rig.fax.WaitNoCarrier(300, true), 0);
  EXPECT_EQ(TakeMessages(), (std::vector<std::string>{"Modem return ERROR result.",
                                                      "Modem return NO CARRIER result.",
                                                      "Wait modem OK response timeout."}));
}

// Lines that decide nothing cannot hold a wait past its deadline.
TEST(Class1Responses, UndecidedLinesDoNotExtendTheWait) {
  test::Class1PtyRig rig;
  rig.modem.Flood("\r\n+FRH:3\r\n", 1 << 30);
  ASSERT_TRUE(rig.Start());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(rig.fax.CheckCmdResponse2(500, true), 0);
  Class1Items items;
  EXPECT_GE(rig.fax.ReadFrameList(items, kFrameItemsMax, 500, true), 0);
  EXPECT_EQ(rig.fax.WaitNoCarrier(500, true), 0);
  rig.modem.Stop();
  // Generous: three half-second waits, never the flood's length.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  TakeMessages();
}

}  // namespace
}  // namespace vexo
