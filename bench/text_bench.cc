// Rendering a 100-page text file into fax pages with Txt2Tif, against the usual
// Unix pipeline `enscript | gs -sDEVICE=tiffg3` measured in the same run, and
// the main of the document benchmarks: after the table it prints pages per
// second of each and the ratio of ours to the peer's (above 1: ours is faster).
// The peers come from bench/setup; a missing peer skips its benchmark.
#include <stdlib.h>
#include <tiffio.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <vector>

#include "bench/text_bench_support.h"
#include "document/convert_options.h"
#include "document/txt2tif.h"

namespace vexo::bench {
namespace {

constexpr const char* kPagesPerSecond = "pages/s";

struct TempDirectory {
  std::filesystem::path path;
  ~TempDirectory() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
};

// Lines that fill one page with the send job's default text settings.
int LinesPerPage(const Txt2Tif& renderer) {
  const PaperLayout& l = renderer.Layout();
  const int lineHeight = renderer.LineHeight();
  const int fontHeight = renderer.Metrics().tmHeight;
  int n = 1;
  while (l.Height() - l.Bottom() > l.Top() + n * lineHeight + fontHeight - 1) ++n;
  return n;
}

void WriteText(const std::filesystem::path& file, int lines) {
  static constexpr const char* kWords[] = {
      "fax",          "page",       "text",   "line",    "modem",  "image",
      "group",        "three",      "coding", "header",  "sender", "receiver",
      "document",     "resolution", "the",    "of",      "and",    "to",
      "transmission", "call",       "number", "station", "(T.30)", "2026-12-06"};
  std::mt19937 random(7);
  std::ofstream out(file, std::ios::binary);
  for (int i = 0; i < lines; ++i) {
    std::string line;
    while (line.size() < 70) line += std::string(kWords[random() % std::size(kWords)]) + " ";
    out << line << (i % 9 == 8 ? "\n\n" : "\n");
    if (i % 9 == 8) ++i;
  }
}

// Decodes every fax page of `fax` and writes it scaled up to A4 at 300 dpi as
// a Group 4 TIFF (nearest pixel), the kind of file a scanner delivers.
bool WriteScannedImage(const std::filesystem::path& fax, const std::filesystem::path& image) {
  TIFF* in = TIFFOpen(fax.c_str(), "r");
  TIFF* out = TIFFOpen(image.c_str(), "w");
  bool ok = in != nullptr && out != nullptr;
  std::vector<std::uint8_t> source(216), row((kImageWidth + 7) / 8);
  for (std::uint32_t page = 0; ok && page < kImagePages; ++page) {
    std::uint32_t length = 0;
    ok = TIFFSetDirectory(in, static_cast<tdir_t>(page)) == 1 &&
         TIFFGetField(in, TIFFTAG_IMAGELENGTH, &length) == 1;
    if (!ok) break;
    TIFFSetField(out, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, kImageWidth);
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, kImageLength);
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, kImageLength);
    TIFFSetField(out, TIFFTAG_XRESOLUTION, static_cast<float>(kImageDpi));
    TIFFSetField(out, TIFFTAG_YRESOLUTION, static_cast<float>(kImageDpi));
    TIFFSetField(out, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    std::int64_t have = -1;  // source rows are read in order, each once
    for (std::uint32_t y = 0; ok && y < kImageLength; ++y) {
      const std::int64_t want = std::int64_t{y} * length / kImageLength;
      while (ok && have < want)
        ok = TIFFReadScanline(in, source.data(), static_cast<std::uint32_t>(++have), 0) == 1;
      std::fill(row.begin(), row.end(), 0);
      for (std::uint32_t x = 0; x < kImageWidth; ++x) {
        const std::uint32_t sx = x * 1728 / kImageWidth;
        if (source[sx / 8] & (0x80 >> (sx % 8)))
          row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
      }
      ok = ok && TIFFWriteScanline(out, row.data(), y, 0) == 1;
    }
    ok = ok && TIFFWriteDirectory(out) == 1;
  }
  if (in != nullptr) TIFFClose(in);
  if (out != nullptr) TIFFClose(out);
  return ok;
}

BenchFiles MakeFiles(TempDirectory& temp) {
  char pattern[] = "/tmp/vexo-document-bench-XXXXXX";
  temp.path = mkdtemp(pattern);
  BenchFiles files;
  files.dir = temp.path;
  files.text = temp.path / "text.txt";
  files.image = temp.path / "scanned-g4.tif";
  Txt2Tif renderer;
  renderer.Initialize();
  ConfigureTxt2Tif(renderer, ConvertOptions{});
  WriteText(files.text, LinesPerPage(renderer) * static_cast<int>(kTextPages));
  // The scanned image: the text's first pages at 300 dpi.
  const auto fax = temp.path / "rendered.tif";
  FaxOutputFile out;
  std::uint32_t pages = 0;
  if (out.Open(fax.string()) == 1 &&
      renderer.Text2Tiff(files.text.string(), out.Tiff(), false, {}, {}, &pages) == 1) {
    out.AddPages(pages);
    out.Close();
    if (!WriteScannedImage(fax, files.image)) std::fprintf(stderr, "scanned image not written\n");
  }
  return files;
}

void BM_RenderText(benchmark::State& state) {
  const BenchFiles& files = Files();
  Txt2Tif renderer;
  renderer.Initialize();
  ConfigureTxt2Tif(renderer, ConvertOptions{});
  std::uint32_t pages = 0;
  for (auto _ : state) {
    FaxOutputFile out;
    if (out.Open(Scratch("ours.tif").string(), CreateMode::Replace) != 1 ||
        renderer.Text2Tiff(files.text.string(), out.Tiff(), false, {}, {}, &pages) != 1) {
      state.SkipWithError("rendering failed");
      break;
    }
    out.AddPages(pages);
    out.Close();
  }
  SetPageRate(state, pages);
}

void BM_RenderPeer(benchmark::State& state) {
  if (!HasProgram("enscript") || !HasProgram("gs")) {
    state.SkipWithError("enscript or gs missing: run bench/setup");
    for (auto _ : state) {
    }
    return;
  }
  const auto out = Scratch("peer.tif");
  const std::string command = "enscript -B -q -p - '" + Files().text.string() +
                              "' | gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=tiffg3 -r204x196 "
                              "-sOutputFile='" +
                              out.string() + "' -";
  for (auto _ : state)
    if (!Shell(command)) state.SkipWithError("peer failed");
  SetPageRate(state, CountPages(out));
}

BENCHMARK(BM_RenderText)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderPeer)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

