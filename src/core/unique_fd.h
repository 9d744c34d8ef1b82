#pragma once

#include <unistd.h>
#include <utility>

namespace zantrel {

// Owns one file descriptor and closes it at the end of its life; -1 for none.
class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd& operator=(UniqueFd&&) = delete;

    int get() const { return fd_; }
    // Hands the descriptor over; this object then owns none.
    int release() { return std::exchange(fd_, -1); }
    // Closes now; false when close() reported an error (a write that did not reach the disk).
    bool close() { return ::close(release()) == 0; }

  private:
    int fd_;
};

} // namespace zantrel
