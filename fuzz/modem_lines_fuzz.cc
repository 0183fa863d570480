// Fuzz target: the readers of the modem's answer lines. Every line a modem
// sends (result words, "+FCS:"-like parameter reports, quoted identifiers,
// hang-up codes, capability lists) goes through these functions, so none of
// them may read past the text or crash on any bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/error_pool.h"
#include "modem/fax_comm_func.h"
#include "protocol/class1_func.h"
#include "protocol/class2x_func.h"

namespace {

// Every line of the answer, as SplitFirstLine cuts them.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  vexo::LineSplit split;
  split.buffer = text.data();
  split.length = text.size();
  while (vexo::FaxCommFunc::SplitFirstLine(split) == 1) {
    if (split.lineLength > text.size()) std::abort();
    lines.emplace_back(split.line, split.lineLength);
    if (split.rest == nullptr) break;
    split.buffer = split.rest;
    split.length = split.restLength;
  }
  return lines;
}

void ReadLine(vexo::FaxCommFunc& func, const std::string& line) {
  const char* text = line.c_str();
  std::uint8_t fields[vexo::kFaxParamFields] = {};
  vexo::FaxCommFunc::ParseFaxParams(text, fields, nullptr);
  vexo::FaxCommFunc::ParseFaxParams(text, fields, "+FCS:");
  char value[vexo::kQuotedValueChars + 1];
  vexo::FaxCommFunc::GetQuotedValue(text, value);
  if (std::string_view(value).size() > vexo::kQuotedValueChars) std::abort();
  char16_t wide[vexo::kQuotedValueWChars];
  vexo::FaxCommFunc::GetQuotedValueW(text, wide);
  vexo::FaxCommFunc::ParseNumberAfterColon(text, false);
  vexo::FaxCommFunc::ParseNumberAfterColon(text, true);
  vexo::FaxCommFunc::FindToken(text, "OK");
  vexo::FaxCommFunc::FindToken(text, "+FHS:");
  vexo::ClassifyResult(line);
  if (vexo::RemoteIdOf(text).size() > 3 * vexo::kQuotedValueChars) std::abort();  // UTF-8
  func.ReportHangupCodeError(text, 2);
  func.ReportHangupCodeError(text, 20);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  vexo::FaxCommFunc func;
  const std::vector<std::string> lines = Lines(text);
  for (const std::string& line : lines) ReadLine(func, line);
  const int index = vexo::CapabilityLine(lines);
  if (index >= static_cast<int>(lines.size())) std::abort();
  // The token search over the raw bytes, a token taken from the input itself.
  if (size > 2) {
    const std::size_t cut = data[0] % size;
    vexo::FaxCommFunc::FindBytes(data, size, data + cut, size - cut);
    const std::string token(text.c_str() + cut);
    vexo::FaxCommFunc::FindToken(text.c_str(), token.c_str());
  }
  vexo::ErrorPool::Instance().Clear();
  return 0;
}
