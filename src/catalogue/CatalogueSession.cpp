#include "CatalogueSession.h"

#include <sys/stat.h>

#include <cerrno>
#include <set>

namespace vrindel {

namespace {

std::string folderOf(const std::string& name) {
    const auto slash = name.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : name.substr(0, slash);
}

// What is at `path` now, links followed; absent when nothing is.
FileIdentity identityAt(const std::string& path) {
    struct ::stat st{};
    if (::stat(path.c_str(), &st) == 0)
        return FileIdentity::of(st);
    if (errno == ENOENT)
        return {};
    throw IoError::fromErrno(errno);
}

}  // namespace

CatalogueLock::State CatalogueSession::lock() {
    lock_ = CatalogueLock::tryAcquire(folderOf(listFile_.name()));
    if (lock_.held()) {
        for (const FileVar* file : {&listFile_, &optionsFile_}) {
            try {
                removeStaleTemporaries(systemFileSystem(), file->resolve());
            } catch (const IoError&) {
                // A name that leads nowhere has no temporaries beside it.
            }
        }
    }
    return lock_.state();
}

void CatalogueSession::ensureCatalogueFile(FileMessages& messages) { vrindel::ensureCatalogueFile(listFile_, messages); }

void CatalogueSession::ensureOptionsFile() { vrindel::ensureOptionsFile(optionsFile_); }

void CatalogueSession::readOptions(const std::function<void(Switch, bool)>& setSwitch) {
    const std::string path = optionsFile_.resolve();
    vrindel::readOptions(optionsFile_, setSwitch);
    optionsPath_ = path;
}

bool CatalogueSession::readCatalogue(Catalogue& catalogue, FileMessages& messages) {
    listRead_ = false;
    const std::string path = listFile_.resolve();
    const bool whole = vrindel::readCatalogue(listFile_, catalogue, messages);
    // A catalogue read only in part is kept on disk like one that could not
    // be opened: writing the part back would lose the rest.
    listRead_ = whole;
    listPath_ = path;
    listSeen_ = listFile_.identity();
    merged_.clear();
    return whole;
}

void CatalogueSession::startEmpty() {
    listPath_ = listFile_.resolve();
    listSeen_ = {};
    listRead_ = true;
    merged_.clear();
}

void CatalogueSession::mergeFromDisk(const Catalogue& catalogue) {
    // Names that must not come back: those deleted or renamed here, and
    // those already taken from the other writer. A set ordered by the one
    // comparison keeps the merge n log n when the other program added many.
    const Collation& collation = Collation::instance();
    auto before = [&collation](const RecordText& a, const RecordText& b) {
        return collation.compare(a.view(), b.view()) < 0;
    };
    std::set<RecordText, decltype(before)> taken(before);
    taken.insert(catalogue.removedNames().begin(), catalogue.removedNames().end());
    for (const auto& kept : merged_)
        taken.insert(kept.first);
    readRecords(listFile_, [&](std::string_view name, std::string_view location) {
        if (catalogue.findInStorage(name) >= 0)
            return;
        RecordText text(name);
        if (taken.insert(text).second)
            merged_.emplace_back(text, RecordText(location));
    });
}

bool CatalogueSession::catalogueSavable() const {
    if (listRead_)
        return true;
    struct ::stat st{};
    return ::lstat(listFile_.name().c_str(), &st) != 0 && errno == ENOENT;
}

void CatalogueSession::saveCatalogue(const Catalogue& catalogue) {
    if (!listRead_) {
        if (!catalogueSavable())
            return;
        // Created where nothing is; from then on it is the file of this session.
        const FileIdentity absent;
        vrindel::saveCatalogue(listFile_, catalogue, {}, &absent);
        listPath_ = listFile_.resolve();
        listSeen_ = listFile_.identity();
        listRead_ = true;
        return;
    }
    // Through a link swapped since start-up the save would overwrite a file
    // that is no catalogue of ours.
    if (listFile_.resolve() != listPath_)
        throw IoError::fromCode(io::FileChanged);
    FileIdentity expected = identityAt(listPath_);
    if (!(expected == listSeen_) && expected.present) {
        mergeFromDisk(catalogue);
        expected = listFile_.identity();
    }
    // Records merged at an earlier attempt stay, unless the catalogue now
    // has a record of that name.
    std::vector<std::pair<RecordText, RecordText>> more;
    for (const auto& record : merged_)
        if (catalogue.findInStorage(record.first.view()) < 0)
            more.push_back(record);
    vrindel::saveCatalogue(listFile_, catalogue, more, &expected);
    listSeen_ = listFile_.identity();
}

void CatalogueSession::saveOptions(const Switches& switches) {
    if (!optionsPath_.empty() && optionsFile_.resolve() != optionsPath_)
        throw IoError::fromCode(io::FileChanged);
    vrindel::saveOptions(optionsFile_, switches);
}

}  // namespace vrindel
