// FILETIME values as the record store keeps dates: 100-nanosecond ticks since
// 1 January 1601, taken from the local wall clock (not UTC), as the fax jobs
// stamp a record at filing. The fax list shows them as "%d-%d-%d %d:%d".
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/clock.h"

namespace vexo {

struct FileTime {
  std::uint32_t dwLowDateTime = 0;
  std::uint32_t dwHighDateTime = 0;

  constexpr std::uint64_t Ticks() const {
    return (std::uint64_t{dwHighDateTime} << 32) | dwLowDateTime;
  }
  static constexpr FileTime FromTicks(std::uint64_t ticks) {
    return {static_cast<std::uint32_t>(ticks), static_cast<std::uint32_t>(ticks >> 32)};
  }
  friend constexpr bool operator==(FileTime a, FileTime b) { return a.Ticks() == b.Ticks(); }
  // Compared as one unsigned 64-bit number, high part first.
  friend constexpr auto operator<=>(FileTime a, FileTime b) { return a.Ticks() <=> b.Ticks(); }
};

// The broken-down time as a file time; nullopt for fields out of range.
std::optional<FileTime> LocalTimeToFileTime(const LocalTime& time);
// The file time broken down into fields (day of week included).
LocalTime FileTimeToLocalTime(FileTime time);
// The local time now as a file time: the stamp of a record at filing.
FileTime LocalFileTimeNow();

// "year-month-day hour:minute" without leading zeros, as the fax list shows a date.
std::string FormatListDate(FileTime time);

}  // namespace vexo
