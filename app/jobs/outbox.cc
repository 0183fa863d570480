#include "app/jobs/outbox.h"

#include <algorithm>
#include <filesystem>

#include "app/jobs/app_oper.h"
#include "app/jobs/call_record.h"
#include "app/jobs/fax_files.h"
#include "app/jobs/fax_pages.h"
#include "app/store/record_file.h"
#include "base/error_pool.h"
#include "base/string_ids.h"
#include "protocol/fax_result.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;

constexpr const char* kModule = "Outbox";
constexpr std::int64_t kSecondsPerMinute = 60;
// Resolution of a record: 1 normal, 2 fine.
constexpr std::uint16_t kRecordNormal = 1;
constexpr std::uint16_t kRecordFine = 2;

// Where a fax that was at `before` goes on after a call that stopped at
// `stop` of the file it sent: the call's stop, or for a resend file (its page
// 0 the cover page, then the pages from `before` on) that page mapped back.
std::uint32_t GoOnAt(std::uint32_t before, std::uint32_t stop, bool resent) {
  if (!resent) return stop != 0 ? stop : before;
  const ResumePosition at(stop);
  if (at.FromStart() || at.PageIndex() == 0) return before;
  return ResumePosition::At(0, ResumePosition(before).PageIndex() + at.PageIndex() - 1).Raw();
}

// A file the call sends in place of the queued one: the cover page and the
// pages still owed. Removed when the call is over.
class ResendFile {
 public:
  ResendFile() = default;
  ~ResendFile() {
    std::error_code ec;
    if (!m_path.empty()) fs::remove(m_path, ec);
  }
  ResendFile(const ResendFile&) = delete;
  ResendFile& operator=(const ResendFile&) = delete;

  // Writes page 0 of file and its pages from page `from` on to path.
  bool Make(const std::string& file, std::uint32_t from, const std::string& path) {
    const std::string files[] = {file};
    auto pages = PagesOf(files, from);
    if (!pages) return false;
    pages->insert(pages->begin(), FaxPageRef{file, 0});
    std::error_code ec;
    fs::remove(path, ec);  // left by a run that was killed
    if (!CopyFaxPages(*pages, path)) return false;
    m_path = path;
    return true;
  }
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

}  // namespace

Outbox::Outbox(AppOper& app, DBFunc& store, OutboxClock clock)
    : m_app(app), m_store(store), m_clock(std::move(clock)) {}

std::int64_t Outbox::Now() const { return OutboxSeconds(m_clock()); }

std::string Outbox::DataPath(const std::string& name) const {
  const auto path = RecordFilePath(m_app.Settings().TIFDataDir, name);
  return path ? path->string() : std::string();
}

// The name in the data directory of the fax file the record names: the file
// itself when it is one file there already, else a new file joining them all.
std::string Outbox::StoredFile(const std::vector<std::string>& files) {
  std::error_code ec;
  const fs::path dataDir = fs::weakly_canonical(m_app.Settings().TIFDataDir, ec);
  if (files.size() == 1 && fs::weakly_canonical(files[0], ec).parent_path() == dataDir)
    return fs::path(files[0]).filename().string();
  const auto pages = PagesOf(files);
  const std::string output = NewFaxFile(m_app.Settings(), false);
  if (!pages || output.empty() || !CopyFaxPages(*pages, output)) return {};
  return fs::path(output).filename().string();
}

CEOID Outbox::Add(const OutboxFax& fax) {
  if (fax.number.empty()) {
    ReportError(0, kMsgDefault, kModule, "Add", "A queued fax needs a number to dial.");
    return 0;
  }
  for (const std::string& file : fax.files) {
    if (!ReadFaxFileSummary(file)) {
      ReportResString(0, kMsgDefault, kModule, "Add", str::kOutboxUnreadable, file.c_str(),
                      fax.number.c_str());
      return 0;
    }
  }
  const std::string name = fax.files.empty() ? std::string() : StoredFile(fax.files);
  const auto summary = name.empty() ? std::nullopt : ReadFaxFileSummary(DataPath(name));
  if (!summary) {
    ReportError(0, kMsgDefault, kModule, "Add", "The fax files could not be joined for %s.",
                fax.number.c_str());
    return 0;
  }
  FaxRecord record;
  record.status = 1;  // as a composed fax is filed
  record.contact = fax.recipient;
  record.telephone = fax.number;
  record.date = LocalFileTimeNow();
  record.remoteStationId = record.info1 = record.info2 = "";
  record.fileName = name;
  record.pages = static_cast<std::uint16_t>(std::min<std::uint32_t>(summary->pages, 0xFFFF));
  record.resolution = summary->fine ? kRecordFine : kRecordNormal;
  record.noteFlag = fax.note.empty() ? 0 : 1;
  record.note = fax.note;
  OutboxState state;
  state.nextTry = OutboxSeconds(fax.due);
  state.coverPage = fax.coverPage;
  return m_store.AddQueued(record, state) ? record.oid : 0;
}

bool Outbox::List(std::vector<QueuedFax>& faxes) { return m_store.ListQueued(faxes) == 1; }

bool Outbox::Cancel(CEOID id) {
  QueuedFax fax;
  if (!m_store.ReadQueued(id, fax)) return false;
  std::vector<CEOID> moved;
  const CEOID ids[] = {id};
  return m_store.MoveRecords(FOLDER_SENDING, FOLDER_DELETED, ids, &moved) && moved.size() == 1;
}

