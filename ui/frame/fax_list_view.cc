#include "ui/frame/fax_list_view.h"

#include <QDateTime>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHeaderView>
#include <QMenu>

#include <algorithm>
#include <chrono>
#include <numeric>
#include <optional>

#include "app/jobs/outbox.h"
#include "app/settings/settings.h"
#include "app/store/db_func.h"
#include "app/store/record_file.h"
#include "base/error_pool.h"
#include "base/presenter.h"
#include "base/string_ids.h"
#include "document/pdf_export.h"
#include "ui/common/ui_strings.h"
#include "ui/frame/fax_info_view.h"
#include "ui/frame/frame_context.h"
#include "ui/frame/icons.h"
#include "ui/frame/outbox_queue.h"

namespace vexo::ui {
namespace {

constexpr int kOidRole = Qt::UserRole;
constexpr int kColumnCount = 4;
constexpr int kDateColumn = 3;
// The Sending folder's own columns, after the four.
constexpr int kNextTryColumn = 4;
constexpr int kTriesColumn = 5;
constexpr int kLastResultColumn = 6;
constexpr int kQueueColumnCount = 7;
// Column widths in pixels, with and without the queue's columns.
constexpr int kContactWidth = 150;
constexpr int kTelephoneWidth = 120;
constexpr int kQueueContactWidth = 100;
constexpr int kQueueTelephoneWidth = 95;
constexpr int kQueueTimeWidth = 110;
constexpr int kTriesWidth = 45;
// How a time of the queue is shown, as the list shows dates.
const QString kQueueTimeFormat = QStringLiteral("yyyy-M-d H:m");

// The listing's column: 1 to 3, where 0 and anything above 3 mean 1.
int LimitColumn(int column) { return column < 1 || column > 3 ? 1 : column; }
// The listing's direction: 0 to 2, where anything above 2 means 0.
int LimitDirection(int direction) { return direction < 0 || direction > 2 ? 0 : direction; }

// One item's value of the sorted column, read from the store.
struct SortKey {
  bool read = false;
  std::uint16_t status = 0;
  QString text;
  std::uint64_t date = 0;
};

// -1, 0 or 1 by the column's rule; a value that could not be read compares equal.
int Compare(int column, const SortKey& a, const SortKey& b) {
  if (!a.read || !b.read) return 0;
  switch (column) {
    case 0:
      return a.status < b.status ? -1 : a.status > b.status ? 1 : 0;
    case 3:
      return a.date < b.date ? -1 : a.date > b.date ? 1 : 0;
    default: {
      const int c = a.text.compare(b.text, Qt::CaseInsensitive);
      return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
  }
}

FaxListItem ItemOfRecord(const FaxRecord& record) {
  FaxListItem item;
  item.oid = record.oid;
  item.status = record.status;
  item.contact = record.contact.value_or("");
  item.telephone = record.telephone.value_or("");
  item.date = record.date;
  item.dateText = FormatListDate(record.date);
  return item;
}

bool IsQueueCommand(int id) {
  return id == ID_FAX_SEND_NOW || id == ID_FAX_RESCHEDULE || id == ID_FAX_CANCEL_QUEUED;
}

QString NextTryText(const OutboxState& state) {
  if (state.status == OutboxStatus::kFailed) return ResString(str::kQueueGivenUp);
  if (state.status == OutboxStatus::kNeedsNumber) return ResString(str::kQueueNeedsNumber);
  return QDateTime::fromSecsSinceEpoch(state.nextTry).toString(kQueueTimeFormat);
}

// Asks when a queued fax goes out, starting from `shown`; nullopt when the
// user cancelled.
std::optional<QDateTime> AskSendTime(QWidget* parent, const QDateTime& shown) {
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("RescheduleDlg"));
  dialog.setWindowTitle(ResString(str::kRescheduleTitle));
  auto* form = new QFormLayout(&dialog);
  auto* edit = new QDateTimeEdit(shown, &dialog);
  edit->setCalendarPopup(true);
  edit->setDisplayFormat(kQueueTimeFormat);
  form->addRow(ResString(str::kRescheduleLabel), edit);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  form->addRow(buttons);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return edit->dateTime();
}

}  // namespace

CFaxListView::CFaxListView(FrameContext& context, CFaxInfoView& info, QWidget* parent)
    : QTreeWidget(parent), m_context(context), m_info(info) {
  setObjectName(QStringLiteral("CFaxListView"));
  setColumnCount(kColumnCount);
  setHeaderLabels({QString(), ResString(str::kColumnContact), ResString(str::kColumnTelephone),
                   ResString(str::kColumnDate)});
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setAllColumnsShowFocus(true);
  setSortingEnabled(false);
  header()->setSectionsClickable(true);
  header()->setSortIndicatorShown(false);
  header()->setStretchLastSection(true);
  setColumnWidth(0, 40);
  setColumnWidth(1, kContactWidth);
  setColumnWidth(2, kTelephoneWidth);
  setContextMenuPolicy(Qt::CustomContextMenu);
  BuildMenu();
  connect(header(), &QHeaderView::sectionClicked, this, &CFaxListView::SortByColumn);
  connect(this, &QTreeWidget::itemSelectionChanged, this, &CFaxListView::SelectionChanged);
  connect(this, &QTreeWidget::itemActivated, this,
          [this](QTreeWidgetItem* item, int) { Activated(item); });
  connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    for (QAction* action : m_menu->actions()) {
      const int id = action->data().isValid() ? action->data().toInt() : 0;
      if (id) action->setEnabled(CommandEnabled(id));
      action->setVisible(!IsQueueCommand(id) || m_folder == FOLDER_SENDING);
      if (QMenu* sub = action->menu()) {
        action->setEnabled(CommandEnabled(ID_FAX_DELETE));
        for (QAction* entry : sub->actions())
          entry->setEnabled(CommandEnabled(entry->data().toInt()));
      }
    }
    m_menu->exec(viewport()->mapToGlobal(at));
  });
  if (m_context.settings) {
    m_column = LimitColumn(static_cast<int>(m_context.settings->SortOnColumn));
    m_direction = LimitDirection(static_cast<int>(m_context.settings->SortDirection));
  }
  m_clickedColumn = m_column;
  m_sign = m_direction == 0 ? 1 : -1;
}

