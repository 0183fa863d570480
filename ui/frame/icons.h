// The small pictures of the main window, drawn at run time: the status icons of
// the fax list (one per status value), the sort arrows of the list header, the
// folder pictures of the tree and the header, and the tool bar's pictures.
#pragma once

#include <QIcon>

#include <cstdint>

namespace vexo::ui {

// Number of status icons; a status at or past it (0xFFFF included) has none.
constexpr int kStatusIconCount = 6;

// The icon for a record's status (property 101: job result + 1), or a null icon.
QIcon StatusIcon(std::uint32_t status);
// The header's sort arrow.
QIcon SortArrowIcon(bool descending);
// The picture of a folder (0 sent, 1 sending, 2 inbox, 3 deleted).
QIcon FolderIcon(int folder);

enum class ToolPicture { NewFax, Receive, Settings, Delete, Help };
QIcon ToolIcon(ToolPicture picture);
// The program's own icon.
QIcon AppIcon();

}  // namespace vexo::ui
