// The serial line records the modem code works with: line settings (DCB),
// timeouts (COMMTIMEOUTS), driver properties (COMMPROP), queue status (COMSTAT)
// and the numeric values of event masks, error bits and line functions. Every
// SerialDevice speaks in these types; the serial port object keeps them as found
// at opening and puts them back at closing.
#pragma once

#include <cstdint>

namespace vexo {

constexpr std::uint32_t MAXDWORD = 0xFFFFFFFFu;

// Line settings. Flag fields hold 0 or 1 (fDtrControl and fRtsControl 0 to 3).
struct DCB {
  std::uint32_t DCBlength = sizeof(DCB);
  std::uint32_t BaudRate = 0;
  std::uint32_t fBinary = 1;
  std::uint32_t fParity = 0;
  std::uint32_t fOutxCtsFlow = 0;
  std::uint32_t fOutxDsrFlow = 0;
  std::uint32_t fDtrControl = 0;
  std::uint32_t fDsrSensitivity = 0;
  std::uint32_t fTXContinueOnXoff = 0;
  std::uint32_t fOutX = 0;
  std::uint32_t fInX = 0;
  std::uint32_t fErrorChar = 0;
  std::uint32_t fNull = 0;
  std::uint32_t fRtsControl = 0;
  std::uint32_t fAbortOnError = 0;
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;
  std::uint8_t ByteSize = 8;
  std::uint8_t Parity = 0;
  std::uint8_t StopBits = 0;
  char XonChar = 0x11;
  char XoffChar = 0x13;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;

  bool operator==(const DCB&) const = default;
};

struct COMMTIMEOUTS {
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;

  bool operator==(const COMMTIMEOUTS&) const = default;
};

struct COMMPROP {
  std::uint16_t wPacketLength = 0;
  std::uint16_t wPacketVersion = 0;
  std::uint32_t dwServiceMask = 0;
  std::uint32_t dwReserved1 = 0;
  std::uint32_t dwMaxTxQueue = 0;
  std::uint32_t dwMaxRxQueue = 0;
  std::uint32_t dwMaxBaud = 0;
  std::uint32_t dwProvSubType = 0;
  std::uint32_t dwProvCapabilities = 0;
  std::uint32_t dwSettableParams = 0;
  std::uint32_t dwSettableBaud = 0;
  std::uint16_t wSettableData = 0;
  std::uint16_t wSettableStopParity = 0;
  std::uint32_t dwCurrentTxQueue = 0;
  std::uint32_t dwCurrentRxQueue = 0;
  std::uint32_t dwProvSpec1 = 0;
  std::uint32_t dwProvSpec2 = 0;
  char16_t wcProvChar[1] = {0};

  bool operator==(const COMMPROP&) const = default;
};

// Bytes waiting in the input and output queues.
struct COMSTAT {
  std::uint32_t cbInQue = 0;
  std::uint32_t cbOutQue = 0;
};

// Size the caller writes into wPacketLength before reading the properties.
constexpr std::uint16_t kCommPropPacketLength = 64;

// Provider capabilities.
enum : std::uint32_t {
  PCF_DTRDSR = 0x0001,
  PCF_RTSCTS = 0x0002,
  PCF_RLSD = 0x0004,
  PCF_PARITY_CHECK = 0x0008,
  PCF_XONXOFF = 0x0010,
  PCF_SETXCHAR = 0x0020,
  PCF_TOTALTIMEOUTS = 0x0040,
  PCF_INTTIMEOUTS = 0x0080,
};

// Events of the event mask.
enum : std::uint32_t {
  EV_RXCHAR = 0x0001,
  EV_RXFLAG = 0x0002,
  EV_TXEMPTY = 0x0004,
  EV_CTS = 0x0008,
  EV_DSR = 0x0010,
  EV_RLSD = 0x0020,
  EV_BREAK = 0x0040,
  EV_ERR = 0x0080,
  EV_RING = 0x0100,
};

// Error bits of ClearCommError.
enum : std::uint32_t {
  CE_RXOVER = 0x0001,
  CE_OVERRUN = 0x0002,
  CE_RXPARITY = 0x0004,
  CE_FRAME = 0x0008,
  CE_BREAK = 0x0010,
  CE_TXFULL = 0x0100,
  CE_PTO = 0x0200,
  CE_IOE = 0x0400,
  CE_DNS = 0x0800,
  CE_OOP = 0x1000,
  CE_MODE = 0x8000,
};

// Line functions of EscapeCommFunction.
enum : std::uint32_t {
  SETXOFF = 1,
  SETXON = 2,
  SETRTS = 3,
  CLRRTS = 4,
  SETDTR = 5,
  CLRDTR = 6,
  SETBREAK = 8,
  CLRBREAK = 9,
};

// StopBits, Parity, fDtrControl and fRtsControl values.
enum : std::uint8_t { ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2 };
enum : std::uint8_t {
  NOPARITY = 0,
  ODDPARITY = 1,
  EVENPARITY = 2,
  MARKPARITY = 3,
  SPACEPARITY = 4
};
enum : std::uint32_t { DTR_CONTROL_DISABLE = 0, DTR_CONTROL_ENABLE = 1, DTR_CONTROL_HANDSHAKE = 2 };
enum : std::uint32_t {
  RTS_CONTROL_DISABLE = 0,
  RTS_CONTROL_ENABLE = 1,
  RTS_CONTROL_HANDSHAKE = 2,
  RTS_CONTROL_TOGGLE = 3,
};

}  // namespace vexo
