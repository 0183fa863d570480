#include "platform/text.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace vexo {
namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the UTF-8 sequence starting with lead, or 1 for a stray byte.
std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

// Decodes one code point at text[pos]; advances pos. Malformed input gives U+FFFD.
char32_t DecodeOne(std::string_view text, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  const std::size_t len = SequenceLength(lead);
  if (len == 1) {
    ++pos;
    return lead < 0x80 ? lead : 0xFFFD;
  }
  if (pos + len > text.size()) {
    ++pos;
    return 0xFFFD;
  }
  char32_t cp = lead & (0x7F >> len);
  for (std::size_t i = 1; i < len; ++i) {
    const auto c = static_cast<unsigned char>(text[pos + i]);
    if (!IsContinuation(c)) {
      ++pos;
      return 0xFFFD;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  pos += len;
  static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

IconvHandle OpenIconv(const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
  return IconvHandle(cd);
}

// Runs iconv over input; on an unconvertible or invalid sequence either fails
// or appends replacement and skips skipBytes(input position) bytes.
std::optional<std::string> Convert(const char* to, const char* from, std::string_view input,
                                   bool replace, std::string_view replacement, bool inputIsUtf8) {
  IconvHandle cd = OpenIconv(to, from);
  if (!cd) return std::nullopt;
  std::string out;
  std::vector<char> buffer(4096);
  char* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  while (inLeft > 0) {
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    const std::size_t rc = iconv(static_cast<iconv_t>(cd.get()), &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer.data(), buffer.size() - outLeft);
    if (rc != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    if (!replace) return std::nullopt;
    // EILSEQ or EINVAL: skip the offending character (one UTF-8 sequence or one byte).
    std::size_t skip = 1;
    if (inputIsUtf8) {
      const std::size_t at = input.size() - inLeft;
      std::size_t pos = at;
      DecodeOne(input, pos);
      skip = pos - at;
    }
    out += replacement;
    in += skip;
    inLeft -= skip;
  }
  return out;
}

}  // namespace

std::size_t Utf8Length(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t pos = 0; pos < text.size(); ++count) DecodeOne(text, pos);
  return count;
}

std::string_view Utf8Prefix(std::string_view text, std::size_t maxChars) {
  std::size_t pos = 0;
  for (std::size_t n = 0; n < maxChars && pos < text.size(); ++n) DecodeOne(text, pos);
  return text.substr(0, pos);
}

std::string_view Utf8PrefixBytes(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t end = maxBytes;
  while (end > 0 && IsContinuation(static_cast<unsigned char>(text[end]))) --end;
  return text.substr(0, end);
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const char32_t cp = DecodeOne(text, pos);
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::string Utf8ToUtf16LeBytes(std::string_view text) {
  const std::u16string wide = Utf8ToUtf16(text);
  std::string out;
  out.reserve(wide.size() * 2);
  for (char16_t c : wide) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

const char* CodePageCharset(std::uint32_t codePage) {
  switch (codePage) {
    case 936:
      return "GBK";
    case 950:
      return "BIG5";
    default:
      return "CP1252";
  }
}

std::optional<std::string> CodePageToUtf8(std::uint32_t codePage, std::string_view bytes,
                                          bool replace) {
  return Convert("UTF-8", CodePageCharset(codePage), bytes, replace, "\xEF\xBF\xBD", false);
}

std::optional<std::string> Utf8ToCodePage(std::uint32_t codePage, std::string_view text,
                                          bool replace) {
  return Convert(CodePageCharset(codePage), "UTF-8", text, replace, "?", true);
}

std::string FormatV(std::size_t maxChars, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed <= 0) return {};
  std::string out(static_cast<std::size_t>(needed) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<std::size_t>(needed));
  return std::string(Utf8Prefix(out, maxChars));
}

std::string Format(std::size_t maxChars, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = FormatV(maxChars, format, args);
  va_end(args);
  return out;
}

std::optional<std::string> SystemErrorText(int code) {
  char buffer[256];
  const char* text = strerror_r(code, buffer, sizeof buffer);
  if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0) return std::nullopt;
  return std::string(text);
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace vexo
