// The telephony modem line on the scripted provider: the modem list, opening
// data and voice lines, busy and disconnected calls with their messages, the
// REINIT retry, the deadlines of the waits and the trace of every message.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "base/job_control.h"
#include "base/log_file.h"
#include "base/presenter.h"
#include "base/strings.h"
#include "modem/tapi_oper.h"
#include "modem/tapi_oper_texts.h"
#include "platform/serial/fake_serial_device.h"
#include "platform/telephony/scripted_provider.h"
#include "platform/text.h"
#include "tests/modem/modem_test_util.h"
#include "tests/support/box_recorder.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

using test::BoxRecorder;
using test::TakeErrors;
using test::TakeMessages;

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
  test::TempDir dir;
  LogFile systemLog;
  LogFile commLog;
  ScriptClock clock;
  ScriptedTelephonyProvider provider{clock};
  DialSettings settings;
  BoxRecorder presenter;
  TAPIOper tapi{provider, [this] { return settings; },
                TapiEnvironment{[this] { return clock.NowMs(); },
                                [this](std::uint32_t ms) { clock.Sleep(ms); }}};

  Rig() {
    systemLog.Open(1, dir.dir(), "VexoS", "ysLog");
    commLog.Open(1, dir.dir(), "VexoC", "ommLog");
    TakeErrors();
  }
  bool Init() {
    const bool ok = tapi.InitTapi(&systemLog, &commLog) == 1;
    provider.calls.clear();
    return ok;
  }
  std::vector<std::string> ModemNames() const {
    std::vector<std::string> names;
    for (const auto& m : tapi.Modems()) names.push_back(m.name);
    return names;
  }
  static std::string Text(LogFile& log, const char* file) {
    log.Close();
    return test::LogText(test::ReadFileBytes(std::filesystem::path(file)));
  }
  std::string SystemLogText() { return Text(systemLog, (dir.dir() + "VexoSysLog.log").c_str()); }
  // The trace lines of the communication log, without their stamps.
  std::vector<std::string> Traces() {
    const std::string all = Text(commLog, (dir.dir() + "VexoCommLog.log").c_str());
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

TEST(TapiOperList, DataLinesComeFirstThenVoiceLinesEachDeviceOnce) {
  Rig rig;
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
  const auto modems = rig.tapi.Modems();
  EXPECT_EQ(modems[0].lineDevice, kNoLineDevice);
  EXPECT_EQ(modems[1].lineDevice, 1u);
  EXPECT_EQ(modems[4].lineDevice, 0u);
  EXPECT_EQ(modems[2].bearerModes, LINEBEARERMODE_PASSTHROUGH | LINEBEARERMODE_VOICE);

  EXPECT_EQ(rig.tapi.IsVoiceLine(0), 0);
  EXPECT_EQ(rig.tapi.IsVoiceLine(1), 0);
  EXPECT_EQ(rig.tapi.IsVoiceLine(2), 0);  // pass-through wins
  EXPECT_EQ(rig.tapi.IsVoiceLine(4), 1);
  EXPECT_EQ(rig.tapi.IsVoiceLine(6), 0);  // past the end

  // Each failing device is reported once a pass and skipped.
  const auto errors = TakeErrors();
  ASSERT_EQ(errors.size(), 4u);
  EXPECT_EQ(*errors[0].function, "lineGetDevCaps");
  EXPECT_EQ(errors[0].message, "TAPI errormsg=The line device is not present.");
  EXPECT_EQ(*errors[1].function, "lineNegotiateAPIVersion");
  EXPECT_EQ(*errors[1].module, "TAPIOper");

  // Every named device is written into the system log in both passes.
  const std::string log = rig.SystemLogText();
  const std::string enumeration = "GetModemName Enum all TAPI device:\r\n";
  ASSERT_NE(log.find(enumeration), std::string::npos);
  const std::string pass =
      "Voice A : 0x1 : 0x14\r\nData A : 0x40 : 0x10\r\nBoth kinds : 0x41 : 0x14\r\n"
      "Voice without talk : 0x1 : 0x10\r\nFax only : 0x40 : 0x20\r\nData B : 0x40 : 0x10\r\n"
      "Voice B : 0x1 : 0x14\r\n";
  EXPECT_NE(log.find(enumeration + pass + pass), std::string::npos) << log;
}

TEST(TapiOperList, FindModemMatchesExactNamesOnly) {
  Rig rig;
  EXPECT_EQ(rig.tapi.FindModem("Data A"), kNoIndex);  // no list yet
  rig.provider.devices = {DataDevice("Data A"), VoiceDevice("Voice A")};
  ASSERT_TRUE(rig.Init());
  EXPECT_EQ(rig.tapi.FindModem(LoadResString(65196)), 0u);
  EXPECT_EQ(rig.tapi.FindModem("Data A"), 1u);
  EXPECT_EQ(rig.tapi.FindModem("Voice A"), 2u);
  EXPECT_EQ(rig.tapi.FindModem("data a"), kNoIndex);
  EXPECT_EQ(rig.tapi.FindModem("Data"), kNoIndex);
  EXPECT_EQ(rig.tapi.FindModem(""), kNoName);
  EXPECT_EQ(kNoName, 0xFFFFFFFFu);

  rig.tapi.ShutdownTapi();
  EXPECT_TRUE(rig.tapi.Modems().empty());
  EXPECT_EQ(rig.tapi.FindModem("Data A"), kNoIndex);
  EXPECT_TRUE(rig.Called("lineShutdown"));
}

TEST(TapiOperList, DeviceCapabilitiesGrowToTheSizeAskedOnlyWithinBounds) {
  Rig rig;
  rig.provider.devices = {DataDevice("Data A")};
  rig.provider.devCapsNeededBytes = 3000;
  ASSERT_TRUE(rig.tapi.InitTapi(nullptr, nullptr));
  EXPECT_EQ(rig.ModemNames().size(), 2u);
  EXPECT_TRUE(rig.Called("lineGetDevCaps 0 1024"));
  EXPECT_TRUE(rig.Called("lineGetDevCaps 0 3000"));

  // A provider asking for more than any capability record needs gets nothing.
  rig.provider.devCapsNeededBytes = 1u << 30;
  ASSERT_TRUE(rig.tapi.InitTapi(nullptr, nullptr));
  EXPECT_EQ(rig.ModemNames().size(), 1u);
  const auto errors = TakeErrors();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].message, "Memory allocation failed.");
  EXPECT_EQ(*errors[0].function, "GetModemName");
}

