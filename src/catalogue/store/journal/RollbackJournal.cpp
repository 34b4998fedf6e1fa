#include "store/journal/RollbackJournal.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "store/io/ContentHash.h"
#include "Errors.h"
#include "store/io/Retry.h"
#include "store/io/ThisComputer.h"

namespace vrindel {

namespace {

constexpr char Magic[8] = {'V', 'R', 'J', 'R', 'N', 'L', '1', '\n'};
constexpr std::size_t Chunk = 1 << 18;
constexpr std::uint32_t MaxPath = 1 << 16;

}  // namespace

std::string userStateFolder() {
    // Only an absolute XDG_STATE_HOME counts; a relative one is to be ignored.
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/')
        return std::string(state) + "/vrindel";
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') {
        const passwd* pw = ::getpwuid(::geteuid());
        home = pw ? pw->pw_dir : nullptr;
    }
    return home && home[0] == '/' ? std::string(home) + "/.local/state/vrindel" : std::string();
}

int openUserStateFolder(FileSystem& fs, bool make) {
    const std::string path = userStateFolder();
    if (path.empty()) {
        errno = ENOENT;
        return -1;
    }
    auto open = [&] {
        return retryInterrupted(
            [&] { return fs.open(AT_FDCWD, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
    };
    int fd = open();
    if (fd >= 0 || errno != ENOENT || !make)
        return fd;
    for (std::size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (retryInterrupted([&] { return fs.mkdir(AT_FDCWD, part, 0700); }) != 0 && errno != EEXIST)
            return -1;
        if (slash == std::string::npos)
            break;
    }
    return open();
}

std::string heldPath(FileSystem& fs, const HeldFile& place) {
    char proc[40];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", place.folder());
    std::vector<char> buffer(4096);
    const ssize_t n = fs.readlink(AT_FDCWD, proc, buffer.data(), buffer.size());
    std::string folder = n > 0 ? std::string(buffer.data(), std::size_t(n)) : std::string("?");
    return folder + (folder.ends_with('/') ? "" : "/") + place.leaf();
}

namespace {

std::string identityPart(const struct ::stat& st) {
    return std::to_string(std::uint64_t(st.st_dev)) + "-" + std::to_string(std::uint64_t(st.st_ino));
}

// Beside the file, where a sync engine may carry it to another computer,
// the journal's name says which computer's save left it: another's is
// never applied here. (Earlier versions left "Zoznam.dat.<dev>-<ino>.journal".)
std::string besideName(const HeldFile& place, const struct ::stat& st) {
    return place.leaf() + "." + machineTag() + "." + identityPart(st) + ".journal";
}

std::string earlierBesideName(const HeldFile& place, const struct ::stat& st) {
    return place.leaf() + "." + identityPart(st) + ".journal";
}

std::string stateName(const std::string& path, const struct ::stat& st) {
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx",
                  static_cast<unsigned long long>(ContentHash::of(path.data(), path.size())));
    return identityPart(st) + "-" + hash + ".journal";
}

void putU64(std::string& out, std::uint64_t v) { out.append(reinterpret_cast<const char*>(&v), 8); }

void writeAll(FileSystem& fs, int fd, const void* data, std::size_t size, std::uint64_t at) {
    if (const int err = pwriteAll(fs, fd, data, size, at))
        throw IoError::fromErrno(err);
}

struct Header {
    std::uint64_t device = 0, inode = 0, length = 0;
    std::string path;
    std::uint64_t end = 0;   // where the first segment begins
};

enum class Parsed { Whole, Incomplete, Failed };

Parsed readHeader(FileSystem& fs, int journal, Header& header) {
    char fixed[36];
    const ssize_t n = preadAll(fs, journal, fixed, sizeof fixed, 0);
    if (n < 0)
        return Parsed::Failed;
    if (std::size_t(n) < sizeof fixed || std::memcmp(fixed, Magic, 8) != 0)
        return Parsed::Incomplete;
    std::uint32_t pathLength = 0;
    std::memcpy(&header.device, fixed + 8, 8);
    std::memcpy(&header.inode, fixed + 16, 8);
    std::memcpy(&header.length, fixed + 24, 8);
    std::memcpy(&pathLength, fixed + 32, 4);
    if (pathLength > MaxPath)
        return Parsed::Incomplete;
    std::string rest(pathLength + 8, '\0');
    const ssize_t m = preadAll(fs, journal, rest.data(), rest.size(), sizeof fixed);
    if (m < 0)
        return Parsed::Failed;
    if (std::size_t(m) < rest.size())
        return Parsed::Incomplete;
    ContentHash hash;
    hash.update(fixed, sizeof fixed);
    hash.update(rest.data(), pathLength);
    std::uint64_t sum = 0;
    std::memcpy(&sum, rest.data() + pathLength, 8);
    if (sum != hash.digest())
        return Parsed::Incomplete;
    header.path = rest.substr(0, pathLength);
    header.end = sizeof fixed + rest.size();
    return Parsed::Whole;
}

// Puts the old bytes of every whole segment back into `file` and gives it
// its old length; raises IoError.
void applySegments(FileSystem& fs, int journal, int file, const Header& header) {
    std::vector<char> buffer(Chunk);
    for (std::uint64_t at = header.end;;) {
        std::uint64_t head[2];
        if (preadAll(fs, journal, head, sizeof head, at) != ssize_t(sizeof head))
            break;
        const std::uint64_t offset = head[0], length = head[1];
        if (offset > header.length || length > header.length - offset)
            break;
        // The whole segment is checked before any of it is used: one that
        // was cut short was written before its bytes in the file changed.
        ContentHash hash;
        hash.update(head, sizeof head);
        bool whole = true;
        for (std::uint64_t done = 0; done < length && whole;) {
            const std::size_t take = std::size_t(std::min<std::uint64_t>(Chunk, length - done));
            const ssize_t n = preadAll(fs, journal, buffer.data(), take, at + 16 + done);
            if (n < 0)
                throw IoError::fromErrno(errno);
            whole = std::size_t(n) == take;
            hash.update(buffer.data(), take);
            done += take;
        }
        std::uint64_t sum = 0;
        if (!whole || preadAll(fs, journal, &sum, 8, at + 16 + length) != 8 || sum != hash.digest())
            break;
        for (std::uint64_t done = 0; done < length;) {
            const std::size_t take = std::size_t(std::min<std::uint64_t>(Chunk, length - done));
            if (preadAll(fs, journal, buffer.data(), take, at + 16 + done) != ssize_t(take))
                throw IoError::fromErrno(errno ? errno : EIO);
            writeAll(fs, file, buffer.data(), take, offset + done);
            done += take;
        }
        at += 16 + length + 8;
    }
    if (retryInterrupted([&] { return fs.ftruncate(file, off_t(header.length)); }) != 0 ||
        retryInterrupted([&] { return fs.fsync(file); }) != 0)
        throw IoError::fromErrno(errno);
}

struct Found {
    int folder;            // borrowed
    std::string name;
    std::string path;
};

// The journals that may belong to the file `st` at `place`.
std::vector<Found> findJournals(FileSystem& fs, const HeldFile& place, const struct ::stat& st, int stateFd) {
    std::vector<Found> found;
    const std::string folderPath = heldPath(fs, place);
    const std::string folder = folderPath.substr(0, folderPath.size() - place.leaf().size());
    for (const std::string& beside : {besideName(place, st), earlierBesideName(place, st)}) {
        struct ::stat js{};
        if (retryInterrupted([&] { return fs.lstat(place.folder(), beside, &js); }) == 0 && S_ISREG(js.st_mode))
            found.push_back({place.folder(), beside, folder + beside});
    }
    if (stateFd < 0)
        return found;
    const int listing = ::dup(stateFd);
    DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return found;
    }
    ::rewinddir(dir);
    const std::string prefix = identityPart(st) + "-";
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.starts_with(prefix) && name.ends_with(".journal"))
            found.push_back({stateFd, std::string(name), userStateFolder() + "/" + std::string(name)});
    }
    ::closedir(dir);
    return found;
}

}  // namespace

