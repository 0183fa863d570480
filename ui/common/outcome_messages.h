// The messages a finished fax job leaves for the user, by job and result code,
// with the offer to show the error details where the job reported problems.
#pragma once

#include <QString>

namespace vexo {
class LogFile;
}

namespace vexo::ui {

// How the send went out: through one modem or port, or every modem in turn.
enum class SendRoute { Fixed, EveryModem };

// Shows the outcome of a send. modemName is the modem that carried the call on
// the every-modem route. Returns true when the user chose to keep that modem.
bool ShowSendOutcome(int result, SendRoute route, const QString& modemName, LogFile* systemLog);
// Shows the outcome of a receive.
void ShowReceiveOutcome(int result, LogFile* systemLog);

}  // namespace vexo::ui