TEST(TapiOperInit, ReinitIsRetriedOnceAfterOnePause) {
  Rig rig;
  rig.provider.devices = {DataDevice("Data A")};
  rig.provider.initializeResults = {LINEERR_REINIT};
  ASSERT_TRUE(rig.Init());
  EXPECT_EQ(rig.clock.sleeps, std::vector<std::uint32_t>{kReinitPauseMs});
  EXPECT_EQ(rig.ModemNames().size(), 2u);

  Rig twice;
  twice.provider.initializeResults = {LINEERR_REINIT, LINEERR_REINIT};
  EXPECT_EQ(twice.tapi.InitTapi(&twice.systemLog, &twice.commLog), 0);
  EXPECT_EQ(twice.clock.sleeps, std::vector<std::uint32_t>{kReinitPauseMs});
  EXPECT_EQ(twice.provider.calls,
            (std::vector<std::string>{"lineInitializeEx Vexo TAPIOper 0x20000",
                                      "lineInitializeEx Vexo TAPIOper 0x20000"}));
  EXPECT_TRUE(twice.tapi.Modems().empty());
  const auto errors = TakeErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(*errors[0].function, "lineInitializeEx");
  EXPECT_EQ(errors[0].message,
            "TAPI errormsg=The telephony configuration changed; initialise again.");
  EXPECT_EQ(errors[0].MessageType, kMsgDefault);
  EXPECT_EQ(twice.Traces(),
            std::vector<std::string>{"TAPI Func=lineInitializeEx, errormsg=The telephony "
                                     "configuration changed; initialise again."});
}

