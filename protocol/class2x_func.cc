#include "protocol/class2x_func.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "base/code_page.h"
#include "base/error_pool.h"
#include "base/job_control.h"
#include "base/log_file.h"
#include "modem/win_com_ce.h"
#include "protocol/class2x_internal.h"

namespace vexo {
namespace {

constexpr std::array<std::uint32_t, 6> kBitRates{2400, 4800, 7200, 9600, 12000, 14400};
constexpr std::array<std::uint32_t, 5> kPageWidths{1728, 2048, 2432, 1216, 864};
constexpr std::array<std::uint32_t, 8> kScanNormal{0, 5, 10, 10, 20, 20, 40, 40};
constexpr std::array<std::uint32_t, 8> kScanFine{0, 5, 5, 10, 10, 20, 20, 40};

}  // namespace

using namespace class2x;

// ---- parameter helpers ----

std::uint8_t DfOfCoding(FaxCoding coding) {
  switch (coding) {
    case FaxCoding::kMr:
      return kDfMr;
    case FaxCoding::kMmr:
      return kDfMmr;
    default:
      return kDfMh;
  }
}

FaxCoding CodingOfDf(std::uint8_t df) {
  if (df == kDfMr || df == kDfMr + 1) return FaxCoding::kMr;
  if (df == kDfMmr) return FaxCoding::kMmr;
  return FaxCoding::kMh;
}

std::uint32_t OfferedValues(std::string_view capabilities, std::size_t field) {
  constexpr int kLargest = 31;
  std::uint32_t mask = 0;
  std::size_t index = 0;
  bool inside = false;
  int value = -1;
  int from = -1;  // the start of a range "from-value"
  const auto take = [&]() {
    for (int v = from >= 0 ? from : value; value >= 0 && v <= std::min(value, kLargest); ++v)
      mask |= 1u << v;
    value = -1;
    from = -1;
  };
  for (const char c : capabilities) {
    if (c >= '0' && c <= '9') {
      if (index == field) value = std::min(std::max(value, 0) * 10 + (c - '0'), kLargest + 1);
    } else if (c == '-') {
      if (index == field && value >= 0) {
        from = value;
        value = -1;
      }
    } else if (c == '(' || c == ')') {
      inside = c == '(';
    } else if (c == ',') {
      if (index == field) take();
      if (!inside) ++index;
    }
  }
  if (index == field) take();
  return mask;
}

std::string FormatSessionParams(const SessionParams& p) {
  char text[64];
  std::snprintf(text, sizeof text, "%x,%d,%d,%d,%d,%d,%x,%d", p[kVR], p[kBR], p[kWD], p[kLN],
                p[kDF], p[kEC], p[kBF], p[kST]);
  return text;
}

std::uint8_t PageLengthParam(std::uint32_t offeredLn, bool longPage) {
  if (!longPage) return kLnA4;
  for (const std::uint8_t ln : {kLnUnlimited, kLnB4})
    if ((offeredLn >> ln & 1u) != 0) return ln;
  return kLnA4;
}

std::uint32_t BitRateOf(std::uint8_t br) {
  return kBitRates[std::min<std::size_t>(br, kBitRates.size() - 1)];
}

std::uint32_t ScanTimeOf(std::uint8_t st, std::uint8_t vr) {
  const auto& column = vr == 0 ? kScanNormal : kScanFine;
  return column[std::min<std::size_t>(st, column.size() - 1)];
}

std::uint32_t PageWidthOf(std::uint8_t wd, const char* module, const char* function) {
  if (wd < kPageWidths.size()) return kPageWidths[wd];
  ReportError(0, kMsgLogOnly, module, function,
              "Page width parameter %d is not known; the page is taken as 1728 pixels wide.", wd);
  return kPageWidths[0];
}

std::string LocalIdField(std::string_view localIdUtf8) {
  std::string id = WideToMultiLossy(localIdUtf8);
  if (id.size() >= kRemoteIdChars) return id.substr(0, kRemoteIdChars);
  return std::string(kRemoteIdChars - id.size(), ' ') + id;
}

std::string RemoteIdOf(const char* line) {
  char value[kQuotedValueChars + 1];
  FaxCommFunc::GetQuotedValue(line, value);
  return MultiToWideLossy(value);
}

int CapabilityLine(std::span<const std::string> kept) {
  for (std::size_t i = kept.size(); i-- > 0;)
    if (kept[i].find_first_of("0123456789(),") != std::string::npos) return static_cast<int>(i);
  return -1;
}

// ---- the object ----

Class2xFunc::Class2xFunc(const Class2Dialect& dialect) : m_dialect(dialect) {
  if (!dialect.class20) {
    m_timeouts.postPageFirst = 30000;
    m_timeouts.answerFurther = 10000;
  }
}

Class2xFunc::~Class2xFunc() = default;

void Class2xFunc::SetHeaderParties(std::string sender, std::string recipient) {
  m_sender = std::move(sender);
  m_recipient = std::move(recipient);
}

bool Class2xFunc::Cancelled() const { return m_job != nullptr && m_job->IsCancelled(0) == 1; }

void Class2xFunc::ShowStatus(unsigned id) {
  if (m_job) m_job->SetStatusString(id);
}

void Class2xFunc::Debug(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (m_systemLog)
    m_systemLog->WriteLine(nullptr, 0, text);
  else
    DebugOutput(std::string(text) + "\n");
}

bool Class2xFunc::SetTimeouts(const COMMTIMEOUTS& timeouts) {
  return m_port->SetComPortTimeouts(timeouts, true) == 1;
}

// MatchOKResult reports an ERROR answer or the timeout itself.
bool Class2xFunc::CommandOk(const char* format, const char* argument) {
  if (!m_port->WriteCommandF(format, argument, 0)) return false;
  return MatchOKResult(m_timeouts.command, true) == 1;
}

bool Class2xFunc::QueryCapabilities(const char* function) {
  const char* module = m_dialect.module;
  if (!m_port->WriteCommand(m_dialect.capabilityQuery, 0)) return false;
  std::array<char*, kResultLinesMax> lines{};
  const int count = m_port->ReadResultA(nullptr, kReadBufferBytes, lines, m_timeouts.command, true);
  if (count < 0) return false;
  if (count == 0) {
    ReportError(0, kMsgDefault, module, function, "%s", kTimeoutText);
    return false;
  }
  std::vector<std::string> kept;
  bool okSeen = false;
  for (int i = 0; i < count; ++i) {
    if (StartsWith(lines[i], m_errorText)) {
      ReportError(0, kMsgDefault, module, function, "%s", kErrorText);
      return false;
    }
    if (Has(lines[i], m_okText)) {
      okSeen = true;
      break;
    }
    kept.emplace_back(lines[i]);
  }
  const int at = CapabilityLine(kept);
  if (at < 0) {
    ReportError(0, kMsgDefault, module, function, "%s", m_dialect.unknownCapability);
    return false;
  }
  SessionParams offered{};
  ParseFaxParams(kept[at].c_str(), offered.data(), nullptr);
  m_offeredDf = OfferedValues(kept[at], kDF);
  m_offeredEc = OfferedValues(kept[at], kEC);
  m_offeredLn = OfferedValues(kept[at], kLN);
  m_params[kBR] = offered[kBR];
  // The longest recording length the modem offers: what a receive announces.
  // A send asks for the length its pages need (PageLengthParam).
  m_params[kLN] = offered[kLN];
  m_params[kST] = offered[kST];
  m_params[kVR] = offered[kVR];  // the receive side of Class 2 keeps it
  if (!okSeen && MatchOKResult(m_timeouts.command, true) != 1) return false;
  return true;
}

void Class2xFunc::ChooseCoding() {
  const auto offered = [](std::uint32_t mask, std::uint8_t value) {
    return value != 0 && (mask >> value & 1u) != 0;
  };
  std::uint8_t ec = 0;
  if (m_ecmAllowed && offered(m_offeredEc, m_dialect.ecm256))
    ec = m_dialect.ecm256;
  else if (m_ecmAllowed && offered(m_offeredEc, m_dialect.ecm64))
    ec = m_dialect.ecm64;
  FaxCoding coding = FaxCoding::kMh;
  // T.6 pages travel only with error correction.
  if (m_highestCoding == FaxCoding::kMmr && ec != 0 && offered(m_offeredDf, kDfMmr))
    coding = FaxCoding::kMmr;
  else if (m_highestCoding != FaxCoding::kMh && offered(m_offeredDf, kDfMr))
    coding = FaxCoding::kMr;
  m_params[kEC] = ec;
  m_params[kDF] = DfOfCoding(coding);
  NoteLink();
}

// A parameter report: what the far end and the modem settled.
void Class2xFunc::ApplyReport(const char* line) {
  ParseFaxParams(line, m_params.data(), nullptr);
  NoteLink();
  // Shown when it changes, not again for every page.
  const std::string text = LinkCodingText(m_link);
  if (text == m_linkShown) return;
  m_linkShown = text;
  ShowStatusF(kStrLinkCoding, text.c_str());
}

void Class2xFunc::NoteLink() {
  const std::uint8_t ec = m_params[kEC];
  const bool ecm = ec != 0 && (ec == m_dialect.ecm256 || ec == m_dialect.ecm64);
  m_link = LinkCoding{ecm, CodingOfDf(m_params[kDF]), ecm && ec == m_dialect.ecm64 ? 64u : 256u};
}

bool Class2xFunc::WritePageBytes(const std::uint8_t* bytes, std::size_t count) {
  if (m_pacing) PaceData(0, static_cast<std::uint32_t>(count));
  std::uint32_t written = 0;
  return m_port->WriteComDataSYN(Channel::Data, bytes, static_cast<std::uint32_t>(count), &written,
                                 kTransferAll) == 1 &&
         written == count;
}

}  // namespace vexo
