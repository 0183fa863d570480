// The page data units on their own: what the sender hands the modem and what
// the receivers (Class 2 and Class 1) make of the modem's bytes, DLE escapes at
// every chunk boundary, where a page ends and how its rows are counted.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "modem/byte_tables.h"
#include "protocol/class1_page_decoder.h"
#include "protocol/page_receiver.h"
#include "protocol/page_sender.h"
#include "tests/protocol/g3_test_pages.h"

namespace vexo {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Send(const Bytes& input, PageSendOptions options, PageSendResult* result = nullptr) {
  Bytes out;
  PageSender sender(options, [&](const std::uint8_t* b, std::size_t n) {
    out.insert(out.end(), b, b + n);
    return true;
  });
  sender.Feed(input.data(), input.size());
  const PageSendResult done = sender.Finish();
  if (result) *result = done;
  return out;
}

// Both receivers order their statuses More, PageEnd, WriteFailed.
enum class End { More, Page, WriteFailed };

struct Decoded {
  Bytes bytes;
  End end = End::More;
  std::size_t used = 0;  // bytes taken in total
  std::uint32_t rows = 0;
  int eolRun = 0;
  bool fullRtc = false;
};

// Feeds the stream to a receiver in pieces cut at the given positions.
template <class Receiver = PageReceiver>
Decoded Receive(const Bytes& stream, std::vector<std::size_t> cuts) {
  Decoded d;
  const auto sink = [&](const std::uint8_t* b, std::size_t n) {
    d.bytes.insert(d.bytes.end(), b, b + n);
    return true;
  };
  Receiver receiver = [&] {
    if constexpr (std::is_same_v<Receiver, PageReceiver>)
      return PageReceiver(true, sink);
    else
      return Receiver(sink);
  }();
  std::size_t from = 0;
  cuts.push_back(stream.size());
  for (std::size_t end : cuts) {
    std::size_t used = 0;
    d.end =
        static_cast<End>(static_cast<int>(receiver.Feed(stream.data() + from, end - from, used)));
    d.used += used;
    if (d.end != End::More) break;
    from = end;
  }
  d.rows = receiver.Rows();
  d.eolRun = receiver.EolRun();
  d.fullRtc = receiver.FullRtc();
  return d;
}

Bytes WithDleEtx(Bytes b) {
  b.push_back(0x10);
  b.push_back(0x03);
  return b;
}

TEST(PageSender, SendsFromTheFirstEolOnReversedAndStuffedAndNothingWithoutOne) {
  const Bytes page = test::CodeRows(20);
  Bytes input = {0xFF, 0x80, 0x13};  // garbage, no EOL in it
  input.insert(input.end(), page.begin(), page.end());
  PageSendResult result{};
  const Bytes out = Send(input, {}, &result);
  EXPECT_EQ(result, PageSendResult::kSent);
  // The first EOL completes in the page's second byte (0x00 0x1x); one zero
  // byte of fill goes ahead of it in place of the dropped bytes.
  Bytes expected(page.begin() + 1, page.end());
  expected.insert(expected.begin(), 0x00);
  EXPECT_EQ(out, test::ModemBytes(expected));
  // A page without an EOL sends nothing.
  EXPECT_TRUE(Send(Bytes(5000, 0x55), {}, &result).empty());
  EXPECT_EQ(result, PageSendResult::kNoEol);
}

TEST(PageSender, ShortLinesArePaddedToTheMinimumLength) {
  // Rows of 2 to 3 bytes padded to 6 with zero fill before each EOL byte; the
  // receiver cuts fill to two zero bytes, so the rows still count.
  const Bytes page = test::CodeRows(10);
  PageSendOptions options;
  options.minLineBytes = 6;
  const Bytes out = Send(page, options);
  EXPECT_GE(out.size(), 10 * 6u);
  const Decoded d = Receive(WithDleEtx(out), {});
  EXPECT_EQ(d.end, End::Page);
  EXPECT_EQ(d.rows, 10u);
}

// A sink that fails ends the page on either side.
TEST(PageUnits, AFailingSinkEndsThePage) {
  const Bytes page = test::CodeRows(2000);
  PageSender sender({}, [](const std::uint8_t*, std::size_t) { return false; });
  EXPECT_FALSE(sender.Feed(page.data(), page.size()));
  EXPECT_EQ(sender.Finish(), PageSendResult::kWriteFailed);
  PageReceiver receiver(true, [](const std::uint8_t*, std::size_t) { return false; });
  const Bytes stream = WithDleEtx(test::ModemBytes(page));
  std::size_t used = 0;
  EXPECT_EQ(receiver.Feed(stream.data(), stream.size(), used), PageReceiver::Status::WriteFailed);
}

TEST(PageReceiver, RoundTripAtEveryChunkBoundary) {
  const Bytes page = test::CodeRows(12);
  const Bytes stream = WithDleEtx(Send(page, {}));
  const Decoded whole = Receive(stream, {});
  ASSERT_EQ(whole.end, End::Page);
  EXPECT_EQ(whole.rows, 12u);
  EXPECT_TRUE(whole.fullRtc);
  EXPECT_EQ(whole.used, stream.size());
  // Four zero bytes, then the page from its first EOL byte.
  ASSERT_GE(whole.bytes.size(), 5u);
  EXPECT_EQ(Bytes(whole.bytes.begin(), whole.bytes.begin() + 4), Bytes(4, 0));
  EXPECT_EQ(whole.bytes[4], page[1]);
  for (std::size_t cut = 1; cut < stream.size(); ++cut) {
    const Decoded split = Receive(stream, {cut});
    ASSERT_EQ(split.bytes, whole.bytes) << "cut at " << cut;
    ASSERT_EQ(split.rows, 12u) << "cut at " << cut;
    ASSERT_EQ(split.used, stream.size()) << "cut at " << cut;
  }
}

// After a first EOL (00 80 reversed: 00 01), the escapes in data.
TEST(PageReceiver, StuffedDlesAreReadAsData) {
  struct Case {
    Bytes tail;
    Bytes dataAfterEol;  // as received, before bit reversal
    bool ends;           // the tail itself ends the page
  };
  const std::vector<Case> cases = {
      {{0x10, 0x10, 0x10, 0x10}, {0x10, 0x10}, false},  // two stuffed DLEs
      {{0x10, 0x10, 0x03}, {0x10, 0x03}, false},        // a DLE, then ETX as data
      {{0x10, 0x10, 0x1A}, {0x10, 0x1A}, false},        // a DLE, then SUB as data
      {{0x10, 0x1A}, {0x10, 0x10}, false},              // DLE SUB: two DLEs
      {{0x10, 0x10, 0x10, 0x03}, {0x10}, true},         // a DLE, then the end
  };
  for (const Case& c : cases) {
    Bytes stream = {0x00, 0x80};
    stream.insert(stream.end(), c.tail.begin(), c.tail.end());
    if (!c.ends) stream = WithDleEtx(stream);
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
      const Decoded d = Receive(stream, {cut});
      Bytes expected = {0, 0, 0, 0, kBitReverse[0x80]};
      for (auto b : c.dataAfterEol) expected.push_back(kBitReverse[b]);
      ASSERT_EQ(d.bytes, expected) << "case " << &c - cases.data() << " cut " << cut;
      ASSERT_EQ(d.end, End::Page);
      ASSERT_EQ(d.used, stream.size());
    }
  }
}

