#include "app/store/file_time.h"

#include <charconv>
#include <chrono>
#include <utility>

namespace vexo {
namespace {

constexpr std::uint64_t kTicksPerMillisecond = 10'000;
constexpr std::uint64_t kTicksPerSecond = 1'000 * kTicksPerMillisecond;
constexpr std::uint64_t kTicksPerDay = 86'400 * kTicksPerSecond;
// Days from 1601-01-01 to 1970-01-01, the epoch of std::chrono::sys_days.
constexpr std::int64_t kDaysFrom1601To1970 = 134'774;
constexpr int kFirstYear = 1601;
constexpr int kLastYear = 30827;  // the last year a SYSTEMTIME can hold

}  // namespace

std::optional<FileTime> LocalTimeToFileTime(const LocalTime& time) {
  using namespace std::chrono;
  if (time.year < kFirstYear || time.year > kLastYear) return std::nullopt;
  const year_month_day date{year{time.year}, month{static_cast<unsigned>(time.month)},
                            day{static_cast<unsigned>(time.day)}};
  if (time.month < 1 || time.day < 1 || !date.ok()) return std::nullopt;
  if (time.hour < 0 || time.hour > 23 || time.minute < 0 || time.minute > 59 || time.second < 0 ||
      time.second > 59 || time.millisecond < 0 || time.millisecond > 999)
    return std::nullopt;
  const std::int64_t days = sys_days{date}.time_since_epoch().count() + kDaysFrom1601To1970;
  const std::uint64_t seconds = static_cast<std::uint64_t>(time.hour) * 3600 +
                                static_cast<std::uint64_t>(time.minute) * 60 +
                                static_cast<std::uint64_t>(time.second);
  return FileTime::FromTicks(static_cast<std::uint64_t>(days) * kTicksPerDay +
                             seconds * kTicksPerSecond +
                             static_cast<std::uint64_t>(time.millisecond) * kTicksPerMillisecond);
}

LocalTime FileTimeToLocalTime(FileTime time) {
  using namespace std::chrono;
  const std::uint64_t ticks = time.Ticks();
  const auto days = static_cast<std::int64_t>(ticks / kTicksPerDay);
  std::uint64_t rest = ticks % kTicksPerDay;
  const sys_days date{std::chrono::days{days - kDaysFrom1601To1970}};
  const year_month_day ymd{date};
  LocalTime out;
  out.year = static_cast<int>(ymd.year());
  out.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  out.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  out.dayOfWeek = static_cast<int>(weekday{date}.c_encoding());
  out.hour = static_cast<int>(rest / (3600 * kTicksPerSecond));
  rest %= 3600 * kTicksPerSecond;
  out.minute = static_cast<int>(rest / (60 * kTicksPerSecond));
  rest %= 60 * kTicksPerSecond;
  out.second = static_cast<int>(rest / kTicksPerSecond);
  out.millisecond = static_cast<int>((rest % kTicksPerSecond) / kTicksPerMillisecond);
  return out;
}

FileTime LocalFileTimeNow() { return LocalTimeToFileTime(LocalTimeNow()).value_or(FileTime{}); }

// "%d-%d-%d %d:%d" without printf, as a listing formats one date per record.
std::string FormatListDate(FileTime time) {
  const LocalTime t = FileTimeToLocalTime(time);
  char text[64];
  char* out = text;
  char* const end = text + sizeof text;
  const std::pair<int, char> parts[] = {
      {t.year, '-'}, {t.month, '-'}, {t.day, ' '}, {t.hour, ':'}, {t.minute, '\0'}};
  for (const auto& [value, separator] : parts) {
    out = std::to_chars(out, end, value).ptr;
    if (separator != '\0') *out++ = separator;
  }
  return std::string(text, out);
}

}  // namespace vexo
