#include "tools/linesim/combined_modem.h"

#include <utility>

namespace vexo::linesim {

std::unique_ptr<CombinedModem> CombinedModem::Create(int number, const Options& options,
                                                     ModemProfile profile,
                                                     std::shared_ptr<PtyPort> port,
                                                     ModemListener& line, std::string& error) {
  auto modem = std::make_unique<CombinedModem>(Token(), number, port, line);
  ModemListener& inner = *modem;
  profile.fclassList = {"0", "1", "2", "2.0"};
  modem->m_classOne = Class1Modem::Create(number, profile, port, options.verbose, inner, error);
  if (!modem->m_classOne) return nullptr;
  modem->m_service = ServiceClassModem::Create(number, options, std::move(port), inner);
  modem->m_classOne->SetClassHandOff(
      [self = modem.get()](std::string_view fclass, std::string_view commandLine) {
        return self->HandToServiceClass(fclass, commandLine);
      });
  return modem;
}

CombinedModem::CombinedModem(Token, int number, std::shared_ptr<PtyPort> port, ModemListener& line)
    : m_number(number), m_port(std::move(port)), m_line(line) {}

EmulatedModem& CombinedModem::active() const {
  if (m_serviceActive) return *m_service;
  return *m_classOne;
}

void CombinedModem::ServicePort() {
  const bool wasOpen = m_port->slaveOpen();
  active().ServicePort();
  if (m_serviceActive) {
    if (auto line = m_service->TakeClassOneLine()) HandToClassOne(*line);
  }
  if (wasOpen && !m_port->slaveOpen()) {
    // Closing the port resets the modem: the half that held the line reset
    // itself, the other one follows, and Class 1 (class 0) holds it again.
    if (m_serviceActive) {
      m_classOne->Reset();
    } else {
      m_service->Reset();
    }
    m_serviceActive = false;
  }
}

// The whole line goes over, so that commands before and after AT+FCLASS= run
// in the class selected and the program gets one answer for the line.
bool CombinedModem::HandToServiceClass(std::string_view fclass, std::string_view line) {
  if (fclass != "2" && fclass != "2.0") return false;
  m_service->SetEcho(m_classOne->echo());
  m_serviceActive = true;
  m_service->RunHandedLine(line);
  return true;
}

void CombinedModem::HandToClassOne(const std::string& line) {
  m_classOne->SetEcho(m_service->echo());
  m_serviceActive = false;
  m_classOne->RunHandedLine(line);
}

void CombinedModem::OnDial(EmulatedModem& modem, const std::string& number) {
  m_callByService = &modem == m_service.get();
  m_line.OnDial(*this, number);
}

void CombinedModem::OnAnswer(EmulatedModem& modem) {
  m_callByService = &modem == m_service.get();
  m_line.OnAnswer(*this);
}

}  // namespace vexo::linesim
