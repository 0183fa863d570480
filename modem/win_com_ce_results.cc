// The serial port object's result-line readers: timed reads of what the modem
// answers, split into upper-cased lines, ending early once the bytes end in a
// final result line.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "modem/final_results.h"
#include "modem/result_lines.h"
#include "modem/win_com_ce.h"
#include "modem/win_com_ce_internal.h"

namespace vexo {
namespace {

using port_detail::Clock;
using port_detail::MsSince;

// The silence after which bytes that end in a final result line make a
// complete batch.
constexpr std::uint32_t kFinalLineIntervalMs = 20;

}  // namespace

// How one of the three result-line readers behaves.
struct WinCOMCE::ResultRead {
  const char* function;
  std::uint32_t intervalMs;
  bool report;
  bool skipRingInfo;  // drop "+CRG:" lines
  bool stopAtXon;
  bool endAtFinal;  // a batch ending in a final result line is complete
};

// A read in the port's timeouts, but once the bytes end in a final result line
// a short silence ends it instead of the full read interval: the modem has
// nothing more to say about the command, and the caller need not wait.
int WinCOMCE::ReadToFinalLine(Channel channel, std::uint8_t* buffer, std::uint32_t length,
                              std::uint32_t* count, std::uint32_t flags) {
  const bool report = (flags & kQuiet) == 0;
  TimeoutsGuard timeouts(*this, "ReadComDataSYN", report);
  if (!timeouts.Saved()) return 0;
  timeouts.RestoreQuietly();
  const COMMTIMEOUTS& saved = timeouts.Timeouts();
  const std::uint32_t interval = saved.ReadIntervalTimeout;
  if (interval == 0 || interval == MAXDWORD || interval <= kFinalLineIntervalMs)
    return ReadComDataSYN(channel, buffer, length, count, flags);

  // The read's total time as the port's timeouts give it (none when 0): the
  // reads that follow stay within it, so a modem that trickles bytes cannot
  // hold the caller past its deadline.
  const std::int64_t allowed = std::int64_t{saved.ReadTotalTimeoutMultiplier} * length +
                               std::int64_t{saved.ReadTotalTimeoutConstant};
  const auto start = Clock::now();
  COMMTIMEOUTS quick = saved;
  quick.ReadIntervalTimeout = kFinalLineIntervalMs;
  std::uint32_t total = 0;
  int ok = timeouts.Set(quick) ? 1 : 0;
  if (ok) ok = ReadComDataSYN(channel, buffer, length, &total, flags);
  // More bytes within the usual interval belong to the same read.
  while (ok && total > 0 && total < length &&
         !EndsInFinalLine({reinterpret_cast<const char*>(buffer), total})) {
    std::int64_t wait = interval;
    if (allowed > 0) wait = std::min(wait, allowed - MsSince(start));
    if (wait <= 0) break;
    COMMTIMEOUTS rest = saved;
    rest.ReadIntervalTimeout = kFinalLineIntervalMs;
    rest.ReadTotalTimeoutMultiplier = 0;
    rest.ReadTotalTimeoutConstant = static_cast<std::uint32_t>(wait);
    std::uint32_t more = 0;
    ok = timeouts.Set(rest) ? 1 : 0;
    if (ok) ok = ReadComDataSYN(channel, buffer + total, length - total, &more, flags);
    if (more == 0) break;
    total += more;
  }
  if (count) *count = total;
  return ok;
}

int WinCOMCE::ReadResultLines(const ResultRead& how, char* buffer, std::size_t kept,
                              std::size_t size, std::span<char*> lines, std::uint32_t timeoutMs,
                              int* xonSeen) {
  if (xonSeen) *xonSeen = 0;
  if (buffer == nullptr) {
    buffer = m_readBuffer.data();
    size = (size == 0 || size > kReadBufferBytes) ? kReadBufferBytes : size;
  }
  if (size < 2) return -1;
  kept = std::min(kept, size - 2);  // at least one byte of room to read into
  TimeoutsGuard timeouts(*this, how.function, how.report);
  if (!timeouts.Saved()) return -1;

  const auto start = Clock::now();
  bool first = true;
  for (;;) {
    // Every read after the first gets what is left of the timeout, so a modem
    // that keeps sending no line cannot hold the caller past its deadline.
    std::int64_t left = timeoutMs;
    if (!first) {
      left = std::int64_t{timeoutMs} - MsSince(start);
      if (left <= 0) return 0;
    }
    if (!timeouts.Set(COMMTIMEOUTS{how.intervalMs, 0, static_cast<std::uint32_t>(left), 0, 0}))
      return -1;
    const std::size_t offset = first ? kept : 0;
    std::uint32_t got = 0;
    const std::uint32_t flags = (how.report ? 0u : std::uint32_t{kQuiet}) |
                                (how.endAtFinal ? std::uint32_t{kEndAtFinalLine} : 0u);
    if (!ReadComDataSYN(Channel::Command, buffer + offset,
                        static_cast<std::uint32_t>(size - 1 - offset), &got, flags))
      return -1;
    if (got == 0) return 0;
    const std::size_t scanned = offset + got;
    buffer[scanned] = 0;
    const bool xon = how.stopAtXon && static_cast<std::uint8_t>(buffer[scanned - 1]) == kXon;
    const int count = ScanResultLines(buffer, scanned, lines, how.skipRingInfo);
    const std::string_view ring = ResultWord(FinalResult::Ring);
    for (int i = 0; i < count; ++i)
      if (std::string_view(lines[static_cast<std::size_t>(i)]).starts_with(ring)) ++m_ringLines;
    if (count > 0 || xon) {
      if (xonSeen) *xonSeen = xon ? 1 : 0;
      return count;
    }
    first = false;
  }
}

int WinCOMCE::ReadResultA(char* buffer, std::size_t size, std::span<char*> lines,
                          std::uint32_t timeoutMs, bool report) {
  const ResultRead how{"ReadResultA", kResultReadIntervalMs, report, true, false, true};
  return ReadResultLines(how, buffer, 0, size, lines, timeoutMs, nullptr);
}

int WinCOMCE::ReadResultExxA(char* buffer, std::size_t kept, std::size_t size,
                             std::span<char*> lines, std::uint32_t timeoutMs,
                             std::uint32_t intervalMs, bool report) {
  const ResultRead how{"ReadResultExxA",
                       intervalMs == 0 ? kResultReadIntervalMs : intervalMs,
                       report,
                       false,
                       false,
                       false};
  return ReadResultLines(how, buffer, kept, size, lines, timeoutMs, nullptr);
}

int WinCOMCE::ReadResultWithXONA(char* buffer, std::size_t size, std::span<char*> lines,
                                 std::uint32_t timeoutMs, int* xonSeen) {
  const ResultRead how{"ReadResultWithXONA", kResultReadIntervalMs, true, false, true, false};
  return ReadResultLines(how, buffer, 0, size, lines, timeoutMs, xonSeen);
}

}  // namespace vexo
