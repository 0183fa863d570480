// The page header: geometry, texts, coding, later pages, and delivery ahead of
// the page data through ReadFAXData. Decoding is done by libtiff.
#include "document/page_header.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/text.h"
#include "tests/document/test_pages.h"
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
  void SetUp() override { test::TakeErrors(); }
  std::filesystem::path MakeFile(const std::string& name, bool fine, int pages = 1,
                                 std::uint32_t rows = 120) {
    std::vector<test::LibTiffPage> list;
    for (int i = 0; i < pages; ++i)
      list.push_back(
          {test::PatternPage(rows, 7 + i), rows, kTestWidth, 3, 1, 0, fine ? 209.0f : 104.5f});
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
    for (std::size_t at = 0; at < out.size();) {
      const int n = oper.ReadFAXData(out.data() + at, out.size() - at, false);
      EXPECT_GT(n, 0);
      at += n > 0 ? n : out.size();
    }
    return out;
  }

  std::vector<std::uint8_t> Decode(const std::vector<std::uint8_t>& coded, std::uint32_t rows) {
    return DecodeG3Strip(dir.path() / "decode.tif", coded, rows);
  }

  static std::size_t InkIn(const std::vector<std::uint8_t>& rows, const Rect& r) {
    return test::InkIn(rows, r.left, r.top, r.right, r.bottom);
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

TEST(HeaderLayout, HeightAndTextsAsSent) {
  // 400 dpi pages get a taller header; unusable resolutions count as 196.
  EXPECT_EQ(HeaderGeometry::For(1728, 400, 400).height, 157);
  EXPECT_EQ(HeaderGeometry::For(1728, 0, 0).height, 77);
  EXPECT_EQ(HeaderGeometry::For(1728, 209, 4000000000u).height, 77);
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

TEST_F(HeaderTest, DecodesToItsDrawingHalvedForNormalPagesAndSendAsNormal) {
  struct Case {
    bool finePage, sendAsNormal;
  };
  for (const Case c : {Case{true, false}, Case{false, false}, Case{true, true}}) {
    SCOPED_TRACE(testing::Message() << c.finePage << c.sendAsNormal);
    TiffOper oper;
    OpenForSending(oper, MakeFile(c.finePage ? "fine.tif" : "normal.tif", c.finePage));
    ASSERT_EQ(GenHeader(oper, 1, 5, c.sendAsNormal), 1);
    const PageHeader& header = PageHeaderOf(oper);
    const bool halved = !c.finePage || c.sendAsNormal;
    EXPECT_EQ(header.Halving(), halved);
    EXPECT_EQ(header.Renderer()->Bitmap().Height(), 82);
    const auto decoded = Decode(Coded(oper), halved ? 41 : 82);
    ASSERT_EQ(decoded.size(), (halved ? 41 : 82) * kTestRowBytes);
    EXPECT_EQ(decoded, BitmapRows(header.Renderer()->Bitmap(), halved));
  }
}

TEST_F(HeaderTest, LongSenderNeverTouchesTheDate) {
  auto header = [&](const std::string& sender) {
    TiffOper oper;
    OpenForSending(oper, MakeFile("page.tif", true));
    PageHeaderOf(oper).SetSender(sender);
    EXPECT_EQ(GenHeader(oper, 1, 1, false), 1);
    return Decode(Coded(oper), 82);
  };
  const auto shortRows = header("Ann Sender"), longRows = header(std::string(400, 'W'));
  const HeaderGeometry g = HeaderGeometry::For(1728, 209, 209);
  // The sender fills its rectangle up to the edge and stops there.
  EXPECT_GT(InkIn(longRows, {g.PartiesRect().right - 20, 41, g.PartiesRect().right, 78}), 0u);
  EXPECT_EQ(InkIn(longRows, {g.PartiesRect().right, 41, g.DateRect().left, 78}), 0u);
  const Rect rest{g.DateRect().left, 0, 1728, 82};
  for (int y = rest.top; y < rest.bottom; ++y)
    for (int x = rest.left; x < rest.right; ++x)
      ASSERT_EQ(test::Black(longRows, x, y), test::Black(shortRows, x, y)) << x << "," << y;
}

TEST_F(HeaderTest, LaterPagesRedrawOnlyThePageNumberAndKeepTheFirstPagesHalving) {
  TiffOper oper;
  OpenForSending(oper, MakeFile("three.tif", true, 3));
  ASSERT_EQ(GenHeader(oper, 10, 12, false), 1);
  const auto first = Decode(Coded(oper), 82);
  ASSERT_EQ(oper.NextPage(), 1);
  ASSERT_EQ(oper.ReadTags(), 1);
  EXPECT_FALSE(oper.PageHeaderReady());  // no header until one is made for this page
  // Sender, date and halving stay those of the first page even when changed now.
  PageHeaderOf(oper).SetSender("Somebody Else");
  PageHeaderOf(oper).SetClock([] { return LocalTime{2030, 1, 1, 1, 1, 1, 0, 0}; });
  ASSERT_EQ(GenHeader(oper, 2, 5, /*sendAsNormal=*/true), 1);
  EXPECT_FALSE(PageHeaderOf(oper).Halving());
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

TEST_F(HeaderTest, ReadFaxDataDeliversHeaderThenPageInAnyChunkSize) {
  const auto file = MakeFile("page.tif", true, 1, 150);
  const auto page = test::RawStripWithLibTiff(file, 0);
  ASSERT_FALSE(page.empty());
  std::vector<std::uint8_t> header;
  for (const std::size_t chunk :
       {kFaxDataChunk, std::size_t{1}, std::size_t{17}, std::size_t{4095}}) {
    TiffOper oper;
    OpenForSending(oper, file);
    ASSERT_EQ(GenHeader(oper, 1, 1, false), 1);
    std::vector<std::uint8_t> sent, buffer(chunk);
    for (int n; (n = oper.ReadFAXData(buffer.data(), chunk, false)) != 0;) {
      ASSERT_GT(n, 0);
      ASSERT_LE(static_cast<std::size_t>(n), chunk);
      sent.insert(sent.end(), buffer.begin(), buffer.begin() + n);
    }
    if (header.empty()) header.assign(sent.begin(), sent.begin() + oper.PageHeaderSize());
    std::vector<std::uint8_t> expected = header;
    expected.insert(expected.end(), page.begin(), page.end());
    ASSERT_EQ(sent, expected) << "chunk " << chunk;
  }
  // Header and page decode as one longer page.
  header.insert(header.end(), page.begin(), page.end());
  const auto rows = Decode(header, 82 + 150);
  ASSERT_EQ(rows.size(), (82 + 150) * kTestRowBytes);
  const auto pageRows = test::PatternPage(150, 7);
  EXPECT_TRUE(std::equal(pageRows.begin(), pageRows.end(), rows.begin() + 82 * kTestRowBytes));
}

TEST_F(HeaderTest, NoHeaderWithoutALoadedPageOrTheReadFlag) {
  TiffOper empty;
  empty.SetErrorPool(true);
  EXPECT_EQ(GenHeader(empty, 1, 1, false), 0);
  EXPECT_FALSE(empty.PageHeaderReady());
  EXPECT_FALSE(PageHeaderOf(empty).Drawn());
  auto records = test::TakeErrors();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].function.value_or(""), "CreateDIBSection");
  EXPECT_TRUE(records[0].message.starts_with("Windows GDI Error, ErrMsg = ")) << records[0].message;
  // Without the read flag the page goes out as it is.
  const auto file = MakeFile("page.tif", true);
  TiffOper oper;
  OpenForSending(oper, file, /*readFlag=*/false);
  EXPECT_EQ(GenHeader(oper, 1, 1, false), 0);
  records = test::TakeErrors();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].module.value_or(""), "TiffOper");
  EXPECT_EQ(records[0].function.value_or(""), "GenHeader");
  EXPECT_EQ(records[0].message, "TiffOper object without ReadFlag can not generate fax header");
  EXPECT_FALSE(oper.PageHeaderReady());
  std::vector<std::uint8_t> sent(kFaxDataChunk);
  sent.resize(std::max(oper.ReadFAXData(sent.data(), sent.size(), false), 0));
  EXPECT_EQ(sent, test::RawStripWithLibTiff(file, 0));
}

