// FClass1Func: the Class 1 fax protocol object. With a Class 1 modem the
// program runs T.30 itself; this object holds what both call directions share:
// the modem's modulations, the DIS/DCS capability choice, HDLC frames sent and
// received through AT+FTH/AT+FRH with their retry rule, the modem's result
// words and the fallback to a lower speed. The fax kernel owns one; the
// transmit and receive sessions are built on it. Reports go under "FClass1Func".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/job_control.h"
#include "modem/fax_comm_func.h"
#include "protocol/class1_ecm_send.h"
#include "protocol/class1_tables.h"
#include "protocol/fax_result.h"
#include "protocol/page_feed.h"
#include "protocol/page_sender.h"
#include "protocol/t30_timers.h"

namespace vexo {

class TiffOper;
struct ReceivedPage;
enum class Channel;

// One item of a read from the modem: a text line (upper-cased) or an HDLC frame
// (address, control, FCF, information field, the two check bytes; no DLE ETX).
struct Class1Item {
  bool isFrame = false;
  std::string text;
  std::vector<std::uint8_t> frame;

  std::uint8_t Control() const { return frame.size() > 1 ? frame[1] : 0; }
  std::uint8_t Fcf() const { return frame.size() > 2 ? frame[2] : 0; }
  bool Final() const { return Control() == kControlFinal; }
  bool Is(std::uint8_t fcfValue) const { return isFrame && SameFcf(Fcf(), fcfValue); }
  // The information field: after the FCF, without the two check bytes.
  std::span<const std::uint8_t> Fif() const;
};

using Class1Items = std::vector<Class1Item>;

// Result words of the modem, in the order ClassifyResult tries them.
enum ResultWord : int {
  kWordPartial = -2,
  kWordNone = -1,
  kWordOk = 0,
  kWordError = 1,
  kWordConnect = 2,
  kWordNoCarrier = 3,
  kWordNoAnswer = 4,
  kWordNoDialtone = 5,
  kWordNoDialTone2 = 6,
  kWordBusy = 7,
  kWordFcError = 8,
};

// The index of the result word text begins with; kWordPartial when text is the
// beginning of a word (a line cut by the end of a read), else kWordNone.
int ClassifyResult(std::string_view text);

// Identifier fields of CSI and TSI.
constexpr std::size_t kStationIdBytes = 20;
using StationIdField = std::array<std::uint8_t, kStationIdBytes>;

// The far end's answer to a post-page message (MPS or EOP).
enum class PostPageAnswer {
  kConfirmed,   // MCF
  kRetrain,     // RTP: the page is confirmed; DCS and training before the next one
  kRefused,     // RTN: DCS and training, then the page again
  kUnanswered,  // none of these after every try: the page is unconfirmed
};

// What one AT+FRH=3 brought.
enum class Heard {
  kFrame,          // a frame (items hold it)
  kDisconnect,     // DCN
  kRepeatRequest,  // CRP
  kDamaged,        // ERROR, +FCERROR or NO CARRIER: the modem is in command state
  kSilence,        // nothing in time: the reception was stopped with CAN
  kPortFailed,
};

// The items end with a final result line (not CONNECT): the modem is in
// command state.
bool EndsWithResult(const Class1Items& items);
// The first frame among the items; null when none came.
const Class1Item* FirstFrame(const Class1Items& items);

// How GetFrame repeats the last frame sent on its second and third attempts.
enum class RepeatMode { kNever = 0, kOnCrp = 1, kAlways = 2 };

constexpr std::size_t kFrameItemsMax = 10;
constexpr std::uint32_t kFrameWaitMs = 20;  // before every command

// The waits of a Class 1 call, in milliseconds. Tests shorten them; a call
// uses the defaults.
struct Class1Timeouts {
  std::uint32_t dialFirst = 70000;  // answer, CSI and DIS after dialling
  // DIS after the answer or after a repeated CSI (T1).
  std::uint32_t disAfterAnswer = t30::kT1Ms;
  // CFR/FTT and MCF/RTP/RTN, per try (T4 with its tolerance).
  std::uint32_t trainAnswer = t30::kT4Ms + t30::kT4ToleranceMs;
  std::uint32_t postPageAnswer = t30::kT4Ms + t30::kT4ToleranceMs;
  std::uint32_t pageOk = 60000;           // the modem's OK after page data
  std::uint32_t answerConnect = 15000;    // CONNECT after ATA
  std::uint32_t dcsPass = 3000;           // DCS after CSI and DIS, per pass
  std::uint32_t tcfData = 30000;          // training check data
  std::uint32_t tcfNoCarrier = 10000;     // NO CARRIER after the training check
  std::uint32_t dcsAfterFtt = 5000;       // new DCS after FTT, per attempt
  std::uint32_t postPageMessage = 10000;  // MPS/EOP, per attempt (receiver)
  std::uint32_t pageData = 30000;         // page data reads
  std::uint32_t drain = 10000;            // drain after a failed page
};

class FClass1Func : public FaxCommFunc, private PageSteps {
 public:
  FClass1Func() = default;

