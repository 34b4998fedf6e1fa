#pragma once
// The file layer: file variables read and written in whole fixed-size
// records, over a seam of operating-system calls that tests can make fail.
//
// Only regular files are read and written: a link is followed to one, and
// anything else at a name (a FIFO, a device, a socket, a folder, a link that
// loops or leads into a missing folder) is refused before it is opened for
// writing, never created over or replaced.
//
// A rewrite writes an unnamed temporary file beside the target (a named one
// where the file system has no unnamed files), makes it durable and renames
// it over the target, so a failure at any step leaves the old file byte for
// byte as it was. The new file takes the old one's mode, owner and group.
// Where that way cannot keep them (a user who may not give the file away),
// or cannot be taken at all (a folder the user may not write, a file with
// several hard links), the file is rewritten in place instead: the whole new
// size is reserved first, so a full disk is found before any byte changes,
// then the records are written, the file cut to its new size and synced.
// A crash in the middle of an in-place rewrite can leave old and new records
// mixed; that is the price of that way.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Errors.h"

namespace vrindel {

// Every system call the file layer makes. Each returns what the POSIX call
// returns and sets errno on failure.
class FileSystem {
public:
    enum class Call {
        Open, Read, Write, Fsync, Close, Rename, Unlink, Stat, Lstat, Readlink, Fstat, Fchmod,
        Fchown, Ftruncate, Fallocate, Link,
    };

    virtual ~FileSystem() = default;
    virtual int open(const std::string& path, int flags, mode_t mode) = 0;
    virtual ssize_t read(int fd, void* buffer, std::size_t size) = 0;
    virtual ssize_t write(int fd, const void* buffer, std::size_t size) = 0;
    virtual int fsync(int fd) = 0;
    virtual int close(int fd) = 0;
    virtual int rename(const std::string& from, const std::string& to) = 0;
    virtual int unlink(const std::string& path) = 0;
    virtual int stat(const std::string& path, struct ::stat* st) = 0;
    virtual int lstat(const std::string& path, struct ::stat* st) = 0;
    virtual ssize_t readlink(const std::string& path, char* buffer, std::size_t size) = 0;
    virtual int fstat(int fd, struct ::stat* st) = 0;
    virtual int fchmod(int fd, mode_t mode) = 0;
    virtual int fchown(int fd, uid_t owner, gid_t group) = 0;
    virtual int ftruncate(int fd, off_t length) = 0;
    // posix_fallocate, but as the others: -1 with errno on failure.
    virtual int fallocate(int fd, off_t offset, off_t length) = 0;
    // Gives an open unnamed file (O_TMPFILE) the name `path`.
    virtual int link(int fd, const std::string& path) = 0;
};

// Which file a name led to when it was read or written: its device and
// inode, and its size and modification time, so that a later save can tell
// whether it is still the same file, unchanged.
struct FileIdentity {
    bool present = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t mtimeNs = 0;

    static FileIdentity of(const struct ::stat& st);
    bool sameFile(const FileIdentity& other) const {
        return present == other.present && (!present || (device == other.device && inode == other.inode));
    }
    bool operator==(const FileIdentity& other) const = default;
};

// Removes the temporary files that rewrites of `target` left behind in a
// process that is gone (killed in the middle of a save). Those of live
// processes are left alone. Never fails.
void removeStaleTemporaries(FileSystem& fs, const std::string& target);

// The real calls.
FileSystem& systemFileSystem();

// Passes every call through to another file system, except those it has
// been told to fail: the nth call of a kind (counted from 1) fails with the
// given errno, `times` times in a row. A write can also be told to store
// only part of its data, as a nearly full disk does.
class FaultyFileSystem : public FileSystem {
public:
    explicit FaultyFileSystem(FileSystem& real = systemFileSystem()) : real_(real) {}

    void failOn(Call call, int nth, int err, int times = 1);
    void shortWriteOn(int nth, std::size_t bytes);
    void reset();                                   // forget faults and counts
    int calls(Call call) const;
    int injected() const { return injected_; }      // faults actually delivered

