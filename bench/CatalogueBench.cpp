// The catalogue's operations at 10,000, 100,000 and 1,000,000 records,
// through the same library calls the window makes.

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>

#include "BenchData.h"
#include "store/format/CatalogueFiles.h"
#include "store/CatalogueStore.h"
#include "records/EditHistory.h"
#include "search/SearchIndex.h"

using namespace vrindel;
using namespace vrindel::bench;

namespace {

struct NoMessages : FileMessages {
    void listFileMissing() override {}
    void listFileDamaged() override {}
};

void load(Catalogue& catalogue, const std::string& path) {
    NoMessages messages;
    FileVar file;
    file.assign(path);
    readCatalogue(file, catalogue, messages);
    catalogue.setSelection(0);
}

// A loaded catalogue per size and mode, kept between benchmarks.
Catalogue& loaded(std::size_t records, bool sorted) {
    static std::map<std::pair<std::size_t, bool>, std::unique_ptr<Catalogue>> cache;
    auto& slot = cache[{records, sorted}];
    if (!slot) {
        slot = std::make_unique<Catalogue>();
        slot->setSorted(sorted);
        load(*slot, catalogueFile(records));
    }
    return *slot;
}

const std::vector<GeneratedRecord>& records(std::size_t count) {
    static std::map<std::size_t, std::vector<GeneratedRecord>> cache;
    auto& r = cache[count];
    if (r.empty())
        r = generateRecords(count);
    return r;
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond)->UseRealTime();
}

// --- Baselines -------------------------------------------------------------

