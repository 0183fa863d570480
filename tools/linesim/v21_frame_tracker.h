// Finds T.30 control frames (V.21 channel 2 HDLC) in one direction's audio as
// they begin, not only once they are complete: a bit-level HDLC tracker (flags
// 0x7E, zero-bit unstuffing, aborts) behind spandsp's FSK receiver. The line's
// frame faults use it to damage a frame whose audio is still on its way.
// Positions are sample numbers of the audio fed in, counted from the start of
// the call.
#pragma once

#include <spandsp.h>

#include <cstdint>
#include <span>
#include <vector>

namespace vexo::linesim {

struct FrameEvent {
  enum class Kind {
    kBurst,       // a run of preamble flags began at sample
    kFrameStart,  // the first bit after the opening flag was at sample
    kFrameEnd,    // the closing flag began at sample; frame holds the octets
    kIdle,        // the carrier or the framing was lost at sample
  };
  Kind kind = Kind::kIdle;
  std::int64_t sample = 0;
  std::vector<std::uint8_t> frame;  // address, control, FCF, FIF, FCS (kFrameEnd)
  bool good = false;                // kFrameEnd: whole octets and a correct FCS
};

class V21FrameTracker {
 public:
  V21FrameTracker();
  ~V21FrameTracker();
  V21FrameTracker(const V21FrameTracker&) = delete;
  V21FrameTracker& operator=(const V21FrameTracker&) = delete;

  // Feeds one block whose first sample has number first; returns what began
  // or ended in it, in order.
  std::vector<FrameEvent> Feed(std::span<const std::int16_t> block, std::int64_t first);

 private:
  enum class State { kHunt, kFlags, kFrame };
  static void PutBit(void* self, int bit);
  void OnBit(int bit);
  void OnFlag();
  void OnDataBit(int bit);
  void Lose();
  std::int64_t BitsBack(int bits) const;

  fsk_rx_state_t* m_fsk = nullptr;
  std::vector<FrameEvent> m_events;
  std::int64_t m_now = 0;  // sample at which the current bit was demodulated
  State m_state = State::kHunt;
  int m_ones = 0;            // consecutive one bits on the line
  int m_flagRun = 0;         // flags seen since hunting
  bool m_inBurst = false;    // enough flags seen to trust what follows
  bool m_afterGood = false;  // the last frame of this burst was good
  std::int64_t m_firstFlag = 0;
  std::int64_t m_dataStart = 0;
  std::vector<std::uint8_t> m_bits;  // unstuffed bits since the last flag
};

}  // namespace vexo::linesim
