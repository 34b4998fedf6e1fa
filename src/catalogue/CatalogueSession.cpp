#include "CatalogueSession.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

namespace vrindel {

void CatalogueSession::holdFiles() {
    if (!listFile_.held()) {
        listFile_.hold();
        // The lock moves with the catalogue when a save puts a new file in
        // its place. Should the new file refuse a lock (a file system without
        // them) the folder's lock still stands.
        listFile_.beforeReplacing([this](int fd) {
            if (lockTried_)
                lock_.addFile(fd);
        });
    }
    if (!optionsFile_.held())
        optionsFile_.hold();
}

CatalogueLock::State CatalogueSession::lock() {
    holdFiles();
    lock_ = CatalogueLock::tryAcquire(listFile_.place());
    lockTried_ = true;
    if (lock_.held()) {
        for (FileVar* file : {&listFile_, &optionsFile_}) {
            const HeldFile& at = file->place();
            if (at.error() == 0)
                removeStaleTemporaries(systemFileSystem(), at.folder(), at.leaf());
        }
    }
    return lock_.state();
}

void CatalogueSession::ensureCatalogueFile(FileMessages& messages) {
    holdFiles();
    vrindel::ensureCatalogueFile(listFile_, messages);
    // In a folder that cannot be read, only the file can carry the lock:
    // now that it is there, it does.
    if (lockTried_ && !lock_.held() && !lock_.busy())
        lock_ = CatalogueLock::tryAcquire(listFile_.place());
}

void CatalogueSession::ensureOptionsFile() {
    holdFiles();
    vrindel::ensureOptionsFile(optionsFile_);
}

void CatalogueSession::readOptions(const std::function<void(Switch, bool)>& setSwitch) {
    holdFiles();
    optionsRead_ = false;
    // Bytes the file lacks leave the switches as the window starts them.
    Switches seen{true, true, true};
    vrindel::readOptions(optionsFile_, [&](Switch which, bool on) {
        (which == Switch::Zoradit ? seen.zoradit : which == Switch::DelPlaceBox ? seen.delPlaceBox : seen.delExt) = on;
        setSwitch(which, on);
    });
    optionsSeen_ = seen;
    optionsRead_ = true;
}

bool CatalogueSession::readCatalogue(Catalogue& catalogue, FileMessages& messages) {
    holdFiles();
    listRead_ = false;
    const bool whole = vrindel::readCatalogue(listFile_, catalogue, messages);
    // A catalogue read only in part is kept on disk like one that could not
    // be opened: writing the part back would lose the rest.
    listRead_ = whole;
    listSeen_ = listFile_.identity();
    merged_.clear();
    return whole;
}

void CatalogueSession::startEmpty() {
    holdFiles();
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

bool CatalogueSession::catalogueSavable() {
    if (!mayWriteCatalogue())
        return false;
    if (listRead_)
        return true;
    holdFiles();
    const HeldFile& at = listFile_.place();
    if (at.error())
        return false;
    try {
        return !listFile_.currentIdentity().present;
    } catch (const IoError&) {
        return false;
    }
}

void CatalogueSession::saveCatalogue(const Catalogue& catalogue) {
    holdFiles();
    unsynced_ = 0;
    if (!listRead_) {
        if (!catalogueSavable())
            return;
        // Created where nothing is; from then on it is the file of this session.
        const FileIdentity absent;
        vrindel::saveCatalogue(listFile_, catalogue, {}, &absent);
        listSeen_ = listFile_.identity();
        listRead_ = true;
        unsynced_ = listFile_.folderSyncError();
        return;
    }
    if (!mayWriteCatalogue())
        return;
    // Through a link or a folder swapped since start-up the save would
    // overwrite a file that is no catalogue of ours.
    listFile_.requireHeldPlace();
    FileIdentity expected = listFile_.currentIdentity();
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
    unsynced_ = listFile_.folderSyncError();
}

void CatalogueSession::saveChangedCatalogue(const Catalogue& catalogue) {
    holdFiles();
    if (!catalogue.changed()) {
        // Unchanged, it is written back only to bring back a file that went.
        const HeldFile& at = listFile_.place();
        if (!listRead_ || at.error() || listFile_.currentIdentity().present)
            return;
    }
    saveCatalogue(catalogue);
}

void CatalogueSession::saveOptions(const Switches& switches) {
    holdFiles();
    if (!optionsRead_ || switches == optionsSeen_)
        return;
    optionsFile_.requireHeldPlace();
    vrindel::saveOptions(optionsFile_, switches);
    optionsSeen_ = switches;
    if (!unsynced_)
        unsynced_ = optionsFile_.folderSyncError();
}

void warnUnsyncedFolder(const char* program, int err) {
    static bool said = false;
    if (err == 0 || said)
        return;
    said = true;
    std::fprintf(stderr, "%s: saved, but the folder could not be synced (%s); the save may not survive a power cut\n",
                 program, std::strerror(err));
}

}  // namespace vrindel
