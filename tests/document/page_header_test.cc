// The page header: geometry, texts, coding, later pages, and delivery ahead of
// the page data through ReadFAXData. Decoding is done by libtiff.
#include "document/page_header.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/text.h"
#include "tests/document/tiff_test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::DecodeG3Strip;
using test::kTestRowBytes;
using test::kTestWidth;

constexpr LocalTime kCallTime{2026, 3, 7, 9, 5, 3, 0, 6};

// A one-page (or more) fax file as the system writes them, open on the read
// side with its first page loaded, ready for GenHeader.
class HeaderTest : public ::testing::Test {
 protected:
  void SetUp() override { test::TakePool(); }

  std::filesystem::path MakeFile(const std::string& name, bool fine, int pages = 1,
                                 std::uint32_t rows = 120) {
    std::vector<test::LibTiffPage> list;
    for (int i = 0; i < pages; ++i) {
      test::LibTiffPage page;
      page.rows = rows;
      page.bitmap = test::PatternPage(rows, 7 + i);
      page.yResolution = fine ? 209.0f : 104.5f;
      list.push_back(page);
    }
    const auto path = dir.path() / name;
    test::WriteWithLibTiff(path, list);
    return path;
  }

  void OpenForSending(TiffOper& oper, const std::filesystem::path& file, bool readFlag = true) {
    oper.SetErrorPool(readFlag);
    ASSERT_EQ(oper.OpenReadTiffHeader(file.string()), 1);
    ASSERT_EQ(oper.ReadTags(), 1);
    PageHeader& header = PageHeaderOf(oper);
    header.SetSender("Ann Sender");
    header.SetRecipient("Bob Receiver");
    header.SetClock([] { return kCallTime; });
  }

  // Header bytes as ReadFAXData hands them out first.
  std::vector<std::uint8_t> Coded(TiffOper& oper) {
    std::vector<std::uint8_t> out(oper.PageHeaderSize());
    std::uint8_t chunk[kFaxDataChunk];
    std::size_t at = 0;
    while (at < out.size()) {
      const int n = oper.ReadFAXData(chunk, sizeof chunk, false);
      EXPECT_GT(n, 0);
      if (n <= 0) break;
      std::copy_n(chunk, std::min<std::size_t>(n, out.size() - at), out.begin() + at);
      at += n;
    }
    return out;
  }

  std::vector<std::uint8_t> Decode(const std::vector<std::uint8_t>& coded, std::uint32_t rows) {
    return DecodeG3Strip(dir.path() / "decode.tif", coded, rows);
  }

  static bool Black(const std::vector<std::uint8_t>& rows, int x, int y) {
    return (rows[static_cast<std::size_t>(y) * kTestRowBytes + x / 8] & (0x80 >> (x % 8))) != 0;
  }

  static std::size_t InkIn(const std::vector<std::uint8_t>& rows, const Rect& r) {
    std::size_t n = 0;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) n += Black(rows, x, y);
    return n;
  }

  static std::vector<std::uint8_t> BitmapRows(const MonoBitmap& bitmap, bool even) {
    std::vector<std::uint8_t> rows;
    for (int y = 0; y < bitmap.Height(); y += even ? 2 : 1) {
      const auto row = bitmap.Row(y).first(kTestRowBytes);
      rows.insert(rows.end(), row.begin(), row.end());
    }
    return rows;
  }

  test::TempDir dir;
};

TEST(HeaderLayout, GeometryAt209Dpi) {
  const HeaderGeometry g = HeaderGeometry::For(1728, 209, 209);
  EXPECT_EQ(g.height, 82);
  EXPECT_EQ(g.top, 41);
  EXPECT_EQ(g.left, 55);
  EXPECT_EQ(g.right, 1672);
  EXPECT_EQ(g.bottom, 81);
  EXPECT_EQ(g.PartiesRect(), (Rect{65, 41, 881, 81}));
  EXPECT_EQ(g.DateRect(), (Rect{911, 41, 1393, 81}));
  EXPECT_EQ(g.PageRect(), (Rect{1423, 41, 1672, 81}));
  EXPECT_EQ(g.PageClearRect(), (Rect{1423, 41, 1672, 78}));
  // 400 dpi pages get a taller header; unusable numerators count as 209.
  EXPECT_EQ(HeaderGeometry::For(1728, 400, 400).height, 157);
  EXPECT_EQ(HeaderGeometry::For(1728, 0, 0).height, 82);
  EXPECT_EQ(HeaderGeometry::For(1728, 209, 4000000000u).height, 82);
}

