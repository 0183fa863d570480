#include "modem/tapi_oper.h"

#include <chrono>
#include <cstdarg>
#include <thread>

#include "base/error_pool.h"
#include "base/job_control.h"
#include "base/log_file.h"
#include "base/strings.h"
#include "modem/tapi_oper_texts.h"
#include "platform/text.h"

namespace vexo {
namespace {

constexpr const char* kModule = "TAPIOper";
constexpr const char* kTraceFile = "TAPIOper";
constexpr const char* kMemoryFailed = "Memory allocation failed.";

TapiEnvironment WithDefaults(TapiEnvironment env) {
  if (!env.nowMs) {
    env.nowMs = [] {
      return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::steady_clock::now().time_since_epoch())
                                            .count());
    };
  }
  if (!env.sleep) {
    env.sleep = [](std::uint32_t ms) {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    };
  }
  return env;
}

bool IsDataLine(const ModemEntry& e) {
  return (e.bearerModes & LINEBEARERMODE_PASSTHROUGH) != 0 &&
         (e.mediaModes & LINEMEDIAMODE_DATAMODEM) != 0;
}

// A voice-bearer line that carries data: a candidate voice line.
bool IsVoiceBearerDataLine(const ModemEntry& e) {
  return (e.bearerModes & LINEBEARERMODE_PASSTHROUGH) == 0 &&
         (e.bearerModes & LINEBEARERMODE_VOICE) != 0 &&
         (e.mediaModes & LINEMEDIAMODE_DATAMODEM) != 0;
}

}  // namespace

TAPIOper::TAPIOper(TelephonyProvider& provider, std::function<DialSettings()> dialSettings,
                   TapiEnvironment env)
    : m_provider(provider),
      m_dialSettings(std::move(dialSettings)),
      m_env(WithDefaults(std::move(env))) {}

TAPIOper::~TAPIOper() { ShutdownTapi(); }

// ---- reports and traces

void TAPIOper::TraceText(const char* format, ...) const {
  if (m_commLog == nullptr) return;
  va_list args;
  va_start(args, format);
  const std::string text = FormatV(kLogLineChars, format, args);
  va_end(args);
  m_commLog->WriteLineF(kTraceFile, 0, "%s", text.c_str());
}

void TAPIOper::Trace(const LineMessage& message) const {
  if (const auto text = TapiTraceText(message)) TraceText("%s", text->c_str());
}

void TAPIOper::ReportTapiError(const char* function, TapiResult code) const {
  const char* name = function ? function : "";
  if (code < 0) {
    if (const auto text = LineErrorText(code)) {
      const std::string message(*text);
      ReportError(0, kMsgDefault, kModule, name, "TAPI errormsg=%s", message.c_str());
      TraceText("TAPI Func=%s, errormsg=%s", name, message.c_str());
      return;
    }
  }
  const auto value = static_cast<std::uint32_t>(code);
  ReportError(0, kMsgDefault, kModule, name, "TAPI errorno=0x%x", value);
  TraceText("TAPI Func=%s, errorno=0x%x", name, value);
}

// ---- start-up and the modem list

int TAPIOper::InitTapi(LogFile* systemLog, LogFile* commLog) {
  if (m_initialised) ShutdownTapi();
  m_systemLog = systemLog;
  m_commLog = commLog;
  std::uint32_t version = kTapiRequestedVersion;
  std::uint32_t devices = 0;
  TapiResult result = m_provider.Initialize(kTapiAppName, version, devices);
  if (result == LINEERR_REINIT) {
    m_env.sleep(kReinitPauseMs);
    version = kTapiRequestedVersion;
    result = m_provider.Initialize(kTapiAppName, version, devices);
  }
  if (result != 0) {
    ReportTapiError("lineInitializeEx", result);
    return 0;
  }
  m_initialised = true;
  m_apiVersion = version;
  m_deviceCount = devices;
  return GetModemName();
}

bool TAPIOper::DevCaps(std::uint32_t device, LineDevCaps& caps) {
  std::uint32_t version = 0;
  TapiResult result =
      m_provider.NegotiateAPIVersion(device, kTapiLowestVersion, m_apiVersion, version);
  if (result != 0) {
    ReportTapiError("lineNegotiateAPIVersion", result);
    return false;
  }
  std::uint32_t total = kDevCapsStartBytes;
  for (int attempt = 0; attempt < kMaxGrowTries; ++attempt) {
    std::uint32_t needed = 0;
    result = m_provider.GetDevCaps(device, version, total, needed, caps);
    if (result != 0) {
      ReportTapiError("lineGetDevCaps", result);
      return false;
    }
    if (needed <= total) return true;
    if (needed > kMaxVarBytes) {
      ReportError(0, kMsgDefault, kModule, "GetModemName", "%s", kMemoryFailed);
      return false;
    }
    total = needed;
  }
  ReportTapiError("lineGetDevCaps", LINEERR_STRUCTURETOOSMALL);
  return false;
}

