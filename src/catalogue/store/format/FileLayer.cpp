#include "store/format/FileLayer.h"
#include "store/io/Retry.h"
#include "store/journal/RollbackJournal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>

namespace vrindel {

namespace {

constexpr std::size_t ChunkSize = 1 << 18;

std::int64_t nanoseconds(const struct ::timespec& t) { return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; }

// Past a size limit (ulimit -f) a write kills the process unless the signal
// is ignored: then it fails with EFBIG, a save error like a full disk.
void ignoreFileSizeSignal() {
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGXFSZ, SIG_IGN); });
}

}  // namespace

FileIdentity FileIdentity::of(const struct ::stat& st) {
    return {true, st.st_dev, st.st_ino, st.st_size, nanoseconds(st.st_mtim), nanoseconds(st.st_ctim)};
}


// --- FileVar -------------------------------------------------------------------

FileVar::~FileVar() {
    if (mode_ == Mode::Writing)
        abandonRewrite();
    else if (mode_ == Mode::Reading)
        fs_->close(fd_);
}

void FileVar::assign(std::string name) {
    if (name != name_) {
        held_ = false;
        place_ = HeldFile();
    }
    name_ = std::move(name);
}

void FileVar::hold() {
    place_ = HeldFile::resolve(*fs_, name_);
    held_ = true;
}

const HeldFile& FileVar::place() {
    if (!held_)
        place_ = HeldFile::resolve(*fs_, name_);
    return place_;
}

void FileVar::requireHeldPlace() {
    if (!held_)
        return;
    const HeldFile now = HeldFile::resolve(*fs_, name_);
    if (now.sameAs(place_))
        return;
    if (now.error() && !now.leadsNowhere())
        throw IoError::fromErrno(now.error());
    throw IoError::fromCode(io::FileChanged);
}

FileIdentity FileVar::currentIdentity() {
    const HeldFile& at = place();
    if (at.error())
        throw IoError::fromErrno(at.openError());
    struct ::stat st{};
    if (retryInterrupted([&] { return fs_->lstat(at.folder(), at.leaf(), &st); }) == 0)
        return FileIdentity::of(st);
    if (errno == ENOENT)
        return {};
    throw IoError::fromErrno(errno);
}

bool FileVar::exists() {
    const HeldFile& at = place();
    if (at.error()) {
        // A link that loops, may not be followed or leads into a missing
        // folder is something at the name, not a missing file; a missing
        // folder of the name itself is nothing.
        if (at.leadsNowhere())
            return true;
        if (at.error() == ENOENT || at.error() == ENOTDIR)
            return false;
        throw IoError::fromErrno(at.error());
    }
    struct ::stat st{};
    if (retryInterrupted([&] { return fs_->stat(at.folder(), at.leaf(), &st); }) == 0)
        return !S_ISDIR(st.st_mode);
    if (errno == ELOOP)
        return true;
    // Any other failure says nothing about the file, and taking it for
    // missing would put an empty catalogue in the place of the one there.
    if (errno != ENOENT && errno != ENOTDIR)
        throw IoError::fromErrno(errno);
    return false;
}

int FileVar::openRetrying(int dir, const std::string& name, int flags, mode_t mode) {
    return retryInterrupted([&] { return fs_->open(dir, name, flags, mode); });
}

