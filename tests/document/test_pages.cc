#include "tests/document/test_pages.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "document/tiff_oper.h"
#include "document/txt2tif_paper.h"
#include "platform/raster/canvas.h"

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
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, page.photometric);
    TIFFSetField(t, TIFFTAG_FILLORDER, page.fillOrder);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, page.samplesPerPixel);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, page.rowsPerStrip ? page.rowsPerStrip : page.rows);
    if (page.xResolution > 0) TIFFSetField(t, TIFFTAG_XRESOLUTION, page.xResolution);
    if (page.xResolution > 0) TIFFSetField(t, TIFFTAG_YRESOLUTION, page.yResolution);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, page.resolutionUnit);
    if (page.compression == COMPRESSION_CCITTFAX3) TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(t, TIFFTAG_PAGENUMBER, index, static_cast<std::uint16_t>(pages.size()));
    if (!page.software.empty()) TIFFSetField(t, TIFFTAG_SOFTWARE, page.software.c_str());
    const std::size_t rowBytes = (page.width * page.bitsPerSample * page.samplesPerPixel + 7) / 8;
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

namespace {

// Strip 0 of page `directory` as libtiff reads it: decoded rows or the coded bytes.
std::vector<std::uint8_t> ReadStrip(const std::filesystem::path& file, int directory, bool raw) {
  TIFF* t = TIFFOpen(file.c_str(), "r");
  if (t == nullptr) return {};
  std::vector<std::uint8_t> out;
  std::uint32_t rows = 0;
  if (TIFFSetDirectory(t, static_cast<tdir_t>(directory)) == 1 &&
      TIFFGetField(t, TIFFTAG_IMAGELENGTH, &rows) == 1) {
    out.resize(raw ? TIFFGetStrileByteCount(t, 0) : std::size_t{rows} * kTestRowBytes);
    const auto size = static_cast<tmsize_t>(out.size());
    if ((raw ? TIFFReadRawStrip(t, 0, out.data(), size)
             : TIFFReadEncodedStrip(t, 0, out.data(), size)) != size)
      out.clear();
  }
  TIFFClose(t);
  return out;
}

}  // namespace

std::vector<std::uint8_t> DecodeWithLibTiff(const std::filesystem::path& file, int directory) {
  return ReadStrip(file, directory, false);
}

std::vector<std::uint8_t> RawStripWithLibTiff(const std::filesystem::path& file, int directory) {
  return ReadStrip(file, directory, true);
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

bool Black(const std::vector<std::uint8_t>& rows, int x, int y) {
  return (rows[static_cast<std::size_t>(y) * kTestRowBytes + x / 8] & (0x80 >> (x % 8))) != 0;
}

std::size_t InkIn(const std::vector<std::uint8_t>& rows, int left, int top, int right, int bottom) {
  std::size_t n = 0;
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) n += Black(rows, x, y);
  return n;
}

InkBox InkBounds(const std::vector<std::uint8_t>& rows) {
  InkBox box;
  const int height = static_cast<int>(rows.size() / kTestRowBytes);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < static_cast<int>(kTestWidth); ++x)
      if (Black(rows, x, y)) {
        if (box.left < 0 || x < box.left) box.left = x;
        if (box.top < 0) box.top = y;
        box.right = std::max(box.right, x);
        box.bottom = y;
      }
  return box;
}

double DesignedInkAcross(LOGFONTW font, std::string_view text) {
  constexpr int kLarger = 10;
  font.lfHeight *= kLarger;
  MonoBitmap big(8 * static_cast<int>(kTestWidth), 60 * kLarger);
  Canvas(big).DrawText(*Font::Create(font), text, {0, 0, big.Width(), big.Height()});
  int left = big.Width(), right = -1;
  for (int y = 0; y < big.Height(); ++y)
    for (int x = 0; x < big.Width(); ++x)
      if (big.Pixel(x, y) == Ink::Black) left = std::min(left, x), right = std::max(right, x);
  return (right - left + 1) * (204.0 / 196.0) / kLarger;
}

std::size_t InkedRows(const std::vector<std::uint8_t>& rows) {
  std::size_t n = 0;
  for (auto row = rows.begin(); row < rows.end(); row += kTestRowBytes)
    n += std::any_of(row, row + kTestRowBytes, [](std::uint8_t b) { return b != 0; });
  return n;
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
  for (std::uint32_t i = 0; i < b.U16(dir); ++i) {
    const std::size_t at = dir + 2 + 12 * i;
    if (b.U16(at) != tag) continue;
    const std::uint32_t type = b.U16(at + 2);
    out.value = type == TIFF_SHORT ? b.U16(at + 8) : b.U32(at + 8);
    out.value2 = type == TIFF_SHORT ? b.U16(at + 10) : 0;
    if (type == TIFF_RATIONAL) out.rational = {b.U32(out.value), b.U32(out.value + 4)};
  }
  return out;
}