  void SetTimeouts(const Class1Timeouts& timeouts) { m_timeouts = timeouts; }
  // What the capability exchange may offer and choose: ECM, and the highest
  // coding. Without a call the object offers neither (MH, no ECM).
  void SetCodingLimits(bool ecmAllowed, FaxCoding highest) {
    m_ecmAllowed = ecmAllowed;
    m_highestCoding = highest;
  }
  // What the last DCS sent or received settled.
  const LinkCoding& Link() const { return m_link; }
  // Names on the page header (the sender's full name and the recipient).
  void SetHeaderParties(std::string sender, std::string recipient) {
    m_sender = std::move(sender);
    m_recipient = std::move(recipient);
  }

  // ---- transmit session (class1_send.cc) ----
  // Sends the pages of the files as one fax. Texts are UTF-8. Returns
  // kSessionDone, kSessionPartly (a page refused after every resend, or the
  // last page unconfirmed: resume points at it) or kSessionFailed. resume and
  // result may be null.
  int SendFAXClass1(std::span<const std::string> files, std::string_view number,
                    std::string_view localId, std::uint32_t* resume, FaxResult* result);
  enum class PhaseA {
    kTrained,       // the training was confirmed (CFR)
    kModemFailed,   // the dial or the modem failed (reported)
    kNoAnswer,      // nothing in time
    kDisconnected,  // the remote sent DCN
    kFailed,        // any other failure
  };
  PhaseA ProcessSendPhaseA(FaxResult* result, std::uint32_t pageFlags, CapabilityBytes& dcs,
                           const StationIdField& tsi);
  enum class Training { kConfirmed, kFailed, kRemoteRestarted /* CSI again */ };
  Training ProcessTrain(CapabilityBytes& dcs, const StationIdField& tsi);
  int SendTrainSeq();
  PageSendResult SendClass1FaxPage(TiffOper& tiff);
  PostPageAnswer SendPostPageMessage(std::uint32_t pagesLeft);

  // ---- receive session (class1_receive.cc) ----
  // Answers and receives into a new fax file. Returns kSessionDone or kSessionFailed.
  int ReceiveFAXClass1(const std::string& fileName, std::string_view localId, FaxResult* result);
  // How phase B begins: after ATA (the modem already sends flags), with CSI
  // and DIS for a new document after EOM, or listening for the caller's DCS
  // after RTN (CSI and DIS follow when it does not come).
  enum class PhaseBStart { kAfterAnswer, kInvite, kListen };
  int ProcessRevPhaseA(const StationIdField& csi, FaxResult* result, int tries,
                       PhaseBStart start = PhaseBStart::kAfterAnswer);
  int RevTrainSeqLoop(FaxResult* result);
  enum class TrainCheck {
    kGood,          // a good training check, then NO CARRIER
    kBad,           // a bad one, or none
    kWrongCarrier,  // "+FCERROR"
    kPortFailed,    // the port's timeouts could not be set
  };
  TrainCheck CheckTrainData();
  // The page data after CONNECT into page; 0 page complete, -1 read failed or timed out.
  int RevClass1FaxPage(ReceivedPage& page, std::span<const std::uint8_t> first);

  // ---- modem setup ----
  // Asks the modem for its modulations: "AT+FTM=?" or "AT+FRM=?".
  enum class ModulationQuery { kReceive = 0, kTransmit = 1 };
  int QueryBRCap(ModulationQuery direction);
  // Fills the modulation set from the answer lines; 1 when a usable line came.
  int AnalysisMod(const std::vector<std::string>& lines);

