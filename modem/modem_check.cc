#include "modem/modem_check.h"

#include "base/log_file.h"
#include "modem/comm_log.h"
#include "modem/fax_comm_func.h"
#include "modem/win_com_ce.h"

namespace vexo {

ModemCheckResult CheckModem(const ModemCheck& check) {
  ModemCheckResult result;
  LogFile log;
  if (OpenCommLog(log, reinterpret_cast<std::uintptr_t>(&log), check.logDirectory))
    result.logPath = log.Path();
  WinCOMCE port;
  port.SetLog(&log);
  port.SetCommLog(1);
  port.SetBaudRate(check.baud);
  port.SetOptions({check.device, "", "", false});
  if (!port.OpenComPort(nullptr, check.device, 0, "", 0)) return result;

  result.answer = ModemAnswer::NoAnswer;
  if (port.WriteCommand("AT", 0)) {
    FaxCommFunc exchange;
    exchange.Attach(&port);
    switch (exchange.MatchOKResult(kWaitOkMs, true)) {
      case 1:
        result.answer = ModemAnswer::Ok;
        break;
      case 0:
        result.answer = ModemAnswer::Error;
        break;
      default:
        break;
    }
  }
  port.CloseComPort(0);
  return result;
}

}  // namespace vexo
