#include "protocol/page_sender.h"

#include <algorithm>

#include "modem/byte_tables.h"
#include "protocol/session_names.h"

namespace vexo {
namespace {

// Zero bits carried are capped: any count past this is as good as an EOL's.
constexpr std::uint32_t kZeroBitsCap = 0x10000;

}  // namespace

PageSender::PageSender(PageSendOptions options, Sink sink)
    : m_options(options), m_sink(std::move(sink)) {
  m_options.writeThreshold = std::max<std::size_t>(m_options.writeThreshold, 1);
  m_out.reserve(m_options.writeThreshold + 1);
  m_sending = !m_options.skipToFirstEol;
}

bool PageSender::Feed(const std::uint8_t* data, std::size_t count) {
  for (std::size_t i = 0; i < count && !m_failed; ++i) {
    ++m_consumed;
    Take(m_options.lsbFirstInput ? kBitReverse[data[i]] : data[i]);
  }
  return !m_failed;
}

void PageSender::Take(std::uint8_t b) {
  const std::uint32_t carried = m_zeroBits;
  const bool eol = b != 0 && carried + kLeadingZeroBits[b] >= kEolZeroBits;
  m_zeroBits = b == 0 ? std::min(carried + 8, kZeroBitsCap) : kTrailingZeroBits[b];

  if (!m_sending) {
    if (!eol) return;
    m_sending = true;
    m_lineBytes = 0;
    // The EOL's leading zeros lay in the bytes dropped: send enough zero fill
    // ahead of it that the far end sees a whole EOL and keeps the first row.
    PutZeros((kEolZeroBits - std::min(kEolZeroBits, std::uint32_t{kLeadingZeroBits[b]}) + 7) / 8);
    Put(b);
    return;
  }
  if (m_options.minLineBytes == 0) {
    Put(b);
    return;
  }
  ++m_lineBytes;
  if (eol) {
    const std::uint32_t minimum = m_options.minLineBytes + (carried + 7) / 8 + 1;
    if (m_lineBytes < minimum) PutZeros(minimum - m_lineBytes);
    m_lastMinimum = minimum;
    m_lineBytes = 0;
  }
  Put(b);
}

void PageSender::Put(std::uint8_t msbFirst) {
  const std::uint8_t out = kBitReverse[msbFirst];
  m_out.push_back(out);
  if (out == kDle) m_out.push_back(kDle);
  FlushIfFull();
}

void PageSender::PutZeros(std::uint32_t count) {
  for (std::uint32_t i = 0; i < count && !m_failed; ++i) {
    m_out.push_back(0);
    FlushIfFull();
  }
}

bool PageSender::FlushIfFull() {
  if (m_failed) return false;
  if (m_out.size() < m_options.writeThreshold) return true;
  if (!m_sink(m_out.data(), m_out.size())) m_failed = true;
  m_out.clear();
  return !m_failed;
}

PageSendResult PageSender::Finish() {
  if (m_failed) return PageSendResult::kWriteFailed;
  if (!m_sending) return PageSendResult::kNoEol;
  if (m_options.minLineBytes != 0 && m_lineBytes != 0 && m_lineBytes < m_lastMinimum)
    PutZeros(m_lastMinimum - m_lineBytes);
  if (!m_failed && !m_out.empty() && !m_sink(m_out.data(), m_out.size())) m_failed = true;
  m_out.clear();
  return m_failed ? PageSendResult::kWriteFailed : PageSendResult::kSent;
}

}  // namespace vexo
