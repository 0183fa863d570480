// TiffOper against real files: pages written from libtiff-coded rows and read
// back with libtiff's decoder and with ReadFAXData; files from other writers;
// damaged files; line dropping checked by decoding what it hands out.
#include "document/tiff_oper.h"

#include <fcntl.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "document/tiff_update.h"
#include "tests/document/tiff_test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::PatternPage;
using test::PoolHas;
using test::TakePool;

struct Page {
  std::uint32_t rows;
  std::uint32_t flags;
  unsigned seed;
};

// A little-endian value of a file's bytes (the files written here are "II").
template <typename T>
T Le(const std::string& bytes, std::size_t at) {
  T value{};
  std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

std::vector<std::uint8_t> Coded(const Page& page) {
  FaxCoding coding;
  coding.fillOrder = (page.flags & PAGE_LSB_FIRST) ? FILLORDER_LSB2MSB : FILLORDER_MSB2LSB;
  const auto bitmap = PatternPage(page.rows, page.seed);
  return *EncodeFaxRows(coding, bitmap.data(), bitmap.size());
}

// Writes pages the way a receive session does, in pieces of 1000 bytes.
void WriteFax(const std::string& file, const std::vector<Page>& pages) {
  TiffOper oper;
  oper.SetErrorPool(false);
  ASSERT_EQ(oper.OpenWriteTiff(file), 1);
  for (const Page& page : pages) {
    ASSERT_EQ(oper.SetPageTags(1728, 1, page.flags), 1);
    const auto coded = Coded(page);
    for (std::size_t at = 0; at < coded.size(); at += 1000)
      ASSERT_EQ(
          oper.WriteFaxData(coded.data() + at, std::min<std::size_t>(1000, coded.size() - at)), 1);
    ASSERT_EQ(oper.EndPage(page.rows), 1);
  }
  ASSERT_EQ(oper.CloseWriteTiff(), 1);
}

std::vector<std::uint8_t> ReadAll(TiffOper& oper, std::size_t chunk, bool drop) {
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> buffer(chunk);
  for (;;) {
    const int n = oper.ReadFAXData(buffer.data(), buffer.size(), drop);
    if (n <= 0) {
      EXPECT_EQ(n, 0);
      return out;
    }
    EXPECT_LE(static_cast<std::size_t>(n), std::min(chunk, kFaxDataChunk));
    out.insert(out.end(), buffer.begin(), buffer.begin() + n);
  }
}

class TiffOperTest : public ::testing::Test {
 protected:
  void SetUp() override { TakePool(); }
  std::string File(const char* name) const { return (dir.path() / name).string(); }
  test::TempDir dir;
};

TEST_F(TiffOperTest, PagesWrittenAreReadBackByLibTiffAndReadFaxData) {
  const std::vector<Page> pages{
      {120, PAGE_FINE, 1}, {60, 0, 2}, {90, PAGE_FINE | PAGE_LSB_FIRST, 3}};
  const std::string file = File("rx.tif");
  WriteFax(file, pages);

  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(test::DecodeWithLibTiff(file, i), PatternPage(pages[i].rows, pages[i].seed));
    EXPECT_EQ(test::DumpTag(file, i, TIFFTAG_SUBFILETYPE).value, 2u);
    EXPECT_EQ(test::DumpTag(file, i, TIFFTAG_ROWSPERSTRIP).value, pages[i].rows);
    EXPECT_EQ(test::DumpTag(file, i, TIFFTAG_IMAGELENGTH).value, pages[i].rows);
    EXPECT_EQ(test::DumpTag(file, i, TIFFTAG_XRESOLUTION).rational,
              (std::vector<std::uint32_t>{209, 1}));
    EXPECT_EQ(test::DumpTag(file, i, TIFFTAG_YRESOLUTION).rational,
              (std::vector<std::uint32_t>{209, (pages[i].flags & PAGE_FINE) ? 1u : 2u}));
    const auto pageNumber = test::DumpTag(file, i, TIFFTAG_PAGENUMBER);
    EXPECT_EQ(pageNumber.count, 2u);
    EXPECT_EQ(pageNumber.value, static_cast<std::uint32_t>(i));  // (index, total)
    EXPECT_EQ(pageNumber.value2, 3u);
    EXPECT_EQ(test::DumpTag(file, i, TIFFTAG_STRIPOFFSETS).count, 1u);
  }

  TiffOper oper;
  oper.SetErrorPool(true);
  ASSERT_EQ(oper.OpenReadTiffHeader(file), 1);
  EXPECT_EQ(oper.GetTotalPageNum(), 3);
  EXPECT_EQ(oper.MovePage(0), 3);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(oper.ReadTags(), 1);
    EXPECT_EQ(oper.PageInfo().width, 1728u);
    EXPECT_EQ(oper.PageInfo().length, pages[i].rows);
    EXPECT_EQ(oper.PageInfo().flags, pages[i].flags);
    EXPECT_EQ(oper.Tags().pageIndex, i);
    EXPECT_EQ(oper.Tags().pageTotal, 3);
    EXPECT_EQ(oper.Tags().software, "VEXO");
    // Odd chunk sizes must give the same bytes as whole chunks.
    EXPECT_EQ(ReadAll(oper, 333, false), test::RawStripWithLibTiff(file, i));
    EXPECT_EQ(oper.ReadFAXData(static_cast<std::uint8_t*>(nullptr), 0, false), -1);
    EXPECT_EQ(oper.NextPage(), i < 2 ? 1 : 0);
  }
  oper.CloseReadTiff();
  EXPECT_TRUE(TakePool().empty());
}

