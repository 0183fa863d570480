// Constants and small helpers the Class 2 session files share: buffer sizes,
// protocol bytes, status string ids, report texts, and the bounded wait of a
// phase made of a first read and further reads. Only protocol/class2x_*.cc
// include it.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "modem/fax_comm_func.h"

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

inline constexpr std::uint8_t kDle = 0x10;
inline constexpr std::uint8_t kEtx = 0x03;
inline constexpr std::uint8_t kDc2 = 0x12;
inline constexpr std::uint8_t kMorePages = 0x2C;  // ","
inline constexpr std::uint8_t kLastPage = 0x2E;   // "."

// Post-page answers that refuse the page: RTN and PIN.
inline constexpr long kPageRetrainNegative = 2;
inline constexpr long kPageInterruptNegative = 4;

inline constexpr unsigned kStrDialling = 65062;
inline constexpr unsigned kStrRemoteAnswered = 65063;
inline constexpr unsigned kStrRemoteId = 65064;
inline constexpr unsigned kStrPageSentWaiting = 65065;
inline constexpr unsigned kStrSendingPage = 65066;
inline constexpr unsigned kStrSendEnd = 65067;
inline constexpr unsigned kStrRemoteIdReceive = 65071;
inline constexpr unsigned kStrReceivingPage = 65072;
inline constexpr unsigned kStrReceiveEnd = 65073;

inline constexpr const char* kTimeoutText = "Timeout waiting for modem response.";
inline constexpr const char* kErrorText = "Modem return ERROR result.";
inline constexpr const char* kCancelText = "User terminate the fax operation";

struct DialWord {
  const char* word;
  const char* message;
};
inline constexpr std::array kDialFailures{
    DialWord{"NO DIALTONE", "Dial failure or no dial tone detected."},
    DialWord{"NO DIAL TONE", "Dial failure or no dial tone detected."},
    DialWord{"BUSY",
             "An equipment busy tone is detected on the line and the busy tone 'on' time "
             "exceeds 300 ms."},
    DialWord{"NO ANSWER", "No answer tone detected."},
    DialWord{"NO CARRIER", "Auto speed failed because no carrier was detected."},
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
