// Converting a 20-page 300-dpi Group 4 TIFF (a scanned A4 document) into fine
// fax pages with Tif2Tif in scale mode, against ImageMagick's
// `convert -resize 1728x -compress Fax` measured in the same run. ImageMagick
// takes one page per call: under Debian's resource policy it cannot hold all
// twenty 300-dpi pages at once. text_bench.cc prints the ratio.
#include <string>

#include "bench/text_bench_support.h"
#include "document/tif2tif.h"

namespace vexo::bench {
namespace {

void BM_ConvertImage(benchmark::State& state) {
  Tif2Tif converter;
  converter.Initialize();
  PaperInfo paper;
  paper.id = kPaperA4Fine;
  paper.height = 2870;
  paper.top = 100;
  converter.SetPaper(paper, PAPER_ID | PAPER_HEIGHT | PAPER_TOP);
  converter.SetTransferMode(TRANSFER_SCALE);
  std::uint32_t pages = 0;
  for (auto _ : state) {
    FaxOutputFile out;
    if (out.Open(Scratch("converted.tif").string(), CreateMode::Replace) != 1 ||
        converter.Tiff2Tiff(Files().image.string(), out.Tiff(), {}, {}, &pages) != 1) {
      state.SkipWithError("conversion failed");
      break;
    }
    out.AddPages(pages);
    out.Close();
  }
  SetPageRate(state, pages);
}

void BM_ConvertPeer(benchmark::State& state) {
  if (!HasProgram("convert")) {
    state.SkipWithError("ImageMagick convert missing: run bench/setup");
    for (auto _ : state) {
    }
    return;
  }
  const std::string source = Files().image.string();
  const std::string out = Scratch("peer-converted").string();
  const std::string command = "for i in $(seq 0 " + std::to_string(kImagePages - 1) +
                              "); do convert '" + source +
                              "['$i']' -resize 1728x -threshold 50% "
                              "-density 209 -compress Fax '" +
                              out + "'-$i.tif || exit 1; done";
  std::uint32_t pages = 0;
  for (auto _ : state) {
    if (!Shell(command)) state.SkipWithError("peer failed");
  }
  for (std::uint32_t i = 0; i < kImagePages; ++i)
    pages += CountPages(out + "-" + std::to_string(i) + ".tif");
  SetPageRate(state, pages);
}

BENCHMARK(BM_ConvertImage)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertPeer)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vexo::bench
