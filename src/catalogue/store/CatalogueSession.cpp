#include "store/CatalogueSession.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "store/merge/ConflictFile.h"

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
        // Before anything reads the catalogue: a save killed halfway left
        // a journal to put it back with.
        recovery_ = recoverFromJournal(systemFileSystem(), listFile_.place());
        // Three bytes of switches go back silently.
        recoverFromJournal(systemFileSystem(), optionsFile_.place());
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
    seeListFile();
    merged_.clear();
    conflicts_.clear();
    return whole;
}

void CatalogueSession::startEmpty() {
    holdFiles();
    listSeen_ = {};
    listRead_ = true;
    merged_.clear();
    conflicts_.clear();
}

void CatalogueSession::seeListFile() {
    listSeen_ = {listFile_.identity(), listFile_.content().bytes(), listFile_.content().digest()};
}

void CatalogueSession::mergeFromDisk(const Catalogue& catalogue) {
    // Names that must not come back: those deleted or renamed here; and
    // those already taken from the other writer, with their locations. Sets
    // ordered by the one comparison keep the merge n log n when the other
    // program added many.
    const Collation& collation = Collation::instance();
    auto before = [&collation](const RecordText& a, const RecordText& b) {
        return collation.compare(a.view(), b.view()) < 0;
    };
    std::set<RecordText, decltype(before)> removed(catalogue.removedNames().begin(), catalogue.removedNames().end(),
                                                   before);
    std::map<RecordText, RecordText, decltype(before)> taken(before);
    for (const auto& [name, location] : merged_)
        taken.emplace(name, location);
    std::set<std::pair<std::string, std::string>> conflicting;
    for (const auto& [name, location] : conflicts_)
        conflicting.emplace(name.str(), location.str());

    // When every record of the file is to be looked at, most are the
    // catalogue's own, in its order: each is first compared with the record
    // after the last one found, which costs no search.
    int next = 0;
    auto isNextOfOurs = [&](const RecordText& name, const RecordText& location) {
        if (next < catalogue.storageCount() && catalogue.storageName(next) == name &&
            catalogue.storageLocation(next) == location) {
            ++next;
            return true;
        }
        return false;
    };

    auto consider = [&](std::string_view nameBytes, std::string_view locationBytes) {
        const RecordText name(nameBytes), location(locationBytes);
        if (isNextOfOurs(name, location))
            return;
        // A record that is already there, byte for byte, loses nothing.
        if (const int j = catalogue.findInStorage(name.view()); j >= 0) {
            if (catalogue.storageName(j) == name && catalogue.storageLocation(j) == location) {
                next = j + 1;
                return;
            }
        } else if (auto it = taken.find(name); it != taken.end()) {
            if (it->first == name && it->second == location)
                return;
        } else if (!removed.contains(name)) {
            taken.emplace(name, location);
            merged_.emplace_back(name, location);
            return;
        }
        if (conflicting.emplace(name.str(), location.str()).second)
            conflicts_.emplace_back(name, location);
    };

    // Another program that only appended left the bytes seen last as they
    // were: then only what follows them is new. Anything else is looked at
    // record by record.
    constexpr std::uint64_t Pair = 2 * ListRecordSize;
    const Seen seen = listSeen_;
    bool appended = false;
    if (seen.identity.present && seen.bytes % Pair == 0) {
        listFile_.reset(ListRecordSize);
        const ClosingOnError closing(listFile_);
        if (std::uint64_t(listFile_.identity().size) >= seen.bytes) {
            ContentHash prefix;
            unsigned char name[ListRecordSize], location[ListRecordSize];
            std::uint64_t at = 0;
            appended = true;
            while (!listFile_.eof()) {
                listFile_.readRecord(name);
                const bool whole = !listFile_.eof();
                if (whole)
                    listFile_.readRecord(location);
                if (at < seen.bytes) {
                    prefix.update(name, sizeof name);
                    prefix.update(location, sizeof location);
                    at += Pair;
                    if (at == seen.bytes && prefix.digest() != seen.digest) {
                        appended = false;
                        break;
                    }
                    continue;
                }
                consider(recordText(name), whole ? recordText(location) : std::string_view());
            }
            // Shorter by now than what was seen: not an append.
            if (at < seen.bytes)
                appended = false;
        }
        listFile_.close();
    }
    if (!appended)
        readRecords(listFile_, consider);
    seeListFile();
}

void CatalogueSession::writeConflicts() {
    if (conflicts_.empty())
        return;
    conflictFile_ = writeConflictFile(systemFileSystem(), listFile_.place(), conflicts_);
    conflictCount_ += conflicts_.size();
    conflicts_.clear();
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
    conflictCount_ = 0;
    conflictFile_.clear();
    if (!listRead_) {
        if (!catalogueSavable())
            return;
        // Created where nothing is; from then on it is the file of this session.
        const FileIdentity absent;
        vrindel::saveCatalogue(listFile_, catalogue, {}, &absent);
        seeListFile();
        listRead_ = true;
        unsynced_ = listFile_.folderSyncError();
        return;
    }
    if (!mayWriteCatalogue())
        return;
    // Through a link or a folder swapped since start-up the save would
    // overwrite a file that is no catalogue of ours.
    listFile_.requireHeldPlace();
    saveMerging(catalogue);
    seeListFile();
    unsynced_ = listFile_.folderSyncError();
}

void CatalogueSession::saveMerging(const Catalogue& catalogue) {
    // Each try costs a merge and a write; a program that writes faster than
    // that is told so rather than raced without end.
    constexpr int Tries = 5;
    for (int attempt = 1;; ++attempt) {
        FileIdentity expected = listFile_.currentIdentity();
        if (!(expected == listSeen_.identity) && expected.present) {
            mergeFromDisk(catalogue);
            expected = listSeen_.identity;
        }
        // The records that cannot be kept are safe in their own file before
        // the catalogue changes.
        writeConflicts();
        // Records merged at an earlier attempt stay, unless the catalogue now
        // has a record of that name.
        std::vector<std::pair<RecordText, RecordText>> more;
        for (const auto& record : merged_)
            if (catalogue.findInStorage(record.first.view()) < 0)
                more.push_back(record);
        try {
            vrindel::saveCatalogue(listFile_, catalogue, more, &expected);
            return;
        } catch (const IoError& e) {
            if (e.code() != io::ChangedMeanwhile)
                throw;
            if (attempt == Tries)
                throw IoError::fromCode(io::KeepsChanging);
        }
    }
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
    vrindel::saveOptions(optionsFile_, switches);   // its rewrite checks the held place
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
