// libFuzzer target for the cover page template interpreter: the input is taken
// as a template and drawn (every tag, line rule, note and separator path), once
// as 8-bit text and with a note and a logo. Nothing may crash, hang or allocate
// without bound. Seeds: the sample templates in resources/cover.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/error_pool.h"
#include "document/cover_page.h"

namespace {

vexo::CoverPage& Cover() {
  static vexo::CoverPage cover;
  static const bool ready = [] {
    cover.Initialize();
    cover.SetCodePage(936);
    vexo::CoverProfile profile;
    profile.fullName = "Fuzz Sender";
    profile.logoFile = std::string(VEXO_SOURCE_DIR) + "/resources/cover/logo.bmp";
    cover.SetProfile(profile);
    vexo::CoverFaxDetails details;
    details.note = "first line\r\nsecond line with some words to wrap\n\tand a tab -- done";
    cover.SetFaxDetails(details);
    return true;
  }();
  (void)ready;
  return cover;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Cover().PreviewCoverText(std::string_view(reinterpret_cast<const char*>(data), size));
  vexo::ErrorPool::Instance().Clear();
  return 0;
}
