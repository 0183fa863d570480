#include "document/tiff_update.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <set>
#include <vector>

#include "base/error_pool.h"
#include "document/tiff_raw.h"

namespace vexo {
namespace {

constexpr const char* kPageNumModule = "TIFFLIB : TIFFUpdateAllPageNum";
constexpr std::uint32_t kUnknownRows = 0xFFFFFFFF;

// Reports a failed step of the page-number pass.
void ReportPageNumIo(RawTiff& raw, RawIo io, const char* function) {
  if (io == RawIo::Failed) {
    ReportSystemError(0, kMsgDefault, kPageNumModule, function, raw.LastError());
  } else if (function[0] == 'W') {
    ReportError(0, kMsgDefault, kPageNumModule, "WriteFile",
                "Unable to write into disk, May be disk full [Filename = %s].", raw.name().c_str());
  } else {
    ReportError(0, kMsgDefault, kPageNumModule, "ReadFile",
                "Try to read data beyond end of file [Filename = %s].", raw.name().c_str());
  }
}

// Tracks directories visited, so a chain that loops is refused.
class DirectoryGuard {
 public:
  bool Visit(std::uint64_t offset) {
    return m_seen.size() < kMaxRawDirectories && m_seen.insert(offset).second;
  }

 private:
  std::set<std::uint64_t> m_seen;
};

}  // namespace

int TIFFUpdateAllPageNum(int fd, const std::string& fileName, std::uint16_t total) {
  RawTiff raw(fd, fileName);
  RawIo io = raw.ReadHeader();
  if (io != RawIo::Ok) {
    ReportPageNumIo(raw, io, "ReadFile");
    return 0;
  }
  DirectoryGuard guard;
  std::uint64_t dir = raw.FirstDirectory();
  for (std::uint16_t index = 0; dir != 0; ++index) {
    if (!guard.Visit(dir)) {
      ReportError(0, kMsgDefault, kPageNumModule, "ReadFile",
                  "Directory chain loops [Filename = %s].", fileName.c_str());
      return 0;
    }
    std::uint16_t entries = 0;
    if ((io = raw.ReadU16(dir, entries)) != RawIo::Ok) {
      ReportPageNumIo(raw, io, "ReadFile");
      return 0;
    }
    std::uint32_t imageLength = 0;
    RawEntry rowsEntry;
    for (std::uint16_t i = 0; i < entries; ++i) {
      RawEntry entry;
      if ((io = raw.ReadEntry(dir, i, entry)) != RawIo::Ok) {
        ReportPageNumIo(raw, io, "ReadFile");
        return 0;
      }
      if (entry.tag == TIFFTAG_PAGENUMBER && entry.type == TIFF_SHORT && entry.count == 2) {
        if ((io = raw.WriteU16(entry.valuePos, index)) != RawIo::Ok ||
            (io = raw.WriteU16(entry.valuePos + 2, total)) != RawIo::Ok) {
          ReportPageNumIo(raw, io, "WriteFile");
          return 0;
        }
      } else if (entry.tag == TIFFTAG_IMAGELENGTH && entry.count == 1) {
        raw.ReadElement(entry, 0, imageLength);
      } else if (entry.tag == TIFFTAG_ROWSPERSTRIP && entry.count == 1) {
        rowsEntry = entry;
      }
    }
    std::uint32_t rows = 0;
    if (rowsEntry.tag == TIFFTAG_ROWSPERSTRIP && rowsEntry.type == TIFF_LONG &&
        raw.ReadElement(rowsEntry, 0, rows) == RawIo::Ok && rows == kUnknownRows &&
        imageLength != 0) {
      if ((io = raw.WriteElement(rowsEntry, 0, imageLength)) != RawIo::Ok) {
        ReportPageNumIo(raw, io, "WriteFile");
        return 0;
      }
    }
    std::uint32_t link = 0;
    if ((io = raw.ReadU32(RawTiff::LinkPos(dir, entries), link)) != RawIo::Ok) {
      ReportPageNumIo(raw, io, "ReadFile");
      return 0;
    }
    dir = link;
  }
  return 1;
}

int TIFFUpdateAllPageNum(TiffFile& tif, std::uint16_t total) {
  if (tif.IsMemory()) return 0;
  if (tif.mode()[0] != 'r' && TIFFFlush(tif.get()) != 1) return 0;
  return TIFFUpdateAllPageNum(tif.fd(), tif.name(), total);
}

int TIFFMoveTiffData(TiffFile& tif, std::uint64_t from, std::int64_t delta) {
  constexpr const char* kModule = "TIFFMoveTiffData";
  const char* name = tif.libName().c_str();
  RawTiff raw(tif.fd(), tif.name());
  const auto size = raw.FileSize();
  if (!size || from > *size || (delta < 0 && static_cast<std::uint64_t>(-delta) > from)) {
    TiffError(kModule, "Seek TIFF [filename=%s] failed", name);
    return 0;
  }
  if (delta == 0) return 1;
  std::array<std::uint8_t, kMoveBufferBytes> buffer{};
  const std::uint64_t length = *size - from;
  auto moveBlock = [&](std::uint64_t at, std::size_t n) {
    if (raw.Read(at, buffer.data(), n) != RawIo::Ok) {
      TiffError(kModule, "Read TIFF [filename=%s] failed", name);
      return false;
    }
    if (raw.Write(at + delta, buffer.data(), n) != RawIo::Ok) {
      TiffError(kModule, "Write TIFF [filename=%s] failed", name);
      return false;
    }
    return true;
  };
  if (delta > 0) {
    // Growing: last block first, so nothing is overwritten before it moved.
    std::uint64_t end = *size;
    while (end > from) {
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(end - from, buffer.size()));
      if (!moveBlock(end - n, n)) return 0;
      end -= n;
    }
    return 1;
  }
  for (std::uint64_t done = 0; done < length;) {
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(length - done, buffer.size()));
    if (!moveBlock(from + done, n)) return 0;
    done += n;
  }
  if (::ftruncate(tif.fd(), static_cast<off_t>(*size + delta)) != 0) {
    TiffError(kModule, "Write TIFF [filename=%s] failed", name);
    return 0;
  }
  return 1;
}

