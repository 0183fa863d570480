// Names the Class 1 transmit and receive sessions share: status string ids,
// report texts, the page buffer size and the module name.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexo::class1 {

constexpr const char* kModule = "FClass1Func";
constexpr const char* kFrameCommand = "AT+FTH=%s";
constexpr const char* kReceiveFrameCommand = "AT+FRH=%s";
constexpr const char* kV21Code = "3";

constexpr unsigned kStrDialling = 65062;
constexpr unsigned kStrRemoteAnswered = 65063;
constexpr unsigned kStrRemoteId = 65064;
constexpr unsigned kStrPageSentWaiting = 65065;
constexpr unsigned kStrSendingPage = 65066;
constexpr unsigned kStrSendEnd = 65067;
constexpr unsigned kStrRemoteIdReceive = 65071;
constexpr unsigned kStrReceivingPage = 65072;
constexpr unsigned kStrReceiveEnd = 65073;

constexpr const char* kTimeoutText = "Timeout waiting for modem response.";
constexpr const char* kCancelText = "User terminate the fax operation";
constexpr const char* kErrorText = "Modem return ERROR result.";

constexpr std::size_t kPageBufferBytes = 8192;
constexpr std::size_t kChunkBytes = 4096;
constexpr std::uint32_t kCommandPauseMs = 20;
constexpr std::uint32_t kWriteMultiplierMs = 10;
constexpr std::uint32_t kWriteConstantMs = 30000;

}  // namespace vexo::class1
