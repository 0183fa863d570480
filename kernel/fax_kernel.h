// FaxKernel runs one fax call at a time for the fax jobs: it waits for a ring,
// receives one fax or sends one. Each entry brings the modem into a known state,
// switches a phone modem's new-message indications off for the call (and back
// on at every exit), finds the fax class the modem offers (2.0 over 2 over 1, or
// the forced one), hands the call to that class's protocol object and hangs the
// modem up afterwards. It owns the serial port object, the communication log
// and the three protocol objects; the jobs and the vexo send/receive commands
// use it. Reports go under "FaxKernel".
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/log_file.h"
#include "modem/win_com_ce.h"
#include "protocol/class1_func.h"
#include "protocol/class20_func.h"
#include "protocol/class2_func.h"
#include "protocol/fax_result.h"

namespace vexo {

class JobControl;
class TAPIOper;

// Class numbers: 20 stands for Class 2.0; 0 means automatic where a class is forced.
constexpr std::uint32_t kFaxClassAuto = 0;
constexpr std::uint32_t kFaxClass1 = 1;
constexpr std::uint32_t kFaxClass2 = 2;
constexpr std::uint32_t kFaxClass20 = 20;

// ApplyKernelSettings mask bits.
constexpr std::uint32_t kApplyForcedClass = 1;
constexpr std::uint32_t kApplyCommLog = 2;

// Longest saved "+CNMI:" value, in characters.
constexpr std::size_t kIndicationChars = 31;

// Status strings.
constexpr unsigned kStrWaitingForCall = 65069;
constexpr unsigned kStrHangupBreak = 65188;
constexpr unsigned kStrAfterHangupBreak = 65189;

// The kernel's own waits, in milliseconds; tests shorten them.
struct KernelTimeouts {
  std::uint32_t initOk = 10000;   // the initialisation commands and "ATX4"
  std::uint32_t answer = 5000;    // every other command's answer
  std::uint32_t ringPoll = 3000;  // one wait for a ring between cancel checks
  std::uint32_t classPause = 20;  // around "AT+FCLASS=%s"
};

// The call settings the kernel reads (UseWhatAsSeedNum, HangupBreak, FaxECM,
// FaxCoding). Without them the protocols offer neither ECM nor 2-D coding.
struct KernelCallSettings {
  std::uint32_t useWhatAsSeedNum = 1;
  std::uint32_t hangupBreakSeconds = 20;
  bool ecm = false;
  FaxCoding highestCoding = FaxCoding::kMh;
};

class FaxKernel {
 public:
  // environment is what the port object works through (defaults: termios
  // devices, real sleeping).
  explicit FaxKernel(PortEnvironment environment = {});
  ~FaxKernel();
  FaxKernel(const FaxKernel&) = delete;
  FaxKernel& operator=(const FaxKernel&) = delete;

  // ---- set-up (user-interface thread) ----
  // Opens the communication log in logPath (ending in "/"), creates the port
  // and the Class 1 object; 1 or 0. systemLog receives the protocols' debug lines.
  int InitKernel(LogFile* systemLog, std::string_view logPath, JobControl* job);
  // Mask kApplyForcedClass: forced class := forcedClass if it is 1, 2 or 20,
  // else 0; mask kApplyCommLog: the port's dump flag := commLogOn.
  void ApplyKernelSettings(std::uint32_t forcedClass, std::uint32_t commLogOn, std::uint32_t mask);
  void SetBaudRate(std::uint32_t baud);
  void SetPortOptions(PortOptions options);
  void SetCallSettings(const KernelCallSettings& settings) { m_callSettings = settings; }
  // The modem list, asked whether a line carries voice; not owned, may be null.
  void SetModemList(const TAPIOper* modems) { m_modems = modems; }
  // Names on the page header, passed to every protocol object.
  void SetHeaderParties(std::string sender, std::string recipient);
  void SetTimeouts(const KernelTimeouts& timeouts) { m_timeouts = timeouts; }
  void SetClass2Timeouts(const Class2Timeouts& timeouts);
  void SetClass1Timeouts(const Class1Timeouts& timeouts);

  // ---- the port ----
  // viaModemList false: number is the COM port number ("COM%d:"); true: an
  // index into the modem list (0 = the built-in phone modem). dialNumber goes to a modem
  // list line that places a voice call first. 1 or 0.
  int OpenPort(std::uint32_t number, DCB* lineSettings, std::string_view dialNumber,
               bool viaModemList);
  // Restores indications still switched off, then closes the port.
  void ClosePort(bool viaModemList);
  int IsPortOpen() const;
  int ResetModem();

