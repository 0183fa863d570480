// vexo import IMAGE.tif... -o OUT.tif [--scale] [--normal|--fine] [--paper a4|letter|legal]:
// converts black-and-white TIFF images from other programs into one fax TIFF,
// copying rows (cropped or padded to 1728 pixels) or, with --scale, scaling
// them by the ratio of the resolutions; long pages are cut, short ones padded.
// The page numbers of the finished file are rewritten. PDF files (.pdf) and
// pictures (.png, .jpg, .jpeg, .bmp) are rendered and fitted to the paper
// instead. --paper picks the paper for this run (the settings' otherwise).
#include <cctype>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/jobs/user_messages.h"
#include "app/settings/layer_options.h"
#include "app/settings/settings.h"
#include "base/error_pool.h"
#include "document/image_import.h"
#include "document/page_geometry.h"
#include "document/pdf_import.h"
#include "document/tif2tif.h"

namespace vexo::cli {
namespace {

int ImportUsage() {
  std::fputs(
      "usage: vexo import IMAGE.tif|.pdf|.png|.jpg|.bmp... -o OUT.tif [--scale] "
      "[--normal|--fine] [--paper a4|letter|legal]\n",
      stderr);
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
    const bool hasValue = i + 1 < argc;
    if (arg == "-o" && hasValue) {
      args.out = argv[++i];
    } else if (arg == "--paper" && hasValue) {
      const auto paper = PaperSizeFromName(argv[++i]);
      if (!paper) return std::nullopt;
      args.settings.PaperSize = static_cast<std::uint32_t>(*paper);
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

enum class SourceKind { Tiff, Pdf, Picture };

SourceKind KindOf(const std::string& path) {
  const std::size_t dot = path.find_last_of('.');
  std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "pdf") return SourceKind::Pdf;
  if (ext == "png" || ext == "jpg" || ext == "jpeg" || ext == "bmp") return SourceKind::Picture;
  return SourceKind::Tiff;
}

}  // namespace

int RunImport(int argc, char** argv) {
  const std::optional<ImportArgs> args = ParseArgs(argc, argv);
  if (!args) return ImportUsage();
  Tif2Tif converter;
  converter.Initialize();
  if (ConfigureTif2Tif(converter, ConvertOptionsOf(args->settings)) != 1) return ImportUsage();
  converter.SetNotBilevelHandler(ShowNotBilevel);
  PdfImport pdf;
  pdf.Initialize();
  pdf.SetLayout(converter.Layout());
  ImageImport picture;
  picture.Initialize();
  picture.SetLayout(converter.Layout());
  FaxOutputFile out;
  if (out.Open(args->out, CreateMode::Replace) != 1) {
    ShowErrorPoolBoxes("vexo import");
    return 1;
  }
  for (const std::string& image : args->images) {
    std::uint32_t pages = 0;
    int result = 0;
    switch (KindOf(image)) {
      case SourceKind::Pdf:
        result = pdf.Pdf2Tiff(image, out.Tiff(), {}, &pages);
        break;
      case SourceKind::Picture:
        result = picture.Image2Tiff(image, out.Tiff(), &pages);
        break;
      case SourceKind::Tiff:
        result = converter.Tiff2Tiff(image, out.Tiff(), {}, {}, &pages);
        break;
    }
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
