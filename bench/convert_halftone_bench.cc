// Bytes of the photographic pages of the picture import: the clustered-dot
// screen the importer uses against the Floyd-Steinberg error diffusion it used
// before, on the same grey pages scaled to fine fax pages and coded the same
// way (MH, one page each). Fewer bytes are a shorter call. The counters give
// both sizes and ratio = screen / diffusion; the time is not the figure here.
#include <array>
#include <string>
#include <vector>

#include "bench/text_bench_support.h"
#include "document/convert_options.h"
#include "document/dither.h"
#include "document/image_import.h"
#include "document/tif2tif.h"

namespace vexo::bench {
namespace {

// Photographs and tones from ImageMagick's built-in pictures, made grey.
constexpr std::array kPhotoPages = {"rose: -resize 1728x", "wizard: -resize 1728x",
                                    "logo: -resize 1728x", "-size 1728x1100 gradient:white-black",
                                    "-size 1728x1100 xc:gray50"};

// Floyd-Steinberg error diffusion as the importer had it: the reference.
class DiffusionReference {
 public:
  explicit DiffusionReference(std::uint32_t width) : m_error(width + 2), m_next(width + 2) {}
  void Row(const std::uint8_t* grey, std::uint8_t* fax) {
    const std::size_t width = m_error.size() - 2;
    std::fill(fax, fax + (width + 7) / 8, 0);
    std::fill(m_next.begin(), m_next.end(), 0);
    for (std::size_t x = 0; x < width; ++x) {
      const int value = grey[x] + m_error[x + 1];
      const int out = value < kGreyThreshold ? 0 : 255;
      if (out == 0) fax[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
      const int error = value - out;
      m_error[x + 2] += error * 7 / 16;
      m_next[x] += error * 3 / 16;
      m_next[x + 1] += error * 5 / 16;
      m_next[x + 2] += error / 16;
    }
    std::swap(m_error, m_next);
  }

 private:
  std::vector<int> m_error, m_next;
};

// Writes picture (grey) as fine fax pages through dither; the file's size.
template <typename Dither>
std::uintmax_t CodedBytes(const GreyImage& picture, Dither& dither, const std::string& file) {
  Tif2Tif paper;
  ConfigureTif2Tif(paper, ConvertOptions{});
  const FaxPageFormat format = FaxPageFormat::Of(paper.Layout());
  const std::uint32_t rows =
      static_cast<std::uint32_t>(std::uint64_t{picture.height} * format.width * format.resolution /
                                 (std::uint64_t{picture.width} * format.xResolution));
  const GreyScaler scaler(picture.width, picture.height, format.width, rows);
  FaxOutputFile out;
  if (out.Open(file, CreateMode::Replace) != 1) return 0;
  FaxPageWriter writer(out.Tiff(), nullptr);
  std::vector<std::uint8_t> grey(format.width), fax((format.width + 7) / 8);
  {
    FaxPageSplitter splitter(writer, format, rows);
    for (std::uint32_t y = 0; y < rows; ++y) {
      std::vector<const std::uint8_t*> source;
      for (std::uint32_t r = scaler.FirstSourceRow(y); r < scaler.LastSourceRow(y); ++r)
        source.push_back(picture.pixels.data() + std::size_t{r} * picture.width);
      scaler.ScaleRows(source, grey.data());
      dither.Row(grey.data(), fax.data());
      if (!splitter.Row(fax.data())) return 0;
    }
    if (!splitter.Finish()) return 0;
  }
  out.AddPages(writer.PagesWritten());
  out.Close();
  return std::filesystem::file_size(file);
}

void BM_HalftoneBytes(benchmark::State& state) {
  if (!HasProgram("convert")) {
    state.SkipWithError("ImageMagick convert missing: run bench/setup");
    for (auto _ : state) {
    }
    return;
  }
  std::uintmax_t screen = 0, diffusion = 0;
  for (auto _ : state) {
    screen = diffusion = 0;
    for (std::size_t i = 0; i < kPhotoPages.size(); ++i) {
      const std::string png = Scratch("photo" + std::to_string(i) + ".png").string();
      if (!Shell(std::string("convert ") + kPhotoPages[i] + " -colorspace Gray '" + png + "'")) {
        state.SkipWithError("convert failed");
        return;
      }
      const std::optional<GreyImage> picture = ReadGreyImage(png);
      if (!picture) {
        state.SkipWithError("picture unreadable");
        return;
      }
      Ditherer ours(kFaxPageWidth, GreyKind::Photo);
      DiffusionReference before(kFaxPageWidth);
      screen += CodedBytes(*picture, ours, png + ".screen.tif");
      diffusion += CodedBytes(*picture, before, png + ".diffusion.tif");
    }
  }
  state.counters["screen_bytes"] = static_cast<double>(screen);
  state.counters["diffusion_bytes"] = static_cast<double>(diffusion);
  state.counters["ratio"] = diffusion == 0 ? 0 : static_cast<double>(screen) / diffusion;
}

BENCHMARK(BM_HalftoneBytes)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vexo::bench
