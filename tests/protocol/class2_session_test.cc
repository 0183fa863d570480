// Class 2.0 and Class 2 calls against a scripted modem on a real pty, for what
// the line simulator's calls (tests/sim) do not produce: hang-ups around the
// last page, odd and failing modem answers, unreadable pages, page data that
// never ends, a receive into a new TIFF file checked with libtiff.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tiffio.h>

#include <memory>
#include <string>
#include <vector>

#include "base/strings.h"
#include "document/fax_coding.h"
#include "document/page_geometry.h"
#include "document/tiff_oper.h"
#include "modem/byte_tables.h"
#include "protocol/class2x_func.h"
#include "protocol/fax_result.h"
#include "tests/protocol/class2_call_driver.h"
#include "tests/protocol/g3_test_pages.h"
#include "tests/protocol/pool_messages.h"
#include "tests/support/error_records.h"

namespace vexo {
namespace {

using test::kOk;
using ::testing::Contains;
using ::testing::HasSubstr;

constexpr const char* kCaps20 = "\r\n(0,1),(0-5),(0-4),(0-2),(0-3),0,0,(0-7)\r\n\r\nOK\r\n";
constexpr const char* kPageOk20 = "\r\n+FPS:1,0,0,0,0\r\n\r\nOK\r\n";
constexpr const char* kConnect20 = "\r\n+FCS:1,5,0,2,0,0,0,0\r\n\r\nCONNECT\r\n";
// A modem that offers MR, MMR and error correction.
constexpr const char* kCapsEc = "\r\n(0,1),(0-5),(0-4),(0-2),(0-3),(0-2),0,(0-7)\r\n\r\nOK\r\n";
// A modem that offers A4 and B4 length, not unlimited.
constexpr const char* kCapsB4 = "\r\n(0,1),(0-5),(0-4),(0,1),(0-3),0,0,(0-7)\r\n\r\nOK\r\n";

// Decodes every page of a TIFF file with libtiff; the row counts, or empty.
std::vector<std::uint32_t> DecodedRows(const std::string& file) {
  std::vector<std::uint32_t> rows;
  std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(TIFFOpen(file.c_str(), "r"), TIFFClose);
  if (!tiff) return {};
  do {
    std::uint32_t length = 0;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &length);
    std::vector<std::uint8_t> line(TIFFScanlineSize(tiff.get()));
    for (std::uint32_t r = 0; r < length; ++r)
      if (TIFFReadScanline(tiff.get(), line.data(), r) != 1) return {};
    rows.push_back(length);
  } while (TIFFReadDirectory(tiff.get()));
  return rows;
}

class Class2Sessions : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadResDll("EngRes");
    ErrorPool::Instance().Clear();
  }
  // The Class 2.0 set-up up to the dial command, and the dial when asked.
  void Setup20(bool dial = true) {
    call.modem.Answer("AT+FCLASS=2.0\r", kOk)
        .Answer("AT+FBO=0\r", kOk)
        .Answer("AT+FLI=\"           VEXO TEST\"\r", kOk)
        .Answer("AT+FLO=2\r", kOk)
        .Answer("AT+FCC=?\r", kCaps20)
        .Answer("AT+FCC=1,5,0,0,0,0,0,0\r", kOk)
        .Answer("AT+FNR=1,1,1,1\r", kOk);
    if (dial)
      call.modem.Answer("ATX4DT5551234\r", "\r\n+FCO\r\n\r\n+FCI:\"REMOTE ONE\"\r\n\r\nOK\r\n");
  }
  void Page20(bool last, const char* answer = kPageOk20) {
    call.modem.Answer("AT+FDT\r", kConnect20).Expect(last ? "\x10\x2e" : "\x10\x2c").Send(answer);
  }
  // Starts the script, selects the class and sends pages of 20 rows (or file).
  int Send(const std::string& faxClass, int pages, std::string file = "",
           const std::string& number = "5551234") {
    if (file.empty()) {
      file = (call.dir.path() / "a.tif").string();
      EXPECT_TRUE(test::WriteFaxFile(file, std::vector<int>(pages, 20), true));
    }
    call.modem.Start();
    EXPECT_TRUE(call.Open(faxClass));
    const std::vector<std::string> files = {file};
    return faxClass == "2" ? call.class2.SendFAXClass2(files, number, kId, &resume, &result)
                           : call.class20.SendFAXClass20(files, number, kId, &resume, &result);
  }
  // Starts the script, selects the class and receives into in.tif.
  int Receive(const std::string& faxClass) {
    call.modem.Start();
    EXPECT_TRUE(call.Open(faxClass));
    return faxClass == "2" ? call.class2.ReceiveFAXClass2(received, kId, &result)
                           : call.class20.ReceiveFAXClass20(received, kId, &result);
  }

  static constexpr const char* kId = "VEXO TEST";
  test::Class2CallDriver call;
  std::uint32_t resume = 0;
  FaxResult result;
  const std::string received = (call.dir.path() / "in.tif").string();
};