TEST_F(TiffOperTest, MarkerDecidesWhetherAFileIsAccepted) {
  auto page = [](std::string software) {
    test::LibTiffPage p;
    p.rows = 10;
    p.bitmap = PatternPage(10, 4);
    p.software = std::move(software);
    return p;
  };
  test::WriteWithLibTiff(File("lower.tif"), {page("vexo")});
  test::WriteWithLibTiff(File("none.tif"), {page("")});
  test::WriteWithLibTiff(File("other.tif"), {page("fax2tiff")});
  TiffOper oper;
  EXPECT_EQ(oper.OpenReadTiffHeader(File("lower.tif")), 1);
  EXPECT_TRUE(TakePool().empty());
  for (const char* name : {"none.tif", "other.tif"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(oper.OpenReadTiffHeader(File(name)), 0);
    const auto records = TakePool();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message,
              "Unsupported TIFF file format, please make sure the TIFF file is created by Vexo, "
              "TifFile = " +
                  File(name));
    EXPECT_EQ(*records[0].function, "OpenReadTiffHeader");
    EXPECT_EQ(oper.ReadTags(), -1);
  }

  // A real foreign writer: ppm2tiff's Group 3 output carries no marker.
  std::ofstream(File("p.pbm")) << "P4\n16 2\n\xAA\x55\x0F\xF0";
  const std::string command =
      "ppm2tiff -c g3 " + File("p.pbm") + " " + File("p.tif") + " 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  {
    EXPECT_EQ(oper.OpenReadTiffHeader(File("p.tif")), 0);
    EXPECT_TRUE(PoolHas(TakePool(), "created by Vexo"));
  }

  EXPECT_EQ(oper.OpenReadTiffHeader(File("missing.tif")), 0);
  const auto records = TakePool();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(*records[0].function, "CreateFile");
  EXPECT_EQ(records[0].message, "Open File Error FileName=[" + File("missing.tif") +
                                    "], ErrMsg = No such file or directory");
}

