// The main window (CMainFrame), titled "VexoMFC": the folder tree, the fax
// list and the info pane, the menus and tool bar whose actions carry the
// command ids, and the commands themselves: new fax, receive, settings, help,
// attachments, exit, delete and the notification sound. Every fax job runs
// through its status pane, docked under the list, so the window stays usable
// while a job runs. With automatic answering on it keeps the modem waiting
// for calls between jobs; each new fax is announced on the desktop and in the
// tray. While it is open it sends the outbox's faxes that are due, one job at
// a time like the others, and announces a fax the outbox gave up.
#pragma once

#include <QMainWindow>

#include <functional>
#include <map>
#include <vector>

#include "app/store/fax_record.h"
#include "app/store/outbox_state.h"
#include "ui/frame/frame_context.h"
#include "ui/send/send_chain.h"

class QAction;
class QTimer;

namespace vexo {
struct OutboxRun;
}  // namespace vexo

namespace vexo::ui {

class AutoAnswer;
class CFaxInfoView;
class FaxNotifier;
class TrayStatus;
class CFaxListView;
class CFolderTree;
class StatusWindow;

// Main window command ids.
enum FrameCommand : int {
  ID_HELP = 196,
  ID_SETTINGS = 32792,
  ID_NEW_FAX = 32794,
  ID_DELETE_OR_SOUND = 32797,
  ID_STOP_SOUND = 32798,
  ID_PLAY_SOUND = 32799,
  ID_EXIT = 32800,
  ID_RECEIVE = 32803,
  ID_ATTACHMENTS = 32806,
};

// The private request standing for the refresh message: with 1 the fax list
// is listed again, other values are ignored.
constexpr int kRefreshList = 1;

// The title the single-instance check looks for.
inline constexpr const char* kMainWindowTitle = "VexoMFC";

class CMainFrame : public QMainWindow {
  Q_OBJECT
 public:
  explicit CMainFrame(FrameContext context, QWidget* parent = nullptr);
  ~CMainFrame() override;

  // Lists the folder OpenedDatabase names with SortOnColumn and SortDirection.
  void ShowInitialFolder();
  // Runs a main window command.
  void RunCommand(int id);
  // The refresh request of a second start ("-refreshlist").
  void RefreshRequest(int value);
  // The vexo command queued fax id without a number: the send dialog opens
  // with its file attached, once no other such dialog is open.
  void AskForNumber(CEOID id);
  // A record filed into a folder, from any thread: the list gains it.
  void RecordFiled(int folder, const FaxRecord& record);

  QAction* Action(int id) const;
  CFaxListView& List() const { return *m_list; }
  CFaxInfoView& Info() const { return *m_info; }
  CFolderTree& Tree() const { return *m_tree; }
  StatusWindow& Status() const { return *m_status; }
  AutoAnswer& Answering() const { return *m_answer; }
  TrayStatus& Tray() const { return *m_tray; }
  // Starts or stops waiting for calls as the AutoAnswer setting says.
  void ApplyAutoAnswer();
  // Opens a fax file in the viewer (a click on the new fax notice).
  void OpenFaxFile(const QString& file);
  // Sends the outbox's faxes that are due: at once when no job runs, after a
  // wait for a call gave the modem up or a call being received has ended;
  // behind any other job, at the next check once it has ended.
  void CheckOutbox();
  // How often the outbox is looked at while the window is open.
  static constexpr int kOutboxCheckMs = 30000;
  FrameContext& Context() { return m_context; }

  // The help page of a language (1 English, 2 and 3 Chinese).
  static const char* HelpFileName(std::uint32_t language);

 private:
  void BuildActions();
  void Receive();
  bool StartReceive(unsigned rings, bool automatic);
  void AutomaticOutcome(int result);
  bool WaitingForRing() const;
  void AnnounceFax(const FaxRecord& record);
  void StartOutboxRun();
  void OutboxRunEnded(const OutboxRun& run, const std::vector<CEOID>& waiting);
  void AnnounceGivenUp(const QueuedFax& fax);
  void AskHeldFaxes();
  void AskNextNumber();
  void AskNumberOf(CEOID id);
  void UpdateLineState();
  void NewFax();
  void Forward(const FaxRecord& record, bool resend);
  void ShowSettings();
  void ShowAttachments();
  void Help();
  int StartSend(const SendFields& fields);
  SendContext MakeSendContext();
  // Wraps a send's start: while automatic answering waits for a call the send
  // takes the modem from the wait, or follows the call being received.
  std::function<int(const SendFields&)> ClaimModemFor(std::function<int(const SendFields&)> start);

  FrameContext m_context;
  CFolderTree* m_tree = nullptr;
  CFaxListView* m_list = nullptr;
  CFaxInfoView* m_info = nullptr;
  StatusWindow* m_status = nullptr;
  AutoAnswer* m_answer = nullptr;
  TrayStatus* m_tray = nullptr;
  FaxNotifier* m_notifier = nullptr;
  QTimer* m_outboxTimer = nullptr;
  bool m_outboxRunning = false;  // the job running is the outbox's
  std::map<int, QAction*> m_actions;
  SendFields m_attachments;           // the attachment list shown by itself
  bool m_lentNoteShown = false;       // the pane says the modem is lent to a send
  std::vector<CEOID> m_numbersToAsk;  // held faxes whose send dialog is still to open
  CEOID m_askingNumberOf = 0;         // the held fax whose send dialog is open
};

}  // namespace vexo::ui
