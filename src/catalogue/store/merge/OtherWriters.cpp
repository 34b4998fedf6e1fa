#include "store/merge/OtherWriters.h"

#include <map>
#include <set>

#include "store/format/CatalogueFiles.h"
#include "store/merge/ConflictFile.h"

namespace vrindel {

// Decides record by record what another program's file holds that the
// catalogue does not. Names that must not come back: those deleted or
// renamed here; and those already taken from the other writer, with their
// locations. Sets ordered by the one comparison keep the merge n log n when
// the other program added many.
class OtherWriters::Taker {
public:
    Taker(const Catalogue& catalogue, Records& merged, Records& conflicts)
        : catalogue_(catalogue),
          merged_(merged),
          conflicts_(conflicts),
          removed_(catalogue.removedNames().begin(), catalogue.removedNames().end(), Before{}) {
        for (const auto& [name, location] : merged_)
            taken_.emplace(name, location);
        for (const auto& [name, location] : conflicts_)
            conflicting_.emplace(name.str(), location.str());
    }

    void consider(std::string_view nameBytes, std::string_view locationBytes) {
        const RecordText name(nameBytes), location(locationBytes);
        if (isNextOfOurs(name, location))
            return;
        // A record that is already there, byte for byte, loses nothing.
        if (const int j = catalogue_.findInStorage(name.view()); j >= 0) {
            if (catalogue_.storageName(j) == name && catalogue_.storageLocation(j) == location) {
                next_ = j + 1;
                return;
            }
        } else if (auto it = taken_.find(name); it != taken_.end()) {
            if (it->first == name && it->second == location)
                return;
        } else if (!removed_.contains(name)) {
            taken_.emplace(name, location);
            merged_.emplace_back(name, location);
            return;
        }
        if (conflicting_.emplace(name.str(), location.str()).second)
            conflicts_.emplace_back(name, location);
    }

private:
    struct Before {
        bool operator()(const RecordText& a, const RecordText& b) const {
            return Collation::instance().compare(a.view(), b.view()) < 0;
        }
    };

    // When every record of the file is to be looked at, most are the
    // catalogue's own, in its order: each is first compared with the record
    // after the last one found, which costs no search.
    bool isNextOfOurs(const RecordText& name, const RecordText& location) {
        if (next_ < catalogue_.storageCount() && catalogue_.storageName(next_) == name &&
            catalogue_.storageLocation(next_) == location) {
            ++next_;
            return true;
        }
        return false;
    }

    const Catalogue& catalogue_;
    Records& merged_;
    Records& conflicts_;
    std::set<RecordText, Before> removed_;
    std::map<RecordText, RecordText, Before> taken_;
    std::set<std::pair<std::string, std::string>> conflicting_;
    int next_ = 0;
};

void OtherWriters::startFrom(const FileVar& listFile) {
    sawWritten(listFile);
    merged_.clear();
    conflicts_.clear();
}

void OtherWriters::startFromNothing() {
    seen_ = {};
    merged_.clear();
    conflicts_.clear();
}

void OtherWriters::sawWritten(const FileVar& listFile) {
    seen_ = {listFile.identity(), listFile.content().bytes(), listFile.content().digest()};
}

bool OtherWriters::readAppended(FileVar& listFile, Taker& taker) const {
    // Another program that only appended left the bytes seen last as they
    // were: then only what follows them is new.
    constexpr std::uint64_t Pair = 2 * ListRecordSize;
    if (!seen_.identity.present || seen_.bytes % Pair != 0)
        return false;
    listFile.reset(ListRecordSize);
    const ClosingOnError closing(listFile);
    bool appended = false;
    if (std::uint64_t(listFile.identity().size) >= seen_.bytes) {
        ContentHash prefix;
        unsigned char name[ListRecordSize], location[ListRecordSize];
        std::uint64_t at = 0;
        appended = true;
        while (!listFile.eof()) {
            listFile.readRecord(name);
            const bool whole = !listFile.eof();
            if (whole)
                listFile.readRecord(location);
            if (at < seen_.bytes) {
                prefix.update(name, sizeof name);
                prefix.update(location, sizeof location);
                at += Pair;
                if (at == seen_.bytes && prefix.digest() != seen_.digest) {
                    appended = false;
                    break;
                }
                continue;
            }
            taker.consider(recordText(name), whole ? recordText(location) : std::string_view());
        }
        // Shorter by now than what was seen: not an append.
        if (at < seen_.bytes)
            appended = false;
    }
    listFile.close();
    return appended;
}

void OtherWriters::merge(FileVar& listFile, const Catalogue& catalogue) {
    Taker taker(catalogue, merged_, conflicts_);
    // Anything but an append is looked at record by record.
    if (!readAppended(listFile, taker))
        readRecords(listFile, [&](std::string_view name, std::string_view location) { taker.consider(name, location); });
    sawWritten(listFile);
}

void OtherWriters::writeConflicts(FileSystem& fs, const HeldFile& catalogueFile) {
    if (conflicts_.empty())
        return;
    conflictFile_ = writeConflictFile(fs, catalogueFile, conflicts_);
    conflictCount_ += conflicts_.size();
    conflicts_.clear();
}

OtherWriters::Records OtherWriters::kept(const Catalogue& catalogue) const {
    // Records merged at an earlier attempt stay, unless the catalogue now
    // has a record of that name.
    Records more;
    for (const auto& record : merged_)
        if (catalogue.findInStorage(record.first.view()) < 0)
            more.push_back(record);
    return more;
}

}  // namespace vrindel
