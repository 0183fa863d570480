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

#include "kernel/fax_comm_func.h"
#include "protocol/class1_tables.h"

namespace vexo {

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

// How GetFrame repeats the last frame sent on its second and third attempts.
enum class RepeatMode { kNever = 0, kOnCrp = 1, kAlways = 2 };

constexpr std::size_t kFrameItemsMax = 10;
constexpr std::uint32_t kFrameWaitMs = 20;  // before every command

class FClass1Func : public FaxCommFunc {
 public:
  FClass1Func() = default;

  // ---- modem setup ----
  // Asks the modem for its modulations: direction 1 "AT+FTM=?", 0 "AT+FRM=?".
  int QueryBRCap(int direction);
  // Fills the modulation set from the answer lines; 1 when a usable line came.
  int AnalysisMod(const std::vector<std::string>& lines);

  // ---- capability exchange ----
  // Transmitter: chooses the modulation from a received DIS and builds the DCS.
  int AnalysisDIS(const Class1Item& dis, std::uint32_t pageFlags, CapabilityBytes& dcs);
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
  int GetFrame(Class1Items& items, std::size_t maxItems, std::uint32_t timeoutMs, RepeatMode mode);
  static bool HasNonFinalFrame(const Class1Items& items);

  // ---- result lines ----
  int CheckCmdResponse1(const std::vector<std::string>& lines, std::uint32_t timeoutMs, bool report);
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

  int m_lowest = kModV21;
  int m_highest = kModV21;
  int m_modulation = kModV21;
  std::uint32_t m_modulationSet = 0;
  std::uint32_t m_minScanMs = 0;
  std::uint32_t m_pageWidth = 1728;
  bool m_fine = false;
  bool m_remoteFine = false;
  std::optional<LastFrame> m_lastFrame;
  std::size_t m_chunkStep = 0;
  std::array<char, 256> m_lineBuffer{};
};

}  // namespace vexo