int TAPIOper::GetModemName() {
  m_modems.clear();
  m_modems.push_back({LoadResString(kStrPhoneModemName), kNoLineDevice, 0, 0});
  if (m_systemLog) m_systemLog->WriteRaw("GetModemName Enum all TAPI device:\r\n");
  // Pass-through data lines first, then the voice lines; each device is asked
  // (and logged) in both passes.
  for (const bool dataPass : {true, false}) {
    for (std::uint32_t device = 0; device < m_deviceCount; ++device) {
      LineDevCaps caps;
      if (!DevCaps(device, caps) || caps.name.empty()) continue;
      if (m_systemLog) {
        m_systemLog->WriteRaw(Format(kLogLineChars, "%s : 0x%x : 0x%x\r\n", caps.name.c_str(),
                                     caps.bearerModes, caps.mediaModes));
      }
      ModemEntry entry{caps.name, device, caps.bearerModes, caps.mediaModes};
      const bool listed = dataPass ? IsDataLine(entry)
                                   : IsVoiceBearerDataLine(entry) &&
                                         (entry.mediaModes & LINEMEDIAMODE_INTERACTIVEVOICE) != 0;
      if (listed) m_modems.push_back(std::move(entry));
    }
  }
  return 1;
}

std::uint32_t TAPIOper::FindModem(std::string_view name) const {
  if (name.empty()) return kNoName;
  for (std::size_t i = 0; i < m_modems.size(); ++i)
    if (m_modems[i].name == name) return static_cast<std::uint32_t>(i);
  return kNoIndex;
}

int TAPIOper::IsVoiceLine(std::uint32_t index) const {
  if (index == 0 || index >= m_modems.size()) return 0;
  const ModemEntry& e = m_modems[index];
  return IsVoiceBearerDataLine(e) && (e.mediaModes & LINEMEDIAMODE_INTERACTIVEVOICE) != 0 ? 1 : 0;
}

// ---- opening and closing a line

std::unique_ptr<SerialDevice> TAPIOper::OpenModem(std::uint32_t index,
                                                  std::string_view dialNumber) {
  if (!m_initialised || index == 0 || index >= m_modems.size()) return nullptr;
  if (m_line != 0) CloseLineHandle();  // one line at a time
  const ModemEntry entry = m_modems[index];

  TapiResult result = m_provider.NegotiateAPIVersion(entry.lineDevice, kTapiLowestVersion,
                                                     m_apiVersion, m_lineVersion);
  if (result != 0) {
    ReportTapiError("lineNegotiateAPIVersion", result);
    return nullptr;
  }
  const bool voice = IsVoiceLine(index) != 0;
  LineCallParams params;
  params.bearerMode = voice ? LINEBEARERMODE_VOICE : LINEBEARERMODE_PASSTHROUGH;
  params.mediaMode = voice ? LINEMEDIAMODE_INTERACTIVEVOICE : LINEMEDIAMODE_DATAMODEM;
  result = m_provider.Open(entry.lineDevice, m_lineVersion, LINECALLPRIVILEGE_OWNER,
                           params.mediaMode, params, m_line);
  if (result != 0) {
    m_line = 0;
    ReportTapiError("lineOpen", result);
    return nullptr;
  }
  m_lineDevice = entry.lineDevice;

  // The call the line needs before it yields a data port. A voice line in a
  // job without a number to call gets none, and its opening fails below.
  const DialSettings dial = m_dialSettings();
  bool called = true;
  if (!voice)
    called = MakePassThroughCall("") != 0;
  else if (dial.useWhatAsSeedNum == kUseDialNumber && !dialNumber.empty())
    called = MakePhoneCall(dialNumber) != 0;
  else if (dial.useWhatAsSeedNum == kUseSeedNumber)
    called = MakePhoneCall(dial.seedCallNum) != 0;
  if (!called) {
    CloseLineHandle();
    return nullptr;
  }

  std::unique_ptr<SerialDevice> port;
  std::uint32_t total = kGetIdStartBytes;
  std::uint32_t needed = 0;
  result =
      m_provider.GetID(m_line, m_call, LINECALLSELECT_CALL, kDataModemClass, total, needed, port);
  if (result == LINEERR_STRUCTURETOOSMALL && needed > total) {
    if (needed > kMaxVarBytes) {
      ReportError(0, kMsgDefault, kModule, "OpenModem", "%s", kMemoryFailed);
      CloseLineHandle();
      return nullptr;
    }
    total = needed;
    result =
        m_provider.GetID(m_line, m_call, LINECALLSELECT_CALL, kDataModemClass, total, needed, port);
  }
  if (result == 0 && !port) result = LINEERR_OPERATIONFAILED;
  if (result != 0) {
    ReportTapiError("lineGetID", result);
    CloseLineHandle();
    return nullptr;
  }
  m_dataPort = port.get();
  return port;
}

