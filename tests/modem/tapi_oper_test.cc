// The telephony modem line on the scripted provider: the modem list, opening
// data and voice lines, failed voice calls and what is told of them, the
// REINIT retry, the deadlines of the waits and the trace of the messages.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "base/job_control.h"
#include "base/log_file.h"
#include "base/strings.h"
#include "modem/tapi_oper.h"
#include "platform/serial/fake_serial_device.h"
#include "platform/telephony/scripted_provider.h"
#include "platform/text.h"
#include "tests/modem/modem_test_util.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::TakeErrors;
using test::TakeMessages;
using test::TakeReports;

constexpr std::uint32_t kVoiceMedia = LINEMEDIAMODE_DATAMODEM | LINEMEDIAMODE_INTERACTIVEVOICE;

ScriptedDevice DataDevice(std::string name) {
  ScriptedDevice d;
  d.name = std::move(name);
  d.dataPort = [] { return std::make_unique<FakeSerialDevice>(MakeFakeLine(0)); };
  return d;
}

ScriptedDevice VoiceDevice(std::string name) {
  ScriptedDevice d = DataDevice(std::move(name));
  d.bearerModes = LINEBEARERMODE_VOICE;
  d.mediaModes = kVoiceMedia;
  return d;
}

struct Rig {
  test::CommLogFile comm;  // its folder holds the system log as well
  LogFile systemLog;
  ScriptClock clock;
  ScriptedTelephonyProvider provider{clock};
  DialSettings settings;
  // The failures told, each with whether the call was still held then.
  std::vector<std::pair<VoiceCallFailure, bool>> failures;
  TAPIOper tapi{provider, [this] { return settings; },
                TapiEnvironment{[this] { return clock.NowMs(); },
                                [this](std::uint32_t ms) { clock.Sleep(ms); }}};

  explicit Rig(std::vector<ScriptedDevice> devices = {}) {
    provider.devices = std::move(devices);
    tapi.SetCallFailedHandler([this](const VoiceCallFailure& failure) {
      failures.emplace_back(failure, !Called("lineDrop"));
    });
    systemLog.Open(1, comm.dir.dir(), "VexoS", "ysLog");
    TakeErrors();
  }
  bool Init() {
    const bool ok = tapi.InitTapi(&systemLog, &comm.log) == 1;
    provider.calls.clear();
    return ok;
  }
  std::vector<std::string> ModemNames() const {
    std::vector<std::string> names;
    for (const auto& m : tapi.Modems()) names.push_back(m.name);
    return names;
  }
  std::string SystemLogText() {
    systemLog.Close();
    return test::LogText(test::ReadFileBytes(comm.dir.path() / "VexoSysLog.log"));
  }
  // The trace lines of the communication log, without their stamps.
  std::vector<std::string> Traces() {
    const std::string all = comm.Text();
    const std::string marker = "File=TAPIOper, Line=0\t";
    std::vector<std::string> lines;
    for (auto at = all.find(marker); at != std::string::npos; at = all.find(marker, at)) {
      at += marker.size();
      lines.push_back(all.substr(at, all.find("\r\n", at) - at));
    }
    return lines;
  }
  bool Called(std::string_view prefix) const {
    for (const auto& c : provider.calls)
      if (c.starts_with(prefix)) return true;
    return false;
  }
};

