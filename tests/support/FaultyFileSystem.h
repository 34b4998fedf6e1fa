#pragma once
// A file system for tests: passes every call through to another one, except
// those it has been told to fail: the nth call of a kind (counted from 1)
// fails with the given errno, `times` times in a row. A write can also be
// told to store only part of its data, as a nearly full disk does.

#include <map>
#include <utility>

#include "store/io/FileSystem.h"

namespace vrindel {

class FaultyFileSystem : public FileSystem {
public:
    explicit FaultyFileSystem(FileSystem& real = systemFileSystem()) : real_(real) {}

    void failOn(Call call, int nth, int err, int times = 1);
    // The nth write (or pwrite) stores only `bytes` of what it is given.
    void shortWriteOn(int nth, std::size_t bytes, Call call = Call::Write);
    // As if the process were killed at its nth call of any kind, counted
    // from now: that call stores half of what it writes, if it writes, and
    // fails; so does every later call, so that nothing more reaches the disk.
    void dieAt(int nth);
    bool dead() const { return dieAt_ > 0 && allCalls_ >= dieAt_; }
    void reset();                                   // forget faults and counts
    int calls(Call call) const;
    int injected() const { return injected_; }      // faults actually delivered

    int open(int dir, const std::string& name, int flags, mode_t mode) override;
    ssize_t read(int fd, void* buffer, std::size_t size) override;
    ssize_t write(int fd, const void* buffer, std::size_t size) override;
    ssize_t pread(int fd, void* buffer, std::size_t size, off_t offset) override;
    ssize_t pwrite(int fd, const void* buffer, std::size_t size, off_t offset) override;
    int mkdir(int dir, const std::string& name, mode_t mode) override;
    int fsync(int fd) override;
    int close(int fd) override;
    int rename(int fromDir, const std::string& from, int toDir, const std::string& to) override;
    int unlink(int dir, const std::string& name) override;
    int stat(int dir, const std::string& name, struct ::stat* st) override;
    int lstat(int dir, const std::string& name, struct ::stat* st) override;
    ssize_t readlink(int dir, const std::string& name, char* buffer, std::size_t size) override;
    int fstat(int fd, struct ::stat* st) override;
    int fchmod(int fd, mode_t mode) override;
    int fchown(int fd, uid_t owner, gid_t group) override;
    int ftruncate(int fd, off_t length) override;
    int fallocate(int fd, off_t offset, off_t length) override;
    int link(int fd, int dir, const std::string& name) override;
    int copyAccess(int from, int to) override;

private:
    struct Fault {
        int err;
        int times;
    };
    bool shouldFail(Call call);   // counts the call; sets errno when it fails

    FileSystem& real_;
    std::map<Call, int> counts_;
    std::map<std::pair<Call, int>, Fault> faults_;
    std::map<std::pair<Call, int>, std::size_t> shortWrites_;
    int injected_ = 0;
    int allCalls_ = 0;
    int dieAt_ = 0;
};

}  // namespace vrindel
