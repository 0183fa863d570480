// The outbox: faxes queued in the Sending folder go out by themselves once
// they are due, one call at a time, through AppOper's send job with the port,
// modem and class the AppOper was started with. A call that fails on the line
// (busy, no answer, no carrier, failed training, a dropped line) is made again
// RetryDelay minutes later, up to MaxTries calls; a fax that went partly goes
// on at its first page the far end did not confirm, its cover page sent again
// first. A call that could not be made (the port or modem unusable, the home
// busy, a cancel) counts as no try and ends the run; a fax that cannot go (an
// unreadable file, a far end that cannot take it) is given up at once. A fax
// that went is filed in Sent, also when it was cancelled during its call; one
// that never did stays in Sending marked failed, with a report under "Outbox".
// Time comes from a clock the caller may replace, the call from a caller.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/jobs/app_oper.h"
#include "app/store/db_func.h"
#include "app/store/outbox_state.h"
#include "base/error_pool.h"
#include "protocol/fax_result.h"

namespace vexo {

using OutboxClock = std::function<std::chrono::system_clock::time_point()>;

// What one call of the outbox came to.
struct OutboxCall {
  // The call was made: the home was free, the port opened, the modem answered
  // and nobody cancelled it. A call not made counts as no try.
  bool made = false;
  int result = -1;         // the send job's 0 sent, 1 partly, -1 failed
  std::uint32_t stop = 0;  // resume position in the file sent where the call stopped; 0: the end
  OutboxOutcome outcome = OutboxOutcome::kCallFailed;
  FaxResult fax;                   // the call's counts, for its record in Sent
  std::optional<LinkCoding> link;  // how its pages travelled
};
// Makes the call the inputs describe. The outbox's own sends through the
// AppOper's send job.
using OutboxCaller = std::function<OutboxCall(const SendInputs&)>;

// How a send job's call ended, from its result, where it stopped and the
// reports it left in the error pool, oldest first: the first report that names
// a reason decides.
OutboxOutcome CallOutcome(int result, std::uint32_t stop, std::span<const ErrorRecord> reports);
// The text the lists show for the last outcome of a queued fax.
std::string OutboxOutcomeText(const OutboxState& state);
// The report of a fax given up: that the far end cannot receive it, or that
// it was given up after its tries.
std::string OutboxGivenUpText(const QueuedFax& fax);

// A fax to queue.
struct OutboxFax {
  std::vector<std::string> files;             // composed fax TIFF files, sent in this order
  std::string number;                         // the number to dial
  std::string recipient;                      // filed as the contact
  std::string note;                           // filed as the note
  bool coverPage = false;                     // the first page is a cover page
  std::chrono::system_clock::time_point due;  // not sent before this time
};

// What one RunDue did.
struct OutboxRun {
  int calls = 0;   // calls made
  int sent = 0;    // faxes filed in Sent
  int failed = 0;  // faxes given up (marked failed)
  // The run ended early: another job held the modem, or the call was cancelled.
  bool stopped = false;
};

class Outbox {
 public:
  // app is started; store is the home's record store.
  Outbox(AppOper& app, DBFunc& store, OutboxClock clock = std::chrono::system_clock::now,
         OutboxCaller call = {});
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;

  // Queues the fax in Sending, due at fax.due. Several files, or one outside
  // the data directory, are joined into a new fax file there. Without a
  // number the fax is held for one: listed, never called. The record's id,
  // or 0 after a report.
  CEOID Add(const OutboxFax& fax);
  // Gives a fax held for a number its number, and its name unless name is
  // empty, and makes it due now.
  // The record is filed anew: its new id, or 0 after a report.
  CEOID SetNumber(CEOID id, const std::string& number, const std::string& name);
  // Every record of Sending with its outbox state, the next due first.
  bool List(std::vector<QueuedFax>& faxes);
  // Takes a fax out of the queue into the Deleted folder, its file kept; false
  // (after a report) when Sending has no such record.
  bool Cancel(CEOID id);
  // Makes the queued fax due at `when`; a fax given up waits again, its tries
  // counted anew; a record without a number is held for one. False (after a
  // report) when Sending has no such record.
  bool Reschedule(CEOID id, std::chrono::system_clock::time_point when);
  // Sends every fax that is due now, one call at a time, each at most once,
  // then returns.
  OutboxRun RunDue();

 private:
  enum class CallEnd { kSent, kRetry, kFailed, kNotMade, kCancelled };

  std::int64_t Now() const;
  std::string DataPath(const std::string& name) const;
  std::string StoredFile(const std::vector<std::string>& files);
  const QueuedFax* NextDue(const std::vector<QueuedFax>& faxes,
                           const std::vector<CEOID>& tried) const;
  CallEnd Send(const QueuedFax& fax, OutboxRun& run);
  OutboxCall CallThroughApp(const SendInputs& inputs);
  CallEnd AfterCall(const QueuedFax& fax, OutboxState state, const OutboxCall& call,
                    std::uint32_t reached, std::uint32_t pages);
  CallEnd FileSent(const QueuedFax& fax, OutboxState state, const OutboxCall& call,
                   std::uint32_t pages);
  CallEnd GiveUp(const QueuedFax& fax, OutboxState state);

  AppOper& m_app;
  DBFunc& m_store;
  OutboxClock m_clock;
  OutboxCaller m_call;
};

}  // namespace vexo
