#include "modem/fax_comm_func.h"

#include <gtest/gtest.h>

#include <string>

#include "modem/byte_tables.h"
#include "tests/modem/modem_test_util.h"

namespace vexo {
namespace {

using test::TakeMessages;

TEST(FindToken, MatchesWithoutSteppingBack) {
  EXPECT_EQ(FaxCommFunc::FindToken("OK", "OK"), 0);
  EXPECT_EQ(FaxCommFunc::FindToken("xxOKxx", "OK"), 2);
  EXPECT_EQ(FaxCommFunc::FindToken("AAB", "AB"), 1);
  EXPECT_EQ(FaxCommFunc::FindToken("AAAB", "AAB"), -1);          // no step back
  EXPECT_EQ(FaxCommFunc::FindToken("\r\nCONN", "CONNECT"), -2);  // cut by the end of a read
  EXPECT_EQ(FaxCommFunc::FindToken("CONNECX", "CONNECT"), -1);
  EXPECT_EQ(FaxCommFunc::FindToken("", "OK"), -1);
  EXPECT_EQ(FaxCommFunc::FindToken("OK", ""), -1);
  EXPECT_EQ(FaxCommFunc::FindToken(nullptr, "OK"), -1);
  EXPECT_EQ(FaxCommFunc::FindToken("OK", nullptr), -1);
}

TEST(FindBytes, SearchesBuffersWithNuls) {
  const std::uint8_t data[] = {0x00, 0x10, 0x10, 0x03, 0xFF};
  const std::uint8_t dleEtx[] = {0x10, 0x03};
  EXPECT_EQ(FaxCommFunc::FindBytes(data, sizeof data, dleEtx, 2), 2);
  const std::uint8_t nulDle[] = {0x00, 0x10};
  EXPECT_EQ(FaxCommFunc::FindBytes(data, sizeof data, nulDle, 2), 0);
  const std::uint8_t tail[] = {0xFF, 0x00};
  EXPECT_EQ(FaxCommFunc::FindBytes(data, sizeof data, tail, 2), -1);  // never -2
  const auto* text = reinterpret_cast<const std::uint8_t*>("xxOKyy");
  EXPECT_EQ(FaxCommFunc::FindBytes(text, 6, reinterpret_cast<const std::uint8_t*>("OK"), 0), 2);
  EXPECT_EQ(FaxCommFunc::FindBytes(text, 0, text, 1), -1);
}

TEST(ParseFaxParams, FillsTheEightFields) {
  std::uint8_t f[8];
  ASSERT_EQ(FaxCommFunc::ParseFaxParams("+FDCS:1,3,0,2,0,0,0,0", f, nullptr), 1);
  EXPECT_EQ(std::vector<int>(f, f + 8), (std::vector<int>{1, 3, 0, 2, 0, 0, 0, 0}));
  ASSERT_EQ(FaxCommFunc::ParseFaxParams("+FDIS:(0,1),(0-5),(0-2),(0-2),(0-3),(0-2),(0),(0-7)", f,
                                        "+FDIS"),
            1);
  EXPECT_EQ(std::vector<int>(f, f + 8), (std::vector<int>{1, 5, 2, 2, 3, 2, 0, 0}));
  ASSERT_EQ(FaxCommFunc::ParseFaxParams("12,34,5,6,7,8,9,10,11", f, nullptr), 1);
  EXPECT_EQ(std::vector<int>(f, f + 8), (std::vector<int>{2, 4, 5, 6, 7, 8, 9, 1}));
  EXPECT_EQ(FaxCommFunc::ParseFaxParams("+FDCS:1,3", f, "+FDIS"), 0);
  EXPECT_EQ(FaxCommFunc::ParseFaxParams("OK", f, nullptr), 0);
  EXPECT_EQ(FaxCommFunc::ParseFaxParams("()", f, nullptr), 1);
}

TEST(QuotedValue, IsCutToTwentyCharactersAndTrimmed) {
  char v[21];
  FaxCommFunc::GetQuotedValue("+FTSI:\"  0123456789   \"", v);
  EXPECT_STREQ(v, "0123456789");
  FaxCommFunc::GetQuotedValue("+FCSI: \"12345678901234567890123\"", v);
  EXPECT_STREQ(v, "12345678901234567890");
  FaxCommFunc::GetQuotedValue("+FCIG: 555 1234  ", v);
  EXPECT_STREQ(v, "555 1234");
  FaxCommFunc::GetQuotedValue("no colon here", v);
  EXPECT_STREQ(v, "no colon here");
  FaxCommFunc::GetQuotedValue(
      "+FTSI:\"ab\x01"
      "cd\"",
      v);
  EXPECT_STREQ(v, "ab");
  FaxCommFunc::GetQuotedValue("+FTSI:ab\"cd", v);  // a quote only ends a quoted value
  EXPECT_STREQ(v, "ab\"cd");

  char16_t w[32];
  FaxCommFunc::GetQuotedValueW("+FTSI:\"Caf\xE9 1\"", w);  // 8-bit text in code page 1252
  EXPECT_EQ(std::u16string(w), u"Caf\u00E9 1");
}

TEST(NumberAfterColon, DecimalAndHexadecimal) {
  EXPECT_EQ(FaxCommFunc::ParseNumberAfterColon("+FHS:4A", true), 74);
  EXPECT_EQ(FaxCommFunc::ParseNumberAfterColon("+FHS:4A", false), 4);
  EXPECT_EQ(FaxCommFunc::ParseNumberAfterColon("+FHS:", true), -1);
  EXPECT_EQ(FaxCommFunc::ParseNumberAfterColon("+FHS: \t 12 rest", false), 12);
  EXPECT_EQ(FaxCommFunc::ParseNumberAfterColon("+FHS:xyz", false), -1);
  EXPECT_EQ(FaxCommFunc::ParseNumberAfterColon("+X:z", true), 35);
  EXPECT_EQ(FaxCommFunc::ParseNumberAfterColon("77", false), 77);
  const std::string huge = "+X:" + std::string(100, '9');
  EXPECT_GT(FaxCommFunc::ParseNumberAfterColon(huge.c_str(), false), 0);  // no overflow
}

TEST(SplitFirstLine, TakesTheFirstLineAndTheRest) {
  const std::string text = "\r\n\r\nCONNECT\r\n\r\nOK\r\n";
  LineSplit s{text.data(), text.size()};
  ASSERT_EQ(FaxCommFunc::SplitFirstLine(s), 1);
  EXPECT_EQ(std::string(s.line, s.lineLength), "CONNECT");
  EXPECT_EQ(std::string(s.rest, s.restLength), "OK\r\n");
  LineSplit last{s.rest, s.restLength};
  ASSERT_EQ(FaxCommFunc::SplitFirstLine(last), 1);
  EXPECT_EQ(std::string(last.line, last.lineLength), "OK");
  EXPECT_EQ(last.rest, nullptr);
  EXPECT_EQ(last.restLength, 0u);
  const std::string open = "NO CARRIER";
  LineSplit whole{open.data(), open.size()};
  ASSERT_EQ(FaxCommFunc::SplitFirstLine(whole), 1);
  EXPECT_EQ(whole.lineLength, open.size());
  const std::string empty = "\r\n\n\r";
  LineSplit none{empty.data(), empty.size()};
  EXPECT_EQ(FaxCommFunc::SplitFirstLine(none), 0);
  EXPECT_EQ(none.line, nullptr);
}

TEST(ByteTables, ReverseAndCountZeroBits) {
  EXPECT_EQ(kBitReverse[0x01], 0x80);
  EXPECT_EQ(kBitReverse[0x0F], 0xF0);
  EXPECT_EQ(kBitReverse[0xA5], 0xA5);
  EXPECT_EQ(kBitReverse[0x12], 0x48);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(kBitReverse[kBitReverse[i]], i);
  EXPECT_EQ(kLeadingZeroBits[0], 8);
  EXPECT_EQ(kLeadingZeroBits[0x80], 0);
  EXPECT_EQ(kLeadingZeroBits[0x01], 7);
  EXPECT_EQ(kTrailingZeroBits[0], 8);
  EXPECT_EQ(kTrailingZeroBits[0x01], 0);
  EXPECT_EQ(kTrailingZeroBits[0x80], 7);

  std::uint8_t bytes[] = {1, 2, 3, 4, 5};
  FaxCommFunc::ReverseBytes(bytes, 5);
  EXPECT_EQ(std::vector<int>(bytes, bytes + 5), (std::vector<int>{5, 4, 3, 2, 1}));
  FaxCommFunc::ReverseBits(bytes, 2);
  EXPECT_EQ(bytes[0], 0xA0);
  EXPECT_EQ(bytes[1], 0x20);
  FaxCommFunc::ReverseBytes(bytes, 0);
}

TEST(Pacing, ARateOfZeroNeverWaits) {
  FaxCommFunc f;
  f.StartPacing(0);
  EXPECT_EQ(f.PaceData(0, 1000), 1);
  EXPECT_EQ(f.PaceData(0, 1000), 1);
  f.StartPacing(1000000);  // 1000 bytes take 1 ms
  EXPECT_EQ(f.PaceData(0, 1000), 1);
  EXPECT_EQ(f.PaceData(5, 1000), 1);
}

// The exchange over the fake driver: a modem that answers each command.
struct ExchangeRig {
  test::FakePortRig rig;
  FaxCommFunc exchange;
  ExchangeRig() {
    EXPECT_TRUE(rig.OpenNamed());
    exchange.Attach(rig.port.get());
    rig.line->timeouts.ReadTotalTimeoutConstant = 0;
  }
};

TEST(MatchOKResult, SkipsEchoesAndDecidesOnTheFirstFinalResult) {
  ExchangeRig x;
  x.rig.line->input = {"AT+FCLASS=1\r\r\n", "+FCLASS: 1\r\nOK\r\n"};
  EXPECT_EQ(x.exchange.MatchOKResult(1000, true), 1);
  x.rig.line->input = {"\r\nERROR\r\nOK\r\n"};
  EXPECT_EQ(x.exchange.MatchOKResult(1000, true), 0);
  EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Modem return ERROR result."});
  x.rig.line->input = {"\r\nOK\r\nERROR\r\n"};
  EXPECT_EQ(x.exchange.MatchOKResult(1000, true), 1);
  x.rig.line->input = {"\r\nok\r\n"};
  EXPECT_EQ(x.exchange.MatchOKResult(1000, false), 1);
  EXPECT_EQ(x.exchange.MatchOKResult(50, true), -1);
  EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Wait modem OK response timeout."});
  EXPECT_EQ(x.exchange.MatchOKResult(50, false), -1);
  x.rig.line->Fail(FakeCall::Read, EIO);
  EXPECT_EQ(x.exchange.MatchOKResult(50, false), 0);
  EXPECT_TRUE(TakeMessages().empty());
}

TEST(WaitRings, CountsRingLinesUntilTheMinimumOrSilence) {
  ExchangeRig x;
  x.rig.line->input = {"\r\nRING\r\n", "\r\nRING\r\n\r\nRING\r\n", "\r\nRING\r\n"};
  EXPECT_EQ(x.exchange.WaitRings(1000, 2, true), 3);
  EXPECT_EQ(x.rig.line->input.size(), 1u);
  EXPECT_EQ(x.exchange.WaitRings(50, 5, true), 1);  // silence ends the wait
  x.rig.line->input = {"\r\n+CRING: FAX\r\n"};
  EXPECT_EQ(x.exchange.WaitRings(1000, 0, true), 0);  // minimum 0: one batch
  x.rig.line->Fail(FakeCall::Read, EIO);
  EXPECT_EQ(x.exchange.WaitRings(50, 1, false), -1);
  FaxCommFunc unattached;
  EXPECT_EQ(unattached.WaitRings(10, 1, false), -1);
  EXPECT_EQ(unattached.MatchOKResult(10, false), 0);
}

TEST(HangupModem, SendsTheFixedSequenceWhatEverTheModemSays) {
  ExchangeRig x;
  x.rig.line->onWrite = [](FakeLine& line, std::string_view command) {
    line.input.push_back(command == "ATH0\r" ? "\r\nERROR\r\n" : "\r\nOK\r\n");
  };
  EXPECT_EQ(x.exchange.HangupModem(), 1);
  EXPECT_EQ(x.rig.line->written, "AT\rATH0\rAT+FCLASS=0\rATZ\r");
  EXPECT_EQ(x.rig.line->CallCount(FakeCall::ClearCommBreak), 1u);
  EXPECT_EQ(x.rig.sleeps, std::vector<std::uint32_t>{20});
  EXPECT_TRUE(TakeMessages().empty());  // quiet throughout

  x.rig.line->written.clear();
  x.rig.line->Fail(FakeCall::Write, EIO, 10);
  EXPECT_EQ(x.exchange.HangupModem(), 0);
  EXPECT_EQ(x.rig.line->CallCount(FakeCall::Write), 5u);  // stopped at the first command
  TakeMessages();

  x.rig.port->CloseComPort(0);
  EXPECT_EQ(x.exchange.HangupModem(), 1);
}

}  // namespace
}  // namespace vexo

namespace vexo {
namespace {

TEST(FaxCommFuncHangupCodes, ReportsThroughTheSharedTable) {
  FaxCommFunc exchange;
  test::TakeErrors();
  EXPECT_EQ(exchange.ReportHangupCodeError("+FHNG:0", 2), 0);
  EXPECT_EQ(exchange.ReportHangupCodeError(nullptr, 2), 0);
  EXPECT_EQ(exchange.ReportHangupCodeError("+FHS:11", 20), 1);
  const auto errors = test::TakeErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(*errors[0].function, "ReportHangupCodeError");
}

}  // namespace
}  // namespace vexo