  // ---- entry operations (job thread) ----
  // 0 the call rang rings times (the port stays open in the detected class),
  // -1 failure, -2 cancelled. rings 0 counts as 1.
  int WaitRing_NoEvent(unsigned rings = 1);
  // Whether the last WaitRing_NoEvent got the modem set up and listened for
  // rings (false when it failed or was cancelled before).
  bool LastWaitListened() const { return m_waitListened; }
  // 0 success, 1 failure after at least one page, -1 failure. Without
  // initialise the class found by WaitRing_NoEvent is used.
  int ReceiveFax(const std::string& outputFile, std::string_view localId, bool initialise,
                 FaxResult* result);
  // 0 success, 1 part of the fax went (or pages were refused), -1 failure.
  // startFileIndex is the in/out resume position; files are UTF-8 paths.
  int SendFax(std::span<const std::string> files, std::string_view number, std::string_view localId,
              std::uint32_t* startFileIndex, FaxResult* result);

  // ---- state ----
  std::uint32_t ForcedClass() const { return m_forcedClass; }
  std::uint32_t DetectedClass() const { return m_detectedClass; }
  std::uint32_t OpenPortNumber() const { return m_openPort; }
  const std::string& PortName() const { return m_portName; }
  // The saved "+CNMI:" value, empty when none is held.
  std::string SavedIndication() const { return m_savedIndication.data(); }
  WinCOMCE* Port() { return m_port.get(); }
  FClass1Func* Class1() { return m_class1.get(); }
  FClass2Func* Class2() { return m_class2.get(); }
  FClass20Func* Class20() { return m_class20.get(); }
  // The coding and error correction of the last call's page data, as its
  // protocol object settled them; nullopt before a call reached its protocol.
  const std::optional<LinkCoding>& LastLink() const { return m_lastLink; }
  LogFile& CommLog() { return m_commLog; }

 private:
  enum class Entry { WaitRing, Receive, Send };

  // The steps every entry shares; each returns true when the call may go on.
  bool InitialiseModem();
  bool AtRounds();
  bool ProbePhoneModem(const char* function);
  bool SelectResultCodes(Entry entry);
  bool EndVoiceCall();
  bool DetectFaxClass(Entry entry, const char* function);
  void RestoreIndications();
  bool HasSavedIndication() const { return m_savedIndication[0] != 0; }

  // The Class 2 or Class 2.0 object, made and set up on first use.
  template <typename Session>
  Session& Class2x(std::unique_ptr<Session>& session);
  FaxCommFunc* Attached(FaxCommFunc& protocol);
  // Runs call on the protocol object with the call settings' coding limits and
  // keeps the link it settled.
  template <typename Session, typename Call>
  int WithLimits(Session& session, Call call);
  int RunReceive(const std::string& outputFile, std::string_view localId, FaxResult* result);
  int RunSend(std::span<const std::string> files, std::string_view number, std::string_view localId,
              std::uint32_t* resume, FaxResult* result);
  void ReadFirstFileInfo(std::span<const std::string> files, FaxResult* result);
  bool Cancelled() const;

  std::string m_portName;
  std::uint32_t m_forcedClass = kFaxClassAuto;
  std::uint32_t m_detectedClass = 0;
  bool m_waitListened = false;
  std::uint32_t m_openPort = 0;
  bool m_openViaModemList = false;
  std::array<char, kIndicationChars + 1> m_savedIndication{};

  PortEnvironment m_environment;
  PortOptions m_portOptions;
  std::uint32_t m_baudRate = 19200;
  bool m_commLogOn = false;
  std::unique_ptr<WinCOMCE> m_port;
  std::unique_ptr<FClass1Func> m_class1;
  std::unique_ptr<FClass2Func> m_class2;
  std::unique_ptr<FClass20Func> m_class20;
  LogFile m_commLog;
  LogFile* m_systemLog = nullptr;
  JobControl* m_job = nullptr;
  const TAPIOper* m_modems = nullptr;

  KernelTimeouts m_timeouts;
  KernelCallSettings m_callSettings;
  std::optional<LinkCoding> m_lastLink;
  std::optional<Class2Timeouts> m_class2Timeouts;
  std::string m_sender;
  std::string m_recipient;
  // The class command's text kept from the detection ("2.0", "2" or "1").
  const char* m_classText = nullptr;
  // FaxCommFunc helpers bound to the port (MatchOKResult, HangupModem, WaitRings).
  FaxCommFunc m_exchange;
};

}  // namespace vexo
