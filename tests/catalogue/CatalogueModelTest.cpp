// The catalogue model: three lists kept in step, a count kept apart, and
// the operations the window changes them through.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>

#include "records/Catalogue.h"
#include "search/SearchIndex.h"
#include "search/TextSearch.h"
#include "TestSupport.h"

namespace vrindel {
namespace {

using test::cp;
using test::displayNames;
using test::listErrorOf;
using test::storageLocations;
using test::storageNames;
using Names = std::vector<std::string>;

void load(Catalogue& c, const std::vector<std::pair<std::string, std::string>>& records) {
    for (const auto& [name, location] : records)
        c.appendLoaded(name, location);
}

// The lists agree with one another: one location per stored name, one
// display entry per stored name, matching names as a multiset, and the
// count equal to the records.
void expectAligned(const Catalogue& c) {
    EXPECT_EQ(c.storageCount(), c.displayCount());
    EXPECT_EQ(int(storageLocations(c).size()), c.storageCount());
    EXPECT_EQ(c.recordCount(), c.storageCount());
    for (int i = 0; i < c.displayCount(); ++i)
        EXPECT_GE(c.findInStorage(c.displayAt(i).view()), 0) << "display entry " << i << " has no stored record";
}

// --- Reading outside a list ----------------------------------------------------

TEST(CatalogueListError, NamesTheIndexOutsideEachList) {
    Catalogue c;
    EXPECT_EQ(listErrorOf([&] { c.displayAt(0); }), "List index out of bounds (0)");
    EXPECT_EQ(listErrorOf([&] { c.displayAt(-1); }), "List index out of bounds (-1)");
    EXPECT_EQ(listErrorOf([&] { c.storageName(0); }), "List index out of bounds (0)");
    EXPECT_EQ(listErrorOf([&] { c.locationOfDisplay(0); }), "List index out of bounds (0)");

    load(c, {{"a", "1"}, {"b", "2"}, {"c", "3"}});
    EXPECT_EQ(listErrorOf([&] { c.displayAt(3); }), "List index out of bounds (3)");
    EXPECT_EQ(listErrorOf([&] { c.displayAt(-1); }), "List index out of bounds (-1)");
    EXPECT_EQ(listErrorOf([&] { c.storageName(-1); }), "List index out of bounds (-1)");
    EXPECT_EQ(listErrorOf([&] { c.storageName(3); }), "List index out of bounds (3)");
    EXPECT_EQ(listErrorOf([&] { c.storageLocation(-7); }), "List index out of bounds (-7)");
    EXPECT_EQ(listErrorOf([&] { c.storageLocation(INT_MAX); }), "List index out of bounds (2147483647)");
    EXPECT_EQ(listErrorOf([&] { c.locationOfDisplay(-1); }), "List index out of bounds (-1)");
    EXPECT_EQ(listErrorOf([&] { c.deleteAtDisplay(-1); }), "List index out of bounds (-1)");
    EXPECT_EQ(listErrorOf([&] { c.renameAtDisplay(3, "x"); }), "List index out of bounds (3)");
    EXPECT_EQ(listErrorOf([&] { c.displayAt(2); }), "") << "inside the list nothing is raised";

    // A failed read changes nothing.
    EXPECT_EQ(displayNames(c), (Names{"a", "b", "c"}));
    EXPECT_EQ(storageLocations(c), (Names{"1", "2", "3"}));
    EXPECT_EQ(c.recordCount(), 3);
}

TEST(CatalogueListError, IsWhatAnEmptyRenameOrResortRaises) {
    Catalogue c;
    c.setSorted(true);
    load(c, {{"b", "1"}, {"a", "2"}});
    ASSERT_EQ(c.selection(), -1);
    EXPECT_EQ(listErrorOf([&] { c.resortAfterRename(); }), "List index out of bounds (-1)");
}

// --- Loading ------------------------------------------------------------------------

TEST(CatalogueLoading, UnsortedKeepsFileOrderInAllThreeLists) {
    Catalogue c;
    load(c, {{"Cyril", "CD 3"}, {"adam", "CD 1"}, {"Bohus", "CD 2"}});
    EXPECT_EQ(storageNames(c), (Names{"Cyril", "adam", "Bohus"}));
    EXPECT_EQ(storageLocations(c), (Names{"CD 3", "CD 1", "CD 2"}));
    EXPECT_EQ(displayNames(c), (Names{"Cyril", "adam", "Bohus"}));
    EXPECT_EQ(c.recordCount(), 3);
    EXPECT_EQ(c.selection(), -1);
    expectAligned(c);
}

TEST(CatalogueLoading, SortedPutsNamesInOrderAndEqualNamesInFileOrder) {
    Catalogue c;
    c.setSorted(true);
    load(c, {{"chata", "1"}, {"Hrad", "2"}, {"ABC", "3"}, {cp("čaj"), "4"}, {"abc", "5"}, {"caj", "6"},
             {"Abc", "7"}, {"ihla", "8"}});
    EXPECT_EQ(displayNames(c), (Names{"ABC", "abc", "Abc", "caj", cp("čaj"), "Hrad", "chata", "ihla"}));
    EXPECT_EQ(storageNames(c), (Names{"chata", "Hrad", "ABC", cp("čaj"), "abc", "caj", "Abc", "ihla"}));
    EXPECT_EQ(storageLocations(c), (Names{"1", "2", "3", "4", "5", "6", "7", "8"}));
    expectAligned(c);
}

TEST(CatalogueLoading, LaterBatchesMergeAfterTheirEquals) {
    Catalogue c;
    c.setSorted(true);
    load(c, {{"b", "1"}, {"d", "2"}});
    ASSERT_EQ(c.displayCount(), 2);  // the first batch is settled here
    load(c, {{"B", "3"}, {"a", "4"}, {"e", "5"}, {"c", "6"}});
    EXPECT_EQ(displayNames(c), (Names{"a", "b", "B", "c", "d", "e"}));
    EXPECT_EQ(storageNames(c), (Names{"b", "d", "B", "a", "e", "c"}));
    EXPECT_EQ(c.findInStorage("c"), 5);
    expectAligned(c);
}

TEST(CatalogueLoading, TextsAreCutTo31) {
    Catalogue c;
    c.appendLoaded(std::string(40, 'n'), std::string(35, 'l'));
    EXPECT_EQ(c.displayAt(0).str(), std::string(31, 'n'));
    EXPECT_EQ(c.storageName(0).str(), std::string(31, 'n'));
    EXPECT_EQ(c.storageLocation(0).str(), std::string(31, 'l'));
}

TEST(CatalogueLoading, AThousandsOfNamesBatchSortsAsOneByOne) {
    // Large batches take a faster path at load; the order must not change.
    Catalogue c;
    c.setSorted(true);
    Names names;
    const char* letters[] = {"a", "A", "b", "c", "C", "ch", "h", "H", "\xE8", "\xC8", "\xE1", "z"};
    for (int k = 0; k < 6000; ++k) {
        std::string n = std::string(letters[(k * 7) % 12]) + letters[(k * 13 / 5) % 12];
        if (k % 3 == 0)
            n += letters[(k / 3) % 12];
        names.push_back(n);
        c.appendLoaded(n, std::to_string(k));
    }
    Names expected = names;
    std::stable_sort(expected.begin(), expected.end(), [](const std::string& a, const std::string& b) {
        return Collation::instance().compare(a, b) < 0;
    });
    EXPECT_EQ(displayNames(c), expected);
    EXPECT_EQ(storageNames(c), names);
    // First matches reach the first in storage order.
    for (const std::string& probe : {std::string("aA"), std::string("chch"), std::string("\xE8h"), std::string("zz")}) {
        auto first = std::find_if(names.begin(), names.end(),
                                  [&](const std::string& n) { return Collation::instance().equal(n, probe); });
        int expectedIndex = first == names.end() ? -1 : int(first - names.begin());
        EXPECT_EQ(c.findInStorage(probe), expectedIndex) << probe;
    }
}

// Start-up's order worked out off the window's thread: until it is there,
// the first rows, their locations, the count and the selection are answered
// from the few names that come first, and they must be the answers a
// finished load gives, equal names (here many, in case only) included.
TEST(CatalogueLoading, OrderedInTheBackgroundAnswersAsOrderedAtOnce) {
    // The first two records equal but for case ("aaa", "Aaa"): the second's
    // location is the first's, in storage order as in name order.
    Names names;
    const char* letters[] = {"a", "A", "b", "ch", "C", "h", "\xE8", "\xC8", "\xE1", "z"};
    for (int k = 0; k < 60000; ++k)
        names.push_back(std::string(letters[k % 10]) + letters[(k / 10) % 10] + letters[(k / 100) % 10] +
                        (k % 7 != 3 ? "" : letters[(k / 1000) % 10]));
    for (bool sorted : {true, false}) {
        SCOPED_TRACE(sorted ? "sorted" : "unsorted");
        Catalogue early, whole;
        for (Catalogue* c : {&early, &whole}) {
            c->setSorted(sorted);
            for (std::size_t k = 0; k < names.size(); ++k)
                c->appendLoaded(names[k], std::to_string(k));
        }
        early.orderInBackground();
        // Moved while the order is worked out: the move keeps what it reads.
        Catalogue moved(std::move(early));
        EXPECT_EQ(moved.displayCount(), whole.displayCount());
        moved.setSelection(0);
        whole.setSelection(0);
        EXPECT_EQ(moved.selection(), 0);
        for (int i = 0; i < int(Catalogue::EarlyRows); ++i) {
            ASSERT_EQ(moved.displayAt(i).str(), whole.displayAt(i).str()) << i;
            ASSERT_EQ(moved.locationOfDisplay(i).str(), whole.locationOfDisplay(i).str()) << i;
        }
        // Past the early rows, and any change, wait for the order.
        moved.deleteAtDisplay(3);
        whole.deleteAtDisplay(3);
        moved.add("aaa", "new");
        whole.add("aaa", "new");
        EXPECT_EQ(displayNames(moved), displayNames(whole));
        EXPECT_EQ(storageNames(moved), storageNames(whole));
        EXPECT_EQ(moved.findInStorage("ACH"), whole.findInStorage("ACH"));
    }
}

// --- Finding --------------------------------------------------------------------------

TEST(CatalogueFind, ReturnsTheFirstMatchFromTheTopInBothModes) {
    for (bool sorted : {false, true}) {
        SCOPED_TRACE(sorted ? "sorted" : "unsorted");
        Catalogue c;
        c.setSorted(sorted);
        load(c, {{"zeta", "1"}, {"Beta", "2"}, {"alfa", "3"}, {"BETA", "4"}, {"beta", "5"}});
        const Names shown = displayNames(c);
        const int firstBeta = int(std::find_if(shown.begin(), shown.end(),
                                               [](const std::string& n) { return Collation::instance().equal(n, "beta"); }) -
                                  shown.begin());
        EXPECT_EQ(c.findInDisplay("bEtA"), firstBeta);
        EXPECT_EQ(c.findInStorage("bEtA"), 1);
        EXPECT_EQ(c.findInDisplay("ZETA"), sorted ? 4 : 0);
        EXPECT_EQ(c.findInStorage("ALFA"), 2);
        EXPECT_EQ(c.findInDisplay("bet"), -1) << "a beginning is no match";
        EXPECT_EQ(c.findInDisplay("betas"), -1);
        EXPECT_EQ(c.findInDisplay(cp("béta")), -1) << "accents count";
        EXPECT_EQ(c.findInStorage("gama"), -1);
        EXPECT_EQ(c.findInDisplay(""), -1);
    }
}

TEST(CatalogueFind, FindsAnEmptyName) {
    Catalogue c;
    load(c, {{"a", "1"}, {"", "2"}});
    EXPECT_EQ(c.findInDisplay(""), 1);
    EXPECT_EQ(c.locationOfDisplay(1).str(), "2");
}

// --- Location of a display entry ----------------------------------------------------

TEST(CatalogueLocation, GoesByNameToTheStorageList) {
    Catalogue c;
    c.setSorted(true);
    load(c, {{"cyan", "CD 3"}, {"amber", "CD 1"}, {"blue", "CD 2"}});
    EXPECT_EQ(displayNames(c), (Names{"amber", "blue", "cyan"}));
    EXPECT_EQ(c.locationOfDisplay(0).str(), "CD 1");
    EXPECT_EQ(c.locationOfDisplay(1).str(), "CD 2");
    EXPECT_EQ(c.locationOfDisplay(2).str(), "CD 3");
}

// --- Adding ------------------------------------------------------------------------------

TEST(CatalogueAdd, UnsortedGoesLastAndIsSelected) {
    Catalogue c;
    load(c, {{"c", "3"}, {"a", "1"}});
    c.setSelection(0);
    c.add("b", "2");
    EXPECT_EQ(displayNames(c), (Names{"c", "a", "b"}));
    EXPECT_EQ(storageNames(c), (Names{"c", "a", "b"}));
    EXPECT_EQ(storageLocations(c), (Names{"3", "1", "2"}));
    EXPECT_EQ(c.selection(), 2);
    EXPECT_EQ(c.recordCount(), 3);
    expectAligned(c);
}

TEST(CatalogueAdd, SortedGoesToItsPlaceAndIsSelectedButIsStoredLast) {
    Catalogue c;
    c.setSorted(true);
    load(c, {{"delta", "4"}, {"alfa", "1"}, {"echo", "5"}});
    c.setSelection(2);
    c.add("Charlie", "3");
    c.add("bravo", "2");
    // Slovak order: "ch" comes after "h".
    EXPECT_EQ(displayNames(c), (Names{"alfa", "bravo", "delta", "echo", "Charlie"}));
    EXPECT_EQ(c.selection(), 1);
    EXPECT_EQ(storageNames(c), (Names{"delta", "alfa", "echo", "Charlie", "bravo"}));
    EXPECT_EQ(storageLocations(c), (Names{"4", "1", "5", "3", "2"}));
    EXPECT_EQ(c.locationOfDisplay(4).str(), "3");
    EXPECT_EQ(c.recordCount(), 5);
    expectAligned(c);

    // Switched off, the list keeps its entries; shown in storage order the
    // added records are last.
    c.setSorted(false);
    c.showStorageOrder();
    EXPECT_EQ(displayNames(c), (Names{"delta", "alfa", "echo", "Charlie", "bravo"}));
}

TEST(CatalogueAdd, RaisesTheCountFromWhereverItWasSet) {
    Catalogue c;
    c.setRecordCount(0);
    load(c, {{"a", "1"}});
    c.add("b", "2");
    EXPECT_EQ(c.recordCount(), 2);
    c.setRecordCount(-5);
    c.add("c", "3");
    EXPECT_EQ(c.recordCount(), -4) << "the count is kept apart from the lists";
    EXPECT_EQ(c.storageCount(), 3);
}

// --- Deleting ----------------------------------------------------------------------------

TEST(CatalogueDelete, LastMiddleAndOnly) {
    Catalogue c;
    load(c, {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}});

