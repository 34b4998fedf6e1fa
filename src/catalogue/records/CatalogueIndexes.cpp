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

std::size_t Catalogue::insertIntoIndex(std::vector<Entry>& index, Entry e) {
    auto it = std::partition_point(index.begin(), index.end(), [&](const Entry& x) {
        int c = compare(text(e.name), x.name);
        return c > 0 || (c == 0 && x.seq < e.seq);
    });
    return std::size_t(index.insert(it, e) - index.begin());
}

void Catalogue::eraseFromIndex(std::vector<Entry>& index, Entry e) {
    auto it = std::partition_point(index.begin(), index.end(), [&](const Entry& x) {
        int c = compare(text(e.name), x.name);
        return c > 0 || (c == 0 && x.seq < e.seq);
    });
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

// Sorts a batch given in order of seq by collation, equal names keeping that
// order.
void Catalogue::sortBatch(std::vector<Entry>& batch) const {
    const std::size_t n = batch.size();
    if (n < 4096) {
        std::stable_sort(batch.begin(), batch.end(),
                         [&](const Entry& a, const Entry& b) { return compare(a.name, b.name) < 0; });
        return;
    }
    const std::vector<std::uint32_t> order =
        collationOrder(n, [&](std::size_t i) { return text(batch[i].name); }, collation_);
    std::vector<Entry> sorted(n);
    inTwoHalves(n, [&](unsigned, std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i)
            sorted[i] = batch[order[i]];
    });
    batch = std::move(sorted);
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

void Catalogue::settle() const {
    if (pendingFrom_ == storage_.size())
        return;
    std::vector<Entry> batch(storage_.size() - pendingFrom_);
    auto fill = [&](unsigned, std::size_t from, std::size_t to) {
        for (std::size_t k = from; k < to; ++k)
            batch[k] = entry(storage_[pendingFrom_ + k].seq, storage_[pendingFrom_ + k].name);
    };
    if (batch.size() < 4096)
        fill(0, 0, batch.size());
    else
        inTwoHalves(batch.size(), fill);
    pendingFrom_ = storage_.size();

    if (!sorted_)
        display_.insert(display_.end(), batch.begin(), batch.end());
    sortBatch(batch);

    if (shared_ && displacedAt_ != NotDisplaced)
        unshare();
    if (!sorted_) {
        mergeInto(displayIndex_, std::vector<Entry>(batch));
    } else if (!shared_ && display_.empty() && storageIndex_.empty()) {
        // The first load: the index below is the list.
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