TEST(TapiOperList, DataLinesComeFirstThenVoiceLinesEachDeviceOnceFoundByExactName) {
  Rig rig;
  EXPECT_EQ(rig.tapi.FindModem("Data A"), kNoIndex);  // no list yet
  ScriptedDevice both = VoiceDevice("Both kinds");
  both.bearerModes = LINEBEARERMODE_PASSTHROUGH | LINEBEARERMODE_VOICE;
  ScriptedDevice voiceNoTalk = VoiceDevice("Voice without talk");
  voiceNoTalk.mediaModes = LINEMEDIAMODE_DATAMODEM;
  ScriptedDevice broken = DataDevice("Broken");
  broken.devCapsResult = LINEERR_NODEVICE;
  ScriptedDevice old = DataDevice("Too old");
  old.negotiateResult = LINEERR_INCOMPATIBLEAPIVERSION;
  ScriptedDevice faxOnly = DataDevice("Fax only");
  faxOnly.mediaModes = LINEMEDIAMODE_G3FAX;
  rig.provider.devices = {VoiceDevice("Voice A"),
                          DataDevice("Data A"),
                          both,
                          DataDevice(""),
                          voiceNoTalk,
                          broken,
                          old,
                          faxOnly,
                          DataDevice("Data B"),
                          VoiceDevice("Voice B")};
  ASSERT_TRUE(rig.Init());

  EXPECT_EQ(rig.ModemNames(),
            (std::vector<std::string>{LoadResString(65196), "Data A", "Both kinds", "Data B",
                                      "Voice A", "Voice B"}));
  EXPECT_EQ(rig.tapi.IsVoiceLine(2), 0);  // pass-through wins
  EXPECT_EQ(rig.tapi.IsVoiceLine(4), 1);
  EXPECT_EQ(rig.tapi.IsVoiceLine(6), 0);  // past the end
  EXPECT_EQ(rig.tapi.FindModem(LoadResString(65196)), 0u);
  EXPECT_EQ(rig.tapi.FindModem("Voice A"), 4u);
  EXPECT_EQ(rig.tapi.FindModem("Data"), kNoIndex);
  EXPECT_EQ(rig.tapi.FindModem(""), kNoName);

  // Each failing device is reported once a pass and skipped.
  const auto errors = TakeErrors();
  ASSERT_EQ(errors.size(), 4u);
  EXPECT_EQ(*errors[0].function, "lineGetDevCaps");
  EXPECT_EQ(errors[0].message, "TAPI errormsg=The line device is not present.");
  EXPECT_EQ(*errors[1].function, "lineNegotiateAPIVersion");

  // Every named device is written into the system log in both passes.
  const std::string log = rig.SystemLogText();
  const std::string enumeration = "GetModemName Enum all TAPI device:\r\n";
  ASSERT_NE(log.find(enumeration), std::string::npos);
  const std::string first = "Voice A : 0x1 : 0x14\r\nData A : 0x40 : 0x10\r\n";
  const auto at = log.find(enumeration + first);
  ASSERT_NE(at, std::string::npos) << log;
  EXPECT_NE(log.find("Voice B : 0x1 : 0x14\r\n" + first, at), std::string::npos) << log;

  rig.tapi.ShutdownTapi();
  EXPECT_TRUE(rig.tapi.Modems().empty());
  EXPECT_EQ(rig.tapi.FindModem("Data A"), kNoIndex);
  EXPECT_TRUE(rig.Called("lineShutdown"));
}

TEST(TapiOperInit, ReinitIsRetriedOnceAfterOnePause) {
  Rig rig({DataDevice("Data A")});
  rig.provider.initializeResults = {LINEERR_REINIT};
  ASSERT_TRUE(rig.Init());
  EXPECT_EQ(rig.clock.sleeps, std::vector<std::uint32_t>{kReinitPauseMs});
  EXPECT_EQ(rig.ModemNames().size(), 2u);

  Rig twice;
  twice.provider.initializeResults = {LINEERR_REINIT, LINEERR_REINIT};
  EXPECT_EQ(twice.tapi.InitTapi(&twice.systemLog, &twice.comm.log), 0);
  EXPECT_EQ(twice.clock.sleeps, std::vector<std::uint32_t>{kReinitPauseMs});
  EXPECT_TRUE(twice.tapi.Modems().empty());
  const auto errors = TakeErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(*errors[0].function, "lineInitializeEx");
  EXPECT_EQ(errors[0].message,
            "TAPI errormsg=The telephony configuration changed; initialise again.");
  EXPECT_EQ(twice.Traces(),
            std::vector<std::string>{"TAPI Func=lineInitializeEx, errormsg=The telephony "
                                     "configuration changed; initialise again."});
}

TEST(TapiOperOpen, DataLineMakesAPassThroughCallAndHandsOutItsPort) {
  Rig rig({VoiceDevice("Voice A"), DataDevice("Data A")});
  ASSERT_TRUE(rig.Init());
  auto port = rig.tapi.OpenLine(1, "5551234");
  ASSERT_TRUE(port);
  EXPECT_EQ(rig.provider.calls,
            (std::vector<std::string>{
                "lineNegotiateAPIVersion 1 0x10004-0x20000",
                "lineOpen 1 privileges=4 media=0x10 bearer=0x40",
                "lineMakeCall \"\" country=0 bearer=0x40 media=0x10 flags=2 mode=1 id=0 "
                "display=\"\"",
                "lineGetID call=0x101 select=4 comm/datamodem 280"}));
  EXPECT_EQ(rig.clock.sleeps, std::vector<std::uint32_t>{kAfterCallPauseMs});

  rig.provider.calls.clear();
  rig.tapi.CloseLine(std::move(port));
  EXPECT_EQ(rig.provider.calls,
            (std::vector<std::string>{"lineDrop 0x101", "lineDeallocateCall 0x101", "lineClose"}));
  EXPECT_FALSE(rig.provider.LineOpen());
  EXPECT_TRUE(TakeErrors().empty());
  EXPECT_EQ(rig.Traces(), (std::vector<std::string>{"Calling LineMakeCall(ReqID=0x1)",
                                                    "LINE_REPLY(ReqID=0x1): OK"}));

  // A port that is not the one handed out closes nothing of the line's.
  rig.provider.calls.clear();
  rig.tapi.CloseModem(std::make_unique<FakeSerialDevice>(MakeFakeLine(0)));
  EXPECT_TRUE(rig.provider.calls.empty());
}

