#include "modem/win_com_ce.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <thread>

#include "base/error_pool.h"
#include "base/log_file.h"
#include "platform/serial/termios_device.h"
#include "platform/text.h"

namespace vexo {
namespace {

constexpr const char* kModule = "WinCOMCE";
constexpr std::uint32_t kTypeWarning = MSG_WARNING | MSG_TO_LOG | MSG_TO_USER;  // 26

constexpr const char* kCreateFileFailed =
    "CreateFile to open COM port failed, device not ready or COM port not available, ErrMsg =";
constexpr const char* kOpenModemFailed = "Fail to OpenModem";
constexpr const char* kReadFailed =
    "ReadFile from COM failed, device not ready or COM port not available, ErrMsg =";
constexpr const char* kWriteFailed =
    "WriteFile to COM failed, device not ready or COM port not available, ErrMsg =";
constexpr const char* kReadTimeout = "Timeout occurred waiting for reading data from serial port.";
constexpr const char* kWriteTimeout = "Timeout occurred waiting for writing data to serial port.";

// The phone modem's radio driver codes are behind RadioControl; the command
// port's switch takes these two bytes.
constexpr std::uint8_t kPhonePortControlInput[] = {0x84, 0x00};

struct ErrorBitText {
  std::uint32_t bit;
  const char* text;
};

constexpr ErrorBitText kErrorBitTexts[] = {
    {CE_BREAK, "Break condition"},
    {CE_DNS, "Parallel device not selected"},
    {CE_FRAME, "Framing error"},
    {CE_IOE, "I/O error"},
    {CE_MODE, "Requested mode not supported"},
    {CE_OOP, "Parallel device out of paper."},
    {CE_OVERRUN, "Overrun error"},
    {CE_PTO, "Parallel device time out"},
    {CE_RXOVER, "Input buffer overflow"},
    {CE_RXPARITY, "Parity error"},
    {CE_TXFULL, "Output buffer full"},
};

using Clock = std::chrono::steady_clock;

std::int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void SleepMs(std::int64_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool IsLineEnd(unsigned char c) { return c < 31 || c == 127; }
bool IsSkipped(unsigned char c) { return IsLineEnd(c) || c == ' ' || c == '\t'; }

// Whether text begins with prefix, letters compared without case.
bool StartsWithNoCase(const char* text, std::size_t size, std::string_view prefix) {
  if (size < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != prefix[i]) return false;
  }
  return true;
}

}  // namespace

// How one of the three result-line readers behaves.
struct WinCOMCE::ResultRead {
  const char* function;
  std::uint32_t intervalMs;
  bool report;
  bool skipRingInfo;  // drop "+CRG:" lines
  bool stopAtXon;
  bool endAtFinal;  // a batch ending in a final result line is complete
};

std::string ResolvePortDevice(std::string_view portName, std::string_view comPortDevice) {
  if (!comPortDevice.empty()) return std::string(comPortDevice);
  if (!portName.empty() && portName.front() == '/') return std::string(portName);
  int number = 0;
  char colon = 0;
  const std::string name(portName);
  if (std::sscanf(name.c_str(), "COM%d%c", &number, &colon) == 2 && colon == ':' && number >= 1)
    return "/dev/ttyS" + std::to_string(number - 1);
  return {};
}

WinCOMCE::WinCOMCE(PortEnvironment environment) : m_env(std::move(environment)) {
  if (!m_env.openDevice) {
    m_env.openDevice = [](const std::string& path, int& error) -> std::unique_ptr<SerialDevice> {
      return TermiosDevice::Open(path, error);
    };
  }
  if (!m_env.radio) {
    m_ownRadio = std::make_unique<NullRadioControl>();
    m_env.radio = m_ownRadio.get();
  }
  if (!m_env.dataConnections) {
    m_ownConnections = std::make_unique<NoDataConnections>();
    m_env.dataConnections = m_ownConnections.get();
  }
  if (!m_env.sleep) m_env.sleep = [](std::uint32_t ms) { SleepMs(ms); };
}

WinCOMCE::~WinCOMCE() {
  if (IsPortOpen() || m_data.device) CloseComPort(m_viaTelephony ? 1 : 0);
}

void WinCOMCE::WriteDebugLine(const char* format, ...) {
  if (m_log == nullptr) return;
  va_list args;
  va_start(args, format);
  const std::string text = FormatV(kLogLineChars, format, args);
  va_end(args);
  m_log->WriteLineF(nullptr, 0, "%s", text.c_str());
}

void WinCOMCE::LogDeviceNotes(SerialDevice& device) {
  for (const auto& note : device.TakeNotes())
    if (m_notesLogged.insert(note).second) WriteDebugLine("Debug: %s", note.c_str());
}

// ---- opening and closing ----

int WinCOMCE::OpenComPort(DCB* lineSettings, std::string_view portName, std::uint32_t listIndex,
                          std::string_view dialNumber, int viaTelephony) {
  if (IsPortOpen() || m_data.device) CloseComPort(m_viaTelephony ? 1 : 0);
  m_ringLines = 0;
  m_phoneModem = viaTelephony != 0 && listIndex == 0;
  if (!m_phoneModem)
    return OpenComPort_Normal(lineSettings, portName, listIndex, dialNumber, viaTelephony);
  if (OpenComPort_XDA(lineSettings)) return 1;
  if (!HangUpDataConnections()) {
    m_phoneModem = false;
    return 0;
  }
  if (OpenComPort_XDA(lineSettings)) return 1;
  m_phoneModem = false;
  return 0;
}

bool WinCOMCE::ReadProviderCapabilities(Port& port, const char* function) {
  COMMPROP properties{};
  properties.wPacketLength = kCommPropPacketLength;
  if (!port.device->GetCommProperties(properties)) {
    ReportErrorCode(0, kMsgDefault, kModule, function, port.device->LastError(),
                    "GetCommProperties failed, ErrMsg =");
    return false;
  }
  const std::uint32_t caps = properties.dwProvCapabilities;
  m_flowControl = (caps & (PCF_RTSCTS | PCF_XONXOFF)) != 0;
  m_softTimeouts = (caps & PCF_TOTALTIMEOUTS) == 0;
  WriteDebugLine("Debug: ProvCapability = %x, flowctrl=%d, softtimeout=%d", caps,
                 m_flowControl ? 1 : 0, m_softTimeouts ? 1 : 0);
  return true;
}

int WinCOMCE::OpenComPort_Normal(DCB* lineSettings, std::string_view portName,
                                 std::uint32_t listIndex, std::string_view dialNumber,
                                 int viaTelephony) {
  constexpr const char* kFunction = "OpenComPort_Normal";
  m_viaTelephony = viaTelephony != 0;
  if (m_viaTelephony) {
    if (m_env.telephony) m_command.device = m_env.telephony->OpenLine(listIndex, dialNumber);
    if (!m_command.device) {
      ReportError(0, kMsgDefault, kModule, kFunction, "%s", kOpenModemFailed);
      m_viaTelephony = false;
      return 0;
    }
  } else {
    const std::string path = ResolvePortDevice(portName, m_options.comPortDevice);
    int error = ENODEV;
    if (!path.empty()) m_command.device = m_env.openDevice(path, error);
    if (!m_command.device) {
      ReportErrorCode(0, kMsgDefault, kModule, kFunction, error, "%s", kCreateFileFailed);
      return 0;
    }
  }
  if (!ReadProviderCapabilities(m_command, kFunction) || !GetOriginalComState(m_command, false) ||
      !SetBasicComState(m_command)) {
    ClosePort(m_command, m_viaTelephony);
    m_viaTelephony = false;
    return 0;
  }
  if (lineSettings) *lineSettings = m_command.workingDcb;
  return 1;
}

int WinCOMCE::OpenComPort_XDA(DCB* lineSettings) {
  constexpr const char* kFunction = "OpenComPort_XDA";
  m_viaTelephony = false;
  int error = ENODEV;
  if (!m_options.phoneCommandDevice.empty())
    m_command.device = m_env.openDevice(m_options.phoneCommandDevice, error);
  if (!m_command.device) {
    ReportError(0, kMsgDefault, kModule, kFunction, "%s", kOpenModemFailed);
    return 0;
  }
  if (!ReadProviderCapabilities(m_command, kFunction) || !GetOriginalComState(m_command, false)) {
    CloseAll();
    return 0;
  }
  m_baudRate = kPhoneModemBaud;
  if (!SetBasicComState(m_command)) {
    CloseAll();
    return 0;
  }
  if (!m_data.device) {
    if (!m_options.phoneDataDevice.empty())
      m_data.device = m_env.openDevice(m_options.phoneDataDevice, error);
    if (!m_data.device) {
      WriteDebugLine("Debug: Open COM9: port failed");
      CloseAll();
      return 0;
    }
  }
  if (!GetOriginalComState(m_data, true) || !SetBasicComState(m_data)) {
    CloseAll();
    return 0;
  }
  if (!m_env.radio->CommandPortControl(kPhonePortControlCode, kPhonePortControlInput))
    WriteDebugLine("Debug: DeviceIoControl failed");
  if (!m_radioOpen) m_radioOpen = m_env.radio->Open();
  if (!m_radioOpen) {
    WriteDebugLine("Debug: Open RIL1: port failed");
    CloseAll();
    return 0;
  }
  std::uint32_t result = 0, returned = 0;
  if (m_env.radio->SetMessageDelivery(false, result, returned))
    WriteDebugLine("Debug: Disable RIL SMS success, rildevresult=0x%x, nReturned=%d", result,
                   returned);
  else
    WriteDebugLine("Debug: Disable RIL SMS failed");
  m_env.radio->Close();
  m_radioOpen = false;
  if (lineSettings) *lineSettings = m_command.workingDcb;
  return 1;
}

bool WinCOMCE::GetOriginalComState(Port& port, bool dataPort) {
  constexpr const char* kFunction = "GetOriginalComState";
  SerialDevice& device = *port.device;
  if (!device.GetCommState(port.savedDcb)) {
    ReportErrorCode(0, kMsgDefault, kModule, kFunction, device.LastError(),
                    "GetCommState failed, ErrMsg =");
    return false;
  }
  if (!device.GetCommTimeouts(port.savedTimeouts)) {
    ReportErrorCode(0, kMsgDefault, kModule, kFunction, device.LastError(),
                    "GetCommTimeouts failed, ErrMsg =");
    return false;
  }
  if (!dataPort) m_softTimeoutValues = port.savedTimeouts;
  if (!device.GetCommMask(port.savedMask)) {
    ReportErrorCode(0, kMsgDefault, kModule, kFunction, device.LastError(),
                    "GetCommMask failed, ErrMsg =");
    return false;
  }
  port.savedProperties = COMMPROP{};
  port.savedProperties.wPacketLength = kCommPropPacketLength;
  if (!device.GetCommProperties(port.savedProperties)) {
    ReportErrorCode(0, kMsgDefault, kModule, kFunction, device.LastError(),
                    "GetCommProperties failed, ErrMsg =");
    return false;
  }
  const DCB& d = port.savedDcb;
  WriteDebugLine(
      "Debug: %s dump: BaudRate=%d, fOutxCtsFlow=0x%x, fOutxDsrFlow=0x%x, fDtrControl=0x%x, "
      "fDsrSensitivity=0x%x, fTXContinueOnXoff=0x%x, fOutX=0x%x, fInX=0x%x, fRtsControl=0x%x, "
      "XonLim=%d, XoffLim=%d, ByteSize=%d, Parity=%d, StopBits=%d, XonChar=%d, XoffChar=%d, "
      "ErrorChar=%d, EofChar=%d, EvtChar=%d",
      dataPort ? "m_CommDCB_Data" : "m_CommDCB", d.BaudRate, d.fOutxCtsFlow, d.fOutxDsrFlow,
      d.fDtrControl, d.fDsrSensitivity, d.fTXContinueOnXoff, d.fOutX, d.fInX, d.fRtsControl,
      d.XonLim, d.XoffLim, d.ByteSize, d.Parity, d.StopBits, d.XonChar, d.XoffChar, d.ErrorChar,
      d.EofChar, d.EvtChar);
  const COMMPROP& p = port.savedProperties;
  WriteDebugLine(
      "Debug: %s dump: wPacketLength=%d, dwMaxBaud=%d, dwProvCapabilities=0x%x, "
      "dwSettableParams=0x%x, dwSettableBaud=0x%x, wSettableData=0x%x, wSettableStopParity=0x%x, "
      "dwMaxTxQueue=%d, dwMaxRxQueue=%d, dwCurrentTxQueue=%d, dwCurrentRxQueue=%d",
      dataPort ? "COMMPROP_Data" : "COMMPROP", p.wPacketLength, p.dwMaxBaud, p.dwProvCapabilities,
      p.dwSettableParams, p.dwSettableBaud, p.wSettableData, p.wSettableStopParity, p.dwMaxTxQueue,
      p.dwMaxRxQueue, p.dwCurrentTxQueue, p.dwCurrentRxQueue);
  return true;
}

bool WinCOMCE::SetBasicComState(Port& port) {
  constexpr const char* kFunction = "SetBasicComState";
  SerialDevice& device = *port.device;
  int error = 0;
  if (!ApplyTimeouts(port, COMMTIMEOUTS{kBasicReadIntervalMs, 0, 0, 0, 0}, error)) {
    ReportErrorCode(0, kMsgDefault, kModule, kFunction, error, "SetCommTimeouts failed, ErrMsg =");
    return false;
  }
  DCB dcb = port.savedDcb;
  dcb.BaudRate = m_baudRate;
  dcb.fBinary = 1;
  dcb.fParity = 0;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONE5STOPBITS;
  if (!device.SetCommState(dcb)) {
    ReportErrorCode(0, kMsgDefault, kModule, kFunction, device.LastError(),
                    "SetCommState failed, ErrMsg =");
    return false;
  }
  LogDeviceNotes(device);
  port.workingDcb = dcb;
  if (!device.SetCommMask(kWorkingEventMask)) {
    ReportErrorCode(0, kMsgDefault, kModule, kFunction, device.LastError(),
                    "SetCommMask failed, ErrMsg =");
    return false;
  }
  if (!device.SetupComm(kPortQueueBytes, kPortQueueBytes))
    ReportErrorCode(0, kTypeWarning, kModule, kFunction, device.LastError(),
                    "SetupComm failed (Warning), ErrMsg =");
  if (!device.EscapeCommFunction(SETDTR)) {
    ReportErrorCode(0, kMsgDefault, kModule, kFunction, device.LastError(),
                    "EscapeCommFunction failed, ErrMsg =");
    return false;
  }
  return true;
}

void WinCOMCE::PutBackState(Port& port) {
  SerialDevice& device = *port.device;
  const COMMPROP& p = port.savedProperties;
  if (p.dwCurrentRxQueue != 0 && p.dwCurrentTxQueue != 0)
    device.SetupComm(p.dwCurrentRxQueue, p.dwCurrentTxQueue);
  device.EscapeCommFunction(SETDTR);
  device.SetCommMask(port.savedMask);
  int error = 0;
  ApplyTimeouts(port, port.savedTimeouts, error);
  device.SetCommState(port.savedDcb);
}

void WinCOMCE::ClosePort(Port& port, bool telephonyLine) {
  if (!port.device) return;
  if (telephonyLine && m_env.telephony) m_env.telephony->CloseLine(std::move(port.device));
  port.device.reset();
}

void WinCOMCE::CloseAll() {
  ClosePort(m_data, false);
  ClosePort(m_command, false);
  if (m_radioOpen) m_env.radio->Close();
  m_radioOpen = false;
}

void WinCOMCE::CloseComPort(int) {
  if (m_phoneModem && m_data.device) {
    PutBackState(m_data);
    ClosePort(m_data, false);
  }
  if (m_command.device) {
    PutBackState(m_command);
    ClosePort(m_command, m_viaTelephony);
  }
  m_viaTelephony = false;
  if (!m_phoneModem) return;
  if (!m_radioOpen) m_radioOpen = m_env.radio->Open();
  if (!m_radioOpen) {
    WriteDebugLine("Debug: Open RIL1: port failed");
  } else {
    std::uint32_t result = 0, returned = 0;
    if (m_env.radio->SetMessageDelivery(true, result, returned))
      WriteDebugLine("Debug: Enable RIL SMS success, rildevresult=0x%x, nReturned=%d", result,
                     returned);
    else
      WriteDebugLine("Debug: Enable RIL SMS failed");
    m_env.radio->Close();
    m_radioOpen = false;
  }
  m_phoneModem = false;
  // The radio needs the pause before the modem may be opened again.
  m_env.sleep(kPhoneClosePauseMs);
}

int WinCOMCE::HangUpDataConnections() {
  std::vector<DataConnection> connections;
  if (!m_env.dataConnections->Enumerate(connections)) return 0;
  for (std::size_t i = 0; i < connections.size(); ++i)
    WriteDebugLine("Enum RAS conn(%d): %s", static_cast<int>(i), connections[i].entryName.c_str());
  for (const auto& connection : connections) {
    const std::string& name = connection.entryName;
    if (name.find("GPRS") != std::string::npos || name.find("gprs") != std::string::npos) {
      WriteDebugLine("RasHangUp on Ras Conn: %s", name.c_str());
      m_env.dataConnections->HangUp(connection);
      return 1;
    }
  }
  if (m_options.closeAllDataConnections) {
    for (const auto& connection : connections) {
      WriteDebugLine("RasHangUp on Ras Conn: %s", connection.entryName.c_str());
      m_env.dataConnections->HangUp(connection);
    }
  }
  return 1;
}

// ---- timeouts ----

WinCOMCE::Port& WinCOMCE::PortFor(int useDataPort) {
  return (useDataPort && m_phoneModem && m_data.device) ? m_data : m_command;
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

int WinCOMCE::Delay(std::uint32_t ms) {
  m_env.sleep(ms == 0 ? kDefaultDelayMs : ms);
  return 1;
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

int WinCOMCE::ReadComDataSYN(int useDataPort, void* buffer, std::uint32_t length,
                             std::uint32_t* count, std::uint32_t flags) {
  constexpr const char* kFunction = "ReadComDataSYN";
  const bool quiet = (flags & kQuiet) != 0;
  std::uint32_t total = 0;
  if (count) *count = 0;
  if (length == 0) return 1;
  Port& port = PortFor(useDataPort);
  if (!port.device || buffer == nullptr) {
    if (!quiet) ReportErrorCode(0, kMsgDefault, kModule, kFunction, EBADF, "%s", kReadFailed);
    return 0;
  }
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  if ((flags & kEndAtFinalLine) && !(flags & kTransferAll))
    return ReadToFinalLine(useDataPort, bytes, length, count, flags & ~kEndAtFinalLine);
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

int WinCOMCE::WriteComDataSYN(int useDataPort, const void* buffer, std::uint32_t length,
                              std::uint32_t* count, std::uint32_t flags) {
  constexpr const char* kFunction = "WriteComDataSYN";
  const bool quiet = (flags & kQuiet) != 0;
  if (count) *count = 0;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  if (bytes == nullptr) {
    bytes = reinterpret_cast<const std::uint8_t*>(m_commandBuffer.data());
    length = std::min<std::uint32_t>(length, kMaxCommandChars + 1);
  }
  Port& port = PortFor(useDataPort);
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
  device.SetPageDataMode(useDataPort != 0);

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

// ---- AT commands ----

bool WinCOMCE::ClearWaitingInput(std::uint32_t waiting, bool quiet) {
  constexpr const char* kFunction = "WriteCommandA";
  if (!SetTimeoutsReporting(kFunction, COMMTIMEOUTS{MAXDWORD, 0, 0, 0, 0}, !quiet)) return false;
  auto* buffer = reinterpret_cast<std::uint8_t*>(m_readBuffer.data());
  while (waiting > 0) {
    const auto piece = static_cast<std::uint32_t>(std::min<std::size_t>(kClearPieceBytes, waiting));
    std::uint32_t got = 0;
    if (!ReadOnce(*m_command.device, buffer, piece, got)) {
      if (m_commLogOn) DumpComData(buffer, got, DumpKind::ClearReadFailed);
      if (!quiet)
        ReportErrorCode(0, kMsgDefault, kModule, kFunction, m_command.device->LastError(), "%s",
                        kReadFailed);
      return false;
    }
    if (m_commLogOn) DumpComData(buffer, got, DumpKind::ClearRead);
    waiting -= std::min(got, waiting);
    if (got < piece) break;
  }
  return true;
}

int WinCOMCE::WriteCommandA(const char* bytes, std::uint32_t length, std::uint32_t flags) {
  constexpr const char* kFunction = "WriteCommandA";
  const bool quiet = (flags & kQuiet) != 0;
  if (bytes == nullptr) return 0;
  if (length == 0) length = static_cast<std::uint32_t>(std::strlen(bytes));
  COMMTIMEOUTS saved{};
  if (!GetTimeoutsReporting(kFunction, saved, !quiet)) return 0;

  const bool checkLine = !(flags & kSkipLineCheck);
  if (checkLine || (flags & kClearInput)) {
    std::uint32_t errors = 0;
    COMSTAT stat{};
    if (m_command.device->ClearCommError(errors, &stat)) {
      if (checkLine && errors != 0) {
        if (!quiet) ReportComPortError(errors);
        return 0;
      }
      if ((flags & kClearInput) && stat.cbInQue > 0 && !ClearWaitingInput(stat.cbInQue, quiet)) {
        SetTimeoutsReporting(kFunction, saved, !quiet);
        return 0;
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
  if (!SetTimeoutsReporting(kFunction, writeTimeouts, !quiet)) {
    SetTimeoutsReporting(kFunction, saved, false);
    return 0;
  }
  std::uint32_t count = 0;
  const int result = WriteComDataSYN(0, bytes, length, &count, kTransferAll);
  SetTimeoutsReporting(kFunction, saved, !quiet);
  return result;
}

int WinCOMCE::WriteCommand(const char* text, std::uint32_t flags) {
  if (text == nullptr || *text == 0) return 0;
  const std::size_t length = std::strlen(text);
  if (length > kMaxCommandChars) return 0;
  std::memcpy(m_commandBuffer.data(), text, length);
  m_commandBuffer[length] = '\r';
  m_commandBuffer[length + 1] = 0;
  return WriteCommandA(m_commandBuffer.data(), static_cast<std::uint32_t>(length + 1), flags);
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
  std::memcpy(m_commandBuffer.data(), command.data(), command.size());
  m_commandBuffer[command.size()] = '\r';
  m_commandBuffer[command.size() + 1] = 0;
  return WriteCommandA(m_commandBuffer.data(), static_cast<std::uint32_t>(command.size() + 1),
                       flags);
}

// ---- result lines ----

namespace {

// Splits the bytes into lines in place (see ReadResultA); returns the number stored.
int ScanResultLines(char* buffer, std::size_t size, std::span<char*> lines, bool skipRingInfo) {
  std::size_t stored = 0;
  bool dropNext = false;
  std::size_t i = 0;
  while (i < size) {
    if (IsSkipped(static_cast<unsigned char>(buffer[i]))) {
      ++i;
      continue;
    }
    const std::size_t left = size - i;
    bool store = stored < lines.size();
    const bool broadcast = left > 5 && StartsWithNoCase(buffer + i, left, "+CBM:");
    if (broadcast) {
      store = false;
      dropNext = true;
    } else if (skipRingInfo && left > 6 && StartsWithNoCase(buffer + i, left, "+CRG:")) {
      store = false;
    } else if (store && dropNext) {
      store = false;  // the text line of a cell broadcast
      dropNext = false;
    }
    const std::size_t start = i;
    while (i < size && !IsLineEnd(static_cast<unsigned char>(buffer[i]))) {
      if (buffer[i] >= 'a' && buffer[i] <= 'z')
        buffer[i] = static_cast<char>(buffer[i] - 'a' + 'A');
      ++i;
    }
    buffer[i] = 0;  // the line end, or the byte after the data
    if (store) lines[stored++] = buffer + start;
    ++i;
  }
  return static_cast<int>(stored);
}

// The silence after which bytes that end in a final result line make a
// complete batch.
constexpr std::uint32_t kFinalLineIntervalMs = 20;

// Whether the bytes end with a complete final result line: "OK", "ERROR",
// "CONNECT" (with or without a rate), "NO CARRIER", "BUSY", "NO DIALTONE",
// "NO DIAL TONE", "NO ANSWER", or a "RING". The modem sends nothing more for
// the command after one of these (nor for seconds after a ring), so its batch
// need not wait out the read interval.
bool EndsInFinalLine(const char* bytes, std::size_t size) {
  if (size == 0 || !IsLineEnd(static_cast<unsigned char>(bytes[size - 1]))) return false;
  std::size_t end = size;
  while (end > 0 && IsSkipped(static_cast<unsigned char>(bytes[end - 1]))) --end;
  std::size_t begin = end;
  while (begin > 0 && !IsLineEnd(static_cast<unsigned char>(bytes[begin - 1]))) --begin;
  const char* line = bytes + begin;
  const std::size_t length = end - begin;
  constexpr std::string_view kWhole[] = {"OK",           "ERROR",     "CONNECT",
                                         "NO CARRIER",   "BUSY",      "NO DIALTONE",
                                         "NO DIAL TONE", "NO ANSWER", "RING"};
  for (std::string_view code : kWhole)
    if (length == code.size() && StartsWithNoCase(line, length, code)) return true;
  return length > 8 && StartsWithNoCase(line, length, "CONNECT ");
}

}  // namespace

// A read in the port's timeouts, but once the bytes end in a final result line
// a short silence ends it instead of the full read interval: the modem has
// nothing more to say about the command, and the caller need not wait.
int WinCOMCE::ReadToFinalLine(int useDataPort, std::uint8_t* buffer, std::uint32_t length,
                              std::uint32_t* count, std::uint32_t flags) {
  constexpr const char* kFunction = "ReadComDataSYN";
  const bool report = (flags & kQuiet) == 0;
  COMMTIMEOUTS saved{};
  if (!GetTimeoutsReporting(kFunction, saved, report)) return 0;
  const std::uint32_t interval = saved.ReadIntervalTimeout;
  if (interval == 0 || interval == MAXDWORD || interval <= kFinalLineIntervalMs)
    return ReadComDataSYN(useDataPort, buffer, length, count, flags);

  // The read's total time as the port's timeouts give it (none when 0): the
  // reads that follow stay within it, so a modem that trickles bytes cannot
  // hold the caller past its deadline.
  const std::int64_t allowed = std::int64_t{saved.ReadTotalTimeoutMultiplier} * length +
                               std::int64_t{saved.ReadTotalTimeoutConstant};
  const auto start = Clock::now();
  COMMTIMEOUTS quick = saved;
  quick.ReadIntervalTimeout = kFinalLineIntervalMs;
  std::uint32_t total = 0;
  int ok = SetTimeoutsReporting(kFunction, quick, report) ? 1 : 0;
  if (ok) ok = ReadComDataSYN(useDataPort, buffer, length, &total, flags);
  // More bytes within the usual interval belong to the same read.
  while (ok && total > 0 && total < length &&
         !EndsInFinalLine(reinterpret_cast<const char*>(buffer), total)) {
    std::int64_t wait = interval;
    if (allowed > 0) wait = std::min(wait, allowed - MsSince(start));
    if (wait <= 0) break;
    COMMTIMEOUTS rest = saved;
    rest.ReadIntervalTimeout = kFinalLineIntervalMs;
    rest.ReadTotalTimeoutMultiplier = 0;
    rest.ReadTotalTimeoutConstant = static_cast<std::uint32_t>(wait);
    std::uint32_t more = 0;
    ok = SetTimeoutsReporting(kFunction, rest, report) ? 1 : 0;
    if (ok) ok = ReadComDataSYN(useDataPort, buffer + total, length - total, &more, flags);
    if (more == 0) break;
    total += more;
  }
  SetTimeoutsReporting(kFunction, saved, false);
  if (count) *count = total;
  return ok;
}

int WinCOMCE::ReadResultLines(const ResultRead& how, char* buffer, std::size_t kept,
                              std::size_t size, std::span<char*> lines, std::uint32_t timeoutMs,
                              int* xonSeen) {
  if (xonSeen) *xonSeen = 0;
  if (buffer == nullptr) {
    buffer = m_readBuffer.data();
    size = (size == 0 || size > kReadBufferBytes) ? kReadBufferBytes : size;
  }
  if (size < 2) return -1;
  kept = std::min(kept, size - 2);  // at least one byte of room to read into
  COMMTIMEOUTS saved{};
  if (!GetTimeoutsReporting(how.function, saved, how.report)) return -1;

  const auto start = Clock::now();
  bool first = true;
  for (;;) {
    // Every read after the first gets what is left of the timeout, so a modem
    // that keeps sending no line cannot hold the caller past its deadline.
    std::int64_t left = timeoutMs;
    if (!first) {
      left = std::int64_t{timeoutMs} - MsSince(start);
      if (left <= 0) {
        SetTimeoutsReporting(how.function, saved, how.report);
        return 0;
      }
    }
    const COMMTIMEOUTS readTimeouts{how.intervalMs, 0, static_cast<std::uint32_t>(left), 0, 0};
    if (!SetTimeoutsReporting(how.function, readTimeouts, how.report)) {
      SetTimeoutsReporting(how.function, saved, false);
      return -1;
    }
    const std::size_t offset = first ? kept : 0;
    std::uint32_t got = 0;
    const std::uint32_t flags = (how.report ? 0u : std::uint32_t{kQuiet}) |
                                (how.endAtFinal ? std::uint32_t{kEndAtFinalLine} : 0u);
    if (!ReadComDataSYN(0, buffer + offset, static_cast<std::uint32_t>(size - 1 - offset), &got,
                        flags)) {
      SetTimeoutsReporting(how.function, saved, how.report);
      return -1;
    }
    if (got == 0) {
      SetTimeoutsReporting(how.function, saved, how.report);
      return 0;
    }
    const std::size_t scanned = offset + got;
    buffer[scanned] = 0;
    const bool xon = how.stopAtXon && static_cast<std::uint8_t>(buffer[scanned - 1]) == kXon;
    const int count = ScanResultLines(buffer, scanned, lines, how.skipRingInfo);
    for (int i = 0; i < count; ++i)
      if (std::strncmp(lines[static_cast<std::size_t>(i)], "RING", 4) == 0) ++m_ringLines;
    if (count > 0 || xon) {
      if (xonSeen) *xonSeen = xon ? 1 : 0;
      SetTimeoutsReporting(how.function, saved, how.report);
      return count;
    }
    first = false;
  }
}

int WinCOMCE::ReadResultA(char* buffer, std::size_t size, std::span<char*> lines,
                          std::uint32_t timeoutMs, bool report) {
  const ResultRead how{"ReadResultA", kResultReadIntervalMs, report, true, false, true};
  return ReadResultLines(how, buffer, 0, size, lines, timeoutMs, nullptr);
}

int WinCOMCE::ReadResultExxA(char* buffer, std::size_t kept, std::size_t size,
                             std::span<char*> lines, std::uint32_t timeoutMs,
                             std::uint32_t intervalMs, bool report) {
  const ResultRead how{"ReadResultExxA",
                       intervalMs == 0 ? kResultReadIntervalMs : intervalMs,
                       report,
                       false,
                       false,
                       false};
  return ReadResultLines(how, buffer, kept, size, lines, timeoutMs, nullptr);
}

int WinCOMCE::ReadResultWithXONA(char* buffer, std::size_t size, std::span<char*> lines,
                                 std::uint32_t timeoutMs, int* xonSeen) {
  const ResultRead how{"ReadResultWithXONA", kResultReadIntervalMs, true, false, true, false};
  return ReadResultLines(how, buffer, 0, size, lines, timeoutMs, xonSeen);
}

// ---- line state, dumps and error texts ----

int WinCOMCE::ClearCommError(std::uint32_t* errors) {
  std::uint32_t bits = 0;
  const bool ok = m_command.device && m_command.device->ClearCommError(bits, nullptr);
  if (errors) *errors = bits;
  return ok ? 1 : 0;
}

int WinCOMCE::ClearCommBreak() {
  return (m_command.device && m_command.device->ClearCommBreak()) ? 1 : 0;
}

void WinCOMCE::DumpComData(const void* bytes, std::uint32_t count, DumpKind kind) {
  if (m_log == nullptr) return;
  m_log->WriteRawN(DumpHeadLine(LocalTimeNow(), kind));
  if (count == 0 || bytes == nullptr) return;
  m_log->WriteRawN(DumpDataLines({static_cast<const std::uint8_t*>(bytes), count}));
}

void WinCOMCE::ReportComPortError(std::uint32_t errors) {
  std::string text;
  for (const auto& row : kErrorBitTexts) {
    if (!(errors & row.bit)) continue;
    if (!text.empty()) text += ", ";
    text += row.text;
  }
  if (text.empty()) {
    const std::string code = Format(31, "0x%08X", errors);
    text = Format(63, "Unexpected error code = %s", code.c_str());
  }
  text += ".";
  ReportError(0, kMsgDefault, kModule, "ReportComPortError", "Communication device error: %s",
              text.c_str());
}

}  // namespace vexo
