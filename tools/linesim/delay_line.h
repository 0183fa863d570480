// A fixed transmission delay for one direction of the line. A telephone
// connection takes time to carry sound; with none at all a fast answerer's
// reply can start before the other modem has finished reporting the end of its
// own signal, which no real line produces.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vexo::linesim {

class DelayLine {
 public:
  explicit DelayLine(std::size_t samples) : m_buffer(samples, 0) {}

  // Replaces each sample with the one that entered this many samples earlier.
  void Process(std::span<std::int16_t> block) {
    if (m_buffer.empty()) return;
    for (auto& sample : block) {
      const std::int16_t delayed = m_buffer[m_next];
      m_buffer[m_next] = sample;
      sample = delayed;
      m_next = (m_next + 1) % m_buffer.size();
    }
  }

  // Forgets what is on the way, as when a call ends.
  void Clear() { std::fill(m_buffer.begin(), m_buffer.end(), 0); }

 private:
  std::vector<std::int16_t> m_buffer;
  std::size_t m_next = 0;
};

}  // namespace vexo::linesim
