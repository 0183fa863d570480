// The folder tree of the main window: the four fax folders with their names
// from the string table; choosing one asks the fax list to show it.
#pragma once

#include <QTreeWidget>

namespace vexo::ui {

class CFolderTree : public QTreeWidget {
  Q_OBJECT
 public:
  explicit CFolderTree(QWidget* parent = nullptr);
  // Marks a folder as the chosen one without telling anyone.
  void SetCurrentFolder(int folder);
  int CurrentFolder() const;

 signals:
  void FolderChosen(int folder);
};

}  // namespace vexo::ui
