// What the telephone line needs from an emulated modem, whatever its service
// class: its pty, its audio, and the call events it reports to the program.
// Class1Modem is the first implementation; the listener hears what the program
// does to the line (dial, answer, hang up).
#pragma once

#include <string>

#include "tools/linesim/audio.h"
#include "tools/linesim/far_terminal.h"
#include "tools/linesim/pty_port.h"

namespace vexo::linesim {

class EmulatedModem;

// What the program on a modem's pty does to the line.
class ModemListener {
 public:
  virtual ~ModemListener() = default;
  virtual void OnDial(EmulatedModem& modem, const std::string& number) = 0;
  virtual void OnAnswer(EmulatedModem& modem) = 0;
  virtual void OnHangup(EmulatedModem& modem) = 0;
};

class EmulatedModem : public AudioEndpoint {
 public:
  // Modems are numbered from 1 in the order their ptys are printed.
  virtual int number() const = 0;
  virtual PtyPort& port() = 0;
  // The separate data port of a two-port phone modem; nullptr for one port.
  virtual PtyPort* dataPort() { return nullptr; }
  // Moves bytes between the pty and the modem; called before every audio block.
  virtual void ServicePort() = 0;
  // Seconds the modem waits for the called party to answer (register S7).
  virtual int waitForAnswerSeconds() const = 0;
  // True for a Class 2 or 2.0 modem, which runs T.30 against its own
  // protocol-level far end: the line then connects no far terminal.
  virtual bool runsT30() const { return false; }
  // That far end's result for the call; nullptr when the modem has none.
  virtual const FarResult* ownFarResult() const { return nullptr; }

  // Call progress from the line, reported to the program as the class does.
  virtual void Ring() = 0;
  virtual void Connected() = 0;  // the dialled party answered
  virtual void Answered() = 0;   // the program's answer took the call
  virtual void Busy() = 0;
  virtual void NoDialtone() = 0;
  virtual void NoAnswer() = 0;
};

}  // namespace vexo::linesim
