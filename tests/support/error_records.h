// The error pool's records as tests look at them; each call empties the pool.
#pragma once

#include <string>
#include <vector>

#include "base/error_pool.h"

namespace vexo::test {

// Every record, oldest first.
std::vector<ErrorRecord> TakeErrors();
// The messages of the records, oldest first.
std::vector<std::string> TakeMessages();
// The records as "function: message", oldest first.
std::vector<std::string> TakeReports();

}  // namespace vexo::test
