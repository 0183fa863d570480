// The telephone line between the emulated modems and the far end. It turns a
// program's dial, answer and hang-up into call progress (rings, answer, busy,
// no answer, no dial tone, remote hang-up), carries the audio of a connected
// call both ways in 20 ms blocks (with optional noise), and writes a report
// when each call ends. Time on the line is counted in samples.
#pragma once

#include <spandsp.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/linesim/call_report.h"
#include "tools/linesim/delay_line.h"
#include "tools/linesim/emulated_modem.h"
#include "tools/linesim/far_terminal.h"
#include "tools/linesim/line_faults.h"
#include "tools/linesim/options.h"
#include "tools/linesim/t30_monitor.h"

namespace vexo::linesim {

class Class1Modem;

class TelephoneLine : public ModemListener {
 public:
  explicit TelephoneLine(const Options& options);
  ~TelephoneLine() override;
  TelephoneLine(const TelephoneLine&) = delete;
  TelephoneLine& operator=(const TelephoneLine&) = delete;

  // Creates the modems (one, or two with --far modem); false with error set.
  bool Start(std::string& error);
  const std::vector<std::unique_ptr<EmulatedModem>>& modems() const { return m_modems; }

  // Moves pty bytes of every modem, then runs one 20 ms block of line time.
  void Step();
  // True when every pty has been opened and closed again.
  bool AllPortsClosedAfterUse() const;
  // Whether a call is still on the line (its report not written yet).
  bool CallInProgress() const { return m_call != nullptr; }
  // Ends a call still in progress, with its report.
  void Shutdown();

  void OnDial(EmulatedModem& modem, const std::string& number) override;
  void OnAnswer(EmulatedModem& modem) override;
  void OnHangup(EmulatedModem& modem) override;

 private:
  // kFarGone: the far end dropped the line; kLocalGone: a program hung up, the
  // line delivers what is still on the way and the far terminal finishes alone.
  enum class Phase { kDialling, kRinging, kConnected, kFarGone, kLocalGone };
  struct Call {
    CallReport report;
    Phase phase = Phase::kDialling;
    EmulatedModem* modem = nullptr;  // the modem that dialled, or that is being called
    EmulatedModem* peer = nullptr;   // the second modem, with --far modem
    std::unique_ptr<FarTerminal> terminal;
    FarResult farResult;
    std::int64_t start = 0;    // samples
    std::int64_t decided = 0;  // when busy / no dial tone / no answer is given
    std::int64_t answered = -1;
    std::int64_t nextRing = -1;
    std::int64_t farDone = -1;        // when the far terminal finished T.30
    std::int64_t localGone = -1;      // when a program hung up during the call
    EmulatedModem* hungUp = nullptr;  // the modem that hung up then
    bool tempRxFile = false;
  };

  // Hooks the line's frame faults to the ECM frames in a Class 1 modem's
  // high-speed data; first: modem 1.
  void AddDataFrameFaults(Class1Modem& modem, bool first);
  void StartDial(EmulatedModem& modem, const std::string& number);
  void StartCallIn();
  void Answer(EmulatedModem& modem);
  void RunTimers();
  void ExchangeAudio();
  // Takes one block across the line in one direction: faults, delay, then noise.
  void Carry(std::span<std::int16_t> block, int direction);
  void ConnectTerminal(bool calling);
  void DropFarEnd();
  void EndCall(const std::string& outcome);
  // How the call ended, from its phase and the far terminal's result.
  std::string CallOutcome();
  void WriteReport(const CallReport& report);
  std::string NextReceiveFile(bool& temporary) const;
  std::int64_t Seconds(double s) const;
  EmulatedModem* OtherModem(const EmulatedModem& modem) const;

  Options m_options;
  std::vector<std::unique_ptr<EmulatedModem>> m_modems;
  std::unique_ptr<Call> m_call;
  int m_calls = 0;
  int m_dialled = 0;              // calls the modems dialled
  int m_callInsLeft = 0;          // calls in still to make
  std::int64_t m_nextCallIn = 0;  // the far terminal calls in again no earlier than this
  std::int64_t m_now = 0;
  // Requests made from inside spandsp's callbacks, run on the next block.
  EmulatedModem* m_dialFrom = nullptr;
  std::string m_dialNumber;
  EmulatedModem* m_answerOn = nullptr;
  // Per direction: [0] toward modem 1, [1] toward the far end (terminal or modem 2).
  awgn_state_t* m_noise[2] = {nullptr, nullptr};
  DelayLine m_delay[2];
  T30Monitor m_monitor;
  LineFaults m_faults;
};

}  // namespace vexo::linesim
