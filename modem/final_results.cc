#include "modem/final_results.h"

#include "modem/result_lines.h"

namespace vexo {

bool IsFinalResult(std::string_view line) {
  for (const char* word : kFinalResultWords) {
    const std::string_view whole = word;
    if (line.size() == whole.size() && StartsWithNoCase(line, whole)) return true;
  }
  constexpr std::string_view kConnectWithRate = "CONNECT ";
  return line.size() > kConnectWithRate.size() && StartsWithNoCase(line, kConnectWithRate);
}

}  // namespace vexo
