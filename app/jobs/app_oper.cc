#include "app/jobs/app_oper.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "app/jobs/call_record.h"
#include "app/jobs/fax_recovery.h"
#include "app/jobs/home_lock.h"
#include "app/jobs/list_refresh.h"
#include "app/jobs/modem_lending.h"
#include "app/jobs/pdf_copy.h"
#include "app/jobs/user_messages.h"
#include "app/settings/layer_options.h"
#include "app/store/db_func.h"
#include "base/error_pool.h"
#include "base/string_ids.h"
#include "base/strings.h"
#include "document/cover_page.h"
#include "modem/comm_log.h"
#include "modem/tapi_oper.h"
#include "platform/telephony/linux_provider.h"
#include "platform/text.h"

namespace vexo {
namespace {

constexpr const char* kModule = "AppOper";

// Status and message string ids of the jobs.
constexpr unsigned kStrTryingModem = 65058;
constexpr unsigned kStrUsingPort = 65059;
constexpr unsigned kStrUsingModem = 65060;
constexpr unsigned kStrReceivingCall = 65070;
constexpr unsigned kStrReceiveNeedsOneModem = 65088;

// Report type of the line naming the modem tried next: information, to the
// log and the user.
constexpr std::uint32_t kMsgModemTried = MSG_INFORMATION | MSG_TO_LOG | MSG_TO_USER;

const char* const kResourceFallbacks[] = {"EngRes", "ChsRes", "ChtRes"};

// A send whose modem was lent by a waiting process looks this often whether
// that wait has ended, and gives up after the bound (the kernel looks for a
// cancel every few seconds).
constexpr std::chrono::milliseconds kLentLockRetry{200};
constexpr std::chrono::seconds kLentLockBound{15};

// The bit of FaxResult::resolution that means fine resolution.
constexpr std::uint32_t kFineResolutionBit = 2;

std::string BaseName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

bool IsEmptyFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0;
}

// A send that ended before the kernel read its file (the port did not open)
// is still filed with the file's pages and resolution.
void TakeFileFacts(const std::string& file, FaxResult& result) {
  if (result.totalPages != 0) return;
  if (const auto summary = ReadFaxFileSummary(file)) {
    result.totalPages = summary->pages;
    result.resolution = summary->fine ? kFineResolutionBit : 0;
  }
}

}  // namespace

AppOper::AppOper(AppOperOptions options) : m_options(std::move(options)) {}

AppOper::~AppOper() {
  m_lendListener.reset();
  if (m_kernel) m_kernel->ClosePort(m_openViaList);
  if (m_started && m_options.saveSettingsAtExit) SaveSettings();
  if (m_tapi) m_tapi->ShutdownTapi();
  m_systemLog.Close();
}

// ---- start-up

int AppOper::Startup() {
  if (m_started) return 1;
  if (!m_options.homeDirectory.empty()) m_settings.SetHomeDirectory(m_options.homeDirectory);
  if (!m_settings.LoadSettings()) return 0;
  if (!m_settings.EnsureDirectories()) return 0;
  if (!LoadResDll()) return 0;
  if (!OpenSystemLog(m_systemLog, reinterpret_cast<std::uintptr_t>(this), m_settings.LogPath)) {
    ReportError(0, kMsgDefault, kModule, "Startup", "The system log could not be opened in [%s].",
                m_settings.LogPath.c_str());
    return 0;
  }
  if (!StartKernel()) return 0;
  if (!StartTelephony()) return 0;
  ChooseModemFromSettings();
  // The text renderer reads the effective code page directly (LoadSettings
  // made it the process's 8-bit code page), so no lead-byte table is kept.
  if (m_options.installSampleCovers) InstallSampleCovers(m_settings.CoverDir);
  m_started = true;
  RecoverFaxFiles();
  return 1;
}

int AppOper::RecoverFaxFiles() {
  // A first start has nothing of ours to recover, and its store is opened
  // after the question about an earlier installation's folders. A running
  // vexofax may hold a fax its send dialog composed and has not sent yet; a
  // running job may be writing one.
  if (!m_settings.settingsFileExisted.value || AppRunsOn(Home())) return -1;
  HomeJobLock lock(Home());
  if (!lock.Held()) return -1;
  const bool poolWasEmpty = ErrorPool::Instance().Count() == 0;
  DBFunc* store = Store();
  const int filed = store ? FileOrphanedFaxes(*store, m_settings.TIFDataDir,
                                              LoadResString(str::kRecoveredFaxNote))
                          : -1;
  if (filed > 0)
    ReportError(0, kMsgLogOnly, kModule, "RecoverFaxFiles",
                "%d fax file(s) of [%s] that no folder listed were filed into the Inbox.", filed,
                m_settings.TIFDataDir.c_str());
  // Whatever reading the files met belongs in the log, not in a later dialog.
  if (poolWasEmpty) FlushErrorPool(&m_systemLog, true);
  return filed;
}

