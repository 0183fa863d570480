// The timers of T.30, in milliseconds, with the standard's names. Class 1
// sessions run T.30 themselves and time their commands and responses by them.
#pragma once

#include <cstdint>

namespace vexo::t30 {

// T1: how long a calling station waits for the called station's first
// identification (DIS) before it gives up.
inline constexpr std::uint32_t kT1Ms = 35000;
// T2: how long a station waits for a command after phase C or after a
// response (the receiver waiting for the next page or post-page message).
inline constexpr std::uint32_t kT2Ms = 6000;
// T4: how long a station waits for the response to a command before it
// repeats the command (3 s, plus the standard's 15 % tolerance).
inline constexpr std::uint32_t kT4Ms = 3000;
inline constexpr std::uint32_t kT4ToleranceMs = 450;
// T5: how long an error-correcting sender waits for the receiver to become
// ready again.
inline constexpr std::uint32_t kT5Ms = 60000;

// A command is sent at most this many times before the call is given up.
inline constexpr int kCommandTries = 3;

// The silence between DCS and the training check: 75 ms plus or minus 20.
inline constexpr std::uint32_t kTrainingGapMs = 75;

}  // namespace vexo::t30