    int open(const std::string& path, int flags, mode_t mode) override;
    ssize_t read(int fd, void* buffer, std::size_t size) override;
    ssize_t write(int fd, const void* buffer, std::size_t size) override;
    int fsync(int fd) override;
    int close(int fd) override;
    int rename(const std::string& from, const std::string& to) override;
    int unlink(const std::string& path) override;
    int stat(const std::string& path, struct ::stat* st) override;
    int lstat(const std::string& path, struct ::stat* st) override;
    ssize_t readlink(const std::string& path, char* buffer, std::size_t size) override;
    int fstat(int fd, struct ::stat* st) override;
    int fchmod(int fd, mode_t mode) override;
    int fchown(int fd, uid_t owner, gid_t group) override;
    int ftruncate(int fd, off_t length) override;
    int fallocate(int fd, off_t offset, off_t length) override;
    int link(int fd, const std::string& path) override;

private:
    struct Fault {
        int err;
        int times;
    };
    bool shouldFail(Call call);   // counts the call; sets errno when it fails

    FileSystem& real_;
    std::map<Call, int> counts_;
    std::map<std::pair<Call, int>, Fault> faults_;
    std::map<int, std::size_t> shortWrites_;
    int injected_ = 0;
};

// A file variable: bound to a name, opened, used and closed within one
// procedure. Failures raise IoError with the file layer's codes.
class FileVar {
public:
    explicit FileVar(FileSystem& fs = systemFileSystem()) : fs_(&fs) {}
    ~FileVar();
    FileVar(const FileVar&) = delete;
    FileVar& operator=(const FileVar&) = delete;

    void setFileSystem(FileSystem& fs) { fs_ = &fs; }

    // Binding touches nothing on disk.
    void assign(std::string name) { name_ = std::move(name); }
    const std::string& name() const { return name_; }

    // False only when nothing is at the name (nor, for a link, at its
    // target in a folder that is there) and for a folder, which has always
    // counted as missing. Anything else exists, even when it cannot be
    // opened: a FIFO, a device, a link that loops or leads into a missing
    // folder. A failure to tell is raised.
    bool exists() const;

    // Where the name leads, links followed; the name itself when it is no
    // link or leads nowhere. Raises a link loop (ELOOP).
    std::string resolve() const;

    // Opens an existing regular file for reading. Like the format's first
    // readers it asks for write access as well, so a read-only file is
    // refused (5); so is anything that is not a regular file.
    void reset(std::size_t recordSize);
    // Begins rewriting the file whole. The target must be a writable regular
    // file if it exists (5 otherwise, before anything is written). `records`
    // is how many records will be written, so that an in-place rewrite can
    // reserve their room first. With `expected`, the target must still be
    // that file (or still absent): anything else raises FileChanged.
    void rewrite(std::size_t recordSize, std::uint64_t records = 0, const FileIdentity* expected = nullptr);

    // Reads one record. A short one is copied as far as it goes and then
    // fails with 100.
    void readRecord(void* record);
    void writeRecord(const void* record);
    // Whether the position, in whole records, has reached the file's size
    // in whole records.
    bool eof() const;
    std::uint64_t sizeInRecords() const { return recordSize_ ? fileSize_ / recordSize_ : 0; }

    // Closing a variable that is not open fails with 103. Closing a rewrite
    // flushes, syncs and renames; on failure the old file is untouched.
    void close();
    bool isOpen() const { return mode_ != Mode::Closed; }

    // The file the last reset() opened, or the last rewrite wrote.
    const FileIdentity& identity() const { return identity_; }
    // Whether the last rewrite was made in place.
    bool rewroteInPlace() const { return inPlace_; }

private:
    enum class Mode { Closed, Reading, Writing };

    void flushWrites();
    void abandonRewrite() noexcept;
    [[noreturn]] void failRewrite(int err);
    std::string resolveLinks(const std::string& path) const;
    int openRetrying(const std::string& path, int flags, mode_t mode);
    // The temporary file, ready for records with the old file's mode, owner
    // and group; -1 when the target must be rewritten in place instead.
    int createTemporary(const struct ::stat* old);
    void beginInPlace(int fd, const struct ::stat& old, std::uint64_t bytes);
    void finishInPlace();
    void finishReplacing();
    void syncFolder();

    FileSystem* fs_;
    std::string name_;
    Mode mode_ = Mode::Closed;
    int fd_ = -1;
    std::size_t recordSize_ = 0;
    std::uint64_t fileSize_ = 0;
    std::uint64_t position_ = 0;   // in bytes

    std::vector<unsigned char> buffer_;
    std::size_t bufferAt_ = 0;     // reading: next unread byte in buffer_
    bool endReached_ = false;

    std::string target_;           // rewriting: the file being replaced
    std::string temp_;             // its temporary name, once it has one
    bool unnamed_ = false;         // the temporary file has no name yet
    bool inPlace_ = false;
    FileIdentity identity_;
};

}  // namespace vrindel
