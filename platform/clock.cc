#include "platform/clock.h"

#include <sys/time.h>

#include <ctime>

namespace vexo {

LocalTime LocalTimeOf(long long secondsSinceEpoch) {
  const auto seconds = static_cast<time_t>(secondsSinceEpoch);
  std::tm tm{};
  localtime_r(&seconds, &tm);
  LocalTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  t.dayOfWeek = tm.tm_wday;
  return t;
}

LocalTime LocalTimeNow() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  LocalTime t = LocalTimeOf(tv.tv_sec);
  t.millisecond = static_cast<int>(tv.tv_usec / 1000);
  return t;
}

}  // namespace vexo
