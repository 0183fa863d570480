// WinCOMCE: the serial port object, the only way the fax code talks to a modem.
// It opens a serial modem ("COM%d:" or a device path), a telephony line's data
// port, or the built-in phone modem (command and data devices plus the radio
// switches), keeps each device's settings as found to put them back at closing,
// applies the working settings, and offers timed byte transfers, AT command
// writes and result-line reads. With the dump flag on, every transfer is
// dumped into the communication log. Failures go to the error pool under
// "WinCOMCE". One job thread uses the object at a time; it has no lock.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <string_view>

#include "modem/comm_dump.h"
#include "modem/telephony_port.h"
#include "platform/data_connections.h"
#include "platform/radio_control.h"
#include "platform/serial/serial_device.h"

namespace vexo {

class LogFile;
class JobControl;

constexpr std::size_t kReadBufferBytes = 256;
constexpr std::size_t kMaxCommandChars = 255;
constexpr std::uint32_t kPortQueueBytes = 8192;
constexpr std::uint32_t kBasicReadIntervalMs = 250;
constexpr std::uint32_t kResultReadIntervalMs = 250;
constexpr std::uint32_t kCommandWriteTimeoutMs = 5000;
constexpr std::uint32_t kCommandCharsPerSecond = 150;
constexpr std::uint32_t kPhoneModemBaud = 115200;
constexpr std::uint32_t kPhoneClosePauseMs = 6000;
constexpr std::uint32_t kDefaultDelayMs = 20;
constexpr std::uint32_t kSoftReadPauseMs = 150;
constexpr std::uint32_t kSoftWritePauseMs = 100;
constexpr std::size_t kClearPieceBytes = 256;
constexpr std::uint32_t kWorkingEventMask = EV_ERR | EV_BREAK;             // 0xC0
constexpr std::uint32_t kWriteEventMask = EV_TXEMPTY | EV_ERR | EV_BREAK;  // 0xC4
constexpr std::uint32_t kPhonePortControlCode = 0xAAAA5679;
constexpr std::uint8_t kXon = 0x11;

// Flags of the transfers.
enum TransferFlag : std::uint32_t {
  kTransferAll = 1,      // move everything asked for
  kQuiet = 2,            // report nothing to the error pool
  kSkipLineCheck = 4,    // WriteCommandA: no look at the line's error bits
  kClearInput = 8,       // WriteCommandA: first read and drop the waiting input
  kEndAtFinalLine = 16,  // reads: bytes ending in a final result line end the read early
};

// Which devices the port names stand for (the settings COMPortDevice,
// PhoneCommandDevice and PhoneDataDevice) and CloseAllRasConn.
struct PortOptions {
  std::string comPortDevice;
  std::string phoneCommandDevice;
  std::string phoneDataDevice;
  bool closeAllDataConnections = false;
};

// What the port object works through; null members get the defaults (the
// termios device, no radio switch, no data connections, no telephony, real
// sleeping). None of the pointers is owned.
struct PortEnvironment {
  SerialDeviceOpener openDevice;
  RadioControl* radio = nullptr;
  DataConnections* dataConnections = nullptr;
  TelephonyPort* telephony = nullptr;
  std::function<void(std::uint32_t ms)> sleep;  // Delay and the phone modem's closing pause
};

// The device a serial port name stands for: comPortDevice when not empty, a
// name that is a path as it is, else "COMn:" -> /dev/ttyS<n-1>; empty when none.
std::string ResolvePortDevice(std::string_view portName, std::string_view comPortDevice);

// Which port of the modem a transfer uses: commands and result lines, or page
// data (a separate port only on the two-port phone modem).
enum class Channel { Command, Data };

class WinCOMCE {
 public:
  explicit WinCOMCE(PortEnvironment environment = {});
  ~WinCOMCE();
  WinCOMCE(const WinCOMCE&) = delete;
  WinCOMCE& operator=(const WinCOMCE&) = delete;

  void SetOptions(PortOptions options) { m_options = std::move(options); }
  void SetLog(LogFile* log) { m_log = log; }
  LogFile* Log() const { return m_log; }
  void SetJobControl(JobControl* job) { m_job = job; }
  JobControl* Job() const { return m_job; }
  void SetCommLog(int on) { m_commLogOn = on != 0; }
  int CommLog() const { return m_commLogOn ? 1 : 0; }
  void SetBaudRate(std::uint32_t baud) { m_baudRate = baud; }
  std::uint32_t BaudRate() const { return m_baudRate; }

