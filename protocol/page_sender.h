// PageSender turns the coded Group 3 bytes of one page, as read from the fax
// file, into the byte stream a fax modem takes: fill order normalised, data
// up to the first EOL dropped (zero fill put back ahead of it, so that the EOL
// goes out whole), each byte sent least significant bit first, DLE doubled,
// short lines padded with zero fill to the minimum line length. The Class 2, Class 2.0 and Class 1
// page senders use it; the caller supplies the sink that writes to the modem.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace vexo {

// The minimum count of bytes per coded line for a scan time at a bit rate.
constexpr std::uint32_t MinimumLineBytes(std::uint32_t bitsPerSecond, std::uint32_t scanTimeMs) {
  return (bitsPerSecond * scanTimeMs + 4000) / 8000;
}

// Zeros that make an EOL: eleven zero bits and a one.
constexpr std::uint32_t kEolZeroBits = 11;

// How the sending of a page ended.
enum class PageSendResult {
  kSent = 0,
  kReadFailed = -1,   // the fax file could not be read
  kWriteFailed = -2,  // the modem did not take the bytes
  kNoEol = -3,        // the page held no EOL
};

struct PageSendOptions {
  bool lsbFirstInput = false;        // the file holds bytes least significant bit first
  bool skipToFirstEol = true;        // drop everything before the first EOL
  std::uint32_t minLineBytes = 0;    // 0: no padding
  std::size_t writeThreshold = 255;  // write once the output holds this many bytes
};

class PageSender {
 public:
  // Writes bytes to the modem; false when they could not all be written.
  using Sink = std::function<bool(const std::uint8_t* bytes, std::size_t count)>;

  PageSender(PageSendOptions options, Sink sink);

  // Takes the next input bytes; false when the sink failed.
  bool Feed(const std::uint8_t* data, std::size_t count);
  // Pads the last line and writes what is left: kSent, kWriteFailed or
  // kNoEol (the page held no EOL, nothing was written).
  PageSendResult Finish();

  std::uint64_t Consumed() const { return m_consumed; }
  bool EolFound() const { return m_sending; }

 private:
  void Take(std::uint8_t msbFirst);
  void Put(std::uint8_t msbFirst);
  void PutZeros(std::uint32_t count);
  bool FlushIfFull();

  PageSendOptions m_options;
  Sink m_sink;
  std::vector<std::uint8_t> m_out;
  bool m_sending = false;
  bool m_failed = false;
  std::uint32_t m_zeroBits = 0;     // zero bits carried from the bytes before
  std::uint32_t m_lineBytes = 0;    // input bytes since the previous EOL
  std::uint32_t m_lastMinimum = 0;  // L of the previous EOL
  std::uint64_t m_consumed = 0;
};

}  // namespace vexo
