#include "tests/document/tiff_test_pages.h"

#include <tiffio.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace vexo::test {

std::vector<std::uint8_t> PatternPage(std::uint32_t rows, unsigned seed) {
  std::vector<std::uint8_t> bitmap(rows * kTestRowBytes, 0);
  for (std::uint32_t r = 0; r < rows; ++r) {
    std::uint8_t* row = bitmap.data() + r * kTestRowBytes;
    // A black run whose place and length change with the row, and a few dots.
    const std::size_t start = (r * 37 + seed * 101) % (kTestRowBytes - 20);
    const std::size_t length = 1 + (r + seed) % 17;
    for (std::size_t i = 0; i < length; ++i) row[start + i] = 0xFF;
    row[(r * 13 + seed) % kTestRowBytes] |= static_cast<std::uint8_t>(0x81 >> (r % 4));
  }
  return bitmap;
}

void WriteWithLibTiff(const std::filesystem::path& file, const std::vector<LibTiffPage>& pages,
                      bool bigEndian) {
  TIFF* t = TIFFOpen(file.c_str(), bigEndian ? "wb" : "wl");
  if (t == nullptr) throw std::runtime_error("TIFFOpen failed");
  std::uint16_t index = 0;
  for (const LibTiffPage& page : pages) {
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, page.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, page.rows);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, page.bitsPerSample);
    TIFFSetField(t, TIFFTAG_COMPRESSION, page.compression);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_FILLORDER, page.fillOrder);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, page.rowsPerStrip ? page.rowsPerStrip : page.rows);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 209.0f);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, page.yResolution);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, page.resolutionUnit);
    if (page.compression == COMPRESSION_CCITTFAX3) TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(t, TIFFTAG_PAGENUMBER, index, static_cast<std::uint16_t>(pages.size()));
    if (!page.software.empty()) TIFFSetField(t, TIFFTAG_SOFTWARE, page.software.c_str());
    const std::size_t rowBytes = (page.width * page.bitsPerSample + 7) / 8;
    const std::uint32_t perStrip = page.rowsPerStrip ? page.rowsPerStrip : page.rows;
    for (std::uint32_t strip = 0; strip * perStrip < page.rows; ++strip) {
      const std::uint32_t rows = std::min(perStrip, page.rows - strip * perStrip);
      TIFFWriteEncodedStrip(t, strip,
                            const_cast<std::uint8_t*>(page.bitmap.data()) +
                                static_cast<std::size_t>(strip) * perStrip * rowBytes,
                            static_cast<tmsize_t>(rows * rowBytes));
    }
    TIFFWriteDirectory(t);
    ++index;
  }
  TIFFClose(t);
}

std::vector<std::uint8_t> DecodeWithLibTiff(const std::filesystem::path& file, int directory) {
  TIFF* t = TIFFOpen(file.c_str(), "r");
  if (t == nullptr) return {};
  std::vector<std::uint8_t> bitmap;
  std::uint32_t rows = 0;
  if (TIFFSetDirectory(t, static_cast<tdir_t>(directory)) == 1 &&
      TIFFGetField(t, TIFFTAG_IMAGELENGTH, &rows) == 1) {
    bitmap.resize(static_cast<std::size_t>(rows) * kTestRowBytes);
    if (TIFFReadEncodedStrip(t, 0, bitmap.data(), static_cast<tmsize_t>(bitmap.size())) !=
        static_cast<tmsize_t>(bitmap.size()))
      bitmap.clear();
  }
  TIFFClose(t);
  return bitmap;
}

std::vector<std::uint8_t> RawStripWithLibTiff(const std::filesystem::path& file, int directory) {
  TIFF* t = TIFFOpen(file.c_str(), "r");
  if (t == nullptr) return {};
  std::vector<std::uint8_t> raw;
  if (TIFFSetDirectory(t, static_cast<tdir_t>(directory)) == 1) {
    raw.resize(TIFFGetStrileByteCount(t, 0));
    if (TIFFReadRawStrip(t, 0, raw.data(), static_cast<tmsize_t>(raw.size())) !=
        static_cast<tmsize_t>(raw.size()))
      raw.clear();
  }
  TIFFClose(t);
  return raw;
}

std::vector<std::uint8_t> DecodeG3Strip(const std::filesystem::path& scratch,
                                        const std::vector<std::uint8_t>& coded, std::uint32_t rows,
                                        std::uint16_t fillOrder) {
  TIFF* t = TIFFOpen(scratch.c_str(), "w");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kTestWidth);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, rows);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_FILLORDER, fillOrder);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rows);
  TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, 0);
  TIFFWriteRawStrip(t, 0, const_cast<std::uint8_t*>(coded.data()),
                    static_cast<tmsize_t>(coded.size()));
  TIFFClose(t);
  return DecodeWithLibTiff(scratch, 0);
}

std::vector<std::uint8_t> EvenRows(const std::vector<std::uint8_t>& bitmap) {
  std::vector<std::uint8_t> out;
  const std::size_t rows = bitmap.size() / kTestRowBytes;
  for (std::size_t r = 0; r < rows; r += 2)
    out.insert(out.end(), bitmap.begin() + static_cast<std::ptrdiff_t>(r * kTestRowBytes),
               bitmap.begin() + static_cast<std::ptrdiff_t>((r + 1) * kTestRowBytes));
  return out;
}

namespace {

struct Bytes {
  std::vector<std::uint8_t> data;
  bool big = false;
  std::uint32_t U16(std::size_t at) const {
    if (at + 2 > data.size()) throw std::out_of_range("u16");
    return big ? (data[at] << 8 | data[at + 1]) : (data[at] | data[at + 1] << 8);
  }
  std::uint32_t U32(std::size_t at) const {
    if (at + 4 > data.size()) throw std::out_of_range("u32");
    return big ? (U16(at) << 16 | U16(at + 2)) : (U16(at) | U16(at + 2) << 16);
  }
};

}  // namespace

DumpEntry DumpTag(const std::filesystem::path& file, int directory, std::uint16_t tag) {
  std::ifstream in(file, std::ios::binary);
  Bytes b;
  b.data.assign(std::istreambuf_iterator<char>(in), {});
  b.big = b.data.size() > 1 && b.data[0] == 'M';
  std::uint32_t dir = b.U32(4);
  for (int i = 0; i < directory; ++i) dir = b.U32(dir + 2 + 12 * b.U16(dir));
  DumpEntry out;
  const std::uint32_t n = b.U16(dir);
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::size_t at = dir + 2 + 12 * i;
    if (b.U16(at) != tag) continue;
    out.found = true;
    out.type = static_cast<std::uint16_t>(b.U16(at + 2));
    out.count = b.U32(at + 4);
    out.value = out.type == TIFF_SHORT ? b.U16(at + 8) : b.U32(at + 8);
    out.value2 = out.type == TIFF_SHORT ? b.U16(at + 10) : 0;
    if (out.type == TIFF_RATIONAL) out.rational = {b.U32(out.value), b.U32(out.value + 4)};
  }
  return out;
}

std::vector<ErrorRecord> TakePool() {
  std::vector<ErrorRecord> records;
  ErrorRecord record;
  while (ErrorPool::Instance().TakeOldest(record) > 0) records.push_back(record);
  return records;
}

bool PoolHas(const std::vector<ErrorRecord>& records, const std::string& text) {
  for (const auto& r : records)
    if (r.message.find(text) != std::string::npos) return true;
  return false;
}

}  // namespace vexo::test