TEST(HeaderLayout, TextsAsSent) {
  EXPECT_EQ(FormatHeaderParties("Ann", "Bob"), "From:Ann          To:Bob");
  EXPECT_EQ(FormatHeaderDate(kCallTime), "Date: 3/7/2026   Time: 9:5:3");
  EXPECT_EQ(FormatHeaderPage(2, 5), "Page 2 of 5");
  const std::string parties = FormatHeaderParties(std::string(400, 'x'), "Bob");
  EXPECT_EQ(parties.size(), kHeaderPartiesChars);
  // Characters, not bytes, are counted, and none is cut in half.
  std::string chinese;
  for (int i = 0; i < 400; ++i) chinese += "王";
  EXPECT_EQ(Utf8Length(FormatHeaderParties(chinese, "")), kHeaderPartiesChars);
}

TEST_F(HeaderTest, FineHeaderDecodesToItsDrawing) {
  TiffOper oper;
  OpenForSending(oper, MakeFile("fine.tif", true));
  ASSERT_EQ(GenHeader(oper, 1, 5, false), 1);
  const PageHeader& header = PageHeaderOf(oper);
  ASSERT_FALSE(header.Halving());
  const auto decoded = Decode(Coded(oper), 82);
  ASSERT_EQ(decoded.size(), 82 * kTestRowBytes);
  EXPECT_EQ(decoded, BitmapRows(header.Renderer()->Bitmap(), false));
}

TEST_F(HeaderTest, NormalPagesAndSendAsNormalGetEveryOtherRow) {
  for (const bool finePage : {false, true}) {
    TiffOper oper;
    OpenForSending(oper, MakeFile(finePage ? "fine.tif" : "normal.tif", finePage));
    ASSERT_EQ(GenHeader(oper, 1, 1, /*sendAsNormal=*/finePage), 1);
    const PageHeader& header = PageHeaderOf(oper);
    EXPECT_TRUE(header.Halving());
    EXPECT_EQ(header.Renderer()->Bitmap().Height(), 82);
    const auto decoded = Decode(Coded(oper), 41);
    ASSERT_EQ(decoded.size(), 41 * kTestRowBytes);
    EXPECT_EQ(decoded, BitmapRows(header.Renderer()->Bitmap(), true));
  }
}

TEST_F(HeaderTest, LineAndTextsSitWhereTheGeometrySays) {
  TiffOper oper;
  OpenForSending(oper, MakeFile("fine.tif", true));
  ASSERT_EQ(GenHeader(oper, 2, 5, false), 1);
  const auto rows = Decode(Coded(oper), 82);
  const HeaderGeometry g = HeaderGeometry::For(1728, 209, 209);
  // The line: rows 78 to 80, from L to R inclusive.
  EXPECT_EQ(InkIn(rows, {55, 78, 1673, 81}), 1618u * 3);
  EXPECT_EQ(InkIn(rows, {0, 78, 55, 81}), 0u);
  EXPECT_EQ(InkIn(rows, {1673, 78, 1728, 81}), 0u);
  EXPECT_EQ(InkIn(rows, {0, 81, 1728, 82}), 0u);
  // Nothing above the text top; every other pixel lies in one of the three texts.
  EXPECT_EQ(InkIn(rows, {0, 0, 1728, 41}), 0u);
  auto aboveLine = [](Rect r) {
    r.bottom = 78;
    return r;
  };
  const std::size_t parties = InkIn(rows, aboveLine(g.PartiesRect()));
  const std::size_t date = InkIn(rows, aboveLine(g.DateRect()));
  const std::size_t page = InkIn(rows, aboveLine(g.PageRect()));
  EXPECT_GT(parties, 500u);
  EXPECT_GT(date, 500u);
  EXPECT_GT(page, 200u);
  EXPECT_EQ(InkIn(rows, {0, 41, 1728, 78}), parties + date + page);
}

