// The string tables that hold every user-visible text by numeric id, one file a
// language (resources/strings/EngRes.txt, ChsRes.txt, ChtRes.txt; UTF-8 lines of
// "id<TAB>text" with the escapes \t \n \r \\). LoadResDll chooses the table for
// the run; LoadResString looks a text up. Code names the ids through
// "base/string_ids.h" (str::kCallFailed and so on), which the build writes
// from the English table and the names in resources/strings/string_ids.txt.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vexo {

class StringTable {
 public:
  // Reads a table file; returns false when it cannot be read. Lines that are not
  // "id<TAB>text" (comments start with '#') are skipped.
  bool Load(const std::filesystem::path& file);
  void Parse(std::string_view content);
  std::optional<std::string> Find(unsigned id) const;
  std::size_t Size() const { return m_texts.size(); }

 private:
  std::map<unsigned, std::string> m_texts;
};

// Where the shipped resources are: $VEXO_RESOURCES, else the nearest
// "share/vexofax" above the executable's folder (<prefix>/share/vexofax of an
// installed program), else empty.
std::filesystem::path ResourceDir();

// Chooses the table for the run by its library name ("EngRes", "ChsRes",
// "ChtRes"); returns false when its file cannot be read (the table is kept).
bool LoadResDll(std::string_view name);
// The loaded table's name, or empty before any LoadResDll.
std::string LoadedResName();

// The text for id. Before any table is chosen the English one is loaded. An id
// the table lacks gives "\tFail to Load String from Resource ID:%d !".
std::string LoadResString(unsigned id);
bool HasResString(unsigned id);

}  // namespace vexo