  // ---- capability exchange ----
  // Transmitter: chooses the modulation from a received DIS and builds the DCS.
  int AnalysisDIS(const Class1Item& dis, std::uint32_t pageFlags, CapabilityBytes& dcs);
  // Transmitter: ECM and the coding for a DIS's offer within the limits.
  LinkCoding ChooseLink(const CapabilityBytes& offered) const;
  // Receiver: takes over the caller's choices from a received DCS.
  int AnalysisDCS(const Class1Item& dcs);
  // Receiver: the DIS offered for the modulation set.
  void BuildDIS(CapabilityBytes& dis) const;
  // Moves to the next lower modulation the modem offers and rewrites the DCS
  // rate bits; 0 when none is left above V.21.
  int FallBack(CapabilityBytes& dcs);

  // ---- identifiers ----
  static StationIdField BuildStationIdField(std::string_view localIdUtf8);
  // The identifier a CSI or TSI information field carries, as UTF-8.
  static std::string DecodeStationId(std::span<const std::uint8_t> fif);

  // ---- HDLC frame support ----
  // "AT+FTH=<code>" and one frame; 1 or 0. The frame is remembered for repetition.
  int SendFrame(const char* format, const char* code, bool final, std::uint8_t fcfValue,
                std::span<const std::uint8_t> data, bool reverseBits);
  // The next frame of the same transmission (no command).
  int SendNextFrame(bool final, std::uint8_t fcfValue, std::span<const std::uint8_t> data,
                    bool reverseBits);
  // Up to maxItems items within timeoutMs (a deadline for the whole read): the
  // number of items, 0 on timeout, -1 on a port failure.
  int ReadFrameList(Class1Items& items, std::size_t maxItems, std::uint32_t timeoutMs, bool report);
  // "AT+FRH=3" and a frame, in at most three attempts; 1 when a frame arrived.
  // report false keeps its failures out of the error pool.
  int GetFrame(Class1Items& items, std::size_t maxItems, std::uint32_t timeoutMs, RepeatMode mode,
               bool report = true);
  // One AT+FRH=3 and the response to a command within timeoutMs; the modem
  // is in command state afterwards.
  Heard ListenOnce(Class1Items& items, std::size_t maxItems, std::uint32_t timeoutMs);
  static bool HasNonFinalFrame(const Class1Items& items);

  // ---- result lines ----
  int CheckCmdResponse1(const std::vector<std::string>& lines, std::uint32_t timeoutMs,
                        bool report);
  int CheckCmdResponse2(std::uint32_t timeoutMs, bool report);
  int WaitNoCarrier(std::uint32_t timeoutMs, bool report);
  // Stops a running AT+FRH / AT+FRM with CAN.
  int AbortReceive();

  // ---- state ----
  int Modulation() const { return m_modulation; }
  void SetModulation(int index) { m_modulation = index; }
  std::uint32_t ModulationSet() const { return m_modulationSet; }
  void SetModulationSet(std::uint32_t set) { m_modulationSet = set; }
  int LowestModulation() const { return m_lowest; }
  int HighestModulation() const { return m_highest; }
  std::uint32_t MinScanTimeMs() const { return m_minScanMs; }
  std::uint32_t PageWidth() const { return m_pageWidth; }
  bool Fine() const { return m_fine; }
  bool RemoteFine() const { return m_remoteFine; }
  bool Offers(int index) const {
    return index >= 0 && index < kModulationCount && (m_modulationSet >> index) & 1u;
  }

 protected:
  // The last frame sent, for repetition.
  struct LastFrame {
    bool final = true;
    std::uint8_t fcfValue = 0;
    std::vector<std::uint8_t> data;
    bool reverseBits = false;
  };

  // Writes one stuffed frame and waits for the modem's answer to it.
  int WriteFrameBytes(bool final, std::uint8_t fcfValue, std::span<const std::uint8_t> data,
                      bool reverseBits);
  // One decision over lines: 1 OK/CONNECT, 0 ERROR/NO CARRIER, -1 none.
  static int DecideLines(const std::vector<std::string>& lines, const char* function, bool report);

