// The serial port object's AT command writes: the line's error bits looked
// at, waiting input cleared and dumped, and a write timeout that grows with
// the command's length; the port's timeouts are put back afterwards.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "base/error_pool.h"
#include "modem/win_com_ce.h"
#include "modem/win_com_ce_internal.h"

namespace vexo {
namespace {

using port_detail::kModule;
using port_detail::kReadFailed;

}  // namespace

bool WinCOMCE::ClearWaitingInput(std::uint32_t waiting, bool quiet) {
  constexpr const char* kFunction = "WriteCommandA";
  if (!SetTimeoutsReporting(kFunction, COMMTIMEOUTS{MAXDWORD, 0, 0, 0, 0}, !quiet)) return false;
  std::array<std::uint8_t, kClearPieceBytes> piece{};
  while (waiting > 0) {
    const auto asked = static_cast<std::uint32_t>(std::min<std::size_t>(piece.size(), waiting));
    std::uint32_t got = 0;
    if (!ReadOnce(*m_command.device, piece.data(), asked, got)) {
      if (m_commLogOn) DumpComData(piece.data(), got, DumpKind::ClearReadFailed);
      if (!quiet)
        ReportErrorCode(0, kMsgDefault, kModule, kFunction, m_command.device->LastError(), "%s",
                        kReadFailed);
      return false;
    }
    if (m_commLogOn) DumpComData(piece.data(), got, DumpKind::ClearRead);
    waiting -= std::min(got, waiting);
    if (got < asked) break;
  }
  return true;
}

int WinCOMCE::WriteCommandA(const char* bytes, std::uint32_t length, std::uint32_t flags) {
  constexpr const char* kFunction = "WriteCommandA";
  const bool quiet = (flags & kQuiet) != 0;
  if (bytes == nullptr) return 0;
  if (length == 0) length = static_cast<std::uint32_t>(std::strlen(bytes));
  TimeoutsGuard timeouts(*this, kFunction, !quiet);
  if (!timeouts.Saved()) return 0;

  const bool checkLine = !(flags & kSkipLineCheck);
  if (checkLine || (flags & kClearInput)) {
    std::uint32_t errors = 0;
    COMSTAT stat{};
    if (m_command.device->ClearCommError(errors, &stat)) {
      if (checkLine && errors != 0) {
        if (!quiet) ReportComPortError(errors);
        return 0;
      }
      if ((flags & kClearInput) && stat.cbInQue > 0) {
        timeouts.Changing();
        if (!ClearWaitingInput(stat.cbInQue, quiet)) return 0;
      }
    } else if (checkLine) {
      if (!quiet)
        ReportErrorCode(0, kMsgDefault, kModule, kFunction, m_command.device->LastError(),
                        "ClearCommError failed, ErrMsg =");
      return 0;
    }
  }

  // A command may take as long as sending it at 150 characters a second would.
  COMMTIMEOUTS writeTimeouts{0, 0, 0, 0, kCommandWriteTimeoutMs};
  const std::uint64_t atLineRate = std::uint64_t{length} * 1000 / kCommandCharsPerSecond;
  if (atLineRate > kCommandWriteTimeoutMs)
    writeTimeouts.WriteTotalTimeoutMultiplier =
        static_cast<std::uint32_t>((atLineRate - kCommandWriteTimeoutMs) / length);
  if (!timeouts.Set(writeTimeouts)) return 0;
  std::uint32_t count = 0;
  return WriteComDataSYN(Channel::Command, bytes, length, &count, kTransferAll);
}

// Keeps the command with its CR as the command buffer (a null-buffer
// WriteComDataSYN sends it again) and writes it.
int WinCOMCE::WriteCommandLine(std::string_view command, std::uint32_t flags) {
  std::copy(command.begin(), command.end(), m_commandBuffer.begin());
  m_commandBuffer[command.size()] = '\r';
  m_commandBuffer[command.size() + 1] = 0;
  return WriteCommandA(m_commandBuffer.data(), static_cast<std::uint32_t>(command.size() + 1),
                       flags);
}

int WinCOMCE::WriteCommand(const char* text, std::uint32_t flags) {
  if (text == nullptr || *text == 0) return 0;
  const std::string_view command = text;
  if (command.size() > kMaxCommandChars) return 0;
  return WriteCommandLine(command, flags);
}

int WinCOMCE::WriteCommandF(const char* format, const char* argument, std::uint32_t flags) {
  if (format == nullptr) return 0;
  const std::string_view value = argument ? argument : "";
  std::string command;
  for (const char* p = format; *p; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      command += value;
      ++p;
    } else if (p[0] == '%' && p[1] == '%') {
      command += '%';
      ++p;
    } else {
      command += *p;
    }
    if (command.size() > kMaxCommandChars) return 0;  // does not fit: not sent
  }
  if (command.empty()) return 0;
  return WriteCommandLine(command, flags);
}

}  // namespace vexo
