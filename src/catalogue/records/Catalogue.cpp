#include "records/Catalogue.h"

#include "text/CollationSort.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

namespace vrindel {

namespace {

std::uint32_t foldedHead(std::string_view text) {
    const unsigned char* fold = caseFoldTable();
    std::uint32_t head = 0;
    for (std::size_t i = 0; i < 4; ++i)
        head = (head << 8) | (i < text.size() ? fold[static_cast<unsigned char>(text[i])] : 0u);
    return head;
}

}  // namespace

Catalogue::Catalogue(const Collation& collation) : collation_(collation) {}

Catalogue::Entry Catalogue::entry(std::uint32_t seq, TextId name) const {
    return entryIn(pool_.data(), seq, name);
}

Catalogue::Entry Catalogue::entryIn(const char* pool, std::uint32_t seq, TextId name) {
    return Entry{seq, name, foldedHead(textIn(pool, name))};
}

// --- Text pool -----------------------------------------------------------

Catalogue::TextId Catalogue::newText(std::string_view text, std::uint8_t refs) {
    text = text.substr(0, std::min(text.size(), MaxTextLength));
    std::vector<TextId>& free = freeTexts_[text.size()];
    TextId id;
    if (!free.empty()) {
        id = free.back();
        free.pop_back();
    } else {
        if (pool_.size() + 2 + text.size() > std::numeric_limits<TextId>::max())
            throw std::length_error("catalogue texts beyond 4 GB");
        id = TextId(pool_.size());
        pool_.resize(pool_.size() + 2 + text.size());
    }
    pool_[id] = char(refs);
    pool_[id + 1] = char(text.size());
    std::memcpy(pool_.data() + id + 2, text.data(), text.size());
    return id;
}

void Catalogue::release(TextId id) {
    if (--pool_[id] == 0)
        freeTexts_[std::uint8_t(pool_[id + 1])].push_back(id);
}

// --- Display list --------------------------------------------------------------

int Catalogue::displayCount() const {
    // A freshly loaded catalogue lists every record, whatever the order.
    if (ordering())
        return int(storage_.size());
    settle();
    return int(shownCount());
}

RecordText Catalogue::displayAt(int i) const {
    if (ordering() && i >= 0) {
        if (!sorted_ && std::size_t(i) < storage_.size())
            return RecordText(text(storage_[std::size_t(i)].name));
        if (sorted_ && std::size_t(i) < early_.size())
            return RecordText(text(early_[std::size_t(i)].name));
    }
    settle();
    if (i < 0 || std::size_t(i) >= shownCount())
        throw ListError::outOfBounds(i);
    return RecordText(text(shownAt(std::size_t(i)).name));
}

int Catalogue::findInDisplay(std::string_view name) const {
    settle();
    if (!sorted_) {
        std::size_t pos = findInIndex(displayIndex_, name);
        return pos == std::string_view::npos ? -1 : int(positionOfSeq(display_, displayIndex_[pos].seq));
    }
    return findInSortedDisplay(name);
}

int Catalogue::findPrefixInDisplay(std::string_view prefix) const {
    settle();
    if (shownCount() == 0)
        return -1;
    const std::string folded = foldCase(prefix);
    // Compare the heads on the first up to four bytes, then the rest.
    const std::size_t headLength = std::min<std::size_t>(folded.size(), 4);
    const std::uint32_t mask = headLength == 0 ? 0 : ~std::uint32_t(0) << (8 * (4 - headLength));
    const std::uint32_t want = foldedHead(folded) & mask;
    // One array front to back, but for an entry held back by a rename.
    const std::vector<Entry>& list = shared_ ? storageIndex_ : display_;
    const bool direct = !shared_ || displacedAt_ == NotDisplaced;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const Entry& e = direct ? list[i] : shownAt(i);
        if ((e.head & mask) != want)
            continue;
        std::string_view t = text(e.name);
        if (t.size() < folded.size())
            continue;
        bool match = true;
        for (std::size_t k = 4; k < folded.size() && match; ++k)
            match = char(foldCase(static_cast<unsigned char>(t[k]))) == folded[k];
        if (match)
            return int(i);
    }
    return -1;
}

