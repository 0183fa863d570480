#include "ui/frame/outbox_queue.h"

#include <algorithm>
#include <chrono>

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

}  // namespace vexo::ui
