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

int SendUsage(const std::string& why) {
  if (!why.empty()) std::fprintf(stderr, "vexo send: %s\n", why.c_str());
  std::fputs(
      "usage: vexo send [--home DIR] [--device PATH] [--class 1|2|2.0|auto] [--baud N]\n"
      "                 [--id LOCALID] [--ecm on|off] [--coding mh|mr|mmr] --to NUMBER\n"
      "                 [--name RECIPIENT] [--note TEXT] [--cover TEMPLATE] [--subject TEXT]\n"
      "                 FILE...\n",
      stderr);
  return 2;
}

struct SendArgs {
  JobOptions job;
  CoverFaxDetails details;
  std::string cover;
  std::vector<std::string> files;
};

bool TakeSendOption(int argc, char** argv, int& i, SendArgs& args, std::string& error) {
  const std::string_view name = argv[i];
  std::string* target = name == "--to"        ? &args.details.recipientFax
                        : name == "--name"    ? &args.details.recipientName
                        : name == "--note"    ? &args.details.note
                        : name == "--subject" ? &args.details.subject
                        : name == "--cover"   ? &args.cover
                                              : nullptr;
  if (!target) return false;
  if (i + 1 >= argc) {
    error = std::string(name) + " needs a value";
    return false;
  }
  *target = argv[++i];
  return true;
}

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
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    std::string error;
    if (TakeSendOption(argc, argv, i, args, error) || TakeJobOption(argc, argv, i, args.job, error))
      continue;
    if (!error.empty()) return SendUsage(error);
    if (arg.starts_with("--")) return SendUsage("unknown option " + std::string(arg));
    args.files.emplace_back(arg);
  }
  if (args.details.recipientFax.empty()) return SendUsage("--to needs a number");
  if (args.files.empty() && args.cover.empty()) return SendUsage("nothing to send");

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