CFaxListView::~CFaxListView() {
  if (!m_context.settings) return;
  if (m_folder >= 0) m_context.settings->OpenedDatabase = static_cast<std::uint32_t>(m_folder);
  m_context.settings->SortOnColumn = static_cast<std::uint32_t>(m_column);
  m_context.settings->SortDirection = static_cast<std::uint32_t>(m_direction);
}

void CFaxListView::BuildMenu() {
  m_menu = new QMenu(this);
  m_menu->setObjectName(QStringLiteral("FaxListMenu"));
  auto add = [](QMenu* menu, int id, const QString& text) {
    QAction* action = menu->addAction(text);
    action->setData(id);
    action->setObjectName(QStringLiteral("ID_%1").arg(id));
    return action;
  };
  const auto run = [this](QAction* action) {
    if (action->data().isValid()) RunCommand(action->data().toInt());
  };
  add(m_menu, ID_FAX_OPEN, ResString(str::kMenuOpen));
  add(m_menu, ID_FAX_FORWARD, ResString(str::kMenuForward));
  add(m_menu, ID_FAX_RESEND, ResString(str::kMenuResend));
  add(m_menu, ID_FAX_DELETE, ResString(str::kMenuDelete));
  add(m_menu, ID_FAX_SEND_NOW, ResString(str::kQueueSendNow));
  add(m_menu, ID_FAX_RESCHEDULE, ResString(str::kQueueReschedule));
  add(m_menu, ID_FAX_CANCEL_QUEUED, ResString(str::kQueueCancel));
  m_menu->addSeparator();
  QMenu* copy = m_menu->addMenu(ResString(str::kMenuCopyTo));
  copy->setObjectName(QStringLiteral("CopyMenu"));
  add(copy, ID_FAX_COPY_SENT, ResString(str::kMenuToSent));
  add(copy, ID_FAX_COPY_INBOX, ResString(str::kMenuToInbox));
  add(copy, ID_FAX_COPY_DELETED, ResString(str::kMenuToDeleted));
  QMenu* move = m_menu->addMenu(ResString(str::kMenuMoveTo));
  move->setObjectName(QStringLiteral("MoveMenu"));
  add(move, ID_FAX_MOVE_SENT, ResString(str::kMenuToSent));
  add(move, ID_FAX_MOVE_INBOX, ResString(str::kMenuToInbox));
  add(move, ID_FAX_MOVE_DELETED, ResString(str::kMenuToDeleted));
  m_menu->addSeparator();
  add(m_menu, ID_FAX_EXPORT_PDF, ResString(str::kExportPdf));
  connect(m_menu, &QMenu::triggered, this, run);
}