  // Opening and closing. With viaTelephony 1 and listIndex 0 the built-in phone
  // modem is opened; else a telephony line (viaTelephony 1) or the named port.
  // Closing puts back the settings found and follows the way the port was
  // opened (a telephony line goes back to the telephony code, the phone modem
  // switches text messages on again and pauses), whatever viaTelephony says.
  int OpenComPort(DCB* lineSettings, std::string_view portName, std::uint32_t listIndex,
                  std::string_view dialNumber, bool viaTelephony);
  void CloseComPort(bool viaTelephony);
  int IsPortOpen() const { return m_command.device ? 1 : 0; }
  // Asks the open ports for the RTS/CTS handshake once the modem has been told
  // to use it (Class 2.0 "AT+FLO=2"); a device without a CTS line (a pty) keeps
  // its XON/XOFF pause. 1, or 0 when a port refused the settings (reported).
  int UseHardwareFlowControl();
  // "RING" lines the result readers have passed on since the port was opened,
  // whoever read them: a ring that comes in while the modem is being set up
  // still announces the call.
  int RingLinesRead() const { return m_ringLines; }

  // Transfers: 1 for success, 0 for failure. Channel::Data is the phone
  // modem's data port where it has one, else the command port.
  int ReadComDataSYN(Channel channel, void* buffer, std::uint32_t length, std::uint32_t* count,
                     std::uint32_t flags);
  // A null buffer writes from the command buffer.
  int WriteComDataSYN(Channel channel, const void* buffer, std::uint32_t length,
                      std::uint32_t* count, std::uint32_t flags);
  // length 0 = up to the NUL.
  int WriteCommandA(const char* bytes, std::uint32_t length, std::uint32_t flags);
  int WriteCommand(const char* text, std::uint32_t flags);
  // The format's "%s" takes the argument (missing = empty text) and "%%" is a
  // percent sign; any other "%" stands for itself.
  int WriteCommandF(const char* format, const char* argument, std::uint32_t flags);

  // Result lines: the number of lines, 0 on timeout, -1 on failure. A null
  // buffer means the read buffer (256 bytes). lines receives NUL-terminated,
  // upper-cased lines inside the buffer, valid until the next read; its size is
  // the most lines taken. The timeout is a deadline for the whole call.
  int ReadResultA(char* buffer, std::size_t size, std::span<char*> lines, std::uint32_t timeoutMs,
                  bool report);
  int ReadResultExxA(char* buffer, std::size_t kept, std::size_t size, std::span<char*> lines,
                     std::uint32_t timeoutMs, std::uint32_t intervalMs, bool report);
  int ReadResultWithXONA(char* buffer, std::size_t size, std::span<char*> lines,
                         std::uint32_t timeoutMs, int* xonSeen);

  int GetComPortTimeouts(COMMTIMEOUTS* timeouts, bool report);
  int SetComPortTimeouts(const COMMTIMEOUTS& timeouts, bool report);
  int Delay(std::uint32_t ms);
  void DumpComData(const void* bytes, std::uint32_t count, DumpKind kind);
  void ReportComPortError(std::uint32_t errors);

  // Line calls the command exchange needs on the command device.
  int ClearCommError(std::uint32_t* errors);
  int ClearCommBreak();

  char* ReadBuffer() { return m_readBuffer.data(); }
  const char* CommandBuffer() const { return m_commandBuffer.data(); }
  int SoftTimeouts() const { return m_softTimeouts ? 1 : 0; }
  int FlowControl() const { return m_flowControl ? 1 : 0; }
  int PhoneModem() const { return m_phoneModem ? 1 : 0; }

 private:
  // One open device with its settings as found at opening.
  struct Port {
    std::unique_ptr<SerialDevice> device;
    DCB savedDcb{};
    COMMTIMEOUTS savedTimeouts{};
    COMMPROP savedProperties{};
    std::uint32_t savedMask = 0;
    DCB workingDcb{};
  };
  struct ResultRead;

  // Puts the port's timeouts back as they were at its making when its scope
  // ends, once they have been changed. A failed change is reported and makes
  // the putting back quiet.
  class TimeoutsGuard {
   public:
    TimeoutsGuard(WinCOMCE& port, const char* function, bool report);
    ~TimeoutsGuard();
    TimeoutsGuard(const TimeoutsGuard&) = delete;
    TimeoutsGuard& operator=(const TimeoutsGuard&) = delete;

