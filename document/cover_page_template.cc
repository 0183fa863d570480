#include "document/cover_page_template.h"

namespace vexo {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsSeparator(char c) { return c == ',' || IsBlank(c); }

// The keyword row standing at the start of text and ended by ">", a blank or a
// tab (text holds what lies between "<" and ">", so its end is the ">").
const CoverKeywordRow* MatchKeyword(std::string_view text) {
  for (const CoverKeywordRow& row : kCoverKeywords) {
    const std::string_view word = row.text;
    if (!text.starts_with(word)) continue;
    if (text.size() == word.size() || IsBlank(text[word.size()])) return &row;
  }
  return nullptr;
}

std::string_view Word(std::string_view args) {
  std::size_t start = 0;
  while (start < args.size() && IsBlank(args[start])) ++start;
  std::size_t end = start;
  while (end < args.size() && !IsBlank(args[end])) ++end;
  return args.substr(start, end - start);
}

}  // namespace

void ParseCoverNumbers(std::string_view args, CoverItem& item) {
  std::uint32_t value = 0;
  bool ignoring = false;  // other characters after the digits: skip to the separator
  auto store = [&] {
    if (item.argCount < kCoverMaxArgs) item.args[item.argCount++] = value;
  };
  for (const char c : args) {
    if (IsSeparator(c)) {
      if (value != 0) store();
      value = 0;
      ignoring = false;
    } else if (c >= '0' && c <= '9' && !ignoring) {
      const std::uint32_t next = value * 10 + static_cast<std::uint32_t>(c - '0');
      value = next > kCoverMaxNumber ? kCoverMaxNumber : next;
    } else {
      ignoring = true;
    }
  }
  store();
}

std::vector<CoverItem> SplitCoverLine(std::string_view line) {
  std::vector<CoverItem> items;
  std::size_t pos = 0;
  // Literal text from `from` up to the next "<" at or after `searchFrom`.
  auto literal = [&](std::size_t from, std::size_t searchFrom) {
    const std::size_t next = line.find('<', searchFrom);
    const std::size_t end = next == std::string_view::npos ? line.size() : next;
    CoverItem item;
    item.text = line.substr(from, end - from);
    items.push_back(item);
    pos = end;
  };
  while (pos < line.size()) {
    if (line[pos] != '<') {
      literal(pos, pos);
      continue;
    }
    const std::size_t close = line.find('>', pos + 1);
    if (close == std::string_view::npos) {
      literal(pos, pos + 1);
      continue;
    }
    std::string_view inner = line.substr(pos + 1, close - pos - 1);
    while (!inner.empty() && IsBlank(inner.front())) inner.remove_prefix(1);
    const CoverKeywordRow* row = MatchKeyword(inner);
    if (row == nullptr) {
      literal(pos, pos + 1);
      continue;
    }
    CoverItem item;
    item.isTag = true;
    item.keyword = row->keyword;
    const std::string_view args = inner.substr(std::string_view(row->text).size());
    if (row->args == CoverArgs::Numbers) ParseCoverNumbers(args, item);
    if (row->args == CoverArgs::Word) item.text = Word(args);
    items.push_back(item);
    pos = close + 1;
  }
  return items;
}

}  // namespace vexo
