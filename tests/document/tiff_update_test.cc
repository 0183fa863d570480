// The libtiff layer and the in-place file updates, checked on files written
// and decoded by libtiff itself, in both byte orders.
#include "document/tiff_update.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "document/tiff_lib.h"
#include "tests/document/tiff_test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::PatternPage;
using test::PoolHas;
using test::TakePool;

constexpr int kPages = 5;
constexpr std::uint32_t kRows = 64;

test::LibTiffPage FaxPage(unsigned seed, std::uint16_t compression = COMPRESSION_CCITTFAX3) {
  test::LibTiffPage p;
  p.rows = kRows;
  p.bitmap = PatternPage(kRows, seed);
  p.compression = compression;
  // A Software text longer than 4 bytes lives outside its entry.
  p.software = "VEXO test page with an out-of-entry text";
  return p;
}

std::unique_ptr<TiffFile> OpenFile(const std::filesystem::path& file, const char* mode) {
  return TIFFOpenHandle(UniqueFd(::open(file.c_str(), O_RDWR)), file.string(), mode);
}

class TiffUpdateTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { TakePool(); }
  std::filesystem::path File(const char* name) const { return dir.path() / name; }
  test::TempDir dir;
};

struct Rewrite {
  const char* name;
  std::vector<std::uint8_t> bitmap;
};

TEST_P(TiffUpdateTest, UpdateCurPageGrowsShrinksAndKeepsEveryOtherPage) {
  const bool bigEndian = GetParam();
  std::vector<Rewrite> rewrites{
      {"grow", PatternPage(kRows, 99)},
      {"shrink", std::vector<std::uint8_t>(kRows * test::kTestRowBytes, 0)},
      {"same", PatternPage(kRows, 2)},
  };
  // Growing: more black runs than the page had.
  for (std::size_t i = 0; i < rewrites[0].bitmap.size(); i += 3) rewrites[0].bitmap[i] ^= 0x5A;
  for (const Rewrite& rewrite : rewrites) {
    SCOPED_TRACE(rewrite.name);
    const auto file = File(rewrite.name);
    std::vector<test::LibTiffPage> pages;
    for (int i = 0; i < kPages; ++i) pages.push_back(FaxPage(static_cast<unsigned>(i)));
    test::WriteWithLibTiff(file, pages, bigEndian);
    const auto before = std::filesystem::file_size(file);
    const auto oldCount = test::RawStripWithLibTiff(file, 2).size();
    const auto newCount =
        EncodeFaxRows(FaxCoding{}, rewrite.bitmap.data(), rewrite.bitmap.size())->size();
    ASSERT_EQ(test::ReadFileBytes(file).substr(0, 2), bigEndian ? "MM" : "II");
    const std::string_view kind = rewrite.name;
    EXPECT_TRUE(kind == "grow"     ? newCount > oldCount
                : kind == "shrink" ? newCount < oldCount
                                   : newCount == oldCount);

    auto tif = OpenFile(file, "r");
    ASSERT_TRUE(tif);
    ASSERT_EQ(TIFFSetDirectory(tif->get(), 2), 1);
    ASSERT_EQ(TIFFUpdateCurPage(*tif, 0, rewrite.bitmap.data(), rewrite.bitmap.size()), 1);
    // The handle is on the same page again, with the new count.
    EXPECT_EQ(TIFFCurrentDirectory(tif->get()), 2);
    EXPECT_EQ(TIFFGetStrileByteCount(tif->get(), 0), newCount);
    tif.reset();

    EXPECT_EQ(std::filesystem::file_size(file),
              before + static_cast<std::int64_t>(newCount) - static_cast<std::int64_t>(oldCount));
    for (int i = 0; i < kPages; ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(test::DecodeWithLibTiff(file, i),
                i == 2 ? rewrite.bitmap : PatternPage(kRows, static_cast<unsigned>(i)));
      TIFF* t = TIFFOpen(file.c_str(), "r");
      ASSERT_NE(t, nullptr);
      ASSERT_EQ(TIFFSetDirectory(t, static_cast<tdir_t>(i)), 1);
      const char* software = nullptr;
      ASSERT_EQ(TIFFGetField(t, TIFFTAG_SOFTWARE, &software), 1);
      EXPECT_STREQ(software, pages[0].software.c_str());
      float y = 0;
      ASSERT_EQ(TIFFGetField(t, TIFFTAG_YRESOLUTION, &y), 1);
      EXPECT_EQ(y, 209.0f);
      TIFFClose(t);
    }
    EXPECT_TRUE(TakePool().empty());
  }
}

