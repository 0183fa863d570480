#include "document/convert_options.h"

#include "document/page_header.h"

namespace vexo {
namespace {

constexpr std::uint32_t kSendTopMarginTenthMm = 200;

bool IsStandardPaperHeight(std::uint32_t height) {
  for (const PaperSize paper : {PaperSize::kA4, PaperSize::kLetter, PaperSize::kLegal})
    if (PaperDimensionsOf(paper).height == height) return true;
  return false;
}

}  // namespace

std::uint32_t TextPaperHeight(const ConvertOptions& options) {
  if (IsStandardPaperHeight(options.paperHeight))
    return PaperDimensionsOf(options.paperSize).height;
  return options.paperHeight;
}

PaperInfo SendPaper(const ConvertOptions& options) {
  PaperInfo paper;
  paper.id = options.quality == 1 ? kPaperA4Normal : kPaperA4Fine;
  const auto header = static_cast<std::uint32_t>(kHeaderHeightTenthMm);
  const std::uint32_t height = TextPaperHeight(options);
  paper.width = PaperDimensionsOf(options.paperSize).width;
  paper.height = height > header ? height - header : 0;
  paper.top = kSendTopMarginTenthMm - header;
  return paper;
}

}  // namespace vexo
