// The modem's final result words, part of the command exchange: the lines after
// which the modem says nothing more about a command ("OK", "ERROR", "CONNECT"
// with or without a rate, "NO CARRIER", "BUSY", "NO DIALTONE", "NO DIAL TONE",
// "NO ANSWER") and "RING", after which it stays silent for seconds. The port
// object ends reads early on them and the command exchange decides on them.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace vexo {

enum class FinalResult {
  Ok,
  Error,
  Connect,
  NoCarrier,
  Busy,
  NoDialtone,
  NoDialTone,
  NoAnswer,
  Ring,
};

// The words as the modem sends them, in the order of FinalResult.
inline constexpr std::array<const char*, 9> kFinalResultWords = {
    "OK",          "ERROR",        "CONNECT",   "NO CARRIER", "BUSY",
    "NO DIALTONE", "NO DIAL TONE", "NO ANSWER", "RING"};

constexpr const char* ResultWord(FinalResult result) {
  return kFinalResultWords[static_cast<std::size_t>(result)];
}

// Whether line (without its line end) is one of the words, letters compared
// without case; "CONNECT " followed by a rate counts as "CONNECT".
bool IsFinalResult(std::string_view line);

}  // namespace vexo
