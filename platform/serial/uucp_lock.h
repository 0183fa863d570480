// The lock file other serial programs (minicom, mgetty, efax, ModemManager's
// neighbours) look for before they open a modem: /var/lock/LCK..<device>
// holding the owner's process id as ten digits and a newline. Taken when the
// directory can be written (often only for root or the dialout group); a
// file whose process is gone is stale and taken over.
#pragma once

#include <string>

namespace vexo {

constexpr const char* kUucpLockDir = "/var/lock";

class UucpLock {
 public:
  // The lock for the device path (symbolic links followed), in lockDir.
  explicit UucpLock(const std::string& devicePath, std::string lockDir = kUucpLockDir);
  ~UucpLock();  // removes the file when this lock made it
  UucpLock(const UucpLock&) = delete;
  UucpLock& operator=(const UucpLock&) = delete;

  // False when a running process holds the device; true when the lock was
  // taken or the directory cannot be written (there is no lock to take).
  bool Acquire();
  bool Owned() const { return m_owned; }
  const std::string& Path() const { return m_path; }

 private:
  bool TryCreate();
  std::string m_path;
  bool m_owned = false;
};

}  // namespace vexo