TEST_P(TiffUpdateTest, UpdateAllPageNumWritesIndexAndTotalInTheFilesOrder) {
  const auto file = File("p.tif");
  std::vector<test::LibTiffPage> pages(kPages, FaxPage(1));
  test::WriteWithLibTiff(file, pages, GetParam());
  auto tif = OpenFile(file, "r");
  ASSERT_EQ(TIFFUpdateAllPageNum(*tif, kPages + 2), 1);
  tif.reset();
  TIFF* t = TIFFOpen(file.c_str(), "r");
  for (int i = 0; i < kPages; ++i) {
    ASSERT_EQ(TIFFSetDirectory(t, static_cast<tdir_t>(i)), 1);
    std::uint16_t index = 0;
    std::uint16_t total = 0;
    ASSERT_EQ(TIFFGetField(t, TIFFTAG_PAGENUMBER, &index, &total), 1);
    EXPECT_EQ(index, i);
    EXPECT_EQ(total, kPages + 2);
    // The independent reader agrees, in the file's byte order.
    EXPECT_EQ(test::DumpTag(file, i, TIFFTAG_PAGENUMBER).value, static_cast<std::uint32_t>(i));
  }
  TIFFClose(t);
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, TiffUpdateTest, ::testing::Values(false, true),
                         [](const auto& param) {
                           return param.param ? "BigEndian" : "LittleEndian";
                         });

class TiffLibTest : public ::testing::Test {
 protected:
  void SetUp() override { TakePool(); }
  std::filesystem::path File(const char* name) const { return dir.path() / name; }
  test::TempDir dir;
};

TEST_F(TiffLibTest, UpdateCurPageRefusesGroup4AndStrippedPagesAndChangesNothing) {
  const auto g4 = File("g4.tif");
  test::WriteWithLibTiff(g4, {FaxPage(1, COMPRESSION_CCITTFAX4)});
  auto striped = FaxPage(2);
  striped.rowsPerStrip = 16;
  const auto strips = File("strips.tif");
  test::WriteWithLibTiff(strips, {striped});
  const auto bitmap = PatternPage(kRows, 7);
  struct Case {
    std::filesystem::path file;
    const char* message;
  } cases[] = {{g4, "TIFFUpdateCurPage only support FAX group 3 fax format, filename="},
               {strips, "TIFFUpdateCurPage only support 1 strip per page format, filename="}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const auto before = test::ReadFileBytes(c.file);
    auto tif = OpenFile(c.file, "r");
    EXPECT_EQ(TIFFUpdateCurPage(*tif, 0, bitmap.data(), bitmap.size()), 0);
    const auto records = TakePool();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(*records[0].module, "TIFFLIB: TIFFUpdateCurPage");
    EXPECT_EQ(records[0].message, c.message + c.file.string());
    EXPECT_EQ(test::ReadFileBytes(c.file), before);
  }
  auto tif = OpenFile(strips, "r");
  EXPECT_EQ(TIFFUpdateCurPage(*tif, 0, nullptr, 0), 0);
  EXPECT_TRUE(
      PoolHas(TakePool(), "data or cc parameter pass to TIFFUpdateCurPage function is empty"));
}

