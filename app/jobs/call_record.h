// The record a finished call is filed as: a send into the sent folder, a
// receive into the inbox, with the call's outcome, parties, pages and file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/store/fax_record.h"
#include "app/store/file_time.h"
#include "protocol/fax_result.h"

namespace vexo {

struct CallFacts {
  std::uint32_t kind = 0;  // kSendJob or kReceiveJob
  int result = -1;         // the kernel's 0, 1 or -1
  FaxResult fax;           // the call's counts, remote id and resolution
  std::string fileName;    // without directory; empty: no file was made
  std::string recipient;   // send: the name given for the recipient
  std::string number;      // send: the dialled number
  std::string note;        // send: the note
  FileTime filed;          // the local time of filing
  // How the page data travelled; nullopt when the call never got that far.
  std::optional<LinkCoding> link;
};

// The folder the call goes into (FOLDER_SENT or FOLDER_INBOX).
int CallFolder(std::uint32_t kind);
FaxRecord MakeCallRecord(const CallFacts& facts);

}  // namespace vexo
