#pragma once
// The file layer: file variables read and written in whole fixed-size
// records, over a seam of operating-system calls that tests can make fail.
//
// A rewrite never truncates the file in place. It writes a temporary file
// beside the target, makes it durable and renames it over the target, so a
// failure at any step leaves the old file byte for byte as it was.

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
    enum class Call { Open, Read, Write, Fsync, Close, Rename, Unlink, Stat, Lstat, Readlink, Fstat, Fchmod };

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
};

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

    // Only a regular file (or a link to one) counts; a directory does not.
    bool exists() const;

    // Opens an existing file for reading. Like the format's first readers
    // it asks for write access as well, so a read-only file is refused (5).
    void reset(std::size_t recordSize);
    // Begins rewriting the file whole. The target must be writable if it
    // exists (5 otherwise, before anything is written). Records go to a
    // temporary file that close() puts in the target's place.
    void rewrite(std::size_t recordSize);

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

private:
    enum class Mode { Closed, Reading, Writing };

    void flushWrites();
    void abandonRewrite() noexcept;
    [[noreturn]] void failRewrite(int err);
    std::string resolveLinks(const std::string& path) const;
    int openRetrying(const std::string& path, int flags, mode_t mode);

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
    std::string temp_;
};

}  // namespace vrindel
