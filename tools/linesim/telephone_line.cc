#include "tools/linesim/telephone_line.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>

#include "tools/linesim/class1_modem.h"
#include "tools/linesim/combined_modem.h"
#include "tools/linesim/service_class_modem.h"

namespace vexo::linesim {
namespace {

constexpr double kRingPeriodSeconds = 6;  // one RING per cadence: 2 s on, 4 s off
constexpr double kFirstRingSeconds = 1;   // from the port being opened to the first ring
// A caller rings this long before it gives up: past the 20 rings a program may
// wait for before answering.
constexpr double kCallerGivesUpSeconds = kFirstRingSeconds + 20.5 * kRingPeriodSeconds;
// The pause after a call before the far terminal calls in again, so that the
// program has put the modem back on hook.
constexpr double kCallInAgainSeconds = 3;
constexpr double kBusySeconds = 4;        // busy tone heard before BUSY is reported
constexpr double kNoDialtoneSeconds = 3;  // wait for dial tone before NO DIALTONE
constexpr double kFarLeavesSeconds = 1;   // the far terminal hangs up this long after T.30 ends
constexpr double kFarFinishSeconds = 8;   // the far terminal's time to end alone after a hang-up
// --drop-during-page with the far terminal: the line goes this long after the
// go-ahead (CFR or MCF) for the page, inside its image data.
constexpr double kDropIntoPageSeconds = 1;
// The level at which spandsp's fax modems transmit; noise is set relative to it.
constexpr float kSignalLevelDbm0 = -14.0f;
constexpr int kNoiseSeed = 1234567;
// Below this mean power a block counts as silence for --signal-noise: about
// -40 dBm0, under any fax signal and over the receivers' carrier-off level.
constexpr double kSignalPresentPower = 200.0 * 200.0;

bool CarriesSignal(std::span<const std::int16_t> block) {
  double power = 0;
  for (const auto sample : block) power += static_cast<double>(sample) * sample;
  return power / static_cast<double>(block.size()) >= kSignalPresentPower;
}

// The T.30 compressions a far terminal with this highest coding offers.
int FarCompressions(FarCoding coding) {
  int compressions = T30_SUPPORT_T4_1D_COMPRESSION;
  if (coding != FarCoding::kMh) compressions |= T30_SUPPORT_T4_2D_COMPRESSION;
  if (coding == FarCoding::kMmr) compressions |= T30_SUPPORT_T6_COMPRESSION;
  return compressions;
}

std::int16_t Saturate(int value) {
  return static_cast<std::int16_t>(std::clamp(value, -32768, 32767));
}

}  // namespace

TelephoneLine::TelephoneLine(const Options& options)
    : m_options(options),
      m_delay{DelayLine(static_cast<std::size_t>(options.lineDelayMs * kSampleRate / 1000)),
              DelayLine(static_cast<std::size_t>(options.lineDelayMs * kSampleRate / 1000))},
      m_faults(options.faults, options.verbose) {
  m_callInsLeft = options.callIn.empty() ? 0 : options.callInRepeat;
  if (m_options.noiseDb) {
    const float level = kSignalLevelDbm0 - static_cast<float>(*m_options.noiseDb);
    m_noise[0] = awgn_init_dbm0(nullptr, kNoiseSeed, level);
    m_noise[1] = awgn_init_dbm0(nullptr, kNoiseSeed + 1, level);
  }
}

TelephoneLine::~TelephoneLine() {
  for (auto* noise : m_noise)
    if (noise != nullptr) awgn_free(noise);
}

bool TelephoneLine::Start(std::string& error) {
  const ModemProfile profile{m_options.fclassList, m_options.modulations, m_options.phone};
  const int count = m_options.far == FarKind::kModem ? 2 : 1;
  for (int i = 0; i < count; ++i) {
    const std::string link =
        static_cast<std::size_t>(i) < m_options.links.size() ? m_options.links[i] : "";
    auto opened = PtyPort::Open(link, error);
    if (!opened) return false;
    auto port = std::make_shared<PtyPort>(std::move(*opened));
    std::unique_ptr<EmulatedModem> modem;
    if (m_options.modemClass == "2" || m_options.modemClass == "2.0") {
      modem = ServiceClassModem::Create(i + 1, m_options, std::move(port), *this);
    } else if (m_options.modemClass == "auto") {
      modem = CombinedModem::Create(i + 1, m_options, profile, std::move(port), *this, error);
    } else {
      std::shared_ptr<PtyPort> dataPort;
      if (m_options.phoneTwoPorts) {
        auto data = PtyPort::Open("", error);
        if (!data) return false;
        dataPort = std::make_shared<PtyPort>(std::move(*data));
      }
      auto classOne = Class1Modem::Create(i + 1, profile, std::move(port), m_options.verbose, *this,
                                          error, std::move(dataPort));
      if (classOne) AddDataFrameFaults(*classOne, i == 0);
      modem = std::move(classOne);
    }
    if (!modem) return false;
    m_modems.push_back(std::move(modem));
  }
  return true;
}

void TelephoneLine::AddDataFrameFaults(Class1Modem& modem, bool first) {
  // Modem 1 sends as "modem"; modem 2 of --far modem as "far". Modem 1 also
  // delivers the far terminal's ECM frames, which the line cannot reach.
  const auto sender = first ? LineFaults::kModem : LineFaults::kFar;
  const auto count = [this](LineFaults::Sender who) {
    return [this, who] { return m_faults.OnDataFrame(who); };
  };
  HdlcStreamFaults::OnFrame sent;
  HdlcStreamFaults::OnFrame received;
  if (m_options.faults.framesOf(sender)) sent = count(sender);
  if (first && m_options.far == FarKind::kTerminal && m_options.faults.framesOf(LineFaults::kFar))
    received = count(LineFaults::kFar);
  modem.SetDataFrameFaults(std::move(sent), std::move(received));
}

std::int64_t TelephoneLine::Seconds(double s) const {
  return static_cast<std::int64_t>(s * kSampleRate);
}

EmulatedModem* TelephoneLine::OtherModem(const EmulatedModem& modem) const {
  for (const auto& m : m_modems)
    if (m.get() != &modem) return m.get();
  return nullptr;
}

void TelephoneLine::Step() {
  for (auto& modem : m_modems) modem->ServicePort();
  if (m_dialFrom != nullptr) {
    EmulatedModem* modem = std::exchange(m_dialFrom, nullptr);
    StartDial(*modem, m_dialNumber);
  }
  if (m_answerOn != nullptr) Answer(*std::exchange(m_answerOn, nullptr));
  StartCallIn();
  RunTimers();
  ExchangeAudio();
  m_now += kBlockSamples;
}

bool TelephoneLine::AllPortsClosedAfterUse() const {
  return std::all_of(m_modems.begin(), m_modems.end(), [](const auto& modem) {
    return modem->port().everOpened() && !modem->port().slaveOpen();
  });
}

void TelephoneLine::OnDial(EmulatedModem& modem, const std::string& number) {
  m_dialFrom = &modem;
  m_dialNumber = number;
}

void TelephoneLine::OnAnswer(EmulatedModem& modem) { m_answerOn = &modem; }

void TelephoneLine::OnHangup(EmulatedModem& modem) {
  if (m_dialFrom == &modem) m_dialFrom = nullptr;
  if (m_answerOn == &modem) m_answerOn = nullptr;
  if (!m_call || (m_call->modem != &modem && m_call->peer != &modem)) return;
  Call& call = *m_call;
  if (call.phase == Phase::kLocalGone) return;  // already on hook (ATH, then closing the port)
  if (call.phase == Phase::kRinging && call.report.direction == "in") {
    // Going on hook while the far terminal rings changes nothing: it keeps ringing.
    return;
  }
  if (call.phase == Phase::kConnected &&
      (call.peer != nullptr || (call.terminal && !call.terminal->finished()))) {
    // What is still on the way along the line arrives; the far terminal, still
    // ending its T.30 session (its DCN, phase E), goes on alone, hearing silence,
    // until it finishes or gives up.
    call.phase = Phase::kLocalGone;
    call.localGone = m_now;
    call.hungUp = &modem;
    return;
  }
  EndCall(CallOutcome());
}

std::string TelephoneLine::CallOutcome() {
  Call& call = *m_call;
  if (call.terminal) call.farResult = call.terminal->Result();
  if (const FarResult* own = call.modem->ownFarResult(); own != nullptr && call.answered >= 0)
    call.farResult = *own;
  if (call.farResult.finished)
    return call.farResult.completionCode == T30_ERR_OK ? "completed" : "failed";
  // Between two modems the line tap tells: pages confirmed, then a DCN.
  const T30Observations& seen = m_monitor.observations();
  if (call.peer != nullptr && seen.disconnected && seen.pagesConfirmed > 0) return "completed";
  switch (call.phase) {
    case Phase::kDialling:
    case Phase::kRinging:
      return "abandoned";
    case Phase::kFarGone:
      return "far hung up";
    default:
      return "hung up";
  }
}

void TelephoneLine::StartDial(EmulatedModem& modem, const std::string& number) {
  if (m_call && m_call->phase == Phase::kLocalGone) EndCall(CallOutcome());
  if (m_call) {
    // One call at a time: the line is engaged.
    modem.Busy();
    return;
  }
  m_call = std::make_unique<Call>();
  Call& call = *m_call;
  call.report.call = ++m_calls;
  call.report.direction = "out";
  ++m_dialled;
  call.report.modem = modem.number();
  call.report.number = number;
  call.modem = &modem;
  call.start = m_now;
  EmulatedModem* other = m_options.far == FarKind::kModem ? OtherModem(modem) : nullptr;
  call.report.far = other != nullptr ? "modem " + std::to_string(other->number()) : "terminal";
  call.report.farIdent = other != nullptr ? "" : m_options.farId;
  if (m_options.noDialtone) {
    call.decided = m_now + Seconds(kNoDialtoneSeconds);
  } else if (m_options.busy || m_dialled <= m_options.busyCalls) {
    call.decided = m_now + Seconds(kBusySeconds);
  } else if (m_options.noAnswer || other != nullptr) {
    call.phase = Phase::kRinging;
    call.decided = m_now + Seconds(modem.waitForAnswerSeconds());
    if (other != nullptr && !m_options.noAnswer) {
      call.peer = other;
      call.nextRing = m_now;
    }
  } else {
    // The far terminal answers at once and greets with CED.
    modem.Connected();
    ConnectTerminal(false);
  }
}

void TelephoneLine::StartCallIn() {
  if (m_call || m_callInsLeft == 0 || m_now < m_nextCallIn) return;
  EmulatedModem& modem = *m_modems.front();
  if (!modem.port().slaveOpen()) return;
  --m_callInsLeft;
  m_call = std::make_unique<Call>();
  Call& call = *m_call;
  call.report.call = ++m_calls;
  call.report.direction = "in";
  call.report.modem = modem.number();
  call.report.far = "terminal";
  call.report.farIdent = m_options.farId;
  call.modem = &modem;
  call.phase = Phase::kRinging;
  call.start = m_now;
  call.nextRing = m_now + Seconds(kFirstRingSeconds);
  call.decided = m_now + Seconds(kCallerGivesUpSeconds);
}

void TelephoneLine::Answer(EmulatedModem& modem) {
  if (!m_call || m_call->phase != Phase::kRinging) return;
  Call& call = *m_call;
  if (call.report.direction == "in" && call.modem == &modem) {
    modem.Answered();
    ConnectTerminal(true);
  } else if (call.peer == &modem) {
    modem.Answered();
    call.modem->Connected();
    call.phase = Phase::kConnected;
    call.answered = m_now;
    call.nextRing = -1;
  }
}

void TelephoneLine::ConnectTerminal(bool calling) {
  Call& call = *m_call;
  if (call.modem->runsT30()) {
    // The modem meets its far end at the protocol level; the line carries no audio.
    call.phase = Phase::kConnected;
    call.answered = m_now;
    call.nextRing = -1;
    return;
  }
  FarTerminalSetup setup;
  setup.calling = calling;
  setup.ident = m_options.farId;
  setup.refuseFine = m_options.farRefuseFine;
  setup.ecm = m_options.farEcm;
  setup.compressions = FarCompressions(m_options.farCoding.value_or(FarCoding::kMr));
  setup.verbose = m_options.verbose;
  if (calling) {
    setup.txFile = m_options.callIn;
  } else {
    setup.rxFile = NextReceiveFile(call.tempRxFile);
    call.report.receivedFile = setup.rxFile;  // a temporary file is removed, not reported
  }
  std::string error;
  call.terminal = FarTerminal::Create(setup, error);
  if (!call.terminal) std::fprintf(stderr, "vexo-linesim: %s\n", error.c_str());
  call.phase = Phase::kConnected;
  call.answered = m_now;
  call.nextRing = -1;
}

std::string TelephoneLine::NextReceiveFile(bool& temporary) const {
  namespace fs = std::filesystem;
  temporary = m_options.farReceiveDir.empty();
  if (temporary) {
    return (fs::temp_directory_path() /
            ("vexo-linesim-" + std::to_string(::getpid()) + "-" + std::to_string(m_calls) + ".tif"))
        .string();
  }
  std::error_code ec;
  fs::create_directories(m_options.farReceiveDir, ec);
  for (int n = 1;; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "fax-%03d.tif", n);
    const fs::path path = fs::path(m_options.farReceiveDir) / name;
    if (!fs::exists(path, ec)) return path.string();
  }
}