TEST_F(HeaderTest, LongSenderNeverTouchesTheDate) {
  TiffOper shortOper, longOper;
  OpenForSending(shortOper, MakeFile("a.tif", true));
  OpenForSending(longOper, MakeFile("b.tif", true));
  PageHeaderOf(longOper).SetSender(std::string(400, 'W'));
  ASSERT_EQ(GenHeader(shortOper, 1, 1, false), 1);
  ASSERT_EQ(GenHeader(longOper, 1, 1, false), 1);
  const auto shortRows = Decode(Coded(shortOper), 82);
  const auto longRows = Decode(Coded(longOper), 82);
  const HeaderGeometry g = HeaderGeometry::For(1728, 209, 209);
  // The sender fills its rectangle up to the edge and stops there.
  EXPECT_GT(InkIn(longRows, {g.PartiesRect().right - 20, 41, g.PartiesRect().right, 78}), 0u);
  EXPECT_EQ(InkIn(longRows, {g.PartiesRect().right, 41, g.DateRect().left, 78}), 0u);
  const Rect rest{g.DateRect().left, 0, 1728, 82};
  for (int y = rest.top; y < rest.bottom; ++y)
    for (int x = rest.left; x < rest.right; ++x)
      ASSERT_EQ(Black(longRows, x, y), Black(shortRows, x, y)) << x << "," << y;
}

TEST_F(HeaderTest, LaterPagesRedrawOnlyThePageNumber) {
  TiffOper oper;
  OpenForSending(oper, MakeFile("three.tif", true, 3));
  ASSERT_EQ(GenHeader(oper, 10, 12, false), 1);
  const auto first = Decode(Coded(oper), 82);
  ASSERT_EQ(oper.NextPage(), 1);
  ASSERT_EQ(oper.ReadTags(), 1);
  // Sender and date stay those of the first page even when changed now.
  PageHeaderOf(oper).SetSender("Somebody Else");
  PageHeaderOf(oper).SetClock([] { return LocalTime{2030, 1, 1, 1, 1, 1, 0, 0}; });
  ASSERT_EQ(GenHeader(oper, 2, 5, false), 1);
  const auto second = Coded(oper);

  TiffOper fresh;
  OpenForSending(fresh, MakeFile("fresh.tif", true));
  ASSERT_EQ(GenHeader(fresh, 2, 5, false), 1);
  EXPECT_EQ(second, Coded(fresh));  // no digit of "10 of 12" is left

  const auto secondRows = Decode(second, 82);
  const HeaderGeometry g = HeaderGeometry::For(1728, 209, 209);
  EXPECT_NE(InkIn(first, g.PageRect()), InkIn(secondRows, g.PageRect()));
  EXPECT_EQ(InkIn(first, {0, 0, g.PageRect().left, 82}),
            InkIn(secondRows, {0, 0, g.PageRect().left, 82}));
}

TEST_F(HeaderTest, HalvingOfTheFirstPageHoldsForTheCall) {
  TiffOper oper;
  OpenForSending(oper, MakeFile("two.tif", true, 2));
  ASSERT_EQ(GenHeader(oper, 1, 2, false), 1);
  ASSERT_EQ(oper.NextPage(), 1);
  ASSERT_EQ(oper.ReadTags(), 1);
  ASSERT_EQ(GenHeader(oper, 2, 2, true), 1);
  EXPECT_FALSE(PageHeaderOf(oper).Halving());
  EXPECT_EQ(Decode(Coded(oper), 82).size(), 82 * kTestRowBytes);
}

