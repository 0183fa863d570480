#include "document/mh_coder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>

namespace vexo {
namespace {

// A code of T.4's one-dimensional coding: its bits, the last `length` of bits.
struct Code {
  std::uint16_t bits;
  std::uint8_t length;
};

constexpr Code kEol{0x001, 12};

// Terminating codes of runs 0 to 63.
constexpr Code kWhiteTerminating[64] = {
    {0x35, 8}, {0x07, 6}, {0x07, 4}, {0x08, 4}, {0x0B, 4}, {0x0C, 4}, {0x0E, 4}, {0x0F, 4},
    {0x13, 5}, {0x14, 5}, {0x07, 5}, {0x08, 5}, {0x08, 6}, {0x03, 6}, {0x34, 6}, {0x35, 6},
    {0x2A, 6}, {0x2B, 6}, {0x27, 7}, {0x0C, 7}, {0x08, 7}, {0x17, 7}, {0x03, 7}, {0x04, 7},
    {0x28, 7}, {0x2B, 7}, {0x13, 7}, {0x24, 7}, {0x18, 7}, {0x02, 8}, {0x03, 8}, {0x1A, 8},
    {0x1B, 8}, {0x12, 8}, {0x13, 8}, {0x14, 8}, {0x15, 8}, {0x16, 8}, {0x17, 8}, {0x28, 8},
    {0x29, 8}, {0x2A, 8}, {0x2B, 8}, {0x2C, 8}, {0x2D, 8}, {0x04, 8}, {0x05, 8}, {0x0A, 8},
    {0x0B, 8}, {0x52, 8}, {0x53, 8}, {0x54, 8}, {0x55, 8}, {0x24, 8}, {0x25, 8}, {0x58, 8},
    {0x59, 8}, {0x5A, 8}, {0x5B, 8}, {0x4A, 8}, {0x4B, 8}, {0x32, 8}, {0x33, 8}, {0x34, 8}};
constexpr Code kBlackTerminating[64] = {
    {0x37, 10}, {0x02, 3},  {0x03, 2},  {0x02, 2},  {0x03, 3},  {0x03, 4},  {0x02, 4},  {0x03, 5},
    {0x05, 6},  {0x04, 6},  {0x04, 7},  {0x05, 7},  {0x07, 7},  {0x04, 8},  {0x07, 8},  {0x18, 9},
    {0x17, 10}, {0x18, 10}, {0x08, 10}, {0x67, 11}, {0x68, 11}, {0x6C, 11}, {0x37, 11}, {0x28, 11},
    {0x17, 11}, {0x18, 11}, {0xCA, 12}, {0xCB, 12}, {0xCC, 12}, {0xCD, 12}, {0x68, 12}, {0x69, 12},
    {0x6A, 12}, {0x6B, 12}, {0xD2, 12}, {0xD3, 12}, {0xD4, 12}, {0xD5, 12}, {0xD6, 12}, {0xD7, 12},
    {0x6C, 12}, {0x6D, 12}, {0xDA, 12}, {0xDB, 12}, {0x54, 12}, {0x55, 12}, {0x56, 12}, {0x57, 12},
    {0x64, 12}, {0x65, 12}, {0x52, 12}, {0x53, 12}, {0x24, 12}, {0x37, 12}, {0x38, 12}, {0x27, 12},
    {0x28, 12}, {0x58, 12}, {0x59, 12}, {0x2B, 12}, {0x2C, 12}, {0x5A, 12}, {0x66, 12}, {0x67, 12}};

// Make-up codes of runs 64 to 2560 in steps of 64: each colour's own up to
// 1728, then the codes from 1792 on that both colours share.
constexpr std::uint32_t kMakeUpStep = 64;
constexpr std::uint32_t kLongestMakeUp = 2560;
constexpr Code kWhiteMakeUp[kLongestMakeUp / kMakeUpStep] = {
    {0x1B, 5},  {0x12, 5},  {0x17, 6},  {0x37, 7},  {0x36, 8},  {0x37, 8},  {0x64, 8},  {0x65, 8},
    {0x68, 8},  {0x67, 8},  {0xCC, 9},  {0xCD, 9},  {0xD2, 9},  {0xD3, 9},  {0xD4, 9},  {0xD5, 9},
    {0xD6, 9},  {0xD7, 9},  {0xD8, 9},  {0xD9, 9},  {0xDA, 9},  {0xDB, 9},  {0x98, 9},  {0x99, 9},
    {0x9A, 9},  {0x18, 6},  {0x9B, 9},  {0x08, 11}, {0x0C, 11}, {0x0D, 11}, {0x12, 12}, {0x13, 12},
    {0x14, 12}, {0x15, 12}, {0x16, 12}, {0x17, 12}, {0x1C, 12}, {0x1D, 12}, {0x1E, 12}, {0x1F, 12}};
constexpr Code kBlackMakeUp[kLongestMakeUp / kMakeUpStep] = {
    {0x0F, 10}, {0xC8, 12}, {0xC9, 12}, {0x5B, 12}, {0x33, 12}, {0x34, 12}, {0x35, 12}, {0x6C, 13},
    {0x6D, 13}, {0x4A, 13}, {0x4B, 13}, {0x4C, 13}, {0x4D, 13}, {0x72, 13}, {0x73, 13}, {0x74, 13},
    {0x75, 13}, {0x76, 13}, {0x77, 13}, {0x52, 13}, {0x53, 13}, {0x54, 13}, {0x55, 13}, {0x5A, 13},
    {0x5B, 13}, {0x64, 13}, {0x65, 13}, {0x08, 11}, {0x0C, 11}, {0x0D, 11}, {0x12, 12}, {0x13, 12},
    {0x14, 12}, {0x15, 12}, {0x16, 12}, {0x17, 12}, {0x1C, 12}, {0x1D, 12}, {0x1E, 12}, {0x1F, 12}};

// The code of every run shorter than kCombinedRuns: its make-up code (when
// 64 or longer) and its terminating code as one, at most 25 bits.
struct RunCode {
  std::uint32_t bits;
  std::uint32_t length;
};
constexpr std::uint32_t kCombinedRuns = kLongestMakeUp + kMakeUpStep;
using RunCodes = std::array<RunCode, kCombinedRuns>;

constexpr RunCodes CombineCodes(const Code (&terminating)[64],
                                const Code (&makeUp)[kLongestMakeUp / kMakeUpStep]) {
  RunCodes codes{};
  for (std::uint32_t run = 0; run < kCombinedRuns; ++run) {
    const Code& end = terminating[run % kMakeUpStep];
    codes[run] = {end.bits, end.length};
    if (run < kMakeUpStep) continue;
    const Code& up = makeUp[run / kMakeUpStep - 1];
    codes[run] = {std::uint32_t{up.bits} << end.length | end.bits,
                  std::uint32_t{up.length} + end.length};
  }
  return codes;
}
constexpr RunCodes kWhiteRuns = CombineCodes(kWhiteTerminating, kWhiteMakeUp);
constexpr RunCodes kBlackRuns = CombineCodes(kBlackTerminating, kBlackMakeUp);

constexpr std::uint32_t kWordBits = 64;

// Eight row bytes as one word, the first pixel in its top bit.
std::uint64_t BigEndianWord(const std::uint8_t* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
  return word;
}

// The first pixel from `from` on whose colour is not the run's, or end.
// Pixels past end in the last word may hold anything: the result is capped.
std::uint32_t RunEnd(const std::vector<std::uint64_t>& words, std::uint32_t from, std::uint32_t end,
                     bool black) {
  const std::uint64_t flip = black ? ~std::uint64_t{0} : 0;
  std::size_t index = from / kWordBits;
  const std::uint64_t first = (words[index] ^ flip) << (from % kWordBits);
  if (first != 0) return std::min<std::uint32_t>(end, from + std::countl_zero(first));
  while (++index < words.size()) {
    const std::uint64_t word = words[index] ^ flip;
    if (word != 0)
      return std::min<std::uint32_t>(
          end, static_cast<std::uint32_t>(index * kWordBits) + std::countl_zero(word));
  }
  return end;
}

// Writes codes most significant bit first. Bits gather in a word and go out
// four bytes at a time; a code is at most 25 bits, so the word never
// overflows. The caller makes room for what it writes beforehand.
class BitSink {
 public:
  BitSink(std::uint8_t* out, std::uint64_t pending, std::uint32_t bits)
      : m_out(out), m_pending(pending), m_bits(bits) {}

