// The fax record: the in-memory form of one filed call (contact, numbers, date,
// file, pages, resolution, note), with the property numbers under which the
// record store keeps each field and the table of the four folders. Used by the
// record store, the fax jobs that file calls, the fax list and the info pane.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/store/file_time.h"

namespace vexo {

// Object id of a stored record; 0 while a record is not stored. Ids are never
// reused, across all four folders.
using CEOID = std::uint32_t;

// A 16-bit property that a record lacks reads as this value.
constexpr std::uint16_t kAbsentU16 = 0xFFFF;

// Property numbers of a record.
enum FaxProperty : unsigned {
  PROP_STATUS = 101,      // 16-bit: job result + 1
  PROP_CONTACT = 102,     // string
  PROP_TELEPHONE = 103,   // string
  PROP_DATE = 104,        // FILETIME, local time of filing
  PROP_REMOTE_ID = 105,   // string: remote station identifier
  PROP_INFO1 = 106,       // string shown in the info pane
  PROP_INFO2 = 107,       // string shown in the info pane
  PROP_FILE_NAME = 108,   // string: TIFF file, relative to TIFDataDir
  PROP_RESERVED = 109,    // 16-bit, always 0
  PROP_PAGES = 110,       // 16-bit
  PROP_RESOLUTION = 111,  // 16-bit: 1 Normal, 2 Fine, 3 Super-Fine
  PROP_NOTE_FLAG = 112,   // 16-bit: 1 when the fax carries a note
  PROP_NOTE = 113,        // string
};

enum class PropertyKind { U16, String, Date };

struct PropertyInfo {
  unsigned id;
  PropertyKind kind;
};

// All thirteen properties in number order.
constexpr std::array<PropertyInfo, 13> kFaxProperties{{
    {PROP_STATUS, PropertyKind::U16},
    {PROP_CONTACT, PropertyKind::String},
    {PROP_TELEPHONE, PropertyKind::String},
    {PROP_DATE, PropertyKind::Date},
    {PROP_REMOTE_ID, PropertyKind::String},
    {PROP_INFO1, PropertyKind::String},
    {PROP_INFO2, PropertyKind::String},
    {PROP_FILE_NAME, PropertyKind::String},
    {PROP_RESERVED, PropertyKind::U16},
    {PROP_PAGES, PropertyKind::U16},
    {PROP_RESOLUTION, PropertyKind::U16},
    {PROP_NOTE_FLAG, PropertyKind::U16},
    {PROP_NOTE, PropertyKind::String},
}};

// One record. A string that the stored record lacks is nullopt; a record read
// from the store owns its texts.
struct FaxRecord {
  CEOID oid = 0;
  std::optional<std::string> contact;          // 102
  std::optional<std::string> remoteStationId;  // 105
  FileTime date;                               // 104
  std::optional<std::string> telephone;        // 103
  std::optional<std::string> info1;            // 106
  std::optional<std::string> info2;            // 107
  std::optional<std::string> fileName;         // 108
  std::uint16_t status = 0;                    // 101
  std::uint16_t reserved = 0;                  // 109
  std::uint16_t pages = 0;                     // 110
  std::uint16_t resolution = 0;                // 111
  std::uint16_t noteFlag = 0;                  // 112
  std::optional<std::string> note;             // 113
};

// A record's resolution: normal or fine.
constexpr std::uint16_t kRecordNormal = 1;
constexpr std::uint16_t kRecordFine = 2;

// The four folders, by folder index.
enum FolderIndex : int {
  FOLDER_SENT = 0,
  FOLDER_SENDING = 1,
  FOLDER_INBOX = 2,
  FOLDER_DELETED = 3
};
constexpr int kFolderCount = 4;
// Database type of folder 0; folder i has type kFolderTypeBase + i.
constexpr std::uint32_t kFolderTypeBase = 0x93DA5;

struct FolderInfo {
  int index;
  const char* databaseName;
  std::uint32_t databaseType;
  unsigned nameStringId;        // folder name in the tree
  const char* englishFallback;  // when the string table lacks it
  const char* cliName;          // how the vexo command names the folder
};

constexpr std::array<FolderInfo, kFolderCount> kFolders{{
    {FOLDER_SENT, "VXOSent", kFolderTypeBase + 0, 65042, "Outbox2", "sent"},
    {FOLDER_SENDING, "VXOSending", kFolderTypeBase + 1, 65043, "Sending", "sending"},
    {FOLDER_INBOX, "VXORecv", kFolderTypeBase + 2, 65044, "Inbox", "inbox"},
    {FOLDER_DELETED, "VXODeleted", kFolderTypeBase + 3, 65045, "Deleted", "deleted"},
}};

// The folder of a database type; types outside the four are folder 0.
int FolderFromType(std::uint32_t databaseType);
constexpr std::uint32_t FolderType(int folder) {
  return kFolderTypeBase + static_cast<std::uint32_t>(folder);
}
constexpr bool IsFolder(int folder) { return folder >= 0 && folder < kFolderCount; }
// The folder's name for the tree: its string-table text, else the English fallback.
std::string FolderDisplayName(int folder);
// The folder a vexo command names ("sent", "sending", "inbox", "deleted"), or -1.
int FolderFromCliName(std::string_view name);

}  // namespace vexo
