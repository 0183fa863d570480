// The texts of the telephony modem line: the trace line of each telephony
// message, the names of call and line device states and disconnect modes, and
// the user's text for the reason a voice call failed. TAPIOper writes them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/telephony/telephony_provider.h"

namespace vexo {

// The trace line of one message; nullopt for a message that is not traced
// (a REINIT line device state of an unknown kind).
std::optional<std::string> TapiTraceText(const LineMessage& message);

// "LINECALLSTATE_DISCONNECTED: ..." for a disconnect mode.
std::string_view DisconnectModeText(std::uint32_t mode);
// "LINEDEVSTATE_..." for a line device state; empty for an unknown one.
std::string_view LineDevStateName(std::uint32_t state);

// The string id that tells the user a disconnect mode, or 0 when there is none.
unsigned DisconnectReasonStringId(std::uint32_t mode);
// That string's text, or "0x" and the mode in hexadecimal.
std::string DisconnectReasonText(std::uint32_t mode);

}  // namespace vexo