void baseline_read_file(benchmark::State& state) {
    const std::string path = catalogueFile(std::size_t(state.range(0)));
    for (auto _ : state) {
        std::ifstream in(path, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        benchmark::DoNotOptimize(bytes.data());
    }
}
BENCHMARK(baseline_read_file)->Apply(sizes);

// The sort key of every name: ICU's own (the reference), and the tables'.
template <Collation::Engine Engine>
void sort_keys(benchmark::State& state) {
    const auto& recs = records(std::size_t(state.range(0)));
    const Collation collation(Engine);
    std::vector<std::uint8_t> key;
    for (auto _ : state) {
        for (const auto& r : recs) {
            key.clear();
            collation.appendSortKey(r.name, key);
        }
        benchmark::DoNotOptimize(key.data());
    }
}
BENCHMARK(sort_keys<Collation::Engine::Icu>)->Name("sort_keys_icu")->Apply(sizes);
BENCHMARK(sort_keys<Collation::Engine::Tables>)->Name("sort_keys_tables")->Apply(sizes);

// One comparison of two names, by ICU (with the same tie rule) and by the
// tables. "random": two names of the catalogue, which mostly part at their
// first letters; "close": a name and the same name with its last letter
// changed, read to the end, as the last steps of a binary search do.
template <Collation::Engine Engine, bool Close>
void compare_names(benchmark::State& state) {
    const auto& recs = records(100000);
    std::vector<std::pair<std::string, std::string>> pairs;
    std::mt19937 rng(7);
    for (std::size_t i = 0; i < 4096; ++i) {
        const std::string& a = recs[rng() % recs.size()].name;
        std::string b = Close ? a : recs[rng() % recs.size()].name;
        if (Close)
            b.back() = b.back() == 'a' ? 'b' : 'a';
        pairs.emplace_back(a, b);
    }
    const Collation collation(Engine);
    std::size_t i = 0;
    for (auto _ : state) {
        const auto& [a, b] = pairs[i++ & 4095];
        benchmark::DoNotOptimize(collation.compare(a, b));
    }
}
BENCHMARK(compare_names<Collation::Engine::Icu, false>)->Name("compare_random_icu");
BENCHMARK(compare_names<Collation::Engine::Tables, false>)->Name("compare_random_tables");
BENCHMARK(compare_names<Collation::Engine::Icu, true>)->Name("compare_close_icu");
BENCHMARK(compare_names<Collation::Engine::Tables, true>)->Name("compare_close_tables");

// --- Start-up and close ------------------------------------------------------

void load_sorted(benchmark::State& state) {
    const std::string path = catalogueFile(std::size_t(state.range(0)));
    for (auto _ : state) {
        Catalogue catalogue;
        catalogue.setSorted(true);
        load(catalogue, path);
        benchmark::DoNotOptimize(catalogue.displayAt(0));
        state.PauseTiming();
        { Catalogue gone(std::move(catalogue)); }
        state.ResumeTiming();
    }
}
BENCHMARK(load_sorted)->Apply(sizes);

void load_unsorted(benchmark::State& state) {
    const std::string path = catalogueFile(std::size_t(state.range(0)));
    for (auto _ : state) {
        Catalogue catalogue;
        load(catalogue, path);
        benchmark::DoNotOptimize(catalogue.displayAt(0));
    }
}
BENCHMARK(load_unsorted)->Apply(sizes);

void save_both(benchmark::State& state) {
    Catalogue& catalogue = loaded(std::size_t(state.range(0)), true);
    const std::string dir = "bench-data/save";
    std::filesystem::create_directories(dir);
    FileVar list, options;
    list.assign(dir + "/Zoznam.dat");
    options.assign(dir + "/Options.dat");
    for (auto _ : state) {
        saveCatalogue(list, catalogue);
        saveOptions(options, Switches{});
    }
}
BENCHMARK(save_both)->Apply(sizes);

// A window's close with one record added: when nothing else touched the
// file; when another program appended 100 records meanwhile (read back and
// merged); when another program rewrote the file (every record compared);
// in a folder a sync engine carries, with the catalogue come from the other
// computer, so that the save keeps it as the version received.
enum class Meanwhile { Nothing, Appended, Rewritten, Received };

template <Meanwhile meanwhile>
void close_after(benchmark::State& state) {
    const std::string source = catalogueFile(std::size_t(state.range(0)));
    const std::string dir = meanwhile == Meanwhile::Received ? "bench-data/close-synced" : "bench-data/close";
    std::filesystem::create_directories(dir);
    const std::string stateHome = std::filesystem::absolute("bench-data/close-state").string();
    if (meanwhile == Meanwhile::Received) {
        std::filesystem::create_directories(dir + "/.stfolder");
        ::setenv("XDG_STATE_HOME", stateHome.c_str(), 1);
    }
    const std::string list = dir + "/Zoznam.dat";
    std::string theirs;
    for (int i = 0; i < 100; ++i) {
        RecordText name("Their record " + std::to_string(i)), location("USB");
        theirs.append(reinterpret_cast<const char*>(&name), sizeof name);
        theirs.append(reinterpret_cast<const char*>(&location), sizeof location);
    }
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::copy_file(source, list, std::filesystem::copy_options::overwrite_existing);
        // Nothing kept from the last round: each save finds the version new.
        std::filesystem::remove_all(stateHome);
        {
            CatalogueStore store(dir);
            store.open();
            Catalogue catalogue;
            catalogue.setSorted(true);
            NoMessages messages;
            store.readCatalogue(catalogue, messages);
            catalogue.add("A record of this window", "DVD 1");
            if (meanwhile == Meanwhile::Appended) {
                std::ofstream(list, std::ios::binary | std::ios::app) << theirs;
            } else if (meanwhile == Meanwhile::Rewritten) {
                // Their records first: nothing of the file as read is where it was.
                {
                    std::ofstream out(list + ".new", std::ios::binary);
                    std::ifstream in(source, std::ios::binary);
                    out << theirs << in.rdbuf();
                }
                std::filesystem::rename(list + ".new", list);
            }
            state.ResumeTiming();
            const SaveReport report = store.saveChangedCatalogue(catalogue);
            state.PauseTiming();
            if (!report.ok())
                state.SkipWithError(report.failures.front().error.what());
            else if ((meanwhile == Meanwhile::Appended || meanwhile == Meanwhile::Rewritten) && report.merged != 100)
                state.SkipWithError("the other program's records were not merged");
        }
        state.ResumeTiming();
    }
    if (meanwhile == Meanwhile::Received)
        ::unsetenv("XDG_STATE_HOME");
}
BENCHMARK(close_after<Meanwhile::Nothing>)->Name("close_unchanged_file")->Apply(sizes);
BENCHMARK(close_after<Meanwhile::Appended>)->Name("close_after_append")->Apply(sizes);
BENCHMARK(close_after<Meanwhile::Rewritten>)->Name("close_after_rewrite")->Apply(sizes);
BENCHMARK(close_after<Meanwhile::Received>)->Name("close_synced_received")->Apply(sizes);

