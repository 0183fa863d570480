#include "app/store/record_file.h"

namespace vexo {

bool IsPlainRecordFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::optional<std::filesystem::path> RecordFilePath(const std::filesystem::path& dataDir,
                                                    std::string_view name) {
  if (!IsPlainRecordFileName(name)) return std::nullopt;
  return dataDir / std::filesystem::path(name);
}

}  // namespace vexo
