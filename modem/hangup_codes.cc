#include "modem/hangup_codes.h"

#include <string>

#include "base/error_pool.h"
#include "platform/text.h"

namespace vexo {
namespace {

constexpr const char* kModule = "FaxCommFunc";
constexpr const char* kFunction = "ReportHangupCodeError";
constexpr const char* kDcnReason = "Hangup (DCN) frame received.";
constexpr std::size_t kCodeTextChars = 15;
constexpr std::size_t kReasonChars = 127;

static_assert(kHangupCodes.size() == 47);

// The Class 2.0 column is the Class 2 column's digits read as hexadecimal, with
// 100 to 103 written A0 to A3: checked here so that the two columns never drift.
constexpr std::uint16_t DigitsAsHex(std::uint16_t decimal) {
  if (decimal >= 100) return static_cast<std::uint16_t>(0xA0 + (decimal - 100));
  return static_cast<std::uint16_t>((decimal / 10) * 16 + decimal % 10);
}
constexpr bool ColumnsAgree() {
  for (const HangupCode& row : kHangupCodes)
    if (row.class20 != DigitsAsHex(row.class2)) return false;
  return true;
}
static_assert(ColumnsAgree());

// The value of a digit in the class's base, or -1 when the character does not
// qualify.
int DigitValue(char c, bool hex) {
  if (c >= '0' && c <= '9') return c - '0';
  if (!hex) return -1;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int ReportDcn(std::string_view line) {
  const std::string raw(line);
  return ReportErrorA(0, kMsgDefault, kModule, kFunction,
                      "Modem Hangup, Reason = %s, RawData = %s.", kDcnReason, raw.c_str());
}

}  // namespace

const HangupCode* FindHangupCode(std::uint16_t code, int faxClass) {
  for (const HangupCode& row : kHangupCodes)
    if ((faxClass == kHangupClass20 ? row.class20 : row.class2) == code) return &row;
  return nullptr;
}

int ReportHangupCodeError(std::string_view line, int faxClass) {
  const bool hex = faxClass == kHangupClass20;
  const std::size_t colon = line.find(':');
  std::string_view value = colon == std::string_view::npos ? line : line.substr(colon + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  if (value.empty() || DigitValue(value.front(), hex) < 0) return ReportDcn(line);

  std::uint16_t code = 0;
  for (char c : value) {
    const int digit = DigitValue(c, hex);
    if (digit < 0) break;
    code = static_cast<std::uint16_t>(code * (hex ? 16 : 10) + digit);
  }
  if (code == 0) return 0;

  if (const HangupCode* row = FindHangupCode(code, faxClass))
    return ReportError(0, kMsgDefault, kModule, kFunction, "Modem Hangup, Reason = %s",
                       row->message);

  const std::string codeText = Format(kCodeTextChars, hex ? "%X" : "%d", code);
  const std::string reason = Format(kReasonChars, "Unspecified hangup code: %s.", codeText.c_str());
  return ReportError(0, kMsgDefault, kModule, kFunction, "Modem Hangup, Reason = %s, RawData = %s.",
                     reason.c_str(), codeText.c_str());
}

}  // namespace vexo
