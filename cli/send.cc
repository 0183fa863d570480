// vexo send --device PATH --to NUMBER [--class 1|2|2.0] FILE.tif...: sends
// the fax TIFF files as one fax through the fax kernel on a serial device,
// showing status and page progress, then prints the outcome and the error
// pool. Exit 0 when every page went, 1 when part of the fax went, 2 otherwise.
#include <cstdio>
#include <string>
#include <vector>

#include "app/base/error_pool.h"
#include "cli/fax_call.h"
#include "kernel/comm_log.h"
#include "platform/text.h"

namespace vexo::cli {
namespace {

int SendUsage(const std::string& why) {
  if (!why.empty()) std::fprintf(stderr, "vexo send: %s\n", why.c_str());
  std::fputs(
      "usage: vexo send --device PATH --to NUMBER [--class 1|2|2.0] [--baud N] [--log DIR]\n"
      "                 [--id LOCALID] [--no-comm-log] FILE.tif...\n",
      stderr);
  return 2;
}

void PrintOutcome(int result, const FaxResult& record) {
  const std::string remote = Utf16ToUtf8(record.RemoteId());
  const char* outcome = result == 0 ? "Sent" : result == 1 ? "Partly sent" : "Not sent";
  std::printf("%s: %u of %u page(s) went", outcome, record.pagesTransferred, record.totalPages);
  if (!remote.empty()) std::printf(" to \"%s\"", remote.c_str());
  std::printf("\n");
}

}  // namespace

int RunSend(int argc, char** argv) {
  CallOptions options;
  std::string number;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    std::string error;
    if (arg == "--to") {
      if (i + 1 >= argc) return SendUsage("--to needs a number");
      number = argv[++i];
    } else if (TakeCallOption(argc, argv, i, options, error)) {
      continue;
    } else if (!error.empty()) {
      return SendUsage(error);
    } else if (arg.starts_with("--")) {
      return SendUsage("unknown option " + std::string(arg));
    } else {
      files.emplace_back(arg);
    }
  }
  if (options.device.empty() || number.empty() || files.empty()) return SendUsage("");

  JobControl job;
  FaxKernel kernel;
  TerminalStatus terminal(job);
  job.StartJob(kSendJob);
  int result = -1;
  FaxResult record;
  if (OpenKernel(kernel, job, options)) {
    WriteJobStartLine(kernel.CommLog(), JobDirection::Send, options.device, LocalTimeNow());
    CancelOnSignal cancel(job);
    std::uint32_t resume = 0;
    result = kernel.SendFax(files, number, options.localId, &resume, &record);
    kernel.ClosePort(0);
  }
  job.EndJob();
  PrintOutcome(result, record);
  FlushErrorPool(nullptr, false);
  return ExitCodeOf(result);
}

}  // namespace vexo::cli
