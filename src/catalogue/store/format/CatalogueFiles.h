#pragma once
// The plain record files of the format (Format.h): each procedure opens its
// file variable, reads or writes it whole, and closes it.

#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "records/Catalogue.h"
#include "store/format/FileLayer.h"
#include "store/format/Format.h"

namespace vrindel {

// Closes a file that is being read when an error leaves a procedure.
class ClosingOnError {
public:
    explicit ClosingOnError(FileVar& file) : file_(file) {}
    ~ClosingOnError() {
        if (file_.isOpen()) {
            try {
                file_.close();
            } catch (const IoError&) {
            }
        }
    }
    ClosingOnError(const ClosingOnError&) = delete;
    ClosingOnError& operator=(const ClosingOnError&) = delete;

private:
    FileVar& file_;
};

// If no "Zoznam.dat" exists: the warning, then an empty file.
void ensureCatalogueFile(FileVar& listFile, FileMessages& messages);
// If no "Options.dat" exists: the defaults 1, 0, 1, silently.
void ensureOptionsFile(FileVar& optionsFile);
// Sets the switches byte by byte, in order. A missing byte, or an error
// raised while a switch reacts, ends the reading silently. Returns whether
// the file is as a save writes it: three bytes, each 0 or 1 (as far as it
// was read).
bool readOptions(FileVar& optionsFile, const std::function<void(Switch, bool)>& setSwitch);
// Appends every whole record; a damaged file shows its message and keeps
// the records read before the damage. Returns false when the reading broke
// off before the file's last whole record (a read error, not a short file):
// the catalogue in memory is then only part of the one on disk.
bool readCatalogue(FileVar& listFile, Catalogue& catalogue, FileMessages& messages);
// The same records handed out one at a time, by the same rules, for a
// reader that keeps none of them (an export).
bool readCatalogue(FileVar& listFile, const std::function<void(std::string_view name, std::string_view location)>& each,
                   FileMessages& messages);
// Every record of the file in order, without a model: a name whose location
// is missing at the end comes with an empty location. Read errors are raised.
void readRecords(FileVar& listFile, const std::function<void(std::string_view name, std::string_view location)>& each);
// The records a save writes when another program's version of the file
// was merged: the catalogue's own in storage order, some left out (the
// other program deleted them) or in the other program's version, then the
// records it added.
struct MergedRecords {
    std::vector<int> dropped;   // storage indexes, ascending
    std::vector<std::pair<int, std::pair<RecordText, RecordText>>> replaced;   // by storage index, ascending
    std::vector<std::pair<RecordText, RecordText>> more;

    std::uint64_t count(const Catalogue& catalogue) const {
        return std::uint64_t(catalogue.storageCount()) - dropped.size() + more.size();
    }
    // Each record as the save writes it, in order: each(name, location).
    template <typename Each>
    void forEach(const Catalogue& catalogue, Each&& each) const {
        auto drop = dropped.begin();
        auto other = replaced.begin();
        for (int j = 0; j < catalogue.storageCount(); ++j) {
            if (drop != dropped.end() && *drop == j) {
                ++drop;
            } else if (other != replaced.end() && other->first == j) {
                each(other->second.first, other->second.second);
                ++other;
            } else {
                each(catalogue.storageName(j), catalogue.storageLocation(j));
            }
        }
        for (const auto& [name, location] : more)
            each(name, location);
    }
};

// The catalogue's records in storage order, then `more`. With `expected`,
// the file must still be that one (or still absent), or FileChanged is raised.
void saveCatalogue(FileVar& listFile, const Catalogue& catalogue,
                   const std::vector<std::pair<RecordText, RecordText>>& more = {},
                   const FileIdentity* expected = nullptr);
void saveCatalogue(FileVar& listFile, const Catalogue& catalogue, const MergedRecords& merged,
                   const FileIdentity* expected);
void saveOptions(FileVar& optionsFile, const Switches& switches, const FileIdentity* expected = nullptr);

}  // namespace vrindel
