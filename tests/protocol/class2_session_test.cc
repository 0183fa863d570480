// Class 2.0 and Class 2 calls against a scripted modem on a real pty: sends of
// one and three pages with the page header, resume, receive into a new TIFF
// file checked with libtiff, and the failure paths with their reports.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <memory>
#include <string>
#include <vector>

#include "base/error_pool.h"
#include "base/strings.h"
#include "document/page_header.h"
#include "document/tiff_oper.h"
#include "platform/text.h"
#include "protocol/page_receiver.h"
#include "tests/protocol/class2_call_driver.h"
#include "tests/protocol/g3_test_pages.h"

namespace vexo {
namespace {

using test::kOk;

constexpr const char* kCaps20 = "\r\n(0,1),(0-5),(0-4),(0-2),(0-3),0,0,(0-7)\r\n\r\nOK\r\n";
constexpr const char* kPageOk20 = "\r\n+FPS:1,0,0,0,0\r\n\r\nOK\r\n";
constexpr const char* kConnect20 = "\r\n+FCS:1,5,0,2,0,0,0,0\r\n\r\nCONNECT\r\n";

std::vector<ErrorRecord> TakeErrors() {
  std::vector<ErrorRecord> all;
  ErrorRecord r;
  while (ErrorPool::Instance().TakeOldest(r) > 0) all.push_back(r);
  return all;
}

bool HasMessage(const std::vector<ErrorRecord>& records, const std::string& text,
                std::uint32_t type = kMsgDefault) {
  for (const auto& r : records)
    if (r.message.find(text) != std::string::npos && r.MessageType == type) return true;
  return false;
}

std::string Messages(const std::vector<ErrorRecord>& records) {
  std::string all;
  for (const auto& r : records) all += r.message + "\n";
  return all;
}

// Rows a decoder finds in the page data the modem got (least significant bit
// first, DLE stuffed).
std::uint32_t RowsSent(const std::string& page) {
  PageReceiver receiver(true, [](const std::uint8_t*, std::size_t) { return true; });
  std::string stream = page + "\x10\x03";
  std::size_t used = 0;
  receiver.Feed(reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size(), used);
  return receiver.Rows();
}

// Rows of the page header a send puts ahead of a page of the file (0 when
// this machine cannot draw one).
std::uint32_t HeaderRowsOf(const std::string& file, bool sendAsNormal) {
  TiffOper tiff;
  tiff.SetErrorPool(true);
  if (tiff.OpenReadTiffHeader(file) != 1 || tiff.ReadTags() != 1) return 0;
  if (GenHeader(tiff, 1, 1, sendAsNormal) != 1) return 0;
  std::vector<std::uint8_t> bytes(tiff.PageHeaderSize());
  std::size_t got = 0;
  while (got < bytes.size()) {
    const int n = tiff.ReadFAXData(bytes.data() + got, bytes.size() - got, false);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  // Every header row begins with an EOL.
  std::uint32_t rows = 0, zeros = 0;
  for (std::uint8_t b : bytes) {
    if (b != 0 && zeros + static_cast<std::uint32_t>(__builtin_clz(b) - 24) >= 11) ++rows;
    zeros = b == 0 ? zeros + 8 : static_cast<std::uint32_t>(__builtin_ctz(b));
  }
  return rows;
}

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
  std::string File(const std::string& name, const std::vector<int>& rows, bool fine = true) {
    const std::string path = (call.dir.path() / name).string();
    EXPECT_TRUE(test::WriteFaxFile(path, rows, fine));
    return path;
  }
  // The Class 2.0 set-up up to the dial command.
  void Setup20(const std::string& fcc = "AT+FCC=1,5,0,2,0,0,0,0\r") {
    call.modem.Answer("AT+FCLASS=2.0\r", kOk)
        .Answer("AT+FBO=0\r", kOk)
        .Answer("AT+FLI=\"           VEXO TEST\"\r", kOk)
        .Answer("AT+FLO=2\r", kOk)
        .Answer("AT+FCC=?\r", kCaps20)
        .Answer(fcc, kOk)
        .Answer("AT+FNR=1,1,1,1\r", kOk);
  }
  void Dial20() {
    call.modem.Answer("ATX4DT5551234\r", "\r\n+FCO\r\n\r\n+FCI:\"REMOTE ONE\"\r\n\r\nOK\r\n");
  }
  void Page20(bool last, const char* answer = kPageOk20) {
    call.modem.Answer("AT+FDT\r", kConnect20).Expect(last ? "\x10\x2e" : "\x10\x2c").Send(answer);
  }

  test::Class2CallDriver call;
};

TEST_F(Class2Sessions, Class20SendsThreePagesOfTwoFilesBehindTheHeader) {
  const std::string a = File("a.tif", {40, 30});
  const std::string b = File("b.tif", {25});
  Setup20();
  Dial20();
  Page20(false);
  Page20(false);
  Page20(true, "\r\n+FPS:1,0,0,0,0\r\n\r\n+FHS:00\r\n\r\nOK\r\n");
  call.modem.Start();
  ASSERT_TRUE(call.Open("2.0"));
  std::uint32_t resume = 0;
  FaxResult result;
  EXPECT_EQ(call.Send20({a, b}, "5551234", &resume, &result), kSessionDone);
  EXPECT_TRUE(call.modem.Finish()) << call.modem.Failure();
  const auto errors = TakeErrors();
  EXPECT_TRUE(errors.empty()) << Messages(errors);
  EXPECT_EQ(result.pagesTransferred, 3u);
  EXPECT_EQ(result.RemoteId(), u"REMOTE ONE");
  EXPECT_EQ(resume, 0u);
  EXPECT_NE(call.job.Status().text.find("3 page(s) sent"), std::string::npos);

  const auto pages = test::SentPages(call.modem.Received());
  ASSERT_EQ(pages.size(), 3u);
  const std::uint32_t header = HeaderRowsOf(a, false);
  EXPECT_GT(header, 0u) << "the pages go behind a header";
  const std::uint32_t rows[] = {40, 30, 25};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(RowsSent(pages[i]), header + rows[i]) << "page " << i;
}

TEST_F(Class2Sessions, Class20ResumesAtThePositionGivenAndRewritesIt) {
  const std::string a = File("a.tif", {20, 21, 22});
  const std::string b = File("b.tif", {23});
  Setup20();
  Dial20();
  // The first page of the resumed send is answered; the far end hangs up
  // after the second without answering it.
  Page20(false);
  call.modem.Answer("AT+FDT\r", kConnect20).Expect("\x10\x2c").Send("\r\n+FHS:52\r\n");
  call.modem.Start();
  ASSERT_TRUE(call.Open("2.0"));
  std::uint32_t resume = ResumePosition::At(0, 1).Raw();  // a.tif, its second page
  FaxResult result;
  EXPECT_EQ(call.Send20({a, b}, "5551234", &resume, &result), kSessionFailed);
  EXPECT_TRUE(call.modem.Finish()) << call.modem.Failure();
  const auto errors = TakeErrors();
  EXPECT_TRUE(HasMessage(errors, "No response to MPS (Multi-Page Signal) repeated 3 times."))
      << Messages(errors);
  EXPECT_EQ(result.pagesTransferred, 1u);
  // The unanswered page is the next to send: a.tif's third page.
  EXPECT_EQ(resume, ResumePosition::At(0, 2).Raw());
  const auto pages = test::SentPages(call.modem.Received());
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(RowsSent(pages[0]), HeaderRowsOf(a, false) + 21);
  EXPECT_EQ(RowsSent(pages[1]), HeaderRowsOf(a, false) + 22);
  // Pages are counted from the resume position: page 2 of 3.
  EXPECT_EQ(call.job.Status().total, 2u);
  EXPECT_EQ(call.job.Status().secondTotal, 3u);
}

TEST_F(Class2Sessions, Class20ResumeFromTheLastFileOnToItsLastPage) {
  const std::string a = File("a.tif", {20});
  const std::string b = File("b.tif", {23, 24});
  Setup20();
  Dial20();
  Page20(true);
  call.modem.Start();
  ASSERT_TRUE(call.Open("2.0"));
  std::uint32_t resume = ResumePosition::At(1, 1).Raw();
  FaxResult result;
  EXPECT_EQ(call.Send20({a, b}, "5551234", &resume, &result), kSessionDone);
  EXPECT_TRUE(call.modem.Finish()) << call.modem.Failure();
  EXPECT_EQ(resume, 0u);
  const auto pages = test::SentPages(call.modem.Received());
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(RowsSent(pages[0]), HeaderRowsOf(b, false) + 24);
}

TEST_F(Class2Sessions, AResumePastTheLastFileSucceedsWithNothingSent) {
  const std::string a = File("a.tif", {20});
  call.modem.Answer("AT+FCLASS=2.0\r", kOk).Start();
  ASSERT_TRUE(call.Open("2.0"));
  std::uint32_t resume = ResumePosition::At(1, 0).Raw();
  FaxResult result;
  EXPECT_EQ(call.Send20({a}, "5551234", &resume, &result), kSessionDone);
  EXPECT_EQ(call.modem.Received(), "AT+FCLASS=2.0\r");
}

TEST_F(Class2Sessions, DialResultsFailTheCallWithTheirMessages) {
  struct Case {
    const char* answer;
    const char* message;
  };
  const Case cases[] = {
      {"\r\nBUSY\r\n", "busy tone 'on' time exceeds 300 ms."},
      {"\r\nNO DIALTONE\r\n", "Dial failure or no dial tone detected."},
      {"\r\nNO ANSWER\r\n", "No answer tone detected."},
      {"\r\n+FHS:11\r\n", "No answer or no DIS detected (T.30 T1 timeout)."},
  };
  for (const Case& c : cases) {
    test::Class2CallDriver driver;
    driver.class20.SetTimeouts(test::TestTimeouts());
    const std::string a = (driver.dir.path() / "a.tif").string();
    ASSERT_TRUE(test::WriteFaxFile(a, {10}, false));
    driver.modem.Answer("AT+FCLASS=2.0\r", kOk)
        .Answer("AT+FBO=0\r", kOk)
        .Answer("AT+FLI=", kOk)
        .Answer("AT+FLO=2\r", kOk)
        .Answer("AT+FCC=?\r", kCaps20)
        .Answer("AT+FCC=0,5,0,2,0,0,0,0\r", kOk)
        .Answer("AT+FNR=1,1,1,1\r", kOk)
        .Answer("ATX4DT123\r", c.answer)
        .Start();
    ASSERT_TRUE(driver.Open("2.0"));
    FaxResult result;
    EXPECT_EQ(driver.Send20({a}, "123", nullptr, &result), kSessionFailed);
    EXPECT_TRUE(driver.modem.Finish()) << driver.modem.Failure();
    const auto errors = TakeErrors();
    EXPECT_TRUE(HasMessage(errors, c.message)) << c.answer << Messages(errors);
    EXPECT_EQ(result.pagesTransferred, 0u);
  }
}

TEST_F(Class2Sessions, AModemThatNeverDecidesCannotHoldTheDialForEver) {
  const std::string a = File("a.tif", {20});
  Setup20();
  call.modem.Expect("ATX4DT5551234\r").Flood("\r\n+FCO\r\n", 64 * 1024 * 1024);
  call.modem.Start();
  Class2Timeouts quick = test::TestTimeouts();
  quick.dialFirst = 1000;
  quick.dialFurther = 500;
  call.class20.SetTimeouts(quick);
  ASSERT_TRUE(call.Open("2.0"));
  EXPECT_EQ(call.Send20({a}, "5551234", nullptr, nullptr), kSessionFailed);
  call.modem.Stop();
  EXPECT_TRUE(HasMessage(TakeErrors(), "Timeout waiting for modem response."));
}

TEST_F(Class2Sessions, ARefusedPageMakesThePartialSuccess) {
  const std::string a = File("a.tif", {20, 20});
  Setup20();
  Dial20();
  Page20(false, "\r\n+FPS:2,0,0,0,0\r\n\r\nOK\r\n");
  Page20(true);
  call.modem.Start();
  ASSERT_TRUE(call.Open("2.0"));
  FaxResult result;
  EXPECT_EQ(call.Send20({a}, "5551234", nullptr, &result), kSessionPartly);
  EXPECT_TRUE(call.modem.Finish()) << call.modem.Failure();
  const auto errors = TakeErrors();
  EXPECT_TRUE(HasMessage(errors, "Page 1 was refused by the remote fax machine."))
      << Messages(errors);
  EXPECT_EQ(errors.size(), 1u);
  EXPECT_EQ(result.pagesTransferred, 2u);
}

// A hang-up after the last page's status is reported and the send succeeds.
TEST_F(Class2Sessions, AHangupAfterTheLastPageIsReportedButTheSendSucceeds) {
  const std::string a = File("a.tif", {20});
  Setup20();
  Dial20();
  Page20(true, "\r\n+FPS:1,0,0,0,0\r\n\r\n+FHS:54\r\n");
  call.modem.Start();
  ASSERT_TRUE(call.Open("2.0"));
  FaxResult result;
  EXPECT_EQ(call.Send20({a}, "5551234", nullptr, &result), kSessionDone);
  const auto errors = TakeErrors();
  EXPECT_TRUE(HasMessage(errors, "No response to EOP (End Of Procedure) repeated 3 times."))
      << Messages(errors);
  EXPECT_EQ(result.pagesTransferred, 1u);
}

// A hang-up before the far end answered the last page leaves it unsent.
TEST_F(Class2Sessions, AHangupBeforeTheLastPageIsAnsweredFailsTheSend) {
  const std::string a = File("a.tif", {20, 21});
  Setup20();
  Dial20();
  Page20(false);
  Page20(true, "\r\n+FHS:54\r\n");
  call.modem.Start();
  ASSERT_TRUE(call.Open("2.0"));
  FaxResult result;
  std::uint32_t resume = 0;
  EXPECT_EQ(call.Send20({a}, "5551234", &resume, &result), kSessionFailed);
  const auto errors = TakeErrors();
  EXPECT_TRUE(HasMessage(errors, "No response to EOP (End Of Procedure) repeated 3 times."))
      << Messages(errors);
  EXPECT_EQ(result.pagesTransferred, 1u);
  EXPECT_EQ(resume, ResumePosition::At(0, 1).Raw());
}

TEST_F(Class2Sessions, ACapabilityAnswerWithoutParametersFails) {
  const std::string a = File("a.tif", {20});
  call.modem.Answer("AT+FCLASS=2.0\r", kOk)
      .Answer("AT+FBO=0\r", kOk)
      .Answer("AT+FLI=", kOk)
      .Answer("AT+FLO=2\r", kOk)
      .Answer("AT+FCC=?\r", "\r\nFAX\r\nOK\r\n")
      .Start();
  ASSERT_TRUE(call.Open("2.0"));
  EXPECT_EQ(call.Send20({a}, "1", nullptr, nullptr), kSessionFailed);
  const auto errors = TakeErrors();
  EXPECT_TRUE(HasMessage(errors, "Unknow modem AT+FCC command response.")) << Messages(errors);
}

TEST_F(Class2Sessions, APageThatCannotBeReadAbortsTheCall) {
  // The second page is 2048 pixels wide, which a fax file may not hold.
  const std::string a = (call.dir.path() / "wide.tif").string();
  {
    TiffOper tiff;
    ASSERT_EQ(tiff.OpenWriteTiff(a, CreateMode::Replace), 1);
    const auto data = test::CodeRows(20);
    for (std::uint32_t width : {1728u, 2048u}) {
      ASSERT_EQ(tiff.SetPageTags(width, 1, PAGE_FINE), 1);
      ASSERT_EQ(tiff.WriteFaxData(data.data(), data.size()), 1);
      ASSERT_EQ(tiff.EndPage(20), 1);
    }
    ASSERT_EQ(tiff.CloseWriteTiff(), 1);
  }
  Setup20();
  Dial20();
  Page20(false);
  call.modem.Expect("\x10\x2e").Send(kOk).Answer("AT+FKS\r", kOk);
  call.modem.Start();
  ASSERT_TRUE(call.Open("2.0"));
  FaxResult result;
  EXPECT_EQ(call.Send20({a}, "5551234", nullptr, &result), kSessionFailed);
  EXPECT_TRUE(call.modem.Finish()) << call.modem.Failure();
  const auto errors = TakeErrors();
  EXPECT_TRUE(HasMessage(errors, "Not support TIFF image width is not 1728 pixels."))
      << Messages(errors);
  EXPECT_EQ(result.pagesTransferred, 1u);
}

TEST_F(Class2Sessions, AnErrorToASetUpCommandFailsTheCall) {
  const std::string a = File("a.tif", {20});
  call.modem.Answer("AT+FCLASS=2.0\r", kOk)
      .Answer("AT+FBO=0\r", kOk)
      .Answer("AT+FLI=", "\r\nERROR\r\n")
      .Start();
  ASSERT_TRUE(call.Open("2.0"));
  EXPECT_EQ(call.Send20({a}, "1", nullptr, nullptr), kSessionFailed);
  EXPECT_TRUE(call.modem.Finish()) << call.modem.Failure();
  EXPECT_TRUE(HasMessage(TakeErrors(), "Modem return ERROR result."));
  EXPECT_EQ(call.modem.Received().find("AT+FLO"), std::string::npos);
}

// Cancels the job when the status shows the page given.
class CancelAtPage : public JobStatusObserver {
 public:
  CancelAtPage(JobControl& job, std::uint32_t page) : m_job(job), m_page(page) {}
  void JobStatusChanged() override {
    if (m_job.Status().total == m_page) m_job.Cancel();
  }

