// The page viewer on real fax files: the tag check and its message, page
// navigation, the scales, ink in page coordinates at every scale, undo and
// remove all, ink kept in the file, PDF export, and screenshots.
#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include <cstdlib>
#include <filesystem>

#include "base/error_pool.h"
#include "base/strings.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/viewer/viewer_files.h"
#include "ui/viewer/fax_page_file.h"
#include "ui/viewer/tiff_editor.h"

namespace vexo::ui {
namespace {

using test::TestPage;

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

  // A stroke dragged over the page area through the given screen points.
  void Drag(std::initializer_list<QPoint> points) {
    auto it = points.begin();
    QTest::mousePress(Viewport(), Qt::LeftButton, {}, *it);
    for (++it; it != points.end(); ++it) QTest::mouseMove(Viewport(), *it);
    QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, *std::prev(points.end()));
  }
  void Tap(QPoint point) {
    QTest::mousePress(Viewport(), Qt::LeftButton, {}, point);
    QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, point);
  }
  bool BlackAt(const QImage& shot, QPoint p) const { return qGray(shot.pixel(p)) < 64; }
  QImage Shot() const { return Viewport()->grab().toImage(); }
  // The scroll bars are shown or hidden by a queued event.
  QPixmap Picture() {
    QApplication::processEvents();
    return editor.grab();
  }

  vexo::test::TempDir dir;
  test::RecordingPresenter presenter;
  CTiffEditor editor;
};

TEST_F(ViewerTest, StepsThroughTheFilesPages) {
  test::WriteSystemFax(File("three.tif"), {TestPage(100), TestPage(110), TestPage(120)});
  ASSERT_EQ(editor.ShowTiff(File("three.tif")), 1);
  editor.SetScale(ViewScale::Full);
  EXPECT_EQ(editor.PageShown(), 1u);
  EXPECT_EQ(editor.PageTotal(), 3u);
  EXPECT_EQ(editor.PageBox()->text(), "1");
  EXPECT_EQ(editor.View()->DisplaySize(), QSize(1728, 100));

  editor.NextPage();
  editor.NextPage();
  EXPECT_EQ(editor.PageShown(), 3u);
  EXPECT_EQ(editor.View()->DisplaySize().height(), 120);
  editor.NextPage();  // beyond the last: nothing happens
  EXPECT_EQ(editor.PageShown(), 3u);
  editor.PreviousPage();
  EXPECT_EQ(editor.PageShown(), 2u);
  EXPECT_EQ(editor.View()->DisplaySize().height(), 110);

  // The page number box: a page beyond the last, 0 and text keep the page shown.
  for (const char* typed : {"9", "0", "4"}) {
    editor.PageBox()->setText(typed);
    QTest::keyClick(editor.PageBox(), Qt::Key_Return);
    EXPECT_EQ(editor.PageShown(), 2u) << typed;
    EXPECT_EQ(editor.PageBox()->text(), "2") << typed;
  }
  editor.PageBox()->setText("1");
  QTest::keyClick(editor.PageBox(), Qt::Key_Return);
  EXPECT_EQ(editor.PageShown(), 1u);
  EXPECT_EQ(editor.View()->DisplaySize().height(), 100);
  editor.PreviousPage();  // before the first: nothing happens
  EXPECT_EQ(editor.PageShown(), 1u);

  // The tool bar's buttons do the same.
  editor.findChild<QAction*>("button149")->trigger();
  EXPECT_EQ(editor.PageShown(), 2u);
  editor.findChild<QAction*>("button151")->trigger();
  EXPECT_EQ(editor.PageShown(), 1u);
  EXPECT_TRUE(presenter.details.empty()) << presenter.AllDetails();
}

TEST_F(ViewerTest, RefusesFilesOtherProgramsWroteAndFillOrderTwo) {
  test::WriteForeignFax(File("efax.tif"), "efax 0.9a");
  test::WriteSystemFax(File("lsb.tif"), {TestPage(50, {}, true)});
  for (const char* name : {"efax.tif", "lsb.tif"}) {
    presenter.details.clear();
    EXPECT_EQ(editor.ShowTiff(File(name)), 0) << name;
    EXPECT_EQ(editor.PageShown(), 0u);
    EXPECT_FALSE(editor.View()->HasPage());
    ASSERT_EQ(presenter.details.size(), 1u) << name;
    EXPECT_NE(presenter.details[0].find(
                  "Message = Tiff format not support, please use tiff created by Vexo itself"),
              std::string::npos)
        << presenter.details[0];
    EXPECT_NE(presenter.details[0].find("Module = TiffEditor"), std::string::npos);
    EXPECT_NE(presenter.details[0].find("Function = ShowTiff"), std::string::npos);
  }
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);  // flushed at once
}

