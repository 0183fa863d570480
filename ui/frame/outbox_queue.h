// What the main window and the fax list ask of the outbox's queue in the
// Sending folder besides the outbox's own calls: whether a fax is due and
// which faxes a run gave up.
#pragma once

#include <cstdint>
#include <vector>

#include "app/store/outbox_state.h"

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

}  // namespace vexo::ui
