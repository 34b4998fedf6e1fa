// The catalogue keeps indexes, batches and shortcuts so that a million
// records stay quick. This check drives it side by side with the plainest
// possible model of the same lists (three vectors, finds that walk from the
// top, a stable sort, a re-sort done literally step by step) through long
// random sequences, and compares everything after every step.

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <iostream>
#include <random>
#include <sstream>

#include "records/Catalogue.h"
#include "records/EditHistory.h"
#include "TestSupport.h"

namespace vrindel {
namespace {

using test::displayNames;
using test::storageLocations;
using test::storageNames;
using Names = std::vector<std::string>;

std::string outOfBounds(long long index) { return test::numbered("List index out of bounds (", index) + ")"; }

// --- The reference ------------------------------------------------------------------------

struct Reference {
    Reference(const Collation& collation, int visibleRows) : coll(collation), rows(visibleRows) {}

    const Collation& coll;
    Names storage;     // HelpZoznam
    Names locations;   // HelpPoznamka
    Names display;     // Zoznam
    bool sorted = false;
    int selection = -1;
    int top = 0;
    int rows;
    int bookmark = -1;
    std::int32_t count = 0;

    static std::string cut(std::string_view text) { return std::string(text.substr(0, MaxTextLength)); }

    int find(const Names& list, std::string_view name) const {
        for (std::size_t i = 0; i < list.size(); ++i)
            if (coll.equal(list[i], name))
                return int(i);
        return -1;
    }
    bool less(const std::string& a, const std::string& b) const { return coll.compare(a, b) < 0; }

    const std::string& displayAt(int i) const {
        if (i < 0 || i >= int(display.size()))
            throw ListError(outOfBounds(i));
        return display[std::size_t(i)];
    }
    const std::string& storageAt(int j) const {
        if (j < 0 || j >= int(storage.size()))
            throw ListError(outOfBounds(j));
        return storage[std::size_t(j)];
    }
    std::string locationOfDisplay(int i) const {
        const int j = find(storage, displayAt(i));
        if (j < 0 || j >= int(locations.size()))
            throw ListError(outOfBounds(j));
        return locations[std::size_t(j)];
    }

    bool inOrder() const {
        for (std::size_t i = 1; i < display.size(); ++i)
            if (coll.compare(display[i - 1], display[i]) > 0)
                return false;
        return true;
    }
    // A list in name order takes a new name after its equals.
    std::size_t sortedPlace(const std::string& name) const {
        return std::size_t(std::upper_bound(display.begin(), display.end(), name,
                                            [&](const std::string& a, const std::string& b) { return less(a, b); }) -
                           display.begin());
    }
    void insertIntoDisplay(std::size_t at, const std::string& name) {
        display.insert(display.begin() + std::ptrdiff_t(at), name);
        if (selection >= int(at))
            ++selection;   // the selected entry stays selected
    }

    void keepSelectionVisible() {
        if (selection < 0)
            return;
        if (selection < top)
            top = selection;
        else if (selection >= top + rows)
            top = selection - rows + 1;
    }
    void clampTop() { top = std::clamp(top, 0, std::max(0, int(display.size()) - 1)); }
    void setSelection(int i) {
        selection = (i >= 0 && i < int(display.size())) ? i : -1;
        keepSelectionVisible();
    }
    void setTopIndex(int i) { top = std::clamp(i, 0, std::max(0, int(display.size()) - 1)); }
    void setBookmark(int j) { bookmark = (j >= 0 && j < int(storage.size())) ? j : -1; }

    void setSorted(bool on) {
        if (on == sorted)
            return;
        if (on)
            std::stable_sort(display.begin(), display.end(),
                             [&](const std::string& a, const std::string& b) { return less(a, b); });
        sorted = on;
    }

    // Only for a display list in order (or unsorted): the place is exact.
    void appendLoaded(const std::string& name, const std::string& location) {
        storage.push_back(cut(name));
        locations.push_back(cut(location));
        if (sorted)
            insertIntoDisplay(sortedPlace(cut(name)), cut(name));
        else
            display.push_back(cut(name));
        ++count;
    }

    void deleteAtDisplay(int i) {
        const std::string name = displayAt(i);
        const int j = find(storage, name);
        if (j < 0)
            throw ListError(outOfBounds(j));
        locations.erase(locations.begin() + j);
        storage.erase(storage.begin() + j);
        display.erase(display.begin() + i);
        --count;
        if (selection == i)
            selection = -1;
        else if (selection > i)
            --selection;
        if (bookmark == j)
            bookmark = -1;
        else if (bookmark > j)
            --bookmark;
        clampTop();
    }

