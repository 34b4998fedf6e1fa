#include "store/journal/RollbackJournal.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <optional>
#include <set>
#include <vector>

#include "store/io/ContentHash.h"
#include "Errors.h"
#include "store/io/Retry.h"
#include "store/io/ThisComputer.h"

namespace vrindel {

namespace {

constexpr char Magic[8] = {'V', 'R', 'J', 'R', 'N', 'L', '2', '\n'};
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
// A name already taken by a journal that is not applied is left to it: the
// next ones carry a number.
std::string numbered(int n) {
    std::string part = ".journal";
    if (n)
        part.insert(0, std::to_string(n)).insert(0, 1, '.');
    return part;
}

std::string besideName(const HeldFile& place, const struct ::stat& st, int n = 0) {
    return place.leaf() + "." + machineTag() + "." + identityPart(st) + numbered(n);
}

std::string earlierBesideName(const HeldFile& place, const struct ::stat& st) {
    return place.leaf() + "." + identityPart(st) + ".journal";
}

std::string stateName(const std::string& path, const struct ::stat& st, int n = 0) {
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx",
                  static_cast<unsigned long long>(ContentHash::of(path.data(), path.size())));
    return identityPart(st) + "-" + hash + numbered(n);
}

void putU64(std::string& out, std::uint64_t v) { out.append(reinterpret_cast<const char*>(&v), 8); }

void writeAll(FileSystem& fs, int fd, const void* data, std::size_t size, std::uint64_t at) {
    if (const int err = pwriteAll(fs, fd, data, size, at))
        throw IoError::fromErrno(err);
}

constexpr std::uint64_t KeptEntry = 1, WrittenEntry = 2;

struct Header {
    int version = 0;
    std::uint64_t device = 0, inode = 0, length = 0, newLength = 0;
    std::string path;
    std::uint64_t end = 0;   // where the first segment begins
};

enum class Parsed { Whole, Incomplete, Failed };

Parsed readHeader(FileSystem& fs, int journal, Header& header) {
    char fixed[36];
    const ssize_t n = preadAll(fs, journal, fixed, sizeof fixed, 0);
    if (n < 0)
        return Parsed::Failed;
    if (std::size_t(n) < sizeof fixed || std::memcmp(fixed, Magic, 6) != 0 || fixed[7] != '\n' ||
        (fixed[6] != '1' && fixed[6] != '2'))
        return Parsed::Incomplete;
    header.version = fixed[6] - '0';
    std::uint32_t pathLength = 0;
    std::memcpy(&header.device, fixed + 8, 8);
    std::memcpy(&header.inode, fixed + 16, 8);
    std::memcpy(&header.length, fixed + 24, 8);
    std::memcpy(&pathLength, fixed + 32, 4);
    if (pathLength > MaxPath)
        return Parsed::Incomplete;
    const std::size_t extra = header.version == 2 ? 8 : 0;
    std::string rest(pathLength + extra + 8, '\0');
    const ssize_t m = preadAll(fs, journal, rest.data(), rest.size(), sizeof fixed);
    if (m < 0)
        return Parsed::Failed;
    if (std::size_t(m) < rest.size())
        return Parsed::Incomplete;
    ContentHash hash;
    hash.update(fixed, sizeof fixed);
    hash.update(rest.data(), pathLength + extra);
    std::uint64_t sum = 0;
    std::memcpy(&sum, rest.data() + pathLength + extra, 8);
    if (sum != hash.digest())
        return Parsed::Incomplete;
    header.path = rest.substr(0, pathLength);
    if (extra)
        std::memcpy(&header.newLength, rest.data() + pathLength, 8);
    header.end = sizeof fixed + rest.size();
    return Parsed::Whole;
}

// The whole segments of a journal, as far as they go: a segment cut short
// (or with a checksum that does not hold) was written before the file
// changed for it, and so was everything after it.
struct Kept {
    bool found = false;
    std::uint64_t offset = 0, length = 0, prefixDigest = 0;
    std::uint64_t bytesAt = 0;   // where in the journal the old bytes are
};
struct Written {
    std::uint64_t offset = 0, length = 0;
    std::uint64_t bytesAt = 0;   // where in the journal the new bytes are
};
struct Segments {
    Kept kept;
    std::vector<Written> written;
};

// Reads the segments; lengths beyond the journal's own size or the file's
// old and new lengths end them. Raises IoError when the journal cannot be read.
Segments readSegments(FileSystem& fs, int journal, const Header& header, std::uint64_t journalSize) {
    Segments segments;
    std::vector<char> buffer(Chunk);
    auto checksum = [&](std::uint64_t from, std::uint64_t length, ContentHash& hash) {
        for (std::uint64_t done = 0; done < length;) {
            const std::size_t take = std::size_t(std::min<std::uint64_t>(Chunk, length - done));
            const ssize_t n = preadAll(fs, journal, buffer.data(), take, from + done);
            if (n < 0)
                throw IoError::fromErrno(errno);
            if (std::size_t(n) != take)
                return false;
            hash.update(buffer.data(), take);
            done += take;
        }
        std::uint64_t sum = 0;
        return preadAll(fs, journal, &sum, 8, from + length) == 8 && sum == hash.digest();
    };
    for (std::uint64_t at = header.end; at < journalSize;) {
        if (header.version == 1) {
            // The first version: offset, length, old bytes, checksum.
            std::uint64_t head[2];
            if (preadAll(fs, journal, head, sizeof head, at) != ssize_t(sizeof head))
                break;
            const std::uint64_t offset = head[0], length = head[1];
            if (offset > header.length || length > header.length - offset || length > journalSize - at)
                break;
            ContentHash hash;
            hash.update(head, sizeof head);
            if (!checksum(at + 16, length, hash))
                break;
            segments.kept = {true, offset, length, 0, at + 16};
            at += 16 + length + 8;
            continue;
        }
        std::uint64_t head[4] = {};
        if (preadAll(fs, journal, head, 24, at) != 24)
            break;
        ContentHash hash;
        if (head[0] == KeptEntry && !segments.kept.found && segments.written.empty()) {
            if (preadAll(fs, journal, head + 3, 8, at + 24) != 8)
                break;
            const std::uint64_t offset = head[1], length = head[2];
            if (offset > header.length || length != header.length - offset || length > journalSize - at)
                break;
            hash.update(head, sizeof head);
            if (!checksum(at + 32, length, hash))
                break;
            segments.kept = {true, offset, length, head[3], at + 32};
            at += 32 + length + 8;
        } else if (head[0] == WrittenEntry && segments.kept.found) {
            const std::uint64_t offset = head[1], length = head[2];
            const std::uint64_t expected =
                segments.written.empty() ? segments.kept.offset
                                         : segments.written.back().offset + segments.written.back().length;
            // The save writes on from its first change, one piece after another.
            if (offset != expected || length > header.newLength || offset > header.newLength - length ||
                length > journalSize - at)
                break;
            hash.update(head, 24);
            if (!checksum(at + 24, length, hash))
                break;
            segments.written.push_back({offset, length, at + 24});
            at += 24 + length + 8;
        } else {
            break;
        }
    }
    return segments;
}

// Whether `file`, `size` bytes long, is as a save that this journal
// describes could have left it (killed anywhere, or its rollback killed):
// untouched before the first change, and after it every piece either the
// old bytes (zeros past the old end, which is what reserving left) or the
// new ones the journal announced. Raises IoError when a read fails.
bool fileAsTheSaveLeftIt(FileSystem& fs, int journal, int file, const Header& header, const Segments& segments,
                         std::uint64_t size) {
    // Reserving the new length may have been cut short too.
    if (size < std::min(header.length, header.newLength) || size > std::max(header.length, header.newLength))
        return false;
    const Kept& kept = segments.kept;
    std::vector<char> mine(Chunk), old(Chunk);
    if (!kept.found) {
        // Nothing changed yet but, perhaps, the length reserved.
        for (std::uint64_t at = header.length; at < size;) {
            const std::size_t take = std::size_t(std::min<std::uint64_t>(Chunk, size - at));
            if (preadAll(fs, file, mine.data(), take, at) != ssize_t(take))
                throw IoError::fromErrno(errno ? errno : EIO);
            if (std::any_of(mine.begin(), mine.begin() + std::ptrdiff_t(take), [](char c) { return c != 0; }))
                return false;
            at += take;
        }
        return true;
    }
    if (kept.offset > size)
        return false;
    ContentHash prefix;
    for (std::uint64_t at = 0; at < kept.offset;) {
        const std::size_t take = std::size_t(std::min<std::uint64_t>(Chunk, kept.offset - at));
        if (preadAll(fs, file, mine.data(), take, at) != ssize_t(take))
            throw IoError::fromErrno(errno ? errno : EIO);
        prefix.update(mine.data(), take);
        at += take;
    }
    if (prefix.digest() != kept.prefixDigest)
        return false;
    // Each byte from the first change to the end, against the old bytes
    // and the new ones the save announced before writing them: a kill, or a
    // power cut, can leave any mix of the two, and nothing else.
    std::vector<char> fresh(Chunk);
    const std::uint64_t writtenEnd =
        segments.written.empty() ? kept.offset : segments.written.back().offset + segments.written.back().length;
    std::size_t entry = 0;
    for (std::uint64_t at = kept.offset; at < size;) {
        std::uint64_t end = std::min(size, at + Chunk);
        const Written* w = nullptr;
        if (at < writtenEnd) {
            while (segments.written[entry].offset + segments.written[entry].length <= at)
                ++entry;
            w = &segments.written[entry];
            end = std::min(end, w->offset + w->length);
        }
        const std::size_t take = std::size_t(end - at);
        if (preadAll(fs, file, mine.data(), take, at) != ssize_t(take))
            throw IoError::fromErrno(errno ? errno : EIO);
        // The old bytes: from the journal before the old end, zeros after it.
        std::fill_n(old.begin(), take, '\0');
        if (at < header.length) {
            const std::size_t fromJournal = std::size_t(std::min<std::uint64_t>(take, header.length - at));
            if (preadAll(fs, journal, old.data(), fromJournal, kept.bytesAt + (at - kept.offset)) != ssize_t(fromJournal))
                throw IoError::fromErrno(errno ? errno : EIO);
        }
        if (w) {
            if (preadAll(fs, journal, fresh.data(), take, w->bytesAt + (at - w->offset)) != ssize_t(take))
                throw IoError::fromErrno(errno ? errno : EIO);
            for (std::size_t i = 0; i < take; ++i)
                if (mine[i] != old[i] && mine[i] != fresh[i])
                    return false;
        } else if (std::memcmp(mine.data(), old.data(), take) != 0) {
            return false;
        }
        at = end;
    }
    return true;
}

// Puts the old bytes back into `file` and gives it its old length; raises
// IoError.
void applySegments(FileSystem& fs, int journal, int file, const Header& header, const Segments& segments) {
    if (segments.kept.found) {
        std::vector<char> buffer(Chunk);
        const Kept& kept = segments.kept;
        for (std::uint64_t done = 0; done < kept.length;) {
            const std::size_t take = std::size_t(std::min<std::uint64_t>(Chunk, kept.length - done));
            if (preadAll(fs, journal, buffer.data(), take, kept.bytesAt + done) != ssize_t(take))
                throw IoError::fromErrno(errno ? errno : EIO);
            writeAll(fs, file, buffer.data(), take, kept.offset + done);
            done += take;
        }
    }
    if (retryInterrupted([&] { return fs.ftruncate(file, off_t(header.length)); }) != 0 ||
        retryInterrupted([&] { return fs.fsync(file); }) != 0)
        throw IoError::fromErrno(errno);
}

struct Found {
    int folder;            // borrowed
    std::string name;
    std::string path;
    struct ::stat st;      // as listed, for a journal that cannot be opened
};

bool isJournalOf(std::string_view name, const std::string& prefix) {
    // "<prefix>journal" or "<prefix><n>.journal"
    if (name.size() <= prefix.size() || !name.starts_with(prefix) || !name.ends_with("journal"))
        return false;
    const std::string_view middle = name.substr(prefix.size(), name.size() - prefix.size() - 7);
    return middle.empty() || (middle.size() > 1 && middle.back() == '.' &&
                              middle.substr(0, middle.size() - 1).find_first_not_of("0123456789") == std::string_view::npos);
}

// The journals that may belong to the file `st` at `place`: whatever has
// their names, of any type (each is judged when it is opened).
std::vector<Found> findJournals(FileSystem& fs, const HeldFile& place, const struct ::stat& st, int stateFd) {
    std::vector<Found> found;
    const std::string folderPath = heldPath(fs, place);
    const std::string folder = folderPath.substr(0, folderPath.size() - place.leaf().size());
    auto add = [&](int dir, const std::string& name, const std::string& path) {
        for (const Found& f : found)
            if (f.folder == dir && f.name == name)
                return;
        struct ::stat js{};
        if (retryInterrupted([&] { return fs.lstat(dir, name, &js); }) == 0)
            found.push_back({dir, name, path, js});
    };
    add(place.folder(), besideName(place, st), folder + besideName(place, st));
    add(place.folder(), earlierBesideName(place, st), folder + earlierBesideName(place, st));
    const std::string besidePrefix = besideName(place, st).substr(0, besideName(place, st).size() - 7);
    std::vector<std::string> names;
    if (fs.listFolder(place.folder(), names) == 0)
        for (const std::string& name : names)
            if (isJournalOf(name, besidePrefix))
                add(place.folder(), name, folder + name);
    names.clear();
    if (stateFd >= 0 && fs.listFolder(stateFd, names) == 0) {
        const std::string prefix = identityPart(st) + "-";
        for (const std::string& name : names)
            if (name.starts_with(prefix) && name.ends_with(".journal"))
                add(stateFd, name, userStateFolder() + "/" + name);
    }
    return found;
}

// The journals this process left when it could not take a save back.
std::set<std::string>& leftHere() {
    static std::set<std::string> left;
    return left;
}

std::string ownerName(uid_t uid) {
    const passwd* pw = ::getpwuid(uid);
    return pw ? std::string(pw->pw_name) : std::to_string(uid);
}

// Whether a journal of `owner` and `mode` could be one this catalogue's own
// save left: its owner could write the catalogue anyway, and no one else
// may write the journal.
std::optional<JournalRefusal> refusedByOwner(const struct ::stat& journal, const struct ::stat& file) {
    if (!S_ISREG(journal.st_mode))
        return JournalRefusal::NotRegular;
    if (journal.st_uid != 0 && journal.st_uid != file.st_uid)
        return JournalRefusal::Foreign;
    if ((journal.st_mode & (S_IWGRP | S_IWOTH)) != 0 || journal.st_nlink != 1)
        return JournalRefusal::Writable;
    return std::nullopt;
}

// The checks of a journal's content against the file, once its header is
// whole: the file it names, the lengths it claims, and the file's state.
std::optional<JournalRefusal> judgeContent(FileSystem& fs, int journal, int file, const std::string& filePath,
                                           const Header& header, const struct ::stat& js, const struct ::stat& st,
                                           Segments& segments) {
    if (header.device != std::uint64_t(st.st_dev) || header.inode != std::uint64_t(st.st_ino) ||
        header.path != filePath)
        return JournalRefusal::OtherFile;
    // Whatever the old length exceeds the file by must be in the journal.
    const auto journalSize = std::uint64_t(js.st_size), size = std::uint64_t(st.st_size);
    if (header.length > size + journalSize)
        return JournalRefusal::Oversized;
    segments = readSegments(fs, journal, header, journalSize);
    if (header.version == 1) {
        // No record of the file's state: the part before the change at
        // least must still be there.
        if (segments.kept.found && segments.kept.offset > size)
            return JournalRefusal::Changed;
        return std::nullopt;
    }
    if (!fileAsTheSaveLeftIt(fs, journal, file, header, segments, size))
        return JournalRefusal::Changed;
    return std::nullopt;
}

}  // namespace

