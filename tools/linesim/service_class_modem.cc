#include "tools/linesim/service_class_modem.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <utility>

#include <unistd.h>

#include "tools/linesim/command_filter.h"

namespace vexo::linesim {
namespace {

constexpr ServiceDialect kClass2{
    "2",      "+FDCC", "+FDIS",  "+FLID",  "+FDCS:", "+FDIS:", "+FCSI:",
    "+FTSI:", "+FCON", "+FPTS:", "+FHNG:", "+FK",    true};
constexpr ServiceDialect kClass20{"2.0",   "+FCC", "+FIS",  "+FLI",  "+FCS:", "+FIS:", "+FCI:",
                                  "+FTI:", "+FCO", "+FPS:", "+FHS:", "+FKS",  false};

constexpr char kDle = 0x10;
constexpr char kEtx = 0x03;
constexpr char kXon = 0x11;
constexpr char kDc2 = 0x12;
constexpr char kXoff = 0x13;
constexpr char kCan = 0x18;
constexpr std::size_t kReadChunk = 256;
constexpr std::size_t kMaxCommandLine = 256;
constexpr int kBlocksPerSecond = 1000 / kBlockMs;
// The modem's transmit buffer: XOFF when it holds kXoffLevel bytes, XON when
// it is down to kXonLevel; the pty is not read while it is full.
constexpr std::size_t kBufferBytes = 4096;
constexpr std::size_t kXoffLevel = 3072;
constexpr std::size_t kXonLevel = 1024;
// Post-page messages as +FET numbers them.
constexpr int kMps = 0;
constexpr int kEom = 1;
constexpr int kEop = 2;
// Post-page responses as +FPS/+FPTS number them.
constexpr int kMcf = 1;
constexpr int kRtn = 2;
// Bit rates of the BR values 0 to 5.
constexpr int kBitRates[] = {2400, 4800, 7200, 9600, 12000, 14400};
// Highest value of each session parameter this modem offers (EC: Class 2's).
constexpr SessionParams kMaxParams = {1, 5, 2, 2, 3, 2, 0, 7};
// The settings at power-on: fine rows, 14400 bit/s, A4, unlimited length, 1-D.
constexpr SessionParams kDefaultParams = {1, 5, 0, 2, 0, 0, 0, 0};
// Positions of the coding (DF) and error correction (EC) in the parameters.
constexpr std::size_t kDf = 4;
constexpr std::size_t kEc = 5;
// DF: 0 T.4 1-D, 1 T.4 2-D, 2 uncompressed (not offered), 3 T.6.
constexpr int kDfMh = 0;
constexpr int kDfMr = 1;
constexpr int kDfUncompressed = 2;
constexpr int kDfMmr = 3;
// EC: Class 2 numbers 64-octet frames 1 and 256-octet frames 2; Class 2.0
// has one value, 1, for T.30 Annex A (a receiver takes both frame sizes).
constexpr int kEcClass2Max = 2;
constexpr int kEcClass20 = 1;
constexpr const char* kClass2Ranges = "(0,1),(0-5),(0-2),(0-2),(0,1,3),(0-2),0,(0-7)";
constexpr const char* kClass20Ranges = "(0,1),(0-5),(0-2),(0-2),(0,1,3),(0,1),0,(0-7)";
// Hang-up codes, in the hexadecimal numbering of Class 2.0.
constexpr int kNormalEnd = 0x00;
constexpr int kAborted = 0x02;         // +FKS, +FK or CAN
constexpr int kNoCallIn = 0x20;        // the far end had nothing to send
constexpr int kTransmitPhaseC = 0x40;  // the line went during a page sent
constexpr int kReceivePhaseC = 0x90;   // the line went during a page received
constexpr int kNormalRowsPerMetre = 3850;
constexpr int kFineRowsPerMetre = 7700;
// The far end drops the line this far into a page (--drop-during-page).
constexpr int kDropAfterSeconds = 1;

// The far end's DF for its highest coding.
int FarDf(FarCoding coding) {
  switch (coding) {
    case FarCoding::kMr:
      return kDfMr;
    case FarCoding::kMmr:
      return kDfMmr;
    default:
      return kDfMh;
  }
}

// spandsp's encoding for a session's DF.
int Encoding(int df) {
  if (df == kDfMmr) return T4_COMPRESSION_ITU_T6;
  return df == kDfMr ? T4_COMPRESSION_ITU_T4_2D : T4_COMPRESSION_ITU_T4_1D;
}

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

std::string Line(std::string_view text) { return "\r\n" + std::string(text) + "\r\n"; }

// The value of a one-digit command argument, or -1.
int Digit(std::string_view text, int max) {
  if (text.size() != 1 || text[0] < '0' || text[0] > '0' + max) return -1;
  return text[0] - '0';
}

}  // namespace

std::unique_ptr<ServiceClassModem> ServiceClassModem::Create(int number, const Options& options,
                                                             std::shared_ptr<PtyPort> port,
                                                             ModemListener& listener) {
  return std::make_unique<ServiceClassModem>(number, std::move(port), options, listener);
}

ServiceClassModem::ServiceClassModem(int number, std::shared_ptr<PtyPort> port,
                                     const Options& options, ModemListener& listener)
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
  m_params = kDefaultParams;
  m_session = kDefaultParams;
  m_localId.clear();
  m_inCall = false;
  m_classOneWanted = false;
  m_toLine.clear();
  m_toProgram.clear();
  m_xoff = false;
}