// A hang-up after the last page's status is reported; the send succeeds.
TEST_F(Class2Sessions, AHangupAfterTheLastPagesStatusStillSucceeds) {
  Setup20();
  Page20(true, "\r\n+FPS:1,0,0,0,0\r\n\r\n+FHS:54\r\n");
  EXPECT_EQ(Send("2.0", 1), kSessionDone);
  EXPECT_TRUE(call.modem.Finish()) << call.modem.Failure();
  EXPECT_EQ(test::TakeMessages(),
            std::vector<std::string>{"Modem Hangup, Reason = No response to "
                                     "EOP (End Of Procedure) repeated 3 times."});
  EXPECT_EQ(result.pagesTransferred, 1u);
  EXPECT_EQ(resume, 0u);
  EXPECT_EQ(result.RemoteId(), u"REMOTE ONE");
}

// A set-up command or a dial that fails ends the call with its report and
// sends nothing more.
struct FailureCase {
  const char* name;
  std::size_t failing;  // the set-up or dial step (from 1) that fails
  const char* answer;   // its answer
  const char* message;
};

class Class2Failures : public Class2Sessions, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(Class2Failures, EndTheCallWithTheirReport) {
  const FailureCase& c = GetParam();
  const std::pair<const char*, const char*> steps[] = {{"AT+FBO=0\r", kOk},
                                                       {"AT+FLI=", kOk},
                                                       {"AT+FLO=2\r", kOk},
                                                       {"AT+FCC=?\r", kCaps20},
                                                       {"AT+FCC=1,5,0,0,0,0,0,0\r", kOk},
                                                       {"AT+FNR=1,1,1,1\r", kOk},
                                                       {"ATX4DT5551234\r", ""}};
  call.modem.Answer("AT+FCLASS=2.0\r", kOk);
  for (std::size_t i = 0; i < c.failing; ++i)
    call.modem.Answer(steps[i].first, i + 1 == c.failing ? c.answer : steps[i].second);
  EXPECT_EQ(Send("2.0", 1), kSessionFailed);
  EXPECT_TRUE(call.modem.Finish()) << call.modem.Failure();
  EXPECT_THAT(test::TakeMessages(), Contains(HasSubstr(c.message)));
  EXPECT_EQ(result.pagesTransferred, 0u);
  const std::string written = call.modem.Received() + call.pty.ReadQuiet(50);
  EXPECT_EQ(test::CountOf(written, "\r"), c.failing + 1) << "nothing more is sent";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Answers, Class2Failures, ::testing::Values(
    FailureCase{"ErrorToTheIdentifier", 2, "\r\nERROR\r\n", "Modem return ERROR result."},
    FailureCase{"CapabilitiesWithoutParameters", 4, "\r\nFAX\r\nOK\r\n",
                "Unknow modem AT+FCC command response."},
    FailureCase{"NoAnswer", 7, "\r\nNO ANSWER\r\n", "No answer tone detected."},
    FailureCase{"NoDis", 7, "\r\n+FHS:11\r\n", "No answer or no DIS detected (T.30 T1 timeout)."}),
    [](const auto& param) { return std::string(param.param.name); });
// clang-format on

