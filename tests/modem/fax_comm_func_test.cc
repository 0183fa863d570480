// The command exchange: token search, final results, the fax parameter and
// value parsers, OK and ring waits, hanging up, and the hangup codes' reports.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "base/error_pool.h"
#include "modem/fax_comm_func.h"
#include "modem/final_results.h"
#include "modem/hangup_codes.h"
#include "modem/result_lines.h"
#include "tests/modem/modem_test_util.h"

namespace vexo {
namespace {

using test::TakeMessages;

TEST(FindToken, MatchesTextAndBytesWithoutSteppingBack) {
  EXPECT_EQ(FaxCommFunc::FindToken("xxOKxx", "OK"), 2);
  EXPECT_EQ(FaxCommFunc::FindToken("AAAB", "AAB"), -1);          // no step back
  EXPECT_EQ(FaxCommFunc::FindToken("\r\nCONN", "CONNECT"), -2);  // cut by the end of a read
  EXPECT_EQ(FaxCommFunc::FindToken(nullptr, "OK"), -1);
  // The same over bytes with NULs, never -2.
  const std::uint8_t data[] = {0x00, 0x10, 0x10, 0x03, 0xFF};
  const std::uint8_t dleEtx[] = {0x10, 0x03};
  EXPECT_EQ(FaxCommFunc::FindBytes(data, sizeof data, dleEtx, 2), 2);
  const std::uint8_t tail[] = {0xFF, 0x00};
  EXPECT_EQ(FaxCommFunc::FindBytes(data, sizeof data, tail, 2), -1);  // never -2
}

TEST(SplitFirstLine, SkipsLineEndsAndHandsOnTheRest) {
  struct Case {
    const char* text;
    const char* line;  // nullptr: no line
    const char* rest;  // nullptr: no rest
  };
  for (const Case& c : {Case{"\r\nOK\r\n+FHS:00", "OK", "+FHS:00"}, Case{"OK", "OK", nullptr},
                        Case{"\r\n\r\n", nullptr, nullptr}, Case{"A\rB\n", "A", "B\n"}}) {
    SCOPED_TRACE(c.text);
    LineSplit s{c.text, std::strlen(c.text)};
    ASSERT_EQ(FaxCommFunc::SplitFirstLine(s), c.line ? 1 : 0);
    EXPECT_EQ(c.line ? std::string(s.line, s.lineLength) : "", c.line ? c.line : "");
    EXPECT_EQ(s.rest ? std::string(s.rest, s.restLength) : "<none>", c.rest ? c.rest : "<none>");
  }
}

TEST(FaxCommFunc, ReversesBytesAndBitsAndPacesChunksAtTheRate) {
  std::uint8_t bytes[] = {0x01, 0x80, 0xF0};
  FaxCommFunc::ReverseBytes(bytes, 3);
  EXPECT_EQ(std::vector<int>(bytes, bytes + 3), (std::vector<int>{0xF0, 0x80, 0x01}));
  FaxCommFunc::ReverseBits(bytes, 3);
  EXPECT_EQ(std::vector<int>(bytes, bytes + 3), (std::vector<int>{0x0F, 0x01, 0x80}));
  // 100 bytes at 1000 bytes a second: the next chunk waits about 100 ms.
  FaxCommFunc func;
  func.StartPacing(1000);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(func.PaceData(0, 100), 1);
  EXPECT_EQ(func.PaceData(0, 10), 1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
}

TEST(FinalResults, WholeWordsOfAnyCaseAndConnectWithARate) {
  for (const char* line : {"OK", "ok", "ERROR", "CONNECT", "CONNECT 9600", "NO CARRIER", "BUSY",
                           "NO DIALTONE", "NO DIAL TONE", "No Answer", "RING"})
    EXPECT_TRUE(IsFinalResult(line)) << line;
  for (const char* line : {"", "OK2", "+FCON", "CONNECT ", "CONNECTED", "RINGING", "NO", "0,1,2"})
    EXPECT_FALSE(IsFinalResult(line)) << line;
  // A batch is complete once a line end closes a final line; blanks may follow it.
  EXPECT_TRUE(EndsInFinalLine("\r\n(0-5)\r\n\r\nOK\r\n"));
  EXPECT_TRUE(EndsInFinalLine("CONNECT 14400\r \t"));
  EXPECT_FALSE(EndsInFinalLine("\r\nOK"));  // the line is not over yet
  EXPECT_FALSE(EndsInFinalLine("\r\nOK\r\n+FHS:00\r\n"));
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
  EXPECT_EQ(FaxCommFunc::ParseFaxParams("()", f, nullptr), 1);
}

TEST(ValueAfterColon, QuotedCutToTwentyAndTrimmedOrANumber) {
  char v[21];
  FaxCommFunc::GetQuotedValue("+FTSI:\"  0123456789   \"", v);
  EXPECT_STREQ(v, "0123456789");
  FaxCommFunc::GetQuotedValue("+FCSI: \"12345678901234567890123\"", v);
  EXPECT_STREQ(v, "12345678901234567890");
  FaxCommFunc::GetQuotedValue("+FTSI:\"ab\001cd\"", v);  // a control character ends it
  EXPECT_STREQ(v, "ab");
  FaxCommFunc::GetQuotedValue("+FTSI:ab\"cd", v);  // a quote only ends a quoted value
  EXPECT_STREQ(v, "ab\"cd");

  char16_t w[32];
  FaxCommFunc::GetQuotedValueW("+FTSI:\"Caf\xE9 1\"", w);  // 8-bit text in code page 1252
  EXPECT_EQ(std::u16string(w), u"Caf\u00E9 1");
  // Numbers, decimal and hexadecimal.
  EXPECT_EQ(FaxCommFunc::ParseNumberAfterColon("+FHS:4A", true), 74);
  EXPECT_EQ(FaxCommFunc::ParseNumberAfterColon("+FHS:", true), -1);
  EXPECT_EQ(FaxCommFunc::ParseNumberAfterColon("+FHS: \t 12 rest", false), 12);
  EXPECT_EQ(FaxCommFunc::ParseNumberAfterColon("+X:z", true), 35);
  const std::string huge = "+X:" + std::string(100, '9');
  EXPECT_GT(FaxCommFunc::ParseNumberAfterColon(huge.c_str(), false), 0);  // no overflow
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

TEST(MatchOKResultAndWaitRings, FirstFinalResultDecidesAndRingsCountToTheMinimum) {
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
  x.rig.line->Fail(FakeCall::Read, EIO);
  EXPECT_EQ(x.exchange.MatchOKResult(50, false), 0);
  EXPECT_TRUE(TakeMessages().empty());

  // Rings are counted until the minimum or silence.
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

// The sequence itself is checked by the kernel's tests; here: it goes on past
// an ERROR, quietly, and stops at the first failed write.
TEST(HangupModem, GoesOnWhateverTheModemSaysButStopsAtAFailedWrite) {
  ExchangeRig x;
  x.rig.line->onWrite = [](FakeLine& line, std::string_view command) {
    line.input.push_back(command == "ATH0\r" ? "\r\nERROR\r\n" : "\r\nOK\r\n");
  };
  EXPECT_EQ(x.exchange.HangupModem(), 1);
  EXPECT_EQ(x.rig.line->written, "AT\rATH0\rAT+FCLASS=0\rATZ\r");
  EXPECT_TRUE(TakeMessages().empty());

  x.rig.line->Fail(FakeCall::Write, EIO, 10);
  EXPECT_EQ(x.exchange.HangupModem(), 0);
  EXPECT_EQ(x.rig.line->CallCount(FakeCall::Write), 5u);  // stopped at the first command
  TakeMessages();
  x.rig.port->CloseComPort(false);
  EXPECT_EQ(x.exchange.HangupModem(), 1);  // nothing to hang up
}

constexpr int kClass2 = 2;

// The one message the line reports, or "" when it reports nothing.
std::string Report(std::string_view line, int faxClass) {
  ErrorPool::Instance().Clear();
  const int result = ReportHangupCodeError(line, faxClass);
  ErrorRecord r;
  if (ErrorPool::Instance().TakeOldest(r) == 0) {
    EXPECT_EQ(result, 0) << line;
    return "";
  }
  EXPECT_EQ(result, 1) << line;
  EXPECT_EQ(r.MessageType, kMsgDefault);
  EXPECT_EQ(r.module, "FaxCommFunc");
  EXPECT_EQ(r.function, "ReportHangupCodeError");
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);
  return r.message;
}

TEST(HangupCodes, LinesOfBothClassesReportTheirCodesText) {
  const std::string reason = "Modem Hangup, Reason = ";
  const std::string dcn = reason + "Hangup (DCN) frame received., RawData = ";
  struct Row {
    const char* line;
    int faxClass;
    std::string message;
  };
  const Row rows[] = {
      // A normal end reports nothing.
      {"+FHNG:0", kClass2, ""},
      {"+FHS:00", kHangupClass20, ""},
      // Known codes: Class 2 decimal, Class 2.0 hexadecimal.
      {"+FHNG:50", kClass2, reason + "Unspecified transmit phase D error."},
      {"+FHS:a1", kHangupClass20, reason + "Response frame error in receive phase D."},
      // Hexadecimal 0b is 11, which is no Class 2.0 code (that is 0x11).
      {"+FHS:\t0b", kHangupClass20, reason + "Unspecified hangup code: B., RawData = B."},
      // Reading stops at the first character that is not a digit of the class.
      {"+FHNG:11,extra", kClass2, reason + "No answer or no DIS detected (T.30 T1 timeout)."},
      {"+FHS:11", kHangupClass20, reason + "No answer or no DIS detected (T.30 T1 timeout)."},
      // Unknown codes report the code's text.
      {"+FHS:4A", kHangupClass20, reason + "Unspecified hangup code: 4A., RawData = 4A."},
      {"+FHNG:6A", kClass2, reason + "Unspecified hangup code: 6., RawData = 6."},
      // The code is kept in 16 bits: 65586 - 65536 = 50.
      {"+FHNG:65586", kClass2, reason + "Unspecified transmit phase D error."},
      // An empty or unreadable value is a disconnect.
      {"+FHS:", kHangupClass20, dcn + "+FHS:."},
      {"+FHNG:A1", kClass2, dcn + "+FHNG:A1."},
      {"", kClass2, dcn + "."},
      // Without a colon the whole line is the value.
      {"52", kClass2, reason + "No response to MPS (Multi-Page Signal) repeated 3 times."},
  };
  for (const Row& row : rows) EXPECT_EQ(Report(row.line, row.faxClass), row.message) << row.line;
  // The columns are not mixed.
  EXPECT_EQ(FindHangupCode(0xA0, kClass2), nullptr);        // 160 is no Class 2 code
  EXPECT_EQ(FindHangupCode(100, kHangupClass20), nullptr);  // 0x64 is no Class 2.0 code
}

}  // namespace
}  // namespace vexo
