// One pseudo-terminal standing in for a modem's serial port: the simulator holds
// the master side, the program under test opens the slave path. PtyPort sets the
// slave up raw, keeps an optional symlink to it, tells whether a program holds
// the slave open, and queues output that the master cannot take at once.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vexo::linesim {

class PtyPort {
 public:
  // Opens a new pty; on failure returns nullopt and sets error.
  static std::optional<PtyPort> Open(const std::string& link, std::string& error);

  PtyPort(PtyPort&& other) noexcept;
  PtyPort& operator=(PtyPort&&) = delete;
  PtyPort(const PtyPort&) = delete;
  ~PtyPort();

  const std::string& slavePath() const { return m_slavePath; }

  // Checks whether a program holds the slave open and returns the answer.
  bool PollSlaveOpen();
  // True once a program has opened the slave at some time.
  bool everOpened() const { return m_everOpened; }
  bool slaveOpen() const { return m_slaveOpen; }

  // Reads what the program wrote, up to size bytes; 0 when nothing is there.
  std::size_t Read(char* buffer, std::size_t size);
  // Queues bytes for the program and writes as much as the pty takes. While no
  // program holds the slave, output is dropped, as a modem's output is lost
  // when nothing listens on its port.
  void Write(std::string_view bytes);
  // Writes queued output that the pty could not take before.
  void Flush();

 private:
  PtyPort(int master, std::string slavePath, std::string link);

  int m_master = -1;
  std::string m_slavePath;
  std::string m_link;
  std::string m_pending;
  bool m_slaveOpen = false;
  bool m_everOpened = false;
};

}  // namespace vexo::linesim
