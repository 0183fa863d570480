#include "app/jobs/fax_recovery.h"

#include <sys/stat.h>

#include <set>

#include "app/jobs/fax_files.h"
#include "app/store/db_func.h"
#include "app/store/file_time.h"
#include "platform/text.h"

namespace vexo {
namespace {

constexpr std::uint16_t kStatusReceived = 1;

FileTime ModificationTime(const struct stat& st) {
  return LocalTimeToFileTime(LocalTimeOf(st.st_mtime)).value_or(LocalFileTimeNow());
}

}  // namespace

int FileOrphanedFaxes(DBFunc& store, const std::filesystem::path& dataDir,
                      const std::string& note) {
  std::set<std::string> named;
  if (!store.NamedFiles(named)) return -1;
  std::error_code ec;
  int filed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dataDir, ec)) {
    const std::string name = entry.path().filename().string();
    struct stat st {};
    if (!IsFaxFileName(name) || named.contains(AsciiLower(name)) ||
        ::stat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
      continue;
    const auto summary = ReadFaxFileSummary(entry.path().string());
    if (!summary) continue;
    FaxRecord record;
    record.status = kStatusReceived;
    record.date = ModificationTime(st);
    record.fileName = name;
    record.pages = static_cast<std::uint16_t>(summary->pages);
    record.resolution = summary->fine ? kRecordFine : kRecordNormal;
    record.noteFlag = 1;
    record.note = note;
    if (store.AddRecord(FOLDER_INBOX, record)) ++filed;
  }
  return filed;
}

}  // namespace vexo
