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
#include <vector>

#include "app/jobs/user_messages.h"
#include "app/settings/layer_options.h"
#include "app/settings/settings.h"
#include "base/error_pool.h"
#include "cli/arg_parser.h"
#include "cli/fax_call.h"
#include "cli/progress_line.h"
#include "document/page_geometry.h"
#include "document/tiff_convert.h"

namespace vexo::cli {
namespace {

struct ComposeArgs {
  std::optional<std::string> home;
  std::string cover;
  CoverFaxDetails details;
  std::vector<std::string> attachments;
  std::string out;
  std::string paper;  // for this run only; the settings' otherwise
  bool replace = false;
};

}  // namespace

int RunCompose(int argc, char** argv) {
  ComposeArgs args;
  CLI::App cli{"Make one fax file of a cover page and attachments, the way the send dialogs do."};
  AddHome(cli, args.home);
  cli.add_option("--cover", args.cover,
                 "the cover page template (a path, or a name in the cover directory)")
      ->type_name("TEMPLATE");
  cli.add_option("--to", args.details.recipientFax, "the recipient's fax number")
      ->type_name("NUMBER");
  cli.add_option("--name", args.details.recipientName, "the recipient's name")
      ->type_name("RECIPIENT");
  cli.add_option("--subject", args.details.subject, "the subject of the cover page")
      ->type_name("TEXT");
  cli.add_option("--note", args.details.note, "the note of the cover page")->type_name("TEXT");
  AddPaper(cli, args.paper);
  cli.add_flag("--replace", args.replace, "replace OUT.tif when it exists");
  cli.add_option("ATTACHMENT", args.attachments, "the text, TIFF, PDF and picture files");
  cli.add_option("-o", args.out, "the fax TIFF file to write (must not exist)")
      ->required()
      ->type_name("OUT.tif");
  if (const auto code = ParseCommand(cli, argc, argv)) return *code;
  if (args.attachments.empty() && args.cover.empty()) {
    std::fputs("vexo compose: nothing to compose (no cover page, no attachment)\n", stderr);
    return kUsageExitCode;
  }

  AppSettings settings;
  if (args.home) settings.SetHomeDirectory(*args.home);
  if (!settings.LoadSettings() || !settings.EnsureDirectories()) {
    ShowErrorPoolBoxes("vexo compose");
    return 1;
  }
  InstallSampleCovers(settings.CoverDir);
  if (!args.paper.empty())
    settings.PaperSize = static_cast<std::uint32_t>(*PaperSizeFromName(args.paper));

  ConvertRequest request;
  request.sources = args.attachments;
  request.output = args.out;
  request.details = args.details;
  request.notBilevel = ShowNotBilevel;
  if (!args.cover.empty()) {
    const auto path = FindCoverTemplate(args.cover, settings.CoverDir);
    if (!path) {
      std::fprintf(stderr, "vexo compose: no cover page template %s (nor in %s)\n",
                   args.cover.c_str(), settings.CoverDir.c_str());
      return 1;
    }
    request.coverTemplate = *path;
  }
  const std::int64_t total = MeasureConversion(request);
  if (total < 0) {
    ShowErrorPoolBoxes("vexo compose");
    return 1;
  }
  ProgressLine progress;
  if (progress.OnTerminal() && total > 0)
    request.progress = [&progress, total](std::uint64_t done) {
      progress.Show("Composing: " + std::to_string(done * 100 / static_cast<std::uint64_t>(total)) +
                    "%");
    };
  request.completion = [&progress](std::uint32_t pages, std::uint64_t bytes) {
    progress.Clear();
    std::printf("%u page%s, %llu bytes\n", pages, pages == 1 ? "" : "s",
                static_cast<unsigned long long>(bytes));
  };
  if (args.replace) {
    std::error_code error;
    std::filesystem::remove(args.out, error);
  }
  TiffConvert convert(ConvertOptionsOf(settings));
  const int result = convert.Convert(request);
  progress.Clear();
  if (result != 1) {
    ShowErrorPoolBoxes("vexo compose");
    std::fprintf(stderr, "vexo compose: %s was not made\n", args.out.c_str());
    return 1;
  }
  std::printf("%s\n", args.out.c_str());
  return 0;
}

}  // namespace vexo::cli