RollbackJournal::~RollbackJournal() { close(); }

void RollbackJournal::close() noexcept {
    if (fd_ >= 0)
        fs_->close(fd_);
    if (ownFolder_ && folder_ >= 0)
        fs_->close(folder_);
    fd_ = folder_ = -1;
    ownFolder_ = false;
}

void RollbackJournal::begin(const HeldFile& place, int fd, const struct ::stat& st) {
    close();
    fileFd_ = fd;
    oldLength_ = std::uint64_t(st.st_size);
    const std::string path = heldPath(*fs_, place);
    const int flags = O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
    auto create = [&](int folder, const std::string& name) {
        int j = retryInterrupted([&] { return fs_->open(folder, name, flags, 0600); });
        // Under the lock a journal already there is one that the opening
        // found incomplete, or left: it cannot be of this rewrite.
        if (j < 0 && errno == EEXIST && retryInterrupted([&] { return fs_->unlink(folder, name); }) == 0)
            j = retryInterrupted([&] { return fs_->open(folder, name, flags, 0600); });
        return j;
    };
    name_ = besideName(place, st);
    folder_ = place.folder();
    path_ = path.substr(0, path.size() - place.leaf().size()) + name_;
    fd_ = create(folder_, name_);
    if (fd_ < 0 && folderRefuses(errno)) {
        folder_ = openUserStateFolder(*fs_, true);
        if (folder_ < 0)
            throw IoError::fromErrno(errno);
        ownFolder_ = true;
        name_ = stateName(path, st);
        path_ = userStateFolder() + "/" + name_;
        fd_ = create(folder_, name_);
    }
    if (fd_ < 0) {
        const int err = errno;
        close();
        throw IoError::fromErrno(err);
    }
    std::string header(Magic, sizeof Magic);
    putU64(header, std::uint64_t(st.st_dev));
    putU64(header, std::uint64_t(st.st_ino));
    putU64(header, oldLength_);
    const auto pathLength = std::uint32_t(std::min<std::size_t>(path.size(), MaxPath));
    header.append(reinterpret_cast<const char*>(&pathLength), 4);
    header.append(path, 0, pathLength);
    putU64(header, ContentHash::of(header.data(), header.size()));
    try {
        writeAll(*fs_, fd_, header.data(), header.size(), 0);
        if (retryInterrupted([&] { return fs_->fsync(fd_); }) != 0)
            throw IoError::fromErrno(errno);
    } catch (...) {
        retryInterrupted([&] { return fs_->unlink(folder_, name_); });
        close();
        throw;
    }
    // A journal that a power cut could take away with its folder entry
    // would protect nothing: the save stops here, nothing changed yet. Some
    // file systems cannot sync a folder at all, and need not.
    if (const int err = syncFolder(*fs_, folder_); err != 0 && err != EINVAL && err != ENOTSUP && err != ENOSYS) {
        retryInterrupted([&] { return fs_->unlink(folder_, name_); });
        close();
        throw IoError::fromErrno(err);
    }
    end_ = header.size();
}

