#include "store/merge/ConflictCopies.h"

#include <algorithm>
#include <regex>

#include "Errors.h"
#include "store/format/CatalogueFiles.h"
#include "store/format/FileLayer.h"
#include "store/io/Retry.h"
#include "store/merge/BaseRecords.h"

namespace vrindel {

const std::vector<CopyNaming>& copyNamings() {
    // "Zoznam.dat" as each engine names its copy. Nextcloud's client names
    // the user too where it knows one; ownCloud's older clients use the
    // short form; Dropbox numbers a second copy of the same day.
    static const std::vector<CopyNaming> namings = {
        {"Syncthing", R"(STEM\.sync-conflict-\d{8}-\d{6}-[0-9A-Z]{7}EXT)"},
        {"Nextcloud", R"(STEM \(conflicted copy (.+ )?\d{4}-\d{2}-\d{2} \d{6}\)EXT)"},
        {"ownCloud", R"(STEM_conflict-\d{8}-\d{6}EXT)"},
        {"Dropbox", R"(STEM \(.+'s conflicted copy \d{4}-\d{2}-\d{2}( \(\d+\))?\)EXT)"},
    };
    return namings;
}

namespace {

std::string escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (std::string_view(R"(\^$.|?*+()[]{})").find(c) != std::string_view::npos)
            out += '\\';
        out += c;
    }
    return out;
}

// The table's rows made for one file's name.
class Namings {
public:
    explicit Namings(std::string_view fileName) {
        const std::size_t dot = fileName.rfind('.');
        const std::string stem = escaped(fileName.substr(0, dot));
        const std::string ext = dot == std::string_view::npos ? std::string() : escaped(fileName.substr(dot));
        for (const CopyNaming& naming : copyNamings()) {
            std::string pattern = naming.pattern;
            pattern.replace(pattern.find("STEM"), 4, stem);
            pattern.replace(pattern.rfind("EXT"), 3, ext);
            rows_.emplace_back(naming.engine, std::regex(pattern));
        }
    }

    const char* engine(std::string_view name) const {
        for (const auto& [engine, pattern] : rows_)
            if (std::regex_match(name.begin(), name.end(), pattern))
                return engine;
        return nullptr;
    }

private:
    std::vector<std::pair<const char*, std::regex>> rows_;
};

// The window's two file messages, kept quiet: a copy that ends in the
// middle of a record is said to be damaged in the report instead.
class QuietMessages : public FileMessages {
public:
    void listFileMissing() override {}
    void listFileDamaged() override { damaged = true; }
    bool damaged = false;
};

}  // namespace

const char* conflictCopyEngine(std::string_view name, std::string_view fileName) {
    return Namings(fileName).engine(name);
}

std::vector<CopyName> listConflictCopies(FileSystem& fs, int folder, const std::string& fileName) {
    std::vector<std::string> names;
    if (retryInterrupted([&] { return fs.listFolder(folder, names); }) != 0)
        throw IoError::fromErrno(errno);
    const Namings namings(fileName);
    std::vector<CopyName> copies;
    for (std::string& name : names)
        if (const char* engine = namings.engine(name))
            copies.push_back({std::move(name), engine});
    std::sort(copies.begin(), copies.end(), [](const CopyName& a, const CopyName& b) { return a.name < b.name; });
    return copies;
}

CopyReader::CopyReader(FileSystem& fs, const Catalogue& catalogue, std::set<std::uint64_t> known,
                       const FileIdentity& catalogueFile)
    : fs_(fs), catalogue_(catalogue), known_(std::move(known)), catalogueFile_(catalogueFile) {}

void CopyReader::read(const std::string& path) {
    FileVar file(fs_);
    file.assign(path);
    file.setReadingOnly(true);
    Catalogue copy;
    QuietMessages messages;
    const bool whole = readCatalogue(file, copy, messages);
    // A read the system broke off is no copy to merge from, let alone
    // remove.
    if (!whole)
        throw IoError::fromCode(io::ReadPastEnd);
    // The catalogue itself, by another name, is no copy: merged, it would
    // add nothing; removed, it would be gone.
    if (catalogueFile_.present && file.identity().sameFile(catalogueFile_))
        throw IoError::fromCode(io::InvalidFilename);
    copies_.push_back({path, file.identity(), messages.damaged});
    if (messages.damaged)
        records_.damaged.push_back(path);
    for (int j = 0; j < copy.storageCount(); ++j) {
        const RecordText name = copy.storageName(j), location = copy.storageLocation(j);
        const int k = catalogue_.findInStorage(name.view());
        if (k >= 0) {
            const RecordText kept = catalogue_.storageLocation(k);
            if (!(kept == location) && !listedLater(name, location))
                differs(name, location, kept);
            continue;
        }
        take(name, location);
    }
}

bool CopyReader::listedLater(const RecordText& name, const RecordText& location) {
    if (!ours_) {
        ours_.emplace();
        ours_->reserve(std::size_t(catalogue_.storageCount()));
        for (int j = 0; j < catalogue_.storageCount(); ++j)
            ours_->add(catalogue_.storageName(j).view(), catalogue_.storageLocation(j).view());
    }
    return ours_->hasRecord(name.view(), location.view());
}

void CopyReader::take(const RecordText& name, const RecordText& location) {
    const auto [it, isNew] = taken_.emplace(name, location);
    if (isNew) {
        records_.missing.push_back({name, location, {}, false});
        return;
    }
    // Two copies disagree on a record the catalogue lacks: the first is
    // added, the other kept apart like any location the catalogue does
    // not take.
    if (!(it->second == location))
        differs(name, location, it->second);
}

void CopyReader::differs(const RecordText& name, const RecordText& location, const RecordText& kept) {
    const std::uint64_t hash = BaseRecords::recordHash(name.view(), location.view());
    if (!differing_.insert(hash).second)
        return;
    records_.differing.push_back({name, location, kept, known_.count(hash) > 0});
}

}  // namespace vrindel
