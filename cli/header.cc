// vexo header --page N --of M [--from NAME] [--to NAME] [--normal] OUT.tif:
// draws the header strip that goes ahead of a sent page (the local time now as
// the call's time) and writes it as a one-page fax TIFF, so it can be looked at
// (tiff2pdf, or convert OUT.tif OUT.png). --normal gives the 39-row strip sent
// at normal resolution, otherwise the 77-row fine strip.
#include <charconv>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "base/error_pool.h"
#include "document/page_header.h"

namespace vexo::cli {
namespace {

constexpr std::uint32_t kPageWidth = kFaxPageWidth;

int HeaderUsage() {
  std::fputs("usage: vexo header --page N --of M [--from NAME] [--to NAME] [--normal] OUT.tif\n",
             stderr);
  return 2;
}

std::optional<std::uint32_t> PageNumber(std::string_view text) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535)
    return std::nullopt;
  return value;
}

struct HeaderArgs {
  std::optional<std::uint32_t> page, of;
  std::string from, to, out;
  bool normal = false;
};

std::optional<HeaderArgs> ParseArgs(int argc, char** argv) {
  HeaderArgs args;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--page" && hasValue) {
      if (!(args.page = PageNumber(argv[++i]))) return std::nullopt;
    } else if (arg == "--of" && hasValue) {
      if (!(args.of = PageNumber(argv[++i]))) return std::nullopt;
    } else if (arg == "--from" && hasValue) {
      args.from = argv[++i];
    } else if (arg == "--to" && hasValue) {
      args.to = argv[++i];
    } else if (arg == "--normal") {
      args.normal = true;
    } else if (!arg.starts_with("--") && args.out.empty()) {
      args.out = arg;
    } else {
      return std::nullopt;
    }
  }
  if (!args.page || !args.of || args.out.empty()) return std::nullopt;
  return args;
}

bool WriteStrip(const std::string& file, const std::vector<std::uint8_t>& coded, std::uint32_t rows,
                bool normal) {
  TiffOper writer;
  writer.SetErrorPool(false);
  if (writer.OpenWriteTiff(file, CreateMode::Replace) != 1) return false;
  const bool ok = writer.SetPageTags(kPageWidth, rows, normal ? 0 : PAGE_FINE) == 1 &&
                  writer.WriteFaxData(coded.data(), coded.size()) == 1 && writer.EndPage(rows) == 1;
  return writer.CloseWriteTiff() == 1 && ok;
}

}  // namespace

int RunHeader(int argc, char** argv) {
  const std::optional<HeaderArgs> args = ParseArgs(argc, argv);
  if (!args) return HeaderUsage();

  HeaderRenderer renderer;
  std::optional<std::vector<std::uint8_t>> coded;
  if (renderer.Create(HeaderGeometry::For(kPageWidth, kFaxXResolution, kFineRowsPerInch))) {
    renderer.DrawFirst(FormatHeaderParties(args->from, args->to), FormatHeaderDate(LocalTimeNow()),
                       FormatHeaderPage(*args->page, *args->of));
    coded = CodeHeaderStrip(renderer.Bitmap(), args->normal, kFaxXResolution, kFineRowsPerInch,
                            nullptr);
  }
  const std::uint32_t rows = HeaderRows(renderer.Geometry().height, args->normal);
  if (!coded || !WriteStrip(args->out, *coded, rows, args->normal)) {
    ShowErrorPoolBoxes("vexo header");
    return 1;
  }
  std::printf("%s: header of %u rows, %zu coded bytes\n", args->out.c_str(), rows, coded->size());
  return 0;
}

}  // namespace vexo::cli