TEST(PageReceiver, DleEtxEndsThePageWhateverTheEolCount) {
  for (int eols : {0, 1, 2, 4}) {
    const Bytes stream = WithDleEtx(test::ModemBytes(test::CodeRows(8, eols)));
    Bytes withTail = stream;
    withTail.insert(withTail.end(), {'\r', '\n', 'O', 'K'});
    const Decoded d = Receive(withTail, {});
    EXPECT_EQ(d.end, End::Page);
    EXPECT_EQ(d.used, stream.size()) << "the reports after the page stay unread";
    EXPECT_EQ(d.eolRun, eols);
    EXPECT_FALSE(d.fullRtc);
    EXPECT_EQ(d.rows, 8u) << eols << " EOLs at the end";
  }
}

TEST(PageReceiver, ZeroFillIsCutToTwoBytes) {
  Bytes s = {0x00, 0x80, 0x55};
  s.insert(s.end(), 50, 0x00);
  s.push_back(0x80);
  const Decoded d = Receive(WithDleEtx(s), {});
  const Bytes expected = {0, 0, 0, 0, 0x01, 0xAA, 0, 0, 0x01};
  EXPECT_EQ(d.bytes, expected);
  EXPECT_EQ(d.rows, 1u);
}

// ---- the Class 1 page decoder

