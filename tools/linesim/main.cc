// vexo-linesim: a telephone line with emulated Class 1 fax modems on ptys and a
// real T.30 far end, for tests and demos without fax hardware. Prints one line
// "modem N PATH" per pty (and "data N PATH" for the data pty of a two-port
// phone modem), then a report line per call; stops on SIGINT/SIGTERM.
#include <signal.h>
#include <time.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tools/linesim/options.h"
#include "tools/linesim/telephone_line.h"

namespace {

// Set by the signal handler, read by the audio loop: the one process-wide flag.
volatile sig_atomic_t g_stop = 0;

void OnStopSignal(int) { g_stop = 1; }

constexpr long kNanosPerBlock = vexo::linesim::kBlockMs * 1'000'000L;
// Falling further behind than this (a stalled machine) restarts the schedule
// instead of running the missed blocks in a burst.
constexpr long kMaxLagNanos = 1'000'000'000L;
// With --once, how long (line time) a call may go on after the program closed
// its port: the far terminal still ends its side (the program hangs up after
// the last frame it needed), and the report should say how the call ended
// rather than that the simulator stopped it.
constexpr int kOnceGraceBlocks = 10'000 / vexo::linesim::kBlockMs;

long long ToNanos(const timespec& t) { return t.tv_sec * 1'000'000'000LL + t.tv_nsec; }

timespec FromNanos(long long n) {
  return timespec{static_cast<time_t>(n / 1'000'000'000LL), static_cast<long>(n % 1'000'000'000LL)};
}

long long MonotonicNanos() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return ToNanos(now);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vexo::linesim;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(UsageText(), stdout);
      return 0;
    }
  }
  std::string error;
  const auto options = ParseOptions(argc, argv, error);
  if (!options) {
    std::fprintf(stderr, "vexo-linesim: %s\n%s", error.c_str(), UsageText());
    return 2;
  }

  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  TelephoneLine line(*options);
  if (!line.Start(error)) {
    std::fprintf(stderr, "vexo-linesim: %s\n", error.c_str());
    return 1;
  }
  for (const auto& modem : line.modems()) {
    std::printf("modem %d %s\n", modem->number(), modem->port().slavePath().c_str());
    if (const PtyPort* data = modem->dataPort(); data != nullptr)
      std::printf("data %d %s\n", modem->number(), data->slavePath().c_str());
  }
  std::fflush(stdout);

  // Audio runs on an absolute schedule, so that the line clock does not drift
  // when one block takes longer to compute.
  long long next = MonotonicNanos();
  int graceLeft = kOnceGraceBlocks;
  while (!g_stop) {
    for (int i = 0; i < options->speed; ++i) line.Step();
    if (options->once && line.AllPortsClosedAfterUse()) {
      if (!line.CallInProgress()) break;
      graceLeft -= options->speed;
      if (graceLeft <= 0) break;
    }
    next += kNanosPerBlock;
    const long long now = MonotonicNanos();
    if (now - next > kMaxLagNanos) next = now;
    const timespec until = FromNanos(next);
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
  }
  line.Shutdown();
  return 0;
}
