#include "modem/fax_comm_func.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cstring>
#include <string_view>

#include "base/code_page.h"
#include "base/error_pool.h"
#include "modem/byte_tables.h"
#include "modem/hangup_codes.h"
#include "modem/win_com_ce.h"
#include "platform/text.h"

namespace vexo {
namespace {

constexpr const char* kModule = "FaxCommFunc";
constexpr const char* kRing = ResultWord(FinalResult::Ring);
constexpr std::uint32_t kHangupDelayMs = 20;
constexpr const char* kHangupCommands[] = {"AT", "ATH0", "AT+FCLASS=0", "ATZ"};

using Clock = std::chrono::steady_clock;

std::int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// What is left of a wait that began at start; 0 when it is over.
std::uint32_t Remaining(std::uint32_t timeoutMs, Clock::time_point start) {
  const std::int64_t left = std::int64_t{timeoutMs} - MsSince(start);
  return left > 0 ? static_cast<std::uint32_t>(left) : 0;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Where the value of a result line starts: after the first ":" (or at the
// line start), blanks skipped.
const char* ValueStart(const char* line) {
  const char* colon = std::strchr(line, ':');
  const char* p = colon ? colon + 1 : line;
  while (IsBlank(*p)) ++p;
  return p;
}

template <typename Char>
int MatchToken(const Char* text, std::size_t length, const Char* token, std::size_t tokenLength,
               bool reportCut) {
  std::size_t matched = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] == token[matched]) {
      ++matched;
    } else if (matched != 0) {
      matched = text[i] == token[0] ? 1 : 0;
    }
    if (matched == tokenLength) return static_cast<int>(i + 1 - tokenLength);
  }
  return (reportCut && matched > 0) ? -2 : -1;
}

}  // namespace

std::uint32_t TickCountMs() {
  const auto now =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch());
  return static_cast<std::uint32_t>(now.count());
}

void FaxCommFunc::Attach(WinCOMCE* port) {
  m_port = port;
  m_log = port ? port->Log() : nullptr;
  m_job = port ? port->Job() : nullptr;
}

int FaxCommFunc::MatchOKResult(std::uint32_t timeoutMs, bool report) {
  if (m_port == nullptr) return 0;
  std::array<char*, kResultLinesMax> lines{};
  const auto start = Clock::now();
  std::uint32_t left = timeoutMs;
  for (;;) {
    const int count = m_port->ReadResultA(nullptr, kReadBufferBytes, lines, left, report);
    if (count < 0) return 0;
    // Echoes, intermediate and unsolicited lines decide nothing and are passed over.
    for (int i = 0; i < count; ++i) {
      if (FindToken(lines[i], m_okText) == 0) return 1;
      if (FindToken(lines[i], m_errorText) == 0) {
        if (report)
          ReportError(0, kMsgDefault, kModule, "MatchOKResult", "Modem return ERROR result.");
        return 0;
      }
    }
    left = count == 0 ? 0 : Remaining(timeoutMs, start);
    if (left == 0) {
      if (report)
        ReportError(0, kMsgDefault, kModule, "MatchOKResult", "Wait modem OK response timeout.");
      return -1;
    }
  }
}

int FaxCommFunc::WaitRings(std::uint32_t timeoutMs, int minRings, bool report) {
  if (m_port == nullptr) return -1;
  std::array<char*, kResultLinesMax> lines{};
  const auto start = Clock::now();
  std::uint32_t left = timeoutMs;
  int rings = 0;
  for (;;) {
    const int count = m_port->ReadResultA(nullptr, kReadBufferBytes, lines, left, report);
    if (count < 0) return -1;
    for (int i = 0; i < count; ++i)
      if (FindToken(lines[i], kRing) == 0) ++rings;
    left = Remaining(timeoutMs, start);
    if (rings >= minRings || count == 0 || left == 0) return rings;
  }
}

int FaxCommFunc::HangupModem() {
  if (m_port == nullptr || !m_port->IsPortOpen()) return 1;
  std::uint32_t errors = 0;
  m_port->ClearCommError(&errors);
  m_port->ClearCommBreak();
  m_port->Delay(kHangupDelayMs);
  for (const char* command : kHangupCommands) {
    if (!m_port->WriteCommand(command, kQuiet)) return 0;
    MatchOKResult(kWaitOkMs, false);
  }
  return 1;
}

int FaxCommFunc::FindToken(const char* text, const char* token) {
  if (text == nullptr || token == nullptr || *text == 0 || *token == 0) return -1;
  return MatchToken(text, std::strlen(text), token, std::strlen(token), true);
}

int FaxCommFunc::FindBytes(const std::uint8_t* buffer, std::size_t length,
                           const std::uint8_t* pattern, std::size_t patternLength) {
  if (buffer == nullptr || pattern == nullptr) return -1;
  if (patternLength == 0) patternLength = std::strlen(reinterpret_cast<const char*>(pattern));
  if (length == 0 || patternLength == 0) return -1;
  return MatchToken(buffer, length, pattern, patternLength, false);
}

