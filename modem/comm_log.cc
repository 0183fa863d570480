#include "modem/comm_log.h"

#include <string>

#include "base/log_file.h"
#include "platform/text.h"

namespace vexo {

int OpenCommLog(LogFile& log, std::uintptr_t owner, std::string_view logDirectory) {
  if (!log.Open(owner, logDirectory, kCommLogPrefix, kCommLogName, kCommLogTitle)) return 0;
  WriteStartLine(log);
  return 1;
}

void WriteJobStartLine(LogFile& log, JobDirection direction, std::string_view portName,
                       const LocalTime& start) {
  const std::string name(portName);
  const char* format = direction == JobDirection::Send
                           ? "Start to send Fax through [%s] -------------\r\n"
                           : "Start to receive Fax through [%s] -------------\r\n";
  log.WriteLine(nullptr, 0, Format(kLogLineChars, format, name.c_str()), &start);
}

}  // namespace vexo
