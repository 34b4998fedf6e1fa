// The display list in sorted mode: in name order but for, at times, an
// entry renamed in place, which the searches leave out and check on their
// own; switching into the mode and out of it; and the re-sort after a
// rename that puts such an entry back in order.
#include "records/Catalogue.h"

#include <algorithm>

namespace vrindel {

namespace {

// The three searches of a sorted display list that may hold one entry out
// of order (renamed in place) share this: a lower bound over the list with
// the entry at `skip` left out (skip at or past the end: none). `before`
// holds for a prefix of the other entries; returns that prefix's length.
template <class List, class Before>
std::size_t boundLeavingOut(const List& list, std::size_t skip, Before before) {
    const std::size_t count = skip < list.size() ? list.size() - 1 : list.size();
    std::size_t lo = 0, hi = count;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (before(list[mid >= skip ? mid + 1 : mid]))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

// The position in the whole list of the k-th entry when `skip` is left out.
std::size_t withSkipped(std::size_t k, std::size_t skip) {
    return k >= skip ? k + 1 : k;
}

}  // namespace

// --- The list shared with the storage index ----------------------------------------

const Catalogue::Entry& Catalogue::shownAt(std::size_t k) const {
    if (!shared_)
        return display_[k];
    const std::size_t at = displacedAt_, from = displacedFrom_;
    if (at == NotDisplaced || k < std::min(at, from) || k > std::max(at, from))
        return storageIndex_[k];
    if (k == at)
        return storageIndex_[from];
    return storageIndex_[at < from ? k - 1 : k + 1];
}

void Catalogue::unshare() const {
    if (!shared_)
        return;
    std::vector<Entry> own;
    own.reserve(storageIndex_.size() + storageIndex_.size() / 4 + 1024);
    for (std::size_t k = 0; k < storageIndex_.size(); ++k)
        own.push_back(shownAt(k));
    display_ = std::move(own);
    shared_ = false;
    displacedAt_ = NotDisplaced;
}

void Catalogue::shareIfEqual() {
    if (!sorted_ || shared_ || display_.size() != storageIndex_.size())
        return;
    for (std::size_t k = 0; k < display_.size(); ++k)
        if (display_[k].name != storageIndex_[k].name)
            return;
    display_ = {};
    shared_ = true;
    displacedAt_ = NotDisplaced;
}

// --- Searching ---------------------------------------------------------------------

int Catalogue::findInSortedDisplay(std::string_view name) const {
    const Shown list = shown();
    const std::size_t n = list.size();
    if (irregular_) {
        for (std::size_t i = 0; i < n; ++i)
            if (compare(name, list[i].name) == 0)
                return int(i);
        return -1;
    }
    // Binary search over the sorted entries, leaving out the one renamed in
    // place; that one is checked on its own.
    const std::size_t m = misplaced_ < 0 ? n : std::size_t(misplaced_);
    const std::size_t count = m < n ? n - 1 : n;
    const std::size_t lo = boundLeavingOut(list, m, [&](const Entry& e) { return compare(name, e.name) > 0; });
    int found = -1;
    if (lo < count && compare(name, list[withSkipped(lo, m)].name) == 0)
        found = int(withSkipped(lo, m));
    if (m < n && compare(name, list[m].name) == 0 && (found < 0 || int(m) < found))
        found = int(m);
    return found;
}

// Where a sorted list puts a new name: after its equals. A list that is no
// longer in order is searched as if it were, as a list control would.
std::size_t Catalogue::sortedInsertPosition(std::string_view name) const {
    const Shown list = shown();
    const std::size_t n = list.size();
    const std::size_t m = !irregular_ && misplaced_ >= 0 ? std::size_t(misplaced_) : n;
    const std::size_t count = m < n ? n - 1 : n;
    const std::size_t lo = boundLeavingOut(list, m, [&](const Entry& e) { return compare(name, e.name) >= 0; });
    return lo < count ? withSkipped(lo, m) : n;
}

bool Catalogue::fitsAt(std::size_t at) const {
    const Shown list = shown();
    const TextId n = list[at].name;
    return (at == 0 || compare(list[at - 1].name, n) <= 0) &&
           (at + 1 == list.size() || compare(n, list[at + 1].name) <= 0);
}

// --- The mode ----------------------------------------------------------------------

void Catalogue::setSorted(bool on) {
    settle();
    if (on == sorted_)
        return;
    if (on) {
        // The display index already holds the entries in name order, equal
        // names in display order: exactly the stable re-sort.
        display_ = std::move(displayIndex_);
        displayIndex_ = {};
    } else {
        unshare();
        for (std::size_t k = 0; k < display_.size(); ++k)
            display_[k].seq = std::uint32_t(k);
        displayIndex_ = display_;
        if (irregular_ || misplaced_ >= 0)
            std::stable_sort(displayIndex_.begin(), displayIndex_.end(),
                             [&](const Entry& a, const Entry& b) { return compare(a.name, b.name) < 0; });
        // Name order is not storage order.
        mirrorsStorage_ = false;
    }
    misplaced_ = -1;
    irregular_ = false;
    sorted_ = on;
    shareIfEqual();
    ++arrangement_;
    keepRoomInLists();
}

// --- Re-sorting after a rename -----------------------------------------------------

void Catalogue::resortLiterally() {
    setBookmark(findInStorage(displayAt(selection_).view()));
    setSorted(false);
    showStorageOrder();
    setSelection(findInDisplay(storageName(bookmark_).view()));
    setBookmark(selection_);
    setSorted(true);
    setSelection(findInDisplay(storageName(bookmark_).view()));
}

void Catalogue::resortAfterRename() {
    settle();
    const int m = misplaced_ >= 0 ? misplaced_ : selection_;
    if (!sorted_ || irregular_ || !mirrorsStorage_ || selection_ < 0 || m != selection_)
        return resortLiterally();

    // The display list is the storage list in name order but for the one
    // entry renamed in place: move that entry to its place. A name with
    // equals would need their storage order to place it; rebuild then.
    const Shown list = shown();
    const std::size_t n = list.size();
    const std::size_t at = std::size_t(m);
    const TextId id = list[at].name;
    const std::size_t count = n - 1;
    const std::size_t lo = boundLeavingOut(list, at, [&](const Entry& e) { return compare(id, e.name) > 0; });
    if ((lo < count && compare(id, list[withSkipped(lo, at)].name) == 0) ||
        (lo > 0 && compare(list[withSkipped(lo - 1, at)].name, id) == 0))
        return resortLiterally();

    // Shared with the storage index, which has the entry at its place
    // already: the display only stops holding it back.
    const bool movedInIndex = shared_ && (displacedAt_ == NotDisplaced ? lo == at : displacedAt_ == at && displacedFrom_ == lo);
    if (!movedInIndex)
        unshare();
    const Entry moving = shownAt(at);
    if (movedInIndex)
        displacedAt_ = NotDisplaced;
    else if (lo < at)
        std::move_backward(display_.begin() + std::ptrdiff_t(lo), display_.begin() + std::ptrdiff_t(at),
                           display_.begin() + std::ptrdiff_t(at + 1));
    else
        std::move(display_.begin() + std::ptrdiff_t(at + 1), display_.begin() + std::ptrdiff_t(lo + 1),
                  display_.begin() + std::ptrdiff_t(at));
    if (!movedInIndex)
        display_[lo] = moving;
    misplaced_ = -1;
    ++arrangement_;

    // Selection, bookmark and top index as the step-by-step rebuild leaves
    // them: the record is selected in storage order first, then in name order.
    const int j = findInStorage(text(id));
    bookmark_ = j;
    selection_ = j;
    keepSelectionVisible();
    selection_ = int(lo);
    keepSelectionVisible();
}

}  // namespace vrindel
