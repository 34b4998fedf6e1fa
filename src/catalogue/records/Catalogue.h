#pragma once
// The catalogue in memory: three lists of texts kept in step, as the window
// has always kept them.
//
//  HelpZoznam   the names in storage order (file order, then additions)
//  HelpPoznamka the locations, entry j belonging to HelpZoznam[j]
//  Zoznam       the names as the window lists them, in name order or in
//               storage order, with a selection and a top index
//  RecordCount  kept apart from the lists
//
// The display list is its own list of names, not a view of the storage
// list: with names that differ only in case (possible in a file written by
// other means) a delete or a rename reaches the first match in storage, so
// the two lists may hold different spellings. Every lookup from the display
// to the storage goes by name, first match from the top.
//
// Built for a million records: texts live once in a pool, as long as they
// are, the lists hold 4-byte references, and finding a name is a binary search over indexes kept
// in collation order (ties in list order), never a walk over all names.

#include <array>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "text/Collation.h"
#include "Errors.h"
#include "text/RecordText.h"

namespace vrindel {

class Catalogue {
public:
    explicit Catalogue(const Collation& collation = Collation::instance());
    // Gone only once its background work is done: that reads its texts,
    // and a handle to it held elsewhere (the store's) would not wait.
    ~Catalogue() {
        if (ordering_.valid())
            ordering_.wait();
    }
    Catalogue(const Catalogue&) = default;
    Catalogue(Catalogue&&) = default;

    // --- Zoznam, the display list -------------------------------------
    int displayCount() const;
    RecordText displayAt(int i) const;                  // ListError outside the list
    int findInDisplay(std::string_view name) const;     // first match from the top, or -1
    // Type-ahead: the first entry from the top whose text begins with the
    // given Windows-1250 bytes, letter case ignored; -1 if none. An empty
    // prefix matches the first entry.
    int findPrefixInDisplay(std::string_view prefix) const;
    int selection() const { return selection_; }
    void setSelection(int i);                           // outside the list: none (-1)
    int topIndex() const { return topIndex_; }
    void setTopIndex(int i);
    // How many rows the window shows; a selection is kept inside them.
    void setVisibleRows(int rows) { visibleRows_ = rows < 1 ? 1 : rows; }
    bool sorted() const { return sorted_; }
    // Turning the mode on re-sorts the entries (equal names keep their
    // order); turning it off keeps them where they are. Either way the
    // selection's index and the top index stay as numbers.
    void setSorted(bool on);

    // --- HelpZoznam and HelpPoznamka, the storage lists -----------------
    int storageCount() const { return int(storage_.size()); }
    RecordText storageName(int j) const;                // ListError outside the list
    RecordText storageLocation(int j) const;            // ListError outside the list
    int findInStorage(std::string_view name) const;     // first match from the top, or -1
    // The stored name and location of record j (in range) as they lie in
    // the catalogue, valid until it changes: a search over every record
    // reads them in place rather than copying each.
    std::pair<std::string_view, std::string_view> storedTexts(int j) const {
        const Stored& s = storage_[std::size_t(j)];
        return {text(s.name), text(s.location)};
    }
    // HelpZoznam's own selection, never shown: a storage index held while
    // the display list is rebuilt.
    int bookmark() const { return bookmark_; }
    void setBookmark(int j) { bookmark_ = (j >= 0 && j < storageCount()) ? j : -1; }

    // The location of display entry i: its name's first match in storage.
    RecordText locationOfDisplay(int i) const;

    std::int32_t recordCount() const { return recordCount_; }
    void setRecordCount(std::int32_t count) { recordCount_ = count; }

