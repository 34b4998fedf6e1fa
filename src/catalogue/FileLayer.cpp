#include "FileLayer.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace vrindel {

namespace {

constexpr std::size_t ChunkSize = 1 << 18;

class SystemFileSystem final : public FileSystem {
public:
    int open(const std::string& path, int flags, mode_t mode) override { return ::open(path.c_str(), flags, mode); }
    ssize_t read(int fd, void* b, std::size_t n) override { return ::read(fd, b, n); }
    ssize_t write(int fd, const void* b, std::size_t n) override { return ::write(fd, b, n); }
    int fsync(int fd) override { return ::fsync(fd); }
    int close(int fd) override { return ::close(fd); }
    int rename(const std::string& a, const std::string& b) override { return ::rename(a.c_str(), b.c_str()); }
    int unlink(const std::string& p) override { return ::unlink(p.c_str()); }
    int stat(const std::string& p, struct ::stat* st) override { return ::stat(p.c_str(), st); }
    int lstat(const std::string& p, struct ::stat* st) override { return ::lstat(p.c_str(), st); }
    ssize_t readlink(const std::string& p, char* b, std::size_t n) override { return ::readlink(p.c_str(), b, n); }
    int fstat(int fd, struct ::stat* st) override { return ::fstat(fd, st); }
    int fchmod(int fd, mode_t m) override { return ::fchmod(fd, m); }
};

std::string directoryOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Repeats a call that a signal interrupted before it did anything.
template <class F>
auto retryInterrupted(F call) {
    decltype(call()) r;
    do
        r = call();
    while (r < 0 && errno == EINTR);
    return r;
}

}  // namespace

FileSystem& systemFileSystem() {
    static SystemFileSystem fs;
    return fs;
}

// --- FaultyFileSystem ----------------------------------------------------------

void FaultyFileSystem::failOn(Call call, int nth, int err, int times) { faults_[{call, nth}] = {err, times}; }

void FaultyFileSystem::shortWriteOn(int nth, std::size_t bytes) { shortWrites_[nth] = bytes; }

void FaultyFileSystem::reset() {
    counts_.clear();
    faults_.clear();
    shortWrites_.clear();
    injected_ = 0;
}

int FaultyFileSystem::calls(Call call) const {
    auto it = counts_.find(call);
    return it == counts_.end() ? 0 : it->second;
}

bool FaultyFileSystem::shouldFail(Call call) {
    int n = ++counts_[call];
    // A fault given `times` repeats covers the calls nth .. nth+times-1.
    for (auto& [key, fault] : faults_) {
        if (key.first == call && n >= key.second && n < key.second + fault.times) {
            ++injected_;
            errno = fault.err;
            return true;
        }
    }
    return false;
}

int FaultyFileSystem::open(const std::string& p, int f, mode_t m) { return shouldFail(Call::Open) ? -1 : real_.open(p, f, m); }
ssize_t FaultyFileSystem::read(int fd, void* b, std::size_t n) { return shouldFail(Call::Read) ? -1 : real_.read(fd, b, n); }
ssize_t FaultyFileSystem::write(int fd, const void* b, std::size_t n) {
    if (shouldFail(Call::Write))
        return -1;
    auto it = shortWrites_.find(calls(Call::Write));
    if (it != shortWrites_.end() && it->second < n) {
        ++injected_;
        n = it->second;
    }
    return real_.write(fd, b, n);
}
int FaultyFileSystem::fsync(int fd) { return shouldFail(Call::Fsync) ? -1 : real_.fsync(fd); }
int FaultyFileSystem::close(int fd) {
    if (shouldFail(Call::Close)) {
        // A failing close still releases the descriptor, as on Linux.
        int saved = errno;
        real_.close(fd);
        errno = saved;
        return -1;
    }
    return real_.close(fd);
}
int FaultyFileSystem::rename(const std::string& a, const std::string& b) { return shouldFail(Call::Rename) ? -1 : real_.rename(a, b); }
int FaultyFileSystem::unlink(const std::string& p) { return shouldFail(Call::Unlink) ? -1 : real_.unlink(p); }
int FaultyFileSystem::stat(const std::string& p, struct ::stat* st) { return shouldFail(Call::Stat) ? -1 : real_.stat(p, st); }
int FaultyFileSystem::lstat(const std::string& p, struct ::stat* st) { return shouldFail(Call::Lstat) ? -1 : real_.lstat(p, st); }
ssize_t FaultyFileSystem::readlink(const std::string& p, char* b, std::size_t n) { return shouldFail(Call::Readlink) ? -1 : real_.readlink(p, b, n); }
int FaultyFileSystem::fstat(int fd, struct ::stat* st) { return shouldFail(Call::Fstat) ? -1 : real_.fstat(fd, st); }
int FaultyFileSystem::fchmod(int fd, mode_t m) { return shouldFail(Call::Fchmod) ? -1 : real_.fchmod(fd, m); }

// --- FileVar -------------------------------------------------------------------

FileVar::~FileVar() {
    if (mode_ == Mode::Writing)
        abandonRewrite();
    else if (mode_ == Mode::Reading)
        fs_->close(fd_);
}

