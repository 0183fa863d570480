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
#include "base/strings.h"
#include "platform/text.h"
#include "protocol/fax_result.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;

constexpr const char* kModule = "Outbox";
constexpr std::int64_t kSecondsPerMinute = 60;

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

constexpr std::size_t kOutcomeChars = 128;

// A report that tells why a call ended: its function (null: any) and words of
// its message, letters compared without case.
struct ReasonRule {
  const char* function;
  const char* words;
  OutboxOutcome outcome;
};
// A message holding the words of two rules is the first one's. The messages
// are the modem's final result words and hangup codes as the sessions report
// them, and the Class 1 session's own.
constexpr ReasonRule kReasonRules[] = {
    {"ProcessTrain", "", OutboxOutcome::kTrainingFailed},  // Class 1: no speed trained
    {nullptr, "failure to train", OutboxOutcome::kTrainingFailed},
    {nullptr, "busy", OutboxOutcome::kBusy},
    {nullptr, "dial tone", OutboxOutcome::kNoDialTone},
    {nullptr, "no answer", OutboxOutcome::kNoAnswer},
    {nullptr, "no carrier", OutboxOutcome::kNoCarrier},
    {nullptr, "fax handshake", OutboxOutcome::kNoCarrier},
    {nullptr, "ced tone", OutboxOutcome::kNoCarrier},
    {nullptr, "cannot receive", OutboxOutcome::kFarEndCannotReceive},
    {nullptr, "capability to receive", OutboxOutcome::kFarEndCannotReceive},
    {nullptr, "no suitable speed", OutboxOutcome::kFarEndCannotReceive},
    {nullptr, "by the far end", OutboxOutcome::kFarEndCannotReceive},
    {nullptr, "not offered", OutboxOutcome::kFarEndCannotReceive},
    {nullptr, "hangup", OutboxOutcome::kLineDropped},
    {nullptr, "phase a error", OutboxOutcome::kLineDropped},
};

std::optional<OutboxOutcome> ReasonOf(const ErrorRecord& report) {
  const std::string message = AsciiLower(report.message);
  for (const ReasonRule& rule : kReasonRules)
    if ((!rule.function || report.function == rule.function) &&
        message.find(rule.words) != std::string::npos)
      return rule.outcome;
  return std::nullopt;
}

// The port object's report that the port could not be opened.
bool PortNotOpened(const ErrorRecord& report) {
  return report.module == "WinCOMCE" && report.function.value_or("").starts_with("OpenComPort");
}

}  // namespace

Outbox::Outbox(AppOper& app, DBFunc& store, OutboxClock clock, OutboxCaller call)
    : m_app(app), m_store(store), m_clock(std::move(clock)), m_call(std::move(call)) {
  if (!m_call) m_call = [this](const SendInputs& inputs) { return CallThroughApp(inputs); };
}

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
  if (fax.number.empty()) state.status = OutboxStatus::kNeedsNumber;
  return m_store.AddQueued(record, state) ? record.oid : 0;
}

