// Where a line of text may be broken when it is wrapped, after the Unicode
// line breaking rules (UAX #14, as ICU implements them): behind blanks and
// hyphens, between any two ideographs, never before closing punctuation.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace vexo {

// The offsets (in characters of text) at which a new line may start,
// ascending; the end of the text is the last of them. Empty for empty text.
std::vector<std::size_t> LineBreakOpportunities(std::u32string_view text);

// Where the first line of text ends when only its first `fitting` characters
// fit on it: behind the last break opportunity within them, or at `fitting`
// when there is none (a piece wider than the line is cut where it stops fitting).
std::size_t WrappedLineEnd(std::u32string_view text, std::size_t fitting);

}  // namespace vexo