int AppOper::LoadResDll() {
  const char* wanted = ResourceNameOfLanguage(m_settings.effectiveLanguage);
  if (vexo::LoadResDll(wanted)) return 1;
  int error = errno != 0 ? errno : ENOENT;
  if (m_settings.effectiveLanguage != 1) {
    for (const char* name : kResourceFallbacks) {
      if (vexo::LoadResDll(name)) return 1;
    }
    error = errno != 0 ? errno : ENOENT;
  }
  ReportErrorCode(0, kMsgDefault, kModule, "LoadResDll", error,
                  "Fail to load resource dll, ErrMsg = ");
  return 0;
}

bool AppOper::StartKernel() {
  if (m_options.makeProvider)
    m_provider = m_options.makeProvider(m_settings);
  else
    m_provider = std::make_unique<LinuxTelephonyProvider>(m_settings.TelephonyDevices);
  m_tapi = std::make_unique<TAPIOper>(*m_provider, [this] { return DialSettingsOf(m_settings); });
  m_tapi->SetJobControl(&m_job);
  m_tapi->SetCallFailedHandler([this](const VoiceCallFailure& failure) {
    ShowVoiceCallFailure(failure, DialSettingsOf(m_settings).useWhatAsSeedNum);
  });
  PortEnvironment environment;
  environment.telephony = m_tapi.get();
  m_kernel = std::make_unique<FaxKernel>(environment);
  if (m_options.kernelTimeouts) m_kernel->SetTimeouts(*m_options.kernelTimeouts);
  if (!m_kernel->InitKernel(&m_systemLog, m_settings.LogPath, &m_job)) return false;
  ApplyPortSettings();
  return true;
}

bool AppOper::StartTelephony() {
  if (!m_tapi->InitTapi(&m_systemLog, &m_kernel->CommLog())) return false;
  m_kernel->SetModemList(m_tapi.get());
  return true;
}

void AppOper::ApplyPortSettings() {
  m_kernel->ApplyKernelSettings(m_settings.ForceFaxClass, m_settings.FaxCommLogOn,
                                kApplyForcedClass | kApplyCommLog);
  m_kernel->SetBaudRate(m_settings.InitBaudRate);
  const std::string device =
      m_options.deviceOverride.empty() ? m_settings.COMPortDevice : m_options.deviceOverride;
  m_kernel->SetPortOptions({device, m_settings.PhoneCommandDevice, m_settings.PhoneDataDevice,
                            m_settings.CloseAllRasConn != 0});
  m_kernel->SetCallSettings(
      {m_settings.UseWhatAsSeedNum, m_settings.HangupBreak, m_settings.FaxECM != 0,
       static_cast<FaxCoding>(std::min<std::uint32_t>(m_settings.FaxCoding, 2))});
}

void AppOper::ChooseModemFromSettings() {
  // A device given for this run is the serial port, whatever ModemName says.
  if (!m_options.deviceOverride.empty()) {
    m_currentModem = kSerialPortModem;
    return;
  }
  const std::uint32_t index = m_tapi->FindModem(m_settings.ModemName);
  if (index == kNoName)
    m_currentModem = kSerialPortModem;
  else if (index == kNoIndex)
    m_currentModem = kEveryModem;
  else
    m_currentModem = index;
}

void AppOper::ApplySettings() {
  if (!m_kernel) return;
  ApplyPortSettings();
  ChooseModemFromSettings();
}

int AppOper::SaveSettings() {
  // Another process may have handed out fax file names meanwhile: never
  // write back a smaller running number than the file holds.
  m_settings.TiffAutoNumber =
      std::max(m_settings.TiffAutoNumber, m_settings.StoredTiffAutoNumber());
  return m_settings.SaveSettings();
}

void AppOper::ChooseModem(std::uint32_t index) {
  if (!m_tapi || index >= m_tapi->Modems().size()) return;
  m_currentModem = index;
  m_settings.ModemName = m_tapi->Modems()[index].name;
}

// ---- send dialog storage