TEST(TapiOperOpen, PortResultGrowsOnceAndAnyFailureLeavesNoLineOpen) {
  Rig rig({DataDevice("Data A")});
  ASSERT_TRUE(rig.Init());
  rig.provider.getIdNeededBytes = 600;
  auto port = rig.tapi.OpenModem(1, "");
  ASSERT_TRUE(port);
  EXPECT_TRUE(rig.Called("lineGetID call=0x101 select=4 comm/datamodem 280"));
  EXPECT_TRUE(rig.Called("lineGetID call=0x101 select=4 comm/datamodem 600"));
  rig.tapi.CloseModem(std::move(port));

  rig.provider.getIdNeededBytes = 1u << 30;
  EXPECT_FALSE(rig.tapi.OpenModem(1, ""));
  EXPECT_FALSE(rig.provider.LineOpen());
  EXPECT_EQ(TakeReports(), std::vector<std::string>{"OpenModem: Memory allocation failed."});

  // The reply of the call reports a failure: no port, no line.
  rig.provider.getIdNeededBytes = 0;
  rig.provider.nextCall.replyResult = LINEERR_RESOURCEUNAVAIL;
  EXPECT_FALSE(rig.tapi.OpenModem(1, ""));
  EXPECT_FALSE(rig.provider.LineOpen());
  EXPECT_EQ(TakeReports(), std::vector<std::string>{
                               "lineMakeCall: TAPI errormsg=The telephony resources are in use."});

  // Entry 0 and entries past the end never reach the provider.
  rig.provider.calls.clear();
  EXPECT_FALSE(rig.tapi.OpenModem(0, ""));
  EXPECT_FALSE(rig.tapi.OpenModem(2, ""));
  EXPECT_TRUE(rig.provider.calls.empty());
}

TEST(TapiOperOpen, VoiceLineWithoutANumberPlacesNoCallAndFails) {
  Rig rig({VoiceDevice("Voice A")});  // dialling the job's number, the default
  ASSERT_TRUE(rig.Init());
  EXPECT_FALSE(rig.tapi.OpenModem(1, ""));  // a receive job has no number
  EXPECT_FALSE(rig.Called("lineMakeCall"));
  EXPECT_TRUE(rig.Called("lineOpen 0 privileges=4 media=0x4 bearer=0x1"));
  EXPECT_FALSE(rig.provider.LineOpen());
  EXPECT_EQ(TakeReports(),
            std::vector<std::string>{"lineGetID: TAPI errormsg=The call handle is not valid."});
  EXPECT_TRUE(rig.failures.empty());
}

TEST(TapiOperOpen, VoiceCallDialsTheTranslatedNumberOrTheSeedNumber) {
  Rig rig({VoiceDevice("Voice A")});
  rig.provider.dialablePrefix = "9W";
  rig.provider.destCountry = 49;
  rig.provider.translateNeededBytes = 500;  // more than the first 40 bytes
  JobControl job;
  rig.tapi.SetJobControl(&job);
  ASSERT_TRUE(rig.Init());
  rig.provider.nextCall.states = {{400, LINECALLSTATE_DIALTONE},
                                  {100, LINECALLSTATE_DIALING},
                                  {2000, LINECALLSTATE_PROCEEDING},
                                  {5000, LINECALLSTATE_CONNECTED}};
  auto port = rig.tapi.OpenModem(1, "5551234");
  ASSERT_TRUE(port);
  EXPECT_TRUE(rig.Called("lineTranslateAddress 0 \"5551234\" 40"));
  EXPECT_TRUE(rig.Called("lineTranslateAddress 0 \"5551234\" 500"));
  EXPECT_TRUE(
      rig.Called("lineMakeCall \"9W5551234\" country=49 bearer=0x1 media=0x4 flags=2 "
                 "mode=1 id=0 display=\"5551234\""));
  EXPECT_NE(job.Status().text.find("5551234"), std::string::npos);  // the calling status
  EXPECT_EQ(rig.clock.sleeps, std::vector<std::uint32_t>{kAfterCallPauseMs});
  rig.tapi.CloseModem(std::move(port));
  EXPECT_TRUE(TakeErrors().empty());
  EXPECT_EQ(rig.Traces(),
            (std::vector<std::string>{
                "Calling LineMakeCall(DestNum=9W5551234, ReqID=0x1)", "LINE_REPLY(ReqID=0x1): OK",
                "In WaitForConnected", "CALLSTATE: Dail tone", "CALLSTATE: Dialing",
                "CALLSTATE: Dialing completed, call proceeding.", "CALLSTATE: Connected"}));

  // With UseWhatAsSeedNum 2 the seed number is called, whatever the job dials.
  Rig seed({VoiceDevice("Voice A")});
  seed.settings.useWhatAsSeedNum = 2;
  seed.settings.seedCallNum = "100";
  ASSERT_TRUE(seed.Init());
  seed.provider.nextCall.states = {{10, LINECALLSTATE_CONNECTED}};
  EXPECT_TRUE(seed.tapi.OpenModem(1, "5551234"));
  EXPECT_TRUE(seed.Called("lineMakeCall \"100\""));
}