TEST_F(ViewerTest, AForeignLaterPageIsRefusedAndTheShownPageStays) {
  test::WriteSystemFax(File("mixed.tif"), {TestPage(60), TestPage(70, {}, true)});
  ASSERT_EQ(editor.ShowTiff(File("mixed.tif")), 1);
  editor.NextPage();
  EXPECT_EQ(editor.PageShown(), 1u);
  ASSERT_EQ(presenter.details.size(), 1u);
  EXPECT_NE(presenter.details[0].find("Function = OnTifNext"), std::string::npos);
  editor.PageBox()->setText("2");
  QTest::keyClick(editor.PageBox(), Qt::Key_Return);
  EXPECT_EQ(editor.PageShown(), 1u);
  EXPECT_EQ(editor.PageBox()->text(), "1");
  ASSERT_EQ(presenter.details.size(), 2u);
  EXPECT_NE(presenter.details[1].find("Function = OnTifPrevious"), std::string::npos);
  // Page 1 is still readable after the refused selection.
  editor.SetScale(ViewScale::Full);
  EXPECT_EQ(editor.View()->DisplaySize().height(), 60);
}

TEST_F(ViewerTest, AMissingFileIsReportedWithItsName) {
  EXPECT_EQ(editor.ShowTiff(File("none.tif")), 0);
  ASSERT_EQ(presenter.details.size(), 1u);
  EXPECT_NE(presenter.details[0].find("Open File Error FileName=[" + File("none.tif") +
                                      "], ErrMsg = No such file or directory"),
            std::string::npos)
      << presenter.details[0];
}

TEST_F(ViewerTest, ScalesAndScrollBars) {
  test::WriteSystemFax(File("one.tif"), {TestPage(2000)});
  ASSERT_EQ(editor.ShowTiff(File("one.tif")), 1);
  PageView* view = editor.View();
  editor.SetScale(ViewScale::Full);
  EXPECT_GT(view->horizontalScrollBar()->maximum(), 0);
  EXPECT_GT(view->verticalScrollBar()->maximum(), 0);
  for (auto [scale, factor] :
       {std::pair{ViewScale::Half, 2}, {ViewScale::Quarter, 4}, {ViewScale::Eighth, 8}}) {
    editor.SetScale(scale);
    EXPECT_EQ(view->Factor(), factor);
    EXPECT_EQ(view->DisplaySize(), QSize(1728 / factor, 2000 / factor));
  }
  EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0);  // 216 pixels fit across
  EXPECT_EQ(view->verticalScrollBar()->maximum(), 0);

  // Fit to width: the page width over the view width, rounded up.
  editor.SetScale(ViewScale::FitWidth);
  const int fit = view->FitWidth();
  EXPECT_EQ(view->Factor(), (1728 + fit - 1) / fit);
  EXPECT_LE(view->DisplaySize().width(), fit);
  EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0);
  EXPECT_EQ(ScaleFactor(ViewScale::FitWidth, 1728, 864), 2);
  EXPECT_EQ(ScaleFactor(ViewScale::FitWidth, 1728, 865), 2);
  EXPECT_EQ(ScaleFactor(ViewScale::FitWidth, 1728, 863), 3);
  EXPECT_EQ(ScaleFactor(ViewScale::FitWidth, 1728, 4000), 1);

  // The scale menu's entries are exclusive and follow the scale.
  int checked = 0;
  for (QAction* action : editor.findChildren<QAction*>())
    if (action->isCheckable() && action->isChecked() && action->data().toInt() == 0 &&
        action->text() == "Fit to width")
      ++checked;
  EXPECT_EQ(checked, 1);

  // Dragging outside pen mode moves the view.
  editor.SetScale(ViewScale::Full);
  Drag({QPoint(300, 300), QPoint(250, 260), QPoint(200, 200)});
  EXPECT_EQ(view->horizontalScrollBar()->value(), 100);
  EXPECT_EQ(view->verticalScrollBar()->value(), 100);
  EXPECT_TRUE(editor.InkOf(1).Empty());
}

