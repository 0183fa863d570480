// The page viewer on real fax files: the tag check and its message, page
// navigation, the scales, ink in page coordinates at every scale, undo and
// remove all, ink kept in the file, PDF export, and screenshots.
#include <gtest/gtest.h>
#include <tiffio.h>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "base/error_pool.h"
#include "base/strings.h"
#include "document/tiff_lib.h"
#include "document/tiff_oper.h"
#include "tests/support/box_recorder.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/support/ui_test_support.h"
#include "ui/viewer/fax_page_file.h"
#include "ui/viewer/tiff_editor.h"

namespace vexo::ui {
namespace {

constexpr std::uint32_t kPageWidth = 1728;
// A fine page's rows are shown stretched by XResolution / YResolution.
constexpr double kFineRowScale = 204.0 / 196.0;

// The page row shown at a row of the stretched page.
std::uint16_t PageRow(double shown) {
  return static_cast<std::uint16_t>(std::lround(shown / kFineRowScale));
}

// One page of a system fax file: its rows, its black boxes (x, y, w, h), and
// its page flags (resolution, FillOrder 2).
struct TestPage {
  explicit TestPage(std::uint32_t rowCount, std::vector<std::array<std::uint32_t, 4>> boxes = {},
                    std::uint32_t pageFlags = PAGE_FINE)
      : rows(rowCount), black(std::move(boxes)), flags(pageFlags) {}
  std::uint32_t rows;
  std::vector<std::array<std::uint32_t, 4>> black;
  std::uint32_t flags;
};

// Writes the pages with the program's own writer (1-D).
void WriteSystemFax(const std::string& path, const std::vector<TestPage>& pages) {
  TiffOper writer;
  ASSERT_EQ(writer.OpenWriteTiff(path, CreateMode::Replace), 1);
  for (const TestPage& page : pages) {
    std::vector<std::uint8_t> bits(kPageWidth / 8 * page.rows, 0);
    for (const auto& [x, y, w, h] : page.black)
      for (std::uint32_t r = y; r < y + h && r < page.rows; ++r)
        for (std::uint32_t c = x; c < x + w && c < kPageWidth; ++c)
          bits[r * kPageWidth / 8 + c / 8] |= static_cast<std::uint8_t>(0x80 >> (c % 8));
    StripCoding coding;
    if (page.flags & PAGE_LSB_FIRST) coding.fillOrder = FILLORDER_LSB2MSB;
    const auto coded = EncodeFaxRows(coding, bits.data(), bits.size());
    ASSERT_TRUE(coded.has_value());
    ASSERT_EQ(writer.SetPageTags(kPageWidth, page.rows, page.flags), 1);
    ASSERT_EQ(writer.WriteFaxData(coded->data(), coded->size()), 1);
    ASSERT_EQ(writer.EndPage(page.rows), 1);
  }
  ASSERT_EQ(writer.CloseWriteTiff(), 1);
}

class ViewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LoadResDll("EngRes"));
    ErrorPool::Instance().Clear();
    editor.resize(900, 700);
    editor.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
  }
  void TearDown() override { ErrorPool::Instance().Clear(); }

  std::string File(const char* name) const { return (dir.path() / name).string(); }
  QWidget* Viewport() const { return editor.View()->viewport(); }
  std::string Details() const { return ::testing::PrintToString(presenter.details); }

  // A stroke dragged over the page area through the given screen points; one
  // point is a tap.
  void Drag(std::initializer_list<QPoint> points) {
    auto it = points.begin();
    QTest::mousePress(Viewport(), Qt::LeftButton, {}, *it);
    for (++it; it != points.end(); ++it) QTest::mouseMove(Viewport(), *it);
    QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, *std::prev(points.end()));
  }
  bool BlackAt(const QImage& shot, QPoint p) const { return qGray(shot.pixel(p)) < 64; }
  QImage Shot() const { return Viewport()->grab().toImage(); }

  vexo::test::TempDir dir;
  vexo::test::BoxRecorder presenter;
  CTiffEditor editor;
};

