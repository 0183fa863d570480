#include "ui/frame/desktop_context.h"

#include "app/jobs/app_oper.h"
#include "app/jobs/outbox.h"
#include "app/store/db_func.h"
#include "base/error_pool.h"
#include "modem/tapi_oper.h"
#include "ui/send/send_job.h"
#include "ui/settings/setting_sheet.h"
#include "ui/viewer/fax_viewer.h"

namespace vexo::ui {

DesktopStore::DesktopStore(AppOper& app) : m_app(app) {}

DesktopStore::~DesktopStore() {
  // The jobs must not file into a store that is gone.
  if (m_store) m_app.SetStore(nullptr);
}

Outbox* DesktopStore::GetOutbox() {
  if (m_outbox) return m_outbox.get();
  DBFunc* store = Get();
  if (store) m_outbox = std::make_unique<Outbox>(m_app, *store);
  return m_outbox.get();
}

DBFunc* DesktopStore::Get() {
  if (m_store) return m_store.get();
  // On a first start the user is asked before old folders are emptied.
  m_store = CreateDBFunc(m_app.MakeStoreOptions());
  if (!m_store) {
    FlushErrorPool(&m_app.SystemLog(), false);
    return nullptr;
  }
  m_app.SetStore(m_store.get());
  return m_store.get();
}

ReceiveReadiness ReceiveReadinessOf(const AppOper& app) {
  if (app.Settings().ModemName.empty()) return ReceiveReadiness::Ready;
  const std::uint32_t modem = app.CurrentModem();
  if (modem == kEveryModem) return ReceiveReadiness::AutomaticChoice;
  // A phone modem places voice calls; it cannot answer a fax call.
  if (app.Modems() && app.Modems()->IsVoiceLine(modem) == 1) return ReceiveReadiness::CannotReceive;
  return ReceiveReadiness::Ready;
}

FrameContext DesktopFrameContext(AppOper& app, DesktopStore& store) {
  FrameContext context;
  context.settings = &app.Settings();
  context.systemLog = &app.SystemLog();
  context.job = &app.Job();
  context.store = [&store] { return store.Get(); };
  context.jobDevice = [&app](bool) { return SendDeviceName(app); };
  context.receiveReadiness = [&app] { return ReceiveReadinessOf(app); };
  context.runReceive = [&app] { return app.RunJob(kReceiveJob); };
  context.setRingsToAnswer = [&app](unsigned rings) { app.SetRingsToAnswer(rings); };
  context.inWaitForRing = [&app] { return app.InWaitForRing(); };
  context.lendModem = [&app](bool on) { app.ListenForBorrowers(on); };
  context.modemLent = [&app] { return app.ModemLent(); };
  context.runSend = [&app] { return app.RunJob(kSendJob); };
  context.showOutcome = [&app](bool send, int result) {
    app.ShowOutcome(send ? kSendJob : kReceiveJob, result);
  };
  context.newFaxFile = [&app] { return app.NewComposedFile(); };
  context.sendContext = [&app, &store](StatusWindow& status) {
    return DesktopSendContext(app, status, store.Get());
  };
  context.outbox = [&store] { return store.GetOutbox(); };
  context.showViewer = [&app](QWidget* parent, const std::filesystem::path& file) {
    OpenFaxViewer(parent, file.string(), &app.SystemLog());
  };
  context.showSettings = [&app](QWidget* parent) { return RunAppSettingSheet(parent, app); };
  return context;
}

}  // namespace vexo::ui