TEST(TapiOperCall, AFailedVoiceCallIsToldBeforeItIsDroppedAndLeavesNoLine) {
  using Kind = VoiceCallFailure::Kind;
  const std::string busy = "WaitForConnected: CallState=LINECALLSTATE_BUSY";
  struct Row {
    Kind kind;
    std::uint32_t reason;
    std::uint64_t tookMs;
    ScriptedCall call;
    std::vector<std::string> reports;
  };
  const Row rows[] = {
      {Kind::Disconnected,
       LINEDISCONNECTMODE_BUSY,
       21000,  // busy, then disconnected
       {0, 0, 0, {{1000, LINECALLSTATE_BUSY}, {20000, LINECALLSTATE_DISCONNECTED, 0x20}}},
       {busy, "WaitForConnected: CallState=LINECALLSTATE_DISCONNECTED, Reason=20"}},
      // Busy without a disconnect waits out the deadline and reads as busy.
      {Kind::Disconnected,
       LINEDISCONNECTMODE_BUSY,
       300 + kConnectWaitMs,
       {0, 300, 0, {{1000, LINECALLSTATE_BUSY}}},
       {busy,
        "WaitForConnected: Timeout waiting for LINE_REPLY message for function=lineMakeCall."}},
      {Kind::NoReply,
       0,
       0,
       {LINEERR_INVALADDRESS, 0, 0, {}},
       {"lineMakeCall: TAPI errormsg=The address is not valid."}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.reports.back());
    Rig rig({VoiceDevice("Voice A")});
    ASSERT_TRUE(rig.Init());
    rig.provider.nextCall = row.call;
    const std::uint64_t start = rig.clock.NowMs();
    EXPECT_FALSE(rig.tapi.OpenModem(1, "5551234"));
    EXPECT_EQ(rig.clock.NowMs() - start, row.tookMs);
    EXPECT_FALSE(rig.provider.LineOpen());
    EXPECT_FALSE(rig.Called("lineGetID"));
    // A call that was placed is dropped and freed.
    EXPECT_EQ(rig.Called("lineDrop 0x101"), row.kind == Kind::Disconnected);
    EXPECT_EQ(rig.Called("lineDeallocateCall 0x101"), row.kind == Kind::Disconnected);
    EXPECT_EQ(TakeReports(), row.reports);
    ASSERT_EQ(rig.failures.size(), 1u);
    EXPECT_EQ(rig.failures[0].first.kind, row.kind);
    EXPECT_EQ(rig.failures[0].first.disconnectReason, row.reason);
    EXPECT_TRUE(rig.failures[0].second);  // the call was still held
  }
}

TEST(TapiOperCall, StatesOfAnEarlierCallDoNotEndTheNextOne) {
  Rig rig({VoiceDevice("Voice A")});
  ASSERT_TRUE(rig.Init());
  rig.provider.nextCall.states = {{10, LINECALLSTATE_CONNECTED}};
  auto port = rig.tapi.OpenModem(1, "5551234");
  ASSERT_TRUE(port);
  const CallHandle first = rig.provider.Call();
  rig.tapi.CloseModem(std::move(port));
  // The dropped call's last states arrive while the next call connects.
  rig.provider.nextCall.states = {{0, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL, first},
                                  {0, LINECALLSTATE_IDLE, 0, first},
                                  {10, LINECALLSTATE_CONNECTED}};
  EXPECT_TRUE(rig.tapi.OpenModem(1, "5551234"));
  EXPECT_TRUE(TakeErrors().empty());
}

