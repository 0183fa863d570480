// TiffOper on files written and decoded by libtiff: ReadFAXData, foreign and
// damaged files, line dropping checked by decoding what it hands out.
#include "document/tiff_oper.h"

#include <fcntl.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "document/fax_coding.h"
#include "document/tiff_update.h"
#include "tests/document/test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::PatternPage;
using test::PoolHas;
using test::TakeErrors;

struct Page {
  std::uint32_t rows, flags;
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
  StripCoding coding;
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
  std::vector<std::uint8_t> out, buffer(chunk);
  int n = 0;
  while ((n = oper.ReadFAXData(buffer.data(), buffer.size(), drop)) > 0) {
    EXPECT_LE(static_cast<std::size_t>(n), std::min(chunk, kFaxDataChunk));
    out.insert(out.end(), buffer.begin(), buffer.begin() + n);
  }
  EXPECT_EQ(n, 0);
  return out;
}

class TiffOperTest : public ::testing::Test {
 protected:
  void SetUp() override { TakeErrors(); }
  std::string File(const char* name) const { return (dir.path() / name).string(); }
  // Writes one fine page of coded bytes, reads it back with line dropping and
  // decodes what was handed out.
  std::vector<std::uint8_t> DroppedRows(const std::vector<std::uint8_t>& coded, std::uint32_t rows,
                                        std::uint32_t keptRows) {
    const std::string file = File("raw.tif");
    TiffOper oper;
    EXPECT_EQ(oper.OpenWriteTiff(file, CreateMode::Replace), 1);
    EXPECT_EQ(oper.SetPageTags(1728, 1, PAGE_FINE), 1);
    EXPECT_EQ(oper.WriteFaxData(coded.data(), coded.size()), 1);
    EXPECT_EQ(oper.EndPage(rows), 1);
    EXPECT_EQ(oper.CloseWriteTiff(), 1);
    EXPECT_EQ(oper.OpenReadTiffHeader(file), 1);
    EXPECT_EQ(oper.ReadTags(), 1);
    handedOut = ReadAll(oper, 4096, true);
    return test::DecodeG3Strip(dir.path() / "w.tif", handedOut, keptRows);
  }

  test::TempDir dir;
  std::vector<std::uint8_t> handedOut;  // the coded bytes DroppedRows read
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
    EXPECT_EQ(test::DumpTag(file, i, TIFFTAG_YRESOLUTION).rational,
              (std::vector<std::uint32_t>{(pages[i].flags & PAGE_FINE) ? 196u : 98u, 1}));
    const auto pageNumber = test::DumpTag(file, i, TIFFTAG_PAGENUMBER);  // (index, total)
    EXPECT_EQ(pageNumber.value, static_cast<std::uint32_t>(i));
    EXPECT_EQ(pageNumber.value2, 3u);
  }

  TiffOper oper;
  oper.SetErrorPool(true);
  ASSERT_EQ(oper.OpenReadTiffHeader(file), 1);
  EXPECT_EQ(oper.GetTotalPageNum(), 3);
  EXPECT_EQ(oper.MovePage(0), 3);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(oper.ReadTags(), 1);
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
  EXPECT_TRUE(TakeErrors().empty());
}

TEST_F(TiffOperTest, MarkerDecidesWhetherAFileIsAccepted) {
  for (const char* software : {"vexo", "", "fax2tiff"}) {
    SCOPED_TRACE(software);
    const std::string file = File("marker.tif");
    test::WriteWithLibTiff(file, {{PatternPage(10, 4), 10, 1728, 3, 1, 0, 209, 2, 1, software}});
    TiffOper oper;
    const bool ours = software == std::string("vexo");  // in any case
    EXPECT_EQ(oper.OpenReadTiffHeader(file), ours ? 1 : 0);
    const auto records = TakeErrors();
    ASSERT_EQ(records.size(), ours ? 0u : 1u);
    if (ours) continue;
    EXPECT_EQ(records[0].message,
              "Unsupported TIFF file format, please make sure the TIFF file is created by Vexo, "
              "TifFile = " +
                  file);
    EXPECT_EQ(*records[0].function, "OpenReadTiffHeader");
    EXPECT_EQ(oper.ReadTags(), -1);
  }
  TiffOper oper;
  EXPECT_EQ(oper.OpenReadTiffHeader(File("missing.tif")), 0);
  const auto records = TakeErrors();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(*records[0].function, "CreateFile");
  EXPECT_EQ(records[0].message, "Open File Error FileName=[" + File("missing.tif") +
                                    "], ErrMsg = No such file or directory");
}

