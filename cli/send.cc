// vexo send [--home DIR] [--device PATH] [--class 1|2|2.0|auto] [--baud N]
// [--id LOCALID] [--ecm on|off] [--coding mh|mr|mmr] --to NUMBER [--name
// RECIPIENT] [--note TEXT] [--cover TEMPLATE] [--subject TEXT] FILE...:
// composes the files (text, TIFF, PDF, pictures) behind an optional cover page
// into a new fax file in the data directory and sends it as a fax job of the
// home: through the modem the settings choose (every modem in turn when it
// names none of them), or the serial device given with --device; --ecm and
// --coding override FaxECM and FaxCoding for this call. The call is filed in
// the Sent folder. Exit 0 when every page went, 1 when part of the fax went, 2
// otherwise.
#include <cstdio>
#include <string>
#include <vector>

#include "app/jobs/user_messages.h"
#include "app/settings/layer_options.h"
#include "base/error_pool.h"
#include "cli/fax_call.h"
#include "document/tiff_convert.h"
#include "platform/text.h"

namespace vexo::cli {
namespace {

struct SendArgs {
  JobOptions job;
  CoverFaxDetails details;
  std::string cover;
  std::vector<std::string> files;
};

// Composes the fax into a new file of the data directory; its path, or empty.
std::string Compose(AppOper& app, const SendArgs& args) {
  ConvertRequest request;
  request.sources = args.files;
  request.details = args.details;
  request.notBilevel = ShowNotBilevel;
  if (!args.cover.empty()) {
    const auto path = FindCoverTemplate(args.cover, app.Settings().CoverDir);
    if (!path) {
      std::fprintf(stderr, "vexo send: no cover page template %s (nor in %s)\n", args.cover.c_str(),
                   app.Settings().CoverDir.c_str());
      return {};
    }
    request.coverTemplate = *path;
  }
  if (MeasureConversion(request) < 0) return {};
  request.output = app.NewComposedFile();
  if (request.output.empty()) return {};
  request.completion = [&request](std::uint32_t pages, std::uint64_t) {
    std::printf("Composed %u page(s) into %s\n", pages, request.output.c_str());
  };
  TiffConvert convert(ConvertOptionsOf(app.Settings()), &app.SystemLog());
  if (convert.Convert(request) != 1) return {};
  return request.output;
}

void PrintOutcome(int result, const FaxResult& record, const std::string& link) {
  const std::string remote = Utf16ToUtf8(record.RemoteId());
  const char* outcome = result == 0 ? "Sent" : result == 1 ? "Partly sent" : "Not sent";
  std::printf("%s: %u of %u page(s) went", outcome, record.pagesTransferred, record.totalPages);
  if (!remote.empty()) std::printf(" to \"%s\"", remote.c_str());
  std::printf("%s\n", link.c_str());
  std::fflush(stdout);
}

}  // namespace

int RunSend(int argc, char** argv) {
  SendArgs args;
  CLI::App cli{
      "Compose the files (text, TIFF, PDF, pictures) behind an optional cover page into "
      "a fax, send it and file it in the Sent folder."};
  AddJobOptions(cli, args.job);
  cli.add_option("--to", args.details.recipientFax, "the fax number to call")
      ->required()
      ->type_name("NUMBER");
  cli.add_option("--name", args.details.recipientName, "the recipient's name")
      ->type_name("RECIPIENT");
  cli.add_option("--note", args.details.note, "the note of the cover page and the record")
      ->type_name("TEXT");
  cli.add_option("--cover", args.cover,
                 "the cover page template (a path, or a name in the cover directory)")
      ->type_name("TEMPLATE");
  cli.add_option("--subject", args.details.subject, "the subject of the cover page")
      ->type_name("TEXT");
  cli.add_option("FILE", args.files, "the files to send");
  if (const auto code = ParseCommand(cli, argc, argv)) return *code;
  if (args.details.recipientFax.empty() || (args.files.empty() && args.cover.empty())) {
    std::fputs(args.details.recipientFax.empty() ? "vexo send: --to needs a number\n"
                                                 : "vexo send: nothing to send\n",
               stderr);
    return kUsageExitCode;
  }

  AppOper app(MakeAppOptions(args.job));
  if (!StartApp(app, args.job, "vexo send")) return 2;
  const std::string file = Compose(app, args);
  if (file.empty()) {
    ShowErrorPoolBoxes("vexo send");
    std::fputs("vexo send: the fax could not be composed\n", stderr);
    return 2;
  }
  SendInputs& inputs = app.Inputs();
  inputs.file = file;
  inputs.number = args.details.recipientFax;
  inputs.recipient = args.details.recipientName;
  inputs.note = args.details.note;
  const int result = RunTerminalJob(app, kSendJob);
  PrintOutcome(result, app.Result(), LinkSuffix(app, app.Result().pagesTransferred));
  if (app.LastFilingFailed())
    std::fprintf(stderr, "vexo send: warning: the fax in %s could not be filed\n", file.c_str());
  app.ShowOutcome(kSendJob, result, true);
  return ExitCodeOf(result);
}

}  // namespace vexo::cli