TEST_F(HeaderTest, ReadFaxDataDeliversHeaderThenPageInAnyChunkSize) {
  const auto file = MakeFile("page.tif", true, 1, 150);
  const auto page = test::RawStripWithLibTiff(file, 0);
  ASSERT_FALSE(page.empty());
  std::vector<std::uint8_t> header;
  for (const std::size_t chunk :
       {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{17}, std::size_t{216},
        std::size_t{1000}, std::size_t{4095}, kFaxDataChunk}) {
    TiffOper oper;
    OpenForSending(oper, file);
    ASSERT_EQ(GenHeader(oper, 1, 1, false), 1);
    if (header.empty()) {
      TiffOper probe;
      OpenForSending(probe, file);
      ASSERT_EQ(GenHeader(probe, 1, 1, false), 1);
      header = Coded(probe);
    }
    ASSERT_EQ(oper.PageHeaderSize(), header.size());
    std::vector<std::uint8_t> sent;
    std::vector<std::uint8_t> buffer(chunk);
    for (int n; (n = oper.ReadFAXData(buffer.data(), chunk, false)) != 0;) {
      ASSERT_GT(n, 0);
      ASSERT_LE(static_cast<std::size_t>(n), chunk);
      sent.insert(sent.end(), buffer.begin(), buffer.begin() + n);
    }
    std::vector<std::uint8_t> expected = header;
    expected.insert(expected.end(), page.begin(), page.end());
    ASSERT_EQ(sent, expected) << "chunk " << chunk;
  }
  // Header and page decode as one longer page.
  std::vector<std::uint8_t> both = header;
  both.insert(both.end(), page.begin(), page.end());
  const auto rows = Decode(both, 82 + 150);
  ASSERT_EQ(rows.size(), (82 + 150) * kTestRowBytes);
  const auto pageRows = test::PatternPage(150, 7);
  EXPECT_TRUE(std::equal(pageRows.begin(), pageRows.end(), rows.begin() + 82 * kTestRowBytes));
}

TEST_F(HeaderTest, WithoutReadFlagThereIsNoHeader) {
  const auto file = MakeFile("page.tif", true);
  TiffOper oper;
  OpenForSending(oper, file, /*readFlag=*/false);
  EXPECT_EQ(GenHeader(oper, 1, 1, false), 0);
  const auto records = test::TakePool();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].module.value_or(""), "TiffOper");
  EXPECT_EQ(records[0].function.value_or(""), "GenHeader");
  EXPECT_EQ(records[0].message, "TiffOper object without ReadFlag can not generate fax header");
  EXPECT_FALSE(oper.PageHeaderReady());
  std::vector<std::uint8_t> sent(kFaxDataChunk);
  const int n = oper.ReadFAXData(sent.data(), sent.size(), false);
  sent.resize(std::max(n, 0));
  EXPECT_EQ(sent, test::RawStripWithLibTiff(file, 0));
}

TEST_F(HeaderTest, NoLoadedPageMeansNoHeader) {
  TiffOper oper;
  oper.SetErrorPool(true);
  EXPECT_EQ(GenHeader(oper, 1, 1, false), 0);
  EXPECT_FALSE(oper.PageHeaderReady());
  const auto records = test::TakePool();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].function.value_or(""), "CreateDIBSection");
  EXPECT_TRUE(records[0].message.starts_with("Windows GDI Error, ErrMsg = ")) << records[0].message;
  EXPECT_FALSE(PageHeaderOf(oper).Drawn());
}

TEST_F(HeaderTest, HeaderArtefactShowsTheTexts) {
  // The "Page 2 of 5" header as an image for people to look at.
  TiffOper oper;
  OpenForSending(oper, MakeFile("page.tif", true));
  PageHeaderOf(oper).SetSender("Ann Sender (王小明)");
  ASSERT_EQ(GenHeader(oper, 2, 5, false), 1);
  const auto rows = Decode(Coded(oper), 82);
  ASSERT_EQ(rows.size(), 82 * kTestRowBytes);
  // Beside the test binary (build-dir/tests/artefacts), or where VEXO_TEST_ARTEFACTS says.
  const char* wanted = std::getenv("VEXO_TEST_ARTEFACTS");
  const auto artefacts =
      wanted != nullptr && *wanted != '\0'
          ? std::filesystem::path(wanted)
          : std::filesystem::read_symlink("/proc/self/exe").parent_path() / "artefacts";
  std::filesystem::create_directories(artefacts);
  const auto pbm = artefacts / "page_header_2_of_5.pbm";
  std::string image = "P4\n1728 82\n";
  image.append(rows.begin(), rows.end());
  test::WriteFileBytes(pbm, image);
  if (std::system("command -v convert >/dev/null 2>&1") == 0) {
    const std::string command =
        "convert '" + pbm.string() + "' '" + (artefacts / "page_header_2_of_5.png").string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }
}

}  // namespace
}  // namespace vexo