// Peak resident memory of a process that loads the catalogue sorted, set
// against one that loads an empty catalogue, and what it holds beyond that
// against the file's size.
long loadPeakKilobytes(const std::string& path) {
    return vrindel::bench::reportedPeakKilobytes(std::string(LOAD_MEMORY_PROGRAM) + " '" + path + "'");
}

void peak_memory_after_load(benchmark::State& state) {
    const std::size_t count = std::size_t(state.range(0));
    const std::string path = catalogueFile(count);
    static const long empty = loadPeakKilobytes(catalogueFile(0));
    long kb = -1;
    for (auto _ : state)
        kb = loadPeakKilobytes(path);
    if (kb <= 0 || empty <= 0) {
        state.SkipWithError("the loading process failed");
        return;
    }
    const double over = double(kb - empty) * 1024;
    state.counters["peak_MB"] = double(kb) / 1024;
    state.counters["over_empty_MB"] = over / (1024 * 1024);
    state.counters["x_empty"] = double(kb) / double(empty);
    state.counters["over_x_file"] = over / double(count * 64);
}
BENCHMARK(peak_memory_after_load)->Apply(sizes)->Iterations(1);
// Ten million records (a 640 MB file, generated on first use) with
// VRINDEL_BENCH_10M=1 only, so that a plain run stays short.
const bool tenMillion = [] {
    const char* on = std::getenv("VRINDEL_BENCH_10M");
    if (on && std::string(on) == "1")
        benchmark::RegisterBenchmark("peak_memory_after_load", peak_memory_after_load)
            ->Arg(10000000)
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime()
            ->Iterations(1);
    return true;
}();

// --- Interactive operations ------------------------------------------------

template <bool Sorted>
void keystroke_duplicate_test(benchmark::State& state) {
    Catalogue& catalogue = loaded(std::size_t(state.range(0)), Sorted);
    const auto& recs = records(std::size_t(state.range(0)));
    std::size_t i = 0;
    for (auto _ : state) {
        // Half the names are listed, half are one letter short of a listed one.
        const std::string& name = recs[(i * 7919) % recs.size()].name;
        benchmark::DoNotOptimize(catalogue.findInDisplay(i % 2 ? std::string_view(name) : std::string_view(name).substr(0, name.size() - 1)));
        ++i;
    }
}
BENCHMARK(keystroke_duplicate_test<true>)->Name("keystroke_sorted")->Apply(sizes);
BENCHMARK(keystroke_duplicate_test<false>)->Name("keystroke_unsorted")->Apply(sizes);

template <bool Sorted>
void add_then_delete(benchmark::State& state) {
    Catalogue& catalogue = loaded(std::size_t(state.range(0)), Sorted);
    int n = 0;
    for (auto _ : state) {
        const std::string name = "Nový záznam " + std::to_string(n++ % 1000);
        auto bytes = *utf8ToWindows1250(name);
        catalogue.add(bytes, "CD 0001");
        catalogue.deleteAtDisplay(catalogue.selection());
    }
    state.counters["ops_per_iter"] = 2;
}
BENCHMARK(add_then_delete<true>)->Name("add_and_delete_sorted")->Apply(sizes);
BENCHMARK(add_then_delete<false>)->Name("add_and_delete_unsorted")->Apply(sizes);

void rename_with_resort(benchmark::State& state) {
    Catalogue& catalogue = loaded(std::size_t(state.range(0)), true);
    const std::string original = catalogue.displayAt(catalogue.displayCount() / 2).str();
    const std::string moved = "zzzz premenovaný";
    bool away = false;
    for (auto _ : state) {
        // Back and forth between the middle and the end of the list, with
        // the steps of a rename in the window: rename, select, re-sort.
        const std::string& from = away ? moved : original;
        const std::string& to = away ? original : moved;
        const int i = catalogue.findInDisplay(from);
        catalogue.setSelection(i);
        catalogue.renameAtDisplay(i, to);
        catalogue.setSelection(catalogue.findInDisplay(to));
        catalogue.resortAfterRename();
        away = !away;
    }
    if (away) {
        const int i = catalogue.findInDisplay(moved);
        catalogue.setSelection(i);
        catalogue.renameAtDisplay(i, original);
        catalogue.resortAfterRename();
    }
}
BENCHMARK(rename_with_resort)->Apply(sizes);

