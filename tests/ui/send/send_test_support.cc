#include "tests/ui/send/send_test_support.h"

#include <tiffio.h>
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QMetaObject>
#include <QPixmap>
#include <QWidget>

#include <memory>

#include "base/error_pool.h"
#include "base/strings.h"
#include "ui/common/error_dialog.h"

namespace vexo::ui::test {

void ClickLater(QAbstractButton* button) {
  QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
}

void Screenshot(QWidget* widget, const QString& name) {
  const QString dir = QString::fromUtf8(VEXO_SCREENSHOT_DIR);
  QDir().mkpath(dir);
  widget->grab().save(dir + "/" + name + ".png");
}

ModalScript::ModalScript(int limitMs) : m_limitMs(limitMs) {
  QObject::connect(&m_timer, &QTimer::timeout, [this] { Tick(); });
  m_timer.start(20);
  m_clock.start();
}

ModalScript& ModalScript::On(const QString& objectName, Action action) {
  m_steps.push_back({objectName, std::move(action)});
  return *this;
}

ModalScript& ModalScript::Box(QMessageBox::StandardButton button) {
  return On("VexoMessageBox", [this, button](QWidget* window) {
    auto* box = qobject_cast<QMessageBox*>(window);
    boxes << box->text();
    QAbstractButton* chosen = box->button(button);
    ClickLater(chosen ? chosen : box->buttons().value(0));
  });
}

ModalScript& ModalScript::Error() {
  return On("ErrorDialog", [this](QWidget* window) {
    errors << static_cast<ErrorDialog*>(window)->Text();
    QMetaObject::invokeMethod(static_cast<QDialog*>(window), &QDialog::accept,
                              Qt::QueuedConnection);
  });
}

void ModalScript::Tick() {
  QWidget* modal = QApplication::activeModalWidget();
  if (!modal) return;
  if (m_clock.elapsed() > m_limitMs) {
    m_timedOut = true;
    ADD_FAILURE() << "script stalled at window " << modal->objectName().toStdString()
                  << (m_steps.empty() ? std::string(" (no steps left)")
                                      : " waiting for " + m_steps.front().objectName.toStdString());
    if (auto* dialog = qobject_cast<QDialog*>(modal))
      dialog->reject();
    else
      modal->close();
    return;
  }
  if (m_steps.empty() || modal->objectName() != m_steps.front().objectName) return;
  Step step = std::move(m_steps.front());
  m_steps.pop_front();
  windows << step.objectName;
  step.action(modal);
}

namespace {

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

}  // namespace

void WriteForeignTiff(const std::filesystem::path& file, std::uint32_t width, std::uint32_t rows,
                      float dpi, std::uint16_t pages) {
  TiffPtr tif(TIFFOpen(file.c_str(), "w"));
  ASSERT_TRUE(tif);
  const std::uint32_t bytesPerRow = (width + 7) / 8;
  std::vector<unsigned char> row(bytesPerRow);
  for (std::uint16_t page = 0; page < pages; ++page) {
    TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, rows);
    TIFFSetField(tif.get(), TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif.get(), TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tif.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif.get(), TIFFTAG_XRESOLUTION, dpi);
    TIFFSetField(tif.get(), TIFFTAG_YRESOLUTION, dpi);
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

std::vector<FaxPage> ReadFaxPages(const std::filesystem::path& file) {
  std::vector<FaxPage> pages;
  TiffPtr tif(TIFFOpen(file.c_str(), "r"));
  if (!tif) return pages;
  do {
    FaxPage page;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &page.width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &page.length);
    TIFFGetField(tif.get(), TIFFTAG_PAGENUMBER, &page.pageNumber, &page.pageTotal);
    pages.push_back(page);
  } while (TIFFReadDirectory(tif.get()));
  return pages;
}

void SendTest::SetUp() {
  ASSERT_TRUE(LoadResDll("EngRes"));
  ErrorPool::Instance().Clear();
  presenter = std::make_unique<ScopedQtPresenter>();
  coverDir = home.path() / "Cover";
  dataDir = home.path() / "Data";
  std::filesystem::create_directories(coverDir);
  std::filesystem::create_directories(dataDir);
  for (const auto& entry : std::filesystem::directory_iterator(
           std::filesystem::path(VEXO_SOURCE_DIR) / "resources" / "cover"))
    std::filesystem::copy_file(entry.path(), coverDir / entry.path().filename());
  settings.SetHomeDirectory(home.dir());
  settings.CoverDir = coverDir.string() + "/";
  settings.TIFDataDir = dataDir.string() + "/";
  settings.LogPath = home.dir();
  settings.ProfileFullName = "Vera Sender";
  settings.ProfileFaxNO = "+44 20 7946 0000";
  settings.ProfileLogo = settings.CoverDir + "logo.bmp";
  store = std::make_unique<DBFunc>(StoreOptions{home.path(), dataDir});
  ASSERT_EQ(store->InitDatabases(), 1);

  context.settings = &settings;
  context.store = store.get();
  context.contactsFile = home.path() / "contacts.vcf";  // none: an empty book
  context.newFaxFile = [this] {
    return (dataDir / ("QXTEST" + std::to_string(++fileCounter) + ".tif")).string();
  };
  context.startSend = [this](const SendFields& fields) {
    sends.push_back(fields);
    sendFileExisted.push_back(std::filesystem::exists(fields.generatedFile));
    return 1;
  };
  context.filed = [this](int folder, const FaxRecord& record) {
    filed.emplace_back(folder, record);
  };
}

void SendTest::TearDown() {
  presenter.reset();
  store.reset();
  ErrorPool::Instance().Clear();
}

std::vector<std::string> SendTest::DataFiles() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dataDir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<FaxRecord> SendTest::Records(int folder) {
  RecordIds sink;
  std::vector<FaxRecord> records;
  if (store->ListFolder(sink, FolderType(folder), 0, kSortAscending) != 1) return records;
  for (CEOID oid : sink.ids) {
    FaxRecord record;
    if (store->ReadRecord(oid, record) == 1) records.push_back(record);
  }
  return records;
}

}  // namespace vexo::ui::test
