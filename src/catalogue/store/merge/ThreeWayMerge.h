#pragma once
// The rules of a three-way merge, in one place: another version of the
// catalogue (the file as another program left it, or a sync engine's copy)
// taken record by record and set, against the common version of both
// (BaseRecords.h), beside this program's catalogue, deciding what each side
// changed. A change made on one side only is taken; a record both sides
// changed, differently, keeps this side's, and the other's is handed back
// as a conflict. Records are matched by name as the window matches them.

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "records/Catalogue.h"
#include "store/format/CatalogueFiles.h"
#include "store/merge/BaseRecords.h"
#include "text/Collation.h"

namespace vrindel {

class ThreeWayMerge {
public:
    using Records = std::vector<std::pair<RecordText, RecordText>>;

    ThreeWayMerge(const Catalogue& ours, const BaseRecords& base)
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

}  // namespace vrindel