void RollbackJournal::keepFrom(std::uint64_t from) {
    if (!active() || from >= oldLength_)
        return;
    const std::uint64_t length = oldLength_ - from;
    std::uint64_t head[2] = {from, length};
    ContentHash hash;
    hash.update(head, sizeof head);
    writeAll(*fs_, fd_, head, sizeof head, end_);
    std::vector<char> buffer(Chunk);
    for (std::uint64_t done = 0; done < length;) {
        const std::size_t take = std::size_t(std::min<std::uint64_t>(Chunk, length - done));
        const ssize_t n = preadAll(*fs_, fileFd_, buffer.data(), take, from + done);
        if (n < 0)
            throw IoError::fromErrno(errno);
        if (std::size_t(n) < take)
            throw IoError::fromCode(io::FileChanged);   // shorter than it was a moment ago
        hash.update(buffer.data(), take);
        writeAll(*fs_, fd_, buffer.data(), take, end_ + 16 + done);
        done += take;
    }
    const std::uint64_t sum = hash.digest();
    writeAll(*fs_, fd_, &sum, 8, end_ + 16 + length);
    if (retryInterrupted([&] { return fs_->fsync(fd_); }) != 0)
        throw IoError::fromErrno(errno);
    end_ += 16 + length + 8;
}

void RollbackJournal::commit() {
    if (!active())
        return;
    if (retryInterrupted([&] { return fs_->unlink(folder_, name_); }) != 0) {
        // A journal left whole would undo this save at the next opening;
        // emptied, it is an incomplete one that is only removed.
        const int err = errno;
        if (retryInterrupted([&] { return fs_->ftruncate(fd_, 0); }) != 0 ||
            retryInterrupted([&] { return fs_->fsync(fd_); }) != 0)
            throw IoError::fromErrno(err);
        retryInterrupted([&] { return fs_->unlink(folder_, name_); });
    }
    syncFolder(*fs_, folder_);
    close();
}