// Next, Previous, the tool bar's buttons and the page number box; a step
// beyond either end or a page number out of range keeps the page shown.
TEST_F(ViewerTest, StepsThroughTheFilesPages) {
  WriteSystemFax(File("three.tif"), {TestPage(100), TestPage(110), TestPage(120)});
  ASSERT_EQ(editor.ShowTiff(File("three.tif")), 1);
  editor.SetScale(ViewScale::Full);
  EXPECT_EQ(editor.PageTotal(), 3u);
  // '>' Next, '<' Previous, '+' and '-' the tool bar's, else typed into the box.
  const std::pair<std::string, std::uint32_t> steps[] = {{"", 1},  {">", 2}, {">", 3}, {">", 3},
                                                         {"<", 2}, {"9", 2}, {"0", 2}, {"4", 2},
                                                         {"1", 1}, {"<", 1}, {"+", 2}, {"-", 1}};
  for (const auto& [step, page] : steps) {
    if (step == ">") editor.NextPage();
    if (step == "<") editor.PreviousPage();
    if (step == "+" || step == "-")
      editor.findChild<QAction*>(step == "+" ? "button149" : "button151")->trigger();
    if (step.find_first_of("0123456789") == 0) {
      editor.PageBox()->setText(QString::fromStdString(step));
      QTest::keyClick(editor.PageBox(), Qt::Key_Return);
    }
    EXPECT_EQ(editor.PageShown(), page) << step;
    EXPECT_EQ(editor.View()->DisplaySize(),
              QSize(1728, static_cast<int>(std::lround((90 + 10 * page) * kFineRowScale))))
        << step;
    EXPECT_EQ(editor.PageBox()->text(), QString::number(page)) << step;
  }
  EXPECT_TRUE(presenter.details.empty()) << Details();
}

TEST_F(ViewerTest, RefusesFilesOtherProgramsWroteFillOrderTwoAndMissingFiles) {
  test::WriteForeignTiff(File("efax.tif"), kPageWidth, 100, 204, 196, 1, COMPRESSION_CCITTFAX3,
                         "efax 0.9a");
  WriteSystemFax(File("lsb.tif"), {TestPage(50, {}, PAGE_FINE | PAGE_LSB_FIRST)});
  const std::vector<std::string> foreign = {
      "Message = Tiff format not support, please use tiff created by Vexo itself",
      "Module = TiffEditor", "Function = ShowTiff"};
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"efax.tif", foreign},
      {"lsb.tif", foreign},
      {"none.tif",
       {"Open File Error FileName=[" + File("none.tif") +
        "], ErrMsg = No such file or directory"}}};
  for (const auto& [name, texts] : cases) {
    SCOPED_TRACE(name);
    presenter.details.clear();
    EXPECT_EQ(editor.ShowTiff(File(name)), 0);
    EXPECT_EQ(editor.PageShown(), 0u);
    EXPECT_FALSE(editor.View()->HasPage());
    ASSERT_EQ(presenter.details.size(), 1u);
    for (const std::string& text : texts)
      EXPECT_NE(presenter.details[0].find(text), std::string::npos) << presenter.details[0];
  }
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);  // flushed at once
}

TEST_F(ViewerTest, InkSitsAtTheSamePageCoordinatesAtEveryScale) {
  WriteSystemFax(File("blank.tif"), {TestPage(1600)});
  ASSERT_EQ(editor.ShowTiff(File("blank.tif")), 1);
  // Dragging outside pen mode moves the view and draws nothing.
  editor.SetScale(ViewScale::Full);
  Drag({QPoint(300, 300), QPoint(250, 260), QPoint(200, 200)});
  EXPECT_EQ(editor.View()->horizontalScrollBar()->value(), 100);
  EXPECT_EQ(editor.View()->verticalScrollBar()->value(), 100);
  EXPECT_TRUE(editor.InkOf(1).Empty());
  editor.SetPenMode(true);
  editor.SetPenWidth(8);
  editor.SetScale(ViewScale::Quarter);
  Drag({QPoint(20, 30), QPoint(60, 30), QPoint(60, 90)});
  ASSERT_EQ(editor.InkOf(1).Strokes().size(), 1u);
  const auto& points = editor.InkOf(1).Strokes()[0].points;
  ASSERT_EQ(points.size(), 3u);
  EXPECT_EQ(points[0], (InkPoint{80, PageRow(120)}));
  EXPECT_EQ(points[2], (InkPoint{240, PageRow(360)}));
  // At every scale the corner of the stroke (page 240, 120) is drawn where the
  // page pixel is shown, and the page away from it stays white.
  for (ViewScale scale : {ViewScale::Full, ViewScale::Half, ViewScale::Quarter, ViewScale::Eighth,
                          ViewScale::FitWidth}) {
    editor.SetScale(scale);
    const int f = editor.View()->Factor();
    const QImage shot = Shot();
    EXPECT_TRUE(BlackAt(shot, QPoint(240 / f, 120 / f))) << "factor " << f;
    EXPECT_FALSE(BlackAt(shot, QPoint(160 / f, 300 / f))) << "factor " << f;
  }
  // Drawn at fit to width, points are scaled by the factor the page is shown
  // at: the page width over the view width, rounded up.
  editor.resize(760, 600);
  QApplication::processEvents();
  editor.SetScale(ViewScale::FitWidth);
  const int fit = editor.View()->Factor();
  ASSERT_EQ(fit, (1728 + editor.View()->FitWidth() - 1) / editor.View()->FitWidth());
  ASSERT_NE(fit, 8);
  Drag({QPoint(100, 100), QPoint(110, 100)});
  ASSERT_EQ(editor.InkOf(1).Strokes().size(), 2u);
  EXPECT_EQ(editor.InkOf(1).Strokes()[1].points[1],
            (InkPoint{static_cast<std::uint16_t>(110 * fit), PageRow(100 * fit)}));
  // A press outside the page area starts no stroke.
  editor.SetScale(ViewScale::Eighth);
  Drag({QPoint(500, 20), QPoint(520, 40)});
  EXPECT_EQ(editor.InkOf(1).Strokes().size(), 2u);
}

