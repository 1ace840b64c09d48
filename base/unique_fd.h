#pragma once

#include <unistd.h>

#include <utility>

// Owns one file descriptor and closes it when it goes out of scope.
class UniqueFd {
 public:
  // What the system calls return in place of a descriptor.
  static constexpr int kNone = -1;

  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset(other.release());
    }
    return *this;
  }
  ~UniqueFd() { reset(); }

  [[nodiscard]] int get() const { return fd_; }
  [[nodiscard]] bool valid() const { return fd_ != kNone; }

  int release() { return std::exchange(fd_, kNone); }

  // Closes the descriptor now, if there is one, and takes `fd`; false when
  // close() failed.
  bool reset(int fd = kNone) {
    const bool closed = !valid() || ::close(fd_) == 0;
    fd_ = fd;
    return closed;
  }

 private:
  int fd_ = kNone;
};
