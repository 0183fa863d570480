#include "platform/telephony/scripted_provider.h"

#include <algorithm>
#include <cstdarg>
#include <utility>

#include "platform/text.h"

namespace vexo {
namespace {

constexpr std::uint32_t kScriptedDevCapsBytes = 236;
constexpr std::uint32_t kScriptedTranslateBytes = 40;
constexpr std::uint32_t kScriptedPortBytes = 28;
constexpr std::size_t kRecordChars = 1024;

}  // namespace

void ScriptedTelephonyProvider::Record(const char* format, ...) {
  va_list args;
  va_start(args, format);
  calls.push_back(FormatV(kRecordChars, format, args));
  va_end(args);
}

void ScriptedTelephonyProvider::Post(std::uint32_t delayMs, LineMessage message) {
  m_messages.push_back({delayMs, message});
}

void ScriptedTelephonyProvider::PostState(std::uint32_t delayMs, std::uint32_t state,
                                          std::uint32_t detail) {
  Post(delayMs, {LINE_CALLSTATE, m_call, 0, state, detail, 0});
}

TapiResult ScriptedTelephonyProvider::Initialize(std::string_view appName,
                                                 std::uint32_t& apiVersion,
                                                 std::uint32_t& deviceCount) {
  Record("lineInitializeEx %.*s 0x%x", static_cast<int>(appName.size()), appName.data(),
         apiVersion);
  TapiResult result = 0;
  if (!initializeResults.empty()) {
    result = initializeResults.front();
    initializeResults.pop_front();
  }
  if (result != 0) return result;
  m_initialised = true;
  apiVersion = std::min(apiVersion, kProviderApiVersion);
  deviceCount = static_cast<std::uint32_t>(devices.size());
  return 0;
}

TapiResult ScriptedTelephonyProvider::NegotiateAPIVersion(std::uint32_t device,
                                                          std::uint32_t lowVersion,
                                                          std::uint32_t highVersion,
                                                          std::uint32_t& version) {
  Record("lineNegotiateAPIVersion %u 0x%x-0x%x", device, lowVersion, highVersion);
  if (!m_initialised) return LINEERR_UNINITIALIZED;
  if (device >= devices.size()) return LINEERR_BADDEVICEID;
  if (devices[device].negotiateResult != 0) return devices[device].negotiateResult;
  version = std::min(highVersion, kProviderApiVersion);
  return 0;
}

TapiResult ScriptedTelephonyProvider::GetDevCaps(std::uint32_t device, std::uint32_t,
                                                 std::uint32_t totalBytes,
                                                 std::uint32_t& neededBytes, LineDevCaps& caps) {
  Record("lineGetDevCaps %u %u", device, totalBytes);
  if (device >= devices.size()) return LINEERR_BADDEVICEID;
  const ScriptedDevice& d = devices[device];
  if (d.devCapsResult != 0) return d.devCapsResult;
  neededBytes = devCapsNeededBytes.value_or(kScriptedDevCapsBytes +
                                            static_cast<std::uint32_t>(2 * (d.name.size() + 1)));
  if (neededBytes > totalBytes) return 0;
  caps = {d.name, d.bearerModes, d.mediaModes};
  return 0;
}

TapiResult ScriptedTelephonyProvider::Open(std::uint32_t device, std::uint32_t,
                                           std::uint32_t privileges, std::uint32_t mediaModes,
                                           const LineCallParams& params, LineHandle& line) {
  Record("lineOpen %u privileges=%u media=0x%x bearer=0x%x", device, privileges, mediaModes,
         params.bearerMode);
  if (device >= devices.size()) return LINEERR_BADDEVICEID;
  if (m_line != 0) return LINEERR_ALLOCATED;
  lastOpenParams = params;
  m_lineDevice = device;
  m_line = line = m_nextHandle++;
  return 0;
}

TapiResult ScriptedTelephonyProvider::MakeCall(LineHandle line, CallHandle& call,
                                               std::string_view destAddress,
                                               std::uint32_t countryCode,
                                               const LineCallParams& params) {
  Record(
      "lineMakeCall \"%.*s\" country=%u bearer=0x%x media=0x%x flags=%u mode=%u id=%u "
      "display=\"%s\"",
      static_cast<int>(destAddress.size()), destAddress.data(), countryCode, params.bearerMode,
      params.mediaMode, params.callParamFlags, params.addressMode, params.addressId,
      params.displayableAddress.c_str());
  lastCallParams = params;
  if (line == 0 || line != m_line) return LINEERR_INVALLINEHANDLE;
  const ScriptedCall script = std::exchange(nextCall, {});
  if (script.immediateResult != 0) return script.immediateResult;
  const TapiResult request = m_nextRequest++;
  m_call = call = m_nextHandle++;
  Post(script.replyDelayMs, {LINE_REPLY, line, 0, static_cast<std::uint32_t>(request),
                             static_cast<std::uint32_t>(script.replyResult), 0});
  for (const ScriptedState& s : script.states)
    Post(s.delayMs, {LINE_CALLSTATE, s.call != 0 ? s.call : m_call, 0, s.state, s.detail, 0});
  return request;
}

TapiResult ScriptedTelephonyProvider::TranslateAddress(std::uint32_t device, std::uint32_t,
                                                       std::string_view address,
                                                       std::uint32_t totalBytes,
                                                       std::uint32_t& neededBytes,
                                                       LineTranslateOutput& output) {
  Record("lineTranslateAddress %u \"%.*s\" %u", device, static_cast<int>(address.size()),
         address.data(), totalBytes);
  if (translateResult != 0) return translateResult;
  const std::string dialable = dialablePrefix + std::string(address);
  neededBytes = translateNeededBytes.value_or(
      kScriptedTranslateBytes +
      static_cast<std::uint32_t>(2 * (address.size() + dialable.size() + 2)));
  if (neededBytes > totalBytes) return 0;
  output = {std::string(address), dialable, destCountry};
  return 0;
}

TapiResult ScriptedTelephonyProvider::GetID(LineHandle line, CallHandle call, std::uint32_t select,
                                            std::string_view deviceClass, std::uint32_t totalBytes,
                                            std::uint32_t& neededBytes,
                                            std::unique_ptr<SerialDevice>& port) {
  Record("lineGetID call=0x%x select=%u %.*s %u", call, select,
         static_cast<int>(deviceClass.size()), deviceClass.data(), totalBytes);
  if (line == 0 || line != m_line) return LINEERR_INVALLINEHANDLE;
  if (call == 0 || call != m_call) return LINEERR_INVALCALLHANDLE;
  if (select != LINECALLSELECT_CALL) return LINEERR_INVALCALLSELECT;
  if (deviceClass != kDataModemClass) return LINEERR_INVALDEVICECLASS;
  neededBytes = getIdNeededBytes != 0 ? getIdNeededBytes : kScriptedPortBytes;
  if (neededBytes > totalBytes) return LINEERR_STRUCTURETOOSMALL;
  const ScriptedDevice& d = devices[m_lineDevice];
  if (d.dataPort) port = d.dataPort();
  return port ? 0 : LINEERR_OPERATIONFAILED;
}

EventWait ScriptedTelephonyProvider::WaitForEvent(std::uint32_t timeoutMs, int& error) {
  if (waitError != 0) {
    error = std::exchange(waitError, 0);
    return EventWait::Failed;
  }
  if (m_messages.empty()) {
    m_clock.Advance(timeoutMs);
    return EventWait::Timeout;
  }
  Pending& next = m_messages.front();
  if (next.delayMs > timeoutMs) {
    next.delayMs -= timeoutMs;
    m_clock.Advance(timeoutMs);
    return EventWait::Timeout;
  }
  m_clock.Advance(next.delayMs);
  next.delayMs = 0;
  return EventWait::Signalled;
}

TapiResult ScriptedTelephonyProvider::GetMessage(LineMessage& message) {
  if (m_messages.empty() || m_messages.front().delayMs != 0) return LINEERR_OPERATIONFAILED;
  message = m_messages.front().message;
  m_messages.pop_front();
  return 0;
}

TapiResult ScriptedTelephonyProvider::Drop(CallHandle call) {
  Record("lineDrop 0x%x", call);
  if (call == 0 || call != m_call) return LINEERR_INVALCALLHANDLE;
  if (dropResult != 0) return dropResult;
  return m_nextRequest++;
}

TapiResult ScriptedTelephonyProvider::DeallocateCall(CallHandle call) {
  Record("lineDeallocateCall 0x%x", call);
  if (call == 0 || call != m_call) return LINEERR_INVALCALLHANDLE;
  if (deallocateResult != 0) return deallocateResult;
  m_call = 0;
  return 0;
}

TapiResult ScriptedTelephonyProvider::Close(LineHandle line) {
  Record("lineClose");
  if (line == 0 || line != m_line) return LINEERR_INVALLINEHANDLE;
  m_line = 0;
  m_call = 0;
  return 0;
}

TapiResult ScriptedTelephonyProvider::Shutdown() {
  Record("lineShutdown");
  if (!m_initialised) return LINEERR_UNINITIALIZED;
  m_initialised = false;
  m_line = 0;
  m_call = 0;
  m_messages.clear();
  return 0;
}

}  // namespace vexo
