// Names every fax session shares, whatever its service class: the ids of the
// status strings a call shows, the texts its reports carry, and the two bytes
// that escape and end the data exchanged with the modem.
#pragma once

#include <cstdint>

namespace vexo {

// Status strings of a call (string-table ids).
inline constexpr unsigned kStrDialling = 65062;
inline constexpr unsigned kStrRemoteAnswered = 65063;
inline constexpr unsigned kStrRemoteId = 65064;
inline constexpr unsigned kStrPageSentWaiting = 65065;
inline constexpr unsigned kStrSendingPage = 65066;
inline constexpr unsigned kStrSendEnd = 65067;
inline constexpr unsigned kStrRemoteIdReceive = 65071;
inline constexpr unsigned kStrReceivingPage = 65072;
inline constexpr unsigned kStrReceiveEnd = 65073;
// The coding and error correction the far end and the modem settled (with
// LinkCodingText).
inline constexpr unsigned kStrLinkCoding = 65661;

// Report texts.
inline constexpr const char* kTimeoutText = "Timeout waiting for modem response.";
inline constexpr const char* kErrorText = "Modem return ERROR result.";
inline constexpr const char* kCancelText = "User terminate the fax operation";

// DLE escapes a control byte in the data stream (DLE DLE is one DLE of data);
// DLE ETX ends the stream.
inline constexpr std::uint8_t kDle = 0x10;
inline constexpr std::uint8_t kEtx = 0x03;

}  // namespace vexo
