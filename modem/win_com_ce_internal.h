// What the files of the serial port object share: its error pool module name,
// the failure texts of more than one file, and millisecond clock helpers.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

namespace vexo::port_detail {

inline constexpr const char* kModule = "WinCOMCE";
inline constexpr const char* kReadFailed =
    "ReadFile from COM failed, device not ready or COM port not available, ErrMsg =";

using Clock = std::chrono::steady_clock;

inline std::int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

inline void SleepMs(std::int64_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace vexo::port_detail
