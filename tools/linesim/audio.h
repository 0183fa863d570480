// The audio side of the simulated line: 8 kHz 16-bit samples exchanged in 20 ms
// blocks. Every device on the line (emulated modem, far terminal) is an
// AudioEndpoint; the telephone line moves one block each way per tick.
#pragma once

#include <cstdint>
#include <span>

namespace vexo::linesim {

constexpr int kSampleRate = 8000;
constexpr int kBlockSamples = 160;  // 20 ms
constexpr int kBlockMs = 20;

class AudioEndpoint {
 public:
  virtual ~AudioEndpoint() = default;
  // Fills out with the next block the device sends to the line.
  virtual void Transmit(std::span<std::int16_t> out) = 0;
  // Gives the device the block it hears from the line.
  virtual void Receive(std::span<std::int16_t> in) = 0;
};

}  // namespace vexo::linesim
