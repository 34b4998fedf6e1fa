#include "store/merge/ConflictFile.h"
#include "text/CsvField.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

#include "Errors.h"
#include "store/io/Retry.h"
#include "store/journal/RollbackJournal.h"

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

}  // namespace

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
