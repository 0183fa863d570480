// The page codings: MH, MR and MMR round trips through libtiff's coders,
// damaged data read back with bad rows counted, a stored page and its header
// coded for the line, fax files in each coding read by libtiff's own tools
// and rewritten with ink; our own MH coder against libtiff's, byte for byte.
#include "document/fax_coding.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <functional>
#include <random>
#include <tuple>

#include "document/mh_coder.h"
#include "document/tiff_oper.h"
#include "document/tiff_update.h"
#include "tests/document/test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

// Lines of "text": glyph cells of 16 by 24 pixels whose strokes change with
// the cell, in bands of 32 rows with white between.
FaxBitmap TextPage(std::uint32_t rows) {
  FaxBitmap page{test::kTestWidth, rows, std::vector<std::uint8_t>(rows * test::kTestRowBytes)};
  for (std::uint32_t y = 0; y < rows; ++y)
    for (std::uint32_t x = 64; x < test::kTestWidth - 64 && y % 32 < 24; ++x) {
      const std::uint32_t cell = x / 16 + y / 32 * 7, gx = x % 16, gy = y % 32;
      if (cell % 5 != 0 && (gx < 3 + cell % 3 || (gy % (6 + cell % 4) < 2 && gx < 12)))
        page.bits[y * test::kTestRowBytes + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
  return page;
}

bool Bit(const std::vector<std::uint8_t>& coded, std::size_t i) {
  return (coded[i / 8] >> (7 - i % 8)) & 1;
}

// Where the one bit of each EOL lies.
std::vector<std::size_t> EolOnes(const std::vector<std::uint8_t>& coded) {
  std::vector<std::size_t> ones;
  int zeros = 0;
  for (std::size_t i = 0; i < coded.size() * 8; ++i) {
    if (Bit(coded, i) && zeros >= 11) ones.push_back(i);
    zeros = Bit(coded, i) ? 0 : zeros + 1;
  }
  return ones;
}

// The first count rows of page (every step-th), after the given ones.
std::vector<std::uint8_t> Rows(const FaxBitmap& page, std::uint32_t count, std::uint32_t step = 1,
                               std::vector<std::uint8_t> rows = {}) {
  for (std::uint32_t r = 0; r < count; r += step)
    rows.insert(rows.end(), page.bits.begin() + r * page.Stride(),
                page.bits.begin() + (r + 1) * page.Stride());
  return rows;
}

class FaxCodingRoundTrip : public testing::TestWithParam<std::tuple<FaxCoding, bool>> {};

TEST_P(FaxCodingRoundTrip, DecodesToTheSamePixelsWithOrWithoutItsEnd) {
  const auto [coding, fine] = GetParam();
  const FaxBitmap page = TextPage(100);
  const auto bare = EncodeFaxPage(page, coding, fine, false);
  const auto ended = EncodeFaxPage(page, coding, fine, true);
  for (const auto* coded : {&bare, &ended}) {
    const auto decoded = DecodeFaxPage(*coded, coding, page.width, fine);
    ASSERT_TRUE(decoded && decoded->complete && decoded->badRows == 0);
    EXPECT_EQ(decoded->bitmap.bits, page.bits);
  }
  // An EOL ahead of every MH or MR row, none in MMR; the end is the RTC (six
  // EOLs) or the EOFB (two). MR: a 1-D row, then K - 1 2-D rows; its RTC
  // EOLs have tag bit 1.
  const auto eols = EolOnes(ended);
  EXPECT_EQ(EolOnes(bare).size(), coding == FaxCoding::kMmr ? 0u : page.rows);
  EXPECT_EQ(eols.size() - EolOnes(bare).size(), coding == FaxCoding::kMmr ? 2u : 6u);
  std::string tags;
  for (std::size_t one : eols) tags += Bit(ended, one + 1) ? '1' : '0';
  if (coding == FaxCoding::kMr) {
    EXPECT_EQ(tags.substr(0, 8) + tags.substr(100), fine ? "10001000111111" : "10101010111111");
  }
}

INSTANTIATE_TEST_SUITE_P(Codings, FaxCodingRoundTrip,
                         testing::Combine(testing::Values(FaxCoding::kMh, FaxCoding::kMr,
                                                          FaxCoding::kMmr),
                                          testing::Bool()));

// Damage at row 50 of 100: a one among its EOL's zeros (rows 49 and 50 merge), a bit
// of its code flipped, or the data cut inside it. MH and MR count bad rows
// and resume at the next EOL; MMR keeps the rows before the damage.
TEST(FaxCodingDamage, CountsBadRowsAndKeepsTheRowsBeforeTheDamage) {
  const struct {
    FaxCoding coding;
    char damage;  // 'e' EOL, 'b' bit, 'c' cut
    std::uint32_t rows;
    bool complete;
  } cases[] = {{FaxCoding::kMh, 'e', 99, true},  {FaxCoding::kMh, 'b', 100, true},
               {FaxCoding::kMr, 'e', 99, true},  {FaxCoding::kMr, 'b', 100, true},
               {FaxCoding::kMr, 'c', 51, false}, {FaxCoding::kMmr, 'b', 0, false},
               {FaxCoding::kMmr, 'c', 0, false}};
  const FaxBitmap page = TextPage(100);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(CodingName(c.coding)) + " " + c.damage);
    auto coded = EncodeFaxPage(page, c.coding, false, true);
    const std::size_t at = c.coding == FaxCoding::kMmr ? coded.size() * 4 : EolOnes(coded)[50];
    if (c.damage == 'c') coded.resize(at / 8 + 20);
    if (c.damage == 'b') coded[at / 8 + 3] ^= 0x10;
    if (c.damage == 'e') coded[(at - 5) / 8] ^= static_cast<std::uint8_t>(0x80 >> (at - 5) % 8);
    const auto decoded = DecodeFaxPage(coded, c.coding, page.width, false);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->complete, c.complete);
    if (c.coding == FaxCoding::kMmr) {
      EXPECT_TRUE(decoded->bitmap.rows > 10 && decoded->bitmap.rows < 90) << decoded->bitmap.rows;
      EXPECT_EQ(decoded->bitmap.bits, Rows(page, decoded->bitmap.rows));
      continue;
    }
    EXPECT_EQ(decoded->bitmap.rows, c.rows);
    EXPECT_GE(decoded->badRows, 1u);
    EXPECT_LE(decoded->longestBadRun, 2u);
    EXPECT_EQ(Rows(decoded->bitmap, 49), Rows(page, 49));
  }
}

