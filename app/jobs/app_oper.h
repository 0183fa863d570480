// AppOper: everything a fax job needs, owned in one place. Start-up reads the
// settings, makes the directories, chooses the string table, opens the system
// log, sets up the fax kernel and the telephony modem list and picks the modem
// ModemName names. The jobs (a send, with its retry over every modem, a wait
// for a ring and a receive) run on the job thread; every finished call is
// filed in the fax record store. The desktop interface and the vexo command
// both drive it. Reports go under "AppOper".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/jobs/fax_files.h"
#include "app/settings/settings.h"
#include "app/store/db_func.h"
#include "app/store/fax_record.h"
#include "base/job_control.h"
#include "base/log_file.h"
#include "kernel/fax_kernel.h"
#include "protocol/fax_result.h"

namespace vexo {

class HomeJobLock;
class ModemLendListener;
class TAPIOper;
class TelephonyProvider;

// Current modem index meaning: try every entry of the modem list in turn.
constexpr std::uint32_t kEveryModem = 0x80000000;
// Current modem index meaning: the serial port (ModemName empty).
constexpr std::uint32_t kSerialPortModem = 0xFFFFFFFF;

// Job results beyond the kernel's 0, 1 and -1.
constexpr int kJobCancelledAutoRetry = -2;  // retry over every modem cancelled
constexpr int kJobWaitFailed = -2;          // receive: the wait for a ring failed
constexpr int kJobWaitCancelled = -3;       // receive: cancelled while waiting

// Up to this many source files and note characters live in built-in storage.
constexpr std::size_t kBuiltInSourceFiles = 10;
constexpr std::size_t kBuiltInNoteChars = 256;

// Ways tests and the vexo command adjust start-up; the defaults are what the
// desktop program uses.
struct AppOperOptions {
  // The home directory; empty: from the environment.
  std::string homeDirectory;
  // Serial device for this run only (the settings file is not changed).
  std::string deviceOverride;
  // The telephony lines; null: the machine's serial lines (TelephonyDevices).
  std::function<std::unique_ptr<TelephonyProvider>(const AppSettings&)> makeProvider;
  // Kernel waits, shortened by tests.
  std::optional<KernelTimeouts> kernelTimeouts;
  // Save the settings file when AppOper ends (the desktop program); the vexo
  // command leaves it alone unless something was chosen to be kept.
  bool saveSettingsAtExit = true;
  // Tell a running vexofax of the home to relist after a record was filed.
  bool askAppToRelist = false;
  // Copy the sample cover pages into CoverDir on start.
  bool installSampleCovers = true;
};

// What the send dialog (or vexo send) prepares for a send job.
struct SendInputs {
  std::string file;       // the fax TIFF file to send (UTF-8 path)
  std::string number;     // the number to dial
  std::string recipient;  // the recipient's name, filed as contact
  std::string note;       // filed as the note
  // The resume position the send starts at (0: the first page); the outbox
  // sets it to go on with a fax that went partly.
  std::uint32_t startAt = 0;
};

class AppOper {
 public:
  explicit AppOper(AppOperOptions options = {});
  ~AppOper();  // saves the settings (once started) and closes the logs
  AppOper(const AppOper&) = delete;
  AppOper& operator=(const AppOper&) = delete;

  // ---- user-interface thread ----
  // The start-up steps in order; 1, or 0 with the reason in the error pool.
  int Startup();
  bool Started() const { return m_started; }
  // Loads the string table of the effective language, falling back to the
  // others for Chinese; 1 or 0.
  int LoadResDll();
  // After the settings were changed: kernel settings, line speed and the
  // modem chosen by ModemName again.
  void ApplySettings();
  // Saves the settings file now; 1 or 0.
  int SaveSettings();

  // Storage for the send dialog.
  int SetSourceFileCount(std::size_t count, std::size_t totalChars);
  int SetSourceFile(std::string_view name, std::size_t index);
  void ClearSourceFiles();
  const std::vector<std::string>& SourceFiles() const { return m_sourceFiles; }
  int AllocNote(std::size_t length);
  void ClearNote();

