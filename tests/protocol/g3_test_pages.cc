#include "tests/protocol/g3_test_pages.h"

#include <string>
#include <string_view>

#include "document/tiff_oper.h"
#include "modem/byte_tables.h"

namespace vexo::test {
namespace {

constexpr std::string_view kEol = "000000000001";
// White 1728 (make-up and terminating codes); a row starts with white, so a
// black row is a white run of 0, then black 1728.
constexpr std::string_view kWhiteRow =
    "010011011"
    "00110101";
constexpr std::string_view kBlackRow =
    "00110101"
    "0000001100101"
    "0000110111";

}  // namespace

std::vector<std::uint8_t> CodeRows(int rows, int rtcEols, std::string_view tailBits) {
  std::string bits;
  for (int r = 0; r < rows; ++r) {
    bits += kEol;
    bits += r % 2 == 0 ? kWhiteRow : kBlackRow;
  }
  for (int i = 0; i < rtcEols; ++i) bits += kEol;
  bits += tailBits;
  std::vector<std::uint8_t> out((bits.size() + 7) / 8);
  for (std::size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '1') out[i / 8] |= static_cast<std::uint8_t>(0x80u >> (i % 8));
  return out;
}

std::vector<std::uint8_t> ModemBytes(const std::vector<std::uint8_t>& msbFirst) {
  std::vector<std::uint8_t> out;
  for (std::uint8_t b : msbFirst) {
    const std::uint8_t r = kBitReverse[b];
    out.push_back(r);
    if (r == 0x10) out.push_back(r);
  }
  return out;
}

bool WriteFaxFile(const std::string& path, const std::vector<int>& pageRows, bool fine) {
  TiffOper tiff;
  if (tiff.OpenWriteTiff(path, CreateMode::Replace) != 1) return false;
  for (int rows : pageRows) {
    const auto data = CodeRows(rows);
    if (tiff.SetPageTags(1728, 1, fine ? PAGE_FINE : 0) != 1 ||
        tiff.WriteFaxData(data.data(), data.size()) != 1 ||
        tiff.EndPage(static_cast<std::uint32_t>(rows)) != 1)
      return false;
  }
  return tiff.CloseWriteTiff() == 1;
}

}  // namespace vexo::test