bool FileVar::exists() const {
    struct ::stat st{};
    if (retryInterrupted([&] { return fs_->stat(name_, &st); }) == 0)
        return S_ISREG(st.st_mode);
    // Only a name that is not there is missing. Any other failure says
    // nothing about the file, and taking it for missing would put an empty
    // catalogue in the place of the one that is there.
    if (errno == ENOENT || errno == ENOTDIR)
        return false;
    throw IoError::fromErrno(errno);
}

int FileVar::openRetrying(const std::string& path, int flags, mode_t mode) {
    int fd;
    do
        fd = fs_->open(path, flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

void FileVar::reset(std::size_t recordSize) {
    if (name_.empty())
        throw IoError::fromCode(io::FileNotAssigned);
    if (isOpen())
        close();
    int fd = openRetrying(name_, O_RDWR | O_CLOEXEC, 0);
    if (fd < 0)
        throw IoError::fromErrno(errno);
    struct ::stat st{};
    if (retryInterrupted([&] { return fs_->fstat(fd, &st); }) != 0) {
        int err = errno;
        fs_->close(fd);
        throw IoError::fromErrno(err);
    }
    fd_ = fd;
    mode_ = Mode::Reading;
    recordSize_ = recordSize;
    fileSize_ = std::uint64_t(st.st_size);
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

std::string FileVar::resolveLinks(const std::string& path) const {
    // A link stays a link: the file it points to is the one replaced.
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct ::stat st{};
        if (retryInterrupted([&] { return fs_->lstat(current, &st); }) != 0) {
            // Nothing there yet: the new file is made under this name. Any
            // other failure leaves open whether a link would be replaced.
            if (errno == ENOENT || errno == ENOTDIR)
                return current;
            throw IoError::fromErrno(errno);
        }
        if (!S_ISLNK(st.st_mode))
            return current;
        std::vector<char> target(4096);
        ssize_t n = retryInterrupted([&] { return fs_->readlink(current, target.data(), target.size()); });
        if (n < 0)
            throw IoError::fromErrno(errno);
        if (std::size_t(n) >= target.size())
            return current;
        std::string next(target.data(), std::size_t(n));
        current = (!next.empty() && next[0] == '/') ? next : directoryOf(current) + "/" + next;
    }
    return current;
}

void FileVar::rewrite(std::size_t recordSize) {
    if (name_.empty())
        throw IoError::fromCode(io::FileNotAssigned);
    if (isOpen())
        close();
    target_ = resolveLinks(name_);

    // An existing target must be writable, and it lends its permissions to
    // the file that replaces it.
    struct ::stat old{};
    bool existed = false;
    int probe = openRetrying(target_, O_RDWR | O_CLOEXEC, 0);
    if (probe >= 0) {
        existed = retryInterrupted([&] { return fs_->fstat(probe, &old); }) == 0;
        int err = existed ? 0 : errno;
        fs_->close(probe);
        if (!existed)
            throw IoError::fromErrno(err);
    } else if (errno != ENOENT) {
        throw IoError::fromErrno(errno);
    }

    static std::atomic<unsigned> serial{0};
    const std::string stem = directoryOf(target_) + "/." + baseOf(target_) + ".tmp-" + std::to_string(::getpid()) + "-";
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp_ = stem + std::to_string(serial++);
        fd = openRetrying(temp_, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, existed ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST)
            throw IoError::fromErrno(errno);
    }
    if (fd < 0)
        throw IoError::fromErrno(EEXIST);
    fd_ = fd;
    mode_ = Mode::Writing;
    recordSize_ = recordSize;
    position_ = 0;
    fileSize_ = 0;
    buffer_.clear();
    if (existed && retryInterrupted([&] { return fs_->fchmod(fd_, old.st_mode & 07777); }) != 0)
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
    retryInterrupted([&] { return fs_->unlink(temp_); });
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
    int r;
    do
        r = fs_->fsync(fd_);
    while (r != 0 && errno == EINTR);
    if (r != 0)
        failRewrite(errno);
    int fd = fd_;
    fd_ = -1;
    if (fs_->close(fd) != 0 && errno != EINTR) {
        int err = errno;
        retryInterrupted([&] { return fs_->unlink(temp_); });
        mode_ = Mode::Closed;
        throw IoError::fromErrno(err);
    }
    mode_ = Mode::Closed;
    if (retryInterrupted([&] { return fs_->rename(temp_, target_); }) != 0) {
        int err = errno;
        retryInterrupted([&] { return fs_->unlink(temp_); });
        throw IoError::fromErrno(err);
    }

    // The rename is durable only once the directory is.
    int dir = openRetrying(directoryOf(target_), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (dir < 0)
        throw IoError::fromErrno(errno);
    do
        r = fs_->fsync(dir);
    while (r != 0 && errno == EINTR);
    int err = errno;
    fs_->close(dir);
    // Some file systems cannot sync a directory at all; that is no failure.
    if (r != 0 && err != EINVAL && err != ENOTSUP)
        throw IoError::fromErrno(err);
}

}  // namespace vrindel