    c.deleteAtDisplay(3);  // the last
    EXPECT_EQ(displayNames(c), (Names{"a", "b", "c"}));
    EXPECT_EQ(storageLocations(c), (Names{"1", "2", "3"}));
    EXPECT_EQ(c.recordCount(), 3);

    c.deleteAtDisplay(1);  // one in the middle
    EXPECT_EQ(displayNames(c), (Names{"a", "c"}));
    EXPECT_EQ(storageNames(c), (Names{"a", "c"}));
    EXPECT_EQ(storageLocations(c), (Names{"1", "3"}));
    EXPECT_EQ(c.locationOfDisplay(1).str(), "3");
    EXPECT_EQ(c.recordCount(), 2);

    c.deleteAtDisplay(0);
    c.deleteAtDisplay(0);  // the only one
    EXPECT_EQ(c.displayCount(), 0);
    EXPECT_EQ(c.storageCount(), 0);
    EXPECT_TRUE(storageLocations(c).empty());
    EXPECT_EQ(c.recordCount(), 0);
    EXPECT_EQ(c.selection(), -1);
    EXPECT_EQ(c.findInDisplay("a"), -1);
}

TEST(CatalogueDelete, SortedReachesTheRecordThroughItsName) {
    Catalogue c;
    c.setSorted(true);
    load(c, {{"cyan", "3"}, {"amber", "1"}, {"blue", "2"}});
    c.deleteAtDisplay(0);  // amber, stored second
    EXPECT_EQ(displayNames(c), (Names{"blue", "cyan"}));
    EXPECT_EQ(storageNames(c), (Names{"cyan", "blue"}));
    EXPECT_EQ(storageLocations(c), (Names{"3", "2"}));
    expectAligned(c);
}

TEST(CatalogueDelete, KeepsTheSelectionAndBookmarkOnTheirEntries) {
    Catalogue c;
    load(c, {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}});
    c.setSelection(2);
    c.setBookmark(3);
    c.deleteAtDisplay(0);
    EXPECT_EQ(c.selection(), 1);
    EXPECT_EQ(c.bookmark(), 2);
    EXPECT_EQ(c.displayAt(c.selection()).str(), "c");
    c.deleteAtDisplay(1);  // the selected one
    EXPECT_EQ(c.selection(), -1);
    EXPECT_EQ(c.storageName(c.bookmark()).str(), "d");
}

