#include "document/dither.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vexo {
namespace {

constexpr int kWhite = 255;
constexpr std::uint32_t kPerMille = 1000;
// An eighth of a page may be left over without starting a page of its own.
constexpr std::uint32_t kRemainderDivisor = 8;

std::uint32_t Scaled(std::uint64_t value, std::uint32_t num, std::uint32_t den) {
  return den == 0 ? 0 : static_cast<std::uint32_t>(value * num / den);
}

// True when the eight grey pixels at p are all white.
bool AllWhite(const std::uint8_t* p) {
  std::uint64_t word = 0;
  std::memcpy(&word, p, sizeof word);
  return word == ~std::uint64_t{0};
}

}  // namespace

void GreyHistogram::Add(std::span<const std::uint8_t> pixels) {
  // Eight white pixels (most of a page) are passed over with one compare.
  std::uint64_t tones = 0;
  std::size_t i = 0;
  for (; i + 8 <= pixels.size(); i += 8) {
    if (AllWhite(pixels.data() + i)) continue;
    for (std::size_t k = i; k < i + 8; ++k) tones += IsTone(pixels[k]) ? 1 : 0;
  }
  for (; i < pixels.size(); ++i) tones += IsTone(pixels[i]) ? 1 : 0;
  AddCounts(tones, pixels.size());
}

GreyKind GreyHistogram::Kind() const {
  if (m_total == 0) return GreyKind::Text;
  return m_tones * kPerMille >= m_total * kPhotoTonePerMille ? GreyKind::Photo : GreyKind::Text;
}

GreyScaler::GreyScaler(std::uint32_t sourceWidth, std::uint32_t sourceHeight,
                       std::uint32_t destWidth, std::uint32_t destHeight)
    : m_sourceHeight(sourceHeight), m_destHeight(destHeight), m_destWidth(destWidth) {
  m_columnStart.resize(std::size_t{destWidth} + 1);
  for (std::uint32_t x = 0; x <= destWidth; ++x)
    m_columnStart[x] = Scaled(x, sourceWidth, destWidth);
}

std::uint32_t GreyScaler::FirstSourceRow(std::uint32_t y) const {
  return std::min(Scaled(y, m_sourceHeight, m_destHeight), m_sourceHeight - 1);
}

std::uint32_t GreyScaler::LastSourceRow(std::uint32_t y) const {
  return std::max(
      FirstSourceRow(y) + 1,
      std::min(Scaled(std::uint64_t{y} + 1, m_sourceHeight, m_destHeight), m_sourceHeight));
}

void GreyScaler::ScaleRows(std::span<const std::uint8_t* const> rows, std::uint8_t* dest) const {
  for (std::uint32_t x = 0; x < m_destWidth; ++x) {
    const std::uint32_t first = m_columnStart[x];
    const std::uint32_t last = std::max(first + 1, m_columnStart[x + 1]);
    std::uint64_t sum = 0;
    for (const std::uint8_t* row : rows)
      for (std::uint32_t c = first; c < last; ++c) sum += row[c];
    const std::uint64_t count = std::uint64_t{last - first} * rows.size();
    dest[x] = count == 0 ? kWhite : static_cast<std::uint8_t>(sum / count);
  }
}

namespace {

// The screen's cell, in pixels across and rows down; each cell holds two dots
// on a 45 degree grid (one at its corner, one at its centre).
constexpr std::uint32_t kFineCellWidth = 6;
constexpr std::uint32_t kFineCellRows = 6;
constexpr std::uint32_t kNormalCellWidth = 8;
constexpr std::uint32_t kNormalCellRows = 4;
constexpr double kTwoPi = 6.283185307179586;
// Spot values are compared after rounding, so that the pixels of both dots at
// the same distance from their centres rank side by side.
constexpr double kSpotPrecision = 1e6;

// One threshold per pixel of the cell, row after row: the pixels nearest a
// dot's centre turn black first (the highest threshold), so dots grow from
// their centres and, past mid grey, the white left between them shrinks to
// dots of its own.
std::vector<std::uint8_t> ScreenCell(std::uint32_t width, std::uint32_t rows) {
  const std::uint32_t count = width * rows;
  std::vector<std::int64_t> spot(count);
  for (std::uint32_t y = 0; y < rows; ++y)
    for (std::uint32_t x = 0; x < width; ++x) {
      const double u = (x + 0.5) / width, v = (y + 0.5) / rows;
      const double value = std::cos(kTwoPi * (u + v)) + std::cos(kTwoPi * (u - v));
      spot[y * width + x] = std::llround(value * kSpotPrecision);
    }
  std::vector<std::uint32_t> order(count);
  for (std::uint32_t i = 0; i < count; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return spot[a] > spot[b]; });
  std::vector<std::uint8_t> cell(count);
  for (std::uint32_t rank = 0; rank < count; ++rank)
    cell[order[rank]] = static_cast<std::uint8_t>((count - rank) * kWhite / (count + 1));
  return cell;
}

}  // namespace

