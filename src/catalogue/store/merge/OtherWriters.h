#pragma once
// The merge of other writers: records another program wrote to the
// catalogue while this one had it read. Those it added (names neither in the
// catalogue nor deleted or renamed in it) are kept, to be saved after the
// catalogue's own; those the catalogue cannot take (their names taken here,
// deleted or renamed here, or written twice) go to a conflict file
// (ConflictFile.h) before the catalogue changes. Nothing is dropped silently.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "records/Catalogue.h"
#include "store/format/FileLayer.h"

namespace vrindel {

class OtherWriters {
public:
    using Records = std::vector<std::pair<RecordText, RecordText>>;

    // The file as it was just read or written, whole: the base of the next
    // merge. Forgets what earlier merges took.
    void startFrom(const FileVar& listFile);
    // No file yet: the save creates it.
    void startFromNothing();
    // The file as last read, merged or written.
    void sawWritten(const FileVar& listFile);
    // Whether the file is still what was last seen of it.
    bool unchanged(const FileIdentity& now) const { return now == seen_.identity; }
    const FileIdentity& seen() const { return seen_.identity; }

    // Reads the file another program changed and takes its records; after
    // it, the file as read is what was seen.
    void merge(FileVar& listFile, const Catalogue& catalogue);
    // Writes the records that could not be kept to a new conflict file, if
    // there are any, before the catalogue changes. Raises IoError.
    void writeConflicts(FileSystem& fs, const HeldFile& catalogueFile);
    // The records taken so far that the catalogue still has no record of.
    Records kept(const Catalogue& catalogue) const;

    // Of all the merges since the catalogue was read.
    std::size_t merged() const { return merged_.size(); }
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
    class Taker;
    bool readAppended(FileVar& listFile, Taker& taker) const;

    Seen seen_;
    Records merged_;
    Records conflicts_;   // not yet written
    std::size_t conflictCount_ = 0;
    std::string conflictFile_;
};

}  // namespace vrindel