// A fax file with a fine page in each coding (the MH one stored least
// significant bit first): libtiff's own tools read it without a complaint,
// the send side takes every page and codes it with its header for the line
// as one MMR stream (the MH page halved), and the viewer keeps ink on the MMR
// page. A header that does not decode is reported.
TEST(FaxCodingFiles, StoredPagesReadBackAndGoOutInTheLineCoding) {
  test::TempDir dir;
  const auto file = dir.path() / "coded.tif";
  const FaxBitmap page = TextPage(60), header = TextPage(20);
  const FaxCoding codings[] = {FaxCoding::kMr, FaxCoding::kMmr, FaxCoding::kMh};
  {
    TiffOper writer;
    ASSERT_EQ(writer.OpenWriteTiff(file.string()), 1);
    for (const FaxCoding coding : codings) {
      auto coded = EncodeFaxPage(page, coding, true, true);
      const bool lsb = coding == FaxCoding::kMh;
      if (lsb) TIFFReverseBits(coded.data(), static_cast<tmsize_t>(coded.size()));
      const std::uint32_t flags =
          PageFlagsOfCoding(coding) | PAGE_FINE | (lsb ? PAGE_LSB_FIRST : 0);
      ASSERT_EQ(writer.SetPageTags(1728, 60, flags), 1);
      ASSERT_EQ(writer.WriteFaxData(coded.data(), coded.size()), 1);
      ASSERT_EQ(writer.EndPage(60), 1);
    }
    ASSERT_EQ(writer.CloseWriteTiff(), 1);
  }
  const auto log = dir.path() / "tiffcp.log";
  EXPECT_TRUE(test::RunCommand("tiffcp -c none '" + file.string() + "' '" +
                               (dir.path() / "out.tif").string() + "' 2>'" + log.string() + "'"));
  EXPECT_EQ(test::ReadFileBytes(log), "");
  TiffOper oper;
  oper.SetErrorPool(true);
  ASSERT_EQ(oper.OpenReadTiffHeader(file.string()), 1);
  for (int p = 0; p < 3; ++p) {
    SCOPED_TRACE(p);
    EXPECT_EQ(test::DecodeWithLibTiff(file, p), page.bits);
    ASSERT_TRUE(p == 0 || oper.NextPage() == 1);
    ASSERT_EQ(oper.ReadTags(), 1);
    EXPECT_EQ(CodingOfPageFlags(oper.PageInfo().flags), codings[p]);
    const bool halve = codings[p] == FaxCoding::kMh;
    oper.SetPageHeader(EncodeFaxPage(header, FaxCoding::kMh, !halve, false));
    const auto coded = CodePageForLine(oper, FaxCoding::kMmr, halve, !halve);
    ASSERT_TRUE(coded);
    const auto decoded = DecodeFaxPage(*coded, FaxCoding::kMmr, 1728, !halve);
    ASSERT_TRUE(decoded && decoded->complete);
    EXPECT_EQ(decoded->bitmap.bits, Rows(page, 60, halve ? 2 : 1, header.bits));
  }
  test::TakeErrors();
  oper.SetPageHeader(std::vector<std::uint8_t>(50, 0xFF));
  EXPECT_FALSE(CodePageForLine(oper, FaxCoding::kMh, false, true));
  EXPECT_TRUE(test::PoolHas(test::TakeErrors(), "does not decode"));
  auto inked = page.bits;
  inked[5] = 0xFF;
  ASSERT_EQ(UpdateFiledPage(file.string(), 1, inked.data(), inked.size()), 1);
  EXPECT_EQ(test::DecodeWithLibTiff(file, 1), inked);
}

