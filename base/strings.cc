#include "base/strings.h"

#include <unistd.h>

#include <charconv>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/text.h"

namespace vexo {
namespace {

constexpr std::size_t kMissingChars = 72;
// The resources' folder below an installation prefix.
constexpr const char* kResourceSubdir = "share/vexofax";

std::string Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    switch (text[++i]) {
      case 't':
        out += '\t';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case '\\':
        out += '\\';
        break;
      default:
        out += '\\';
        out += text[i];
        break;
    }
  }
  return out;
}

struct ActiveTable {
  std::mutex lock;
  StringTable table;
  std::string name;
};

ActiveTable& Active() {
  static ActiveTable active;
  return active;
}

std::filesystem::path ExecutableDir() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : exe.parent_path();
}

// Caller holds the lock.
void EnsureLoaded(ActiveTable& active) {
  if (!active.name.empty()) return;
  active.table.Load(ResourceDir() / "strings" / "EngRes.txt");
  active.name = "EngRes";
}

}  // namespace

bool StringTable::Load(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::ostringstream content;
  content << in.rdbuf();
  m_texts.clear();
  Parse(content.str());
  return true;
}

void StringTable::Parse(std::string_view content) {
  while (!content.empty()) {
    const std::size_t end = content.find('\n');
    std::string_view line = content.substr(0, end);
    content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t tab = line.find('\t');
    if (line.empty() || line[0] == '#' || tab == std::string_view::npos) continue;
    unsigned id = 0;
    const auto [ptr, ec] = std::from_chars(line.data(), line.data() + tab, id);
    if (ec != std::errc() || ptr != line.data() + tab) continue;
    m_texts[id] = Unescape(line.substr(tab + 1));
  }
}

std::optional<std::string> StringTable::Find(unsigned id) const {
  const auto it = m_texts.find(id);
  if (it == m_texts.end()) return std::nullopt;
  return it->second;
}

std::filesystem::path ResourceDir() {
  if (const char* env = std::getenv("VEXO_RESOURCES"); env && *env) return env;
  // Installed, <prefix>/bin/<program> finds <prefix>/share/vexofax; in the build tree,
  // where programs and tests sit one or two folders deeper, <build>/share/vexofax is a
  // link to the source tree's resources.
  std::error_code ec;
  for (auto dir = ExecutableDir().parent_path(); !dir.empty(); dir = dir.parent_path()) {
    const auto candidate = dir / kResourceSubdir;
    if (std::filesystem::is_directory(candidate / "strings", ec)) return candidate;
    if (dir == dir.root_path()) break;
  }
  return {};
}

bool LoadResDll(std::string_view name) {
  StringTable table;
  if (!table.Load(ResourceDir() / "strings" / (std::string(name) + ".txt"))) return false;
  ActiveTable& active = Active();
  std::lock_guard lock(active.lock);
  active.table = std::move(table);
  active.name = std::string(name);
  return true;
}

std::string LoadedResName() {
  ActiveTable& active = Active();
  std::lock_guard lock(active.lock);
  return active.name;
}

std::string LoadResString(unsigned id) {
  ActiveTable& active = Active();
  std::lock_guard lock(active.lock);
  EnsureLoaded(active);
  if (auto text = active.table.Find(id)) return *text;
  return Format(kMissingChars, "\tFail to Load String from Resource ID:%d !", static_cast<int>(id));
}

bool HasResString(unsigned id) {
  ActiveTable& active = Active();
  std::lock_guard lock(active.lock);
  EnsureLoaded(active);
  return active.table.Find(id).has_value();
}

}  // namespace vexo