 private:
  JobControl& m_job;
  std::uint32_t m_page;
};

TEST_F(Class2Sessions, ACancelBetweenPagesEndsTheCallAfterThePageSent) {
  const std::string a = File("a.tif", {20, 20, 20});
  Setup20();
  Dial20();
  Page20(false);
  call.modem.Start();
  ASSERT_TRUE(call.Open("2.0"));
  CancelAtPage cancel(call.job, 2);
  call.job.SetObserver(&cancel);
  std::uint32_t resume = 0;
  FaxResult result;
  EXPECT_EQ(call.Send20({a}, "5551234", &resume, &result), kSessionFailed);
  call.job.SetObserver(nullptr);
  EXPECT_TRUE(call.modem.Finish()) << call.modem.Failure();
  const auto errors = TakeErrors();
  EXPECT_TRUE(HasMessage(errors, "User terminate the fax operation")) << Messages(errors);
  EXPECT_EQ(result.pagesTransferred, 1u);
  EXPECT_EQ(resume, ResumePosition::At(0, 1).Raw());
  EXPECT_EQ(test::SentPages(call.modem.Received()).size(), 1u);
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

TEST_F(Class2Sessions, Class20ReceivesPagesIntoANewFile) {
  ReceiveSetup20(call.modem);
  call.modem.Answer("AT+FDR\r", "\r\nCONNECT\r\n")
      .Expect("\x12")
      .SendSplit(ModemPage(60) + "\r\n+FPS:1,0,0,0,0\r\n\r\n+FET:0\r\n\r\nOK\r\n", 700, 5)
      .Answer("AT+FDR\r", "\r\nCONNECT\r\n")
      .Expect("\x12")
      .Send(ModemPage(45, 4) + "\r\n+FPS:1,0,0,0,0\r\n\r\n+FET:2\r\n\r\nOK\r\n")
      .Answer("AT+FDR\r", "\r\n+FHS:00\r\n\r\nOK\r\n");
  call.modem.Start();
  ASSERT_TRUE(call.Open("2.0"));
  const std::string file = (call.dir.path() / "in.tif").string();
  FaxResult result;
  EXPECT_EQ(call.Receive20(file, &result), kSessionDone);
  EXPECT_TRUE(call.modem.Finish()) << call.modem.Failure();
  const auto errors = TakeErrors();
  ASSERT_EQ(errors.size(), 1u) << Messages(errors);
  EXPECT_TRUE(HasMessage(errors, "End of page, got EOLs = 4", kMsgLogOnly));
  EXPECT_EQ(*errors[0].function, "RevClass20FaxPage");
  EXPECT_EQ(result.pagesTransferred, 2u);
  EXPECT_EQ(result.resolution, kResultResolutionFine);
  EXPECT_EQ(result.RemoteId(), u"SENDER 9");
  EXPECT_EQ(DecodedRows(file), (std::vector<std::uint32_t>{60, 45}));
  TiffOper check;
  ASSERT_EQ(check.OpenReadTiffHeader(file), 1);
  EXPECT_EQ(check.GetTotalPageNum(), 2);
  ASSERT_EQ(check.ReadTags(), 1);
  EXPECT_TRUE(check.PageInfo().flags & PAGE_FINE);
}

TEST_F(Class2Sessions, AReceiveHungUpDuringThePageKeepsTheFileReadable) {
  ReceiveSetup20(call.modem);
  call.modem.Answer("AT+FDR\r", "\r\nCONNECT\r\n")
      .Expect("\x12")
      .Send(ModemPage(30) + "\r\n+FET:0\r\n\r\nOK\r\n")
      .Answer("AT+FDR\r", "\r\n+FHS:70\r\n");
  call.modem.Start();
  ASSERT_TRUE(call.Open("2.0"));
  const std::string file = (call.dir.path() / "in.tif").string();
  FaxResult result;
  EXPECT_EQ(call.Receive20(file, &result), kSessionFailed);
  const auto errors = TakeErrors();
  EXPECT_TRUE(HasMessage(errors, "Unspecified receive phase B error.")) << Messages(errors);
  EXPECT_EQ(result.pagesTransferred, 1u);
  EXPECT_EQ(DecodedRows(file), (std::vector<std::uint32_t>{30}));
}

TEST_F(Class2Sessions, PageDataThatNeverEndsIsCutOffAndDrained) {
  ReceiveSetup20(call.modem);
  call.modem.Answer("AT+FDR\r", "\r\nCONNECT\r\n")
      .Expect("\x12")
      .Send(ModemPage(10).substr(0, 40))
      .Flood("\x55\xAA", 256 * 1024)
      .Answer("AT+FKS\r", kOk);
  call.modem.Start();
  ASSERT_TRUE(call.Open("2.0"));
  call.class20.SetPageDataLimit(64 * 1024);
  const std::string file = (call.dir.path() / "in.tif").string();
  FaxResult result;
  EXPECT_EQ(call.Receive20(file, &result), kSessionFailed);
  EXPECT_TRUE(call.modem.Finish()) << call.modem.Failure();
  const auto errors = TakeErrors();
  EXPECT_TRUE(HasMessage(errors, "The page data did not end after")) << Messages(errors);
  EXPECT_EQ(result.pagesTransferred, 0u);
}

// ---- Class 2 ----

constexpr const char* kCaps2 = "\r\n+FDCC: (0,1),(0-5),(0-4),(0-2),(0-3),0,0,(0-7)\r\n\r\nOK\r\n";

void Setup2(test::PtyModem& modem, const std::string& dial) {
  modem.Answer("AT+FCLASS=2\r", kOk)
      .Answer("AT+FLID=\"           VEXO TEST\"\r", kOk)
      .Answer("AT+FDCC=?\r", kCaps2)
      .Answer("AT+FDCC=1,5,0,2,0,0,0,0\r", kOk)
      .Answer(dial,
              "\r\n+FCON\r\n\r\n+FCSI:\" FAR END \"\r\n\r\n+FDCS:1,5,0,2,0,0,0,0\r\n\r\nOK\r\n");
}

void Page2(test::PtyModem& modem, bool last, const char* answer = "\r\n+FPTS:1\r\n\r\nOK\r\n") {
  modem.Answer("AT+FDT\r", "\r\nCONNECT\r\n\x11")
      .Expect("\x10\x03")
      .Send(kOk)
      .Answer(last ? "AT+FET=2\r" : "AT+FET=0\r", answer);
}

TEST_F(Class2Sessions, Class2SendsThreeFinePagesAfterXon) {
  const std::string a = File("a.tif", {50, 40, 30});
  Setup2(call.modem, "ATX4DT777\r");
  Page2(call.modem, false);
  Page2(call.modem, false);
  Page2(call.modem, true, "\r\n+FPTS:1\r\n\r\n+FHNG:0\r\n\r\nOK\r\n");
  call.modem.Start();
  ASSERT_TRUE(call.Open("2"));
  std::uint32_t resume = 0;
  FaxResult result;
  EXPECT_EQ(call.Send2({a}, "777", &resume, &result), kSessionDone);
  EXPECT_TRUE(call.modem.Finish()) << call.modem.Failure();
  const auto errors = TakeErrors();
  EXPECT_TRUE(errors.empty()) << Messages(errors);
  EXPECT_EQ(result.pagesTransferred, 3u);
  EXPECT_EQ(result.RemoteId(), u"FAR END");
  const auto pages = test::SentPages(call.modem.Received());
  ASSERT_EQ(pages.size(), 3u);
  const std::uint32_t header = HeaderRowsOf(a, false);
  const std::uint32_t rows[] = {50, 40, 30};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(RowsSent(pages[i]), header + rows[i]) << "page " << i;
}

TEST_F(Class2Sessions, Class2DialsAnEmptyNumberWithAtdAndNeedsXon) {
  const std::string a = File("a.tif", {20});
  Setup2(call.modem, "ATD\r");
  call.modem.Answer("AT+FDT\r", "\r\nCONNECT\r\n");  // no XON follows
  call.modem.Start();
  ASSERT_TRUE(call.Open("2"));
  FaxResult result;
  EXPECT_EQ(call.Send2({a}, "", nullptr, &result), kSessionFailed);
  EXPECT_TRUE(call.modem.Finish()) << call.modem.Failure();
  const auto errors = TakeErrors();
  EXPECT_TRUE(HasMessage(errors, "Timeout waiting for modem response.")) << Messages(errors);
  EXPECT_EQ(result.pagesTransferred, 0u);
  // Not a byte of the page went: the modem never said it was ready.
  const auto pages = test::SentPages(call.modem.Received());
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_TRUE(pages[0].empty());
}

TEST_F(Class2Sessions, Class2ReportsARefusedPage) {
  const std::string a = File("a.tif", {20});
  Setup2(call.modem, "ATX4DT777\r");
  Page2(call.modem, true, "\r\n+FPTS:2\r\n\r\nOK\r\n");
  call.modem.Start();
  ASSERT_TRUE(call.Open("2"));
  FaxResult result;
  EXPECT_EQ(call.Send2({a}, "777", nullptr, &result), kSessionPartly);
  const auto errors = TakeErrors();
  ASSERT_EQ(errors.size(), 1u) << Messages(errors);
  EXPECT_EQ(errors[0].message, "Page 1 was refused by the remote fax machine.");
  EXPECT_EQ(*errors[0].module, "FClass2Func");
  EXPECT_EQ(result.pagesTransferred, 1u);
}

TEST_F(Class2Sessions, Class2HangupCodesAreDecimal) {
  const std::string a = File("a.tif", {20, 20});
  Setup2(call.modem, "ATX4DT777\r");
  Page2(call.modem, false, "\r\n+FHNG:50\r\n");
  call.modem.Start();
  ASSERT_TRUE(call.Open("2"));
  EXPECT_EQ(call.Send2({a}, "777", nullptr, nullptr), kSessionFailed);
  const auto errors = TakeErrors();
  EXPECT_TRUE(HasMessage(errors, "Unspecified transmit phase D error.")) << Messages(errors);
}

TEST_F(Class2Sessions, Class2ReceivesAtNormalResolutionWhenTheModemOffersNoMore) {
  call.modem.Answer("AT+FCLASS=2\r", kOk)
      .Answer("AT+FLID=\"           VEXO TEST\"\r", kOk)
      .Answer("AT+FDCC=?\r", "\r\n+FDCC: 0,(0-3),0,2,0,0,0,(0-7)\r\n\r\nOK\r\n")
      .Answer("AT+FDCC=0,3,0,2,0,0,0,0\r", kOk)
      .Answer("AT+FCR=1\r", kOk)
      .Answer("ATA\r",
              "\r\n+FCON\r\n\r\n+FTSI:\"CALLER\"\r\n\r\n+FDCS:0,3,0,2,0,0,0,0\r\n\r\nOK\r\n");
  // Class 2 data arrives as stored: most significant bit first here.
  std::string page;
  for (std::uint8_t b : test::CodeRows(33)) {
    page.push_back(static_cast<char>(b));
    if (b == 0x10) page.push_back(static_cast<char>(b));
  }
  call.modem.Answer("AT+FDR\r", "\r\nCONNECT\r\n")
      .Expect("\x12")
      .Send(page + "\x10\x03\r\n+FPTS:1\r\n\r\n+FET:2\r\n\r\nOK\r\n")
      .Answer("AT+FDR\r", "\r\n+FHNG:0\r\n\r\nOK\r\n");
  call.modem.Start();
  ASSERT_TRUE(call.Open("2"));
  const std::string file = (call.dir.path() / "in2.tif").string();
  FaxResult result;
  EXPECT_EQ(call.Receive2(file, &result), kSessionDone);
  EXPECT_TRUE(call.modem.Finish()) << call.modem.Failure();
  const auto errors = TakeErrors();
  EXPECT_TRUE(errors.empty()) << Messages(errors);
  EXPECT_EQ(result.resolution, kResultResolutionNormal);
  EXPECT_EQ(result.RemoteId(), u"CALLER");
  EXPECT_EQ(DecodedRows(file), (std::vector<std::uint32_t>{33}));
}

}  // namespace
}  // namespace vexo
