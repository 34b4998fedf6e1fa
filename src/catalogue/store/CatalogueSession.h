#pragma once
// A catalogue session: every rule that keeps the two files safe between the
// moment a program reads them and the moment it writes them back. The window
// and the command-line tool both go through it, so the rules live here once.
//
// How a caller uses it, in this order:
//
//     FileVar listFile, optionsFile;
//     listFile.assign(ListFileName);
//     optionsFile.assign(OptionsFileName);
//     CatalogueSession session(listFile, optionsFile);
//     if (session.lock() == CatalogueLock::State::Busy)
//         ...refuse: another window or command has this catalogue; touch nothing
//     session.ensureCatalogueFile(messages);      // start-up, as the window does it
//     session.ensureOptionsFile();
//     session.readOptions(setSwitch);
//     session.readCatalogue(catalogue, messages); // (or startEmpty() for a missing one)
//     ...change the catalogue...
//     session.saveChangedCatalogue(catalogue);    // the window's close; raises IoError
//     session.saveCatalogue(catalogue);           // (a command's change: always)
//     session.saveOptions(switches);              // only what changed
//
// What the session guarantees:
// - Each file is resolved once, when the session starts (lock()), and held:
//   every later read, lock and write goes to the folder and file it led to
//   then. If the name comes to lead elsewhere, a save raises FileChanged and
//   writes nothing.
// - Only regular files are read and written (the file layer refuses the rest),
//   and links are followed only as HeldFile allows.
// - A file that could not be read at start-up is never written: a catalogue
//   not read whole is saved only if nothing at all is at its name by then
//   (there is nothing to lose), and the switches of an Options.dat that could
//   not be read are never saved.
// - If another program changed the catalogue since it was read, the records
//   it added (names neither in the catalogue nor deleted or renamed in it) are
//   kept: they are saved after the catalogue's own. The records it wrote that
//   the catalogue cannot take (their names taken here, deleted or renamed
//   here, or written twice) go to a conflict file (ConflictFile.h). Nothing is
//   dropped silently. Should it write again between the merge and the moment
//   the new file takes the old one's place, the save merges again, a few
//   times at most, and then fails with KeepsChanging.
// - A save killed in the middle of an in-place rewrite leaves a journal; the
//   next session that takes the lock puts the catalogue back as it was
//   (recovery()).
// - The lock belongs to the catalogue, whatever path reached it, and is held
//   for the session's life; a session that tried to lock and could not never
//   writes the catalogue.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "records/Catalogue.h"
#include "store/format/CatalogueFiles.h"
#include "store/lock/CatalogueLock.h"
#include "store/format/FileLayer.h"
#include "store/journal/RollbackJournal.h"

namespace vrindel {

class CatalogueSession {
public:
    CatalogueSession(FileVar& listFile, FileVar& optionsFile) : listFile_(listFile), optionsFile_(optionsFile) {}

    // Resolves and holds both files, then takes the catalogue's lock and
    // keeps it for the session's life. Once held, the temporary files that
    // killed saves left beside the two files are removed. Call it once both
    // file variables are bound to their names.
    CatalogueLock::State lock();
    const CatalogueLock& heldLock() const { return lock_; }
    // What lock() found of a save killed in the middle of an in-place rewrite.
    const JournalRecovery& recovery() const { return recovery_; }

    // Start-up. Each raises IoError as the file procedures do.
    void ensureCatalogueFile(FileMessages& messages);
    void ensureOptionsFile();
    void readOptions(const std::function<void(Switch, bool)>& setSwitch);
    // Returns whether the catalogue was read whole (see readCatalogue()).
    bool readCatalogue(Catalogue& catalogue, FileMessages& messages);
    // For a caller that found no catalogue and starts from an empty one:
    // the save creates it only if the name is still free.
    void startEmpty();

    // Whether the catalogue was read whole.
    bool catalogueRead() const { return listRead_; }
    // Whether saveCatalogue() will write the catalogue: the lock, if it was
    // tried, is held, and the catalogue was read or nothing at all (no file,
    // no folder, no link) is at the name now.
    bool catalogueSavable();

    // Close. saveCatalogue() first merges what another program added, then
    // writes; saveChangedCatalogue() does so only when the catalogue was
    // changed or its file has gone, so that a close with no edit leaves the
    // file byte for byte. saveOptions() writes switches that differ from
    // those read, and nothing when the file could not be read. Each raises
    // IoError and leaves the file as it was (or, for a catalogue rewritten
    // in place, as far as it got).
    void saveCatalogue(const Catalogue& catalogue);
    void saveChangedCatalogue(const Catalogue& catalogue);
    void saveOptions(const Switches& switches);

    // errno of a folder that could not be synced after the last save had
    // put its file in place (0 when none): saved, but perhaps not durable.
    int unsyncedFolder() const { return unsynced_; }

    // The records of another program that the last saves kept.
    std::size_t mergedRecords() const { return merged_.size(); }
    // Those it could not keep, written by the last save to conflictFile()
    // (empty when the last save had none).
    std::size_t conflictRecords() const { return conflictCount_; }
    const std::string& conflictFile() const { return conflictFile_; }

private:
    void holdFiles();
    bool mayWriteCatalogue() const { return !lockTried_ || lock_.held(); }
    void mergeFromDisk(const Catalogue& catalogue);
    void writeConflicts();
    void saveMerging(const Catalogue& catalogue);

    FileVar& listFile_;
    FileVar& optionsFile_;
    CatalogueLock lock_;
    bool lockTried_ = false;

    bool listRead_ = false;
    // The file as last read, merged or written: what it was, and a hash of
    // its bytes, so that a merge can tell a file another program only
    // appended to (whose first bytes are still these) and read just the rest.
    struct Seen {
        FileIdentity identity;
        std::uint64_t bytes = 0;
        std::uint64_t digest = 0;
    };
    void seeListFile();
    Seen listSeen_;
    bool optionsRead_ = false;
    Switches optionsSeen_;          // as read, or as last written
    std::vector<std::pair<RecordText, RecordText>> merged_;
    std::vector<std::pair<RecordText, RecordText>> conflicts_;   // not yet written
    std::size_t conflictCount_ = 0;
    std::string conflictFile_;
    JournalRecovery recovery_;
    int unsynced_ = 0;
};

// Says once per process on standard error that a save is done but its folder
// could not be synced (`err`), so that it may not survive a power cut. A
// failed save is never reported this way.
void warnUnsyncedFolder(const char* program, int err);

}  // namespace vrindel
