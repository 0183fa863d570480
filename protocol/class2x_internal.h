// Constants and small helpers the Class 2 session files share: buffer sizes,
// protocol bytes, the dial failure words, and the bounded wait of a
// phase made of a first read and further reads. Only protocol/class2x_*.cc
// include it.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "modem/fax_comm_func.h"
#include "modem/final_results.h"
#include "protocol/session_names.h"

namespace vexo::class2x {

inline constexpr std::size_t kPageBufferBytes = 8192;
inline constexpr std::size_t kChunkBytes = 4096;
inline constexpr std::size_t kDialNumberBytes = 64;
inline constexpr std::size_t kClass20WriteBytes = 255;
inline constexpr std::size_t kClass2WriteBytes = 4095;
inline constexpr std::uint32_t kSetupPauseMs = 20;
inline constexpr std::uint32_t kWriteMultiplierMs = 10;
inline constexpr std::uint32_t kReceiveIntervalMs = 250;
inline constexpr std::uint32_t kReceiveMultiplierMs = 10;
// A line longer than this in the raw receive stream is cut.
inline constexpr std::size_t kRawLineChars = 256;

inline constexpr std::uint8_t kDc2 = 0x12;
inline constexpr std::uint8_t kMorePages = 0x2C;  // ","
inline constexpr std::uint8_t kLastPage = 0x2E;   // "."

// The post-page status of "+FPS:" / "+FPTS:": the far end's answer to a page.
enum class PostPageStatus : long { kMcf = 1, kRtn = 2, kRtp = 3, kPin = 4, kPip = 5 };

struct DialWord {
  const char* word;
  const char* message;
};
inline constexpr std::array kDialFailures{
    DialWord{ResultWord(FinalResult::NoDialtone), "Dial failure or no dial tone detected."},
    DialWord{ResultWord(FinalResult::NoDialTone), "Dial failure or no dial tone detected."},
    DialWord{ResultWord(FinalResult::Busy),
             "An equipment busy tone is detected on the line and the busy tone 'on' time "
             "exceeds 300 ms."},
    DialWord{ResultWord(FinalResult::NoAnswer), "No answer tone detected."},
    DialWord{ResultWord(FinalResult::NoCarrier),
             "Auto speed failed because no carrier was detected."},
};

// The word anywhere in the line; at its start.
inline bool Has(const char* line, const char* word) {
  return FaxCommFunc::FindToken(line, word) >= 0;
}
inline bool StartsWith(const char* line, const char* word) {
  return FaxCommFunc::FindToken(line, word) == 0;
}

// A wait made of a first read and further reads, bounded as a whole.
class PhaseWait {
 public:
  PhaseWait(std::uint32_t firstMs, std::uint32_t furtherMs)
      : m_first(firstMs), m_further(furtherMs), m_start(TickCountMs()) {}
  // Time for the next read; 0 when the phase is over.
  std::uint32_t Next() {
    if (m_firstDone) {
      const std::uint32_t spent = TickCountMs() - m_start;
      const std::uint32_t limit = m_first + m_further;
      if (spent >= limit) return 0;
      return std::min(m_further, limit - spent);
    }
    m_firstDone = true;
    return m_first;
  }

 private:
  std::uint32_t m_first;
  std::uint32_t m_further;
  std::uint32_t m_start;
  bool m_firstDone = false;
};

}  // namespace vexo::class2x
