#include "CatalogueLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <utility>

namespace vrindel {

CatalogueLock::~CatalogueLock() { release(); }

CatalogueLock::CatalogueLock(CatalogueLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      state_(std::exchange(other.state_, State::Unlocked)),
      error_(other.error_) {}

CatalogueLock& CatalogueLock::operator=(CatalogueLock&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = std::exchange(other.fd_, -1);
        state_ = std::exchange(other.state_, State::Unlocked);
        error_ = other.error_;
    }
    return *this;
}

CatalogueLock CatalogueLock::tryAcquire(const std::string& folder) {
    CatalogueLock lock;
    // The folder itself is locked: it exists whether or not the catalogue
    // does, it is never replaced by a save, and opening it needs no write
    // access, so a read-only folder locks as well as any other.
    int fd;
    do
        fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        lock.error_ = errno;
        return lock;
    }
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        lock.error_ = errno;
        ::close(fd);
        lock.state_ = lock.error_ == EWOULDBLOCK ? State::Busy : State::Unlocked;
        return lock;
    }
    lock.fd_ = fd;
    lock.state_ = State::Held;
    return lock;
}

void CatalogueLock::release() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);   // closing drops the lock
        fd_ = -1;
    }
    state_ = State::Unlocked;
}

}  // namespace vrindel
