// vexo import IMAGE.tif... -o OUT.tif [--scale] [--normal|--fine] [--paper a4|letter|legal]:
// converts black-and-white TIFF images from other programs into one fax TIFF,
// copying rows (cropped or padded to 1728 pixels) or, with --scale, scaling
// them by the ratio of the resolutions; long pages are cut, short ones padded.
// The page numbers of the finished file are rewritten. PDF files (.pdf) and
// pictures (.png, .jpg, .jpeg, .bmp) are rendered and fitted to the paper
// instead. --paper picks the paper for this run (the settings' otherwise).
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "app/jobs/user_messages.h"
#include "app/settings/layer_options.h"
#include "app/settings/settings.h"
#include "base/error_pool.h"
#include "cli/arg_parser.h"
#include "cli/progress_line.h"
#include "document/image_import.h"
#include "document/page_geometry.h"
#include "document/pdf_import.h"
#include "document/tif2tif.h"

namespace vexo::cli {
namespace {

struct ImportArgs {
  std::vector<std::string> images;
  std::string out;
  AppSettings settings;
};

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
  ImportArgs args;
  CLI::App cli{"Convert TIFF images, PDF files and pictures into one fax TIFF file."};
  cli.add_option("IMAGE", args.images, "the TIFF, PDF (.pdf) and picture (.png, .jpg, .bmp) files")
      ->required();
  cli.add_option("-o", args.out, "the fax TIFF file to write")->required()->type_name("OUT.tif");
  cli.add_flag_callback(
      "--scale", [&args] { args.settings.I2TResTransfer = TRANSFER_SCALE; },
      "scale TIFF images by the ratio of the resolutions (else copy rows)");
  cli.add_flag_callback(
      "--normal", [&args] { args.settings.T2TQuality = 1; },
      "normal resolution (else the settings')");
  cli.add_flag_callback(
      "--fine", [&args] { args.settings.T2TQuality = 2; }, "fine resolution (else the settings')");
  // The last of --normal and --fine given counts.
  cli.get_option("--normal")->trigger_on_parse();
  cli.get_option("--fine")->trigger_on_parse();
  std::string paper;
  AddPaper(cli, paper);
  if (const auto code = ParseCommand(cli, argc, argv)) return *code;
  if (!paper.empty())
    args.settings.PaperSize = static_cast<std::uint32_t>(*PaperSizeFromName(paper));

  Tif2Tif converter;
  converter.Initialize();
  if (ConfigureTif2Tif(converter, ConvertOptionsOf(args.settings)) != 1) {
    ShowErrorPoolBoxes("vexo import");
    return kUsageExitCode;
  }
  converter.SetNotBilevelHandler(ShowNotBilevel);
  PdfImport pdf;
  pdf.Initialize();
  pdf.SetLayout(converter.Layout());
  ImageImport picture;
  picture.Initialize();
  picture.SetLayout(converter.Layout());
  FaxOutputFile out;
  if (out.Open(args.out, CreateMode::Replace) != 1) {
    ShowErrorPoolBoxes("vexo import");
    return 1;
  }
  ProgressLine progress;
  for (std::size_t i = 0; i < args.images.size(); ++i) {
    const std::string& image = args.images[i];
    const std::string importing = "Importing " + std::to_string(i + 1) + " of " +
                                  std::to_string(args.images.size()) + ": " + image;
    progress.Show(importing);
    std::uint32_t pages = 0;
    int result = 0;
    switch (KindOf(image)) {
      case SourceKind::Pdf: {
        // The import asks before each PDF page whether to stop: the page
        // count on the progress line.
        unsigned pdfPage = 0;
        const auto showPage = [&] {
          progress.Show(importing + ", page " + std::to_string(++pdfPage));
          return false;
        };
        result = pdf.Pdf2Tiff(image, out.Tiff(), showPage, &pages);
        break;
      }
      case SourceKind::Picture:
        result = picture.Image2Tiff(image, out.Tiff(), &pages);
        break;
      case SourceKind::Tiff:
        result = converter.Tiff2Tiff(image, out.Tiff(), {}, {}, &pages);
        break;
    }
    out.AddPages(pages);
    progress.Clear();
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
  std::printf("%s: %u page%s\n", args.out.c_str(), out.Pages(), out.Pages() == 1 ? "" : "s");
  return 0;
}

}  // namespace vexo::cli
