// Local wall-clock time broken into the fields the logs and file names print.
#pragma once

namespace vexo {

struct LocalTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  int dayOfWeek = 0;  // 0 = Sunday
};

LocalTime LocalTimeNow();
// The local time of a moment given in seconds since the epoch.
LocalTime LocalTimeOf(long long secondsSinceEpoch);

}  // namespace vexo
