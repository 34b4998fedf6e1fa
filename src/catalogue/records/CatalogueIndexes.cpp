// The catalogue's name indexes: ordered by the one collation, kept in order
// one record at a time, or settled in batches after a bulk load.
#include "records/Catalogue.h"

#include "text/CollationSort.h"

#include <algorithm>
#include <utility>

namespace vrindel {

// --- Indexes -----------------------------------------------------------------

std::size_t Catalogue::findInIndex(const std::vector<Entry>& index, std::string_view name) const {
    auto it = std::partition_point(index.begin(), index.end(),
                                   [&](const Entry& e) { return compare(name, e.name) > 0; });
    if (it != index.end() && compare(name, it->name) == 0)
        return std::size_t(it - index.begin());
    return std::string_view::npos;
}

std::size_t Catalogue::placeInIndex(const std::vector<Entry>& index, TextId name, std::uint32_t seq) const {
    const std::string_view wanted = text(name);
    auto it = std::partition_point(index.begin(), index.end(), [&](const Entry& x) {
        const int c = compare(wanted, x.name);
        return c > 0 || (c == 0 && x.seq < seq);
    });
    return std::size_t(it - index.begin());
}

std::size_t Catalogue::insertIntoIndex(std::vector<Entry>& index, Entry e) {
    const std::size_t at = placeInIndex(index, e.name, e.seq);
    index.insert(index.begin() + std::ptrdiff_t(at), e);
    return at;
}

void Catalogue::eraseFromIndex(std::vector<Entry>& index, Entry e) {
    auto it = index.begin() + std::ptrdiff_t(placeInIndex(index, e.name, e.seq));
    if (it == index.end() || it->seq != e.seq || it->name != e.name)
        it = std::find_if(index.begin(), index.end(),
                          [&](const Entry& x) { return x.seq == e.seq && x.name == e.name; });
    if (it != index.end())
        index.erase(it);
}

std::size_t Catalogue::positionOfSeq(const std::vector<Entry>& list, std::uint32_t seq) {
    auto it = std::partition_point(list.begin(), list.end(), [&](const Entry& e) { return e.seq < seq; });
    return std::size_t(it - list.begin());
}

std::size_t Catalogue::storagePositionOfSeq(std::uint32_t seq) const {
    auto it = std::partition_point(storage_.begin(), storage_.end(),
                                   [&](const Stored& s) { return s.seq < seq; });
    return std::size_t(it - storage_.begin());
}

// The order is found from the stored names and the entries made in it: a
// list of them in storage order besides would cost the load's peak an
// entry a record more.
std::vector<Catalogue::Entry> Catalogue::sortedBatch(std::size_t from, std::size_t count) const {
    if (count < 4096) {
        std::vector<Entry> batch(count);
        for (std::size_t k = 0; k < count; ++k)
            batch[k] = entry(storage_[from + k].seq, storage_[from + k].name);
        std::stable_sort(batch.begin(), batch.end(),
                         [&](const Entry& a, const Entry& b) { return compare(a.name, b.name) < 0; });
        return batch;
    }
    return orderedEntries(pool_.data(), storage_.data() + from, count, collation_);
}

std::vector<Catalogue::Entry> Catalogue::orderedEntries(const char* pool, const Stored* stored, std::size_t count,
                                                        const Collation& collation) {
    std::vector<Entry> entries;
    {
        const std::vector<std::uint32_t> order =
            collationOrder(count, [pool, stored](std::size_t k) { return textIn(pool, stored[k].name); }, collation);
        entries.resize(count);
        inTwoHalves(count, [&](unsigned, std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i)
                entries[i] = entryIn(pool, stored[order[i]].seq, stored[order[i]].name);
        });
    }   // the order let go before the caller takes memory of its own
    return entries;
}

// Merges a sorted batch into a sorted index; on equal names what was there
// comes first, as if each new name had been inserted after its equals.
void Catalogue::mergeInto(std::vector<Entry>& index, std::vector<Entry>&& batch) const {
    if (index.empty()) {
        index = std::move(batch);
        return;
    }
    std::vector<Entry> merged;
    merged.reserve(index.size() + batch.size());
    std::merge(index.begin(), index.end(), batch.begin(), batch.end(), std::back_inserter(merged),
               [&](const Entry& a, const Entry& b) { return compare(a.name, b.name) < 0; });
    index = std::move(merged);
}

void Catalogue::settleNow() const {
    std::vector<Entry> ordered = takeOrdered();
    if (pendingFrom_ == storage_.size())
        return;
    const std::size_t first = pendingFrom_, count = storage_.size() - pendingFrom_;
    pendingFrom_ = storage_.size();
    if (!sorted_) {
        // Unsorted, the display list takes the records in storage order.
        const std::size_t at = display_.size();
        display_.resize(at + count);
        auto fill = [&](unsigned, std::size_t from, std::size_t to) {
            for (std::size_t k = from; k < to; ++k)
                display_[at + k] = entry(storage_[first + k].seq, storage_[first + k].name);
        };
        if (count < 4096)
            fill(0, 0, count);
        else
            inTwoHalves(count, fill);
    }
    std::vector<Entry> batch = ordered.size() == count ? std::move(ordered) : sortedBatch(first, count);

    if (shared_ && displacedAt_ != NotDisplaced)
        unshare();
    if (!sorted_) {
        mergeInto(displayIndex_, std::vector<Entry>(batch));
    } else if (display_.empty() && storageIndex_.empty()) {
        // The first load: the index below is the list (a selection made
        // before it, from the early rows, already means its place there).
        shared_ = true;
    } else if (!shared_ && display_.empty()) {
        display_ = batch;
    } else if (!irregular_ && misplaced_ < 0) {
        // The selected entry stays selected: it moves down by the names
        // filed before it, which come after their equals.
        if (selection_ >= 0) {
            const TextId selected = shownAt(std::size_t(selection_)).name;
            selection_ += int(std::partition_point(batch.begin(), batch.end(), [&](const Entry& e) {
                                        return compare(e.name, selected) < 0;
                                    }) - batch.begin());
        }
        // A shared list takes the batch with the index below.
        if (!shared_)
            mergeInto(display_, std::vector<Entry>(batch));
    } else {
        for (const Entry& e : batch) {
            std::size_t p = sortedInsertPosition(text(e.name));
            display_.insert(display_.begin() + std::ptrdiff_t(p), e);
            if (misplaced_ >= 0 && std::size_t(misplaced_) >= p)
                ++misplaced_;
            if (selection_ >= 0 && std::size_t(selection_) >= p)
                ++selection_;
        }
    }
    mergeInto(storageIndex_, std::move(batch));
    keepRoomInLists();
}

}  // namespace vrindel
