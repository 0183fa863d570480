// What the outbox keeps with a fax queued in the Sending folder: when to call
// next, the calls made so far, the last call's result, where a partly sent fax
// goes on, whether its first page is a cover page, and whether it is given up.
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
};

// lastResult before the first call.
constexpr int kOutboxNoCallYet = 2;

struct OutboxState {
  std::int64_t nextTry = 0;           // seconds since 1970-01-01 UTC
  std::uint16_t tries = 0;            // calls made so far
  int lastResult = kOutboxNoCallYet;  // the last call's 0 sent, 1 partly, -1 failed
  std::uint32_t resume = 0;           // resume position of the first unconfirmed page; 0: the start
  bool coverPage = false;             // page 1 is a cover page, sent again before resumed pages
  OutboxStatus status = OutboxStatus::kWaiting;
  bool operator==(const OutboxState&) const = default;
};

// A record of the Sending folder. A record that was moved or copied there
// rather than queued has no state: the outbox lists it but never sends it.
struct QueuedFax {
  FaxRecord record;
  std::optional<OutboxState> state;

  // Queued and not given up.
  bool Waiting() const { return state && state->status == OutboxStatus::kWaiting; }
  // Waiting, and its next try is at or before now (seconds since 1970 UTC).
  bool DueAt(std::int64_t now) const { return Waiting() && state->nextTry <= now; }
};

// A time as the outbox keeps it: seconds since 1970-01-01 UTC.
inline std::int64_t OutboxSeconds(std::chrono::system_clock::time_point time) {
  return std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
}

}  // namespace vexo
