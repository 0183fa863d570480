// TAPIOper: the telephony modem line. At start it initialises the telephony
// provider and builds the modem list (the built-in phone modem, then the
// pass-through data lines, then the voice lines); for a job it opens a line of
// the list, places the call the line needs and hands the call's data port to
// the serial port object, which gives it back at closing. Every telephony
// message met while waiting is traced into the communication log; failures
// go to the error pool under "TAPIOper". Start-up, the jobs (through WinCOMCE)
// and the settings sheet use it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "modem/telephony_port.h"
#include "platform/telephony/telephony_provider.h"

namespace vexo {

class LogFile;
class JobControl;

constexpr const char* kTapiAppName = "Vexo TAPIOper";
constexpr std::uint32_t kTapiRequestedVersion = 0x20000;
constexpr std::uint32_t kTapiLowestVersion = 0x10004;
constexpr std::uint32_t kReinitPauseMs = 5000;
constexpr std::uint32_t kMakeCallReplyMs = 60000;
constexpr std::uint32_t kConnectWaitMs = 30000;
constexpr std::uint32_t kAfterCallPauseMs = 500;
constexpr std::uint32_t kDevCapsStartBytes = 1024;
constexpr std::uint32_t kGetIdStartBytes = 280;
constexpr std::uint32_t kTranslateStartBytes = 40;
// The most a variable-size result may take: a provider asking for more is
// treated as a failed allocation.
constexpr std::uint32_t kMaxVarBytes = 64 * 1024;
// Tries of a grow-and-ask-again loop before it gives up.
constexpr int kMaxGrowTries = 4;
constexpr std::size_t kMaxDialableChars = 80;
constexpr std::uint32_t kNoIndex = 0x80000000;
constexpr std::uint32_t kNoName = 0xFFFFFFFF;
constexpr std::uint32_t kNoLineDevice = 0xFFFFFFFF;

// String ids of the modem line.
constexpr unsigned kStrPhoneModemName = 65196;
constexpr unsigned kStrCallingStatus = 65190;

// One entry of the modem list.
struct ModemEntry {
  std::string name;
  std::uint32_t lineDevice = kNoLineDevice;
  std::uint32_t bearerModes = 0;
  std::uint32_t mediaModes = 0;
};

// Which number a voice line calls before it yields its data port: the job's
// number (kUseDialNumber), the seed number (kUseSeedNumber) or none (any other
// value).
constexpr std::uint32_t kUseDialNumber = 1;
constexpr std::uint32_t kUseSeedNumber = 2;
struct DialSettings {
  std::uint32_t useWhatAsSeedNum = 1;
  std::string seedCallNum;
};

// A voice call that did not go through: lineMakeCall got no good reply, or
// the call disconnected (or the wait ran out) before it connected; then
// disconnectReason holds the disconnect mode (BUSY after a busy signal).
struct VoiceCallFailure {
  enum class Kind { NoReply, Disconnected };
  Kind kind = Kind::NoReply;
  std::uint32_t disconnectReason = 0;
};

// Time and pauses; tests give a script clock so nothing sleeps.
struct TapiEnvironment {
  std::function<std::uint64_t()> nowMs;         // a steady millisecond clock
  std::function<void(std::uint32_t ms)> sleep;  // the REINIT and after-call pauses
};

class TAPIOper : public TelephonyPort {
 public:
  // dialSettings is asked at each opening, so changed settings apply to the
  // next call; the provider is not owned.
  TAPIOper(TelephonyProvider& provider, std::function<DialSettings()> dialSettings,
           TapiEnvironment env = {});
  ~TAPIOper() override;
  TAPIOper(const TAPIOper&) = delete;
  TAPIOper& operator=(const TAPIOper&) = delete;

  // The job whose status text shows the voice call; may be null.
  void SetJobControl(JobControl* job) { m_job = job; }
  // Told, on the calling thread and before the call is dropped, of each voice
  // call that failed; the application decides what the user sees.
  void SetCallFailedHandler(std::function<void(const VoiceCallFailure&)> handler) {
    m_callFailed = std::move(handler);
  }

  // Initialises the provider (once more after a pause on LINEERR_REINIT) and
  // builds the modem list; 1 or 0. Either log may be null.
  int InitTapi(LogFile* systemLog, LogFile* commLog);
  // (Re)builds the modem list; 1.
  int GetModemName();
  std::span<const ModemEntry> Modems() const { return m_modems; }
  // The index of the entry with exactly this name; kNoIndex when none has it,
  // kNoName for an empty name.
  std::uint32_t FindModem(std::string_view name) const;
  int IsVoiceLine(std::uint32_t index) const;

  // Opens list entry index (not 0), places its call and hands out the data
  // port; null on failure, with no line left open.
  std::unique_ptr<SerialDevice> OpenModem(std::uint32_t index, std::string_view dialNumber);
  // Takes back a port this object handed out: drops and frees the call, closes
  // the port and the line. Any other port is just closed.
  void CloseModem(std::unique_ptr<SerialDevice> port);
  void ShutdownTapi();

  // The calls of an opening, on the open line; 1 or 0.
  int MakePassThroughCall(std::string_view number);
  int MakePhoneCall(std::string_view number);
  // Waits for the LINE_REPLY of request within timeoutMs in all; 1 when it
  // reports success.
  int WaitForReply(TapiResult request, std::uint32_t timeoutMs, const char* function);
  // Waits for the call to connect within timeoutMs in all; on failure reason
  // holds the disconnect mode (BUSY after a busy signal).
  int WaitForConnected(std::uint32_t timeoutMs, const char* function, std::uint32_t& reason);
  void ReportTapiError(const char* function, TapiResult code) const;

  // TelephonyPort, for the serial port object.
  std::unique_ptr<SerialDevice> OpenLine(std::uint32_t index, std::string_view dialNumber) override;
  void CloseLine(std::unique_ptr<SerialDevice> port) override;

 private:
  enum class Wait { Message, Timeout, Failed };

  bool DevCaps(std::uint32_t device, LineDevCaps& caps);
  // Waits until the deadline for one message; reports timeout and failures
  // under function/reportAs.
  Wait NextMessage(std::uint64_t deadline, const char* function, const char* reportAs,
                   LineMessage& message);
  void Trace(const LineMessage& message) const;
  void TraceText(const char* format, ...) const __attribute__((format(printf, 2, 3)));
  void CallFailed(VoiceCallFailure::Kind kind, std::uint32_t reason = 0) const;
  void DropCall();
  void CloseLineHandle();
  std::uint64_t Now() const { return m_env.nowMs(); }

  TelephonyProvider& m_provider;
  std::function<DialSettings()> m_dialSettings;
  TapiEnvironment m_env;
  LogFile* m_systemLog = nullptr;
  LogFile* m_commLog = nullptr;
  JobControl* m_job = nullptr;
  std::function<void(const VoiceCallFailure&)> m_callFailed;

  bool m_initialised = false;
  std::vector<ModemEntry> m_modems;
  std::uint32_t m_deviceCount = 0;
  std::uint32_t m_apiVersion = 0;
  std::uint32_t m_lineVersion = 0;  // negotiated for the open line
  std::uint32_t m_lineDevice = kNoLineDevice;
  LineHandle m_line = 0;
  CallHandle m_call = 0;
  const SerialDevice* m_dataPort = nullptr;  // the port handed out, owned by the taker
};

}  // namespace vexo
