// The send chain joined to the desktop program: the context the main window
// hands RunSendDialogChain (converted files named with the running file
// number, filing into the record store, the send job through the status
// window), and the start of a send job with its outcome messages.
#pragma once

#include <QString>

#include <functional>

#include "ui/send/send_chain.h"

namespace vexo {
class AppOper;
class DBFunc;
}  // namespace vexo

namespace vexo::ui {

class StatusWindow;

// The device the status window's title names: "COM%d:" without a chosen
// modem, the automatic choice's name, or the chosen modem's list name.
QString SendDeviceName(const AppOper& app);

// Starts the send of fields.generatedFile to fields.number through the status
// window; 1 when the job started. 0 when a job runs already or could not be
// started (the user was told), so the caller keeps the composed fax. Once the
// job has ended the outcome messages are shown, and after a send through the
// every-modem choice the user may keep the modem that carried it.
int StartSendJob(AppOper& app, StatusWindow& status, const SendFields& fields);

// The context for RunSendDialogChain in the desktop program; status must be
// the status window over app.Job(). store may be null
// (filing from the summary is then refused with a report); filed is told of
// records filed from the summary.
SendContext DesktopSendContext(AppOper& app, StatusWindow& status, DBFunc* store,
                               std::function<void(int folder, const FaxRecord&)> filed = {});

}  // namespace vexo::ui
