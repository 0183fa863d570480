// vexo compose [--home DIR] [--cover TEMPLATE] [--to NUMBER] [--name RECIPIENT]
// [--subject TEXT] [--note TEXT] [--paper a4|letter|legal] [--replace] ATTACHMENT...
// -o OUT.tif: composes a fax the way the send dialogs do: the cover page drawn from TEMPLATE (a
// path, or a file name in the settings' cover directory, where the sample templates are copied on
// first use) with the profile of the settings and the given recipient, subject and note, then every
// attachment (text files and TIFF images), all in one new fax TIFF whose pages carry the total page
// count. OUT.tif must not exist unless --replace. Look at it with `vexo preview`.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/jobs/user_messages.h"
#include "app/settings/layer_options.h"
#include "app/settings/settings.h"
#include "base/error_pool.h"
#include "cli/fax_call.h"
#include "document/page_geometry.h"
#include "document/tiff_convert.h"

namespace vexo::cli {
namespace {

int ComposeUsage() {
  std::fputs(
      "usage: vexo compose [--home DIR] [--cover TEMPLATE] [--to NUMBER] [--name RECIPIENT]\n"
      "                    [--subject TEXT] [--note TEXT] [--paper a4|letter|legal] [--replace]\n"
      "                    ATTACHMENT... -o OUT.tif\n",
      stderr);
  return 2;
}

struct ComposeArgs {
  std::optional<std::string> home;
  std::string cover;
  CoverFaxDetails details;
  std::vector<std::string> attachments;
  std::string out;
  std::optional<PaperSize> paper;  // for this run only; the settings' otherwise
  bool replace = false;
};

std::optional<ComposeArgs> ParseArgs(int argc, char** argv) {
  ComposeArgs args;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "-o" && hasValue) {
      args.out = argv[++i];
    } else if (arg == "--home" && hasValue) {
      args.home = argv[++i];
    } else if (arg == "--cover" && hasValue) {
      args.cover = argv[++i];
    } else if (arg == "--to" && hasValue) {
      args.details.recipientFax = argv[++i];
    } else if (arg == "--name" && hasValue) {
      args.details.recipientName = argv[++i];
    } else if (arg == "--subject" && hasValue) {
      args.details.subject = argv[++i];
    } else if (arg == "--note" && hasValue) {
      args.details.note = argv[++i];
    } else if (arg == "--paper" && hasValue) {
      args.paper = PaperSizeFromName(argv[++i]);
      if (!args.paper) return std::nullopt;
    } else if (arg == "--replace") {
      args.replace = true;
    } else if (!arg.starts_with("-")) {
      args.attachments.emplace_back(arg);
    } else {
      return std::nullopt;
    }
  }
  if ((args.attachments.empty() && args.cover.empty()) || args.out.empty()) return std::nullopt;
  return args;
}

}  // namespace

int RunCompose(int argc, char** argv) {
  const std::optional<ComposeArgs> args = ParseArgs(argc, argv);
  if (!args) return ComposeUsage();
  AppSettings settings;
  if (args->home) settings.SetHomeDirectory(*args->home);
  if (!settings.LoadSettings() || !settings.EnsureDirectories()) {
    ShowErrorPoolBoxes("vexo compose");
    return 1;
  }
  InstallSampleCovers(settings.CoverDir);
  if (args->paper) settings.PaperSize = static_cast<std::uint32_t>(*args->paper);

  ConvertRequest request;
  request.sources = args->attachments;
  request.output = args->out;
  request.details = args->details;
  request.notBilevel = ShowNotBilevel;
  if (!args->cover.empty()) {
    const auto path = FindCoverTemplate(args->cover, settings.CoverDir);
    if (!path) {
      std::fprintf(stderr, "vexo compose: no cover page template %s (nor in %s)\n",
                   args->cover.c_str(), settings.CoverDir.c_str());
      return 1;
    }
    request.coverTemplate = *path;
  }
  request.completion = [](std::uint32_t pages, std::uint64_t bytes) {
    std::printf("%u page%s, %llu bytes\n", pages, pages == 1 ? "" : "s",
                static_cast<unsigned long long>(bytes));
  };
  if (MeasureConversion(request) < 0) {
    ShowErrorPoolBoxes("vexo compose");
    return 1;
  }
  if (args->replace) {
    std::error_code error;
    std::filesystem::remove(args->out, error);
  }
  TiffConvert convert(ConvertOptionsOf(settings));
  const int result = convert.Convert(request);
  if (result != 1) {
    ShowErrorPoolBoxes("vexo compose");
    std::fprintf(stderr, "vexo compose: %s was not made\n", args->out.c_str());
    return 1;
  }
  std::printf("%s\n", args->out.c_str());
  return 0;
}

}  // namespace vexo::cli