  void Put(std::uint32_t code, std::uint32_t length) {
    m_pending = m_pending << length | code;
    m_bits += length;
    if (m_bits < 32) return;
    m_bits -= 32;
    const auto word = static_cast<std::uint32_t>(m_pending >> m_bits);
    for (int shift = 24; shift >= 0; shift -= 8)
      *m_out++ = static_cast<std::uint8_t>(word >> shift);
  }
  void PutRun(std::uint32_t run, bool black) {
    const Code& longest = (black ? kBlackMakeUp : kWhiteMakeUp)[kLongestMakeUp / kMakeUpStep - 1];
    for (; run >= kCombinedRuns; run -= kLongestMakeUp) Put(longest.bits, longest.length);
    const RunCode& code = (black ? kBlackRuns : kWhiteRuns)[run];
    Put(code.bits, code.length);
  }
  // Whole bytes out, then the bits left padded with zeros into one more.
  void Flush() {
    for (; m_bits >= 8; m_bits -= 8)
      *m_out++ = static_cast<std::uint8_t>(m_pending >> (m_bits - 8));
    if (m_bits > 0) *m_out++ = static_cast<std::uint8_t>(m_pending << (8 - m_bits));
    m_bits = 0;
  }

  std::uint8_t* Out() const { return m_out; }
  std::uint64_t Pending() const { return m_pending; }
  std::uint32_t Bits() const { return m_bits; }