    void renameAtDisplay(int i, const std::string& name) {
        const std::string old = displayAt(i);
        const int j = find(storage, old);
        if (j < 0)
            throw ListError(outOfBounds(j));
        storage[std::size_t(j)] = cut(name);
        display[std::size_t(i)] = cut(name);
    }

    void clear() {
        storage.clear();
        locations.clear();
        display.clear();
        selection = -1;
        top = 0;
        bookmark = -1;
    }

    void showStorageOrder() {
        display = storage;
        if (sorted)
            std::stable_sort(display.begin(), display.end(),
                             [&](const std::string& a, const std::string& b) { return less(a, b); });
        selection = -1;
        clampTop();
    }

    // Word for word the window's steps.
    void resortAfterRename() {
        setBookmark(find(storage, displayAt(selection)));
        setSorted(false);
        showStorageOrder();
        setSelection(find(display, storageAt(bookmark)));
        setBookmark(selection);
        setSorted(true);
        setSelection(find(display, storageAt(bookmark)));
    }
};

// Whether `now` is `before` with the `added` names put in somewhere.
bool isWithInsertions(const Names& before, const Names& now, Names added) {
    if (now.size() != before.size() + added.size())
        return false;
    std::size_t k = 0;
    Names extra;
    for (const std::string& s : now) {
        if (k < before.size() && s == before[k])
            ++k;
        else
            extra.push_back(s);
    }
    if (k != before.size())
        return false;
    std::sort(extra.begin(), extra.end());
    std::sort(added.begin(), added.end());
    return extra == added;
}

// --- The driver ---------------------------------------------------------------------------

struct RunSettings {
    unsigned seed;
    bool startSorted;
    int visibleRows;
    int steps;
};

std::ostream& operator<<(std::ostream& out, const RunSettings& s) {
    return out << "seed " << s.seed << (s.startSorted ? ", sorted" : ", unsorted") << ", rows " << s.visibleRows;
}

class Driver {
public:
    explicit Driver(const RunSettings& settings)
        : rng_(settings.seed), ref_(Collation::instance(), settings.visibleRows) {
        cat_.setVisibleRows(settings.visibleRows);
        cat_.setSorted(settings.startSorted);
        ref_.setSorted(settings.startSorted);
    }

    Catalogue& cat() { return cat_; }
    Reference& ref() { return ref_; }

    struct Stats {
        int steps = 0, resorts = 0, fastResortCandidates = 0, caseDuplicateSteps = 0, outOfOrderSteps = 0;
        int adds = 0, deletes = 0, renames = 0, batches = 0, listErrors = 0, looseInserts = 0;
        int relocates = 0, undos = 0, redos = 0, exactDisplays = 0, deletesRestored = 0;
    } stats;

    // Every list, the selection, the bookmark, the top index and the count.
    void compareAll() {
        ASSERT_EQ(cat_.displayCount(), int(ref_.display.size())) << history();
        ASSERT_EQ(displayNames(cat_), ref_.display) << history();
        ASSERT_EQ(storageNames(cat_), ref_.storage) << history();
        ASSERT_EQ(storageLocations(cat_), ref_.locations) << history();
        ASSERT_EQ(cat_.selection(), ref_.selection) << history();
        ASSERT_EQ(cat_.bookmark(), ref_.bookmark) << history();
        ASSERT_EQ(cat_.recordCount(), ref_.count) << history();
        ASSERT_EQ(cat_.sorted(), ref_.sorted) << history();
        ASSERT_EQ(cat_.topIndex(), ref_.top) << history();
        // A few display entries reach their locations through their names.
        for (int k = 0; k < 3 && !ref_.display.empty(); ++k) {
            const int i = pick(int(ref_.display.size()));
            ASSERT_EQ(cat_.locationOfDisplay(i).str(), ref_.locationOfDisplay(i)) << "display " << i << history();
        }
    }

