#include "tests/support/error_records.h"

namespace vexo::test {

std::vector<ErrorRecord> TakeErrors() {
  std::vector<ErrorRecord> records;
  ErrorRecord record;
  while (ErrorPool::Instance().TakeOldest(record) > 0) records.push_back(record);
  return records;
}

std::vector<std::string> TakeMessages() {
  std::vector<std::string> messages;
  for (auto& record : TakeErrors()) messages.push_back(std::move(record.message));
  return messages;
}

std::vector<std::string> TakeReports() {
  std::vector<std::string> reports;
  for (const auto& record : TakeErrors())
    reports.push_back(record.function.value_or("") + ": " + record.message);
  return reports;
}

}  // namespace vexo::test
