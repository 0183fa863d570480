// An emulated Class 2 or Class 2.0 fax modem: the modem runs T.30 itself and
// the program talks to it with the service-class commands (+FCC/+FDCC, +FDT,
// +FDR, ...) and reports (+FCS:/+FDCS:, +FPS:/+FPTS:, +FHS:/+FHNG:). The far
// end is a FarStation at the protocol level, so the line carries no audio;
// page data is drained and delivered at the negotiated bit rate.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "tools/linesim/emulated_modem.h"
#include "tools/linesim/far_station.h"
#include "tools/linesim/far_terminal.h"
#include "tools/linesim/options.h"
#include "tools/linesim/pty_port.h"

namespace vexo::linesim {

// The words that differ between the two command sets.
struct ServiceDialect {
  std::string_view fclass;       // "2" or "2.0"
  std::string_view capability;   // "+FDCC" / "+FCC"
  std::string_view session;      // "+FDIS" / "+FIS"
  std::string_view localId;      // "+FLID" / "+FLI"
  std::string_view sessionRep;   // "+FDCS:" / "+FCS:"
  std::string_view remoteDis;    // "+FDIS:" / "+FIS:"
  std::string_view calledId;     // "+FCSI:" / "+FCI:"
  std::string_view callerId;     // "+FTSI:" / "+FTI:"
  std::string_view connected;    // "+FCON" / "+FCO"
  std::string_view pageStatus;   // "+FPTS:" / "+FPS:"
  std::string_view hangup;       // "+FHNG:" / "+FHS:"
  std::string_view abort;        // "+FK" / "+FKS"
  bool classTwo = false;         // XON before page data, AT+FET ends a page
};

class ServiceClassModem : public EmulatedModem {
 public:
  static std::unique_ptr<ServiceClassModem> Create(int number, const Options& options,
                                                   const std::string& link,
                                                   ModemListener& listener, std::string& error);
  ServiceClassModem(int number, PtyPort port, const Options& options, ModemListener& listener);

  int number() const override { return m_number; }
  PtyPort& port() override { return m_port; }
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

 private:
  enum class Mode { kCommand, kDialling, kAnswering, kSending, kDelivering, kWaitDc2 };

  void Feed(char c);
  void RunLine(std::string_view line);
  bool RunCommand(std::string_view command, std::string& info, bool& final);
  bool SetClass(std::string_view value);
  bool SetCapabilities(std::string_view value);
  std::string CapabilityText() const;
  std::string SessionText() const;
  std::string FarDisText() const;
  void StartSendPage(std::string& info);
  void TakePageData(const char* data, std::size_t size);
  void EndSentPage(char end);
  void PostPage(int ppm, std::string& info);
  void StartReceivePage(std::string& info);
  void DeliverPageData();
  void HangUpCall();
  std::string ReceiveFile() const;
  void FarHangsUp(const std::string& code, std::string_view final);
  void Reply(std::string_view text);
  void Out(std::string_view text);
  void Final(bool ok);
  void Reset();
  std::size_t BytesPerBlock() const;
  bool FarHangsUpBefore(int page) const;

  int m_number;
  PtyPort m_port;
  const Options& m_options;
  ModemListener& m_listener;
  const ServiceDialect* m_dialect = nullptr;  // null: the class is not yet 2 or 2.0
  Mode m_mode = Mode::kCommand;
  std::string m_line;
  bool m_echo = true;
  int m_s7 = 60;
  int m_bitOrder = 0;  // +FBO
  // Session parameters VR, BR, WD, LN, DF, EC, BF, ST as T.32 numbers them.
  int m_params[8] = {};
  std::string m_localId;
  bool m_inCall = false;
  bool m_calling = false;
  int m_page = 0;  // pages handled in this call
  bool m_dle = false;
  std::size_t m_pageBytes = 0;
  int m_lastPpm = -1;  // Class 2: a page ended, waiting for AT+FET
  bool m_rtnGiven = false;
  std::string m_outgoing;  // call-in page data still to deliver
  std::size_t m_delivered = 0;
  FarStation m_far;
  FarResult m_result;
};

}  // namespace vexo::linesim