TEST_F(TiffOperTest, ReadTagsRefusesPagesThatCannotBeSent) {
  struct Case {
    const char* name;
    std::uint32_t width, rowsPerStrip;
    std::uint16_t compression, bits, unit;
    const char* reason;
  };
  const Case cases[] = {
      {"wide", 2048, 0, COMPRESSION_CCITTFAX3, 1, RESUNIT_INCH,
       "Not support TIFF image width is not 1728 pixels."},
      {"plain", 1728, 0, COMPRESSION_NONE, 1, RESUNIT_INCH,
       "Unsupport TIFF file compression type."},
      {"grey", 1728, 0, COMPRESSION_NONE, 8, RESUNIT_INCH,
       "Unsupport TIFF file that is not black and white only."},
      {"strips", 1728, 3, COMPRESSION_CCITTFAX3, 1, RESUNIT_INCH,
       "Error TIFF format (Image length is larger than rows in image)."},
      {"unit", 1728, 0, COMPRESSION_CCITTFAX3, 1, RESUNIT_NONE,
       "Undefined resolution unit in the TIFF image file."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::LibTiffPage page{std::vector<std::uint8_t>(8 * (c.width * c.bits / 8), 0), 8, c.width,
                           c.compression};
    page.rowsPerStrip = c.rowsPerStrip;
    page.bitsPerSample = c.bits;
    page.resolutionUnit = c.unit;
    const std::string file = File(c.name);
    test::WriteWithLibTiff(file, {page});
    TakeErrors();
    TiffOper oper;
    ASSERT_EQ(oper.OpenReadTiffHeader(file), 1);
    EXPECT_EQ(oper.ReadTags(), -1);
    std::uint8_t buffer[16];
    EXPECT_EQ(oper.ReadFAXData(buffer, sizeof buffer, false), 0);  // no page to send
    const auto records = TakeErrors();
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
    return test::LibTiffPage{PatternPage(4, 1), 4, test::kTestWidth, 3, 1, 0, y, unit};
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
  // Cut inside page 1's strip (directory 1 sits at the end, behind it). Page 0
  // survives when its directory does; short page data is a read error.
  std::filesystem::resize_file(file, test::DumpTag(file, 1, TIFFTAG_STRIPOFFSETS).value + 10);
  TiffOper oper;
  if (oper.OpenReadTiffHeader(file) == 1 && oper.ReadTags() == 1) ReadAll(oper, 4096, false);
  TakeErrors();
  // Directory chain that loops back to the first directory.
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
  TakeErrors();
}

TEST_F(TiffOperTest, PatchedCountsAndLengthsStayWithinTheFile) {
  const std::string file = File("s.tif");
  WriteFax(file, {{40, PAGE_FINE, 1}});
  const std::string bytes = test::ReadFileBytes(file);
  // Rewrites the file with the given tags as LONG values.
  auto patch = [&](std::map<std::uint16_t, std::uint32_t> values) {
    std::string patched = bytes;
    const std::uint32_t ifd = Le<std::uint32_t>(bytes, 4);
    for (std::uint16_t i = 0; i < Le<std::uint16_t>(bytes, ifd); ++i) {
      char* entry = patched.data() + ifd + 2 + 12 * i;
      const std::uint16_t tag = Le<std::uint16_t>(bytes, ifd + 2 + 12 * i), longType = TIFF_LONG;
      if (!values.contains(tag)) continue;
      std::memcpy(entry + 2, &longType, 2);  // libtiff writes a SHORT for 40
      std::memcpy(entry + 8, &values[tag], 4);
    }
    test::WriteFileBytes(file, patched);
  };
  patch({{TIFFTAG_STRIPBYTECOUNTS, 0x7FFFFFF0}});  // far beyond the file
  TakeErrors();
  TiffOper oper;
  ASSERT_EQ(oper.OpenReadTiffHeader(file), 1);
  if (oper.ReadTags() == 1) {
    std::vector<std::uint8_t> buffer(kFaxDataChunk);
    int n = 0;
    std::uint64_t total = 0;
    while ((n = oper.ReadFAXData(buffer.data(), buffer.size(), false)) > 0) total += n;
    EXPECT_EQ(n, -1);
    EXPECT_LE(total, bytes.size());
    EXPECT_TRUE(PoolHas(TakeErrors(), "ErrMsg = Try to read data beyond end of file."));
  }
  // A zero byte count: libtiff takes it for bogus and counts to the end of the
  // file; what is handed out stays within the file.
  patch({{TIFFTAG_STRIPBYTECOUNTS, 0}});
  ASSERT_EQ(oper.OpenReadTiffHeader(file), 1);
  EXPECT_TRUE(oper.ReadTags() != 1 || ReadAll(oper, 64, true).size() <= bytes.size());
  // One strip of 4294967280 rows: accepted, nothing allocated for them, and
  // only the strip's bytes go out.
  patch({{TIFFTAG_IMAGELENGTH, 0xFFFFFFF0}, {TIFFTAG_ROWSPERSTRIP, 0xFFFFFFFF}});
  ASSERT_EQ(oper.OpenReadTiffHeader(file), 1);
  ASSERT_EQ(oper.ReadTags(), 1);
  EXPECT_EQ(oper.PageInfo().length, 0xFFFFFFF0u);
  EXPECT_FALSE(ReadAll(oper, 4096, true).empty());
  TakeErrors();
}

TEST_F(TiffOperTest, PageCountWithoutTotalsCountsDirectories) {
  const std::string file = File("z.tif");
  test::WriteWithLibTiff(file, std::vector<test::LibTiffPage>(4, {PatternPage(5, 1), 5}));
  // Totals of 0, as the document writers leave them before the file is joined.
  ASSERT_EQ(TIFFUpdateAllPageNum(UniqueFd(::open(file.c_str(), O_RDWR)).get(), file, 0), 1);
  TiffOper oper;
  ASSERT_EQ(oper.OpenReadTiffHeader(file), 1);
  ASSERT_EQ(oper.MovePage(2), 2);
  EXPECT_EQ(oper.GetTotalPageNum(), 4);
  EXPECT_EQ(oper.CurrentDirectory(), 2);
  // Past either end: -1, and the file stays where it was.
  EXPECT_EQ(oper.MovePage(2), -1);
  EXPECT_EQ(oper.MovePage(-3), -1);
  EXPECT_EQ(oper.CurrentDirectory(), 2);
  // A step back by one returns its delta, -1, and does move.
  EXPECT_EQ(oper.MovePage(-1), -1);
  ASSERT_EQ(oper.ReadTags(), 1);
  EXPECT_EQ(oper.Tags().pageIndex, 1);
}

TEST_F(TiffOperTest, ExistingFileIsKeptAndAnUnfinishedPageToo) {
  const std::string file = File("u.tif");
  test::WriteFileBytes(file, "keep");
  TiffOper writer;
  EXPECT_EQ(writer.OpenWriteTiff(file), 0);
  const auto records = TakeErrors();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, "Open File Error FileName=[" + file + "], ErrMsg = File exists");
  EXPECT_EQ(test::ReadFileBytes(file), "keep");
  EXPECT_EQ(writer.SetPageTags(1728, 1, 0), 0);  // no file open
}

// A page the call cut off, after a whole one: kept with the rows that arrived
// whole as its length (ended, or still open when the object goes), or left out.
TEST_F(TiffOperTest, ACutPageKeepsItsWholeRowsOrIsLeftOut) {
  const auto mh = Coded({30, PAGE_FINE, 5});
  const std::size_t twelveRows = Coded({12, PAGE_FINE, 5}).size();
  const auto pattern = PatternPage(30, 5);
  const auto mmr = EncodeFaxPage({1728, 30, pattern}, FaxCoding::kMmr, true, true);
  struct Cut {
    const char* name;
    const std::vector<std::uint8_t>& data;
    std::size_t bytes;
    std::uint32_t flags, rows;  // rows 0: left out; kSome: MMR's whole rows
    bool leftOpen;
  };
  constexpr std::uint32_t kSome = 99;
  const std::vector<std::uint8_t> noise(400, 0x00);
  for (const Cut& cut : {Cut{"inside row 13", mh, twelveRows + 2, 0, 12, false},
                         Cut{"after row 12, open", mh, twelveRows, 0, 12, true},
                         Cut{"inside row 1", mh, 3, 0, 0, false},
                         Cut{"MMR halfway, open", mmr, mmr.size() / 2, PAGE_G4, kSome, true},
                         Cut{"MMR that does not decode", noise, noise.size(), PAGE_G4, 0, false}}) {
    SCOPED_TRACE(cut.name);
    const std::string file = File("cut.tif");
    {
      TiffOper oper;
      ASSERT_EQ(oper.OpenWriteTiff(file, CreateMode::Replace), 1);
      for (const bool whole : {true, false}) {
        ASSERT_EQ(oper.SetPageTags(1728, 1, PAGE_FINE | (whole ? 0 : cut.flags)), 1);
        ASSERT_EQ(
            oper.WriteFaxData(whole ? mh.data() : cut.data.data(), whole ? mh.size() : cut.bytes),
            1);
        ASSERT_EQ(whole ? oper.EndPage(30) : cut.leftOpen ? 1 : oper.EndCutPage(), 1);
      }
      EXPECT_EQ(oper.PageCounter(), cut.rows == 0 || cut.leftOpen ? 1u : 2u);
    }
    EXPECT_TRUE(test::RunCommand("tiffinfo -D " + file + " >/dev/null 2>&1"));
    const std::uint32_t pages = cut.rows == 0 ? 1 : 2;
    EXPECT_EQ(test::DumpTag(file, 0, TIFFTAG_PAGENUMBER).value2, pages);
    if (pages == 1) continue;
    const std::uint32_t rows = test::DumpTag(file, 1, TIFFTAG_IMAGELENGTH).value;
    EXPECT_EQ(test::DumpTag(file, 1, TIFFTAG_ROWSPERSTRIP).value, rows);
    EXPECT_TRUE(cut.rows == kSome ? rows > 0 && rows < 30 : rows == cut.rows) << rows;
    EXPECT_EQ(test::DecodeWithLibTiff(file, 1), PatternPage(rows, 5));
  }
  EXPECT_TRUE(TakeErrors().empty());
}

// A page the file cannot take (it may not grow) is reported and nothing more
// is written: the pages before it stay whole and counted, whether its data or
// only its directory failed.
TEST_F(TiffOperTest, APageThatCannotBeWrittenLeavesThePagesBefore) {
  const auto coded = Coded({30, PAGE_FINE, 5});
  const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  for (const std::size_t room : {coded.size() / 2, coded.size() + 8}) {
    SCOPED_TRACE(room);
    const std::string file = File("full.tif");
    TiffOper oper;
    ASSERT_EQ(oper.OpenWriteTiff(file, CreateMode::Replace), 1);
    for (const bool full : {false, true}) {
      ASSERT_EQ(oper.SetPageTags(1728, 1, PAGE_FINE), 1);
      ASSERT_EQ(oper.WriteFaxData(coded.data(), coded.size()), 1);
      const rlimit limit{std::filesystem::file_size(file) + room, saved.rlim_max};
      if (full) ::setrlimit(RLIMIT_FSIZE, &limit);
      EXPECT_EQ(oper.EndPage(30), full ? 0 : 1);
      ::setrlimit(RLIMIT_FSIZE, &saved);
    }
    EXPECT_EQ(oper.SetPageTags(1728, 1, PAGE_FINE), 0);
    EXPECT_EQ(oper.CloseWriteTiff(), 0);
    EXPECT_EQ(oper.PageCounter(), 1u);
    EXPECT_TRUE(PoolHas(TakeErrors(), "The page could not be written"));
    EXPECT_TRUE(test::RunCommand("tiffinfo -D " + file + " >/dev/null 2>&1"));
    EXPECT_EQ(test::DumpTag(file, 0, TIFFTAG_PAGENUMBER).value2, 1u);
    EXPECT_EQ(test::DecodeWithLibTiff(file, 0), PatternPage(30, 5));
  }
  ::signal(SIGXFSZ, oldHandler);
}

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
  EXPECT_TRUE(TakeErrors().empty());
}

