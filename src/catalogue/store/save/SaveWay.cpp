#include "store/save/SaveWay.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <string_view>
#include <vector>

#include "Errors.h"
#include "store/io/Retry.h"
#include "store/io/ThisComputer.h"

namespace vrindel {

namespace {

// The temporary files of saves of `leaf`:
// ".Zoznam.dat.tmp-<computer>-<pid>-<n>", the computer's tag telling this
// one from another that a sync engine carries the folder to. (Earlier
// versions wrote ".Zoznam.dat.tmp-<pid>-<n>".)
// (Built by appending: GCC 12 warns falsely about `"." + std::string`.)
std::string temporaryPrefix(const std::string& leaf) {
    std::string prefix(1, '.');
    prefix += leaf;
    prefix += ".tmp-";
    return prefix;
}

std::string temporaryStem(const std::string& leaf) {
    return temporaryPrefix(leaf) + computerTag() + "-" + std::to_string(::getpid()) + "-";
}

// Whether a temporary file's name, after its prefix, says a save that can no
// longer be going on: of this computer, of an earlier boot or by a process
// that is gone. Another computer's is never taken for this one's.
bool staleHere(std::string_view rest) {
    bool thisBoot = true;
    if (rest.size() > 16 && rest[16] == '-' && isComputerTag(rest.substr(0, 16))) {
        if (!madeHere(rest.substr(0, 16)))
            return false;
        thisBoot = madeThisBoot(rest.substr(0, 16));
        rest.remove_prefix(17);
    }
    pid_t pid = 0;
    const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
    if (ec != std::errc() || end == rest.data() || end == rest.data() + rest.size() || *end != '-' || pid <= 0)
        return false;
    if (!thisBoot)
        return true;
    // A process that may still be writing it (or that we may not ask
    // about) keeps its file.
    return pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH;
}

// A file system that has no owners or modes (FAT, exFAT through FUSE)
// answers so; there is nothing to keep then.
bool nothingToKeep(int err) { return err == ENOSYS || err == EOPNOTSUPP || err == ENOTSUP; }

void discard(FileSystem& fs, int folder, Temporary& temporary) {
    fs.close(temporary.fd);
    if (!temporary.name.empty())
        retryInterrupted([&] { return fs.unlink(folder, temporary.name); });
    temporary = {};
}

// Opens the temporary file; fd -1 with errno when the folder will not have it.
Temporary openTemporary(FileSystem& fs, int folder, const std::string& leaf, mode_t mode) {
    Temporary temporary;
    // An unnamed file leaves nothing behind if the program is killed. It is
    // named later through /proc, or directly by a process with the right
    // capability (root); without either it could never be named.
    static const bool canName = ::access("/proc/self/fd", F_OK) == 0 || ::geteuid() == 0;
    if (canName) {
        temporary.fd = retryInterrupted([&] { return fs.open(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode); });
        temporary.unnamed = temporary.fd >= 0;
        if (temporary.fd >= 0 || folderRefuses(errno) || errno == ENOSPC || errno == EDQUOT || errno == ENOENT ||
            errno == ENOTDIR)
            return temporary;
    }
    // The file system has no unnamed files: a hidden named one.
    static std::atomic<unsigned> serial{0};
    const std::string stem = temporaryStem(leaf);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary.name = stem + std::to_string(serial++);
        temporary.fd = retryInterrupted(
            [&] { return fs.open(folder, temporary.name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode); });
        if (temporary.fd >= 0)
            return temporary;
        if (errno != EEXIST)
            break;
    }
    const int err = errno;   // kept past the string's release
    temporary.name.clear();
    errno = err;
    return temporary;
}

// Gives the new file the old one's owner, group, mode, access control list
// and extended attributes. False when that cannot be done.
bool keepAccess(FileSystem& fs, int oldFd, const struct ::stat& old, int fd) {
    struct ::stat mine{};
    if (retryInterrupted([&] { return fs.fstat(fd, &mine); }) != 0)
        throw IoError::fromErrno(errno);
    if ((mine.st_uid != old.st_uid || mine.st_gid != old.st_gid) &&
        retryInterrupted([&] { return fs.fchown(fd, old.st_uid, old.st_gid); }) != 0) {
        const int err = errno;
        // Only root may give a file away, and only a member may give it a group.
        if (err == EPERM)
            return false;
        if (!nothingToKeep(err))
            throw IoError::fromErrno(err);
    }
    // After the owner: giving a file away clears its set-id bits.
    if (retryInterrupted([&] { return fs.copyAccess(oldFd, fd); }) != 0) {
        const int err = errno;
        if (nothingToKeep(err))
            return true;
        if (err == EPERM) {
            // Some file systems refuse any change of mode, even to the mode
            // the file has already.
            if (retryInterrupted([&] { return fs.fstat(fd, &mine); }) != 0)
                throw IoError::fromErrno(errno);
            return (mine.st_mode & 07777) == (old.st_mode & 07777);
        }
        throw IoError::fromErrno(err);
    }
    // The access list carries the permission bits only: set-id and sticky
    // bits follow by mode.
    if (retryInterrupted([&] { return fs.fstat(fd, &mine); }) != 0)
        throw IoError::fromErrno(errno);
    if ((mine.st_mode & 07777) != (old.st_mode & 07777) &&
        retryInterrupted([&] { return fs.fchmod(fd, old.st_mode & 07777); }) != 0) {
        const int err = errno;
        if (err == EPERM)
            return false;
        if (!nothingToKeep(err))
            throw IoError::fromErrno(err);
    }
    return true;
}

}  // namespace

