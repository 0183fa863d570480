#include "kernel/fax_kernel.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "base/error_pool.h"
#include "base/job_control.h"
#include "base/strings.h"
#include "document/tiff_oper.h"
#include "modem/comm_log.h"
#include "modem/final_results.h"
#include "modem/tapi_oper.h"

namespace vexo {
namespace {

constexpr const char* kModule = "FaxKernel";

constexpr const char* kInitCommand =
    "AT E0 V1 Q0 M0 S7=60 S10=10 +CLIP=0; +CRC=0; +CMEE=0; +COLP=0; +CBST=7,0,0";
// The fall-back sets the DCD and DTR options (&C1 &D2); a bare "D" would dial.
constexpr const char* kFallbackInitCommand = "AT E0 V1 Q0 M0 &C1 &D2 S7=60 S10=10";
constexpr const char* kIndicationsOff = "AT+CNMI=0,0,0,0,0";
constexpr const char* kIndicationToken = "+CNMI:";
constexpr int kAtRounds = 12;
// Rings of one call come a few seconds apart; after this long without one the
// caller has given up, and the rings heard so far no longer count.
constexpr std::chrono::seconds kRingsOfOneCall{10};

constexpr const char* kMsgCnmi = "Failed to query original cnmi value.";
constexpr const char* kMsgForcedClass = "this modem does not support the user-forced FAX class %d";
constexpr const char* kMsgNoClass = "Cannot determine FAX modem class type";

// The class table in its order of preference.
struct ClassRow {
  std::uint32_t number;
  const char* text;  // searched in the answer and sent in "AT+FCLASS=%s"
};
constexpr ClassRow kClassTable[] = {
    {kFaxClass20, "2.0"},
    {kFaxClass2, "2"},
    {kFaxClass1, "1"},
};

bool Contains(const char* line, const char* token) {
  return FaxCommFunc::FindToken(line, token) >= 0;
}
bool StartsWith(const char* line, const char* token) {
  return FaxCommFunc::FindToken(line, token) == 0;
}

bool AnyLineContains(std::span<char*> lines, int count, const char* token) {
  for (int i = 0; i < count; ++i)
    if (Contains(lines[static_cast<std::size_t>(i)], token)) return true;
  return false;
}

}  // namespace

FaxKernel::FaxKernel(PortEnvironment environment) : m_environment(std::move(environment)) {}

FaxKernel::~FaxKernel() {
  if (m_port && m_port->IsPortOpen()) ClosePort(m_openViaModemList);
  m_class20.reset();
  m_class2.reset();
  m_class1.reset();
  m_port.reset();
  m_commLog.Close();
}

// ---- set-up

int FaxKernel::InitKernel(LogFile* systemLog, std::string_view logPath, JobControl* job) {
  m_class20.reset();
  m_class2.reset();
  m_class1.reset();
  m_port.reset();
  m_commLog.Close();
  m_job = job;
  m_systemLog = systemLog;
  if (!OpenCommLog(m_commLog, reinterpret_cast<std::uintptr_t>(this), logPath)) return 0;
  m_port = std::make_unique<WinCOMCE>(m_environment);
  m_port->SetOptions(m_portOptions);
  m_port->SetBaudRate(m_baudRate);
  m_port->SetCommLog(m_commLogOn ? 1 : 0);
  m_port->SetLog(&m_commLog);
  m_port->SetJobControl(job);
  m_exchange.Attach(m_port.get());
  m_class1 = std::make_unique<FClass1Func>();
  Attached(*m_class1);
  m_class1->SetHeaderParties(m_sender, m_recipient);
  return 1;
}

void FaxKernel::ApplyKernelSettings(std::uint32_t forcedClass, std::uint32_t commLogOn,
                                    std::uint32_t mask) {
  if (mask & kApplyForcedClass) {
    const bool known =
        forcedClass == kFaxClass1 || forcedClass == kFaxClass2 || forcedClass == kFaxClass20;
    m_forcedClass = known ? forcedClass : kFaxClassAuto;
  }
  if (mask & kApplyCommLog) {
    m_commLogOn = commLogOn != 0;
    if (m_port) m_port->SetCommLog(m_commLogOn ? 1 : 0);
  }
}

void FaxKernel::SetBaudRate(std::uint32_t baud) {
  m_baudRate = baud;
  if (m_port) m_port->SetBaudRate(baud);
}

void FaxKernel::SetPortOptions(PortOptions options) {
  m_portOptions = std::move(options);
  if (m_port) m_port->SetOptions(m_portOptions);
}

void FaxKernel::SetHeaderParties(std::string sender, std::string recipient) {
  m_sender = std::move(sender);
  m_recipient = std::move(recipient);
  if (m_class1) m_class1->SetHeaderParties(m_sender, m_recipient);
  if (m_class2) m_class2->SetHeaderParties(m_sender, m_recipient);
  if (m_class20) m_class20->SetHeaderParties(m_sender, m_recipient);
}

void FaxKernel::SetClass2Timeouts(const Class2Timeouts& timeouts) {
  m_class2Timeouts = timeouts;
  if (m_class2) m_class2->SetTimeouts(timeouts);
  if (m_class20) m_class20->SetTimeouts(timeouts);
}

void FaxKernel::SetClass1Timeouts(const Class1Timeouts& timeouts) {
  if (m_class1) m_class1->SetTimeouts(timeouts);
}

FaxCommFunc* FaxKernel::Attached(FaxCommFunc& protocol) {
  protocol.Attach(m_port.get());
  return &protocol;
}

template <typename Session>
Session& FaxKernel::Class2x(std::unique_ptr<Session>& session) {
  if (!session) {
    session = std::make_unique<Session>();
    Attached(*session);
    session->SetSystemLog(m_systemLog);
    session->SetHeaderParties(m_sender, m_recipient);
    if (m_class2Timeouts) session->SetTimeouts(*m_class2Timeouts);
  }
  return *session;
}

// ---- the port

int FaxKernel::OpenPort(std::uint32_t number, DCB* lineSettings, std::string_view dialNumber,
                        bool viaModemList) {
  if (!m_port) return 0;
  if (!viaModemList) m_portName = "COM" + std::to_string(number) + ":";
  if (m_port->OpenComPort(lineSettings, m_portName, number, dialNumber, viaModemList) != 1)
    return 0;
  m_openPort = number;
  m_openViaModemList = viaModemList;
  return 1;
}

void FaxKernel::ClosePort(bool viaModemList) {
  if (!m_port) return;
  // A ring answered by nobody leaves the indications off; put them back here.
  if (m_port->IsPortOpen()) RestoreIndications();
  m_savedIndication.fill(0);
  m_port->CloseComPort(viaModemList);
  m_openPort = 0;
  m_openViaModemList = false;
}

int FaxKernel::IsPortOpen() const { return m_port ? m_port->IsPortOpen() : 0; }

int FaxKernel::ResetModem() { return m_port ? m_exchange.HangupModem() : 0; }

bool FaxKernel::Cancelled() const { return m_job != nullptr && m_job->IsCancelled(0) == 1; }

// ---- the shared steps

bool FaxKernel::InitialiseModem() {
  if (!m_port->WriteCommand(kInitCommand, 0)) return false;
  // Only an ERROR brings the fall-back; a modem that stays silent is given the
  // rest of the sequence anyway.
  if (m_exchange.MatchOKResult(m_timeouts.initOk, true) == 0) {
    if (!m_port->WriteCommand(kFallbackInitCommand, 0)) return false;
    m_exchange.MatchOKResult(m_timeouts.initOk, true);
  }
  return true;
}

bool FaxKernel::AtRounds() {
  if (!m_port->WriteCommand("AT", kQuiet)) return false;
  for (int round = 1; round <= kAtRounds; ++round) {
    if (Cancelled()) return false;
    if (m_exchange.MatchOKResult(m_timeouts.answer, false) != 0) return true;
    if (round == kAtRounds) break;
    if (!m_port->WriteCommand("AT", kQuiet)) return false;
  }
  return false;
}

bool FaxKernel::ProbePhoneModem(const char* function) {
  std::array<char*, kResultLinesMax> lines{};
  if (!m_port->WriteCommand("AT+CGMI", 0)) return false;
  int count = m_port->ReadResultA(nullptr, kReadBufferBytes, lines, m_timeouts.answer, true);
  bool phone = count > 0;
  for (int i = 0; i < count; ++i)
    if (StartsWith(lines[static_cast<std::size_t>(i)], ResultWord(FinalResult::Error)))
      phone = false;
  if (!phone) return true;

  // The maker's name may be followed by an OK not read yet: drop it first.
  if (!m_port->WriteCommand("AT+CNMI?", kClearInput)) return false;
  count = m_port->ReadResultA(nullptr, kReadBufferBytes, lines, m_timeouts.answer, true);
  for (;;) {
    if (count < 0) return false;
    if (count == 0) {
      ReportError(0, kMsgDefault, kModule, function, "%s", kTimeoutText);
      return false;
    }
    if (AnyLineContains(lines, count, ResultWord(FinalResult::Error))) break;
    bool taken = false;
    for (int i = 0; i < count && !taken; ++i) {
      const char* line = lines[static_cast<std::size_t>(i)];
      const int at = FaxCommFunc::FindToken(line, kIndicationToken);
      if (at < 0) continue;
      const char* value = line + at + std::strlen(kIndicationToken);
      while (*value == ' ' || *value == '\t') ++value;
      const std::size_t length = std::strlen(value);
      if (length == 0 || length > kIndicationChars) {
        ReportError(0, kMsgDefault, kModule, function, "%s", kMsgCnmi);
        return false;
      }
      m_savedIndication.fill(0);
      std::memcpy(m_savedIndication.data(), value, length);
      taken = true;
    }
    if (taken || AnyLineContains(lines, count, ResultWord(FinalResult::Ok))) break;
    count = m_port->ReadResultA(nullptr, kReadBufferBytes, lines, m_timeouts.answer, true);
  }
  if (!m_port->WriteCommand(kIndicationsOff, kQuiet | kClearInput)) return false;
  m_exchange.MatchOKResult(m_timeouts.answer, false);
  return true;
}

void FaxKernel::RestoreIndications() {
  if (!HasSavedIndication()) return;
  const std::string saved = m_savedIndication.data();
  m_savedIndication.fill(0);
  if (m_port->WriteCommandF("AT+CNMI=%s", saved.c_str(), kQuiet))
    m_exchange.MatchOKResult(m_timeouts.answer, false);
}

bool FaxKernel::SelectResultCodes(Entry entry) {
  if (!m_port->WriteCommand("ATX4", 0)) return false;
  const int ok = m_exchange.MatchOKResult(m_timeouts.initOk, true);
  return entry == Entry::Send ? ok != 0 : ok == 1;
}

bool FaxKernel::EndVoiceCall() {
  const bool voiceLine = m_openViaModemList && m_openPort != 0 && m_modems != nullptr &&
                         m_modems->IsVoiceLine(m_openPort) == 1;
  if (!voiceLine) return true;
  if (!m_port->WriteCommand("AT+CHUP", kQuiet)) return false;
  if (m_exchange.MatchOKResult(m_timeouts.answer, true) == 0) return false;
  if (m_callSettings.useWhatAsSeedNum != 1) return true;
  const std::uint32_t seconds = m_callSettings.hangupBreakSeconds;
  if (m_job) m_job->SetStatusFormat(kStrHangupBreak, seconds);
  const std::uint32_t pauseMs = seconds * 1000;
  // The pause is long enough to be worth cancelling.
  if (m_job) {
    if (m_job->IsCancelled(pauseMs) == 1) return false;
  } else {
    m_port->Delay(pauseMs);
  }
  if (m_job) m_job->SetStatusString(kStrAfterHangupBreak);
  return true;
}

bool FaxKernel::DetectFaxClass(Entry entry, const char* function) {
  std::array<char*, kResultLinesMax> lines{};
  if (!m_port->WriteCommand("AT+FCLASS=?", 0)) return false;
  const int count = m_port->ReadResultA(nullptr, kReadBufferBytes, lines, m_timeouts.answer, true);
  if (count < 0) return false;
  if (count == 0) {
    ReportError(0, kMsgDefault, kModule, function, "%s", kTimeoutText);
    return false;
  }
  if (StartsWith(lines[0], ResultWord(FinalResult::Error))) {
    ReportError(0, kMsgDefault, kModule, function, "%s", kErrorText);
    return false;
  }
  bool matched = false;
  const ClassRow* accepted = nullptr;
  for (int i = 0; i < count && accepted == nullptr; ++i) {
    for (const ClassRow& row : kClassTable) {
      if (!Contains(lines[static_cast<std::size_t>(i)], row.text)) continue;
      matched = true;
      m_detectedClass = row.number;
      if (m_forcedClass == kFaxClassAuto || m_forcedClass == row.number) {
        accepted = &row;
        break;
      }
    }
  }
  if (accepted == nullptr) {
    if (matched)
      ReportError(0, kMsgDefault, kModule, function, kMsgForcedClass,
                  static_cast<int>(m_forcedClass));
    else
      ReportError(0, kMsgDefault, kModule, function, "%s", kMsgNoClass);
    return false;
  }
  m_classText = accepted->text;
  bool complete = false;
  for (int i = 1; i < count; ++i)
    if (StartsWith(lines[static_cast<std::size_t>(i)], ResultWord(FinalResult::Ok)))
      complete = true;
  if (!complete) {
    const int ok = m_exchange.MatchOKResult(m_timeouts.answer, true);
    if (entry == Entry::Send ? ok == 0 : ok != 1) return false;
  }
  m_port->Delay(m_timeouts.classPause);
  if (!m_port->WriteCommandF("AT+FCLASS=%s", m_classText, 0)) return false;
  const int ok = m_exchange.MatchOKResult(m_timeouts.answer, true);
  if (entry == Entry::Send ? ok == 0 : ok != 1) return false;
  if (entry != Entry::WaitRing) m_port->Delay(m_timeouts.classPause);
  return true;
}

// ---- entry operations

int FaxKernel::WaitRing_NoEvent(unsigned rings) {
  constexpr const char* fn = "WaitRing_NoEvent";
  m_waitListened = false;
  if (!m_port || !m_port->IsPortOpen()) return -1;
  RestoreIndications();  // a value left from an earlier wait
  const auto fail = [this](int code) {
    RestoreIndications();
    return code;
  };
  if (!InitialiseModem() || !ProbePhoneModem(fn) || !SelectResultCodes(Entry::WaitRing) ||
      !DetectFaxClass(Entry::WaitRing, fn))
    return fail(-1);
  // Rings that came in while the modem was being set up belong to the call:
  // with enough of them it is answered now rather than one ring period later.
  const int wanted = static_cast<int>(std::max(rings, 1u));
  m_waitListened = true;
  int earlierCalls = 0;  // RING lines of callers that gave up
  auto lastRing = std::chrono::steady_clock::now();
  if (m_port->RingLinesRead() >= wanted) return 0;
  const std::string waiting = LoadResString(kStrWaitingForCall);
  if (m_job) m_job->SetStatusText(waiting, true);
  for (;;) {
    if (Cancelled()) return fail(-2);
    const int heard = m_exchange.WaitRings(m_timeouts.ringPoll, 0, true);
    if (heard < 0) return fail(-1);
    const auto now = std::chrono::steady_clock::now();
    if (heard > 0)
      lastRing = now;
    else if (now - lastRing > kRingsOfOneCall)
      earlierCalls = m_port->RingLinesRead();
    // The saved indication value stays for the ReceiveFax that follows.
    if (m_port->RingLinesRead() - earlierCalls >= wanted) return 0;
    if (m_job) m_job->SetStatusText(waiting, false);
  }
}

template <typename Session, typename Call>
int FaxKernel::WithLimits(Session& session, Call call) {
  session.SetCodingLimits(m_callSettings.ecm, m_callSettings.highestCoding);
  const int result = call(session);
  m_lastLink = session.Link();
  return result;
}

int FaxKernel::RunReceive(const std::string& outputFile, std::string_view localId,
                          FaxResult* result) {
  switch (m_detectedClass) {
    case kFaxClass1:
      return WithLimits(*m_class1, [&](FClass1Func& s) {
        return s.ReceiveFAXClass1(outputFile, localId, result);
      });
    case kFaxClass2:
      return WithLimits(Class2x(m_class2), [&](FClass2Func& s) {
        return s.ReceiveFAXClass2(outputFile, localId, result);
      });
    case kFaxClass20:
      return WithLimits(Class2x(m_class20), [&](FClass20Func& s) {
        return s.ReceiveFAXClass20(outputFile, localId, result);
      });
    default:
      ReportError(0, kMsgDefault, kModule, "ReceiveFax", "%s", kMsgNoClass);
      return -1;
  }
}

int FaxKernel::ReceiveFax(const std::string& outputFile, std::string_view localId, bool initialise,
                          FaxResult* result) {
  constexpr const char* fn = "ReceiveFax";
  FaxResult own;
  FaxResult* record = result ? result : &own;
  record->Clear();
  m_lastLink.reset();
  if (!m_port || !m_port->IsPortOpen()) return -1;
  if (Cancelled()) {
    RestoreIndications();
    return -1;
  }
  m_port->Delay(m_timeouts.classPause);
  const auto fail = [this] {
    RestoreIndications();
    m_exchange.HangupModem();
    return -1;
  };
  if (initialise && (!InitialiseModem() || !SelectResultCodes(Entry::Receive) ||
                     !DetectFaxClass(Entry::Receive, fn)))
    return fail();
  const int session = RunReceive(outputFile, localId, record);
  if (session < 0) return fail();
  // Indications saved by the ring wait go back on as at every other exit.
  RestoreIndications();
  m_exchange.HangupModem();
  if (session != kSessionFailed) return 0;
  return record->pagesTransferred != 0 ? 1 : -1;
}

int FaxKernel::RunSend(std::span<const std::string> files, std::string_view number,
                       std::string_view localId, std::uint32_t* resume, FaxResult* result) {
  switch (m_detectedClass) {
    case kFaxClass1:
      return WithLimits(*m_class1, [&](FClass1Func& s) {
        return s.SendFAXClass1(files, number, localId, resume, result);
      });
    case kFaxClass2:
      return WithLimits(Class2x(m_class2), [&](FClass2Func& s) {
        return s.SendFAXClass2(files, number, localId, resume, result);
      });
    case kFaxClass20:
      return WithLimits(Class2x(m_class20), [&](FClass20Func& s) {
        return s.SendFAXClass20(files, number, localId, resume, result);
      });
    default:
      ReportError(0, kMsgDefault, kModule, "SendFax", "%s", kMsgNoClass);
      return -1;
  }
}

void FaxKernel::ReadFirstFileInfo(std::span<const std::string> files, FaxResult* result) {
  if (files.empty() || result == nullptr) return;
  TiffOper tiff;
  tiff.SetErrorPool(false);
  if (tiff.OpenReadTiffHeader(files.front()) != 1) return;
  const int total = tiff.GetTotalPageNum();
  if (total > 0 && tiff.ReadTags() == 1) {
    result->totalPages = static_cast<std::uint32_t>(total);
    result->resolution = tiff.PageInfo().flags;
  }
  tiff.CloseReadTiff();
}

int FaxKernel::SendFax(std::span<const std::string> files, std::string_view number,
                       std::string_view localId, std::uint32_t* startFileIndex, FaxResult* result) {
  constexpr const char* fn = "SendFax";
  FaxResult own;
  FaxResult* record = result ? result : &own;
  m_lastLink.reset();
  if (!m_port || !m_port->IsPortOpen()) return -1;
  if (Cancelled()) return -1;
  RestoreIndications();  // a value left from an earlier wait
  std::uint32_t resume = startFileIndex ? *startFileIndex : 0;
  const auto fail = [&] {
    RestoreIndications();
    m_exchange.HangupModem();
    ReadFirstFileInfo(files, record);
    return -1;
  };
  if (!InitialiseModem()) return fail();
  if (!AtRounds()) return -1;
  if (!ProbePhoneModem(fn) || !SelectResultCodes(Entry::Send) || !EndVoiceCall() ||
      !DetectFaxClass(Entry::Send, fn))
    return fail();
  const int session = RunSend(files, number, localId, &resume, record);
  if (startFileIndex) *startFileIndex = resume;
  if (session < 0) return fail();
  RestoreIndications();
  m_exchange.HangupModem();
  ReadFirstFileInfo(files, record);
  if (session == kSessionDone) return 0;
  // Refused pages make a partial success, as does a call that ended after some pages.
  if (session == kSessionPartly || resume != 0) return 1;
  return -1;
}

}  // namespace vexo
