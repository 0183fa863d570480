// Command-line options of the line simulator: which far end sits on the line,
// which line events to stage, what the emulated modems offer and where call
// reports go. main.cc parses them once; every other unit reads the result.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vexo::linesim {

enum class FarKind { kTerminal, kModem };

// The highest page coding the far end offers and uses: T.4 one-dimensional
// (Modified Huffman), T.4 two-dimensional (Modified READ) or T.6 (MMR).
enum class FarCoding { kMh, kMr, kMmr };

// Faults staged on the line itself; see LineFaults.
struct FaultOptions {
  // Frame numbers (from 1, every V.21 and ECM frame of the call counted) per sender:
  // [0] frames the far end sends, [1] frames modem 1 sends.
  std::vector<int> corruptFrames[2];
  std::vector<int> loseFrames[2];
  int noisePage = 0;          // page data burst (from 1) drowned in noise; 0: none
  double noisePageSnrDb = 0;  // its signal-to-noise ratio
  double lossPercent = 0;     // 20 ms blocks dropped at random, per direction
  unsigned lossSeed = 1;
  bool any() const;
  bool framesOf(int sender) const {
    return !corruptFrames[sender].empty() || !loseFrames[sender].empty();
  }
};

struct Options {
  FarKind far = FarKind::kTerminal;
  std::string farId = "VEXO LINESIM";  // station identifier of the far terminal
  std::string farReceiveDir;           // where the far terminal stores received faxes
  std::string callIn;                  // TIFF the far terminal sends when it calls in
  int callInRepeat = 1;                // calls in, one after another, with --call-in
  std::vector<std::string> links;      // symlinks to the ptys, one per modem
  std::string reportFile;              // one JSON object per call, appended
  // Classes listed by "AT+FCLASS=?" and accepted by "AT+FCLASS=".
  std::vector<std::string> fclassList = {"0", "1"};
  // Modulation codes listed by "AT+FTM=?"/"AT+FRM=?" and accepted by +FTM/+FRM.
  std::vector<int> modulations = {24, 48, 72, 73, 74, 96, 97, 98, 121, 122, 145, 146};
  bool phone = false;               // answer like a phone's built-in modem (+CGMI, +CNMI)
  bool phoneTwoPorts = false;       // phone modem with a command pty and a data pty
  bool busy = false;                // the dialled number is busy
  int busyCalls = 0;                // the first busyCalls dialled calls find the number busy
  bool noAnswer = false;            // the dialled number rings and nobody answers
  bool noDialtone = false;          // the line gives no dial tone
  double hangupAfter = 0;           // seconds after answering when the far end drops the line
  std::optional<double> noiseDb;    // white noise this many dB below the signal
  bool noiseFollowsSignal = false;  // noise only while a signal is on the line
  bool farRefuseFine = false;       // the far terminal offers normal resolution only
  bool once = false;                // stop when every pty was opened and closed again
  int lineDelayMs = 20;             // one-way transmission delay of the line
  int speed = 1;                    // 20 ms audio blocks exchanged per 20 ms of real time
  bool verbose = false;             // AT trace and spandsp protocol log on stderr
  // The far end (terminal, or the far end of a Class 2/2.0 modem): whether it
  // offers and uses ECM, and its highest coding (unset: 2-D for the terminal,
  // 1-D for the Class 2/2.0 far end).
  bool farEcm = false;
  std::optional<FarCoding> farCoding;
  // Service class of the emulated modem: "1", "2", "2.0", or "auto" (offers
  // 0,1,2,2.0). Classes 2 and 2.0 meet the far end at the protocol level.
  std::string modemClass = "1";
  // The far end hangs up before page hangupPage (1: in the negotiation), and
  // the modem reports hangupCode, numbered as in Class 2.0 (0x00 to 0xFF).
  std::optional<int> hangupCode;
  int hangupPage = 1;
  int rtnPage = 0;         // the far end answers this page with RTN once
  int dropDuringPage = 0;  // the far end drops the line while this page comes
  bool fccError = false;   // AT+FCC= / AT+FDCC= answer ERROR
  bool vr0Only = false;    // the far end offers normal resolution only
  bool noXon = false;      // Class 2: CONNECT to AT+FDT without the XON
  FaultOptions faults;
};

// Parses argv; on failure returns nullopt and sets error to a one-line reason.
std::optional<Options> ParseOptions(int argc, char** argv, std::string& error);

// The --help text.
const char* UsageText();

}  // namespace vexo::linesim