bool lockRange(int fd, bool write) {
    struct ::flock range{};
    range.l_type = short(write ? F_WRLCK : F_RDLCK);
    range.l_whence = SEEK_SET;
    // A save takes seconds at most; a reader, as long as reading the
    // catalogue takes.
    for (int tries = 0;; ++tries) {
        if (::fcntl(fd, F_OFD_SETLK, &range) == 0)
            return true;
        // A file system without such locks: the catalogue's lock is all there is.
        if (errno != EAGAIN && errno != EACCES && errno != EINTR)
            return true;
        if (tries == 100) {
            errno = EWOULDBLOCK;
            return false;
        }
        ::usleep(50000);
    }
}

void unlockRange(int fd) {
    struct ::flock range{};
    range.l_type = F_UNLCK;
    range.l_whence = SEEK_SET;
    ::fcntl(fd, F_OFD_SETLK, &range);
}

RollbackJournal::~RollbackJournal() { close(); }

void RollbackJournal::close() noexcept {
    if (fd_ >= 0)
        fs_->close(fd_);
    if (ownFolder_ && folder_ >= 0)
        fs_->close(folder_);
    fd_ = folder_ = -1;
    ownFolder_ = false;
}

void RollbackJournal::begin(const HeldFile& place, int fd, const struct ::stat& st, std::uint64_t newLength) {
    close();
    fileFd_ = fd;
    kept_ = false;
    oldLength_ = std::uint64_t(st.st_size);
    newLength_ = newLength;
    const std::string path = heldPath(*fs_, place);
    const int flags = O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
    // A journal already at the name is left as it is: under the lock, it
    // is one the opening could not apply, and it is reported there. Only
    // one that this process left when it could not take a save back goes:
    // this save replaces what it would put back.
    auto create = [&](int folder, auto nameOf, const std::string& where) {
        int j = -1;
        for (int n = 0; n < 100; ++n) {
            name_ = nameOf(n);
            j = retryInterrupted([&] { return fs_->open(folder, name_, flags, 0600); });
            if (j < 0 && errno == EEXIST && leftHere().erase(where + name_) &&
                retryInterrupted([&] { return fs_->unlink(folder, name_); }) == 0)
                j = retryInterrupted([&] { return fs_->open(folder, name_, flags, 0600); });
            if (j >= 0 || errno != EEXIST)
                break;
        }
        return j;
    };
    const std::string besideFolder = path.substr(0, path.size() - place.leaf().size());
    folder_ = place.folder();
    fd_ = create(folder_, [&](int n) { return besideName(place, st, n); }, besideFolder);
    path_ = besideFolder + name_;
    if (fd_ < 0 && folderRefuses(errno)) {
        // Neither beside the file nor in the state folder: the message says
        // so, and where, rather than blaming the file.
        const int besideError = errno;
        auto nowhere = [&](int err) {
            const std::string state = userStateFolder();
            return IoError(io::JournalNotWritten,
                           ioErrorText(io::JournalNotWritten) + ": " + besideFolder + " (" + std::strerror(besideError) +
                               "), " + (state.empty() ? std::string("~/.local/state/vrindel") : state) + " (" +
                               std::strerror(err) + ")");
        };
        folder_ = openUserStateFolder(*fs_, true);
        if (folder_ < 0)
            throw nowhere(errno);
        ownFolder_ = true;
        fd_ = create(folder_, [&](int n) { return stateName(path, st, n); }, userStateFolder() + "/");
        path_ = userStateFolder() + "/" + name_;
        if (fd_ < 0 && folderRefuses(errno)) {
            const int err = errno;
            close();
            throw nowhere(err);
        }
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
    putU64(header, newLength);
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
    // A rewrite that changes nothing keeps nothing.
    if (!active() || kept_ || (from >= oldLength_ && newLength_ <= oldLength_))
        return;
    from = std::min(from, oldLength_);
    const std::uint64_t length = oldLength_ - from;
    std::vector<char> buffer(Chunk);
    // The bytes before the change stay as they are: their digest tells the
    // file as this save left it from one written since.
    ContentHash prefix;
    for (std::uint64_t done = 0; done < from;) {
        const std::size_t take = std::size_t(std::min<std::uint64_t>(Chunk, from - done));
        const ssize_t n = preadAll(*fs_, fileFd_, buffer.data(), take, done);
        if (n < 0)
            throw IoError::fromErrno(errno);
        if (std::size_t(n) < take)
            throw IoError::fromCode(io::FileChanged);
        prefix.update(buffer.data(), take);
        done += take;
    }
    std::uint64_t head[4] = {KeptEntry, from, length, prefix.digest()};
    ContentHash hash;
    hash.update(head, sizeof head);
    writeAll(*fs_, fd_, head, sizeof head, end_);
    for (std::uint64_t done = 0; done < length;) {
        const std::size_t take = std::size_t(std::min<std::uint64_t>(Chunk, length - done));
        const ssize_t n = preadAll(*fs_, fileFd_, buffer.data(), take, from + done);
        if (n < 0)
            throw IoError::fromErrno(errno);
        if (std::size_t(n) < take)
            throw IoError::fromCode(io::FileChanged);   // shorter than it was a moment ago
        hash.update(buffer.data(), take);
        writeAll(*fs_, fd_, buffer.data(), take, end_ + sizeof head + done);
        done += take;
    }
    const std::uint64_t sum = hash.digest();
    writeAll(*fs_, fd_, &sum, 8, end_ + sizeof head + length);
    if (retryInterrupted([&] { return fs_->fsync(fd_); }) != 0)
        throw IoError::fromErrno(errno);
    end_ += sizeof head + length + 8;
    kept_ = true;
}

void RollbackJournal::willWrite(std::uint64_t at, const unsigned char* data, std::size_t size) {
    if (!active() || size == 0)
        return;
    std::uint64_t head[3] = {WrittenEntry, at, size};
    ContentHash hash;
    hash.update(head, sizeof head);
    hash.update(data, size);
    const std::uint64_t sum = hash.digest();
    writeAll(*fs_, fd_, head, sizeof head, end_);
    writeAll(*fs_, fd_, data, size, end_ + sizeof head);
    writeAll(*fs_, fd_, &sum, 8, end_ + sizeof head + size);
    if (retryInterrupted([&] { return fs_->fsync(fd_); }) != 0)
        throw IoError::fromErrno(errno);
    end_ += sizeof head + size + 8;
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
    auto left = [&] {
        try {
            leftHere().insert(path_);
        } catch (...) {
        }
        return false;
    };
    try {
        Header header;
        if (readHeader(*fs_, fd_, header) != Parsed::Whole)
            return left();
        struct ::stat js{};
        if (retryInterrupted([&] { return fs_->fstat(fd_, &js); }) != 0)
            return left();
        applySegments(*fs_, fd_, fileFd_, header, readSegments(*fs_, fd_, header, std::uint64_t(js.st_size)));
    } catch (...) {
        return left();
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
    const std::string filePath = heldPath(fs, place);
    auto stuck = [&](const Found& found, const std::string& reason) {
        result.stuck = true;
        result.reason = reason;
        result.journal = found.path;
        result.owner = ownerName(found.st.st_uid);
    };
    for (const Found& found : findJournals(fs, place, st, stateFd)) {
        // Whatever this opening finds is judged here, and what it leaves is
        // never removed by a save, this process's own leftovers included.
        leftHere().erase(found.path);
        // Judged as listed first: a link or a FIFO is never opened.
        if (const auto why = refusedByOwner(found.st, st)) {
            result.refused.push_back({found.path, *why});
            continue;
        }
        const int journal = retryInterrupted([&] {
            return fs.open(found.folder, found.name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0);
        });
        if (journal < 0) {
            if (errno == ELOOP || errno == ENXIO)
                result.refused.push_back({found.path, JournalRefusal::NotRegular});
            else if (errno != ENOENT)
                stuck(found, IoError::fromErrno(errno).what());
            continue;
        }
        struct ::stat js{};
        if (retryInterrupted([&] { return fs.fstat(journal, &js); }) != 0) {
            stuck(found, IoError::fromErrno(errno).what());
            fs.close(journal);
            continue;
        }
        // And as opened: the name may lead elsewhere by now.
        if (const auto why = refusedByOwner(js, st)) {
            result.refused.push_back({found.path, *why});
            fs.close(journal);
            continue;
        }
        Header header;
        const Parsed parsed = readHeader(fs, journal, header);
        if (parsed == Parsed::Incomplete) {
            fs.close(journal);
            retryInterrupted([&] { return fs.unlink(found.folder, found.name); });
            continue;
        }
        if (parsed == Parsed::Failed) {
            stuck(found, IoError::fromErrno(errno).what());
            fs.close(journal);
            continue;
        }
        const int file = retryInterrupted(
            [&] { return fs.open(place.folder(), place.leaf(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0); });
        try {
            if (file < 0)
                throw IoError::fromErrno(errno);
            struct ::stat now{};
            if (retryInterrupted([&] { return fs.fstat(file, &now); }) != 0)
                throw IoError::fromErrno(errno);
            if (!lockRange(file, true))
                throw IoError::fromErrno(errno);
            Segments segments;
            if (const auto why = judgeContent(fs, journal, file, filePath, header, js, now, segments)) {
                result.refused.push_back({found.path, *why});
                fs.close(file);
                fs.close(journal);
                continue;
            }
            applySegments(fs, journal, file, header, segments);
            fs.close(file);
            fs.close(journal);
            retryInterrupted([&] { return fs.unlink(found.folder, found.name); });
            syncFolder(fs, found.folder);
            result.rolledBack = true;
            result.journal = found.path;
        } catch (const IoError& e) {
            if (file >= 0)
                fs.close(file);
            fs.close(journal);
            stuck(found, e.what());
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
