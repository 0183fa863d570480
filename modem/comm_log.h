// The communication log: VexoCommLog.log in the log directory, appended to by
// every process of the home (bounded, with one older copy: see LogFile),
// holding the modem dialogue of every call. The fax kernel opens
// it; jobs write their start lines, the port and telephony code their "Debug:"
// lines, and the serial port its dump records when its dump flag is on.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/clock.h"

namespace vexo {

class LogFile;

constexpr std::string_view kCommLogPrefix = "VexoC";
constexpr std::string_view kCommLogName = "ommLog";
constexpr std::string_view kCommLogTitle = "Vexo Communication Log file ";

// Opens VexoCommLog.log in logDirectory (ending in "/") for appending, with
// its header when the file is new, and writes the start line; 1 or 0.
int OpenCommLog(LogFile& log, std::uintptr_t owner, std::string_view logDirectory);

enum class JobDirection { Send, Receive };

// "Start to send Fax through [COM1:] -------------" stamped with the job's start.
void WriteJobStartLine(LogFile& log, JobDirection direction, std::string_view portName,
                       const LocalTime& start);

}  // namespace vexo