// --- Renaming -----------------------------------------------------------------------------

TEST(CatalogueRename, ReplacesInPlaceAndKeepsTheLocation) {
    Catalogue c;
    load(c, {{"a", "1"}, {"b", "2"}, {"c", "3"}});
    c.renameAtDisplay(1, "x");
    EXPECT_EQ(displayNames(c), (Names{"a", "x", "c"}));
    EXPECT_EQ(storageNames(c), (Names{"a", "x", "c"}));
    EXPECT_EQ(storageLocations(c), (Names{"1", "2", "3"}));
    EXPECT_EQ(c.findInDisplay("B"), -1);
    EXPECT_EQ(c.findInDisplay("X"), 1);
    EXPECT_EQ(c.recordCount(), 3);
}

TEST(CatalogueRename, SortedIsNotMovedAndEveryNameIsStillFound) {
    Catalogue c;
    c.setSorted(true);
    load(c, {{"d", "4"}, {"b", "2"}, {"a", "1"}, {"c", "3"}, {"e", "5"}});
    c.setSelection(0);
    c.renameAtDisplay(0, "zz");
    EXPECT_EQ(displayNames(c), (Names{"zz", "b", "c", "d", "e"}));
    EXPECT_EQ(c.selection(), 0);
    EXPECT_EQ(storageNames(c), (Names{"d", "b", "zz", "c", "e"}));
    EXPECT_EQ(c.locationOfDisplay(0).str(), "1");
    for (const auto& [name, at] : std::vector<std::pair<std::string, int>>{
             {"ZZ", 0}, {"b", 1}, {"c", 2}, {"d", 3}, {"e", 4}, {"a", -1}})
        EXPECT_EQ(c.findInDisplay(name), at) << name;

    // A second rename elsewhere leaves two entries out of place.
    c.renameAtDisplay(4, "a");
    EXPECT_EQ(displayNames(c), (Names{"zz", "b", "c", "d", "a"}));
    for (const auto& [name, at] : std::vector<std::pair<std::string, int>>{
             {"zz", 0}, {"B", 1}, {"c", 2}, {"d", 3}, {"A", 4}, {"e", -1}})
        EXPECT_EQ(c.findInDisplay(name), at) << name;
}

