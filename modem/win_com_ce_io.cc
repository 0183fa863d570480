// The serial port object's timeouts (the driver's, or kept here and applied by
// waiting when the driver has no total timeouts) and its timed byte transfers;
// AT command writes are in win_com_ce_commands.cc.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "base/error_pool.h"
#include "base/log_file.h"
#include "modem/win_com_ce.h"
#include "modem/win_com_ce_internal.h"

namespace vexo {
namespace {

using port_detail::Clock;
using port_detail::kModule;
using port_detail::kReadFailed;
using port_detail::MsSince;
using port_detail::SleepMs;

constexpr const char* kWriteFailed =
    "WriteFile to COM failed, device not ready or COM port not available, ErrMsg =";
constexpr const char* kReadTimeout = "Timeout occurred waiting for reading data from serial port.";
constexpr const char* kWriteTimeout = "Timeout occurred waiting for writing data to serial port.";

}  // namespace

// ---- timeouts ----

WinCOMCE::Port& WinCOMCE::PortFor(Channel channel) {
  return (channel == Channel::Data && m_phoneModem && m_data.device) ? m_data : m_command;
}

bool WinCOMCE::DriverTimeouts(Port& port, COMMTIMEOUTS& out, int& error) {
  if (m_softTimeouts) {
    out = m_softTimeoutValues;
    return true;
  }
  if (port.device->GetCommTimeouts(out)) return true;
  error = port.device->LastError();
  return false;
}

bool WinCOMCE::ApplyTimeouts(Port& port, const COMMTIMEOUTS& timeouts, int& error) {
  if (m_softTimeouts) {
    m_softTimeoutValues = timeouts;
    return true;
  }
  if (port.device->SetCommTimeouts(timeouts)) return true;
  error = port.device->LastError();
  return false;
}

bool WinCOMCE::GetTimeoutsReporting(const char* function, COMMTIMEOUTS& out, bool report) {
  int error = EBADF;
  if (m_command.device && DriverTimeouts(m_command, out, error)) return true;
  if (report)
    ReportErrorCode(0, kMsgDefault, kModule, function, error, "GetCommTimeouts failed, ErrMsg =");
  return false;
}

bool WinCOMCE::SetTimeoutsReporting(const char* function, const COMMTIMEOUTS& timeouts,
                                    bool report) {
  int error = EBADF;
  bool ok = m_command.device && ApplyTimeouts(m_command, timeouts, error);
  if (ok && m_phoneModem && m_data.device && !m_softTimeouts)
    ok = ApplyTimeouts(m_data, timeouts, error);
  if (!ok && report)
    ReportErrorCode(0, kMsgDefault, kModule, function, error, "SetCommTimeouts failed, ErrMsg =");
  return ok;
}

int WinCOMCE::GetComPortTimeouts(COMMTIMEOUTS* timeouts, bool report) {
  if (timeouts == nullptr) return 0;
  return GetTimeoutsReporting("GetComPortTimeouts", *timeouts, report) ? 1 : 0;
}

int WinCOMCE::SetComPortTimeouts(const COMMTIMEOUTS& timeouts, bool report) {
  return SetTimeoutsReporting("SetComPortTimeouts", timeouts, report) ? 1 : 0;
}

// ---- raw transfers ----

bool WinCOMCE::SoftRead(SerialDevice& device, std::uint8_t* buffer, std::uint32_t length,
                        std::uint32_t& count) {
  const COMMTIMEOUTS& t = m_softTimeoutValues;
  const std::int64_t allowed = std::int64_t{t.ReadTotalTimeoutConstant} +
                               std::int64_t{t.ReadTotalTimeoutMultiplier} * length;
  const std::int64_t pause = std::max<std::int64_t>(kSoftReadPauseMs, t.ReadIntervalTimeout);
  const auto start = Clock::now();
  for (;;) {
    if (!device.Read(buffer, length, count)) return false;
    const std::int64_t left = allowed - MsSince(start);
    if (count > 0 || left <= 0) return true;
    SleepMs(std::min(pause, left));
  }
}

bool WinCOMCE::SoftWrite(SerialDevice& device, const std::uint8_t* buffer, std::uint32_t length,
                         std::uint32_t& count) {
  const COMMTIMEOUTS& t = m_softTimeoutValues;
  const std::int64_t allowed = std::int64_t{t.WriteTotalTimeoutConstant} +
                               std::int64_t{t.WriteTotalTimeoutMultiplier} * length;
  const auto start = Clock::now();
  for (;;) {
    if (!device.Write(buffer, length, count)) return false;
    const std::int64_t left = allowed - MsSince(start);
    if (count > 0 || left <= 0) return true;
    SleepMs(std::min<std::int64_t>(kSoftWritePauseMs, left));
  }
}

bool WinCOMCE::ReadOnce(SerialDevice& device, std::uint8_t* buffer, std::uint32_t length,
                        std::uint32_t& count) {
  count = 0;
  return m_softTimeouts ? SoftRead(device, buffer, length, count)
                        : device.Read(buffer, length, count);
}

int WinCOMCE::ReadComDataSYN(Channel channel, void* buffer, std::uint32_t length,
                             std::uint32_t* count, std::uint32_t flags) {
  constexpr const char* kFunction = "ReadComDataSYN";
  const bool quiet = (flags & kQuiet) != 0;
  std::uint32_t total = 0;
  if (count) *count = 0;
  if (length == 0) return 1;
  Port& port = PortFor(channel);
  if (!port.device || buffer == nullptr) {
    if (!quiet) ReportErrorCode(0, kMsgDefault, kModule, kFunction, EBADF, "%s", kReadFailed);
    return 0;
  }
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  if ((flags & kEndAtFinalLine) && !(flags & kTransferAll))
    return ReadToFinalLine(channel, bytes, length, count, flags & ~kEndAtFinalLine);
  bool ok = true;
  for (;;) {
    std::uint32_t got = 0;
    if (!ReadOnce(*port.device, bytes + total, length - total, got)) {
      if (!quiet)
        ReportErrorCode(0, kMsgDefault, kModule, kFunction, port.device->LastError(), "%s",
                        kReadFailed);
      ok = false;
      break;
    }
    total += got;
    if (total == length || !(flags & kTransferAll)) break;
    if (got == 0) {
      if (!quiet) ReportError(0, kMsgDefault, kModule, kFunction, "%s", kReadTimeout);
      ok = false;
      break;
    }
  }
  if (m_commLogOn) DumpComData(bytes, total, ok ? DumpKind::Read : DumpKind::ReadFailed);
  if (count) *count = total;
  return ok ? 1 : 0;
}

bool WinCOMCE::EvaluateCommEvent(SerialDevice& device, std::uint32_t events, bool quiet) {
  if (events & EV_ERR) {
    std::uint32_t errors = 0;
    if (!device.ClearCommError(errors, nullptr)) {
      if (!quiet && m_log)
        m_log->WriteErrorText(nullptr, 0,
                              "GetOverlappedResult failed, ErrMsg =", device.LastError());
      return false;
    }
    if (errors != 0) {
      if (!quiet) ReportComPortError(errors);
      return false;
    }
  }
  if (events & EV_BREAK) {
    device.ClearCommBreak();
    if (!quiet) ReportComPortError(CE_BREAK);
    return false;
  }
  if (events & EV_TXEMPTY) WriteDebugLine("Debug: Got EV_TXEMPTY commevent");
  return true;
}

int WinCOMCE::WriteComDataSYN(Channel channel, const void* buffer, std::uint32_t length,
                              std::uint32_t* count, std::uint32_t flags) {
  constexpr const char* kFunction = "WriteComDataSYN";
  const bool quiet = (flags & kQuiet) != 0;
  if (count) *count = 0;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  if (bytes == nullptr) {
    bytes = reinterpret_cast<const std::uint8_t*>(m_commandBuffer.data());
    length = std::min<std::uint32_t>(length, kMaxCommandChars + 1);
  }
  Port& port = PortFor(channel);
  if (!port.device) {
    if (!quiet) ReportErrorCode(0, kMsgDefault, kModule, kFunction, EBADF, "%s", kWriteFailed);
    return 0;
  }
  if (length == 0) return 1;
  SerialDevice& device = *port.device;
  std::uint32_t savedMask = 0;
  if (!device.GetCommMask(savedMask)) {
    if (!quiet)
      ReportErrorCode(0, kMsgDefault, kModule, kFunction, device.LastError(),
                      "GetCommMask failed, ErrMsg =");
    return 0;
  }
  if (!device.SetCommMask(kWriteEventMask)) {
    if (!quiet)
      ReportErrorCode(0, kMsgDefault, kModule, kFunction, device.LastError(),
                      "SetCommMask failed, ErrMsg =");
    return 0;
  }
  device.SetPageDataMode(channel == Channel::Data);

  std::uint32_t total = 0;
  bool ok = true;
  for (;;) {
    std::uint32_t put = 0;
    const bool written = (m_flowControl && !m_softTimeouts)
                             ? device.Write(bytes + total, length - total, put)
                             : SoftWrite(device, bytes + total, length - total, put);
    if (!written) {
      if (!quiet)
        ReportErrorCode(0, kMsgDefault, kModule, kFunction, device.LastError(), "%s", kWriteFailed);
      ok = false;
      break;
    }
    total += put;
    if (put == 0) {
      if (!quiet) ReportError(0, kMsgDefault, kModule, kFunction, "%s", kWriteTimeout);
      ok = false;
      break;
    }
    if (total == length || !(flags & kTransferAll)) break;
    if (m_flowControl) {
      std::uint32_t events = 0;
      if (!device.WaitCommEvent(events)) {
        if (!quiet)
          ReportErrorCode(0, kMsgDefault, kModule, kFunction, device.LastError(),
                          "WaitCommEvent failed, ErrMsg =");
        ok = false;
        break;
      }
      m_lastEvents = events;
      if (!EvaluateCommEvent(device, events, quiet)) {
        ok = false;
        break;
      }
    }
  }
  if (!device.SetCommMask(savedMask)) {
    if (!quiet)
      ReportErrorCode(0, kMsgDefault, kModule, kFunction, device.LastError(),
                      "SetCommMask failed, ErrMsg =");
    ok = false;
  }
  if (m_commLogOn) DumpComData(bytes, total, ok ? DumpKind::Write : DumpKind::WriteFailed);
  if (count) *count = total;
  return ok ? 1 : 0;
}

// ---- the timeouts guard ----

WinCOMCE::TimeoutsGuard::TimeoutsGuard(WinCOMCE& port, const char* function, bool report)
    : m_port(port), m_function(function), m_report(report), m_restoreReport(report) {
  m_saved = m_port.GetTimeoutsReporting(m_function, m_timeouts, m_report);
}

WinCOMCE::TimeoutsGuard::~TimeoutsGuard() {
  if (m_changed) m_port.SetTimeoutsReporting(m_function, m_timeouts, m_restoreReport);
}

bool WinCOMCE::TimeoutsGuard::Set(const COMMTIMEOUTS& timeouts) {
  m_changed = true;
  if (m_port.SetTimeoutsReporting(m_function, timeouts, m_report)) return true;
  m_restoreReport = false;
  return false;
}

}  // namespace vexo
