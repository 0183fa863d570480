// The serial devices the modem page offers, and how a chosen device is kept in
// the settings: "COMn:" stands for /dev/ttyS<n-1>, any other device is kept
// by path in COMPortDevice. No Qt here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexo::ui {

// The highest port number COMPortNum holds.
constexpr std::uint32_t kMaxComPortNum = 13;

// The serial devices of this machine: /dev/ttyS<n> in number order, then
// /dev/ttyUSB<n> and /dev/ttyACM<n> in number order, then the entries of the
// by-id folder (as paths there) in name order.
std::vector<std::string> ListSerialDevices(const std::string& devDir = "/dev",
                                           const std::string& byIdDir = "/dev/serial/by-id");

// The device the settings name: COMPortDevice when set, else /dev/ttyS<n-1>.
std::string DeviceOfSettings(std::uint32_t comPortNum, const std::string& comPortDevice);
// The port number of /dev/ttyS<n-1> for n in 1..kMaxComPortNum, else 0.
std::uint32_t ComPortOfDevice(const std::string& device);

// A chosen device as the two settings keep it.
struct PortChoice {
  std::uint32_t comPortNum = 1;
  std::string comPortDevice;
};
// /dev/ttyS<n-1> gives port n and no device; any other device keeps the port
// number and is kept by path.
PortChoice ChoosePort(const std::string& device, std::uint32_t currentComPortNum);

// How the port list shows a device: "COMn: (/dev/ttyS<n-1>)" or the path.
std::string PortLabel(const std::string& device);

}  // namespace vexo::ui
