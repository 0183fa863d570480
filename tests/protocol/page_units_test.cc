// The page data units on their own: what the sender hands the modem and what
// the receiver makes of the modem's bytes, DLE escapes at every chunk boundary.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modem/byte_tables.h"
#include "protocol/page_receiver.h"
#include "protocol/page_sender.h"
#include "tests/protocol/g3_test_pages.h"

namespace vexo {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Send(const Bytes& input, PageSendOptions options, int* result = nullptr,
           std::size_t chunk = 4096) {
  Bytes out;
  PageSender sender(options, [&](const std::uint8_t* b, std::size_t n) {
    out.insert(out.end(), b, b + n);
    return true;
  });
  for (std::size_t i = 0; i < input.size(); i += chunk)
    sender.Feed(input.data() + i, std::min(chunk, input.size() - i));
  const int done = sender.Finish();
  if (result) *result = done;
  return out;
}

struct Decoded {
  Bytes bytes;
  PageReceiver::Status status = PageReceiver::Status::More;
  std::size_t used = 0;  // bytes taken in total
  std::uint32_t rows = 0;
  int eolRun = 0;
  bool fullRtc = false;
};

// Feeds the stream in pieces cut at the given positions.
Decoded Receive(const Bytes& stream, const std::vector<std::size_t>& cuts, bool reverse = true) {
  Decoded d;
  PageReceiver receiver(reverse, [&](const std::uint8_t* b, std::size_t n) {
    d.bytes.insert(d.bytes.end(), b, b + n);
    return true;
  });
  std::size_t from = 0;
  std::vector<std::size_t> ends = cuts;
  ends.push_back(stream.size());
  for (std::size_t end : ends) {
    std::size_t used = 0;
    d.status = receiver.Feed(stream.data() + from, end - from, used);
    d.used += used;
    if (d.status != PageReceiver::Status::More) break;
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

TEST(PageSender, DropsDataBeforeTheFirstEolAndSendsEveryByteReversedAndStuffed) {
  const Bytes page = test::CodeRows(20);
  Bytes input = {0xFF, 0x80, 0x13};  // garbage, no EOL in it
  input.insert(input.end(), page.begin(), page.end());
  int result = 0;
  const Bytes out = Send(input, {}, &result);
  EXPECT_EQ(result, PageSender::kPageSent);
  // The first EOL completes in the page's second byte (0x00 0x1x); one zero
  // byte of fill goes ahead of it in place of the dropped bytes.
  Bytes expected(page.begin() + 1, page.end());
  expected.insert(expected.begin(), 0x00);
  EXPECT_EQ(out, test::ModemBytes(expected));
}

TEST(PageSender, LsbFirstInputIsNormalisedAndClass2KeepsEverything) {
  const Bytes page = test::CodeRows(5);
  Bytes lsb;
  for (auto b : page) lsb.push_back(kBitReverse[b]);
  PageSendOptions options;
  options.lsbFirstInput = true;
  options.skipToFirstEol = false;
  options.writeThreshold = 4095;
  EXPECT_EQ(Send(lsb, options), test::ModemBytes(page));
}

TEST(PageSender, APageWithoutEolSendsNothing) {
  const Bytes input(5000, 0x55);
  int result = 0;
  EXPECT_TRUE(Send(input, {}, &result).empty());
  EXPECT_EQ(result, PageSender::kNoEol);
}

TEST(PageSender, DleIsDoubledAndWritesStayAtMostTwoHundredFiftySixBytes) {
  // 0x08 reversed is 0x10: a stream of them after one EOL.
  Bytes input = {0x00, 0x10};
  input.insert(input.end(), 1000, 0x08);
  std::vector<std::size_t> writes;
  Bytes out;
  PageSender sender({}, [&](const std::uint8_t* b, std::size_t n) {
    writes.push_back(n);
    out.insert(out.end(), b, b + n);
    return true;
  });
  sender.Feed(input.data(), input.size());
  ASSERT_EQ(sender.Finish(), PageSender::kPageSent);
  EXPECT_EQ(out.size(), 1 + 1 + 2000u);  // fill, the EOL byte, the doubled DLEs
  for (std::size_t n : writes) EXPECT_LE(n, 256u);
}

TEST(PageSender, ShortLinesArePaddedToTheMinimumLength) {
  // Rows of 2 to 3 bytes, a minimum of 6 bytes: zero fill before each EOL byte.
  const Bytes page = test::CodeRows(10);
  PageSendOptions options;
  options.minLineBytes = 6;
  const Bytes out = Send(page, options);
  // Receiving cuts fill to two zero bytes, so the rows still count.
  const Decoded d = Receive(WithDleEtx(out), {});
  EXPECT_EQ(d.status, PageReceiver::Status::PageEnd);
  EXPECT_EQ(d.rows, 10u);
  // Between two EOL bytes at least the minimum of bytes went.
  std::size_t last = 0, shortest = out.size();
  const Bytes msb = [&] {
    Bytes m;
    for (auto b : out) m.push_back(kBitReverse[b]);
    return m;
  }();
  std::uint32_t zeros = 0;
  bool first = true;
  for (std::size_t i = 0; i < msb.size(); ++i) {
    const auto b = msb[i];
    const bool eol = b != 0 && zeros + kLeadingZeroBits[b] >= 11;
    zeros = b == 0 ? zeros + 8 : kTrailingZeroBits[b];
    if (!eol) continue;
    if (!first) shortest = std::min(shortest, i - last);
    first = false;
    last = i;
  }
  EXPECT_GE(shortest, 6u);
  EXPECT_GT(out.size(), test::ModemBytes(page).size());
}

TEST(PageSender, AFailingSinkEndsThePage) {
  const Bytes page = test::CodeRows(400);
  PageSender sender({}, [](const std::uint8_t*, std::size_t) { return false; });
  EXPECT_FALSE(sender.Feed(page.data(), page.size()));
  EXPECT_EQ(sender.Finish(), PageSender::kWriteFailed);
}

TEST(PageReceiver, RoundTripAtEveryChunkBoundary) {
  const Bytes page = test::CodeRows(12);
  const Bytes stream = WithDleEtx(Send(page, {}));
  const Decoded whole = Receive(stream, {});
  ASSERT_EQ(whole.status, PageReceiver::Status::PageEnd);
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
Bytes AfterEol(Bytes tail) {
  Bytes s = {0x00, 0x80};
  s.insert(s.end(), tail.begin(), tail.end());
  return s;
}

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
    Bytes stream = AfterEol(c.tail);
    if (!c.ends) stream = WithDleEtx(stream);
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
      const Decoded d = Receive(stream, {cut});
      Bytes expected = {0, 0, 0, 0, kBitReverse[0x80]};
      for (auto b : c.dataAfterEol) expected.push_back(kBitReverse[b]);
      ASSERT_EQ(d.bytes, expected) << "case " << &c - cases.data() << " cut " << cut;
      ASSERT_EQ(d.status, PageReceiver::Status::PageEnd);
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
    EXPECT_EQ(d.status, PageReceiver::Status::PageEnd);
    EXPECT_EQ(d.used, stream.size()) << "the reports after the page stay unread";
    EXPECT_EQ(d.eolRun, eols);
    EXPECT_FALSE(d.fullRtc);
    EXPECT_EQ(d.rows, 8u) << eols << " EOLs at the end";
  }
}

// Modems pass on what follows the RTC: one bits in the byte of its last EOL
// and a second RTC behind them. The rows are exactly the coded ones whatever
// the bit position the RTC ends at, and nothing after its last EOL is stored.
TEST(PageReceiver, NoiseAfterTheRtcAddsNoRows) {
  const std::string rtc =
      "000000000001000000000001000000000001"
      "000000000001000000000001000000000001";
  for (int rows = 1; rows <= 16; ++rows) {
    const Decoded clean = Receive(WithDleEtx(test::ModemBytes(test::CodeRows(rows))), {});
    const Decoded noisy =
        Receive(WithDleEtx(test::ModemBytes(test::CodeRows(rows, 6, "11" + rtc))), {});
    EXPECT_EQ(noisy.rows, static_cast<std::uint32_t>(rows)) << rows << " rows";
    EXPECT_TRUE(noisy.fullRtc) << rows << " rows";
    EXPECT_EQ(noisy.bytes, clean.bytes) << rows << " rows";
  }
}

TEST(PageReceiver, AfterAFullRtcNothingMoreIsStored) {
  Bytes page = test::CodeRows(3);
  const Decoded clean = Receive(WithDleEtx(test::ModemBytes(page)), {});
  page.insert(page.end(), {0xFF, 0x12, 0x34});
  const Decoded extra = Receive(WithDleEtx(test::ModemBytes(page)), {});
  EXPECT_EQ(extra.bytes, clean.bytes);
  EXPECT_EQ(extra.rows, 3u);
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

TEST(PageReceiver, WithoutReversalBytesAreStoredAsReceived) {
  const Bytes page = test::CodeRows(6);
  Bytes stuffed;
  for (auto b : page) {
    stuffed.push_back(b);
    if (b == 0x10) stuffed.push_back(b);
  }
  const Decoded d = Receive(WithDleEtx(stuffed), {}, false);
  EXPECT_EQ(d.rows, 6u);
  ASSERT_GE(d.bytes.size(), 5u);
  EXPECT_EQ(d.bytes[4], page[1]);
}

TEST(PageReceiver, AFailingSinkIsAWriteFailure) {
  PageReceiver receiver(true, [](const std::uint8_t*, std::size_t) { return false; });
  const Bytes stream = WithDleEtx(test::ModemBytes(test::CodeRows(2000)));
  std::size_t used = 0;
  EXPECT_EQ(receiver.Feed(stream.data(), stream.size(), used), PageReceiver::Status::WriteFailed);
}

}  // namespace
}  // namespace vexo
