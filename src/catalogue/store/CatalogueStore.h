#pragma once
// The one owner of a catalogue's two files, "Zoznam.dat" and "Options.dat".
// The window and every command of vrindel-cli go through it and nothing
// below it, so that the rules that keep the files safe live here once:
//
//     CatalogueStore store(folder);            // "" for the working folder
//     if (store.open().lock == LockState::Busy)
//         ...refuse: another window or command has this catalogue; touch nothing
//     store.ensureCatalogueFile(messages);      // start-up, as the window does it
//     store.ensureOptionsFile();
//     store.readOptions(setSwitch);
//     store.readCatalogue(catalogue, messages); // (or startEmpty() for a missing one)
//     ...change the catalogue...
//     SaveReport report = store.saveAll(catalogue, switches);
//
// What it guarantees:
// - Opening resolves both names once and holds where they led: every later
//   read, lock and write goes to that folder and file. If a name comes to
//   lead elsewhere, a save writes nothing and reports FileChanged.
// - Opening for a change then takes the catalogue's lock (whatever path
//   reached it), puts back a catalogue that a killed save left half
//   rewritten, and removes the temporary files killed saves left, in that
//   order, once. A store that tried to lock and could not never writes.
// - Only regular files are read and written, and links are followed only
//   as the held file allows.
// - A file that could not be read at start-up is never written: a catalogue
//   not read whole is saved only if nothing at all is at its name by then,
//   and switches that could not be read are never saved.
// - If another program changed the catalogue since it was read, the records
//   it added are kept after the catalogue's own; those the catalogue cannot
//   take go to a conflict file beside it. Nothing is dropped silently.
// - Every call reaches the file system through the seam it was given, so
//   tests can make any of them fail.
// - The copies a sync engine leaves beside either file when two computers
//   changed it while apart are found, and those of the catalogue merged
//   back on request: three ways where this computer kept their common
//   version, and otherwise only ever adding records; a copy is removed
//   only once the catalogue that holds its records is on disk.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Errors.h"
#include "records/Catalogue.h"
#include "store/format/Format.h"
#include "store/io/FileSystem.h"
#include "store/journal/RollbackJournal.h"

namespace vrindel {

enum class LockState {
    Held,       // this process holds it
    Busy,       // another window or command holds it
    Unlocked,   // nothing could be locked: the folder cannot be read and no file is there to lock
};

// What opening found.
struct Opening {
    LockState lock = LockState::Unlocked;
    int lockError = 0;          // errno of what kept the lock from being taken, when Unlocked
    int catalogueError = 0;     // why the catalogue's name leads to no usable file (0: it does)
    // A save cut short in the middle of an in-place rewrite: put back, or
    // found but not put back (with why), and where its journal was.
    // Stuck: a journal this catalogue's save could have left cannot be
    // applied (by this user, or at all), so the catalogue may be half-saved;
    // no save writes it until the journal's owner (or root) resolves it.
    bool rolledBack = false;
    bool rollbackStuck = false;
    std::string rollbackReason;
    std::string journal;
    std::string journalOwner;
    // Files named like a journal of either file that no save of this
    // catalogue could have left (another user's, a link, a FIFO, one for
    // another file or for the file as it was before it was written since):
    // never applied, never removed, only told of.
    std::vector<RefusedJournal> refusedJournals;
    // Opened for looking: a save in place was still going on when waiting
    // for it ran out; nothing was read.
    bool saveInProgress = false;
};

enum class StoredFile { Catalogue, Options };

// What a save did: one report instead of flags spread over the callers.
struct SaveReport {
    struct Failure {
        StoredFile file;
        IoError error;
        // A catalogue rewritten in place whose rewrite could not be taken
        // back: its journal puts it back at the next opening.
        bool rollbackPending = false;
    };
    std::vector<Failure> failures;   // in the order the files were saved
    std::size_t merged = 0;          // records another program added, kept after this catalogue's
    std::size_t conflicts = 0;       // records another program wrote that went to conflictFile
    std::string conflictFile;        // its full path
    int unsyncedFolder = 0;          // errno of a folder sync that failed after a save was in place
    // Files that were not as a save writes them (a damaged catalogue,
    // switches of another size), kept byte for byte beside them before this
    // save rewrote them: their full paths.
    std::vector<std::string> keptDamaged;
    // The catalogue was rewritten in place rather than replaced: it has other
    // names, or its folder or access would not let a new file take its place.
    bool inPlace = false;

