// Resolves the DLE escapes of the data a Class 1 modem delivers after
// AT+FRM's CONNECT, one byte at a time. A DLE waits for the byte that
// completes it, so an escape split across two reads is read right: DLE DLE
// is one 0x10 of data, DLE ETX ends the data, and any other escape stays data
// as it came (both bytes). The page decoder and the ECM receiver use it.
#pragma once

#include <array>
#include <cstdint>

#include "protocol/session_names.h"

namespace vexo {

class DleUnstuffer {
 public:
  // At most two data bytes come out of one byte taken.
  using Out = std::array<std::uint8_t, 2>;
  static constexpr int kEnd = -1;

  // Takes one byte; puts the data bytes it completes into out and returns
  // their count (0, 1 or 2), or kEnd at DLE ETX.
  int Take(std::uint8_t byte, Out& out) {
    if (!m_pending) {
      if (byte == kDle) {
        m_pending = true;
        return 0;
      }
      out[0] = byte;
      return 1;
    }
    m_pending = false;
    if (byte == kEtx) return kEnd;
    if (byte == kDle) {
      out[0] = kDle;
      return 1;
    }
    out = {kDle, byte};
    return 2;
  }

 private:
  bool m_pending = false;
};

}  // namespace vexo