  // Transmit helpers: the page steps the page feed drives, and the writes.
  bool TransmitPage(TiffOper& tiff, std::uint32_t pageNo, std::uint32_t total) override;
  PageAnswer AnswerPage(bool last, std::uint32_t pageNo, std::uint32_t total) override;
  void EndSent() override { SendDcn(); }
  void AbortSend();
  bool WritePageChunked(const std::uint8_t* bytes, std::size_t count);
  bool WriteData(const std::uint8_t* bytes, std::size_t count);
  void SendDcn();
  // The silence between the end of high-speed data and a V.21 command
  // (AT+FTS=8: 80 ms, T.30's 75 ms with room); false without the modem's OK.
  bool PauseBeforeV21();
  // ---- ECM transmit (class1_ecm_send.cc) and pages coded for the line ----
  // How the partial pages of a page ended: confirmed (MCF), given up (EOR),
  // unanswered, or the modem failed.
  enum class EcmEnd { kConfirmed, kGivenUp, kUnanswered, kFailed };
  // Codes the page for the line and sends it in partial pages, each until
  // confirmed; false when the modem failed. m_ecmEnd tells how the page ended.
  bool TransmitEcmPage(TiffOper& tiff, std::uint32_t pageNo, std::uint32_t total);
  PageAnswer AnswerEcmPage(bool last, std::uint32_t pageNo);
  // One partial page with PPS (its fcf2, page and block counts), frames
  // again as PPR asks, CTC or EOR after the fourth PPR.
  EcmEnd SendEcmBlock(std::span<const std::uint8_t> block, std::uint8_t fcf2, std::uint8_t page,
                      std::uint8_t blockNo);
  // The frames of block that frames names and the RCPs, on the high-speed carrier.
  bool WriteEcmFrames(std::span<const std::uint8_t> block, const ecm::FrameSet& frames);
  // A command after a partial page and its answer; RNR is asked again with
  // RR until T5 runs out. nullopt when no answer came.
  std::optional<Class1Item> EcmCommand(std::uint8_t fcfValue, std::span<const std::uint8_t> fif,
                                       bool reverseBits);
  bool ContinueToCorrect();                     // CTC, answered by CTR
  EcmEnd EndRetransmission(std::uint8_t fcf2);  // EOR, answered by ERR
  // Page data already coded for the line (MSB first, no RTC): fill, RTC of
  // coding, DLE ETX.
  PageSendResult SendCodedPage(std::span<const std::uint8_t> coded, FaxCoding coding);
  // Stuffed high-speed data, then DLE ETX; false when the modem did not take it.
  bool WriteDataEnd(std::span<const std::uint8_t> stuffed);
  void EndFailedData();
  // ---- ECM receive (class1_ecm_receive.cc) ----
  // One page in error correction mode: partial pages through AT+FRM, each
  // answered after the caller's PPS with MCF or with PPR for the frames
  // missing, CTC with CTR, EOR with ERR. The page is checked, stored in the
  // coding it came in and confirmed; returns its post-page message (MPS, EOP
  // or EOM), 0 after a report; a page the call ends inside keeps its
  // confirmed blocks as far as they decode.
  std::uint8_t ReceiveEcmPage(TiffOper& tiff);
  struct EcmPage;
  std::uint8_t ReceiveEcmBlocks(EcmPage& page, TiffOper& tiff);
  // What follows a partial page's command and its answer.
  enum class EcmNext { kBurst, kCommand, kPageDone, kFailed };
  enum class EcmBurst { kEnded, kCommand /* V.21 instead */, kFailed };
  EcmBurst ReceiveEcmBurst(EcmPage& page);
  bool ReadEcmFrames(EcmPage& page, std::vector<std::uint8_t> chunk);
  // The caller's PPS, CTC, EOR or RR; nullopt after a report.
  std::optional<Class1Item> AwaitEcmCommand();
  EcmNext TakeEcmCommand(const Class1Item& command, EcmPage& page, TiffOper& tiff);
  EcmNext TakePps(std::span<const std::uint8_t> fif, EcmPage& page, TiffOper& tiff);
  EcmNext TakeCtc(std::span<const std::uint8_t> fif, EcmPage& page);
  EcmNext TakeEor(std::span<const std::uint8_t> fif, EcmPage& page, TiffOper& tiff);
  EcmNext EndEcmPage(std::uint8_t fcf2, std::uint8_t response, EcmPage& page, TiffOper& tiff);
  bool FileEcmPage(TiffOper& tiff, const EcmPage& page);
  bool SendEcmResponse(std::uint8_t fcfValue, std::span<const std::uint8_t> fif = {});
  // The last partial page confirmed (page and block counts of its PPS) and
  // our answer, sent again when the caller repeats its PPS or EOR.
  struct EcmConfirmed {
    std::uint8_t page = 0;
    std::uint8_t block = 0;
    std::uint8_t response = 0;
  };
  std::optional<EcmConfirmed> m_ecmConfirmed;
  // Receive helpers.
  // What AT+FRM brought before its data: CONNECT (first holds the data after
  // it), +FCERROR (V.21 on the line), NO CARRIER or ERROR, or nothing in time.
  enum class Carrier { kConnected, kV21, kLost, kTimeout };
  Carrier AwaitCarrier(std::vector<std::uint8_t>& first);
  int ReadPageChunk(std::vector<std::uint8_t>& chunk, Channel channel);
  // The training check and CFR, then the page data timeouts; reported.
  bool Train(FaxResult* result);
  // The caller's next command heard with AT+FRH within windowMs: its DCS
  // (taken), a post-page message (in message), DCN, a damaged frame (the
  // modem is in command state) or nothing. A CRP gets our last frame again.
  enum class Command { kDcs, kPostPage, kDisconnect, kDamaged, kSilence, kFailed };
  Command ListenForCommand(std::uint32_t windowMs, FaxResult* result, std::uint8_t& message);
  static std::uint8_t PostPageMessage(const Class1Items& items);
  bool RepeatLastFrame();
  // The caller's new DCS after our FTT, in T.30's tries; the FTT goes again
  // when nothing (or the caller's repeated command) comes.
  bool AwaitDcs(std::uint32_t windowMs, FaxResult* result);
  // MPS, EOP or EOM after a page (0 after a report); a damaged one gets CRP.
  std::uint8_t AwaitPostPageMessage(FaxResult* result);
  // After MCF to EOP or EOM: what the caller sends next, its repeated message
  // (our MCF was lost) being confirmed again.
  Command ConfirmRepeats(std::uint32_t windowMs, FaxResult* result);
  // AT+FRM and the page's data; V.21 instead (a repeated command) is answered.
  bool ReceivePage(ReceivedPage& page, FaxResult* result);
  bool TakeV21Command(FaxResult* result);
  bool StorePage(TiffOper& tiff, const ReceivedPage& page);
  // A page the call ended inside (stored bit order): kept with the rows that
  // arrived whole, or left out when none did.
  void KeepCutPage(TiffOper& tiff, std::span<const std::uint8_t> coded, std::uint32_t width);
  int FailReceive(TiffOper& tiff, FaxResult* result);
  // The DCS of a batch (with the TSI before it).
  enum class DcsTaken { kTaken, kRefused, kNone };
  DcsTaken TakeDcs(const Class1Items& items, FaxResult* result);

