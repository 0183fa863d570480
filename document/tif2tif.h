// Tif2Tif rewrites every page of a foreign bilevel TIFF (any width, resolution,
// photometric interpretation, and any compression libtiff decodes) into fax
// pages appended to an open destination TIFF: 1728 pixels wide, A4 long at
// normal or fine resolution, Group 3. Rows are copied (cropped or padded) or
// scaled by the ratio of the resolutions; long pages are cut into several fax
// pages, short ones padded with white. The attachment conversion and `vexo
// import` use it. Reports carry the module name "Tif2Tif".
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "document/convert_options.h"
#include "document/tiff_lib.h"
#include "document/txt2tif_paper.h"

namespace vexo {

class LogFile;

enum TransferMode : std::uint32_t { TRANSFER_COPY = 1, TRANSFER_SCALE = 2 };

// The user-interface string shown for a grey or colour source ("%s" is the file).
// The resolution every destination page is drawn at.
constexpr std::uint32_t kFaxDestinationResolution = 209;
constexpr std::uint32_t kFaxDestinationWidth = 1728;
// Source resolutions (pixels per inch) the scaling trusts; outside this range,
// or without a usable resolution, a page is copied one to one.
constexpr double kMinSourceResolution = 16;
constexpr double kMaxSourceResolution = 9600;
// The widest source row accepted.
constexpr std::uint32_t kMaxSourceWidth = 1u << 17;

// A scaling ratio: every source unit becomes num / den destination units, the
// fractions carried over.
struct ScaleRatio {
  std::uint64_t num = 1;
  std::uint64_t den = 1;
  bool operator==(const ScaleRatio&) const = default;
};

// What the conversion needs to know of one source page.
struct SourcePage {
  std::uint32_t width = 0;
  std::uint32_t length = 0;
  bool hasX = false, hasY = false;
  Rational xResolution, yResolution;
  std::uint16_t resolutionUnit = RESUNIT_INCH;
  bool minIsBlack = false;
};

// The vertical and horizontal ratios of a source page in scale mode: the
// vertical from YResolution (halved for a normal destination), the horizontal
// from XResolution, or YResolution when the page has no usable XResolution. A
// resolution that is missing, has a zero part, is out of range or whose unit is
// 1 (none) gives 1/1.
ScaleRatio VerticalRatio(const SourcePage& page, bool normalDestination);
ScaleRatio HorizontalRatio(const SourcePage& page);

// Builds a destination row (216 bytes, bit 0 white) from a source row of
// width pixels (MSB first, inverted first when minIsBlack).
void CopyRow(const std::uint8_t* source, std::uint32_t width, bool minIsBlack,
             std::uint8_t* destination);
void ScaleRow(const std::uint8_t* source, std::uint32_t width, bool minIsBlack,
              const ScaleRatio& ratio, std::uint8_t* destination);

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

  // Converts every page of sourceFile into tif. A source with a page that is
  // not one bit per pixel and one sample goes to the not-bilevel handler and
  // converts nothing. 1, 0 on failure, -1 when cancelled; *pagesOut gets the pages
  // written (they stay in tif whatever the result).
  int Tiff2Tiff(const std::string& sourceFile, TiffFile& tif, const CancelFn& cancel,
                const ProgressFn& progress, std::uint32_t* pagesOut);

  const PaperLayout& Layout() const { return m_layout; }
  std::uint32_t TransferModeValue() const { return m_mode; }

 private:
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
