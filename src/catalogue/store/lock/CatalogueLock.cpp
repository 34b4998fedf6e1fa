#include "store/lock/CatalogueLock.h"
#include "store/io/Retry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace vrindel {

namespace {

// 0 when locked, else the errno (EWOULDBLOCK: someone else has it).
int lockExclusive(int fd) {
    return retryInterrupted([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) == 0 ? 0 : errno;
}

}  // namespace

CatalogueLock::~CatalogueLock() { release(); }

CatalogueLock::CatalogueLock(CatalogueLock&& other) noexcept
    : folderFd_(std::exchange(other.folderFd_, -1)),
      fileFds_(std::exchange(other.fileFds_, {})),
      state_(std::exchange(other.state_, State::Unlocked)),
      error_(other.error_) {}

CatalogueLock& CatalogueLock::operator=(CatalogueLock&& other) noexcept {
    if (this != &other) {
        release();
        folderFd_ = std::exchange(other.folderFd_, -1);
        fileFds_ = std::exchange(other.fileFds_, {});
        state_ = std::exchange(other.state_, State::Unlocked);
        error_ = other.error_;
    }
    return *this;
}

CatalogueLock CatalogueLock::tryAcquire(const char* name) {
    return tryAcquire(HeldFile::resolve(systemFileSystem(), name));
}

CatalogueLock CatalogueLock::tryAcquire(const HeldFile& file) {
    CatalogueLock lock;
    if (file.error() != 0) {
        lock.error_ = file.error();
        return lock;
    }
    // The folder: it exists whether or not the catalogue does and is never
    // replaced by a save. Opening it needs read access; without that the
    // file alone carries the lock.
    const int folder = retryInterrupted([&] { return ::openat(file.folder(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    int folderError = folder < 0 ? errno : 0;
    if (folder >= 0) {
        folderError = lockExclusive(folder);
        if (folderError == 0) {
            lock.folderFd_ = folder;
        } else {
            ::close(folder);
            if (folderError == EWOULDBLOCK) {
                lock.state_ = State::Busy;
                lock.error_ = folderError;
                return lock;
            }
        }
    }
    if (!lock.lockFile(file)) {
        lock.release();
        lock.state_ = State::Busy;
        lock.error_ = EWOULDBLOCK;
        return lock;
    }
    if (lock.folderFd_ < 0 && lock.fileFds_.empty()) {
        lock.error_ = folderError;
        return lock;
    }
    lock.state_ = State::Held;
    return lock;
}

bool CatalogueLock::lockFile(const HeldFile& file) {
    // The file may be replaced between its opening and its locking: the lock
    // counts only once the name still leads to the locked file.
    for (int attempt = 0; attempt < 100; ++attempt) {
        struct ::stat st{};
        if (::fstatat(file.folder(), file.leaf().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            return true;   // nothing to lock (yet): the folder's lock covers it
        int fd = retryInterrupted([&] {
            return ::openat(file.folder(), file.leaf().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        });
        if (fd < 0 && errno == EACCES)
            fd = retryInterrupted([&] {
                return ::openat(file.folder(), file.leaf().c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
            });
        if (fd < 0)
            return true;   // a file this process cannot open it cannot write either
        struct ::stat mine{};
        if (::fstat(fd, &mine) != 0 || !S_ISREG(mine.st_mode)) {
            ::close(fd);
            return true;
        }
        const int err = lockExclusive(fd);
        if (err == EWOULDBLOCK) {
            ::close(fd);
            return false;
        }
        if (err != 0) {   // a file system without locks: the folder's is all there is
            ::close(fd);
            return true;
        }
        struct ::stat now{};
        if (::fstatat(file.folder(), file.leaf().c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            now.st_dev == mine.st_dev && now.st_ino == mine.st_ino) {
            fileFds_.push_back(fd);
            return true;
        }
        ::close(fd);
    }
    return true;
}

bool CatalogueLock::addFile(int fd) {
    const int mine = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (mine < 0)
        return false;
    if (lockExclusive(mine) != 0) {
        ::close(mine);
        return false;
    }
    fileFds_.push_back(mine);
    if (state_ == State::Unlocked)
        state_ = State::Held;
    return true;
}

void CatalogueLock::release() noexcept {
    // Closing drops the lock.
    if (folderFd_ >= 0)
        ::close(folderFd_);
    folderFd_ = -1;
    for (int fd : fileFds_)
        ::close(fd);
    fileFds_.clear();
    state_ = State::Unlocked;
}

}  // namespace vrindel
