#include "document/dither.h"

#include <algorithm>
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

}  // namespace

void GreyHistogram::Add(std::span<const std::uint8_t> pixels) {
  // One unsigned compare per pixel, which the compiler turns into vector code.
  constexpr unsigned kSpan = kToneHigh - kToneLow;
  std::uint64_t tones = 0;
  for (const std::uint8_t p : pixels)
    tones += static_cast<std::uint8_t>(p - kToneLow) <= kSpan ? 1 : 0;
  m_tones += tones;
  m_total += pixels.size();
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

Ditherer::Ditherer(std::uint32_t width, GreyKind kind)
    : m_width(width),
      m_kind(kind),
      m_error(std::size_t{width} + 2),
      m_next(std::size_t{width} + 2) {}

void Ditherer::Row(const std::uint8_t* grey, std::uint8_t* fax) {
  const std::size_t bytes = (std::size_t{m_width} + 7) / 8;
  if (m_kind == GreyKind::Text) {
    // Eight pixels at a time into one byte.
    for (std::size_t i = 0; i < bytes; ++i) {
      const std::uint32_t first = static_cast<std::uint32_t>(i * 8);
      const std::uint32_t count = std::min<std::uint32_t>(8, m_width - first);
      unsigned byte = 0;
      for (std::uint32_t k = 0; k < count; ++k)
        byte |= static_cast<unsigned>(grey[first + k] < kGreyThreshold) << (7 - k);
      fax[i] = static_cast<std::uint8_t>(byte);
    }
    return;
  }
  std::memset(fax, 0, bytes);
  auto black = [fax](std::uint32_t x) { fax[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8)); };
  std::fill(m_next.begin(), m_next.end(), 0);
  for (std::uint32_t x = 0; x < m_width; ++x) {
    // m_error[x + 1] is the error pushed onto pixel x.
    const int value = grey[x] + m_error[x + 1];
    const int out = value < kGreyThreshold ? 0 : kWhite;
    if (out == 0) black(x);
    const int error = value - out;
    m_error[x + 2] += error * 7 / 16;
    m_next[x] += error * 3 / 16;
    m_next[x + 1] += error * 5 / 16;
    m_next[x + 2] += error / 16;
  }
  std::swap(m_error, m_next);
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