void TAPIOper::DropCall() {
  if (m_call == 0) return;
  m_provider.Drop(m_call);
  const TapiResult result = m_provider.DeallocateCall(m_call);
  if (result != 0) ReportTapiError("lineDeallocateCall", result);
  m_call = 0;
}

void TAPIOper::CloseLineHandle() {
  DropCall();
  if (m_line != 0) m_provider.Close(m_line);
  m_line = 0;
  m_lineDevice = kNoLineDevice;
}

void TAPIOper::CloseModem(std::unique_ptr<SerialDevice> port) {
  if (!port || port.get() != m_dataPort) return;  // not ours: it just closes
  m_dataPort = nullptr;
  DropCall();
  port.reset();
  CloseLineHandle();
}

void TAPIOper::ShutdownTapi() {
  if (!m_initialised) return;
  // A port still out stays with its taker; it is no longer one of ours.
  m_dataPort = nullptr;
  CloseLineHandle();
  m_provider.Shutdown();
  m_modems.clear();
  m_deviceCount = 0;
  m_initialised = false;
}

std::unique_ptr<SerialDevice> TAPIOper::OpenLine(std::uint32_t index, std::string_view dialNumber) {
  return OpenModem(index, dialNumber);
}

void TAPIOper::CloseLine(std::unique_ptr<SerialDevice> port) { CloseModem(std::move(port)); }

// ---- calls

int TAPIOper::MakePassThroughCall(std::string_view number) {
  LineCallParams params{LINEBEARERMODE_PASSTHROUGH,
                        LINEMEDIAMODE_DATAMODEM,
                        LINECALLPARAMFLAGS_IDLE,
                        LINEADDRESSMODE_ADDRESSID,
                        0,
                        std::string(number)};
  CallHandle call = 0;
  const TapiResult request = m_provider.MakeCall(m_line, call, {}, 0, params);
  TraceText("Calling LineMakeCall(ReqID=0x%x)", static_cast<std::uint32_t>(request));
  m_call = request > 0 ? call : 0;
  if (!WaitForReply(request, kMakeCallReplyMs, "lineMakeCall")) {
    DropCall();
    return 0;
  }
  m_env.sleep(kAfterCallPauseMs);
  return 1;
}

int TAPIOper::MakePhoneCall(std::string_view number) {
  constexpr const char* kFunction = "MakePhoneCall";
  LineTranslateOutput translated;
  std::uint32_t total = kTranslateStartBytes;
  bool fits = false;
  for (int attempt = 0; attempt < kMaxGrowTries && !fits; ++attempt) {
    std::uint32_t needed = 0;
    const TapiResult result =
        m_provider.TranslateAddress(m_lineDevice, m_lineVersion, number, total, needed, translated);
    if (result != 0) {
      ReportTapiError("lineTranslateAddress", result);
      return 0;
    }
    fits = needed <= total;
    if (!fits && needed > kMaxVarBytes) {
      ReportError(0, kMsgDefault, kModule, kFunction, "Allocate memory for %s failed.",
                  "LINETRANSLATEOUTPUT");
      return 0;
    }
    total = needed;
  }
  if (!fits) {
    ReportTapiError("lineTranslateAddress", LINEERR_STRUCTURETOOSMALL);
    return 0;
  }

  LineCallParams params{LINEBEARERMODE_VOICE,
                        LINEMEDIAMODE_INTERACTIVEVOICE,
                        LINECALLPARAMFLAGS_IDLE,
                        LINEADDRESSMODE_ADDRESSID,
                        0,
                        translated.displayableString};
  if (m_job) m_job->SetStatusFormat(kStrCallingStatus, translated.displayableString.c_str());
  const std::string dialable(Utf8Prefix(translated.dialableString, kMaxDialableChars));
  CallHandle call = 0;
  const TapiResult request =
      m_provider.MakeCall(m_line, call, dialable, translated.destCountry, params);
  TraceText("Calling LineMakeCall(DestNum=%s, ReqID=0x%x)", dialable.c_str(),
            static_cast<std::uint32_t>(request));
  m_call = request > 0 ? call : 0;
  if (!WaitForReply(request, kMakeCallReplyMs, "lineMakeCall")) {
    CallFailed(VoiceCallFailure::Kind::NoReply);
    DropCall();
    return 0;
  }
  // A call that ends without a known cause (the wait ran out) reads as unknown.
  std::uint32_t reason = LINEDISCONNECTMODE_UNKNOWN;
  if (!WaitForConnected(kConnectWaitMs, "lineMakeCall", reason)) {
    CallFailed(VoiceCallFailure::Kind::Disconnected, reason);
    DropCall();
    return 0;
  }
  m_env.sleep(kAfterCallPauseMs);
  return 1;
}

