// Fuzz target: the decoders of received page data. After CONNECT the modem's
// bytes are whatever the line carried: DLE escapes cut anywhere, no EOL, a
// flood of zero fill, an RTC in pieces. Both decoders (the Class 2/2.0 one in
// either bit order and the Class 1 one) must take every byte they are given
// exactly once, stop at DLE ETX, and hand the sink no more than they stored.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "protocol/class1_page_decoder.h"
#include "protocol/page_receiver.h"

namespace {

constexpr std::size_t kLeadingZeros = 4;

// The input cut into reads whose lengths come from its own first bytes.
template <typename Decoder, typename Status>
void FeedInReads(Decoder& decoder, const std::uint8_t* data, std::size_t size, Status more) {
  std::size_t offset = 0;
  std::size_t step = 0;
  while (offset < size) {
    const std::size_t want = 1 + data[step++ % size] % 61;
    const std::size_t count = want < size - offset ? want : size - offset;
    std::size_t used = 0;
    const Status status = decoder.Feed(data + offset, count, used);
    if (used > count) std::abort();
    if (status == more && used != count) std::abort();
    offset += used;
    if (status != more) break;
  }
  decoder.Rows();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  for (bool reverse : {false, true}) {
    std::size_t stored = 0;
    vexo::PageReceiver receiver(reverse, [&](const std::uint8_t*, std::size_t n) {
      stored += n;
      return true;
    });
    FeedInReads(receiver, data, size, vexo::PageReceiver::Status::More);
    // Decoding makes no bytes beyond the few zeros put ahead of the first EOL.
    if (stored > size + kLeadingZeros) std::abort();
  }
  std::size_t stored = 0;
  vexo::Class1PageDecoder decoder([&](const std::uint8_t*, std::size_t n) {
    stored += n;
    return stored < 64 * 1024;  // a full disk part way through
  });
  FeedInReads(decoder, data, size, vexo::Class1PageDecoder::Status::kMore);
  return 0;
}