void CFaxListView::Flush(bool quiet) {
  if (ErrorPool::Instance().Count() > 0) FlushErrorPool(m_context.systemLog, quiet);
}

bool CFaxListView::SwitchFolder(int folder, bool refresh) {
  if (!IsFolder(folder)) folder = FOLDER_SENT;
  if (folder == m_folder && !refresh) return true;
  return ListFolder(folder, m_column, m_direction);
}

bool CFaxListView::ListFolder(int folder, int column, int direction) {
  column = LimitColumn(column);
  direction = LimitDirection(direction);
  DBFunc* store = m_context.store ? m_context.store() : nullptr;
  if (!IsFolder(folder)) folder = FOLDER_SENT;
  ShowQueueColumns(folder == FOLDER_SENDING);
  headerItem()->setIcon(0, FolderIcon(folder));
  m_folder = folder;
  m_column = column;
  m_direction = direction;
  m_clickedColumn = column;
  m_sign = direction == 0 ? 1 : -1;
  if (!store || !store->ListFolder(*this, FolderType(folder),
                                   PROP_STATUS + static_cast<unsigned>(column), direction)) {
    DeleteAllItems();
    m_info.Clear();
    m_shownOid = 0;
    Flush();
    return false;
  }
  m_info.Clear();
  m_shownOid = 0;
  ShowHeaderSort();
  if (folder == FOLDER_SENDING) FillQueueColumns();
  return true;
}

void CFaxListView::ShowQueueColumns(bool shown) {
  const int count = shown ? kQueueColumnCount : kColumnCount;
  if (columnCount() == count) return;
  QStringList labels{QString(), ResString(str::kColumnContact), ResString(str::kColumnTelephone),
                     ResString(str::kColumnDate)};
  if (shown)
    labels << ResString(str::kColumnNextTry) << ResString(str::kColumnTries)
           << ResString(str::kColumnLastResult);
  setColumnCount(count);
  setHeaderLabels(labels);
  // Narrower columns, so that the queue's state fits beside the date.
  setColumnWidth(1, shown ? kQueueContactWidth : kContactWidth);
  setColumnWidth(2, shown ? kQueueTelephoneWidth : kTelephoneWidth);
  if (!shown) return;
  setColumnWidth(kDateColumn, kQueueTimeWidth);
  setColumnWidth(kNextTryColumn, kQueueTimeWidth);
  setColumnWidth(kTriesColumn, kTriesWidth);
}

void CFaxListView::FillQueueColumns() {
  DBFunc* store = m_context.store ? m_context.store() : nullptr;
  std::vector<QueuedFax> faxes;
  if (!store || !store->ListQueued(faxes)) {
    Flush(true);
    return;
  }
  for (int row = 0; row < topLevelItemCount(); ++row) {
    const CEOID oid = ItemOid(row);
    const auto fax = std::ranges::find_if(
        faxes, [oid](const QueuedFax& queued) { return queued.record.oid == oid; });
    if (fax == faxes.end() || !fax->state) continue;  // not queued: never sent by itself
    QTreeWidgetItem* item = topLevelItem(row);
    item->setText(kNextTryColumn, NextTryText(*fax->state));
    item->setText(kTriesColumn, QString::number(fax->state->tries));
    item->setText(kLastResultColumn, QString::fromStdString(OutboxOutcomeText(*fax->state)));
  }
}

void CFaxListView::DeleteAllItems() {
  const QSignalBlocker block(this);
  clear();
  m_recordCount = 0;
}

void CFaxListView::SetRecordCount(std::size_t count) { m_recordCount = count; }

