#pragma once
// The merge of other writers: what another program (or another computer,
// through a sync engine) made of the catalogue's file while this one had it
// read. Three versions meet: the common one (the file as this program last
// read or wrote it, BaseRecords.h), this program's catalogue, and the file
// as it is now. A change made on one side only is taken: a record the other
// side added, deleted, renamed or moved to another location comes along,
// and so does one changed here. A record both sides changed, differently,
// keeps this side's version, and the other's goes to a conflict file
// (ConflictFile.h) before the catalogue changes. Nothing is dropped silently.
//
// Records are matched by name as the window matches them; a rename is a
// delete and an add, so a record both sides renamed differently is kept
// under both names.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "records/Catalogue.h"
#include "store/format/CatalogueFiles.h"
#include "store/format/FileLayer.h"
#include "store/merge/BaseRecords.h"
#include "store/merge/ThreeWayMerge.h"

namespace vrindel {

class OtherWriters {
public:
    using Records = ThreeWayMerge::Records;

    // The catalogue just read whole from the file: the common version.
    void startFrom(const FileVar& listFile, const Catalogue& catalogue);
    // As startFrom, for a caller that will only append records to the
    // `records` read and give some of them other locations: the common
    // version is worked out at the save (rebaseAsRead), so that it is not
    // held beside the change while it is made.
    void startFromLater(const FileVar& listFile, int records);
    bool baseLater() const { return later_ >= 0; }
    // The common version as startFromLater left it: the first records of
    // `catalogue`, each of `readWith` (storage index, ascending) with the
    // location it was read with.
    void rebaseAsRead(const Catalogue& catalogue, const std::vector<std::pair<int, std::string_view>>& readWith);
    // The same, the common version taken by rebase(records) later, off the
    // caller's thread (nothing else here is used until it is done).
    void startFrom(const FileVar& listFile);
    void rebase(const Catalogue::LoadedTexts& records);
    // No file yet: the save creates it, and everything another program
    // puts there meanwhile is its own.
    void startFromNothing();
    // The file as this program just wrote it, with what the merge took.
    void wrote(const FileVar& listFile, const Catalogue& catalogue, const MergedRecords& merged);
    // The catalogue just saved with records merged into it from elsewhere
    // (a sync engine's copy): the common version from now on, so that one
    // of them deleted here later is not taken for one the file added. The
    // file as seen stays, so that what this save took from another program
    // is merged again.
    void rebase(const Catalogue& catalogue);
    // The common version the next merge starts from.
    const BaseRecords& base() const { return base_; }
    // Whether the file is still the one last read or written, with nothing in
    // it the catalogue lacks.
    bool unchanged(const FileIdentity& now) const { return now == seen_.identity; }

    // Reads the file another program changed and merges it three ways with
    // the catalogue: what to save. The file as read is expected().
    MergedRecords merge(FileVar& listFile, const Catalogue& catalogue);
    const FileIdentity& expected() const { return read_; }
    // Writes the records the last merge could not take to a new conflict
    // file, if there are any not written before, before the catalogue
    // changes. Raises IoError.
    void writeConflicts(FileSystem& fs, const HeldFile& catalogueFile);

    // Records another program added that the last save kept.
    std::size_t merged() const { return merged_; }
    // Of the last save's conflict files.
    void startSave() {
        conflictCount_ = 0;
        conflictFile_.clear();
    }
    std::size_t conflicts() const { return conflictCount_; }
    const std::string& conflictFile() const { return conflictFile_; }

private:
    // A hash of the bytes seen, so that a merge can tell a file another
    // program only appended to (whose first bytes are still these) and
    // read just the rest.
    struct Seen {
        FileIdentity identity;
        std::uint64_t bytes = 0;
        std::uint64_t digest = 0;
    };
    bool readAppended(FileVar& listFile, ThreeWayMerge& merge) const;

    BaseRecords base_;
    int later_ = -1;   // the records read whose common version waits for the save
    Seen seen_;
    FileIdentity read_;
    Records pending_;                  // conflicts of the last merge
    std::set<std::uint64_t> written_;  // conflicts already in a conflict file
    std::size_t merged_ = 0;
    std::size_t conflictCount_ = 0;
    std::string conflictFile_;
};

}  // namespace vrindel
