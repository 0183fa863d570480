// The libtiff layer and the in-place file updates, checked on files written
// and decoded by libtiff itself, in both byte orders.
#include "document/tiff_update.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "document/tiff_lib.h"
#include "tests/document/test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::PatternPage;
using test::PoolHas;
using test::TakeErrors;

constexpr int kPages = 5;
constexpr std::uint32_t kRows = 64;

test::LibTiffPage FaxPage(unsigned seed, std::uint16_t compression = COMPRESSION_CCITTFAX3) {
  test::LibTiffPage page{PatternPage(kRows, seed), kRows, 1728, compression};
  page.software = "VEXO test page with an out-of-entry text";  // longer than an entry holds
  return page;
}

std::unique_ptr<TiffFile> OpenFile(const std::filesystem::path& file, const char* mode) {
  return TIFFOpenHandle(UniqueFd(::open(file.c_str(), O_RDWR)), file.string(), mode);
}

class TiffUpdateTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { TakeErrors(); }
  std::filesystem::path File(const char* name) const { return dir.path() / name; }
  test::TempDir dir;
};

struct Rewrite {
  const char* name;
  std::vector<std::uint8_t> bitmap;
  int growth;  // the sign of the new count less the old
};

TEST_P(TiffUpdateTest, UpdateCurPageGrowsShrinksAndKeepsEveryOtherPage) {
  const bool bigEndian = GetParam();
  std::vector<Rewrite> rewrites{
      {"grow", PatternPage(kRows, 99), 1},
      {"shrink", std::vector<std::uint8_t>(kRows * test::kTestRowBytes, 0), -1},
      {"same", PatternPage(kRows, 2), 0},
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
        EncodeFaxRows(StripCoding{}, rewrite.bitmap.data(), rewrite.bitmap.size())->size();
    EXPECT_EQ((newCount > oldCount) - (newCount < oldCount), rewrite.growth);
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
      EXPECT_EQ(test::DumpTag(file, i, TIFFTAG_YRESOLUTION).rational,
                (std::vector<std::uint32_t>{209, 1}));
      TIFF* t = TIFFOpen(file.c_str(), "r");
      ASSERT_EQ(TIFFSetDirectory(t, static_cast<tdir_t>(i)), 1);
      const char* software = nullptr;
      ASSERT_EQ(TIFFGetField(t, TIFFTAG_SOFTWARE, &software), 1);
      EXPECT_STREQ(software, pages[0].software.c_str());
      TIFFClose(t);
    }
    EXPECT_TRUE(TakeErrors().empty());
  }
}

TEST_P(TiffUpdateTest, UpdateAllPageNumWritesIndexAndTotalInTheFilesOrder) {
  const auto file = File("p.tif");
  test::WriteWithLibTiff(file, std::vector<test::LibTiffPage>(kPages, FaxPage(1)), GetParam());
  ASSERT_EQ(TIFFUpdateAllPageNum(*OpenFile(file, "r"), kPages + 2), 1);
  for (int i = 0; i < kPages; ++i) {
    // The independent reader, in the file's byte order.
    EXPECT_EQ(test::DumpTag(file, i, TIFFTAG_PAGENUMBER).value, static_cast<std::uint32_t>(i));
    EXPECT_EQ(test::DumpTag(file, i, TIFFTAG_PAGENUMBER).value2, kPages + 2u);
  }
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, TiffUpdateTest, ::testing::Values(false, true),
                         [](const auto& param) {
                           return param.param ? "BigEndian" : "LittleEndian";
                         });

using TiffLibTest = TiffUpdateTest;  // without a parameter