CEOID Outbox::SetNumber(CEOID id, const std::string& number, const std::string& name) {
  QueuedFax fax;
  if (!m_store.ReadQueued(id, fax)) return 0;
  if (!fax.NeedsNumber() || number.empty()) {
    ReportResString(0, kMsgDefault, kModule, "SetNumber", str::kOutboxNotHeld,
                    static_cast<unsigned>(id));
    return 0;
  }
  // The record is filed again with the number; its state follows it.
  FaxRecord record = fax.record;
  record.telephone = number;
  if (!name.empty()) record.contact = name;
  OutboxState state = *fax.state;
  state.status = OutboxStatus::kWaiting;
  state.nextTry = Now();
  if (!m_store.FileQueued(id, FOLDER_SENDING, record) || !m_store.UpdateQueued(record.oid, state))
    return 0;
  return record.oid;
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
  OutboxState state = *fax.state;
  const std::string file = DataPath(fax.record.fileName.value_or(""));
  const auto summary = file.empty() ? std::nullopt : ReadFaxFileSummary(file);
  if (!summary) {
    ReportResString(0, kMsgDefault, kModule, "RunDue", str::kOutboxUnreadable,
                    fax.record.fileName.value_or("").c_str(),
                    fax.record.telephone.value_or("").c_str());
    state.lastOutcome = OutboxOutcome::kUnreadable;
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

  SendInputs inputs;
  inputs.file = resend.Path().empty() ? file : resend.Path();
  inputs.number = fax.record.telephone.value_or("");
  inputs.recipient = fax.record.contact.value_or("");
  inputs.note = fax.record.note.value_or("");
  inputs.startAt = resend.Path().empty() ? state.resume : 0;
  const OutboxCall call = m_call(inputs);
  if (!call.made) return CallEnd::kNotMade;
  ++run.calls;
  const std::uint32_t reached = GoOnAt(state.resume, call.stop, !resend.Path().empty());
  return AfterCall(fax, state, call, reached, summary->pages);
}

OutboxCall Outbox::CallThroughApp(const SendInputs& inputs) {
  m_app.Inputs() = inputs;
  // The outbox files the fax itself, once it went.
  m_app.SetFileCalls(false);
  const std::uint64_t reportsBefore = ErrorPool::Instance().Added();
  const bool started = m_app.Job().StartJob(kSendJob) == 1;
  OutboxCall call;
  call.result = started ? m_app.RunJob(kSendJob) : -1;
  m_app.SetFileCalls(true);
  m_app.Inputs().startAt = 0;
  const std::vector<ErrorRecord> reports = ErrorPool::Instance().Since(reportsBefore);
  call.stop = m_app.LastResume();
  call.fax = m_app.Result();
  call.link = m_app.Kernel().LastLink();
  // Without a link the call never reached its fax session: the modem did not
  // answer or the port did not open (then the link is the call's before).
  call.made = started && !m_app.JobFoundHomeBusy() && !m_app.Job().IsCancelled() && call.link &&
              std::ranges::none_of(reports, PortNotOpened);
  call.outcome = CallOutcome(call.result, call.stop, reports);
  return call;
}

Outbox::CallEnd Outbox::AfterCall(const QueuedFax& fax, OutboxState state, const OutboxCall& call,
                                  std::uint32_t reached, std::uint32_t pages) {
  ++state.tries;
  state.lastResult = call.result;
  state.lastOutcome = call.outcome;
  // Every page went (some may have been refused): the fax is filed in Sent.
  if (call.outcome == OutboxOutcome::kSent || call.outcome == OutboxOutcome::kPartlySent)
    return FileSent(fax, state, call, pages);
  // Cancelled during the call: it stays where the cancel put it, not called again.
  if (m_store.FindRecordFolder(fax.record.oid) != FOLDER_SENDING) return CallEnd::kCancelled;
  state.resume = reached;
  if (call.outcome == OutboxOutcome::kFarEndCannotReceive ||
      state.tries >= m_app.Settings().MaxTries)
    return GiveUp(fax, state);
  state.nextTry = Now() + kSecondsPerMinute * m_app.Settings().RetryDelay;
  m_store.UpdateQueued(fax.record.oid, state);
  // The call's reports go to the system log; the next call may well succeed.
  FlushErrorPool(&m_app.SystemLog(), true);
  return CallEnd::kRetry;
}

Outbox::CallEnd Outbox::FileSent(const QueuedFax& fax, OutboxState state, const OutboxCall& call,
                                 std::uint32_t pages) {
  CallFacts facts;
  facts.kind = kSendJob;
  facts.result = call.result;
  facts.fax = call.fax;
  facts.fax.totalPages = pages;
  facts.fileName = fax.record.fileName.value_or("");
  facts.recipient = fax.record.contact.value_or("");
  facts.number = fax.record.telephone.value_or("");
  facts.note = fax.record.note.value_or("");
  facts.filed = LocalFileTimeNow();
  facts.link = call.link;
  FaxRecord record = MakeCallRecord(facts);
  // Cancelled during the call, it went all the same: filed in Sent beside the
  // cancelled record, which keeps the file too.
  if (m_store.FindRecordFolder(fax.record.oid) != FOLDER_SENDING)
    return m_store.AddRecord(FOLDER_SENT, record) ? CallEnd::kSent : CallEnd::kFailed;
  if (m_store.FileQueued(fax.record.oid, FOLDER_SENT, record)) return CallEnd::kSent;
  // It went but stays in Sending (the store said why): never send it twice.
  state.status = OutboxStatus::kFailed;
  m_store.UpdateQueued(fax.record.oid, state);
  return CallEnd::kFailed;
}

Outbox::CallEnd Outbox::GiveUp(const QueuedFax& fax, OutboxState state) {
  state.status = OutboxStatus::kFailed;
  m_store.UpdateQueued(fax.record.oid, state);
  ReportText(0, kMsgDefault, kModule, "RunDue", OutboxGivenUpText({fax.record, state}));
  return CallEnd::kFailed;
}

bool Outbox::Reschedule(CEOID id, std::chrono::system_clock::time_point when) {
  QueuedFax fax;
  if (m_store.FindRecordFolder(id) != FOLDER_SENDING) {
    ReportResString(0, kMsgDefault, kModule, "Reschedule", str::kOutboxNotQueued,
                    static_cast<unsigned>(id));
    return false;
  }
  if (!m_store.ReadQueued(id, fax)) return false;
  // A record moved into Sending by hand joins the queue; without a number it
  // is held for one, never dialled.
  OutboxState state = fax.state.value_or(OutboxState{});
  state.nextTry = OutboxSeconds(when);
  if (fax.record.telephone.value_or("").empty()) {
    state.status = OutboxStatus::kNeedsNumber;
  } else if (state.status == OutboxStatus::kFailed) {
    state.status = OutboxStatus::kWaiting;
    state.tries = 0;
  }
  return m_store.UpdateQueued(id, state) == 1;
}

OutboxOutcome CallOutcome(int result, std::uint32_t stop, std::span<const ErrorRecord> reports) {
  if (result == 0) return OutboxOutcome::kSent;
  if (result == 1 && stop == 0) return OutboxOutcome::kPartlySent;
  std::optional<OutboxOutcome> reason;
  for (const ErrorRecord& report : reports)
    if ((reason = ReasonOf(report))) break;
  // Once pages went, the far end had answered: what ended the call was the line.
  if (result == 1)
    return reason == OutboxOutcome::kFarEndCannotReceive ? *reason : OutboxOutcome::kLineDropped;
  return reason.value_or(OutboxOutcome::kCallFailed);
}

std::string OutboxOutcomeText(const OutboxState& state) {
  switch (state.lastOutcome) {
    case OutboxOutcome::kNotCalled:
      return LoadResString(str::kQueueNotCalled);
    case OutboxOutcome::kSent:
      return LoadResString(str::kQueueSentResult);
    case OutboxOutcome::kPartlySent:
      return LoadResString(str::kQueuePartlySent);
    case OutboxOutcome::kCallFailed:
      return LoadResString(str::kQueueCallFailed);
    case OutboxOutcome::kBusy:
      return LoadResString(str::kOutcomeBusy);
    case OutboxOutcome::kNoAnswer:
      return LoadResString(str::kOutcomeNoAnswer);
    case OutboxOutcome::kNoCarrier:
      return LoadResString(str::kOutcomeNoCarrier);
    case OutboxOutcome::kNoDialTone:
      return LoadResString(str::kOutcomeNoDialTone);
    case OutboxOutcome::kTrainingFailed:
      return LoadResString(str::kOutcomeTrainingFailed);
    case OutboxOutcome::kLineDropped:
      return Format(kOutcomeChars, LoadResString(str::kOutcomeLineDropped).c_str(),
                    ResumePosition(state.resume).PageIndex() + 1);
    case OutboxOutcome::kFarEndCannotReceive:
      return LoadResString(str::kOutcomeFarEndCannotReceive);
    case OutboxOutcome::kUnreadable:
      return LoadResString(str::kOutcomeUnreadable);
  }
  return LoadResString(str::kQueueCallFailed);
}

std::string OutboxGivenUpText(const QueuedFax& fax) {
  const std::string contact = fax.record.contact.value_or("");
  const std::string number = fax.record.telephone.value_or("");
  const OutboxState state = fax.state.value_or(OutboxState{});
  if (state.lastOutcome == OutboxOutcome::kFarEndCannotReceive)
    return Format(kMaxMessageChars, LoadResString(str::kOutboxCannotGo).c_str(), contact.c_str(),
                  number.c_str());
  return Format(kMaxMessageChars, LoadResString(str::kOutboxGaveUp).c_str(), contact.c_str(),
                number.c_str(), static_cast<unsigned>(state.tries));
}

}  // namespace vexo
