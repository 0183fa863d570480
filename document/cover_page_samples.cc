// Copies the shipped sample cover pages into the cover directory on first start.
#include <filesystem>
#include <system_error>

#include "base/strings.h"
#include "document/cover_page.h"

namespace vexo {

int InstallSampleCovers(const std::string& coverDir) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path samples = ResourceDir() / "cover";
  fs::directory_iterator it(samples, error);
  if (error) return -1;
  int copied = 0;
  for (const fs::directory_entry& entry : it) {
    if (!entry.is_regular_file(error)) continue;
    const fs::path target = fs::path(coverDir) / entry.path().filename();
    if (fs::exists(target, error)) continue;
    if (fs::copy_file(entry.path(), target, fs::copy_options::skip_existing, error)) ++copied;
  }
  return copied;
}

}  // namespace vexo
