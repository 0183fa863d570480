// An emulated Class 1 fax modem: spandsp's T.31 modem behind a pty. It feeds the
// program's bytes to the command filter (command mode) or straight to T.31
// (data mode), passes T.31's output back with XON/XOFF flow control, produces
// and hears line audio, and tells the telephone line when the program dials,
// answers or hangs up. TelephoneLine creates one per pty. A two-port phone
// modem also has a data pty: received data goes there and page data to send
// is read from there, while commands and result lines use the command pty.
#pragma once

#include <spandsp.h>

#include <memory>
#include <string>

#include "tools/linesim/command_filter.h"
#include "tools/linesim/emulated_modem.h"
#include "tools/linesim/hdlc_stream_faults.h"
#include "tools/linesim/pty_port.h"
#include "tools/linesim/two_port_router.h"

namespace vexo::linesim {

class Class1Modem : public EmulatedModem {
  // Only Create can make one, so that every modem has a working T.31.
  class Token {
    explicit Token() = default;
    friend class Class1Modem;
  };

 public:
  // Starts T.31 behind the pty; nullptr with error set on failure.
  static std::unique_ptr<Class1Modem> Create(int number, const ModemProfile& profile,
                                             std::shared_ptr<PtyPort> port, bool verbose,
                                             ModemListener& listener, std::string& error,
                                             std::shared_ptr<PtyPort> dataPort = nullptr);
  Class1Modem(Token, int number, std::shared_ptr<PtyPort> port, std::shared_ptr<PtyPort> dataPort,
              const ModemProfile& profile, bool verbose, ModemListener& listener);
  ~Class1Modem() override;
  Class1Modem(const Class1Modem&) = delete;
  Class1Modem& operator=(const Class1Modem&) = delete;

  int number() const override { return m_number; }
  PtyPort& port() override { return *m_port; }
  PtyPort* dataPort() override { return m_dataPort.get(); }
  void ServicePort() override;
  int waitForAnswerSeconds() const override { return m_filter.waitForAnswerSeconds(); }

  // Call events from the line, as T.31 reports them to the program.
  void Ring() override { t31_call_event(m_t31, AT_CALL_EVENT_ALERTING); }
  void Connected() override { t31_call_event(m_t31, AT_CALL_EVENT_CONNECTED); }
  void Answered() override { t31_call_event(m_t31, AT_CALL_EVENT_ANSWERED); }
  void Busy() override { t31_call_event(m_t31, AT_CALL_EVENT_BUSY); }
  void NoDialtone() override { t31_call_event(m_t31, AT_CALL_EVENT_NO_DIALTONE); }
  void NoAnswer() override { t31_call_event(m_t31, AT_CALL_EVENT_NO_ANSWER); }

  void Transmit(std::span<std::int16_t> out) override;
  void Receive(std::span<std::int16_t> in) override;

  // For the combined modem. AT+FCLASS= with a class in the profile that T.31
  // lacks asks handOff whether another modem takes the line (see CommandFilter).
  void SetClassHandOff(CommandFilter::HandOff handOff) { m_filter.SetHandOff(std::move(handOff)); }
  // Runs a command line another modem handed over, as if typed here (no echo).
  void RunHandedLine(std::string_view line) { m_filter.RunHandedLine(line); }
  bool echo() const { return m_filter.echo(); }
  void SetEcho(bool on) { m_filter.SetEcho(on); }
  // Back to the power-on state.
  void Reset() { StartT31(); }
  // Frame faults on HDLC frames inside high-speed data (ECM): sent counts the
  // frames the program sends after AT+FTM, received those the modem delivers
  // after AT+FRM; either may be empty.
  void SetDataFrameFaults(HdlcStreamFaults::OnFrame sent, HdlcStreamFaults::OnFrame received);

 private:
  static int OnAtOutput(at_state_t*, void* self, const std::uint8_t* buf, std::size_t len);
  static int OnModemControl(t31_state_t*, void* self, int op, const char* num);
  // (Re)starts T.31 in its power-on state: at creation and when the program
  // closes the port, which drops DTR and resets a real modem.
  void StartT31();
  void TraceTyped(char c);
  std::string RunInSpandsp(std::string_view command);
  void Output(std::string_view bytes);
  void SetClearToSend(bool on);
  // Takes one byte from the program, as command or as data by the modem's
  // mode; a data port carries no commands.
  void TakeByte(char c, bool fromDataPort);
  // Reads what the program wrote to port, unless T.31 asked for a pause.
  void ReadFrom(PtyPort& port, bool isDataPort);
  // True when T.31 gave the result code of a reception but stayed in its
  // delivery mode.
  bool ReceptionAnswered() const;
  // Passes T.31's output through the received-frame faults while it
  // delivers high-speed data.
  std::string FilterReceived(std::string_view bytes);

  int m_number;
  std::shared_ptr<PtyPort> m_port;
  std::shared_ptr<PtyPort> m_dataPort;
  TwoPortRouter m_router;
  bool m_verbose;
  ModemListener& m_listener;
  CommandFilter m_filter;
  t31_state_t* m_t31 = nullptr;
  bool m_clearToSend = true;
  bool m_capturing = false;
  std::string m_captured;
  std::string m_typed;
  std::string m_outTail;  // the last bytes written to the program
  std::unique_ptr<HdlcStreamFaults> m_sentFaults;
  std::unique_ptr<HdlcStreamFaults> m_receivedFaults;
  bool m_receivingData = false;  // past the CONNECT of a high-speed reception
  std::string m_receivedText;    // result text of that reception before its data
};

}  // namespace vexo::linesim
