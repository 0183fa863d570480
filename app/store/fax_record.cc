#include "app/store/fax_record.h"

#include "base/strings.h"

namespace vexo {

int FolderFromType(std::uint32_t databaseType) {
  for (const FolderInfo& folder : kFolders)
    if (folder.databaseType == databaseType) return folder.index;
  return FOLDER_SENT;
}

std::string FolderDisplayName(int folder) {
  const FolderInfo& info = kFolders[IsFolder(folder) ? folder : FOLDER_SENT];
  return HasResString(info.nameStringId) ? LoadResString(info.nameStringId)
                                         : std::string(info.englishFallback);
}

int FolderFromCliName(std::string_view name) {
  for (const FolderInfo& folder : kFolders)
    if (name == folder.cliName) return folder.index;
  return -1;
}

}  // namespace vexo
