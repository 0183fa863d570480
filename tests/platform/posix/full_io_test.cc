// Whole transfers and the owned descriptor over pipes and a temporary file.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/posix/full_io.h"
#include "platform/posix/unique_fd.h"
#include "tests/support/temp_dir.h"

namespace vexo {
namespace {

TEST(FullIo, ReadGathersPiecesUntilSizeOrEnd) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  UniqueFd in(fds[0]), out(fds[1]);
  std::thread writer([&] {
    for (const std::string piece : {"ab", "cde", "fgh"}) {
      EXPECT_EQ(FullWrite(out.get(), piece.data(), piece.size()).bytes, piece.size());
      std::this_thread::sleep_for(std::chrono::milliseconds(10));  // separate reads
    }
    out.Reset();
  });
  char buffer[16] = {};
  IoResult read = FullRead(in.get(), buffer, 5);
  EXPECT_EQ(std::string(buffer, read.bytes), "abcde");
  read = FullRead(in.get(), buffer, sizeof buffer);  // the writer closes after 3 more
  writer.join();
  EXPECT_EQ(std::string(buffer, read.bytes), "fgh");
  EXPECT_EQ(read.error, 0);
}

TEST(FullIo, PositionalTransfersKeepTheOffsetAndFailuresGiveTheErrno) {
  test::TempDir dir;
  const UniqueFd fd(::open((dir.path() / "f").c_str(), O_RDWR | O_CREAT, 0600));
  ASSERT_TRUE(fd.valid());
  ASSERT_EQ(FullWrite(fd.get(), "0123456789", 10).bytes, 10u);
  EXPECT_EQ(FullPwrite(fd.get(), "xy", 2, 4).bytes, 2u);
  char buffer[16] = {};
  IoResult read = FullPread(fd.get(), buffer, 6, 2);
  EXPECT_EQ(std::string(buffer, read.bytes), "23xy67");
  read = FullPread(fd.get(), buffer, sizeof buffer, 8);  // the end of the file comes first
  EXPECT_EQ(read.bytes, 2u);
  EXPECT_EQ(read.error, 0);
  read = FullPread(fd.get(), buffer, 1, ~std::uint64_t{0});  // beyond any file offset
  EXPECT_EQ(read.bytes, 0u);
  EXPECT_EQ(read.error, 0);
  EXPECT_EQ(::lseek(fd.get(), 0, SEEK_CUR), 10);

  EXPECT_EQ(FullRead(-1, buffer, 1).error, EBADF);
  EXPECT_EQ(FullPwrite(-1, buffer, 1, 0).error, EBADF);
}

TEST(FullIo, RetryOnEintrRepeatsOnlyInterruptedCalls) {
  int calls = 0;
  EXPECT_EQ(RetryOnEintr([&] {
              errno = ++calls <= 2 ? EINTR : EIO;
              return calls <= 2 ? -1 : 7;
            }),
            7);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(RetryOnEintr([&] {
              errno = EAGAIN;
              return ++calls > 0 ? -1 : 0;
            }),
            -1);
  EXPECT_EQ(calls, 4);
}

TEST(UniqueFd, ClosesOnceAndHandsOver) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  UniqueFd first(fds[0]), second(fds[1]);
  UniqueFd moved(std::move(first));
  EXPECT_FALSE(first.valid());
  UniqueFd other;
  other = std::move(moved);
  EXPECT_EQ(other.get(), fds[0]);
  EXPECT_EQ(other.Close(), 0);
  EXPECT_FALSE(other.valid());
  EXPECT_EQ(::fcntl(fds[0], F_GETFD), -1);  // closed
  EXPECT_EQ(other.Close(), 0);              // nothing left to close
  EXPECT_EQ(second.Release(), fds[1]);
  EXPECT_EQ(::close(fds[1]), 0);  // Release left it open
}

}  // namespace
}  // namespace vexo
