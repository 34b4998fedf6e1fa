#include "store/merge/OtherWriters.h"

#include <map>

#include "store/merge/ConflictFile.h"

namespace vrindel {

// Takes the other program's file record by record and decides, against the
// common version, what each side changed.
class OtherWriters::ThreeWay {
public:
    ThreeWay(const Catalogue& ours, const BaseRecords& base)
        : ours_(ours), base_(base), matched_(std::size_t(ours.storageCount()), false) {}

    // The records come after the common version's, unchanged: each of them
    // is one the file did not have.
    void appendedOnly() { appended_ = true; }

    void theirs(std::string_view nameBytes, std::string_view locationBytes) {
        const RecordText name(nameBytes), location(locationBytes);
        const bool next = isNextOfOurs(name, location);
        const int j = next ? next_ - 1 : ours_.findInStorage(name.view());
        if (j >= 0)
            theirsListedHere(j, name, location);
        else
            theirsNotHere(name, location);
    }

    // What to save, with what could not be taken in `conflicts`.
    MergedRecords finish(Records& conflicts) {
        // A record of the common version the file no longer has was deleted
        // (or renamed) there; one changed here stays. A name listed twice
        // here was never matched but by its first record: the later ones stay.
        if (!appended_) {
            for (int j = 0; j < ours_.storageCount(); ++j) {
                if (matched_[std::size_t(j)])
                    continue;
                const RecordText name = ours_.storageName(j);
                if (base_.hasRecord(name.view(), ours_.storageLocation(j).view()) &&
                    ours_.findInStorage(name.view()) == j)
                    result_.dropped.push_back(j);
            }
        }
        for (auto& [j, record] : replaced_)
            result_.replaced.emplace_back(j, std::move(record));
        conflicts = std::move(conflicts_);
        return std::move(result_);
    }

private:
    struct Before {
        bool operator()(const RecordText& a, const RecordText& b) const {
            return Collation::instance().compare(a.view(), b.view()) < 0;
        }
    };

    // Most records of a file rewritten elsewhere are this catalogue's own,
    // in its order: each is first compared with the record after the last
    // one found, which costs no search.
    bool isNextOfOurs(const RecordText& name, const RecordText& location) {
        if (next_ < ours_.storageCount() && ours_.storageName(next_) == name &&
            ours_.storageLocation(next_) == location) {
            ++next_;
            return true;
        }
        return false;
    }

    void theirsListedHere(int j, const RecordText& name, const RecordText& location) {
        next_ = j + 1;
        const RecordText ourName = ours_.storageName(j), ourLocation = ours_.storageLocation(j);
        // A second record of the name in their file: kept only where it is
        // what this side keeps, or an unchanged record of the common version
        // (a name listed twice here too).
        const bool second = appended_ ? base_.hasName(name.view()) : bool(matched_[std::size_t(j)]);
        if (second) {
            const auto other = replaced_.find(j);
            const RecordText& keptName = other != replaced_.end() ? other->second.first : ourName;
            const RecordText& keptLocation = other != replaced_.end() ? other->second.second : ourLocation;
            if (!(keptName == name && keptLocation == location) && !base_.hasRecord(name.view(), location.view()))
                conflict(name, location);
            return;
        }
        matched_[std::size_t(j)] = true;
        if (ourName == name && ourLocation == location)
            return;
        if (base_.hasRecord(ourName.view(), ourLocation.view()))
            replaced_.emplace(j, std::make_pair(name, location));   // changed there only
        else if (!base_.hasRecord(name.view(), location.view()))
            conflict(name, location);                                // changed on both sides
    }

    void theirsNotHere(const RecordText& name, const RecordText& location) {
        if (auto it = taken_.find(name); it != taken_.end()) {
            if (!(it->first == name && it->second == location))
                conflict(name, location);   // written twice there
            return;
        }
        // Deleted or renamed here: gone where the other side left it as it
        // was; a conflict where it changed it.
        if (base_.hasRecord(name.view(), location.view()))
            return;
        if (base_.hasName(name.view())) {
            conflict(name, location);
            return;
        }
        taken_.emplace(name, location);
        result_.more.emplace_back(name, location);
    }

