// The message box that tells the user a voice call of the telephony modem
// line failed. AppOper installs it as the line's call-failed handler.
#pragma once

#include <cstdint>

#include "modem/tapi_oper.h"

namespace vexo {

// No reply to the call: "could not be placed". A disconnected call: the
// dialled-number or seed-number box (by useWhatAsSeedNum 1 or 2) with the
// disconnect reason's text; no box for any other useWhatAsSeedNum.
void ShowVoiceCallFailure(const VoiceCallFailure& failure, std::uint32_t useWhatAsSeedNum);

}  // namespace vexo
