#include "FileLayer.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
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
    int fchown(int fd, uid_t u, gid_t g) override { return ::fchown(fd, u, g); }
    int ftruncate(int fd, off_t n) override { return ::ftruncate(fd, n); }
    int fallocate(int fd, off_t offset, off_t length) override {
        // Reserved beyond the end without growing the file, so that a crash
        // before the first write leaves it as it was.
        if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, offset, length) == 0)
            return 0;
        if (errno != EOPNOTSUPP)
            return -1;
        if (int err = ::posix_fallocate(fd, offset, length)) {
            errno = err;
            return -1;
        }
        return 0;
    }
    int link(int fd, const std::string& path) override {
        // Through /proc as any user may; AT_EMPTY_PATH needs a capability.
        char proc[40];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
        if (::linkat(AT_FDCWD, proc, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return 0;
        const int err = errno;
        if (err == EEXIST || err == EINTR || err == ENOSPC || err == EDQUOT)
            return -1;
        if (::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0)
            return 0;
        errno = err;
        return -1;
    }
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

// The temporary files of a rewrite of `target`: ".Zoznam.dat.tmp-<pid>-<n>".
// (Built by appending: GCC 12 warns falsely about `"." + std::string`.)
std::string temporaryPrefix(const std::string& target) {
    std::string prefix(1, '.');
    prefix += baseOf(target);
    prefix += ".tmp-";
    return prefix;
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

FileIdentity FileIdentity::of(const struct ::stat& st) {
    return {true, st.st_dev, st.st_ino, st.st_size, std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

void removeStaleTemporaries(FileSystem& fs, const std::string& target) {
    const std::string folder = directoryOf(target);
    const std::string prefix = temporaryPrefix(target);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (!name.starts_with(prefix))
            continue;
        const std::string_view rest = name.substr(prefix.size());
        pid_t pid = 0;
        const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
        if (ec != std::errc() || end == rest.data() || end == rest.data() + rest.size() || *end != '-' || pid <= 0)
            continue;
        // A process that may still be writing it (or that we may not ask
        // about) keeps its file.
        if (pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH)
            continue;
        stale.emplace_back(folder + "/" + std::string(name));
    }
    ::closedir(dir);
    for (const std::string& path : stale)
        retryInterrupted([&] { return fs.unlink(path); });
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
int FaultyFileSystem::fchown(int fd, uid_t u, gid_t g) { return shouldFail(Call::Fchown) ? -1 : real_.fchown(fd, u, g); }
int FaultyFileSystem::ftruncate(int fd, off_t n) { return shouldFail(Call::Ftruncate) ? -1 : real_.ftruncate(fd, n); }
int FaultyFileSystem::fallocate(int fd, off_t o, off_t n) { return shouldFail(Call::Fallocate) ? -1 : real_.fallocate(fd, o, n); }
int FaultyFileSystem::link(int fd, const std::string& p) { return shouldFail(Call::Link) ? -1 : real_.link(fd, p); }

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
        return !S_ISDIR(st.st_mode);
    // A link that loops is something at the name, not a missing file.
    if (errno == ELOOP)
        return true;
    // Any other failure says nothing about the file, and taking it for
    // missing would put an empty catalogue in the place of the one there.
    if (errno != ENOENT && errno != ENOTDIR)
        throw IoError::fromErrno(errno);
    if (retryInterrupted([&] { return fs_->lstat(name_, &st); }) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return false;
        throw IoError::fromErrno(errno);
    }
    if (!S_ISLNK(st.st_mode))
        return false;
    // A link to a missing file is missing: the file is made where it leads.
    // A link into a missing folder leads nowhere a file could be made.
    const std::string folder = directoryOf(resolveLinks(name_));
    return !(retryInterrupted([&] { return fs_->stat(folder, &st); }) == 0 && S_ISDIR(st.st_mode));
}

std::string FileVar::resolve() const { return resolveLinks(name_); }

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
    // A FIFO or a device is refused before it is opened: opening one can
    // wait for a writer or act on the device.
    struct ::stat st{};
    if (retryInterrupted([&] { return fs_->stat(name_, &st); }) == 0 && !S_ISREG(st.st_mode))
        throw IoError::fromCode(io::AccessDenied);
    int fd = openRetrying(name_, O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0);
    if (fd < 0)
        throw IoError::fromErrno(errno);
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
            throw IoError::fromErrno(ENAMETOOLONG);
        std::string next(target.data(), std::size_t(n));
        current = (!next.empty() && next[0] == '/') ? next : directoryOf(current) + "/" + next;
    }
    throw IoError::fromErrno(ELOOP);
}

void FileVar::rewrite(std::size_t recordSize, std::uint64_t records, const FileIdentity* expected) {
    if (name_.empty())
        throw IoError::fromCode(io::FileNotAssigned);
    if (isOpen())
        close();
    target_ = resolveLinks(name_);
    temp_.clear();
    unnamed_ = false;
    inPlace_ = false;

    // Only a regular file is replaced. Whatever else is there (a FIFO, a
    // device, a socket, a folder) is left alone, and so is a link that
    // appeared since the name was resolved.
    struct ::stat old{};
    bool existed = false;
    if (retryInterrupted([&] { return fs_->lstat(target_, &old); }) == 0) {
        if (!S_ISREG(old.st_mode))
            throw IoError::fromCode(io::AccessDenied);
        existed = true;
    } else if (errno != ENOENT) {
        throw IoError::fromErrno(errno);
    }

    // An existing target must be writable, and lends its mode, owner and
    // group to the file that replaces it.
    int probe = -1;
    if (existed) {
        probe = openRetrying(target_, O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0);
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

    removeStaleTemporaries(*fs_, target_);
    recordSize_ = recordSize;
    position_ = 0;
    fileSize_ = 0;
    buffer_.clear();

    // Renaming would detach the other names of a file with several links.
    int fd = -1;
    if (!(existed && old.st_nlink > 1)) {
        try {
            fd = createTemporary(existed ? &old : nullptr);
        } catch (...) {
            if (probe >= 0)
                fs_->close(probe);
            throw;
        }
    }
    if (fd >= 0) {
        if (probe >= 0)
            fs_->close(probe);
        fd_ = fd;
        mode_ = Mode::Writing;
        return;
    }
    beginInPlace(probe, old, records * recordSize);
}

int FileVar::createTemporary(const struct ::stat* old) {
    const std::string folder = directoryOf(target_);
    const mode_t mode = old ? 0600 : 0666;
    // Permission to write the file but not the folder: the file is rewritten
    // in place. With no file to rewrite, that is the failure.
    auto refused = [&](int err) {
        if (old && (err == EACCES || err == EPERM))
            return -1;
        throw IoError::fromErrno(err);
    };

    // An unnamed file leaves nothing behind if the program is killed. It is
    // named later through /proc, or directly by a process with the right
    // capability (root); without either it could never be named.
    static const bool canName = ::access("/proc/self/fd", F_OK) == 0 || ::geteuid() == 0;
    int fd = canName ? openRetrying(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, mode) : -1;
    if (!canName)
        errno = EOPNOTSUPP;
    unnamed_ = fd >= 0;
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM || errno == ENOSPC || errno == EDQUOT || errno == ENOENT ||
            errno == ENOTDIR || errno == EROFS)
            return refused(errno);
        // The file system has no unnamed files: a hidden named one.
        static std::atomic<unsigned> serial{0};
        const std::string stem = folder + "/" + temporaryPrefix(target_) + std::to_string(::getpid()) + "-";
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            temp_ = stem + std::to_string(serial++);
            fd = openRetrying(temp_, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (fd < 0 && errno != EEXIST) {
                temp_.clear();
                return refused(errno);
            }
        }
        if (fd < 0) {
            temp_.clear();
            throw IoError::fromErrno(EEXIST);
        }
    }
    if (!old)
        return fd;

    auto discard = [&] {
        fs_->close(fd);
        if (!temp_.empty())
            retryInterrupted([&] { return fs_->unlink(temp_); });
        temp_.clear();
    };
    struct ::stat mine{};
    if (retryInterrupted([&] { return fs_->fstat(fd, &mine); }) != 0) {
        const int err = errno;
        discard();
        throw IoError::fromErrno(err);
    }
    if ((mine.st_uid != old->st_uid || mine.st_gid != old->st_gid) &&
        retryInterrupted([&] { return fs_->fchown(fd, old->st_uid, old->st_gid); }) != 0) {
        const int err = errno;
        discard();
        // Only root may give a file away: the owner's file is kept by
        // writing into it.
        if (err == EPERM)
            return -1;
        throw IoError::fromErrno(err);
    }
    // After the owner: giving a file away clears its set-id bits.
    if (retryInterrupted([&] { return fs_->fchmod(fd, old->st_mode & 07777); }) != 0) {
        const int err = errno;
        discard();
        throw IoError::fromErrno(err);
    }
    return fd;
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
    inPlace_ = true;
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
    if (!inPlace_ && !temp_.empty())
        retryInterrupted([&] { return fs_->unlink(temp_); });
    temp_.clear();
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
    if (inPlace_)
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
    if (unnamed_) {
        // A name of its own first: a link cannot replace the target.
        static std::atomic<unsigned> serial{0};
        const std::string stem = directoryOf(target_) + "/" + temporaryPrefix(target_) + std::to_string(::getpid()) + "-";
        int r = -1;
        for (int attempt = 0; attempt < 100 && r != 0; ++attempt) {
            temp_ = stem + "u" + std::to_string(serial++);
            r = retryInterrupted([&] { return fs_->link(fd_, temp_); });
            if (r != 0 && errno != EEXIST) {
                temp_.clear();
                failRewrite(errno);
            }
        }
        if (r != 0) {
            temp_.clear();
            failRewrite(EEXIST);
        }
    }
    const int fd = fd_;
    fd_ = -1;
    if (fs_->close(fd) != 0 && errno != EINTR) {
        const int err = errno;
        retryInterrupted([&] { return fs_->unlink(temp_); });
        temp_.clear();
        mode_ = Mode::Closed;
        throw IoError::fromErrno(err);
    }
    mode_ = Mode::Closed;
    if (retryInterrupted([&] { return fs_->rename(temp_, target_); }) != 0) {
        const int err = errno;
        retryInterrupted([&] { return fs_->unlink(temp_); });
        temp_.clear();
        throw IoError::fromErrno(err);
    }
    temp_.clear();
    identity_ = FileIdentity::of(st);
    syncFolder();
}

void FileVar::syncFolder() {
    // The rename is durable only once the directory is.
    int dir = openRetrying(directoryOf(target_), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (dir < 0)
        throw IoError::fromErrno(errno);
    int r = retryInterrupted([&] { return fs_->fsync(dir); });
    const int err = errno;
    fs_->close(dir);
    // Some file systems cannot sync a directory at all; that is no failure.
    if (r != 0 && err != EINVAL && err != ENOTSUP)
        throw IoError::fromErrno(err);
}

}  // namespace vrindel
