// Reads a text file for the text renderer in small chunks and hands each chunk
// over as UTF-8 program text whose line breaks (CR LF, lone CR, lone LF) are all
// one '\n'. Three encodings: UTF-16LE behind its byte-order mark, UTF-8 (behind
// its mark, or a file that is valid UTF-8 and not pure ASCII), and 8-bit text in
// a code page. A chunk never ends inside a double-byte character, a UTF-8
// sequence, a surrogate pair or a CR LF pair: such a tail waits for the next chunk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "document/tiff_lib.h"

namespace vexo {

enum class TextEncoding : std::uint32_t { CodePage = 1, Utf16 = 2, Utf8 = 3 };

// Bytes read per chunk (the renderer's 512-byte buffer).
constexpr std::size_t kTextChunkBytes = 512;

// Whether bytes are complete, valid UTF-8 with at least one non-ASCII
// character; state carries between calls.
class Utf8Sniffer {
 public:
  void Feed(const std::uint8_t* data, std::size_t size);
  bool IsUtf8() const { return m_valid && m_pending == 0 && m_nonAscii; }

 private:
  bool m_valid = true;
  bool m_nonAscii = false;
  int m_pending = 0;        // continuation bytes still expected
  std::uint32_t m_min = 0;  // smallest value the sequence may have
  std::uint32_t m_value = 0;
};

// The length of the longest prefix of 8-bit text in codePage that ends on a
// character boundary (a trailing lead byte of a double-byte code page is left out).
std::size_t CompleteCodePagePrefix(std::uint32_t codePage, const std::uint8_t* data,
                                   std::size_t size);
// The same for UTF-8 (an incomplete sequence at the end is left out).
std::size_t CompleteUtf8Prefix(const std::uint8_t* data, std::size_t size);

class TextFileReader {
 public:
  enum class Status { Ok, OpenFailed, SizeFailed, ReadFailed };

  // Opens file read-only, detects the encoding (reading the file once through
  // when it has no byte-order mark) and learns the text size (the mark not
  // counted). codePage is the 8-bit text's code page.
  Status Open(const std::string& file, std::uint32_t codePage);
  int Error() const { return m_error; }
  TextEncoding Encoding() const { return m_encoding; }
  std::uint64_t TextBytes() const { return m_textBytes; }

  struct Chunk {
    std::string text;       // UTF-8, line breaks as '\n'
    std::size_t bytes = 0;  // file bytes this chunk consumed
  };
  // The next chunk; an empty optional at the end of the file, Status ReadFailed
  // in *status after a read error.
  std::optional<Chunk> Next(Status* status);

 private:
  bool ReadMore();
  std::size_t CompletePrefix() const;
  std::string Decode(std::size_t bytes) const;

  UniqueFd m_fd;
  int m_error = 0;
  std::uint32_t m_codePage = 1252;
  TextEncoding m_encoding = TextEncoding::CodePage;
  std::uint64_t m_textBytes = 0;
  std::string m_pending;  // bytes read but not yet handed out
  bool m_eof = false;
};

}  // namespace vexo
