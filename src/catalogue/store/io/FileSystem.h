#pragma once
// Every operating-system call the file layer makes, behind one seam that
// tests can make fail. Names are always taken relative to a folder held
// open (`dir`, or AT_FDCWD), so that a folder renamed or swapped for a link
// after it was opened cannot redirect a read or a write.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vrindel {

class FileSystem {
public:
    enum class Call {
        Open, Read, Write, Fsync, Close, Rename, Unlink, Stat, Lstat, Readlink, Fstat, Fchmod,
        Fchown, Ftruncate, Fallocate, Link, CopyAccess, Pread, Pwrite, Mkdir, ListFolder,
    };

    virtual ~FileSystem() = default;
    // Each returns what the POSIX call returns and sets errno on failure.
    virtual int open(int dir, const std::string& name, int flags, mode_t mode) = 0;   // openat
    virtual ssize_t read(int fd, void* buffer, std::size_t size) = 0;
    virtual ssize_t write(int fd, const void* buffer, std::size_t size) = 0;
    virtual ssize_t pread(int fd, void* buffer, std::size_t size, off_t offset) = 0;
    virtual ssize_t pwrite(int fd, const void* buffer, std::size_t size, off_t offset) = 0;
    virtual int fsync(int fd) = 0;
    virtual int close(int fd) = 0;
    virtual int rename(int fromDir, const std::string& from, int toDir, const std::string& to) = 0;
    virtual int unlink(int dir, const std::string& name) = 0;
    virtual int mkdir(int dir, const std::string& name, mode_t mode) = 0;   // mkdirat
    virtual int stat(int dir, const std::string& name, struct ::stat* st) = 0;    // links followed
    virtual int lstat(int dir, const std::string& name, struct ::stat* st) = 0;   // a link itself
    virtual ssize_t readlink(int dir, const std::string& name, char* buffer, std::size_t size) = 0;
    virtual int fstat(int fd, struct ::stat* st) = 0;
    virtual int fchmod(int fd, mode_t mode) = 0;
    virtual int fchown(int fd, uid_t owner, gid_t group) = 0;
    virtual int ftruncate(int fd, off_t length) = 0;
    // posix_fallocate, but as the others: -1 with errno on failure.
    virtual int fallocate(int fd, off_t offset, off_t length) = 0;
    // Gives an open unnamed file (O_TMPFILE) the name `name` in `dir`.
    virtual int link(int fd, int dir, const std::string& name) = 0;
    // Gives `to` the access control list and extended attributes of `from`
    // (its mode bits included). Where `from` has none beyond its mode, only
    // the mode is set.
    virtual int copyAccess(int from, int to) = 0;
    // Every name in the folder `dir` (held open, O_PATH will do), "." and
    // ".." left out, in the order the folder keeps them.
    virtual int listFolder(int dir, std::vector<std::string>& names) = 0;
};

// The real calls.
FileSystem& systemFileSystem();

// What every part of the file layer does with the calls, each call made
// again after a signal.

// Reads `size` bytes at `at`, fewer only at the file's end; -1 with errno
// on failure.
ssize_t preadAll(FileSystem& fs, int fd, void* data, std::size_t size, std::uint64_t at);
// Writes all `size` bytes; 0, or the errno of the failure (ENOSPC for a
// call that stored nothing and gave no reason).
int writeAll(FileSystem& fs, int fd, const void* data, std::size_t size);
int pwriteAll(FileSystem& fs, int fd, const void* data, std::size_t size, std::uint64_t at);
// Makes the names in `folder` last a power cut: 0, or the errno of opening
// or syncing it.
int syncFolder(FileSystem& fs, int folder);
// The folder refuses new files; a file in it may still be written.
inline bool folderRefuses(int err) { return err == EACCES || err == EPERM || err == EROFS; }

}  // namespace vrindel
