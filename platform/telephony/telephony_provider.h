// TelephonyProvider: the telephony line interface the modem line code works
// through, shaped like TAPI 2.0 (initialise, negotiate, device capabilities,
// open, calls, "comm/datamodem" data ports, LINE_* messages behind an event).
// The numeric values of TAPI are kept so traces and reports read the same.
// The Linux provider serves serial modems; the scripted provider drives tests.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/serial/serial_device.h"

namespace vexo {

// A result: 0 for success, a request id (> 0) for asynchronous calls, or a
// LINEERR_* code (negative).
using TapiResult = std::int32_t;
using LineHandle = std::uint32_t;
using CallHandle = std::uint32_t;

constexpr TapiResult TapiCode(std::uint32_t value) { return static_cast<TapiResult>(value); }

// Bearer modes.
constexpr std::uint32_t LINEBEARERMODE_VOICE = 0x1;
constexpr std::uint32_t LINEBEARERMODE_SPEECH = 0x2;
constexpr std::uint32_t LINEBEARERMODE_MULTIUSE = 0x4;
constexpr std::uint32_t LINEBEARERMODE_DATA = 0x8;
constexpr std::uint32_t LINEBEARERMODE_ALTSPEECHDATA = 0x10;
constexpr std::uint32_t LINEBEARERMODE_NONCALLSIGNALING = 0x20;
constexpr std::uint32_t LINEBEARERMODE_PASSTHROUGH = 0x40;

// Media modes.
constexpr std::uint32_t LINEMEDIAMODE_UNKNOWN = 0x2;
constexpr std::uint32_t LINEMEDIAMODE_INTERACTIVEVOICE = 0x4;
constexpr std::uint32_t LINEMEDIAMODE_AUTOMATEDVOICE = 0x8;
constexpr std::uint32_t LINEMEDIAMODE_DATAMODEM = 0x10;
constexpr std::uint32_t LINEMEDIAMODE_G3FAX = 0x20;

// Call states.
constexpr std::uint32_t LINECALLSTATE_IDLE = 0x1;
constexpr std::uint32_t LINECALLSTATE_OFFERING = 0x2;
constexpr std::uint32_t LINECALLSTATE_ACCEPTED = 0x4;
constexpr std::uint32_t LINECALLSTATE_DIALTONE = 0x8;
constexpr std::uint32_t LINECALLSTATE_DIALING = 0x10;
constexpr std::uint32_t LINECALLSTATE_RINGBACK = 0x20;
constexpr std::uint32_t LINECALLSTATE_BUSY = 0x40;
constexpr std::uint32_t LINECALLSTATE_SPECIALINFO = 0x80;
constexpr std::uint32_t LINECALLSTATE_CONNECTED = 0x100;
constexpr std::uint32_t LINECALLSTATE_PROCEEDING = 0x200;
constexpr std::uint32_t LINECALLSTATE_ONHOLD = 0x400;
constexpr std::uint32_t LINECALLSTATE_CONFERENCED = 0x800;
constexpr std::uint32_t LINECALLSTATE_ONHOLDPENDCONF = 0x1000;
constexpr std::uint32_t LINECALLSTATE_ONHOLDPENDTRANSFER = 0x2000;
constexpr std::uint32_t LINECALLSTATE_DISCONNECTED = 0x4000;
constexpr std::uint32_t LINECALLSTATE_UNKNOWN = 0x8000;

// Disconnect modes (second parameter of a DISCONNECTED call state).
constexpr std::uint32_t LINEDISCONNECTMODE_NORMAL = 0x1;
constexpr std::uint32_t LINEDISCONNECTMODE_UNKNOWN = 0x2;
constexpr std::uint32_t LINEDISCONNECTMODE_REJECT = 0x4;
constexpr std::uint32_t LINEDISCONNECTMODE_PICKUP = 0x8;
constexpr std::uint32_t LINEDISCONNECTMODE_FORWARDED = 0x10;
constexpr std::uint32_t LINEDISCONNECTMODE_BUSY = 0x20;
constexpr std::uint32_t LINEDISCONNECTMODE_NOANSWER = 0x40;
constexpr std::uint32_t LINEDISCONNECTMODE_BADADDRESS = 0x80;
constexpr std::uint32_t LINEDISCONNECTMODE_UNREACHABLE = 0x100;
constexpr std::uint32_t LINEDISCONNECTMODE_CONGESTION = 0x200;
constexpr std::uint32_t LINEDISCONNECTMODE_INCOMPATIBLE = 0x400;
constexpr std::uint32_t LINEDISCONNECTMODE_UNAVAIL = 0x800;
constexpr std::uint32_t LINEDISCONNECTMODE_NODIALTONE = 0x1000;
constexpr std::uint32_t LINEDISCONNECTMODE_NUMBERCHANGED = 0x2000;
constexpr std::uint32_t LINEDISCONNECTMODE_OUTOFORDER = 0x4000;
constexpr std::uint32_t LINEDISCONNECTMODE_TEMPFAILURE = 0x8000;
constexpr std::uint32_t LINEDISCONNECTMODE_QOSUNAVAIL = 0x10000;
constexpr std::uint32_t LINEDISCONNECTMODE_BLOCKED = 0x20000;
constexpr std::uint32_t LINEDISCONNECTMODE_DONOTDISTURB = 0x40000;
constexpr std::uint32_t LINEDISCONNECTMODE_CANCELLED = 0x80000;

// Line device states (first parameter of LINE_LINEDEVSTATE).
constexpr std::uint32_t LINEDEVSTATE_OTHER = 0x1;
constexpr std::uint32_t LINEDEVSTATE_RINGING = 0x2;
constexpr std::uint32_t LINEDEVSTATE_CONNECTED = 0x4;
constexpr std::uint32_t LINEDEVSTATE_DISCONNECTED = 0x8;
constexpr std::uint32_t LINEDEVSTATE_MSGWAITON = 0x10;
constexpr std::uint32_t LINEDEVSTATE_MSGWAITOFF = 0x20;
constexpr std::uint32_t LINEDEVSTATE_INSERVICE = 0x40;
constexpr std::uint32_t LINEDEVSTATE_OUTOFSERVICE = 0x80;
constexpr std::uint32_t LINEDEVSTATE_MAINTENANCE = 0x100;
constexpr std::uint32_t LINEDEVSTATE_OPEN = 0x200;
constexpr std::uint32_t LINEDEVSTATE_CLOSE = 0x400;
constexpr std::uint32_t LINEDEVSTATE_NUMCALLS = 0x800;
constexpr std::uint32_t LINEDEVSTATE_NUMCOMPLETIONS = 0x1000;
constexpr std::uint32_t LINEDEVSTATE_TERMINALS = 0x2000;
constexpr std::uint32_t LINEDEVSTATE_ROAMMODE = 0x4000;
constexpr std::uint32_t LINEDEVSTATE_BATTERY = 0x8000;
constexpr std::uint32_t LINEDEVSTATE_SIGNAL = 0x10000;
constexpr std::uint32_t LINEDEVSTATE_DEVSPECIFIC = 0x20000;
constexpr std::uint32_t LINEDEVSTATE_REINIT = 0x40000;
constexpr std::uint32_t LINEDEVSTATE_LOCK = 0x80000;
constexpr std::uint32_t LINEDEVSTATE_CAPSCHANGE = 0x100000;
constexpr std::uint32_t LINEDEVSTATE_CONFIGCHANGE = 0x200000;
constexpr std::uint32_t LINEDEVSTATE_TRANSLATECHANGE = 0x400000;
constexpr std::uint32_t LINEDEVSTATE_COMPLCANCEL = 0x800000;
constexpr std::uint32_t LINEDEVSTATE_REMOVED = 0x1000000;

// Message identifiers.
constexpr std::uint32_t LINE_ADDRESSSTATE = 0;
constexpr std::uint32_t LINE_CALLINFO = 1;
constexpr std::uint32_t LINE_CALLSTATE = 2;
constexpr std::uint32_t LINE_CLOSE = 3;
constexpr std::uint32_t LINE_DEVSPECIFIC = 4;
constexpr std::uint32_t LINE_DEVSPECIFICFEATURE = 5;
constexpr std::uint32_t LINE_GATHERDIGITS = 6;
constexpr std::uint32_t LINE_GENERATE = 7;
constexpr std::uint32_t LINE_LINEDEVSTATE = 8;
constexpr std::uint32_t LINE_MONITORDIGITS = 9;
constexpr std::uint32_t LINE_MONITORMEDIA = 10;
constexpr std::uint32_t LINE_MONITORTONE = 11;
constexpr std::uint32_t LINE_REPLY = 12;
constexpr std::uint32_t LINE_REQUEST = 13;
constexpr std::uint32_t LINE_CREATE = 0x13;
constexpr std::uint32_t LINE_REMOVE = 0x19;

// Call selection, privileges, call parameter flags and address modes.
constexpr std::uint32_t LINECALLSELECT_LINE = 1;
constexpr std::uint32_t LINECALLSELECT_ADDRESS = 2;
constexpr std::uint32_t LINECALLSELECT_CALL = 4;
constexpr std::uint32_t LINECALLPRIVILEGE_NONE = 1;
constexpr std::uint32_t LINECALLPRIVILEGE_MONITOR = 2;
constexpr std::uint32_t LINECALLPRIVILEGE_OWNER = 4;
constexpr std::uint32_t LINECALLPARAMFLAGS_IDLE = 2;
constexpr std::uint32_t LINEADDRESSMODE_ADDRESSID = 1;
constexpr std::uint32_t LINEINITIALIZEEXOPTION_USEEVENT = 2;

constexpr std::string_view kDataModemClass = "comm/datamodem";

// Line error codes.
constexpr TapiResult LINEERR_ALLOCATED = TapiCode(0x80000001);
constexpr TapiResult LINEERR_BADDEVICEID = TapiCode(0x80000002);
constexpr TapiResult LINEERR_BEARERMODEUNAVAIL = TapiCode(0x80000003);
constexpr TapiResult LINEERR_CALLUNAVAIL = TapiCode(0x80000005);
constexpr TapiResult LINEERR_INCOMPATIBLEAPIVERSION = TapiCode(0x8000000C);
constexpr TapiResult LINEERR_INUSE = TapiCode(0x8000000F);
constexpr TapiResult LINEERR_INVALADDRESS = TapiCode(0x80000010);
constexpr TapiResult LINEERR_INVALBEARERMODE = TapiCode(0x80000016);
constexpr TapiResult LINEERR_INVALCALLHANDLE = TapiCode(0x80000018);
constexpr TapiResult LINEERR_INVALCALLSELECT = TapiCode(0x8000001B);
constexpr TapiResult LINEERR_INVALDEVICECLASS = TapiCode(0x80000023);
constexpr TapiResult LINEERR_INVALLINEHANDLE = TapiCode(0x8000002B);
constexpr TapiResult LINEERR_INVALMEDIAMODE = TapiCode(0x8000002F);
constexpr TapiResult LINEERR_NODEVICE = TapiCode(0x80000042);
constexpr TapiResult LINEERR_NOMEM = TapiCode(0x80000044);
constexpr TapiResult LINEERR_OPERATIONFAILED = TapiCode(0x80000048);
constexpr TapiResult LINEERR_OPERATIONUNAVAIL = TapiCode(0x80000049);
constexpr TapiResult LINEERR_RESOURCEUNAVAIL = TapiCode(0x8000004B);
constexpr TapiResult LINEERR_STRUCTURETOOSMALL = TapiCode(0x8000004D);
constexpr TapiResult LINEERR_UNINITIALIZED = TapiCode(0x80000050);
constexpr TapiResult LINEERR_REINIT = TapiCode(0x80000052);

// The text of a LINEERR_* code (the system message table's stand-in), or
// nullopt for a code the table does not know.
std::optional<std::string_view> LineErrorText(TapiResult code);

// The highest interface version the providers support.
constexpr std::uint32_t kProviderApiVersion = 0x20000;

// What lineGetDevCaps tells about one device.
struct LineDevCaps {
  std::string name;  // UTF-8; empty when the device reports none
  std::uint32_t bearerModes = 0;
  std::uint32_t mediaModes = 0;
};

// The parts of LINECALLPARAMS the modem line sets.
struct LineCallParams {
  std::uint32_t bearerMode = 0;
  std::uint32_t mediaMode = 0;
  std::uint32_t callParamFlags = 0;
  std::uint32_t addressMode = 0;
  std::uint32_t addressId = 0;
  std::string displayableAddress;
};

// What lineTranslateAddress yields.
struct LineTranslateOutput {
  std::string displayableString;
  std::string dialableString;
  std::uint32_t destCountry = 0;
};

// One LINEMESSAGE. For call messages device is the call handle.
struct LineMessage {
  std::uint32_t message = 0;
  std::uint32_t device = 0;
  std::uint32_t callbackInstance = 0;
  std::uint32_t param1 = 0;
  std::uint32_t param2 = 0;
  std::uint32_t param3 = 0;
};

enum class EventWait { Signalled, Timeout, Failed };

// Calls with a variable-size result take the size the caller allocated
// (totalBytes) and always set neededBytes; the result is filled only when it
// fits (GetDevCaps, TranslateAddress succeed without it; GetID answers
// LINEERR_STRUCTURETOOSMALL).
class TelephonyProvider {
 public:
  virtual ~TelephonyProvider() = default;

