#include "ui/common/outcome_messages.h"

#include <string>

#include "base/error_pool.h"
#include "base/presenter.h"
#include "base/string_ids.h"
#include "ui/common/ui_strings.h"

namespace vexo::ui {
namespace {

constexpr unsigned kYesNoInfo = MB_ICONINFORMATION | MB_YESNO;
constexpr unsigned kYesNoError = MB_ICONSTOP | MB_YESNO;

bool PoolEmpty() { return ErrorPool::Instance().Count() == 0; }

// Asks whether to show the details; Yes shows the error dialog, No writes the
// records to the log only. Either way the pool is emptied.
void OfferDetails(unsigned style, unsigned id, LogFile* log) {
  const bool show = ShowMessage(style, nullptr, id) == IDYES;
  FlushErrorPool(log, !show);
}

bool OfferModem(unsigned id, const QString& modemName) {
  const std::string name = modemName.toStdString();
  return ShowMessage(kYesNoInfo, nullptr, id, name.c_str()) == IDYES;
}

}  // namespace

bool ShowSendOutcome(int result, SendRoute route, const QString& modemName, LogFile* log) {
  bool keep = false;
  if (route == SendRoute::Fixed) {
    switch (result) {
      case 0:
        ShowMessage(MB_ICONINFORMATION, nullptr, str::kSent);
        break;
      case 1:
        if (PoolEmpty())
          ShowMessage(kYesNoInfo, nullptr, str::kPartlySent);
        else
          OfferDetails(kYesNoError, str::kPartlySentDetails, log);
        break;
      case -1:
        OfferDetails(kYesNoError, str::kSendFailed, log);
        break;
      default:
        break;
    }
    return false;
  }
  switch (result) {
    case 0:
      keep = OfferModem(str::kAutoSent, modemName);
      break;
    case 1:
      keep = OfferModem(str::kAutoPartlySent, modemName);
      if (PoolEmpty())
        ShowMessage(MB_ICONINFORMATION, nullptr, str::kPartlySent);
      else
        OfferDetails(kYesNoInfo, str::kShowDetails, log);
      break;
    case -1:
      ShowMessage(MB_ICONSTOP, nullptr, str::kNoModemSent);
      OfferDetails(kYesNoInfo, str::kShowDetails, log);
      break;
    case -2: {
      const std::string name = AutoModemName().toStdString();
      ShowMessage(MB_ICONINFORMATION, nullptr, str::kAutoCancelled, name.c_str());
      if (!PoolEmpty()) OfferDetails(kYesNoInfo, str::kShowDetails, log);
      break;
    }
    default:
      break;
  }
  return keep;
}

void ShowReceiveOutcome(int result, LogFile* log) {
  switch (result) {
    case 0:
      if (!PoolEmpty()) FlushErrorPool(log, true);
      ShowMessage(MB_ICONINFORMATION, nullptr, str::kReceived);
      break;
    case 1:
      if (PoolEmpty())
        ShowMessage(MB_ICONSTOP, nullptr, str::kPartlyReceived);
      else
        OfferDetails(kYesNoError, str::kPartlyReceivedDetails, log);
      break;
    case -1:
      OfferDetails(kYesNoError, str::kReceiveFailed, log);
      break;
    case -2:
      if (PoolEmpty())
        ShowMessage(kYesNoError, nullptr, str::kWaitFailed);
      else
        OfferDetails(kYesNoError, str::kWaitFailedDetails, log);
      break;
    case -3:
      ShowMessage(MB_ICONINFORMATION, nullptr, str::kReceiveCancelled);
      break;
    default:
      break;
  }
}

}  // namespace vexo::ui
