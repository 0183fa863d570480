// Frame faults on HDLC frames carried inside high-speed page data, as ECM
// (T.4 Annex A) frames are when a program frames them itself and sends them
// through AT+FTM, or receives them through AT+FRM. The filter sits on the
// DLE-stuffed byte stream between a program and its modem: it unstuffs the
// bytes, follows the bits (least significant first) with an HDLC tracker
// (flags, zero-bit unstuffing, aborts), and holds the bits since the last
// flag until it knows whether they form a good frame. A good frame is
// counted through the callback, which decides its fate: passed on, damaged
// (one bit of it cleared, so that its FCS fails) or lost (its bits become
// flags, so the receiver hears idle flags where it was).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vexo::linesim {

enum class FrameFate { kPass, kCorrupt, kLose };

class HdlcStreamFaults {
 public:
  // Called once for each good frame in the stream, in order.
  using OnFrame = std::function<FrameFate()>;
  explicit HdlcStreamFaults(OnFrame onFrame) : m_onFrame(std::move(onFrame)) {}

  // Takes one byte of the DLE-stuffed stream and appends what goes on to
  // out, DLE-stuffed. A DLE followed by anything but DLE (DLE ETX ending the
  // data) passes on after every bit held so far; true then, and the filter
  // starts afresh.
  bool Feed(char c, std::string& out);
  // Forgets the stream (a new transmission or reception begins).
  void Reset();

 private:
  void TakeByte(std::uint8_t byte, std::string& out);
  void TakeBit(std::uint8_t bit, std::string& out);
  void OnFlag(std::string& out);
  void Release(std::size_t count, std::string& out);
  void Damage(std::size_t frameBits, FrameFate fate);
  bool GoodFrame(std::size_t frameBits) const;

  OnFrame m_onFrame;
  bool m_dle = false;                // the last byte was a DLE
  int m_ones = 0;                    // consecutive one bits
  bool m_afterFlag = false;          // a flag opened what is held
  std::vector<std::uint8_t> m_held;  // bits since the last flag, as sent
  std::uint8_t m_outByte = 0;        // bits released, not yet a whole byte
  int m_outBits = 0;
};

}  // namespace vexo::linesim