namespace {

// Adds delta to value when it lies at or beyond from.
bool Shifted(std::uint32_t value, std::uint64_t from, std::int64_t delta, std::uint32_t& out) {
  out = value;
  if (value < from) return false;
  const std::int64_t moved = static_cast<std::int64_t>(value) + delta;
  if (moved < 0 || moved > 0xFFFFFFFFll) return false;
  out = static_cast<std::uint32_t>(moved);
  return true;
}

bool IsOffsetArray(std::uint16_t tag) {
  return tag == TIFFTAG_STRIPOFFSETS || tag == TIFFTAG_TILEOFFSETS;
}

}  // namespace

int ReallocOffset(TiffFile& tif, std::uint64_t curDirOffset, std::uint32_t strip,
                  std::uint64_t from, std::int64_t delta) {
  constexpr const char* kModule = "ReallocOffset";
  const char* name = tif.libName().c_str();
  RawTiff raw(tif.fd(), tif.name());
  auto fail = [&](RawIo io) {
    if (io == RawIo::Failed || io == RawIo::Short)
      TiffError(kModule, "Read TIFF [filename=%s] failed.", name);
    return 0;
  };
  auto writeFail = [&] {
    TiffError(kModule, "Write TIFF [Filename = %s] failed.", name);
    return 0;
  };
  RawIo io = raw.ReadHeader();
  if (io != RawIo::Ok) return fail(io);
  std::uint32_t dir = raw.FirstDirectory();
  if (dir == 0) return 1;
  std::uint32_t moved = 0;
  if (Shifted(dir, from, delta, moved)) {
    if (raw.WriteU32(4, moved) != RawIo::Ok) return writeFail();
    dir = moved;
  }
  const std::uint64_t curDir =
      Shifted(static_cast<std::uint32_t>(curDirOffset), from, delta, moved) ? moved : curDirOffset;
  DirectoryGuard guard;
  while (dir != 0) {
    if (!guard.Visit(dir)) return fail(RawIo::Short);
    const bool current = dir == curDir;
    std::uint16_t entries = 0;
    if ((io = raw.ReadU16(dir, entries)) != RawIo::Ok) return fail(io);
    for (std::uint16_t i = 0; i < entries; ++i) {
      RawEntry entry;
      if ((io = raw.ReadEntry(dir, i, entry)) != RawIo::Ok) return fail(io);
      if (current && entry.tag == TIFFTAG_STRIPBYTECOUNTS) {
        std::uint32_t count = 0;
        if ((io = raw.ReadElement(entry, strip, count)) != RawIo::Ok) return fail(io);
        if (raw.WriteElement(entry, strip, static_cast<std::uint32_t>(count + delta)) != RawIo::Ok)
          return writeFail();
      }
      // The pointer to a value stored outside the entry (arrays included).
      if (!entry.Inline()) {
        std::uint32_t pointer = 0;
        if ((io = raw.ReadU32(entry.valuePos, pointer)) != RawIo::Ok) return fail(io);
        if (Shifted(pointer, from, delta, moved) &&
            raw.WriteU32(entry.valuePos, moved) != RawIo::Ok)
          return writeFail();
      }
      // Every strip or tile offset behind `from`, except the strip being
      // replaced, which stays where it is and grows or shrinks in place.
      if (IsOffsetArray(entry.tag)) {
        for (std::uint32_t k = 0; k < entry.count; ++k) {
          if (current && k == strip) continue;
          std::uint32_t offset = 0;
          if ((io = raw.ReadElement(entry, k, offset)) != RawIo::Ok) return fail(io);
          if (Shifted(offset, from, delta, moved) && raw.WriteElement(entry, k, moved) != RawIo::Ok)
            return writeFail();
        }
      }
    }
    std::uint32_t link = 0;
    const std::uint64_t linkPos = RawTiff::LinkPos(dir, entries);
    if ((io = raw.ReadU32(linkPos, link)) != RawIo::Ok) return fail(io);
    if (Shifted(link, from, delta, moved)) {
      if (raw.WriteU32(linkPos, moved) != RawIo::Ok) return writeFail();
      link = moved;
    }
    dir = link;
  }
  return 1;
}

