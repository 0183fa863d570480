#include "ui/settings/serial_ports.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

namespace vexo::ui {
namespace {

// The number after prefix in name, when all the rest is digits.
bool NumberAfter(std::string_view name, std::string_view prefix, std::uint32_t& number) {
  if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return false;
  const std::string_view digits = name.substr(prefix.size());
  if (digits.size() > 1 && digits[0] == '0') return false;  // another name than the device's
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  return ec == std::errc() && end == digits.data() + digits.size();
}

}  // namespace

std::vector<std::string> ListSerialDevices(const std::string& devDir, const std::string& byIdDir) {
  namespace fs = std::filesystem;
  std::vector<std::string> devices;
  std::error_code ec;
  for (std::string_view prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
    std::vector<std::pair<std::uint32_t, std::string>> found;
    for (const auto& entry : fs::directory_iterator(devDir, ec)) {
      const std::string name = entry.path().filename().string();
      std::uint32_t number = 0;
      if (NumberAfter(name, prefix, number)) found.emplace_back(number, entry.path().string());
    }
    std::sort(found.begin(), found.end());
    for (auto& [number, path] : found) devices.push_back(std::move(path));
  }
  std::vector<std::string> byId;
  for (const auto& entry : fs::directory_iterator(byIdDir, ec))
    byId.push_back(entry.path().string());
  std::sort(byId.begin(), byId.end());
  devices.insert(devices.end(), byId.begin(), byId.end());
  return devices;
}

std::string DeviceOfSettings(std::uint32_t comPortNum, const std::string& comPortDevice) {
  if (!comPortDevice.empty()) return comPortDevice;
  return "/dev/ttyS" + std::to_string(comPortNum == 0 ? 0 : comPortNum - 1);
}

std::uint32_t ComPortOfDevice(const std::string& device) {
  std::uint32_t index = 0;
  if (!NumberAfter(device, "/dev/ttyS", index) || index >= kMaxComPortNum) return 0;
  return index + 1;
}

PortChoice ChoosePort(const std::string& device, std::uint32_t currentComPortNum) {
  if (const std::uint32_t port = ComPortOfDevice(device); port != 0) return {port, {}};
  return {currentComPortNum, device};
}

std::string PortLabel(const std::string& device) {
  const std::uint32_t port = ComPortOfDevice(device);
  if (port == 0) return device;
  return "COM" + std::to_string(port) + ": (" + device + ")";
}

}  // namespace vexo::ui
