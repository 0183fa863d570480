// The hostile line: faults staged on the audio of a call, each direction on
// its own. Frame faults damage (--corrupt-frame) or silence (--lose-frame) the
// Nth V.21 control frame a side sends (ECM frames inside high-speed data are
// counted with them through OnDataFrame and damaged by HdlcStreamFaults);
// page noise (--page-noise) drowns the image data of one page after its
// training; loss (--loss) drops 20 ms blocks at random, as a VoIP line
// without concealment does. With frame faults or page noise, a direction is
// delayed by a little over a preamble's three flags, so that a frame is
// recognised before its audio is delivered and a page's end before its last
// 100 ms (kept clean for its RTC). Faults fire again in every call; Fired()
// names what fired for the call report.
#pragma once

#include <spandsp.h>

#include <cstdint>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "tools/linesim/hdlc_stream_faults.h"
#include "tools/linesim/options.h"
#include "tools/linesim/v21_frame_tracker.h"

namespace vexo::linesim {

class LineFaults {
 public:
  // Who sends the audio of a direction.
  enum Sender { kFar = 0, kModem = 1 };

  LineFaults(const FaultOptions& options, bool verbose);
  ~LineFaults();
  LineFaults(const LineFaults&) = delete;
  LineFaults& operator=(const LineFaults&) = delete;

  // Passes one block that sender put on the line through the faults.
  void Process(std::span<std::int16_t> block, Sender sender);
  // Counts a good HDLC frame that sender sent inside high-speed data (ECM),
  // numbered with its V.21 frames, and says what happens to it.
  FrameFate OnDataFrame(Sender sender);
  // What fired in this call, in order: "corrupt far:1", "lose modem:4",
  // "noise page 2", "loss 12 blocks".
  std::vector<std::string> Fired() const;
  // Ends the call: frame and page counts start again with the next one.
  void Reset();

 private:
  enum class Damage { kSilence, kTone, kNoise };
  struct Span {
    std::int64_t begin = 0;
    std::int64_t end = 0;  // exclusive; kOpen until known
    Damage damage = Damage::kSilence;
  };
  struct Lane {
    std::unique_ptr<V21FrameTracker> tracker;
    std::vector<std::int16_t> delay;  // ring of samples on their way; empty: no delay
    std::size_t delayNext = 0;
    std::int64_t fed = 0;  // samples taken in so far
    std::vector<Span> spans;
    int framesSent = 0;   // good frames so far
    int frameNumber = 0;  // number of the frame being sent; 0: none
    bool frameDamaged = false;
    int openSilence = -1;     // index of a silence span still open
    bool signal = false;      // the last block carried a signal
    bool expectPage = false;  // the other side confirmed: the next signal is page data
    bool inPage = false;      // page data is being sent (counted in m_pages)
    int pageSpan = -1;        // index of the noise span of the page being sent
    double tonePhase = 0;
    std::mt19937 random;
    int blocksLost = 0;
  };

  void Track(Lane& lane, Sender sender, std::span<const std::int16_t> block);
  void OnFrameEvent(Lane& lane, Sender sender, const FrameEvent& event);
  void OnFrameEnd(Lane& lane, Sender sender, const FrameEvent& event);
  void WatchPages(Lane& lane, std::span<const std::int16_t> block);
  void Damage(Lane& lane, std::span<std::int16_t> block, std::int64_t first);
  void Drop(Lane& lane, std::span<std::int16_t> block);
  void Note(std::string what);
  void StartLanes();

  FaultOptions m_options;
  bool m_verbose;
  Lane m_lanes[2];
  awgn_state_t* m_noise = nullptr;
  int m_pages = 0;  // page data bursts of the call so far
  std::vector<std::string> m_fired;
};

}  // namespace vexo::linesim