void TelephoneLine::RunTimers() {
  if (!m_call) return;
  Call& call = *m_call;
  if (call.nextRing >= 0 && m_now >= call.nextRing) {
    (call.peer != nullptr ? call.peer : call.modem)->Ring();
    call.nextRing += Seconds(kRingPeriodSeconds);
  }
  if (call.phase == Phase::kDialling && m_now >= call.decided) {
    if (m_options.noDialtone) {
      call.modem->NoDialtone();
      EndCall("no dialtone");
    } else {
      call.modem->Busy();
      EndCall("busy");
    }
    return;
  }
  if (call.phase == Phase::kRinging && call.report.direction == "out" && m_now >= call.decided) {
    call.modem->NoAnswer();
    EndCall("no answer");
    return;
  }
  if (call.phase == Phase::kRinging && call.report.direction == "in" && m_now >= call.decided) {
    EndCall("abandoned");
    return;
  }
  if (call.phase == Phase::kLocalGone) {
    const std::int64_t gone = m_now - call.localGone;
    const bool over = call.terminal
                          ? call.terminal->finished() || gone >= Seconds(kFarFinishSeconds)
                          : gone >= Seconds(m_options.lineDelayMs / 1000.0) + kBlockSamples;
    if (over) EndCall(CallOutcome());
    return;
  }
  if (call.phase != Phase::kConnected) return;
  if (m_options.hangupAfter > 0 && m_now - call.answered >= Seconds(m_options.hangupAfter)) {
    DropFarEnd();
    return;
  }
  const T30Observations& seen = m_monitor.observations();
  if (call.terminal && m_options.dropDuringPage == seen.pagesConfirmed + 1 &&
      seen.samplesSincePageGo >= Seconds(kDropIntoPageSeconds)) {
    DropFarEnd();
    return;
  }
  if (call.terminal && call.terminal->finished()) {
    if (call.farDone < 0) call.farDone = m_now;
    if (m_now - call.farDone >= Seconds(kFarLeavesSeconds)) DropFarEnd();
  }
}

