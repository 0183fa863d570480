// Fuzz target: the receiver's side of error correction mode. The raw data of
// AT+FRM (a noisy line can bring anything) goes through the HDLC frame finder
// in reads cut anywhere, every frame it finds into a partial page, and a
// complete partial page through the page decoding that checks it before it is
// filed. The first three bytes choose the frame size, coding and resolution,
// the frame count of the PPS and the length of the reads.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "document/fax_coding.h"
#include "modem/byte_tables.h"
#include "protocol/ecm_block.h"
#include "protocol/hdlc_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kHead = 3;
  if (size < kHead) return 0;
  const std::uint8_t options = data[0];
  const std::size_t frameBytes = (options & 1) ? 64 : 256;
  const auto coding = static_cast<vexo::FaxCoding>((options >> 1) % 3);
  const bool fine = (options & 8) != 0;
  const std::size_t readBytes = 1 + data[2];

  vexo::EcmBlock block(frameBytes);
  vexo::hdlc::HdlcDecoder decoder([&block](std::span<const std::uint8_t> frame, bool) {
    if (frame.size() > vexo::hdlc::HdlcDecoder::kMaxFrameBytes) std::abort();
    block.Take(frame);  // bad frames too: the block must hold any frame
  });
  const std::span<const std::uint8_t> stream(data + kHead, size - kHead);
  for (std::size_t at = 0; at < stream.size(); at += readBytes)
    decoder.Feed(stream.subspan(at, std::min(readBytes, stream.size() - at)));

  block.SetFrameCount(std::size_t{data[1]} + 1);
  const vexo::PprMap map = block.MissingMap();
  std::size_t asked = 0;
  for (const std::uint8_t byte : map) asked += static_cast<std::size_t>(__builtin_popcount(byte));
  if (asked != block.Missing() || block.Complete() != (asked == 0)) std::abort();
  block.TakeNewFaults();
  if (!block.Complete()) return 0;
  std::vector<std::uint8_t> page;
  block.AppendData(page);
  if (page.size() > block.FrameCount().value_or(0) * frameBytes) std::abort();
  for (std::uint8_t& b : page) b = vexo::kBitReverse[b];
  vexo::DecodeFaxPage(page, coding, 1728, fine);
  return 0;
}
