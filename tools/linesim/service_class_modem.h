// An emulated Class 2 or Class 2.0 fax modem: the modem runs T.30 itself and
// the program talks to it with the service-class commands (+FCC/+FDCC, +FDT,
// +FDR, ...) and reports (+FCS:/+FDCS:, +FPS:/+FPTS:, +FHS:/+FHNG:). The far
// end is a FarStation at the protocol level, so the line carries no audio;
// page data is drained and delivered at the negotiated bit rate.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "tools/linesim/emulated_modem.h"
#include "tools/linesim/far_station.h"
#include "tools/linesim/far_terminal.h"
#include "tools/linesim/options.h"
#include "tools/linesim/pty_port.h"

namespace vexo::linesim {

// The words that differ between the two command sets.
struct ServiceDialect {
  std::string_view fclass;      // "2" or "2.0"
  std::string_view capability;  // "+FDCC" / "+FCC"
  std::string_view session;     // "+FDIS" / "+FIS"
  std::string_view localId;     // "+FLID" / "+FLI"
  std::string_view sessionRep;  // "+FDCS:" / "+FCS:"
  std::string_view remoteDis;   // "+FDIS:" / "+FIS:"
  std::string_view calledId;    // "+FCSI:" / "+FCI:"
  std::string_view callerId;    // "+FTSI:" / "+FTI:"
  std::string_view connected;   // "+FCON" / "+FCO"
  std::string_view pageStatus;  // "+FPTS:" / "+FPS:"
  std::string_view hangup;      // "+FHNG:" / "+FHS:"
  std::string_view abort;       // "+FK" / "+FKS"
  bool classTwo = false;        // XON after CONNECT, decimal hang-up codes, reversed receive data
};

// Session parameters VR, BR, WD, LN, DF, EC, BF, ST in the order and
// numbering of the +FCC/+FDCC commands.
using SessionParams = std::array<int, 8>;

class ServiceClassModem : public EmulatedModem {
 public:
  static std::unique_ptr<ServiceClassModem> Create(int number, const Options& options,
                                                   std::shared_ptr<PtyPort> port,
                                                   ModemListener& listener);
  ServiceClassModem(int number, std::shared_ptr<PtyPort> port, const Options& options,
                    ModemListener& listener);

  int number() const override { return m_number; }
  PtyPort& port() override { return *m_port; }
  void ServicePort() override;
  int waitForAnswerSeconds() const override { return m_s7; }
  bool runsT30() const override { return true; }
  const FarResult* ownFarResult() const override { return &m_result; }

  void Ring() override;
  void Connected() override;
  void Answered() override;
  void Busy() override;
  void NoDialtone() override;
  void NoAnswer() override;

  // No audio: the far end is met at the protocol level.
  void Transmit(std::span<std::int16_t> out) override;
  void Receive(std::span<std::int16_t>) override {}

  // With --class auto: the command line that selected Class 1, which the
  // Class 1 modem then runs from its start; nullopt when none. Taking it clears it.
  std::optional<std::string> TakeClassOneLine();
  // Runs a command line another modem handed over, as if typed here (no echo).
  void RunHandedLine(std::string_view line) { RunCommands(line); }
  // The echo setting, carried over when the combined modem switches class.
  bool echo() const { return m_echo; }
  void SetEcho(bool on) { m_echo = on; }
  // Back to the power-on state (the port was closed).
  void Reset();

 private:
  enum class Mode { kCommand, kDialling, kAnswering, kSending, kWaitDc2, kDelivering };

  void ServiceCommand();
  void ServiceSending();
  void Feed(char c);
  void RunLine(std::string_view line);
  void RunCommands(std::string_view line);
  bool RunCommand(std::string_view command, std::string& info, bool& final);
  bool RunFaxCommand(const std::string& command, std::string_view raw, std::string& info,
                     bool& final);
  bool SetClass(std::string_view value);
  bool SetCapabilities(std::string_view value);
  SessionParams FarDis() const;
  void Negotiate(const SessionParams& far);
  // Whether the program may set a session parameter to value.
  bool Allowed(std::size_t field, int value) const;
  static std::string ParamText(const SessionParams& params);
  std::string HangupText(int code) const;

  void StartSendPage(std::string& info);
  bool TakePageData(char c);
  void EndSentPage(char end);
  void PostPage(int ppm);
  void StartReceivePage(std::string& info);
  void DeliverPageData();
  void EndDeliveredPage();
  void AbortCall();
  void FarHangsUp(int code);
  void FinishCall(bool ok, const std::string& text);
  void HangUpCall();
  std::string ReceiveFile() const;
  bool FarHangsUpBefore(int page) const;
  std::size_t BytesPerBlock() const;

  void Reply(std::string_view text);
  void Out(std::string_view text);
  void Final(bool ok) { Reply(ok ? "OK" : "ERROR"); }

  int m_number;
  std::shared_ptr<PtyPort> m_port;
  const Options& m_options;
  ModemListener& m_listener;
  const ServiceDialect* m_dialect = nullptr;  // null: the class is not yet 2 or 2.0
  Mode m_mode = Mode::kCommand;
  std::string m_line;
  bool m_echo = true;
  int m_s7 = 60;
  int m_bitOrder = 0;         // +FBO; bit 0 set: phase C data reversed
  SessionParams m_params{};   // what the program offers (+FCC/+FIS)
  SessionParams m_session{};  // what the call runs with, after DIS/DCS
  std::string m_localId;
  bool m_classOneWanted = false;
  std::string m_running;  // the command line being run

  // The call.
  bool m_inCall = false;
  bool m_hangupPending = false;  // the call ended; the line is told on the next service call
  bool m_calling = false;
  int m_page = 0;              // page transmissions ended in this call
  bool m_awaitingFet = false;  // a page ended with DLE ETX; AT+FET gives its post-page message
  bool m_rtnGiven = false;
  bool m_farGone = false;  // the far end dropped the line during this page
  int m_retriedPage = -1;  // call in: the page the program asked for again

  // Page data from the program: stuffed bytes waiting to go out at the line rate.
  std::string m_toLine;
  bool m_xoff = false;
  bool m_dle = false;
  std::size_t m_pageBytes = 0;
  // Page data for the program (a call in), stuffed, and how much went out.
  std::string m_toProgram;
  std::size_t m_delivered = 0;

  FarStation m_far;
  FarResult m_result;
};

}  // namespace vexo::linesim
