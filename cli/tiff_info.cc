// vexo info FILE.tif: per page, the tags the send side checks, the page flags,
// the coded size and whether the page would be accepted for sending.
// vexo pages FILE.tif: the page count. Both only read the file.
#include <cstdio>
#include <optional>
#include <string>

#include "base/error_pool.h"
#include "cli/arg_parser.h"
#include "document/tiff_oper.h"

namespace vexo::cli {
namespace {

constexpr struct {
  std::uint32_t flag;
  const char* name;
} kFlagNames[] = {
    {PAGE_G4, "G4"},
    {PAGE_FINE, "FINE"},
    {PAGE_2D, "2D"},
    {PAGE_LSB_FIRST, "LSB_FIRST"},
    {PAGE_MIN_IS_BLACK, "MIN_IS_BLACK"},
    {PAGE_RES_CM, "RES_CM"},
};

std::string FlagText(std::uint32_t flags) {
  std::string text;
  for (const auto& f : kFlagNames)
    if (flags & f.flag) text += (text.empty() ? "" : "|") + std::string(f.name);
  return text.empty() ? "none" : text;
}

// Prints and drops the pool's records (the messages of the last step).
void PrintPool(std::FILE* out, const char* indent) {
  ErrorRecord record;
  while (ErrorPool::Instance().TakeOldest(record) > 0)
    std::fprintf(out, "%s%s\n", indent, record.message.c_str());
}

// Parses the command line and opens its file: nullopt, or the exit code.
std::optional<int> OpenOrExit(TiffOper& oper, int argc, char** argv, const char* description) {
  std::string file;
  CLI::App cli{description};
  cli.add_option("FILE.tif", file, "the fax TIFF file")->required();
  if (const auto code = ParseCommand(cli, argc, argv)) return code;
  ErrorPool::Instance().Clear();
  oper.SetErrorPool(false);
  if (oper.OpenReadTiffHeader(file) != 1) {
    PrintPool(stdout, "");
    return 1;
  }
  return std::nullopt;
}

void PrintPage(const TiffOper& oper, int number, bool accepted) {
  const FaxPageTags& t = oper.Tags();
  std::printf("Page %d:\n", number);
  std::printf("  ImageWidth %u, ImageLength %u, RowsPerStrip %u\n", t.imageWidth, t.imageLength,
              t.rowsPerStrip);
  std::printf(
      "  BitsPerSample %u, SamplesPerPixel %u, Compression %u, Photometric %u, "
      "FillOrder %u, Group3Options %u\n",
      t.bitsPerSample, t.samplesPerPixel, t.compression, t.photometric, t.fillOrder,
      t.group3Options);
  std::printf("  XResolution %u/%u, YResolution %u/%u, ResolutionUnit %u\n", t.xResolution.num,
              t.xResolution.den, t.yResolution.num, t.yResolution.den, t.resolutionUnit);
  std::printf("  PageNumber %u/%u, Software \"%s\"\n", t.pageIndex, t.pageTotal,
              t.software.c_str());
  std::printf("  Flags 0x%02X (%s)\n", oper.PageInfo().flags,
              accepted ? FlagText(oper.PageInfo().flags).c_str() : "-");
  std::printf("  Coded size %llu bytes at offset %llu\n",
              static_cast<unsigned long long>(t.stripByteCount),
              static_cast<unsigned long long>(t.stripOffset));
}

}  // namespace

int RunInfo(int argc, char** argv) {
  TiffOper oper;
  if (const auto code = OpenOrExit(
          oper, argc, argv, "Print the pages of a fax TIFF file and whether they can be sent."))
    return *code;
  const int total = oper.GetTotalPageNum();
  std::printf("File: %s\nPages: %d\n", oper.FileName().c_str(), total);
  int refused = 0;
  int number = 0;
  do {
    ++number;
    const bool accepted = oper.ReadTags() == 1;
    PrintPage(oper, number, accepted);
    if (accepted) {
      std::puts("  Accepted for sending");
    } else {
      ++refused;
      std::puts("  Not accepted for sending:");
      PrintPool(stdout, "    ");
    }
  } while (oper.NextPage() == 1);
  PrintPool(stdout, "");  // library messages met while walking the file
  return refused == 0 ? 0 : 1;
}

int RunPages(int argc, char** argv) {
  TiffOper oper;
  if (const auto code = OpenOrExit(oper, argc, argv, "Print the page count of a fax TIFF file."))
    return *code;
  std::printf("%d\n", oper.GetTotalPageNum());
  return 0;
}

}  // namespace vexo::cli
