#include "ui/send/send_job.h"

#include "app/jobs/app_oper.h"
#include "base/presenter.h"
#include "base/string_ids.h"
#include "modem/tapi_oper.h"
#include "ui/common/status_window.h"
#include "ui/common/ui_strings.h"

namespace vexo::ui {
namespace {

// The list name of modem index, empty when the list has no such entry.
QString ModemListName(const AppOper& app, std::uint32_t index) {
  const TAPIOper* modems = app.Modems();
  if (!modems || index >= modems->Modems().size()) return {};
  return QString::fromStdString(modems->Modems()[index].name);
}

}  // namespace

QString SendDeviceName(const AppOper& app) {
  if (app.Settings().ModemName.empty())
    return QStringLiteral("COM%1:").arg(app.Settings().COMPortNum);
  if (app.CurrentModem() == kEveryModem) return AutoModemName();
  const QString name = ModemListName(app, app.CurrentModem());
  return name.isEmpty() ? QString::fromStdString(app.Settings().ModemName) : name;
}

int StartSendJob(AppOper& app, StatusWindow& status, const SendFields& fields) {
  if (status.Busy() || fields.generatedFile.empty()) {
    // One job at a time: the composed fax stays with the caller.
    ShowMessage(MB_ICONEXCLAMATION, nullptr, str::kJobNotStarted);
    return 0;
  }
  app.Inputs() = SendInputs{fields.generatedFile, fields.number, fields.recipient, fields.note};
  JobRequest request;
  request.mode = JobMode::Send;
  request.device = SendDeviceName(app);
  request.body = [&app] { return app.RunJob(kSendJob); };
  // The outcome messages, and after a send through every modem in turn the
  // offer to keep the one that carried it.
  request.finished = [&app](int result) { app.ShowOutcome(kSendJob, result); };
  return status.StartJobThread(std::move(request)) == 1 ? 1 : 0;
}

SendContext DesktopSendContext(AppOper& app, StatusWindow& status, DBFunc* store,
                               std::function<void(int folder, const FaxRecord&)> filed) {
  SendContext context;
  context.settings = &app.Settings();
  context.systemLog = &app.SystemLog();
  context.store = store;
  context.newFaxFile = [&app] { return app.NewComposedFile(); };
  context.startSend = [&app, &status](const SendFields& fields) {
    return StartSendJob(app, status, fields);
  };
  context.filed = std::move(filed);
  return context;
}

}  // namespace vexo::ui
