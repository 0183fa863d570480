#include "platform/telephony/linux_provider.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <limits>
#include <set>

#include "platform/serial/termios_device.h"

namespace vexo {
namespace {

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// The device a path stands for, to skip a device listed twice.
std::string DeviceKey(const std::string& path) {
  std::error_code error;
  const auto resolved = std::filesystem::weakly_canonical(path, error);
  return error ? path : resolved.string();
}

// Bytes a text takes in a structure of the interface: UTF-16 with terminator.
std::uint32_t WideBytes(std::string_view text) {
  return static_cast<std::uint32_t>((text.size() + 1) * 2);
}

}  // namespace

std::vector<SerialLine> FindSerialLines(const std::string& byIdDir,
                                        std::string_view telephonyDevices) {
  std::vector<SerialLine> lines;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(byIdDir, error)) {
    if (entry.is_directory(error)) continue;
    lines.push_back({entry.path().filename().string(), entry.path().string()});
  }
  std::sort(lines.begin(), lines.end(),
            [](const SerialLine& a, const SerialLine& b) { return a.name < b.name; });

  std::set<std::string> seen;
  for (const auto& line : lines) seen.insert(DeviceKey(line.path));
  while (!telephonyDevices.empty()) {
    const auto end = telephonyDevices.find(';');
    const std::string path(Trim(telephonyDevices.substr(0, end)));
    telephonyDevices =
        end == std::string_view::npos ? std::string_view{} : telephonyDevices.substr(end + 1);
    if (path.empty() || !seen.insert(DeviceKey(path)).second) continue;
    lines.push_back({path, path});
  }
  return lines;
}

LinuxTelephonyProvider::LinuxTelephonyProvider(std::string telephonyDevices, std::string byIdDir,
                                               SerialDeviceOpener openDevice)
    : m_telephonyDevices(std::move(telephonyDevices)),
      m_byIdDir(std::move(byIdDir)),
      m_openDevice(std::move(openDevice)) {
  if (!m_openDevice) {
    m_openDevice = [](const std::string& path, int& error) -> std::unique_ptr<SerialDevice> {
      return TermiosDevice::Open(path, error);
    };
  }
}

bool LinuxTelephonyProvider::ValidDevice(std::uint32_t device) const {
  return m_initialised && device < m_lines.size();
}

TapiResult LinuxTelephonyProvider::NextRequest() {
  const TapiResult id = m_nextRequest;
  m_nextRequest = m_nextRequest == std::numeric_limits<TapiResult>::max() ? 1 : m_nextRequest + 1;
  return id;
}

void LinuxTelephonyProvider::Post(LineMessage message) {
  m_messages.push_back(message);
  m_signal.notify_all();
}

TapiResult LinuxTelephonyProvider::Initialize(std::string_view, std::uint32_t& apiVersion,
                                              std::uint32_t& deviceCount) {
  std::lock_guard lock(m_lock);
  m_lines = FindSerialLines(m_byIdDir, m_telephonyDevices);
  m_initialised = true;
  m_messages.clear();
  apiVersion = std::min(apiVersion, kProviderApiVersion);
  deviceCount = static_cast<std::uint32_t>(m_lines.size());
  return 0;
}

TapiResult LinuxTelephonyProvider::NegotiateAPIVersion(std::uint32_t device,
                                                       std::uint32_t lowVersion,
                                                       std::uint32_t highVersion,
                                                       std::uint32_t& version) {
  std::lock_guard lock(m_lock);
  if (!m_initialised) return LINEERR_UNINITIALIZED;
  if (!ValidDevice(device)) return LINEERR_BADDEVICEID;
  if (lowVersion > kProviderApiVersion || lowVersion > highVersion)
    return LINEERR_INCOMPATIBLEAPIVERSION;
  version = std::min(highVersion, kProviderApiVersion);
  return 0;
}

TapiResult LinuxTelephonyProvider::GetDevCaps(std::uint32_t device, std::uint32_t,
                                              std::uint32_t totalBytes, std::uint32_t& neededBytes,
                                              LineDevCaps& caps) {
  std::lock_guard lock(m_lock);
  if (!ValidDevice(device)) return LINEERR_BADDEVICEID;
  if (totalBytes < kDevCapsFixedBytes) return LINEERR_STRUCTURETOOSMALL;
  const SerialLine& line = m_lines[device];
  neededBytes = kDevCapsFixedBytes + WideBytes(line.name);
  if (neededBytes > totalBytes) return 0;
  caps = {line.name, LINEBEARERMODE_PASSTHROUGH, LINEMEDIAMODE_DATAMODEM};
  return 0;
}

TapiResult LinuxTelephonyProvider::Open(std::uint32_t device, std::uint32_t, std::uint32_t,
                                        std::uint32_t mediaModes, const LineCallParams&,
                                        LineHandle& line) {
  std::lock_guard lock(m_lock);
  if (!ValidDevice(device)) return LINEERR_BADDEVICEID;
  if (m_open) return LINEERR_ALLOCATED;
  if ((mediaModes & ~LINEMEDIAMODE_DATAMODEM) != 0) return LINEERR_INVALMEDIAMODE;
  m_open = OpenLine{};
  m_open->handle = m_nextHandle++;
  m_open->device = device;
  line = m_open->handle;
  return 0;
}

