// Coded Group 3 test pages for the protocol tests: rows of one-dimensional
// codes (alternating all-white and all-black rows), each behind an EOL, closed
// by an RTC; and fax TIFF files of such pages written with TiffOper.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vexo::test {

// rows coded rows, most significant bit first; rtcEols EOLs close the page,
// tailBits ("0" and "1") follow them.
std::vector<std::uint8_t> CodeRows(int rows, int rtcEols = 6, std::string_view tailBits = {});

// The bytes as a modem takes them: each bit-reversed, DLE doubled.
std::vector<std::uint8_t> ModemBytes(const std::vector<std::uint8_t>& msbFirst);

// Writes a fax TIFF of pages with the given row counts; false on failure.
bool WriteFaxFile(const std::string& path, const std::vector<int>& pageRows, bool fine);

}  // namespace vexo::test
