#include "store/save/SideFile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "Errors.h"
#include "store/io/Retry.h"
#include "store/journal/RollbackJournal.h"
#include "store/save/SaveWay.h"

namespace vrindel {

namespace {

// Eight letters no one can foresee: names planted in advance for every
// numbered one (links, files) cannot keep a side file from being written.
std::string randomPart() {
    unsigned char bytes[4] = {};
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno != EINTR)
            break;
        if (n > 0)
            got += std::size_t(n);
    }
    if (got < sizeof bytes) {
        // No random source: the clock's nanoseconds and the process still
        // differ from one try to the next.
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const auto mixed = std::uint32_t(now.tv_nsec) ^ (std::uint32_t(::getpid()) << 16);
        for (std::size_t i = 0; i < sizeof bytes; ++i)
            bytes[i] = static_cast<unsigned char>(mixed >> (8 * i));
    }
    static const char digits[] = "0123456789abcdef";
    std::string part;
    for (unsigned char b : bytes) {
        part += digits[b >> 4];
        part += digits[b & 0xF];
    }
    return part;
}

// Creates a new file of its own name in `folder`, private until it has its
// access: the first free numbered name, then random ones. -1 with errno
// when the folder will not have one.
int createNew(FileSystem& fs, int folder, const std::string& stem, const std::string& extension, std::string& name) {
    auto create = [&] {
        return retryInterrupted(
            [&] { return fs.open(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600); });
    };
    for (int n = 1; n < 1000; ++n) {
        name = n == 1 ? stem : stem + "-" + std::to_string(n);
        name += extension;
        const int fd = create();
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = stem + "-" + randomPart() + extension;
        const int fd = create();
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

std::string sideFileTimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

std::string writeSideFile(FileSystem& fs, const HeldFile& of, const std::string& stem, const std::string& extension,
                          const std::function<int(int fd)>& fill) {
    if (of.error())
        throw IoError::fromErrno(of.openError());
    std::string name;
    int folder = of.folder();
    bool ownFolder = false;
    int fd = createNew(fs, folder, stem, extension, name);
    std::string path;
    if (fd >= 0) {
        path = heldPath(fs, of);
        path = path.substr(0, path.size() - of.leaf().size()) + name;
    } else if (folderRefuses(errno) || errno == EEXIST) {
        // A folder that refuses new files, or one where every name is
        // taken: the user's own folder has room.
        folder = openUserStateFolder(fs, true);
        if (folder < 0)
            throw IoError::fromErrno(errno);
        ownFolder = true;
        fd = createNew(fs, folder, stem, extension, name);
        path = userStateFolder() + "/" + name;
    }
    const int err = errno;
    auto closeFolder = [&] {
        if (ownFolder)
            fs.close(folder);
    };
    if (fd < 0) {
        closeFolder();
        throw IoError::fromErrno(err);
    }
    auto discard = [&] {
        fs.close(fd);
        retryInterrupted([&] { return fs.unlink(folder, name); });
        closeFolder();
    };
    auto fail = [&](int failed) {
        discard();
        throw IoError::fromErrno(failed);
    };
    // The access of the file it keeps bytes of, before any byte is in it.
    const int from = retryInterrupted([&] {
        return fs.open(of.folder(), of.leaf(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0);
    });
    if (from >= 0) {
        struct ::stat st{};
        try {
            if (retryInterrupted([&] { return fs.fstat(from, &st); }) == 0 && S_ISREG(st.st_mode))
                shareAccess(fs, from, st, fd);
        } catch (const IoError&) {
            fs.close(from);
            discard();
            throw;
        }
        fs.close(from);
    }
    if (const int failed = fill(fd))
        fail(failed);
    if (retryInterrupted([&] { return fs.fsync(fd); }) != 0)
        fail(errno);
    if (fs.close(fd) != 0 && errno != EINTR) {
        const int failed = errno;
        retryInterrupted([&] { return fs.unlink(folder, name); });
        closeFolder();
        throw IoError::fromErrno(failed);
    }
    // Its name too must outlast a power cut before the file it keeps bytes
    // of changes, or what it keeps could be gone while the change stays.
    syncFolder(fs, folder);
    closeFolder();
    return path;
}

}  // namespace vrindel