    // --- Operations ---------------------------------------------------------
    // Loading: names enter the display list at their sorted place in sorted
    // mode. Appends are batched: the indexes are brought up to date, with one
    // sort, by the next call of anything else.
    void reserve(std::size_t records);
    void appendLoaded(std::string_view name, std::string_view location);
    // The caller has made sure the name is not listed yet. Selects it.
    void add(std::string_view name, std::string_view location);
    // The display index add() will give the name, so that a view can be
    // told where a row appears before it appears.
    int insertPosition(std::string_view name) const;
    void deleteAtDisplay(int i);                        // the caller selects afterwards
    // The display entry is replaced in place, even in sorted mode.
    void renameAtDisplay(int i, std::string_view name);
    // The same, with the stored name spelt apart from the shown one: taking
    // back a rename restores both spellings of a name listed twice.
    void renameAtDisplay(int i, std::string_view name, std::string_view storedName);
    // The record stored at j gets another location; the lists do not move.
    // ListError outside the storage list.
    void relocateAtStorage(int j, std::string_view location);
    // The same for the record of display entry i: its name's first match
    // in storage.
    void relocateAtDisplay(int i, std::string_view location);

    // What deleteAtDisplay(i) takes out, so that restore() can put it back.
    struct Removal {
        int display = -1;    // the display entry's index
        int storage = -1;    // the record's storage index
        RecordText shown;    // the display entry's text
        RecordText name;     // the stored name, which may differ in case
        RecordText location;
        std::uint32_t arrangement = 0;   // see arrangement()
    };
    Removal removalAt(int i) const;                     // ListError as deleteAtDisplay
    // Changes whenever the display list is rearranged as a whole (a switch
    // of the sort mode, a copy of the storage order, a re-sort), so that a
    // restore can tell whether an old display index still means its place.
    std::uint32_t arrangement() const { return arrangement_; }
    // Puts a deleted record back at its storage index, and its display
    // entry at its index, or, when the list has been rearranged since, where
    // the list's order puts it. Returns the display index; the selection
    // stays on the entry it was on. ListError for a storage index outside
    // 0..storageCount().
    int restore(const Removal& removal);
    // Every storage name that matches an earlier one, as pairs of storage
    // indexes (the later one, the first one), the later ones ascending.
    // Entered through the window, names never repeat; a file written by
    // other means, or records about to be imported, may. Names about to be
    // appended (as stored: Windows-1250, at most 31 bytes) are matched as
    // if they were: `more[k]` counts as storage index storageCount() + k.
    std::vector<std::pair<int, int>> repeatedNames(const std::vector<std::string_view>& more = {}) const;
    // Storage indexes in the sorted view's order: by name, equal names in
    // storage order.
    std::vector<int> storageInNameOrder() const;
    // Its k-th (in range), without the list; and where record j is in it.
    int storageInNameOrderAt(int k) const;
    int nameOrderPosition(int j) const;
    // A key a record that grows with storage order, and the keys in name
    // order: a reader marks records by key as it reads them in storage order
    // and reads the marks back in name order, without a list of either.
    std::uint32_t storageKey(int j) const { return storage_[std::size_t(j)].seq; }
    std::uint32_t nameOrderKey(int k) const {
        settle();
        return storageIndex_[std::size_t(k)].seq;
    }
    void clear();                                       // RecordCount is left alone

    // Whether anything was added, deleted or renamed since the last clear().
    bool changed() const { return changed_; }
    // Zoznam receives a copy of HelpZoznam in its order; nothing is selected.
    void showStorageOrder();
    // After a rename in sorted mode: the whole list back in name order, as
    // a rebuild from storage order would give it, the renamed record
    // selected. The bookmark ends as that rebuild leaves it.
    void resortAfterRename();

    // Start-up: the name order of a freshly loaded catalogue is worked out
    // off the caller's thread, while the first rows of the list, its count
    // and its selection are answered at once from the few names that come
    // first. Anything else waits for the order, so every answer is the one
    // a finished load gives. Small catalogues are ordered when first asked.
    //
    // `alongside` is given the records as loaded, to read beside the order
    // (off the caller's thread too when the order is), or at once when the
    // catalogue is ordered when asked. The handle is ready when both are
    // done; it is empty when everything was done at once.
    class LoadedTexts;
    using Alongside = std::function<void(const LoadedTexts&)>;
    using Ordering = std::shared_future<void>;
    Ordering orderInBackground(const Alongside& alongside = {}) const;
    // The order finished and the lists built, whatever it waits for.
    void prepare() const { settle(); }
    // How many rows are answered before the order is there.
    static constexpr std::size_t EarlyRows = 128;

private:
    using TextId = std::uint32_t;
    struct Entry {
        std::uint32_t seq;   // order key: storage order, or display order when unsorted
        TextId name;
        // The first four bytes of the name with case folded, so that a
        // type-ahead search reads one array front to back.
        std::uint32_t head;
    };
    struct Stored {
        std::uint32_t seq;
        TextId name;
        TextId location;
    };