QTreeWidgetItem* CFaxListView::MakeItem(const FaxListItem& item) const {
  auto* row = new QTreeWidgetItem;
  row->setData(0, kOidRole, QVariant::fromValue<quint32>(item.oid));
  row->setIcon(0, StatusIcon(item.status));
  row->setText(1, QString::fromStdString(item.contact));
  row->setText(2, QString::fromStdString(item.telephone));
  row->setText(3, QString::fromStdString(item.dateText));
  return row;
}

void CFaxListView::AddItem(const FaxListItem& item) {
  const QSignalBlocker block(this);
  addTopLevelItem(MakeItem(item));
}

void CFaxListView::RecordFiled(int folder, const FaxRecord& record) {
  if (folder != m_folder || record.oid == 0) return;
  const QSignalBlocker block(this);
  insertTopLevelItem(0, MakeItem(ItemOfRecord(record)));
  ++m_recordCount;
  if (folder == FOLDER_SENDING) FillQueueColumns();
}

CEOID CFaxListView::ItemOid(int row) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item ? item->data(0, kOidRole).value<quint32>() : 0;
}

std::vector<CEOID> CFaxListView::SelectedOids() const {
  std::vector<CEOID> oids;
  for (int row = 0; row < topLevelItemCount(); ++row) {
    if (topLevelItem(row)->isSelected()) oids.push_back(ItemOid(row));
  }
  return oids;
}

bool CFaxListView::SelectRecord(CEOID oid) {
  for (int row = 0; row < topLevelItemCount(); ++row) {
    if (ItemOid(row) == oid) {
      setCurrentItem(topLevelItem(row));
      return true;
    }
  }
  return false;
}

void CFaxListView::SortByColumn(int column) {
  if (column <= 0 || column >= kColumnCount) {
    setFocus();
    return;
  }
  if (column == m_clickedColumn) m_sign = -m_sign;
  m_clickedColumn = column;
  DBFunc* store = m_context.store ? m_context.store() : nullptr;
  const unsigned property = PROP_STATUS + static_cast<unsigned>(column);

  const int count = topLevelItemCount();
  std::vector<SortKey> keys(static_cast<std::size_t>(count));
  for (int row = 0; row < count; ++row) {
    FaxRecord record;
    SortKey& key = keys[static_cast<std::size_t>(row)];
    key.read = store && store->ReadRecordProperty(ItemOid(row), property, record) == 1;
    if (!key.read) {
      Flush(true);
      continue;
    }
    key.status = record.status;
    key.text =
        QString::fromStdString((column == 1 ? record.contact : record.telephone).value_or(""));
    key.date = record.date.Ticks();
  }
  // A stable merge sort: items that compare equal (or could not be read) keep
  // their order, and a comparison that is not a strict order cannot make it
  // leave the range.
  std::vector<int> order(static_cast<std::size_t>(count));
  std::iota(order.begin(), order.end(), 0);
  const int sign = m_sign;
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return sign * Compare(column, keys[static_cast<std::size_t>(a)],
                          keys[static_cast<std::size_t>(b)]) <
           0;
  });

  const QSignalBlocker block(this);
  std::vector<QTreeWidgetItem*> items;
  items.reserve(static_cast<std::size_t>(count));
  for (int row = count - 1; row >= 0; --row) items.push_back(takeTopLevelItem(row));
  std::reverse(items.begin(), items.end());
  for (int index : order) addTopLevelItem(items[static_cast<std::size_t>(index)]);

  m_column = column;
  m_direction = m_sign < 0 ? 1 : 0;
  ShowHeaderSort();
}

void CFaxListView::ShowHeaderSort() {
  QTreeWidgetItem* head = headerItem();
  if (m_arrowColumn > 0) head->setIcon(m_arrowColumn, QIcon());
  head->setIcon(m_column, SortArrowIcon(m_direction != 0));
  m_arrowColumn = m_column;
}

void CFaxListView::SelectionChanged() {
  for (int row = 0; row < topLevelItemCount(); ++row) {
    if (!topLevelItem(row)->isSelected()) continue;
    ShowItemAt(row);
    return;
  }
}