void Catalogue::setSelection(int i) {
    const int count = displayCount();
    selection_ = (i >= 0 && i < count) ? i : -1;
    keepSelectionVisible();
}

void Catalogue::keepSelectionVisible() {
    if (selection_ < 0)
        return;
    if (selection_ < topIndex_)
        topIndex_ = selection_;
    else if (selection_ >= topIndex_ + visibleRows_)
        topIndex_ = selection_ - visibleRows_ + 1;
}

void Catalogue::setTopIndex(int i) {
    int last = std::max(0, displayCount() - 1);
    topIndex_ = std::clamp(i, 0, last);
}

// --- Storage lists -------------------------------------------------------------

RecordText Catalogue::storageName(int j) const {
    if (j < 0 || std::size_t(j) >= storage_.size())
        throw ListError::outOfBounds(j);
    return RecordText(text(storage_[std::size_t(j)].name));
}

RecordText Catalogue::storageLocation(int j) const {
    if (j < 0 || std::size_t(j) >= storage_.size())
        throw ListError::outOfBounds(j);
    return RecordText(text(storage_[std::size_t(j)].location));
}

int Catalogue::findInStorage(std::string_view name) const {
    settle();
    std::size_t pos = findInIndex(storageIndex_, name);
    return pos == std::string_view::npos ? -1 : int(storagePositionOfSeq(storageIndex_[pos].seq));
}

RecordText Catalogue::locationOfDisplay(int i) const {
    if (ordering() && i >= 0) {
        // The first record of a fresh load is the first in storage of its
        // name; in name order an entry's first match is the first of its
        // equals, all of them among the early rows before it.
        if (!sorted_ && i == 0 && !storage_.empty())
            return storageLocation(0);
        if (sorted_ && std::size_t(i) < early_.size()) {
            std::size_t first = std::size_t(i);
            while (first > 0 && compare(early_[first - 1].name, early_[first].name) == 0)
                --first;
            return storageLocation(int(storagePositionOfSeq(early_[first].seq)));
        }
    }
    RecordText name = displayAt(i);
    return storageLocation(findInStorage(name.view()));
}

// --- Operations ----------------------------------------------------------------

namespace {

// Room for a quarter more than a list holds, so that adds after loading a
// large catalogue do not copy whole lists to grow them. Room never written
// costs address space, not memory.
template <class T>
void keepRoom(std::vector<T>& list, std::size_t size) {
    const std::size_t wanted = size + size / 4 + 1024;
    if (list.capacity() < size + size / 8 + 64)
        list.reserve(wanted);
}

}  // namespace

void Catalogue::keepRoomInLists() const {
    keepRoom(storageIndex_, storageIndex_.size());
    if (!shared_)
        keepRoom(display_, display_.size());
    if (!sorted_)
        keepRoom(displayIndex_, displayIndex_.size());
}

void Catalogue::reserve(std::size_t records) {
    waitForOrder();
    keepRoom(storage_, storage_.size() + records);
    // Room for the longest texts costs address space only: what the
    // texts leave of it is never touched.
    keepRoom(pool_, pool_.size() + 2 * records * (2 + MaxTextLength));
}

void Catalogue::appendLoaded(std::string_view name, std::string_view location) {
    waitForOrder();
    renumberIfNeeded();
    TextId n = newText(name, 2);  // HelpZoznam and Zoznam
    TextId l = newText(location, 1);
    storage_.push_back({nextSeq_++, n, l});
    ++recordCount_;
}

