#include "app/jobs/user_messages.h"

#include <string>

#include "base/presenter.h"
#include "base/string_ids.h"
#include "modem/tapi_oper_texts.h"

namespace vexo {

void ShowVoiceCallFailure(const VoiceCallFailure& failure, std::uint32_t useWhatAsSeedNum) {
  constexpr unsigned kStyle = MB_OK | MB_ICONSTOP;
  if (failure.kind == VoiceCallFailure::Kind::NoReply) {
    ShowMessage(kStyle, nullptr, str::kCallFailed);
    return;
  }
  unsigned box = 0;
  if (useWhatAsSeedNum == kUseDialNumber) box = str::kCallFailedDialled;
  if (useWhatAsSeedNum == kUseSeedNumber) box = str::kCallFailedSeed;
  if (box == 0) return;
  const std::string text = DisconnectReasonText(failure.disconnectReason);
  ShowMessage(kStyle, nullptr, box, text.c_str());
}

void ShowNotBilevel(const std::string& file) {
  ShowMessage(MB_OK | MB_ICONEXCLAMATION, nullptr, str::kNotBilevel, file.c_str());
}

bool AskReplaceOldFolders() {
  return ShowMessage(MB_YESNO | MB_ICONQUESTION, nullptr, str::kAskReplaceOldFolders) == IDYES &&
         ShowMessage(MB_YESNO | MB_ICONEXCLAMATION, nullptr, str::kConfirmReplaceOldFolders) ==
             IDYES;
}

}  // namespace vexo