    void step() {
        ++stats.steps;
        noteState();
        const int n = int(ref_.display.size());
        // Keep the lists small enough for the reference, yet never empty for
        // long.
        const int grow = n < 8 ? 30 : n > 90 ? 2 : 10;
        const int shrink = n > 90 ? 30 : 12;
        // Undo and redo compare whole lists: left to the small lists, so that
        // the large batches' run stays what it was.
        const int history = n > 1000 ? 0 : 1;
        const int weights[] = {grow, grow, shrink, 16, 4, 6, 3, 4, 10, 6, 3, 2, n > 60 ? 1 : 0,
                               5 * history, 14 * history, 7 * history};
        std::discrete_distribution<int> choose(std::begin(weights), std::end(weights));
        bool deferCompare = false;
        switch (choose(rng_)) {
        case 0: deferCompare = loadBatch(); break;
        case 1: add(); break;
        case 2: remove(); break;
        case 3: rename(); break;
        case 4: switchRaw(); break;
        case 5: zoraditClick(); break;
        case 6: showStorageOrder(); break;
        case 7: resort(); break;
        case 8: find(); break;
        case 9: select(); break;
        case 10: scroll(); break;
        case 11: bookmark(); break;
        case 12: clear(); break;
        case 13: relocate(); break;
        case 14: undo(); break;
        case 15: redo(); break;
        }
        if (!deferCompare)
            compareAll();
    }

    // Takes back every edit since the last load: the storage lists, and so
    // the file a save writes, are what they were.
    void undoAll() {
        while (!undoStack_.empty() && !::testing::Test::HasFatalFailure())
            undo();
        EXPECT_FALSE(history_.canUndo());
    }

private:
    std::mt19937 rng_;
    Catalogue cat_;
    Reference ref_;
    // Edits go through the history, as the window makes them; the lists
    // before each edit are kept to check what an undo gives back.
    EditHistory history_{cat_};
    struct Snapshot {
        Names storage, locations, display;
        std::int32_t count;
        bool arranged = false;    // the display list was rearranged since
        EditHistory::Kind kind;
    };
    std::vector<Snapshot> undoStack_, redoStack_;
    Snapshot snapshot(EditHistory::Kind kind) const {
        return {ref_.storage, ref_.locations, ref_.display, ref_.count, false, kind};
    }
    void edited(Snapshot before) {
        undoStack_.push_back(std::move(before));
        redoStack_.clear();
    }
    void rearranged() {
        for (auto* stack : {&undoStack_, &redoStack_})
            for (Snapshot& s : *stack)
                s.arranged = true;
    }
    void historyGone() {
        history_.clear();
        undoStack_.clear();
        redoStack_.clear();
    }
    std::deque<std::string> log_;
    int nextLocation_ = 0;

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }

    // Logged in UTF-8, so that a failure reads as the window would show it.
    void note(const std::string& what) {
        log_.push_back(windows1250ToUtf8(what));
        if (log_.size() > 16)
            log_.pop_front();
    }
    std::string history() const {
        std::ostringstream out;
        out << "\nlast steps:";
        for (const auto& s : log_)
            out << "\n  " << s;
        out << "\nreference display:";
        for (const auto& s : ref_.display)
            out << " [" << windows1250ToUtf8(s) << "]";
        return out.str();
    }

    void noteState() {
        if (ref_.display.size() > 200)
            return;   // only the small lists of the long runs are counted
        if (ref_.sorted && !ref_.inOrder())
            ++stats.outOfOrderSteps;
        for (std::size_t i = 0; i < ref_.display.size(); ++i)
            for (std::size_t k = i + 1; k < ref_.display.size(); ++k)
                if (ref_.display[i] != ref_.display[k] && ref_.coll.equal(ref_.display[i], ref_.display[k])) {
                    ++stats.caseDuplicateSteps;
                    return;
                }
    }

    // Small alphabets, so that equal names, names equal but for case and
    // names equal but for accents all come up often. "ch" sorts after "h".
    std::string randomName() {
        static const char* pieces[] = {"a", "A", "b", "B", "c", "C", "ch", "Ch", "CH", "h",
                                       "H", "\xE8", "\xC8", "\xE1", "\xC1", " "};
        if (chance(0.01))
            return "";
        if (chance(0.02))
            return std::string(35, 'x') + char('a' + pick(3));  // longer than a record
        const int length = chance(0.3) ? 1 : chance(0.7) ? 2 : 3;
        std::string name;
        for (int k = 0; k < length; ++k)
            name += pieces[pick(int(std::size(pieces)))];
        return name;
    }
    std::string randomLocation() {
        if (chance(0.03))
            return "";
        if (chance(0.02))
            return std::string(40, 'L');
        return test::numbered("L", nextLocation_++);
    }
    std::string flipCase(std::string name) {
        for (char& ch : name) {
            if (!chance(0.5))
                continue;
            const unsigned char u = static_cast<unsigned char>(ch);
            if (u >= 'a' && u <= 'z')
                ch = char(u - 32);
            else if (u >= 'A' && u <= 'Z')
                ch = char(u + 32);
            else if (u == 0xE8 || u == 0xE1)
                ch = char(u - 32);
            else if (u == 0xC8 || u == 0xC1)
                ch = char(u + 32);
        }
        return name;
    }
    // A name for a find: most often one that is listed, in another case.
    std::string probeName() {
        if (!ref_.display.empty() && chance(0.7)) {
            const Names& from = chance(0.5) ? ref_.display : ref_.storage;
            return flipCase(from[std::size_t(pick(int(from.size())))]);
        }
        return Reference::cut(randomName());
    }