void Catalogue::add(std::string_view name, std::string_view location) {
    settle();
    renumberIfNeeded();
    changed_ = true;
    TextId n = newText(name, 2);
    TextId l = newText(location, 1);
    const std::uint32_t seq = nextSeq_++;
    storage_.push_back({seq, n, l});
    pendingFrom_ = storage_.size();
    // The newest key files a name after its equals, in the index as in the
    // sorted list: a shared list takes it once.
    if (shared_ && displacedAt_ != NotDisplaced)
        unshare();
    const std::size_t place = sorted_ ? sortedInsertPosition(text(n)) : 0;
    insertIntoIndex(storageIndex_, entry(seq, n));
    if (sorted_) {
        const std::size_t p = place;
        if (!shared_)
            display_.insert(display_.begin() + std::ptrdiff_t(p), entry(0, n));
        if (misplaced_ >= 0 && std::size_t(misplaced_) >= p)
            ++misplaced_;
        if (selection_ >= 0 && std::size_t(selection_) >= p)
            ++selection_;
    } else {
        display_.push_back(entry(seq, n));
        insertIntoIndex(displayIndex_, entry(seq, n));
    }
    ++recordCount_;
    setSelection(findInDisplay(text(n)));
}

int Catalogue::insertPosition(std::string_view name) const {
    settle();
    const RecordText stored(name);
    return sorted_ ? int(sortedInsertPosition(stored.view())) : int(display_.size());
}

void Catalogue::deleteAtDisplay(int i) {
    const RecordText name = displayAt(i);
    const int j = findInStorage(name.view());
    if (j < 0)
        throw ListError::outOfBounds(j);
    // A shared list loses one entry for both when the record deleted from
    // storage is the display entry itself.
    if (shared_ && (displacedAt_ != NotDisplaced || findInIndex(storageIndex_, name.view()) != std::size_t(i)))
        unshare();
    const Stored s = storage_[std::size_t(j)];
    const Entry d = shownAt(std::size_t(i));
    if (s.name != d.name)
        mirrorsStorage_ = false;

    changed_ = true;
    eraseFromIndex(storageIndex_, entry(s.seq, s.name));
    storage_.erase(storage_.begin() + j);
    pendingFrom_ = storage_.size();
    release(s.location);
    release(s.name);

    if (!sorted_)
        eraseFromIndex(displayIndex_, d);
    if (!shared_)
        display_.erase(display_.begin() + i);
    release(d.name);

    if (misplaced_ == i)
        misplaced_ = -1;
    else if (misplaced_ > i)
        --misplaced_;
    // With a neighbour gone, the entry renamed in place may be in order now;
    // searched as out of order it would take new names on the wrong side.
    if (misplaced_ >= 0 && std::abs(misplaced_ - i) <= 1 && fitsAt(std::size_t(misplaced_)))
        misplaced_ = -1;
    if (selection_ == i)
        selection_ = -1;
    else if (selection_ > i)
        --selection_;
    if (bookmark_ == j)
        bookmark_ = -1;
    else if (bookmark_ > j)
        --bookmark_;
    topIndex_ = std::clamp(topIndex_, 0, std::max(0, int(shownCount()) - 1));
    --recordCount_;
}

void Catalogue::renameAtDisplay(int i, std::string_view newName) {
    renameAtDisplay(i, newName, newName);
}

