// ScriptedTelephonyProvider: a telephony provider whose devices, answers, call
// states and disconnect modes a test writes down, on a clock the test owns.
// Messages arrive after scripted delays of that clock, so waits and their
// deadlines run without sleeping. Every call made is recorded as a line of text.
// Used by the tests of the modem line code.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/telephony/telephony_provider.h"

namespace vexo {

// Time for scripted waits and pauses: it moves only when told to.
class ScriptClock {
 public:
  std::uint64_t NowMs() const { return m_nowMs; }
  void Advance(std::uint64_t ms) { m_nowMs += ms; }
  // A pause of the code under test: recorded, then the clock moves on.
  void Sleep(std::uint32_t ms) {
    sleeps.push_back(ms);
    Advance(ms);
  }
  std::vector<std::uint32_t> sleeps;

 private:
  std::uint64_t m_nowMs = 0;
};

struct ScriptedDevice {
  std::string name;
  std::uint32_t bearerModes = LINEBEARERMODE_PASSTHROUGH;
  std::uint32_t mediaModes = LINEMEDIAMODE_DATAMODEM;
  TapiResult negotiateResult = 0;
  TapiResult devCapsResult = 0;
  // The data port a call on this device yields; null: lineGetID fails.
  std::function<std::unique_ptr<SerialDevice>()> dataPort;
};

// A call state arriving delayMs after the message before it.
struct ScriptedState {
  std::uint32_t delayMs = 0;
  std::uint32_t state = 0;
  std::uint32_t detail = 0;  // the disconnect mode of DISCONNECTED
  CallHandle call = 0;       // 0: the call being placed
};

// What the next lineMakeCall does.
struct ScriptedCall {
  TapiResult immediateResult = 0;  // non-zero: returned instead of a request id
  std::uint32_t replyDelayMs = 0;
  TapiResult replyResult = 0;
  std::vector<ScriptedState> states;  // after the reply
};

class ScriptedTelephonyProvider : public TelephonyProvider {
 public:
  explicit ScriptedTelephonyProvider(ScriptClock& clock) : m_clock(clock) {}

  // ---- the script
  std::vector<ScriptedDevice> devices;
  std::deque<TapiResult> initializeResults;  // one per lineInitializeEx; 0 once empty
  ScriptedCall nextCall;
  // Bytes lineGetID asks for (0: what the port needs, 28 bytes).
  std::uint32_t getIdNeededBytes = 0;
  // Bytes lineGetDevCaps and lineTranslateAddress ask for beyond the text (0: 236 and 40).
  std::optional<std::uint32_t> devCapsNeededBytes;
  std::optional<std::uint32_t> translateNeededBytes;
  TapiResult translateResult = 0;
  std::string dialablePrefix;  // put before the number in the dialable string
  std::uint32_t destCountry = 0;
  int waitError = 0;  // non-zero: the next wait fails with this errno value
  TapiResult dropResult = 0;
  TapiResult deallocateResult = 0;

  // A message arriving delayMs after the one before it.
  void Post(std::uint32_t delayMs, LineMessage message);
  // A call state for the current call.
  void PostState(std::uint32_t delayMs, std::uint32_t state, std::uint32_t detail = 0);
  std::size_t PendingMessages() const { return m_messages.size(); }

  // ---- what the code under test did, one line a call, and the last call's parameters
  std::vector<std::string> calls;
  LineCallParams lastOpenParams;
  LineCallParams lastCallParams;
  bool LineOpen() const { return m_line != 0; }
  CallHandle Call() const { return m_call; }

  TapiResult Initialize(std::string_view appName, std::uint32_t& apiVersion,
                        std::uint32_t& deviceCount) override;
  TapiResult NegotiateAPIVersion(std::uint32_t device, std::uint32_t lowVersion,
                                 std::uint32_t highVersion, std::uint32_t& version) override;
  TapiResult GetDevCaps(std::uint32_t device, std::uint32_t version, std::uint32_t totalBytes,
                        std::uint32_t& neededBytes, LineDevCaps& caps) override;
  TapiResult Open(std::uint32_t device, std::uint32_t version, std::uint32_t privileges,
                  std::uint32_t mediaModes, const LineCallParams& params,
                  LineHandle& line) override;
  TapiResult MakeCall(LineHandle line, CallHandle& call, std::string_view destAddress,
                      std::uint32_t countryCode, const LineCallParams& params) override;
  TapiResult TranslateAddress(std::uint32_t device, std::uint32_t version, std::string_view address,
                              std::uint32_t totalBytes, std::uint32_t& neededBytes,
                              LineTranslateOutput& output) override;
  TapiResult GetID(LineHandle line, CallHandle call, std::uint32_t select,
                   std::string_view deviceClass, std::uint32_t totalBytes,
                   std::uint32_t& neededBytes, std::unique_ptr<SerialDevice>& port) override;
  EventWait WaitForEvent(std::uint32_t timeoutMs, int& error) override;
  TapiResult GetMessage(LineMessage& message) override;
  TapiResult Drop(CallHandle call) override;
  TapiResult DeallocateCall(CallHandle call) override;
  TapiResult Close(LineHandle line) override;
  TapiResult Shutdown() override;

 private:
  struct Pending {
    std::uint32_t delayMs;
    LineMessage message;
  };

  void Record(const char* format, ...) __attribute__((format(printf, 2, 3)));

  ScriptClock& m_clock;
  std::deque<Pending> m_messages;
  bool m_initialised = false;
  std::uint32_t m_lineDevice = 0;
  LineHandle m_line = 0;
  CallHandle m_call = 0;
  std::uint32_t m_nextHandle = 0x100;
  TapiResult m_nextRequest = 1;
};

}  // namespace vexo
