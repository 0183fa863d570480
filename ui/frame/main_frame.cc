#include "ui/frame/main_frame.h"

#include <QAction>
#include <QDesktopServices>
#include <QMenuBar>
#include <QSplitter>
#include <QToolBar>
#include <QUrl>

#include <cerrno>
#include <filesystem>

#include "app/settings/settings.h"
#include "base/error_pool.h"
#include "base/log_file.h"
#include "base/presenter.h"
#include "base/string_ids.h"
#include "base/strings.h"
#include "ui/common/sound.h"
#include "ui/common/status_window.h"
#include "ui/common/ui_strings.h"
#include "ui/frame/fax_info_view.h"
#include "ui/frame/fax_list_view.h"
#include "ui/frame/folder_tree.h"
#include "ui/frame/icons.h"
#include "ui/send/attach_dlg.h"

namespace vexo::ui {

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
  setCentralWidget(split);
  resize(760, 520);

  if (m_context.job) m_status = new StatusWindow(*m_context.job, this);
  BuildActions();

  connect(m_tree, &CFolderTree::FolderChosen, this,
          [this](int folder) { m_list->SwitchFolder(folder, false); });
  connect(m_list, &CFaxListView::ForwardRequested, this, &CMainFrame::Forward);
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
  if (value == kRefreshList) m_list->Refresh();
}

void CMainFrame::RecordFiled(int folder, const FaxRecord& record) {
  QMetaObject::invokeMethod(
      this, [this, folder, record] { m_list->RecordFiled(folder, record); }, Qt::AutoConnection);
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
  JobRequest request;
  request.mode = JobMode::Receive;
  request.device = m_context.jobDevice ? m_context.jobDevice(false) : automatic;
  request.body = m_context.runReceive;
  request.finished = [this](int result) {
    if (m_context.showOutcome) m_context.showOutcome(false, result);
  };
  m_status->StartJobThread(std::move(request));
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
    return send;
  }
  SendContext send;
  send.settings = m_context.settings;
  send.systemLog = m_context.systemLog;
  send.store = m_context.store ? m_context.store() : nullptr;
  send.contactsFile = m_context.contactsFile;
  send.newFaxFile = m_context.newFaxFile;
  send.startSend = [this](const SendFields& fields) { return StartSend(fields); };
  send.filed = filed;
  return send;
}

void CMainFrame::NewFax() {
  if (m_status && m_status->Busy()) return;
  SendContext send = MakeSendContext();
  RunSendDialogChain(this, send, SendRequest{SendKind::NewFax, {}});
}

void CMainFrame::Forward(const FaxRecord& record, bool resend) {
  if (m_status && m_status->Busy()) return;
  SendContext send = MakeSendContext();
  SendKind kind = SendKind::Forward;
  // Re-send: Yes edits the cover page through the dialogs first, No sends at once.
  if (resend && ShowMessage(MB_ICONQUESTION | MB_YESNO, nullptr, str::kAskEditCoverAgain) == IDNO) {
    kind = SendKind::Resend;
  }
  RunSendDialogChain(this, send, SendRequest{kind, record});
}

void CMainFrame::ShowSettings() {
  if (m_context.showSettings) m_context.showSettings(this);
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
