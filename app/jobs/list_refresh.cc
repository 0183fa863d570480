#include "app/jobs/list_refresh.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace vexo {
namespace {

constexpr const char* kSocketName = "vexofax.sock";

// FNV-1a, enough to tell homes apart in a socket name.
std::uint64_t HashOf(const std::string& text) {
  std::uint64_t hash = 1469598103934665603ull;
  for (const unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace

std::string HomeSocketPath(const std::string& homeDirectory, const char* name,
                           const char* fallbackPrefix) {
  std::string home = homeDirectory;
  if (!home.empty() && home.back() != '/') home += '/';
  const std::string inHome = home + name;
  if (inHome.size() < sizeof(sockaddr_un{}.sun_path)) return inHome;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string dir = runtime && *runtime ? runtime : "/tmp";
  char fallback[96];
  std::snprintf(fallback, sizeof fallback, "/%s-%u-%016llx.sock", fallbackPrefix,
                static_cast<unsigned>(::getuid()), static_cast<unsigned long long>(HashOf(home)));
  return dir + fallback;
}

std::string ListRefreshSocketPath(const std::string& homeDirectory) {
  return HomeSocketPath(homeDirectory, kSocketName, "vexofax");
}

namespace {

// A socket connected to the vexofax of the home, or -1 when none listens.
int ConnectToApp(const std::string& homeDirectory) {
  const std::string path = ListRefreshSocketPath(homeDirectory);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return -1;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
  ::close(fd);
  return -1;
}

// Writes one line to the vexofax of the home; false when none listens.
bool TellApp(const std::string& homeDirectory, const std::string& line) {
  const int fd = ConnectToApp(homeDirectory);
  if (fd < 0) return false;
  const bool told =
      ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
  ::close(fd);
  return told;
}

}  // namespace

bool AskRunningAppToRelist(const std::string& homeDirectory) {
  return TellApp(homeDirectory, kRefreshListLine);
}

bool AskRunningAppForNumber(const std::string& homeDirectory, std::uint32_t id) {
  return TellApp(homeDirectory, std::string(kAskNumberWord) + std::to_string(id) + "\n");
}

std::uint32_t AskNumberId(std::string_view line) {
  if (!line.starts_with(kAskNumberWord)) return 0;
  const std::string_view digits = line.substr(kAskNumberWord.size());
  std::uint32_t id = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
  return error == std::errc() && end == digits.data() + digits.size() ? id : 0;
}

bool AppRunsOn(const std::string& homeDirectory) {
  const int fd = ConnectToApp(homeDirectory);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

}  // namespace vexo
