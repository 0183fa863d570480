// SessionAbort ends a call with the class's abort (DCN, hang-up) when it goes
// out of scope, unless the call was kept: every way out of a session that has
// reached the far end aborts it without each path having to say so.
#pragma once

#include <functional>
#include <utility>

namespace vexo {

class SessionAbort {
 public:
  explicit SessionAbort(std::function<void()> abort) : m_abort(std::move(abort)) {}
  ~SessionAbort() {
    if (m_abort) m_abort();
  }
  SessionAbort(const SessionAbort&) = delete;
  SessionAbort& operator=(const SessionAbort&) = delete;

  // The call ends without the abort.
  void Keep() { m_abort = nullptr; }

 private:
  std::function<void()> m_abort;
};

}  // namespace vexo