  // ---- the job inputs (set before the job starts, read by the job) ----
  SendInputs& Inputs() { return m_inputs; }
  // The generated file name (without directory) of the last job.
  const std::string& JobFileName() const { return m_jobFileName; }
  const FaxResult& Result() const { return m_result; }
  // The resume position where the last send stopped: its first page the far
  // end did not confirm, 0 once every page went (the start when none did).
  std::uint32_t LastResume() const { return m_lastResume; }

  // ---- job thread ----
  int SendFaxJob(const std::string& file, std::string_view number, FaxResult* result);
  int Send1TiffFaxAutoModem(const std::string& file, std::string_view number, FaxResult* result);
  // How many rings a wait lets pass before it answers (0 counts as 1).
  void SetRingsToAnswer(unsigned rings) { m_ringsToAnswer = rings; }
  // 0 the call rang the rings to answer, -1 failure, -2 cancelled.
  int WaitRingJob();
  // Whether the job is in its wait for a ring (the port being opened or the
  // wait itself): no call yet, so cancelling it cuts nothing off.
  bool InWaitForRing() const;
  // Any thread: cancels the job when it is in its wait for a ring, so that a
  // send of another process takes the modem; whether it did.
  bool LendWait();
  // Whether the last wait was cancelled because the modem was lent (until the
  // next job starts).
  bool WaitWasLent() const;
  // Lends the modem to sends of other processes of the home (their jobs ask
  // over a socket of the home) while on.
  void ListenForBorrowers(bool on);
  // Whether a send of another process holds the modem lent to it.
  bool ModemLent() const;
  // Whether the last RunJob ended at once because another job held the home.
  bool JobFoundHomeBusy() const { return m_homeBusy; }
  // 0, 1 or -1.
  int ReceiveFaxJob(const std::string& outputFile, FaxResult* result);
  // The whole job of a kind (kSendJob, kReceiveJob), as the job thread runs it:
  // a send of the prepared inputs, or a wait, a new received name and a receive.
  // Calls EndJob at its end.
  int RunJob(std::uint32_t kind);
  // The next received file's full path, a name no file has yet (the receiver
  // creates it exclusively); advances and saves TiffAutoNumber. Empty when
  // none can be had.
  std::string NextReceivedFile();
  // A new name in TIFDataDir for a fax the send dialog composes (not created:
  // the conversion creates it exclusively). Empty when none can be had.
  std::string NewComposedFile();

  // Files a finished call with its counts; 1 when the store took it. When the
  // store refuses it, the kept fax file is named in a report and
  // LastFilingFailed() tells the outcome.
  int FileCall(std::uint32_t kind, int result, const FaxResult& fax);
  bool LastFilingFailed() const { return m_filingFailed; }
  // Files the fax files of TIFDataDir that no record names into the Inbox,
  // marked as recovered (Startup does it once no job and no vexofax of the
  // home may still be writing one). The number filed, -1 when skipped.
  int RecoverFaxFiles();
  // How the store of this home is opened: first start or not, and the
  // question before the folders of an earlier installation are emptied.
  StoreOptions MakeStoreOptions() const;
  // Whether finished calls are filed (on by default; vexo receive --out
  // receives into a file of the user's choosing and files nothing).
  void SetFileCalls(bool on) { m_fileCalls = on; }

  // ---- outcome ----
  // Shows the outcome messages of a finished job through the presenter. With
  // detailsAlways (the vexo command) the error details are shown without
  // asking first.
  void ShowOutcome(std::uint32_t kind, int result, bool detailsAlways = false);
  // Whether the last send ran over every modem in turn.
  bool LastSendAutoModem() const { return m_lastSendAuto; }

