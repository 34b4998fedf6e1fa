#include "store/merge/ConflictFile.h"
#include "text/CsvField.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>

#include "Errors.h"
#include "store/io/Retry.h"
#include "store/journal/RollbackJournal.h"
#include "store/merge/BaseRecords.h"

namespace vrindel {

namespace {

std::string timeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

// Creates a new file of its own name in `folder`: the first of `stem`.csv,
// `stem`-2.csv, ... that is free.
int createNew(FileSystem& fs, int folder, const std::string& stem, std::string& name) {
    for (int n = 1; n < 1000; ++n) {
        name = stem;
        if (n > 1)
            name.append("-").append(std::to_string(n));
        name.append(".csv");
        const int fd = retryInterrupted(
            [&] { return fs.open(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666); });
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// The rows of an RFC 4180 text, as writeConflictFile writes them (and a
// spreadsheet may save them back): fields apart at commas, rows at line
// ends, a quoted field taking commas, line ends and doubled quotes.
void forEachRow(std::string_view text, const std::function<void(std::vector<std::string>&)>& each) {
    std::vector<std::string> row(1);
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"')
                row.back() += c;
            else if (i + 1 < text.size() && text[i + 1] == '"')
                row.back() += text[++i];
            else
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.emplace_back();
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            each(row);
            row.assign(1, std::string());
        } else {
            row.back() += c;
        }
    }
    if (row.size() > 1 || !row.front().empty())
        each(row);
}

// The whole text of `name` in `folder`, or nothing when it cannot be read.
std::optional<std::string> readWhole(FileSystem& fs, int folder, const std::string& name) {
    const int fd = retryInterrupted(
        [&] { return fs.open(folder, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0); });
    if (fd < 0)
        return std::nullopt;
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = retryInterrupted([&] { return fs.read(fd, buffer, sizeof buffer); });
        if (n < 0) {
            fs.close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        text.append(buffer, std::size_t(n));
    }
    fs.close(fd);
    return text;
}

}  // namespace

std::set<std::uint64_t> recordsInConflictFiles(FileSystem& fs, const HeldFile& catalogue) {
    std::set<std::uint64_t> records;
    std::vector<std::string> names;
    if (catalogue.error() || retryInterrupted([&] { return fs.listFolder(catalogue.folder(), names); }) != 0)
        return records;
    const std::string prefix = catalogue.leaf() + "-conflicts-";
    for (const std::string& name : names) {
        if (!name.starts_with(prefix) || !name.ends_with(".csv"))
            continue;
        const std::optional<std::string> text = readWhole(fs, catalogue.folder(), name);
        if (!text)
            continue;
        bool header = true;
        forEachRow(*text, [&](std::vector<std::string>& row) {
            if (std::exchange(header, false) || row.size() != 2)
                return;
            const auto nameBytes = utf8ToWindows1250(row[0]);
            const auto locationBytes = utf8ToWindows1250(row[1]);
            if (nameBytes && locationBytes)
                records.insert(BaseRecords::recordHash(RecordText(*nameBytes).view(), RecordText(*locationBytes).view()));
        });
    }
    return records;
}

std::string writeConflictFile(FileSystem& fs, const HeldFile& catalogue,
                              const std::vector<std::pair<RecordText, RecordText>>& records) {
    std::string text = "name,location\r\n";
    for (const auto& [name, location] : records) {
        appendCsvField(text, windows1250ToUtf8(name.view()));
        text += ',';
        appendCsvField(text, windows1250ToUtf8(location.view()));
        text += "\r\n";
    }
    const std::string stem = catalogue.leaf() + "-conflicts-" + timeStamp();
    std::string name;
    int folder = catalogue.folder();
    bool ownFolder = false;
    int fd = createNew(fs, folder, stem, name);
    std::string path;
    if (fd >= 0) {
        path = heldPath(fs, catalogue);
        path = path.substr(0, path.size() - catalogue.leaf().size()) + name;
    } else if (folderRefuses(errno)) {
        folder = openUserStateFolder(fs, true);
        if (folder < 0)
            throw IoError::fromErrno(errno);
        ownFolder = true;
        fd = createNew(fs, folder, stem, name);
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
    auto fail = [&](int failed) {
        fs.close(fd);
        retryInterrupted([&] { return fs.unlink(folder, name); });
        closeFolder();
        throw IoError::fromErrno(failed);
    };
    if (const int failed = writeAll(fs, fd, text.data(), text.size()))
        fail(failed);
    if (retryInterrupted([&] { return fs.fsync(fd); }) != 0)
        fail(errno);
    if (fs.close(fd) != 0 && errno != EINTR) {
        const int failed = errno;
        retryInterrupted([&] { return fs.unlink(folder, name); });
        closeFolder();
        throw IoError::fromErrno(failed);
    }
    // Its name too must outlast a power cut before the catalogue changes,
    // or the records it keeps could be gone while the save that left them
    // out stays.
    syncFolder(fs, folder);
    closeFolder();
    return path;
}

}  // namespace vrindel
