#include "tools/linesim/line_faults.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>
#include <utility>

#include "tools/linesim/audio.h"

namespace vexo::linesim {
namespace {

constexpr std::int64_t kOpen = std::numeric_limits<std::int64_t>::max();
constexpr double kSamplesPerV21Bit = kSampleRate / 300.0;
// How far back a frame fault reaches: the start of a preamble is known after
// three flags and the demodulator's lag, a frame's start after its first octet.
constexpr std::size_t kLookbackSamples = 960;  // 120 ms, 36 bits of V.21
// A silenced frame keeps the flag before the next frame: its silence ends a
// bit early, and a burst's silence starts an octet before its first flag.
constexpr std::int64_t kSilenceMargin = static_cast<std::int64_t>(8 * kSamplesPerV21Bit);
// A damaged frame keeps its address octet, then 24 bits become zeros (a
// steady space tone), which no frame check sequence survives.
constexpr std::int64_t kToneOffset = static_cast<std::int64_t>(8 * kSamplesPerV21Bit);
constexpr std::int64_t kToneLength = static_cast<std::int64_t>(24 * kSamplesPerV21Bit);
// Page noise leaves the page's training alone (V.17 long training is 1.4 s),
// then lasts until the page's carrier goes off. The receiver decodes few rows
// after it starts, many of them broken, and its RTC is lost too: the page ends
// when the carrier does. (Shorter bursts leave a light page with too few bad
// rows, against all its good ones, for spandsp to refuse it.)
constexpr std::int64_t kPageTrainingSamples = 3 * kSampleRate / 2;
// The last 100 ms before the carrier goes off stay clean, so that the page's
// RTC comes through: the direction's delay gives the time to know the end.
constexpr std::int64_t kPageCleanTailSamples = kSampleRate / 10;
static_assert(kPageCleanTailSamples + kBlockSamples <= kLookbackSamples);
// The damaging tone's amplitude: about -14 dBm0, the level of spandsp's modems.
constexpr double kToneAmplitude = 4500;
// The level of spandsp's modems, to which page noise is set.
constexpr float kSignalLevelDbm0 = -14.0f;
constexpr int kNoiseSeed = 7654321;
// Mean power of a block that carries a signal (about -40 dBm0).
constexpr double kSignalPower = 200.0 * 200.0;

constexpr std::uint8_t kFinalBit = 0x01;

const char* SenderName(LineFaults::Sender sender) {
  return sender == LineFaults::kFar ? "far" : "modem";
}

bool Targets(const std::vector<int>& frames, int frame) {
  return std::find(frames.begin(), frames.end(), frame) != frames.end();
}

bool CarriesSignal(std::span<const std::int16_t> block) {
  double power = 0;
  for (const auto sample : block) power += static_cast<double>(sample) * sample;
  return power / static_cast<double>(block.size()) >= kSignalPower;
}

// The answers after which the side that sent a page (or was trained) sends page data.
bool ConfirmsPage(std::uint8_t fcf) {
  return fcf == T30_CFR || fcf == T30_MCF || fcf == T30_RTP || fcf == T30_RTN;
}

}  // namespace

LineFaults::LineFaults(const FaultOptions& options, bool verbose)
    : m_options(options), m_verbose(verbose) {
  if (m_options.noisePage > 0) {
    const auto level = kSignalLevelDbm0 - static_cast<float>(m_options.noisePageSnrDb);
    m_noise = awgn_init_dbm0(nullptr, kNoiseSeed, level);
  }
  StartLanes();
}

LineFaults::~LineFaults() {
  if (m_noise != nullptr) awgn_free(m_noise);
}

void LineFaults::StartLanes() {
  for (int i = 0; i < 2; ++i) {
    Lane& lane = m_lanes[i];
    lane = Lane{};
    if (m_options.framesOf(i) || m_options.noisePage > 0) {
      lane.tracker = std::make_unique<V21FrameTracker>();
      lane.delay.assign(kLookbackSamples, 0);
    }
    lane.random.seed(m_options.lossSeed * 2 + static_cast<unsigned>(i));
  }
}

void LineFaults::Reset() {
  StartLanes();
  m_pages = 0;
  m_fired.clear();
}

std::vector<std::string> LineFaults::Fired() const {
  std::vector<std::string> fired = m_fired;
  const int lost = m_lanes[0].blocksLost + m_lanes[1].blocksLost;
  if (lost > 0)
    fired.push_back("loss " + std::to_string(lost) + (lost == 1 ? " block" : " blocks"));
  return fired;
}

void LineFaults::Note(std::string what) {
  if (m_verbose) std::fprintf(stderr, "linesim fault: %s\n", what.c_str());
  m_fired.push_back(std::move(what));
}

void LineFaults::Process(std::span<std::int16_t> block, Sender sender) {
  Lane& lane = m_lanes[sender];
  const std::int64_t first = lane.fed;
  lane.fed += static_cast<std::int64_t>(block.size());
  if (lane.tracker) Track(lane, sender, block);
  WatchPages(lane, block);
  std::int64_t out = first;
  if (!lane.delay.empty()) {
    for (auto& sample : block) {
      std::swap(sample, lane.delay[lane.delayNext]);
      lane.delayNext = (lane.delayNext + 1) % lane.delay.size();
    }
    out -= static_cast<std::int64_t>(lane.delay.size());
  }
  Damage(lane, block, out);
  Drop(lane, block);
}

void LineFaults::Track(Lane& lane, Sender sender, std::span<const std::int16_t> block) {
  for (const auto& event : lane.tracker->Feed(block, lane.fed - std::ssize(block)))
    OnFrameEvent(lane, sender, event);
}

FrameFate LineFaults::OnDataFrame(Sender sender) {
  const int number = ++m_lanes[sender].framesSent;
  const bool lost = Targets(m_options.loseFrames[sender], number);
  if (!lost && !Targets(m_options.corruptFrames[sender], number)) return FrameFate::kPass;
  Note(std::string(lost ? "lose " : "corrupt ") + SenderName(sender) + ":" +
       std::to_string(number));
  return lost ? FrameFate::kLose : FrameFate::kCorrupt;
}

void LineFaults::OnFrameEvent(Lane& lane, Sender sender, const FrameEvent& event) {
  const auto& lose = m_options.loseFrames[sender];
  const auto& corrupt = m_options.corruptFrames[sender];
  const int next = lane.framesSent + 1;
  switch (event.kind) {
    case FrameEvent::Kind::kBurst:
      // A V.21 transmission where page data was awaited: not a page after all.
      if (std::exchange(lane.inPage, false)) {
        if (lane.pageSpan >= 0) {
          lane.spans[static_cast<std::size_t>(std::exchange(lane.pageSpan, -1))].end = event.sample;
          std::erase(m_fired, "noise page " + std::to_string(m_pages));
        }
        --m_pages;
      }
      // The frame to lose opens this transmission: its preamble goes too.
      if (Targets(lose, next) && lane.openSilence < 0) {
        lane.openSilence = static_cast<int>(lane.spans.size());
        lane.spans.push_back({event.sample - kSilenceMargin, kOpen, Damage::kSilence});
      }
      break;
    case FrameEvent::Kind::kFrameStart:
      lane.frameNumber = next;
      lane.frameDamaged = Targets(lose, next) || Targets(corrupt, next);
      if (Targets(lose, next) && lane.openSilence < 0) {
        lane.openSilence = static_cast<int>(lane.spans.size());
        lane.spans.push_back({event.sample, kOpen, Damage::kSilence});
      } else if (Targets(corrupt, next) && !Targets(lose, next)) {
        const std::int64_t begin = event.sample + kToneOffset;
        lane.spans.push_back({begin, begin + kToneLength, Damage::kTone});
      }
      break;
    case FrameEvent::Kind::kFrameEnd:
      OnFrameEnd(lane, sender, event);
      break;
    case FrameEvent::Kind::kIdle:
      if (lane.openSilence >= 0)
        lane.spans[static_cast<std::size_t>(std::exchange(lane.openSilence, -1))].end =
            event.sample;
      lane.frameNumber = 0;
      break;
  }
}

void LineFaults::OnFrameEnd(Lane& lane, Sender sender, const FrameEvent& event) {
  if (lane.openSilence >= 0 && lane.frameNumber > 0)
    lane.spans[static_cast<std::size_t>(std::exchange(lane.openSilence, -1))].end =
        event.sample - kSilenceMargin / 8;
  const int number = std::exchange(lane.frameNumber, 0);
  const bool damaged = std::exchange(lane.frameDamaged, false);
  if (!event.good || number == 0) return;  // not a frame: the tracker lost its way
  lane.framesSent = number;
  const auto fcf = static_cast<std::uint8_t>(event.frame[2] & ~kFinalBit);
  if (damaged) {
    const bool lost = Targets(m_options.loseFrames[sender], number);
    if (m_verbose)
      std::fprintf(stderr, "linesim fault: frame %d from %s, FCF %02X\n", number,
                   SenderName(sender), fcf);
    Note(std::string(lost ? "lose " : "corrupt ") + SenderName(sender) + ":" +
         std::to_string(number));
    return;  // the other side never had it
  }
  // Page data follows a confirmation heard by the side that sends pages.
  lane.expectPage = false;
  if (ConfirmsPage(fcf)) m_lanes[1 - sender].expectPage = true;
}

void LineFaults::WatchPages(Lane& lane, std::span<const std::int16_t> block) {
  const bool signal = CarriesSignal(block);
  const std::int64_t first = lane.fed - std::ssize(block);
  if (signal && !lane.signal && lane.expectPage) {
    lane.expectPage = false;
    lane.inPage = true;
    if (++m_pages == m_options.noisePage) {
      lane.pageSpan = static_cast<int>(lane.spans.size());
      lane.spans.push_back({first + kPageTrainingSamples, kOpen, Damage::kNoise});
      Note("noise page " + std::to_string(m_pages));
    }
  } else if (!signal && lane.signal && lane.pageSpan >= 0) {
    Span& noise = lane.spans[static_cast<std::size_t>(std::exchange(lane.pageSpan, -1))];
    noise.end = std::max(noise.begin, first - kPageCleanTailSamples);
  }
  if (!signal) lane.inPage = false;
  lane.signal = signal;
}

void LineFaults::Damage(Lane& lane, std::span<std::int16_t> block, std::int64_t first) {
  if (lane.spans.empty()) return;
  const bool signal = CarriesSignal(block);
  const double step = 2 * std::numbers::pi * preset_fsk_specs[FSK_V21CH2].freq_zero / kSampleRate;
  for (std::size_t i = 0; i < block.size(); ++i) {
    const std::int64_t at = first + static_cast<std::int64_t>(i);
    for (const auto& span : lane.spans) {
      if (at < span.begin || at >= span.end) continue;
      if (span.damage == Damage::kSilence) {
        block[i] = 0;
      } else if (span.damage == Damage::kTone) {
        lane.tonePhase += step;
        block[i] = static_cast<std::int16_t>(kToneAmplitude * std::sin(lane.tonePhase));
      } else if (signal && m_noise != nullptr) {
        block[i] = static_cast<std::int16_t>(std::clamp(block[i] + awgn(m_noise), -32768, 32767));
      }
      break;
    }
  }
  // Spans wholly delivered are done with; open ones stay.
  const std::int64_t done = first + std::ssize(block);
  std::erase_if(lane.spans, [&](const Span& span) { return span.end <= done; });
  lane.openSilence = -1;
  lane.pageSpan = -1;
  for (std::size_t i = 0; i < lane.spans.size(); ++i) {
    if (lane.spans[i].end != kOpen) continue;
    if (lane.spans[i].damage == Damage::kSilence) lane.openSilence = static_cast<int>(i);
    if (lane.spans[i].damage == Damage::kNoise) lane.pageSpan = static_cast<int>(i);
  }
}

void LineFaults::Drop(Lane& lane, std::span<std::int16_t> block) {
  if (m_options.lossPercent <= 0) return;
  std::bernoulli_distribution lost(m_options.lossPercent / 100.0);
  if (!lost(lane.random)) return;
  std::fill(block.begin(), block.end(), std::int16_t{0});
  ++lane.blocksLost;
}

}  // namespace vexo::linesim
