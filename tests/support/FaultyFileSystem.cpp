#include "FaultyFileSystem.h"

#include <unistd.h>

#include <cerrno>

namespace vrindel {

namespace {

// Where a descriptor of this process leads, as the kernel names it.
std::string procLink(const std::string& link) {
    char target[4096];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
    return n > 0 ? std::string(target, std::size_t(n)) : "?";
}

}  // namespace

void FaultyFileSystem::failOn(Call call, int nth, int err, int times) { faults_[{call, nth}] = {err, times}; }

void FaultyFileSystem::shortWriteOn(int nth, std::size_t bytes, Call call) { shortCalls_[{call, nth}] = bytes; }

void FaultyFileSystem::shortReadOn(int nth, std::size_t bytes, Call call) { shortCalls_[{call, nth}] = bytes; }

void FaultyFileSystem::dieAt(int nth) {
    allCalls_ = 0;
    dieAt_ = nth;
}

void FaultyFileSystem::reset() {
    allCalls_ = 0;
    dieAt_ = 0;
    counts_.clear();
    faults_.clear();
    shortCalls_.clear();
    steps_.clear();
    injected_ = 0;
}

int FaultyFileSystem::calls(Call call) const {
    auto it = counts_.find(call);
    return it == counts_.end() ? 0 : it->second;
}

bool FaultyFileSystem::shouldFail(Call call) {
    int n = ++counts_[call];
    if (dieAt_ > 0 && ++allCalls_ >= dieAt_) {
        ++injected_;
        errno = EIO;
        return true;
    }
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

std::size_t FaultyFileSystem::shortened(Call call, std::size_t size) {
    auto it = shortCalls_.find({call, calls(call)});
    if (it == shortCalls_.end() || it->second >= size)
        return size;
    ++injected_;
    return it->second;
}

template <class R>
R FaultyFileSystem::step(Call call, std::string file, R result) {
    if (result >= 0)
        steps_.push_back({call, std::move(file)});
    return result;
}

std::string FaultyFileSystem::pathOf(int fd) const {
    auto it = opened_.find(fd);
    return it != opened_.end() ? it->second : procLink("/proc/self/fd/" + std::to_string(fd));
}

std::string FaultyFileSystem::pathIn(int dir, const std::string& name) const {
    if (name.starts_with('/'))
        return name;
    const std::string folder = dir == AT_FDCWD ? procLink("/proc/self/cwd") : pathOf(dir);
    return name == "." ? folder : folder + (folder.ends_with('/') ? "" : "/") + name;
}

int FaultyFileSystem::open(int d, const std::string& p, int f, mode_t m) {
    if (shouldFail(Call::Open))
        return -1;
    const int fd = real_.open(d, p, f, m);
    if (fd >= 0)
        opened_[fd] = procLink("/proc/self/fd/" + std::to_string(fd));
    return fd;
}
ssize_t FaultyFileSystem::read(int fd, void* b, std::size_t n) {
    return shouldFail(Call::Read) ? -1 : real_.read(fd, b, shortened(Call::Read, n));
}
ssize_t FaultyFileSystem::write(int fd, const void* b, std::size_t n) {
    if (shouldFail(Call::Write)) {
        // Killed in the middle of it: half of it is on disk.
        if (dieAt_ > 0 && allCalls_ == dieAt_ && real_.write(fd, b, n / 2) >= 0)
            errno = EIO;
        return -1;
    }
    return step(Call::Write, pathOf(fd), real_.write(fd, b, shortened(Call::Write, n)));
}
ssize_t FaultyFileSystem::pread(int fd, void* b, std::size_t n, off_t at) {
    return shouldFail(Call::Pread) ? -1 : real_.pread(fd, b, shortened(Call::Pread, n), at);
}
ssize_t FaultyFileSystem::pwrite(int fd, const void* b, std::size_t n, off_t at) {
    if (shouldFail(Call::Pwrite)) {
        // Killed in the middle of it: half of it is on disk.
        if (dieAt_ > 0 && allCalls_ == dieAt_ && real_.pwrite(fd, b, n / 2, at) >= 0)
            errno = EIO;
        return -1;
    }
    return step(Call::Pwrite, pathOf(fd), real_.pwrite(fd, b, shortened(Call::Pwrite, n), at));
}
int FaultyFileSystem::mkdir(int d, const std::string& p, mode_t m) {
    return shouldFail(Call::Mkdir) ? -1 : real_.mkdir(d, p, m);
}
int FaultyFileSystem::fsync(int fd) {
    return shouldFail(Call::Fsync) ? -1 : step(Call::Fsync, pathOf(fd), real_.fsync(fd));
}
int FaultyFileSystem::close(int fd) {
    opened_.erase(fd);
    if (shouldFail(Call::Close)) {
        // A failing close still releases the descriptor, as on Linux.
        int saved = errno;
        real_.close(fd);
        errno = saved;
        return -1;
    }
    return real_.close(fd);
}
int FaultyFileSystem::rename(int fd, const std::string& a, int td, const std::string& b) {
    return shouldFail(Call::Rename) ? -1 : step(Call::Rename, pathIn(td, b), real_.rename(fd, a, td, b));
}
int FaultyFileSystem::unlink(int d, const std::string& p) {
    return shouldFail(Call::Unlink) ? -1 : step(Call::Unlink, pathIn(d, p), real_.unlink(d, p));
}
int FaultyFileSystem::stat(int d, const std::string& p, struct ::stat* st) {
    return shouldFail(Call::Stat) ? -1 : real_.stat(d, p, st);
}
int FaultyFileSystem::lstat(int d, const std::string& p, struct ::stat* st) {
    return shouldFail(Call::Lstat) ? -1 : real_.lstat(d, p, st);
}
ssize_t FaultyFileSystem::readlink(int d, const std::string& p, char* b, std::size_t n) {
    return shouldFail(Call::Readlink) ? -1 : real_.readlink(d, p, b, n);
}
int FaultyFileSystem::fstat(int fd, struct ::stat* st) { return shouldFail(Call::Fstat) ? -1 : real_.fstat(fd, st); }
int FaultyFileSystem::fchmod(int fd, mode_t m) { return shouldFail(Call::Fchmod) ? -1 : real_.fchmod(fd, m); }
int FaultyFileSystem::fchown(int fd, uid_t u, gid_t g) { return shouldFail(Call::Fchown) ? -1 : real_.fchown(fd, u, g); }
int FaultyFileSystem::ftruncate(int fd, off_t n) {
    return shouldFail(Call::Ftruncate) ? -1 : step(Call::Ftruncate, pathOf(fd), real_.ftruncate(fd, n));
}
int FaultyFileSystem::fallocate(int fd, off_t o, off_t n) { return shouldFail(Call::Fallocate) ? -1 : real_.fallocate(fd, o, n); }
int FaultyFileSystem::link(int fd, int d, const std::string& p) { return shouldFail(Call::Link) ? -1 : real_.link(fd, d, p); }
int FaultyFileSystem::copyAccess(int from, int to) {
    return shouldFail(Call::CopyAccess) ? -1 : real_.copyAccess(from, to);
}
int FaultyFileSystem::listFolder(int d, std::vector<std::string>& names) {
    return shouldFail(Call::ListFolder) ? -1 : real_.listFolder(d, names);
}

}  // namespace vrindel