  // ---- parts ----
  // The home directory, ending in "/".
  const std::string& Home() const { return m_settings.programDirectory; }
  AppSettings& Settings() { return m_settings; }
  const AppSettings& Settings() const { return m_settings; }
  JobControl& Job() { return m_job; }
  FaxKernel& Kernel() { return *m_kernel; }
  LogFile& SystemLog() { return m_systemLog; }
  const TAPIOper* Modems() const { return m_tapi.get(); }
  std::uint32_t CurrentModem() const { return m_currentModem; }
  std::uint32_t AutoRetryIndex() const { return m_autoRetryIndex; }
  // Makes list entry index the chosen modem (ModemName := its name).
  void ChooseModem(std::uint32_t index);
  // The store the jobs file into; null: one opened on the home when needed.
  void SetStore(DBFunc* store) { m_externalStore = store; }
  // Called after a record was filed (folder, record), on the job thread.
  void SetFiledCallback(std::function<void(int, const FaxRecord&)> callback) {
    m_onFiled = std::move(callback);
  }

 private:
  bool StartKernel();
  bool StartTelephony();
  void ApplyPortSettings();
  void ChooseModemFromSettings();
  std::string PortLabel(std::uint32_t modem) const;
  void ShowPortStatus(std::uint32_t modem);
  int OpenJobPort(std::uint32_t modem, std::string_view number);
  void CloseJobPort();
  int SendThrough(std::uint32_t modem, const std::string& file, std::string_view number,
                  FaxResult* result);
  void ShowSendOutcome(int result, bool detailsAlways);
  void ShowReceiveOutcome(int result, bool detailsAlways);
  void WriteReceivedPdf(const std::string& file, const FaxResult& fax);
  DBFunc* Store();
  // WaitRingJob's steps: the port opened and reset, the wait for the rings.
  int WaitForRing();
  // Waits until the home's job lock is free, up to a bound; false when it stayed taken.
  // A send that never got the modem (another job held the home) is filed as
  // failed: its fax is then listed in Sent to be sent again, not left
  // unlisted in the data directory.
  void FileRefusedSend();
  bool TakeLockFromLender(HomeJobLock& lock);

  AppOperOptions m_options;
  AppSettings m_settings;
  LogFile m_systemLog;
  JobControl m_job;
  std::unique_ptr<FaxKernel> m_kernel;
  std::unique_ptr<TelephonyProvider> m_provider;
  std::unique_ptr<TAPIOper> m_tapi;
  std::uint32_t m_currentModem = kSerialPortModem;
  unsigned m_ringsToAnswer = 1;
  std::uint32_t m_autoRetryIndex = 0;
  bool m_openViaList = false;
  bool m_started = false;
  bool m_lastSendAuto = false;

  SendInputs m_inputs;
  std::string m_jobFileName;
  std::string m_jobNumber;
  bool m_fileCalls = true;
  bool m_filingFailed = false;
  bool m_homeBusy = false;
  FaxResult m_result;
  std::uint32_t m_lastResume = 0;
  std::vector<std::string> m_sourceFiles;

  DBFunc* m_externalStore = nullptr;
  std::unique_ptr<DBFunc> m_ownStore;
  std::function<void(int, const FaxRecord&)> m_onFiled;

  mutable std::mutex m_waitMutex;  // guards the two flags below
  bool m_inWait = false;
  bool m_waitLent = false;
  std::unique_ptr<ModemLendListener> m_lendListener;
};

// Runs RunJob(kind) on a thread of its own (StartJob first; 0 when a job runs).
// The done callback gets the result on the job thread after EndJob.
class JobThread {
 public:
  explicit JobThread(AppOper& app) : m_app(app) {}
  ~JobThread();  // waits for the job
  JobThread(const JobThread&) = delete;
  JobThread& operator=(const JobThread&) = delete;
  int Start(std::uint32_t kind, std::function<void(std::uint32_t kind, int result)> done);
  void Join();
  bool Running() const { return m_thread.joinable(); }

 private:
  AppOper& m_app;
  std::thread m_thread;
};

}  // namespace vexo
