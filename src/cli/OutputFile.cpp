#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "Command.h"
#include "store/io/FileSystem.h"
#include "Messages.h"
#include "store/io/Retry.h"

namespace vrindel::cli {

OutputFile::OutputFile(const std::string& path) : path_(path) {
    place_ = HeldFile::resolve(systemFileSystem(), path);
    if (place_.error())
        throw Failure(exitcode::FileError, tr("{0}: cannot create: {1}", path_, std::strerror(place_.openError())));
    const int folder = place_.folder();
    struct stat old {};
    if (::fstatat(folder, place_.leaf().c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISREG(old.st_mode))
            throw Failure(exitcode::FileError, tr("{0}: not a regular file; an export writes only to one "
                                                  "(standard output: leave out -o); nothing was written",
                                                  path_));
        hadOld_ = true;
    } else if (errno != ENOENT) {
        throw Failure(exitcode::FileError, tr("{0}: cannot create: {1}", path_, std::strerror(errno)));
    }

    // ".backup.csv.tmp-<pid>-<n>", hidden beside the target.
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary_ = "." + place_.leaf();
        temporary_ += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        fd = retryInterrupted([&] {
            return ::openat(folder, temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        });
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        const int err = errno;
        temporary_.clear();
        throw Failure(exitcode::FileError,
                      tr("{0}: cannot create a file beside it: {1}; nothing was written", path_, std::strerror(err)));
    }
    if (hadOld_) {
        // The old file's owner and mode where this user may give them; its
        // group's rights only with its group.
        mode_t mode = old.st_mode & 0777;
        struct stat mine {};
        if (::fstat(fd, &mine) == 0 && (mine.st_uid != old.st_uid || mine.st_gid != old.st_gid) &&
            ::fchown(fd, old.st_uid, old.st_gid) != 0 && mine.st_gid != old.st_gid)
            mode &= ~mode_t(S_IRWXG);
        (void)::fchmod(fd, mode);
    }
    stream_ = ::fdopen(fd, "wb");
    if (!stream_) {
        const int err = errno;
        ::close(fd);
        fail(err);
    }
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() noexcept {
    if (stream_)
        std::fclose(stream_);
    stream_ = nullptr;
    if (!temporary_.empty())
        ::unlinkat(place_.folder(), temporary_.c_str(), 0);
    temporary_.clear();
}

void OutputFile::fail(int err) {
    discard();
    throw Failure(exitcode::FileError,
                  hadOld_ ? tr("{0}: cannot write: {1}; the old file is as it was", path_, std::strerror(err))
                          : tr("{0}: cannot write: {1}; nothing was written", path_, std::strerror(err)));
}

void OutputFile::commit() {
    if (std::fflush(stream_) != 0 || retryInterrupted([&] { return ::fsync(::fileno(stream_)); }) != 0)
        fail(errno);
    std::FILE* stream = std::exchange(stream_, nullptr);
    if (std::fclose(stream) != 0)
        fail(errno);
    if (::renameat(place_.folder(), temporary_.c_str(), place_.folder(), place_.leaf().c_str()) != 0)
        fail(errno);
    temporary_.clear();
    // The rename lasts a power cut only once the folder is synced.
    // (File systems that cannot sync a folder say EINVAL: nothing to do.)
    if (syncFolder(systemFileSystem(), place_.folder()) == EIO)
        warn(tr("{0}: written, but its folder could not be synced: {1}", path_, std::strerror(EIO)));
}

}  // namespace vrindel::cli
