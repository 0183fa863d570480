// Opening and closing the serial port object: a serial modem by its port name
// or path, a telephony line's data port, or the built-in phone modem (command
// and data devices, the radio's message switch, data connections hung up when
// they hold the modem). Each device's settings are kept as found and put back
// at closing.
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "base/error_pool.h"
#include "modem/win_com_ce.h"
#include "modem/win_com_ce_internal.h"

namespace vexo {
namespace {

using port_detail::kModule;
constexpr std::uint32_t kTypeWarning = MSG_WARNING | MSG_TO_LOG | MSG_TO_USER;  // 26

constexpr const char* kCreateFileFailed =
    "CreateFile to open COM port failed, device not ready or COM port not available, ErrMsg =";
constexpr const char* kOpenModemFailed = "Fail to OpenModem";

// The phone modem's radio driver codes are behind RadioControl; the command
// port's switch takes these two bytes.
constexpr std::uint8_t kPhonePortControlInput[] = {0x84, 0x00};

}  // namespace

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

// ---- opening and closing ----

int WinCOMCE::OpenComPort(DCB* lineSettings, std::string_view portName, std::uint32_t listIndex,
                          std::string_view dialNumber, bool viaTelephony) {
  if (IsPortOpen() || m_data.device) CloseComPort(m_viaTelephony);
  m_ringLines = 0;
  m_phoneModem = viaTelephony && listIndex == 0;
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
                                 bool viaTelephony) {
  constexpr const char* kFunction = "OpenComPort_Normal";
  m_viaTelephony = viaTelephony;
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

int WinCOMCE::UseHardwareFlowControl() {
  for (Port* port : {&m_command, &m_data}) {
    if (!port->device) continue;
    DCB dcb = port->workingDcb;
    dcb.fOutxCtsFlow = 1;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    if (!port->device->SetCommState(dcb)) {
      ReportErrorCode(0, kMsgDefault, kModule, "UseHardwareFlowControl", port->device->LastError(),
                      "SetCommState failed, ErrMsg =");
      return 0;
    }
    port->workingDcb = dcb;
  }
  return 1;
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

void WinCOMCE::CloseComPort(bool) {
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

}  // namespace vexo