TapiResult LinuxTelephonyProvider::MakeCall(LineHandle line, CallHandle& call, std::string_view,
                                            std::uint32_t, const LineCallParams& params) {
  std::lock_guard lock(m_lock);
  if (!m_open || m_open->handle != line) return LINEERR_INVALLINEHANDLE;
  if (m_open->call != 0) return LINEERR_CALLUNAVAIL;
  if (params.bearerMode != LINEBEARERMODE_PASSTHROUGH) return LINEERR_BEARERMODEUNAVAIL;
  const TapiResult request = NextRequest();
  int error = 0;
  auto port = m_openDevice(m_lines[m_open->device].path, error);
  if (!port) {
    m_lastOpenError = error != 0 ? error : ENODEV;
    Post({LINE_REPLY, line, 0, static_cast<std::uint32_t>(request),
          static_cast<std::uint32_t>(LINEERR_RESOURCEUNAVAIL), 0});
    return request;
  }
  m_open->call = m_nextHandle++;
  m_open->port = std::move(port);
  call = m_open->call;
  Post({LINE_REPLY, line, 0, static_cast<std::uint32_t>(request), 0, 0});
  Post({LINE_CALLSTATE, call, 0, LINECALLSTATE_CONNECTED, 0, LINEMEDIAMODE_DATAMODEM});
  return request;
}

TapiResult LinuxTelephonyProvider::TranslateAddress(std::uint32_t device, std::uint32_t,
                                                    std::string_view address,
                                                    std::uint32_t totalBytes,
                                                    std::uint32_t& neededBytes,
                                                    LineTranslateOutput& output) {
  std::lock_guard lock(m_lock);
  if (!ValidDevice(device)) return LINEERR_BADDEVICEID;
  if (address.empty()) return LINEERR_INVALADDRESS;
  if (totalBytes < kTranslateOutputFixedBytes) return LINEERR_STRUCTURETOOSMALL;
  neededBytes = kTranslateOutputFixedBytes + 2 * WideBytes(address);
  if (neededBytes > totalBytes) return 0;
  output = {std::string(address), std::string(address), 0};
  return 0;
}

TapiResult LinuxTelephonyProvider::GetID(LineHandle line, CallHandle call, std::uint32_t select,
                                         std::string_view deviceClass, std::uint32_t totalBytes,
                                         std::uint32_t& neededBytes,
                                         std::unique_ptr<SerialDevice>& port) {
  std::lock_guard lock(m_lock);
  if (!m_open || m_open->handle != line) return LINEERR_INVALLINEHANDLE;
  if (select != LINECALLSELECT_CALL) return LINEERR_INVALCALLSELECT;
  if (call == 0 || m_open->call != call) return LINEERR_INVALCALLHANDLE;
  if (deviceClass != kDataModemClass) return LINEERR_INVALDEVICECLASS;
  // The handle, then the device's name.
  neededBytes =
      kVarStringFixedBytes + sizeof(std::uint32_t) + WideBytes(m_lines[m_open->device].name);
  if (totalBytes < neededBytes) return LINEERR_STRUCTURETOOSMALL;
  if (!m_open->port) return LINEERR_RESOURCEUNAVAIL;  // handed out already
  port = std::move(m_open->port);
  return 0;
}

EventWait LinuxTelephonyProvider::WaitForEvent(std::uint32_t timeoutMs, int&) {
  std::unique_lock lock(m_lock);
  const bool arrived = m_signal.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                         [this] { return !m_messages.empty(); });
  return arrived ? EventWait::Signalled : EventWait::Timeout;
}

TapiResult LinuxTelephonyProvider::GetMessage(LineMessage& message) {
  std::lock_guard lock(m_lock);
  if (!m_initialised) return LINEERR_UNINITIALIZED;
  if (m_messages.empty()) return LINEERR_OPERATIONFAILED;
  message = m_messages.front();
  m_messages.pop_front();
  return 0;
}

void LinuxTelephonyProvider::EndCall() {
  m_open->call = 0;
  m_open->port.reset();
}

TapiResult LinuxTelephonyProvider::Drop(CallHandle call) {
  std::lock_guard lock(m_lock);
  if (!m_open || call == 0 || m_open->call != call) return LINEERR_INVALCALLHANDLE;
  m_open->port.reset();
  const TapiResult request = NextRequest();
  Post({LINE_REPLY, m_open->handle, 0, static_cast<std::uint32_t>(request), 0, 0});
  Post({LINE_CALLSTATE, call, 0, LINECALLSTATE_IDLE, 0, 0});
  return request;
}

TapiResult LinuxTelephonyProvider::DeallocateCall(CallHandle call) {
  std::lock_guard lock(m_lock);
  if (!m_open || call == 0 || m_open->call != call) return LINEERR_INVALCALLHANDLE;
  EndCall();
  return 0;
}

TapiResult LinuxTelephonyProvider::Close(LineHandle line) {
  std::lock_guard lock(m_lock);
  if (!m_open || m_open->handle != line) return LINEERR_INVALLINEHANDLE;
  m_open.reset();
  return 0;
}

TapiResult LinuxTelephonyProvider::Shutdown() {
  std::lock_guard lock(m_lock);
  if (!m_initialised) return LINEERR_UNINITIALIZED;
  m_open.reset();
  m_messages.clear();
  m_lines.clear();
  m_initialised = false;
  return 0;
}

int LinuxTelephonyProvider::LastOpenError() const {
  std::lock_guard lock(m_lock);
  return m_lastOpenError;
}

}  // namespace vexo
