// Putting a deleted record back where it was, so that a delete can be taken
// back: the storage lists as they were, the display list as it was.
#include "records/Catalogue.h"

#include <algorithm>
#include <limits>

namespace vrindel {

Catalogue::Removal Catalogue::removalAt(int i) const {
    Removal r;
    r.shown = displayAt(i);
    r.display = i;
    r.storage = findInStorage(r.shown.view());
    if (r.storage < 0)
        throw ListError::outOfBounds(r.storage);
    r.name = storageName(r.storage);
    r.location = storageLocation(r.storage);
    r.arrangement = arrangement_;
    return r;
}

// --- Order keys --------------------------------------------------------------------

// Keys are handed out one apart; a record put back between two needs one in
// between. When there is none the keys are spread this far apart, so that
// the next few restores at the same place find room.
std::uint32_t Catalogue::spread(std::size_t size) const {
    const std::uint64_t room = std::numeric_limits<std::uint32_t>::max() / 2;
    return std::uint32_t(std::clamp<std::uint64_t>(room / (size + 1), 2, 64));
}

void Catalogue::spreadStorageSeqs() {
    const std::uint32_t gap = spread(storage_.size());
    for (Entry& e : storageIndex_)
        e.seq = (std::uint32_t(storagePositionOfSeq(e.seq)) + 1) * gap;
    for (std::size_t k = 0; k < storage_.size(); ++k)
        storage_[k].seq = (std::uint32_t(k) + 1) * gap;
    nextSeq_ = std::max(nextSeq_, (std::uint32_t(storage_.size()) + 1) * gap);
}

void Catalogue::spreadDisplaySeqs() {
    const std::uint32_t gap = spread(display_.size());
    for (Entry& e : displayIndex_)
        e.seq = (std::uint32_t(positionOfSeq(display_, e.seq)) + 1) * gap;
    for (std::size_t k = 0; k < display_.size(); ++k)
        display_[k].seq = (std::uint32_t(k) + 1) * gap;
    nextSeq_ = std::max(nextSeq_, (std::uint32_t(display_.size()) + 1) * gap);
}

namespace {

// A key strictly between the neighbours' (none below for the first place),
// or nothing when they are adjacent.
template <class List>
bool keyBetween(const List& list, std::size_t at, std::uint32_t& key) {
    const std::uint64_t below = at == 0 ? 0 : std::uint64_t(list[at - 1].seq) + 1;
    const std::uint64_t above = list[at].seq;   // exclusive
    if (below >= above)
        return false;
    key = std::uint32_t(below + (above - below) / 2);
    return true;
}

}  // namespace

std::uint32_t Catalogue::seqBefore(std::vector<Stored>& list, std::size_t at) {
    std::uint32_t key = 0;
    if (at == list.size())
        return nextSeq_++;
    if (!keyBetween(list, at, key)) {
        spreadStorageSeqs();
        keyBetween(list, at, key);
    }
    return key;
}

std::uint32_t Catalogue::seqBefore(std::vector<Entry>& list, std::size_t at) {
    std::uint32_t key = 0;
    if (at == list.size())
        return nextSeq_++;
    if (!keyBetween(list, at, key)) {
        spreadDisplaySeqs();
        keyBetween(list, at, key);
    }
    return key;
}

// --- Putting back --------------------------------------------------------------------

int Catalogue::restore(const Removal& r) {
    settle();
    if (r.storage < 0 || std::size_t(r.storage) > storage_.size())
        throw ListError::outOfBounds(r.storage);
    renumberIfNeeded();
    const std::size_t j = std::size_t(r.storage);
    if (shared_ && displacedAt_ != NotDisplaced)
        unshare();
    const Shown list = shown();
    const std::size_t n = list.size();
    const std::string_view shown = r.shown.view();

    // The display entry goes back to its old place while the list still has
    // the arrangement it had then; after a switch of the sort mode, to the
    // place the new arrangement gives it.
    std::size_t p = std::min<std::size_t>(std::size_t(std::max(r.display, 0)), n);
    if (r.arrangement == arrangement_) {
        // The same arrangement: the old place, in order or not.
    } else if (sorted_) {
        const bool ordered = !irregular_ && misplaced_ < 0;
        const bool fits = (p == 0 || compare(shown, list[p - 1].name) >= 0) &&
                          (p == n || compare(shown, list[p].name) <= 0);
        if (ordered && !fits)
            p = sortedInsertPosition(shown);
    } else if (mirrorsStorage_) {
        p = j;
    }

    const bool same = r.name.view() == shown;
    const TextId stored = newText(r.name.view(), same ? 2 : 1);
    const TextId listed = same ? stored : newText(shown, 1);
    const TextId location = newText(r.location.view(), 1);
    const std::uint32_t seq = seqBefore(storage_, j);
    storage_.insert(storage_.begin() + std::ptrdiff_t(j), Stored{seq, stored, location});
    pendingFrom_ = storage_.size();
    // A shared list takes the record back once where the index files it
    // where the display puts it, between names that are not its equals;
    // anything else gives the display its own list first.
    const Entry back = entry(seq, stored);
    if (shared_) {
        const std::size_t filed = placeInIndex(storageIndex_, stored, seq);
        const bool equals = (p > 0 && compare(storageIndex_[p - 1].name, stored) == 0) ||
                            (p < n && compare(stored, storageIndex_[p].name) == 0);
        if (!same || filed != p || equals)
            unshare();
    }
    insertIntoIndex(storageIndex_, back);

    if (sorted_) {
        if (!shared_)
            display_.insert(display_.begin() + std::ptrdiff_t(p), entry(0, listed));
        if (misplaced_ >= 0 && std::size_t(misplaced_) >= p)
            ++misplaced_;
        // Put back out of name order (it had been renamed in place), it is
        // searched for as such an entry is.
        if (!fitsAt(p) && !irregular_) {
            if (misplaced_ < 0) {
                misplaced_ = int(p);
            } else {
                misplaced_ = -1;
                irregular_ = true;
            }
        }
        // Among equal names the list's order is storage order only by chance.
        const bool equals = (p > 0 && compare(shownAt(p - 1).name, listed) == 0) ||
                            (p + 1 < shownCount() && compare(listed, shownAt(p + 1).name) == 0);
        if (!same || equals)
            mirrorsStorage_ = false;
    } else {
        const std::uint32_t key = seqBefore(display_, p);
        display_.insert(display_.begin() + std::ptrdiff_t(p), entry(key, listed));
        insertIntoIndex(displayIndex_, entry(key, listed));
        if (!same || p != j)
            mirrorsStorage_ = false;
    }
    if (selection_ >= 0 && std::size_t(selection_) >= p)
        ++selection_;
    if (bookmark_ >= 0 && std::size_t(bookmark_) >= j)
        ++bookmark_;
    ++recordCount_;
    changed_ = true;
    keepRoomInLists();
    return int(p);
}

}  // namespace vrindel
