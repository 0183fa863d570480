#include "document/tiff_raw.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cstring>

#include "platform/posix/full_io.h"

namespace vexo {
namespace {

constexpr std::uint16_t kClassicVersion = 42;

// Bytes of one value of each TIFF field type (index = type); 0 = unknown.
constexpr std::array<std::uint8_t, 19> kTypeBytes{0, 1, 1, 2, 4, 8, 1, 1, 2, 4,
                                                  8, 4, 8, 4, 0, 0, 8, 8, 8};

bool MachineBigEndian() { return std::endian::native == std::endian::big; }

// A whole transfer as a RawIo: the errno goes to error on a failure.
RawIo Outcome(const IoResult& io, std::size_t size, int& error) {
  if (io.error != 0) {
    error = io.error;
    return RawIo::Failed;
  }
  return io.bytes == size ? RawIo::Ok : RawIo::Short;
}

}  // namespace

std::uint64_t RawEntry::ValueBytes() const {
  const std::uint64_t size = type < kTypeBytes.size() ? kTypeBytes[type] : 0;
  return size * count;
}

std::uint16_t RawTiff::Order16(std::uint16_t v) const {
  return m_bigEndian == MachineBigEndian() ? v : static_cast<std::uint16_t>((v >> 8) | (v << 8));
}

std::uint32_t RawTiff::Order32(std::uint32_t v) const {
  return m_bigEndian == MachineBigEndian() ? v : __builtin_bswap32(v);
}

RawIo RawTiff::Read(std::uint64_t offset, void* buffer, std::size_t size) {
  return Outcome(FullPread(m_fd, buffer, size, offset), size, m_error);
}

RawIo RawTiff::Write(std::uint64_t offset, const void* buffer, std::size_t size) {
  return Outcome(FullPwrite(m_fd, buffer, size, offset), size, m_error);
}

RawIo RawTiff::ReadU16(std::uint64_t offset, std::uint16_t& value) {
  std::uint16_t raw = 0;
  const RawIo io = Read(offset, &raw, sizeof raw);
  if (io == RawIo::Ok) value = Order16(raw);
  return io;
}

RawIo RawTiff::ReadU32(std::uint64_t offset, std::uint32_t& value) {
  std::uint32_t raw = 0;
  const RawIo io = Read(offset, &raw, sizeof raw);
  if (io == RawIo::Ok) value = Order32(raw);
  return io;
}

RawIo RawTiff::WriteU16(std::uint64_t offset, std::uint16_t value) {
  const std::uint16_t raw = Order16(value);
  return Write(offset, &raw, sizeof raw);
}

RawIo RawTiff::WriteU32(std::uint64_t offset, std::uint32_t value) {
  const std::uint32_t raw = Order32(value);
  return Write(offset, &raw, sizeof raw);
}

RawIo RawTiff::ReadHeader() {
  std::array<std::uint8_t, 8> header{};
  const RawIo io = Read(0, header.data(), header.size());
  if (io != RawIo::Ok) return io;
  if (header[0] == 'I' && header[1] == 'I')
    m_bigEndian = false;
  else if (header[0] == 'M' && header[1] == 'M')
    m_bigEndian = true;
  else
    return RawIo::Short;
  std::uint16_t version = 0;
  std::memcpy(&version, header.data() + 2, 2);
  if (Order16(version) != kClassicVersion) return RawIo::Short;
  std::uint32_t first = 0;
  std::memcpy(&first, header.data() + 4, 4);
  m_firstDir = Order32(first);
  return RawIo::Ok;
}

RawIo RawTiff::ReadEntry(std::uint64_t dirOffset, std::uint16_t index, RawEntry& entry) {
  const std::uint64_t pos = dirOffset + 2 + kTiffEntryBytes * index;
  RawIo io = ReadU16(pos, entry.tag);
  if (io == RawIo::Ok) io = ReadU16(pos + 2, entry.type);
  if (io == RawIo::Ok) io = ReadU32(pos + 4, entry.count);
  entry.valuePos = pos + 8;
  return io;
}

std::optional<std::uint64_t> RawTiff::FileSize() const {
  struct stat st {};
  if (::fstat(m_fd, &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

RawIo RawTiff::ReadElement(const RawEntry& entry, std::uint32_t index, std::uint32_t& value) {
  if (index >= entry.count || (entry.type != TIFF_SHORT && entry.type != TIFF_LONG))
    return RawIo::Short;
  std::uint64_t base = entry.valuePos;
  if (!entry.Inline()) {
    std::uint32_t pointer = 0;
    const RawIo io = ReadU32(entry.valuePos, pointer);
    if (io != RawIo::Ok) return io;
    base = pointer;
  }
  if (entry.type == TIFF_SHORT) {
    std::uint16_t v = 0;
    const RawIo io = ReadU16(base + 2ull * index, v);
    value = v;
    return io;
  }
  return ReadU32(base + 4ull * index, value);
}

RawIo RawTiff::WriteElement(const RawEntry& entry, std::uint32_t index, std::uint32_t value) {
  if (index >= entry.count || (entry.type != TIFF_SHORT && entry.type != TIFF_LONG))
    return RawIo::Short;
  std::uint64_t base = entry.valuePos;
  if (!entry.Inline()) {
    std::uint32_t pointer = 0;
    const RawIo io = ReadU32(entry.valuePos, pointer);
    if (io != RawIo::Ok) return io;
    base = pointer;
  }
  if (entry.type == TIFF_SHORT) {
    if (value > 0xFFFF) return RawIo::Short;
    return WriteU16(base + 2ull * index, static_cast<std::uint16_t>(value));
  }
  return WriteU32(base + 4ull * index, value);
}

std::optional<Rational> RawTiff::ReadRational(std::uint64_t dirOffset, std::uint16_t tag) {
  std::uint16_t entries = 0;
  if (ReadU16(dirOffset, entries) != RawIo::Ok) return std::nullopt;
  for (std::uint16_t i = 0; i < entries; ++i) {
    RawEntry entry;
    if (ReadEntry(dirOffset, i, entry) != RawIo::Ok) return std::nullopt;
    if (entry.tag != tag) continue;
    if (entry.type != TIFF_RATIONAL || entry.count < 1) return std::nullopt;
    std::uint32_t pointer = 0;
    Rational r;
    if (ReadU32(entry.valuePos, pointer) != RawIo::Ok || ReadU32(pointer, r.num) != RawIo::Ok ||
        ReadU32(pointer + 4ull, r.den) != RawIo::Ok)
      return std::nullopt;
    return r;
  }
  return std::nullopt;
}

}  // namespace vexo