TEST_F(TiffLibTest, EncodedSizeAndMemoryCodingMatchLibTiffsFileCoding) {
  const auto file = File("e.tif");
  test::WriteWithLibTiff(file, {FaxPage(3)});
  const auto bitmap = PatternPage(kRows, 3);
  const auto raw = test::RawStripWithLibTiff(file, 0);
  auto tif = OpenFile(file, "r");
  EXPECT_EQ(TIFFGetEncodedSize(*tif, 0, bitmap.data(), bitmap.size()),
            static_cast<std::int64_t>(raw.size()));
  EXPECT_EQ(*EncodeFaxRows(FaxCoding{}, bitmap.data(), bitmap.size()), raw);

  // Scanline coding in memory gives the same bytes as the strip.
  FaxEncoder encoder{FaxCoding{}};
  ASSERT_TRUE(encoder.Begin(kRows, 1000));
  for (std::uint32_t r = 0; r < kRows; ++r)
    ASSERT_TRUE(encoder.WriteScanline(bitmap.data() + r * test::kTestRowBytes, r));
  EXPECT_EQ(*encoder.Finish(), raw);
  // A fresh strip after Finish starts from row 0 again.
  ASSERT_TRUE(encoder.Begin(1));
  ASSERT_TRUE(encoder.WriteScanline(bitmap.data(), 0));
  EXPECT_EQ(encoder.Finish()->size(),
            EncodeFaxRows(FaxCoding{}, bitmap.data(), test::kTestRowBytes)->size());

  auto plain = FaxPage(3, COMPRESSION_NONE);
  test::WriteWithLibTiff(File("n.tif"), {plain});
  auto none = OpenFile(File("n.tif"), "r");
  EXPECT_EQ(TIFFGetEncodedSize(*none, 0, bitmap.data(), bitmap.size()), -1);
  EXPECT_TRUE(
      PoolHas(TakePool(), "No mothod for GetEncodedSize, it is only available for fax3 tiff"));
}

TEST_F(TiffLibTest, LibraryMessagesArriveInThePool) {
  // A real libtiff error: the file is no TIFF.
  test::WriteFileBytes(File("junk.tif"), "this is not a tiff file at all");
  EXPECT_EQ(OpenFile(File("junk.tif"), "r"), nullptr);
  auto records = TakePool();
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records[0].MessageType, 25u);
  EXPECT_EQ(records[0].module->rfind("TIFFLIB: ", 0), 0u);
  EXPECT_EQ(*records[0].function, *records[0].module);

  TiffLib::Initialize();
  TIFFWarning("SomeCodec", "odd value %d", 7);
  records = TakePool();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].MessageType, 26u);
  EXPECT_EQ(*records[0].module, "TIFFLIB: SomeCodec");
  EXPECT_EQ(records[0].message, "odd value 7");

  EXPECT_EQ(TIFFOpenHandle(UniqueFd(), "x", "x"), nullptr);
  records = TakePool();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, "\"x\": Bad mode");
}

TEST_F(TiffLibTest, ResolutionPairsAreReadExactly) {
  auto fine = FaxPage(1);
  auto normal = FaxPage(2);
  normal.yResolution = 104.5f;
  test::WriteWithLibTiff(File("r.tif"), {fine, normal});
  auto tif = OpenFile(File("r.tif"), "r");
  EXPECT_EQ(TIFFGetRational(*tif, TIFFTAG_YRESOLUTION), (Rational{209, 1}));
  ASSERT_EQ(TIFFReadDirectory(tif->get()), 1);
  EXPECT_EQ(TIFFGetRational(*tif, TIFFTAG_YRESOLUTION), (Rational{209, 2}));
  EXPECT_EQ(TIFFGetRational(*tif, TIFFTAG_XRESOLUTION), (Rational{209, 1}));
  EXPECT_FALSE(TIFFGetRational(*tif, TIFFTAG_XPOSITION).has_value());
}

TEST_F(TiffLibTest, FiledPageIsRewrittenThroughACopy) {
  const auto file = File("filed.tif");
  test::WriteWithLibTiff(file, {FaxPage(1), FaxPage(2), FaxPage(3)});
  const auto ink = PatternPage(kRows, 50);
  ASSERT_EQ(UpdateFiledPage(file.string(), 1, ink.data(), ink.size()), 1);
  EXPECT_EQ(test::DecodeWithLibTiff(file, 1), ink);
  EXPECT_EQ(test::DecodeWithLibTiff(file, 2), PatternPage(kRows, 3));

  // A refused rewrite leaves the original as it was and no copy behind.
  const auto g4 = File("g4.tif");
  test::WriteWithLibTiff(g4, {FaxPage(1, COMPRESSION_CCITTFAX4)});
  const auto before = test::ReadFileBytes(g4);
  EXPECT_EQ(UpdateFiledPage(g4.string(), 0, ink.data(), ink.size()), 0);
  EXPECT_EQ(test::ReadFileBytes(g4), before);
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 2);
  TakePool();
}

}  // namespace
}  // namespace vexo
