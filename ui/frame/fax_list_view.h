// The fax list (CFaxListView): the records of one folder in four columns
// (status icon, contact, telephone, date), listed through the record store in
// the order the settings give, sorted again by a click on a column header, and
// the list's own commands: open, forward, re-send, delete, copy, move and
// export as PDF. The selected record is shown in the info pane. The Sending
// folder, the outbox's queue, shows three more columns (next try, tries, last
// result), and its menu sends a queued fax now, reschedules or cancels it.
#pragma once

#include <QTreeWidget>

#include <cstdint>
#include <vector>

#include "app/store/fax_list_sink.h"
#include "app/store/fax_record.h"

class QMenu;

namespace vexo::ui {

class CFaxInfoView;
struct FrameContext;

// Fax list command ids (the list's context menu).
enum ListCommand : int {
  ID_FAX_FORWARD = 65014,
  ID_FAX_RESEND = 65015,
  ID_FAX_DELETE = 65016,
  ID_FAX_COPY_SENT = 65019,
  ID_FAX_COPY_INBOX = 65020,
  ID_FAX_COPY_DELETED = 65021,
  ID_FAX_MOVE_SENT = 65022,
  ID_FAX_MOVE_INBOX = 65023,
  ID_FAX_MOVE_DELETED = 65024,
  ID_FAX_OPEN = 65465,
  ID_FAX_EXPORT_PDF = 65466,
  // A queued fax of the Sending folder.
  ID_FAX_SEND_NOW = 65820,
  ID_FAX_RESCHEDULE = 65821,
  ID_FAX_CANCEL_QUEUED = 65822,
};

class CFaxListView : public QTreeWidget, public FaxListSink {
  Q_OBJECT
 public:
  CFaxListView(FrameContext& context, CFaxInfoView& info, QWidget* parent = nullptr);
  // Writes the folder, sort column and direction back into the settings.
  ~CFaxListView() override;

  // Shows a folder (0 to 3); nothing happens when it is shown already and no
  // refresh is asked. False when the listing failed (the pool was flushed).
  bool SwitchFolder(int folder, bool refresh);
  // Lists the shown folder again.
  bool Refresh() { return SwitchFolder(m_folder, true); }
  // Lists a folder with a column (1 to 3) and direction (0 to 2), as given.
  bool ListFolder(int folder, int column, int direction);

  // A record filed into a folder (by a job or the send dialogs): inserted as
  // the first item when the list shows that folder.
  void RecordFiled(int folder, const FaxRecord& record);

  // The column-click sort: column 0 only takes the focus.
  void SortByColumn(int column);
  // Runs one of the list's commands on the selection.
  void RunCommand(int id);
  // Whether the command can run now (the context menu's enabled state).
  bool CommandEnabled(int id) const;

  int Folder() const { return m_folder; }
  int SortColumn() const { return m_column; }
  int SortDirection() const { return m_direction; }
  std::size_t RecordCount() const { return m_recordCount; }
  CEOID ShownRecord() const { return m_shownOid; }
  CEOID ItemOid(int row) const;
  std::vector<CEOID> SelectedOids() const;
  // Selects the item of a record (the info pane follows); false when not listed.
  bool SelectRecord(CEOID oid);
  QMenu* ContextMenu() const { return m_menu; }

  // FaxListSink
  void DeleteAllItems() override;
  void SetRecordCount(std::size_t count) override;
  void AddItem(const FaxListItem& item) override;

 signals:
  // Forward and Re-send hand the record to the send dialogs.
  void ForwardRequested(const vexo::FaxRecord& record, bool resend);
  // A queued fax was made due now or rescheduled: the outbox may have work.
  void OutboxChanged();

 private:
  QTreeWidgetItem* MakeItem(const FaxListItem& item) const;
  void SelectionChanged();
  void ShowItemAt(int row);
  void Activated(QTreeWidgetItem* item);
  void DeleteSelection();
  void TransferSelection(int target, bool move);
  void ExportSelectedAsPdf();
  void ShowHeaderSort();
  void ShowQueueColumns(bool shown);
  void FillQueueColumns();
  void ScheduleSelected(bool now);
  void CancelSelected();
  void BuildMenu();
  bool ReadSelected(FaxRecord& record);
  void Flush(bool quiet = false);

  FrameContext& m_context;
  CFaxInfoView& m_info;
  int m_folder = -1;
  int m_column = 1;     // the listing's sort column, 1 to 3
  int m_direction = 0;  // 0 ascending, 1 descending
  int m_clickedColumn = -1;
  int m_sign = 1;  // +1 ascending, -1 descending
  int m_arrowColumn = -1;
  CEOID m_shownOid = 0;
  std::size_t m_recordCount = 0;
  QMenu* m_menu = nullptr;
};

}  // namespace vexo::ui