TEST_F(ViewerTest, InkSitsAtTheSamePageCoordinatesAtEveryScale) {
  test::WriteSystemFax(File("blank.tif"), {TestPage(1600)});
  ASSERT_EQ(editor.ShowTiff(File("blank.tif")), 1);
  editor.SetPenMode(true);
  editor.SetPenWidth(8);
  editor.SetScale(ViewScale::Quarter);
  Drag({QPoint(20, 30), QPoint(60, 30), QPoint(60, 90)});
  ASSERT_EQ(editor.InkOf(1).Strokes().size(), 1u);
  const auto& points = editor.InkOf(1).Strokes()[0].points;
  ASSERT_EQ(points.size(), 3u);
  EXPECT_EQ(points[0], (InkPoint{80, 120}));
  EXPECT_EQ(points[2], (InkPoint{240, 360}));

  // At every scale the corner of the stroke (page 240, 120) is drawn where the
  // page pixel is shown, and the page away from it stays white.
  for (ViewScale scale : {ViewScale::Full, ViewScale::Half, ViewScale::Quarter, ViewScale::Eighth,
                          ViewScale::FitWidth}) {
    editor.SetScale(scale);
    const int f = editor.View()->Factor();
    const QImage shot = Shot();
    EXPECT_TRUE(BlackAt(shot, QPoint(240 / f, 120 / f))) << "factor " << f;
    EXPECT_TRUE(BlackAt(shot, QPoint(240 / f, 240 / f))) << "factor " << f;
    EXPECT_FALSE(BlackAt(shot, QPoint(400 / f, 240 / f))) << "factor " << f;
    EXPECT_FALSE(BlackAt(shot, QPoint(160 / f, 300 / f))) << "factor " << f;
  }

  // Drawn at fit to width, points are scaled by the factor the page is shown at.
  editor.resize(760, 600);
  QApplication::processEvents();
  editor.SetScale(ViewScale::FitWidth);
  const int fit = editor.View()->Factor();
  ASSERT_EQ(fit, (1728 + editor.View()->FitWidth() - 1) / editor.View()->FitWidth());
  ASSERT_NE(fit, 8);
  Drag({QPoint(100, 100), QPoint(110, 100)});
  ASSERT_EQ(editor.InkOf(1).Strokes().size(), 2u);
  EXPECT_EQ(
      editor.InkOf(1).Strokes()[1].points[1],
      (InkPoint{static_cast<std::uint16_t>(110 * fit), static_cast<std::uint16_t>(100 * fit)}));

  // A press outside the page area starts no stroke.
  editor.SetScale(ViewScale::Eighth);
  Drag({QPoint(500, 20), QPoint(520, 40)});
  EXPECT_EQ(editor.InkOf(1).Strokes().size(), 2u);
}

TEST_F(ViewerTest, ATapLeavesADotAndUndoAndRemoveAllWorkPerPage) {
  test::WriteSystemFax(File("two.tif"), {TestPage(800), TestPage(800)});
  ASSERT_EQ(editor.ShowTiff(File("two.tif")), 1);
  editor.SetPenMode(true);
  editor.SetPenWidth(1);
  editor.SetScale(ViewScale::Eighth);
  Tap(QPoint(10, 10));
  ASSERT_EQ(editor.InkOf(1).Strokes().size(), 1u);
  EXPECT_EQ(editor.InkOf(1).Strokes()[0].points, (std::vector<InkPoint>{{80, 80}, {87, 87}}));
  EXPECT_TRUE(BlackAt(Shot(), QPoint(10, 10)));
  editor.SetScale(ViewScale::Full);
  Tap(QPoint(5, 5));  // one screen pixel is one page pixel: no second point
  EXPECT_EQ(editor.InkOf(1).Strokes()[1].points, (std::vector<InkPoint>{{5, 5}}));
  Drag({QPoint(100, 100), QPoint(150, 150)});
  ASSERT_EQ(editor.InkOf(1).Strokes().size(), 3u);

  // Page 2 has ink of its own; page 1 keeps its strokes.
  editor.NextPage();
  EXPECT_TRUE(editor.InkOf(2).Empty());
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

TEST_F(ViewerTest, InvertSwapsTheColoursOnScreenOnly) {
  test::WriteSystemFax(File("inv.tif"), {TestPage(400, {{0, 0, 100, 100}})});
  const std::string before = vexo::test::ReadFileBytes(File("inv.tif"));
  ASSERT_EQ(editor.ShowTiff(File("inv.tif")), 1);
  editor.SetScale(ViewScale::Full);
  QImage shot = Shot();
  EXPECT_TRUE(BlackAt(shot, QPoint(50, 50)));
  EXPECT_FALSE(BlackAt(shot, QPoint(200, 200)));
  editor.SetInverted(true);
  shot = Shot();
  EXPECT_FALSE(BlackAt(shot, QPoint(50, 50)));
  EXPECT_TRUE(BlackAt(shot, QPoint(200, 200)));
  editor.NextPage();  // the only page: stays inverted
  EXPECT_TRUE(BlackAt(Shot(), QPoint(200, 200)));
  EXPECT_EQ(vexo::test::ReadFileBytes(File("inv.tif")), before);
}

TEST_F(ViewerTest, KeptInkIsWrittenIntoAValidSystemFaxFile) {
  test::WriteSystemFax(File("keep.tif"), {TestPage(300), TestPage(300), TestPage(300)});
  ASSERT_EQ(editor.ShowTiff(File("keep.tif")), 1);
  editor.NextPage();
  editor.SetPenMode(true);
  editor.SetPenWidth(4);
  editor.SetScale(ViewScale::Half);
  Drag({QPoint(50, 50), QPoint(150, 50)});  // page row 100, columns 100 to 300
  editor.SetPenColour(InkColour::White);
  Drag({QPoint(100, 40), QPoint(100, 60)});  // erases across it at column 200
  ASSERT_EQ(editor.KeepInk(), 1) << presenter.AllDetails();
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
    int count = 0;
    for (std::uint8_t byte : page->bits) count += std::popcount(byte);
    if (i != 1) {
      EXPECT_EQ(count, 0) << "page " << i + 1 << " changed";
      continue;
    }
    EXPECT_TRUE(black(120, 100));
    EXPECT_TRUE(black(280, 101));
    EXPECT_FALSE(black(200, 100));  // the white stroke
    EXPECT_FALSE(black(120, 110));
  }
  // No copy is left beside the file.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    files += entry.is_regular_file();
  EXPECT_EQ(files, 1);
  EXPECT_TRUE(presenter.details.empty()) << presenter.AllDetails();
}

