#pragma once
// The copies a sync engine keeps of a file that two computers changed while
// apart: it keeps one version under the file's own name and renames the
// other beside it, "Zoznam.sync-conflict-20261207-153000-ABCDEFG.dat" and
// the like, and deletes old ones later. Records that only such a copy holds
// are lost then, unless they are merged back.
//
// A copy is merged three ways (ThreeWayMerge.h) where this computer kept
// a common version of it (CommonVersions.h): what it last received from
// the other computer, from which both grew their own. The copy's changes are then taken (its records added, the
// ones it deleted that the catalogue has unchanged, those it moved), the
// catalogue's stay, and where both changed a record the copy's goes to a
// conflict file (ConflictFile.h).
//
// Without a common version there is no telling whether a record the copy
// lacks was deleted on the other computer or added on this one, nor which
// of two locations of a name is the newer. So a merge only adds: a record
// the catalogue lacks comes back (a deleted record back is better than a
// record lost), a record the catalogue has under another location stays as
// it is, and the copy's location goes to a conflict file.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "records/Catalogue.h"
#include "store/CatalogueStore.h"
#include "store/format/CatalogueFiles.h"
#include "store/held/FileIdentity.h"
#include "store/io/FileSystem.h"
#include "store/merge/BaseRecords.h"
#include "store/merge/CommonVersions.h"

namespace vrindel {

// How one sync engine names its copy: a regular expression (ECMAScript) in
// which STEM stands for the file's name up to its last dot and EXT for the
// rest, the dot included.
struct CopyNaming {
    const char* engine;
    const char* pattern;
    const char* marker;   // a name the engine keeps at the top of the folder it carries
};

// Every engine's naming, one row each.
const std::vector<CopyNaming>& copyNamings();

// The engine whose copy of `fileName` is called `name`, or nullptr when the
// name is no conflict copy of it.
const char* conflictCopyEngine(std::string_view name, std::string_view fileName);

// The engine that carries `folder` (a full path, or relative to the
// working folder), told by its marker there or in a folder above; nullptr
// for none that the table knows.
const char* syncEngineOf(FileSystem& fs, const std::string& folder);

struct CopyName {
    std::string name;     // in the folder
    const char* engine;
};
// The conflict copies of `fileName` in `folder` (a folder held open), in
// order of their names. Raises IoError when the folder cannot be listed.
std::vector<CopyName> listConflictCopies(FileSystem& fs, int folder, const std::string& fileName);

// Reads copies, one after another, against a catalogue: what they hold that
// it lacks, and what they hold under another location. Records are found
// by the window's name match; a name two copies (or one copy twice) hold is
// taken from the first, and a later one with another location differs
// from that.
class CopyReader {
public:
    // `known`: hashes (BaseRecords::recordHash) of the records a conflict
    // file already keeps; `catalogueFile` is refused as a copy; `common`:
    // the version copies grew from, if one was kept.
    CopyReader(FileSystem& fs, const Catalogue& catalogue, std::set<std::uint64_t> known,
               const FileIdentity& catalogueFile, std::optional<ReceivedVersion> common = {});

    // Reads the file at `path` whole; raises IoError when it cannot be.
    void read(const std::string& path);

    struct Read {
        std::string path;
        FileIdentity identity;   // as read, so that only that file is ever removed
        bool damaged = false;    // ended in the middle of a record
    };
    const std::vector<Read>& copies() const { return copies_; }
    CopyRecords& records() { return records_; }
    // The catalogue's records that copies with a common version deleted or
    // changed, by storage index; their `more` is records().missing.
    MergedRecords changes() const;

private:
    struct Before {
        bool operator()(const RecordText& a, const RecordText& b) const {
            return Collation::instance().compare(a.view(), b.view()) < 0;
        }
    };
    // Whether the catalogue lists the record byte for byte after a first
    // record of its name (a file written by other means may).
    bool listedLater(const RecordText& name, const RecordText& location);
    void take(const RecordText& name, const RecordText& location);
    void readAdding(const Catalogue& copy);
    void mergeThreeWays(const Catalogue& copy, const BaseRecords& base);
    RecordText keptLocation(const RecordText& name) const;
    void differs(const RecordText& name, const RecordText& location, const RecordText& kept);

    FileSystem& fs_;
    const Catalogue& catalogue_;
    std::set<std::uint64_t> known_;
    FileIdentity catalogueFile_;
    std::vector<Read> copies_;
    CopyRecords records_;
    std::map<RecordText, RecordText, Before> taken_;   // the missing, by name
    std::set<std::uint64_t> differing_;                // differing records already listed
    // The catalogue's own records, for a name it lists twice; made when
    // first needed.
    std::optional<BaseRecords> ours_;
    std::optional<ReceivedVersion> common_;
    std::map<int, std::optional<std::pair<RecordText, RecordText>>> changed_;   // nullopt: deleted
};

}  // namespace vrindel
