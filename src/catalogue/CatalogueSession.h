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
//     session.saveCatalogue(catalogue);           // at close; raises IoError
//     session.saveOptions(switches);
//
// What the session guarantees:
// - Only regular files are read and written (the file layer refuses the rest).
// - A catalogue that could not be read whole is never written: catalogueRead()
//   is false and saveCatalogue() does nothing, unless nothing at all is at the
//   name by then (there is nothing to lose, and the records are saved).
// - The save writes only to the file that was read: if the name now leads to
//   another file through a link, it raises FileChanged and writes nothing.
// - If another program changed the catalogue since it was read, the records
//   it added (names neither in the catalogue nor deleted or renamed in it) are
//   kept: they are saved after the catalogue's own. Nothing is dropped silently.
// - The lock, while held, keeps a second window or command out; the kernel
//   drops it when the process ends.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Catalogue.h"
#include "CatalogueFiles.h"
#include "CatalogueLock.h"
#include "FileLayer.h"

namespace vrindel {

class CatalogueSession {
public:
    CatalogueSession(FileVar& listFile, FileVar& optionsFile) : listFile_(listFile), optionsFile_(optionsFile) {}

    // Takes the lock on the folder of the catalogue's name and keeps it for
    // the session's life. Once held, the temporary files that killed saves
    // left beside the two files are removed. Call it once both file
    // variables are bound to their names.
    CatalogueLock::State lock();
    const CatalogueLock& heldLock() const { return lock_; }

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
    // Whether saveCatalogue() will write the catalogue: it was read, or
    // nothing at all (no file, no folder, no link) is at the name now.
    bool catalogueSavable() const;

    // Close. saveCatalogue() first merges what another program added, then
    // writes; saveOptions() writes the switches unless the name has come to
    // lead to another file. Each raises IoError and leaves the file as it
    // was (or, for a catalogue rewritten in place, as far as it got).
    void saveCatalogue(const Catalogue& catalogue);
    void saveOptions(const Switches& switches);

    // The records of another program that the last saves kept.
    std::size_t mergedRecords() const { return merged_.size(); }

private:
    void mergeFromDisk(const Catalogue& catalogue);

    FileVar& listFile_;
    FileVar& optionsFile_;
    CatalogueLock lock_;

    bool listRead_ = false;
    std::string listPath_;          // where the name led when it was read
    FileIdentity listSeen_;         // the file read, or last written
    std::string optionsPath_;       // empty until the options were read
    std::vector<std::pair<RecordText, RecordText>> merged_;
};

}  // namespace vrindel
