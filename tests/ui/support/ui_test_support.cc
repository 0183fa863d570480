#include "tests/ui/support/ui_test_support.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QPlainTextEdit>

#include <cstdlib>
#include <memory>
#include <vector>

#include "tests/support/wait_for.h"
#include "ui/common/ui_strings.h"

namespace vexo::ui::test {

bool WaitFor(const std::function<bool()>& ready, int ms) {
  return vexo::test::WaitFor(
      [&] {
        QApplication::processEvents(QEventLoop::AllEvents);
        return ready();
      },
      std::chrono::milliseconds(ms), std::chrono::milliseconds(5));
}

QAbstractButton* ButtonWithText(QWidget* window, unsigned textId) {
  for (auto* button : window->findChildren<QAbstractButton*>())
    if (button->text() == ResString(textId) && button->isVisible()) return button;
  ADD_FAILURE() << "no button " << ResString(textId).toStdString() << " in "
                << window->objectName().toStdString();
  return nullptr;
}

bool Screenshot(QWidget* widget, const QString& name) {
  QDir dir(QCoreApplication::applicationDirPath());
  while (!QFileInfo::exists(dir.filePath("CMakeCache.txt")) && dir.cdUp()) {
  }
  const char* chosen = std::getenv("VEXO_SCREENSHOT_DIR");
  const QString path = chosen && *chosen ? QString(chosen)
                       : dir.exists("CMakeCache.txt")
                           ? dir.filePath("screenshots")
                           : QCoreApplication::applicationDirPath() + "/screenshots";
  QDir().mkpath(path);
  return widget->grab().save(path + "/" + name + ".png");
}

void WriteForeignTiff(const std::filesystem::path& file, std::uint32_t width, std::uint32_t rows,
                      float xdpi, float ydpi, std::uint16_t pages, int compression,
                      const char* software) {
  std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpen(file.c_str(), "w"), TIFFClose);
  ASSERT_TRUE(tif);
  const std::uint32_t bytesPerRow = (width + 7) / 8;
  std::vector<unsigned char> row(bytesPerRow);
  for (std::uint16_t page = 0; page < pages; ++page) {
    TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, rows);
    TIFFSetField(tif.get(), TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif.get(), TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tif.get(), TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    if (software) TIFFSetField(tif.get(), TIFFTAG_SOFTWARE, software);
    TIFFSetField(tif.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif.get(), TIFFTAG_XRESOLUTION, xdpi);
    TIFFSetField(tif.get(), TIFFTAG_YRESOLUTION, ydpi);
    TIFFSetField(tif.get(), TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif.get(), TIFFTAG_ROWSPERSTRIP, rows);
    TIFFSetField(tif.get(), TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tif.get(), TIFFTAG_PAGENUMBER, page, pages);
    for (std::uint32_t y = 0; y < rows; ++y) {
      // A black bar every 40 rows, a left margin line throughout.
      const bool bar = (y / 20) % 2 == 1 && (y / 20) % 4 == 1;
      std::fill(row.begin(), row.end(), bar ? 0xFF : 0x00);
      row[bytesPerRow / 10] |= 0x80;
      ASSERT_EQ(TIFFWriteScanline(tif.get(), row.data(), y, 0), 1);
    }
    ASSERT_EQ(TIFFWriteDirectory(tif.get()), 1);
  }
}

ModalHandler::ModalHandler(std::function<void(QWidget*)> answer) : m_answer(std::move(answer)) {
  QObject::connect(&m_timer, &QTimer::timeout, [this] {
    // A window is answered once (the next may be made at the same address).
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal->property("answered").toBool()) return;
    modal->setProperty("answered", true);
    ++shown;
    QTimer::singleShot(0, modal, [this, modal] {
      m_answer(modal);
      if (modal == QApplication::activeModalWidget())
        if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
    });
  });
  m_timer.start(20);
}

ModalAnswerer::ModalAnswerer(QMessageBox::StandardButton answer)
    : m_answer(answer), m_handler([this](QWidget* modal) {
        shownOnGuiThread = shownOnGuiThread && modal->thread() == qApp->thread();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
          boxes << box->text();
          captions << box->windowTitle();
          QAbstractButton* button = box->button(m_answer);
          (button ? button : box->buttons().value(0))->click();
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
          auto* text = dialog->findChild<QPlainTextEdit*>();
          dialogTexts << (text ? text->toPlainText() : dialog->objectName());
          dialog->accept();
        }
      }) {}

}  // namespace vexo::ui::test
