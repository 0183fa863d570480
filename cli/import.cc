// vexo import IMAGE.tif... -o OUT.tif [--scale] [--normal|--fine]: converts
// black-and-white TIFF images from other programs into one fax TIFF, copying
// rows (cropped or padded to 1728 pixels) or, with --scale, scaling them by the
// ratio of the resolutions; long pages are cut, short ones padded. The page
// numbers of the finished file are rewritten.
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/base/error_pool.h"
#include "app/base/settings.h"
#include "document/tif2tif.h"

namespace vexo::cli {
namespace {

int ImportUsage() {
  std::fputs("usage: vexo import IMAGE.tif... -o OUT.tif [--scale] [--normal|--fine]\n", stderr);
  return 2;
}

struct ImportArgs {
  std::vector<std::string> images;
  std::string out;
  AppSettings settings;
};

std::optional<ImportArgs> ParseArgs(int argc, char** argv) {
  ImportArgs args;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-o" && i + 1 < argc) {
      args.out = argv[++i];
    } else if (arg == "--scale") {
      args.settings.I2TResTransfer = TRANSFER_SCALE;
    } else if (arg == "--normal") {
      args.settings.T2TQuality = 1;
    } else if (arg == "--fine") {
      args.settings.T2TQuality = 2;
    } else if (!arg.starts_with("-")) {
      args.images.emplace_back(arg);
    } else {
      return std::nullopt;
    }
  }
  if (args.images.empty() || args.out.empty()) return std::nullopt;
  return args;
}

}  // namespace

int RunImport(int argc, char** argv) {
  const std::optional<ImportArgs> args = ParseArgs(argc, argv);
  if (!args) return ImportUsage();
  Tif2Tif converter;
  converter.Initialize();
  if (ConfigureTif2Tif(converter, args->settings) != 1) return ImportUsage();
  FaxOutputFile out;
  if (out.Open(args->out, CreateMode::Replace) != 1) {
    ShowErrorPoolBoxes("vexo import");
    return 1;
  }
  for (const std::string& image : args->images) {
    std::uint32_t pages = 0;
    const int result = converter.Tiff2Tiff(image, out.Tiff(), {}, {}, &pages);
    out.AddPages(pages);
    if (result != 1) {
      out.Discard();
      ShowErrorPoolBoxes("vexo import");
      std::fprintf(stderr, "vexo import: %s was not converted\n", image.c_str());
      return 1;
    }
    std::printf("%s: %u page%s\n", image.c_str(), pages, pages == 1 ? "" : "s");
  }
  if (out.Close() != 1) {
    ShowErrorPoolBoxes("vexo import");
    return 1;
  }
  std::printf("%s: %u page%s\n", args->out.c_str(), out.Pages(), out.Pages() == 1 ? "" : "s");
  return 0;
}

}  // namespace vexo::cli