TEST(TapiOperOpen, DataLineMakesAPassThroughCallAndHandsOutItsPort) {
  Rig rig;
  rig.provider.devices = {VoiceDevice("Voice A"), DataDevice("Data A")};
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
  Rig rig;
  rig.provider.devices = {DataDevice("Data A")};
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
  EXPECT_EQ(rig.provider.Call(), 0u);
  auto errors = TakeErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].message, "Memory allocation failed.");
  EXPECT_EQ(*errors[0].function, "OpenModem");

  // The reply of the call reports a failure: no port, no line.
  rig.provider.getIdNeededBytes = 0;
  rig.provider.nextCall.replyResult = LINEERR_RESOURCEUNAVAIL;
  EXPECT_FALSE(rig.tapi.OpenModem(1, ""));
  EXPECT_FALSE(rig.provider.LineOpen());
  errors = TakeErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(*errors[0].function, "lineMakeCall");
  EXPECT_EQ(errors[0].message, "TAPI errormsg=The telephony resources are in use.");

  // Entry 0 and entries past the end never reach the provider.
  rig.provider.calls.clear();
  EXPECT_FALSE(rig.tapi.OpenModem(0, ""));
  EXPECT_FALSE(rig.tapi.OpenModem(2, ""));
  EXPECT_TRUE(rig.provider.calls.empty());
}

TEST(TapiOperOpen, VoiceLineWithoutANumberPlacesNoCallAndFails) {
  Rig rig;
  rig.provider.devices = {VoiceDevice("Voice A")};
  rig.settings.useWhatAsSeedNum = 1;
  ASSERT_TRUE(rig.Init());
  EXPECT_FALSE(rig.tapi.OpenModem(1, ""));  // a receive job has no number
  EXPECT_FALSE(rig.Called("lineMakeCall"));
  EXPECT_TRUE(rig.Called("lineOpen 0 privileges=4 media=0x4 bearer=0x1"));
  EXPECT_FALSE(rig.provider.LineOpen());
  const auto errors = TakeErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(*errors[0].function, "lineGetID");
  EXPECT_EQ(errors[0].message, "TAPI errormsg=The call handle is not valid.");
  EXPECT_TRUE(rig.presenter.boxes.empty());
}

TEST(TapiOperOpen, VoiceCallDialsTheTranslatedNumberOrTheSeedNumber) {
  Rig rig;
  rig.provider.devices = {VoiceDevice("Voice A")};
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
  std::string status = LoadResString(65190);
  status.replace(status.find("%s"), 2, "5551234");
  EXPECT_EQ(job.Status().text, status);
  EXPECT_EQ(rig.clock.sleeps, std::vector<std::uint32_t>{kAfterCallPauseMs});
  rig.tapi.CloseModem(std::move(port));
  EXPECT_TRUE(TakeErrors().empty());
  EXPECT_EQ(rig.Traces(),
            (std::vector<std::string>{
                "Calling LineMakeCall(DestNum=9W5551234, ReqID=0x1)", "LINE_REPLY(ReqID=0x1): OK",
                "In WaitForConnected", "CALLSTATE: Dail tone", "CALLSTATE: Dialing",
                "CALLSTATE: Dialing completed, call proceeding.", "CALLSTATE: Connected"}));

  // With UseWhatAsSeedNum 2 the seed number is called, whatever the job dials.
  Rig seed;
  seed.provider.devices = {VoiceDevice("Voice A")};
  seed.settings.useWhatAsSeedNum = 2;
  seed.settings.seedCallNum = "100";
  ASSERT_TRUE(seed.Init());
  seed.provider.nextCall.states = {{10, LINECALLSTATE_CONNECTED}};
  EXPECT_TRUE(seed.tapi.OpenModem(1, "5551234"));
  EXPECT_TRUE(seed.Called("lineMakeCall \"100\""));
}

TEST(TapiOperCall, BusyThenDisconnectShowsTheBusyTextInTheDialledMessage) {
  for (const std::uint32_t use : {1u, 2u}) {
    Rig rig;
    rig.provider.devices = {VoiceDevice("Voice A")};
    rig.settings.useWhatAsSeedNum = use;
    rig.settings.seedCallNum = "100";
    ASSERT_TRUE(rig.Init());
    rig.provider.nextCall.states = {{1000, LINECALLSTATE_BUSY},
                                    {20000, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BUSY}};
    EXPECT_FALSE(rig.tapi.OpenModem(1, "5551234"));
    EXPECT_FALSE(rig.provider.LineOpen());
    EXPECT_TRUE(rig.Called("lineDrop 0x101"));
    EXPECT_TRUE(rig.Called("lineDeallocateCall 0x101"));
    EXPECT_FALSE(rig.Called("lineGetID"));
    EXPECT_EQ(TakeMessages(),
              (std::vector<std::string>{"CallState=LINECALLSTATE_BUSY",
                                        "CallState=LINECALLSTATE_DISCONNECTED, Reason=20"}));
    std::string box = LoadResString(use == 1 ? 65174 : 65175);
    box.replace(box.find("%s"), 2, LoadResString(65176));
    EXPECT_EQ(rig.presenter.boxes, std::vector<std::string>{box});
  }
}

