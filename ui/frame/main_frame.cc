#include "ui/frame/main_frame.h"

#include <QAction>
#include <QDesktopServices>
#include <QMenuBar>
#include <QSplitter>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <utility>

#include "app/jobs/app_oper.h"
#include "app/jobs/outbox.h"
#include "app/settings/settings.h"
#include "app/store/record_file.h"
#include "base/error_pool.h"
#include "base/log_file.h"
#include "base/presenter.h"
#include "base/string_ids.h"
#include "base/strings.h"
#include "ui/common/sound.h"
#include "ui/common/status_window.h"
#include "ui/common/ui_strings.h"
#include "ui/frame/auto_answer.h"
#include "ui/frame/fax_info_view.h"
#include "ui/frame/fax_list_view.h"
#include "ui/frame/fax_notifier.h"
#include "ui/frame/folder_tree.h"
#include "ui/frame/icons.h"
#include "ui/frame/outbox_queue.h"
#include "ui/frame/tray_status.h"
#include "ui/send/attach_dlg.h"

namespace vexo::ui {
namespace {

// Moves the error pool's reports into the system log and returns the text
// their detail dialog would show (empty when none is meant for the user).
QString TakeReports(LogFile* log) {
  ErrorPool& pool = ErrorPool::Instance();
  std::vector<ErrorRecord> records;
  ErrorRecord record;
  QString details;
  while (pool.TakeOldest(record) > 0) {
    if (record.MessageType & MSG_TO_USER)
      details += QString::fromStdString(ErrorDialogBlock(record));
    records.push_back(std::move(record));
  }
  for (ErrorRecord& taken : records) AddPreparedRecord(std::move(taken));
  FlushErrorPool(log, true);
  return details;
}

// The pane's text after an automatic receive; empty for a wait that gave the
// modem to a send.
QString AutomaticOutcomeText(int result) {
  switch (result) {
    case 0:
      return ResString(str::kReceived);
    case 1:
      return ResString(str::kPartlyReceived);
    case -1:
      return ResString(str::kReceiveFailedPlain);
    case kJobWaitFailed:
      return ResString(str::kWaitFailed);
    default:
      return {};
  }
}

}  // namespace

CMainFrame::CMainFrame(FrameContext context, QWidget* parent)
    : QMainWindow(parent), m_context(std::move(context)) {
  setObjectName(QStringLiteral("CMainFrame"));
  setWindowTitle(QString::fromLatin1(kMainWindowTitle));
  setWindowIcon(AppIcon());

  auto* split = new QSplitter(Qt::Horizontal, this);
  m_tree = new CFolderTree(split);
  auto* right = new QSplitter(Qt::Vertical, split);
  m_info = new CFaxInfoView(m_context.settings, m_context.systemLog);
  m_list = new CFaxListView(m_context, *m_info, right);
  right->addWidget(m_info);
  right->setStretchFactor(0, 3);
  right->setStretchFactor(1, 2);
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 4);
  split->setSizes({150, 550});
  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->addWidget(split, 1);
  setCentralWidget(central);
  resize(760, 520);

  if (m_context.job) {
    // The status pane: the status window docked under the list.
    m_status = new StatusWindow(*m_context.job, central);
    m_status->setWindowFlags(Qt::Widget);
    m_status->hide();
    column->addWidget(m_status);
  }
  m_tray = new TrayStatus(this);
  m_notifier = new FaxNotifier(this);
  connect(m_notifier, &FaxNotifier::Opened, this, &CMainFrame::OpenFaxFile);
  AutoAnswer::Hooks hooks;
  hooks.startWait = [this](unsigned rings) { return StartReceive(rings, true); };
  hooks.jobRunning = [this] { return m_status && m_status->Busy(); };
  hooks.waitingForRing = [this] { return WaitingForRing(); };
  hooks.cancelJob = [this] { m_status->CancelJob(); };
  hooks.modemLent = m_context.modemLent;
  m_answer = new AutoAnswer(std::move(hooks), this);
  if (m_status) {
    connect(m_status, &StatusWindow::JobEnded, this, [this](int, int result) {
      const bool outboxRan = std::exchange(m_outboxRunning, false);
      m_answer->JobEnded(m_answer->OwnsJob() && result == kJobWaitFailed);
      UpdateLineState();
      // A fax that fell due during the job goes now; after the outbox's own
      // run the next check waits for the timer, or a fax the run could not
      // send would be tried over and over.
      if (!outboxRan) CheckOutbox();
    });
    connect(m_status, &StatusWindow::StatusDrawn, this, &CMainFrame::UpdateLineState);
  }
  BuildActions();

