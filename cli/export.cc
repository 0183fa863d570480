// vexo export FILE.tif -o OUT.pdf | --png DIR: writes every page of a fax TIFF
// file as one PDF (each page a Group 4 image at its physical size, so normal
// and fine pages both come out as A4) or as DIR/page-001.png, page-002.png, ...
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/error_pool.h"
#include "document/pdf_export.h"

namespace vexo::cli {
namespace {

int ExportUsage() {
  std::fputs("usage: vexo export FILE.tif -o OUT.pdf\n       vexo export FILE.tif --png DIR\n",
             stderr);
  return 2;
}

void PrintPool() {
  ErrorRecord record;
  while (ErrorPool::Instance().TakeOldest(record) > 0)
    std::fprintf(stderr, "vexo export: %s\n", record.message.c_str());
}

}  // namespace

int RunExport(int argc, char** argv) {
  std::string file, pdf, pngDir;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-o" && i + 1 < argc)
      pdf = argv[++i];
    else if (arg == "--png" && i + 1 < argc)
      pngDir = argv[++i];
    else if (!arg.starts_with("-") && file.empty())
      file = arg;
    else
      return ExportUsage();
  }
  if (file.empty() || pdf.empty() == pngDir.empty()) return ExportUsage();
  if (!pdf.empty()) {
    std::uint32_t pages = 0;
    if (ExportFaxToPdf(file, pdf, &pages) != 1) {
      PrintPool();
      return 1;
    }
    std::printf("%s: %u page%s\n", pdf.c_str(), pages, pages == 1 ? "" : "s");
    return 0;
  }
  std::vector<std::string> files;
  const int result = ExportFaxToPng(file, pngDir, &files);
  for (const std::string& png : files) std::printf("%s\n", png.c_str());
  PrintPool();
  return result == 1 ? 0 : 1;
}

}  // namespace vexo::cli