int TIFFUpdateCurPage(TiffFile& tif, std::uint32_t strip, const std::uint8_t* data,
                      std::size_t cc) {
  constexpr const char* kModule = "TIFFUpdateCurPage";
  if (data == nullptr || cc == 0) {
    TiffError(kModule, "data or cc parameter pass to TIFFUpdateCurPage function is empty");
    return 0;
  }
  TIFF* t = tif.get();
  const char* name = tif.libName().c_str();
  std::uint16_t compression = 0;
  std::uint32_t rowsPerStrip = 0;
  std::uint32_t imageLength = 0;
  TIFFGetField(t, TIFFTAG_COMPRESSION, &compression);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &imageLength);
  TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
  // Received pages may be stored MR (Group 3 two-dimensional) or MMR (Group 4).
  if (compression != COMPRESSION_CCITTFAX3 && compression != COMPRESSION_CCITTFAX4) {
    TiffError(kModule, "TIFFUpdateCurPage only support FAX group 3 fax format, filename=%s", name);
    return 0;
  }
  if (rowsPerStrip < imageLength || TIFFNumberOfStrips(t) != 1 || strip != 0) {
    TiffError(kModule, "TIFFUpdateCurPage only support 1 strip per page format, filename=%s", name);
    return 0;
  }
  auto coded = EncodeFaxRows(CodingOf(tif), data, cc);
  if (!coded) return 0;
  const std::uint64_t offset = TIFFGetStrileOffset(t, strip);
  const std::uint64_t oldCount = TIFFGetStrileByteCount(t, strip);
  const std::uint64_t dirOffset = TIFFCurrentDirOffset(t);
  const tdir_t directory = TIFFCurrentDirectory(t);
  if (offset < 8) {
    TiffError(kModule, "Seek TIFF [filename=%s] failed", name);
    return 0;
  }
  const std::int64_t delta =
      static_cast<std::int64_t>(coded->size()) - static_cast<std::int64_t>(oldCount);
  if (delta != 0) {
    const std::uint64_t from = offset + oldCount;
    if (TIFFMoveTiffData(tif, from, delta) != 1) return 0;
    if (ReallocOffset(tif, dirOffset, strip, from, delta) != 1) return 0;
  }
  RawTiff raw(tif.fd(), tif.name());
  if (raw.Write(offset, coded->data(), coded->size()) != RawIo::Ok) {
    TiffError(kModule, "Write TIFF [filename=%s] failed", name);
    return 0;
  }
  return tif.Reopen(directory) ? 1 : 0;
}

int UpdateFiledPage(const std::string& path, std::uint16_t pageIndex, const std::uint8_t* data,
                    std::size_t cc) {
  constexpr const char* kModule = "UpdateFiledPage";
  namespace fs = std::filesystem;
  std::string temp = path + ".XXXXXX";
  UniqueFd out(::mkstemp(temp.data()));
  if (!out.valid()) {
    ReportErrorCode(0, kMsgDefault, "TiffOper", kModule, errno,
                    "Open File Error FileName=[%s], ErrMsg = ", temp.c_str());
    return 0;
  }
  auto discard = [&] {
    std::error_code ignored;
    fs::remove(temp, ignored);
    return 0;
  };
  std::error_code ec;
  fs::copy_file(path, temp, fs::copy_options::overwrite_existing, ec);
  if (ec) {
    ReportError(0, kMsgDefault, "TiffOper", kModule, "Copy of [%s] failed: %s", path.c_str(),
                ec.message().c_str());
    return discard();
  }
  {
    auto tif = TIFFOpenHandle(std::move(out), temp, "r+");
    if (!tif || TIFFSetDirectory(tif->get(), pageIndex) != 1) return discard();
    if (TIFFUpdateCurPage(*tif, 0, data, cc) != 1) return discard();
    if (::fsync(tif->fd()) != 0) return discard();
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    ReportErrorCode(0, kMsgDefault, "TiffOper", kModule, errno,
                    "Rename to [%s] failed, ErrMsg = ", path.c_str());
    return discard();
  }
  return 1;
}

}  // namespace vexo