INSTANTIATE_TEST_SUITE_P(FillOrdersAndChunks, LineDroppingTest,
                         ::testing::Combine(::testing::Values(0u, PAGE_LSB_FIRST),
                                            ::testing::Values(std::size_t{4096}, std::size_t{5},
                                                              std::size_t{97})));

TEST_F(TiffOperTest, LineDroppingEndsAtReturnToControlNotAtALongLine) {
  auto coded = Coded({20, PAGE_FINE, 3});
  // Six EOLs (return to control) and data behind them that is no page data.
  const std::uint8_t rtc[] = {0x00, 0x10, 0x01, 0x00, 0x10, 0x01, 0x00, 0x10, 0x01};
  coded.insert(coded.end(), std::begin(rtc), std::end(rtc));
  const std::vector<std::uint8_t> junk(5000, 0x5A);
  coded.insert(coded.end(), junk.begin(), junk.end());
  EXPECT_EQ(DroppedRows(coded, 20, 10), test::EvenRows(PatternPage(20, 3)));
  ASSERT_GE(handedOut.size(), 3u);
  EXPECT_EQ(handedOut.back(), 0x01);  // the sixth EOL ends what is handed out
  EXPECT_LT(handedOut.size(), coded.size() - junk.size());
  // A kept line, then a "line" of 10000 bytes of non-EOL data, then more lines:
  // the long line falls to a dropped line; the lines behind it still go out.
  const auto four = Coded({4, PAGE_FINE, 1});
  coded = four;
  coded.insert(coded.end(), 10000, 0x55);
  coded.insert(coded.end(), four.begin(), four.end());
  const auto even = test::EvenRows(PatternPage(4, 1));
  auto expected = even;
  expected.insert(expected.end(), even.begin(), even.end());
  EXPECT_EQ(DroppedRows(coded, 8, 4), expected);
}

}  // namespace
}  // namespace vexo