    // Runs one operation on both and expects the same list error, or none.
    template <typename OnCatalogue, typename OnReference>
    void both(const OnCatalogue& onCatalogue, const OnReference& onReference) {
        std::string catError, refError;
        try {
            onCatalogue();
        } catch (const ListError& e) {
            catError = e.what();
        }
        try {
            onReference();
        } catch (const ListError& e) {
            refError = e.what();
        }
        if (!refError.empty())
            ++stats.listErrors;
        ASSERT_EQ(catError, refError) << history();
    }

    // Loading: a batch of appends with nothing in between. Sometimes the
    // next operation, not a comparison, is what sees the batch first.
    bool loadBatch() {
        ++stats.batches;
        const int k = chance(0.05) ? pick(40) : 1 + pick(8);
        note(test::numbered("load ", k));
        historyGone();   // the window loads only before any edit
        Names names, places;
        for (int b = 0; b < k; ++b) {
            names.push_back(randomName());
            places.push_back(randomLocation());
            cat_.appendLoaded(names.back(), places.back());
        }
        if (!ref_.sorted || ref_.inOrder()) {
            for (int b = 0; b < k; ++b)
                ref_.appendLoaded(names[std::size_t(b)], places[std::size_t(b)]);
            return chance(0.5);
        }
        // Where a sorted list that is out of order files a new name is the
        // list's own business; the window never loads into one. What holds
        // all the same: every name is filed once, the rest keep their order
        // and the selected entry stays selected.
        ++stats.looseInserts;
        const Names before = ref_.display;
        const int selected = ref_.selection;
        for (int b = 0; b < k; ++b) {
            ref_.storage.push_back(Reference::cut(names[std::size_t(b)]));
            ref_.locations.push_back(Reference::cut(places[std::size_t(b)]));
            ++ref_.count;
        }
        Names added;
        for (const auto& name : names)
            added.push_back(Reference::cut(name));
        const Names now = displayNames(cat_);
        EXPECT_TRUE(isWithInsertions(before, now, added)) << history();
        if (selected >= 0) {
            EXPECT_GE(cat_.selection(), selected) << history();
            EXPECT_LE(cat_.selection(), selected + k) << history();
            if (cat_.selection() >= 0) {
                EXPECT_EQ(now[std::size_t(cat_.selection())], before[std::size_t(selected)]) << history();
            }
        } else {
            EXPECT_EQ(cat_.selection(), -1) << history();
        }
        ref_.display = now;
        ref_.selection = cat_.selection();
        return false;
    }

    // The window adds only a name that is not listed yet.
    void add() {
        const std::string name = chance(0.8) ? randomName() : probeName();
        const std::string location = randomLocation();
        const std::string stored = Reference::cut(name);
        note("add [" + name + "] at [" + location + "]");
        const int listed = ref_.find(ref_.display, stored);
        ASSERT_EQ(cat_.findInDisplay(stored), listed) << history();
        if (listed >= 0)
            return;
        ++stats.adds;
        const bool exact = !ref_.sorted || ref_.inOrder();
        const Names before = ref_.display;
        edited(snapshot(EditHistory::Kind::Add));
        history_.add(name, location);
        ref_.storage.push_back(stored);
        ref_.locations.push_back(Reference::cut(location));
        ++ref_.count;
        if (!ref_.sorted) {
            ref_.display.push_back(stored);
        } else if (exact) {
            ref_.insertIntoDisplay(ref_.sortedPlace(stored), stored);
        } else {
            ++stats.looseInserts;
            const Names now = displayNames(cat_);
            ASSERT_TRUE(isWithInsertions(before, now, {stored})) << history();
            ref_.display = now;
        }
        ref_.setSelection(ref_.find(ref_.display, stored));
    }

