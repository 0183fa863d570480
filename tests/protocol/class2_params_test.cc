// The small rules of the Class 2 sessions: the identifier field, parameter
// formatting and the tables (with values past their ends), the capability
// line, the call record and the resume position.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/error_pool.h"
#include "protocol/class2x_func.h"
#include "protocol/fax_result.h"
#include "protocol/page_sender.h"

namespace vexo {
namespace {

TEST(Class2Params, TheLocalIdentifierIsRightAlignedInTwentyCharacters) {
  EXPECT_EQ(LocalIdField("abc"), std::string(17, ' ') + "abc");
  EXPECT_EQ(LocalIdField("1234567890123456789012345"), "12345678901234567890");
  EXPECT_EQ(LocalIdField(""), std::string(20, ' '));
}

TEST(Class2Params, ParametersAreFormattedWithVrAndBfInHexadecimal) {
  EXPECT_EQ(FormatSessionParams({1, 5, 0, 2, 0, 0, 0, 0}), "1,5,0,2,0,0,0,0");
  EXPECT_EQ(FormatSessionParams({0xF, 3, 1, 2, 3, 1, 0xC, 7}), "f,3,1,2,3,1,c,7");
}

TEST(Class2Params, ValuesPastTheTablesNeverIndexPastThem) {
  ErrorPool::Instance().Clear();
  EXPECT_EQ(BitRateOf(5), 14400u);
  EXPECT_EQ(BitRateOf(9), 14400u);
  EXPECT_EQ(ScanTimeOf(2, 0), 10u);
  EXPECT_EQ(ScanTimeOf(2, 1), 5u);
  EXPECT_EQ(ScanTimeOf(9, 0), 40u);
  EXPECT_EQ(PageWidthOf(4, "M", "F"), 864u);
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);
  EXPECT_EQ(PageWidthOf(7, "M", "F"), 1728u);
  ErrorRecord record;
  ASSERT_GT(ErrorPool::Instance().TakeOldest(record), 0);
  EXPECT_EQ(record.MessageType, kMsgLogOnly);
  // 14400 bit/s and 20 ms: 36 bytes a line; 2400 bit/s and 5 ms: 2 bytes.
  EXPECT_EQ(MinimumLineBytes(14400, 20), 36u);
  EXPECT_EQ(MinimumLineBytes(2400, 5), 2u);
}

TEST(Class2Params, TheCapabilityLineIsTheLastOneHoldingParameters) {
  const std::vector<std::string> kept = {"AT+FCC=?", "(0,1),(0-5),(0-4)", "FAX"};
  EXPECT_EQ(CapabilityLine(kept), 1);
  const std::vector<std::string> none = {"FAX", "MODEM"};
  EXPECT_EQ(CapabilityLine(none), -1);
}

TEST(FaxResultRecord, KeepsTwentyFieldsAndAtMostTwentyIdentifierCharacters) {
  FaxResult result;
  result.SetRemoteId(u"123456789012345678901234");
  EXPECT_EQ(result.RemoteId(), u"12345678901234567890");
  EXPECT_EQ(result.remoteId[20], u'\0');
  result.pagesTransferred = 3;
  result.Clear();
  EXPECT_EQ(result.pagesTransferred, 0u);
  EXPECT_EQ(result.RemoteId(), u"");
}

TEST(ResumePositionValue, PacksFileAndPagePlusOne) {
  EXPECT_EQ(ResumePosition::At(0, 0).Raw(), 0x00010001u);
  EXPECT_EQ(ResumePosition::At(2, 4).Raw(), 0x00030005u);
  const ResumePosition p(0x00030005u);
  EXPECT_EQ(p.FileIndex(), 2u);
  EXPECT_EQ(p.PageIndex(), 4u);
  EXPECT_TRUE(ResumePosition(0).FromStart());
  EXPECT_EQ(ResumePosition(0).FileIndex(), 0u);
  EXPECT_EQ(ResumePosition(0).PageIndex(), 0u);
}

}  // namespace
}  // namespace vexo
