#include "modem/tapi_oper_texts.h"

#include <algorithm>
#include <array>

#include "base/strings.h"
#include "platform/text.h"

namespace vexo {
namespace {

constexpr std::size_t kTraceChars = 512;

struct CodeText {
  std::uint32_t code;
  std::string_view text;
};

template <std::size_t N>
std::optional<std::string_view> Find(const std::array<CodeText, N>& table, std::uint32_t code) {
  const auto row = std::find_if(table.begin(), table.end(),
                                [code](const CodeText& r) { return r.code == code; });
  if (row == table.end()) return std::nullopt;
  return row->text;
}

constexpr std::array<CodeText, 12> kCallStateTexts{{
    {LINECALLSTATE_IDLE, "CALLSTATE: Line is idle"},
    {LINECALLSTATE_DIALTONE, "CALLSTATE: Dail tone"},
    {LINECALLSTATE_DIALING, "CALLSTATE: Dialing"},
    {LINECALLSTATE_RINGBACK, "CALLSTATE: Ring back"},
    {LINECALLSTATE_BUSY, "CALLSTATE: Line busy"},
    {LINECALLSTATE_SPECIALINFO, "CALLSTATE: Special Information, couldn't dial number"},
    {LINECALLSTATE_CONNECTED, "CALLSTATE: Connected"},
    {LINECALLSTATE_PROCEEDING, "CALLSTATE: Dialing completed, call proceeding."},
    {LINECALLSTATE_ONHOLD, "CALLSTATE: ONHOLD"},
    {LINECALLSTATE_CONFERENCED, "CALLSTATE: CONFERENCED"},
    {LINECALLSTATE_ONHOLDPENDCONF, "CALLSTATE: ONHOLDPENDCONF"},
    {LINECALLSTATE_DISCONNECTED, ""},  // written with the disconnect text
}};

constexpr std::array<CodeText, 12> kDisconnectTexts{{
    {LINEDISCONNECTMODE_NORMAL, "LINECALLSTATE_DISCONNECTED: Remote party disconnected"},
    {LINEDISCONNECTMODE_REJECT, "LINECALLSTATE_DISCONNECTED: Remote Party rejected call"},
    {LINEDISCONNECTMODE_PICKUP, "LINECALLSTATE_DISCONNECTED: Local phone picked up"},
    {LINEDISCONNECTMODE_FORWARDED, "LINECALLSTATE_DISCONNECTED: Forwarded"},
    {LINEDISCONNECTMODE_BUSY, "LINECALLSTATE_DISCONNECTED: Busy"},
    {LINEDISCONNECTMODE_NOANSWER, "LINECALLSTATE_DISCONNECTED: No Answer"},
    {LINEDISCONNECTMODE_BADADDRESS, "LINECALLSTATE_DISCONNECTED: Bad address"},
    {LINEDISCONNECTMODE_UNREACHABLE, "LINECALLSTATE_DISCONNECTED: Unreachable"},
    {LINEDISCONNECTMODE_CONGESTION, "LINECALLSTATE_DISCONNECTED: Congestion"},
    {LINEDISCONNECTMODE_INCOMPATIBLE, "LINECALLSTATE_DISCONNECTED: Incompatible"},
    {LINEDISCONNECTMODE_UNAVAIL, "LINECALLSTATE_DISCONNECTED: Unavailable"},
    {LINEDISCONNECTMODE_NODIALTONE, "LINECALLSTATE_DISCONNECTED: No dial tone"},
}};
constexpr std::string_view kUnknownDisconnect = "LINECALLSTATE_DISCONNECTED: Unknown reason";

constexpr std::array<CodeText, 24> kDevStateNames{{
    {LINEDEVSTATE_OTHER, "LINEDEVSTATE_OTHER"},
    {LINEDEVSTATE_RINGING, "LINEDEVSTATE_RINGING"},
    {LINEDEVSTATE_CONNECTED, "LINEDEVSTATE_CONNECTED"},
    {LINEDEVSTATE_DISCONNECTED, "LINEDEVSTATE_DISCONNECTED"},
    {LINEDEVSTATE_MSGWAITON, "LINEDEVSTATE_MSGWAITON"},
    {LINEDEVSTATE_MSGWAITOFF, "LINEDEVSTATE_MSGWAITOFF"},
    {LINEDEVSTATE_INSERVICE, "LINEDEVSTATE_INSERVICE"},
    {LINEDEVSTATE_OUTOFSERVICE, "LINEDEVSTATE_OUTOFSERVICE"},
    {LINEDEVSTATE_MAINTENANCE, "LINEDEVSTATE_MAINTENANCE"},
    {LINEDEVSTATE_OPEN, "LINEDEVSTATE_OPEN"},
    {LINEDEVSTATE_CLOSE, "LINEDEVSTATE_CLOSE"},
    {LINEDEVSTATE_NUMCALLS, "LINEDEVSTATE_NUMCALLS"},
    {LINEDEVSTATE_NUMCOMPLETIONS, "LINEDEVSTATE_NUMCOMPLETIONS"},
    {LINEDEVSTATE_TERMINALS, "LINEDEVSTATE_TERMINALS"},
    {LINEDEVSTATE_ROAMMODE, "LINEDEVSTATE_ROAMMODE"},
    {LINEDEVSTATE_BATTERY, "LINEDEVSTATE_BATTERY"},
    {LINEDEVSTATE_SIGNAL, "LINEDEVSTATE_SIGNAL"},
    {LINEDEVSTATE_DEVSPECIFIC, "LINEDEVSTATE_DEVSPECIFIC"},
    {LINEDEVSTATE_LOCK, "LINEDEVSTATE_LOCK"},
    {LINEDEVSTATE_CAPSCHANGE, "LINEDEVSTATE_CAPSCHANGE"},
    {LINEDEVSTATE_CONFIGCHANGE, "LINEDEVSTATE_CONFIGCHANGE"},
    {LINEDEVSTATE_TRANSLATECHANGE, "LINEDEVSTATE_TRANSLATECHANGE"},
    {LINEDEVSTATE_COMPLCANCEL, "LINEDEVSTATE_COMPLCANCEL"},
    {LINEDEVSTATE_REMOVED, "The Line device has been removed; no action taken."},
}};

// The second parameter of a REINIT line device state.
constexpr std::array<CodeText, 3> kReinitTexts{{
    {0, "Line: REINIT: Line configuration changed"},
    {LINE_LINEDEVSTATE, "Line: REINIT: dwParam2=LINE_LINEDEVSTATE"},
    {LINE_CREATE, "Line: REINIT: dwParam2=LINE_CREATE"},
}};

// The messages whose trace is a format of their parameters, given in the
// order param1, param2, param3 (each format takes the ones it names).
enum class Params { None, P1, P1P2, P1P3, P1P2P3 };
struct MessageFormat {
  std::uint32_t message;
  const char* format;
  Params params;
};
constexpr std::array<MessageFormat, 12> kMessageFormats{{
    {LINE_ADDRESSSTATE, "LINE_ADDRESSSTATE: dwParam1=0x%x, dwParam2=0x%x", Params::P1P2},
    {LINE_CALLINFO, "LINE_CALLINFO: dwParam1=0x%x", Params::P1},
    {LINE_CLOSE, "LINE_CLOSE: current line device has been closed", Params::None},
    {LINE_DEVSPECIFIC, "LINE_DEVSPECIFIC: dwParam1=0x%x, dwParam2=0x%x, dwParam3=0x%x",
     Params::P1P2P3},
    {LINE_DEVSPECIFICFEATURE,
     "LINE_DEVSPECIFICFEATURE: dwParam1=0x%x, dwParam2=0x%x, dwParam3=0x%x", Params::P1P2P3},
    {LINE_GATHERDIGITS, "LINE_GATHERDIGITS: dwParam1=0x%x", Params::P1},
    {LINE_GENERATE, "LINE_GENERATE: dwParam1=0x%x", Params::P1},
    {LINE_MONITORDIGITS, "LINE_MONITORDIGITS: dwParam1=0x%x, dwParam2=0x%x", Params::P1P2},
    {LINE_MONITORMEDIA, "LINE_MONITORMEDIA: dwParam1=0x%x, dwParam3=0x%x", Params::P1P3},
    {LINE_MONITORTONE, "LINE_MONITORTONE: dwParam1=0x%x, dwParam2=0x%x, dwParam3=0x%x",
     Params::P1P2P3},
    {LINE_REQUEST, "LINE_REQUEST: dwParam1=0x%x, dwParam2=0x%x, dwParam3=0x%x", Params::P1P2P3},
    {LINE_REMOVE, "LINE_REMOVE: dwParam1=0x%x", Params::P1},
}};
constexpr std::string_view kCreateText = "LINE_CREATE: creation of a new line device";

std::string FormatMessageParams(const MessageFormat& row, const LineMessage& m) {
  switch (row.params) {
    case Params::None:
      return row.format;
    case Params::P1:
      return Format(kTraceChars, row.format, m.param1);
    case Params::P1P2:
      return Format(kTraceChars, row.format, m.param1, m.param2);
    case Params::P1P3:
      return Format(kTraceChars, row.format, m.param1, m.param3);
    case Params::P1P2P3:
      return Format(kTraceChars, row.format, m.param1, m.param2, m.param3);
  }
  return {};
}

std::string CallStateTrace(const LineMessage& m) {
  if (m.param1 == LINECALLSTATE_DISCONNECTED)
    return "CALLSTATE: " + std::string(DisconnectModeText(m.param2));
  if (const auto text = Find(kCallStateTexts, m.param1)) return std::string(*text);
  return Format(kTraceChars, "UnReport CALLSTATE: %x", m.param1);
}

std::optional<std::string> DevStateTrace(const LineMessage& m) {
  if (m.param1 == LINEDEVSTATE_REINIT) {
    if (const auto text = Find(kReinitTexts, m.param2)) return std::string(*text);
    return std::nullopt;
  }
  const std::string name(LineDevStateName(m.param1));
  return Format(kTraceChars, "Line: LINE_LINEDEVSTATE: %s, dwParam2=0x%x, dwParam3=0x%x",
                name.c_str(), m.param2, m.param3);
}

// Disconnect modes and the strings that tell them.
struct ReasonString {
  std::uint32_t mode;
  unsigned stringId;
};
constexpr std::array<ReasonString, 13> kReasonStrings{{
    {LINEDISCONNECTMODE_UNKNOWN, 65186},
    {LINEDISCONNECTMODE_UNAVAIL, 65186},
    {LINEDISCONNECTMODE_REJECT, 65177},
    {LINEDISCONNECTMODE_BLOCKED, 65177},
    {LINEDISCONNECTMODE_BUSY, 65176},
    {LINEDISCONNECTMODE_NOANSWER, 65184},
    {LINEDISCONNECTMODE_BADADDRESS, 65180},
    {LINEDISCONNECTMODE_UNREACHABLE, 65181},
    {LINEDISCONNECTMODE_CONGESTION, 65182},
    {LINEDISCONNECTMODE_INCOMPATIBLE, 65183},
    {LINEDISCONNECTMODE_NODIALTONE, 65185},
    {LINEDISCONNECTMODE_DONOTDISTURB, 65179},
    {LINEDISCONNECTMODE_CANCELLED, 65178},
}};

}  // namespace

std::string_view DisconnectModeText(std::uint32_t mode) {
  return Find(kDisconnectTexts, mode).value_or(kUnknownDisconnect);
}

std::string_view LineDevStateName(std::uint32_t state) {
  return Find(kDevStateNames, state).value_or(std::string_view{});
}

std::optional<std::string> TapiTraceText(const LineMessage& m) {
  switch (m.message) {
    case LINE_CALLSTATE:
      return CallStateTrace(m);
    case LINE_LINEDEVSTATE:
      return DevStateTrace(m);
    case LINE_CREATE:
      return std::string(kCreateText);
    case LINE_REPLY:
      if (m.param2 == 0) return Format(kTraceChars, "LINE_REPLY(ReqID=0x%x): OK", m.param1);
      return Format(kTraceChars, "LINE_REPLY(ReqID=0x%x): Error=%x", m.param1, m.param2);
    default:
      break;
  }
  for (const MessageFormat& row : kMessageFormats)
    if (row.message == m.message) return FormatMessageParams(row, m);
  return Format(kTraceChars,
                "UNKNOW MSG: dwMsg=0x%x, dwDevice=0x%x, dwParam1=0x%x, dwParam2=0x%x, "
                "dwParam3=0x%x",
                m.message, m.device, m.param1, m.param2, m.param3);
}

unsigned DisconnectReasonStringId(std::uint32_t mode) {
  for (const ReasonString& row : kReasonStrings)
    if (row.mode == mode) return row.stringId;
  return 0;
}

std::string DisconnectReasonText(std::uint32_t mode) {
  const unsigned id = DisconnectReasonStringId(mode);
  if (id == 0) return Format(kTraceChars, "0x%x", mode);
  return LoadResString(id);
}

}  // namespace vexo
