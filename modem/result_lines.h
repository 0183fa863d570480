// Result-line scanning: the bytes a modem sends split into the upper-cased
// lines the fax code reads, and the test whether a batch of bytes ends in a
// complete final result line.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace vexo {

// Control bytes (below 31) and DEL end a line.
constexpr bool IsLineEnd(unsigned char c) { return c < 31 || c == 127; }

// Whether text begins with prefix (upper case), letters of text compared without case.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// Splits size bytes of buffer into lines in place: line ends, blanks and tabs
// before a line are skipped, letters are upper-cased, each line end (or the
// byte after the data, which must exist) becomes a NUL. Cell broadcasts
// ("+CBM:" and the line after it) and, with skipRingInfo, "+CRG:" lines are
// passed over. At most lines.size() lines are stored; returns their number.
int ScanResultLines(char* buffer, std::size_t size, std::span<char*> lines, bool skipRingInfo);

// Whether the bytes end with a line end that closes a final result line.
bool EndsInFinalLine(std::string_view bytes);

}  // namespace vexo
