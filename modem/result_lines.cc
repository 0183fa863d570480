#include "modem/result_lines.h"

#include "modem/final_results.h"

namespace vexo {
namespace {

bool IsSkipped(unsigned char c) { return IsLineEnd(c) || c == ' ' || c == '\t'; }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (Upper(text[i]) != prefix[i]) return false;
  return true;
}

int ScanResultLines(char* buffer, std::size_t size, std::span<char*> lines, bool skipRingInfo) {
  std::size_t stored = 0;
  bool dropNext = false;
  std::size_t i = 0;
  while (i < size) {
    if (IsSkipped(static_cast<unsigned char>(buffer[i]))) {
      ++i;
      continue;
    }
    const std::string_view rest(buffer + i, size - i);
    bool store = stored < lines.size();
    if (rest.size() > 5 && StartsWithNoCase(rest, "+CBM:")) {
      store = false;
      dropNext = true;
    } else if (skipRingInfo && rest.size() > 6 && StartsWithNoCase(rest, "+CRG:")) {
      store = false;
    } else if (store && dropNext) {
      store = false;  // the text line of a cell broadcast
      dropNext = false;
    }
    const std::size_t start = i;
    while (i < size && !IsLineEnd(static_cast<unsigned char>(buffer[i]))) {
      buffer[i] = Upper(buffer[i]);
      ++i;
    }
    buffer[i] = 0;  // the line end, or the byte after the data
    if (store) lines[stored++] = buffer + start;
    ++i;
  }
  return static_cast<int>(stored);
}

bool EndsInFinalLine(std::string_view bytes) {
  if (bytes.empty() || !IsLineEnd(static_cast<unsigned char>(bytes.back()))) return false;
  std::size_t end = bytes.size();
  while (end > 0 && IsSkipped(static_cast<unsigned char>(bytes[end - 1]))) --end;
  std::size_t begin = end;
  while (begin > 0 && !IsLineEnd(static_cast<unsigned char>(bytes[begin - 1]))) --begin;
  return IsFinalResult(bytes.substr(begin, end - begin));
}

}  // namespace vexo
