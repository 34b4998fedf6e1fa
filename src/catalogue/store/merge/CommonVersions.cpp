#include "store/merge/CommonVersions.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "store/io/ContentHash.h"
#include "store/io/Retry.h"
#include "store/journal/RollbackJournal.h"

namespace vrindel {

namespace {

constexpr char SavedMagic[8] = {'V', 'R', 'S', 'A', 'V', 'E', '2', '\n'};
constexpr char ReceivedMagic[8] = {'V', 'R', 'R', 'E', 'C', 'V', '3', '\n'};
constexpr std::size_t Header = 8 + 8 + 8;   // magic, digest, count
constexpr std::size_t PerRecord = 8;
// Far beyond any catalogue (its record count is a 32-bit number).
constexpr std::uint64_t MaxRecords = std::uint64_t(1) << 31;

std::string fileName(const std::string& cataloguePath, const char* which) {
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx",
                  static_cast<unsigned long long>(ContentHash::of(cataloguePath.data(), cataloguePath.size())));
    return std::string("common-") + hash + "." + which;
}

std::uint64_t u64At(std::string_view bytes, std::size_t at) {
    std::uint64_t v;
    std::memcpy(&v, bytes.data() + at, sizeof v);
    return v;
}

// The bytes of one version, `limit` at most; nothing when it is not there.
std::optional<std::string> readFile(FileSystem& fs, const std::string& name, std::uint64_t limit) {
    const int folder = openUserStateFolder(fs, false);
    if (folder < 0)
        return std::nullopt;
    const int fd = retryInterrupted([&] { return fs.open(folder, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW, 0); });
    fs.close(folder);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::string> bytes;
    struct ::stat st {};
    if (fs.fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const std::uint64_t size = std::uint64_t(st.st_size) < limit ? std::uint64_t(st.st_size) : limit;
        std::string read(std::size_t(size), '\0');
        const ssize_t n = preadAll(fs, fd, read.data(), read.size(), 0);
        if (n >= 0) {
            read.resize(std::size_t(n));
            bytes = std::move(read);
        }
    }
    fs.close(fd);
    return bytes;
}

// A version's file whole, checked: its magic and checksum; the rest
// after the magic in `rest`.
bool checked(std::string_view bytes, const char (&magic)[8], std::string_view& rest) {
    if (bytes.size() < sizeof magic + 16 || std::memcmp(bytes.data(), magic, sizeof magic) != 0)
        return false;
    const std::string_view body = bytes.substr(0, bytes.size() - 8);
    if (ContentHash::of(body.data(), body.size()) != u64At(bytes, body.size()))
        return false;
    rest = body.substr(sizeof magic);
    return true;
}

bool writeVersion(FileSystem& fs, const std::string& name, const char (&magic)[8], std::uint64_t digest,
                  const BaseRecords* records) {
    std::string bytes(magic, sizeof magic);
    bytes.append(reinterpret_cast<const char*>(&digest), sizeof digest);
    if (records)
        records->writeTo(bytes);
    const std::uint64_t sum = ContentHash::of(bytes.data(), bytes.size());
    bytes.append(reinterpret_cast<const char*>(&sum), sizeof sum);

    const int folder = openUserStateFolder(fs, true);
    if (folder < 0)
        return false;
    const std::string temporary = name + ".tmp";
    bool done = false;
    const int fd = retryInterrupted(
        [&] { return fs.open(folder, temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600); });
    if (fd >= 0) {
        const bool written = writeAll(fs, fd, bytes.data(), bytes.size()) == 0 &&
                             retryInterrupted([&] { return fs.fsync(fd); }) == 0;
        const bool closed = fs.close(fd) == 0 || errno == EINTR;
        done = written && closed &&
               retryInterrupted([&] { return fs.rename(folder, temporary, folder, name); }) == 0;
        if (done)
            syncFolder(fs, folder);
        else
            retryInterrupted([&] { return fs.unlink(folder, temporary); });
    }
    fs.close(folder);
    return done;
}

}  // namespace

std::optional<ReceivedVersion> readReceivedVersion(FileSystem& fs, const std::string& cataloguePath,
                                                   bool withRecords) {
    // The digest alone is in the first bytes; unchecked, it only ever makes
    // the caller write the version again.
    const std::uint64_t limit = withRecords ? Header + MaxRecords * PerRecord + 8 : sizeof ReceivedMagic + 8;
    const auto bytes = readFile(fs, fileName(cataloguePath, "received"), limit);
    if (!bytes)
        return std::nullopt;
    ReceivedVersion version;
    if (!withRecords) {
        if (bytes->size() < limit || std::memcmp(bytes->data(), ReceivedMagic, sizeof ReceivedMagic) != 0)
            return std::nullopt;
        version.digest = u64At(*bytes, sizeof ReceivedMagic);
        return version;
    }
    std::string_view rest;
    if (!checked(*bytes, ReceivedMagic, rest) || rest.size() < 8)
        return std::nullopt;
    version.digest = u64At(rest, 0);
    rest.remove_prefix(8);
    if (!version.records.readFrom(rest) || !rest.empty())
        return std::nullopt;
    return version;
}

std::optional<std::uint64_t> readSavedDigest(FileSystem& fs, const std::string& cataloguePath) {
    const auto bytes = readFile(fs, fileName(cataloguePath, "saved"), sizeof SavedMagic + 16);
    std::string_view rest;
    if (!bytes || !checked(*bytes, SavedMagic, rest) || rest.size() != 8)
        return std::nullopt;
    return u64At(rest, 0);
}

bool writeSavedDigest(FileSystem& fs, const std::string& cataloguePath, std::uint64_t digest) noexcept {
    try {
        return writeVersion(fs, fileName(cataloguePath, "saved"), SavedMagic, digest, nullptr);
    } catch (...) {
        return false;
    }
}

bool writeReceivedVersion(FileSystem& fs, const std::string& cataloguePath, std::uint64_t digest,
                          const BaseRecords& records) noexcept {
    try {
        return writeVersion(fs, fileName(cataloguePath, "received"), ReceivedMagic, digest, &records);
    } catch (...) {
        return false;
    }
}

}  // namespace vrindel
