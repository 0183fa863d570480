// The command-line front of an emulated Class 1 modem. It collects each AT
// command line the program types, echoes it, and runs its commands one by one:
// queries whose answers spandsp's interpreter hard-codes (+FCLASS=?, +FTM=?,
// +FRM=?, +CGMI, +CNMI) are answered here from the modem's profile, codes
// outside the profile get ERROR, and everything else is handed to spandsp one
// command at a time so that an unknown command cannot swallow the rest of the line.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vexo::linesim {

// What the emulated modem offers.
struct ModemProfile {
  std::vector<std::string> fclassList;
  std::vector<int> modulations;
  bool phone = false;
};

class CommandFilter {
 public:
  // What spandsp printed while running one command synchronously.
  using Runner = std::function<std::string(std::string_view command)>;
  // Bytes for the program on the pty.
  using Sink = std::function<void(std::string_view bytes)>;
  // Offered a command line that selects a class of the profile which spandsp
  // lacks (2, 2.0): true when another modem took the line and answers it.
  using HandOff = std::function<bool(std::string_view fclass, std::string_view line)>;

  CommandFilter(ModemProfile profile, Runner run, Sink out);

  // Forgets the line being typed and the settings, as at power-on.
  void Reset();

  // One byte the program typed while the modem is in command mode.
  void Feed(char c);
  // Runs a whole command line another modem took first; no echo.
  void RunHandedLine(std::string_view line) { RunLine(line); }

  void SetHandOff(HandOff handOff) { m_handOff = std::move(handOff); }
  bool echo() const { return m_echo; }
  void SetEcho(bool on) { m_echo = on; }

  // Seconds the modem waits for the called party to answer (register S7).
  int waitForAnswerSeconds() const { return m_s7; }
  // The class last selected with AT+FCLASS= (or reset by ATZ / AT&F).
  const std::string& fclass() const { return m_fclass; }
  // Whether the last command run was a reception (+FRH=, +FRM=, or a dial,
  // which in Class 1 receives the first frame), whose CONNECT is followed by
  // received data.
  bool receiving() const { return m_receiving; }

 private:
  enum class Outcome { kOk, kError, kPending, kHandedOff };
  void RunLine(std::string_view line);
  Outcome RunCommand(std::string_view command, std::string& info);
  Outcome PassToSpandsp(std::string_view command, std::string& info);
  void Respond(const std::string& info, Outcome outcome);
  std::string InfoText(std::string_view text) const;
  void ResetProfileState();

  ModemProfile m_profile;
  Runner m_run;
  Sink m_out;
  HandOff m_handOff;
  std::string m_line;
  std::string m_running;  // the line whose commands are being run
  std::string m_lastLine;
  bool m_echo = true;
  bool m_verbose = true;
  int m_s7 = 60;
  std::string m_fclass = "0";
  bool m_receiving = false;
};

// Splits the part of a command line after "AT" into single commands; a dial
// command takes the rest of the line. Exposed for the simulator's own tests.
std::vector<std::string> SplitCommandLine(std::string_view body);

// The bearer-service setting +CBST, which phones and data modems take and a
// fax call never uses: the query answer, the range answer, and whether a
// value "speed[,name[,ce]]" lies within that range (empty fields keep theirs).
inline constexpr std::string_view kBearerServiceValue = "+CBST: 7,0,1";
inline constexpr std::string_view kBearerServiceRange = "+CBST: (0-134),(0-7),(0-3)";
bool BearerServiceValid(std::string_view value);

}  // namespace vexo::linesim
