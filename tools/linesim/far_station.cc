#include "tools/linesim/far_station.h"

#include <cstdio>
#include <filesystem>
#include <vector>

namespace vexo::linesim {
namespace {

constexpr int kChunkBytes = 4096;
// A page larger than this is not a fax page a test sends; stop coding it.
constexpr std::size_t kMaxPageBytes = 8u << 20;
// Six EOLs in line order: the return to control that ends a page.
constexpr std::uint8_t kRtc[] = {0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80};

// Copies one field of a TIFF directory when the source has it.
template <typename T>
void CopyField(TIFF* from, TIFF* to, ttag_t tag) {
  T value{};
  if (TIFFGetField(from, tag, &value) == 1) TIFFSetField(to, tag, value);
}

}  // namespace

FarStation::~FarStation() { Finish(); }

// Whether the first page of a TIFF has fine rows (at least 150 lines per
// inch). Read from the tag itself: spandsp only knows the usual resolutions
// and takes an unlisted one such as 209 lines per inch for normal.
bool FarStation::FirstPageFine(const std::string& file) {
  const TiffFile tiff(TIFFOpen(file.c_str(), "r"));
  if (!tiff) return false;
  float rows = 0;
  std::uint16_t unit = RESUNIT_INCH;
  TIFFGetField(tiff.get(), TIFFTAG_YRESOLUTION, &rows);
  TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_RESOLUTIONUNIT, &unit);
  const float perInch = unit == RESUNIT_CENTIMETER ? rows * 2.54f : rows;
  return perInch >= 150;
}

bool FarStation::BeginReceive(const std::string& file, int yResolution, int encoding,
                              std::string& error) {
  Finish();
  m_encoding = encoding;
  m_file = file;
  m_pageFile = file + ".page";
  m_yResolution = yResolution;
  m_pagesReceived = 0;
  m_out.reset(TIFFOpen(file.c_str(), "w"));
  if (!m_out) {
    error = "cannot create " + file;
    return false;
  }
  return true;
}

void FarStation::Finish() {
  DropPage();
  const bool empty = m_out && m_pagesReceived == 0;
  m_out.reset();
  // A file without a page is no TIFF; leave none behind.
  std::error_code ec;
  if (empty) std::filesystem::remove(m_file, ec);
}

void FarStation::DropPage() {
  if (m_rx == nullptr) return;
  t4_rx_free(m_rx);
  m_rx = nullptr;
  std::error_code ec;
  std::filesystem::remove(m_pageFile, ec);
}

void FarStation::StartPage() {
  m_rx = t4_rx_init(nullptr, m_pageFile.c_str(), T4_COMPRESSION_ITU_T4_1D);
  if (m_rx == nullptr) return;
  t4_rx_set_rx_encoding(m_rx, m_encoding);
  t4_rx_set_image_width(m_rx, T4_WIDTH_R8_A4);
  t4_rx_set_x_resolution(m_rx, T4_X_RESOLUTION_R8);
  t4_rx_set_y_resolution(m_rx, m_yResolution);
  t4_rx_start_page(m_rx);
  m_rtcSeen = false;
}

void FarStation::PageData(const std::uint8_t* data, std::size_t size) {
  if (!m_out) return;
  if (m_rx == nullptr) StartPage();
  if (m_rx == nullptr) return;
  // Bits go to the decoder in the order they travel on the line, first bit
  // in bit 0; what follows RTC is fill before the page end and is dropped.
  for (std::size_t i = 0; i < size && !m_rtcSeen; ++i)
    for (int bit = 0; bit < 8 && !m_rtcSeen; ++bit)
      if (t4_rx_put_bit(m_rx, (data[i] >> bit) & 1)) m_rtcSeen = true;
}

PageVerdict FarStation::EndPage(bool refuse) {
  PageVerdict verdict;
  if (!m_out) return verdict;
  // The modem closes every 1-D page with RTC on the line, whether or not the
  // program's data ended with one; 2-D and T.6 pages end with their own.
  if (m_encoding == T4_COMPRESSION_ITU_T4_1D) PageData(kRtc, sizeof kRtc);
  if (m_rx == nullptr) return verdict;
  t4_rx_end_page(m_rx);
  t4_stats_t stats{};
  t4_rx_get_transfer_statistics(m_rx, &stats);
  t4_rx_free(m_rx);
  m_rx = nullptr;
  verdict.rows = stats.length;
  verdict.badRows = stats.bad_rows;
  // A receiver that found no rows or broken rows asks for the page again.
  verdict.accepted = !refuse && stats.length > 0 && stats.bad_rows == 0;
  std::string error;
  if (verdict.accepted && !AppendPage(error))
    std::fprintf(stderr, "vexo-linesim: %s\n", error.c_str());
  if (verdict.accepted) ++m_pagesReceived;
  std::error_code ec;
  std::filesystem::remove(m_pageFile, ec);
  return verdict;
}