    void conflict(const RecordText& name, const RecordText& location) {
        if (conflicting_.emplace(name.str(), location.str()).second)
            conflicts_.emplace_back(name, location);
    }

    const Catalogue& ours_;
    const BaseRecords& base_;
    bool appended_ = false;
    int next_ = 0;
    std::vector<bool> matched_;
    std::map<int, std::pair<RecordText, RecordText>> replaced_;
    std::map<RecordText, RecordText, Before> taken_;
    std::set<std::pair<std::string, std::string>> conflicting_;
    Records conflicts_;
    MergedRecords result_;
};

void OtherWriters::startFrom(const FileVar& listFile, const Catalogue& catalogue) {
    seen_ = {listFile.identity(), listFile.content().bytes(), listFile.content().digest()};
    rebase(catalogue);
    pending_.clear();
    merged_ = 0;
}

void OtherWriters::rebase(const Catalogue& catalogue) {
    base_.clear();
    base_.reserve(std::size_t(catalogue.storageCount()));
    for (int j = 0; j < catalogue.storageCount(); ++j)
        base_.add(catalogue.storageName(j), catalogue.storageLocation(j));
}

void OtherWriters::startFromNothing() {
    seen_ = {};
    base_.clear();
    pending_.clear();
    merged_ = 0;
}

void OtherWriters::wrote(const FileVar& listFile, const Catalogue& catalogue, const MergedRecords& merged) {
    merged_ = merged.more.size();
    // The catalogue as saved is the common version of the next save: what
    // is changed here from now on is this side's. Where the save took
    // records from the other side, the catalogue in memory never learns
    // them: the file is then not the catalogue, and the next save reads it
    // whole to take them again.
    rebase(catalogue);
    const bool tookNothing = merged.dropped.empty() && merged.replaced.empty() && merged.more.empty();
    seen_ = tookNothing ? Seen{listFile.identity(), listFile.content().bytes(), listFile.content().digest()} : Seen{};
}

bool OtherWriters::readAppended(FileVar& listFile, ThreeWay& merge) const {
    // Another program that only appended left the bytes seen last as they
    // were: then only what follows them is new.
    constexpr std::uint64_t Pair = 2 * ListRecordSize;
    if (!seen_.identity.present || seen_.bytes % Pair != 0)
        return false;
    listFile.reset(ListRecordSize);
    const ClosingOnError closing(listFile);
    merge.appendedOnly();
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
            merge.theirs(recordText(name), whole ? recordText(location) : std::string_view());
        }
        // Shorter by now than what was seen: not an append.
        if (at < seen_.bytes)
            appended = false;
    }
    listFile.close();
    return appended;
}

MergedRecords OtherWriters::merge(FileVar& listFile, const Catalogue& catalogue) {
    {
        ThreeWay appended(catalogue, base_);
        if (readAppended(listFile, appended)) {
            read_ = listFile.identity();
            return appended.finish(pending_);
        }
    }
    // Anything but an append is looked at record by record.
    ThreeWay whole(catalogue, base_);
    readRecords(listFile, [&](std::string_view name, std::string_view location) { whole.theirs(name, location); });
    read_ = listFile.identity();
    return whole.finish(pending_);
}

void OtherWriters::writeConflicts(FileSystem& fs, const HeldFile& catalogueFile) {
    Records fresh;
    for (const auto& [name, location] : pending_)
        if (written_.insert(BaseRecords::recordHash(name.view(), location.view())).second)
            fresh.emplace_back(name, location);
    pending_.clear();
    if (fresh.empty())
        return;
    conflictFile_ = writeConflictFile(fs, catalogueFile, fresh);
    conflictCount_ += fresh.size();
}

}  // namespace vrindel