void CFaxListView::ShowItemAt(int row) {
  const CEOID oid = ItemOid(row);
  if (oid == m_shownOid) return;
  DBFunc* store = m_context.store ? m_context.store() : nullptr;
  FaxRecord record;
  if (!store || !store->ReadRecord(oid, record)) {
    Flush();
    return;
  }
  m_info.ShowRecord(record);
  m_shownOid = oid;
}

bool CFaxListView::CommandEnabled(int id) const {
  const bool selected = !selectedItems().isEmpty();
  switch (id) {
    case ID_FAX_RESEND:
      return selected && m_folder == FOLDER_SENT;
    case ID_FAX_MOVE_SENT:
      return selected && m_folder != FOLDER_SENT;
    case ID_FAX_MOVE_INBOX:
      return selected && m_folder != FOLDER_INBOX;
    case ID_FAX_MOVE_DELETED:
      return selected && m_folder != FOLDER_DELETED;
    case ID_FAX_SEND_NOW:
    case ID_FAX_RESCHEDULE:
    case ID_FAX_CANCEL_QUEUED:
      return selected && m_folder == FOLDER_SENDING && m_context.outbox;
    default:
      return selected;
  }
}

void CFaxListView::RunCommand(int id) {
  if (!CommandEnabled(id)) return;
  switch (id) {
    case ID_FAX_OPEN:
      if (QTreeWidgetItem* item = currentItem()) Activated(item);
      break;
    case ID_FAX_FORWARD:
    case ID_FAX_RESEND: {
      FaxRecord record;
      if (ReadSelected(record)) emit ForwardRequested(record, id == ID_FAX_RESEND);
      break;
    }
    case ID_FAX_DELETE:
      if (ShowMessage(MB_ICONEXCLAMATION | MB_YESNO, nullptr, str::kAskDeleteSelected) == IDYES)
        DeleteSelection();
      break;
    case ID_FAX_COPY_SENT:
      TransferSelection(FOLDER_SENT, false);
      break;
    case ID_FAX_COPY_INBOX:
      TransferSelection(FOLDER_INBOX, false);
      break;
    case ID_FAX_COPY_DELETED:
      TransferSelection(FOLDER_DELETED, false);
      break;
    case ID_FAX_MOVE_SENT:
      TransferSelection(FOLDER_SENT, true);
      break;
    case ID_FAX_MOVE_INBOX:
      TransferSelection(FOLDER_INBOX, true);
      break;
    case ID_FAX_MOVE_DELETED:
      TransferSelection(FOLDER_DELETED, true);
      break;
    case ID_FAX_EXPORT_PDF:
      ExportSelectedAsPdf();
      break;
    case ID_FAX_SEND_NOW:
    case ID_FAX_RESCHEDULE:
      ScheduleSelected(id == ID_FAX_SEND_NOW);
      break;
    case ID_FAX_CANCEL_QUEUED:
      CancelSelected();
      break;
    default:
      break;
  }
}

bool CFaxListView::ReadSelected(FaxRecord& record) {
  const auto oids = SelectedOids();
  DBFunc* store = m_context.store ? m_context.store() : nullptr;
  if (oids.empty() || !store) return false;
  if (!store->ReadRecord(oids.front(), record)) {
    Flush();
    return false;
  }
  return true;
}

void CFaxListView::ScheduleSelected(bool now) {
  DBFunc* store = m_context.store ? m_context.store() : nullptr;
  Outbox* outbox = m_context.outbox ? m_context.outbox() : nullptr;
  const auto oids = SelectedOids();
  if (!store || !outbox || oids.empty()) return;
  std::int64_t when = OutboxSecondsNow();
  if (!now) {
    QueuedFax first;
    if (store->ReadQueued(oids.front(), first) && first.state)
      when = std::max(when, first.state->nextTry);
    const auto chosen = AskSendTime(window(), QDateTime::fromSecsSinceEpoch(when));
    if (!chosen) return;
    when = chosen->toSecsSinceEpoch();
  }
  // Send now is a reschedule to now; the outbox then finds the fax due.
  for (CEOID oid : oids) outbox->Reschedule(oid, std::chrono::system_clock::from_time_t(when));
  FillQueueColumns();
  Flush();
  emit OutboxChanged();
}

