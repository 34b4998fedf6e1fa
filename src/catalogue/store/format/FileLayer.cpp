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

// Past a size limit (ulimit -f) a write kills the process unless the signal
// is ignored: then it fails with EFBIG, a save error like a full disk.
void ignoreFileSizeSignal() {
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGXFSZ, SIG_IGN); });
}

}  // namespace

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
    rewrite_.reset();
    ignoreFileSizeSignal();
    // Through a link or a folder swapped since start-up the save would
    // land in a file that is no catalogue of ours.
    requireHeldPlace();
    rewrite_ = std::make_unique<SafeRewrite>(*fs_, place(), beforeReplacing_);
    rewrite_->begin(records * recordSize, expected);
    mode_ = Mode::Writing;
    recordSize_ = recordSize;
    position_ = 0;
    fileSize_ = 0;
    buffer_.clear();
    content_ = ContentHash();
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
    try {
        rewrite_->write(buffer_.data(), buffer_.size());
    } catch (...) {
        mode_ = Mode::Closed;
        throw;
    }
    buffer_.clear();
}

void FileVar::abandonRewrite() noexcept {
    rewrite_->abandon();
    mode_ = Mode::Closed;
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
    mode_ = Mode::Closed;
    identity_ = rewrite_->finish();
}

}  // namespace vrindel
