// Fuzz target: the address book reader. A contacts file comes from whatever
// program exported it, or from a damaged disk, so it can hold anything. The
// reader must never crash, must give only valid UTF-8 texts, and must place
// every number into one of the nine kinds at most once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/contacts/vcard.h"

namespace {

bool ValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t len = c < 0x80             ? 1
                      : (c & 0xE0) == 0xC0 ? 2
                      : (c & 0xF0) == 0xE0 ? 3
                      : (c & 0xF8) == 0xF0 ? 4
                                           : 0;
    if (len == 0 || i + len > text.size()) return false;
    for (std::size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  vexo::VCardReadResult result = vexo::ParseVCards(bytes);
  for (const vexo::Contact& c : result.contacts) {
    if (!ValidUtf8(c.fileAs) || !ValidUtf8(c.name) || !ValidUtf8(c.second) || !ValidUtf8(c.id))
      std::abort();
    for (const std::string& n : c.numbers)
      if (!ValidUtf8(n)) std::abort();
  }
  if (result.damaged && result.problem.empty()) std::abort();
  vexo::SortByFileAs(result.contacts);
  return 0;
}
