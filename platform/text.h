// Text helpers shared by every layer: UTF-8 <-> UTF-16 conversion, conversion
// between UTF-8 and the 8-bit Windows code pages (1252, 936, 950) through iconv,
// character-safe truncation, printf-style formatting into std::string, and the
// operating system's text for an errno value.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vexo {

// Number of characters (code points) of UTF-8 text; stray bytes count as one each.
std::size_t Utf8Length(std::string_view text);

// The longest prefix of text holding at most maxChars characters, never cut
// inside a UTF-8 sequence.
std::string_view Utf8Prefix(std::string_view text, std::size_t maxChars);

// The longest prefix of text that fits in maxBytes bytes, never cut inside a
// UTF-8 sequence.
std::string_view Utf8PrefixBytes(std::string_view text, std::size_t maxBytes);

// UTF-8 to UTF-16 and back; malformed input becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-16LE bytes of UTF-8 text (what the log files hold).
std::string Utf8ToUtf16LeBytes(std::string_view text);

// iconv name of a Windows code page: 1252 -> "CP1252", 936 -> "GBK", 950 -> "BIG5";
// any other value falls back to CP1252.
const char* CodePageCharset(std::uint32_t codePage);

// 8-bit text in codePage to UTF-8. Without replace, returns nullopt when a byte
// sequence has no meaning in the code page; with replace, such bytes become U+FFFD.
std::optional<std::string> CodePageToUtf8(std::uint32_t codePage, std::string_view bytes,
                                          bool replace = false);

// UTF-8 to 8-bit text in codePage. Without replace, returns nullopt when a
// character has no form in the code page; with replace, it becomes '?'.
std::optional<std::string> Utf8ToCodePage(std::uint32_t codePage, std::string_view text,
                                          bool replace = false);

// vsnprintf into a string holding at most maxChars characters (UTF-8 safe cut).
std::string FormatV(std::size_t maxChars, const char* format, va_list args);
std::string Format(std::size_t maxChars, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// The system's text for an errno value, or nullopt when the system has none.
std::optional<std::string> SystemErrorText(int code);

// ASCII upper-casing, as the modem's result lines are read.
std::string AsciiUpper(std::string_view text);
// ASCII lower-casing, as names are compared without regard to case.
std::string AsciiLower(std::string_view text);

}  // namespace vexo