int AppOper::SetSourceFileCount(std::size_t count, std::size_t /*totalChars*/) {
  m_sourceFiles.assign(count, std::string());
  return 1;
}

int AppOper::SetSourceFile(std::string_view name, std::size_t index) {
  if (index >= m_sourceFiles.size()) return 0;
  m_sourceFiles[index] = std::string(name);
  return 1;
}

void AppOper::ClearSourceFiles() { m_sourceFiles.clear(); }

int AppOper::AllocNote(std::size_t length) {
  m_inputs.note.reserve(length);
  return 1;
}

void AppOper::ClearNote() { m_inputs.note.clear(); }

// ---- ports

std::string AppOper::PortLabel(std::uint32_t modem) const {
  if (modem == kSerialPortModem || !m_tapi || modem >= m_tapi->Modems().size()) {
    char name[24];
    std::snprintf(name, sizeof name, "COM%u:", m_settings.COMPortNum);
    return name;
  }
  return m_tapi->Modems()[modem].name;
}

void AppOper::ShowPortStatus(std::uint32_t modem) {
  const std::string label = PortLabel(modem);
  m_job.SetStatusFormat(modem == kSerialPortModem ? kStrUsingPort : kStrUsingModem, label.c_str());
}

int AppOper::OpenJobPort(std::uint32_t modem, std::string_view number) {
  m_openViaList = modem != kSerialPortModem;
  const std::uint32_t port = m_openViaList ? modem : m_settings.COMPortNum;
  return m_kernel->OpenPort(port, nullptr, number, m_openViaList);
}

void AppOper::CloseJobPort() { m_kernel->ClosePort(m_openViaList); }

// ---- jobs

int AppOper::SendThrough(std::uint32_t modem, const std::string& file, std::string_view number,
                         FaxResult* result) {
  if (OpenJobPort(modem, number) != 1) return -1;
  m_kernel->SetHeaderParties(m_settings.ProfileFullName, m_inputs.recipient);
  std::uint32_t resume = m_inputs.startAt;
  const std::string files[] = {file};
  const int sent = m_kernel->SendFax(files, number, m_settings.LocalCSID, &resume, result);
  m_lastResume = resume;
  return sent;
}

int AppOper::SendFaxJob(const std::string& file, std::string_view number, FaxResult* result) {
  m_jobNumber = std::string(number);
  m_jobFileName = BaseName(file);
  if (file.empty()) {
    CloseJobPort();
    result->jobResult = static_cast<std::uint32_t>(-1);
    return -1;
  }
  if (m_currentModem == kEveryModem) return Send1TiffFaxAutoModem(file, number, result);
  m_lastSendAuto = false;
  ShowPortStatus(m_currentModem);
  WriteJobStartLine(m_kernel->CommLog(), JobDirection::Send, PortLabel(m_currentModem),
                    LocalTimeNow());
  const int sent = SendThrough(m_currentModem, file, number, result);
  result->jobResult = static_cast<std::uint32_t>(sent);
  TakeFileFacts(file, *result);
  FileCall(kSendJob, sent, *result);
  CloseJobPort();
  return sent;
}

int AppOper::Send1TiffFaxAutoModem(const std::string& file, std::string_view number,
                                   FaxResult* result) {
  m_lastSendAuto = true;
  m_jobNumber = std::string(number);
  m_jobFileName = BaseName(file);
  const auto count = static_cast<std::uint32_t>(m_tapi->Modems().size());
  int sent = -1;
  bool cancelled = false;
  for (std::uint32_t index = 0; index < count; ++index) {
    if (m_job.IsCancelled()) {
      sent = -1;
      cancelled = true;
      break;
    }
    m_currentModem = index;
    m_autoRetryIndex = index;
    const std::string name = PortLabel(index);
    ShowPortStatus(index);
    ReportResString(0, kMsgModemTried, kModule, "Send1TiffFaxAutoModem", kStrTryingModem,
                    name.c_str());
    WriteJobStartLine(m_kernel->CommLog(), JobDirection::Send, name, LocalTimeNow());
    // Every modem starts the fax from the same page.
    *result = FaxResult{};
    sent = SendThrough(index, file, number, result);
    if (sent == 0 || sent == 1) break;
    CloseJobPort();
  }
  result->jobResult = static_cast<std::uint32_t>(sent);
  TakeFileFacts(file, *result);
  FileCall(kSendJob, sent, *result);
  CloseJobPort();
  m_currentModem = kEveryModem;
  return sent == -1 && cancelled ? kJobCancelledAutoRetry : sent;
}

