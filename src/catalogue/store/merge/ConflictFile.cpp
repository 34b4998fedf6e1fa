#include "store/merge/ConflictFile.h"
#include "text/CsvField.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <optional>

#include "Errors.h"
#include "store/io/Retry.h"
#include "store/journal/RollbackJournal.h"
#include "store/merge/BaseRecords.h"
#include "store/save/SideFile.h"

namespace vrindel {

namespace {

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
    // Readable by whoever may read the catalogue, and no one else.
    return writeSideFile(fs, catalogue, catalogue.leaf() + "-conflicts-" + sideFileTimeStamp(), ".csv",
                         [&](int fd) { return writeAll(fs, fd, text.data(), text.size()); });
}

}  // namespace vrindel