TEST_F(Class2Sessions, AModemThatNeverDecidesCannotHoldTheDialForEver) {
  Setup20(false);
  call.modem.Expect("ATX4DT5551234\r").Flood("\r\n+FCO\r\n", 64 * 1024 * 1024);
  Class2Timeouts quick = test::TestTimeouts();
  quick.dialFirst = 1000;
  quick.dialFurther = 500;
  call.class20.SetTimeouts(quick);
  EXPECT_EQ(Send("2.0", 1), kSessionFailed);
  call.modem.Stop();
  EXPECT_THAT(test::TakeMessages(), Contains("Timeout waiting for modem response."));
}

TEST_F(Class2Sessions, APageThatCannotBeReadAbortsTheCall) {
  // The second page is 2048 pixels wide, which a fax file may not hold.
  const std::string wide = (call.dir.path() / "wide.tif").string();
  {
    TiffOper tiff;
    ASSERT_EQ(tiff.OpenWriteTiff(wide, CreateMode::Replace), 1);
    const auto data = test::CodeRows(20);
    for (std::uint32_t width : {1728u, 2048u}) {
      ASSERT_EQ(tiff.SetPageTags(width, 1, PAGE_FINE), 1);
      ASSERT_EQ(tiff.WriteFaxData(data.data(), data.size()), 1);
      ASSERT_EQ(tiff.EndPage(20), 1);
    }
    ASSERT_EQ(tiff.CloseWriteTiff(), 1);
  }
  Setup20();
  Page20(false);
  call.modem.Expect("\x10\x2e").Send(kOk).Answer("AT+FKS\r", kOk);
  EXPECT_EQ(Send("2.0", 0, wide), kSessionFailed);
  EXPECT_TRUE(call.modem.Finish()) << call.modem.Failure();
  EXPECT_THAT(test::TakeMessages(),
              Contains(HasSubstr("Not support TIFF image width is not 1728 pixels.")));
  EXPECT_EQ(result.pagesTransferred, 1u);
}

// The bytes a Class 2.0 modem hands over for a page: least significant bit
// first, DLE stuffed, closed with DLE ETX.
std::string ModemPage(int rows, int rtcEols = 6) {
  const auto bytes = test::ModemBytes(test::CodeRows(rows, rtcEols));
  return std::string(bytes.begin(), bytes.end()) + "\x10\x03";
}

void ReceiveSetup20(test::PtyModem& modem) {
  modem.Answer("AT+FCLASS=2.0\r", kOk)
      .Answer("AT+FLI=\"           VEXO TEST\"\r", kOk)
      .Answer("AT+FBO=0\r", kOk)
      .Answer("AT+FCC=?\r", kCaps20)
      .Answer("AT+FCC=1,5,0,2,0,0,0,0\r", kOk)
      .Answer("AT+FIS=1,5,0,2,0,0,0,0\r", kOk)
      .Answer("AT+FNR=1,1,1,1\r", kOk)
      .Answer("AT+FCR=1\r", kOk)
      .Answer("ATA\r",
              "\r\n+FCO\r\n\r\n+FTI:\"SENDER 9\"\r\n\r\n+FCS:1,3,0,2,0,0,0,0\r\n\r\nOK\r\n");
}

// The page ends with a short RTC, which is logged.
TEST_F(Class2Sessions, AReceiveHungUpDuringThePageKeepsTheFileReadable) {
  ReceiveSetup20(call.modem);
  call.modem.Answer("AT+FDR\r", "\r\nCONNECT\r\n")
      .Expect("\x12")
      .Send(ModemPage(30, 4) + "\r\n+FET:0\r\n\r\nOK\r\n")
      .Answer("AT+FDR\r", "\r\n+FHS:70\r\n");
  EXPECT_EQ(Receive("2.0"), kSessionFailed);
  const auto errors = test::TakeErrors();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].message, "End of page, got EOLs = 4");
  EXPECT_EQ(errors[0].MessageType, kMsgLogOnly);
  EXPECT_THAT(errors[1].message, HasSubstr("Unspecified receive phase B error."));
  EXPECT_EQ(result.pagesTransferred, 1u);
  EXPECT_EQ(DecodedRows(received), (std::vector<std::uint32_t>{30}));
}

