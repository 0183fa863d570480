// The dump records of the communication log: a head line naming the time, the
// direction and the outcome of one transfer, then the bytes in lines of 16 as
// hexadecimal pairs and characters. The serial port object writes them when
// its dump flag is on; tests compare them byte for byte.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/clock.h"

namespace vexo {

enum class DumpKind : int {
  Read = 0,
  Write = 1,
  ReadFailed = 2,
  WriteFailed = 3,
  ClearRead = 4,
  ClearReadFailed = 6,
};

constexpr std::size_t kDumpBytesPerLine = 16;
constexpr std::size_t kDumpCharColumn = 56;

// "[YYYY/MM/DD - hh:mm:ss:mmm] -- Read: Successful.\r\n" and its variants.
std::string DumpHeadLine(const LocalTime& time, DumpKind kind);
// The data lines of the bytes and the empty line after them; empty for no bytes.
std::string DumpDataLines(std::span<const std::uint8_t> bytes);

}  // namespace vexo
