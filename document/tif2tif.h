// Tif2Tif rewrites every page of a foreign bilevel TIFF (any width, resolution,
// photometric interpretation, and any compression libtiff decodes) into fax
// pages appended to an open destination TIFF: 1728 pixels wide, the paper's
// length at the line density (fine 196 or normal 98 rows per inch), Group 3.
// Rows are always mapped by the vertical resolutions; across, they are copied
// (cropped or padded) or scaled by the ratio of the resolutions. Long pages are
// cut into several fax pages, short ones padded with white. The attachment conversion and `vexo
// import` use it. Reports carry the module name "Tif2Tif".
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "document/convert_options.h"
#include "document/page_geometry.h"
#include "document/tiff_lib.h"
#include "document/txt2tif_paper.h"

namespace vexo {

class LogFile;

enum TransferMode : std::uint32_t { TRANSFER_COPY = 1, TRANSFER_SCALE = 2 };

// Source resolutions (pixels per inch) the scaling trusts; outside this range,
// or without a usable resolution, a page is mapped one to one.
constexpr double kMinSourceResolution = 16;
constexpr double kMaxSourceResolution = 9600;
// The widest source row accepted.
constexpr std::uint32_t kMaxSourceWidth = 1u << 17;
// The largest page held whole in memory (a tiled or turned source page), in bytes.
constexpr std::uint64_t kMaxSourcePageBytes = std::uint64_t{64} << 20;

// A scaling ratio: every source unit becomes num / den destination units, the
// fractions carried over.
struct ScaleRatio {
  std::uint64_t num = 1;
  std::uint64_t den = 1;
  bool operator==(const ScaleRatio&) const = default;
};

// What the conversion needs to know of one source page, as it appears on paper
// (resolutions and sizes already swapped for a page stored turned).
struct SourcePage {
  std::uint32_t width = 0;
  std::uint32_t length = 0;
  bool hasX = false, hasY = false;
  Rational xResolution, yResolution;
  std::uint16_t resolutionUnit = RESUNIT_INCH;
  bool minIsBlack = false;
  std::uint16_t orientation = ORIENTATION_TOPLEFT;
};

// The vertical ratio of a source page: destination rowsPerInch over the
// page's YResolution, in every transfer mode. The horizontal ratio (scale mode
// only): the fax's 204 pixels per inch over XResolution, or YResolution when the
// page has no usable XResolution. A resolution that is missing, has a zero
// part, is out of range or whose unit is 1 (none) gives 1/1.
ScaleRatio VerticalRatio(const SourcePage& page, std::uint32_t rowsPerInch);
ScaleRatio HorizontalRatio(const SourcePage& page);

// Builds a destination row (216 bytes, bit 0 white) from a source row of
// width pixels (MSB first, inverted first when minIsBlack). ScaleRow maps each
// black run's start down and its end up, so a run keeps at least one pixel.
void CopyRow(const std::uint8_t* source, std::uint32_t width, bool minIsBlack,
             std::uint8_t* destination);
void ScaleRow(const std::uint8_t* source, std::uint32_t width, bool minIsBlack,
              const ScaleRatio& ratio, std::uint8_t* destination);

// Maps source rows, given in order, onto destination rows by a vertical ratio:
// a source row covering several destination rows is repeated, and source rows
// that fall on one destination row are OR-ed into it, so no ink is dropped.
class RowMapper {
 public:
  // Takes a destination row; false stops the mapping.
  using Sink = std::function<bool(const std::uint8_t* row)>;

  RowMapper(const ScaleRatio& ratio, std::size_t rowBytes);
  // Source row `index` (built at the destination width). False when sink stopped.
  bool Add(std::uint64_t index, const std::uint8_t* row, const Sink& sink);
  // Hands over a destination row still gathering folded source rows.
  bool Finish(const Sink& sink);
  // Destination rows the first `sourceRows` source rows cover.
  std::uint64_t RowsFor(std::uint64_t sourceRows) const;

 private:
  ScaleRatio m_ratio;
  std::vector<std::uint8_t> m_folded;
  bool m_pending = false;
};

class Tif2Tif {
 public:
  // Asked before each source page: true stops (result -1).
  using CancelFn = std::function<bool()>;
  // Told source rows: 1 after each row read, the count of rows dropped.
  using ProgressFn = std::function<void(std::uint32_t rows)>;

  // systemLog (may be null: the debug output) gets the row-write failure lines.
  int Initialize(LogFile* systemLog = nullptr);
  // See PaperLayout::SetPaper.
  int SetPaper(const PaperInfo& params, std::uint32_t mask) {
    return m_layout.SetPaper(params, mask);
  }
  // TRANSFER_COPY or TRANSFER_SCALE; other values are ignored.
  void SetTransferMode(std::uint32_t mode);
  // Told the name of a source refused for a page that is not black and white;
  // the caller decides what the user sees.
  void SetNotBilevelHandler(std::function<void(const std::string& file)> handler) {
    m_notBilevel = std::move(handler);
  }

  // Converts every page of sourceFile into tif, pages stored in strips or
  // tiles and in any of the eight orientations. A source with a page that is
  // not one bit per pixel and one sample goes to the not-bilevel handler and
  // converts nothing. 1, 0 on failure, -1 when cancelled; *pagesOut gets the pages
  // written (they stay in tif whatever the result).
  int Tiff2Tiff(const std::string& sourceFile, TiffFile& tif, const CancelFn& cancel,
                const ProgressFn& progress, std::uint32_t* pagesOut);

  const PaperLayout& Layout() const { return m_layout; }
  std::uint32_t TransferModeValue() const { return m_mode; }

 private:
  // Converts the source's current directory. 1, or 0 after a report.
  int ConvertPage(TiffFile& source, FaxPageWriter& writer, const ProgressFn& progress);

  bool m_initialized = false;
  LogFile* m_systemLog = nullptr;
  PaperLayout m_layout;
  std::uint32_t m_mode = TRANSFER_COPY;
  std::function<void(const std::string& file)> m_notBilevel;
};

// Sets a converter up as the send job does: paper as for text (T2TQuality,
// T2TPaperHeight less the page header, top margin 100) and I2TResTransfer.
int ConfigureTif2Tif(Tif2Tif& converter, const ConvertOptions& options);

}  // namespace vexo
