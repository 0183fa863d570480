// Class2xFunc runs one fax call over a modem that carries out T.30 itself and
// is driven with AT+F commands: service Class 2.0 (T.32) and the older Class 2
// share this code, their differences (command and report names, the waits
// for XON and the page end) read from a Class2Dialect. It sets the modem up,
// dials or answers, sends the pages the PageFeed walks through PageSender,
// receives through PageReceiver and fills the FaxResult. FClass20Func and FClass2Func are
// the two named faces the fax kernel calls.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/job_control.h"
#include "document/fax_coding.h"
#include "modem/fax_comm_func.h"
#include "modem/win_com_ce.h"
#include "platform/serial/comm_types.h"
#include "protocol/fax_result.h"
#include "protocol/page_feed.h"
#include "protocol/page_sender.h"

namespace vexo {

class LogFile;
class TiffOper;

// A received page is far smaller: a fine A4 page is well under a megabyte.
constexpr std::uint64_t kDefaultPageDataLimit = 32u * 1024 * 1024;

// What tells the two command sets apart.
struct Class2Dialect {
  bool class20;        // Class 2.0 (T.32) when true, else Class 2
  const char* module;  // error pool module
  const char* sendFunction;
  const char* receiveFunction;
  const char* pageFunction;       // reports of the page receiver
  const char* accessFunction;     // reports of the receive data reads
  const char* localIdCommand;     // "AT+FLI=\"%s\""
  const char* capabilityQuery;    // "AT+FCC=?"
  const char* capabilitySet;      // "AT+FCC=%s"
  const char* unknownCapability;  // message for an answer without parameters
  const char* connected;          // remote answered: "+FCO"
  const char* hangup;             // "+FHS:"
  const char* remoteIdSend;       // "+FCI:"
  const char* remoteIdReceive;    // "+FTI:"
  const char* parameters;         // "+FCS:"
  const char* pageStatus;         // "+FPS:"
  const char* abortCommand;       // "AT+FKS"
  int hangupClass;                // class argument of ReportHangupCodeError
  // The EC values that switch error correction (T.30 Annex A) on, with frames
  // of 256 and of 64 octets; 0 where the command set has no such value.
  std::uint8_t ecm256;
  std::uint8_t ecm64;
};

// Every wait of a call, in milliseconds. The defaults are the modem's usual
// answer times; tests shorten them.
struct Class2Timeouts {
  std::uint32_t command = 5000;          // a set-up command's OK
  std::uint32_t dialFirst = 70000;       // the first answer to the dial command
  std::uint32_t dialFurther = 20000;     // each further read while dialling
  std::uint32_t pageConnect = 35000;     // CONNECT (and XON) after AT+FDT
  std::uint32_t pageEndOk = 80000;       // OK after a Class 2 page's DLE ETX
  std::uint32_t postPageFirst = 60000;   // the answer to the page end (Class 2: 30000)
  std::uint32_t postPageFurther = 5000;  // each further read of it
  std::uint32_t abortOk = 30000;         // OK after the abort escape
  std::uint32_t answerFirst = 70000;     // the answer phase of a receive
  std::uint32_t answerFurther = 20000;   // (Class 2: 10000)
  std::uint32_t receiveRead = 30000;     // total read constant during reception
  std::uint32_t drainRead = 10000;       // read constant while draining after an abort
  std::uint32_t drainTotal = 60000;      // longest drain
  std::uint32_t finalFirst = 30000;      // the answer to the last AT+FDR
  std::uint32_t finalFurther = 5000;
  std::uint32_t writeConstant = 30000;  // write constant during the page phase
};

// The eight T.32 session parameters, in their order.
enum SessionParam : std::size_t { kVR, kBR, kWD, kLN, kDF, kEC, kBF, kST };
using SessionParams = std::array<std::uint8_t, kFaxParamFields>;

// DF values of the three codings: T.4 one-dimensional, two-dimensional, T.6.
constexpr std::uint8_t kDfMh = 0;
constexpr std::uint8_t kDfMr = 1;
constexpr std::uint8_t kDfMmr = 3;
std::uint8_t DfOfCoding(FaxCoding coding);
// The coding of a DF value; 2 (MR with uncompressed mode) is MR, unknown ones MH.
FaxCoding CodingOfDf(std::uint8_t df);
// LN values of the three recording lengths.
constexpr std::uint8_t kLnA4 = 0;
constexpr std::uint8_t kLnB4 = 1;
constexpr std::uint8_t kLnUnlimited = 2;
// The LN a send asks for: A4 for pages that fit it (A4, Letter); a longer
// page (Legal) takes unlimited length or B4, whichever the modem offers
// (offeredLn, a mask as OfferedValues gives it), and A4 when it offers neither.
std::uint8_t PageLengthParam(std::uint32_t offeredLn, bool longPage);
// The values a capability answer such as "(0,1),(0-5),...,(0-3),(0-2),..."
// offers in one field (0 = VR), as a mask of bits 0 to 31; decimal values.
std::uint32_t OfferedValues(std::string_view capabilities, std::size_t field);

// The parameters formatted for the modem: "%x,%d,%d,%d,%d,%d,%x,%d".
std::string FormatSessionParams(const SessionParams& params);
// Table lookups; parameters past a table take its last row (BR, ST) or row 0
// (WD, reported under module, function).
std::uint32_t BitRateOf(std::uint8_t br);
std::uint32_t ScanTimeOf(std::uint8_t st, std::uint8_t vr);
std::uint32_t PageWidthOf(std::uint8_t wd, const char* module, const char* function);
// The 20-character local identifier field: right-aligned, space-filled.
std::string LocalIdField(std::string_view localIdUtf8);
// The remote identifier of a "+FCI:"-like line: at most 20 characters.
std::string RemoteIdOf(const char* line);
// Index of the line that holds the capability parameters: going back from the
// last line kept, the first holding a digit, "(", ")" or ","; -1 when none.
int CapabilityLine(std::span<const std::string> kept);

class Class2xFunc : public FaxCommFunc, private PageSteps {
 public:
  explicit Class2xFunc(const Class2Dialect& dialect);
  ~Class2xFunc() override;