TEST(TapiOperCall, BusyWithoutDisconnectWaitsOutTheDeadlineAndReadsAsBusy) {
  Rig rig;
  rig.provider.devices = {VoiceDevice("Voice A")};
  ASSERT_TRUE(rig.Init());
  rig.provider.nextCall.replyDelayMs = 300;
  rig.provider.nextCall.states = {{1000, LINECALLSTATE_BUSY}};
  const std::uint64_t start = rig.clock.NowMs();
  EXPECT_FALSE(rig.tapi.OpenModem(1, "5551234"));
  EXPECT_EQ(rig.clock.NowMs() - start, 300u + kConnectWaitMs);
  const auto errors = TakeErrors();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[1].message, "Timeout waiting for LINE_REPLY message for function=lineMakeCall.");
  EXPECT_EQ(*errors[1].function, "WaitForConnected");
  std::string box = LoadResString(65174);
  box.replace(box.find("%s"), 2, LoadResString(65176));
  EXPECT_EQ(rig.presenter.boxes, std::vector<std::string>{box});
}

TEST(TapiOperCall, NoMessageBoxForDisconnectsWhenNoNumberSettingApplies) {
  Rig rig;
  rig.settings.useWhatAsSeedNum = 0;
  rig.tapi.ShowDisconnectReason(LINEDISCONNECTMODE_BUSY);
  EXPECT_TRUE(rig.presenter.boxes.empty());
}

TEST(TapiOperCall, FailedReplyShowsTheCallFailedMessage) {
  Rig rig;
  rig.provider.devices = {VoiceDevice("Voice A")};
  ASSERT_TRUE(rig.Init());
  rig.provider.nextCall.immediateResult = LINEERR_INVALADDRESS;
  EXPECT_FALSE(rig.tapi.OpenModem(1, "#"));
  EXPECT_EQ(rig.presenter.boxes, std::vector<std::string>{LoadResString(65173)});
  const auto errors = TakeErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(*errors[0].function, "lineMakeCall");
  EXPECT_EQ(errors[0].message, "TAPI errormsg=The address is not valid.");
  EXPECT_FALSE(rig.Called("lineDrop"));
}

TEST(TapiOperCall, StatesOfAnEarlierCallDoNotEndTheNextOne) {
  Rig rig;
  rig.provider.devices = {VoiceDevice("Voice A")};
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
  Rig rig;
  rig.provider.devices = {DataDevice("Data A")};
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
  const auto errors = TakeErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].message,
            "Fail to wait TAPI event for function=lineDrop, ErrMsg=" + *SystemErrorText(EIO));
  EXPECT_EQ(*errors[0].function, "WaitForReply");
}

TEST(TapiOperWait, BusyWhileWaitingForTheReplyIsReportedAndTheWaitGoesOn) {
  Rig rig;
  rig.provider.Post(10, {LINE_CALLSTATE, 5, 0, LINECALLSTATE_BUSY, 0, 0});
  rig.provider.Post(10, {LINE_REPLY, 1, 0, 3, 0, 0});  // another request
  rig.provider.Post(10, {LINE_REPLY, 1, 0, 4, 0, 0});
  EXPECT_EQ(rig.tapi.WaitForReply(4, 1000, "lineMakeCall"), 1);
  const auto errors = TakeErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].message, "CallState=LINECALLSTATE_BUSY");
  EXPECT_EQ(*errors[0].function, "WaitForState");
}

