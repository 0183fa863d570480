// LinuxTelephonyProvider: the telephony lines of a Linux machine. Every serial
// device under /dev/serial/by-id (named by its by-id name) and every path of
// the TelephonyDevices setting (named by its path) is one line device with
// bearer mode PASSTHROUGH and media mode DATAMODEM. A pass-through call opens
// the device, and lineGetID hands it out as the call's "comm/datamodem" port.
// Start-up builds the modem list from it; jobs open lines through it.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/telephony/telephony_provider.h"

namespace vexo {

constexpr const char* kSerialByIdDir = "/dev/serial/by-id";
// Fixed parts of the variable-size structures, as the interface sizes them.
constexpr std::uint32_t kDevCapsFixedBytes = 236;
constexpr std::uint32_t kTranslateOutputFixedBytes = 40;
constexpr std::uint32_t kVarStringFixedBytes = 24;

// One line device: its name and the device path a call opens.
struct SerialLine {
  std::string name;
  std::string path;
};

// The line devices: the entries of byIdDir in name order, then the paths of
// the semicolon-separated list (blanks around each trimmed, empty ones and
// devices already listed skipped).
std::vector<SerialLine> FindSerialLines(const std::string& byIdDir,
                                        std::string_view telephonyDevices);

class LinuxTelephonyProvider : public TelephonyProvider {
 public:
  // openDevice null: the termios device.
  explicit LinuxTelephonyProvider(std::string telephonyDevices,
                                  std::string byIdDir = kSerialByIdDir,
                                  SerialDeviceOpener openDevice = {});

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

  // The errno value of the last device opening that failed (0: none).
  int LastOpenError() const;

 private:
  // The one open line and its call.
  struct OpenLine {
    LineHandle handle = 0;
    std::uint32_t device = 0;
    CallHandle call = 0;
    std::unique_ptr<SerialDevice> port;  // opened by the call, until GetID hands it out
  };

  bool ValidDevice(std::uint32_t device) const;
  TapiResult NextRequest();
  void Post(LineMessage message);
  void EndCall();

  std::string m_telephonyDevices;
  std::string m_byIdDir;
  SerialDeviceOpener m_openDevice;

  mutable std::mutex m_lock;
  std::condition_variable m_signal;
  bool m_initialised = false;
  std::vector<SerialLine> m_lines;
  std::optional<OpenLine> m_open;
  std::deque<LineMessage> m_messages;
  std::uint32_t m_nextHandle = 1;
  TapiResult m_nextRequest = 1;
  int m_lastOpenError = 0;
};

}  // namespace vexo