    TextId newText(std::string_view text, std::uint8_t refs);
    Entry entry(std::uint32_t seq, TextId name) const;
    void release(TextId id);
    // A text where a pool keeps it, after its count of references and length.
    static std::string_view textIn(const char* pool, TextId id) { return {pool + id + 2, std::uint8_t(pool[id + 1])}; }
    std::string_view text(TextId id) const { return textIn(pool_.data(), id); }
    int compare(std::string_view a, TextId b) const { return collation_.compare(a, text(b)); }
    int compare(TextId a, TextId b) const { return collation_.compare(text(a), text(b)); }

    // The display list's entries, wherever they are kept (see shared_).
    const Entry& shownAt(std::size_t k) const;
    std::size_t shownCount() const { return shared_ ? storageIndex_.size() : display_.size(); }
    struct Shown {
        const Catalogue* catalogue;
        const Entry& operator[](std::size_t k) const { return catalogue->shownAt(k); }
        std::size_t size() const { return catalogue->shownCount(); }
    };
    Shown shown() const { return Shown{this}; }
    // The display list in a list of its own, before a change the storage
    // index does not make alike; and back to none when it matches the index.
    void unshare() const;
    void shareIfEqual();

    // Brings the indexes up to date after appendLoaded; inline, as every
    // read of the lists asks it first (a million times, reading a list).
    void settle() const {
        if (ordering() || pendingFrom_ != storage_.size())
            settleNow();
    }
    void settleNow() const;
    // The entries of storage_[from, from + count) by collation, equal names
    // in storage order.
    std::vector<Entry> sortedBatch(std::size_t from, std::size_t count) const;
    // The same for `count` stored records of a pool, from any thread: the
    // texts alone, so that the background can make them too.
    static std::vector<Entry> orderedEntries(const char* pool, const Stored* stored, std::size_t count,
                                             const Collation& collation);
    // Whether the lists are still being ordered off the caller's thread:
    // then only early_ may be read, and storage_ and pool_ must not change.
    bool ordering() const { return ordering_.valid(); }
    // The pending entries in name order as the background made them, once,
    // if they are still what is pending; empty otherwise.
    std::vector<Entry> takeOrdered() const;
    // An entry made from the texts alone, as entry() makes it.
    static Entry entryIn(const char* pool, std::uint32_t seq, TextId name);
    // The first count pending names by (collation, seq), found in one pass.
    std::vector<Entry> firstPending(std::size_t count) const;
    // Whatever must not change under the background order waits for it.
    void waitForOrder() const {
        if (ordering())
            settle();
    }
    void mergeInto(std::vector<Entry>& index, std::vector<Entry>&& batch) const;

    // Position of the first entry of an index ordered by (collation, seq)
    // that matches the name, or npos.
    std::size_t findInIndex(const std::vector<Entry>& index, std::string_view name) const;
    void eraseFromIndex(std::vector<Entry>& index, Entry e);
    std::size_t insertIntoIndex(std::vector<Entry>& index, Entry e);   // where it went
    // Where an index ordered by (collation, seq) files the name with the key.
    std::size_t placeInIndex(const std::vector<Entry>& index, TextId name, std::uint32_t seq) const;
    static std::size_t positionOfSeq(const std::vector<Entry>& list, std::uint32_t seq);
    std::size_t storagePositionOfSeq(std::uint32_t seq) const;