TEST_F(ViewerTest, ATapLeavesADotAndUndoAndRemoveAllWorkPerPage) {
  WriteSystemFax(File("two.tif"), {TestPage(800), TestPage(800)});
  ASSERT_EQ(editor.ShowTiff(File("two.tif")), 1);
  editor.SetPenMode(true);
  editor.SetPenWidth(1);
  editor.SetScale(ViewScale::Eighth);
  Drag({QPoint(10, 10)});
  ASSERT_EQ(editor.InkOf(1).Strokes().size(), 1u);
  EXPECT_EQ(editor.InkOf(1).Strokes()[0].points,
            (std::vector<InkPoint>{{80, PageRow(80)},
                                   {87, static_cast<std::uint16_t>(PageRow(80) + 7)}}));
  EXPECT_TRUE(BlackAt(Shot(), QPoint(10, 10)));
  editor.SetScale(ViewScale::Full);
  Drag({QPoint(5, 5)});  // one screen pixel is one page pixel: no second point
  EXPECT_EQ(editor.InkOf(1).Strokes()[1].points, (std::vector<InkPoint>{{5, 5}}));
  Drag({QPoint(100, 100), QPoint(150, 150)});
  ASSERT_EQ(editor.InkOf(1).Strokes().size(), 3u);
  // Page 2 has ink of its own; page 1 keeps its strokes.
  editor.NextPage();
  Drag({QPoint(30, 30), QPoint(40, 40)});
  EXPECT_EQ(editor.InkOf(2).Strokes().size(), 1u);
  editor.PreviousPage();
  EXPECT_EQ(editor.InkOf(1).Strokes().size(), 3u);

  editor.UndoStroke();
  EXPECT_EQ(editor.InkOf(1).Strokes().size(), 2u);
  EXPECT_EQ(editor.InkOf(1).Strokes()[1].points, (std::vector<InkPoint>{{5, 5}}));
  editor.findChild<QAction*>("button170")->trigger();  // the undo button
  EXPECT_EQ(editor.InkOf(1).Strokes().size(), 1u);
  editor.RemoveAllStrokes();
  EXPECT_TRUE(editor.InkOf(1).Empty());
  EXPECT_FALSE(BlackAt(Shot(), QPoint(10, 10)));
  EXPECT_EQ(editor.InkOf(2).Strokes().size(), 1u);
  editor.UndoStroke();  // nothing left: nothing happens
  EXPECT_TRUE(editor.InkOf(1).Empty());
}