TEST(CatalogueRename, ThenAddKeepsEveryLocation) {
    for (bool sorted : {false, true}) {
        SCOPED_TRACE(sorted ? "sorted" : "unsorted");
        Catalogue c;
        c.setSorted(sorted);
        load(c, {{"apple", "A1"}, {"berry", "B2"}, {"cherry", "C3"}});
        c.setSelection(c.findInDisplay("berry"));
        c.renameAtDisplay(c.selection(), "blueberry");
        if (sorted)
            c.resortAfterRename();
        c.add("date", "D4");
        expectAligned(c);
        EXPECT_EQ(storageNames(c), (Names{"apple", "blueberry", "cherry", "date"}));
        EXPECT_EQ(storageLocations(c), (Names{"A1", "B2", "C3", "D4"}));
        for (const auto& [name, location] : std::vector<std::pair<std::string, std::string>>{
                 {"apple", "A1"}, {"blueberry", "B2"}, {"cherry", "C3"}, {"date", "D4"}})
            EXPECT_EQ(c.locationOfDisplay(c.findInDisplay(name)).str(), location) << name;
    }
}

// --- Re-sorting after a rename ------------------------------------------------------

Names fullySorted(Names names) {
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return Collation::instance().compare(a, b) < 0;
    });
    return names;
}

TEST(CatalogueResort, GivesTheFullSortWithTheRenamedRecordSelected) {
    Catalogue c;
    c.setVisibleRows(4);
    c.setSorted(true);
    Names stored;
    for (int k = 0; k < 40; ++k) {
        stored.push_back(test::numbered("n", k * 37 % 41));
        c.appendLoaded(stored.back(), test::numbered("L", k));
    }
    const std::vector<std::pair<int, std::string>> renames = {
        {0, "zulu"}, {39, "a"}, {20, "n19x"}, {5, "n4"}, {10, "m"}, {38, "n00"}, {1, "zz"}, {39, "zzz"}};
    for (const auto& [at, name] : renames) {
        SCOPED_TRACE(name);
        ASSERT_EQ(c.findInDisplay(name), -1) << "a rename is only ever to a name not listed";
        c.setSelection(at);
        const std::string old = c.displayAt(at).str();
        const int j = c.findInStorage(old);
        const std::string location = c.storageLocation(j).str();
        c.renameAtDisplay(at, name);
        c.resortAfterRename();
        stored[std::size_t(j)] = name;
        EXPECT_EQ(displayNames(c), fullySorted(stored));
        EXPECT_EQ(storageNames(c), stored);
        EXPECT_EQ(c.displayAt(c.selection()).str(), name);
        EXPECT_EQ(c.locationOfDisplay(c.selection()).str(), location);
        EXPECT_EQ(c.bookmark(), j) << "the rebuild leaves the bookmark on the record's storage index";
        EXPECT_GE(c.selection(), c.topIndex());
        EXPECT_LT(c.selection(), c.topIndex() + 4) << "the selected row is in view";
    }
}

