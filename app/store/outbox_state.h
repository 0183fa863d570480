// What the outbox keeps with a fax queued in the Sending folder: when to call
// next, the calls made so far, the last call's result and outcome, where a
// partly sent fax goes on, whether its first page is a cover page, and whether
// it is given up.
// The record store keeps these as extra columns of the Sending folder's table.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "app/store/fax_record.h"

namespace vexo {

enum class OutboxStatus : std::uint16_t {
  kWaiting = 0,  // sent when its next try is due
  kFailed = 1,   // every try was made, or the fax cannot be sent: given up
  // Queued without a number (printed without one): never called until
  // Outbox::SetNumber gives it one; vexofax asks the user for it.
  kNeedsNumber = 2,
};

// lastResult before the first call.
constexpr int kOutboxNoCallYet = 2;

// How the last call of a queued fax ended, as the lists show it.
enum class OutboxOutcome : std::uint16_t {
  kNotCalled = 0,
  kSent = 1,                  // every page went
  kPartlySent = 2,            // every page went, some of them refused by the far end
  kCallFailed = 3,            // the call failed and did not tell why
  kBusy = 4,                  // retried
  kNoAnswer = 5,              // retried
  kNoCarrier = 6,             // no carrier or no fax tone: retried
  kNoDialTone = 7,            // retried
  kTrainingFailed = 8,        // retried
  kLineDropped = 9,           // the line dropped or the far end hung up: retried at resume
  kFarEndCannotReceive = 10,  // the far end cannot take this fax: given up
  kUnreadable = 11,           // the fax file cannot be read: given up
};
constexpr std::uint16_t kOutboxOutcomeLast = static_cast<std::uint16_t>(OutboxOutcome::kUnreadable);

// The outcome a lastResult stands for, for records kept before outcomes were.
constexpr OutboxOutcome OutcomeOfResult(int lastResult) {
  switch (lastResult) {
    case 0:
      return OutboxOutcome::kSent;
    case 1:
      return OutboxOutcome::kPartlySent;
    case kOutboxNoCallYet:
      return OutboxOutcome::kNotCalled;
    default:
      return OutboxOutcome::kCallFailed;
  }
}

struct OutboxState {
  std::int64_t nextTry = 0;           // seconds since 1970-01-01 UTC
  std::uint16_t tries = 0;            // calls made so far
  int lastResult = kOutboxNoCallYet;  // the last call's 0 sent, 1 partly, -1 failed
  std::uint32_t resume = 0;           // resume position of the first unconfirmed page; 0: the start
  bool coverPage = false;             // page 1 is a cover page, sent again before resumed pages
  OutboxStatus status = OutboxStatus::kWaiting;
  OutboxOutcome lastOutcome = OutboxOutcome::kNotCalled;  // why the last call ended
  bool operator==(const OutboxState&) const = default;
};

// A record of the Sending folder. A record that was moved or copied there
// rather than queued has no state: the outbox lists it but never sends it.
struct QueuedFax {
  FaxRecord record;
  std::optional<OutboxState> state;

  // Queued and not given up.
  bool Waiting() const { return state && state->status == OutboxStatus::kWaiting; }
  // Held until someone gives it a number to dial.
  bool NeedsNumber() const { return state && state->status == OutboxStatus::kNeedsNumber; }
  // Waiting, and its next try is at or before now (seconds since 1970 UTC).
  bool DueAt(std::int64_t now) const { return Waiting() && state->nextTry <= now; }
};

// A time as the outbox keeps it: seconds since 1970-01-01 UTC.
inline std::int64_t OutboxSeconds(std::chrono::system_clock::time_point time) {
  return std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
}

}  // namespace vexo
