// Entry point of the fax page viewer: the main window opens it when a fax of
// the list is activated, the send summary for the fax it has just made.
#pragma once

#include <string>

class QWidget;

namespace vexo {
class LogFile;
}

namespace vexo::ui {

// Shows the pages of the fax file at tiffPath modally over parent and returns
// when the viewer is closed. False when the file cannot be shown: the reason
// was reported and the error pool flushed into systemLog (may be null) and the
// error dialog.
bool OpenFaxViewer(QWidget* parent, const std::string& tiffPath, LogFile* systemLog = nullptr);

}  // namespace vexo::ui
