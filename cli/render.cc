// vexo render TEXT... -o OUT.tif [--normal|--fine] [--paper a4|letter|legal] [--wrap]
// [--font FACE:SIZE] [--line-extra TENTHS_MM] [--tab-size N] [--code-page N]: renders text files
// into one fax TIFF the way the send job does (page height less the header
// strip, the settings' defaults unless an option says otherwise) and rewrites
// the page numbers of the finished file. Look at it with `vexo preview`.
#include <charconv>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings/layer_options.h"
#include "app/settings/settings.h"
#include "base/error_pool.h"
#include "cli/arg_parser.h"
#include "document/page_geometry.h"
#include "document/txt2tif.h"

namespace vexo::cli {
namespace {

std::optional<std::uint32_t> Number(std::string_view text) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// "FACE:SIZE" with SIZE in points (whole or with one decimal, "10.5").
std::optional<LOGFONTW> FontArgument(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return std::nullopt;
  std::string_view size = text.substr(colon + 1);
  int tenths = 0;
  const std::size_t dot = size.find('.');
  const auto whole = Number(size.substr(0, dot));
  if (!whole || *whole == 0 || *whole > 500) return std::nullopt;
  tenths = static_cast<int>(*whole) * 10;
  if (dot != std::string_view::npos) {
    const std::string_view fraction = size.substr(dot + 1);
    const auto digit = Number(fraction);
    if (fraction.size() != 1 || !digit) return std::nullopt;
    tenths += static_cast<int>(*digit);
  }
  return MakeLogFont(text.substr(0, colon), tenths);
}

struct RenderArgs {
  std::vector<std::string> texts;
  std::string out;
  AppSettings settings;
  std::uint32_t codePage = 0;
};

constexpr std::uint32_t kCodePages[] = {1252, 936, 950};

}  // namespace

int RunRender(int argc, char** argv) {
  RenderArgs args;
  CLI::App cli{"Render text files into one fax TIFF file the way the send job does."};
  cli.add_option("TEXT", args.texts, "the text files")->required();
  cli.add_option("-o", args.out, "the fax TIFF file to write")->required()->type_name("OUT.tif");
  cli.add_flag_callback(
      "--normal", [&args] { args.settings.T2TQuality = 1; },
      "normal resolution (else the settings')");
  cli.add_flag_callback(
      "--fine", [&args] { args.settings.T2TQuality = 2; }, "fine resolution (else the settings')");
  std::string paper, font;
  AddPaper(cli, paper);
  cli.add_flag_callback(
      "--wrap", [&args] { args.settings.T2TWordWrap = 1; }, "wrap long lines at word ends");
  cli.add_option("--font", font, "the font and its size in points, e.g. \"DejaVu Sans Mono:10.5\"")
      ->check(Accepts([](const std::string& text) { return FontArgument(text).has_value(); },
                      "FACE:SIZE with a size from 1 to 500 points"))
      ->type_name("FACE:SIZE");
  cli.add_option("--line-extra", args.settings.T2TLineExtra,
                 "extra space between lines, in tenths of a millimetre")
      ->type_name("TENTHS_MM");
  cli.add_option("--tab-size", args.settings.T2TTabSize, "the columns of a tab stop")
      ->check(CLI::Range(1u, kMaxTabSize).description(""))
      ->type_name("N");
  cli.add_option("--code-page", args.codePage, "the code page of the text files: 1252, 936 or 950")
      ->check(Accepts(
          [](const std::string& text) {
            for (const std::uint32_t codePage : kCodePages)
              if (text == std::to_string(codePage)) return true;
            return false;
          },
          "1252, 936 or 950"))
      ->type_name("N");
  // The last of --normal and --fine given counts.
  cli.get_option("--normal")->trigger_on_parse();
  cli.get_option("--fine")->trigger_on_parse();
  if (const auto code = ParseCommand(cli, argc, argv)) return *code;
  if (!paper.empty())
    args.settings.PaperSize = static_cast<std::uint32_t>(*PaperSizeFromName(paper));
  if (!font.empty()) args.settings.T2TFont = *FontArgument(font);

  Txt2Tif renderer;
  if (renderer.Initialize() != 1 ||
      ConfigureTxt2Tif(renderer, ConvertOptionsOf(args.settings)) != 1) {
    std::fputs("vexo render: the font or the paper settings were refused\n", stderr);
    ShowErrorPoolBoxes("vexo render");
    return 1;
  }
  renderer.SetCodePage(args.codePage != 0 ? args.codePage : SystemCodePage());
  FaxOutputFile out;
  if (out.Open(args.out, CreateMode::Replace) != 1) {
    ShowErrorPoolBoxes("vexo render");
    return 1;
  }
  for (const std::string& text : args.texts) {
    std::uint32_t pages = 0;
    const int result = renderer.Text2Tiff(text, out.Tiff(), true, {}, {}, &pages);
    out.AddPages(pages);
    if (result != 1) {
      out.Discard();
      ShowErrorPoolBoxes("vexo render");
      return 1;
    }
    std::printf("%s: %u page%s\n", text.c_str(), pages, pages == 1 ? "" : "s");
  }
  if (out.Close() != 1) {
    ShowErrorPoolBoxes("vexo render");
    return 1;
  }
  std::printf("%s: %u page%s\n", args.out.c_str(), out.Pages(), out.Pages() == 1 ? "" : "s");
  return 0;
}

}  // namespace vexo::cli
