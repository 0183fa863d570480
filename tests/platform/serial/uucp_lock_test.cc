// The device lock file other serial programs look for: taken and given back,
// refused while a running process holds it, taken over from a process that
// is gone, and no obstacle where the lock directory cannot be written.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/serial/uucp_lock.h"
#include "tests/support/temp_dir.h"

namespace vexo::test {
namespace {

namespace fs = std::filesystem;

std::string Content(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  return text;
}

// A process id that is certainly not running: a child that has been reaped.
pid_t GonePid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

TEST(UucpLock, TakenWithOurPidAndRemovedAtTheEnd) {
  TempDir dir;
  std::string path;
  {
    UucpLock lock("/dev/ttyUSB0", dir.path().string());
    path = lock.Path();
    EXPECT_EQ(fs::path(path).filename(), "LCK..ttyUSB0");
    ASSERT_TRUE(lock.Acquire());
    EXPECT_TRUE(lock.Owned());
    EXPECT_EQ(std::stol(Content(path)), ::getpid());
    EXPECT_EQ(Content(path).size(), 10u) << "ten characters, as the other programs write it";
  }
  EXPECT_FALSE(fs::exists(path));
}

TEST(UucpLock, ARunningOwnerKeepsItAndAGoneOneLosesIt) {
  TempDir dir;
  UucpLock lock("/dev/ttyS3", dir.path().string());
  std::ofstream(lock.Path()) << "         1\n";  // init is always running
  EXPECT_FALSE(lock.Acquire());
  EXPECT_EQ(Content(lock.Path()), "         1") << "left as it was";

  std::ofstream(lock.Path(), std::ios::trunc) << GonePid() << "\n";
  EXPECT_TRUE(lock.Acquire());
  EXPECT_EQ(std::stol(Content(lock.Path())), ::getpid());
}

TEST(UucpLock, NoWritableDirectoryIsNoObstacle) {
  UucpLock lock("/dev/ttyS0", "/nonexistent/lock/dir");
  EXPECT_TRUE(lock.Acquire());
  EXPECT_FALSE(lock.Owned());
}

TEST(UucpLock, LinksAreFollowedToTheDeviceName) {
  TempDir dir;
  const fs::path link = dir.path() / "modem";
  fs::create_symlink("/dev/null", link);
  EXPECT_EQ(fs::path(UucpLock(link.string(), dir.path().string()).Path()).filename(), "LCK..null");
}

}  // namespace
}  // namespace vexo::test
