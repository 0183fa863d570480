#include "platform/posix/full_io.h"

#include <sys/types.h>
#include <unistd.h>

#include <limits>

namespace vexo {
namespace {

constexpr auto kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());

// Runs step(done) (one system call for the bytes from done on) until size
// bytes have moved, it returns 0, or it fails with anything but EINTR.
template <typename Step>
IoResult Transfer(std::size_t size, Step step) {
  IoResult result;
  while (result.bytes < size) {
    const ssize_t n = RetryOnEintr([&] { return step(result.bytes); });
    if (n < 0) {
      result.error = errno;
      break;
    }
    if (n == 0) break;
    result.bytes += static_cast<std::size_t>(n);
  }
  return result;
}

}  // namespace

IoResult FullRead(int fd, void* buffer, std::size_t size) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  return Transfer(size, [&](std::size_t done) { return ::read(fd, bytes + done, size - done); });
}

IoResult FullWrite(int fd, const void* buffer, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  return Transfer(size, [&](std::size_t done) { return ::write(fd, bytes + done, size - done); });
}

IoResult FullPread(int fd, void* buffer, std::size_t size, std::uint64_t offset) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  return Transfer(size, [&](std::size_t done) -> ssize_t {
    if (offset + done > kMaxOffset) return 0;
    return ::pread(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
  });
}

IoResult FullPwrite(int fd, const void* buffer, std::size_t size, std::uint64_t offset) {
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  return Transfer(size, [&](std::size_t done) -> ssize_t {
    if (offset + done > kMaxOffset) return 0;
    return ::pwrite(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
  });
}

}  // namespace vexo
