// libFuzzer target for the decoding of received page data in the three
// codings: the first byte chooses MH, MR or MMR and normal or fine, the rest
// is the coded page as the line delivered it. Decoding must neither crash nor
// loop; a page it returns holds whole rows, and its bad rows are counted
// within them. A decoded page is coded again and must read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "base/error_pool.h"
#include "document/fax_coding.h"

namespace {

constexpr std::uint32_t kWidth = 1728;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const auto coding = static_cast<vexo::FaxCoding>(data[0] % 3);
  const bool fine = (data[0] & 0x80) != 0;
  const auto page = vexo::DecodeFaxPage(std::span(data + 1, size - 1), coding, kWidth, fine);
  if (page) {
    const vexo::FaxBitmap& bitmap = page->bitmap;
    if (bitmap.rows == 0 || bitmap.bits.size() != bitmap.rows * bitmap.Stride()) std::abort();
    if (page->badRows >= bitmap.rows || page->longestBadRun > page->badRows) std::abort();
    const auto coded = vexo::EncodeFaxPage(bitmap, coding, fine, true);
    const auto again = vexo::DecodeFaxPage(coded, coding, kWidth, fine);
    if (!again || again->badRows != 0 || !again->complete || again->bitmap.bits != bitmap.bits)
      std::abort();
  }
  vexo::ErrorPool::Instance().Clear();
  return 0;
}