int AppOper::WaitRingJob() {
  if (m_currentModem == kEveryModem) {
    ReportResString(0, kMsgDefault, kModule, "WaitRingJob", kStrReceiveNeedsOneModem,
                    m_settings.ModemName.c_str());
    return -1;
  }
  {
    const std::lock_guard guard(m_waitMutex);
    m_inWait = true;
  }
  const int rang = WaitForRing();
  const std::lock_guard guard(m_waitMutex);
  m_inWait = false;
  if (!m_waitLent) return rang;
  // The modem was promised to a send: a ring that came meanwhile goes unanswered.
  if (rang == 0) CloseJobPort();
  return -2;
}

int AppOper::WaitForRing() {
  WriteJobStartLine(m_kernel->CommLog(), JobDirection::Receive, PortLabel(m_currentModem),
                    LocalTimeNow());
  ShowPortStatus(m_currentModem);
  if (OpenJobPort(m_currentModem, "") != 1 || m_kernel->ResetModem() != 1) {
    CloseJobPort();
    return -1;
  }
  if (m_job.IsCancelled()) {
    CloseJobPort();
    return -2;
  }
  m_job.SetStatusString(kStrWaitingForCall);
  const int rang = m_kernel->WaitRing_NoEvent(m_ringsToAnswer);
  if (rang != 0) CloseJobPort();
  return rang;
}

bool AppOper::InWaitForRing() const {
  const std::lock_guard guard(m_waitMutex);
  return m_inWait;
}

bool AppOper::LendWait() {
  const std::lock_guard guard(m_waitMutex);
  if (!m_inWait) return false;
  m_waitLent = true;
  m_job.Cancel();
  return true;
}

bool AppOper::WaitWasLent() const {
  const std::lock_guard guard(m_waitMutex);
  return m_waitLent;
}

void AppOper::ListenForBorrowers(bool on) {
  if (!on) {
    m_lendListener.reset();
    return;
  }
  if (m_lendListener) return;
  auto listener = std::make_unique<ModemLendListener>(Home(), [this] { return LendWait(); });
  // Another process of the home lends already; a later call tries again.
  if (listener->Listening()) m_lendListener = std::move(listener);
}

bool AppOper::ModemLent() const { return m_lendListener && m_lendListener->Lent(); }

int AppOper::ReceiveFaxJob(const std::string& outputFile, FaxResult* result) {
  m_jobFileName = BaseName(outputFile);
  int received;
  if (m_kernel->IsPortOpen()) {
    received = m_kernel->ReceiveFax(outputFile, m_settings.LocalCSID, false, result);
  } else {
    if (m_currentModem == kEveryModem || OpenJobPort(m_currentModem, "") != 1) {
      CloseJobPort();
      result->jobResult = static_cast<std::uint32_t>(-1);
      return -1;
    }
    received = m_kernel->ReceiveFax(outputFile, m_settings.LocalCSID, true, result);
  }
  // A call that brought no page leaves no file behind, and its record names
  // none.
  if (IsEmptyFile(outputFile)) {
    std::error_code ec;
    std::filesystem::remove(outputFile, ec);
    m_jobFileName.clear();
  }
  result->jobResult = static_cast<std::uint32_t>(received);
  FileCall(kReceiveJob, received, *result);
  CloseJobPort();
  if ((received == 0 || received == 1) && result->pagesTransferred != 0 && !m_jobFileName.empty())
    WriteReceivedPdf(outputFile, *result);
  return received;
}

void AppOper::WriteReceivedPdf(const std::string& file, const FaxResult& fax) {
  if (m_settings.ReceivePdfDir.empty()) return;
  WritePdfCopy(file, m_settings.ReceivePdfDir, LocalTimeNow(), Utf16ToUtf8(fax.RemoteId()));
}

