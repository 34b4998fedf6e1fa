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

constexpr char Magic[8] = {'V', 'R', 'B', 'A', 'S', 'E', '1', '\n'};
constexpr std::size_t Header = sizeof Magic + 8 + 8 + 8;   // magic, two digests, count
constexpr std::size_t PerRecord = 12;
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

// A version's file whole, checked: its two digests and records.
bool parse(std::string_view bytes, std::uint64_t& digest, std::uint64_t& merged, BaseRecords& records) {
    if (bytes.size() < Header + 8 || std::memcmp(bytes.data(), Magic, sizeof Magic) != 0)
        return false;
    const std::string_view body = bytes.substr(0, bytes.size() - 8);
    if (ContentHash::of(body.data(), body.size()) != u64At(bytes, body.size()))
        return false;
    std::string_view rest = body.substr(sizeof Magic + 16);
    if (!records.readFrom(rest) || !rest.empty()) {
        records.clear();
        return false;
    }
    digest = u64At(bytes, sizeof Magic);
    merged = u64At(bytes, sizeof Magic + 8);
    return true;
}

bool writeVersion(FileSystem& fs, const std::string& name, std::uint64_t digest, std::uint64_t merged,
                  const BaseRecords& records) {
    std::string bytes(Magic, sizeof Magic);
    bytes.append(reinterpret_cast<const char*>(&digest), sizeof digest);
    bytes.append(reinterpret_cast<const char*>(&merged), sizeof merged);
    records.writeTo(bytes);
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

CommonVersions readCommonVersions(FileSystem& fs, const std::string& cataloguePath) {
    CommonVersions versions;
    const std::uint64_t limit = Header + MaxRecords * PerRecord + 8;
    std::uint64_t digest = 0, merged = 0;
    if (const auto bytes = readFile(fs, fileName(cataloguePath, "saved"), limit);
        bytes && parse(*bytes, digest, merged, versions.savedBase)) {
        versions.savedDigest = digest;
        versions.mergedOwnCopy = merged;
    }
    if (const auto bytes = readFile(fs, fileName(cataloguePath, "received"), limit);
        bytes && parse(*bytes, digest, merged, versions.receivedRecords))
        versions.receivedDigest = digest;
    return versions;
}

std::optional<std::uint64_t> readSavedVersion(FileSystem& fs, const std::string& cataloguePath, BaseRecords& base) {
    const std::uint64_t limit = Header + MaxRecords * PerRecord + 8;
    std::uint64_t digest = 0, merged = 0;
    if (const auto bytes = readFile(fs, fileName(cataloguePath, "saved"), limit);
        bytes && parse(*bytes, digest, merged, base))
        return digest;
    return std::nullopt;
}

bool writeSavedVersion(FileSystem& fs, const std::string& cataloguePath, std::uint64_t digest,
                       std::uint64_t mergedOwnCopy, const BaseRecords& base) noexcept {
    try {
        return writeVersion(fs, fileName(cataloguePath, "saved"), digest, mergedOwnCopy, base);
    } catch (...) {
        return false;
    }
}

bool writeReceivedVersion(FileSystem& fs, const std::string& cataloguePath, std::uint64_t digest,
                          const BaseRecords& records) noexcept {
    try {
        return writeVersion(fs, fileName(cataloguePath, "received"), digest, 0, records);
    } catch (...) {
        return false;
    }
}

}  // namespace vrindel