    bool ok() const { return failures.empty(); }
    const Failure* failure(StoredFile file) const;
};

// A copy of one of the two files that a sync engine kept beside it when two
// computers changed the file while apart.
struct ConflictCopy {
    StoredFile file;
    std::string name;     // in its folder
    std::string path;     // its full path
    std::string engine;   // "Syncthing", "Nextcloud", ...
};

// A record of a copy (or of any file of the catalogue's format) against the
// catalogue, in Windows-1250 as the file holds it.
struct CopyRecord {
    RecordText name;
    RecordText location;   // the copy's
    RecordText kept;       // one that differs: the location that stays
    bool known = false;    // one that differs: a conflict file keeps it already
};

// What copies hold against the catalogue, by the window's name match.
struct CopyRecords {
    // Records the catalogue lacks, in the copies' order: a merge adds them.
    std::vector<CopyRecord> missing;
    // Records whose name is listed with another location: the catalogue's
    // stays, and a merge sends the copy's to a conflict file.
    std::vector<CopyRecord> differing;
    // Copies that end in the middle of a record: their whole records count,
    // and they are never removed.
    std::vector<std::string> damaged;
    // Of a copy with a common version: records of the catalogue it deleted,
    // which a merge drops, and records it changed (`kept`: the catalogue's
    // location), which a merge takes.
    std::vector<CopyRecord> deleted;
    std::vector<CopyRecord> changed;

    // Records that differ and that no conflict file keeps yet.
    std::size_t unknownDifferences() const;
};

// What a merge of copies did.
struct CopyMerge {
    CopyRecords records;        // `missing` was added when the save is done
    std::size_t conflicts = 0;  // records of `differing` written to conflictFile now
    std::string conflictFile;   // its full path
    // The catalogue's save, if it needed one: a merge that adds nothing
    // writes nothing.
    SaveReport save;
    bool saved() const { return save.ok(); }

    // Copies removed once the save was on disk, and those asked to be that
    // stay, with why.
    std::vector<std::string> removed;
    struct Kept {
        enum class Why {
            Damaged,    // it ends in the middle of a record
            Changed,    // no longer the file that was read (a link, or written since)
            NotSaved,   // the catalogue's save is not known to be on disk
            Failed,     // removing it failed: `error` says why
        };
        std::string path;
        Why why;
        int error = 0;
    };
    std::vector<Kept> kept;
};

class CatalogueStore {
public:
    explicit CatalogueStore(const std::string& folder = {}, FileSystem& fs = systemFileSystem());
    ~CatalogueStore();
    CatalogueStore(const CatalogueStore&) = delete;
    CatalogueStore& operator=(const CatalogueStore&) = delete;

    // For a change: holds both files, takes the lock, recovers from a
    // journal and sweeps stale temporary files. Only the first call acts.
    const Opening& open();
    // For looking only: holds both files for reading alone (a catalogue on a
    // read-only mount can be read), takes no lock, and puts back a half-saved
    // catalogue only where no one holds the lock (a save may be going on).
    const Opening& openForLooking();
    const Opening& opening() const;

    // The catalogue's full path, for messages.
    std::string cataloguePath();
    // Whether anything is at the catalogue's name (a folder counts as
    // nothing). Raises IoError when that cannot be told.
    bool catalogueExists();
    // Whether the catalogue's file opens: for reading alone in a store
    // opened for looking, for reading and writing in one opened for a change.
    bool catalogueOpens();

    // Side files that another computer's killed saves left beside the two
    // files (temporary files, journals), which a sync engine carried here:
    // never removed nor applied here, only told of.
    std::vector<std::string> otherComputersLeftovers();