bool RollbackJournal::rollBack() noexcept {
    if (!active())
        return true;
    try {
        Header header;
        if (readHeader(*fs_, fd_, header) != Parsed::Whole)
            return false;
        applySegments(*fs_, fd_, fileFd_, header);
    } catch (...) {
        return false;
    }
    retryInterrupted([&] { return fs_->unlink(folder_, name_); });
    syncFolder(*fs_, folder_);
    close();
    return true;
}

JournalRecovery recoverFromJournal(FileSystem& fs, const HeldFile& place) {
    JournalRecovery result;
    if (place.error())
        return result;
    struct ::stat st{};
    if (retryInterrupted([&] { return fs.lstat(place.folder(), place.leaf(), &st); }) != 0 || !S_ISREG(st.st_mode))
        return result;
    const int stateFd = openUserStateFolder(fs, false);
    for (const Found& found : findJournals(fs, place, st, stateFd)) {
        const int journal =
            retryInterrupted([&] { return fs.open(found.folder, found.name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW, 0); });
        if (journal < 0)
            continue;
        Header header;
        const Parsed parsed = readHeader(fs, journal, header);
        if (parsed == Parsed::Incomplete) {
            fs.close(journal);
            retryInterrupted([&] { return fs.unlink(found.folder, found.name); });
            continue;
        }
        if (parsed == Parsed::Failed || header.device != std::uint64_t(st.st_dev) ||
            header.inode != std::uint64_t(st.st_ino)) {
            fs.close(journal);
            continue;
        }
        const int file = retryInterrupted(
            [&] { return fs.open(place.folder(), place.leaf(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0); });
        try {
            if (file < 0)
                throw IoError::fromErrno(errno);
            applySegments(fs, journal, file, header);
            fs.close(file);
            fs.close(journal);
            retryInterrupted([&] { return fs.unlink(found.folder, found.name); });
            syncFolder(fs, found.folder);
            result.rolledBack = true;
            result.journal = found.path;
        } catch (const IoError& e) {
            result.reason = e.what();
            if (file >= 0)
                fs.close(file);
            fs.close(journal);
            result.stuck = true;
            result.journal = found.path;
        }
    }
    if (stateFd >= 0)
        fs.close(stateFd);
    return result;
}

bool journalPending(FileSystem& fs, const HeldFile& place) {
    if (place.error())
        return false;
    struct ::stat st{};
    if (retryInterrupted([&] { return fs.lstat(place.folder(), place.leaf(), &st); }) != 0 || !S_ISREG(st.st_mode))
        return false;
    const int stateFd = openUserStateFolder(fs, false);
    const bool pending = !findJournals(fs, place, st, stateFd).empty();
    if (stateFd >= 0)
        fs.close(stateFd);
    return pending;
}

}  // namespace vrindel

namespace vrindel {

std::vector<std::string> otherComputersJournals(int folder, const std::string& leaf) {
    std::vector<std::string> theirs;
    const int listing = retryInterrupted([&] { return ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return theirs;
    }
    const std::string prefix = leaf + ".";
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (!name.starts_with(prefix) || !name.ends_with(".journal") || name.size() < prefix.size() + 9)
            continue;
        const std::string_view tag = name.substr(prefix.size(), 8);
        if (name[prefix.size() + 8] == '.' && tag.find_first_not_of("0123456789abcdef") == std::string_view::npos &&
            tag != machineTag())
            theirs.emplace_back(name);
    }
    ::closedir(dir);
    return theirs;
}

}  // namespace vrindel
