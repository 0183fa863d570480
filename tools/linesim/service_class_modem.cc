#include "tools/linesim/service_class_modem.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <utility>

#include <unistd.h>

#include "tools/linesim/command_filter.h"

namespace vexo::linesim {
namespace {

constexpr ServiceDialect kClass2{"2",      "+FDCC",  "+FDIS",  "+FLID",  "+FDCS:", "+FDIS:", "+FCSI:",
                                 "+FTSI:", "+FCON",  "+FPTS:", "+FHNG:", "+FK",    true};
constexpr ServiceDialect kClass20{"2.0",   "+FCC",  "+FIS",  "+FLI",  "+FCS:", "+FIS:", "+FCI:",
                                  "+FTI:", "+FCO",  "+FPS:", "+FHS:", "+FKS",  false};

constexpr char kDle = 0x10;
constexpr char kEtx = 0x03;
constexpr char kXon = 0x11;
constexpr char kDc2 = 0x12;
constexpr char kCan = 0x18;
constexpr std::size_t kReadChunk = 256;
constexpr std::size_t kMaxCommandLine = 256;
constexpr int kBlocksPerSecond = 1000 / kBlockMs;
// Post-page messages as +FET numbers them.
constexpr int kMps = 0;
constexpr int kEop = 2;
// Bit rates of the T.32 BR values 0 to 5.
constexpr int kBitRates[] = {2400, 4800, 7200, 9600, 12000, 14400};
// Highest value of each session parameter this modem offers.
constexpr int kMaxParams[8] = {1, 5, 2, 2, 0, 0, 0, 7};
// The settings at power-on: fine rows, 14400 bit/s, A4, unlimited length, 1-D.
constexpr int kDefaultParams[8] = {1, 5, 0, 2, 0, 0, 0, 0};
constexpr const char* kCapabilityRanges = "(0,1),(0-5),(0-2),(0-2),0,0,0,(0-7)";
// The code a far end that drops the line during a page leaves (T.32: "unspecified
// receiving phase C error"), unless --hangup-code gives one.
constexpr const char* kDropCode = "70";
constexpr const char* kNormalEnd = "00";
// The hang-up code reported after the program aborts a call (T.32: "unspecified
// transmitting phase D error").
constexpr const char* kAbortCode = "50";
constexpr int kNormalRowsPerMetre = 3850;
constexpr int kFineRowsPerMetre = 7700;

std::uint8_t Reversed(std::uint8_t b) {
  b = static_cast<std::uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<std::uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<std::uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

std::string Upper(std::string_view text) {
  std::string out;
  bool quoted = false;
  for (const char c : text) {
    if (c == '"') quoted = !quoted;
    out += quoted ? c : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return out;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

}  // namespace

std::unique_ptr<ServiceClassModem> ServiceClassModem::Create(int number, const Options& options,
                                                             const std::string& link,
                                                             ModemListener& listener,
                                                             std::string& error) {
  auto port = PtyPort::Open(link, error);
  if (!port) return nullptr;
  return std::make_unique<ServiceClassModem>(number, std::move(*port), options, listener);
}

ServiceClassModem::ServiceClassModem(int number, PtyPort port, const Options& options,
                                     ModemListener& listener)
    : m_number(number), m_port(std::move(port)), m_options(options), m_listener(listener) {
  Reset();
}

void ServiceClassModem::Reset() {
  m_dialect = nullptr;  // class 0 until AT+FCLASS= selects a fax class
  m_mode = Mode::kCommand;
  m_line.clear();
  m_echo = true;
  m_s7 = 60;
  m_bitOrder = 0;
  std::copy(std::begin(kDefaultParams), std::end(kDefaultParams), std::begin(m_params));
  m_localId.clear();
  m_inCall = false;
}

void ServiceClassModem::Transmit(std::span<std::int16_t> out) {
  std::fill(out.begin(), out.end(), std::int16_t{0});
}

std::size_t ServiceClassModem::BytesPerBlock() const {
  const int rate = kBitRates[std::clamp(m_params[1], 0, 5)];
  return static_cast<std::size_t>(rate / 8 / kBlocksPerSecond);
}

void ServiceClassModem::Reply(std::string_view text) {
  Out("\r\n" + std::string(text) + "\r\n");
}

void ServiceClassModem::Out(std::string_view text) {
  if (m_options.verbose)
    std::fprintf(stderr, "modem %d> %.*s\n", m_number, static_cast<int>(text.size()), text.data());
  m_port.Write(text);
}

void ServiceClassModem::Final(bool ok) { Reply(ok ? "OK" : "ERROR"); }

void ServiceClassModem::ServicePort() {
  const bool wasOpen = m_port.slaveOpen();
  if (!m_port.PollSlaveOpen()) {
    if (wasOpen) {
      // Closing the port drops DTR: the modem goes on hook and resets.
      if (m_inCall || m_mode == Mode::kDialling) m_listener.OnHangup(*this);
      Reset();
    }
    return;
  }
  m_port.Flush();
  if (m_mode == Mode::kDelivering) {
    DeliverPageData();
    return;
  }
  const std::size_t limit = m_mode == Mode::kSending ? BytesPerBlock() : kReadChunk;
  char buffer[kReadChunk];
  const std::size_t n = m_port.Read(buffer, std::min(limit, sizeof buffer));
  for (std::size_t i = 0; i < n; ++i) {
    if (m_mode == Mode::kSending) {
      TakePageData(&buffer[i], 1);
    } else if (m_mode == Mode::kWaitDc2) {
      if (buffer[i] == kDc2 || buffer[i] == kXon) m_mode = Mode::kDelivering;
    } else {
      Feed(buffer[i]);
    }
  }
}

void ServiceClassModem::Feed(char c) {
  if (m_mode == Mode::kDialling || m_mode == Mode::kAnswering) {
    // Any character typed while a call is being set up abandons it.
    m_listener.OnHangup(*this);
    m_mode = Mode::kCommand;
    Reply("NO CARRIER");
    return;
  }
  if (m_echo) m_port.Write(std::string_view(&c, 1));
  if (c == '\r') {
    const std::string line = std::exchange(m_line, {});
    RunLine(line);
    return;
  }
  if (c == '\n') return;
  if (c == '\b' || c == 0x7f) {
    if (!m_line.empty()) m_line.pop_back();
    return;
  }
  if (m_line.size() < kMaxCommandLine) m_line += c;
}

void ServiceClassModem::RunLine(std::string_view line) {
  const auto at = Upper(line).find("AT");
  if (at == std::string::npos) return;
  if (m_options.verbose)
    std::fprintf(stderr, "modem %d< %.*s\n", m_number, static_cast<int>(line.size()), line.data());
  std::string info;
  for (const auto& command : SplitCommandLine(line.substr(at + 2))) {
    bool final = false;
    const bool ok = RunCommand(command, info, final);
    if (final) {
      if (!info.empty()) Out(info);
      return;  // the command gave its own result, now or later
    }
    if (!ok) {
      if (!info.empty()) Out(info);
      Final(false);
      return;
    }
  }
  if (!info.empty()) Out(info);
  Final(true);
}

bool ServiceClassModem::SetClass(std::string_view value) {
  const bool two = m_options.modemClass == "2" || m_options.modemClass == "auto";
  const bool twoZero = m_options.modemClass == "2.0" || m_options.modemClass == "auto";
  if (value == "0") {
    m_dialect = nullptr;
  } else if (value == "2" && two) {
    m_dialect = &kClass2;
  } else if (value == "2.0" && twoZero) {
    m_dialect = &kClass20;
  } else {
    return false;
  }
  return true;
}

std::string ServiceClassModem::CapabilityText() const {
  std::string text;
  for (int i = 0; i < 8; ++i) text += (i ? "," : "") + std::to_string(m_params[i]);
  return text;
}

// The session after DIS/DCS: the program's settings limited by what the far end offers.
std::string ServiceClassModem::SessionText() const { return CapabilityText(); }

std::string ServiceClassModem::FarDisText() const {
  const bool fine = !m_options.vr0Only && !m_options.farRefuseFine;
  return std::string(fine ? "1" : "0") + ",5,0,2,0,0,0,0";
}

bool ServiceClassModem::SetCapabilities(std::string_view value) {
  if (m_options.fccError) return false;
  int params[8];
  std::copy(std::begin(m_params), std::end(m_params), std::begin(params));
  int field = 0;
  std::string_view rest = value;
  while (field < 8) {
    const auto comma = rest.find(',');
    const auto part = rest.substr(0, comma);
    if (!part.empty()) {
      int v = 0;
      auto [ptr, ec] = std::from_chars(part.data(), part.data() + part.size(), v);
      if (ec != std::errc() || ptr != part.data() + part.size() || v < 0 || v > kMaxParams[field])
        return false;
      params[field] = v;
    }
    ++field;
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  std::copy(std::begin(params), std::end(params), std::begin(m_params));
  return true;
}

bool ServiceClassModem::RunCommand(std::string_view raw, std::string& info, bool& final) {
  const std::string command = Upper(raw);
  auto line = [&](std::string_view text) { info += "\r\n" + std::string(text) + "\r\n"; };
  if (command.empty()) return true;
  const char c = command[0];
  if (c == 'D') {
    if (m_dialect == nullptr && m_options.modemClass != "auto") return false;
    m_mode = Mode::kDialling;
    m_calling = true;
    final = true;
    std::string number = command.substr(1);
    if (!number.empty() && (number[0] == 'T' || number[0] == 'P')) number.erase(0, 1);
    m_listener.OnDial(*this, number);
    return true;
  }
  if (c == 'A' && command.size() == 1) {
    m_mode = Mode::kAnswering;
    m_calling = false;
    final = true;
    m_listener.OnAnswer(*this);
    return true;
  }
  if (c == 'H') {
    if (m_inCall) m_listener.OnHangup(*this);
    m_inCall = false;
    return true;
  }
  if (c == 'Z' || command == "&F") {
    const bool echo = m_echo;
    Reset();
    m_echo = c == 'Z' ? true : echo;
    return true;
  }
  if (c == 'E') {
    m_echo = command != "E0";
    return true;
  }
  if (c == 'S') {
    if (StartsWith(command, "S7=")) {
      int v = 0;
      auto [p, ec] = std::from_chars(command.data() + 3, command.data() + command.size(), v);
      if (ec == std::errc() && v > 0 && v <= 255) m_s7 = v;
    }
    return true;
  }
  if (c == 'I') {
    line("VEXO LINESIM SERVICE CLASS MODEM");
    return true;
  }
  if (c != '+') return true;  // other basic commands (V1, Q0, X4, &C1, ...) change nothing here

  if (command == "+FCLASS=?") {
    line(m_options.modemClass == "auto" ? "0,1,2,2.0"
                                        : "0," + m_options.modemClass);
    return true;
  }
  if (command == "+FCLASS?") {
    line(m_dialect ? std::string(m_dialect->fclass) : "0");
    return true;
  }
  if (StartsWith(command, "+FCLASS=")) return SetClass(command.substr(8));
  if (m_dialect == nullptr) return false;
  const ServiceDialect& d = *m_dialect;
  const std::string cap(d.capability), ses(d.session), lid(d.localId);

  if (command == cap + "=?" || command == ses + "=?") {
    line(kCapabilityRanges);
    return true;
  }
  if (command == cap + "?" || command == ses + "?") {
    line(CapabilityText());
    return true;
  }
  if (StartsWith(command, cap + "=")) return SetCapabilities(command.substr(cap.size() + 1));
  if (StartsWith(command, ses + "=")) return SetCapabilities(command.substr(ses.size() + 1));
  if (StartsWith(command, lid + "=")) {
    std::string id(raw.substr(lid.size() + 1));
    if (id.size() >= 2 && id.front() == '"' && id.back() == '"') id = id.substr(1, id.size() - 2);
    if (id.size() > 20) return false;
    m_localId = id;
    return true;
  }
  if (command == lid + "?") {
    line(Quoted(m_localId));
    return true;
  }
  if (StartsWith(command, "+FBO=")) {
    const std::string v = command.substr(5);
    if (v.size() != 1 || v[0] < '0' || v[0] > '3' || d.classTwo) return false;
    m_bitOrder = v[0] - '0';
    return true;
  }
  if (command == "+FDT") {
    if (!m_inCall || !m_calling) return false;
    final = true;
    StartSendPage(info);
    return true;
  }
  if (command == "+FDR") {
    if (!m_inCall || m_calling) return false;
    final = true;
    StartReceivePage(info);
    return true;
  }
  if (StartsWith(command, "+FET=") && d.classTwo) {
    if (!m_inCall || m_lastPpm < 0) return false;
    const std::string v = command.substr(5);
    if (v.size() != 1 || v[0] < '0' || v[0] > '2') return false;
    final = true;
    PostPage(v[0] - '0', info);
    return true;
  }
  if (command == std::string(d.abort)) {
    if (m_inCall) {
      info += "\r\n" + std::string(d.hangup) + kAbortCode + "\r\n";
      HangUpCall();
    }
    return true;
  }
  // Settings that change nothing on this line: flow control, reporting,
  // receive enable, quality checks, manufacturer queries.
  constexpr std::string_view kAccepted[] = {"+FLO", "+FNR", "+FCR", "+FCQ", "+FIP", "+FMI",
                                            "+FMM", "+FMR", "+FMFR", "+FMDL", "+FREV", "+FAA",
                                            "+FBOR", "+FPHCTO", "+FCT", "+FTBC", "+FRBC", "+FBUG",
                                            "+FAP", "+FIE", "+FPP", "+FSP", "+FLP", "+FBU", "+FPS",
                                            "+FPTS", "+FCIG", "+FPI", "+FSPL", "+FLPL", "+FAR"};
  for (const auto word : kAccepted) {
    if (StartsWith(command, word)) {
      const char next = command.size() > word.size() ? command[word.size()] : '\0';
      if (next == '=' || next == '?' || next == '\0') {
        if (next == '?' && StartsWith(command, "+FM")) line("VEXO");
        return true;
      }
    }
  }
  return false;
}

bool ServiceClassModem::FarHangsUpBefore(int page) const {
  return !m_options.hangupCode.empty() && m_options.hangupPage == page;
}

void ServiceClassModem::Connected() {
  if (m_mode != Mode::kDialling || m_dialect == nullptr) return;
  const ServiceDialect& d = *m_dialect;
  m_inCall = true;
  m_mode = Mode::kCommand;
  m_page = 0;
  m_lastPpm = -1;
  m_result = FarResult{};
  m_result.remoteIdent = m_localId;
  std::string text = "\r\n" + std::string(d.connected) + "\r\n";
  if (FarHangsUpBefore(1)) {
    Out(text);
    FarHangsUp(m_options.hangupCode, "OK");
    return;
  }
  text += "\r\n" + std::string(d.calledId) + Quoted(m_options.farId) + "\r\n";
  text += "\r\n" + std::string(d.remoteDis) + FarDisText() + "\r\n";
  Out(text);
  // The far end's DIS limits the session: no fine rows when it offers none.
  if (m_options.vr0Only || m_options.farRefuseFine) m_params[0] = 0;
  const int y = m_params[0] == 1 ? kFineRowsPerMetre : kNormalRowsPerMetre;
  m_result.bitRate = kBitRates[m_params[1]];
  m_result.yResolution = y;
  m_rtnGiven = false;
  std::string error;
  const std::string file = ReceiveFile();
  m_result.receivedFile = file;
  if (!m_far.BeginReceive(file, y, error)) std::fprintf(stderr, "vexo-linesim: %s\n", error.c_str());
  Final(true);
}

std::string ServiceClassModem::ReceiveFile() const {
  namespace fs = std::filesystem;
  if (m_options.farReceiveDir.empty()) {
    return (fs::temp_directory_path() /
            ("vexo-linesim-" + std::to_string(::getpid()) + "-m" + std::to_string(m_number) + ".tif"))
        .string();
  }
  std::error_code ec;
  fs::create_directories(m_options.farReceiveDir, ec);
  for (int n = 1;; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "fax-%03d.tif", n);
    const fs::path path = fs::path(m_options.farReceiveDir) / name;
    if (!fs::exists(path, ec)) return path.string();
  }
}

void ServiceClassModem::StartSendPage(std::string& info) {
  const ServiceDialect& d = *m_dialect;
  if (FarHangsUpBefore(m_page + 1)) {
    Out(info);
    info.clear();
    FarHangsUp(m_options.hangupCode, "ERROR");
    return;
  }
  info += "\r\n" + std::string(d.sessionRep) + SessionText() + "\r\n";
  info += "\r\nCONNECT\r\n";
  if (d.classTwo && !m_options.noXon) info += std::string(1, kXon);
  m_mode = Mode::kSending;
  m_dle = false;
  m_pageBytes = 0;
}

void ServiceClassModem::TakePageData(const char* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    const char c = data[i];
    if (m_dle) {
      m_dle = false;
      if (c == kDle) {
        // a stuffed DLE: one data byte
      } else if (c == kEtx || c == ',' || c == ';' || c == '.') {
        EndSentPage(c);
        return;
      } else if (c == kCan) {
        // The program abandons the page and the call.
        m_mode = Mode::kCommand;
        Final(true);
        return;
      } else {
        continue;  // other DLE pairs carry no page data
      }
    } else if (c == kDle) {
      m_dle = true;
      continue;
    }
    std::uint8_t byte = static_cast<std::uint8_t>(c);
    if (!m_dialect->classTwo && (m_bitOrder & 1)) byte = Reversed(byte);
    ++m_pageBytes;
    m_far.PageData(&byte, 1);
  }
}

void ServiceClassModem::EndSentPage(char end) {
  m_mode = Mode::kCommand;
  ++m_page;
  if (m_dialect->classTwo) {
    // Class 2: the page end is known only from AT+FET.
    m_lastPpm = 0;
    Final(true);
    return;
  }
  const int ppm = end == ',' ? kMps : end == ';' ? 1 : kEop;
  std::string info;
  PostPage(ppm, info);
}

void ServiceClassModem::PostPage(int ppm, std::string& info) {
  const ServiceDialect& d = *m_dialect;
  m_lastPpm = -1;
  if (m_options.dropDuringPage == m_page) {
    m_far.EndPage();
    Out(info);
    info.clear();
    FarHangsUp(m_options.hangupCode.empty() ? kDropCode : m_options.hangupCode, "ERROR");
    return;
  }
  PageVerdict verdict = m_far.EndPage();
  if (m_options.verbose)
    std::fprintf(stderr, "modem %d: page %d of %zu bytes: %d rows, %d bad, %s\n", m_number, m_page,
                 m_pageBytes, verdict.rows, verdict.badRows, verdict.accepted ? "MCF" : "RTN");
  if (m_options.rtnPage == m_page && !m_rtnGiven) {
    verdict.accepted = false;
    m_rtnGiven = true;
  }
  if (!verdict.accepted) {
    --m_page;  // the page is sent again
  }
  const std::string status = verdict.accepted ? "1" : "2";
  info += "\r\n" + std::string(d.pageStatus) + status + "," + std::to_string(verdict.rows) +
          ",0,0,0\r\n";
  if (verdict.accepted) m_result.pages = m_page;
  if (verdict.accepted && ppm == kEop) {
    info += "\r\n" + std::string(d.hangup) + (d.classTwo ? "0" : kNormalEnd) + "\r\n";
    Out(info);
    info.clear();
    Final(true);
    m_result.finished = true;
    m_result.completionCode = T30_ERR_OK;
    m_result.completionText = "OK";
    HangUpCall();
    return;
  }
  Out(info);
  info.clear();
  Final(true);
}

void ServiceClassModem::FarHangsUp(const std::string& code, std::string_view final) {
  const ServiceDialect& d = *m_dialect;
  Reply(std::string(d.hangup) + code);
  Reply(final);
  m_result.finished = true;
  m_result.completionCode = T30_ERR_CALLDROPPED;
  m_result.completionText = "far end hung up with code " + code;
  HangUpCall();
}

void ServiceClassModem::HangUpCall() {
  m_far.Finish();
  m_mode = Mode::kCommand;
  if (m_inCall) m_listener.OnHangup(*this);
  m_inCall = false;
}

void ServiceClassModem::Answered() {
  if (m_mode != Mode::kAnswering || m_dialect == nullptr) return;
  const ServiceDialect& d = *m_dialect;
  m_inCall = true;
  m_mode = Mode::kCommand;
  m_page = 0;
  m_result = FarResult{};
  m_result.remoteIdent = m_localId;
  std::string error;
  if (!m_far.LoadCallIn(m_options.callIn, error)) {
    std::fprintf(stderr, "vexo-linesim: %s\n", error.c_str());
    FarHangsUp("20", "OK");
    return;
  }
  m_params[0] = m_far.callInFine() && m_params[0] >= 1 ? 1 : 0;
  m_result.bitRate = kBitRates[m_params[1]];
  m_result.yResolution = m_params[0] == 1 ? kFineRowsPerMetre : kNormalRowsPerMetre;
  std::string text = "\r\n" + std::string(d.connected) + "\r\n";
  if (FarHangsUpBefore(1)) {
    Out(text);
    FarHangsUp(m_options.hangupCode, "OK");
    return;
  }
  text += "\r\n" + std::string(d.callerId) + Quoted(m_options.farId) + "\r\n";
  text += "\r\n" + std::string(d.sessionRep) + SessionText() + "\r\n";
  Out(text);
  Final(true);
}

void ServiceClassModem::StartReceivePage(std::string& info) {
  const ServiceDialect& d = *m_dialect;
  const auto& pages = m_far.callInPages();
  if (static_cast<std::size_t>(m_page) >= pages.size()) {
    info += "\r\n" + std::string(d.hangup) + (d.classTwo ? "0" : kNormalEnd) + "\r\n";
    Out(info);
    info.clear();
    Final(true);
    m_result.finished = true;
    m_result.completionCode = T30_ERR_OK;
    m_result.completionText = "OK";
    HangUpCall();
    return;
  }
  if (FarHangsUpBefore(m_page + 1)) {
    Out(info);
    info.clear();
    FarHangsUp(m_options.hangupCode, "ERROR");
    return;
  }
  info += "\r\n" + std::string(d.sessionRep) + SessionText() + "\r\n";
  info += "\r\nCONNECT\r\n";
  m_mode = Mode::kWaitDc2;
  m_delivered = 0;
  // Page data goes out DLE-stuffed in the order the program expects it.
  m_outgoing.clear();
  for (const char c : pages[static_cast<std::size_t>(m_page)]) {
    auto byte = static_cast<std::uint8_t>(c);
    if (d.classTwo || (m_bitOrder & 1)) byte = Reversed(byte);
    m_outgoing += static_cast<char>(byte);
    if (static_cast<char>(byte) == kDle) m_outgoing += kDle;
  }
  m_outgoing += kDle;
  m_outgoing += kEtx;
}

void ServiceClassModem::DeliverPageData() {
  const std::size_t n = std::min(BytesPerBlock(), m_outgoing.size() - m_delivered);
  m_port.Write(std::string_view(m_outgoing).substr(m_delivered, n));
  m_delivered += n;
  if (m_delivered < m_outgoing.size()) return;
  const ServiceDialect& d = *m_dialect;
  m_mode = Mode::kCommand;
  const auto& pages = m_far.callInPages();
  ++m_page;
  m_result.pages = m_page;
  const bool last = static_cast<std::size_t>(m_page) >= pages.size();
  std::string text = "\r\n" + std::string(d.pageStatus) + "1,0,0,0,0\r\n";
  text += "\r\n+FET:" + std::string(last ? "2" : "0") + "\r\n";
  Out(text);
  Final(true);
}

void ServiceClassModem::Ring() {
  if (m_port.slaveOpen()) Reply("RING");
}

void ServiceClassModem::Busy() {
  m_mode = Mode::kCommand;
  Reply("BUSY");
}

void ServiceClassModem::NoDialtone() {
  m_mode = Mode::kCommand;
  Reply("NO DIALTONE");
}

void ServiceClassModem::NoAnswer() {
  m_mode = Mode::kCommand;
  Reply("NO ANSWER");
}

}  // namespace vexo::linesim
