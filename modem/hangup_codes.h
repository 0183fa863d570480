// The hangup status codes that Class 2 ("+FHNG:", decimal) and Class 2.0
// ("+FHS:", hexadecimal) modems report when a call ends, with their texts, and
// ReportHangupCodeError, which turns such a line into one report in the error
// pool. The Class 2 and Class 2.0 sessions call it through FaxCommFunc.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vexo {

// The class argument that selects hexadecimal (Class 2.0) codes; any other
// value reads decimal (Class 2) codes.
constexpr int kHangupClass20 = 20;

struct HangupCode {
  std::uint16_t class2;   // decimal code of "+FHNG:"
  std::uint16_t class20;  // hexadecimal code of "+FHS:"
  const char* message;
};

// Grouped by the T.30 phase in which the call ended. The Class 2.0 code has the
// Class 2 code's digits read as hexadecimal, except 100 to 103, which are A0 to A3.
inline constexpr std::array kHangupCodes{
    HangupCode{1, 0x1, "Call answered without successful FAX handshake."},
    HangupCode{2, 0x2, "Call aborted by user (Via either +FK or CAN command)."},
    HangupCode{3, 0x3, "No loop current (Dial tone)."},
    HangupCode{4, 0x4, "Ringback detected, dial attempt timed out with no answer."},
    HangupCode{5, 0x5, "Ringback detected, call answered but without a CED tone."},
    HangupCode{10, 0x10, "Unspecified phase A error."},
    HangupCode{11, 0x11, "No answer or no DIS detected (T.30 T1 timeout)."},
    HangupCode{20, 0x20, "Unspecified transmit phase B error."},
    HangupCode{21, 0x21, "Remote cannot receive or send (bits 9 and 10 in DIS both 0)."},
    HangupCode{22, 0x22, "Command frame error in transmit phase B."},
    HangupCode{23, 0x23, "Invalid command received."},
    HangupCode{24, 0x24, "Response frame error in transmit phase B."},
    HangupCode{25, 0x25, "DCS sent three times without response."},
    HangupCode{26, 0x26, "DIS/DTC received 3 times; DCS not recognized."},
    HangupCode{27, 0x27, "Failure to train at either 2400 bps or +FMS value."},
    HangupCode{28, 0x28, "Invalid response received."},
    HangupCode{40, 0x40, "Unspecified transmit phase C error."},
    HangupCode{41, 0x41, "Unspecified image format."},
    HangupCode{42, 0x42, "Image conversion error."},
    HangupCode{43, 0x43, "DTE to DCE data underflow (data not sent fast enough)."},
    HangupCode{44, 0x44, "Unrecognized <dle> command."},
    HangupCode{45, 0x45, "Wrong line length."},
    HangupCode{46, 0x46, "Wrong page length."},
    HangupCode{47, 0x47, "Wrong compression code."},
    HangupCode{50, 0x50, "Unspecified transmit phase D error."},
    HangupCode{51, 0x51, "Response frame error in transmit phase D."},
    HangupCode{52, 0x52, "No response to MPS (Multi-Page Signal) repeated 3 times."},
    HangupCode{53, 0x53, "Invalid response to MPS (Multi-Page Signal)."},
    HangupCode{54, 0x54, "No response to EOP (End Of Procedure) repeated 3 times."},
    HangupCode{55, 0x55, "Invalid response to EOP (End Of Procedure)."},
    HangupCode{56, 0x56, "No response to EOM repeated 3 times."},
    HangupCode{57, 0x57, "Invalid response to EOM."},
    HangupCode{58, 0x58, "Unable to continue after PIN or PIP in transmit phase D."},
    HangupCode{70, 0x70, "Unspecified receive phase B error."},
    HangupCode{71, 0x71, "Response frame error in receive phase B."},
    HangupCode{72, 0x72, "Command frame error in receive phase B."},
    HangupCode{73, 0x73, "Expected frame not received (T.30 T2 timeout)."},
    HangupCode{74, 0x74, "Failure to resume phase B after EOM (T.30 T1 timeout)."},
    HangupCode{90, 0x90, "Unspecified receive phase C error."},
    HangupCode{91, 0x91, "Missing EOL after 5 seconds (line too long)."},
    HangupCode{92, 0x92, "CRC or frame error in error corrected mode."},
    HangupCode{93, 0x93, "Modem receive buffer overflowed."},
    HangupCode{94, 0x94, "CRC or frame error in ECM or BFT mode."},
    HangupCode{100, 0xA0, "Unspecified receive phase D error."},
    HangupCode{101, 0xA1, "Response frame error in receive phase D."},
    HangupCode{102, 0xA2, "Command frame error in receive phase D."},
    HangupCode{103, 0xA3, "Unable to continue after PIN or PIP in receive phase D."},
};

// The row of a code in the column of the class, or nullptr.
const HangupCode* FindHangupCode(std::uint16_t code, int faxClass);

// Reports the hangup line (the modem's whole result line, "+FHNG:..." or
// "+FHS:...") as an error under "FaxCommFunc", "ReportHangupCodeError". Code 0,
// a normal end, reports nothing. Returns the error pool's result, or 0 when
// nothing was reported.
int ReportHangupCodeError(std::string_view line, int faxClass);

}  // namespace vexo
