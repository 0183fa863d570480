// vexo queue add|list|cancel|retry|run: the outbox of a home from a shell.
//   add FILE... [--to NUMBER] [--name NAME] [--note TEXT] [--cover TEMPLATE]
//       [--subject TEXT] [--at TIME]: composes the files behind an optional
//       cover page, as vexo send does, and queues the fax in the Sending
//       folder, due at TIME ("YYYY-MM-DD HH:MM" local time, or "+MINUTES";
//       now when left out). Without --to the fax is held for a number: a
//       running vexofax of the home asks for it at once, else its next start.
//   list [--json]: the queued faxes, the next due first.
//   cancel ID: takes a queued fax out of the queue into the Deleted folder.
//   retry ID [--at TIME] [--to NUMBER [--name NAME]]: makes a queued fax due
//       at TIME (now when left out); a fax given up waits again, its tries
//       counted anew; a fax held for a number gets the number given.
//   run [--wait]: sends every fax that is due, one call at a time, through the
//       port the job options choose; --wait keeps checking every 30 seconds,
//       or at once on SIGHUP, until SIGINT or SIGTERM.
// A running vexofax of the home is asked to relist after add, cancel and retry.
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/jobs/list_refresh.h"
#include "app/jobs/outbox.h"
#include "app/jobs/user_messages.h"
#include "app/settings/layer_options.h"
#include "base/error_pool.h"
#include "base/string_ids.h"
#include "base/strings.h"
#include "cli/fax_call.h"
#include "cli/json.h"
#include "document/tiff_convert.h"
#include "platform/text.h"

namespace vexo::cli {
namespace {

using Clock = std::chrono::system_clock;
constexpr const char* kCommand = "vexo queue";
constexpr auto kWaitCheckEvery = std::chrono::seconds(30);
constexpr auto kSignalPoll = std::chrono::milliseconds(200);
constexpr std::size_t kMessageChars = 256;

enum class Action { kAdd, kList, kCancel, kRetry, kRun };

struct QueueArgs {
  JobOptions job;
  std::optional<std::uint32_t> action;
  std::vector<std::string> operands;  // files for add, the id for cancel and retry
  CoverFaxDetails details;
  std::string cover;
  std::string at;
  bool json = false;
  bool wait = false;
};

constexpr Choice kActions[] = {{"add", static_cast<std::uint32_t>(Action::kAdd)},
                               {"list", static_cast<std::uint32_t>(Action::kList)},
                               {"cancel", static_cast<std::uint32_t>(Action::kCancel)},
                               {"retry", static_cast<std::uint32_t>(Action::kRetry)},
                               {"run", static_cast<std::uint32_t>(Action::kRun)}};

// TIME of --at: "+MINUTES" from now, or "YYYY-MM-DD HH:MM" in local time.
std::optional<Clock::time_point> ParseTime(const std::string& text, Clock::time_point now) {
  if (text.empty()) return now;
  if (text[0] == '+') {
    unsigned minutes = 0;
    char extra = 0;
    if (std::sscanf(text.c_str() + 1, "%u%c", &minutes, &extra) != 1) return std::nullopt;
    return now + std::chrono::minutes(minutes);
  }
  std::tm local{};
  char extra = 0;
  if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d%c", &local.tm_year, &local.tm_mon, &local.tm_mday,
                  &local.tm_hour, &local.tm_min, &extra) != 5)
    return std::nullopt;
  const std::tm asGiven = local;
  local.tm_year -= 1900;
  local.tm_mon -= 1;
  local.tm_isdst = -1;
  const std::time_t time = std::mktime(&local);
  // mktime normalises out-of-range fields: a month 13 or an hour 25 is refused.
  if (time == -1 || local.tm_year != asGiven.tm_year - 1900 || local.tm_mon != asGiven.tm_mon - 1 ||
      local.tm_mday != asGiven.tm_mday || local.tm_hour != asGiven.tm_hour ||
      local.tm_min != asGiven.tm_min)
    return std::nullopt;
  return Clock::from_time_t(time);
}

