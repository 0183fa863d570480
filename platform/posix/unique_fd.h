// UniqueFd: a POSIX file descriptor owned by one object and closed when it goes.
#pragma once

namespace vexo {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : m_fd(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return m_fd; }
  bool valid() const { return m_fd >= 0; }
  // Gives the descriptor up without closing it.
  int Release();
  // Closes the descriptor (if any); Close tells what close(2) returned (0 when none was open).
  void Reset() { Close(); }
  int Close();

 private:
  int m_fd = -1;
};

}  // namespace vexo
