// The fax file a record names (property 108) is a bare file name inside the data
// directory (TIFDataDir). These helpers refuse every other form (a directory
// part, an absolute path, "." or ".."), so that a damaged or hostile record can
// never make the store delete, or the info pane open, a file elsewhere.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace vexo {

// True when name is one plain file name: not empty, no '/' or '\\', no NUL, and
// neither "." nor "..".
bool IsPlainRecordFileName(std::string_view name);

// dataDir joined with name, or nullopt when name is not a plain file name.
std::optional<std::filesystem::path> RecordFilePath(const std::filesystem::path& dataDir,
                                                    std::string_view name);

}  // namespace vexo
