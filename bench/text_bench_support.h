// Shared pieces of the document benchmarks: the input files made once per run
// (a text of 100 pages as the text renderer lays it out, and a 20-page 300-dpi
// Group 4 TIFF made from rendered pages), a shell runner for the peer
// programs, page counting with libtiff, and the pages-per-second counter.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace vexo::bench {

constexpr std::uint32_t kTextPages = 100;
constexpr std::uint32_t kImagePages = 20;
constexpr std::uint32_t kImageDpi = 300;
constexpr std::uint32_t kImageWidth = 2480;  // A4 at 300 dpi
constexpr std::uint32_t kImageLength = 3508;

struct BenchFiles {
  std::filesystem::path dir;
  std::filesystem::path text;   // renders to kTextPages pages
  std::filesystem::path image;  // kImagePages pages, 300 dpi, Group 4
};

// Made on first use in a temporary directory removed at exit.
const BenchFiles& Files();
std::filesystem::path Scratch(const std::string& name);

// Runs a shell command with its output dropped; true on exit status 0.
bool Shell(const std::string& command);
bool HasProgram(const char* name);
// Directories of a TIFF file (0 when it cannot be opened).
std::uint32_t CountPages(const std::filesystem::path& tif);

// Reports pages per second of real time for the pages one iteration made.
void SetPageRate(benchmark::State& state, std::uint32_t pages);

}  // namespace vexo::bench
