// Grey pictures into fax pages: GreyScaler resamples grey rows to the fax
// width, ClassifyGrey decides whether a picture is text and line art (one
// threshold) or photographic (a clustered-dot screen), Ditherer turns grey rows into
// one-bit fax rows, and FaxPageSplitter appends the rows to fax pages, cutting
// a long picture into several pages. The PDF and image importers use them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "document/txt2tif_paper.h"

namespace vexo {

// Grey levels: 0 black, 255 white.
constexpr std::uint8_t kGreyThreshold = 128;
// Levels counted as a tone rather than ink or paper: [kToneLow, kToneHigh].
constexpr std::uint8_t kToneLow = 48;
constexpr std::uint8_t kToneHigh = 207;
// A picture is photographic when at least this share (in per mille) of its
// pixels are tones.
constexpr std::uint32_t kPhotoTonePerMille = 20;

enum class GreyKind { Text, Photo };

// A tone is a grey between kToneLow and kToneHigh (one unsigned compare).
constexpr bool IsTone(std::uint8_t grey) {
  return static_cast<std::uint8_t>(grey - kToneLow) <= kToneHigh - kToneLow;
}

// How many of a picture's pixels are tones, and how many it has.
class GreyHistogram {
 public:
  void Add(std::span<const std::uint8_t> pixels);
  // Adds counts made elsewhere (IsTone over the pixels).
  void AddCounts(std::uint64_t tones, std::uint64_t pixels) {
    m_tones += tones;
    m_total += pixels;
  }
  std::uint64_t Total() const { return m_total; }
  std::uint64_t Tones() const { return m_tones; }
  GreyKind Kind() const;

 private:
  std::uint64_t m_tones = 0;
  std::uint64_t m_total = 0;
};

// Box resampling of grey rows from sourceWidth x sourceHeight to
// destWidth x destHeight: shrinking averages the source pixels a destination
// pixel covers, growing repeats them.
class GreyScaler {
 public:
  GreyScaler(std::uint32_t sourceWidth, std::uint32_t sourceHeight, std::uint32_t destWidth,
             std::uint32_t destHeight);
  // The source rows [first, last) destination row y is made of.
  std::uint32_t FirstSourceRow(std::uint32_t y) const;
  std::uint32_t LastSourceRow(std::uint32_t y) const;
  // Averages rows (each sourceWidth bytes) into one destination row.
  void ScaleRows(std::span<const std::uint8_t* const> rows, std::uint8_t* dest) const;
  std::uint32_t DestWidth() const { return m_destWidth; }
  std::uint32_t DestHeight() const { return m_destHeight; }

 private:
  std::uint32_t m_sourceHeight, m_destHeight, m_destWidth;
  std::vector<std::uint32_t> m_columnStart;  // destWidth + 1 entries
};

// Grey rows into fax rows (bit 1 black, most significant bit first).
// Text pictures are cut at kGreyThreshold; photographic ones get a 45 degree
// clustered-dot screen (about 48 dots an inch at fine resolution, 36 at
// normal, 33 to 37 tones). Clustered dots keep every run a few pixels long:
// single-pixel runs side by side (what error diffusion makes of mid grey) code
// long in MH and MR, and libtiff-based readers refuse a row of 1,728 of them.
class Ditherer {
 public:
  // normalRows: the rows are 98 an inch (twice as tall as they are wide), so
  // the screen's cell has half as many rows to keep the dots round on paper.
  Ditherer(std::uint32_t width, GreyKind kind, bool normalRows = false);
  void Row(const std::uint8_t* grey, std::uint8_t* fax);
  // Moves past a row known to be white (its fax row is all zero bits).
  void SkipWhiteRow() { m_row = (m_row + 1) % m_cellRows; }

 private:
  std::uint32_t m_width;
  std::uint32_t m_cellRows = 1;
  std::uint32_t m_row = 0;
  // m_cellRows rows of width thresholds: a pixel darker than its threshold is black.
  std::vector<std::uint8_t> m_thresholds;
};

// Appends one picture's fax rows to pages of the writer's format. When a page
// is full and the rows still to come are at most an eighth of a page, they are
// held back: white ones are dropped (the bottom margin of a page a little
// longer than the paper), but any ink starts one more page, so nothing drawn
// is lost.
class FaxPageSplitter {
 public:
  // totalRows: the rows the picture will deliver.
  FaxPageSplitter(FaxPageWriter& writer, const FaxPageFormat& format, std::uint32_t totalRows);
  ~FaxPageSplitter();
  FaxPageSplitter(const FaxPageSplitter&) = delete;
  FaxPageSplitter& operator=(const FaxPageSplitter&) = delete;

  // False after a report (the open page is then abandoned).
  bool Row(const std::uint8_t* fax);
  // Ends the last page. False after a report.
  bool Finish();
  std::uint32_t Pages() const { return m_pages; }

 private:
  FaxPageWriter& m_writer;
  FaxPageFormat m_format;
  std::uint32_t m_rowsLeft;
  std::uint32_t m_pages = 0;
  bool m_holding = false;
  std::vector<std::uint8_t> m_held;
};

}  // namespace vexo