const QueuedFax* Outbox::NextDue(const std::vector<QueuedFax>& faxes,
                                 const std::vector<CEOID>& tried) const {
  const std::int64_t now = Now();
  for (const QueuedFax& fax : faxes) {
    if (!fax.Waiting()) continue;
    if (fax.state->nextTry > now) break;  // listed in the order of their next try
    if (std::ranges::find(tried, fax.record.oid) == tried.end()) return &fax;
  }
  return nullptr;
}

OutboxRun Outbox::RunDue() {
  OutboxRun run;
  std::vector<CEOID> tried;
  std::vector<QueuedFax> faxes;
  // The queue is read again before every call: another process may have sent,
  // cancelled or queued a fax meanwhile.
  while (List(faxes)) {
    const QueuedFax* fax = NextDue(faxes, tried);
    if (!fax) break;
    tried.push_back(fax->record.oid);
    const CallEnd end = Send(*fax, run);
    if (end == CallEnd::kNotMade) {
      run.stopped = true;
      break;
    }
    run.sent += end == CallEnd::kSent;
    run.failed += end == CallEnd::kFailed;
  }
  return run;
}

Outbox::CallEnd Outbox::Send(const QueuedFax& fax, OutboxRun& run) {
  const OutboxState& state = *fax.state;
  const std::string file = DataPath(fax.record.fileName.value_or(""));
  const auto summary = file.empty() ? std::nullopt : ReadFaxFileSummary(file);
  if (!summary) {
    ReportResString(0, kMsgDefault, kModule, "RunDue", str::kOutboxUnreadable,
                    fax.record.fileName.value_or("").c_str(),
                    fax.record.telephone.value_or("").c_str());
    return GiveUp(fax, state);
  }
  // Going on after the cover page: the call sends a file of the cover page
  // and the pages still owed, from its start.
  const ResumePosition resume(state.resume);
  ResendFile resend;
  if (state.coverPage && !resume.FromStart() && resume.PageIndex() > 0 &&
      !resend.Make(file, resume.PageIndex(),
                   DataPath("resend-" + std::to_string(fax.record.oid) + ".tif")))
    return GiveUp(fax, state);

  SendInputs& inputs = m_app.Inputs();
  inputs.file = resend.Path().empty() ? file : resend.Path();
  inputs.number = fax.record.telephone.value_or("");
  inputs.recipient = fax.record.contact.value_or("");
  inputs.note = fax.record.note.value_or("");
  inputs.startAt = resend.Path().empty() ? state.resume : 0;
  // The outbox files the fax itself, once it went.
  m_app.SetFileCalls(false);
  const bool started = m_app.Job().StartJob(kSendJob) == 1;
  const int result = started ? m_app.RunJob(kSendJob) : -1;
  m_app.SetFileCalls(true);
  inputs.startAt = 0;
  if (!started || m_app.JobFoundHomeBusy() || m_app.Job().IsCancelled()) return CallEnd::kNotMade;
  ++run.calls;

  const std::uint32_t reached = GoOnAt(state.resume, m_app.LastResume(), !resend.Path().empty());
  return AfterCall(fax, state, result, reached, summary->pages);
}

Outbox::CallEnd Outbox::AfterCall(const QueuedFax& fax, OutboxState state, int result,
                                  std::uint32_t reached, std::uint32_t pages) {
  ++state.tries;
  state.lastResult = result;
  // Every page went (some may have been refused): the fax is filed in Sent.
  if (result == 0 || (result == 1 && m_app.LastResume() == 0)) {
    CallFacts facts;
    facts.kind = kSendJob;
    facts.result = result;
    facts.fax = m_app.Result();
    facts.fax.totalPages = pages;
    facts.fileName = fax.record.fileName.value_or("");
    facts.recipient = fax.record.contact.value_or("");
    facts.number = fax.record.telephone.value_or("");
    facts.note = fax.record.note.value_or("");
    facts.filed = LocalFileTimeNow();
    facts.link = m_app.Kernel().LastLink();
    FaxRecord record = MakeCallRecord(facts);
    if (m_store.FileQueued(fax.record.oid, FOLDER_SENT, record)) return CallEnd::kSent;
    // It went but stays in Sending (the store said why): never send it twice.
    state.status = OutboxStatus::kFailed;
    m_store.UpdateQueued(fax.record.oid, state);
    return CallEnd::kFailed;
  }
  state.resume = reached;
  if (state.tries >= m_app.Settings().MaxTries) return GiveUp(fax, state);
  state.nextTry = Now() + kSecondsPerMinute * m_app.Settings().RetryDelay;
  m_store.UpdateQueued(fax.record.oid, state);
  // The call's reports go to the system log; the next call may well succeed.
  FlushErrorPool(&m_app.SystemLog(), true);
  return CallEnd::kRetry;
}

Outbox::CallEnd Outbox::GiveUp(const QueuedFax& fax, OutboxState state) {
  state.status = OutboxStatus::kFailed;
  m_store.UpdateQueued(fax.record.oid, state);
  ReportResString(0, kMsgDefault, kModule, "RunDue", str::kOutboxGaveUp,
                  fax.record.contact.value_or("").c_str(),
                  fax.record.telephone.value_or("").c_str(), static_cast<unsigned>(state.tries));
  return CallEnd::kFailed;
}

}  // namespace vexo