TEST_F(TiffOperTest, ReadTagsRefusesPagesThatCannotBeSent) {
  struct Case {
    const char* name;
    test::LibTiffPage page;
    const char* reason;
  };
  auto base = [] {
    test::LibTiffPage p;
    p.rows = 8;
    p.bitmap = PatternPage(8, 9);
    return p;
  };
  std::vector<Case> cases;
  {
    Case c{"wide", base(), "Not support TIFF image width is not 1728 pixels."};
    c.page.width = 2048;
    c.page.bitmap.assign(8 * 256, 0);
    cases.push_back(c);
  }
  {
    Case c{"plain", base(), "Unsupport TIFF file compression type."};
    c.page.compression = COMPRESSION_NONE;
    cases.push_back(c);
  }
  {
    Case c{"grey", base(), "Unsupport TIFF file that is not black and white only."};
    c.page.compression = COMPRESSION_NONE;
    c.page.bitsPerSample = 8;
    c.page.bitmap.assign(8 * 1728, 0);
    cases.push_back(c);
  }
  {
    Case c{"strips", base(), "Error TIFF format (Image length is larger than rows in image)."};
    c.page.rowsPerStrip = 3;
    cases.push_back(c);
  }
  {
    Case c{"unit", base(), "Undefined resolution unit in the TIFF image file."};
    c.page.resolutionUnit = RESUNIT_NONE;
    cases.push_back(c);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = File(c.name);
    test::WriteWithLibTiff(file, {c.page});
    TakePool();
    TiffOper oper;
    ASSERT_EQ(oper.OpenReadTiffHeader(file), 1);
    EXPECT_EQ(oper.ReadTags(), -1);
    const auto records = TakePool();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(*records[0].module, "TiffOper");
    EXPECT_EQ(*records[0].function, "ReadTags");
    EXPECT_EQ(records[0].MessageType, 25u);
    EXPECT_EQ(records[0].message,
              "TiffOper encounter error: TiffFileName = " + file + ", ErrMsg = " + c.reason);
  }
}

TEST_F(TiffOperTest, ResolutionsInCentimetresAndRoundingSetFine) {
  auto page = [](float y, std::uint16_t unit) {
    test::LibTiffPage p;
    p.rows = 4;
    p.bitmap = PatternPage(4, 1);
    p.yResolution = y;
    p.resolutionUnit = unit;
    return p;
  };
  // 7.7 lines/mm = 77 per cm = 195.6 per inch: fine; 3.85 per mm: normal;
  // 179.5 per inch rounds to 180: fine.
  test::WriteWithLibTiff(File("r.tif"),
                         {page(77.0f, RESUNIT_CENTIMETER), page(38.5f, RESUNIT_CENTIMETER),
                          page(179.5f, RESUNIT_INCH), page(179.25f, RESUNIT_INCH)});
  TiffOper oper;
  ASSERT_EQ(oper.OpenReadTiffHeader(File("r.tif")), 1);
  const std::uint32_t expected[] = {PAGE_FINE | PAGE_RES_CM, PAGE_RES_CM, PAGE_FINE, 0};
  for (std::uint32_t flags : expected) {
    ASSERT_EQ(oper.ReadTags(), 1);
    EXPECT_EQ(oper.PageInfo().flags, flags);
    oper.NextPage();
  }
}

