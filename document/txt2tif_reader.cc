#include "document/txt2tif_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/full_io.h"
#include "platform/text.h"

namespace vexo {
namespace {

constexpr std::uint8_t kCr = 0x0D;

bool IsDoubleByteCodePage(std::uint32_t codePage) { return codePage == 936 || codePage == 950; }
bool IsLeadByte(std::uint8_t b) { return b >= 0x81 && b <= 0xFE; }

// Reads up to size bytes, retrying interrupted reads; -1 with errno on failure.
ssize_t ReadSome(int fd, void* buffer, std::size_t size) {
  return RetryOnEintr([&] { return ::read(fd, buffer, size); });
}

// CR LF and lone CR become LF.
std::string UnifyLineBreaks(std::string text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out += text[i];
      continue;
    }
    out += '\n';
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  return out;
}

}  // namespace

void Utf8Sniffer::Feed(const std::uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i < size && m_valid; ++i) {
    const std::uint8_t b = data[i];
    if (m_pending > 0) {
      if ((b & 0xC0) != 0x80) {
        m_valid = false;
        break;
      }
      m_value = (m_value << 6) | (b & 0x3F);
      if (--m_pending == 0 &&
          (m_value < m_min || m_value > 0x10FFFF || (m_value >= 0xD800 && m_value <= 0xDFFF)))
        m_valid = false;
      continue;
    }
    if (b < 0x80) continue;
    m_nonAscii = true;
    if ((b & 0xE0) == 0xC0) {
      m_pending = 1, m_min = 0x80, m_value = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      m_pending = 2, m_min = 0x800, m_value = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      m_pending = 3, m_min = 0x10000, m_value = b & 0x07;
    } else {
      m_valid = false;
    }
  }
}

std::size_t CompleteCodePagePrefix(std::uint32_t codePage, const std::uint8_t* data,
                                   std::size_t size) {
  if (!IsDoubleByteCodePage(codePage)) return size;
  std::size_t i = 0;
  while (i < size) i += IsLeadByte(data[i]) ? 2 : 1;
  return i > size ? size - 1 : size;
}

std::size_t CompleteUtf8Prefix(const std::uint8_t* data, std::size_t size) {
  // Look back over at most three continuation bytes for the sequence's start.
  std::size_t start = size;
  for (std::size_t back = 0; back < 4 && start > 0; ++back) {
    --start;
    if ((data[start] & 0xC0) != 0x80) break;
  }
  if (start == size) return size;
  const std::uint8_t lead = data[start];
  std::size_t need = 1;
  if ((lead & 0xE0) == 0xC0)
    need = 2;
  else if ((lead & 0xF0) == 0xE0)
    need = 3;
  else if ((lead & 0xF8) == 0xF0)
    need = 4;
  return size - start < need ? start : size;
}

TextFileReader::Status TextFileReader::Open(const std::string& file, std::uint32_t codePage) {
  m_codePage = codePage;
  m_pending.clear();
  m_eof = false;
  // Non-blocking, so that a FIFO cannot hold the open; only regular files are read.
  m_fd = UniqueFd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!m_fd.valid()) {
    m_error = errno;
    return Status::OpenFailed;
  }
  struct stat st {};
  if (::fstat(m_fd.get(), &st) != 0) {
    m_error = errno;
    return Status::SizeFailed;
  }
  if (!S_ISREG(st.st_mode)) {
    m_error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    m_fd.Reset();
    return Status::OpenFailed;
  }
  ::fcntl(m_fd.get(), F_SETFL, ::fcntl(m_fd.get(), F_GETFL) & ~O_NONBLOCK);
  std::uint8_t head[3] = {};
  const ssize_t got = ReadSome(m_fd.get(), head, sizeof head);
  if (got < 0) {
    m_error = errno;
    return Status::ReadFailed;
  }
  std::size_t mark = 0;
  if (got >= 2 && head[0] == 0xFF && head[1] == 0xFE) {
    m_encoding = TextEncoding::Utf16;
    mark = 2;
  } else if (got == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
    m_encoding = TextEncoding::Utf8;
    mark = 3;
  } else {
    // No mark: UTF-8 when the whole file is valid UTF-8 and not pure ASCII.
    Utf8Sniffer sniffer;
    sniffer.Feed(head, static_cast<std::size_t>(got));
    std::uint8_t buffer[4096];
    for (;;) {
      const ssize_t n = ReadSome(m_fd.get(), buffer, sizeof buffer);
      if (n < 0) {
        m_error = errno;
        return Status::ReadFailed;
      }
      if (n == 0) break;
      sniffer.Feed(buffer, static_cast<std::size_t>(n));
    }
    m_encoding = sniffer.IsUtf8() ? TextEncoding::Utf8 : TextEncoding::CodePage;
  }
  if (::lseek(m_fd.get(), static_cast<off_t>(mark), SEEK_SET) < 0) {
    m_error = errno;
    return Status::ReadFailed;
  }
  const auto size = static_cast<std::uint64_t>(st.st_size);
  m_textBytes = size > mark ? size - mark : 0;
  return Status::Ok;
}

