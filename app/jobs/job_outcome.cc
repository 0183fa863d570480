// The messages a finished job leaves for the user, by job and result. Where
// the job reported problems the user may ask for the details (the error
// dialog); otherwise the reports go quietly into the system log. Either way
// the pool is empty afterwards: nothing of a finished job turns up later in
// another operation's error dialog. A fax that went or arrived but could not
// be filed is never announced as a plain success.
#include <string>

#include "app/jobs/app_oper.h"
#include "base/error_pool.h"
#include "base/job_control.h"
#include "base/presenter.h"
#include "base/string_ids.h"
#include "base/strings.h"
#include "modem/tapi_oper.h"

namespace vexo {
namespace {

constexpr unsigned kStrAutoRetryLabel = 65055;
constexpr unsigned kStrSendFailed = 65090;
constexpr unsigned kStrPartlySentDetails = 65091;
constexpr unsigned kStrPartlySent = 65092;
constexpr unsigned kStrSent = 65093;
constexpr unsigned kStrAutoCancelled = 65094;
constexpr unsigned kStrShowDetails = 65095;
constexpr unsigned kStrNoModemSent = 65096;
constexpr unsigned kStrAutoPartlySent = 65097;
constexpr unsigned kStrAutoSent = 65098;
constexpr unsigned kStrWaitFailedDetails = 65099;
constexpr unsigned kStrWaitFailed = 65100;
constexpr unsigned kStrReceiveCancelled = 65101;
constexpr unsigned kStrReceiveFailed = 65102;
constexpr unsigned kStrPartlyReceivedDetails = 65103;
constexpr unsigned kStrPartlyReceived = 65104;
constexpr unsigned kStrReceived = 65105;

constexpr unsigned kInfo = MB_OK | MB_ICONINFORMATION;
constexpr unsigned kError = MB_OK | MB_ICONSTOP;

bool PoolEmpty() { return ErrorPool::Instance().Count() == 0; }

// A message that offers the details: with always (the vexo command) they
// follow without a question.
void OfferDetails(unsigned icon, unsigned stringId, bool always, LogFile* log) {
  const int answer = ShowMessage((always ? MB_OK : MB_YESNO) | icon, nullptr, stringId);
  FlushErrorPool(log, !(always || answer == IDYES));
}

}  // namespace

void AppOper::ShowOutcome(std::uint32_t kind, int result, bool detailsAlways) {
  if (kind == kSendJob)
    ShowSendOutcome(result, detailsAlways);
  else if (kind == kReceiveJob)
    ShowReceiveOutcome(result, detailsAlways);
  // Notices of a success (every modem tried, ports that did not open) and
  // whatever a row without details left.
  if (!PoolEmpty()) FlushErrorPool(&m_systemLog, true);
}

void AppOper::ShowSendOutcome(int result, bool detailsAlways) {
  LogFile* log = &m_systemLog;
  if (!m_lastSendAuto) {
    if (result == 0 && m_filingFailed) {
      OfferDetails(MB_ICONEXCLAMATION, str::kSentNotFiled, detailsAlways, log);
    } else if (result == 0) {
      ShowMessage(kInfo, nullptr, kStrSent);
    } else if (result == 1) {
      // Nothing to show details of: a plain message, not a question.
      if (PoolEmpty())
        ShowMessage(kInfo, nullptr, kStrPartlySent);
      else
        OfferDetails(MB_ICONSTOP, kStrPartlySentDetails, detailsAlways, log);
    } else if (result == -1) {
      OfferDetails(MB_ICONSTOP, kStrSendFailed, detailsAlways, log);
    }
    return;
  }
  const std::string modem = m_tapi && m_autoRetryIndex < m_tapi->Modems().size()
                                ? m_tapi->Modems()[m_autoRetryIndex].name
                                : std::string();
  const auto offerToKeep = [&](unsigned stringId) {
    if (ShowMessage(MB_YESNO | MB_ICONINFORMATION, nullptr, stringId, modem.c_str()) == IDYES) {
      // Only the choice is written: a vexo command's overrides for this run
      // (class, speed, station id) stay out of the settings file.
      ChooseModem(m_autoRetryIndex);
      m_settings.CommitModemName();
    }
  };
  if (result == 0) {
    offerToKeep(kStrAutoSent);
    if (m_filingFailed) OfferDetails(MB_ICONEXCLAMATION, str::kSentNotFiled, detailsAlways, log);
  } else if (result == 1) {
    offerToKeep(kStrAutoPartlySent);
    if (PoolEmpty())
      ShowMessage(kInfo, nullptr, kStrPartlySent);
    else
      OfferDetails(MB_ICONINFORMATION, kStrShowDetails, detailsAlways, log);
  } else if (result == -1) {
    ShowMessage(kError, nullptr, kStrNoModemSent);
    OfferDetails(MB_ICONINFORMATION, kStrShowDetails, detailsAlways, log);
  } else if (result == kJobCancelledAutoRetry) {
    const std::string label = HasResString(kStrAutoRetryLabel) ? LoadResString(kStrAutoRetryLabel)
                                                               : "Auto Retry All Modem";
    ShowMessage(kInfo, nullptr, kStrAutoCancelled, label.c_str());
    if (!PoolEmpty()) OfferDetails(MB_ICONINFORMATION, kStrShowDetails, detailsAlways, log);
  }
}

void AppOper::ShowReceiveOutcome(int result, bool detailsAlways) {
  LogFile* log = &m_systemLog;
  switch (result) {
    case 0:
      if (m_filingFailed) {
        OfferDetails(MB_ICONEXCLAMATION, str::kReceivedNotFiled, detailsAlways, log);
        break;
      }
      if (!PoolEmpty()) FlushErrorPool(log, true);
      ShowMessage(kInfo, nullptr, kStrReceived);
      break;
    case 1:
      if (PoolEmpty())
        ShowMessage(kError, nullptr, kStrPartlyReceived);
      else
        OfferDetails(MB_ICONSTOP, kStrPartlyReceivedDetails, detailsAlways, log);
      break;
    case -1:
      OfferDetails(MB_ICONSTOP, kStrReceiveFailed, detailsAlways, log);
      break;
    case kJobWaitFailed:
      if (PoolEmpty())
        ShowMessage(kError, nullptr, kStrWaitFailed);
      else
        OfferDetails(MB_ICONSTOP, kStrWaitFailedDetails, detailsAlways, log);
      break;
    case kJobWaitCancelled:
      ShowMessage(kInfo, nullptr, kStrReceiveCancelled);
      break;
    default:
      break;
  }
}

}  // namespace vexo
