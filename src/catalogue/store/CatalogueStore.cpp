#include "store/CatalogueStore.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>

#include "store/format/CatalogueFiles.h"
#include "store/io/ContentHash.h"
#include "store/io/Retry.h"
#include "store/journal/RollbackJournal.h"
#include "store/lock/CatalogueLock.h"
#include "store/merge/CommonVersions.h"
#include "store/merge/ConflictCopies.h"
#include "store/merge/ConflictFile.h"
#include "store/merge/OtherWriters.h"
#include "store/save/SaveWay.h"
#include "store/save/SideFile.h"

namespace vrindel {

namespace {

LockState stateOf(const CatalogueLock& lock) {
    switch (lock.state()) {
    case CatalogueLock::State::Held: return LockState::Held;
    case CatalogueLock::State::Busy: return LockState::Busy;
    case CatalogueLock::State::Unlocked: break;
    }
    return LockState::Unlocked;
}

bool& switchOf(Switches& switches, Switch which) {
    return which == Switch::Zoradit ? switches.zoradit : which == Switch::DelPlaceBox ? switches.delPlaceBox : switches.delExt;
}

bool switchOf(const Switches& switches, Switch which) {
    return which == Switch::Zoradit ? switches.zoradit : which == Switch::DelPlaceBox ? switches.delPlaceBox : switches.delExt;
}

}  // namespace

std::size_t CopyRecords::unknownDifferences() const {
    return std::size_t(std::count_if(differing.begin(), differing.end(), [](const CopyRecord& r) { return !r.known; }));
}

const SaveReport::Failure* SaveReport::failure(StoredFile file) const {
    for (const Failure& f : failures)
        if (f.file == file)
            return &f;
    return nullptr;
}

// Everything the store keeps, out of its callers' sight.
class CatalogueStore::Files {
public:
    Files(const std::string& folder, FileSystem& fs) : fs(fs), list(fs), options(fs) {
        const std::string prefix = folder.empty() ? std::string() : folder + (folder.back() == '/' ? "" : "/");
        list.assign(prefix + ListFileName);
        options.assign(prefix + OptionsFileName);
    }

    void hold();
    void openForChange();
    void openForLooking();
    void takeRecovery(const JournalRecovery& recovery);
    bool mayWrite() const { return lock.held() && !opening.rollbackStuck; }
    // Opened for looking: holds the catalogue for reading, after any save
    // in place that is going on; let go once it is read.
    bool holdForReading();
    void letGoOfReading() {
        if (readingFd >= 0)
            fs.close(readingFd);
        readingFd = -1;
    }
    ~Files() {
        waitForCommonVersion();
        letGoOfReading();
    }
    // The merge's common version of a catalogue just read may be taken
    // beside its name order, off this thread: `others` is not touched until
    // it is there.
    void waitForCommonVersion() {
        if (commonVersion.valid())
            commonVersion.wait();
        commonVersion = {};
    }
    bool savable();
    void saveCatalogue(const Catalogue& catalogue, SaveReport& report);
    MergedRecords saveMerging(const Catalogue& catalogue, SaveReport& report);
    void saveOptions(const Switches& switches, SaveReport& report);
    void keepCommonVersions();
    const std::string& catalogueKey();
    bool carried();
    bool copiesBeside();
    std::string keepBytesBeside(FileVar& file);
    CopyReader readCopies(const Catalogue& catalogue, const std::vector<std::string>& paths);
    CopyReader copyReader(const Catalogue& catalogue);
    void removeCopies(const CopyReader& reader, CopyMerge& result);

    FileSystem& fs;
    FileVar list;
    FileVar options;
    bool opened = false;
    Opening opening;
    CatalogueLock lock;

