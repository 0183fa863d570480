// Byte-level access to a classic TIFF file through its descriptor: the header,
// directory entries and values in the file's byte order. The page-number
// rewrite, the in-place page update and the exact resolution reader work on the
// file bytes with it, since libtiff cannot change a finished file in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "document/tiff_lib.h"

namespace vexo {

// A directory chain longer than this is taken as a loop.
constexpr std::size_t kMaxRawDirectories = 65535;
constexpr std::size_t kTiffEntryBytes = 12;
// Where the header holds the offset of the first directory.
constexpr std::uint64_t kFirstDirectoryLink = 4;

enum class RawIo { Ok, Failed, Short };

struct RawEntry {
  std::uint16_t tag = 0;
  std::uint16_t type = 0;
  std::uint32_t count = 0;
  std::uint64_t valuePos = 0;  // file offset of the 4-byte value field
  // Bytes of the value; 0 for unknown types.
  std::uint64_t ValueBytes() const;
  bool Inline() const { return ValueBytes() <= 4; }
};

class RawTiff {
 public:
  RawTiff(int fd, std::string fileName) : m_fd(fd), m_name(std::move(fileName)) {}

  // Reads and checks "II"/"MM", version 42 and the first-directory offset.
  RawIo ReadHeader();
  bool BigEndian() const { return m_bigEndian; }
  std::uint32_t FirstDirectory() const { return m_firstDir; }
  const std::string& name() const { return m_name; }
  // errno of the last failed call.
  int LastError() const { return m_error; }

  RawIo Read(std::uint64_t offset, void* buffer, std::size_t size);
  RawIo Write(std::uint64_t offset, const void* buffer, std::size_t size);
  RawIo ReadU16(std::uint64_t offset, std::uint16_t& value);
  RawIo ReadU32(std::uint64_t offset, std::uint32_t& value);
  RawIo WriteU16(std::uint64_t offset, std::uint16_t value);
  RawIo WriteU32(std::uint64_t offset, std::uint32_t value);
  RawIo ReadEntry(std::uint64_t dirOffset, std::uint16_t index, RawEntry& entry);
  // Offset of the link to the next directory.
  static std::uint64_t LinkPos(std::uint64_t dirOffset, std::uint16_t entries) {
    return dirOffset + 2 + kTiffEntryBytes * entries;
  }
  std::optional<std::uint64_t> FileSize() const;

  // Reads a SHORT or LONG element of an entry's value.
  RawIo ReadElement(const RawEntry& entry, std::uint32_t index, std::uint32_t& value);
  RawIo WriteElement(const RawEntry& entry, std::uint32_t index, std::uint32_t value);
  // The exact RATIONAL of tag in the directory at dirOffset; nullopt when absent.
  std::optional<Rational> ReadRational(std::uint64_t dirOffset, std::uint16_t tag);

 private:
  std::uint16_t Order16(std::uint16_t v) const;
  std::uint32_t Order32(std::uint32_t v) const;

  int m_fd;
  std::string m_name;
  bool m_bigEndian = false;
  std::uint32_t m_firstDir = 0;
  int m_error = 0;
};

}  // namespace vexo