  connect(m_tree, &CFolderTree::FolderChosen, this,
          [this](int folder) { m_list->SwitchFolder(folder, false); });
  connect(m_list, &CFaxListView::ForwardRequested, this, &CMainFrame::Forward);
  connect(m_list, &CFaxListView::OutboxChanged, this, &CMainFrame::CheckOutbox);
  m_outboxTimer = new QTimer(this);
  connect(m_outboxTimer, &QTimer::timeout, this, &CMainFrame::CheckOutbox);
  if (m_status && m_context.outbox) {
    m_outboxTimer->start(kOutboxCheckMs);
    // Faxes that fell due while the program was closed go once the window runs.
    QTimer::singleShot(0, this, &CMainFrame::CheckOutbox);
  }
  // Faxes printed without a number while the program was closed.
  if (m_context.outbox) QTimer::singleShot(0, this, &CMainFrame::AskHeldFaxes);
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::BuildActions() {
  auto make = [this](int id, const QString& text, const QIcon& icon = {}) {
    auto* action = new QAction(icon, text, this);
    action->setObjectName(QStringLiteral("ID_%1").arg(id));
    action->setData(id);
    connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
    m_actions[id] = action;
    return action;
  };
  QMenu* fax = menuBar()->addMenu(ResString(str::kMenuFax));
  fax->addAction(make(ID_NEW_FAX, ResString(str::kMenuNewFax), ToolIcon(ToolPicture::NewFax)));
  fax->addAction(make(ID_RECEIVE, ResString(str::kMenuReceive), ToolIcon(ToolPicture::Receive)));
  fax->addAction(make(ID_ATTACHMENTS, ResString(str::kMenuAttachments)));
  fax->addSeparator();
  fax->addAction(
      make(ID_DELETE_OR_SOUND, ResString(str::kMenuDelete), ToolIcon(ToolPicture::Delete)));
  fax->addAction(make(ID_SETTINGS, ResString(str::kSettings), ToolIcon(ToolPicture::Settings)));
  fax->addSeparator();
  fax->addAction(make(ID_EXIT, ResString(str::kMenuExit)));
  QMenu* help = menuBar()->addMenu(ResString(str::kMenuHelp));
  help->addAction(make(ID_HELP, ResString(str::kMenuHelp), ToolIcon(ToolPicture::Help)));
  help->addSeparator();
  help->addAction(make(ID_PLAY_SOUND, ResString(str::kMenuPlaySound)));
  help->addAction(make(ID_STOP_SOUND, ResString(str::kMenuStopSound)));

  QToolBar* bar = addToolBar(ResString(str::kMenuFax));
  bar->setObjectName(QStringLiteral("CommandBar"));
  bar->setMovable(false);
  bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  for (int id : {ID_NEW_FAX, ID_RECEIVE, ID_DELETE_OR_SOUND, ID_SETTINGS, ID_HELP}) {
    bar->addAction(m_actions[id]);
  }
}

QAction* CMainFrame::Action(int id) const {
  const auto it = m_actions.find(id);
  return it == m_actions.end() ? nullptr : it->second;
}

void CMainFrame::ShowInitialFolder() {
  int folder = FOLDER_SENT;
  int column = 1;
  int direction = 0;
  if (m_context.settings) {
    folder = static_cast<int>(m_context.settings->OpenedDatabase);
    column = static_cast<int>(m_context.settings->SortOnColumn);
    direction = static_cast<int>(m_context.settings->SortDirection);
  }
  if (!IsFolder(folder)) folder = FOLDER_SENT;
  m_tree->SetCurrentFolder(folder);
  m_list->ListFolder(folder, column, direction);
}

void CMainFrame::RunCommand(int id) {
  switch (id) {
    case ID_NEW_FAX:
      NewFax();
      break;
    case ID_RECEIVE:
      Receive();
      break;
    case ID_SETTINGS:
      ShowSettings();
      break;
    case ID_HELP:
      Help();
      break;
    case ID_ATTACHMENTS:
      ShowAttachments();
      break;
    case ID_EXIT:
      close();
      break;
    case ID_DELETE_OR_SOUND:
      if (!m_list->SelectedOids().empty())
        m_list->RunCommand(ID_FAX_DELETE);
      else
        PlayNotificationSound();
      break;
    case ID_PLAY_SOUND:
      PlayNotificationSound();
      break;
    case ID_STOP_SOUND:
      StopSound();
      break;
    default:
      break;
  }
}

void CMainFrame::RefreshRequest(int value) {
  if (value != kRefreshList) return;
  m_list->Refresh();
  // The vexo command may have queued a fax.
  CheckOutbox();
}

void CMainFrame::AskForNumber(CEOID id) {
  if (id == m_askingNumberOf || std::ranges::find(m_numbersToAsk, id) != m_numbersToAsk.end())
    return;
  m_numbersToAsk.push_back(id);
  // The dialogs run from the event loop, not inside the caller (a socket's read).
  QTimer::singleShot(0, this, &CMainFrame::AskNextNumber);
}

void CMainFrame::AskHeldFaxes() {
  Outbox* outbox = m_context.outbox ? m_context.outbox() : nullptr;
  std::vector<QueuedFax> faxes;
  if (!outbox || !outbox->List(faxes)) return;
  for (const QueuedFax& fax : faxes)
    if (fax.NeedsNumber()) AskForNumber(fax.record.oid);
}

void CMainFrame::AskNextNumber() {
  // One send dialog at a time: the open one asks for the rest when it closes.
  if (m_askingNumberOf != 0) return;
  while (!m_numbersToAsk.empty()) {
    m_askingNumberOf = m_numbersToAsk.front();
    m_numbersToAsk.erase(m_numbersToAsk.begin());
    AskNumberOf(m_askingNumberOf);
    m_askingNumberOf = 0;
  }
}

void CMainFrame::AskNumberOf(CEOID id) {
  Outbox* outbox = m_context.outbox ? m_context.outbox() : nullptr;
  std::vector<QueuedFax> faxes;
  if (!outbox || !m_context.settings || !outbox->List(faxes)) return;
  const auto fax = std::ranges::find_if(
      faxes, [id](const QueuedFax& queued) { return queued.record.oid == id; });
  // Sent, cancelled or given a number meanwhile.
  if (fax == faxes.end() || !fax->NeedsNumber()) return;
  const auto file =
      RecordFilePath(m_context.settings->TIFDataDir, fax->record.fileName.value_or(""));
  if (!file) return;
  SendContext send = MakeSendContext();
  SendRequest request{SendKind::NewFax, fax->record, {file->string()}};
  // Cancel leaves the fax held: the next start asks again.
  if (RunSendDialogChain(this, send, request) == kResultCancel) return;
  // The dialog sent or filed a fax of its own made from the file: the held
  // one goes to the Deleted folder, the file kept.
  outbox->Cancel(id);
  FlushErrorPool(m_context.systemLog, false);
  const int folder = m_list->Folder();
  if (folder == FOLDER_SENDING || folder == FOLDER_DELETED) m_list->Refresh();
}

void CMainFrame::RecordFiled(int folder, const FaxRecord& record) {
  QMetaObject::invokeMethod(
      this,
      [this, folder, record] {
        m_list->RecordFiled(folder, record);
        if (folder == FOLDER_INBOX) AnnounceFax(record);
      },
      Qt::AutoConnection);
}

void CMainFrame::AnnounceFax(const FaxRecord& record) {
  m_tray->AddNewFax();
  if (!m_context.settings) return;
  const auto path = RecordFilePath(m_context.settings->TIFDataDir, record.fileName.value_or(""));
  if (!path) return;
  const std::string sender = record.remoteStationId.value_or("");
  const QString from =
      sender.empty() ? ResString(str::kUnknownSender) : QString::fromStdString(sender);
  const QString body = QString::asprintf(ResString(str::kNewFaxBody).toUtf8().constData(),
                                         static_cast<int>(record.pages), from.toUtf8().constData());
  m_notifier->Announce(ResString(str::kNewFaxSummary), body,
                       QString::fromStdString(path->string()));
}

void CMainFrame::CheckOutbox() {
  Outbox* outbox = m_status && m_context.outbox ? m_context.outbox() : nullptr;
  if (!outbox) return;
  std::vector<QueuedFax> faxes;
  if (!outbox->List(faxes)) {
    FlushErrorPool(m_context.systemLog, true);
    return;
  }
  if (!AnyOutboxFaxDue(faxes, OutboxSecondsNow())) return;
  if (!m_status->Busy()) {
    StartOutboxRun();
  } else if (m_answer->OwnsJob() && !m_answer->ClaimPending()) {
    m_answer->ClaimModem([this] { StartOutboxRun(); });
  }
}

void CMainFrame::StartOutboxRun() {
  Outbox* outbox = m_context.outbox ? m_context.outbox() : nullptr;
  std::vector<QueuedFax> faxes;
  if (!m_status || m_status->Busy() || !outbox || !outbox->List(faxes)) return;
  auto run = std::make_shared<OutboxRun>();
  JobRequest request;
  request.mode = JobMode::Send;
  request.device = m_context.jobDevice ? m_context.jobDevice(true) : AutoModemName();
  request.body = [outbox, run, job = m_context.job] {
    // Each call of the run starts and ends a send job of its own in the job
    // control; the status window's job gives way to them.
    job->EndJob();
    *run = outbox->RunDue();
    return 0;
  };
  request.finished = [this, run, waiting = WaitingOutboxFaxes(faxes)](int) {
    OutboxRunEnded(*run, waiting);
  };
  if (std::exchange(m_lentNoteShown, false)) m_status->SetNote({});
  m_outboxRunning = m_status->StartJobThread(std::move(request)) == 1 && m_status->Busy();
  UpdateLineState();
}

void CMainFrame::OutboxRunEnded(const OutboxRun& run, const std::vector<CEOID>& waiting) {
  // Nobody asked for these calls: the pane says how they went and the
  // reports wait behind Details, as after an automatic receive.
  const QString details = TakeReports(m_context.systemLog);
  if (run.calls > 0) {
    m_status->SetNote(QString::asprintf(ResString(str::kOutboxRunNote).toUtf8().constData(),
                                        run.sent, run.failed));
    m_status->SetDetails(details);
  }
  Outbox* outbox = m_context.outbox ? m_context.outbox() : nullptr;
  std::vector<QueuedFax> faxes;
  if (outbox && outbox->List(faxes))
    for (const QueuedFax& fax : GivenUpSince(waiting, faxes)) AnnounceGivenUp(fax);
  FlushErrorPool(m_context.systemLog, true);
  const int folder = m_list->Folder();
  if (folder == FOLDER_SENDING || folder == FOLDER_SENT) m_list->Refresh();
}

void CMainFrame::AnnounceGivenUp(const QueuedFax& fax) {
  m_tray->AddFailedFax();
  const FaxRecord& record = fax.record;
  const QString body = QString::fromStdString(OutboxGivenUpText(fax));
  const auto path = m_context.settings ? RecordFilePath(m_context.settings->TIFDataDir,
                                                        record.fileName.value_or(""))
                                       : std::nullopt;
  m_notifier->Announce(ResString(str::kOutboxFailedSummary), body,
                       path ? QString::fromStdString(path->string()) : QString());
}

void CMainFrame::OpenFaxFile(const QString& file) {
  m_tray->ClearNewFaxes();
  if (m_context.showViewer) m_context.showViewer(this, file.toStdString());
}

void CMainFrame::ApplyAutoAnswer() {
  const unsigned rings = m_context.settings ? m_context.settings->AutoAnswer : 0;
  if (m_status) m_status->SetStaysShown(rings > 0);
  m_answer->SetRings(m_status ? rings : 0);
  if (m_context.lendModem) m_context.lendModem(m_status && rings > 0);
  UpdateLineState();
}

void CMainFrame::UpdateLineState() {
  if (!m_status || !m_status->Busy() || m_status->Mode() != JobMode::Receive) {
    m_tray->SetLineState(m_answer->Rings() > 0 ? LineState::Waiting : LineState::Idle);
  } else {
    m_tray->SetLineState(WaitingForRing() ? LineState::Waiting : LineState::Receiving);
  }
}

bool CMainFrame::WaitingForRing() const {
  return m_status && m_context.job && m_status->Busy() && m_status->Mode() == JobMode::Receive &&
         m_context.inWaitForRing && m_context.inWaitForRing();
}

void CMainFrame::Receive() {
  if (!m_status || m_status->Busy()) return;  // one job at a time
  const QString automatic = AutoModemName();
  for (;;) {
    const ReceiveReadiness readiness =
        m_context.receiveReadiness ? m_context.receiveReadiness() : ReceiveReadiness::Ready;
    if (readiness == ReceiveReadiness::Ready) break;
    const std::string name = readiness == ReceiveReadiness::AutomaticChoice
                                 ? automatic.toStdString()
                                 : (m_context.settings ? m_context.settings->ModemName : "");
    const unsigned id = readiness == ReceiveReadiness::AutomaticChoice ? str::kReceiveNeedsOneModem
                                                                       : str::kModemCannotReceive;
    if (ShowMessage(MB_ICONEXCLAMATION | MB_OKCANCEL, nullptr, id, name.c_str()) != IDOK) return;
    // Without a settings sheet the check could never change its answer.
    if (!m_context.showSettings) return;
    m_context.showSettings(this);
  }
  StartReceive(1, false);
}

bool CMainFrame::StartReceive(unsigned rings, bool automatic) {
  if (!m_status || m_status->Busy()) return false;
  if (automatic && m_context.receiveReadiness &&
      m_context.receiveReadiness() != ReceiveReadiness::Ready) {
    return false;
  }
  if (m_context.setRingsToAnswer) m_context.setRingsToAnswer(rings);
  JobRequest request;
  request.mode = JobMode::Receive;
  request.device = m_context.jobDevice ? m_context.jobDevice(false) : AutoModemName();
  request.body = m_context.runReceive;
  if (automatic) {
    // The modem is back from the send it was lent to.
    if (std::exchange(m_lentNoteShown, false)) m_status->SetNote({});
    request.finished = [this](int result) { AutomaticOutcome(result); };
  } else {
    m_status->SetNote({});
    m_status->SetDetails({});
    request.finished = [this](int result) {
      if (m_context.showOutcome) m_context.showOutcome(false, result);
    };
  }
  const bool started = m_status->StartJobThread(std::move(request)) == 1 && m_status->Busy();
  UpdateLineState();
  return started;
}

void CMainFrame::AutomaticOutcome(int result) {
  // No message box for a call nobody asked for: the pane says how it went,
  // the new fax is announced when filed, and the reports wait behind Details.
  const QString details = TakeReports(m_context.systemLog);
  const QString text = AutomaticOutcomeText(result);
  if (!text.isEmpty()) {
    m_status->SetNote(text);
    m_status->SetDetails(details);
  } else if (result == kJobWaitCancelled && m_context.modemLent && m_context.modemLent()) {
    m_status->SetNote(ResString(str::kModemLentToSend));
    m_status->SetDetails({});
    m_lentNoteShown = true;
  }
}

int CMainFrame::StartSend(const SendFields& fields) {
  if (!m_status || m_status->Busy()) return 0;
  if (m_context.prepareSend) m_context.prepareSend(fields);
  JobRequest request;
  request.mode = JobMode::Send;
  request.device = m_context.jobDevice ? m_context.jobDevice(true) : AutoModemName();
  request.body = m_context.runSend;
  request.finished = [this](int result) {
    if (m_context.showOutcome) m_context.showOutcome(true, result);
  };
  return m_status->StartJobThread(std::move(request)) == 1 && m_status->Busy() ? 1 : 0;
}

SendContext CMainFrame::MakeSendContext() {
  const auto filed = [this](int folder, const FaxRecord& record) {
    m_list->RecordFiled(folder, record);
  };
  if (m_context.sendContext && m_status) {
    SendContext send = m_context.sendContext(*m_status);
    send.filed = filed;
    send.startSend = ClaimModemFor(std::move(send.startSend));
    return send;
  }
  SendContext send;
  send.settings = m_context.settings;
  send.systemLog = m_context.systemLog;
  send.store = m_context.store ? m_context.store() : nullptr;
  send.contactsFile = m_context.contactsFile;
  send.newFaxFile = m_context.newFaxFile;
  send.startSend = ClaimModemFor([this](const SendFields& fields) { return StartSend(fields); });
  send.filed = filed;
  return send;
}

std::function<int(const SendFields&)> CMainFrame::ClaimModemFor(
    std::function<int(const SendFields&)> start) {
  return [this, start = std::move(start)](const SendFields& fields) {
    if (!start) return 0;
    const auto run = [this, start, fields] {
      if (m_status) {
        m_status->SetNote({});
        m_status->SetDetails({});
      }
      return start(fields);
    };
    // Only a job of automatic answering gives way, to one send at a time;
    // otherwise the send is refused as before and the composed fax kept.
    if (!m_status || !m_status->Busy() || !m_answer->OwnsJob() || m_answer->ClaimPending())
      return run();
    if (m_answer->ClaimModem(run) == ModemClaim::AfterCall)
      m_status->SetNote(ResString(str::kSendAfterCall));
    // The send starts as soon as the modem is free.
    return 1;
  };
}

void CMainFrame::NewFax() {
  SendContext send = MakeSendContext();
  RunSendDialogChain(this, send, SendRequest{SendKind::NewFax, {}, {}});
}

void CMainFrame::Forward(const FaxRecord& record, bool resend) {
  SendContext send = MakeSendContext();
  SendKind kind = SendKind::Forward;
  // Re-send: Yes edits the cover page through the dialogs first, No sends at once.
  if (resend && ShowMessage(MB_ICONQUESTION | MB_YESNO, nullptr, str::kAskEditCoverAgain) == IDNO) {
    kind = SendKind::Resend;
  }
  RunSendDialogChain(this, send, SendRequest{kind, record, {}});
}

void CMainFrame::ShowSettings() {
  if (m_status && m_status->Busy()) {
    // The settings a running job uses stay as they are; a wait for a call
    // gives the modem up and the sheet opens once it has.
    if (m_answer->OwnsJob() && !m_answer->ClaimPending())
      m_answer->ClaimModem([this] { ShowSettings(); });
    return;
  }
  if (m_context.showSettings && m_context.showSettings(this)) ApplyAutoAnswer();
}

void CMainFrame::ShowAttachments() {
  CAttachDlg dialog(m_attachments, m_context.systemLog, this);
  dialog.exec();
}

const char* CMainFrame::HelpFileName(std::uint32_t language) {
  switch (language) {
    case 2:
      return "vexohelp_chs.htm";
    case 3:
      return "vexohelp_cht.htm";
    default:
      return "vexohelp.htm";
  }
}

void CMainFrame::Help() {
  const std::uint32_t language = m_context.settings ? m_context.settings->effectiveLanguage : 1;
  const std::filesystem::path dir =
      m_context.helpDirectory.empty() ? ResourceDir() / "help" : m_context.helpDirectory;
  const std::filesystem::path page = dir / HelpFileName(language);
  std::error_code error;
  const bool exists = std::filesystem::is_regular_file(page, error);
  bool opened = false;
  if (exists) {
    opened =
        m_context.openHelp
            ? m_context.openHelp(page)
            : QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(page.string())));
  }
  if (opened) return;
  const std::string text = LoadResString(str::kHelpNotOpened) + page.string();
  if (m_context.systemLog) {
    m_context.systemLog->WriteErrorText("VexoMFC", 0, text, exists ? EIO : ENOENT);
  }
  FlushErrorPool(m_context.systemLog, false);
}

}  // namespace vexo::ui