TEST_F(ViewerTest, KeptInkIsWrittenIntoAValidSystemFaxFile) {
  WriteSystemFax(File("keep.tif"), {TestPage(300), TestPage(300), TestPage(300)});
  ASSERT_EQ(editor.ShowTiff(File("keep.tif")), 1);
  editor.NextPage();
  editor.SetPenMode(true);
  editor.SetPenWidth(4);
  editor.SetScale(ViewScale::Half);
  Drag({QPoint(50, 50), QPoint(150, 50)});  // shown row 100, columns 100 to 300
  editor.SetPenColour(InkColour::White);
  Drag({QPoint(100, 40), QPoint(100, 60)});  // erases across it at column 200
  ASSERT_EQ(editor.KeepInk(), 1) << Details();
  EXPECT_TRUE(editor.InkOf(2).Empty());
  EXPECT_EQ(editor.PageShown(), 2u);
  // libtiff's own tool reads every page, and the viewer's check passes.
  const std::string command = "tiffinfo -D " + File("keep.tif") + " >/dev/null 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0);
  FaxPageFile file;
  ASSERT_TRUE(file.Open(File("keep.tif")));
  ASSERT_EQ(file.PageTotal(), 3u);
  for (std::uint32_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(file.SelectPage(i));
    EXPECT_TRUE(IsSystemFaxPage(file.Tags())) << i;
    EXPECT_EQ(file.Tags().pageIndex, i);
    const auto page = file.Decode();
    ASSERT_TRUE(page);
    auto black = [&](std::uint32_t x, std::uint32_t y) {
      return (page->bits[y * page->RowBytes() + x / 8] >> (7 - x % 8)) & 1;
    };
    if (i != 1) {
      EXPECT_EQ(std::count(page->bits.begin(), page->bits.end(), 0), page->bits.size()) << i;
      continue;
    }
    EXPECT_TRUE(black(120, PageRow(100)));
    EXPECT_TRUE(black(280, PageRow(100) + 1));
    EXPECT_FALSE(black(200, PageRow(100)));  // the white stroke
    EXPECT_FALSE(black(120, PageRow(110)));
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);  // no copy
  EXPECT_TRUE(presenter.details.empty()) << Details();
}

// Rows are shown scaled by XResolution / YResolution: an inch square is as
// tall as it is wide on a normal (98 rows per inch) and on a fine page, at
// every scale, and ink on a normal page lands on the row under the pointer.
TEST_F(ViewerTest, PagesShowAtTheirTrueProportions) {
  // Both squares are shown from screen row 104 to 308 at full size.
  WriteSystemFax(File("res.tif"),
                 {TestPage(200, {{100, 50, 204, 98}}, 0), TestPage(400, {{100, 100, 204, 196}})});
  ASSERT_EQ(editor.ShowTiff(File("res.tif")), 1);
  for (const std::uint32_t rowsPerInch : {98u, 196u}) {
    if (rowsPerInch == 196u) editor.NextPage();
    for (const ViewScale scale : {ViewScale::Full, ViewScale::Half, ViewScale::Quarter}) {
      editor.SetScale(scale);
      const int f = editor.View()->Factor();
      const QImage shot = Shot();
      int down = 0;
      for (int y = 0; y < 400 / f; ++y) down += BlackAt(shot, QPoint(200 / f, y));
      EXPECT_NEAR(down, 204 / f, 1) << rowsPerInch << " factor " << f;  // its width
    }
  }
  editor.PreviousPage();
  editor.SetScale(ViewScale::Full);
  EXPECT_EQ(editor.View()->DisplaySize(), QSize(1728, 416));
  EXPECT_TRUE(test::Screenshot(&editor, "viewer-normal"));
  editor.SetPenMode(true);
  Drag({QPoint(400, 300), QPoint(500, 300)});
  ASSERT_EQ(editor.InkOf(1).Strokes().size(), 1u);
  EXPECT_EQ(editor.InkOf(1).Strokes()[0].points[0], (InkPoint{400, 144}));
}

// Pictures of the viewer for a person to look at.
TEST_F(ViewerTest, Screenshots) {
  WriteSystemFax(File("shot.tif"), {TestPage(2200, {{100, 100, 1528, 12},
                                                    {100, 300, 700, 40},
                                                    {100, 400, 400, 400},
                                                    {900, 400, 600, 8},
                                                    {100, 2000, 1528, 12}}),
                                    TestPage(800)});
  ASSERT_EQ(editor.ShowTiff(File("shot.tif")), 1);
  editor.SetPenMode(true);
  editor.SetPenWidth(8);
  editor.SetScale(ViewScale::Half);
  Drag({QPoint(480, 150), QPoint(520, 200), QPoint(600, 230), QPoint(700, 220)});
  editor.SetPenColour(InkColour::White);
  Drag({QPoint(80, 220), QPoint(240, 380)});
  for (auto [scale, name] : {std::pair{ViewScale::Half, "half"},
                             {ViewScale::FitWidth, "fit-width"},
                             {ViewScale::Full, "full"}}) {
    editor.SetScale(scale);
    QApplication::processEvents();  // the scroll bars follow by a queued event
    EXPECT_TRUE(test::Screenshot(&editor, QString("viewer-") + name));
  }
}

}  // namespace
}  // namespace vexo::ui
