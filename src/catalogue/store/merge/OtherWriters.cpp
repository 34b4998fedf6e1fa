#include "store/merge/OtherWriters.h"

#include "store/merge/ConflictFile.h"

namespace vrindel {

void OtherWriters::startFrom(const FileVar& listFile, const Catalogue& catalogue) {
    startFrom(listFile);
    rebase(catalogue);
}

void OtherWriters::startFrom(const FileVar& listFile) {
    startFromLater(listFile, -1);
}

void OtherWriters::startFromLater(const FileVar& listFile, int records) {
    seen_ = {listFile.identity(), listFile.content().bytes(), listFile.content().digest()};
    base_ = BaseRecords();
    later_ = records;
    pending_.clear();
    merged_ = 0;
}

void OtherWriters::rebaseAsRead(const Catalogue& catalogue,
                                const std::vector<std::pair<int, std::string_view>>& readWith) {
    if (later_ < 0)
        return;
    base_.clear();
    base_.reserve(std::size_t(later_));
    auto moved = readWith.begin();
    for (int j = 0; j < later_; ++j) {
        if (moved != readWith.end() && moved->first == j) {
            base_.add(catalogue.storageName(j).view(), moved->second);
            ++moved;
        } else {
            base_.add(catalogue.storageName(j), catalogue.storageLocation(j));
        }
    }
    later_ = -1;
}

void OtherWriters::rebase(const Catalogue::LoadedTexts& records) {
    later_ = -1;
    base_.clear();
    base_.reserve(records.size());
    for (std::size_t j = 0; j < records.size(); ++j)
        base_.add(records.name(j), records.location(j));
}

void OtherWriters::rebase(const Catalogue& catalogue) {
    later_ = -1;
    base_.clear();
    base_.reserve(std::size_t(catalogue.storageCount()));
    for (int j = 0; j < catalogue.storageCount(); ++j)
        base_.add(catalogue.storageName(j), catalogue.storageLocation(j));
}

void OtherWriters::startFromNothing() {
    later_ = -1;
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

bool OtherWriters::readAppended(FileVar& listFile, ThreeWayMerge& merge) const {
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
        ThreeWayMerge appended(catalogue, base_);
        if (readAppended(listFile, appended)) {
            read_ = listFile.identity();
            return appended.finish(pending_);
        }
    }
    // Anything but an append is looked at record by record.
    ThreeWayMerge whole(catalogue, base_);
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
