#include "protocol/ecm_block.h"

#include <algorithm>

#include "protocol/class1_tables.h"

namespace vexo {
namespace {

// Address, control, FCF, frame number.
constexpr std::size_t kFcdHead = 4;
constexpr std::size_t kFcfAt = 2;
constexpr std::size_t kNumberAt = 3;

}  // namespace

void EcmBlock::Take(std::span<const std::uint8_t> frame) {
  if (frame.size() <= kFcfAt) return;
  if (SameFcf(frame[kFcfAt], fcf::RCP)) {
    m_rcp = true;
    return;
  }
  if (!SameFcf(frame[kFcfAt], fcf::FCD) || frame.size() <= kFcdHead) return;
  const std::size_t number = frame[kNumberAt];
  const auto data = frame.subspan(kFcdHead);
  if (data.size() > m_frameBytes) {
    m_faults |= kFrameTooLong;
    return;
  }
  if (m_count && number >= *m_count) {
    m_faults |= kNumberBeyondCount;
    return;
  }
  m_data[number].assign(data.begin(), data.end());
  m_present[number] = true;
}

void EcmBlock::SetFrameCount(std::size_t frames) {
  if (m_count) return;
  m_count = std::clamp<std::size_t>(frames, 1, kMaxFrames);
  for (std::size_t n = *m_count; n < kMaxFrames; ++n) {
    if (!m_present[n]) continue;
    m_present[n] = false;
    m_data[n].clear();
    m_faults |= kNumberBeyondCount;
  }
}

bool EcmBlock::Complete() const { return m_count && Missing() == 0; }

std::size_t EcmBlock::Missing() const {
  const std::size_t count = m_count.value_or(kMaxFrames);
  return static_cast<std::size_t>(
      std::count(m_present.begin(), m_present.begin() + static_cast<std::ptrdiff_t>(count), false));
}

PprMap EcmBlock::MissingMap() const {
  PprMap map{};
  const std::size_t count = m_count.value_or(kMaxFrames);
  for (std::size_t n = 0; n < count; ++n)
    if (!m_present[n]) map[n / 8] = static_cast<std::uint8_t>(map[n / 8] | (1u << (n % 8)));
  return map;
}

void EcmBlock::AppendData(std::vector<std::uint8_t>& out) const {
  const std::size_t count = m_count.value_or(kMaxFrames);
  for (std::size_t n = 0; n < count; ++n) out.insert(out.end(), m_data[n].begin(), m_data[n].end());
}

unsigned EcmBlock::TakeNewFaults() {
  const unsigned fresh = m_faults & ~m_faultsHandedOut;
  m_faultsHandedOut |= fresh;
  return fresh;
}

void EcmBlock::Clear() {
  for (auto& data : m_data) data.clear();
  m_present.fill(false);
  m_count.reset();
  m_rcp = false;
  m_faults = 0;
  m_faultsHandedOut = 0;
}

}  // namespace vexo
