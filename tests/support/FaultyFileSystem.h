#pragma once
// A file system for tests: passes every call through to another one, except
// those it has been told to fail: the nth call of a kind (counted from 1)
// fails with the given errno, `times` times in a row. A write can also be
// told to store only part of its data, as a nearly full disk does, and a
// read to return only part of what it asked for, as a signal or a network
// file system may make it. It also keeps, in order, the calls that change a
// file or make it durable, so that a test can tell what reached the disk
// before what.

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "store/io/FileSystem.h"

namespace vrindel {

class FaultyFileSystem : public FileSystem {
public:
    explicit FaultyFileSystem(FileSystem& real = systemFileSystem()) : real_(real) {}

    void failOn(Call call, int nth, int err, int times = 1);
    // The nth write (or pwrite) stores only `bytes` of what it is given.
    void shortWriteOn(int nth, std::size_t bytes, Call call = Call::Write);
    // The nth read (or pread) returns at most `bytes`, though more are there.
    void shortReadOn(int nth, std::size_t bytes, Call call = Call::Read);
    // As if the process were killed at its nth call of any kind, counted
    // from now: that call stores half of what it writes, if it writes, and
    // fails; so does every later call, so that nothing more reaches the disk.
    void dieAt(int nth);
    bool dead() const { return dieAt_ > 0 && allCalls_ >= dieAt_; }
    void reset();                                   // forget faults, counts and steps
    int calls(Call call) const;
    int injected() const { return injected_; }      // faults actually delivered

    // A write, pwrite, ftruncate or fsync of an open file (a folder too,
    // when it is synced), or an unlink or rename of a name, that succeeded.
    // `file` is the file's absolute path: for a descriptor the one it was
    // opened by (one opened elsewhere, where it leads now), for a rename
    // the new name.
    struct Step {
        Call call;
        std::string file;
    };
    const std::vector<Step>& steps() const { return steps_; }

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
    int listFolder(int dir, std::vector<std::string>& names) override;

private:
    struct Fault {
        int err;
        int times;
    };
    bool shouldFail(Call call);   // counts the call; sets errno when it fails
    std::size_t shortened(Call call, std::size_t size);   // what this call of the kind may move
    template <class R>
    R step(Call call, std::string file, R result);        // keeps a step that succeeded
    std::string pathOf(int fd) const;
    std::string pathIn(int dir, const std::string& name) const;

    FileSystem& real_;
    std::map<Call, int> counts_;
    std::map<std::pair<Call, int>, Fault> faults_;
    std::map<std::pair<Call, int>, std::size_t> shortCalls_;
    std::map<int, std::string> opened_;   // descriptor -> the path it was opened by
    std::vector<Step> steps_;
    int injected_ = 0;
    int allCalls_ = 0;
    int dieAt_ = 0;
};

}  // namespace vrindel