TEST(TapiOperWait, DeadlineCountsFromTheStartWhateverElseArrives) {
  Rig rig({DataDevice("Data A")});
  ASSERT_TRUE(rig.Init());
  for (int i = 0; i < 10; ++i) rig.provider.Post(20000, {LINE_CALLINFO, 0, 0, 1, 0, 0});
  const std::uint64_t start = rig.clock.NowMs();
  EXPECT_EQ(rig.tapi.WaitForReply(7, kMakeCallReplyMs, "lineMakeCall"), 0);
  EXPECT_EQ(rig.clock.NowMs() - start, kMakeCallReplyMs);
  EXPECT_EQ(rig.provider.PendingMessages(), 7u);
  EXPECT_EQ(TakeMessages(),
            std::vector<std::string>{
                "Timeout waiting for LINE_REPLY message for function=lineMakeCall."});

  // A request id below 1 is the error itself.
  EXPECT_EQ(rig.tapi.WaitForReply(0, kMakeCallReplyMs, "lineMakeCall"), 0);
  EXPECT_EQ(TakeMessages(), std::vector<std::string>{"TAPI errorno=0x0"});

  rig.provider.waitError = EIO;
  EXPECT_EQ(rig.tapi.WaitForReply(1, kMakeCallReplyMs, "lineDrop"), 0);
  EXPECT_EQ(TakeReports(),
            std::vector<std::string>{"WaitForReply: Fail to wait TAPI event for function=lineDrop, "
                                     "ErrMsg=" +
                                     *SystemErrorText(EIO)});
}

// Each kind of trace line; a busy state while waiting for a reply is reported
// and, like another request's reply, does not end the wait.
TEST(TapiOperTrace, EachMessageFormIsTracedAndUnknownErrorsByNumber) {
  Rig rig;
  ASSERT_TRUE(rig.Init());
  const std::pair<LineMessage, std::string> rows[] = {
      {{LINE_CALLSTATE, 1, 0, LINECALLSTATE_BUSY, 0, 0}, "CALLSTATE: Line busy"},
      {{LINE_CALLSTATE, 1, 0, LINECALLSTATE_OFFERING, 0, 0}, "UnReport CALLSTATE: 2"},
      {{LINE_CALLSTATE, 1, 0, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL, 0},
       "CALLSTATE: LINECALLSTATE_DISCONNECTED: Remote party disconnected"},
      {{LINE_LINEDEVSTATE, 1, 0, LINEDEVSTATE_RINGING, 1, 2},
       "Line: LINE_LINEDEVSTATE: LINEDEVSTATE_RINGING, dwParam2=0x1, dwParam3=0x2"},
      {{LINE_LINEDEVSTATE, 1, 0, LINEDEVSTATE_REINIT, LINE_CREATE, 0},
       "Line: REINIT: dwParam2=LINE_CREATE"},
      {{LINE_LINEDEVSTATE, 1, 0, LINEDEVSTATE_REINIT, 5, 0}, ""},  // not traced
      {{LINE_MONITORMEDIA, 1, 0, 0x10, 9, 0xAB}, "LINE_MONITORMEDIA: dwParam1=0x10, dwParam3=0xab"},
      {{LINE_REPLY, 1, 0, 9, static_cast<std::uint32_t>(LINEERR_OPERATIONFAILED), 0},
       "LINE_REPLY(ReqID=0x9): Error=80000048"},
      {{0x20, 6, 0, 1, 2, 3},
       "UNKNOW MSG: dwMsg=0x20, dwDevice=0x6, dwParam1=0x1, dwParam2=0x2, dwParam3=0x3"},
      {{LINE_REPLY, 1, 0, 10, 0, 0}, "LINE_REPLY(ReqID=0xa): OK"},
  };
  std::vector<std::string> expected;
  for (const auto& [message, trace] : rows) {
    rig.provider.Post(5, message);
    if (!trace.empty()) expected.push_back(trace);
  }
  EXPECT_EQ(rig.tapi.WaitForReply(10, kMakeCallReplyMs, "lineMakeCall"), 1);
  // Error codes without a text are reported by number.
  rig.tapi.ReportTapiError("lineOpen", TapiCode(0x80001234));
  expected.push_back("TAPI Func=lineOpen, errorno=0x80001234");
  EXPECT_EQ(rig.Traces(), expected);
  EXPECT_EQ(TakeReports(), (std::vector<std::string>{"WaitForState: CallState=LINECALLSTATE_BUSY",
                                                     "lineOpen: TAPI errorno=0x80001234"}));
}

}  // namespace
}  // namespace vexo
