#include "platform/clock.h"

#include <sys/time.h>

#include <ctime>

namespace vexo {

LocalTime LocalTimeNow() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  std::tm tm{};
  localtime_r(&tv.tv_sec, &tm);
  LocalTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  t.millisecond = static_cast<int>(tv.tv_usec / 1000);
  t.dayOfWeek = tm.tm_wday;
  return t;
}

}  // namespace vexo