    // Start-up. Each raises IoError as the file procedures do.
    void ensureCatalogueFile(FileMessages& messages);
    void ensureOptionsFile();
    void readOptions(const std::function<void(Switch, bool)>& setSwitch);
    // Returns whether the catalogue was read whole: one read only in part is
    // kept on disk like one that could not be opened. Without `indexed`, the
    // catalogue's indexes wait for their first use (a bulk change that only
    // appends and saves never builds them). With `commonAtSave`, the
    // catalogue as read (what a merge of another program's changes starts
    // from) is not kept beside it: the caller promises to change it only as
    // saveAppended() tells, and saves it only so.
    bool readCatalogue(Catalogue& catalogue, FileMessages& messages, bool indexed = true, bool commonAtSave = false);
    // The catalogue's records one at a time, as readCatalogue reads them,
    // for a store opened for looking that keeps none of them (an export).
    bool readCatalogue(const std::function<void(std::string_view name, std::string_view location)>& each,
                       FileMessages& messages);
    // Every record of the file as it is, without a model (see readRecords).
    void readRecords(const std::function<void(std::string_view name, std::string_view location)>& each);
    // The catalogue's bytes in whole records, with the file's size in bytes.
    std::string readRecordBytes(std::uint64_t& fileSize);
    // For a caller that found no catalogue and starts from an empty one:
    // the save creates it only if the name is still free.
    void startEmpty();

    bool catalogueRead() const;
    // Whether a save will write the catalogue: the lock, if it was tried, is
    // held, and the catalogue was read or nothing at all is at the name now.
    bool catalogueSavable();

    // Saves the catalogue (merging what another program added meanwhile).
    SaveReport saveCatalogue(const Catalogue& catalogue);
    // Saves a catalogue read with `commonAtSave` and changed since only by
    // records appended and records read given other locations: each of
    // those in `readWith` (its storage index, ascending, and the location
    // it was read with).
    SaveReport saveAppended(const Catalogue& catalogue, const std::vector<std::pair<int, std::string_view>>& readWith);
    // Only when it changed, its file has gone, or it was read whole from a
    // file that is not as a save writes it (a name without its location, a
    // part of a record), so that a close with no edit leaves a sound file
    // byte for byte and mends a damaged one. A damaged file's bytes are kept
    // beside it first ("Zoznam.dat.damaged-20261207-153000", with its access;
    // SaveReport::keptDamaged), by every save that rewrites it.
    SaveReport saveChangedCatalogue(const Catalogue& catalogue);
    // Switches that differ from those read, or all of them when the file
    // has gone or was not three bytes of 0 and 1 (its bytes kept beside it
    // first, as a damaged catalogue's); nothing when they could not be read.
    SaveReport saveOptions(const Switches& switches);
    // A close: the changed catalogue, then the switches, each on its own, so
    // that a failure of one does not cost the other.
    SaveReport saveAll(const Catalogue& catalogue, const Switches& switches);

    // Copies of the catalogue and of the switches that sync engines left
    // beside them, each file's by name. Raises IoError when a folder
    // cannot be listed.
    std::vector<ConflictCopy> conflictCopies();
    // What the files at `paths` (conflict copies, or any files of the
    // catalogue's format) hold against `catalogue`. Raises IoError when one
    // cannot be read whole, and for the catalogue itself (InvalidFilename).
    CopyRecords compareCopies(const Catalogue& catalogue, const std::vector<std::string>& paths);
    // The copies of the catalogue worth offering at start-up: those that can
    // be read, and how many records they hold that `catalogue` lacks. A
    // folder that cannot be listed, or a copy that cannot be read, is passed
    // over: looking is no part of starting.
    struct CopyOffer {
        std::vector<std::string> paths;
        std::size_t lacking = 0;
        // Records of the catalogue that copies with a common version
        // deleted or moved.
        std::size_t changing = 0;
    };
    CopyOffer offeredCopies(const Catalogue& catalogue);
    // Adds to `catalogue` the records the files at `paths` hold that it
    // lacks, sends those it lists with another location to a conflict file,
    // takes what a copy with a common version deleted or changed (see
    // ConflictCopies.h), and saves it as saveCatalogue does; `catalogue` changes only once the
    // save is done. Then, when `removeCopies`, removes each file, unless it
    // is damaged or no longer the file that was read. A merge that finds
    // nothing new writes nothing, so a second one changes nothing. Raises
    // IoError as compareCopies; a store that may not write merges nothing.
    //
    // Copies of the switches are never merged: three bytes with no common
    // version cannot tell which computer changed a switch, so every switch
    // a copy differs in is left as the catalogue's.
    CopyMerge mergeCopies(Catalogue& catalogue, const std::vector<std::string>& paths, bool removeCopies);

private:
    class Files;
    std::unique_ptr<Files> files_;
};

// Says once per process on standard error that a save is done but its folder
// could not be synced (`err`), so that it may not survive a power cut. A
// failed save is never reported this way.
void warnUnsyncedFolder(const char* program, int err);

}  // namespace vrindel