void FileVar::reset(std::size_t recordSize) {
    if (name_.empty())
        throw IoError::fromCode(io::FileNotAssigned);
    if (isOpen())
        close();
    const HeldFile& at = place();
    if (at.error())
        throw IoError::fromErrno(at.openError());
    // A FIFO or a device is refused before it is opened: opening one can
    // wait for a writer or act on the device.
    struct ::stat st{};
    if (retryInterrupted([&] { return fs_->stat(at.folder(), at.leaf(), &st); }) == 0 && !S_ISREG(st.st_mode))
        throw IoError::fromCode(io::AccessDenied);
    // A link that appeared at the held name since it was resolved is not
    // followed.
    int fd = openRetrying(at.folder(), at.leaf(),
                          (readingOnly_ ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW, 0);
    if (fd < 0)
        throw IoError::fromErrno(errno == ELOOP ? EACCES : errno);
    if (retryInterrupted([&] { return fs_->fstat(fd, &st); }) != 0 || !S_ISREG(st.st_mode)) {
        const int err = S_ISREG(st.st_mode) ? errno : EACCES;
        fs_->close(fd);
        throw IoError::fromErrno(err);
    }
    fd_ = fd;
    mode_ = Mode::Reading;
    recordSize_ = recordSize;
    fileSize_ = std::uint64_t(st.st_size);
    identity_ = FileIdentity::of(st);
    content_ = ContentHash();
    position_ = 0;
    buffer_.clear();
    bufferAt_ = 0;
    endReached_ = false;
}

void FileVar::readRecord(void* record) {
    if (mode_ != Mode::Reading)
        throw IoError::fromCode(io::FileNotOpen);
    auto* out = static_cast<unsigned char*>(record);
    std::size_t got = 0;
    while (got < recordSize_) {
        if (bufferAt_ == buffer_.size()) {
            if (endReached_)
                break;
            buffer_.resize(ChunkSize);
            bufferAt_ = 0;
            ssize_t n;
            do
                n = fs_->read(fd_, buffer_.data(), buffer_.size());
            while (n < 0 && errno == EINTR);
            if (n < 0) {
                buffer_.clear();
                throw IoError::fromErrno(errno);
            }
            buffer_.resize(std::size_t(n));
            content_.update(buffer_.data(), buffer_.size());
            if (n == 0) {
                endReached_ = true;
                break;
            }
        }
        std::size_t take = std::min(recordSize_ - got, buffer_.size() - bufferAt_);
        std::memcpy(out + got, buffer_.data() + bufferAt_, take);
        bufferAt_ += take;
        got += take;
    }
    position_ += got;
    if (got < recordSize_)
        throw IoError::fromCode(io::ReadPastEnd);
}

bool FileVar::eof() const {
    if (recordSize_ == 0)
        return true;
    return position_ / recordSize_ >= fileSize_ / recordSize_;
}

void FileVar::rewrite(std::size_t recordSize, std::uint64_t records, const FileIdentity* expected) {
    if (name_.empty())
        throw IoError::fromCode(io::FileNotAssigned);
    if (readingOnly_)
        throw IoError::fromCode(io::AccessDenied);
    if (isOpen())
        close();
    plan_ = SavePlan{};
    folderSyncError_ = 0;
    rollbackPending_ = false;
    expecting_ = expected != nullptr;
    if (expected)
        expected_ = *expected;
    ignoreFileSizeSignal();
    // Through a link or a folder swapped since start-up the save would
    // land in a file that is no catalogue of ours.
    requireHeldPlace();
    const HeldFile& at = place();
    if (at.error())
        throw IoError::fromErrno(at.openError());

    // Only a regular file is replaced. Whatever else is there (a FIFO, a
    // device, a socket, a folder) is left alone, and so is a link that
    // appeared since the name was resolved.
    struct ::stat old{};
    bool existed = false;
    if (retryInterrupted([&] { return fs_->lstat(at.folder(), at.leaf(), &old); }) == 0) {
        if (!S_ISREG(old.st_mode))
            throw IoError::fromCode(io::AccessDenied);
        existed = true;
    } else if (errno != ENOENT) {
        throw IoError::fromErrno(errno);
    }

    // An existing target must be writable, and lends its access to the file
    // that replaces it.
    int probe = -1;
    if (existed) {
        probe = openRetrying(at.folder(), at.leaf(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0);
        if (probe < 0)
            throw IoError::fromErrno(errno == ELOOP ? EACCES : errno);
        if (retryInterrupted([&] { return fs_->fstat(probe, &old); }) != 0 || !S_ISREG(old.st_mode)) {
            const int err = S_ISREG(old.st_mode) ? errno : EACCES;
            fs_->close(probe);
            throw IoError::fromErrno(err);
        }
    }
    if (expected) {
        try {
            requireExpected(existed ? &old : nullptr);
        } catch (...) {
            if (probe >= 0)
                fs_->close(probe);
            throw;
        }
    }

    removeStaleTemporaries(*fs_, at.folder(), at.leaf());
    recordSize_ = recordSize;
    position_ = 0;
    fileSize_ = 0;
    buffer_.clear();
    content_ = ContentHash();

    try {
        plan_ = chooseSaveWay(*fs_, at.folder(), at.leaf(), probe, existed ? &old : nullptr);
    } catch (...) {
        if (probe >= 0)
            fs_->close(probe);
        throw;
    }
    if (plan_.way == SaveWay::Replace) {
        if (probe >= 0)
            fs_->close(probe);
        fd_ = plan_.temporary.fd;
        mode_ = Mode::Writing;
        return;
    }
    beginInPlace(probe, old, records * recordSize);
}

void FileVar::requireExpected(const struct ::stat* now) {
    const FileIdentity found = now ? FileIdentity::of(*now) : FileIdentity{};
    if (!expected_.sameFile(found))
        throw IoError::fromCode(io::FileChanged);
    if (!(expected_ == found))
        throw IoError::fromCode(io::ChangedMeanwhile);
}

void FileVar::beginInPlace(int fd, const struct ::stat& old, std::uint64_t bytes) {
    // The journal first: from here on every change can be taken back.
    journal_ = std::make_unique<RollbackJournal>(*fs_);
    try {
        journal_->begin(place_, fd, old);
    } catch (...) {
        journal_.reset();
        fs_->close(fd);
        throw;
    }
    fd_ = fd;
    mode_ = Mode::Writing;
    oldSize_ = std::uint64_t(old.st_size);
    flushedTo_ = 0;
    diverged_ = false;
    // The whole new size next: a full disk refuses it before any byte of
    // the old file changes.
    if (bytes > oldSize_ && retryInterrupted([&] { return fs_->fallocate(fd, 0, off_t(bytes)); }) != 0)
        failRewrite(errno);
}

void FileVar::writeRecord(const void* record) {
    if (mode_ != Mode::Writing)
        throw IoError::fromCode(io::FileNotOpen);
    auto* in = static_cast<const unsigned char*>(record);
    buffer_.insert(buffer_.end(), in, in + recordSize_);
    position_ += recordSize_;
    fileSize_ = position_;
    if (buffer_.size() >= ChunkSize)
        flushWrites();
}

void FileVar::flushWrites() {
    content_.update(buffer_.data(), buffer_.size());
    if (plan_.way == SaveWay::InPlace) {
        flushInPlace();
        return;
    }
    if (const int err = writeAll(*fs_, fd_, buffer_.data(), buffer_.size()))
        failRewrite(err);   // ENOSPC too when nothing was stored and no reason given: a full disk
    buffer_.clear();
}

void FileVar::flushInPlace() {
    const unsigned char* data = buffer_.data();
    std::size_t size = buffer_.size();
    std::uint64_t at = flushedTo_;
    if (!diverged_) {
        // Bytes equal to the old ones are left as they are: a catalogue that
        // only grew journals nothing but its length.
        std::size_t same = 0;
        if (at < oldSize_) {
            const std::size_t compared = std::size_t(std::min<std::uint64_t>(size, oldSize_ - at));
            scratch_.resize(compared);
            const ssize_t got = preadAll(*fs_, fd_, scratch_.data(), compared, at);
            if (got < 0)
                failRewrite(errno);
            same = std::size_t(std::mismatch(data, data + got, scratch_.data()).first - data);
        }
        if (same == size) {
            flushedTo_ += size;
            buffer_.clear();
            return;
        }
        try {
            journal_->keepFrom(at + same);
        } catch (const IoError& e) {
            failRewrite(e);
        }
        diverged_ = true;
        data += same;
        size -= same;
        at += same;
    }
    if (const int err = pwriteAll(*fs_, fd_, data, size, at))
        failRewrite(err);
    flushedTo_ = at + size;
    buffer_.clear();
}

void FileVar::abandonRewrite() noexcept {
    // A file rewritten in place goes back to what it was; a temporary goes.
    if (plan_.way == SaveWay::InPlace && journal_) {
        rollbackPending_ = !journal_->rollBack();
        journal_.reset();
    }
    fs_->close(fd_);
    if (plan_.way == SaveWay::Replace && !plan_.temporary.name.empty())
        retryInterrupted([&] { return fs_->unlink(place_.folder(), plan_.temporary.name); });
    plan_.temporary = {};
    fd_ = -1;
    mode_ = Mode::Closed;
}

void FileVar::failRewrite(int err) {
    abandonRewrite();
    throw IoError::fromErrno(err);
}

void FileVar::failRewrite(const IoError& error) {
    const IoError copy = error;
    abandonRewrite();
    throw copy;
}

void FileVar::close() {
    if (mode_ == Mode::Closed)
        throw IoError::fromCode(io::FileNotOpen);
    if (mode_ == Mode::Reading) {
        int fd = fd_;
        fd_ = -1;
        mode_ = Mode::Closed;
        buffer_.clear();
        buffer_.shrink_to_fit();
        // Linux releases the descriptor even when close is interrupted.
        if (fs_->close(fd) != 0 && errno != EINTR)
            throw IoError::fromErrno(errno);
        return;
    }
    flushWrites();
    buffer_.shrink_to_fit();
    if (plan_.way == SaveWay::InPlace)
        finishInPlace();
    else
        finishReplacing();
}

void FileVar::finishInPlace() {
    try {
        // A file that only got shorter keeps its cut-off end in the journal.
        if (!diverged_)
            journal_->keepFrom(position_);
    } catch (const IoError& e) {
        failRewrite(e);
    }
    if (position_ != oldSize_ && retryInterrupted([&] { return fs_->ftruncate(fd_, off_t(position_)); }) != 0)
        failRewrite(errno);
    if (retryInterrupted([&] { return fs_->fsync(fd_); }) != 0)
        failRewrite(errno);
    struct ::stat st{};
    if (retryInterrupted([&] { return fs_->fstat(fd_, &st); }) != 0)
        failRewrite(errno);
    // The new file is whole and durable: from here on it stays.
    try {
        journal_->commit();
    } catch (const IoError& e) {
        failRewrite(e);
    }
    journal_.reset();
    identity_ = FileIdentity::of(st);
    const int fd = fd_;
    fd_ = -1;
    mode_ = Mode::Closed;
    if (fs_->close(fd) != 0 && errno != EINTR)
        throw IoError::fromErrno(errno);
}

void FileVar::finishReplacing() {
    if (retryInterrupted([&] { return fs_->fsync(fd_); }) != 0)
        failRewrite(errno);
    struct ::stat st{};
    if (retryInterrupted([&] { return fs_->fstat(fd_, &st); }) != 0)
        failRewrite(errno);
    try {
        nameTemporary(*fs_, place_.folder(), place_.leaf(), plan_.temporary);
        // Whatever another program wrote to the old file since it was
        // merged would be lost by the rename.
        if (expecting_) {
            struct ::stat now{};
            const bool there = retryInterrupted([&] { return fs_->lstat(place_.folder(), place_.leaf(), &now); }) == 0;
            if (!there && errno != ENOENT)
                throw IoError::fromErrno(errno);
            requireExpected(there ? &now : nullptr);
        }
        if (beforeReplacing_)
            beforeReplacing_(fd_);
    } catch (...) {
        abandonRewrite();
        throw;
    }
    const int fd = fd_;
    fd_ = -1;
    mode_ = Mode::Closed;
    if (fs_->close(fd) != 0 && errno != EINTR) {
        const int err = errno;
        retryInterrupted([&] { return fs_->unlink(place_.folder(), plan_.temporary.name); });
        plan_.temporary = {};
        throw IoError::fromErrno(err);
    }
    if (retryInterrupted([&] { return fs_->rename(place_.folder(), plan_.temporary.name, place_.folder(), place_.leaf()); }) != 0) {
        const int err = errno;
        retryInterrupted([&] { return fs_->unlink(place_.folder(), plan_.temporary.name); });
        plan_.temporary = {};
        throw IoError::fromErrno(err);
    }
    plan_.temporary = {};
    identity_ = FileIdentity::of(st);
    syncFolder();
}

void FileVar::syncFolder() {
    // The rename is durable only once the folder is. The save has happened
    // whatever this says: a failure is kept for the caller to mention, not
    // raised as a failed save that would invite saving again.
    const int err = vrindel::syncFolder(*fs_, place_.folder());
    // Some file systems cannot sync a folder at all, and need not.
    if (err != 0 && err != EINVAL && err != ENOTSUP && err != ENOSYS)
        folderSyncError_ = err;
}

}  // namespace vrindel