void CFaxListView::CancelSelected() {
  Outbox* outbox = m_context.outbox ? m_context.outbox() : nullptr;
  if (!outbox) {
    Flush();
    return;
  }
  // Out of the queue into the Deleted folder, as a delete moves records.
  for (CEOID oid : SelectedOids()) outbox->Cancel(oid);
  Flush();
  Refresh();
}

void CFaxListView::DeleteSelection() {
  // Deleting in the Deleted folder is for good; elsewhere it moves to Deleted.
  TransferSelection(FOLDER_DELETED, true);
}

void CFaxListView::TransferSelection(int target, bool move) {
  DBFunc* store = m_context.store ? m_context.store() : nullptr;
  if (!store) {
    Flush();
    return;
  }
  std::vector<int> rows;
  for (int row = 0; row < topLevelItemCount(); ++row) {
    if (topLevelItem(row)->isSelected()) rows.push_back(row);
  }
  if (rows.empty()) return;
  const bool forGood = move && m_folder == FOLDER_DELETED && target == FOLDER_DELETED;
  std::vector<CEOID> added;
  int firstRemoved = -1;
  const QSignalBlocker block(this);
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    const CEOID oid = ItemOid(*it);
    const CEOID one[] = {oid};
    if (forGood)
      store->DeleteRecords(m_folder, one);
    else if (move)
      store->MoveRecords(m_folder, target, one);
    else
      store->CopyRecords(m_folder, target, one, &added);
    if (!move) continue;
    // Handled when the record has left the folder shown.
    if (store->FindRecordFolder(oid) == m_folder) continue;
    delete takeTopLevelItem(*it);
    if (m_recordCount > 0) --m_recordCount;
    firstRemoved = *it;
  }
  // Copies into the folder shown join the list at once.
  if (target == m_folder) {
    for (CEOID oid : added) {
      FaxRecord record;
      if (store->ReadRecord(oid, record)) RecordFiled(target, record);
    }
  }
  Flush();
  if (firstRemoved < 0) return;
  m_shownOid = 0;
  const int count = topLevelItemCount();
  if (count == 0) {
    m_info.Clear();
    return;
  }
  const int row = std::min(firstRemoved, count - 1);
  clearSelection();
  topLevelItem(row)->setSelected(true);
  setCurrentItem(topLevelItem(row), 0, QItemSelectionModel::NoUpdate);
  ShowItemAt(row);
}

void CFaxListView::Activated(QTreeWidgetItem* item) {
  if (!item || !m_context.showViewer || !m_context.settings) return;
  DBFunc* store = m_context.store ? m_context.store() : nullptr;
  FaxRecord record;
  if (!store || !store->ReadRecord(item->data(0, kOidRole).value<quint32>(), record)) {
    Flush();
    return;
  }
  const std::string name = record.fileName.value_or("");
  const auto path = RecordFilePath(m_context.settings->TIFDataDir, name);
  if (!path) {
    ReportError(0, kMsgDefault, "CFaxListView", "OnItemActivate",
                "The fax file name [%s] is not valid.", name.c_str());
    Flush();
    return;
  }
  m_context.showViewer(window(), *path);
}

void CFaxListView::ExportSelectedAsPdf() {
  FaxRecord record;
  if (!m_context.settings || !ReadSelected(record)) return;
  const std::string name = record.fileName.value_or("");
  const auto path = RecordFilePath(m_context.settings->TIFDataDir, name);
  if (!path) {
    ReportError(0, kMsgDefault, "CFaxListView", "OnExportPdf",
                "The fax file name [%s] is not valid.", name.c_str());
    Flush();
    return;
  }
  QString suggested = QString::fromStdString(path->stem().string()) + QStringLiteral(".pdf");
  const QString pdf = m_context.askPdfFile
                          ? m_context.askPdfFile(window(), suggested)
                          : QFileDialog::getSaveFileName(window(), ResString(str::kExportPdf),
                                                         suggested, ResString(str::kPdfFilter));
  if (pdf.isEmpty()) return;
  std::uint32_t pages = 0;
  if (!ExportFaxToPdf(path->string(), pdf.toStdString(), &pages)) Flush();
}

}  // namespace vexo::ui