void Catalogue::renameAtDisplay(int i, std::string_view newName, std::string_view storedName) {
    const RecordText old = displayAt(i);
    const int j = findInStorage(old.view());
    if (j < 0)
        throw ListError::outOfBounds(j);
    const RecordText shown(newName), stored(storedName);
    const bool same = shown.view() == stored.view();
    // A shared list renames its entry once: the index files it at its
    // place, the display holds it back where it was.
    const bool keepShared = shared_ && displacedAt_ == NotDisplaced && same &&
                            findInIndex(storageIndex_, old.view()) == std::size_t(i);
    if (!keepShared)
        unshare();
    Stored& s = storage_[std::size_t(j)];
    const Entry d = shownAt(std::size_t(i));
    if (s.name != d.name)
        mirrorsStorage_ = false;

    changed_ = true;
    const TextId n = newText(shown.view(), same ? 2 : 1);
    const TextId sn = same ? n : newText(stored.view(), 1);
    if (!same)
        mirrorsStorage_ = false;
    eraseFromIndex(storageIndex_, entry(s.seq, s.name));
    release(s.name);
    s.name = sn;
    const std::size_t filed = insertIntoIndex(storageIndex_, entry(s.seq, sn));

    if (!sorted_)
        eraseFromIndex(displayIndex_, d);
    release(d.name);
    const Entry renamed = entry(d.seq, n);
    if (keepShared) {
        displacedAt_ = filed == std::size_t(i) ? NotDisplaced : std::size_t(i);
        displacedFrom_ = filed;
    } else {
        display_[std::size_t(i)] = renamed;
    }
    if (!sorted_) {
        insertIntoIndex(displayIndex_, renamed);
        return;
    }

    // Sorted mode: the entry stays where it is, which may be out of order.
    if (irregular_)
        return;
    if (misplaced_ >= 0 && misplaced_ != i) {
        misplaced_ = -1;
        irregular_ = true;
        return;
    }
    misplaced_ = fitsAt(std::size_t(i)) ? -1 : i;
}

void Catalogue::relocateAtDisplay(int i, std::string_view location) {
    const RecordText name = displayAt(i);
    relocateAtStorage(findInStorage(name.view()), location);
}

void Catalogue::relocateAtStorage(int j, std::string_view location) {
    if (j < 0 || std::size_t(j) >= storage_.size())
        throw ListError::outOfBounds(j);
    waitForOrder();
    Stored& s = storage_[std::size_t(j)];
    const TextId l = newText(location, 1);
    release(s.location);
    s.location = l;
    // A new location is a change the close must save like any other.
    changed_ = true;
}

std::vector<std::pair<int, int>> Catalogue::repeatedNames(const std::vector<std::string_view>& more) const {
    // Two names match exactly when their case-folded bytes are equal (the
    // collation's promise), so one pass in storage order over a hash table
    // of folded names finds every repeat and its first: no sort, which an
    // import of a million names would otherwise wait for.
    const unsigned char* fold = caseFoldTable();
    const std::size_t listed = storage_.size(), n = listed + more.size();
    auto name = [&](std::size_t j) { return j < listed ? text(storage_[j].name) : more[j - listed]; };
    auto folded = [&](std::string_view s, std::size_t i) { return fold[static_cast<unsigned char>(s[i])]; };
    std::vector<std::uint32_t> hashes(n);
    for (std::size_t j = 0; j < n; ++j) {
        const std::string_view t = name(j);
        std::uint32_t h = 2166136261u;   // FNV-1a
        for (std::size_t i = 0; i < t.size(); ++i)
            h = (h ^ folded(t, i)) * 16777619u;
        hashes[j] = h;
    }
    std::size_t slots = 16;
    while (slots < 2 * n)
        slots <<= 1;
    const std::size_t mask = slots - 1;
    struct Slot {
        std::uint32_t hash;
        std::uint32_t first;   // storage index + 1; 0 when empty
    };
    std::vector<Slot> table(slots, Slot{0, 0});
    auto sameFolded = [&](std::string_view a, std::string_view b) {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (folded(a, i) != folded(b, i))
                return false;
        return true;
    };
    constexpr std::size_t Ahead = 16;   // the table is far larger than a cache
    std::vector<std::pair<int, int>> repeated;
    for (std::size_t j = 0; j < n; ++j) {
        if (j + Ahead < n)
            __builtin_prefetch(&table[hashes[j + Ahead] & mask]);
        const std::uint32_t h = hashes[j];
        for (std::size_t s = h & mask;; s = (s + 1) & mask) {
            Slot& slot = table[s];
            if (slot.first == 0) {
                slot = Slot{h, std::uint32_t(j + 1)};
                break;
            }
            if (slot.hash == h && sameFolded(name(slot.first - 1), name(j))) {
                repeated.emplace_back(int(j), int(slot.first - 1));
                break;
            }
        }
    }
    return repeated;
}

