// vexo list, show, move, copy and delete: the fax record store of a home
// directory (faxes.db, fax files in its Data/ folder) from a shell. Each command
// opens the store, does its work through the same operations the fax list uses,
// and prints the error pool before it exits when anything failed.
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings/settings.h"
#include "app/store/db_func.h"
#include "base/error_pool.h"

namespace vexo::cli {
namespace {

constexpr const char* kDataSubdirectory = "Data/";

struct StoreArgs {
  std::optional<std::string> home;
  std::optional<std::string> folder;  // --folder or --to
  std::optional<std::string> sort;
  bool descending = false;
  std::vector<CEOID> ids;
  bool bad = false;
};

std::optional<CEOID> ParseId(std::string_view text) {
  CEOID id = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (ec != std::errc() || end != text.data() + text.size() || id == 0) return std::nullopt;
  return id;
}

// Options may come in any order: --home DIR, --folder F, --to F, --sort S,
// --desc; every other word is a record id.
StoreArgs ParseArgs(int argc, char** argv, std::string_view folderOption) {
  StoreArgs args;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--home" && hasValue) {
      args.home = argv[++i];
    } else if (arg == folderOption && hasValue) {
      args.folder = argv[++i];
    } else if (arg == "--sort" && hasValue && folderOption == "--folder") {
      args.sort = argv[++i];
    } else if (arg == "--desc" && folderOption == "--folder") {
      args.descending = true;
    } else if (const auto id = ParseId(arg)) {
      args.ids.push_back(*id);
    } else {
      std::fprintf(stderr, "vexo: unexpected argument \"%.*s\"\n", static_cast<int>(arg.size()),
                   arg.data());
      args.bad = true;
    }
  }
  return args;
}

int Usage() {
  std::fputs(
      "usage: vexo list [--folder sent|sending|inbox|deleted] [--sort "
      "contact|telephone|date|status]"
      " [--desc] [--home DIR]\n"
      "       vexo show ID [--home DIR]\n"
      "       vexo move ID... --to FOLDER [--home DIR]\n"
      "       vexo copy ID... --to FOLDER [--home DIR]\n"
      "       vexo delete ID... [--home DIR]   (in the deleted folder: for good, with the file)\n",
      stderr);
  return 2;
}

// Prints what the error pool gathered; returns the exit code for a failure.
int Failed() {
  FlushErrorPool(nullptr, false);
  return 1;
}

std::unique_ptr<DBFunc> OpenStore(const StoreArgs& args) {
  std::string home;
  if (args.home) {
    home = *args.home;
    if (!home.empty() && home.back() != '/') home += '/';
  } else if (auto fromEnvironment = HomeDirectoryFromEnvironment()) {
    home = *fromEnvironment;
  } else {
    std::fputs("vexo: no home directory (set VEXO_HOME or use --home)\n", stderr);
    return nullptr;
  }
  std::error_code ec;
  std::filesystem::create_directories(home, ec);
  StoreOptions options;
  options.homeDir = home;
  options.dataDir = home + kDataSubdirectory;
  // The command never offers to empty the folders: that question belongs to the
  // first start of the desktop program.
  options.settingsFileExisted = true;
  auto store = CreateDBFunc(std::move(options));
  if (!store) Failed();
  return store;
}

std::optional<int> TargetFolder(const StoreArgs& args) {
  if (!args.folder) return std::nullopt;
  const int folder = FolderFromCliName(*args.folder);
  if (folder < 0) {
    std::fprintf(stderr, "vexo: unknown folder \"%s\" (sent, sending, inbox, deleted)\n",
                 args.folder->c_str());
    return std::nullopt;
  }
  return folder;
}

const char* StatusText(int folder, std::uint16_t status) {
  switch (status) {
    case 0:
      return "failed";
    case 1:
      return folder == FOLDER_INBOX ? "received" : "sent";
    case 2:
      return "partly";
    default:
      return "";
  }
}

const char* ResolutionText(std::uint16_t resolution) {
  switch (resolution) {
    case 1:
      return "Normal";
    case 2:
      return "Fine";
    case 3:
      return "Super-Fine";
    default:
      return "";
  }
}

// Prints each listed record as one line under the list's column titles.
class PrintingSink : public FaxListSink {
 public:
  explicit PrintingSink(int folder) : m_folder(folder) {}
  void DeleteAllItems() override {}
  void SetRecordCount(std::size_t count) override {
    std::printf("%s: %zu fax%s\n", FolderDisplayName(m_folder).c_str(), count,
                count == 1 ? "" : "es");
    if (count > 0)
      std::printf("%10s  %-8s  %-24s  %-20s  %s\n", "ID", "Status", "Contact", "Telephone", "Date");
  }
  void AddItem(const FaxListItem& item) override {
    std::printf("%10u  %-8s  %-24s  %-20s  %s\n", item.oid, StatusText(m_folder, item.status),
                item.contact.c_str(), item.telephone.c_str(), item.dateText.c_str());
  }

 private:
  int m_folder;
};

struct SortName {
  const char* name;
  unsigned property;
};
constexpr SortName kSortNames[] = {{"status", PROP_STATUS},
                                   {"contact", PROP_CONTACT},
                                   {"telephone", PROP_TELEPHONE},
                                   {"date", PROP_DATE}};