WrittenFax WriteFaxFile(const std::filesystem::path& file,
                        const std::function<int(TiffFile&, std::uint32_t*)>& write) {
  WrittenFax out;
  out.file = file;
  FaxOutputFile fax;
  EXPECT_EQ(fax.Open(file.string()), 1);
  out.result = write(fax.Tiff(), &out.pages);
  fax.AddPages(out.pages);
  EXPECT_EQ(fax.Close(), 1);
  if (out.pages == 0) return out;
  TiffOper oper;
  oper.SetErrorPool(false);
  EXPECT_EQ(oper.OpenReadTiffHeader(file.string()), 1);
  EXPECT_EQ(oper.GetTotalPageNum(), static_cast<int>(out.pages));
  for (std::uint32_t p = 0; p < out.pages; ++p) {
    SCOPED_TRACE(p);
    EXPECT_TRUE(p == 0 || oper.NextPage() == 1);
    EXPECT_EQ(oper.ReadTags(), 1);
    EXPECT_EQ(oper.PageInfo().width, 1728u);
    EXPECT_EQ(oper.Tags().pageIndex, static_cast<int>(p));
    EXPECT_EQ(oper.Tags().pageTotal, static_cast<int>(out.pages));
    out.decoded.push_back(DecodeWithLibTiff(file, static_cast<int>(p)));
    EXPECT_FALSE(out.decoded.back().empty()) << "page does not decode";
  }
  return out;
}

bool PoolHas(const std::vector<ErrorRecord>& records, const std::string& text) {
  for (const auto& r : records)
    if (r.message.find(text) != std::string::npos) return true;
  return false;
}

bool RunCommand(const std::string& command) { return std::system(command.c_str()) == 0; }

std::uint64_t MonoPage::CountBlack(std::uint32_t x0, std::uint32_t y0, std::uint32_t x1,
                                   std::uint32_t y1) const {
  std::uint64_t count = 0;
  for (std::uint32_t y = y0; y < y1 && y < rows; ++y)
    for (std::uint32_t x = x0; x < x1 && x < width; ++x) count += Black(x, y) ? 1 : 0;
  return count;
}

MonoPage ReadNetpbm(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  // Header fields, with "#" comments between them skipped.
  auto field = [&in] {
    std::string token;
    while (in >> token && token.starts_with("#")) in.ignore(1 << 20, '\n');
    return token;
  };
  const std::string magic = field();
  const std::uint32_t width = static_cast<std::uint32_t>(std::stoul(field()));
  const std::uint32_t rows = static_cast<std::uint32_t>(std::stoul(field()));
  const std::uint32_t maxValue =
      magic == "P5" ? static_cast<std::uint32_t>(std::stoul(field())) : 1;
  in.get();
  const std::size_t rowBytes = (width + 7) / 8;
  MonoPage page{width, rows, std::vector<std::uint8_t>(rowBytes * rows, 0)};
  if (magic == "P4") {
    in.read(reinterpret_cast<char*>(page.bits.data()),
            static_cast<std::streamsize>(page.bits.size()));
  } else if (magic == "P5") {
    std::vector<unsigned char> grey(std::size_t{width} * rows);
    in.read(reinterpret_cast<char*>(grey.data()), static_cast<std::streamsize>(grey.size()));
    for (std::uint32_t y = 0; y < rows; ++y)
      for (std::uint32_t x = 0; x < width; ++x)
        if (grey[std::size_t{y} * width + x] * 2 < maxValue + 1)
          page.bits[y * rowBytes + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
  } else {
    ADD_FAILURE() << file << " is not a PBM or PGM file";
  }
  return page;
}

MonoPage FaxMonoPage(std::vector<std::uint8_t> rows) {
  const auto height = static_cast<std::uint32_t>(rows.size() / kTestRowBytes);
  return {kTestWidth, height, std::move(rows)};
}

double InkCovered(const MonoPage& a, const MonoPage& b, std::uint32_t rows, int radius) {
  std::uint64_t ink = 0, covered = 0;
  for (std::uint32_t y = 0; y < rows && y < a.rows; ++y)
    for (std::uint32_t x = 0; x < a.width; ++x) {
      if (!a.Black(x, y)) continue;
      ++ink;
      bool found = false;
      for (int dy = -radius; dy <= radius && !found; ++dy)
        for (int dx = -radius; dx <= radius && !found; ++dx) {
          const long bx = static_cast<long>(x) + dx, by = static_cast<long>(y) + dy;
          found = bx >= 0 && by >= 0 &&
                  b.Black(static_cast<std::uint32_t>(bx), static_cast<std::uint32_t>(by));
        }
      covered += found ? 1 : 0;
    }
  return ink == 0 ? 1.0 : static_cast<double>(covered) / static_cast<double>(ink);
}

}  // namespace vexo::test
