#include "tools/linesim/command_filter.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <type_traits>
#include <utility>

namespace vexo::linesim {
namespace {

constexpr std::size_t kMaxLineLength = 256;
constexpr int kDefaultWaitForAnswerSeconds = 60;
constexpr int kMaxWaitForAnswerSeconds = 255;
constexpr char kBackspace = 0x08;
// CAN aborts a reception in progress (T.31); in command state a modem ignores
// it: no echo, no result, not part of the command line.
constexpr char kCancel = 0x18;

constexpr std::string_view kPhoneMaker = "Vexo Linesim Mobile";
constexpr std::string_view kPhoneModel = "LS-1";
constexpr std::string_view kPhoneCnmi = "+CNMI: 2,1,0,0,0";
constexpr std::string_view kPhoneCnmiRange = "+CNMI: (0-2),(0-3),(0-3),(0-2),(0,1)";

std::string Upper(std::string_view text) {
  std::string out(text);
  for (auto& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

template <typename T>
std::string JoinList(const std::vector<T>& items) {
  std::string out;
  for (const auto& item : items) {
    if (!out.empty()) out += ',';
    if constexpr (std::is_same_v<T, int>) {
      out += std::to_string(item);
    } else {
      out += item;
    }
  }
  return out;
}

// The name of a single command: "+FTM", "&F", "S7", "E", "D".
std::string CommandName(std::string_view command) {
  if (command.empty()) return {};
  const char first = static_cast<char>(std::toupper(static_cast<unsigned char>(command[0])));
  if (first == '+') {
    std::size_t end = 1;
    while (end < command.size() && command[end] != '=' && command[end] != '?') ++end;
    return Upper(command.substr(0, end));
  }
  if (first == 'S') {
    std::size_t end = 1;
    while (end < command.size() && IsDigit(command[end])) ++end;
    return Upper(command.substr(0, end));
  }
  if (std::isalpha(static_cast<unsigned char>(first))) return std::string(1, first);
  return Upper(command.substr(0, std::min<std::size_t>(2, command.size())));
}

bool ParseNumber(std::string_view text, int& value) {
  const auto* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && !text.empty();
}

}  // namespace

bool BearerServiceValid(std::string_view value) {
  constexpr int kMax[] = {134, 7, 3};
  std::size_t field = 0;
  while (true) {
    const auto comma = value.find(',');
    const std::string_view part = value.substr(0, comma);
    int number = 0;
    if (field >= std::size(kMax)) return false;
    if (!part.empty() && (!ParseNumber(part, number) || number < 0 || number > kMax[field]))
      return false;
    ++field;
    if (comma == std::string_view::npos) return true;
    value.remove_prefix(comma + 1);
  }
}

std::vector<std::string> SplitCommandLine(std::string_view body) {
  // Spaces carry no meaning outside quoted strings and dial strings.
  std::vector<std::string> commands;
  std::size_t i = 0;
  auto skipSpaces = [&] {
    while (i < body.size() && body[i] == ' ') ++i;
  };
  while (skipSpaces(), i < body.size()) {
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(body[i])));
    std::string command;
    if (c == 'D') {
      commands.emplace_back(body.substr(i));
      break;
    }
    if (c == '+') {
      // Extended command: runs to the next ';' outside a quoted string.
      bool quoted = false;
      while (i < body.size() && (quoted || body[i] != ';')) {
        if (body[i] == '"') quoted = !quoted;
        if (quoted || body[i] != ' ') command += body[i];
        ++i;
      }
      if (i < body.size()) ++i;  // the ';'
    } else if (c == 'S') {
      // S-register: Sn, Sn?, Sn=v.
      command += body[i++];
      while (i < body.size() && IsDigit(body[i])) command += body[i++];
      if (i < body.size() && body[i] == '?') {
        command += body[i++];
      } else if (i < body.size() && body[i] == '=') {
        command += body[i++];
        skipSpaces();
        while (i < body.size() && IsDigit(body[i])) command += body[i++];
      }
    } else {
      // Basic command, optionally behind a prefix (&, \, %), with digits.
      if (!std::isalpha(static_cast<unsigned char>(c)) && i + 1 < body.size()) command += body[i++];
      command += body[i++];
      while (i < body.size() && IsDigit(body[i])) command += body[i++];
      if (i < body.size() && body[i] == '?') command += body[i++];
    }
    if (!command.empty()) commands.push_back(std::move(command));
  }
  return commands;
}

CommandFilter::CommandFilter(ModemProfile profile, Runner run, Sink out)
    : m_profile(std::move(profile)), m_run(std::move(run)), m_out(std::move(out)) {
  ResetProfileState();
}

void CommandFilter::Reset() {
  m_line.clear();
  m_lastLine.clear();
  m_receiving = false;
  ResetProfileState();
}

void CommandFilter::ResetProfileState() {
  m_echo = true;
  m_verbose = true;
  m_s7 = kDefaultWaitForAnswerSeconds;
  m_fclass = "0";
}

void CommandFilter::Feed(char c) {
  if (c == kCancel) return;
  if (c == '\r') {
    if (m_echo) m_out(std::string_view(&c, 1));
    std::string line = std::exchange(m_line, {});
    RunLine(line);
    return;
  }
  if (c == '\n' && m_line.empty()) return;
  if (m_echo) m_out(std::string_view(&c, 1));
  if (c == kBackspace) {
    if (!m_line.empty()) m_line.pop_back();
    return;
  }
  if (m_line.size() < kMaxLineLength) m_line += c;
  // "A/" repeats the last command line at once, without a carriage return.
  if (m_line.size() == 2 && (m_line[0] == 'A' || m_line[0] == 'a') && m_line[1] == '/') {
    m_line.clear();
    const std::string last = m_lastLine;
    RunLine(last);
  }
}

void CommandFilter::RunLine(std::string_view line) {
  // Anything before "AT" is noise a modem ignores; a line without it gets nothing.
  const std::string upper = Upper(line);
  const auto at = upper.find("AT");
  if (at == std::string::npos) return;
  m_lastLine = line.substr(at);
  if (m_lastLine.size() >= kMaxLineLength) {
    Respond({}, Outcome::kError);
    return;
  }
  m_running = line.substr(at);
  std::string info;
  for (const auto& command : SplitCommandLine(line.substr(at + 2))) {
    const Outcome outcome = RunCommand(command, info);
    if (outcome == Outcome::kHandedOff) return;  // the other modem answers the line
    if (outcome == Outcome::kPending) {
      // The command finishes later (dial, answer, +FTM, ...) and spandsp prints
      // its result itself; commands after it on the line are not run.
      if (!info.empty()) m_out(info);
      return;
    }
    if (outcome == Outcome::kError) {
      Respond(info, Outcome::kError);
      return;
    }
  }
  Respond(info, Outcome::kOk);
}

CommandFilter::Outcome CommandFilter::RunCommand(std::string_view command, std::string& info) {
  const std::string name = CommandName(command);
  const std::string arg = Upper(command.substr(name.size()));
  const bool query = arg == "?";
  const bool range = arg == "=?";
  const std::string value = arg.size() > 1 && arg[0] == '=' ? arg.substr(1) : std::string();
  // In Class 1 the CONNECT of a dial, too, comes with the first frame received
  // (an answer's CONNECT is for sending).
  m_receiving = ((name == "+FRH" || name == "+FRM") && !value.empty() && !range) || name == "D";

  if (name == "E") {
    // Echo is done here, so spandsp's own echo stays off.
    if (arg != "" && arg != "0" && arg != "1") return Outcome::kError;
    m_echo = arg != "0";
    return Outcome::kOk;
  }
  if (name == "V") m_verbose = arg != "0";
  if (name == "Z" || name == "&F") {
    const Outcome outcome = PassToSpandsp(command, info);
    ResetProfileState();
    std::string ignored;
    PassToSpandsp("E0", ignored);
    return outcome;
  }
  if (name == "S7" && !value.empty()) {
    int seconds = 0;
    if (!ParseNumber(value, seconds) || seconds > kMaxWaitForAnswerSeconds) return Outcome::kError;
    m_s7 = seconds;
  }
  if (name == "+FCLASS") {
    if (range) {
      info += InfoText(JoinList(m_profile.fclassList));
      return Outcome::kOk;
    }
    if (!value.empty()) {
      const auto& list = m_profile.fclassList;
      if (std::find(list.begin(), list.end(), value) == list.end()) return Outcome::kError;
      if (m_handOff && m_handOff(value, m_running)) {
        m_fclass = value;
        return Outcome::kHandedOff;
      }
      const Outcome outcome = PassToSpandsp(command, info);
      if (outcome == Outcome::kOk) m_fclass = value;
      return outcome;
    }
  }
  if (name == "+FTM" || name == "+FRM") {
    if (range) {
      info += InfoText(JoinList(m_profile.modulations));
      return Outcome::kOk;
    }
    int code = 0;
    if (!value.empty() && (!ParseNumber(value, code) ||
                           std::find(m_profile.modulations.begin(), m_profile.modulations.end(),
                                     code) == m_profile.modulations.end()))
      return Outcome::kError;
  }
  if (name == "+CGMI" || name == "+CGMM") {
    if (!m_profile.phone) return Outcome::kError;
    info += InfoText(name == "+CGMI" ? kPhoneMaker : kPhoneModel);
    return Outcome::kOk;
  }
  if (name == "+CBST") {
    // Bearer service for data calls: spandsp refuses a connection element of
    // 0 (transparent), which phones and data modems take. Nothing here uses it.
    if (range) info += InfoText(kBearerServiceRange);
    if (query) info += InfoText(kBearerServiceValue);
    return query || range || BearerServiceValid(value) ? Outcome::kOk : Outcome::kError;
  }
  if (name == "+CNMI") {
    if (!m_profile.phone) return Outcome::kError;
    if (query) info += InfoText(kPhoneCnmi);
    if (range) info += InfoText(kPhoneCnmiRange);
    return Outcome::kOk;
  }
  return PassToSpandsp(command, info);
}

CommandFilter::Outcome CommandFilter::PassToSpandsp(std::string_view command, std::string& info) {
  std::string printed = m_run(command);
  // spandsp ends a finished command with its result code: verbose "\r\nOK\r\n",
  // numeric "0\r"; ERROR is "\r\nERROR\r\n" or "4\r". No result code means the
  // command goes on after this call.
  struct Result {
    std::string_view text;
    Outcome outcome;
  };
  constexpr Result kResults[] = {{"\r\nOK\r\n", Outcome::kOk},
                                 {"\r\nERROR\r\n", Outcome::kError},
                                 {"0\r", Outcome::kOk},
                                 {"4\r", Outcome::kError}};
  for (const auto& result : kResults) {
    if (printed.size() >= result.text.size() && printed.ends_with(result.text)) {
      const bool numericAlone =
          result.text.size() == 2 && printed.size() > 2 && printed[printed.size() - 3] != '\n';
      if (numericAlone) continue;
      printed.resize(printed.size() - result.text.size());
      info += printed;
      return result.outcome;
    }
  }
  info += printed;
  return Outcome::kPending;
}

std::string CommandFilter::InfoText(std::string_view text) const {
  std::string out = m_verbose ? "\r\n" : "";
  out += text;
  out += "\r\n";
  return out;
}

void CommandFilter::Respond(const std::string& info, Outcome outcome) {
  std::string out = info;
  const bool ok = outcome == Outcome::kOk;
  if (m_verbose) {
    out += ok ? "\r\nOK\r\n" : "\r\nERROR\r\n";
  } else {
    out += ok ? "0\r" : "4\r";
  }
  m_out(out);
}

}  // namespace vexo::linesim
