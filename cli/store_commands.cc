// vexo list, show, move, copy and delete: the fax record store of a home
// directory (faxes.db, fax files in its Data/ folder) from a shell. Each command
// opens the store, does its work through the same operations the fax list uses,
// and prints the error pool before it exits when anything failed. list and show
// print JSON for scripts with --json.
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings/settings.h"
#include "app/store/db_func.h"
#include "base/error_pool.h"
#include "cli/arg_parser.h"
#include "cli/json.h"

namespace vexo::cli {
namespace {

constexpr const char* kDataSubdirectory = "Data/";

struct StoreArgs {
  std::optional<std::string> home;
  std::optional<std::string> folder;  // --folder or --to
  std::optional<std::string> sort;
  bool descending = false;
  bool json = false;
  std::vector<CEOID> ids;
};

struct SortName {
  const char* name;
  unsigned property;
};
constexpr SortName kSortNames[] = {{"status", PROP_STATUS},
                                   {"contact", PROP_CONTACT},
                                   {"telephone", PROP_TELEPHONE},
                                   {"date", PROP_DATE}};

unsigned SortProperty(const std::string& name) {
  for (const SortName& sort : kSortNames)
    if (name == sort.name) return sort.property;
  return 0;
}

// Adds --home and, unless idHelp is null, the record ids (at least one).
void AddStoreOptions(CLI::App& cli, StoreArgs& args, const char* idHelp) {
  AddHome(cli, args.home);
  if (idHelp)
    cli.add_option("ID", args.ids, idHelp)
        ->required()
        ->check(CLI::Range(CEOID{1}, std::numeric_limits<CEOID>::max()).description(""));
}

CLI::Option* AddFolderOption(CLI::App& cli, StoreArgs& args, const std::string& name,
                             const std::string& help) {
  return cli.add_option(name, args.folder, help)
      ->check(Accepts([](const std::string& folder) { return FolderFromCliName(folder) >= 0; },
                      "sent, sending, inbox or deleted"))
      ->type_name("sent|sending|inbox|deleted");
}

void AddJsonOption(CLI::App& cli, StoreArgs& args) {
  cli.add_flag("--json", args.json, "print JSON for scripts");
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

// Collects the listed records' ids, top of the list first.
class IdSink : public FaxListSink {
 public:
  void DeleteAllItems() override { ids.clear(); }
  void SetRecordCount(std::size_t count) override { ids.reserve(count); }
  void AddItem(const FaxListItem& item) override { ids.push_back(item.oid); }
  std::vector<CEOID> ids;
};

std::string TextOf(const std::optional<std::string>& text) { return text.value_or(""); }

// Every field vexo show prints, as one JSON object.
std::string RecordJson(int folder, const FaxRecord& r) {
  return JsonObject()
      .AddNumber("id", r.oid)
      .AddString("folder", FolderDisplayName(folder))
      .AddNumber("status", r.status)
      .AddString("statusText", StatusText(folder, r.status))
      .AddString("contact", TextOf(r.contact))
      .AddString("telephone", TextOf(r.telephone))
      .AddString("remoteStation", TextOf(r.remoteStationId))
      .AddString("date", FormatListDate(r.date))
      .AddString("info1", TextOf(r.info1))
      .AddString("info2", TextOf(r.info2))
      .AddString("file", TextOf(r.fileName))
      .AddNumber("pages", r.pages)
      .AddString("resolution", ResolutionText(r.resolution))
      .AddString("note", TextOf(r.note))
      .Text();
}

// The listed records of folder as a JSON array of RecordJson objects.
bool PrintFolderJson(DBFunc& store, int folder, unsigned sort, int direction) {
  IdSink sink;
  if (!store.ListFolder(sink, FolderType(folder), sort, direction) ||
      !store.OpenFolder(FolderType(folder), sort, direction))
    return false;
  std::string json = "[";
  for (const CEOID id : sink.ids) {
    FaxRecord record;
    if (!store.ReadRecord(id, record)) return false;
    json += (json.size() > 1 ? ",\n " : "") + RecordJson(folder, record);
  }
  std::printf("%s]\n", json.c_str());
  return true;
}

void PrintRecord(int folder, const FaxRecord& r) {
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
}

// Moves or copies each id from the folder that holds it.
int Transfer(int argc, char** argv, bool move) {
  StoreArgs args;
  CLI::App cli{move ? "Move fax records to another folder."
                    : "Copy fax records to another folder."};
  AddStoreOptions(cli, args, "the ids of the records");
  AddFolderOption(cli, args, "--to", "the folder to put them in")->required();
  if (const auto code = ParseCommand(cli, argc, argv)) return *code;
  const int target = FolderFromCliName(*args.folder);
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
    if (move && source == target) {
      std::printf("%u is in %s already\n", id, FolderDisplayName(source).c_str());
      continue;
    }
    std::vector<CEOID> added;
    const CEOID ids[] = {id};
    if (move ? store->MoveRecords(source, target, ids, &added)
             : store->CopyRecords(source, target, ids, &added)) {
      if (added.size() == 1)
        std::printf("%u -> %u (%s)\n", id, added[0], FolderDisplayName(target).c_str());
    }
    ok = ok && added.size() == 1;
  }
  if (ErrorPool::Instance().Count() > 0) return Failed();
  return ok ? 0 : 1;
}

}  // namespace

int RunList(int argc, char** argv) {
  StoreArgs args;
  CLI::App cli{"List the faxes of a folder."};
  AddFolderOption(cli, args, "--folder", "the folder to list (default inbox)");
  cli.add_option("--sort", args.sort, "the column to sort by (default date)")
      ->check(Accepts([](const std::string& name) { return SortProperty(name) != 0; },
                      "contact, telephone, date or status"))
      ->type_name("contact|telephone|date|status");
  cli.add_flag("--desc", args.descending, "sort in descending order");
  AddJsonOption(cli, args);
  AddStoreOptions(cli, args, nullptr);
  if (const auto code = ParseCommand(cli, argc, argv)) return *code;
  const int folder = args.folder ? FolderFromCliName(*args.folder) : FOLDER_INBOX;
  const unsigned sort = args.sort ? SortProperty(*args.sort) : PROP_DATE;
  const int direction = args.descending ? kSortDescending : kSortAscending;
  auto store = OpenStore(args);
  if (!store) return 1;
  if (args.json) return PrintFolderJson(*store, folder, sort, direction) ? 0 : Failed();
  PrintingSink sink(folder);
  if (!store->ListFolder(sink, FolderType(folder), sort, direction)) return Failed();
  return 0;
}

int RunShow(int argc, char** argv) {
  StoreArgs args;
  CLI::App cli{"Print every field of one fax record."};
  AddStoreOptions(cli, args, "the id of the record");
  cli.get_option("ID")->expected(1);
  AddJsonOption(cli, args);
  if (const auto code = ParseCommand(cli, argc, argv)) return *code;
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
  if (args.json)
    std::printf("%s\n", RecordJson(folder, r).c_str());
  else
    PrintRecord(folder, r);
  return 0;
}

int RunMove(int argc, char** argv) { return Transfer(argc, argv, true); }
int RunCopy(int argc, char** argv) { return Transfer(argc, argv, false); }

// In the sent, sending and inbox folders a delete moves the record to the
// deleted folder; in the deleted folder it deletes it for good, and its file
// once no record names it.
int RunDelete(int argc, char** argv) {
  StoreArgs args;
  CLI::App cli{
      "Move fax records to the deleted folder, or, in the deleted folder, delete them and their "
      "files for good."};
  AddStoreOptions(cli, args, "the ids of the records");
  if (const auto code = ParseCommand(cli, argc, argv)) return *code;
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