TEST(TapiOperTrace, EveryMessageKindIsTracedWithItsText) {
  Rig rig;
  ASSERT_TRUE(rig.Init());
  const std::vector<LineMessage> stream = {
      {LINE_ADDRESSSTATE, 1, 0, 2, 3, 4},
      {LINE_CALLINFO, 1, 0, 0x20, 0, 0},
      {LINE_CALLSTATE, 1, 0, LINECALLSTATE_IDLE, 0, 0},
      {LINE_CALLSTATE, 1, 0, LINECALLSTATE_RINGBACK, 0, 0},
      {LINE_CALLSTATE, 1, 0, LINECALLSTATE_BUSY, 0, 0},
      {LINE_CALLSTATE, 1, 0, LINECALLSTATE_SPECIALINFO, 0, 0},
      {LINE_CALLSTATE, 1, 0, LINECALLSTATE_ONHOLD, 0, 0},
      {LINE_CALLSTATE, 1, 0, LINECALLSTATE_CONFERENCED, 0, 0},
      {LINE_CALLSTATE, 1, 0, LINECALLSTATE_ONHOLDPENDCONF, 0, 0},
      {LINE_CALLSTATE, 1, 0, LINECALLSTATE_OFFERING, 0, 0},
      {LINE_CALLSTATE, 1, 0, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL, 0},
      {LINE_CALLSTATE, 1, 0, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNKNOWN, 0},
      {LINE_CALLSTATE, 1, 0, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NODIALTONE, 0},
      {LINE_CLOSE, 1, 0, 0, 0, 0},
      {LINE_DEVSPECIFIC, 1, 0, 1, 2, 3},
      {LINE_DEVSPECIFICFEATURE, 1, 0, 4, 5, 6},
      {LINE_GATHERDIGITS, 1, 0, 7, 0, 0},
      {LINE_GENERATE, 1, 0, 8, 0, 0},
      {LINE_LINEDEVSTATE, 1, 0, LINEDEVSTATE_RINGING, 1, 2},
      {LINE_LINEDEVSTATE, 1, 0, LINEDEVSTATE_REMOVED, 0, 0},
      {LINE_LINEDEVSTATE, 1, 0, 0x2000000, 0, 0},
      {LINE_LINEDEVSTATE, 1, 0, LINEDEVSTATE_REINIT, 0, 0},
      {LINE_LINEDEVSTATE, 1, 0, LINEDEVSTATE_REINIT, LINE_LINEDEVSTATE, 0},
      {LINE_LINEDEVSTATE, 1, 0, LINEDEVSTATE_REINIT, LINE_CREATE, 0},
      {LINE_LINEDEVSTATE, 1, 0, LINEDEVSTATE_REINIT, 5, 0},  // not traced
      {LINE_MONITORDIGITS, 1, 0, 0x31, 2, 0},
      {LINE_MONITORMEDIA, 1, 0, 0x10, 9, 0xAB},
      {LINE_MONITORTONE, 1, 0, 1, 2, 3},
      {LINE_REPLY, 1, 0, 9, static_cast<std::uint32_t>(LINEERR_OPERATIONFAILED), 0},
      {LINE_REQUEST, 1, 0, 1, 2, 3},
      {LINE_CREATE, 0, 0, 4, 0, 0},
      {LINE_REMOVE, 0, 0, 4, 0, 0},
      {0x20, 6, 0, 1, 2, 3},
      {LINE_REPLY, 1, 0, 10, 0, 0},
  };
  for (const auto& m : stream) rig.provider.Post(5, m);
  EXPECT_EQ(rig.tapi.WaitForReply(10, kMakeCallReplyMs, "lineMakeCall"), 1);
  EXPECT_EQ(rig.Traces(),
            (std::vector<std::string>{
                "LINE_ADDRESSSTATE: dwParam1=0x2, dwParam2=0x3",
                "LINE_CALLINFO: dwParam1=0x20",
                "CALLSTATE: Line is idle",
                "CALLSTATE: Ring back",
                "CALLSTATE: Line busy",
                "CALLSTATE: Special Information, couldn't dial number",
                "CALLSTATE: ONHOLD",
                "CALLSTATE: CONFERENCED",
                "CALLSTATE: ONHOLDPENDCONF",
                "UnReport CALLSTATE: 2",
                "CALLSTATE: LINECALLSTATE_DISCONNECTED: Remote party disconnected",
                "CALLSTATE: LINECALLSTATE_DISCONNECTED: Unknown reason",
                "CALLSTATE: LINECALLSTATE_DISCONNECTED: No dial tone",
                "LINE_CLOSE: current line device has been closed",
                "LINE_DEVSPECIFIC: dwParam1=0x1, dwParam2=0x2, dwParam3=0x3",
                "LINE_DEVSPECIFICFEATURE: dwParam1=0x4, dwParam2=0x5, dwParam3=0x6",
                "LINE_GATHERDIGITS: dwParam1=0x7",
                "LINE_GENERATE: dwParam1=0x8",
                "Line: LINE_LINEDEVSTATE: LINEDEVSTATE_RINGING, dwParam2=0x1, dwParam3=0x2",
                "Line: LINE_LINEDEVSTATE: The Line device has been removed; no action taken., "
                "dwParam2=0x0, dwParam3=0x0",
                "Line: LINE_LINEDEVSTATE: , dwParam2=0x0, dwParam3=0x0",
                "Line: REINIT: Line configuration changed",
                "Line: REINIT: dwParam2=LINE_LINEDEVSTATE",
                "Line: REINIT: dwParam2=LINE_CREATE",
                "LINE_MONITORDIGITS: dwParam1=0x31, dwParam2=0x2",
                "LINE_MONITORMEDIA: dwParam1=0x10, dwParam3=0xab",
                "LINE_MONITORTONE: dwParam1=0x1, dwParam2=0x2, dwParam3=0x3",
                "LINE_REPLY(ReqID=0x9): Error=80000048",
                "LINE_REQUEST: dwParam1=0x1, dwParam2=0x2, dwParam3=0x3",
                "LINE_CREATE: creation of a new line device",
                "LINE_REMOVE: dwParam1=0x4",
                "UNKNOW MSG: dwMsg=0x20, dwDevice=0x6, dwParam1=0x1, dwParam2=0x2, dwParam3=0x3",
                "LINE_REPLY(ReqID=0xa): OK",
            }));
  EXPECT_EQ(TakeMessages(), std::vector<std::string>{"CallState=LINECALLSTATE_BUSY"});
}