 private:
  std::uint8_t* m_out;
  std::uint64_t m_pending;
  std::uint32_t m_bits;
};

}  // namespace

MhCoder::MhCoder(std::uint32_t width)
    : m_width(std::max<std::uint32_t>(width, 1)), m_words((m_width + kWordBits - 1) / kWordBits) {}

void MhCoder::Reserve(std::size_t bytes) {
  if (bytes > m_out.size()) m_out.resize(bytes);
}

void MhCoder::AddRow(const std::uint8_t* row) {
  const std::size_t rowBytes = (std::size_t{m_width} + 7) / 8;
  const std::size_t whole = rowBytes / sizeof(std::uint64_t);
  for (std::size_t i = 0; i < whole; ++i) m_words[i] = BigEndianWord(row + i * 8);
  if (whole < m_words.size()) {
    std::uint8_t last[sizeof(std::uint64_t)] = {};
    std::memcpy(last, row + whole * 8, rowBytes - whole * 8);
    m_words[whole] = BigEndianWord(last);
  }
  // A row codes to fewer than two bytes a pixel: a run of n pixels takes at
  // most 13 bits when n is below 64, and 25 bits at most otherwise.
  MakeRoom(2 * std::size_t{m_width} + 2 * sizeof(std::uint64_t));
  BitSink sink(m_out.data() + m_used, m_pending, m_pendingBits);
  sink.Put(kEol.bits, kEol.length);
  bool black = false;
  for (std::uint32_t x = 0;;) {
    const std::uint32_t end = RunEnd(m_words, x, m_width, black);
    sink.PutRun(end - x, black);
    x = end;
    if (x >= m_width) break;
    black = !black;
  }
  m_used = static_cast<std::size_t>(sink.Out() - m_out.data());
  m_pending = sink.Pending();
  m_pendingBits = sink.Bits();
}

std::vector<std::uint8_t> MhCoder::Finish() {
  MakeRoom(sizeof(std::uint64_t));
  BitSink sink(m_out.data() + m_used, m_pending, m_pendingBits);
  sink.Flush();
  m_out.resize(static_cast<std::size_t>(sink.Out() - m_out.data()));
  m_used = 0;
  m_pending = 0;
  m_pendingBits = 0;
  return std::exchange(m_out, {});
}

void MhCoder::MakeRoom(std::size_t bytes) {
  if (m_out.size() - m_used < bytes) m_out.resize(std::max(m_used + bytes, m_out.size() * 2));
}

}  // namespace vexo
