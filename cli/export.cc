// vexo export FILE.tif -o OUT.pdf | --png DIR: writes every page of a fax TIFF
// file as one PDF (each page a Group 4 image at its physical size, so normal
// and fine pages both come out as A4) or as DIR/page-001.png, page-002.png, ...
#include <cstdio>
#include <string>
#include <vector>

#include "base/error_pool.h"
#include "cli/arg_parser.h"
#include "document/pdf_export.h"

namespace vexo::cli {
namespace {

void PrintPool() {
  ErrorRecord record;
  while (ErrorPool::Instance().TakeOldest(record) > 0)
    std::fprintf(stderr, "vexo export: %s\n", record.message.c_str());
}

}  // namespace

int RunExport(int argc, char** argv) {
  std::string file, pdf, pngDir;
  CLI::App cli{
      "Write the pages of a fax TIFF file as one PDF, or as DIR/page-001.png, "
      "page-002.png, ..."};
  cli.add_option("FILE.tif", file, "the fax TIFF file")->required();
  CLI::Option* pdfOption = cli.add_option("-o", pdf, "the PDF file to write")->type_name("OUT.pdf");
  CLI::Option* pngOption =
      cli.add_option("--png", pngDir, "the directory of the PNG images")->type_name("DIR");
  pdfOption->excludes(pngOption);
  if (const auto code = ParseCommand(cli, argc, argv)) return *code;
  if (pdf.empty() && pngDir.empty()) {
    std::fputs("vexo export: give -o OUT.pdf or --png DIR\n", stderr);
    return kUsageExitCode;
  }
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
