// PageReceiver decodes the page data a fax modem delivers after CONNECT: it
// resolves the DLE escapes (a DLE waits for the byte that completes it, so an
// escape split across reads or stuffed DLEs are read right), ends the page at
// DLE ETX, drops everything before the first EOL, cuts runs of zero fill to two
// bytes, counts the rows and stops storing after a full RTC. MR pages are read
// the same way, the tag bit after each EOL being part of it; MMR pages (T.6,
// without EOLs or fill) are kept whole, only their DLE escapes resolved.
// Decoded bytes go to a sink in blocks; the Class 2, Class 2.0 and Class 1
// receivers use it, and close their fax files with CloseReceivedFile.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "document/fax_coding.h"
#include "document/tiff_oper.h"
#include "protocol/fax_result.h"

namespace vexo {

// Consecutive EOLs that make a full RTC.
constexpr int kFullRtcEols = 6;
// The largest block of decoded bytes handed to the sink.
constexpr std::size_t kDecodedBlockBytes = 4096;

class PageReceiver {
 public:
  // Takes a block of decoded bytes; false when they could not be stored.
  using Sink = std::function<bool(const std::uint8_t* bytes, std::size_t count)>;

  enum class Status { More, PageEnd, WriteFailed };

  // reverseBits: the modem delivers each byte least significant bit first and
  // the page is stored most significant bit first.
  PageReceiver(bool reverseBits, Sink sink, FaxCoding coding = FaxCoding::kMh);

  // Decodes bytes; used is set to the bytes taken (up to just after DLE ETX on
  // PageEnd). On PageEnd every decoded byte has reached the sink.
  Status Feed(const std::uint8_t* data, std::size_t count, std::size_t& used);

  // Rows of the page: one per EOL that a row follows. The EOLs of the closing
  // RTC beyond its first are not rows (a short RTC counts like a full one); a
  // page cut off inside a row keeps that row. 0 for MMR: decode the page to
  // count its rows.
  std::uint32_t Rows() const;
  // Consecutive EOLs counted when the page ended (6 for a full RTC).
  int EolRun() const { return m_eolRun; }
  bool FullRtc() const { return m_fullRtc; }
  bool EolFound() const { return m_started; }
  bool Ended() const { return m_ended; }
  // Hands the sink what is decoded but not yet handed over: for a page whose
  // data stopped before its DLE ETX. False when it could not be stored.
  bool Flush();

 private:
  bool Data(std::uint8_t byte);
  bool Store(std::uint8_t byte);

  // The one bits of an EOL byte r that belong to the EOL: its own and, for
  // MR, the tag bit after it.
  std::uint8_t EolBits(std::uint8_t r, std::uint8_t eolBit);

  bool m_reverse;
  Sink m_sink;
  FaxCoding m_coding;
  std::array<std::uint8_t, kDecodedBlockBytes> m_block{};
  std::size_t m_used = 0;
  bool m_dlePending = false;
  bool m_started = false;
  bool m_fullRtc = false;
  bool m_ended = false;
  bool m_failed = false;
  std::uint32_t m_zeroBits = 0;
  std::uint32_t m_zeroBytes = 0;
  std::uint32_t m_eols = 0;
  int m_eolRun = 0;
  // No one bit since the last EOL's own.
  bool m_quietSinceEol = false;
  // MR: the last EOL ended its byte, so the next byte's first bit is its tag.
  bool m_tagNext = false;
};

// Closes a received fax file (a page still open is kept with the rows that
// arrived whole, or left out); the record counts the pages the file holds.
// False when the file could not be completed.
bool CloseReceivedFile(TiffOper& tiff, FaxResult* result);

}  // namespace vexo
