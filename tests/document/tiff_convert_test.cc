// The attachment conversion: classification, measuring, attachments joined
// into one numbered fax, refusals leaving no output, cancel and the thread.
#include "document/tiff_convert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <string>

#include "document/png_writer.h"
#include "document/tiff_oper.h"
#include "tests/document/test_pages.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;

class TiffConvertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::TakeErrors();
    settings.profile.fullName = "Test Sender";
    cover = File("cover.txt", "<GROUP 20,20,170,0>To: <RCVNAME>\n<SUBJECT>\n<NOTE>\n");
    text = File("notes.txt", "Hello \xC3\xA9t\xC3\xA9\nsecond line\n");
    image = (dir.path() / "picture.tif").string();
    // A foreign TIFF of two short pages, the second in MMR as a received fax
    // may be: a forward joins both to the cover page.
    const test::LibTiffPage page{test::PatternPage(300, 3), 300, 1728, 3, 1, 0, 209, 2, 1, ""};
    test::LibTiffPage mmr = page;
    mmr.compression = 4;  // COMPRESSION_CCITTFAX4
    test::WriteWithLibTiff(image, {page, mmr});
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
  void ExpectNumberedFax(int total) {
    TiffOper oper;
    ASSERT_EQ(oper.OpenReadTiffHeader(output), 1);
    EXPECT_EQ(oper.GetTotalPageNum(), total);
    for (int i = 0; i < total; ++i) {
      EXPECT_TRUE(i == 0 || oper.NextPage() == 1);
      EXPECT_EQ(oper.ReadTags(), 1) << i;
      EXPECT_EQ(oper.Tags().pageIndex, i);
      EXPECT_EQ(oper.Tags().pageTotal, total);
    }
    EXPECT_EQ(oper.NextPage(), 0);
  }

  test::TempDir dir;
  ConvertOptions settings;
  std::string cover, text, image, output;
  std::uint32_t toldPages = 0;
  std::uint64_t toldBytes = 0;
};

TEST(TiffConvertTableTest, ClassifiesByExtensionIgnoringCase) {
  bool matched = false;
  EXPECT_EQ(kFileTypes[ClassifyAttachment("/a/NOTES.TXT", &matched)].kind, ConvertKind::Text);
  EXPECT_TRUE(matched);  // the first *.txt row is the cover page's, not an attachment's
  EXPECT_EQ(kFileTypes[ClassifyAttachment("scan.TIFF")].kind, ConvertKind::Tiff);
  EXPECT_EQ(kFileTypes[ClassifyAttachment("photo.JPG")].kind, ConvertKind::Image);
  for (const char* other : {"README", "letter.doc", "/dir.v2/file", "archive.txt.gz"}) {
    EXPECT_EQ(ClassifyAttachment(other, &matched), kTiffFileRow) << other;
    EXPECT_FALSE(matched) << other;
  }
  // The file dialog's filter: "All", then a row for each attachment pattern.
  EXPECT_EQ(AttachmentFilter()[2], (std::pair<std::string, std::string>{"Text File", "*.txt"}));
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
}

TEST_F(TiffConvertTest, CoverPageAloneAndAttachmentsAlone) {
  const std::string png = (dir.path() / "drawing.png").string();
  PngWriter writer;  // a blank picture
  ASSERT_TRUE(writer.Open(png, 400, 300, 200, 200) && writer.Close());
  const std::string markdown = File("README.md", "# Title\n\nSome *text*.\n");
  TiffConvert convert(settings);
  ConvertRequest first = Request({image, text}, false);
  first.firstSourceOnly = true;
  const std::pair<ConvertRequest, int> requests[] = {
      {Request({}), 1}, {Request({markdown, png}, false), 2}, {first, 2}};
  for (const auto& [request, pages] : requests) {
    ASSERT_EQ(convert.Convert(request), 1) << pages;
    ExpectNumberedFax(pages);
    fs::remove(output);
  }
  EXPECT_EQ(convert.Convert(Request({}, false)), 0);  // nothing to convert
  EXPECT_FALSE(fs::exists(output));
}