TEST_F(Class2Sessions, PageDataThatNeverEndsIsCutOffAndDrained) {
  ReceiveSetup20(call.modem);
  call.modem.Answer("AT+FDR\r", "\r\nCONNECT\r\n")
      .Expect("\x12")
      .Send(ModemPage(10).substr(0, 40))
      .Flood("\x55\xAA", 256 * 1024)
      .Answer("AT+FKS\r", kOk);
  call.class20.SetPageDataLimit(64 * 1024);
  EXPECT_EQ(Receive("2.0"), kSessionFailed);
  EXPECT_TRUE(call.modem.Finish()) << call.modem.Failure();
  EXPECT_THAT(test::TakeMessages(), Contains(HasSubstr("The page data did not end after")));
  // The rows that came whole before the noise are kept, and counted.
  EXPECT_EQ(result.pagesTransferred, 1u);
  EXPECT_EQ(DecodedRows(received), (std::vector<std::uint32_t>{8}));
}

// +FCC offers DF and EC as the modem and the limits allow, and the length the
// longest page needs, wherever it lies in the file (A4, or for Legal unlimited
// or B4 as offered); the pages go in the coding the +FCS report settles, and
// the far end can decode the last.
struct CodingCase {
  const char* name;
  bool ecm;
  const char* caps;  // the answer to AT+FCC=?
  const char* fcc;   // the parameters set
  const char* fcs;   // the parameters the modem reports
  bool linkEcm;
  FaxCoding coding;
  std::vector<int> rows;  // of the fine pages sent
};

constexpr int kA4Rows = static_cast<int>(PaperRows(PaperSize::kA4, kFineRowsPerInch));
constexpr int kLetterRows = static_cast<int>(PaperRows(PaperSize::kLetter, kFineRowsPerInch));
constexpr int kLegalRows = static_cast<int>(PaperRows(PaperSize::kLegal, kFineRowsPerInch));
constexpr int kCoverRows = 600;

class Class2Codings : public Class2Sessions, public ::testing::WithParamInterface<CodingCase> {};

TEST_P(Class2Codings, PagesGoInTheSettledCoding) {
  const CodingCase& c = GetParam();
  call.modem.Answer("AT+FCLASS=2.0\r", kOk)
      .Answer("AT+FBO=0\r", kOk)
      .Answer("AT+FLI=\"           VEXO TEST\"\r", kOk)
      .Answer("AT+FLO=2\r", kOk)
      .Answer("AT+FCC=?\r", c.caps)
      .Answer(std::string("AT+FCC=") + c.fcc + "\r", kOk)
      .Answer("AT+FNR=1,1,1,1\r", kOk)
      .Answer("ATX4DT5551234\r", "\r\n+FCO\r\n\r\nOK\r\n");
  for (std::size_t i = 0; i < c.rows.size(); ++i)
    call.modem.Answer("AT+FDT\r", std::string("\r\n+FCS:") + c.fcs + "\r\n\r\nCONNECT\r\n")
        .Expect(i + 1 == c.rows.size() ? "\x10\x2e" : "\x10\x2c")
        .Send(kPageOk20);
  call.class20.SetCodingLimits(c.ecm, FaxCoding::kMmr);
  const std::string file = (call.dir.path() / "page.tif").string();
  ASSERT_TRUE(test::WriteFaxFile(file, c.rows, true));
  EXPECT_EQ(Send("2.0", 1, file), kSessionDone);
  EXPECT_TRUE(call.modem.Finish()) << call.modem.Failure();
  EXPECT_EQ(call.class20.Link().ecm, c.linkEcm);
  EXPECT_EQ(call.class20.Link().coding, c.coding);
  // The page as the modem took it: DLEs unstuffed, least significant bit first.
  std::string written = call.modem.Received();
  written = written.substr(written.rfind("AT+FDT\r") + 7);
  std::vector<std::uint8_t> page;
  for (std::size_t i = 0; i + 2 < written.size(); ++i) {
    if (written[i] == '\x10') ++i;
    page.push_back(kBitReverse[static_cast<std::uint8_t>(written[i])]);
  }
  const std::optional<DecodedFaxPage> decoded = DecodeFaxPage(page, c.coding, 1728, true);
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->complete);
  EXPECT_EQ(decoded->badRows, 0u);
  EXPECT_GT(decoded->bitmap.rows, 20u);  // the header strip and the page's 20 rows
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Modems, Class2Codings, ::testing::Values(
    CodingCase{"EcmAndMmr", true, kCapsEc, "1,5,0,0,3,1,0,0", "1,5,0,0,3,1,0,0", true, FaxCoding::kMmr, {kA4Rows}},
    CodingCase{"MrWithoutEcm", false, kCapsEc, "1,5,0,0,1,0,0,0", "1,5,0,0,1,0,0,0", false, FaxCoding::kMr, {kCoverRows, kLetterRows}},
    CodingCase{"LegalAfterA4", true, kCaps20, "1,5,0,2,1,0,0,0", "1,5,0,2,1,0,0,0", false, FaxCoding::kMr, {kA4Rows, kLegalRows}},
    CodingCase{"LegalAfterCoverOnB4", false, kCapsB4, "1,5,0,1,1,0,0,0", "1,5,0,1,1,0,0,0", false, FaxCoding::kMr, {kCoverRows, kLegalRows}},
    CodingCase{"FarEndTakesMh", true, kCapsEc, "1,5,0,0,3,1,0,0", "1,5,0,0,0,0,0,0", false, FaxCoding::kMh, {kA4Rows}}),
    [](const auto& param) { return std::string(param.param.name); });