int AppOper::RunJob(std::uint32_t kind) {
  // A job's results never carry over from the call before.
  m_result.Clear();
  m_lastResume = m_inputs.startAt;
  m_jobFileName.clear();
  m_filingFailed = false;
  {
    const std::lock_guard guard(m_waitMutex);
    m_waitLent = false;
  }
  int result = -1;
  // Declared first so that the modem goes back to its lender after the lock.
  std::optional<ModemLoan> loan;
  HomeJobLock lock(Home());
  // A send may borrow the modem from another process's wait for a call.
  if (!lock.Held() && kind == kSendJob) {
    loan = ModemLoan::Borrow(Home());
    if (loan) TakeLockFromLender(lock);
  }
  m_homeBusy = !lock.Held();
  if (m_homeBusy) {
    ReportError(0, kMsgDefault, kModule, "RunJob",
                "Another fax job is running on [%s]. Try again when it has ended.", Home().c_str());
    result = kind == kReceiveJob ? kJobWaitFailed : -1;
    if (kind == kSendJob) FileRefusedSend();
  } else if (kind == kSendJob) {
    result = SendFaxJob(m_inputs.file, m_inputs.number, &m_result);
  } else if (kind == kReceiveJob) {
    const int rang = WaitRingJob();
    if (rang == 0) {
      m_job.SetStatusString(kStrReceivingCall);
      const std::string file = NextReceivedFile();
      if (file.empty()) {
        CloseJobPort();
        result = -1;
      } else {
        result = ReceiveFaxJob(file, &m_result);
      }
    } else {
      result = rang - 1;
    }
  }
  m_job.EndJob();
  return result;
}

void AppOper::FileRefusedSend() {
  if (m_inputs.file.empty()) return;
  m_lastSendAuto = false;
  m_jobNumber = m_inputs.number;
  m_jobFileName = BaseName(m_inputs.file);
  m_result.jobResult = static_cast<std::uint32_t>(-1);
  TakeFileFacts(m_inputs.file, m_result);
  FileCall(kSendJob, -1, m_result);
}

bool AppOper::TakeLockFromLender(HomeJobLock& lock) {
  for (auto waited = std::chrono::milliseconds::zero(); waited < kLentLockBound;
       waited += kLentLockRetry) {
    if (m_job.IsCancelled()) return false;
    std::this_thread::sleep_for(kLentLockRetry);
    if (lock.TryAgain()) return true;
  }
  return false;
}

std::string AppOper::NextReceivedFile() { return NewFaxFile(m_settings, false); }

std::string AppOper::NewComposedFile() { return NewFaxFile(m_settings, false); }

// ---- filing

DBFunc* AppOper::Store() {
  if (m_externalStore) return m_externalStore;
  if (!m_ownStore) {
    auto store = std::make_unique<DBFunc>(MakeStoreOptions());
    if (!store->InitDatabases()) return nullptr;
    m_ownStore = std::move(store);
  }
  return m_ownStore.get();
}

StoreOptions AppOper::MakeStoreOptions() const {
  StoreOptions options;
  options.homeDir = Home();
  options.dataDir = m_settings.TIFDataDir;
  options.settingsFileExisted = m_settings.settingsFileExisted.value;
  options.replaceOldFolders = AskReplaceOldFolders;
  return options;
}

int AppOper::FileCall(std::uint32_t kind, int result, const FaxResult& fax) {
  m_filingFailed = false;
  if (!m_fileCalls) return 0;
  CallFacts facts;
  facts.kind = kind;
  facts.result = result;
  facts.fax = fax;
  facts.fileName = m_jobFileName;
  facts.link = m_kernel ? m_kernel->LastLink() : std::nullopt;
  if (kind == kSendJob) {
    facts.recipient = m_inputs.recipient;
    facts.number = m_jobNumber;
    facts.note = m_inputs.note;
  }
  facts.filed = LocalFileTimeNow();
  DBFunc* store = Store();
  FaxRecord record = MakeCallRecord(facts);
  const int folder = CallFolder(kind);
  if (!store || !store->AddRecord(folder, record)) {
    // The fax file stays where it is; the next start files it (RecoverFaxFiles).
    m_filingFailed = true;
    if (m_jobFileName.empty())
      ReportError(0, kMsgDefault, kModule, "FileCall", "The call could not be filed.");
    else
      ReportResString(0, kMsgDefault, kModule, "FileCall", str::kFaxNotFiled,
                      (m_settings.TIFDataDir + m_jobFileName).c_str());
    return 0;
  }
  if (m_onFiled) m_onFiled(folder, record);
  if (m_options.askAppToRelist) AskRunningAppToRelist(Home());
  return 1;
}

// ---- job thread

JobThread::~JobThread() { Join(); }

int JobThread::Start(std::uint32_t kind, std::function<void(std::uint32_t, int)> done) {
  if (m_thread.joinable()) return 0;
  if (!m_app.Job().StartJob(kind)) return 0;
  m_thread = std::thread([this, kind, done = std::move(done)] {
    const int result = m_app.RunJob(kind);
    if (done) done(kind, result);
  });
  return 1;
}

void JobThread::Join() {
  if (m_thread.joinable()) m_thread.join();
}

}  // namespace vexo