std::vector<int> Catalogue::storageInNameOrder() const {
    settle();
    std::vector<int> order;
    order.reserve(storageIndex_.size());
    if (storage_.empty())
        return order;
    // Order keys run without gaps after a load and appends, and with few
    // after some deletes: a table from key to place then answers each
    // record at once, where a search a record costs a cache miss a step.
    const std::uint32_t first = storage_.front().seq;
    const std::size_t range = std::size_t(storage_.back().seq - first) + 1;
    if (range <= 2 * storage_.size()) {
        std::vector<std::uint32_t> place(range);
        for (std::size_t j = 0; j < storage_.size(); ++j)
            place[storage_[j].seq - first] = std::uint32_t(j);
        for (const Entry& e : storageIndex_)
            order.push_back(int(place[e.seq - first]));
        return order;
    }
    for (const Entry& e : storageIndex_)
        order.push_back(int(storagePositionOfSeq(e.seq)));
    return order;
}

int Catalogue::storageInNameOrderAt(int k) const {
    settle();
    return int(storagePositionOfSeq(storageIndex_[std::size_t(k)].seq));
}

int Catalogue::nameOrderPosition(int j) const {
    settle();
    const Stored& s = storage_[std::size_t(j)];
    return int(placeInIndex(storageIndex_, s.name, s.seq));
}

void Catalogue::releaseDisplay() {
    for (std::size_t k = 0; k < shownCount(); ++k)
        release(shownAt(k).name);
    display_.clear();
    displayIndex_.clear();
    shared_ = false;
    displacedAt_ = NotDisplaced;
}

void Catalogue::clear() {
    waitForOrder();
    storage_.clear();
    storageIndex_.clear();
    display_.clear();
    displayIndex_.clear();
    pool_.clear();
    for (std::vector<TextId>& free : freeTexts_)
        free.clear();
    pendingFrom_ = 0;
    shared_ = sorted_;
    displacedAt_ = NotDisplaced;
    misplaced_ = -1;
    irregular_ = false;
    mirrorsStorage_ = true;
    selection_ = -1;
    topIndex_ = 0;
    bookmark_ = -1;
    changed_ = false;
    ++arrangement_;
}

void Catalogue::showStorageOrder() {
    settle();
    releaseDisplay();
    if (sorted_) {
        // A sorted list files every copied name at its sorted place: it is
        // the storage index.
        shared_ = true;
        for (const Entry& e : storageIndex_)
            ++pool_[e.name];
    } else {
        display_.reserve(storage_.size());
        for (const Stored& s : storage_)
            display_.push_back(entry(s.seq, s.name));
        displayIndex_ = storageIndex_;
        for (const Entry& e : display_)
            ++pool_[e.name];
    }
    misplaced_ = -1;
    irregular_ = false;
    mirrorsStorage_ = true;
    selection_ = -1;
    topIndex_ = std::clamp(topIndex_, 0, std::max(0, int(shownCount()) - 1));
    ++arrangement_;
    keepRoomInLists();
}

void Catalogue::renumberIfNeeded() {
    if (nextSeq_ < std::numeric_limits<std::uint32_t>::max() - 1)
        return;
    settle();
    // Order keys only need to keep their order: hand out fresh ones.
    for (Entry& e : storageIndex_)
        e.seq = std::uint32_t(storagePositionOfSeq(e.seq));
    for (std::size_t k = 0; k < storage_.size(); ++k)
        storage_[k].seq = std::uint32_t(k);
    if (!sorted_) {
        for (Entry& e : displayIndex_)
            e.seq = std::uint32_t(positionOfSeq(display_, e.seq));
        for (std::size_t k = 0; k < display_.size(); ++k)
            display_[k].seq = std::uint32_t(k);
    }
    nextSeq_ = std::uint32_t(std::max(storage_.size(), display_.size()));
}

}  // namespace vrindel

