#include "store/save/SafeRewrite.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "Errors.h"
#include "store/io/Retry.h"

namespace vrindel {

SafeRewrite::SafeRewrite(FileSystem& fs, const HeldFile& place, std::function<void(int)> beforeReplacing)
    : fs_(fs), place_(place), beforeReplacing_(std::move(beforeReplacing)) {}

SafeRewrite::~SafeRewrite() {
    if (active())
        abandon();
}

int SafeRewrite::openExisting(struct ::stat& old) {
    const int fd = retryInterrupted([&] {
        return fs_.open(place_.folder(), place_.leaf(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0);
    });
    if (fd < 0)
        throw IoError::fromErrno(errno == ELOOP ? EACCES : errno);
    if (retryInterrupted([&] { return fs_.fstat(fd, &old); }) != 0 || !S_ISREG(old.st_mode)) {
        const int err = S_ISREG(old.st_mode) ? errno : EACCES;
        fs_.close(fd);
        throw IoError::fromErrno(err);
    }
    return fd;
}

void SafeRewrite::begin(std::uint64_t bytes, const FileIdentity* expected) {
    plan_ = SavePlan{};
    folderSyncError_ = 0;
    rollbackPending_ = false;
    written_ = 0;
    expecting_ = expected != nullptr;
    if (expected)
        expected_ = *expected;
    if (place_.error())
        throw IoError::fromErrno(place_.openError());

    // Only a regular file is replaced. Whatever else is there (a FIFO, a
    // device, a socket, a folder) is left alone, and so is a link that
    // appeared since the name was resolved.
    struct ::stat old{};
    bool existed = false;
    if (retryInterrupted([&] { return fs_.lstat(place_.folder(), place_.leaf(), &old); }) == 0) {
        if (!S_ISREG(old.st_mode))
            throw IoError::fromCode(io::AccessDenied);
        existed = true;
    } else if (errno != ENOENT) {
        throw IoError::fromErrno(errno);
    }

    // An existing target must be writable, and lends its access to the file
    // that replaces it.
    const int probe = existed ? openExisting(old) : -1;
    try {
        if (expected)
            requireExpected(existed ? &old : nullptr);
        removeStaleTemporaries(fs_, place_.folder(), place_.leaf());
        plan_ = chooseSaveWay(fs_, place_.folder(), place_.leaf(), probe, existed ? &old : nullptr);
    } catch (...) {
        if (probe >= 0)
            fs_.close(probe);
        throw;
    }
    if (plan_.way == SaveWay::Replace) {
        if (probe >= 0)
            fs_.close(probe);
        fd_ = plan_.temporary.fd;
        return;
    }
    beginInPlace(probe, old, bytes);
}

void SafeRewrite::requireExpected(const struct ::stat* now) {
    const FileIdentity found = now ? FileIdentity::of(*now) : FileIdentity{};
    if (!expected_.sameFile(found))
        throw IoError::fromCode(io::FileChanged);
    if (!(expected_ == found))
        throw IoError::fromCode(io::ChangedMeanwhile);
}

void SafeRewrite::beginInPlace(int fd, const struct ::stat& old, std::uint64_t bytes) {
    // Readers wait while the file is half rewritten; this waits for those
    // reading it now.
    if (!lockRange(fd, true)) {
        const int err = errno;
        fs_.close(fd);
        throw IoError::fromErrno(err);
    }
    // The journal first: from here on every change can be taken back.
    journal_ = std::make_unique<RollbackJournal>(fs_);
    try {
        journal_->begin(place_, fd, old, bytes);
    } catch (...) {
        journal_.reset();
        fs_.close(fd);
        throw;
    }
    fd_ = fd;
    oldSize_ = std::uint64_t(old.st_size);
    diverged_ = false;
    // The whole new size next: a full disk refuses it before any byte of
    // the old file changes.
    if (bytes > oldSize_ && retryInterrupted([&] { return fs_.fallocate(fd, 0, off_t(bytes)); }) != 0)
        fail(errno);
}

void SafeRewrite::write(const unsigned char* data, std::size_t size) {
    if (plan_.way == SaveWay::InPlace) {
        writeInPlace(data, size);
        return;
    }
    if (const int err = writeAll(fs_, fd_, data, size))
        fail(err);   // ENOSPC too when nothing was stored and no reason given: a full disk
    written_ += size;
}

void SafeRewrite::writeInPlace(const unsigned char* data, std::size_t size) {
    std::uint64_t at = written_;
    written_ += size;
    if (!diverged_) {
        // Bytes equal to the old ones are left as they are: a catalogue that
        // only grew journals nothing but its length.
        std::size_t same = 0;
        if (at < oldSize_) {
            const std::size_t compared = std::size_t(std::min<std::uint64_t>(size, oldSize_ - at));
            scratch_.resize(compared);
            const ssize_t got = preadAll(fs_, fd_, scratch_.data(), compared, at);
            if (got < 0)
                fail(errno);
            same = std::size_t(std::mismatch(data, data + got, scratch_.data()).first - data);
        }
        if (same == size)
            return;
        try {
            journal_->keepFrom(at + same);
        } catch (const IoError& e) {
            fail(e);
        }
        diverged_ = true;
        data += same;
        size -= same;
        at += same;
    }
    try {
        journal_->willWrite(at, data, size);
    } catch (const IoError& e) {
        fail(e);
    }
    if (const int err = pwriteAll(fs_, fd_, data, size, at))
        fail(err);
}

void SafeRewrite::abandon() noexcept {
    // A file rewritten in place goes back to what it was; a temporary goes.
    if (plan_.way == SaveWay::InPlace && journal_) {
        rollbackPending_ = !journal_->rollBack();
        journal_.reset();
    }
    fs_.close(fd_);
    if (plan_.way == SaveWay::Replace && !plan_.temporary.name.empty())
        retryInterrupted([&] { return fs_.unlink(place_.folder(), plan_.temporary.name); });
    plan_.temporary = {};
    fd_ = -1;
}

void SafeRewrite::fail(int err) {
    abandon();
    throw IoError::fromErrno(err);
}

void SafeRewrite::fail(const IoError& error) {
    const IoError copy = error;
    abandon();
    throw copy;
}

struct ::stat SafeRewrite::syncNewFile() {
    if (retryInterrupted([&] { return fs_.fsync(fd_); }) != 0)
        fail(errno);
    struct ::stat st{};
    if (retryInterrupted([&] { return fs_.fstat(fd_, &st); }) != 0)
        fail(errno);
    return st;
}

FileIdentity SafeRewrite::finish() {
    return plan_.way == SaveWay::InPlace ? finishInPlace() : finishReplacing();
}

FileIdentity SafeRewrite::finishInPlace() {
    try {
        // A file that only got shorter keeps its cut-off end in the journal.
        if (!diverged_)
            journal_->keepFrom(written_);
    } catch (const IoError& e) {
        fail(e);
    }
    if (written_ != oldSize_ && retryInterrupted([&] { return fs_.ftruncate(fd_, off_t(written_)); }) != 0)
        fail(errno);
    const struct ::stat st = syncNewFile();
    // The new file is whole and durable: from here on it stays.
    try {
        journal_->commit();
    } catch (const IoError& e) {
        fail(e);
    }
    journal_.reset();
    const int fd = fd_;
    fd_ = -1;
    if (fs_.close(fd) != 0 && errno != EINTR)
        throw IoError::fromErrno(errno);
    return FileIdentity::of(st);
}

FileIdentity SafeRewrite::finishReplacing() {
    const struct ::stat st = syncNewFile();
    try {
        nameTemporary(fs_, place_.folder(), place_.leaf(), plan_.temporary);
        // Whatever another program wrote to the old file since it was
        // merged would be lost by the rename.
        if (expecting_) {
            struct ::stat now{};
            const bool there = retryInterrupted([&] { return fs_.lstat(place_.folder(), place_.leaf(), &now); }) == 0;
            if (!there && errno != ENOENT)
                throw IoError::fromErrno(errno);
            requireExpected(there ? &now : nullptr);
        }
        if (beforeReplacing_)
            beforeReplacing_(fd_);
    } catch (...) {
        abandon();
        throw;
    }
    const int fd = fd_;
    fd_ = -1;
    auto dropTemporary = [&](int err) {
        retryInterrupted([&] { return fs_.unlink(place_.folder(), plan_.temporary.name); });
        plan_.temporary = {};
        throw IoError::fromErrno(err);
    };
    if (fs_.close(fd) != 0 && errno != EINTR)
        dropTemporary(errno);
    if (retryInterrupted([&] {
            return fs_.rename(place_.folder(), plan_.temporary.name, place_.folder(), place_.leaf());
        }) != 0)
        dropTemporary(errno);
    plan_.temporary = {};
    // The rename is durable only once the folder is. The save has happened
    // whatever this says: a failure is kept for the caller to mention, not
    // raised as a failed save that would invite saving again. Some file
    // systems cannot sync a folder at all, and need not.
    const int err = syncFolder(fs_, place_.folder());
    if (err != 0 && err != EINVAL && err != ENOTSUP && err != ENOSYS)
        folderSyncError_ = err;
    return FileIdentity::of(st);
}

}  // namespace vrindel
