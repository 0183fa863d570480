#include "modem/hangup_codes.h"

#include <gtest/gtest.h>

#include "base/error_pool.h"

namespace vexo {
namespace {

class HangupCodes : public ::testing::Test {
 protected:
  void SetUp() override { ErrorPool::Instance().Clear(); }
  void TearDown() override { ErrorPool::Instance().Clear(); }

  // The one message the line reports, or "" when it reports nothing.
  static std::string Report(std::string_view line, int faxClass) {
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
};

constexpr int kClass2 = 2;

TEST_F(HangupCodes, NormalEndReportsNothing) {
  EXPECT_EQ(Report("+FHNG:0", kClass2), "");
  EXPECT_EQ(Report("+FHS:00", kHangupClass20), "");
  EXPECT_EQ(Report("+FHNG: \t0\r", kClass2), "");
}

TEST_F(HangupCodes, KnownCodesOfBothClasses) {
  EXPECT_EQ(Report("+FHNG:50", kClass2),
            "Modem Hangup, Reason = Unspecified transmit phase D error.");
  EXPECT_EQ(Report("+FHS:50", kHangupClass20),
            "Modem Hangup, Reason = Unspecified transmit phase D error.");
  EXPECT_EQ(Report("+FHNG:100", kClass2),
            "Modem Hangup, Reason = Unspecified receive phase D error.");
  EXPECT_EQ(Report("+FHNG: 90", kClass2),
            "Modem Hangup, Reason = Unspecified receive phase C error.");
  EXPECT_EQ(Report("+FHS:A0", kHangupClass20),
            "Modem Hangup, Reason = Unspecified receive phase D error.");
  EXPECT_EQ(Report("+FHS:a1", kHangupClass20),
            "Modem Hangup, Reason = Response frame error in receive phase D.");
  // Hexadecimal 0b is 11, which is no Class 2.0 code (that is 0x11).
  EXPECT_EQ(Report("+FHS:\t0b", kHangupClass20),
            "Modem Hangup, Reason = Unspecified hangup code: B., RawData = B.");
  // Reading stops at the first character that is not a digit of the class.
  EXPECT_EQ(Report("+FHNG:11,extra", kClass2),
            "Modem Hangup, Reason = No answer or no DIS detected (T.30 T1 timeout).");
  EXPECT_EQ(Report("+FHS:11", kHangupClass20),
            "Modem Hangup, Reason = No answer or no DIS detected (T.30 T1 timeout).");
}

TEST_F(HangupCodes, ColumnsAreNotMixed) {
  EXPECT_EQ(FindHangupCode(0xA0, kClass2), nullptr);        // 160 is no Class 2 code
  EXPECT_EQ(FindHangupCode(100, kHangupClass20), nullptr);  // 0x64 is no Class 2.0 code
}

TEST_F(HangupCodes, UnknownCodesReportTheCodeText) {
  EXPECT_EQ(Report("+FHS:4A", kHangupClass20),
            "Modem Hangup, Reason = Unspecified hangup code: 4A., RawData = 4A.");
  EXPECT_EQ(Report("+FHS:4a", kHangupClass20),
            "Modem Hangup, Reason = Unspecified hangup code: 4A., RawData = 4A.");
  EXPECT_EQ(Report("+FHNG:160", kClass2),
            "Modem Hangup, Reason = Unspecified hangup code: 160., RawData = 160.");
  EXPECT_EQ(Report("+FHNG:6A", kClass2),
            "Modem Hangup, Reason = Unspecified hangup code: 6., RawData = 6.");
  // The code is kept in 16 bits.
  EXPECT_EQ(Report("+FHNG:65586", kClass2),  // 65586 - 65536 = 50
            "Modem Hangup, Reason = Unspecified transmit phase D error.");
}

TEST_F(HangupCodes, EmptyOrUnreadableValueIsADisconnect) {
  const std::string dcn = "Modem Hangup, Reason = Hangup (DCN) frame received., RawData = ";
  EXPECT_EQ(Report("+FHS:", kHangupClass20), dcn + "+FHS:.");
  EXPECT_EQ(Report("+FHNG:  ", kClass2), dcn + "+FHNG:  .");
  EXPECT_EQ(Report("+FHNG:A1", kClass2), dcn + "+FHNG:A1.");
  EXPECT_EQ(Report("+FHS:G1", kHangupClass20), dcn + "+FHS:G1.");
  EXPECT_EQ(Report("", kClass2), dcn + ".");
  // Without a colon the whole line is the value.
  EXPECT_EQ(Report("52", kClass2),
            "Modem Hangup, Reason = No response to MPS (Multi-Page Signal) repeated 3 times.");
}

}  // namespace
}  // namespace vexo
