// The process's ANSI code page (1252, 936 or 950) and the two conversions many
// modules share: WideToMulti (program text to 8-bit text in that code page) and
// MultiToWide (back). Program text is UTF-8; the settings decide the code page.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vexo {

constexpr std::uint32_t kDefaultCodePage = 1252;

// The code page used for 8-bit text; 1252 until the settings choose another.
std::uint32_t AnsiCodePage();
void SetAnsiCodePage(std::uint32_t codePage);

// nullopt when a character cannot be converted.
std::optional<std::string> WideToMulti(std::string_view text);
std::optional<std::string> MultiToWide(std::string_view bytes);

// Conversions that never fail: unconvertible characters become '?' or U+FFFD.
std::string WideToMultiLossy(std::string_view text);
std::string MultiToWideLossy(std::string_view bytes);

}  // namespace vexo