    // As the Delete key does it: delete, then select the entry that took
    // the deleted one's place.
    void remove() {
        const int n = int(ref_.display.size());
        int i = ref_.selection >= 0 && chance(0.7) ? ref_.selection : n > 0 ? pick(n) : 0;
        if (chance(0.03))
            i = chance(0.5) ? -1 : n;
        note(test::numbered("delete ", i));
        Snapshot before = snapshot(EditHistory::Kind::Delete);
        both([&] { history_.deleteAtDisplay(i); }, [&] { ref_.deleteAtDisplay(i); });
        if (ref_.count != before.count)
            edited(std::move(before));
        if (::testing::Test::HasFatalFailure() || !chance(0.8))
            return;
        ++stats.deletes;
        const int next = i == int(ref_.display.size()) ? i - 1 : i;
        cat_.setSelection(next);
        ref_.setSelection(next);
    }

    // As Enter in the name edit does it: rename the selected record, select
    // it by its new name, and in sorted mode put it in its place.
    void rename() {
        const int n = int(ref_.display.size());
        int i = ref_.selection >= 0 && chance(0.8) ? ref_.selection : n > 0 ? pick(n) : -1;
        if (chance(0.02))
            i = n;
        const std::string name = chance(0.7) ? randomName() : probeName();
        const std::string stored = Reference::cut(name);
        note(test::numbered("rename ", i) + " to [" + name + "]");
        const int listed = ref_.find(ref_.display, stored);
        ASSERT_EQ(cat_.findInDisplay(stored), listed) << history();
        if (listed >= 0)
            return;
        ++stats.renames;
        Snapshot before = snapshot(EditHistory::Kind::Rename);
        both([&] { history_.renameAtDisplay(i, name); }, [&] { ref_.renameAtDisplay(i, name); });
        if (i >= 0 && i < n)
            edited(std::move(before));
        if (::testing::Test::HasFatalFailure() || i < 0 || i >= n || !chance(0.85))
            return;
        cat_.setSelection(cat_.findInDisplay(stored));
        ref_.setSelection(ref_.find(ref_.display, stored));
        if (ref_.sorted && chance(0.75)) {
            note("  re-sort");
            ++stats.resorts;
            rearranged();
            if (ref_.selection == i)
                ++stats.fastResortCandidates;
            both([&] { cat_.resortAfterRename(); }, [&] { ref_.resortAfterRename(); });
        }
    }

    void switchRaw() {
        const bool on = chance(0.5);
        note(std::string("sort mode ") + (on ? "on" : "off"));
        rearranged();
        cat_.setSorted(on);
        ref_.setSorted(on);
    }

    // The sort check box, step by step as the window takes it.
    void zoraditClick() {
        const bool on = !ref_.sorted || chance(0.1);
        note(std::string("check box ") + (on ? "on" : "off"));
        rearranged();
        auto onCatalogue = [&] {
            if (cat_.displayCount() > 0) {
                if (on) {
                    cat_.setBookmark(cat_.selection());
                    cat_.setSorted(true);
                    cat_.setSelection(cat_.findInDisplay(cat_.storageName(cat_.bookmark()).view()));
                } else {
                    cat_.setBookmark(cat_.findInStorage(cat_.displayAt(cat_.selection()).view()));
                    cat_.setSorted(false);
                    cat_.showStorageOrder();
                    cat_.setSelection(cat_.findInDisplay(cat_.storageName(cat_.bookmark()).view()));
                }
            }
            cat_.setSorted(on);
        };
        auto onReference = [&] {
            if (!ref_.display.empty()) {
                if (on) {
                    ref_.setBookmark(ref_.selection);
                    ref_.setSorted(true);
                    ref_.setSelection(ref_.find(ref_.display, ref_.storageAt(ref_.bookmark)));
                } else {
                    ref_.setBookmark(ref_.find(ref_.storage, ref_.displayAt(ref_.selection)));
                    ref_.setSorted(false);
                    ref_.showStorageOrder();
                    ref_.setSelection(ref_.find(ref_.display, ref_.storageAt(ref_.bookmark)));
                }
            }
            ref_.setSorted(on);
        };
        both(onCatalogue, onReference);
    }

