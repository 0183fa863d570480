#include "tests/ui/viewer/viewer_files.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <array>
#include <cstdlib>
#include <memory>

#include "document/tiff_lib.h"
#include "document/tiff_oper.h"

namespace vexo::ui::test {
namespace {

std::vector<std::uint8_t> Bitmap(const TestPage& page) {
  const std::size_t rowBytes = kPageWidth / 8;
  std::vector<std::uint8_t> bits(rowBytes * page.rows, 0);
  for (const auto& [x, y, w, h] : page.black)
    for (std::uint32_t r = y; r < y + h && r < page.rows; ++r)
      for (std::uint32_t c = x; c < x + w && c < kPageWidth; ++c)
        bits[r * rowBytes + c / 8] |= static_cast<std::uint8_t>(0x80 >> (c % 8));
  return bits;
}

}  // namespace

void WriteSystemFax(const std::string& path, const std::vector<TestPage>& pages) {
  TiffOper writer;
  ASSERT_EQ(writer.OpenWriteTiff(path, CreateMode::Replace), 1);
  for (const TestPage& page : pages) {
    FaxCoding coding;
    if (page.lsbFirst) coding.fillOrder = FILLORDER_LSB2MSB;
    const std::vector<std::uint8_t> bits = Bitmap(page);
    const auto coded = EncodeFaxRows(coding, bits.data(), bits.size());
    ASSERT_TRUE(coded.has_value());
    ASSERT_EQ(
        writer.SetPageTags(kPageWidth, page.rows, PAGE_FINE | (page.lsbFirst ? PAGE_LSB_FIRST : 0)),
        1);
    ASSERT_EQ(writer.WriteFaxData(coded->data(), coded->size()), 1);
    ASSERT_EQ(writer.EndPage(page.rows), 1);
  }
  ASSERT_EQ(writer.CloseWriteTiff(), 1);
}

void WriteForeignFax(const std::string& path, const char* software) {
  std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpen(path.c_str(), "w"), TIFFClose);
  ASSERT_TRUE(tif);
  TIFF* t = tif.get();
  const std::uint32_t rows = 100;
  TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kPageWidth);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, rows);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rows);
  TIFFSetField(t, TIFFTAG_XRESOLUTION, 204.0f);
  TIFFSetField(t, TIFFTAG_YRESOLUTION, 196.0f);
  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(t, TIFFTAG_PAGENUMBER, 0, 1);
  TIFFSetField(t, TIFFTAG_SOFTWARE, software);
  std::vector<std::uint8_t> row(kPageWidth / 8, 0);
  for (std::uint32_t r = 0; r < rows; ++r) ASSERT_EQ(TIFFWriteScanline(t, row.data(), r, 0), 1);
}

std::string RecordingPresenter::AllDetails() const {
  std::string all;
  for (const std::string& text : details) all += text + "\n";
  return all;
}

QString ScreenshotDir() {
  if (const char* dir = std::getenv("VEXO_SCREENSHOT_DIR"); dir && *dir) return dir;
  QDir dir(QCoreApplication::applicationDirPath());
  while (!QFileInfo::exists(dir.filePath("CMakeCache.txt")) && dir.cdUp()) {
  }
  if (!QFileInfo::exists(dir.filePath("CMakeCache.txt")))
    dir = QDir(QCoreApplication::applicationDirPath());
  dir.mkpath("screenshots");
  return dir.filePath("screenshots");
}

}  // namespace vexo::ui::test