// Moves or copies each id from the folder that holds it.
int Transfer(int argc, char** argv, bool move) {
  const StoreArgs args = ParseArgs(argc, argv, "--to");
  if (args.bad || args.ids.empty() || !args.folder) return Usage();
  const auto target = TargetFolder(args);
  if (!target) return 2;
  auto store = OpenStore(args);
  if (!store) return 1;
  bool ok = true;
  for (const CEOID id : args.ids) {
    const int source = store->FindRecordFolder(id);
    if (source < 0) {
      std::fprintf(stderr, "vexo: no fax with id %u\n", id);
      ok = false;
      continue;
    }
    if (move && source == *target) {
      std::printf("%u is in %s already\n", id, FolderDisplayName(source).c_str());
      continue;
    }
    std::vector<CEOID> added;
    const CEOID ids[] = {id};
    if (move ? store->MoveRecords(source, *target, ids, &added)
             : store->CopyRecords(source, *target, ids, &added)) {
      if (added.size() == 1)
        std::printf("%u -> %u (%s)\n", id, added[0], FolderDisplayName(*target).c_str());
    }
    ok = ok && added.size() == 1;
  }
  if (ErrorPool::Instance().Count() > 0) return Failed();
  return ok ? 0 : 1;
}

}  // namespace

int RunList(int argc, char** argv) {
  const StoreArgs args = ParseArgs(argc, argv, "--folder");
  if (args.bad || !args.ids.empty()) return Usage();
  int folder = FOLDER_INBOX;
  if (args.folder) {
    const auto chosen = TargetFolder(args);
    if (!chosen) return 2;
    folder = *chosen;
  }
  unsigned sort = PROP_DATE;
  if (args.sort) {
    sort = 0;
    for (const SortName& s : kSortNames)
      if (*args.sort == s.name) sort = s.property;
    if (sort == 0) {
      std::fprintf(stderr, "vexo list: unknown sort \"%s\"\n", args.sort->c_str());
      return 2;
    }
  }
  auto store = OpenStore(args);
  if (!store) return 1;
  PrintingSink sink(folder);
  if (!store->ListFolder(sink, FolderType(folder), sort,
                         args.descending ? kSortDescending : kSortAscending))
    return Failed();
  return 0;
}

int RunShow(int argc, char** argv) {
  const StoreArgs args = ParseArgs(argc, argv, "--folder");
  if (args.bad || args.ids.size() != 1 || args.folder || args.sort) return Usage();
  auto store = OpenStore(args);
  if (!store) return 1;
  const CEOID id = args.ids[0];
  const int folder = store->FindRecordFolder(id);
  if (folder < 0) {
    std::fprintf(stderr, "vexo: no fax with id %u\n", id);
    return ErrorPool::Instance().Count() > 0 ? Failed() : 1;
  }
  FaxRecord r;
  if (!store->OpenFolder(FolderType(folder), 0, kSortAscending) || !store->ReadRecord(id, r))
    return Failed();
  auto text = [](const std::optional<std::string>& s) { return s ? s->c_str() : ""; };
  std::printf("ID: %u\nFolder: %s\nStatus: %u %s\n", r.oid, FolderDisplayName(folder).c_str(),
              r.status, StatusText(folder, r.status));
  std::printf("Contact: %s\nTelephone: %s\nRemote station: %s\nDate: %s\n", text(r.contact),
              text(r.telephone), text(r.remoteStationId), FormatListDate(r.date).c_str());
  if (r.info1 && !r.info1->empty()) std::printf("Info: %s\n", r.info1->c_str());
  if (r.info2 && !r.info2->empty()) std::printf("Info: %s\n", r.info2->c_str());
  std::printf("File: %s\nPages: %u\nResolution: %s\n", text(r.fileName), r.pages,
              ResolutionText(r.resolution));
  if (r.noteFlag == 1 || (r.note && !r.note->empty())) std::printf("Note: %s\n", text(r.note));
  return 0;
}

int RunMove(int argc, char** argv) { return Transfer(argc, argv, true); }
int RunCopy(int argc, char** argv) { return Transfer(argc, argv, false); }

// In the sent, sending and inbox folders a delete moves the record to the
// deleted folder; in the deleted folder it deletes it for good, and its file
// once no record names it.
int RunDelete(int argc, char** argv) {
  const StoreArgs args = ParseArgs(argc, argv, "--folder");
  if (args.bad || args.ids.empty() || args.folder || args.sort) return Usage();
  auto store = OpenStore(args);
  if (!store) return 1;
  bool ok = true;
  for (const CEOID id : args.ids) {
    const int folder = store->FindRecordFolder(id);
    const CEOID ids[] = {id};
    if (folder < 0) {
      std::fprintf(stderr, "vexo: no fax with id %u\n", id);
      ok = false;
    } else if (folder == FOLDER_DELETED) {
      if (store->DeleteRecords(folder, ids))
        std::printf("%u deleted\n", id);
      else
        ok = false;
    } else {
      std::vector<CEOID> added;
      if (store->MoveRecords(folder, FOLDER_DELETED, ids, &added) && added.size() == 1)
        std::printf("%u -> %u (%s)\n", id, added[0], FolderDisplayName(FOLDER_DELETED).c_str());
      else
        ok = false;
    }
  }
  if (ErrorPool::Instance().Count() > 0) return Failed();
  return ok ? 0 : 1;
}

}  // namespace vexo::cli