  // Debug lines go to the system log when one is set, else to the debug output.
  void SetSystemLog(LogFile* log) { m_systemLog = log; }
  // Names on the page header (the sender's full name and the recipient).
  void SetHeaderParties(std::string sender, std::string recipient);
  void SetTimeouts(const Class2Timeouts& timeouts) { m_timeouts = timeouts; }
  // Most bytes one received page may take from the modem before the call is
  // aborted (a modem that never ends the page must not fill the disk).
  void SetPageDataLimit(std::uint64_t bytes) { m_pageDataLimit = bytes; }
  const Class2Timeouts& Timeouts() const { return m_timeouts; }
  // What the session parameters may offer and choose: error correction, and
  // the highest coding (MMR only with error correction). Without a call the
  // object offers neither (MH, no ECM).
  void SetCodingLimits(bool ecmAllowed, FaxCoding highest) {
    m_ecmAllowed = ecmAllowed;
    m_highestCoding = highest;
  }
  // What the modem's last parameter report (or, before one, the parameters
  // set) says the call's page data use.
  const LinkCoding& Link() const { return m_link; }

  // Texts are UTF-8. Returns kSessionDone, kSessionPartly (all pages went,
  // some were refused) or kSessionFailed. resume and result may be null.
  int Send(std::span<const std::string> files, std::string_view number, std::string_view localId,
           std::uint32_t* resume, FaxResult* result);
  // Returns kSessionDone or kSessionFailed.
  int Receive(const std::string& fileName, std::string_view localId, FaxResult* result);

 private:
  struct Raw;

  // Set-up and parameters.
  bool CommandOk(const char* format, const char* argument);
  bool QueryCapabilities(const char* function);
  // DF and EC from what the modem offers and the limits allow.
  void ChooseCoding();
  void ApplyReport(const char* line);
  void NoteLink();
  // Pages.
  bool Dial(std::string_view number, FaxResult* result);
  // The page steps the page feed drives.
  bool TransmitPage(TiffOper& tiff, std::uint32_t pageNo, std::uint32_t total) override;
  PageAnswer AnswerPage(bool last, std::uint32_t pageNo, std::uint32_t total) override;
  void EndUnreadable() override { AbortSend(); }
  void AbortSend();
  bool WaitPageConnect();
  PageSendResult SendPageData(TiffOper& tiff, std::uint32_t pageNo, std::uint32_t total);
  PageSendResult SendStoredPage(TiffOper& tiff, std::uint32_t bitRate);
  PageSendResult SendCodedPage(TiffOper& tiff, FaxCoding coding, std::uint32_t bitRate);
  PageSendResult Stream(PageSender& sender, const std::uint8_t* data, std::size_t size);
  // The far end's answer to a page: confirmed once a post-page status, OK or a
  // normal hang-up arrived.
  PageAnswer PostPage(bool last, std::uint32_t pageNo);
  // Reception.
  int AnswerPhase(FaxResult* result);
  int ReceivePages(TiffOper& tiff, FaxResult* result);
  int ReceivePage(TiffOper& tiff, Raw& raw, FaxCoding coding, std::uint32_t width, bool fine);
  int ReadChunk(Raw& raw, Channel channel);
  int NextRawLine(Raw& raw, std::string& line, bool& timedOut);
  int FinalAnswer();
  void AbortReceive();
  // Helpers.
  bool Cancelled() const;
  bool WritePageBytes(const std::uint8_t* bytes, std::size_t count);
  void Debug(const char* format, ...) __attribute__((format(printf, 2, 3)));
  bool SetTimeouts(const COMMTIMEOUTS& timeouts);
  void ShowStatus(unsigned id);
  template <typename... Args>
  void ShowStatusF(unsigned id, Args... args) {
    if (m_job) m_job->SetStatusFormat(id, args...);
  }

  const Class2Dialect& m_dialect;
  Class2Timeouts m_timeouts;
  LogFile* m_systemLog = nullptr;
  std::string m_sender;
  std::string m_recipient;
  SessionParams m_params{};
  std::uint32_t m_offeredDf = 0;  // masks of the modem's capability answer
  std::uint32_t m_offeredEc = 0;
  std::uint32_t m_offeredLn = 0;
  bool m_ecmAllowed = false;
  FaxCoding m_highestCoding = FaxCoding::kMh;
  LinkCoding m_link;
  std::string m_linkShown;  // the link text the status line showed last in this call
  std::uint32_t m_resolution = 0;
  bool m_pacing = false;
  std::uint32_t m_progressTotal = 0;
  std::uint64_t m_pageDataLimit = kDefaultPageDataLimit;
  std::vector<std::uint8_t> m_buffer;  // the page buffer of the call
};

}  // namespace vexo