    void showStorageOrder() {
        note("show storage order");
        rearranged();
        cat_.showStorageOrder();
        ref_.showStorageOrder();
    }

    void resort() {
        note("re-sort");
        ++stats.resorts;
        rearranged();
        both([&] { cat_.resortAfterRename(); }, [&] { ref_.resortAfterRename(); });
    }

    void find() {
        const std::string name = probeName();
        note("find [" + name + "]");
        ASSERT_EQ(cat_.findInDisplay(name), ref_.find(ref_.display, name)) << history();
        ASSERT_EQ(cat_.findInStorage(name), ref_.find(ref_.storage, name)) << history();
    }

    void select() {
        const int i = pick(int(ref_.display.size()) + 3) - 1;
        note(test::numbered("select ", i));
        cat_.setSelection(i);
        ref_.setSelection(i);
    }

    void scroll() {
        const int i = pick(int(ref_.display.size()) + 6) - 3;
        note(test::numbered("top ", i));
        cat_.setTopIndex(i);
        ref_.setTopIndex(i);
    }

    void bookmark() {
        const int j = pick(int(ref_.storage.size()) + 2) - 1;
        note(test::numbered("bookmark ", j));
        cat_.setBookmark(j);
        ref_.setBookmark(j);
    }

    void clear() {
        note("clear");
        historyGone();
        cat_.clear();
        cat_.setRecordCount(0);
        ref_.clear();
        ref_.count = 0;
    }

    void relocate() {
        const int n = int(ref_.display.size());
        if (n == 0)
            return;
        const int i = ref_.selection >= 0 ? ref_.selection : pick(n);
        const std::string location = randomLocation();
        note(test::numbered("relocate ", i) + " to [" + location + "]");
        ++stats.relocates;
        edited(snapshot(EditHistory::Kind::Relocate));
        history_.relocateAtDisplay(i, location);
        ref_.locations[std::size_t(ref_.find(ref_.storage, ref_.display[std::size_t(i)]))] = Reference::cut(location);
    }

