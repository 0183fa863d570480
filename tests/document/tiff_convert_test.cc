// The attachment conversion on real files: classification by extension,
// measuring, a cover page with a text and a foreign TIFF joined into one fax
// file whose pages all carry the total (checked with an independent directory
// reader and TiffOper's send-side checks), skipped empty files, refused
// attachments leaving no output, exclusive creation, cancel and the thread.
#include "document/tiff_convert.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <string>

#include "document/png_writer.h"
#include "document/tiff_oper.h"
#include "tests/document/tiff_test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;

class TiffConvertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::TakePool();
    settings.profile.fullName = "Test Sender";
    settings.profile.logoFile = "";
    cover = File("cover.txt", "<GROUP 20,20,170,0>To: <RCVNAME>\n<SUBJECT>\n<NOTE>\n");
    text = File("notes.txt", "Hello \xC3\xA9t\xC3\xA9\nsecond line\n");
    image = (dir.path() / "picture.tif").string();
    test::LibTiffPage page;
    page.rows = 300;
    page.bitmap = test::PatternPage(page.rows, 3);
    page.software = "";
    test::WriteWithLibTiff(image, {page, page});
    output = (dir.path() / "out.tif").string();
  }

  std::string File(const std::string& name, const std::string& bytes) {
    const auto path = dir.path() / name;
    test::WriteFileBytes(path, bytes);
    return path.string();
  }

  ConvertRequest Request(std::vector<std::string> sources, bool withCover = true) {
    ConvertRequest request;
    request.sources = std::move(sources);
    request.output = output;
    if (withCover) request.coverTemplate = cover;
    request.details = {"Bob", "555 0199", "Figures", "A note"};
    request.completion = [this](std::uint32_t pages, std::uint64_t bytes) {
      toldPages = pages;
      toldBytes = bytes;
    };
    return request;
  }

  // Every page's PageNumber is (index, total) and the send side accepts it.
  void ExpectNumberedFax(std::uint32_t total) {
    for (std::uint32_t i = 0; i < total; ++i) {
      const test::DumpEntry number = test::DumpTag(output, static_cast<int>(i), TIFFTAG_PAGENUMBER);
      ASSERT_TRUE(number.found) << i;
      EXPECT_EQ(number.value, i);
      EXPECT_EQ(number.value2, total);
    }
    TiffOper oper;
    ASSERT_EQ(oper.OpenReadTiffHeader(output), 1);
    EXPECT_EQ(oper.GetTotalPageNum(), static_cast<int>(total));
    int pages = 0;
    do {
      EXPECT_EQ(oper.ReadTags(), 1) << pages;
      ++pages;
    } while (oper.NextPage() == 1);
    EXPECT_EQ(pages, static_cast<int>(total));
  }

  test::TempDir dir;
  ConvertOptions settings;
  std::string cover, text, image, output;
  std::uint32_t toldPages = 0;
  std::uint64_t toldBytes = 0;
};

TEST(TiffConvertTableTest, ClassifiesByExtensionIgnoringCase) {
  bool matched = false;
  EXPECT_EQ(ClassifyAttachment("/a/NOTES.TXT", &matched), 2u);
  EXPECT_TRUE(matched);
  EXPECT_EQ(ClassifyAttachment("scan.Tif", &matched), 1u);
  EXPECT_TRUE(matched);
  EXPECT_EQ(kFileTypes[ClassifyAttachment("README.md")].kind, ConvertKind::Text);
  EXPECT_EQ(kFileTypes[ClassifyAttachment("scan.TIFF")].kind, ConvertKind::Tiff);
  EXPECT_EQ(kFileTypes[ClassifyAttachment("a.pdf")].kind, ConvertKind::Pdf);
  EXPECT_EQ(kFileTypes[ClassifyAttachment("photo.JPG")].kind, ConvertKind::Image);
  for (const char* other : {"README", "letter.doc", "/dir.v2/file", "archive.txt.gz"}) {
    EXPECT_EQ(ClassifyAttachment(other, &matched), kTiffFileRow) << other;
    EXPECT_FALSE(matched) << other;
  }
  const auto filter = AttachmentFilter();
  ASSERT_EQ(filter.size(), kFileTypes.size());
  EXPECT_EQ(filter[0], (std::pair<std::string, std::string>{"All", "*.*"}));
  EXPECT_EQ(filter[1].first, "Tiff File");
  EXPECT_EQ(filter[2].second, "*.txt");
}

TEST_F(TiffConvertTest, CoverTextAndTiffBecomeOneNumberedFax) {
  const std::string upper = File("SHOUT.TXT", "UPPER CASE NAME\n");
  const std::string empty = File("empty.txt", "");
  std::vector<std::uint64_t> progress;
  ConvertRequest request = Request({text, image, upper, empty});
  request.progress = [&](std::uint64_t done) { progress.push_back(done); };
  const std::int64_t work = MeasureConversion(request);
  EXPECT_EQ(work, static_cast<std::int64_t>(fs::file_size(cover) + fs::file_size(text) + 600 +
                                            fs::file_size(upper)));
  TiffConvert convert(settings);
  ASSERT_EQ(convert.Convert(request), 1);
  // cover 1 + text 1 + two short TIFF pages + upper-case text 1; the empty file is skipped
  EXPECT_EQ(toldPages, 5u);
  EXPECT_EQ(toldBytes, fs::file_size(output));
  ExpectNumberedFax(5);
  ASSERT_FALSE(progress.empty());
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(progress.back(), static_cast<std::uint64_t>(work));
  // The upper-case TXT attachment was drawn as text: ink on a page of its own.
  const auto page = test::DecodeWithLibTiff(output, 4);
  ASSERT_FALSE(page.empty());
  EXPECT_NE(std::count(page.begin(), page.end(), 0), static_cast<long>(page.size()));
}