TEST_F(ViewerTest, ExportsThePagesAsPdf) {
  test::WriteSystemFax(File("pdf.tif"), {TestPage(200), TestPage(200)});
  ASSERT_EQ(editor.ShowTiff(File("pdf.tif")), 1);
  ASSERT_EQ(editor.ExportPdf(File("out.pdf")), 1);
  const std::string pdf = vexo::test::ReadFileBytes(File("out.pdf"));
  EXPECT_EQ(pdf.rfind("%PDF-", 0), 0u);
  EXPECT_NE(pdf.find("/Count 2"), std::string::npos);
  // A folder that does not exist is reported, nothing is left.
  EXPECT_EQ(editor.ExportPdf(File("no/such/dir/out.pdf")), 0);
  EXPECT_FALSE(presenter.details.empty());
}

TEST_F(ViewerTest, ClosingFreesTheFileAndTheInk) {
  test::WriteSystemFax(File("c.tif"), {TestPage(200)});
  ASSERT_EQ(editor.ShowTiff(File("c.tif")), 1);
  editor.SetPenMode(true);
  Drag({QPoint(10, 10), QPoint(20, 20)});
  editor.accept();
  EXPECT_EQ(editor.PageShown(), 0u);
  EXPECT_FALSE(editor.View()->HasPage());
  EXPECT_TRUE(editor.InkOf(1).Empty());
}

// Pictures of the viewer for a person to look at.
TEST_F(ViewerTest, Screenshots) {
  test::WriteSystemFax(File("shot.tif"), {TestPage(2200, {{100, 100, 1528, 12},
                                                          {100, 300, 700, 40},
                                                          {100, 400, 400, 400},
                                                          {900, 400, 600, 8},
                                                          {900, 500, 600, 8},
                                                          {900, 600, 600, 8},
                                                          {100, 2000, 1528, 12}}),
                                          TestPage(800)});
  ASSERT_EQ(editor.ShowTiff(File("shot.tif")), 1);
  editor.SetPenMode(true);
  editor.SetPenWidth(8);
  editor.SetScale(ViewScale::Half);
  Drag({QPoint(480, 150), QPoint(520, 200), QPoint(600, 230), QPoint(700, 220)});
  editor.SetPenColour(InkColour::White);
  Drag({QPoint(80, 220), QPoint(240, 380)});
  const QString dirPath = test::ScreenshotDir();
  EXPECT_TRUE(Picture().save(dirPath + "/viewer-half.png"));
  editor.SetScale(ViewScale::FitWidth);
  EXPECT_TRUE(Picture().save(dirPath + "/viewer-fit-width.png"));
  editor.SetScale(ViewScale::Full);
  EXPECT_TRUE(Picture().save(dirPath + "/viewer-full.png"));
}

}  // namespace
}  // namespace vexo::ui
