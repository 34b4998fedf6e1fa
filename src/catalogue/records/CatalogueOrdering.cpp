// Start-up's name order worked out beside the window: the sort of a million
// names runs on the other threads while the window shows its first rows,
// found by one pass that keeps only the smallest few names.
#include "records/Catalogue.h"

#include <algorithm>

namespace vrindel {

namespace {

// Below this the whole order costs about as much as finding the first rows.
constexpr std::size_t BackgroundFrom = 50000;

}  // namespace

Catalogue::Ordering Catalogue::orderInBackground(const Alongside& alongside) const {
    const std::size_t n = storage_.size() - pendingFrom_;
    // Only a freshly loaded catalogue: the early rows are then the first of
    // all names, with nothing listed before them to merge with.
    if (ordering() || n < BackgroundFrom || pendingFrom_ != 0 || !display_.empty() || !storageIndex_.empty()) {
        waitForOrder();
        if (alongside)
            alongside(LoadedTexts(pool_.data(), storage_.data(), storage_.size()));
        return {};
    }
    // The worker reads the buffers, not this object, so that moving the
    // catalogue (which keeps the buffers) does not pull them from under it;
    // nothing may change them until the order is taken (waitForOrder).
    const char* pool = pool_.data();
    const Stored* stored = storage_.data();
    const Collation& collation = collation_;
    // The entries are made there too, and the order let go before the
    // alongside work takes its own memory: the load's peak holds one of
    // them at a time beside the entries.
    ordered_ = std::make_shared<std::vector<Entry>>();
    ordering_ = std::async(std::launch::async, [n, pool, stored, &collation, alongside, made = ordered_] {
                    *made = orderedEntries(pool, stored, n, collation);
                    if (alongside)
                        alongside(LoadedTexts(pool, stored, n));
                }).share();
    orderedCount_ = n;
    if (sorted_)
        early_ = firstPending(EarlyRows);
    return ordering_;
}

std::vector<Catalogue::Entry> Catalogue::takeOrdered() const {
    if (!ordering())
        return {};
    ordering_.get();
    ordering_ = {};
    early_ = {};
    std::vector<Entry> made = std::move(*ordered_);
    ordered_.reset();
    if (pendingFrom_ != 0 || storage_.size() != orderedCount_)
        return {};
    return made;
}

std::vector<Catalogue::Entry> Catalogue::firstPending(std::size_t count) const {
    // A heap whose top is the last of the first `count` so far; names come
    // in seq order, so on equal names the one already kept stays first.
    auto before = [&](const Entry& a, const Entry& b) {
        const int c = compare(a.name, b.name);
        return c < 0 || (c == 0 && a.seq < b.seq);
    };
    std::vector<Entry> first;
    first.reserve(count + 1);
    for (std::size_t k = pendingFrom_; k < storage_.size(); ++k) {
        const Stored& s = storage_[k];
        if (first.size() == count) {
            const Entry& last = first.front();
            if (compare(s.name, last.name) >= 0)
                continue;
            std::pop_heap(first.begin(), first.end(), before);
            first.pop_back();
        }
        first.push_back(entry(s.seq, s.name));
        std::push_heap(first.begin(), first.end(), before);
    }
    std::sort_heap(first.begin(), first.end(), before);
    return first;
}

}  // namespace vrindel