// libtiff's Group 3 coder, a row at a time into a file: the bytes MhCoder must give.
std::vector<std::uint8_t> LibtiffMh(const std::vector<std::uint8_t>& rows, std::uint32_t width) {
  const test::TempDir dir;
  const std::string path = (dir.path() / "mh.tif").string();
  const std::size_t rowBytes = (width + 7) / 8;
  const auto count = static_cast<std::uint32_t>(rows.size() / rowBytes);
  TIFF* t = TIFFOpen(path.c_str(), "w");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, count);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, count);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, 0);
  std::vector<std::uint8_t> row(rowBytes);
  for (std::uint32_t r = 0; r < count; ++r) {
    std::copy_n(rows.begin() + static_cast<std::ptrdiff_t>(r * rowBytes), rowBytes, row.begin());
    TIFFWriteScanline(t, row.data(), r, 0);
  }
  TIFFClose(t);
  t = TIFFOpen(path.c_str(), "r");
  std::vector<std::uint8_t> coded(static_cast<std::size_t>(TIFFRawStripSize(t, 0)));
  TIFFReadRawStrip(t, 0, coded.data(), static_cast<tmsize_t>(coded.size()));
  TIFFClose(t);
  return coded;
}

// Every run length of both colours at the fax width, runs past the longest
// make-up code on the widest row, random rows, and rows whose width ends
// inside a byte with the bits past it set.
TEST(MhCoder, CodesEveryRowAsLibtiffDoes) {
  struct Case {
    const char* name;
    std::uint32_t width;
    std::function<bool(std::uint32_t row, std::uint32_t x)> black;
    std::uint32_t rows;
  };
  std::mt19937 random(7);
  std::vector<std::uint8_t> noise(1728 * 64);
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = random() % 9 < 1 + i / 1728 % 8;
  const Case cases[] = {
      {"white runs then black", 1728, [](std::uint32_t r, std::uint32_t x) { return x >= r; },
       1729},
      {"black runs then white", 1728, [](std::uint32_t r, std::uint32_t x) { return x < r; }, 1729},
      {"widest row", kMaxFaxWidth,
       [](std::uint32_t r, std::uint32_t x) { return (x >= 2624 + r) != (r % 2 == 1); }, 8},
      {"random", 1728, [&](std::uint32_t r, std::uint32_t x) { return noise[r * 1728 + x] != 0; },
       64},
      {"alternate", 1725, [](std::uint32_t r, std::uint32_t x) { return (x + r) % 2 == 0; }, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t rowBytes = (c.width + 7) / 8;
    std::vector<std::uint8_t> rows(rowBytes * c.rows, 0);
    for (std::uint32_t r = 0; r < c.rows; ++r) {
      for (std::uint32_t x = 0; x < rowBytes * 8; ++x)
        if (x >= c.width || c.black(r, x))
          rows[r * rowBytes + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
    MhCoder coder(c.width);
    for (std::uint32_t r = 0; r < c.rows; ++r) coder.AddRow(rows.data() + r * rowBytes);
    EXPECT_EQ(coder.Finish(), LibtiffMh(rows, c.width));
  }
}

}  // namespace
}  // namespace vexo