// Prints the usual table, then ours against each peer.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Plain text: the report is kept in bench/RESULTS.md.
  RatioReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const auto it = run.counters.find(kPagesPerSecond);
      if (!run.error_occurred && it != run.counters.end())
        m_rates[run.benchmark_name()] = it->second.value;
      if (!run.error_occurred && run.counters.count("ratio") != 0) m_halftone = run.counters;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatio(const char* what, const std::string& ours, const std::string& peer,
                  const char* peerName) const {
    const auto a = Find(ours), b = Find(peer);
    if (a <= 0) {
      std::printf("%s: not measured\n", what);
    } else if (b <= 0) {
      std::printf("%s: vexo %.1f pages/s; %s not measured (run bench/setup)\n", what, a, peerName);
    } else {
      std::printf("%s: vexo %.1f pages/s, %s %.1f pages/s, ratio %.2f\n", what, a, peerName, b,
                  a / b);
    }
  }
  // The halftone benchmark's coded bytes, screen against error diffusion.
  void PrintHalftone() const {
    if (m_halftone.empty()) {
      std::printf("halftone bytes: not measured\n");
      return;
    }
    std::printf(
        "halftone bytes, 5 photo pages fine MH: screen %.0f, error diffusion %.0f, "
        "ratio %.2f\n",
        m_halftone.at("screen_bytes").value, m_halftone.at("diffusion_bytes").value,
        m_halftone.at("ratio").value);
  }

 private:
  double Find(const std::string& prefix) const {
    for (const auto& [name, rate] : m_rates)
      if (name.rfind(prefix, 0) == 0) return rate;
    return 0;
  }
  std::map<std::string, double> m_rates;
  benchmark::UserCounters m_halftone;
};

}  // namespace

std::filesystem::path Scratch(const std::string& name) { return Files().dir / name; }

const BenchFiles& Files() {
  static TempDirectory temp;
  static const BenchFiles files = MakeFiles(temp);
  return files;
}

bool Shell(const std::string& command) {
  return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0;
}

bool HasProgram(const char* name) { return Shell(std::string("command -v ") + name); }

std::uint32_t CountPages(const std::filesystem::path& tif) {
  TIFF* t = TIFFOpen(tif.c_str(), "r");
  if (t == nullptr) return 0;
  const auto n = static_cast<std::uint32_t>(TIFFNumberOfDirectories(t));
  TIFFClose(t);
  return n;
}

void SetPageRate(benchmark::State& state, std::uint32_t pages) {
  state.counters["pages"] = pages;
  state.counters[kPagesPerSecond] =
      benchmark::Counter(pages, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace vexo::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  vexo::bench::Files();  // inputs are made before anything is timed
  vexo::bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\npages per second, same run (ratio = vexo / peer):\n");
  reporter.PrintRatio("text, 100 pages", "BM_RenderText", "BM_RenderPeer", "enscript | gs tiffg3");
  reporter.PrintRatio("TIFF, 20 pages 300 dpi G4 -> fine G3", "BM_ConvertImage", "BM_ConvertPeer",
                      "convert -resize -compress Fax");
  reporter.PrintRatio("PDF, 20 A4 pages -> fine G3", "BM_ImportPdf", "BM_ImportPdfPeer",
                      "gs tiffg3");
  reporter.PrintHalftone();
  benchmark::Shutdown();
  return 0;
}
