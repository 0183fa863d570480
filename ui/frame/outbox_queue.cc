#include "ui/frame/outbox_queue.h"

#include <algorithm>
#include <chrono>

#include "app/store/db_func.h"

namespace vexo::ui {

std::int64_t OutboxSecondsNow() { return OutboxSeconds(std::chrono::system_clock::now()); }

bool AnyOutboxFaxDue(const std::vector<QueuedFax>& faxes, std::int64_t now) {
  return std::ranges::any_of(faxes, [now](const QueuedFax& fax) { return fax.DueAt(now); });
}

std::vector<CEOID> WaitingOutboxFaxes(const std::vector<QueuedFax>& faxes) {
  std::vector<CEOID> ids;
  for (const QueuedFax& fax : faxes)
    if (fax.Waiting()) ids.push_back(fax.record.oid);
  return ids;
}

std::vector<QueuedFax> GivenUpSince(const std::vector<CEOID>& before,
                                    const std::vector<QueuedFax>& after) {
  std::vector<QueuedFax> given;
  for (const QueuedFax& fax : after) {
    if (fax.state && fax.state->status == OutboxStatus::kFailed &&
        std::ranges::find(before, fax.record.oid) != before.end())
      given.push_back(fax);
  }
  return given;
}

bool ScheduleOutboxFax(DBFunc& store, CEOID oid, std::int64_t when) {
  QueuedFax fax;
  if (!store.ReadQueued(oid, fax)) return false;
  OutboxState state = fax.state.value_or(OutboxState{});
  state.nextTry = when;
  state.status = OutboxStatus::kWaiting;
  return store.UpdateQueued(oid, state) == 1;
}

}  // namespace vexo::ui