TEST(CatalogueResort, WithNamesEqualButForCaseKeepsStorageOrderAmongThem) {
    Catalogue c;
    c.setSorted(true);
    load(c, {{"Mix", "1"}, {"b", "2"}, {"MIX", "3"}, {"a", "4"}, {"mix", "5"}});
    c.setSelection(c.findInDisplay("b"));
    c.renameAtDisplay(c.selection(), "mIx");
    c.resortAfterRename();
    const Names stored = {"Mix", "mIx", "MIX", "a", "mix"};
    EXPECT_EQ(storageNames(c), stored);
    EXPECT_EQ(displayNames(c), fullySorted(stored));
    EXPECT_EQ(displayNames(c), (Names{"a", "Mix", "mIx", "MIX", "mix"}));
    // The record is looked up by name: the first of the equals is selected.
    EXPECT_EQ(c.selection(), 1);
}

TEST(CatalogueResort, RenameToTheSameSortedPlace) {
    Catalogue c;
    c.setSorted(true);
    load(c, {{"a", "1"}, {"c", "2"}, {"e", "3"}});
    c.setSelection(1);
    c.renameAtDisplay(1, "d");
    c.resortAfterRename();
    EXPECT_EQ(displayNames(c), (Names{"a", "d", "e"}));
    EXPECT_EQ(c.selection(), 1);
    EXPECT_EQ(c.bookmark(), 1);
}

// --- Sort mode ---------------------------------------------------------------------------

TEST(CatalogueSortMode, OnResortsStablyAndKeepsTheSelectionIndex) {
    Catalogue c;
    load(c, {{"C", "3"}, {"A", "1"}, {"B", "2"}});
    c.setSelection(0);
    c.setSorted(true);
    EXPECT_EQ(displayNames(c), (Names{"A", "B", "C"}));
    EXPECT_EQ(c.selection(), 0) << "the index is kept, not the name";
    EXPECT_TRUE(c.sorted());

    c.setSorted(false);
    EXPECT_EQ(displayNames(c), (Names{"A", "B", "C"})) << "off keeps the entries where they are";
    EXPECT_EQ(c.selection(), 0);
    EXPECT_FALSE(c.sorted());

    c.showStorageOrder();
    EXPECT_EQ(displayNames(c), (Names{"C", "A", "B"}));
    EXPECT_EQ(c.selection(), -1);
    EXPECT_EQ(storageNames(c), (Names{"C", "A", "B"})) << "storage order never changes";
}

TEST(CatalogueSortMode, EqualNamesKeepTheirDisplayOrder) {
    Catalogue c;
    load(c, {{"b", "1"}, {"A", "2"}, {"a", "3"}, {"B", "4"}});
    c.setSorted(true);
    EXPECT_EQ(displayNames(c), (Names{"A", "a", "b", "B"}));
    c.setSorted(true);  // no change when it already agrees
    EXPECT_EQ(displayNames(c), (Names{"A", "a", "b", "B"}));

    // Display order, not storage order, decides among equals.
    c.setSorted(false);
    c.renameAtDisplay(3, "c");  // B: reaches storage "b", the first match
    c.appendLoaded("B", "5");
    EXPECT_EQ(displayNames(c), (Names{"A", "a", "b", "c", "B"}));
    EXPECT_EQ(storageNames(c), (Names{"c", "A", "a", "B", "B"}));
    c.setSorted(true);
    EXPECT_EQ(displayNames(c), (Names{"A", "a", "b", "B", "c"}));
    EXPECT_NE(displayNames(c), fullySorted(storageNames(c)));
    expectAligned(c);
}