TEST_F(TiffOperTest, DamagedFilesAreReportedNeverOverrun) {
  const std::string file = File("d.tif");
  WriteFax(file, {{50, PAGE_FINE, 1}, {50, PAGE_FINE, 2}});
  const auto bytes = test::ReadFileBytes(file);
  // Strip 1 lies before directory 1 and the directory sits at the end: move the
  // strip offset of page 1 past the end of the file.
  const auto strip = test::DumpTag(file, 1, TIFFTAG_STRIPOFFSETS);
  ASSERT_TRUE(strip.found);
  {
    TiffOper oper;
    ASSERT_EQ(oper.OpenReadTiffHeader(file), 1);
    ASSERT_EQ(oper.MovePage(1), 1);
    // Past the last page: -1, and the file stays where it was.
    EXPECT_EQ(oper.MovePage(1), -1);
    EXPECT_EQ(oper.CurrentDirectory(), 1);
    EXPECT_EQ(oper.MovePage(-2), -1);
    EXPECT_EQ(oper.CurrentDirectory(), 1);
    // A step back by one returns its delta, -1, and does move.
    EXPECT_EQ(oper.MovePage(-1), -1);
    EXPECT_EQ(oper.CurrentDirectory(), 0);
  }
  // Truncate the file inside page 1's strip.
  std::filesystem::resize_file(file, strip.value + 10);
  TakePool();
  TiffOper oper;
  if (oper.OpenReadTiffHeader(file) == 1 && oper.ReadTags() == 1) {
    // Page 0 survives when its directory does; page data short of its count
    // is a read error, not a silent end of page.
    ReadAll(oper, 4096, false);
  }
  TakePool();

  // Directory chain that loops back to the first directory.
  test::WriteFileBytes(file, bytes);
  {
    const auto dir1 = test::DumpTag(file, 0, TIFFTAG_SUBFILETYPE);  // reads fine
    ASSERT_TRUE(dir1.found);
  }
  std::string looped = bytes;
  const std::uint32_t first = Le<std::uint32_t>(bytes, 4);
  const std::uint32_t second =
      Le<std::uint32_t>(bytes, first + 2 + 12 * Le<std::uint16_t>(bytes, first));
  std::memcpy(looped.data() + second + 2 + 12 * Le<std::uint16_t>(bytes, second), &first, 4);
  test::WriteFileBytes(file, looped);
  ASSERT_EQ(oper.OpenReadTiffHeader(file), 1);
  EXPECT_GE(oper.GetTotalPageNum(), 1);
  int pages = 0;
  while (oper.ReadTags() == 1 && ++pages < 10) {
    ReadAll(oper, 4096, true);
    if (oper.NextPage() != 1) break;
  }
  EXPECT_LT(pages, 10);
  TakePool();
}

TEST_F(TiffOperTest, StripPastEndAndEmptyStrip) {
  const std::string file = File("s.tif");
  WriteFax(file, {{40, PAGE_FINE, 1}});
  std::string bytes = test::ReadFileBytes(file);
  const auto strip = test::DumpTag(file, 0, TIFFTAG_STRIPOFFSETS);
  // Byte count far beyond the file.
  const std::uint32_t huge = 0x7FFFFFF0;
  std::string patched = bytes;
  // Find the StripByteCounts entry value position by searching the directory.
  const std::uint32_t ifd = Le<std::uint32_t>(bytes, 4);
  const std::uint16_t entries = Le<std::uint16_t>(bytes, ifd);
  for (std::uint16_t i = 0; i < entries; ++i) {
    char* entry = patched.data() + ifd + 2 + 12 * i;
    std::uint16_t tag = 0;
    std::memcpy(&tag, entry, 2);
    if (tag == TIFFTAG_STRIPBYTECOUNTS) std::memcpy(entry + 8, &huge, 4);
  }
  test::WriteFileBytes(file, patched);
  TakePool();
  {
    TiffOper oper;
    ASSERT_EQ(oper.OpenReadTiffHeader(file), 1);
    if (oper.ReadTags() == 1) {
      std::vector<std::uint8_t> buffer(kFaxDataChunk);
      int n = 0;
      std::uint64_t total = 0;
      while ((n = oper.ReadFAXData(buffer.data(), buffer.size(), false)) > 0) total += n;
      EXPECT_EQ(n, -1);
      EXPECT_LE(total, bytes.size());
      EXPECT_TRUE(PoolHas(TakePool(), "ErrMsg = Try to read data beyond end of file."));
    }
  }
  // A zero byte count: libtiff takes it for bogus and counts to the end of the
  // file; what is handed out stays within the file.
  const std::uint32_t zero = 0;
  for (std::uint16_t i = 0; i < entries; ++i) {
    char* entry = patched.data() + ifd + 2 + 12 * i;
    std::uint16_t tag = 0;
    std::memcpy(&tag, entry, 2);
    if (tag == TIFFTAG_STRIPBYTECOUNTS) std::memcpy(entry + 8, &zero, 4);
  }
  test::WriteFileBytes(file, patched);
  TiffOper oper;
  ASSERT_EQ(oper.OpenReadTiffHeader(file), 1);
  if (oper.ReadTags() == 1) {
    EXPECT_LE(ReadAll(oper, 64, true).size(), patched.size());
  }
  TakePool();
}

