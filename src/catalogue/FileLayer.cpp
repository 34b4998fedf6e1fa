#include "FileLayer.h"
#include "Retry.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vrindel {

namespace {

constexpr std::size_t ChunkSize = 1 << 18;

}  // namespace

FileIdentity FileIdentity::of(const struct ::stat& st) {
    return {true, st.st_dev, st.st_ino, st.st_size, std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
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
    if (expected && !expected->sameFile(existed ? FileIdentity::of(old) : FileIdentity{})) {
        if (probe >= 0)
            fs_->close(probe);
        throw IoError::fromCode(io::FileChanged);
    }

    removeStaleTemporaries(*fs_, at.folder(), at.leaf());
    recordSize_ = recordSize;
    position_ = 0;
    fileSize_ = 0;
    buffer_.clear();

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

void FileVar::beginInPlace(int fd, const struct ::stat& old, std::uint64_t bytes) {
    // The whole new size first: a full disk refuses it before any byte of
    // the old file changes.
    if (bytes > std::uint64_t(old.st_size) &&
        retryInterrupted([&] { return fs_->fallocate(fd, 0, off_t(bytes)); }) != 0) {
        const int err = errno;
        struct ::stat now{};
        if (fs_->fstat(fd, &now) == 0 && now.st_size != old.st_size)
            fs_->ftruncate(fd, old.st_size);
        fs_->close(fd);
        throw IoError::fromErrno(err);
    }
    fd_ = fd;
    mode_ = Mode::Writing;
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
    std::size_t done = 0;
    while (done < buffer_.size()) {
        ssize_t n = fs_->write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failRewrite(errno);
        }
        if (n == 0)
            failRewrite(ENOSPC);   // nothing stored and no reason given: a full disk
        done += std::size_t(n);
    }
    buffer_.clear();
}

void FileVar::abandonRewrite() noexcept {
    fs_->close(fd_);
    // A file rewritten in place stays as far as it got; a temporary goes.
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
    if (retryInterrupted([&] { return fs_->ftruncate(fd_, off_t(position_)); }) != 0)
        failRewrite(errno);
    if (retryInterrupted([&] { return fs_->fsync(fd_); }) != 0)
        failRewrite(errno);
    struct ::stat st{};
    if (retryInterrupted([&] { return fs_->fstat(fd_, &st); }) != 0)
        failRewrite(errno);
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
    const int dir = openRetrying(place_.folder(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (dir < 0) {
        folderSyncError_ = errno;
        return;
    }
    const int r = retryInterrupted([&] { return fs_->fsync(dir); });
    const int err = errno;
    fs_->close(dir);
    // Some file systems cannot sync a folder at all, and need not.
    if (r != 0 && err != EINVAL && err != ENOTSUP && err != ENOSYS)
        folderSyncError_ = err;
}

}  // namespace vrindel
