// Names the Class 1 frames, transmit and receive code share: the module name,
// the frame commands, the page buffer sizes and the write waits. Status ids
// and report texts of every class are in protocol/session_names.h.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "protocol/session_names.h"

namespace vexo::class1 {

constexpr const char* kModule = "FClass1Func";
constexpr const char* kFrameCommand = "AT+FTH=%s";
constexpr const char* kReceiveFrameCommand = "AT+FRH=%s";
constexpr const char* kV21Code = "3";

constexpr std::size_t kPageBufferBytes = 8192;
constexpr std::size_t kChunkBytes = 4096;
constexpr std::uint32_t kCommandPauseMs = 20;
constexpr std::uint32_t kWriteMultiplierMs = 10;
constexpr std::uint32_t kWriteConstantMs = 30000;

// Reports message under the module, for function.
void Report(const char* function, const char* message);

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline; 0 once it has passed.
std::uint32_t MsUntil(Clock::time_point deadline);
inline Clock::time_point DeadlineIn(std::uint32_t ms) {
  return Clock::now() + std::chrono::milliseconds(ms);
}

}  // namespace vexo::class1