TEST_F(TiffOperTest, HugeImageLengthIsCheckedNotAllocated) {
  const std::string file = File("huge.tif");
  WriteFax(file, {{40, PAGE_FINE, 1}});
  const std::string bytes = test::ReadFileBytes(file);
  const std::uint32_t ifd = Le<std::uint32_t>(bytes, 4);
  auto patch = [&](std::uint32_t length, std::uint32_t rowsPerStrip) {
    std::string patched = bytes;
    for (std::uint16_t i = 0; i < Le<std::uint16_t>(bytes, ifd); ++i) {
      char* entry = patched.data() + ifd + 2 + 12 * i;
      std::uint16_t tag = 0;
      std::memcpy(&tag, entry, 2);
      if (tag == TIFFTAG_IMAGELENGTH) {
        const std::uint16_t longType = TIFF_LONG;  // libtiff wrote a SHORT for 40
        std::memcpy(entry + 2, &longType, 2);
        std::memcpy(entry + 8, &length, 4);
      }
      if (tag == TIFFTAG_ROWSPERSTRIP) std::memcpy(entry + 8, &rowsPerStrip, 4);
    }
    test::WriteFileBytes(file, patched);
  };
  // More rows than the one strip holds: refused by the strip check.
  patch(0xFFFFFFF0, 40);
  TiffOper oper;
  if (oper.OpenReadTiffHeader(file) == 1) {
    EXPECT_EQ(oper.ReadTags(), -1);
    std::uint8_t buffer[16];
    EXPECT_EQ(oper.ReadFAXData(buffer, sizeof buffer, false), 0);
  }
  TakePool();
  // One strip of 4294967280 rows: accepted, and only the strip's bytes go out.
  patch(0xFFFFFFF0, 0xFFFFFFFF);
  ASSERT_EQ(oper.OpenReadTiffHeader(file), 1);
  ASSERT_EQ(oper.ReadTags(), 1);
  EXPECT_EQ(oper.PageInfo().length, 0xFFFFFFF0u);
  EXPECT_EQ(ReadAll(oper, 4096, true).size() > 0, true);
  TakePool();
}

TEST_F(TiffOperTest, PageCountWithoutTotalsCountsDirectories) {
  test::LibTiffPage p;
  p.rows = 5;
  p.bitmap = PatternPage(5, 1);
  const std::string file = File("z.tif");
  test::WriteWithLibTiff(file, {p, p, p, p});
  // Totals of 0, as the document writers leave them before the file is joined.
  {
    UniqueFd fd(::open(file.c_str(), O_RDWR));
    ASSERT_EQ(TIFFUpdateAllPageNum(fd.get(), file, 0), 1);
  }
  EXPECT_EQ(test::DumpTag(file, 3, TIFFTAG_PAGENUMBER).value, 3u);
  EXPECT_EQ(test::DumpTag(file, 3, TIFFTAG_PAGENUMBER).value2, 0u);
  TiffOper oper;
  ASSERT_EQ(oper.OpenReadTiffHeader(file), 1);
  ASSERT_EQ(oper.MovePage(2), 2);
  EXPECT_EQ(oper.GetTotalPageNum(), 4);
  EXPECT_EQ(oper.CurrentDirectory(), 2);
  ASSERT_EQ(oper.ReadTags(), 1);
  EXPECT_EQ(oper.Tags().pageIndex, 2);
}

TEST_F(TiffOperTest, ExistingFileIsNotOverwrittenUnlessAsked) {
  const std::string file = File("x.tif");
  test::WriteFileBytes(file, "keep");
  TiffOper oper;
  EXPECT_EQ(oper.OpenWriteTiff(file), 0);
  const auto records = TakePool();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, "Open File Error FileName=[" + file + "], ErrMsg = File exists");
  EXPECT_EQ(test::ReadFileBytes(file), "keep");
  EXPECT_EQ(oper.OpenWriteTiff(file, CreateMode::Replace), 1);
  EXPECT_EQ(oper.CloseWriteTiff(), 1);
  EXPECT_EQ(oper.SetPageTags(1728, 1, 0), 0);  // no file open
}