TEST_F(TiffLibTest, RefusedRewritesChangeNothing) {
  auto striped = FaxPage(2);
  striped.rowsPerStrip = 16;
  test::WriteWithLibTiff(File("strips.tif"), {striped});
  test::WriteWithLibTiff(File("raw.tif"), {FaxPage(1, COMPRESSION_NONE)});
  const auto bitmap = PatternPage(kRows, 7);
  const std::pair<const char*, const char*> cases[] = {
      {"raw.tif", "TIFFUpdateCurPage only support FAX group 3 fax format, filename="},
      {"strips.tif", "TIFFUpdateCurPage only support 1 strip per page format, filename="}};
  for (const auto& [name, message] : cases) {
    SCOPED_TRACE(name);
    const auto before = test::ReadFileBytes(File(name));
    EXPECT_EQ(TIFFUpdateCurPage(*OpenFile(File(name), "r"), 0, bitmap.data(), bitmap.size()), 0);
    const auto records = TakeErrors();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(*records[0].module, "TIFFLIB: TIFFUpdateCurPage");
    EXPECT_EQ(records[0].message, message + File(name).string());
    // Through a copy: the original stays as it was.
    EXPECT_EQ(UpdateFiledPage(File(name).string(), 0, bitmap.data(), bitmap.size()), 0);
    EXPECT_EQ(test::ReadFileBytes(File(name)), before);
    TakeErrors();
  }
  // No copy is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
  EXPECT_EQ(TIFFUpdateCurPage(*OpenFile(File("strips.tif"), "r"), 0, nullptr, 0), 0);
  EXPECT_TRUE(
      PoolHas(TakeErrors(), "data or cc parameter pass to TIFFUpdateCurPage function is empty"));
}

TEST_F(TiffLibTest, EncodedSizeAndMemoryCodingMatchLibTiffsCoding) {
  const auto file = File("e.tif");
  test::WriteWithLibTiff(file, {FaxPage(3)});
  const auto bitmap = PatternPage(kRows, 3);
  const auto raw = test::RawStripWithLibTiff(file, 0);
  auto tif = OpenFile(file, "r");
  EXPECT_EQ(TIFFGetEncodedSize(*tif, 0, bitmap.data(), bitmap.size()),
            static_cast<std::int64_t>(raw.size()));
  EXPECT_EQ(*EncodeFaxRows(StripCoding{}, bitmap.data(), bitmap.size()), raw);
  test::WriteWithLibTiff(File("n.tif"), {FaxPage(3, COMPRESSION_NONE)});
  auto none = OpenFile(File("n.tif"), "r");
  EXPECT_EQ(TIFFGetEncodedSize(*none, 0, bitmap.data(), bitmap.size()), -1);
  EXPECT_TRUE(
      PoolHas(TakeErrors(), "No mothod for GetEncodedSize, it is only available for fax3 tiff"));
}

TEST_F(TiffLibTest, LibraryMessagesArriveInThePool) {
  // A real libtiff error: the file is no TIFF.
  test::WriteFileBytes(File("junk.tif"), "this is not a tiff file at all");
  EXPECT_EQ(OpenFile(File("junk.tif"), "r"), nullptr);
  auto records = TakeErrors();
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records[0].MessageType, 25u);
  EXPECT_EQ(records[0].module->rfind("TIFFLIB: ", 0), 0u);
  EXPECT_EQ(*records[0].function, *records[0].module);
  TiffLib::Initialize();
  TIFFWarning("SomeCodec", "odd value %d", 7);
  records = TakeErrors();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].MessageType, 26u);
  EXPECT_EQ(*records[0].module, "TIFFLIB: SomeCodec");
  EXPECT_EQ(records[0].message, "odd value 7");
}

TEST_F(TiffLibTest, FiledPageIsRewrittenThroughACopy) {
  const auto file = File("filed.tif");
  test::WriteWithLibTiff(file, {FaxPage(1), FaxPage(2), FaxPage(3)});
  const auto ink = PatternPage(kRows, 50);
  ASSERT_EQ(UpdateFiledPage(file.string(), 1, ink.data(), ink.size()), 1);
  EXPECT_EQ(test::DecodeWithLibTiff(file, 1), ink);
  EXPECT_EQ(test::DecodeWithLibTiff(file, 2), PatternPage(kRows, 3));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
}  // namespace vexo