std::string LocalTimeText(std::int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm local{};
  char text[32] = "";
  if (localtime_r(&time, &local)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

const char* ResultText(int lastResult) {
  switch (lastResult) {
    case 0:
      return "sent";
    case 1:
      return "partly";
    case -1:
      return "failed";
    default:
      return "-";
  }
}

const char* StatusText(const std::optional<OutboxState>& state) {
  if (!state) return "not queued";
  switch (state->status) {
    case OutboxStatus::kFailed:
      return "failed";
    case OutboxStatus::kNeedsNumber:
      return "needs number";
    default:
      return "waiting";
  }
}

// Composes the files behind the cover page into a new file of the data
// directory; its path, or empty after a report.
std::string Compose(AppOper& app, const QueueArgs& args) {
  ConvertRequest request;
  request.sources = args.operands;
  request.details = args.details;
  request.notBilevel = ShowNotBilevel;
  if (!args.cover.empty()) {
    const auto path = FindCoverTemplate(args.cover, app.Settings().CoverDir);
    if (!path) {
      std::fprintf(stderr, "%s: no cover page template %s (nor in %s)\n", kCommand,
                   args.cover.c_str(), app.Settings().CoverDir.c_str());
      return {};
    }
    request.coverTemplate = *path;
  }
  if (MeasureConversion(request) < 0) return {};
  request.output = app.NewComposedFile();
  if (request.output.empty()) return {};
  TiffConvert convert(ConvertOptionsOf(app.Settings()), &app.SystemLog());
  return convert.Convert(request) == 1 ? request.output : std::string();
}

int Failed(const char* what) {
  ShowErrorPoolBoxes(kCommand);
  std::fprintf(stderr, "%s: %s\n", kCommand, what);
  return 2;
}

int Add(AppOper& app, Outbox& outbox, const QueueArgs& args) {
  const auto due = ParseTime(args.at, Clock::now());  // checked by MisuseOf
  if (!due) return kUsageExitCode;
  const std::string file = Compose(app, args);
  if (file.empty()) return Failed("the fax could not be composed");
  OutboxFax fax;
  fax.files = {file};
  fax.number = args.details.recipientFax;
  fax.recipient = args.details.recipientName;
  fax.note = args.details.note;
  fax.coverPage = !args.cover.empty();
  fax.due = *due;
  // The composed file is in the data directory: the record names it as it is.
  const CEOID id = outbox.Add(fax);
  if (id == 0) {
    std::remove(file.c_str());  // composed for this fax only; the sources are kept
    return Failed("the fax could not be queued");
  }
  AskRunningAppToRelist(app.Home());
  if (fax.number.empty()) {
    AskRunningAppForNumber(app.Home(), id);
    std::printf("%s\n", Format(kMessageChars, LoadResString(str::kQueuedWithoutNumber).c_str(),
                               static_cast<unsigned>(id))
                            .c_str());
    return 0;
  }
  std::printf("Queued %u for %s\n", id, LocalTimeText(Clock::to_time_t(*due)).c_str());
  return 0;
}

std::string QueuedJson(const QueuedFax& fax) {
  const OutboxState state = fax.state.value_or(OutboxState{});
  return JsonObject()
      .AddNumber("id", fax.record.oid)
      .AddString("telephone", fax.record.telephone.value_or(""))
      .AddString("contact", fax.record.contact.value_or(""))
      .AddString("nextTry", fax.state ? LocalTimeText(state.nextTry) : "")
      .AddNumber("tries", state.tries)
      .AddString("lastResult", ResultText(state.lastResult))
      .AddString("lastOutcome", OutboxOutcomeText(state))
      .AddString("status", StatusText(fax.state))
      .AddNumber("pages", fax.record.pages)
      .Text();
}

int List(Outbox& outbox, bool json) {
  std::vector<QueuedFax> faxes;
  if (!outbox.List(faxes)) return Failed("the Sending folder could not be read");
  if (json) {
    std::string text = "[";
    for (const QueuedFax& fax : faxes) text += (text.size() > 1 ? ",\n " : "") + QueuedJson(fax);
    std::printf("%s]\n", text.c_str());
    return 0;
  }
  std::printf("Sending: %zu fax%s\n", faxes.size(), faxes.size() == 1 ? "" : "es");
  if (faxes.empty()) return 0;
  std::printf("%10s  %-20s  %-20s  %-16s  %5s  %-12s  %s\n", "ID", "Telephone", "Contact",
              "Next try", "Tries", "Status", "Last result");
  for (const QueuedFax& fax : faxes) {
    const OutboxState state = fax.state.value_or(OutboxState{});
    std::printf("%10u  %-20s  %-20s  %-16s  %5u  %-12s  %s\n", fax.record.oid,
                fax.record.telephone.value_or("").c_str(), fax.record.contact.value_or("").c_str(),
                fax.state ? LocalTimeText(state.nextTry).c_str() : "", state.tries,
                StatusText(fax.state), fax.state ? OutboxOutcomeText(state).c_str() : "");
  }
  return 0;
}

// The id of a queued fax, or nullopt after telling which action needs one.
std::optional<CEOID> ParseId(const char* action, const std::string& idText) {
  unsigned long id = 0;
  char extra = 0;
  if (std::sscanf(idText.c_str(), "%lu%c", &id, &extra) == 1 && id != 0 && id <= 0xFFFFFFFFul)
    return static_cast<CEOID>(id);
  std::fprintf(stderr, "%s: %s takes the id of a queued fax, not %s\n", kCommand, action,
               idText.c_str());
  return std::nullopt;
}

int Cancel(AppOper& app, Outbox& outbox, const std::string& idText) {
  const auto id = ParseId("cancel", idText);
  if (!id) return kUsageExitCode;
  if (!outbox.Cancel(*id)) return Failed("no such queued fax");
  AskRunningAppToRelist(app.Home());
  std::printf("Cancelled %u\n", *id);
  return 0;
}

int Retry(AppOper& app, Outbox& outbox, const QueueArgs& args) {
  auto id = ParseId("retry", args.operands[0]);
  const auto due = ParseTime(args.at, Clock::now());  // checked by MisuseOf
  if (!id || !due) return kUsageExitCode;
  // A fax held for a number gets it here; it is filed anew under a new id.
  if (!args.details.recipientFax.empty()) {
    id = outbox.SetNumber(*id, args.details.recipientFax, args.details.recipientName);
    if (*id == 0) return Failed("the fax could not take the number");
  }
  if (!outbox.Reschedule(*id, *due)) return Failed("no such queued fax");
  AskRunningAppToRelist(app.Home());
  std::printf("Rescheduled %u for %s\n", *id, LocalTimeText(Clock::to_time_t(*due)).c_str());
  return 0;
}

sigset_t WakeSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGHUP);
  return set;
}