TEST_F(TiffOperTest, UnfinishedPageIsKeptWhenTheObjectGoes) {
  const std::string file = File("u.tif");
  {
    TiffOper oper;
    ASSERT_EQ(oper.OpenWriteTiff(file), 1);
    ASSERT_EQ(oper.SetPageTags(1728, 1, PAGE_FINE), 1);
    const auto coded = Coded({30, PAGE_FINE, 5});
    ASSERT_EQ(oper.WriteFaxData(coded.data(), coded.size()), 1);
    ASSERT_EQ(oper.EndPage(30), 1);
    ASSERT_EQ(oper.SetPageTags(1728, 1, PAGE_FINE), 1);
  }
  TiffOper reader;
  ASSERT_EQ(reader.OpenReadTiffHeader(file), 1);
  EXPECT_EQ(reader.GetTotalPageNum(), 2);
  EXPECT_EQ(test::DecodeWithLibTiff(file, 0), PatternPage(30, 5));
}

// ---- line dropping ----

class LineDroppingTest
    : public TiffOperTest,
      public ::testing::WithParamInterface<std::tuple<std::uint32_t, std::size_t>> {};

TEST_P(LineDroppingTest, FinePageBecomesEveryOtherRow) {
  const auto [flags, chunk] = GetParam();
  const std::uint32_t rows = 101;
  const std::string file = File("f.tif");
  WriteFax(file, {{rows, PAGE_FINE | flags, 7}, {rows, flags, 8}});
  TiffOper oper;
  ASSERT_EQ(oper.OpenReadTiffHeader(file), 1);
  ASSERT_EQ(oper.ReadTags(), 1);
  const auto dropped = ReadAll(oper, chunk, true);
  const auto raw = test::RawStripWithLibTiff(file, 0);
  EXPECT_LT(dropped.size(), raw.size() * 3 / 4);
  const std::uint16_t fill = (flags & PAGE_LSB_FIRST) ? FILLORDER_LSB2MSB : FILLORDER_MSB2LSB;
  EXPECT_EQ(test::DecodeG3Strip(dir.path() / "w.tif", dropped, (rows + 1) / 2, fill),
            test::EvenRows(PatternPage(rows, 7)));
  // A normal page ignores dropAlternateLines.
  ASSERT_EQ(oper.NextPage(), 1);
  ASSERT_EQ(oper.ReadTags(), 1);
  EXPECT_EQ(ReadAll(oper, chunk, true), test::RawStripWithLibTiff(file, 1));
  EXPECT_TRUE(TakePool().empty());
}

INSTANTIATE_TEST_SUITE_P(FillOrdersAndChunks, LineDroppingTest,
                         ::testing::Combine(::testing::Values(0u, PAGE_LSB_FIRST),
                                            ::testing::Values(std::size_t{4096}, std::size_t{5},
                                                              std::size_t{97})));

TEST_F(TiffOperTest, LineDroppingEndsThePageAtReturnToControl) {
  auto coded = Coded({20, PAGE_FINE, 3});
  // Six EOLs (return to control) and data behind them that is no page data.
  const std::uint8_t rtc[] = {0x00, 0x10, 0x01, 0x00, 0x10, 0x01, 0x00, 0x10, 0x01};
  coded.insert(coded.end(), std::begin(rtc), std::end(rtc));
  const std::vector<std::uint8_t> junk(5000, 0x5A);
  coded.insert(coded.end(), junk.begin(), junk.end());
  const std::string file = File("rtc.tif");
  {
    TiffOper oper;
    ASSERT_EQ(oper.OpenWriteTiff(file), 1);
    ASSERT_EQ(oper.SetPageTags(1728, 1, PAGE_FINE), 1);
    ASSERT_EQ(oper.WriteFaxData(coded.data(), coded.size()), 1);
    ASSERT_EQ(oper.EndPage(20), 1);
    ASSERT_EQ(oper.CloseWriteTiff(), 1);
  }
  TiffOper oper;
  ASSERT_EQ(oper.OpenReadTiffHeader(file), 1);
  ASSERT_EQ(oper.ReadTags(), 1);
  const auto out = ReadAll(oper, 4096, true);
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ(out.back(), 0x01);  // the sixth EOL ends what is handed out
  EXPECT_LT(out.size(), coded.size() - junk.size());
  EXPECT_EQ(test::DecodeG3Strip(dir.path() / "w.tif", out, 10), test::EvenRows(PatternPage(20, 3)));
}

