// vexo header --page N --of M [--from NAME] [--to NAME] [--normal] OUT.tif:
// draws the header strip that goes ahead of a sent page (the local time now as
// the call's time) and writes it as a one-page fax TIFF, so it can be looked at
// (tiff2pdf, or convert OUT.tif OUT.png). --normal gives the 39-row strip sent
// at normal resolution, otherwise the 77-row fine strip.
#include <cstdio>
#include <optional>
#include <string>

#include "base/error_pool.h"
#include "cli/arg_parser.h"
#include "document/page_header.h"

namespace vexo::cli {
namespace {

constexpr std::uint32_t kPageWidth = kFaxPageWidth;
constexpr std::uint32_t kMaxPageNumber = 65535;

struct HeaderArgs {
  std::uint32_t page = 0, of = 0;
  std::string from, to, out;
  bool normal = false;
};

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
  HeaderArgs args;
  CLI::App cli{
      "Write the header strip of a sent page (with the local time now) as a one-page fax "
      "TIFF."};
  const auto pageNumber = CLI::Range(1u, kMaxPageNumber).description("");
  cli.add_option("--page", args.page, "the page number")
      ->required()
      ->check(pageNumber)
      ->type_name("N");
  cli.add_option("--of", args.of, "the page count")->required()->check(pageNumber)->type_name("M");
  cli.add_option("--from", args.from, "the sender's name")->type_name("NAME");
  cli.add_option("--to", args.to, "the recipient's name")->type_name("NAME");
  cli.add_flag("--normal", args.normal, "the strip of a normal-resolution page (else fine)");
  cli.add_option("OUT.tif", args.out, "the TIFF file to write")->required();
  if (const auto code = ParseCommand(cli, argc, argv)) return *code;

  HeaderRenderer renderer;
  std::optional<std::vector<std::uint8_t>> coded;
  if (renderer.Create(HeaderGeometry::For(kPageWidth, kFaxXResolution, kFineRowsPerInch))) {
    renderer.DrawFirst(FormatHeaderParties(args.from, args.to), FormatHeaderDate(LocalTimeNow()),
                       FormatHeaderPage(args.page, args.of));
    coded =
        CodeHeaderStrip(renderer.Bitmap(), args.normal, kFaxXResolution, kFineRowsPerInch, nullptr);
  }
  const std::uint32_t rows = HeaderRows(renderer.Geometry().height, args.normal);
  if (!coded || !WriteStrip(args.out, *coded, rows, args.normal)) {
    ShowErrorPoolBoxes("vexo header");
    return 1;
  }
  std::printf("%s: header of %u rows, %zu coded bytes\n", args.out.c_str(), rows, coded->size());
  return 0;
}

}  // namespace vexo::cli
