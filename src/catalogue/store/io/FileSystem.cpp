#include "store/io/FileSystem.h"

#include <acl/libacl.h>
#include <attr/libattr.h>
#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "store/io/Retry.h"

namespace vrindel {

namespace {

class SystemFileSystem final : public FileSystem {
public:
    int open(int dir, const std::string& name, int flags, mode_t mode) override {
        return ::openat(dir, name.c_str(), flags, mode);
    }
    ssize_t read(int fd, void* b, std::size_t n) override { return ::read(fd, b, n); }
    ssize_t write(int fd, const void* b, std::size_t n) override { return ::write(fd, b, n); }
    ssize_t pread(int fd, void* b, std::size_t n, off_t at) override { return ::pread(fd, b, n, at); }
    ssize_t pwrite(int fd, const void* b, std::size_t n, off_t at) override { return ::pwrite(fd, b, n, at); }
    int fsync(int fd) override { return ::fsync(fd); }
    int close(int fd) override { return ::close(fd); }
    int rename(int fromDir, const std::string& a, int toDir, const std::string& b) override {
        return ::renameat(fromDir, a.c_str(), toDir, b.c_str());
    }
    int unlink(int dir, const std::string& name) override { return ::unlinkat(dir, name.c_str(), 0); }
    int mkdir(int dir, const std::string& name, mode_t mode) override { return ::mkdirat(dir, name.c_str(), mode); }
    int stat(int dir, const std::string& name, struct ::stat* st) override {
        return ::fstatat(dir, name.c_str(), st, 0);
    }
    int lstat(int dir, const std::string& name, struct ::stat* st) override {
        return ::fstatat(dir, name.c_str(), st, AT_SYMLINK_NOFOLLOW);
    }
    ssize_t readlink(int dir, const std::string& name, char* b, std::size_t n) override {
        return ::readlinkat(dir, name.c_str(), b, n);
    }
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
    int link(int fd, int dir, const std::string& name) override {
        // Through /proc as any user may; AT_EMPTY_PATH needs a capability.
        char proc[40];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
        if (::linkat(AT_FDCWD, proc, dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return 0;
        const int err = errno;
        if (err == EEXIST || err == EINTR || err == ENOSPC || err == EDQUOT)
            return -1;
        if (::linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH) == 0)
            return 0;
        errno = err;
        return -1;
    }
    int copyAccess(int from, int to) override {
        // The libraries that cp and mv use; without a context they report
        // nothing themselves and leave errno for us.
        if (::perm_copy_fd(nullptr, from, nullptr, to, nullptr) != 0)
            return -1;
        return ::attr_copy_fd(nullptr, from, nullptr, to, nullptr, nullptr);
    }
    int listFolder(int dir, std::vector<std::string>& names) override {
        // A folder held for *at calls cannot be read itself: it is opened
        // again, for reading.
        const int fd = retryInterrupted([&] { return ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
        if (fd < 0)
            return -1;
        DIR* folder = ::fdopendir(fd);
        if (!folder) {
            const int err = errno;
            ::close(fd);
            errno = err;
            return -1;
        }
        names.clear();
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(folder);
            if (!entry)
                break;
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        const int err = errno;
        ::closedir(folder);
        errno = err;
        return err == 0 ? 0 : -1;
    }
};

}  // namespace

FileSystem& systemFileSystem() {
    static SystemFileSystem fs;
    return fs;
}

ssize_t preadAll(FileSystem& fs, int fd, void* data, std::size_t size, std::uint64_t at) {
    auto* out = static_cast<char*>(data);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = fs.pread(fd, out + got, size - got, off_t(at + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += std::size_t(n);
    }
    return ssize_t(got);
}

int writeAll(FileSystem& fs, int fd, const void* data, std::size_t size) {
    const auto* in = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = fs.write(fd, in, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        in += n;
        size -= std::size_t(n);
    }
    return 0;
}

int pwriteAll(FileSystem& fs, int fd, const void* data, std::size_t size, std::uint64_t at) {
    const auto* in = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = fs.pwrite(fd, in, size, off_t(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        in += n;
        at += std::uint64_t(n);
        size -= std::size_t(n);
    }
    return 0;
}

int syncFolder(FileSystem& fs, int folder) {
    const int fd = retryInterrupted([&] { return fs.open(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
    if (fd < 0)
        return errno;
    const int err = retryInterrupted([&] { return fs.fsync(fd); }) == 0 ? 0 : errno;
    fs.close(fd);
    return err;
}

}  // namespace vrindel
