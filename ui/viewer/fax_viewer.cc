#include "ui/viewer/fax_viewer.h"

#include "ui/viewer/tiff_editor.h"

namespace vexo::ui {

bool OpenFaxViewer(QWidget* parent, const std::string& tiffPath, LogFile* systemLog) {
  CTiffEditor viewer(systemLog, parent);
  if (viewer.ShowTiff(tiffPath) != 1) return false;
  viewer.setWindowState(viewer.windowState() | Qt::WindowMaximized);
  viewer.exec();
  return true;
}

}  // namespace vexo::ui