    bool listRead = false;
    bool optionsRead = false;
    // Read whole, but not as a save writes them (a name without its
    // location or a part of a record at the catalogue's end; switches of
    // another size or with other bytes than 0 and 1): the first close saves
    // them, once their bytes are kept beside them.
    bool listOdd = false;
    bool optionsOdd = false;
    bool listKept = false;      // this session kept them already
    bool optionsKept = false;
    Switches optionsSeen;   // as read: the common version of a merge
    OtherWriters others;
    Catalogue::Ordering commonVersion;   // see waitForCommonVersion
    bool tookOthers = false;   // the last save of the catalogue merged another program's changes
    // For the common versions of copies (CommonVersions.h): a digest of the
    // catalogue as this session read it, until its first save.
    std::optional<std::uint64_t> readDigest;
    std::string key;   // the catalogue's full path, once asked
    std::optional<bool> carriedBySync;   // once asked
    // A reading command's hold on the catalogue: a save in place waits
    // until it has been read.
    int readingFd = -1;
};

void CatalogueStore::Files::hold() {
    list.hold();
    options.hold();
    opening.catalogueError = list.place().openError();
    // The lock moves with the catalogue when a save puts a new file in its
    // place. Should the new file refuse a lock (a file system without them)
    // the folder's lock still stands.
    list.beforeReplacing([this](int fd) { lock.addFile(fd); });
}

void CatalogueStore::Files::takeRecovery(const JournalRecovery& recovery) {
    opening.rolledBack = recovery.rolledBack;
    opening.rollbackStuck = recovery.stuck;
    opening.rollbackReason = recovery.reason;
    opening.journal = recovery.journal;
    opening.journalOwner = recovery.owner;
    opening.refusedJournals.insert(opening.refusedJournals.end(), recovery.refused.begin(), recovery.refused.end());
}

bool CatalogueStore::Files::holdForReading() {
    letGoOfReading();
    const HeldFile& at = list.place();
    if (at.error())
        return true;
    readingFd = retryInterrupted([&] {
        return fs.open(at.folder(), at.leaf(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0);
    });
    if (readingFd < 0)
        return true;   // nothing there, or nothing this user can read: the read says so
    struct ::stat st{};
    if (retryInterrupted([&] { return fs.fstat(readingFd, &st); }) != 0 || !S_ISREG(st.st_mode)) {
        letGoOfReading();
        return true;
    }
    if (lockRange(readingFd, false))
        return true;
    letGoOfReading();
    return false;
}

void CatalogueStore::Files::openForChange() {
    hold();
    lock = CatalogueLock::tryAcquire(list.place());
    opening.lock = stateOf(lock);
    opening.lockError = lock.error();
    if (!lock.held())
        return;
    // Before anything reads the catalogue: a save killed halfway left a
    // journal to put it back with. Three bytes of switches go back silently.
    takeRecovery(recoverFromJournal(fs, list.place()));
    // Three bytes of switches go back silently; a journal refused for them
    // is told of as the catalogue's are.
    const JournalRecovery switches = recoverFromJournal(fs, options.place());
    opening.refusedJournals.insert(opening.refusedJournals.end(), switches.refused.begin(), switches.refused.end());
    for (FileVar* file : {&list, &options}) {
        const HeldFile& at = file->place();
        if (at.error() == 0)
            removeStaleTemporaries(fs, at.folder(), at.leaf());
    }
}

void CatalogueStore::Files::openForLooking() {
    list.setReadingOnly(true);
    options.setReadingOnly(true);
    hold();
    // Reading takes no lock, but waits for a save in place that is going on
    // (it holds the file for writing), and then holds the file so that no
    // such save starts before the reading is done.
    if (!holdForReading()) {
        opening.saveInProgress = true;
        return;
    }
    // Putting a half-saved file back takes the catalogue's lock. A journal
    // left while a window or command holds it is one whose save was cut
    // short and not taken back: the file may be half-saved.
    if (journalPending(fs, list.place())) {
        letGoOfReading();
        const CatalogueLock looking = CatalogueLock::tryAcquire(list.place());
        if (looking.held()) {
            takeRecovery(recoverFromJournal(fs, list.place()));
        } else {
            opening.rollbackStuck = true;
            opening.rollbackReason = ioErrorText(io::JournalPending);
        }
        if (!holdForReading())
            opening.saveInProgress = true;
    }
}

bool CatalogueStore::Files::savable() {
    if (!mayWrite())
        return false;
    if (listRead)
        return true;
    if (list.place().error())
        return false;
    try {
        return !list.currentIdentity().present;
    } catch (const IoError&) {
        return false;
    }
}

void CatalogueStore::Files::saveCatalogue(const Catalogue& catalogue, SaveReport& report) {
    waitForCommonVersion();
    // Without its common version a merge would take every record as another
    // program's.
    if (others.baseLater())
        throw std::logic_error("a catalogue read with its common version for the save is saved by saveAppended");
    if (lock.held() && opening.rollbackStuck) {
        // Saved over, the half-written file would stay so for good.
        report.failures.push_back({StoredFile::Catalogue, IoError::fromCode(io::JournalPending), false});
        return;
    }
    others.startSave();
    tookOthers = false;
    try {
        MergedRecords merged;
        if (!listRead) {
            if (!savable())
                return;
            // Created where nothing is; from then on it is the file of this store.
            const FileIdentity absent;
            vrindel::saveCatalogue(list, catalogue, merged, &absent);
            listRead = true;
        } else {
            if (!mayWrite())
                return;
            merged = saveMerging(catalogue, report);
        }
        keepCommonVersions();
        others.wrote(list, catalogue, merged);
        tookOthers = !merged.dropped.empty() || !merged.replaced.empty() || !merged.more.empty();
        report.unsyncedFolder = list.folderSyncError();
        report.inPlace = list.rewroteInPlace();
    } catch (const IoError& e) {
        report.failures.push_back({StoredFile::Catalogue, e, list.rollbackPending()});
    }
    report.merged = others.merged();
    report.conflicts = others.conflicts();
    report.conflictFile = others.conflictFile();
}

const std::string& CatalogueStore::Files::catalogueKey() {
    if (key.empty() && !list.place().error())
        key = heldPath(fs, list.place());
    return key;
}

bool CatalogueStore::Files::carried() {
    if (!carriedBySync) {
        const std::string& path = catalogueKey();
        const std::size_t slash = path.rfind('/');
        carriedBySync = slash != std::string::npos &&
                        syncEngineOf(fs, slash == 0 ? std::string("/") : path.substr(0, slash)) != nullptr;
    }
    return *carriedBySync;
}

bool CatalogueStore::Files::copiesBeside() {
    try {
        return !listConflictCopies(fs, list.place().folder(), list.place().leaf()).empty();
    } catch (const IoError&) {
        return true;   // not known to be none
    }
}

void CatalogueStore::Files::keepCommonVersions() {
    waitForCommonVersion();
    // Called with the save just in place: the file holds what was written,
    // and the merge's common version is still the catalogue as read. Only
    // a folder a sync engine carries has another computer to have a common
    // version with.
    if (!carried())
        return;
    const std::string& path = catalogueKey();
    // The first save of a session tells whether the catalogue it read came
    // from elsewhere: what this computer received last.
    const std::optional<std::uint64_t> saved = readSavedDigest(fs, path);
    if (readDigest && (!saved || *saved != *readDigest) && !copiesBeside()) {
        const auto received = readReceivedVersion(fs, path, false);
        if (!received || received->digest != *readDigest)
            writeReceivedVersion(fs, path, *readDigest, others.base());
    }
    writeSavedDigest(fs, path, list.content().digest());
    readDigest.reset();
}

// A file that is not as a save writes it is kept byte for byte beside
// itself before a save rewrites it: whatever the damage hid (the rest of a
// record cut short) stays for the user to look at. Returns where, or
// nothing when no regular file is there.
std::string CatalogueStore::Files::keepBytesBeside(FileVar& file) {
    const HeldFile& at = file.place();
    const int from = retryInterrupted([&] {
        return fs.open(at.folder(), at.leaf(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0);
    });
    if (from < 0) {
        if (errno == ENOENT)
            return {};
        throw IoError::fromErrno(errno);
    }
    struct ::stat st{};
    if (retryInterrupted([&] { return fs.fstat(from, &st); }) != 0 || !S_ISREG(st.st_mode)) {
        const int err = S_ISREG(st.st_mode) ? errno : 0;
        fs.close(from);
        if (err)
            throw IoError::fromErrno(err);
        return {};   // the rewrite refuses it
    }
    const auto copy = [&](int to) {
        std::vector<char> buffer(65536);
        for (;;) {
            const ssize_t n = retryInterrupted([&] { return fs.read(from, buffer.data(), buffer.size()); });
            if (n < 0)
                return errno;
            if (n == 0)
                return 0;
            if (const int err = writeAll(fs, to, buffer.data(), std::size_t(n)))
                return err;
        }
    };
    try {
        std::string path = writeSideFile(fs, at, at.leaf() + ".damaged-" + sideFileTimeStamp(), "", copy);
        fs.close(from);
        return path;
    } catch (...) {
        fs.close(from);
        throw;
    }
}

MergedRecords CatalogueStore::Files::saveMerging(const Catalogue& catalogue, SaveReport& report) {
    waitForCommonVersion();
    // Each try costs a merge and a write; a program that writes faster than
    // that is told so rather than raced without end.
    constexpr int Tries = 5;
    for (int attempt = 1;; ++attempt) {
        FileIdentity expected = list.currentIdentity();
        MergedRecords merged;
        if (!others.unchanged(expected) && expected.present) {
            // Through a link or a folder swapped since start-up the merge
            // would read, and the save overwrite, a file that is no
            // catalogue of ours. (Unmerged, the rewrite checks it itself.)
            list.requireHeldPlace();
            merged = others.merge(list, catalogue);
            expected = others.expected();
        }
        // The records that cannot be kept are safe in their own file before
        // the catalogue changes.
        others.writeConflicts(fs, list.place());
        if (!listKept && expected.present && expected.size % off_t(2 * ListRecordSize) != 0) {
            if (std::string kept = keepBytesBeside(list); !kept.empty())
                report.keptDamaged.push_back(std::move(kept));
            listKept = true;
        }
        try {
            // Its rewrite checks that the name still leads to the held file.
            vrindel::saveCatalogue(list, catalogue, merged, &expected);
            return merged;
        } catch (const IoError& e) {
            if (e.code() != io::ChangedMeanwhile)
                throw;
            if (attempt == Tries)
                throw IoError::fromCode(io::KeepsChanging);
        }
    }
}

void CatalogueStore::Files::saveOptions(const Switches& switches, SaveReport& report) {
    if (!optionsRead)
        return;
    try {
        // Unchanged switches are written back only to bring back a file
        // that went, or to mend one that is not as a save writes it.
        if (switches == optionsSeen && !optionsOdd &&
            (options.place().error() || options.currentIdentity().present))
            return;
        // Switch by switch, three ways: one changed here wins, any other
        // keeps what another program (or computer) set meanwhile.
        Switches theirs = optionsSeen;
        std::uint64_t bytes = 0;
        // Read only where this store's file still is: a name that came to
        // lead elsewhere is neither read nor written.
        options.requireHeldPlace();
        bool asSaved = false;
        if (options.exists()) {
            asSaved = vrindel::readOptions(options, [&](Switch which, bool on) { switchOf(theirs, which) = on; });
            bytes = options.sizeInRecords();
        }
        Switches merged = theirs;
        for (Switch which : {Switch::Zoradit, Switch::DelPlaceBox, Switch::DelExt})
            if (switchOf(switches, which) != switchOf(optionsSeen, which))
                switchOf(merged, which) = switchOf(switches, which);
        if (merged == theirs && bytes == 3 && asSaved)
            return;
        if (bytes != 0 && !asSaved && !optionsKept) {
            if (std::string kept = keepBytesBeside(options); !kept.empty())
                report.keptDamaged.push_back(std::move(kept));
            optionsKept = true;
        }
        vrindel::saveOptions(options, merged);   // its rewrite checks the held place
        optionsOdd = false;
        if (!report.unsyncedFolder)
            report.unsyncedFolder = options.folderSyncError();
    } catch (const IoError& e) {
        report.failures.push_back({StoredFile::Options, e, options.rollbackPending()});
    }
}

CopyReader CatalogueStore::Files::readCopies(const Catalogue& catalogue, const std::vector<std::string>& paths) {
    waitForCommonVersion();
    CopyReader reader = copyReader(catalogue);
    for (const std::string& path : paths)
        reader.read(path);
    return reader;
}

CopyReader CatalogueStore::Files::copyReader(const Catalogue& catalogue) {
    waitForCommonVersion();
    FileIdentity catalogueFile;
    try {
        if (!list.place().error())
            catalogueFile = list.currentIdentity();
    } catch (const IoError&) {
        // Nothing there to tell apart from the copies.
    }
    const std::set<std::uint64_t> known =
        list.place().error() ? std::set<std::uint64_t>() : recordsInConflictFiles(fs, list.place());
    return CopyReader(fs, catalogue, known, catalogueFile,
                      carried() ? readReceivedVersion(fs, catalogueKey()) : std::nullopt);
}

void CatalogueStore::Files::removeCopies(const CopyReader& reader, CopyMerge& result) {
    using Why = CopyMerge::Kept::Why;
    for (const CopyReader::Read& copy : reader.copies()) {
        if (copy.damaged) {
            result.kept.push_back({copy.path, Why::Damaged});
            continue;
        }
        // Only the very file that was read goes: not a link to it, and not
        // a newer copy the sync engine put there meanwhile.
        struct ::stat st {};
        if (retryInterrupted([&] { return fs.lstat(AT_FDCWD, copy.path, &st); }) != 0 || !S_ISREG(st.st_mode) ||
            !(FileIdentity::of(st) == copy.identity)) {
            result.kept.push_back({copy.path, Why::Changed});
            continue;
        }
        if (retryInterrupted([&] { return fs.unlink(AT_FDCWD, copy.path); }) != 0) {
            result.kept.push_back({copy.path, Why::Failed, errno});
            continue;
        }
        result.removed.push_back(copy.path);
    }
}

// --- CatalogueStore ---------------------------------------------------------------

CatalogueStore::CatalogueStore(const std::string& folder, FileSystem& fs)
    : files_(std::make_unique<Files>(folder, fs)) {}

CatalogueStore::~CatalogueStore() = default;

const Opening& CatalogueStore::open() {
    if (!files_->opened) {
        files_->opened = true;
        files_->openForChange();
    }
    return files_->opening;
}

const Opening& CatalogueStore::openForLooking() {
    if (!files_->opened) {
        files_->opened = true;
        files_->openForLooking();
    }
    return files_->opening;
}

const Opening& CatalogueStore::opening() const { return files_->opening; }

std::string CatalogueStore::cataloguePath() {
    open();
    return heldPath(files_->fs, files_->list.place());
}

bool CatalogueStore::catalogueExists() {
    open();
    return files_->list.exists();
}

std::vector<std::string> CatalogueStore::otherComputersLeftovers() {
    open();
    std::vector<std::string> found;
    for (FileVar* file : {&files_->list, &files_->options}) {
        const HeldFile& at = file->place();
        if (at.error())
            continue;
        for (std::vector<std::string> names :
             {otherComputersTemporaries(at.folder(), at.leaf()), otherComputersJournals(at.folder(), at.leaf())})
            found.insert(found.end(), names.begin(), names.end());
    }
    return found;
}

bool CatalogueStore::catalogueOpens() {
    open();
    try {
        files_->list.reset(ListRecordSize);
        files_->list.close();
        return true;
    } catch (const IoError&) {
        return false;
    }
}

void CatalogueStore::ensureCatalogueFile(FileMessages& messages) {
    open();
    vrindel::ensureCatalogueFile(files_->list, messages);
    // In a folder that cannot be read, only the file can carry the lock:
    // now that it is there, it does.
    Files& f = *files_;
    if (f.opening.lock == LockState::Unlocked) {
        f.lock = CatalogueLock::tryAcquire(f.list.place());
        f.opening.lock = stateOf(f.lock);
        f.opening.lockError = f.lock.error();
    }
}

void CatalogueStore::ensureOptionsFile() {
    open();
    vrindel::ensureOptionsFile(files_->options);
}

void CatalogueStore::readOptions(const std::function<void(Switch, bool)>& setSwitch) {
    open();
    Files& f = *files_;
    f.optionsRead = false;
    // Bytes the file lacks leave the switches as the window starts them.
    Switches seen{true, true, true};
    f.optionsOdd = !vrindel::readOptions(f.options, [&](Switch which, bool on) {
        switchOf(seen, which) = on;
        setSwitch(which, on);
    });
    f.optionsSeen = seen;
    f.optionsRead = true;
}

bool CatalogueStore::readCatalogue(Catalogue& catalogue, FileMessages& messages, bool indexed, bool commonAtSave) {
    open();
    Files& f = *files_;
    f.waitForCommonVersion();
    f.listRead = false;
    const bool whole = vrindel::readCatalogue(f.list, catalogue, messages);
    f.letGoOfReading();
    // A catalogue read only in part is kept on disk like one that could not
    // be opened: writing the part back would lose the rest.
    f.listRead = whole;
    f.listOdd = whole && f.list.identity().size % off_t(2 * ListRecordSize) != 0;
    // The name order is worked out beside whatever comes next (the merge's
    // common version, the window's first rows); the first question it
    // cannot answer without the order waits for it.
    if (commonAtSave) {
        if (indexed)
            catalogue.orderInBackground();
        f.others.startFromLater(f.list, catalogue.storageCount());
    } else if (indexed) {
        f.others.startFrom(f.list);
        f.commonVersion = catalogue.orderInBackground(
            [&others = f.others](const Catalogue::LoadedTexts& records) { others.rebase(records); });
    } else {
        f.others.startFrom(f.list, catalogue);
    }
    f.readDigest.reset();
    if (whole)
        f.readDigest = f.list.content().digest();
    return whole;
}

bool CatalogueStore::readCatalogue(const std::function<void(std::string_view, std::string_view)>& each,
                                   FileMessages& messages) {
    open();
    Files& f = *files_;
    f.listRead = false;
    bool whole = false;
    try {
        whole = vrindel::readCatalogue(f.list, each, messages);
    } catch (...) {
        f.letGoOfReading();
        throw;
    }
    f.letGoOfReading();
    return whole;
}

void CatalogueStore::readRecords(const std::function<void(std::string_view, std::string_view)>& each) {
    open();
    vrindel::readRecords(files_->list, each);
    files_->letGoOfReading();
}

std::string CatalogueStore::readRecordBytes(std::uint64_t& fileSize) {
    open();
    FileVar& list = files_->list;
    list.reset(ListRecordSize);
    const ClosingOnError closing(list);
    fileSize = std::uint64_t(list.identity().size);
    std::string bytes(std::size_t(list.sizeInRecords()) * ListRecordSize, '\0');
    for (std::size_t at = 0; at < bytes.size(); at += ListRecordSize)
        list.readRecord(bytes.data() + at);
    list.close();
    files_->letGoOfReading();
    return bytes;
}

void CatalogueStore::startEmpty() {
    open();
    files_->waitForCommonVersion();
    files_->listRead = true;
    files_->others.startFromNothing();
    // Nothing was there: the catalogue grows from nothing here.
    files_->readDigest = ContentHash().digest();
}

bool CatalogueStore::catalogueRead() const { return files_->listRead; }

bool CatalogueStore::catalogueSavable() {
    open();
    return files_->savable();
}

SaveReport CatalogueStore::saveAppended(const Catalogue& catalogue,
                                        const std::vector<std::pair<int, std::string_view>>& readWith) {
    files_->others.rebaseAsRead(catalogue, readWith);
    return saveCatalogue(catalogue);
}

SaveReport CatalogueStore::saveCatalogue(const Catalogue& catalogue) {
    open();
    SaveReport report;
    files_->saveCatalogue(catalogue, report);
    return report;
}

SaveReport CatalogueStore::saveChangedCatalogue(const Catalogue& catalogue) {
    open();
    Files& f = *files_;
    if (!catalogue.changed()) {
        // Unchanged, it is written back only to bring back a file that went,
        // or to mend one read whole that is not as a save writes it (and is
        // still so).
        try {
            if (!f.listRead || f.list.place().error())
                return {};
            const FileIdentity now = f.list.currentIdentity();
            if (now.present && !(f.listOdd && now.size % off_t(2 * ListRecordSize) != 0))
                return {};
        } catch (const IoError& e) {
            SaveReport report;
            report.failures.push_back({StoredFile::Catalogue, e, false});
            return report;
        }
    }
    return saveCatalogue(catalogue);
}

SaveReport CatalogueStore::saveOptions(const Switches& switches) {
    open();
    SaveReport report;
    files_->saveOptions(switches, report);
    return report;
}

SaveReport CatalogueStore::saveAll(const Catalogue& catalogue, const Switches& switches) {
    SaveReport report = saveChangedCatalogue(catalogue);
    files_->saveOptions(switches, report);
    return report;
}

std::vector<ConflictCopy> CatalogueStore::conflictCopies() {
    open();
    Files& f = *files_;
    std::vector<ConflictCopy> copies;
    for (const auto& [file, var] : {std::pair{StoredFile::Catalogue, &f.list}, {StoredFile::Options, &f.options}}) {
        const HeldFile& at = var->place();
        if (at.error())
            continue;
        std::string folder;
        for (CopyName& copy : listConflictCopies(f.fs, at.folder(), at.leaf())) {
            if (folder.empty()) {
                folder = heldPath(f.fs, at);
                folder.resize(folder.size() - at.leaf().size());
            }
            copies.push_back({file, copy.name, folder + copy.name, copy.engine});
        }
    }
    return copies;
}

CopyRecords CatalogueStore::compareCopies(const Catalogue& catalogue, const std::vector<std::string>& paths) {
    open();
    return std::move(files_->readCopies(catalogue, paths).records());
}

CopyMerge CatalogueStore::mergeCopies(Catalogue& catalogue, const std::vector<std::string>& paths, bool removeCopies) {
    open();
    Files& f = *files_;
    CopyReader reader = f.readCopies(catalogue, paths);
    CopyMerge result;
    result.records = reader.records();
    const auto keepAll = [&] {
        if (removeCopies)
            for (const CopyReader::Read& copy : reader.copies())
                result.kept.push_back({copy.path, CopyMerge::Kept::Why::NotSaved});
    };
    if (!f.savable()) {
        result.save.failures.push_back({StoredFile::Catalogue, IoError::fromCode(io::AccessDenied), false});
        keepAll();
        return result;
    }

    // The locations the catalogue does not take are safe in their own file
    // before the catalogue changes.
    std::vector<std::pair<RecordText, RecordText>> apart;
    for (const CopyRecord& r : result.records.differing)
        if (!r.known)
            apart.emplace_back(r.name, r.location);
    if (!apart.empty()) {
        try {
            result.conflictFile = writeConflictFile(f.fs, f.list.place(), apart);
            result.conflicts = apart.size();
        } catch (const IoError& e) {
            result.save.failures.push_back({StoredFile::Catalogue, e, false});
            keepAll();
            return result;
        }
    }

    const std::vector<CopyRecord>& missing = result.records.missing;
    MergedRecords changes = reader.changes();
    const bool takesChanges = !changes.dropped.empty() || !changes.replaced.empty();
    if (!missing.empty() || takesChanges) {
        // Saved first as a catalogue of its own, so that the caller's
        // changes only once the records are on disk.
        for (const CopyRecord& r : missing)
            changes.more.emplace_back(r.name, r.location);
        Catalogue merged;
        merged.reserve(std::size_t(changes.count(catalogue)));
        changes.forEach(catalogue, [&](const RecordText& name, const RecordText& location) {
            merged.appendLoaded(name.view(), location.view());
        });
        f.saveCatalogue(merged, result.save);
        if (result.save.ok()) {
            if (takesChanges) {
                // Records gone or changed: the catalogue is the one saved,
                // and its count of records moves by what the merge did.
                const std::int32_t count = catalogue.recordCount() - std::int32_t(changes.dropped.size()) +
                                           std::int32_t(changes.more.size());
                catalogue.clear();
                catalogue.reserve(std::size_t(merged.storageCount()));
                for (int j = 0; j < merged.storageCount(); ++j)
                    catalogue.appendLoaded(merged.storageName(j).view(), merged.storageLocation(j).view());
                catalogue.setRecordCount(count);
            } else {
                catalogue.reserve(missing.size());
                for (const CopyRecord& r : missing)
                    catalogue.appendLoaded(r.name.view(), r.location.view());
            }
            if (f.tookOthers)
                f.others.rebase(catalogue);
            else
                f.others.startFrom(f.list, catalogue);
        }
    } else if (removeCopies && catalogue.changed()) {
        // The copies' records are this session's; they go once it is saved.
        f.saveCatalogue(catalogue, result.save);
    }
    if (!result.save.ok() || result.save.unsyncedFolder != 0) {
        keepAll();
        return result;
    }
    if (removeCopies)
        f.removeCopies(reader, result);
    return result;
}

CatalogueStore::CopyOffer CatalogueStore::offeredCopies(const Catalogue& catalogue) {
    CopyOffer offer;
    try {
        // Each copy is read once, at start-up: one that cannot be read
        // leaves the reader as it was and is not offered.
        std::optional<CopyReader> reader;
        for (const ConflictCopy& copy : conflictCopies()) {
            if (copy.file != StoredFile::Catalogue)
                continue;
            if (!reader)
                reader.emplace(files_->copyReader(catalogue));
            try {
                reader->read(copy.path);
                offer.paths.push_back(copy.path);
            } catch (const IoError&) {
            }
        }
        if (reader) {
            const CopyRecords& records = reader->records();
            offer.lacking = records.missing.size();
            offer.changing = records.deleted.size() + records.changed.size();
        }
    } catch (const IoError&) {
        return {};
    }
    return offer;
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
