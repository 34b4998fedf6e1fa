// Every system call that start-up and close make, made to fail in turn.
//
// A clean run of each sequence counts the calls of every kind; then each
// occurrence of each kind fails once with ENOSPC, EIO, EACCES and EINTR (and
// EINTR three times running, and short writes for writes). Whatever fails,
// the error raised must carry the code and text of the errno, an interrupted
// call must be retried and never reported, the two files must hold exactly
// their old or their new bytes, no temporary file may stay behind, and the
// same sequence must succeed once the fault is gone.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "records/Catalogue.h"
#include "store/format/CatalogueFiles.h"
#include "FaultCalls.h"
#include "FaultyFileSystem.h"
#include "store/format/FileLayer.h"
#include "TestFiles.h"
#include "TestSupport.h"

using namespace vrindel;
using namespace vrindel::testing;
using Call = FileSystem::Call;

namespace {

using test::RecordingMessages;

struct Injection {
    const char* label;
    int err;                // the errno delivered; 0 for a short write
    int times;              // consecutive calls of the kind that fail
    long shortWrite = -1;   // for a short write: the bytes the write stores
};

const Injection ErrnoFaults[] = {
    {"ENOSPC", ENOSPC, 1},
    {"EIO", EIO, 1},
    {"EACCES", EACCES, 1},
    {"EINTR", EINTR, 1},
    {"EINTR three times running", EINTR, 3},
};
const Injection ShortWrites[] = {
    {"a write that stores 1 byte", 0, 1, 1},
    {"a write that stores nothing", 0, 1, 0},
};
const Injection Interrupted = {"EINTR", EINTR, 1};
const Injection InputOutput = {"EIO", EIO, 1};

// One case: where the faults strike, and what the sequence must make of them.
struct Case {
    std::string where;
    const Injection* injection;                     // the fault the outcome is judged by
    std::function<void(FaultyFileSystem&)> arm;
    mutable int struck = 0;                         // faults actually delivered