TEST_F(TiffConvertTest, PicturesAndMarkdownAttachments) {
  const std::string png = (dir.path() / "drawing.png").string();
  {
    PngWriter writer;
    ASSERT_TRUE(writer.Open(png, 400, 300, 200, 200));
    std::vector<std::uint8_t> row(50, 0x0F);
    for (int y = 0; y < 300; ++y) ASSERT_TRUE(writer.WriteRow(row.data()));
    ASSERT_TRUE(writer.Close());
  }
  const std::string markdown = File("README.md", "# Title\n\nSome *text*.\n");
  TiffConvert convert(settings);
  ASSERT_EQ(convert.Convert(Request({markdown, png}, false)), 1) << test::TakePool().size();
  ExpectNumberedFax(2);
}

TEST_F(TiffConvertTest, CoverPageAloneAndAttachmentsAlone) {
  TiffConvert convert(settings);
  ASSERT_EQ(convert.Convert(Request({})), 1);
  ExpectNumberedFax(1);
  fs::remove(output);
  ASSERT_EQ(convert.Convert(Request({text}, false)), 1);
  ExpectNumberedFax(1);
  fs::remove(output);
  ConvertRequest first = Request({image, text}, false);
  first.firstSourceOnly = true;
  ASSERT_EQ(convert.Convert(first), 1);
  ExpectNumberedFax(2);
  fs::remove(output);
  EXPECT_EQ(convert.Convert(Request({}, false)), 0);  // nothing to convert
  EXPECT_FALSE(fs::exists(output));
}

TEST_F(TiffConvertTest, AttachmentsThatAreNoTiffFailAndLeaveNoFile) {
  TiffConvert convert(settings);
  for (const std::string name : {"README", "letter.doc"}) {
    const std::string source = File(name, "plain words, not an image\n");
    EXPECT_EQ(convert.Convert(Request({text, source})), 0) << name;
    EXPECT_FALSE(fs::exists(output)) << name;
    EXPECT_TRUE(test::PoolHas(test::TakePool(), "Not a TIFF")) << name;
  }
  // A cover page that fails to draw fails the fax.
  ConvertRequest bad = Request({text});
  bad.coverTemplate = File("long.txt", std::string(600, 'x'));
  EXPECT_EQ(convert.Convert(bad), 0);
  EXPECT_TRUE(test::PoolHas(test::TakePool(), "line is too long"));
  EXPECT_FALSE(fs::exists(output));
}

TEST_F(TiffConvertTest, ExistingOutputIsNeverOverwritten) {
  test::WriteFileBytes(output, "an earlier fax");
  TiffConvert convert(settings);
  EXPECT_EQ(convert.Convert(Request({text})), 0);
  const auto records = test::TakePool();
  EXPECT_TRUE(
      test::PoolHas(records, "Open File Error FileName=[" + output + "], ErrMsg = File exists"));
  EXPECT_EQ(test::ReadFileBytes(output), "an earlier fax");
}

TEST_F(TiffConvertTest, MeasuringReportsMissingAndBrokenFiles) {
  ConvertRequest missing = Request({(dir.path() / "gone.txt").string()});
  EXPECT_EQ(MeasureConversion(missing), -1);
  EXPECT_TRUE(test::PoolHas(test::TakePool(), "Get File Size Error FileName=["));
  ConvertRequest broken = Request({File("broken.tif", "not a tiff at all")});
  EXPECT_EQ(MeasureConversion(broken), -1);
  EXPECT_TRUE(test::PoolHas(test::TakePool(), "Open File Error FileName=["));
  EXPECT_EQ(MeasureConversion(Request({File("zero.tif", "")}, false)), 0);
}

TEST_F(TiffConvertTest, CancelAndTheConversionThread) {
  TiffConvert convert(settings);
  ConvertRequest request = Request({text, image});
  int asked = 0;
  request.cancel = [&] { return ++asked > 1; };
  EXPECT_EQ(convert.Convert(request), -1);
  EXPECT_FALSE(fs::exists(output));

  std::promise<ConvertOutcome> outcome;
  ASSERT_TRUE(
      convert.Start(Request({text, image}), [&](ConvertOutcome o) { outcome.set_value(o); }));
  EXPECT_EQ(outcome.get_future().get(), ConvertOutcome::Success);
  convert.Wait();
  ExpectNumberedFax(4);

  std::promise<ConvertOutcome> failed;
  ASSERT_TRUE(convert.Start(Request({text}), [&](ConvertOutcome o) { failed.set_value(o); }));
  EXPECT_EQ(failed.get_future().get(), ConvertOutcome::Failure);  // out.tif exists now
  convert.Wait();
  EXPECT_TRUE(test::PoolHas(test::TakePool(), "File exists"));
}

}  // namespace
}  // namespace vexo