// While it lives, SIGHUP is held for WaitForNextCheck instead of ending the
// program.
class HoldWakeSignal {
 public:
  HoldWakeSignal() {
    const sigset_t set = WakeSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
  }
  ~HoldWakeSignal() {
    const sigset_t set = WakeSignals();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  }
  HoldWakeSignal(const HoldWakeSignal&) = delete;
  HoldWakeSignal& operator=(const HoldWakeSignal&) = delete;
};

// Waits until the next check is due, SIGHUP asks for one now, or SIGINT or
// SIGTERM came; whether one of the latter came.
bool WaitForNextCheck(const CancelOnSignal& signals) {
  const sigset_t wake = WakeSignals();
  const timespec poll{0, std::chrono::nanoseconds(kSignalPoll).count()};
  const auto until = std::chrono::steady_clock::now() + kWaitCheckEvery;
  while (!signals.Signalled() && std::chrono::steady_clock::now() < until)
    if (sigtimedwait(&wake, nullptr, &poll) > 0) break;
  return signals.Signalled();
}

int Run(AppOper& app, Outbox& outbox, bool wait) {
  TerminalStatus terminal(app.Job());
  CancelOnSignal signals(app.Job());
  int failed = 0;
  do {
    const OutboxRun run = outbox.RunDue();
    failed += run.failed;
    std::printf("Calls: %d, sent: %d, given up: %d\n", run.calls, run.sent, run.failed);
    std::fflush(stdout);
    FlushErrorPool(nullptr, false);
  } while (wait && !WaitForNextCheck(signals));
  if (wait) return 0;
  return failed > 0 ? 1 : 0;
}

