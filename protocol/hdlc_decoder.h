// HdlcDecoder takes the raw bit stream a Class 1 modem delivers after AT+FRM
// (DLE escapes already resolved) and finds the HDLC frames in it: flags,
// zero bits inserted after five ones removed, bits least significant first,
// the FCS checked. Error correction mode frames its high-speed data this way,
// since most Class 1 modems offer AT+FRH only at V.21. The stream may be cut
// anywhere between reads and may carry noise: an abort (seven ones) or a
// frame longer than any ECM frame is dropped, so memory stays bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace vexo::hdlc {

class HdlcDecoder {
 public:
  // The longest frame kept: address, control, FCF, frame number, 256 octets
  // of data and the FCS.
  static constexpr std::size_t kMaxFrameBytes = 4 + 256 + 2;

  // Takes each frame found (without its FCS) and whether its FCS was good.
  using Sink = std::function<void(std::span<const std::uint8_t> frame, bool good)>;

  explicit HdlcDecoder(Sink sink) : m_sink(std::move(sink)) {}

  void Feed(std::span<const std::uint8_t> bytes);

 private:
  void TakeBit(bool one);
  void EndFrame();
  void Drop() {
    m_inFrame = false;
    m_bitCount = 0;
    m_frame.clear();
  }

  Sink m_sink;
  std::vector<std::uint8_t> m_frame;
  std::size_t m_bitCount = 0;  // data bits of the frame so far
  int m_onesInRow = 0;
  bool m_inFrame = false;  // a flag came and no abort since
};

}  // namespace vexo::hdlc
