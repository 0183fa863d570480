#include "ui/common/outcome_messages.h"

#include <string>

#include "base/error_pool.h"
#include "base/presenter.h"
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
        ShowMessage(MB_ICONINFORMATION, nullptr, 65093);
        break;
      case 1:
        if (PoolEmpty())
          ShowMessage(kYesNoInfo, nullptr, 65092);
        else
          OfferDetails(kYesNoError, 65091, log);
        break;
      case -1:
        OfferDetails(kYesNoError, 65090, log);
        break;
      default:
        break;
    }
    return false;
  }
  switch (result) {
    case 0:
      keep = OfferModem(65098, modemName);
      break;
    case 1:
      keep = OfferModem(65097, modemName);
      if (PoolEmpty())
        ShowMessage(MB_ICONINFORMATION, nullptr, 65092);
      else
        OfferDetails(kYesNoInfo, 65095, log);
      break;
    case -1:
      ShowMessage(MB_ICONSTOP, nullptr, 65096);
      OfferDetails(kYesNoInfo, 65095, log);
      break;
    case -2: {
      const std::string name = AutoModemName().toStdString();
      ShowMessage(MB_ICONINFORMATION, nullptr, 65094, name.c_str());
      if (!PoolEmpty()) OfferDetails(kYesNoInfo, 65095, log);
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
      ShowMessage(MB_ICONINFORMATION, nullptr, 65105);
      break;
    case 1:
      if (PoolEmpty())
        ShowMessage(MB_ICONSTOP, nullptr, 65104);
      else
        OfferDetails(kYesNoError, 65103, log);
      break;
    case -1:
      OfferDetails(kYesNoError, 65102, log);
      break;
    case -2:
      if (PoolEmpty())
        ShowMessage(kYesNoError, nullptr, 65100);
      else
        OfferDetails(kYesNoError, 65099, log);
      break;
    case -3:
      ShowMessage(MB_ICONINFORMATION, nullptr, 65101);
      break;
    default:
      break;
  }
}

}  // namespace vexo::ui