TEST_F(TiffConvertTest, AttachmentsThatAreNoTiffFailAndLeaveNoFile) {
  TiffConvert convert(settings);
  // Files of no known type are taken for TIFF files.
  EXPECT_EQ(convert.Convert(Request({text, File("letter.doc", "plain words, not an image\n")})), 0);
  EXPECT_FALSE(fs::exists(output));
  EXPECT_TRUE(test::PoolHas(test::TakeErrors(), "Not a TIFF"));
  // A cover page that fails to draw fails the fax.
  ConvertRequest bad = Request({text});
  bad.coverTemplate = File("long.txt", std::string(600, 'x'));
  EXPECT_EQ(convert.Convert(bad), 0);
  EXPECT_TRUE(test::PoolHas(test::TakeErrors(), "line is too long"));
  EXPECT_FALSE(fs::exists(output));
}

TEST_F(TiffConvertTest, RefusalsNameTheirReasonInOneMessage) {
  const std::string empty = File("empty.txt", ""), rle = (dir.path() / "rle.bmp").string();
  ASSERT_TRUE(test::RunCommand(
      "convert -size 64x16 gradient: -type Palette -compress RLE 'BMP3:" + rle + "'"));
  const struct {
    std::uint32_t paperHeight;
    std::vector<std::string> sources;
    std::string message;
  } cases[] = {
      {2970, {empty, File("empty.md", "")}, "Nothing to fax: the attachments (" + empty},
      {529,
       {text},
       "The paper height of 529 tenths of a millimetre leaves no room for the page: "
       "pages need 530 to 10100"},
      {2970, {rle}, "The BMP image " + rle + " cannot be read: it is stored compressed"},
  };
  for (const auto& c : cases) {
    settings.paperHeight = c.paperHeight;
    EXPECT_EQ(TiffConvert(settings).Convert(Request(c.sources, false)), 0) << c.message;
    const auto records = test::TakeErrors();
    EXPECT_EQ(records.size(), 1u) << c.message;
    EXPECT_TRUE(test::PoolHas(records, c.message)) << c.message;
    EXPECT_FALSE(fs::exists(output));
  }
  settings.paperHeight = 530;  // the shortest paper named above
  EXPECT_EQ(TiffConvert(settings).Convert(Request({text}, false)), 1);
}

TEST_F(TiffConvertTest, MeasuringReportsMissingAndBrokenFiles) {
  ConvertRequest missing = Request({(dir.path() / "gone.txt").string()});
  EXPECT_EQ(MeasureConversion(missing), -1);
  EXPECT_TRUE(test::PoolHas(test::TakeErrors(), "Get File Size Error FileName=["));
  ConvertRequest broken = Request({File("broken.tif", "not a tiff at all")});
  EXPECT_EQ(MeasureConversion(broken), -1);
  EXPECT_TRUE(test::PoolHas(test::TakeErrors(), "Open File Error FileName=["));
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
  EXPECT_TRUE(test::PoolHas(test::TakeErrors(), "File exists"));
}

TEST_F(TiffConvertTest, GreyTiffIsToldOnceAndEndsWithNothingMoreToShow) {
  const std::string grey = (dir.path() / "grey.tif").string();
  ASSERT_TRUE(test::RunCommand("convert -size 64x16 gradient: -depth 8 " + grey));
  ConvertRequest request = Request({grey}, false);
  int told = 0;
  request.notBilevel = [&](const std::string&) { ++told; };
  std::promise<ConvertOutcome> outcome;
  TiffConvert convert(settings);
  ASSERT_TRUE(convert.Start(request, [&](ConvertOutcome o) { outcome.set_value(o); }));
  EXPECT_EQ(outcome.get_future().get(), ConvertOutcome::Cancelled);
  convert.Wait();
  EXPECT_EQ(told, 1);
  EXPECT_TRUE(test::TakeErrors().empty());
}

}  // namespace
}  // namespace vexo
