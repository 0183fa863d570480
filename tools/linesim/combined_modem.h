// The modem of --class auto: one pty with two modems behind it, as a modem
// that offers classes 0, 1, 2 and 2.0. The Class 1 modem (spandsp's T.31)
// holds the line at power-on and in classes 0 and 1; a command line with
// AT+FCLASS=2 or 2.0 goes to the service-class modem, which from then on
// holds it until a line with AT+FCLASS=1 sends it back. Call events and audio
// go to the modem that holds the line, and the line hears of dial, answer and
// hang-up as coming from this modem.
#pragma once

#include <memory>
#include <string>

#include "tools/linesim/class1_modem.h"
#include "tools/linesim/command_filter.h"
#include "tools/linesim/emulated_modem.h"
#include "tools/linesim/options.h"
#include "tools/linesim/pty_port.h"
#include "tools/linesim/service_class_modem.h"

namespace vexo::linesim {

class CombinedModem : public EmulatedModem, private ModemListener {
  class Token {
    explicit Token() = default;
    friend class CombinedModem;
  };

 public:
  // nullptr with error set when T.31 cannot start.
  static std::unique_ptr<CombinedModem> Create(int number, const Options& options,
                                               ModemProfile profile, std::shared_ptr<PtyPort> port,
                                               ModemListener& line, std::string& error);
  CombinedModem(Token, int number, std::shared_ptr<PtyPort> port, ModemListener& line);
  CombinedModem(const CombinedModem&) = delete;
  CombinedModem& operator=(const CombinedModem&) = delete;

  int number() const override { return m_number; }
  PtyPort& port() override { return *m_port; }
  void ServicePort() override;
  int waitForAnswerSeconds() const override { return active().waitForAnswerSeconds(); }
  // The call's far end is the service-class modem's own when it made or took the call.
  bool runsT30() const override { return m_callByService; }
  const FarResult* ownFarResult() const override {
    return m_callByService ? m_service->ownFarResult() : nullptr;
  }

  void Ring() override { active().Ring(); }
  void Connected() override { active().Connected(); }
  void Answered() override { active().Answered(); }
  void Busy() override { active().Busy(); }
  void NoDialtone() override { active().NoDialtone(); }
  void NoAnswer() override { active().NoAnswer(); }
  void Transmit(std::span<std::int16_t> out) override { active().Transmit(out); }
  void Receive(std::span<std::int16_t> in) override { active().Receive(in); }

 private:
  EmulatedModem& active() const;
  bool HandToServiceClass(std::string_view fclass, std::string_view line);
  void HandToClassOne(const std::string& line);

  // What the inner modems do to the line, passed on as done by this modem.
  void OnDial(EmulatedModem& modem, const std::string& number) override;
  void OnAnswer(EmulatedModem& modem) override;
  void OnHangup(EmulatedModem&) override { m_line.OnHangup(*this); }

  int m_number;
  std::shared_ptr<PtyPort> m_port;
  ModemListener& m_line;
  std::unique_ptr<Class1Modem> m_classOne;
  std::unique_ptr<ServiceClassModem> m_service;
  bool m_serviceActive = false;
  bool m_callByService = false;
};

}  // namespace vexo::linesim