// clang-format on

// A page is stored in the coding the +FCS report names: MR rows whose RTC
// carries tag bits, or MMR without EOLs, counted and readable with libtiff.
class Class2Received : public Class2Sessions, public ::testing::WithParamInterface<FaxCoding> {};

TEST_P(Class2Received, PagesAreStoredInTheirCoding) {
  const FaxCoding coding = GetParam();
  FaxBitmap bitmap{1728, 33, {}};
  bitmap.bits.assign(33 * bitmap.Stride(), 0);
  for (std::uint32_t row = 0; row < 33; row += 3) bitmap.bits[row * bitmap.Stride() + row] = 0xF0;
  const auto bytes = test::ModemBytes(EncodeFaxPage(bitmap, coding, true, true));
  const std::string df = coding == FaxCoding::kMmr ? "3,1" : "1,0";
  call.modem.Answer("AT+FCLASS=2.0\r", kOk)
      .Answer("AT+FLI=\"           VEXO TEST\"\r", kOk)
      .Answer("AT+FBO=0\r", kOk)
      .Answer("AT+FCC=?\r", kCapsEc)
      .Answer("AT+FCC=1,5,0,2,3,1,0,0\r", kOk)
      .Answer("AT+FIS=1,5,0,2,3,1,0,0\r", kOk)
      .Answer("AT+FNR=1,1,1,1\r", kOk)
      .Answer("AT+FCR=1\r", kOk)
      .Answer("ATA\r", "\r\n+FCO\r\n\r\n+FCS:1,3,0,2," + df + ",0,0\r\n\r\nOK\r\n")
      .Answer("AT+FDR\r", "\r\nCONNECT\r\n")
      .Expect("\x12")
      .Send(std::string(bytes.begin(), bytes.end()) + "\x10\x03\r\n+FET:2\r\n\r\nOK\r\n")
      .Answer("AT+FDR\r", kOk);
  call.class20.SetCodingLimits(true, FaxCoding::kMmr);
  EXPECT_EQ(Receive("2.0"), kSessionDone);
  EXPECT_TRUE(call.modem.Finish()) << call.modem.Failure();
  EXPECT_EQ(test::TakeMessages(), std::vector<std::string>{});
  EXPECT_EQ(DecodedRows(received), (std::vector<std::uint32_t>{33}));
  EXPECT_EQ(call.class20.Link().coding, coding);
}

