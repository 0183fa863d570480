// Whole transfers on POSIX descriptors: each call goes on after an interrupted
// (EINTR) or partial transfer until everything asked for has moved, the file
// ends, or the system reports an error. RetryOnEintr does the same for a
// single system call whose short result the caller handles itself.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace vexo {

struct IoResult {
  std::size_t bytes = 0;  // moved before the end
  int error = 0;          // the errno that ended the transfer; 0 when it completed or hit the end
};

// Reads until size bytes are in buffer or the file ends.
IoResult FullRead(int fd, void* buffer, std::size_t size);
// Writes size bytes; a write that moves nothing ends the transfer short.
IoResult FullWrite(int fd, const void* buffer, std::size_t size);
// The same at a file offset; a position beyond the largest file offset ends
// the transfer as the end of the file would.
IoResult FullPread(int fd, void* buffer, std::size_t size, std::uint64_t offset);
IoResult FullPwrite(int fd, const void* buffer, std::size_t size, std::uint64_t offset);

// Calls call() again for as long as it fails (returns -1) with EINTR.
template <typename Call>
auto RetryOnEintr(Call call) {
  for (;;) {
    const auto result = call();
    if (!(result == -1 && errno == EINTR)) return result;
  }
}

}  // namespace vexo