Ditherer::Ditherer(std::uint32_t width, GreyKind kind, bool normalRows) : m_width(width) {
  if (kind == GreyKind::Text) {
    m_thresholds.assign(width, kGreyThreshold);
    return;
  }
  const std::uint32_t cellWidth = normalRows ? kNormalCellWidth : kFineCellWidth;
  m_cellRows = normalRows ? kNormalCellRows : kFineCellRows;
  const std::vector<std::uint8_t> cell = ScreenCell(cellWidth, m_cellRows);
  // The cell repeated across the row, so that Row looks up no remainders.
  m_thresholds.resize(std::size_t{width} * m_cellRows);
  for (std::uint32_t y = 0; y < m_cellRows; ++y)
    for (std::uint32_t x = 0; x < width; ++x)
      m_thresholds[std::size_t{y} * width + x] = cell[y * cellWidth + x % cellWidth];
}

void Ditherer::Row(const std::uint8_t* grey, std::uint8_t* fax) {
  const std::uint8_t* threshold = m_thresholds.data() + std::size_t{m_row} * m_width;
  m_row = (m_row + 1) % m_cellRows;
  const std::size_t bytes = (std::size_t{m_width} + 7) / 8;
  // Eight pixels at a time into one byte; eight white pixels (most of a page)
  // are one compare, as no threshold is above white.
  for (std::size_t i = 0; i < bytes; ++i) {
    const std::uint32_t first = static_cast<std::uint32_t>(i * 8);
    const std::uint32_t count = std::min<std::uint32_t>(8, m_width - first);
    if (count == 8 && AllWhite(grey + first)) {
      fax[i] = 0;
      continue;
    }
    unsigned byte = 0;
    for (std::uint32_t k = 0; k < count; ++k)
      byte |= static_cast<unsigned>(grey[first + k] < threshold[first + k]) << (7 - k);
    fax[i] = static_cast<std::uint8_t>(byte);
  }
}

FaxPageSplitter::FaxPageSplitter(FaxPageWriter& writer, const FaxPageFormat& format,
                                 std::uint32_t totalRows)
    : m_writer(writer), m_format(format), m_rowsLeft(totalRows) {}

FaxPageSplitter::~FaxPageSplitter() { m_writer.AbandonPage(); }

bool FaxPageSplitter::Row(const std::uint8_t* fax) {
  const std::size_t rowBytes = (std::size_t{m_format.width} + 7) / 8;
  if (m_rowsLeft > 0) --m_rowsLeft;
  if (m_holding) {
    m_held.insert(m_held.end(), fax, fax + rowBytes);
    return true;
  }
  if (m_writer.PageOpen() && m_writer.RowsLeft() == 0) {
    if (!m_writer.EndPage()) return false;
    ++m_pages;
    if ((std::uint64_t{m_rowsLeft} + 1) * kRemainderDivisor <= m_format.rows) {
      m_holding = true;
      m_held.assign(fax, fax + rowBytes);
      return true;
    }
  }
  if (!m_writer.PageOpen() && !m_writer.BeginPage(m_format)) return false;
  return m_writer.WriteRow(fax);
}

bool FaxPageSplitter::Finish() {
  const std::size_t rowBytes = (std::size_t{m_format.width} + 7) / 8;
  const bool inkHeld =
      std::any_of(m_held.begin(), m_held.end(), [](std::uint8_t b) { return b != 0; });
  if (m_holding && !inkHeld) return true;
  if (!m_writer.PageOpen() && !m_writer.BeginPage(m_format)) return false;
  for (std::size_t at = 0; at + rowBytes <= m_held.size(); at += rowBytes)
    if (!m_writer.WriteRow(m_held.data() + at)) return false;
  m_held.clear();
  if (!m_writer.EndPage()) return false;
  ++m_pages;
  return true;
}

}  // namespace vexo
