#include "base/code_page.h"

#include <atomic>

#include "platform/text.h"

namespace vexo {
namespace {
std::atomic<std::uint32_t> g_codePage{kDefaultCodePage};
}

std::uint32_t AnsiCodePage() { return g_codePage.load(); }
void SetAnsiCodePage(std::uint32_t codePage) { g_codePage.store(codePage); }

std::optional<std::string> WideToMulti(std::string_view text) {
  return Utf8ToCodePage(AnsiCodePage(), text);
}
std::optional<std::string> MultiToWide(std::string_view bytes) {
  return CodePageToUtf8(AnsiCodePage(), bytes);
}
std::string WideToMultiLossy(std::string_view text) {
  return Utf8ToCodePage(AnsiCodePage(), text, true).value_or(std::string());
}
std::string MultiToWideLossy(std::string_view bytes) {
  return CodePageToUtf8(AnsiCodePage(), bytes, true).value_or(std::string());
}

}  // namespace vexo
