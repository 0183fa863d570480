// A coder of bitmap rows into MH, the one-dimensional coding of T.4, that
// gives exactly the bytes libtiff's Group 3 coder gives for Group3Options 0:
// an EOL ahead of every row, no fill bits, runs coded with make-up codes of
// at most 2560 before the terminating code, the last byte padded with zero
// bits, no RTC. Pages of text and imported PDF are coded this way several
// times faster than through libtiff a row at a time (runs are found a 64-bit
// word at a time), which counts when a long document is imported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexo {

class MhCoder {
 public:
  // width: pixels of a row, 1 to the widest fax row.
  explicit MhCoder(std::uint32_t width);

  void Reserve(std::size_t bytes);
  // Codes one row: (width + 7) / 8 bytes, 1 = black, most significant bit
  // first; bits past width are not looked at.
  void AddRow(const std::uint8_t* row);
  // The coded bytes, the last one padded; the coder starts afresh.
  std::vector<std::uint8_t> Finish();

 private:
  // At least bytes of m_out free past m_used.
  void MakeRoom(std::size_t bytes);

  std::uint32_t m_width;
  std::vector<std::uint64_t> m_words;  // the row being coded, 64 pixels a word
  std::vector<std::uint8_t> m_out;     // the coding so far: its first m_used bytes
  std::size_t m_used = 0;
  std::uint64_t m_pending = 0;  // bits not yet in m_out, the last m_pendingBits of it
  std::uint32_t m_pendingBits = 0;
};

}  // namespace vexo
