// The outbox: faxes queued in the Sending folder go out by themselves once
// they are due, one call at a time, through AppOper's send job with the port,
// modem and class the AppOper was started with. A call that fails (busy, no
// answer, no carrier, a dropped line) is made again RetryDelay minutes later,
// up to MaxTries calls; a fax that went partly goes on at its first page the
// far end did not confirm, its cover page sent again first. A fax that went is
// filed in Sent; one that never did stays in Sending marked failed, with a
// report under "Outbox". Time comes from a clock the caller may replace.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/store/db_func.h"
#include "app/store/outbox_state.h"

namespace vexo {

class AppOper;

using OutboxClock = std::function<std::chrono::system_clock::time_point()>;

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
  Outbox(AppOper& app, DBFunc& store, OutboxClock clock = std::chrono::system_clock::now);

  // Queues the fax in Sending, due at fax.due. Several files, or one outside
  // the data directory, are joined into a new fax file there. The record's id,
  // or 0 after a report.
  CEOID Add(const OutboxFax& fax);
  // Every record of Sending with its outbox state, the next due first.
  bool List(std::vector<QueuedFax>& faxes);
  // Takes a fax out of the queue into the Deleted folder, its file kept; false
  // (after a report) when Sending has no such record.
  bool Cancel(CEOID id);
  // Sends every fax that is due now, one call at a time, each at most once,
  // then returns.
  OutboxRun RunDue();

 private:
  enum class CallEnd { kSent, kRetry, kFailed, kNotMade };

  std::int64_t Now() const;
  std::string DataPath(const std::string& name) const;
  std::string StoredFile(const std::vector<std::string>& files);
  const QueuedFax* NextDue(const std::vector<QueuedFax>& faxes,
                           const std::vector<CEOID>& tried) const;
  CallEnd Send(const QueuedFax& fax, OutboxRun& run);
  CallEnd AfterCall(const QueuedFax& fax, OutboxState state, int result, std::uint32_t reached,
                    std::uint32_t pages);
  CallEnd GiveUp(const QueuedFax& fax, OutboxState state);

  AppOper& m_app;
  DBFunc& m_store;
  OutboxClock m_clock;
};

}  // namespace vexo