std::optional<std::string> ServiceClassModem::TakeClassOneLine() {
  if (!std::exchange(m_classOneWanted, false)) return std::nullopt;
  // The line hears of a call that ended here before the other modem takes over.
  if (std::exchange(m_hangupPending, false)) m_listener.OnHangup(*this);
  return m_running;
}

void ServiceClassModem::Transmit(std::span<std::int16_t> out) {
  std::fill(out.begin(), out.end(), std::int16_t{0});
}

std::size_t ServiceClassModem::BytesPerBlock() const {
  const int rate = kBitRates[std::clamp(m_session[1], 0, 5)];
  return static_cast<std::size_t>(rate / 8 / kBlocksPerSecond);
}

void ServiceClassModem::Reply(std::string_view text) { Out(Line(text)); }

void ServiceClassModem::Out(std::string_view text) {
  if (m_options.verbose) {
    // One trace line per line of the reply, without the CR LF around it.
    std::size_t start = 0;
    while (start < text.size()) {
      auto end = text.find_first_of("\r\n", start);
      if (end == std::string_view::npos) end = text.size();
      if (end > start)
        std::fprintf(stderr, "modem %d > %.*s\n", m_number, static_cast<int>(end - start),
                     text.data() + start);
      start = end + 1;
    }
  }
  m_port->Write(text);
}

void ServiceClassModem::ServicePort() {
  if (std::exchange(m_hangupPending, false)) m_listener.OnHangup(*this);
  const bool wasOpen = m_port->slaveOpen();
  if (!m_port->PollSlaveOpen()) {
    if (wasOpen) {
      // Closing the port drops DTR: the modem goes on hook and resets.
      if (m_inCall || m_mode == Mode::kDialling) m_listener.OnHangup(*this);
      m_far.Finish();
      Reset();
    }
    return;
  }
  m_port->Flush();
  switch (m_mode) {
    case Mode::kSending:
      ServiceSending();
      break;
    case Mode::kDelivering:
      DeliverPageData();
      break;
    default:
      ServiceCommand();
      break;
  }
}

void ServiceClassModem::ServiceCommand() {
  char buffer[kReadChunk];
  const std::size_t n = m_port->Read(buffer, sizeof buffer);
  for (std::size_t i = 0; i < n; ++i) {
    if (m_mode == Mode::kWaitDc2) {
      // DC2 starts the page data (a few programs send XON); CAN gives up.
      if (buffer[i] == kDc2 || buffer[i] == kXon) m_mode = Mode::kDelivering;
      if (buffer[i] == kCan) AbortCall();
    } else if (m_mode == Mode::kDelivering) {
      if (buffer[i] == kCan) {
        m_port->Write(std::string{kDle, kEtx});
        AbortCall();
      }
    } else {
      Feed(buffer[i]);
    }
  }
}