    // An undo or a redo: the storage lists exactly as the snapshot has them,
    // the display list too while nothing rearranged it, else the same names.
    // Selection, top index and bookmark are the window's business here.
    void travel(bool back) {
        auto& from = back ? undoStack_ : redoStack_;
        auto& to = back ? redoStack_ : undoStack_;
        note(back ? "undo" : "redo");
        if (from.empty()) {
            ASSERT_FALSE(back ? history_.canUndo() : history_.canRedo()) << history();
            const EditHistory::Step none = back ? history_.undo() : history_.redo();
            ASSERT_EQ(none.display, -1) << history();
            return;
        }
        Snapshot target = std::move(from.back());
        from.pop_back();
        Snapshot current = snapshot(target.kind);
        EditHistory::Step step;
        try {
            step = back ? history_.undo() : history_.redo();
        } catch (const ListError& e) {
            FAIL() << (back ? "undo: " : "redo: ") << e.what() << history();
        }
        ASSERT_EQ(step.kind, target.kind) << history();
        ASSERT_EQ(storageNames(cat_), target.storage) << history();
        ASSERT_EQ(storageLocations(cat_), target.locations) << history();
        ASSERT_EQ(cat_.recordCount(), target.count) << history();
        if (step.kind == EditHistory::Kind::Rename && cat_.sorted()) {
            // As the window does after a rename, taken back or done again.
            cat_.setSelection(step.display);
            cat_.resortAfterRename();
        }
        Names now = displayNames(cat_);
        if (!target.arranged && step.kind != EditHistory::Kind::Rename) {
            ASSERT_EQ(now, target.display) << history();
            ++stats.exactDisplays;
            if (back && step.kind == EditHistory::Kind::Delete)
                ++stats.deletesRestored;
        } else {
            // Rearranged since (a copy of the storage order may have changed
            // the spellings of names listed twice): one entry per record.
            ASSERT_EQ(now.size(), target.display.size()) << history();
            for (const std::string& name : now)
                ASSERT_GE(ref_.find(target.storage, name), 0) << history();
        }
        if (!step.removed) {
            ASSERT_GE(step.display, 0) << history();
            ASSERT_LT(step.display, int(now.size())) << history();
        }
        current.arranged = target.arranged;
        to.push_back(std::move(current));
        ref_.storage = target.storage;
        ref_.locations = target.locations;
        ref_.count = target.count;
        ref_.display = now;
        ref_.selection = cat_.selection();
        ref_.top = cat_.topIndex();
        ref_.bookmark = cat_.bookmark();
        ++(back ? stats.undos : stats.redos);
    }
    void undo() { travel(true); }
    void redo() { travel(false); }
};

class ReferenceCheck : public ::testing::TestWithParam<RunSettings> {};

TEST_P(ReferenceCheck, AgreesAfterEveryStep) {
    Driver d(GetParam());
    d.compareAll();
    for (int s = 0; s < GetParam().steps && !HasFailure(); ++s)
        d.step();
    d.compareAll();
    d.undoAll();
    d.compareAll();

    // The run went where it should: the cases the shortcuts must get right
    // all came up many times.
    const auto& st = d.stats;
    std::cout << "steps " << st.steps << ", adds " << st.adds << ", deletes " << st.deletes << ", renames "
              << st.renames << ", batches " << st.batches << ", re-sorts " << st.resorts << " ("
              << st.fastResortCandidates << " of the selected record), steps with names equal but for case "
              << st.caseDuplicateSteps << ", out of order " << st.outOfOrderSteps << ", loose inserts "
              << st.looseInserts << ", list errors " << st.listErrors << "\n";
    EXPECT_GT(st.adds, 120);
    EXPECT_GT(st.deletes, 200);
    EXPECT_GT(st.renames, 150);
    EXPECT_GT(st.batches, 200);
    EXPECT_GT(st.resorts, 150);
    EXPECT_GT(st.fastResortCandidates, 50);
    EXPECT_GT(st.caseDuplicateSteps, 1000);
    EXPECT_GT(st.outOfOrderSteps, 80);
    EXPECT_GT(st.looseInserts, 10);
    EXPECT_GT(st.listErrors, 30);
    std::cout << "relocates " << st.relocates << ", undos " << st.undos << ", redos " << st.redos
              << ", exact display lists after them " << st.exactDisplays << ", deletes taken back "
              << st.deletesRestored << "\n";
    EXPECT_GT(st.relocates, 50);
    EXPECT_GT(st.undos, 200);
    EXPECT_GT(st.redos, 30);
    EXPECT_GT(st.exactDisplays, 100);
    EXPECT_GT(st.deletesRestored, 30);
}

INSTANTIATE_TEST_SUITE_P(Runs, ReferenceCheck,
                         ::testing::Values(RunSettings{20240611u, false, 5, 5000}, RunSettings{20240612u, true, 5, 5000},
                                           RunSettings{7u, true, 1, 5000}, RunSettings{8u, false, 18, 5000},
                                           RunSettings{1250u, true, 3, 5000}, RunSettings{31u, false, 2, 5000}),
                         [](const ::testing::TestParamInfo<RunSettings>& info) {
                             return test::numbered("Seed", info.param.seed) +
                                    (info.param.startSorted ? "Sorted" : "Unsorted");
                         });

// Whole catalogues loaded at once take the parallel sort-key path; the
// result must be the one-by-one result, and the indexes built from it must
// serve the operations that follow.
TEST(ReferenceCheckLarge, BigBatchesAgreeAndTheOperationsAfterThemToo) {
    for (bool sorted : {true, false}) {
        SCOPED_TRACE(sorted ? "sorted" : "unsorted");
        Driver d(RunSettings{99u + unsigned(sorted), sorted, 18, 0});
        std::mt19937 rng(4242 + unsigned(sorted));
        // Names alike but for case, and names alike under the Slovak order
        // alone (no-break space and space, "…" and "...", an ignored NUL).
        const std::string pieces[] = {"a", "A", "\xE1", "b", "ch", "CH", "h", "\xE8", "\xC8", "z", "0", " ",
                                      "\xA0", "\x85", "...", std::string(1, '\0')};
        auto name = [&] {
            std::string n;
            const int length = 2 + int(rng() % 5);
            for (int k = 0; k < length; ++k)
                n += pieces[rng() % std::size(pieces)];
            return n;
        };
        for (int batch : {6000, 5000}) {
            for (int k = 0; k < batch; ++k) {
                const std::string n = name(), l = test::numbered("L", k);
                d.cat().appendLoaded(n, l);
                d.ref().appendLoaded(n, l);
            }
            d.compareAll();
            ASSERT_FALSE(HasFailure());
        }
        for (int s = 0; s < 80 && !HasFailure(); ++s)
            d.step();
    }
}

}  // namespace
}  // namespace vrindel
