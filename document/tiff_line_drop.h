// Turns the coded data of a fine Group 3 (one-dimensional) page into a normal
// resolution page on the fly by passing on every second coded line. TiffOper's
// ReadFAXData feeds it the page's stored bytes chunk by chunk; it keeps its
// state between chunks, so lines may span any number of chunks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexo {

// Number of consecutive EOLs that form a return to control (end of page).
constexpr int kRtcEols = 6;

class LineDropper {
 public:
  // lsbFirst: stored bytes are least significant bit first (FillOrder 2).
  void Reset(bool lsbFirst);

  struct Result {
    std::size_t consumed = 0;  // input bytes used
    std::size_t produced = 0;  // output bytes written
  };
  // Feeds input; stops when the output could overflow (every byte may need up to
  // two zero bytes ahead of it) or at the end of a return to control.
  Result Feed(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t outSize);
  // True once a return to control has been passed on: the page's data ends there.
  bool AtEnd() const { return m_rtcSeen; }

 private:
  bool m_lsbFirst = false;
  bool m_firstEolPassed = false;
  bool m_keepNext = true;     // fate of the next ordinary segment
  bool m_segmentKept = true;  // fate of the segment being passed
  int m_zeroCarry = 0;        // zero bits that ended the previous byte
  int m_eolRun = 0;           // consecutive EOLs
  bool m_rtcSeen = false;
};

}  // namespace vexo
