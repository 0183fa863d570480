// Class1PageDecoder turns the page data a Class 1 modem delivers after
// "AT+FRM" CONNECT into the coded rows stored in the fax file: DLE escapes
// resolved with a pending state, bytes reversed to most significant bit first,
// everything before the first EOL dropped, zero fill cut to two bytes, rows
// counted (for MR the tag bit after each EOL belongs to the EOL), and storing
// stopped after the RTC. DLE ETX always ends the page. The Class 1 receive
// session uses it; its RTC count accepts an RTC whose last EOL shares a byte
// with whatever the line carried after it. JudgePage then
// decides whether the page is good enough to keep (MCF) or must come again
// (RTN), as a mature receiver checks the copy quality.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "document/fax_coding.h"
#include "protocol/dle_unstuffer.h"

namespace vexo {

class Class1PageDecoder {
 public:
  // Takes a block of decoded bytes; false when they could not be stored.
  using Sink = std::function<bool(const std::uint8_t* bytes, std::size_t count)>;
  enum class Status { kMore, kPageEnd, kWriteFailed };

  static constexpr int kRtcEols = 6;

  explicit Class1PageDecoder(Sink sink, FaxCoding coding = FaxCoding::kMh)
      : m_sink(std::move(sink)), m_twoDim(coding == FaxCoding::kMr) {}

  // Decodes bytes; used is set to the bytes taken (up to just after DLE ETX).
  Status Feed(const std::uint8_t* data, std::size_t count, std::size_t& used);

  // Rows of the page: the EOLs that end a coded row. EOLs that follow an EOL
  // (fill ahead of the page, the RTC beyond its first) are no rows.
  std::uint32_t Rows() const;
  // EOLs in a row at the end of the data (6 or more for a full RTC).
  int EolRun() const { return m_eolRun; }
  bool FullRtc() const { return m_rtc; }
  // Coded rows that followed the RTC (line noise that looked like an RTC).
  std::uint32_t RowsAfterRtc() const { return m_rowsAfterRtc; }

 private:
  bool Data(std::uint8_t lineOrder);
  void FollowBit(bool one);
  bool Store(std::uint8_t byte);
  bool Flush();

  Sink m_sink;
  bool m_twoDim = false;
  std::array<std::uint8_t, 4096> m_block{};
  std::size_t m_used = 0;
  DleUnstuffer m_dle;
  bool m_started = false;
  bool m_failed = false;
  bool m_ended = false;
  bool m_rtc = false;
  bool m_codeSinceEol = false;  // a one bit of a coded row came after the latest EOL
  bool m_tagNext = false;       // MR: the next bit is the tag bit of an EOL
  std::uint32_t m_zeroBits = 0;
  std::uint32_t m_zeroBytes = 0;
  std::uint32_t m_rows = 0;
  std::uint32_t m_rowsAfterRtc = 0;
  int m_eolRun = 0;
};

// A received page as the decoder stored it (most significant bit first).
struct ReceivedPage {
  std::vector<std::uint8_t> coded;
  std::uint32_t rows = 0;
  bool rtc = false;  // it ended with a full RTC
  // Part of it is missing: its data stopped inside a row (the carrier was
  // lost), or rows followed what looked like its RTC (line noise).
  bool cut = false;
};

// The copy quality of a page, from its rows as the page's coding decodes
// them: a row with a bad code, whose runs do not make 1728 pixels, or whose
// code runs on past them (rows merged where an EOL was lost) is bad.
struct PageVerdict {
  bool accepted = false;
  std::uint32_t badRows = 0;
  std::uint32_t longestBadRun = 0;
};

// Bounds on a page that is still kept, as mature receivers use them: at most
// this share of bad rows, and no longer run of them (twice as many rows at
// fine resolution, where rows are half as high).
constexpr std::uint32_t kMaxBadRowPercent = 5;
constexpr std::uint32_t kMaxConsecutiveBadRows = 10;

// Judges the page (MH or MR); a page that is kept has each bad row replaced
// by the good row before it (white at the top), coded again.
PageVerdict JudgePage(ReceivedPage& page, bool fine, FaxCoding coding = FaxCoding::kMh);

}  // namespace vexo
