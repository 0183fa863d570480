// What the application shows or asks for the lower layers, which only report:
// a failed voice call of the telephony line (AppOper installs it as the line's
// call-failed handler), a TIFF attachment refused for its grey or colour pages,
// and the first start's question about the folders of an earlier installation.
#pragma once

#include <cstdint>
#include <string>

#include "modem/tapi_oper.h"

namespace vexo {

// No reply to the call: "could not be placed". A disconnected call: the
// dialled-number or seed-number box (by useWhatAsSeedNum 1 or 2) with the
// disconnect reason's text; no box for any other useWhatAsSeedNum.
void ShowVoiceCallFailure(const VoiceCallFailure& failure, std::uint32_t useWhatAsSeedNum);

// "The image <file> is not black and white ...".
void ShowNotBilevel(const std::string& file);

// Asks whether to empty the folders an earlier installation left, then asks
// for a confirmation; true only on two Yes.
bool AskReplaceOldFolders();

}  // namespace vexo