SavePlan chooseSaveWay(FileSystem& fs, int folder, const std::string& leaf, int oldFd, const struct ::stat* old) {
    SavePlan plan;
    if (!old) {
        plan.temporary = openTemporary(fs, folder, leaf, 0666);
        if (plan.temporary.fd < 0)
            throw IoError::fromErrno(errno);
        return plan;
    }
    if (old->st_nlink > 1)
        return {SaveWay::InPlace, SaveReason::OtherNames, {}};
    // Private until it has the old file's access.
    plan.temporary = openTemporary(fs, folder, leaf, 0600);
    if (plan.temporary.fd < 0) {
        if (folderRefuses(errno))
            return {SaveWay::InPlace, SaveReason::FolderNotWritable, {}};
        throw IoError::fromErrno(errno);
    }
    bool kept = false;
    try {
        kept = keepAccess(fs, oldFd, *old, plan.temporary.fd);
    } catch (...) {
        discard(fs, folder, plan.temporary);
        throw;
    }
    if (!kept) {
        discard(fs, folder, plan.temporary);
        return {SaveWay::InPlace, SaveReason::AccessNotKept, {}};
    }
    plan.reason = SaveReason::Replaceable;
    return plan;
}

void shareAccess(FileSystem& fs, int fromFd, const struct ::stat& from, int fd) {
    struct ::stat plain = from;
    plain.st_mode &= ~mode_t(07000);
    if (keepAccess(fs, fromFd, plain, fd))
        return;
    // Not to be given away: the group and the access list alone, or nothing
    // (the file was made private, and stays so).
    struct ::stat mine{};
    if (retryInterrupted([&] { return fs.fstat(fd, &mine); }) != 0)
        throw IoError::fromErrno(errno);
    if (mine.st_gid != from.st_gid &&
        retryInterrupted([&] { return fs.fchown(fd, uid_t(-1), from.st_gid); }) != 0) {
        if (errno == EPERM || nothingToKeep(errno))
            return;
        throw IoError::fromErrno(errno);
    }
    if (retryInterrupted([&] { return fs.copyAccess(fromFd, fd); }) != 0 && !nothingToKeep(errno))
        throw IoError::fromErrno(errno);
}

void nameTemporary(FileSystem& fs, int folder, const std::string& leaf, Temporary& temporary) {
    if (!temporary.unnamed)
        return;
    // A name of its own first: a link cannot replace the target.
    static std::atomic<unsigned> serial{0};
    const std::string stem = temporaryStem(leaf) + "u";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = stem + std::to_string(serial++);
        if (retryInterrupted([&] { return fs.link(temporary.fd, folder, name); }) == 0) {
            temporary.name = std::move(name);
            temporary.unnamed = false;
            return;
        }
        if (errno != EEXIST)
            throw IoError::fromErrno(errno);
    }
    throw IoError::fromErrno(EEXIST);
}

namespace {

// The names in `folder` that begin with `prefix`.
std::vector<std::string> namesStartingWith(int folder, const std::string& prefix) {
    std::vector<std::string> names;
    const int listing = retryInterrupted([&] { return ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (listing < 0)
        return names;
    DIR* dir = ::fdopendir(listing);
    if (!dir) {
        ::close(listing);
        return names;
    }
    while (const dirent* entry = ::readdir(dir))
        if (std::string_view(entry->d_name).starts_with(prefix))
            names.emplace_back(entry->d_name);
    ::closedir(dir);
    return names;
}

}  // namespace

void removeStaleTemporaries(FileSystem& fs, int folder, const std::string& leaf) {
    const std::string prefix = temporaryPrefix(leaf);
    for (const std::string& name : namesStartingWith(folder, prefix))
        if (staleHere(std::string_view(name).substr(prefix.size())))
            retryInterrupted([&] { return fs.unlink(folder, name); });
}

std::vector<std::string> otherComputersTemporaries(int folder, const std::string& leaf) {
    const std::string prefix = temporaryPrefix(leaf);
    std::vector<std::string> theirs;
    for (std::string& name : namesStartingWith(folder, prefix)) {
        const std::string_view tag = std::string_view(name).substr(prefix.size(), 16);
        if (isComputerTag(tag) && !madeHere(tag))
            theirs.push_back(std::move(name));
    }
    return theirs;
}

}  // namespace vrindel
