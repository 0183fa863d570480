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
#include "document/page_geometry.h"
#include "document/txt2tif.h"

namespace vexo::cli {
namespace {

int RenderUsage() {
  std::fputs(
      "usage: vexo render TEXT... -o OUT.tif [--normal|--fine] [--paper a4|letter|legal] [--wrap] "
      "[--font FACE:SIZE] [--line-extra TENTHS_MM] [--tab-size N] [--code-page N]\n",
      stderr);
  return 2;
}

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

std::optional<RenderArgs> ParseArgs(int argc, char** argv) {
  RenderArgs args;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "-o" && hasValue) {
      args.out = argv[++i];
    } else if (arg == "--normal") {
      args.settings.T2TQuality = 1;
    } else if (arg == "--fine") {
      args.settings.T2TQuality = 2;
    } else if (arg == "--paper" && hasValue) {
      const auto paper = PaperSizeFromName(argv[++i]);
      if (!paper) return std::nullopt;
      args.settings.PaperSize = static_cast<std::uint32_t>(*paper);
    } else if (arg == "--wrap") {
      args.settings.T2TWordWrap = 1;
    } else if (arg == "--font" && hasValue) {
      const auto font = FontArgument(argv[++i]);
      if (!font) return std::nullopt;
      args.settings.T2TFont = *font;
    } else if (arg == "--line-extra" && hasValue) {
      const auto value = Number(argv[++i]);
      if (!value) return std::nullopt;
      args.settings.T2TLineExtra = *value;
    } else if (arg == "--tab-size" && hasValue) {
      const auto value = Number(argv[++i]);
      if (!value || *value == 0 || *value > kMaxTabSize) return std::nullopt;
      args.settings.T2TTabSize = *value;
    } else if (arg == "--code-page" && hasValue) {
      const auto value = Number(argv[++i]);
      if (!value || (*value != 1252 && *value != 936 && *value != 950)) return std::nullopt;
      args.codePage = *value;
    } else if (!arg.starts_with("-")) {
      args.texts.emplace_back(arg);
    } else {
      return std::nullopt;
    }
  }
  if (args.texts.empty() || args.out.empty()) return std::nullopt;
  return args;
}

}  // namespace

int RunRender(int argc, char** argv) {
  const std::optional<RenderArgs> args = ParseArgs(argc, argv);
  if (!args) return RenderUsage();
  Txt2Tif renderer;
  if (renderer.Initialize() != 1 ||
      ConfigureTxt2Tif(renderer, ConvertOptionsOf(args->settings)) != 1) {
    std::fputs("vexo render: the font or the paper settings were refused\n", stderr);
    ShowErrorPoolBoxes("vexo render");
    return 1;
  }
  renderer.SetCodePage(args->codePage != 0 ? args->codePage : SystemCodePage());
  FaxOutputFile out;
  if (out.Open(args->out, CreateMode::Replace) != 1) {
    ShowErrorPoolBoxes("vexo render");
    return 1;
  }
  for (const std::string& text : args->texts) {
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
  std::printf("%s: %u page%s\n", args->out.c_str(), out.Pages(), out.Pages() == 1 ? "" : "s");
  return 0;
}

}  // namespace vexo::cli
