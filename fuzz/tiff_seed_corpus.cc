// Writes the seed corpus of the TIFF read fuzz target into a directory: fax
// files as TiffOper writes them (fine, normal, least significant bit first,
// Group 4, a page that ends in a return to control), so that fuzzing starts
// from files the read side accepts.
#include <cstdio>
#include <string>
#include <vector>

#include "document/tiff_oper.h"

namespace {

constexpr std::uint32_t kRowBytes = 1728 / 8;

std::vector<std::uint8_t> Bitmap(std::uint32_t rows, unsigned seed) {
  std::vector<std::uint8_t> bitmap(rows * kRowBytes, 0);
  for (std::uint32_t r = 0; r < rows; ++r)
    for (std::uint32_t i = 0; i < 1 + (r + seed) % 9; ++i)
      bitmap[r * kRowBytes + (r * 29 + seed * 7 + i) % kRowBytes] = 0xF0;
  return bitmap;
}

struct Page {
  std::uint32_t rows;
  std::uint32_t flags;
  bool rtc;
};

bool WriteSeed(const std::string& file, const std::vector<Page>& pages) {
  vexo::TiffOper oper;
  if (oper.OpenWriteTiff(file, vexo::CreateMode::Replace) != 1) return false;
  unsigned seed = 0;
  for (const Page& page : pages) {
    vexo::StripCoding coding;
    if (page.flags & vexo::PAGE_G4) coding.compression = COMPRESSION_CCITTFAX4;
    if (page.flags & vexo::PAGE_LSB_FIRST) coding.fillOrder = FILLORDER_LSB2MSB;
    const auto bitmap = Bitmap(page.rows, ++seed);
    auto coded = vexo::EncodeFaxRows(coding, bitmap.data(), bitmap.size());
    if (!coded) return false;
    if (page.rtc)
      coded->insert(coded->end(), {0x00, 0x10, 0x01, 0x00, 0x10, 0x01, 0x00, 0x10, 0x01});
    if (oper.SetPageTags(1728, 1, page.flags) != 1 ||
        oper.WriteFaxData(coded->data(), coded->size()) != 1 || oper.EndPage(page.rows) != 1)
      return false;
  }
  return oper.CloseWriteTiff() == 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  using namespace vexo;
  const bool ok = WriteSeed(dir + "fine_normal.tif", {{40, PAGE_FINE, false}, {20, 0, false}}) &&
                  WriteSeed(dir + "lsb_first.tif", {{30, PAGE_FINE | PAGE_LSB_FIRST, true}}) &&
                  WriteSeed(dir + "group4.tif", {{16, PAGE_G4 | PAGE_FINE, false}}) &&
                  WriteSeed(dir + "three_pages.tif",
                            {{8, PAGE_FINE, true}, {8, 0, true}, {8, PAGE_FINE, false}});
  return ok ? 0 : 1;
}
