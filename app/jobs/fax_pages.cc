#include "app/jobs/fax_pages.h"

#include <filesystem>

#include "app/jobs/fax_files.h"
#include "document/tiff_oper.h"

namespace vexo {
namespace {

// The flags SetPageTags takes from a page that was read.
constexpr std::uint32_t kCodingFlags = PAGE_G4 | PAGE_FINE | PAGE_2D | PAGE_LSB_FIRST;

bool CopyPage(TiffOper& source, const FaxPageRef& page, TiffOper& output) {
  if (source.FileName() != page.file || source.CurrentDirectory() < 0) {
    if (!source.OpenReadTiffHeader(page.file)) return false;
  }
  const int delta = static_cast<int>(page.page) - source.CurrentDirectory();
  if (delta != 0 && source.MovePage(delta) != delta) return false;
  if (source.ReadTags() != 1) return false;
  const auto strip = source.ReadPageStrip();
  const FaxPageInfo& info = source.PageInfo();
  return strip && output.SetPageTags(info.width, info.length, info.flags & kCodingFlags) &&
         output.WriteFaxData(strip->data(), strip->size()) && output.EndPage(info.length);
}

}  // namespace

std::optional<std::vector<FaxPageRef>> PagesOf(std::span<const std::string> files,
                                               std::uint32_t from) {
  std::vector<FaxPageRef> pages;
  for (const std::string& file : files) {
    const auto summary = ReadFaxFileSummary(file);
    if (!summary) return std::nullopt;
    for (std::uint32_t page = from; page < summary->pages; ++page) pages.push_back({file, page});
    from = 0;
  }
  return pages;
}

bool CopyFaxPages(std::span<const FaxPageRef> pages, const std::string& output) {
  TiffOper writer;
  writer.SetErrorPool(false);
  if (!writer.OpenWriteTiff(output)) return false;
  TiffOper reader;
  reader.SetErrorPool(false);
  bool copied = true;
  for (const FaxPageRef& page : pages)
    if (!(copied = CopyPage(reader, page, writer))) break;
  reader.CloseReadTiff();
  copied = writer.CloseWriteTiff() == 1 && copied;
  if (!copied) {
    std::error_code ec;
    std::filesystem::remove(output, ec);
  }
  return copied;
}

}  // namespace vexo
