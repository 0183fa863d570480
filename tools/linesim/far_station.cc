#include "tools/linesim/far_station.h"

namespace vexo::linesim {
namespace {

constexpr int kFineRowsPerMetre = 7700;
constexpr int kChunkBytes = 4096;
// A page larger than this is not a fax page a test sends; stop coding it.
constexpr std::size_t kMaxPageBytes = 8u << 20;
// Six EOLs in line order: the return to control that ends a page.
constexpr std::uint8_t kRtc[] = {0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80};

}  // namespace

FarStation::~FarStation() { CloseReceive(); }

void FarStation::CloseReceive() {
  if (m_rx == nullptr) return;
  if (m_pageOpen) t4_rx_end_page(m_rx);
  t4_rx_free(m_rx);
  m_rx = nullptr;
}

bool FarStation::BeginReceive(const std::string& file, int yResolution, std::string& error) {
  CloseReceive();
  m_rx = t4_rx_init(nullptr, file.c_str(), T4_COMPRESSION_ITU_T4_1D);
  if (m_rx == nullptr) {
    error = "cannot create " + file;
    return false;
  }
  t4_rx_set_rx_encoding(m_rx, T4_COMPRESSION_ITU_T4_1D);
  t4_rx_set_image_width(m_rx, T4_WIDTH_R8_A4);
  t4_rx_set_x_resolution(m_rx, T4_X_RESOLUTION_R8);
  t4_rx_set_y_resolution(m_rx, yResolution);
  return true;
}

void FarStation::PageData(const std::uint8_t* data, std::size_t size) {
  if (m_rx == nullptr) return;
  if (!m_pageOpen) {
    t4_rx_start_page(m_rx);
    m_pageOpen = true;
    m_rtcSeen = false;
  }
  // Bits go to the decoder in the order they travel on the line, first bit
  // in bit 0; what follows RTC is fill before the page end and is dropped.
  for (std::size_t i = 0; i < size && !m_rtcSeen; ++i)
    for (int bit = 0; bit < 8 && !m_rtcSeen; ++bit)
      if (t4_rx_put_bit(m_rx, (data[i] >> bit) & 1)) m_rtcSeen = true;
}

PageVerdict FarStation::EndPage() {
  PageVerdict verdict;
  if (m_rx == nullptr) return verdict;
  // The modem closes every page with RTC on the line, whether or not the
  // program's data ended with one.
  PageData(kRtc, sizeof kRtc);
  t4_rx_end_page(m_rx);
  m_pageOpen = false;
  t4_stats_t stats{};
  t4_rx_get_transfer_statistics(m_rx, &stats);
  verdict.rows = stats.length;
  verdict.badRows = stats.bad_rows;
  // A receiver that found no rows or broken rows asks for the page again.
  verdict.accepted = stats.length > 0 && stats.bad_rows == 0;
  if (verdict.accepted) ++m_pagesReceived;
  return verdict;
}

bool FarStation::LoadCallIn(const std::string& file, std::string& error) {
  m_callInPages.clear();
  t4_tx_state_t* tx = t4_tx_init(nullptr, file.c_str(), -1, -1);
  if (tx == nullptr) {
    error = "cannot read " + file + " as a fax TIFF";
    return false;
  }
  t4_tx_set_tx_encoding(tx, T4_COMPRESSION_ITU_T4_1D);
  t4_tx_set_min_bits_per_row(tx, 0);
  m_callInFine = t4_tx_get_y_resolution(tx) >= kFineRowsPerMetre;
  const int pages = t4_tx_get_pages_in_file(tx);
  for (int page = 0; page < pages; ++page) {
    if (t4_tx_start_page(tx) != 0) break;
    std::string coded;
    std::uint8_t chunk[kChunkBytes];
    while (coded.size() < kMaxPageBytes) {
      const int n = t4_tx_get_chunk(tx, chunk, sizeof chunk);
      if (n <= 0) break;
      coded.append(reinterpret_cast<const char*>(chunk), static_cast<std::size_t>(n));
      if (n < static_cast<int>(sizeof chunk)) break;
    }
    t4_tx_end_page(tx);
    m_callInPages.push_back(std::move(coded));
  }
  t4_tx_free(tx);
  if (m_callInPages.empty()) {
    error = file + " holds no page";
    return false;
  }
  return true;
}

}  // namespace vexo::linesim
