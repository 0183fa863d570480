#include "app/jobs/call_record.h"

#include "base/job_control.h"
#include "platform/text.h"

namespace vexo {
namespace {

// Status 0 failed, 1 sent or received, 2 partly.
std::uint16_t StatusOf(int result) {
  switch (result) {
    case 0:
      return 1;
    case 1:
      return 2;
    default:
      return 0;
  }
}

}  // namespace

int CallFolder(std::uint32_t kind) { return kind == kSendJob ? FOLDER_SENT : FOLDER_INBOX; }

FaxRecord MakeCallRecord(const CallFacts& facts) {
  const bool sent = facts.kind == kSendJob;
  const std::string remote = Utf16ToUtf8(facts.fax.RemoteId());
  FaxRecord record;
  record.status = StatusOf(facts.result);
  record.contact = sent ? facts.recipient : remote;
  record.telephone = sent ? facts.number : std::string();
  record.date = facts.filed;
  record.remoteStationId = remote;
  record.info1 = std::string();
  // "ECM, MMR", "MH", ... once pages went: shown in the info pane and by vexo
  // show. The note stays the sender's own (a resend takes it over).
  record.info2 =
      facts.link && facts.fax.pagesTransferred != 0 ? LinkCodingText(*facts.link) : std::string();
  record.fileName = facts.fileName;
  record.pages =
      static_cast<std::uint16_t>(sent ? facts.fax.totalPages : facts.fax.pagesTransferred);
  record.resolution = (facts.fax.resolution & 2) != 0 ? kRecordFine : kRecordNormal;
  record.noteFlag = sent && !facts.note.empty() ? 1 : 0;
  record.note = sent ? facts.note : std::string();
  return record;
}

}  // namespace vexo