  void ShowStatus(unsigned id);
  template <typename... Args>
  void ShowStatusF(unsigned id, Args... args) {
    if (m_job) m_job->SetStatusFormat(id, args...);
  }
  bool Cancelled();

  Class1Timeouts m_timeouts;
  std::string m_sender;
  std::string m_recipient;
  std::uint32_t m_minLineBytes = 0;
  std::uint32_t m_progressTotal = 1;
  // Transmit state between pages: the DCS and TSI for a new training, and
  // what RTN and RTP asked for.
  struct Transmit {
    CapabilityBytes dcs{};
    StationIdField tsi{};
    bool retrain = false;       // DCS and training before the next page
    int resends = 0;            // of the page now going
    int rtnModulation = -1;     // the modulation the last RTN came at
    int rtnsThere = 0;          // RTNs at it
    bool ecmLongTrain = false;  // after CTC: the next partial page trains long
  } m_tx;
  std::vector<std::uint8_t> m_pending;  // page bytes waiting for the next chunk write
  EcmEnd m_ecmEnd = EcmEnd::kConfirmed;

  int m_lowest = kModV21;
  int m_highest = kModV21;
  int m_modulation = kModV21;
  std::uint32_t m_modulationSet = 0;
  std::uint32_t m_minScanMs = 0;
  std::uint32_t m_pageWidth = 1728;
  bool m_fine = false;
  bool m_remoteFine = false;
  bool m_ecmAllowed = false;
  FaxCoding m_highestCoding = FaxCoding::kMh;
  LinkCoding m_link;
  std::optional<LastFrame> m_lastFrame;
  std::size_t m_chunkStep = 0;
  std::array<char, 256> m_lineBuffer{};
};

}  // namespace vexo
