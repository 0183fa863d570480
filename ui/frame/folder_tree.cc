#include "ui/frame/folder_tree.h"

#include <QHeaderView>

#include "app/store/fax_record.h"
#include "ui/frame/icons.h"

namespace vexo::ui {

CFolderTree::CFolderTree(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("CFolderTree"));
  setColumnCount(1);
  header()->hide();
  setRootIsDecorated(false);
  for (const FolderInfo& folder : kFolders) {
    auto* item = new QTreeWidgetItem(this);
    item->setText(0, QString::fromStdString(FolderDisplayName(folder.index)));
    item->setIcon(0, FolderIcon(folder.index));
    item->setData(0, Qt::UserRole, folder.index);
  }
  connect(this, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* item, QTreeWidgetItem*) {
            if (item) emit FolderChosen(item->data(0, Qt::UserRole).toInt());
          });
}

void CFolderTree::SetCurrentFolder(int folder) {
  if (!IsFolder(folder)) return;
  const QSignalBlocker block(this);
  setCurrentItem(topLevelItem(folder));
}

int CFolderTree::CurrentFolder() const {
  const QTreeWidgetItem* item = currentItem();
  return item ? item->data(0, Qt::UserRole).toInt() : -1;
}

}  // namespace vexo::ui
