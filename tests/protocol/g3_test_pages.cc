#include "tests/protocol/g3_test_pages.h"

#include <string_view>

#include "document/tiff_oper.h"
#include "modem/byte_tables.h"

namespace vexo::test {
namespace {

constexpr std::string_view kEol = "000000000001";
constexpr std::string_view kWhite1728 = "010011011";  // make-up code
constexpr std::string_view kWhite0 = "00110101";      // terminating code
constexpr std::string_view kBlack1728 = "0000001100101";
constexpr std::string_view kBlack0 = "0000110111";

class BitWriter {
 public:
  void Put(std::string_view bits) {
    for (char c : bits) {
      m_byte = static_cast<std::uint8_t>((m_byte << 1) | (c == '1' ? 1 : 0));
      if (++m_bits == 8) {
        m_out.push_back(m_byte);
        m_byte = 0;
        m_bits = 0;
      }
    }
  }
  std::vector<std::uint8_t> Take() {
    if (m_bits) m_out.push_back(static_cast<std::uint8_t>(m_byte << (8 - m_bits)));
    return std::move(m_out);
  }

 private:
  std::vector<std::uint8_t> m_out;
  std::uint8_t m_byte = 0;
  int m_bits = 0;
};

}  // namespace

std::vector<std::uint8_t> CodeRows(int rows, int rtcEols, std::string_view tailBits) {
  BitWriter w;
  for (int r = 0; r < rows; ++r) {
    w.Put(kEol);
    if (r % 2 == 0) {
      w.Put(kWhite1728);
      w.Put(kWhite0);
    } else {
      // A row starts with white: a white run of 0, then 1728 black.
      w.Put(kWhite0);
      w.Put(kBlack1728);
      w.Put(kBlack0);
    }
  }
  for (int i = 0; i < rtcEols; ++i) w.Put(kEol);
  w.Put(tailBits);
  return w.Take();
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
