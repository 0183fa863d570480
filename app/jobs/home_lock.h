// One fax job at a time per home directory, across the desktop program and
// the vexo commands: a job holds an exclusive flock on a lock file in the
// home for as long as it runs. Commands that only read take no lock.
#pragma once

#include <string>

namespace vexo {

constexpr const char* kJobLockFileName = "vexo-job.lock";

class HomeJobLock {
 public:
  // Tries once, without waiting; Held() tells whether it got the lock.
  explicit HomeJobLock(const std::string& homeDirectory);
  ~HomeJobLock();
  HomeJobLock(const HomeJobLock&) = delete;
  HomeJobLock& operator=(const HomeJobLock&) = delete;
  bool Held() const { return m_fd >= 0; }
  // Tries once more when not held; whether it is held now.
  bool TryAgain();

 private:
  std::string m_path;
  int m_fd = -1;
};

// Whether a job of some process holds the home's job lock now.
bool HomeJobLockBusy(const std::string& homeDirectory);

}  // namespace vexo