TEST_F(HeaderTest, HeaderArtefactShowsTheTexts) {
  // The "Page 2 of 5" header, also kept as an image for people to look at.
  TiffOper oper;
  OpenForSending(oper, MakeFile("page.tif", true));
  PageHeaderOf(oper).SetSender("Ann Sender (王小明)");
  ASSERT_EQ(GenHeader(oper, 2, 5, false), 1);
  const auto rows = Decode(Coded(oper), 82);
  // It is a header drawn afresh with exactly the texts expected ...
  const HeaderGeometry g = HeaderGeometry::For(1728, 209, 209);
  const std::string texts[] = {"From:Ann Sender (王小明)          To:Bob Receiver",
                               "Date: 3/7/2026   Time: 9:5:3", "Page 2 of 5"};
  const Rect rects[] = {g.PartiesRect(), g.DateRect(), g.PageRect()};
  auto drawn = [&](std::string_view page) {
    HeaderRenderer renderer;
    EXPECT_TRUE(renderer.Create(g));
    renderer.DrawFirst(texts[0], texts[1], page);
    return BitmapRows(renderer.Bitmap(), false);
  };
  EXPECT_EQ(rows, drawn(texts[2]));
  EXPECT_NE(rows, drawn("Page 3 of 5"));  // the comparison sees the texts
  // Nothing above the texts; the line fills rows 78 to 80 from L to R inclusive.
  EXPECT_EQ(InkIn(rows, {0, 0, 1728, 41}), 0u);
  EXPECT_EQ(InkIn(rows, {55, 78, 1673, 81}), 1618u * 3);
  EXPECT_EQ(InkIn(rows, {0, 78, 1728, 82}), 1618u * 3);
  // ... each text starting at its rectangle's left edge, and all ink above the
  // line lying in the three rectangles.
  std::size_t inText = 0;
  for (Rect r : rects) {
    r.bottom = g.LineRow() - 1;
    const std::size_t ink = InkIn(rows, r);
    EXPECT_GT(ink, 200u);
    EXPECT_GT(InkIn(rows, {r.left, r.top, r.left + 4, r.bottom}), 0u);
    EXPECT_EQ(InkIn(rows, {r.left - 10, r.top, r.left, r.bottom}), 0u);
    inText += ink;
  }
  EXPECT_EQ(InkIn(rows, {0, 41, 1728, g.LineRow() - 1}), inText);
  // Beside the test binary (build-dir/tests/artefacts), or where VEXO_TEST_ARTEFACTS says.
  const char* wanted = std::getenv("VEXO_TEST_ARTEFACTS");
  const auto artefacts =
      wanted != nullptr && *wanted != '\0'
          ? std::filesystem::path(wanted)
          : std::filesystem::read_symlink("/proc/self/exe").parent_path() / "artefacts";
  std::filesystem::create_directories(artefacts);
  const auto pbm = artefacts / "page_header_2_of_5.pbm";
  test::WriteFileBytes(pbm, "P4\n1728 82\n" + std::string(rows.begin(), rows.end()));
  const std::string png = (artefacts / "page_header_2_of_5.png").string();
  EXPECT_TRUE(std::system("command -v convert >/dev/null 2>&1") != 0 ||
              std::system(("convert '" + pbm.string() + "' '" + png + "'").c_str()) == 0);
}

}  // namespace
}  // namespace vexo
