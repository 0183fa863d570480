// Importing a 20-page A4 PDF (text pages, every fifth one with a grey
// photograph) into fine fax pages with PdfImport, against ghostscript's tiffg3
// device at the same resolution on the same PDF, measured in the same run.
// text_bench.cc prints the ratio.
#include <fstream>
#include <sstream>
#include <string>

#include "bench/text_bench_support.h"
#include "document/convert_options.h"
#include "document/pdf_import.h"

namespace vexo::bench {
namespace {

constexpr std::uint32_t kPdfPages = 20;

// The PostScript of the benchmark's pages.
std::string BenchPostScript() {
  std::ostringstream ps;
  ps << "%!PS\n<< /PageSize [595 842] >> setpagedevice\n"
        "/ramp 256 string def 0 1 255 { ramp exch dup put } for\n";
  for (std::uint32_t p = 0; p < kPdfPages; ++p) {
    ps << "/Helvetica findfont 11 scalefont setfont\n";
    for (int line = 0; line < 60; ++line)
      ps << "56 " << 790 - line * 12 << " moveto (Page " << p + 1 << " line " << line + 1
         << ": the quick brown fox jumps over the lazy dog 0123456789) show\n";
    if (p % 5 == 0)
      ps << "gsave 100 100 translate 400 300 scale 256 1 8 [256 0 0 1 0 0] { ramp } image "
            "grestore\n";
    ps << "showpage\n";
  }
  return ps.str();
}

// Made once, before anything is timed; empty when ghostscript is missing.
const std::string& BenchPdf() {
  static const std::string pdf = [] {
    const std::string ps = Scratch("bench.ps").string();
    const std::string out = Scratch("bench.pdf").string();
    std::ofstream(ps) << BenchPostScript();
    return Shell("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o '" + out + "' '" + ps + "'")
               ? out
               : std::string();
  }();
  return pdf;
}

void BM_ImportPdf(benchmark::State& state) {
  if (BenchPdf().empty()) {
    state.SkipWithError("ghostscript missing: run bench/setup");
    for (auto _ : state) {
    }
    return;
  }
  PdfImport importer;
  importer.Initialize();
  ConfigurePdfImport(importer, ConvertOptions{});
  std::uint32_t pages = 0;
  for (auto _ : state) {
    FaxOutputFile out;
    if (out.Open(Scratch("imported.tif").string(), CreateMode::Replace) != 1 ||
        importer.Pdf2Tiff(BenchPdf(), out.Tiff(), {}, &pages) != 1) {
      state.SkipWithError("import failed");
      break;
    }
    out.AddPages(pages);
    out.Close();
  }
  SetPageRate(state, pages);
}

void BM_ImportPdfPeer(benchmark::State& state) {
  if (BenchPdf().empty() || !HasProgram("gs")) {
    state.SkipWithError("ghostscript missing: run bench/setup");
    for (auto _ : state) {
    }
    return;
  }
  const std::string out = Scratch("peer-imported.tif").string();
  const std::string command = "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=tiffg3 -r204x196 -o '" +
                              out + "' '" + BenchPdf() + "'";
  for (auto _ : state) {
    if (!Shell(command)) state.SkipWithError("peer failed");
  }
  SetPageRate(state, CountPages(out));
}

BENCHMARK(BM_ImportPdf)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportPdfPeer)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vexo::bench