void TelephoneLine::DropFarEnd() {
  Call& call = *m_call;
  if (call.terminal) {
    call.farResult = call.terminal->Result();
    call.terminal.reset();
  }
  call.phase = Phase::kFarGone;
}

void TelephoneLine::ExchangeAudio() {
  using Block = std::array<std::int16_t, kBlockSamples>;
  auto index = [](const EmulatedModem* modem) {
    return static_cast<std::size_t>(modem->number() - 1);
  };
  Block sent[2] = {};
  for (std::size_t i = 0; i < m_modems.size(); ++i) m_modems[i]->Transmit(sent[i]);
  Block heard[2] = {};  // what each modem hears: silence unless it is in a call
  if (m_call && (m_call->phase == Phase::kConnected || m_call->phase == Phase::kLocalGone)) {
    // A modem that has hung up sends and hears nothing more; the line still
    // delivers what was on the way.
    Call& call = *m_call;
    const bool nearOn = call.hungUp != call.modem;
    const bool peerOn = call.peer != nullptr && call.hungUp != call.peer;
    Block toFar = nearOn ? sent[index(call.modem)] : Block{};
    Block toNear{};
    if (call.terminal) {
      call.terminal->Transmit(toNear);
    } else if (peerOn) {
      toNear = sent[index(call.peer)];
    }
    Carry(toFar, 1);
    Carry(toNear, 0);
    m_monitor.Listen(Direction::kFromModem, toFar);
    m_monitor.Listen(Direction::kFromFar, toNear);
    if (nearOn) heard[index(call.modem)] = toNear;
    if (call.terminal) {
      call.terminal->Receive(toFar);
    } else if (peerOn) {
      heard[index(call.peer)] = toFar;
    }
  }
  for (std::size_t i = 0; i < m_modems.size(); ++i) m_modems[i]->Receive(heard[i]);
}

