// A process that waits for a call with the modem lends it to a send of
// another process of the same home. The waiting process listens on a Unix
// socket of the home; a process whose job found the home's job lock taken
// connects and writes "lend". When the waiting job has no call yet it is
// cancelled and the answer is "yes"; the borrower keeps the connection open
// for its whole job, and the lender waits for it to close before it waits for
// calls again. A call being received is never cut off: the answer is "no".
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vexo {

// The socket path a lender of the home listens on.
std::string ModemLendSocketPath(const std::string& homeDirectory);

class ModemLendListener {
 public:
  // lend runs on the listener's thread: true when the wait was cancelled and
  // the modem will be freed. Listens at once; Listening() tells whether it could.
  ModemLendListener(const std::string& homeDirectory, std::function<bool()> lend);
  ~ModemLendListener();  // stops the thread, closes and removes the socket
  ModemLendListener(const ModemLendListener&) = delete;
  ModemLendListener& operator=(const ModemLendListener&) = delete;

  bool Listening() const { return m_listenFd >= 0; }
  // Whether a borrower holds the modem (its connection is open).
  bool Lent() const { return m_lent.load() > 0; }

 private:
  void Run();
  void Serve(int client);

  std::string m_path;
  std::function<bool()> m_lend;
  int m_listenFd = -1;
  int m_stopFd = -1;
  std::vector<int> m_borrowers;  // the listener thread's only
  std::atomic<int> m_lent{0};
  std::thread m_thread;
};

class ModemLoan {
 public:
  // Asks the lender of the home for the modem; nullopt when none listens, it
  // says no or it does not answer within a few seconds.
  static std::optional<ModemLoan> Borrow(const std::string& homeDirectory);
  ModemLoan(ModemLoan&& other) noexcept;
  ModemLoan& operator=(ModemLoan&& other) noexcept;
  ModemLoan(const ModemLoan&) = delete;
  ModemLoan& operator=(const ModemLoan&) = delete;
  ~ModemLoan();  // closing the connection gives the modem back

 private:
  explicit ModemLoan(int fd) : m_fd(fd) {}
  int m_fd = -1;
};

}  // namespace vexo
