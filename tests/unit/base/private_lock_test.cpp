#include "base/private_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <system_error>

namespace {

// Whatever stands at the lock's path, another user's file held locked among
// them, gives way to a file only the running user can open, and nothing a
// link there leads to is touched.
TEST(PrivateLock, TakesTheLockOnAFileNoOneElseCanOpen) {
  std::string dir = "/tmp/zarn-lock-XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const std::string lock = dir + "/zarn.lock";
  const std::string victim = dir + "/victim";
  const std::function<void()> left[] = {
      [] {},
      [&] {
        std::ofstream{lock};
        ASSERT_EQ(::chmod(lock.c_str(), 0600), 0);
      },
      [&] {
        std::ofstream{lock};
        ASSERT_EQ(::chown(lock.c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chmod(lock.c_str(), 0600), 0);
      },
      [&] {
        std::ofstream{lock};
        ASSERT_EQ(::chmod(lock.c_str(), 0644), 0);
      },
      [&] { std::filesystem::create_symlink(victim, lock); },
      [&] { ASSERT_EQ(::mkfifo(lock.c_str(), 0600), 0); },
      [&] { std::filesystem::create_directory(lock); },
      [&] {
        std::ofstream{lock};
        std::filesystem::create_hard_link(lock, dir + "/second");
      },
  };
  for (std::size_t i = 0; i < std::size(left); ++i) {
    std::filesystem::remove_all(lock);
    std::filesystem::remove(dir + "/second");
    std::ofstream(victim) << "untouched\n";
    ::chmod(victim.c_str(), 0666);
    left[i]();
    // Our own earlier lock file is kept; every other one is held by its owner.
    const UniqueFd other(i == 1 ? -1 : ::open(lock.c_str(), O_RDONLY | O_NONBLOCK));
    if (other.valid()) {
      ::flock(other.get(), LOCK_EX | LOCK_NB);
    }
    const UniqueFd taken = takePrivateLock(lock.c_str());
    struct stat status {};
    ASSERT_TRUE(taken.valid()) << i;
    ASSERT_EQ(::lstat(lock.c_str(), &status), 0) << i;
    EXPECT_TRUE(S_ISREG(status.st_mode) && status.st_uid == ::geteuid() && status.st_nlink == 1)
        << i;
    EXPECT_EQ(status.st_mode & 07777, 0600U) << i;
    EXPECT_EQ(::flock(UniqueFd(::open(lock.c_str(), O_RDONLY)).get(), LOCK_EX | LOCK_NB), -1) << i;
    std::ifstream in(victim);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "untouched") << i;
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

}  // namespace