TEST(TapiOperTrace, UnknownErrorCodesAreReportedByNumber) {
  Rig rig;
  ASSERT_TRUE(rig.Init());
  rig.tapi.ReportTapiError("lineOpen", TapiCode(0x80001234));
  rig.tapi.ReportTapiError("lineOpen", TapiCode(0xFFFF0005));
  EXPECT_EQ(TakeMessages(),
            (std::vector<std::string>{"TAPI errorno=0x80001234", "TAPI errorno=0xffff0005"}));
  EXPECT_EQ(rig.Traces(), (std::vector<std::string>{"TAPI Func=lineOpen, errorno=0x80001234",
                                                    "TAPI Func=lineOpen, errorno=0xffff0005"}));
}

TEST(TapiOperTexts, DisconnectModesPickTheirReasonStrings) {
  struct Row {
    std::uint32_t mode;
    unsigned id;
  };
  for (const Row& row :
       {Row{LINEDISCONNECTMODE_UNKNOWN, 65186}, Row{LINEDISCONNECTMODE_UNAVAIL, 65186},
        Row{LINEDISCONNECTMODE_REJECT, 65177}, Row{LINEDISCONNECTMODE_BLOCKED, 65177},
        Row{LINEDISCONNECTMODE_BUSY, 65176}, Row{LINEDISCONNECTMODE_NOANSWER, 65184},
        Row{LINEDISCONNECTMODE_BADADDRESS, 65180}, Row{LINEDISCONNECTMODE_UNREACHABLE, 65181},
        Row{LINEDISCONNECTMODE_CONGESTION, 65182}, Row{LINEDISCONNECTMODE_INCOMPATIBLE, 65183},
        Row{LINEDISCONNECTMODE_NODIALTONE, 65185}, Row{LINEDISCONNECTMODE_DONOTDISTURB, 65179},
        Row{LINEDISCONNECTMODE_CANCELLED, 65178}}) {
    EXPECT_EQ(DisconnectReasonText(row.mode), LoadResString(row.id)) << row.mode;
    EXPECT_TRUE(HasResString(row.id));
  }
  EXPECT_EQ(DisconnectReasonText(LINEDISCONNECTMODE_NORMAL), "0x1");
  EXPECT_EQ(DisconnectReasonText(LINEDISCONNECTMODE_TEMPFAILURE), "0x8000");
}

}  // namespace
}  // namespace vexo