// The program's page data goes into the modem's buffer as fast as it comes,
// and out of it at the line rate; XOFF and XON keep the buffer from overflowing.
void ServiceClassModem::ServiceSending() {
  char buffer[kBufferBytes];
  const std::size_t room = kBufferBytes - std::min(kBufferBytes, m_toLine.size());
  m_toLine.append(buffer, m_port->Read(buffer, room));
  if (!m_xoff && m_toLine.size() >= kXoffLevel) {
    m_xoff = true;
    m_port->Write(std::string_view(&kXoff, 1));
  }
  const std::size_t budget = std::min(BytesPerBlock(), m_toLine.size());
  std::size_t used = 0;
  bool ended = false;
  while (used < budget && !ended) ended = TakePageData(m_toLine[used++]);
  m_toLine.erase(0, used);
  if (m_xoff && (ended || m_toLine.size() <= kXonLevel)) {
    m_xoff = false;
    m_port->Write(std::string_view(&kXon, 1));
  }
  if (ended) {
    // Whatever followed the page end was typed in command mode.
    const std::string rest = std::exchange(m_toLine, {});
    for (const char c : rest) Feed(c);
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
  if (m_mode != Mode::kCommand) return;
  if (m_echo) m_port->Write(std::string_view(&c, 1));
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
    std::fprintf(stderr, "modem %d < %.*s\n", m_number, static_cast<int>(line.size()), line.data());
  RunCommands(line);
}

void ServiceClassModem::RunCommands(std::string_view line) {
  const auto at = Upper(line).find("AT");
  if (at == std::string::npos) return;
  m_running = line.substr(at);
  std::string info;
  for (const auto& command : SplitCommandLine(line.substr(at + 2))) {
    bool final = false;
    const bool ok = RunCommand(command, info, final);
    if (final) return;  // the command gave its own result, now or later
    if (!ok) {
      Out(info);
      Final(false);
      return;
    }
  }
  Out(info);
  Final(true);
}

bool ServiceClassModem::SetClass(std::string_view value) {
  const bool automatic = m_options.modemClass == "auto";
  if (value == "0") {
    m_dialect = nullptr;
  } else if (value == "1" && automatic) {
    m_dialect = nullptr;
    m_classOneWanted = true;
  } else if (value == "2" && (automatic || m_options.modemClass == "2")) {
    m_dialect = &kClass2;
  } else if (value == "2.0" && (automatic || m_options.modemClass == "2.0")) {
    m_dialect = &kClass20;
  } else {
    return false;
  }
  return true;
}

std::string ServiceClassModem::ParamText(const SessionParams& params) {
  std::string text;
  for (std::size_t i = 0; i < params.size(); ++i)
    text += (i ? "," : "") + std::to_string(params[i]);
  return text;
}

// The far end's DIS: normal or fine rows, up to 14400 bit/s, A4 width,
// unlimited length, its coding (1-D unless --far-coding) and ECM (with
// --far-ecm, 256-octet frames), no scan-line time.
SessionParams ServiceClassModem::FarDis() const {
  const bool fine = !m_options.vr0Only && !m_options.farRefuseFine;
  const int df = FarDf(m_options.farCoding.value_or(FarCoding::kMh));
  const int ec = !m_options.farEcm ? 0 : m_dialect->classTwo ? kEcClass2Max : kEcClass20;
  return {fine ? 1 : 0, 5, 0, 2, df, ec, 0, 0};
}

// DCS: the program's settings limited to what the far end offers; T.6 only
// with error correction, else 2-D.
void ServiceClassModem::Negotiate(const SessionParams& far) {
  for (std::size_t i = 0; i + 1 < m_session.size(); ++i)
    m_session[i] = std::min(m_params[i], far[i]);
  m_session[7] = m_params[7];
  if (m_session[kDf] == kDfMmr && m_session[kEc] == 0) m_session[kDf] = kDfMr;
  m_result.ecm = m_session[kEc] != 0;
  m_result.coding = CodingName(Encoding(m_session[kDf]));
}

bool ServiceClassModem::Allowed(std::size_t field, int value) const {
  if (value < 0 || value > kMaxParams[field]) return false;
  if (field == kDf) return value != kDfUncompressed;
  if (field == kEc) return value <= (m_dialect->classTwo ? kEcClass2Max : kEcClass20);
  return true;
}

std::string ServiceClassModem::HangupText(int code) const {
  char text[16];
  if (m_dialect != nullptr && m_dialect->classTwo) {
    // Class 2 numbers the same codes in decimal: 0x52 is 52, 0xA0 is 100.
    std::snprintf(text, sizeof text, "%d", (code >> 4) * 10 + (code & 0x0F));
  } else {
    std::snprintf(text, sizeof text, "%02X", code);
  }
  return std::string(m_dialect != nullptr ? m_dialect->hangup : kClass20.hangup) + text;
}

bool ServiceClassModem::SetCapabilities(std::string_view value) {
  if (m_options.fccError) return false;
  // Up to eight comma-separated values; an empty one keeps its setting.
  SessionParams params = m_params;
  std::string_view rest = value;
  for (std::size_t field = 0;; ++field) {
    if (field == params.size()) return false;  // more than eight values
    const auto comma = rest.find(',');
    const auto part = rest.substr(0, comma);
    if (!part.empty()) {
      int v = 0;
      auto [ptr, ec] = std::from_chars(part.data(), part.data() + part.size(), v);
      if (ec != std::errc() || ptr != part.data() + part.size() || !Allowed(field, v)) return false;
      params[field] = v;
    }
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  m_params = params;
  return true;
}

bool ServiceClassModem::RunCommand(std::string_view raw, std::string& info, bool& final) {
  const std::string command = Upper(raw);
  if (command.empty()) return true;
  const char c = command[0];
  if (c == 'D') {
    if (m_dialect == nullptr) return false;  // a fax call needs a fax class
    m_mode = Mode::kDialling;
    m_calling = true;
    final = true;
    Out(info);
    std::string number = command.substr(1);
    if (!number.empty() && (number[0] == 'T' || number[0] == 'P')) number.erase(0, 1);
    m_listener.OnDial(*this, number);
    return true;
  }
  if (c == 'A' && command.size() == 1) {
    if (m_dialect == nullptr) return false;
    m_mode = Mode::kAnswering;
    m_calling = false;
    final = true;
    Out(info);
    m_listener.OnAnswer(*this);
    return true;
  }
  if (c == 'H') {
    if (m_inCall) HangUpCall();
    return true;
  }
  if (c == 'Z' || command == "&F") {
    const bool echo = m_echo;
    if (m_inCall) HangUpCall();
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
    info += Line("VEXO LINESIM SERVICE CLASS MODEM");
    return true;
  }
  if (c != '+') return true;  // other basic commands (V1, Q0, X4, &C1, ...) change nothing here

  if (command == "+FCLASS=?") {
    info += Line(m_options.modemClass == "auto" ? "0,1,2,2.0" : "0," + m_options.modemClass);
    return true;
  }
  if (command == "+FCLASS?") {
    info += Line(m_dialect ? std::string(m_dialect->fclass) : "0");
    return true;
  }
  if (StartsWith(command, "+FCLASS=")) {
    const bool ok = SetClass(command.substr(8));
    if (m_classOneWanted) final = true;  // the Class 1 modem runs this line and answers it
    return ok;
  }
  if (StartsWith(command, "+CBST")) {
    const std::string_view arg = std::string_view(command).substr(5);
    if (arg == "?") info += Line(kBearerServiceValue);
    if (arg == "=?") info += Line(kBearerServiceRange);
    return arg == "?" || arg == "=?" || arg.empty() ||
           (arg[0] == '=' && BearerServiceValid(arg.substr(1)));
  }
  // Caller line, ring and error reporting settings, taken in every class:
  // nothing on this line reports them.
  for (const std::string_view word : {"+CLIP", "+CRC", "+CMEE", "+COLP"}) {
    const std::string_view arg =
        std::string_view(command).substr(std::min(word.size(), command.size()));
    if (StartsWith(command, word) && (arg.empty() || arg[0] == '=' || arg[0] == '?')) return true;
  }
  if (m_dialect == nullptr) return false;
  return RunFaxCommand(command, raw, info, final);
}

bool ServiceClassModem::RunFaxCommand(const std::string& command, std::string_view raw,
                                      std::string& info, bool& final) {
  const ServiceDialect& d = *m_dialect;
  const std::string cap(d.capability), ses(d.session), lid(d.localId);
  const std::string status(d.pageStatus.substr(0, d.pageStatus.size() - 1));  // +FPS / +FPTS

  if (command == cap + "=?" || command == ses + "=?") {
    info += Line(d.classTwo ? kClass2Ranges : kClass20Ranges);
    return true;
  }
  if (command == cap + "?" || command == ses + "?") {
    info += Line(ParamText(m_params));
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
    info += Line(Quoted(m_localId));
    return true;
  }
  if (StartsWith(command, "+FBO=") && !d.classTwo) {
    const int v = Digit(command.substr(5), 3);
    if (v < 0) return false;
    m_bitOrder = v;
    return true;
  }
  if (command == "+FBO?" && !d.classTwo) {
    info += Line(std::to_string(m_bitOrder));
    return true;
  }
  if (command == "+FDT") {
    if (!m_inCall || !m_calling || m_awaitingFet) return false;
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
  if (StartsWith(command, "+FET=")) {
    const int ppm = Digit(command.substr(5), 2);
    if (!m_inCall || !m_awaitingFet || ppm < 0) return false;
    final = true;
    Out(info);
    PostPage(ppm);
    return true;
  }
  if (StartsWith(command, status + "=")) {
    // The program's verdict on a page received: RTN asks the far end for it again.
    const int ppr = Digit(command.substr(status.size() + 1), 5);
    if (ppr < kMcf) return false;
    // The far end sends a page again once.
    if (m_inCall && !m_calling && ppr == kRtn && m_page > 0 && m_retriedPage != m_page - 1) {
      --m_page;
      m_retriedPage = m_page;
      ++m_result.pagesRefused;
      --m_result.pages;
    }
    return true;
  }
  if (command == std::string(d.abort)) {
    if (m_inCall) {
      final = true;
      Out(info);
      AbortCall();
    }
    return true;
  }
  // Settings that change nothing on this line: flow control, reporting,
  // receive enable, quality checks, manufacturer queries.
  constexpr std::string_view kAccepted[] = {
      "+FLO",   "+FNR",   "+FCR",   "+FCQ",  "+FIP",     "+FMI",     "+FMM",   "+FMR",
      "+FMFR",  "+FMDL",  "+FREV",  "+FAA",  "+FBOR",    "+FPHCTO",  "+FCT",   "+FTBC",
      "+FRBC",  "+FBUG",  "+FAP",   "+FIE",  "+FPP",     "+FSP",     "+FLP",   "+FBU",
      "+FCIG",  "+FPI",   "+FSPL",  "+FLPL", "+FAR",     "+FCTCRTY", "+FRQ",   "+FDFFC",
      "+FVRFC", "+FWDFC", "+FLNFC", "+FECM", "+FBADLIN", "+FBADMUL", "+FMINSP"};
  for (const auto word : kAccepted) {
    if (StartsWith(command, word)) {
      const char next = command.size() > word.size() ? command[word.size()] : '\0';
      if (next == '=' || next == '?' || next == '\0') {
        if (next == '?' && StartsWith(command, "+FM")) info += Line("VEXO");
        return true;
      }
    }
  }
  return false;
}

bool ServiceClassModem::FarHangsUpBefore(int page) const {
  return m_options.hangupCode && m_options.hangupPage == page;
}

void ServiceClassModem::Connected() {
  if (m_mode != Mode::kDialling || m_dialect == nullptr) return;
  const ServiceDialect& d = *m_dialect;
  m_inCall = true;
  m_mode = Mode::kCommand;
  m_page = 0;
  m_awaitingFet = false;
  m_rtnGiven = false;
  m_result = FarResult{};
  m_result.remoteIdent = m_localId;
  Out(Line(d.connected));
  if (FarHangsUpBefore(1)) {
    FarHangsUp(*m_options.hangupCode);
    return;
  }
  const SessionParams far = FarDis();
  Out(Line(std::string(d.calledId) + Quoted(m_options.farId)) +
      Line(std::string(d.remoteDis) + ParamText(far)));
  Negotiate(far);
  const int y = m_session[0] == 1 ? kFineRowsPerMetre : kNormalRowsPerMetre;
  m_result.bitRate = kBitRates[m_session[1]];
  m_result.yResolution = y;
  std::string error;
  m_result.receivedFile = ReceiveFile();
  if (!m_far.BeginReceive(m_result.receivedFile, y, Encoding(m_session[kDf]), error))
    std::fprintf(stderr, "vexo-linesim: %s\n", error.c_str());
  Final(true);
}

std::string ServiceClassModem::ReceiveFile() const {
  namespace fs = std::filesystem;
  if (m_options.farReceiveDir.empty()) {
    return (fs::temp_directory_path() / ("vexo-linesim-" + std::to_string(::getpid()) + "-m" +
                                         std::to_string(m_number) + ".tif"))
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
  Out(info);
  if (FarHangsUpBefore(m_page + 1)) {
    FarHangsUp(*m_options.hangupCode);
    return;
  }
  std::string text = Line(std::string(d.sessionRep) + ParamText(m_session)) + Line("CONNECT");
  // Class 2 programs wait for XON before they send page data.
  if (d.classTwo && !m_options.noXon) text += kXon;
  Out(text);
  m_mode = Mode::kSending;
  m_dle = false;
  m_farGone = false;
  m_pageBytes = 0;
  m_toLine.clear();
  m_xoff = false;
}

// One byte of stuffed page data from the program; true when the page ended.
bool ServiceClassModem::TakePageData(char c) {
  if (m_dle) {
    m_dle = false;
    if (c == kEtx || c == ',' || c == ';' || c == '.') {
      EndSentPage(c);
      return true;
    }
    if (c == kCan) {
      AbortCall();
      return true;
    }
    if (c != kDle) return false;  // other DLE pairs carry no page data
  } else if (c == kDle) {
    m_dle = true;
    return false;
  }
  ++m_pageBytes;
  if (m_options.dropDuringPage == m_page + 1 &&
      m_pageBytes >= BytesPerBlock() * kBlocksPerSecond * kDropAfterSeconds)
    m_farGone = true;
  if (m_farGone) return false;
  auto byte = static_cast<std::uint8_t>(c);
  // Class 2 programs send in line order; Class 2.0 ones as AT+FBO says.
  if (!m_dialect->classTwo && (m_bitOrder & 1)) byte = Reversed(byte);
  m_far.PageData(&byte, 1);
  return false;
}

void ServiceClassModem::EndSentPage(char end) {
  m_mode = Mode::kCommand;
  if (m_options.dropDuringPage == m_page + 1) m_farGone = true;
  if (m_farGone) {
    ++m_page;
    m_far.EndPage();
    FarHangsUp(m_options.hangupCode.value_or(kTransmitPhaseC));
    return;
  }
  if (end == kEtx) {
    // The post-page message comes with AT+FET.
    m_awaitingFet = true;
    Final(true);
    return;
  }
  PostPage(end == ',' ? kMps : end == ';' ? kEom : kEop);
}

void ServiceClassModem::PostPage(int ppm) {
  const ServiceDialect& d = *m_dialect;
  m_awaitingFet = false;
  ++m_page;
  // --rtn-page: the far end refuses that page once, however good it is.
  const bool refuse = m_options.rtnPage == m_page && !m_rtnGiven;
  if (refuse) m_rtnGiven = true;
  const PageVerdict verdict = m_far.EndPage(refuse);
  if (m_options.verbose)
    std::fprintf(stderr, "modem %d: page %d of %zu bytes: %d rows, %d bad, %s\n", m_number, m_page,
                 m_pageBytes, verdict.rows, verdict.badRows, verdict.accepted ? "MCF" : "RTN");
  if (verdict.accepted) {
    ++m_result.pages;
  } else {
    ++m_result.pagesRefused;
  }
  Out(Line(std::string(d.pageStatus) + std::to_string(verdict.accepted ? kMcf : kRtn) + "," +
           std::to_string(verdict.rows) + ",0,0,0"));
  if (verdict.accepted && ppm == kEop) {
    Reply(HangupText(kNormalEnd));
    Final(true);
    FinishCall(true, "OK");
    return;
  }
  Final(true);
}

void ServiceClassModem::AbortCall() {
  Reply(HangupText(kAborted));
  Final(true);
  FinishCall(false, "the program aborted the call");
}

// The hang-up report, then OK: the modem is back in command mode.
void ServiceClassModem::FarHangsUp(int code) {
  Reply(HangupText(code));
  Final(true);
  char text[64];
  std::snprintf(text, sizeof text, "far end hung up with code %02X", code);
  FinishCall(false, text);
}

void ServiceClassModem::FinishCall(bool ok, const std::string& text) {
  m_result.finished = true;
  m_result.completionCode = ok ? T30_ERR_OK : T30_ERR_CALLDROPPED;
  m_result.completionText = text;
  HangUpCall();
}

// The line hears of the hang-up on the next service call, as the call may
// end inside the line's own call (Connected, Answered).
void ServiceClassModem::HangUpCall() {
  m_far.Finish();
  m_mode = Mode::kCommand;
  m_awaitingFet = false;
  if (m_inCall) m_hangupPending = true;
  m_inCall = false;
}

void ServiceClassModem::Answered() {
  if (m_mode != Mode::kAnswering || m_dialect == nullptr) return;
  const ServiceDialect& d = *m_dialect;
  m_inCall = true;
  m_mode = Mode::kCommand;
  m_page = 0;
  m_retriedPage = -1;
  m_result = FarResult{};
  m_result.remoteIdent = m_localId;
  Out(Line(d.connected));
  std::string error;
  if (!m_far.LoadCallIn(m_options.callIn, T4_COMPRESSION_ITU_T4_1D, error)) {
    std::fprintf(stderr, "vexo-linesim: %s\n", error.c_str());
    FarHangsUp(kNoCallIn);
    return;
  }
  if (FarHangsUpBefore(1)) {
    FarHangsUp(*m_options.hangupCode);
    return;
  }
  // The caller's DCS: its page resolution, if the program takes fine rows.
  SessionParams far = FarDis();
  far[0] = m_far.callInFine() ? 1 : 0;
  Negotiate(far);
  // The caller codes its pages as the session says.
  if (m_session[kDf] != kDfMh &&
      !m_far.LoadCallIn(m_options.callIn, Encoding(m_session[kDf]), error))
    std::fprintf(stderr, "vexo-linesim: %s\n", error.c_str());
  m_result.bitRate = kBitRates[m_session[1]];
  m_result.yResolution = m_session[0] == 1 ? kFineRowsPerMetre : kNormalRowsPerMetre;
  Out(Line(std::string(d.callerId) + Quoted(m_options.farId)) +
      Line(std::string(d.sessionRep) + ParamText(m_session)));
  Final(true);
}

void ServiceClassModem::StartReceivePage(std::string& info) {
  const ServiceDialect& d = *m_dialect;
  Out(info);
  const auto& pages = m_far.callInPages();
  if (static_cast<std::size_t>(m_page) >= pages.size()) {
    // After the last page the far end's DCN ends the call.
    Reply(HangupText(kNormalEnd));
    Final(true);
    FinishCall(true, "OK");
    return;
  }
  if (FarHangsUpBefore(m_page + 1)) {
    FarHangsUp(*m_options.hangupCode);
    return;
  }
  Out(Line(std::string(d.sessionRep) + ParamText(m_session)) + Line("CONNECT"));
  m_mode = Mode::kWaitDc2;
  m_delivered = 0;
  // Page data goes out DLE-stuffed in the order the program expects it: Class
  // 2 modems reverse each byte, Class 2.0 ones follow AT+FBO.
  std::string_view data = pages[static_cast<std::size_t>(m_page)].data;
  if (m_options.dropDuringPage == m_page + 1)
    data = data.substr(
        0, std::min(data.size(), BytesPerBlock() * kBlocksPerSecond * kDropAfterSeconds));
  m_toProgram.clear();
  for (const char c : data) {
    auto byte = static_cast<std::uint8_t>(c);
    if (d.classTwo || (m_bitOrder & 1)) byte = Reversed(byte);
    m_toProgram += static_cast<char>(byte);
    if (static_cast<char>(byte) == kDle) m_toProgram += kDle;
  }
  m_toProgram += kDle;
  m_toProgram += kEtx;
}

void ServiceClassModem::DeliverPageData() {
  const std::size_t n = std::min(BytesPerBlock(), m_toProgram.size() - m_delivered);
  m_port->Write(std::string_view(m_toProgram).substr(m_delivered, n));
  m_delivered += n;
  ServiceCommand();  // a CAN from the program stops the page
  if (m_mode == Mode::kDelivering && m_delivered >= m_toProgram.size()) EndDeliveredPage();
}

void ServiceClassModem::EndDeliveredPage() {
  const ServiceDialect& d = *m_dialect;
  m_mode = Mode::kCommand;
  if (m_options.dropDuringPage == m_page + 1) {
    FarHangsUp(m_options.hangupCode.value_or(kReceivePhaseC));
    return;
  }
  const auto& pages = m_far.callInPages();
  const int rows = pages[static_cast<std::size_t>(m_page)].rows;
  ++m_page;
  ++m_result.pages;
  const bool last = static_cast<std::size_t>(m_page) >= pages.size();
  Out(Line(std::string(d.pageStatus) + "1," + std::to_string(rows) + ",0,0,0") +
      Line("+FET:" + std::to_string(last ? kEop : kMps)));
  Final(true);
}

void ServiceClassModem::Ring() {
  if (m_port->slaveOpen()) Reply("RING");
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