// Adds the decoded page, as coded by the decoder, as the next page of the file.
bool FarStation::AppendPage(std::string& error) {
  TiffFile page(TIFFOpen(m_pageFile.c_str(), "r"));
  if (!page) {
    error = "cannot read the decoded page " + m_pageFile;
    return false;
  }
  TIFF* in = page.get();
  TIFF* out = m_out.get();
  CopyField<std::uint32_t>(in, out, TIFFTAG_IMAGEWIDTH);
  CopyField<std::uint32_t>(in, out, TIFFTAG_IMAGELENGTH);
  CopyField<std::uint16_t>(in, out, TIFFTAG_BITSPERSAMPLE);
  CopyField<std::uint16_t>(in, out, TIFFTAG_SAMPLESPERPIXEL);
  CopyField<std::uint16_t>(in, out, TIFFTAG_COMPRESSION);
  CopyField<std::uint16_t>(in, out, TIFFTAG_PHOTOMETRIC);
  CopyField<std::uint16_t>(in, out, TIFFTAG_FILLORDER);
  CopyField<std::uint32_t>(in, out, TIFFTAG_GROUP3OPTIONS);
  CopyField<std::uint32_t>(in, out, TIFFTAG_ROWSPERSTRIP);
  CopyField<float>(in, out, TIFFTAG_XRESOLUTION);
  CopyField<float>(in, out, TIFFTAG_YRESOLUTION);
  CopyField<std::uint16_t>(in, out, TIFFTAG_RESOLUTIONUNIT);
  TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(out, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
  std::vector<std::uint8_t> strip;
  for (tstrip_t s = 0; s < TIFFNumberOfStrips(in); ++s) {
    const tmsize_t size = TIFFRawStripSize(in, s);
    if (size < 0) break;
    strip.resize(static_cast<std::size_t>(size));
    const tmsize_t got = TIFFReadRawStrip(in, s, strip.data(), size);
    if (got < 0 || TIFFWriteRawStrip(out, s, strip.data(), got) < 0) {
      error = "cannot copy a page into " + m_file;
      return false;
    }
  }
  if (TIFFWriteDirectory(out) != 1) {
    error = "cannot write a page to " + m_file;
    return false;
  }
  return true;
}

bool FarStation::LoadCallIn(const std::string& file, int encoding, std::string& error) {
  m_callInPages.clear();
  t4_tx_state_t* tx = t4_tx_init(nullptr, file.c_str(), -1, -1);
  if (tx == nullptr) {
    error = "cannot read " + file + " as a fax TIFF";
    return false;
  }
  t4_tx_set_tx_encoding(tx, encoding);
  t4_tx_set_min_bits_per_row(tx, 0);
  m_callInFine = FirstPageFine(file);
  const int pages = t4_tx_get_pages_in_file(tx);
  for (int n = 0; n < pages; ++n) {
    if (t4_tx_start_page(tx) != 0) break;
    CodedPage page;
    std::uint8_t chunk[kChunkBytes];
    while (page.data.size() < kMaxPageBytes) {
      const int got = t4_tx_get_chunk(tx, chunk, sizeof chunk);
      if (got <= 0) break;
      page.data.append(reinterpret_cast<const char*>(chunk), static_cast<std::size_t>(got));
      if (got < static_cast<int>(sizeof chunk)) break;
    }
    // A second RTC after the coder's own: receivers that count the EOL ending
    // the last row as part of the page (efax does) still find six after it.
    if (encoding == T4_COMPRESSION_ITU_T4_1D)
      page.data.append(reinterpret_cast<const char*>(kRtc), sizeof kRtc);
    t4_stats_t stats{};
    t4_tx_get_transfer_statistics(tx, &stats);
    page.rows = stats.length;
    t4_tx_end_page(tx);
    m_callInPages.push_back(std::move(page));
  }
  t4_tx_free(tx);
  if (m_callInPages.empty()) {
    error = file + " holds no page";
    return false;
  }
  return true;
}

}  // namespace vexo::linesim
