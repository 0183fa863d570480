#include "document/line_breaks.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <cstdint>
#include <memory>

namespace vexo {
namespace {

constexpr char32_t kMaxCodePoint = 0x10FFFF;
constexpr char32_t kReplacement = 0xFFFD;

bool IsCodePoint(char32_t ch) { return ch <= kMaxCodePoint && (ch < 0xD800 || ch > 0xDFFF); }

}  // namespace

std::vector<std::size_t> LineBreakOpportunities(std::u32string_view text) {
  std::vector<std::size_t> breaks;
  if (text.empty()) return breaks;
  // ICU works on UTF-16: charAt maps each unit offset back to its character.
  icu::UnicodeString units;
  std::vector<std::size_t> charAt;
  for (std::size_t i = 0; i < text.size(); ++i) {
    units.append(static_cast<UChar32>(IsCodePoint(text[i]) ? text[i] : kReplacement));
    charAt.resize(static_cast<std::size_t>(units.length()), i);
  }
  charAt.push_back(text.size());
  UErrorCode status = U_ZERO_ERROR;
  const std::unique_ptr<icu::BreakIterator> it(
      icu::BreakIterator::createLineInstance(icu::Locale::getRoot(), status));
  // Without ICU's rules the text has no break opportunity but its end.
  if (U_FAILURE(status) || !it) return {text.size()};
  it->setText(units);
  for (std::int32_t at = it->next(); at != icu::BreakIterator::DONE; at = it->next())
    breaks.push_back(charAt[static_cast<std::size_t>(at)]);
  return breaks;
}

std::size_t WrappedLineEnd(std::u32string_view text, std::size_t fitting) {
  std::size_t end = 0;
  for (const std::size_t at : LineBreakOpportunities(text)) {
    if (at > fitting) break;
    end = at;
  }
  return end > 0 ? end : fitting;
}

}  // namespace vexo