TEST_F(TiffOperTest, LineLongerThanOneReadDoesNotEndThePage) {
  // A kept line, then a "line" of 10000 bytes of non-EOL data, then more lines.
  auto coded = Coded({4, PAGE_FINE, 1});
  std::vector<std::uint8_t> page(coded.begin(), coded.end());
  std::vector<std::uint8_t> longLine(10000, 0x55);
  page.insert(page.end(), longLine.begin(), longLine.end());
  page.insert(page.end(), coded.begin(), coded.end());
  const std::string file = File("long.tif");
  {
    TiffOper oper;
    ASSERT_EQ(oper.OpenWriteTiff(file), 1);
    ASSERT_EQ(oper.SetPageTags(1728, 1, PAGE_FINE), 1);
    ASSERT_EQ(oper.WriteFaxData(page.data(), page.size()), 1);
    ASSERT_EQ(oper.EndPage(8), 1);
    ASSERT_EQ(oper.CloseWriteTiff(), 1);
  }
  TiffOper oper;
  ASSERT_EQ(oper.OpenReadTiffHeader(file), 1);
  ASSERT_EQ(oper.ReadTags(), 1);
  const auto out = ReadAll(oper, 4096, true);
  // The long line falls to a dropped line; the lines behind it still go out.
  const auto even = test::EvenRows(PatternPage(4, 1));
  auto expected = even;
  expected.insert(expected.end(), even.begin(), even.end());
  EXPECT_EQ(test::DecodeG3Strip(dir.path() / "w.tif", out, 4), expected);
}

// ---- page header hook ----

TEST_F(TiffOperTest, PageHeaderGoesOutBeforeThePageData) {
  const std::string file = File("h.tif");
  WriteFax(file, {{30, PAGE_FINE, 1}, {30, PAGE_FINE, 2}});
  const std::vector<std::uint8_t> header(5000, 0xAB);
  TiffOper oper;
  oper.SetErrorPool(true);
  ASSERT_EQ(oper.OpenReadTiffHeader(file), 1);
  ASSERT_EQ(oper.ReadTags(), 1);
  oper.SetPageHeader(header);
  EXPECT_TRUE(oper.PageHeaderReady());
  auto out = ReadAll(oper, 4096, false);
  std::vector<std::uint8_t> expected = header;
  const auto raw = test::RawStripWithLibTiff(file, 0);
  expected.insert(expected.end(), raw.begin(), raw.end());
  EXPECT_EQ(out, expected);
  // The next page has no header until one is set for it.
  ASSERT_EQ(oper.NextPage(), 1);
  ASSERT_EQ(oper.ReadTags(), 1);
  EXPECT_FALSE(oper.PageHeaderReady());
  EXPECT_EQ(ReadAll(oper, 4096, false), test::RawStripWithLibTiff(file, 1));

  // Without the header permission nothing is taken.
  TiffOper receiver;
  receiver.SetErrorPool(false);
  ASSERT_EQ(receiver.OpenReadTiffHeader(file), 1);
  ASSERT_EQ(receiver.ReadTags(), 1);
  receiver.SetPageHeader(header);
  EXPECT_FALSE(receiver.PageHeaderReady());
}

}  // namespace
}  // namespace vexo
