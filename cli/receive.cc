// vexo receive --device PATH --out FILE.tif [--class 1|2|2.0]: waits on a
// serial device for a call, receives one fax into the new file through the fax
// kernel, showing status and page progress, then prints the outcome and the
// error pool. Ctrl-C while waiting cancels. Exit 0 when the fax arrived, 1 when
// part of it did, 2 otherwise.
#include <cstdio>
#include <string>

#include "app/base/error_pool.h"
#include "cli/fax_call.h"
#include "kernel/comm_log.h"
#include "platform/text.h"

namespace vexo::cli {
namespace {

int ReceiveUsage(const std::string& why) {
  if (!why.empty()) std::fprintf(stderr, "vexo receive: %s\n", why.c_str());
  std::fputs(
      "usage: vexo receive --device PATH --out FILE.tif [--class 1|2|2.0] [--baud N]\n"
      "                    [--log DIR] [--id LOCALID] [--no-comm-log]\n",
      stderr);
  return 2;
}

void PrintOutcome(int result, const FaxResult& record, const std::string& file) {
  const std::string remote = Utf16ToUtf8(record.RemoteId());
  if (result == -2) {
    std::printf("Cancelled while waiting for a call\n");
    return;
  }
  const char* outcome = result == 0 ? "Received" : result == 1 ? "Partly received" : "Not received";
  std::printf("%s: %u page(s)", outcome, record.pagesTransferred);
  if (record.pagesTransferred != 0) std::printf(" in %s", file.c_str());
  if (!remote.empty()) std::printf(" from \"%s\"", remote.c_str());
  std::printf("\n");
}

}  // namespace

int RunReceive(int argc, char** argv) {
  CallOptions options;
  std::string file;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    std::string error;
    if (arg == "--out") {
      if (i + 1 >= argc) return ReceiveUsage("--out needs a file name");
      file = argv[++i];
    } else if (!TakeCallOption(argc, argv, i, options, error)) {
      return ReceiveUsage(error.empty() ? "unknown argument " + std::string(arg) : error);
    }
  }
  if (options.device.empty() || file.empty()) return ReceiveUsage("");

  JobControl job;
  FaxKernel kernel;
  TerminalStatus terminal(job);
  job.StartJob(kReceiveJob);
  int result = -1;
  FaxResult record;
  if (OpenKernel(kernel, job, options)) {
    WriteJobStartLine(kernel.CommLog(), JobDirection::Receive, options.device, LocalTimeNow());
    CancelOnSignal cancel(job);
    result = kernel.WaitRing_NoEvent();
    if (result == 0) result = kernel.ReceiveFax(file, options.localId, 0, &record);
    kernel.ClosePort(0);
  }
  job.EndJob();
  PrintOutcome(result, record, file);
  FlushErrorPool(nullptr, false);
  return ExitCodeOf(result);
}

}  // namespace vexo::cli
