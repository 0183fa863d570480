#include "document/convert_options.h"

#include "document/page_header.h"

namespace vexo {
namespace {

constexpr std::uint32_t kSendTopMarginTenthMm = 200;

}  // namespace

PaperInfo SendPaper(const ConvertOptions& options) {
  PaperInfo paper;
  paper.id = options.quality == 1 ? kPaperA4Normal : kPaperA4Fine;
  const auto header = static_cast<std::uint32_t>(kHeaderHeightTenthMm);
  paper.height = options.paperHeight > header ? options.paperHeight - header : 0;
  paper.top = kSendTopMarginTenthMm - header;
  return paper;
}

}  // namespace vexo