// A sorted list that is the storage name index (the two agree after a load)
// comes through adds, deletes, renames held in place, re-sorts and deletes
// taken back, and through a switch off and on after each: off keeps the
// entries where they are, on sorts them.
TEST(CatalogueSortMode, TheSortedListStaysRightThroughEditsAndASwitch) {
    struct Row {
        const char* what;
        std::function<void(Catalogue&)> edit;
        Names shown, off, on;
    };
    const Row rows[] = {
        {"add", [](Catalogue& c) { c.add("bb", "5"); }, {"a", "b", "bb", "c", "d"}, {"a", "b", "bb", "c", "d"},
         {"a", "b", "bb", "c", "d"}},
        {"delete", [](Catalogue& c) { c.deleteAtDisplay(1); }, {"a", "c", "d"}, {"a", "c", "d"}, {"a", "c", "d"}},
        {"rename held in place", [](Catalogue& c) { c.renameAtDisplay(0, "e"); }, {"e", "b", "c", "d"},
         {"e", "b", "c", "d"}, {"b", "c", "d", "e"}},
        {"rename and re-sort",
         [](Catalogue& c) {
             c.setSelection(0);
             c.renameAtDisplay(0, "e");
             c.resortAfterRename();
         },
         {"b", "c", "d", "e"}, {"b", "c", "d", "e"}, {"b", "c", "d", "e"}},
        {"add beside a rename held in place",
         [](Catalogue& c) {
             c.renameAtDisplay(0, "e");
             c.add("aa", "5");
         },
         {"e", "aa", "b", "c", "d"}, {"e", "aa", "b", "c", "d"}, {"aa", "b", "c", "d", "e"}},
        {"delete beside a rename held in place",
         [](Catalogue& c) {
             c.renameAtDisplay(0, "e");
             c.deleteAtDisplay(1);
         },
         {"e", "c", "d"}, {"e", "c", "d"}, {"c", "d", "e"}},
        {"delete taken back",
         [](Catalogue& c) {
             const Catalogue::Removal r = c.removalAt(1);
             c.deleteAtDisplay(1);
             c.restore(r);
         },
         {"a", "b", "c", "d"}, {"a", "b", "c", "d"}, {"a", "b", "c", "d"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Catalogue c;
        c.setSorted(true);
        load(c, {{"d", "4"}, {"b", "2"}, {"a", "1"}, {"c", "3"}});
        row.edit(c);
        EXPECT_EQ(displayNames(c), row.shown);
        expectAligned(c);
        c.setSorted(false);
        EXPECT_EQ(displayNames(c), row.off);
        c.setSorted(true);
        EXPECT_EQ(displayNames(c), row.on);
        expectAligned(c);
        for (int i = 0; i < c.displayCount(); ++i)
            EXPECT_EQ(c.storageName(c.findInStorage(c.displayAt(i).view())).str(), c.displayAt(i).str());
    }
}

TEST(CatalogueSortMode, SwitchingAnEmptyListOnlySetsTheMode) {
    Catalogue c;
    c.setSorted(true);
    EXPECT_TRUE(c.sorted());
    EXPECT_EQ(c.displayCount(), 0);
    EXPECT_EQ(c.selection(), -1);
    c.setSorted(false);
    EXPECT_FALSE(c.sorted());
}

TEST(CatalogueSortMode, ShowStorageOrderLeavesNothingSelected) {
    for (bool sorted : {false, true}) {
        SCOPED_TRACE(sorted ? "sorted" : "unsorted");
        Catalogue c;
        c.setSorted(sorted);
        load(c, {{"b", "1"}, {"a", "2"}, {"c", "3"}});
        c.setSelection(1);
        c.renameAtDisplay(1, "z");
        c.showStorageOrder();
        EXPECT_EQ(c.selection(), -1);
        // A sorted list files every copied name at its place.
        EXPECT_EQ(displayNames(c), (sorted ? Names{"a", "c", "z"} : Names{"b", "z", "c"}));
    }
}

// The window's switch: the record selected before is selected after.
TEST(CatalogueSortMode, TheSwitchOfTheWindowKeepsTheSelectedRecord) {
    Catalogue c;
    load(c, {{"C", "3"}, {"A", "1"}, {"B", "2"}});
    c.setSelection(0);  // C
    // On: bookmark the storage index, sort, select the name again.
    c.setBookmark(c.selection());
    c.setSorted(true);
    c.setSelection(c.findInDisplay(c.storageName(c.bookmark()).view()));
    EXPECT_EQ(displayNames(c), (Names{"A", "B", "C"}));
    EXPECT_EQ(c.displayAt(c.selection()).str(), "C");
    // Off: look the name up in storage, rebuild from storage, select again.
    c.setSelection(0);  // A
    c.setBookmark(c.findInStorage(c.displayAt(c.selection()).view()));
    c.setSorted(false);
    c.showStorageOrder();
    c.setSelection(c.findInDisplay(c.storageName(c.bookmark()).view()));
    EXPECT_EQ(displayNames(c), (Names{"C", "A", "B"}));
    EXPECT_EQ(c.selection(), 1);
}

// --- Names that differ only in case ---------------------------------------------------

TEST(CatalogueCaseDuplicates, BothListedBothShowTheFirstLocation) {
    for (bool sorted : {false, true}) {
        SCOPED_TRACE(sorted ? "sorted" : "unsorted");
        Catalogue c;
        c.setSorted(sorted);
        load(c, {{"Abc", "first"}, {"ABC", "second"}});
        EXPECT_EQ(displayNames(c), (Names{"Abc", "ABC"}));
        EXPECT_EQ(c.locationOfDisplay(0).str(), "first");
        EXPECT_EQ(c.locationOfDisplay(1).str(), "first");
        EXPECT_EQ(c.recordCount(), 2);
    }
}

TEST(CatalogueCaseDuplicates, DeletingTheSecondRemovesTheFirstFromStorage) {
    Catalogue c;
    load(c, {{"Abc", "first"}, {"x", "mid"}, {"ABC", "second"}});
    c.deleteAtDisplay(2);
    EXPECT_EQ(displayNames(c), (Names{"Abc", "x"}));
    EXPECT_EQ(storageNames(c), (Names{"x", "ABC"}));
    EXPECT_EQ(storageLocations(c), (Names{"mid", "second"}));
    EXPECT_EQ(c.locationOfDisplay(0).str(), "second");
    expectAligned(c);
}

TEST(CatalogueCaseDuplicates, RenamingTheSecondRenamesTheFirstInStorage) {
    for (bool sorted : {false, true}) {
        SCOPED_TRACE(sorted ? "sorted" : "unsorted");
        Catalogue c;
        c.setSorted(sorted);
        load(c, {{"Abc", "first"}, {"ABC", "second"}});
        c.setSelection(1);
        c.renameAtDisplay(1, "New");
        EXPECT_EQ(displayNames(c), (Names{"Abc", "New"}));
        EXPECT_EQ(storageNames(c), (Names{"New", "ABC"}));
        EXPECT_EQ(storageLocations(c), (Names{"first", "second"}));
        EXPECT_EQ(c.locationOfDisplay(0).str(), "second");
        EXPECT_EQ(c.locationOfDisplay(1).str(), "first");
        if (sorted) {
            c.resortAfterRename();
            EXPECT_EQ(displayNames(c), (Names{"ABC", "New"}));
            EXPECT_EQ(c.displayAt(c.selection()).str(), "New");
        }
        expectAligned(c);
    }
}

// The display entry reaches the first record of its name; a storage index
// reaches its own record, as an import relocating by it needs.
TEST(CatalogueCaseDuplicates, RelocatingTheSecondByStorageIndexReachesTheSecond) {
    Catalogue c;
    load(c, {{"Abc", "first"}, {"x", "mid"}, {"ABC", "second"}});
    c.relocateAtDisplay(2, "by name");
    EXPECT_EQ(storageLocations(c), (Names{"by name", "mid", "second"}));
    c.relocateAtStorage(2, "by index");
    EXPECT_EQ(storageLocations(c), (Names{"by name", "mid", "by index"}));
    EXPECT_TRUE(c.changed());
    EXPECT_EQ(listErrorOf([&] { c.relocateAtStorage(3, "y"); }), "List index out of bounds (3)");

    // Names about to be appended match the stored ones and each other.
    using Pairs = std::vector<std::pair<int, int>>;
    EXPECT_EQ(c.repeatedNames(), (Pairs{{2, 0}}));
    EXPECT_EQ(c.repeatedNames({"new", "X", "NEW", "abc"}), (Pairs{{2, 0}, {4, 1}, {5, 3}, {6, 0}}));
}

// --- Clearing, selection, top index -----------------------------------------------------

TEST(CatalogueClear, EmptiesTheListsButLeavesTheCount) {
    Catalogue c;
    c.setSorted(true);
    load(c, {{"a", "1"}, {"b", "2"}});
    c.setSelection(1);
    c.setBookmark(1);
    c.clear();
    EXPECT_EQ(c.displayCount(), 0);
    EXPECT_EQ(c.storageCount(), 0);
    EXPECT_EQ(c.selection(), -1);
    EXPECT_EQ(c.bookmark(), -1);
    EXPECT_EQ(c.recordCount(), 2);
    EXPECT_TRUE(c.sorted());
    EXPECT_EQ(c.findInStorage("a"), -1);
    EXPECT_EQ(c.findInDisplay("a"), -1);

    c.setRecordCount(0);
    load(c, {{"b", "3"}, {"a", "4"}});
    EXPECT_EQ(displayNames(c), (Names{"a", "b"}));
    EXPECT_EQ(c.locationOfDisplay(0).str(), "4");
    EXPECT_EQ(c.recordCount(), 2);
}

TEST(CatalogueSelection, OutsideTheListMeansNone) {
    Catalogue c;
    load(c, {{"a", "1"}, {"b", "2"}});
    c.setSelection(1);
    EXPECT_EQ(c.selection(), 1);
    c.setSelection(2);
    EXPECT_EQ(c.selection(), -1);
    c.setSelection(-3);
    EXPECT_EQ(c.selection(), -1);
    c.setBookmark(1);
    EXPECT_EQ(c.bookmark(), 1);
    c.setBookmark(2);
    EXPECT_EQ(c.bookmark(), -1);
}

TEST(CatalogueSelection, StaysInViewAndTheTopIndexStaysInTheList) {
    Catalogue c;
    c.setVisibleRows(3);
    for (int k = 0; k < 10; ++k)
        c.appendLoaded(test::numbered("n", k), "l");
    c.setSelection(7);
    EXPECT_EQ(c.topIndex(), 5);
    c.setSelection(2);
    EXPECT_EQ(c.topIndex(), 2);
    c.setTopIndex(50);
    EXPECT_EQ(c.topIndex(), 9);
    c.setTopIndex(-4);
    EXPECT_EQ(c.topIndex(), 0);
    c.setTopIndex(8);
    for (int k = 0; k < 4; ++k)
        c.deleteAtDisplay(0);
    EXPECT_EQ(c.topIndex(), 5);
    c.deleteAtDisplay(5);
    EXPECT_LE(c.topIndex(), c.displayCount() - 1);
}


// --- Putting a deleted record back --------------------------------------------------

// The same place at the front, again and again: the order keys between two
// neighbours run out and are spread apart, in storage and in the display
// list, and every list stays what it was.
TEST(CatalogueRestore, TheSamePlaceAgainAndAgainInBothModes) {
    for (bool sorted : {false, true}) {
        SCOPED_TRACE(sorted ? "sorted" : "unsorted");
        Catalogue c;
        c.setSorted(sorted);
        load(c, {{"d", "4"}, {"B", "2"}, {"a", "1"}, {"C", "3"}, {"b", "5"}});
        c.setSelection(2);
        const Names display = displayNames(c), storage = storageNames(c), locations = storageLocations(c);
        const std::string selected = c.displayAt(2).str();
        for (int round = 0; round < 80; ++round) {
            const int i = round % 2 == 0 ? 0 : 4;
            const Catalogue::Removal r = c.removalAt(i);
            c.deleteAtDisplay(i);
            EXPECT_EQ(c.restore(r), i);
            ASSERT_EQ(displayNames(c), display) << "round " << round;
            ASSERT_EQ(storageNames(c), storage) << "round " << round;
            ASSERT_EQ(storageLocations(c), locations) << "round " << round;
            // Found through the indexes as before.
            ASSERT_EQ(c.findInStorage(r.name.view()), r.storage);
            ASSERT_EQ(c.displayAt(c.selection()).str(), selected);
            expectAligned(c);
        }
        // Added afterwards, a record goes last in storage as ever.
        c.add("e", "6");
        EXPECT_EQ(storageNames(c).back(), "e");
        EXPECT_GE(c.findInDisplay("E"), 0);
        EXPECT_EQ(listErrorOf([&] { c.restore(Catalogue::Removal{0, 99, RecordText("x"), RecordText("x"), RecordText("")}); }),
                  "List index out of bounds (99)");
    }
}

// A record put back at the bookmark's storage index goes before the
// bookmarked record, which the window's switch of the sort mode then
// selects.
TEST(CatalogueRestore, KeepsTheBookmarkOnItsRecord) {
    Catalogue c;
    load(c, {{"d", "1"}, {"b", "2"}, {"c", "3"}, {"a", "4"}});
    c.setBookmark(2);   // c
    const Catalogue::Removal r = c.removalAt(1);
    c.deleteAtDisplay(1);   // b; c is now stored where b was
    c.restore(r);
    EXPECT_EQ(storageNames(c), (Names{"d", "b", "c", "a"}));
    c.setSorted(true);
    c.setSelection(c.findInDisplay(c.storageName(c.bookmark()).view()));
    EXPECT_EQ(c.displayAt(c.selection()).str(), "c");
}

// After the sort mode changed, the record goes where the new order puts it.
TEST(CatalogueRestore, AfterASwitchOfTheSortModeTheOrderDecides) {
    Catalogue c;
    load(c, {{"c", "3"}, {"a", "1"}, {"b", "2"}});
    const Catalogue::Removal r = c.removalAt(0);
    c.deleteAtDisplay(0);
    c.setSorted(true);
    EXPECT_EQ(c.restore(r), 2);
    EXPECT_EQ(displayNames(c), (Names{"a", "b", "c"}));
    EXPECT_EQ(storageNames(c), (Names{"c", "a", "b"}));
    EXPECT_EQ(c.locationOfDisplay(2).str(), "3");
}

// --- Searching inside names and locations ------------------------------------------

// The index finds exactly what TextSearch finds, record by record, as the
// text grows (looked for among the earlier finds), shrinks and changes.
TEST(CatalogueSearch, FindsWhatTextSearchFindsAsTheTextChanges) {
    Catalogue c;
    const char* records[][2] = {{"Šachy.zip", "CD 1"},   {"sadza", "Pivnica"},  {"Čistiareň", "CD 10"},
                                {"Straße", "CD 12"},     {"Film", "Garáž"},      {"Cudzie", "cd 2"},
                                {"SACHY", "Skriňa"},     {"kniha", "CD 1 / 3"}, {"Ŕe…", "police ŠÁ"}};
    for (const auto& r : records)
        c.appendLoaded(cp(r[0]), cp(r[1]));
    std::vector<int> order(std::size_t(c.storageCount()));
    for (int j = 0; j < c.storageCount(); ++j)
        order[std::size_t(j)] = c.storageCount() - 1 - j;   // any order is kept
    SearchIndex index(c, order);
    for (const char* text : {"", "s", "sa", "sac", "sach", "sa", "cd 1", "cd 10", "cd 1", "ss", "strasse", "fil",
                             "ra", "rá", "e...", "ø", "SA", "šá", "x", "cist", "1 / 3", " ",
                             // Single codes that share a bit of the records' masks with others.
                             "0", "6", "7", "8", "9", ".", "/"}) {
        const TextSearch search(text);
        std::vector<int> expected;
        for (int j : order)
            if (search.foundIn(c.storageName(j).view()) || search.foundIn(c.storageLocation(j).view()))
                expected.push_back(j);
        EXPECT_EQ(index.find(text), expected) << "text [" << text << "]";
    }
    // What a person expects of it.
    EXPECT_EQ(index.find("sa"), (std::vector<int>{8, 6, 1, 0}));
    EXPECT_EQ(index.find("cd 1"), (std::vector<int>{7, 3, 2, 0}));
    EXPECT_EQ(index.find("ø"), std::vector<int>{});

    // A large catalogue is searched in two halves: a match at either end is
    // found, in the list's order.
    Catalogue large;
    constexpr int Records = 70000;
    for (int j = 0; j < Records; ++j)
        large.appendLoaded(j == 0 || j == Records - 1 ? "ihla " + std::to_string(j) : "seno " + std::to_string(j), "CD");
    std::vector<int> all(Records);
    for (int j = 0; j < Records; ++j)
        all[std::size_t(j)] = j;
    SearchIndex inLarge(large, all);
    EXPECT_EQ(inLarge.find("ihla"), (std::vector<int>{0, Records - 1}));
}

// The window's two orders need no list of the records: name order and
// storage order find what the lists of them find, in their order, also
// after a record put back between two whose keys are adjacent has spread
// the keys apart.
TEST(CatalogueSearch, TheListsOwnOrdersFindWhatListsOfRecordsFind) {
    for (const bool spread : {false, true}) {
        SCOPED_TRACE(spread ? "keys spread" : "keys as loaded");
        Catalogue c;
        c.setSorted(true);
        for (const char* name : {"Šachy", "kniha", "sadza", "Film", "Cudzie", "Straße", "Garáž", "SACHY 2"})
            c.appendLoaded(cp(name), "CD 1");
        if (spread) {
            Catalogue::Removal r = c.removalAt(2);
            c.deleteAtDisplay(2);
            r.storage += 1;   // between two adjacent keys
            c.restore(r);
        }
        std::vector<int> storage(std::size_t(c.storageCount()));
        for (int j = 0; j < c.storageCount(); ++j)
            storage[std::size_t(j)] = j;
        SearchIndex byName(c, SearchIndex::Order::Name), listedByName(c, c.storageInNameOrder());
        SearchIndex byStorage(c, SearchIndex::Order::Storage), listed(c, storage);
        for (const char* text : {"", "s", "sa", "a", "cd", "x"}) {
            EXPECT_EQ(byName.find(text), listedByName.find(text)) << "text [" << text << "]";
            EXPECT_EQ(byStorage.find(text), listed.find(text)) << "text [" << text << "]";
        }
        EXPECT_EQ(byName.find("sa"), (std::vector<int>{c.findInStorage("sadza"), c.findInStorage(cp("SACHY 2")),
                                                       c.findInStorage(cp("Šachy"))}));
    }
    // A few finds among many records are each placed in name order on
    // their own.
    Catalogue large;
    large.setSorted(true);
    constexpr int Records = 70000;
    for (int j = 0; j < Records; ++j)
        large.appendLoaded((j % 3 == 0 ? "ihla " : "seno ") + std::to_string(Records - j), "CD");
    SearchIndex byName(large, SearchIndex::Order::Name), listedByName(large, large.storageInNameOrder());
    for (const char* text : {"ihla 1", "ihla 69", "ihla 6999", "seno 12"})
        EXPECT_EQ(byName.find(text), listedByName.find(text)) << "text [" << text << "]";
}

}  // namespace
}  // namespace vrindel
