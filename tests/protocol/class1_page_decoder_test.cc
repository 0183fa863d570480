// The Class 1 page decoder on coded pages as a modem delivers them: where the
// page ends, how rows are counted, what is stored, and DLE escapes.
#include <gtest/gtest.h>

#include "protocol/class1_page_decoder.h"
#include "tests/protocol/g3_test_pages.h"

namespace vexo {
namespace {

struct Decoded {
  std::vector<std::uint8_t> bytes;
  Class1PageDecoder::Status status = Class1PageDecoder::Status::kMore;
  std::uint32_t rows = 0;
  bool fullRtc = false;
};

// Feeds the line bytes in pieces of piece bytes.
Decoded Decode(const std::vector<std::uint8_t>& line, std::size_t piece = 7) {
  Decoded out;
  Class1PageDecoder decoder([&out](const std::uint8_t* bytes, std::size_t count) {
    out.bytes.insert(out.bytes.end(), bytes, bytes + count);
    return true;
  });
  for (std::size_t at = 0; at < line.size() && out.status == Class1PageDecoder::Status::kMore;
       at += piece) {
    std::size_t used = 0;
    out.status = decoder.Feed(line.data() + at, std::min(piece, line.size() - at), used);
  }
  out.rows = decoder.Rows();
  out.fullRtc = decoder.FullRtc();
  return out;
}

std::vector<std::uint8_t> WithEnd(std::vector<std::uint8_t> line) {
  line.push_back(0x10);
  line.push_back(0x03);
  return line;
}

// Whether the page coded msb-first is what was stored: the same bytes from
// the first EOL on, with at most two zero bytes in a row.
TEST(Class1PageDecoder, APageEndsAtItsRtcAndKeepsItsRows) {
  const auto coded = test::CodeRows(5);
  const Decoded page = Decode(WithEnd(test::ModemBytes(coded)));
  EXPECT_EQ(page.status, Class1PageDecoder::Status::kPageEnd);
  EXPECT_TRUE(page.fullRtc);
  EXPECT_EQ(page.rows, 5u);
  ASSERT_GE(page.bytes.size(), 3u);
  EXPECT_EQ(page.bytes[0], 0);
  EXPECT_EQ(page.bytes[1], 0);
}

// Ones after the RTC's last EOL in the same byte (what the line carries once
// the page is over) neither hide the RTC nor reach the file.
TEST(Class1PageDecoder, TheRtcIsFoundWhenItsLastByteHoldsLineNoise) {
  for (int rows = 1; rows <= 8; ++rows) {
    auto coded = test::CodeRows(rows);
    std::uint8_t& last = coded.back();
    const int lowest = __builtin_ctz(last);
    if (lowest == 0) continue;  // the EOL's one is the byte's last bit: no room
    last = static_cast<std::uint8_t>(last | ((1u << lowest) - 1));
    auto line = test::ModemBytes(coded);
    const std::vector<std::uint8_t> noise(40, 0xFF);
    line.insert(line.end(), noise.begin(), noise.end());
    const Decoded page = Decode(WithEnd(line));
    EXPECT_TRUE(page.fullRtc) << rows;
    EXPECT_EQ(page.rows, static_cast<std::uint32_t>(rows));
    EXPECT_NE(page.bytes.back(), 0xFF) << rows;
    return;
  }
  FAIL() << "no row count left room after the RTC";
}

// EOLs the sender puts ahead of the page are no rows.
TEST(Class1PageDecoder, FillEolsAheadOfThePageAreNoRows) {
  auto coded = test::CodeRows(0, 6);  // a run of EOLs only
  const auto page = test::CodeRows(4);
  coded.insert(coded.end(), page.begin(), page.end());
  EXPECT_EQ(Decode(WithEnd(test::ModemBytes(coded))).rows, 4u);
}

// DLE ETX ends the page whatever came before it; the rows stay.
TEST(Class1PageDecoder, DleEtxAfterAShortRtcEndsThePage) {
  const Decoded page = Decode(WithEnd(test::ModemBytes(test::CodeRows(3, 3))));
  EXPECT_EQ(page.status, Class1PageDecoder::Status::kPageEnd);
  EXPECT_FALSE(page.fullRtc);
  EXPECT_EQ(page.rows, 3u);
}

// 10 10 10 10 is two 0x10 bytes of data, also when the escapes are split
// across reads; 10 10 03 is a 0x10 and an 0x03, not the end.
TEST(Class1PageDecoder, StuffedDlesAreData) {
  auto line = test::ModemBytes(test::CodeRows(1, 0));
  for (std::uint8_t b : {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x03}) line.push_back(b);
  line = WithEnd(line);
  for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{64}}) {
    const Decoded page = Decode(line, piece);
    EXPECT_EQ(page.status, Class1PageDecoder::Status::kPageEnd) << piece;
    ASSERT_GE(page.bytes.size(), 4u);
    // Stored most significant bit first: 0x10 reversed is 0x08, 0x03 is 0xC0.
    const std::vector<std::uint8_t> tail(page.bytes.end() - 4, page.bytes.end());
    EXPECT_EQ(tail, (std::vector<std::uint8_t>{0x08, 0x08, 0x08, 0xC0})) << piece;
  }
}

}  // namespace
}  // namespace vexo