void sort_switch(benchmark::State& state) {
    Catalogue& catalogue = loaded(std::size_t(state.range(0)), true);
    catalogue.setSelection(catalogue.displayCount() / 3);
    bool on = true;
    for (auto _ : state) {
        // The two halves of the switch as the check box runs them.
        on = !on;
        if (on) {
            catalogue.setBookmark(catalogue.selection());
            catalogue.setSorted(true);
            catalogue.setSelection(catalogue.findInDisplay(catalogue.storageName(catalogue.bookmark()).view()));
        } else {
            catalogue.setBookmark(catalogue.findInStorage(catalogue.displayAt(catalogue.selection()).view()));
            catalogue.setSorted(false);
            catalogue.showStorageOrder();
            catalogue.setSelection(catalogue.findInDisplay(catalogue.storageName(catalogue.bookmark()).view()));
        }
    }
    if (!on) {
        catalogue.setBookmark(catalogue.selection());
        catalogue.setSorted(true);
    }
}
BENCHMARK(sort_switch)->Apply(sizes);

template <bool Sorted>
void type_ahead(benchmark::State& state) {
    Catalogue& catalogue = loaded(std::size_t(state.range(0)), Sorted);
    const char* prefixes[] = {"k", "ko", "kos", "z", "zx", "\x8a" "a", "q"};
    std::size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(catalogue.findPrefixInDisplay(prefixes[i++ % std::size(prefixes)]));
}
BENCHMARK(type_ahead<true>)->Name("type_ahead_sorted")->Apply(sizes);
BENCHMARK(type_ahead<false>)->Name("type_ahead_unsorted")->Apply(sizes);


// Finding by any part of a name or location, as the find dialog does for a
// keystroke: the first letter scans every record, the next ones only what
// the text before them found.
void find_letter(benchmark::State& state) {
    Catalogue& catalogue = loaded(std::size_t(state.range(0)), true);
    SearchIndex index(catalogue, SearchIndex::Order::Name);
    const std::string texts[] = {"a", "k", "m", "\xc5\xa1" /* š */, "e"};
    std::size_t i = 0, found = 0;
    for (auto _ : state) {
        state.PauseTiming();
        index.matches("");   // a fresh start: every letter below is a first letter
        state.ResumeTiming();
        found = index.matches(texts[i++ % std::size(texts)]);
    }
    state.counters["found"] = double(found);
}
BENCHMARK(find_letter)->Name("find_first_letter")->Apply(sizes);

// What the find dialog does when it opens: the records in the list's
// order, every one of them listed; their texts are folded meanwhile, off
// the window's thread (its end is left out of the time). And the whole
// fold, which a search typed at once waits for.
void find_dialog_open(benchmark::State& state) {
    Catalogue& catalogue = loaded(std::size_t(state.range(0)), true);
    for (auto _ : state) {
        auto index = std::make_unique<SearchIndex>(catalogue, SearchIndex::Order::Name);
        benchmark::DoNotOptimize(index->matches(""));
        state.PauseTiming();
        index.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(find_dialog_open)->Apply(sizes);

void find_index_whole(benchmark::State& state) {
    Catalogue& catalogue = loaded(std::size_t(state.range(0)), true);
    for (auto _ : state) {
        SearchIndex index(catalogue, SearchIndex::Order::Name);
        benchmark::DoNotOptimize(index.matches("a"));
    }
}
BENCHMARK(find_index_whole)->Apply(sizes);

// A deleted record put back in the middle of storage and of the sorted list.
void undo_delete(benchmark::State& state) {
    Catalogue& catalogue = loaded(std::size_t(state.range(0)), true);
    EditHistory history(catalogue);
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        history.deleteAtDisplay(catalogue.displayCount() / 2 + n++ % 100);
        state.ResumeTiming();
        history.undo();
    }
}
BENCHMARK(undo_delete)->Apply(sizes);

}  // namespace