    bool Saved() const { return m_saved; }  // false: the timeouts could not be read (reported)
    const COMMTIMEOUTS& Timeouts() const { return m_timeouts; }
    bool Set(const COMMTIMEOUTS& timeouts);
    void Changing() { m_changed = true; }  // the timeouts are changed by other means
    void RestoreQuietly() { m_restoreReport = false; }

   private:
    WinCOMCE& m_port;
    const char* m_function;
    bool m_report;
    bool m_restoreReport;
    COMMTIMEOUTS m_timeouts{};
    bool m_saved = false;
    bool m_changed = false;
  };

  int OpenComPort_Normal(DCB* lineSettings, std::string_view portName, std::uint32_t listIndex,
                         std::string_view dialNumber, bool viaTelephony);
  int OpenComPort_XDA(DCB* lineSettings);
  bool ReadProviderCapabilities(Port& port, const char* function);
  bool GetOriginalComState(Port& port, bool dataPort);
  bool SetBasicComState(Port& port);
  void PutBackState(Port& port);
  void ClosePort(Port& port, bool telephonyLine);
  void CloseAll();
  int HangUpDataConnections();

  Port& PortFor(Channel channel);
  bool DriverTimeouts(Port& port, COMMTIMEOUTS& out, int& error);
  bool ApplyTimeouts(Port& port, const COMMTIMEOUTS& timeouts, int& error);
  bool GetTimeoutsReporting(const char* function, COMMTIMEOUTS& out, bool report);
  bool SetTimeoutsReporting(const char* function, const COMMTIMEOUTS& timeouts, bool report);
  bool ReadOnce(SerialDevice& device, std::uint8_t* buffer, std::uint32_t length,
                std::uint32_t& count);
  bool SoftRead(SerialDevice& device, std::uint8_t* buffer, std::uint32_t length,
                std::uint32_t& count);
  bool SoftWrite(SerialDevice& device, const std::uint8_t* buffer, std::uint32_t length,
                 std::uint32_t& count);
  bool EvaluateCommEvent(SerialDevice& device, std::uint32_t events, bool quiet);
  bool ClearWaitingInput(std::uint32_t waiting, bool quiet);
  int WriteCommandLine(std::string_view command, std::uint32_t flags);
  int ReadResultLines(const ResultRead& how, char* buffer, std::size_t kept, std::size_t size,
                      std::span<char*> lines, std::uint32_t timeoutMs, int* xonSeen);
  int ReadToFinalLine(Channel channel, std::uint8_t* buffer, std::uint32_t length,
                      std::uint32_t* count, std::uint32_t flags);
  void WriteDebugLine(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void LogDeviceNotes(SerialDevice& device);

  PortEnvironment m_env;
  PortOptions m_options;
  Port m_command;
  bool m_radioOpen = false;
  Port m_data;
  LogFile* m_log = nullptr;
  JobControl* m_job = nullptr;
  COMMTIMEOUTS m_softTimeoutValues{};
  std::uint32_t m_lastEvents = 0;
  bool m_softTimeouts = false;
  bool m_commLogOn = false;
  int m_ringLines = 0;
  std::uint32_t m_baudRate = 19200;
  bool m_flowControl = false;
  bool m_viaTelephony = false;
  std::array<char, kReadBufferBytes> m_readBuffer{};
  std::array<char, kMaxCommandChars + 2> m_commandBuffer{};  // command, CR, NUL
  bool m_phoneModem = false;
  std::set<std::string> m_notesLogged;
  std::unique_ptr<RadioControl> m_ownRadio;
  std::unique_ptr<DataConnections> m_ownConnections;
};

// Puts the port's timeouts back, quietly, as they were at its making when the
// scope ends; for callers that change them for a while through
// SetComPortTimeouts. Nothing is put back when they could not be read.
class ScopedComPortTimeouts {
 public:
  ScopedComPortTimeouts(WinCOMCE& port, bool report)
      : m_port(port), m_saved(port.GetComPortTimeouts(&m_timeouts, report) == 1) {}
  ~ScopedComPortTimeouts() {
    if (m_saved) m_port.SetComPortTimeouts(m_timeouts, false);
  }
  ScopedComPortTimeouts(const ScopedComPortTimeouts&) = delete;
  ScopedComPortTimeouts& operator=(const ScopedComPortTimeouts&) = delete;

  bool saved() const { return m_saved; }
  const COMMTIMEOUTS& timeouts() const { return m_timeouts; }

 private:
  WinCOMCE& m_port;
  COMMTIMEOUTS m_timeouts{};
  bool m_saved;
};

}  // namespace vexo
