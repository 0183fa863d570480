// Modem probe: finds the fax modems on serial devices and suggests the modem
// settings for each. Every device is opened as the fax jobs open it (the
// serial port object: its lock, line speed and line settings) and asked who it
// is ("ATI"), which fax classes it offers ("AT+FCLASS=?"), the Class 1 speeds
// ("AT+FTM=?") and, in Class 2 or 2.0, the maker and model. The devices are
// probed at the same time, one thread each, so ports with nothing on them cost
// one short wait together. `vexo probe` and the settings sheet's Detect button
// use it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexo {

enum class ProbeState { NotOpened, NoAnswer, Answered };

struct ProbeResult {
  std::string device;
  ProbeState state = ProbeState::NotOpened;
  std::string openError;                    // NotOpened: why
  std::string identity;                     // the first line of the answer to "ATI"
  std::vector<std::uint32_t> classes;       // offered, as ForceFaxClass values: 1, 2, 20
  std::vector<std::uint32_t> class1Speeds;  // bit/s of the "AT+FTM=?" codes, ascending
  std::string manufacturer;                 // Class 2.0 "+FMI?", else Class 2 "+FMFR?"
  std::string model;                        // Class 2.0 "+FMM?", else Class 2 "+FMDL?"

  // The ForceFaxClass value to use, nullopt when no fax class was offered.
  std::optional<std::uint32_t> SuggestedClass() const;
};

// The serial devices of devDir: its serial/by-id entries in name order (the
// modem lines `vexo modems` lists), then ttyS*, ttyUSB* and ttyACM* in number
// order.
std::vector<std::string> SerialDevicesOf(const std::string& devDir = "/dev");

// The devices to probe: serialDevices, then the paths of a TelephonyDevices
// value; each device once, under the first name that leads to it.
std::vector<std::string> ProbeDevices(const std::vector<std::string>& serialDevices,
                                      std::string_view telephonyDevices);

// Probes the devices at the line speed baud; the results in the devices' order.
std::vector<ProbeResult> ProbeModems(const std::vector<std::string>& devices, std::uint32_t baud);

// "1", "2" or "2.0" for a ForceFaxClass value.
std::string FaxClassName(std::uint32_t forceFaxClass);

// One line for a result, fields separated by tabs: the device, what it
// answered ("no answer", or why it could not be opened), then for a modem its
// classes, Class 1 speeds, maker and model, and the suggested settings
// "COMPortDevice=... ForceFaxClass=...".
std::string ProbeLine(const ProbeResult& result);

}  // namespace vexo