bool TextFileReader::ReadMore() {
  char buffer[kTextChunkBytes];
  const std::size_t room = kTextChunkBytes - std::min(m_pending.size(), kTextChunkBytes - 1);
  const ssize_t n = ReadSome(m_fd.get(), buffer, room);
  if (n < 0) {
    m_error = errno;
    return false;
  }
  if (n == 0) m_eof = true;
  m_pending.append(buffer, static_cast<std::size_t>(n));
  return true;
}

std::size_t TextFileReader::CompletePrefix() const {
  const auto* data = reinterpret_cast<const std::uint8_t*>(m_pending.data());
  const std::size_t size = m_pending.size();
  if (m_eof) return size;
  std::size_t n = size;
  std::size_t unit = 1;
  switch (m_encoding) {
    case TextEncoding::CodePage:
      n = CompleteCodePagePrefix(m_codePage, data, size);
      break;
    case TextEncoding::Utf8:
      n = CompleteUtf8Prefix(data, size);
      break;
    case TextEncoding::Utf16:
      unit = 2;
      n = size & ~std::size_t{1};
      if (n >= 2 && (data[n - 1] & 0xFC) == 0xD8) n -= 2;  // a high surrogate waits for its pair
      break;
  }
  // A CR at the end waits, so that CR LF is read as one line break.
  if (n >= unit && data[n - unit] == kCr && (unit == 1 || data[n - 1] == 0)) n -= unit;
  return n;
}

std::string TextFileReader::Decode(std::size_t bytes) const {
  const std::string_view raw(m_pending.data(), bytes);
  switch (m_encoding) {
    case TextEncoding::CodePage:
      return CodePageToUtf8(m_codePage, raw, true).value_or(std::string());
    case TextEncoding::Utf8:
      return Utf16ToUtf8(Utf8ToUtf16(raw));  // malformed bytes become U+FFFD
    case TextEncoding::Utf16: {
      std::u16string units(bytes / 2, u'\0');
      for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(static_cast<std::uint8_t>(raw[2 * i]) |
                                         static_cast<std::uint8_t>(raw[2 * i + 1]) << 8);
      std::string text = Utf16ToUtf8(units);
      if (bytes % 2 != 0) text += "\xEF\xBF\xBD";  // a lone byte at the very end
      return text;
    }
  }
  return {};
}

std::optional<TextFileReader::Chunk> TextFileReader::Next(Status* status) {
  *status = Status::Ok;
  for (;;) {
    if (!m_eof && m_pending.size() < kTextChunkBytes && !ReadMore()) {
      *status = Status::ReadFailed;
      return std::nullopt;
    }
    const std::size_t n = CompletePrefix();
    if (n == 0) {
      if (m_eof) return std::nullopt;
      continue;
    }
    Chunk chunk;
    chunk.bytes = n;
    chunk.text = UnifyLineBreaks(Decode(n));
    m_pending.erase(0, n);
    return chunk;
  }
}

}  // namespace vexo
