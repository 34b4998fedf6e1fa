#include "store/merge/ConflictCopies.h"

#include <algorithm>
#include <regex>

#include <fcntl.h>

#include "Errors.h"
#include "store/format/CatalogueFiles.h"
#include "store/format/FileLayer.h"
#include "store/io/Retry.h"
#include "store/merge/BaseRecords.h"
#include "store/merge/ThreeWayMerge.h"

namespace vrindel {

const std::vector<CopyNaming>& copyNamings() {
    // "Zoznam.dat" as each engine names its copy. Nextcloud's client names
    // the user too where it knows one; ownCloud's older clients use the
    // short form; Dropbox numbers a second copy of the same day. Each keeps
    // its own database or marker at the top of the folder it carries.
    static const std::vector<CopyNaming> namings = {
        {"Syncthing", R"(STEM\.sync-conflict-\d{8}-\d{6}-[0-9A-Z]{7}EXT)", R"(\.stfolder)"},
        {"Nextcloud", R"(STEM \(conflicted copy (.+ )?\d{4}-\d{2}-\d{2} \d{6}\)EXT)",
         R"(\.nextcloudsync\.log|\._?sync_[0-9a-f]+\.db)"},
        {"ownCloud", R"(STEM_conflict-\d{8}-\d{6}EXT)", R"(\.owncloudsync\.log|\._?sync_[0-9a-f]+\.db)"},
        {"Dropbox", R"(STEM \(.+'s conflicted copy \d{4}-\d{2}-\d{2}( \(\d+\))?\)EXT)", R"(\.dropbox)"},
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

const char* syncEngineOf(FileSystem& fs, const std::string& folder) {
    static const std::vector<std::pair<const char*, std::regex>> markers = [] {
        std::vector<std::pair<const char*, std::regex>> rows;
        for (const CopyNaming& naming : copyNamings())
            rows.emplace_back(naming.engine, std::regex(naming.marker));
        return rows;
    }();
    std::string at = folder.empty() ? std::string(".") : folder;
    for (int depth = 0; depth < 64; ++depth) {
        const int fd = retryInterrupted(
            [&] { return fs.open(AT_FDCWD, at, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK, 0); });
        if (fd >= 0) {
            std::vector<std::string> names;
            const bool listed = retryInterrupted([&] { return fs.listFolder(fd, names); }) == 0;
            fs.close(fd);
            if (listed)
                for (const std::string& name : names)
                    for (const auto& [engine, marker] : markers)
                        if (std::regex_match(name, marker))
                            return engine;
        }
        if (at == "/")
            break;
        const std::size_t slash = at.find_last_of('/');
        if (slash == std::string::npos)
            break;
        at.resize(slash == 0 ? 1 : slash);
    }
    return nullptr;
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
                       const FileIdentity& catalogueFile, std::optional<ReceivedVersion> common)
    : fs_(fs), catalogue_(catalogue), known_(std::move(known)), catalogueFile_(catalogueFile),
      common_(std::move(common)) {}

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
    if (!common_) {
        readAdding(copy);
        return;
    }
    mergeThreeWays(copy, common_->records);
    if (file.content().digest() != common_->digest)
        return;
    // The very version received: everything changed here since stays, and
    // nothing of the copy comes again; its locations a conflict file keeps
    // are still told of.
    for (int j = 0; j < copy.storageCount(); ++j) {
        const RecordText name = copy.storageName(j), location = copy.storageLocation(j);
        const RecordText kept = keptLocation(name);
        if (!(kept == location) && known_.count(BaseRecords::recordHash(name.view(), location.view())) &&
            catalogue_.findInStorage(name.view()) >= 0)
            differs(name, location, kept);
    }
}

void CopyReader::readAdding(const Catalogue& copy) {
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

void CopyReader::mergeThreeWays(const Catalogue& copy, const BaseRecords& base) {
    ThreeWayMerge merge(catalogue_, base);
    for (int j = 0; j < copy.storageCount(); ++j)
        merge.theirs(copy.storageName(j).view(), copy.storageLocation(j).view());
    ThreeWayMerge::Records conflicts;
    const MergedRecords merged = merge.finish(conflicts);
    for (const auto& [name, location] : merged.more)
        take(name, location);
    for (const auto& [name, location] : conflicts)
        differs(name, location, keptLocation(name));
    // A record an earlier copy already deleted or changed keeps what that
    // one made of it; another change of it goes apart.
    for (const int j : merged.dropped)
        if (changed_.emplace(j, std::nullopt).second)
            records_.deleted.push_back({catalogue_.storageName(j), catalogue_.storageLocation(j), {}, false});
    for (const auto& [j, record] : merged.replaced) {
        const auto [it, isNew] = changed_.emplace(j, record);
        if (isNew)
            records_.changed.push_back({record.first, record.second, catalogue_.storageLocation(j), false});
        else if (!it->second || !(it->second->first == record.first && it->second->second == record.second))
            differs(record.first, record.second, catalogue_.storageLocation(j));
    }
}

RecordText CopyReader::keptLocation(const RecordText& name) const {
    const int k = catalogue_.findInStorage(name.view());
    return k >= 0 ? catalogue_.storageLocation(k) : RecordText();
}

MergedRecords CopyReader::changes() const {
    MergedRecords merged;
    for (const auto& [j, record] : changed_) {
        if (record)
            merged.replaced.emplace_back(j, *record);
        else
            merged.dropped.push_back(j);
    }
    return merged;
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