    std::size_t sortedInsertPosition(std::string_view name) const;  // sorted mode only
    bool fitsAt(std::size_t at) const;   // display entry at is in name order with its neighbours
    // An order key between those of list[at - 1] and list[at], spreading
    // the keys of the list (and its index) apart first when none is free.
    std::uint32_t seqBefore(std::vector<Stored>& list, std::size_t at);
    std::uint32_t seqBefore(std::vector<Entry>& list, std::size_t at);
    void spreadStorageSeqs();
    void spreadDisplaySeqs();
    std::uint32_t spread(std::size_t size) const;
    int findInSortedDisplay(std::string_view name) const;
    void renumberIfNeeded();
    void keepRoomInLists() const;
    void keepSelectionVisible();
    void releaseDisplay();
    void resortLiterally();

    const Collation& collation_;

    // Each text once, as its count of references (one byte), its length
    // (one byte) and its bytes; a TextId is where it starts. A text no
    // longer referred to leaves its place to the next of its length.
    std::vector<char> pool_;
    std::array<std::vector<TextId>, MaxTextLength + 1> freeTexts_;

    std::vector<Stored> storage_;                 // HelpZoznam and HelpPoznamka
    mutable std::vector<Entry> storageIndex_;     // storage names by (collation, seq)
    mutable std::vector<Entry> display_;          // Zoznam
    mutable std::vector<Entry> displayIndex_;     // unsorted mode: display by (collation, seq)
    mutable std::size_t pendingFrom_ = 0;         // storage_ entries not yet indexed
    // Sorted mode: while the display list holds the storage index's entries
    // in its order, it is that index and display_ stays empty, so that a
    // million records cost one such list, not two. A rename in place keeps
    // its entry where it was in the display while the index files it
    // elsewhere: the display is then the index with that entry moved from
    // displacedFrom_ back to displacedAt_, until the re-sort puts it back.
    // Any other change the two would not make alike gives the display its
    // own list first.
    mutable bool shared_ = false;
    static constexpr std::size_t NotDisplaced = ~std::size_t(0);
    mutable std::size_t displacedAt_ = NotDisplaced;
    mutable std::size_t displacedFrom_ = 0;

    // Order keys for storage_ and, in unsorted mode, display_. One counter
    // serves both, so a copy of the storage list keeps its keys.
    mutable std::uint32_t nextSeq_ = 0;

    bool sorted_ = false;
    // The display list, its indexes and the two positions kept in it are
    // brought up to date lazily after a bulk load (settle() const), hence
    // mutable.
    // Sorted mode: one entry renamed in place may sit outside name order...
    mutable int misplaced_ = -1;
    // ...and after anything more unusual the list is searched end to end.
    bool irregular_ = false;
    // Whether the display names are the storage names (same texts, same
    // order as a rebuild would give): then a re-sort can move one entry
    // instead of rebuilding the list.
    bool mirrorsStorage_ = true;

    mutable int selection_ = -1;
    int topIndex_ = 0;
    int visibleRows_ = 18;
    int bookmark_ = -1;
    std::int32_t recordCount_ = 0;

    bool changed_ = false;
    std::uint32_t arrangement_ = 0;

    // The first rows of the sorted list while ordering_ runs.
    mutable std::vector<Entry> early_;
    mutable std::size_t orderedCount_ = 0;
    // Where the background puts the entries it orders; shared with it, so
    // that a move of the catalogue leaves it in place.
    mutable std::shared_ptr<std::vector<Entry>> ordered_;
    // Last, so that it is waited for before the texts it reads go.
    mutable Ordering ordering_;

public:
    // The records' texts where the catalogue keeps them; valid while
    // nothing changes the catalogue, which waits for the background work.
    class LoadedTexts {
    public:
        std::size_t size() const { return count_; }
        std::string_view name(std::size_t j) const { return at(stored_[j].name); }
        std::string_view location(std::size_t j) const { return at(stored_[j].location); }

    private:
        friend class Catalogue;
        LoadedTexts(const char* pool, const Stored* stored, std::size_t count)
            : pool_(pool), stored_(stored), count_(count) {}
        std::string_view at(TextId id) const { return textIn(pool_, id); }
        const char* pool_;
        const Stored* stored_;
        std::size_t count_;
    };
};

}  // namespace vrindel
