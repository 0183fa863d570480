// What the main window and the fax list ask of the outbox's queue in the
// Sending folder besides the outbox's own calls: whether a fax is due, which
// faxes a run gave up, and moving a fax's next try to another time.
#pragma once

#include <cstdint>
#include <vector>

#include "app/store/outbox_state.h"

namespace vexo {
class DBFunc;
}  // namespace vexo

namespace vexo::ui {

// Seconds since 1970-01-01 UTC now, as the outbox keeps its times.
std::int64_t OutboxSecondsNow();

// Whether the outbox would call for one of faxes at now.
bool AnyOutboxFaxDue(const std::vector<QueuedFax>& faxes, std::int64_t now);

// The ids of the faxes still waiting to be sent.
std::vector<CEOID> WaitingOutboxFaxes(const std::vector<QueuedFax>& faxes);

// The faxes of after that were waiting (their ids in before) and are now
// given up.
std::vector<QueuedFax> GivenUpSince(const std::vector<CEOID>& before,
                                    const std::vector<QueuedFax>& after);

// Makes the queued fax oid due at `when` (seconds since 1970 UTC). A fax that
// was given up waits again and gets one more call; a record moved into the
// Sending folder by hand joins the queue. False after a report when Sending
// has no such record or it could not be written.
bool ScheduleOutboxFax(DBFunc& store, CEOID oid, std::int64_t when);

}  // namespace vexo::ui
