// A move-only owner of one file descriptor: it is closed exactly once, when
// the owner goes out of scope or is reset.
#pragma once

#include <utility>

#include "common/system_calls.h"

namespace velmot {

class UniqueFd {
  public:
    UniqueFd() noexcept = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(std::exchange(other.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }

    // Closes the owned descriptor. Its close error is of no use: the
    // descriptor is gone either way and retrying could close a stranger's.
    void reset(int fd = -1) noexcept {
        if (fd_ >= 0) sys::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

}  // namespace velmot