    bool interrupted() const { return injection->err == EINTR; }
};

struct Raised {
    int code;
    std::string text;
};

template <class F>
std::optional<Raised> attempt(F&& run) {
    try {
        run();
    } catch (const IoError& e) {
        return Raised{e.code(), e.what()};
    }
    return std::nullopt;
}

// The error a fault must surface as, if it surfaces at all.
Raised expectedFor(const Injection& injection) {
    if (injection.shortWrite >= 0 || injection.err == ENOSPC)
        return {io::DiskFull, "Disk full"};
    if (injection.err == EACCES)
        return {io::AccessDenied, "File access denied"};
    return {injection.err, "I/O error " + std::to_string(injection.err)};
}

void expectTruthful(const std::optional<Raised>& raised, const Case* c) {
    if (!raised)
        return;
    ASSERT_NE(c, nullptr) << "a clean run raised \"" << raised->text << "\"";
    ASSERT_FALSE(c->interrupted()) << "an interrupted call was reported instead of retried: \"" << raised->text << "\"";
    Raised expected = expectedFor(*c->injection);
    EXPECT_EQ(raised->code, expected.code);
    EXPECT_EQ(raised->text, expected.text);
}

// What a file holds, in words short enough for a failure message.
std::string whichContent(const std::optional<std::string>& now, const std::optional<std::string>& before,
                         const std::optional<std::string>& after) {
    if (now == before)
        return "old";
    if (now == after)
        return "new";
    return now ? "other content of " + std::to_string(now->size()) + " bytes" : "no file";
}

// --- The driver ------------------------------------------------------------------

using CaseBody = std::function<void(FaultyFileSystem&, const ScratchDir&, const Case*)>;

int& totalCases() {
    static int total = 0;
    return total;
}

std::map<Call, int> countCalls(const CaseBody& body) {
    ScratchDir dir;
    FaultyFileSystem fs;
    body(fs, dir, nullptr);
    std::map<Call, int> counts;
    for (const CallKind& kind : CallKinds)
        counts[kind.call] = fs.calls(kind.call);
    return counts;
}

// Close is left alone: on Linux an interrupted close has still released the
// descriptor, so it must not be retried, and a later close may not be shifted.
void interruptEveryCallOnce(FaultyFileSystem& fs, const std::map<Call, int>& counts) {
    for (const CallKind& kind : CallKinds) {
        if (kind.call == Call::Close)
            continue;
        int calls = counts.at(kind.call);
        for (int n = 1; n <= 2 * calls + 8; n += 2)
            fs.failOn(kind.call, n, EINTR);
    }
}

std::vector<Case> casesFor(const std::map<Call, int>& counts) {
    std::vector<Case> cases;
    for (const CallKind& kind : CallKinds) {
        const int calls = counts.at(kind.call);
        for (int nth = 1; nth <= calls; ++nth) {
            std::string where = std::string(kind.name) + " call " + std::to_string(nth) + " of " + std::to_string(calls);
            for (const Injection& injection : ErrnoFaults) {
                Call call = kind.call;
                cases.push_back({where + ": " + injection.label, &injection,
                                 [call, nth, &injection](FaultyFileSystem& fs) {
                                     fs.failOn(call, nth, injection.err, injection.times);
                                 }});
            }
            if (kind.call == Call::Write) {
                for (const Injection& injection : ShortWrites)
                    cases.push_back({where + ": " + injection.label, &injection, [nth, &injection](FaultyFileSystem& fs) {
                                         fs.shortWriteOn(nth, std::size_t(injection.shortWrite));
                                     }});
            }
        }
    }

    // Every call interrupted once, alone and together with a real error
    // at each call in turn (the cleanup after it is interrupted as well).
    cases.push_back({"every call interrupted once", &Interrupted,
                     [counts](FaultyFileSystem& fs) { interruptEveryCallOnce(fs, counts); }});
    for (const CallKind& kind : CallKinds) {
        const int calls = counts.at(kind.call);
        for (int nth = 1; nth <= calls; ++nth) {
            Call call = kind.call;
            // Each interrupted call is retried, so the nth call is the 2nth attempt.
            int attemptNo = call == Call::Close ? nth : 2 * nth;
            cases.push_back({std::string("every call interrupted once, and ") + kind.name + " call " + std::to_string(nth) +
                                 ": EIO",
                             &InputOutput, [counts, call, attemptNo](FaultyFileSystem& fs) {
                                 interruptEveryCallOnce(fs, counts);
                                 fs.failOn(call, attemptNo, EIO);
                             }});
        }
    }
    return cases;
}

void runEveryFault(const std::string& scenario, const CaseBody& body) {
    std::map<Call, int> counts;
    {
        SCOPED_TRACE(scenario + ": without faults");
        counts = countCalls(body);
    }
    if (::testing::Test::HasFailure())
        return;
    int cases = 0;
    for (const Case& c : casesFor(counts)) {
        SCOPED_TRACE(scenario + ": " + c.where);
        ScratchDir dir;
        FaultyFileSystem fs;
        c.arm(fs);
        body(fs, dir, &c);
        EXPECT_GT(c.struck, 0) << "the fault never struck";
        ++cases;
        if (::testing::Test::HasFailure())
            break;   // one scenario's first failure says enough
    }
    totalCases() += cases;
    std::cout << scenario << ": " << cases << " fault cases" << std::endl;
}

// --- Start-up ------------------------------------------------------------------

struct Loaded {
    Catalogue catalogue;
    // As the window is built: every switch on until the options say otherwise.
    Switches switches{true, true, true};
    std::vector<std::pair<Switch, bool>> set;
};

void startUp(FileVar& listFile, FileVar& optionsFile, const ScratchDir& dir, Loaded& loaded, FileMessages& messages) {
    listFile.assign(dir.file(ListFileName));
    optionsFile.assign(dir.file(OptionsFileName));
    ensureCatalogueFile(listFile, messages);
    ensureOptionsFile(optionsFile);
    readOptions(optionsFile, [&](Switch s, bool on) {
        loaded.set.emplace_back(s, on);
        switch (s) {
        case Switch::Zoradit: loaded.switches.zoradit = on; break;
        case Switch::DelPlaceBox: loaded.switches.delPlaceBox = on; break;
        case Switch::DelExt: loaded.switches.delExt = on; break;
        }
    });
    loaded.catalogue.setSorted(loaded.switches.zoradit);
    readCatalogue(listFile, loaded.catalogue, messages);
}

void expectAligned(const Catalogue& catalogue) {
    EXPECT_EQ(catalogue.storageCount(), catalogue.displayCount());
    EXPECT_EQ(catalogue.storageCount(), catalogue.recordCount());
}

// The catalogue holds the first records of `records`, in storage order,
// and, unsorted, lists them in that order.
void expectLeadingRecords(const Catalogue& catalogue, const Records& records) {
    expectAligned(catalogue);
    ASSERT_LE(std::size_t(catalogue.storageCount()), records.size());
    for (int j = 0; j < catalogue.storageCount(); ++j) {
        const Record& r = records[std::size_t(j)];
        if (catalogue.storageName(j).view() != r.first || catalogue.storageLocation(j).view() != r.second ||
            (!catalogue.sorted() && catalogue.displayAt(j).view() != r.first)) {
            ADD_FAILURE() << "record " << j << " differs from the file";
            return;
        }
    }
}

// Switches are set in file order; a failed read leaves the rest as they were.
void expectSwitchesFrom(const Loaded& loaded, const std::string& optionsFile, bool whole) {
    const Switch order[] = {Switch::Zoradit, Switch::DelPlaceBox, Switch::DelExt};
    ASSERT_LE(loaded.set.size(), 3u);
    if (whole) {
        EXPECT_EQ(loaded.set.size(), std::min<std::size_t>(3, optionsFile.size()));
    }
    for (std::size_t i = 0; i < loaded.set.size(); ++i) {
        EXPECT_EQ(loaded.set[i].first, order[i]);
        EXPECT_EQ(loaded.set[i].second, optionsFile[i] != 0);
    }
}

const std::set<std::string> BothFiles = {ListFileName, OptionsFileName};

TEST(FaultInjection, StartUpWithBothFilesPresentReadsThemOrSaysWhy) {
    // More records than one read of the file layer takes, so reads fail
    // both at the start and in the middle of the catalogue.
    const Records records = madeUpRecords(4100, 1);
    const std::string list = catalogueBytes(records);
    const std::string options = optionsBytes(false, true, false);

    runEveryFault("start-up, both files present", [&](FaultyFileSystem& fs, const ScratchDir& dir, const Case* c) {
        putFile(dir.file(ListFileName), list, 0640);
        putFile(dir.file(OptionsFileName), options, 0600);
        Loaded loaded;
        RecordingMessages messages;
        FileVar listFile(fs), optionsFile(fs);
        auto raised = attempt([&] { startUp(listFile, optionsFile, dir, loaded, messages); });
        if (c)
            c->struck = fs.injected();
        expectTruthful(raised, c);
        const bool clean = !c || c->interrupted();

        // Start-up only reads files that are there.
        EXPECT_TRUE(fileBytes(dir.file(ListFileName)) == list) << "start-up changed the catalogue file";
        EXPECT_TRUE(fileBytes(dir.file(OptionsFileName)) == options) << "start-up changed the options file";
        EXPECT_EQ(entriesOf(dir.path()), BothFiles);
        EXPECT_EQ(messages.missing, 0) << "an existing catalogue was reported missing";
        EXPECT_LE(messages.damaged, 1);
        expectAligned(loaded.catalogue);
        if (!raised) {
            expectSwitchesFrom(loaded, options, clean);
            expectLeadingRecords(loaded.catalogue, records);
            if (messages.damaged) {
                EXPECT_FALSE(clean) << "a sound catalogue was reported damaged";
                EXPECT_LT(std::size_t(loaded.catalogue.storageCount()), records.size());
            } else {
                EXPECT_EQ(std::size_t(loaded.catalogue.storageCount()), records.size());
            }
        }

        // The next start-up, the fault gone, reads everything.
        fs.reset();
        Loaded again;
        RecordingMessages quiet;
        ASSERT_FALSE(attempt([&] { startUp(listFile, optionsFile, dir, again, quiet); }));
        EXPECT_EQ(quiet.missing + quiet.damaged, 0);
        expectSwitchesFrom(again, options, true);
        EXPECT_EQ(std::size_t(again.catalogue.storageCount()), records.size());
        expectLeadingRecords(again.catalogue, records);
    });
}

TEST(FaultInjection, StartUpInAnEmptyDirectoryCreatesBothFilesOrSaysWhy) {
    const std::string emptyList;
    const std::string defaults = optionsBytes(true, false, true);

    runEveryFault("start-up, empty directory", [&](FaultyFileSystem& fs, const ScratchDir& dir, const Case* c) {
        Loaded loaded;
        RecordingMessages messages;
        FileVar listFile(fs), optionsFile(fs);
        auto raised = attempt([&] { startUp(listFile, optionsFile, dir, loaded, messages); });
        if (c)
            c->struck = fs.injected();
        expectTruthful(raised, c);
        const bool clean = !c || c->interrupted();

        // Each file is either not there yet or whole.
        auto listNow = fileBytes(dir.file(ListFileName));
        auto optionsNow = fileBytes(dir.file(OptionsFileName));
        EXPECT_TRUE(!listNow || *listNow == emptyList) << "the new catalogue file holds " << listNow->size() << " bytes";
        EXPECT_TRUE(!optionsNow || *optionsNow == defaults) << "the new options file holds " << optionsNow->size() << " bytes";
        for (const std::string& name : entriesOf(dir.path()))
            EXPECT_TRUE(BothFiles.count(name)) << "left behind: " << name;
        EXPECT_EQ(messages.damaged, 0);
        EXPECT_LE(messages.missing, 1);
        expectAligned(loaded.catalogue);
        EXPECT_EQ(loaded.catalogue.storageCount(), 0);
        if (!raised) {
            EXPECT_EQ(messages.missing, 1);
            EXPECT_EQ(listNow, emptyList);
            EXPECT_EQ(optionsNow, defaults);
            expectSwitchesFrom(loaded, defaults, clean);
        }

        // The next start-up, the fault gone, finds or makes both files.
        const bool listWasThere = listNow.has_value();
        fs.reset();
        Loaded again;
        RecordingMessages second;
        ASSERT_FALSE(attempt([&] { startUp(listFile, optionsFile, dir, again, second); }));
        EXPECT_EQ(second.missing, listWasThere ? 0 : 1);
        EXPECT_EQ(second.damaged, 0);
        EXPECT_EQ(fileBytes(dir.file(ListFileName)), emptyList);
        EXPECT_EQ(fileBytes(dir.file(OptionsFileName)), defaults);
        EXPECT_EQ(entriesOf(dir.path()), BothFiles);
        expectSwitchesFrom(again, defaults, true);
        EXPECT_EQ(again.catalogue.storageCount(), 0);
    });
}

// --- Close ---------------------------------------------------------------------

struct CloseSetting {
    Records before, after;
    Switches switchesAfter;
    bool throughLinks = false;   // both names are symbolic links into a folder
    bool hardLinked = false;     // both files have a second name: they are rewritten in place
};

void runCloseScenario(const std::string& scenario, const CloseSetting& s) {
    const std::string listBefore = catalogueBytes(s.before);
    const std::string listAfter = catalogueBytes(s.after);
    const std::string optionsBefore = optionsBytes(false, true, false);
    const std::string optionsAfter =
        optionsBytes(s.switchesAfter.zoradit, s.switchesAfter.delPlaceBox, s.switchesAfter.delExt);

    Catalogue catalogue;
    for (const auto& [name, location] : s.after)
        catalogue.appendLoaded(name, location);

    runEveryFault(scenario, [&](FaultyFileSystem& fs, const ScratchDir& dir, const Case* c) {
        // Where the bytes live: the files themselves, or the files the links name.
        std::filesystem::path listData = dir.file(ListFileName), optionsData = dir.file(OptionsFileName);
        if (s.throughLinks) {
            std::filesystem::create_directory(dir.path() / "store");
            listData = dir.path() / "store" / "list.dat";
            optionsData = dir.path() / "store" / "options.dat";
            std::filesystem::create_symlink("store/list.dat", dir.file(ListFileName));
            std::filesystem::create_symlink(optionsData, dir.file(OptionsFileName));
        }
        putFile(listData, listBefore, 0640);
        putFile(optionsData, optionsBefore, 0604);
        if (s.hardLinked) {
            std::filesystem::create_hard_link(listData, dir.path() / "list.link");
            std::filesystem::create_hard_link(optionsData, dir.path() / "options.link");
        }

        FileVar listFile(fs), optionsFile(fs);
        listFile.assign(dir.file(ListFileName));
        optionsFile.assign(dir.file(OptionsFileName));
        auto close = [&] {
            saveCatalogue(listFile, catalogue);
            saveOptions(optionsFile, s.switchesAfter);
        };

        auto expectFilesIntact = [&](const char* when) {
            SCOPED_TRACE(when);
            if (s.throughLinks) {
                EXPECT_TRUE(std::filesystem::is_symlink(dir.file(ListFileName))) << "the catalogue's link was replaced";
                EXPECT_TRUE(std::filesystem::is_symlink(dir.file(OptionsFileName))) << "the options' link was replaced";
                EXPECT_EQ(entriesOf(dir.path() / "store"), (std::set<std::string>{"list.dat", "options.dat"}));
                EXPECT_EQ(entriesOf(dir.path()), (std::set<std::string>{ListFileName, OptionsFileName, "store"}));
            } else if (s.hardLinked) {
                EXPECT_EQ(entriesOf(dir.path()),
                          (std::set<std::string>{ListFileName, OptionsFileName, "list.link", "options.link"}));
                EXPECT_EQ(fileBytes(listData), fileBytes(dir.path() / "list.link")) << "the hard link was detached";
            } else {
                EXPECT_EQ(entriesOf(dir.path()), BothFiles);
            }
            // A replaced file keeps the permissions of the one it replaced.
            EXPECT_EQ(modeOf(listData), mode_t(0640));
            EXPECT_EQ(modeOf(optionsData), mode_t(0604));
        };

        auto raised = attempt(close);
        if (c)
            c->struck = fs.injected();
        expectTruthful(raised, c);
        const std::string listNow = whichContent(fileBytes(listData), listBefore, listAfter);
        const std::string optionsNow = whichContent(fileBytes(optionsData), optionsBefore, optionsAfter);
        if (raised && s.hardLinked) {
            // In place, a failure after the room was reserved may leave old
            // and new records mixed; it is reported, and the next close mends it.
        } else if (raised) {
            EXPECT_TRUE(listNow == "old" || listNow == "new") << "the catalogue file holds " << listNow;
            EXPECT_TRUE(optionsNow == "old" || optionsNow == "new") << "the options file holds " << optionsNow;
        } else {
            EXPECT_EQ(listNow, "new") << "a close that reported nothing did not save the catalogue";
            EXPECT_EQ(optionsNow, "new") << "a close that reported nothing did not save the options";
        }
        expectFilesIntact("after the faulty close");

        // The window stays open; the next close, the fault gone, saves both.
        fs.reset();
        auto second = attempt(close);
        EXPECT_FALSE(second) << "the next close failed: " << second->text;
        EXPECT_EQ(whichContent(fileBytes(listData), listBefore, listAfter), "new");
        EXPECT_EQ(whichContent(fileBytes(optionsData), optionsBefore, optionsAfter), "new");
        expectFilesIntact("after the next close");
    });
}

TEST(FaultInjection, CloseThatGrowsTheCatalogueSavesAllOrNothing) {
    // More than one write of the file layer's buffer.
    runCloseScenario("close, 3 records become 4100", {madeUpRecords(3, 2), madeUpRecords(4100, 3), {true, false, true}});
}

TEST(FaultInjection, CloseThatShrinksTheCatalogueSavesAllOrNothing) {
    runCloseScenario("close, 4100 records become 2", {madeUpRecords(4100, 4), madeUpRecords(2, 5), {false, false, true}});
}

TEST(FaultInjection, CloseThroughSymbolicLinksKeepsTheLinks) {
    runCloseScenario("close through symbolic links",
                     {madeUpRecords(20, 6), madeUpRecords(25, 7), {true, true, true}, /*throughLinks=*/true});
}

TEST(FaultInjection, CloseInPlaceReportsEveryFailure) {
    runCloseScenario("close in place, 30 records become 4100",
                     {madeUpRecords(30, 12), madeUpRecords(4100, 13), {true, true, false}, false, /*hardLinked=*/true});
}

class CaseCount : public ::testing::Environment {
public:
    void TearDown() override { std::cout << "Fault cases tried: " << totalCases() << std::endl; }
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new CaseCount);
    return RUN_ALL_TESTS();
}