INSTANTIATE_TEST_SUITE_P(Codings, Class2Received,
                         ::testing::Values(FaxCoding::kMr, FaxCoding::kMmr),
                         [](const auto& param) { return std::string(CodingName(param.param)); });

// ---- Class 2 ----

TEST_F(Class2Sessions, Class2DialsAnEmptyNumberWithAtdAndNeedsXon) {
  call.modem.Answer("AT+FCLASS=2\r", kOk)
      .Answer("AT+FLID=\"           VEXO TEST\"\r", kOk)
      .Answer("AT+FDCC=?\r", "\r\n+FDCC: (0,1),(0-5),(0-4),(0-2),(0-3),0,0,(0-7)\r\n\r\nOK\r\n")
      .Answer("AT+FDCC=1,5,0,0,0,0,0,0\r", kOk)
      .Answer("ATD\r", "\r\n+FCON\r\n\r\n+FDCS:1,5,0,2,0,0,0,0\r\n\r\nOK\r\n")
      .Answer("AT+FDT\r", "\r\nCONNECT\r\n");  // no XON follows
  EXPECT_EQ(Send("2", 1, "", ""), kSessionFailed);
  EXPECT_TRUE(call.modem.Finish()) << call.modem.Failure();
  EXPECT_THAT(test::TakeMessages(), Contains("Timeout waiting for modem response."));
  EXPECT_EQ(result.pagesTransferred, 0u);
  // Not a byte of the page went (up to the closing DLE): the modem never said it was ready.
  const std::string written = call.modem.Received();
  const std::string page = written.substr(written.find("AT+FDT\r") + 7);
  EXPECT_EQ(page.substr(0, page.find('\x10')), "");
}

TEST_F(Class2Sessions, Class2ReceivesAtNormalResolutionWhenTheModemOffersNoMore) {
  // Class 2 data arrives as stored: most significant bit first here.
  std::string page;
  for (std::uint8_t b : test::CodeRows(33)) {
    page.push_back(static_cast<char>(b));
    if (b == 0x10) page.push_back(static_cast<char>(b));
  }
  call.modem.Answer("AT+FCLASS=2\r", kOk)
      .Answer("AT+FLID=\"           VEXO TEST\"\r", kOk)
      .Answer("AT+FDCC=?\r", "\r\n+FDCC: 0,(0-3),0,2,0,0,0,(0-7)\r\n\r\nOK\r\n")
      .Answer("AT+FDCC=0,3,0,2,0,0,0,0\r", kOk)
      .Answer("AT+FCR=1\r", kOk)
      .Answer("ATA\r",
              "\r\n+FCON\r\n\r\n+FTSI:\"CALLER\"\r\n\r\n+FDCS:0,3,0,2,0,0,0,0\r\n\r\nOK\r\n")
      .Answer("AT+FDR\r", "\r\nCONNECT\r\n")
      .Expect("\x12")
      .Send(page + "\x10\x03\r\n+FPTS:1\r\n\r\n+FET:2\r\n\r\nOK\r\n")
      .Answer("AT+FDR\r", "\r\n+FHNG:0\r\n\r\nOK\r\n");
  EXPECT_EQ(Receive("2"), kSessionDone);
  EXPECT_TRUE(call.modem.Finish()) << call.modem.Failure();
  EXPECT_EQ(test::TakeMessages(), std::vector<std::string>{});
  EXPECT_EQ(result.resolution, kResultResolutionNormal);
  EXPECT_EQ(result.RemoteId(), u"CALLER");
  EXPECT_EQ(DecodedRows(received), (std::vector<std::uint32_t>{33}));
}

// ---- the small rules: identifier field, parameters, tables, call record

// The local identifier is right-aligned in twenty characters; VR and BF are
// written in hexadecimal.
TEST(Class2Params, IdentifierAndParametersAreFormatted) {
  EXPECT_EQ(LocalIdField("abc"), std::string(17, ' ') + "abc");
  EXPECT_EQ(LocalIdField("1234567890123456789012345"), "12345678901234567890");
  EXPECT_EQ(LocalIdField(""), std::string(20, ' '));
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

}  // namespace
}  // namespace vexo
