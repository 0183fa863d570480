// ConvertOptions: what the page renderers take from the program's settings:
// quality and paper of generated pages, the text layout and font, the
// resolution transfer of pictures and the sender's profile on cover pages.
// The application fills it from its settings; the defaults are the settings'
// defaults.
#pragma once

#include <cstdint>
#include <string>

#include "document/txt2tif_paper.h"
#include "platform/raster/log_font.h"

namespace vexo {

// The sender's profile as the cover page shows it.
struct CoverProfile {
  std::string fullName;   // SENDNAME
  std::string faxNumber;  // SENDFAX
  std::string phone1, phone2, email;
  std::string logoFile;  // empty: LOGO tags draw nothing
};

struct ConvertOptions {
  std::uint32_t quality = 2;  // 1 normal, else fine
  PaperSize paperSize = PaperSize::kA4;
  std::uint32_t paperHeight = 2970;  // tenths of a millimetre; see TextPaperHeight
  std::uint32_t lineExtra = 0;       // tenths of a millimetre between text lines
  bool wordWrap = false;
  std::uint32_t tabSize = 4;
  LOGFONTW font = DefaultLogFont();
  std::uint32_t resTransfer = 1;
  CoverProfile profile;
};

// The length of generated pages in tenths of a millimetre: the paper size's,
// unless paperHeight is a length of no standard paper (a height the user set
// for text pages), which is then kept.
std::uint32_t TextPaperHeight(const ConvertOptions& options);

// The paper of generated pages: the row by quality, the paper size's width,
// the page header's height taken off TextPaperHeight and off the top margin.
PaperInfo SendPaper(const ConvertOptions& options);
// The SetPaper mask that takes what SendPaper fills.
constexpr std::uint32_t kSendPaperMask = PAPER_ID | PAPER_WIDTH | PAPER_HEIGHT | PAPER_TOP;

}  // namespace vexo