Decoded Class1Receive(const Bytes& coded, Bytes extra = {}, std::size_t cut = 7) {
  Bytes line = test::ModemBytes(coded);
  line.insert(line.end(), extra.begin(), extra.end());
  return Receive<Class1PageDecoder>(WithDleEtx(line), {cut});
}

// DLE ETX ends a page whatever came before it; the rows stay, EOLs ahead of
// the page are no rows, and only six EOLs make a full RTC.
TEST(Class1PageDecoder, DleEtxEndsThePageAndTheRowsAreCounted) {
  Bytes filled = test::CodeRows(0, 6);  // a run of EOLs only
  const Bytes page = test::CodeRows(4);
  filled.insert(filled.end(), page.begin(), page.end());
  const Decoded full = Class1Receive(filled);
  EXPECT_EQ(full.end, End::Page);
  EXPECT_EQ(full.rows, 4u);
  EXPECT_TRUE(full.fullRtc);
  const Decoded shortRtc = Class1Receive(test::CodeRows(3, 3));
  EXPECT_EQ(shortRtc.end, End::Page);
  EXPECT_EQ(shortRtc.rows, 3u);
  EXPECT_FALSE(shortRtc.fullRtc);
}

// Ones after the RTC's last EOL in the same byte (what the line carries once
// the page is over) neither hide the RTC nor reach the file.
TEST(Class1PageDecoder, TheRtcIsFoundWhenItsLastByteHoldsLineNoise) {
  for (int rows = 1; rows <= 8; ++rows) {
    Bytes coded = test::CodeRows(rows);
    std::uint8_t& last = coded.back();
    const int lowest = __builtin_ctz(last);
    if (lowest == 0) continue;  // the EOL's one is the byte's last bit: no room
    last = static_cast<std::uint8_t>(last | ((1u << lowest) - 1));
    const Decoded page = Class1Receive(coded, Bytes(40, 0xFF));
    EXPECT_TRUE(page.fullRtc) << rows;
    EXPECT_EQ(page.rows, static_cast<std::uint32_t>(rows));
    EXPECT_NE(page.bytes.back(), 0xFF) << rows;
    return;
  }
  FAIL() << "no row count left room after the RTC";
}

// In MR a tag bit follows each EOL: the RTC is six EOL+1, and 2-D rows count.
TEST(Class1PageDecoder, MrRowsAndTheRtcAreFoundPastTheTagBits) {
  FaxBitmap bitmap{1728, 9, {}};
  bitmap.bits.resize(bitmap.rows * bitmap.Stride());
  for (std::uint32_t r = 0; r < bitmap.rows; ++r) bitmap.bits[r * bitmap.Stride() + r] = 0xF0;
  const Bytes line =
      WithDleEtx(test::ModemBytes(EncodeFaxPage(bitmap, FaxCoding::kMr, true, true)));
  Class1PageDecoder decoder([](const std::uint8_t*, std::size_t) { return true; }, FaxCoding::kMr);
  std::size_t used = 0;
  ASSERT_EQ(decoder.Feed(line.data(), line.size(), used), Class1PageDecoder::Status::kPageEnd);
  EXPECT_EQ(decoder.Rows(), bitmap.rows);
  EXPECT_TRUE(decoder.FullRtc());
}

// 10 10 10 10 is two 0x10 bytes of data, also when the escapes are split
// across reads; 10 10 03 is a 0x10 and an 0x03, not the end.
TEST(Class1PageDecoder, StuffedDlesAreData) {
  const Bytes escapes = {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x03};
  for (std::size_t cut = 0; cut < 12; ++cut) {
    const Decoded page = Class1Receive(test::CodeRows(1, 0), escapes, cut);
    EXPECT_EQ(page.end, End::Page) << cut;
    ASSERT_GE(page.bytes.size(), 4u);
    // Stored most significant bit first: 0x10 reversed is 0x08, 0x03 is 0xC0.
    EXPECT_EQ(Bytes(page.bytes.end() - 4, page.bytes.end()), (Bytes{0x08, 0x08, 0x08, 0xC0}))
        << cut;
  }
}

}  // namespace
}  // namespace vexo