  // lineInitializeEx with an event for messages: apiVersion in: the version
  // asked for, out: the version offered.
  virtual TapiResult Initialize(std::string_view appName, std::uint32_t& apiVersion,
                                std::uint32_t& deviceCount) = 0;
  virtual TapiResult NegotiateAPIVersion(std::uint32_t device, std::uint32_t lowVersion,
                                         std::uint32_t highVersion, std::uint32_t& version) = 0;
  virtual TapiResult GetDevCaps(std::uint32_t device, std::uint32_t version,
                                std::uint32_t totalBytes, std::uint32_t& neededBytes,
                                LineDevCaps& caps) = 0;
  virtual TapiResult Open(std::uint32_t device, std::uint32_t version, std::uint32_t privileges,
                          std::uint32_t mediaModes, const LineCallParams& params,
                          LineHandle& line) = 0;
  // A request id answered later by LINE_REPLY, or an error at once.
  virtual TapiResult MakeCall(LineHandle line, CallHandle& call, std::string_view destAddress,
                              std::uint32_t countryCode, const LineCallParams& params) = 0;
  virtual TapiResult TranslateAddress(std::uint32_t device, std::uint32_t version,
                                      std::string_view address, std::uint32_t totalBytes,
                                      std::uint32_t& neededBytes, LineTranslateOutput& output) = 0;
  // lineGetID: the data port of the call, handed over to the caller.
  virtual TapiResult GetID(LineHandle line, CallHandle call, std::uint32_t select,
                           std::string_view deviceClass, std::uint32_t totalBytes,
                           std::uint32_t& neededBytes, std::unique_ptr<SerialDevice>& port) = 0;
  // Waits up to timeoutMs for a waiting message; error holds an errno value on failure.
  virtual EventWait WaitForEvent(std::uint32_t timeoutMs, int& error) = 0;
  // lineGetMessage without waiting.
  virtual TapiResult GetMessage(LineMessage& message) = 0;
  virtual TapiResult Drop(CallHandle call) = 0;
  virtual TapiResult DeallocateCall(CallHandle call) = 0;
  virtual TapiResult Close(LineHandle line) = 0;
  virtual TapiResult Shutdown() = 0;
};

}  // namespace vexo
