// JSON output for scripts: a string quoted and escaped, and the members of
// one object in the order they are added.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vexo::cli {

// text as a JSON string: quotes, backslashes and control characters escaped,
// and every byte that is not part of valid UTF-8 given as U+FFFD.
std::string JsonString(std::string_view text);

class JsonObject {
 public:
  JsonObject& AddString(std::string_view key, std::string_view text);
  JsonObject& AddNumber(std::string_view key, std::uint64_t number);
  // "{...}" with the members added so far.
  std::string Text() const { return "{" + m_members + "}"; }

 private:
  void AddKey(std::string_view key);
  std::string m_members;
};

}  // namespace vexo::cli
