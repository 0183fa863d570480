// A scripted modem on the master side of a pty, for tests that drive the
// serial code through a real tty. The slave starts in the kernel's default
// (cooked) state, as a freshly plugged modem does. The script runs on its own
// thread: it waits for commands, answers lines (whole, split, lower-case),
// stays silent, sends XON, or floods garbage, NUL bytes or an endless line
// until stopped. Everything the program wrote is kept, except what a T.31
// modem ignores: a CAN (0x18) in command state, i.e. after a final result
// (OK, ERROR, NO CARRIER, +FCERROR, ...) and before the next command line.
#pragma once

#include <termios.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vexo::test {

// A pty pair; the slave is held open so the master never sees a hang-up
// between the program's openings.
class Pty {
 public:
  Pty();
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  const std::string& SlavePath() const { return m_slavePath; }
  int Master() const { return m_master; }
  // The slave's termios as the line discipline holds it.
  termios SlaveTermios() const;
  // Writes all bytes to the master; while the pty is full, whileBlocked is
  // called and may give up by returning false. False when not all went.
  bool WriteAll(std::string_view bytes, const std::function<bool()>& whileBlocked = {});
  // Reads from the master what arrives until the line is quiet for quietMs.
  std::string ReadQuiet(int quietMs);
  // What the master can read within waitMs, at most one chunk ("" for none).
  std::string ReadSome(int waitMs);
  // Closes the master: the program's end sees the other side gone.
  void CloseMaster();

 private:
  int m_master = -1;
  int m_keeper = -1;
  std::string m_slavePath;
};

class PtyModem {
 public:
  explicit PtyModem(Pty& pty) : m_pty(pty) {}
  ~PtyModem() { Stop(); }
  PtyModem(const PtyModem&) = delete;
  PtyModem& operator=(const PtyModem&) = delete;

  // Script steps, run in order once Start is called.
  // Waits until the program has written text.
  PtyModem& Expect(std::string text) { return Add({Step::Kind::Expect, std::move(text)}); }
  PtyModem& Send(std::string bytes) { return Add({Step::Kind::Send, std::move(bytes)}); }
  // Sends bytes in pieces of pieceBytes with a pause between them.
  PtyModem& SendSplit(std::string bytes, std::size_t pieceBytes, int pauseMs);
  PtyModem& Pause(int ms) { return Add({Step::Kind::Pause, {}, static_cast<std::size_t>(ms)}); }
  // Sends pattern again and again, up to totalBytes or until Stop.
  PtyModem& Flood(std::string pattern, std::size_t totalBytes) {
    return Add({Step::Kind::Flood, std::move(pattern), totalBytes});
  }
  // Answers every expected command with the answer, for a whole session.
  PtyModem& Answer(std::string command, std::string answer) {
    return Expect(std::move(command)).Send(std::move(answer));
  }

  void Start() {
    m_thread = std::thread([this] { Run(); });
  }
  // Ends a running flood or wait, then joins; true when every step passed.
  bool Stop() {
    m_stop = true;
    return Finish();
  }
  // Waits for the script to end by itself (at most the expect timeout per step).
  bool Finish();

  std::string Received() const;
  std::string Failure() const;
  // CAN bytes the program wrote in command state (ignored, not received).
  int IgnoredCans() const;

 private:
  struct Step {
    enum class Kind { Expect, Send, Pause, Flood } kind;
    std::string bytes;
    std::size_t amount = 0;  // milliseconds of a pause, bytes of a flood
  };

  PtyModem& Add(Step step) {
    m_steps.push_back(std::move(step));
    return *this;
  }
  void Run();
  bool RunStep(const Step& step);
  void Drain(int waitMs);
  bool SendBytes(std::string_view bytes);
  void Fail(std::string why);

  Pty& m_pty;
  std::vector<Step> m_steps;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  mutable std::mutex m_lock;
  std::string m_received;
  std::size_t m_matchFrom = 0;
  std::string m_failure;
  bool m_commandState = true;  // no command line is being answered
  int m_ignoredCans = 0;
};

}  // namespace vexo::test