// The command line's checks that depend on the action.
std::optional<const char*> MisuseOf(Action action, const QueueArgs& args) {
  switch (action) {
    case Action::kAdd:
      if (args.operands.empty() && args.cover.empty()) return "add needs a file to send";
      if (!ParseTime(args.at, Clock::now())) return "--at takes \"YYYY-MM-DD HH:MM\" or +MINUTES";
      return std::nullopt;
    case Action::kCancel:
      if (args.operands.size() != 1) return "cancel takes one id";
      return std::nullopt;
    case Action::kRetry:
      if (args.operands.size() != 1) return "retry takes one id";
      if (!ParseTime(args.at, Clock::now())) return "--at takes \"YYYY-MM-DD HH:MM\" or +MINUTES";
      return std::nullopt;
    default:
      if (!args.operands.empty()) return "list and run take no files";
      return std::nullopt;
  }
}

}  // namespace

int RunQueue(int argc, char** argv) {
  QueueArgs args;
  CLI::App cli{
      "The outbox: queue faxes in the Sending folder (add), list them, cancel one, make one due "
      "again (retry), or send every fax that is due (run)."};
  AddChoice(cli, "ACTION", args.action, kActions, "what to do")->required();
  cli.add_option("ARG", args.operands,
                 "add: the files to send; cancel, retry: the queued fax's id");
  AddJobOptions(cli, args.job);
  cli.add_option("--to", args.details.recipientFax,
                 "add: the fax number to call, without it vexofax asks for one; retry: the "
                 "number of a fax held for one")
      ->type_name("NUMBER");
  cli.add_option("--name", args.details.recipientName, "add, retry --to: the recipient's name")
      ->type_name("RECIPIENT");
  cli.add_option("--note", args.details.note, "add: the note of the cover page and the record")
      ->type_name("TEXT");
  cli.add_option("--cover", args.cover,
                 "add: the cover page template (a path, or a name in the cover directory)")
      ->type_name("TEMPLATE");
  cli.add_option("--subject", args.details.subject, "add: the subject of the cover page")
      ->type_name("TEXT");
  cli.add_option("--at", args.at,
                 "add, retry: not sent before TIME, \"YYYY-MM-DD HH:MM\" or +MINUTES")
      ->type_name("TIME");
  cli.add_flag("--json", args.json, "list: print JSON for scripts");
  cli.add_flag("--wait", args.wait, "run: keep running, checking every 30 seconds or on SIGHUP");
  if (const auto code = ParseCommand(cli, argc, argv)) return *code;
  const auto action = static_cast<Action>(*args.action);
  if (const auto misuse = MisuseOf(action, args)) {
    std::fprintf(stderr, "%s: %s\n", kCommand, *misuse);
    return kUsageExitCode;
  }

  // SIGHUP is held before any thread starts, so that none takes it.
  std::optional<HoldWakeSignal> wake;
  if (action == Action::kRun) wake.emplace();
  AppOper app(MakeAppOptions(args.job));
  if (!StartApp(app, args.job, kCommand)) return 2;
  const std::unique_ptr<DBFunc> store = CreateDBFunc(app.MakeStoreOptions());
  if (!store) return Failed("the record store could not be opened");
  app.SetStore(store.get());
  Outbox outbox(app, *store);
  switch (action) {
    case Action::kAdd:
      return Add(app, outbox, args);
    case Action::kList:
      return List(outbox, args.json);
    case Action::kCancel:
      return Cancel(app, outbox, args.operands[0]);
    case Action::kRetry:
      return Retry(app, outbox, args);
    case Action::kRun:
      return Run(app, outbox, args.wait);
  }
  return 2;
}

}  // namespace vexo::cli
