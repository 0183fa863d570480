#include "tools/linesim/class1_modem.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "tools/linesim/spandsp_state.h"

namespace vexo::linesim {
namespace {

constexpr char kXon = 0x11;
constexpr char kXoff = 0x13;
// Bytes taken from the pty per service call; T.31's transmit buffer keeps
// 1024 bytes free above its high tide, so a chunk always fits.
constexpr std::size_t kReadChunk = 512;
constexpr std::size_t kMaxTraceLine = 256;
constexpr std::size_t kOutTail = 16;
constexpr std::size_t kMaxResultText = 32;
// How a reception ends: DLE ETX, then its result code, verbose or numeric; or,
// when it delivered no data, a final result code alone. After either the
// modem is in command state, where it ignores CAN.
constexpr std::string_view kReceptionEnds[] = {"\x10\x03\r\nOK\r\n",
                                               "\x10\x03\r\nERROR\r\n",
                                               "\x10\x03\r\nNO CARRIER\r\n",
                                               "\x10\x03"
                                               "0\r",
                                               "\x10\x03"
                                               "4\r",
                                               "\x10\x03"
                                               "3\r",
                                               "\r\nERROR\r\n",
                                               "\r\nNO CARRIER\r\n",
                                               "\r\n+FCERROR\r\n"};

}  // namespace

std::unique_ptr<Class1Modem> Class1Modem::Create(int number, const ModemProfile& profile,
                                                 std::shared_ptr<PtyPort> port, bool verbose,
                                                 ModemListener& listener, std::string& error,
                                                 std::shared_ptr<PtyPort> dataPort) {
  auto modem = std::make_unique<Class1Modem>(Token(), number, std::move(port), std::move(dataPort),
                                             profile, verbose, listener);
  if (modem->m_t31 == nullptr) {
    error = "cannot start the T.31 modem";
    return nullptr;
  }
  return modem;
}

Class1Modem::Class1Modem(Token, int number, std::shared_ptr<PtyPort> port,
                         std::shared_ptr<PtyPort> dataPort, const ModemProfile& profile,
                         bool verbose, ModemListener& listener)
    : m_number(number),
      m_port(std::move(port)),
      m_dataPort(std::move(dataPort)),
      m_verbose(verbose),
      m_listener(listener),
      m_filter(
          profile, [this](std::string_view command) { return RunInSpandsp(command); },
          [this](std::string_view bytes) { Output(bytes); }) {
  StartT31();
}

void Class1Modem::SetDataFrameFaults(HdlcStreamFaults::OnFrame sent,
                                     HdlcStreamFaults::OnFrame received) {
  if (sent) m_sentFaults = std::make_unique<HdlcStreamFaults>(std::move(sent));
  if (received) m_receivedFaults = std::make_unique<HdlcStreamFaults>(std::move(received));
}

void Class1Modem::StartT31() {
  if (m_t31 != nullptr) FreeT31(m_t31);
  if (m_sentFaults) m_sentFaults->Reset();
  if (m_receivedFaults) m_receivedFaults->Reset();
  m_receivingData = false;
  m_receivedText.clear();
  m_filter.Reset();
  m_router.Reset();
  m_clearToSend = true;
  m_outTail.clear();
  m_t31 = t31_init(nullptr, &Class1Modem::OnAtOutput, this, &Class1Modem::OnModemControl, this,
                   nullptr, nullptr);
  if (m_t31 == nullptr) return;
  t31_set_transmit_on_idle(m_t31, true);
  if (m_verbose) {
    logging_state_t* log = t31_get_logging_state(m_t31);
    span_log_set_level(log, SPAN_LOG_SHOW_SEVERITY | SPAN_LOG_SHOW_TAG | SPAN_LOG_FLOW);
    const std::string tag = "modem" + std::to_string(m_number);
    span_log_set_tag(log, tag.c_str());
  }
  // The filter echoes what the program types; spandsp must not echo as well.
  RunInSpandsp("E0");
}

Class1Modem::~Class1Modem() {
  if (m_t31 != nullptr) FreeT31(m_t31);
}

std::string Class1Modem::RunInSpandsp(std::string_view command) {
  const std::string line = "AT" + std::string(command) + "\r";
  // A new command starts a new reception: the result codes before it no longer count.
  m_outTail.clear();
  m_capturing = true;
  m_captured.clear();
  t31_at_rx(m_t31, line.data(), static_cast<int>(line.size()));
  m_capturing = false;
  return std::exchange(m_captured, {});
}

int Class1Modem::OnAtOutput(at_state_t*, void* self, const std::uint8_t* buf, std::size_t len) {
  auto& modem = *static_cast<Class1Modem*>(self);
  const std::string_view bytes(reinterpret_cast<const char*>(buf), len);
  if (modem.m_capturing) {
    modem.m_captured.append(bytes);
  } else {
    modem.Output(bytes);
  }
  return static_cast<int>(len);
}

int Class1Modem::OnModemControl(t31_state_t*, void* self, int op, const char* num) {
  auto& modem = *static_cast<Class1Modem*>(self);
  switch (op) {
    case AT_MODEM_CONTROL_CALL:
      // Only for dialling is num a string: the dialled number.
      modem.m_listener.OnDial(modem, num != nullptr ? num : "");
      break;
    case AT_MODEM_CONTROL_ANSWER:
      modem.m_listener.OnAnswer(modem);
      break;
    case AT_MODEM_CONTROL_HANGUP:
    case AT_MODEM_CONTROL_ONHOOK:
      modem.m_listener.OnHangup(modem);
      break;
    case AT_MODEM_CONTROL_CTS:
      // For the circuit controls num carries an on/off flag, not a string.
      modem.SetClearToSend(reinterpret_cast<std::intptr_t>(num) != 0);
      break;
    default:
      break;
  }
  return 0;
}

std::string Class1Modem::FilterReceived(std::string_view bytes) {
  if (!InHighSpeedReceive(m_t31)) {
    m_receivingData = false;
    m_receivedText.clear();
    return std::string(bytes);
  }
  std::string out;
  for (const char c : bytes) {
    if (m_receivingData) {
      if (m_receivedFaults->Feed(c, out)) m_receivingData = false;
      continue;
    }
    // The data begins after CONNECT, verbose or numeric.
    out += c;
    m_receivedText += c;
    if (m_receivedText.size() > kMaxResultText) m_receivedText.erase(0, 1);
    if (m_receivedText.ends_with("CONNECT\r\n") || m_receivedText.ends_with("1\r")) {
      m_receivingData = true;
      m_receivedText.clear();
      m_receivedFaults->Reset();
    }
  }
  return out;
}

void Class1Modem::Output(std::string_view bytes) {
  std::string filtered;
  if (m_receivedFaults) {
    filtered = FilterReceived(bytes);
    bytes = filtered;
  }
  if (m_verbose && !bytes.empty() && InCommandMode(m_t31)) {
    std::fprintf(stderr, "modem %d > %.*s\n", m_number, static_cast<int>(bytes.size()),
                 bytes.data());
  }
  m_outTail.append(bytes);
  if (m_outTail.size() > kOutTail) m_outTail.erase(0, m_outTail.size() - kOutTail);
  if (!m_dataPort) {
    m_port->Write(bytes);
    return;
  }
  const auto routed = m_router.Route(bytes, m_filter.receiving());
  if (!routed.command.empty()) m_port->Write(routed.command);
  if (!routed.data.empty()) m_dataPort->Write(routed.data);
}

void Class1Modem::TraceTyped(char c) {
  if (c == '\r') {
    std::fprintf(stderr, "modem %d < %s\n", m_number, m_typed.c_str());
    m_typed.clear();
  } else if (c != '\n' && m_typed.size() < kMaxTraceLine) {
    m_typed += c;
  }
}

void Class1Modem::SetClearToSend(bool on) {
  if (on == m_clearToSend) return;
  m_clearToSend = on;
  // A pty has no RTS/CTS: software flow control is the only way to pause the
  // program's page data while T.31's transmit buffer is full.
  const char control = on ? kXon : kXoff;
  (m_dataPort ? *m_dataPort : *m_port).Write(std::string_view(&control, 1));
}

void Class1Modem::ServicePort() {
  const bool wasOpen = m_port->slaveOpen();
  if (!m_port->PollSlaveOpen()) {
    // The program closed the port: a modem loses DTR and goes on hook.
    if (wasOpen) {
      m_listener.OnHangup(*this);
      StartT31();
    }
    return;
  }
  m_port->Flush();
  ReadFrom(*m_port, false);
  if (m_dataPort && m_dataPort->PollSlaveOpen()) {
    m_dataPort->Flush();
    ReadFrom(*m_dataPort, true);
  }
}

void Class1Modem::ReadFrom(PtyPort& port, bool isDataPort) {
  if (!m_clearToSend) return;
  char buffer[kReadChunk];
  const std::size_t n = port.Read(buffer, sizeof buffer);
  for (std::size_t i = 0; i < n; ++i) TakeByte(buffer[i], isDataPort);
}

bool Class1Modem::ReceptionAnswered() const {
  if (!InReceiveDelivery(m_t31)) return false;
  return std::any_of(std::begin(kReceptionEnds), std::end(kReceptionEnds),
                     [this](std::string_view end) { return m_outTail.ends_with(end); });
}

void Class1Modem::TakeByte(char c, bool fromDataPort) {
  // spandsp 0.0.6 answers AT+FRH=3 with the frames it had queued meanwhile,
  // each with its OK, but stays in its delivery mode, where the next byte is
  // taken as an abort and lost: the first character of the program's next
  // command. A modem that gave its result code is in command mode, so this
  // one is put there.
  if (ReceptionAnswered()) EnterCommandMode(m_t31);
  if (InCommandMode(m_t31)) {
    if (fromDataPort) return;
    if (m_verbose) TraceTyped(c);
    m_filter.Feed(c);
  } else if (m_sentFaults && InHighSpeedTransmit(m_t31)) {
    std::string bytes;
    m_sentFaults->Feed(c, bytes);
    if (!bytes.empty()) t31_at_rx(m_t31, bytes.data(), static_cast<int>(bytes.size()));
  } else {
    t31_at_rx(m_t31, &c, 1);
  }
}

void Class1Modem::Transmit(std::span<std::int16_t> out) {
  const int made = t31_tx(m_t31, out.data(), static_cast<int>(out.size()));
  std::fill(out.begin() + std::max(made, 0), out.end(), 0);
}

void Class1Modem::Receive(std::span<std::int16_t> in) {
  t31_rx(m_t31, in.data(), static_cast<int>(in.size()));
}

}  // namespace vexo::linesim