int FaxCommFunc::ParseFaxParams(const char* line, std::uint8_t fields[kFaxParamFields],
                                const char* requiredToken) {
  if (line == nullptr || fields == nullptr) return 0;
  if (requiredToken && *requiredToken && FindToken(line, requiredToken) < 0) return 0;
  std::fill(fields, fields + kFaxParamFields, 0);
  std::size_t field = 0;
  bool inside = false;
  bool lastLocked = false;
  int found = 0;
  for (const char* p = line; *p; ++p) {
    const char c = *p;
    if (c >= '0' && c <= '9') {
      found = 1;
      if (field < kFaxParamFields && !(field == kFaxParamFields - 1 && lastLocked)) {
        fields[field] = static_cast<std::uint8_t>(c - '0');
        if (field == kFaxParamFields - 1) lastLocked = true;
      }
    } else if (c == '(') {
      inside = true;
      found = 1;
    } else if (c == ')') {
      inside = false;
      found = 1;
    } else if (c == ',') {
      if (!inside) ++field;
      found = 1;
    }
  }
  return found;
}

void FaxCommFunc::GetQuotedValue(const char* line, char value[kQuotedValueChars + 1]) {
  if (value == nullptr) return;
  value[0] = 0;
  if (line == nullptr) return;
  const char* p = ValueStart(line);
  const bool quoted = *p == '"';
  if (quoted) {
    ++p;
    while (IsBlank(*p)) ++p;
  }
  std::size_t n = 0;
  while (n < kQuotedValueChars && *p) {
    const auto c = static_cast<unsigned char>(*p);
    if ((quoted && c == '"') || c < 31 || c == 127) break;
    value[n++] = static_cast<char>(c);
    ++p;
  }
  while (n > 0 && value[n - 1] == ' ') --n;
  value[n] = 0;
}

void FaxCommFunc::GetQuotedValueW(const char* line, char16_t value[kQuotedValueWChars]) {
  if (value == nullptr) return;
  char narrow[kQuotedValueChars + 1];
  GetQuotedValue(line, narrow);
  const std::u16string wide = Utf8ToUtf16(MultiToWideLossy(narrow));
  const std::size_t n = std::min(wide.size(), kQuotedValueWChars - 1);
  std::copy_n(wide.begin(), n, value);
  value[n] = 0;
}

long FaxCommFunc::ParseNumberAfterColon(const char* line, bool hexadecimal) {
  if (line == nullptr) return -1;
  const char* p = ValueStart(line);
  if (*p == 0) return -1;
  long value = 0;
  bool any = false;
  for (; *p; ++p) {
    const char c = *p;
    int digit = -1;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (hexadecimal && c >= 'a' && c <= 'z')
      digit = c - 'a' + 10;
    else if (hexadecimal && c >= 'A' && c <= 'Z')
      digit = c - 'A' + 10;
    if (digit < 0) break;
    any = true;
    const long base = hexadecimal ? 16 : 10;
    // A number too long for the result stays at the largest value.
    value = value > (LONG_MAX - digit) / base ? LONG_MAX : value * base + digit;
  }
  return any ? value : -1;
}

int FaxCommFunc::SplitFirstLine(LineSplit& s) {
  s.rest = nullptr;
  s.restLength = 0;
  s.line = nullptr;
  s.lineLength = 0;
  if (s.buffer == nullptr) return 0;
  std::size_t i = 0;
  while (i < s.length && (s.buffer[i] == '\r' || s.buffer[i] == '\n')) ++i;
  if (i == s.length) return 0;
  const std::size_t start = i;
  while (i < s.length && s.buffer[i] != '\r') ++i;
  s.line = s.buffer + start;
  s.lineLength = i - start;
  while (i < s.length && (s.buffer[i] == '\r' || s.buffer[i] == '\n')) ++i;
  if (i < s.length) {
    s.rest = s.buffer + i;
    s.restLength = s.length - i;
  }
  return 1;
}

void FaxCommFunc::ReverseBytes(std::uint8_t* buffer, std::size_t length) {
  if (buffer) std::reverse(buffer, buffer + length);
}

void FaxCommFunc::ReverseBits(std::uint8_t* buffer, std::size_t length) {
  if (buffer == nullptr) return;
  for (std::size_t i = 0; i < length; ++i) buffer[i] = kBitReverse[buffer[i]];
}

void FaxCommFunc::StartPacing(std::uint32_t bytesPerSecond) {
  m_pacingRate = bytesPerSecond;
  m_lastChunkLength = 0;
  m_lastChunkTime = 0;
}

int FaxCommFunc::PaceData(std::uint32_t slackMs, std::uint32_t length) {
  if (m_lastChunkLength != 0 && m_pacingRate != 0) {
    const std::uint64_t due =
        std::uint64_t{m_lastChunkLength} * 1000 / m_pacingRate;  // ms the last chunk takes
    // Busy-wait on the tick count so chunks follow without a scheduler delay.
    while (static_cast<std::uint32_t>(TickCountMs() + slackMs - m_lastChunkTime) < due) {
    }
  }
  m_lastChunkLength = length;
  m_lastChunkTime = TickCountMs();
  return 1;
}

int FaxCommFunc::ReportHangupCodeError(const char* line, int faxClass) {
  return line ? vexo::ReportHangupCodeError(line, faxClass) : 0;
}

}  // namespace vexo