// ---- waits

TAPIOper::Wait TAPIOper::NextMessage(std::uint64_t deadline, const char* function,
                                     const char* reportAs, LineMessage& message) {
  const std::uint64_t now = Now();
  int error = 0;
  const EventWait wait =
      now >= deadline ? EventWait::Timeout
                      : m_provider.WaitForEvent(static_cast<std::uint32_t>(deadline - now), error);
  if (wait == EventWait::Timeout) {
    ReportError(0, kMsgDefault, kModule, reportAs,
                "Timeout waiting for LINE_REPLY message for function=%s.", function);
    return Wait::Timeout;
  }
  if (wait == EventWait::Failed) {
    ReportErrorCode(0, kMsgDefault, kModule, reportAs, error,
                    "Fail to wait TAPI event for function=%s, ErrMsg=", function);
    return Wait::Failed;
  }
  const TapiResult result = m_provider.GetMessage(message);
  if (result != 0) {
    ReportTapiError("lineGetMessage", result);
    return Wait::Failed;
  }
  Trace(message);
  return Wait::Message;
}

int TAPIOper::WaitForReply(TapiResult request, std::uint32_t timeoutMs, const char* function) {
  if (request < 1) {
    ReportTapiError(function, request);
    return 0;
  }
  // One deadline for the whole wait: a stream of other messages cannot stretch it.
  const std::uint64_t deadline = Now() + timeoutMs;
  for (;;) {
    LineMessage message;
    if (NextMessage(deadline, function, "WaitForReply", message) != Wait::Message) return 0;
    if (message.message == LINE_REPLY && message.param1 == static_cast<std::uint32_t>(request)) {
      if (message.param2 == 0) return 1;
      ReportTapiError(function, static_cast<TapiResult>(message.param2));
      return 0;
    }
    if (message.message == LINE_CALLSTATE && message.param1 == LINECALLSTATE_BUSY)
      ReportError(0, kMsgDefault, kModule, "WaitForState", "CallState=LINECALLSTATE_BUSY");
  }
}

int TAPIOper::WaitForConnected(std::uint32_t timeoutMs, const char* function,
                               std::uint32_t& reason) {
  constexpr const char* kFunction = "WaitForConnected";
  TraceText("In WaitForConnected");
  const std::uint64_t deadline = Now() + timeoutMs;
  for (;;) {
    LineMessage message;
    if (NextMessage(deadline, function, kFunction, message) != Wait::Message) return 0;
    // States of an earlier call (dropped before this one) are traced only.
    if (message.message != LINE_CALLSTATE || message.device != m_call) continue;
    switch (message.param1) {
      case LINECALLSTATE_CONNECTED:
        return 1;
      case LINECALLSTATE_DISCONNECTED:
        ReportError(0, kMsgDefault, kModule, kFunction,
                    "CallState=LINECALLSTATE_DISCONNECTED, Reason=%x", message.param2);
        reason = message.param2;
        return 0;
      case LINECALLSTATE_BUSY:
        ReportError(0, kMsgDefault, kModule, kFunction, "CallState=LINECALLSTATE_BUSY");
        reason = LINEDISCONNECTMODE_BUSY;
        break;
      case LINECALLSTATE_UNKNOWN:
        ReportError(0, kMsgDefault, kModule, kFunction, "CallState=LINECALLSTATE_UNKNOWN");
        break;
      default:
        break;
    }
  }
}

void TAPIOper::CallFailed(VoiceCallFailure::Kind kind, std::uint32_t reason) const {
  if (m_callFailed) m_callFailed(VoiceCallFailure{kind, reason});
}

}  // namespace vexo