void TelephoneLine::Carry(std::span<std::int16_t> block, int direction) {
  // Direction 0 carries what the far end sends, 1 what modem 1 sends.
  if (m_options.faults.any()) m_faults.Process(block, static_cast<LineFaults::Sender>(direction));
  m_delay[direction].Process(block);
  awgn_state_t* noise = m_noise[direction];
  if (noise == nullptr || (m_options.noiseFollowsSignal && !CarriesSignal(block))) return;
  for (auto& sample : block) sample = Saturate(sample + awgn(noise));
}

void TelephoneLine::EndCall(const std::string& outcome) {
  Call& call = *m_call;
  if (call.terminal) call.farResult = call.terminal->Result();
  call.terminal.reset();
  CallReport report = call.report;
  report.outcome = outcome;
  report.seconds = static_cast<double>(m_now - call.start) / kSampleRate;
  // The line tap knows what both sides sent; the far terminal's own T.30
  // knows best what it sent and received, so its figures win where it has them.
  const T30Observations& seen = m_monitor.observations();
  report.identSeenByModem = seen.identFromFar;
  report.identSeenByFar = seen.identFromModem;
  report.pages = seen.pagesConfirmed;
  report.bitRate = seen.bitRate;
  report.resolution = seen.resolution;
  report.ecm = seen.ecm;
  report.coding = seen.coding;
  report.faults = m_faults.Fired();
  if (call.peer != nullptr) report.farIdent = seen.identFromFar;
  if (const FarResult* own = call.modem->ownFarResult(); own != nullptr && call.answered >= 0) {
    call.farResult = *own;
    call.report.receivedFile = call.report.direction == "out" ? own->receivedFile : "";
    report.receivedFile = call.report.receivedFile;
    call.tempRxFile = call.report.direction == "out" && m_options.farReceiveDir.empty();
    report.identSeenByModem = m_options.farId;
    report.pagesRefused = own->pagesRefused;
    report.bitRate = own->bitRate;
    report.resolution = ResolutionName(own->yResolution);
    report.ecm = own->ecm;
    report.coding = own->coding;
  }
  if (call.report.far == "terminal" && call.answered >= 0) {
    const FarResult& far = call.farResult;
    report.pages = far.pages;
    if (far.bitRate > 0) report.bitRate = far.bitRate;
    if (far.pages > 0) report.resolution = ResolutionName(far.yResolution);
    if (!far.coding.empty()) {
      report.ecm = far.ecm;
      report.coding = far.coding;
    }
    if (!far.remoteIdent.empty()) report.identSeenByFar = far.remoteIdent;
    report.completionCode = far.completionCode;
    report.completionText = far.completionText;
    report.farBadRows = far.badRows;
  }
  if (call.tempRxFile) {
    std::error_code ec;
    std::filesystem::remove(call.report.receivedFile, ec);
    report.receivedFile.clear();
  }
  if (report.direction == "in") m_nextCallIn = m_now + Seconds(kCallInAgainSeconds);
  m_call.reset();
  for (auto& delay : m_delay) delay.Clear();
  m_monitor.Reset();
  m_faults.Reset();
  WriteReport(report);
}

void TelephoneLine::WriteReport(const CallReport& report) {
  std::printf("%s\n", FormatReportLine(report).c_str());
  std::fflush(stdout);
  if (m_options.reportFile.empty()) return;
  std::ofstream file(m_options.reportFile, std::ios::app);
  file << FormatReportJson(report) << '\n';
  if (!file) std::fprintf(stderr, "vexo-linesim: cannot write %s\n", m_options.reportFile.c_str());
}

void TelephoneLine::Shutdown() {
  if (!m_call) return;
  const std::string outcome = CallOutcome();
  EndCall(outcome == "hung up" ? "interrupted" : outcome);
}

}  // namespace vexo::linesim
