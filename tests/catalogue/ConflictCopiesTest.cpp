// The copies sync engines leave of the two files: which names are copies,
// what a merge of one takes, and that a copy goes only once its records
// are on disk.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <tuple>

#include "store/CatalogueStore.h"
#include "FaultyFileSystem.h"
#include "TestSupport.h"

namespace vrindel {
namespace {

using test::InScratchDir;
using test::readBytes;
using test::record;
using test::RecordingMessages;
using test::ScratchDir;
using test::writeBytes;
using Call = FileSystem::Call;
using Names = std::vector<std::string>;

class ConflictCopies : public ::testing::Test {
protected:
    ScratchDir dir;
    InScratchDir inDir{dir};
    // What the store keeps of each catalogue there stays with the test.
    ScratchDir state;
    test::StateHomeAt stateHome{state.path()};
    RecordingMessages messages;

    // The catalogue as the window reads it at start-up.
    Catalogue start(CatalogueStore& store) {
        Catalogue catalogue;
        EXPECT_EQ(store.open().lock, LockState::Held);
        store.ensureCatalogueFile(messages);
        store.readCatalogue(catalogue, messages);
        return catalogue;
    }

    Names conflictFiles() const {
        Names names;
        for (const std::string& name : dir.entries())
            if (name.starts_with("Zoznam.dat-conflicts-"))
                names.push_back(name);
        return names;
    }

    // Which file is at the name, and when it was last written.
    static std::pair<ino_t, std::int64_t> identity(const std::string& name) {
        struct ::stat st {};
        EXPECT_EQ(::stat(name.c_str(), &st), 0);
        return {st.st_ino, std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    }

    static std::string bytesOf(const Catalogue& catalogue) {
        std::string bytes;
        for (int j = 0; j < catalogue.storageCount(); ++j)
            bytes += record(catalogue.storageName(j).view()) + record(catalogue.storageLocation(j).view());
        return bytes;
    }
};

TEST_F(ConflictCopies, EachEnginesCopiesAreFoundAndLookalikesAreNot) {
    struct Case {
        const char* name;
        const char* engine;   // nullptr: no copy
        StoredFile file = StoredFile::Catalogue;
    };
    const Case cases[] = {
        {"Zoznam.sync-conflict-20261207-153000-ABCDEFG.dat", "Syncthing"},
        {"Zoznam (conflicted copy 2026-12-07 153000).dat", "Nextcloud"},
        {"Zoznam (conflicted copy peter 2026-12-07 153000).dat", "Nextcloud"},
        {"Zoznam_conflict-20261207-153000.dat", "ownCloud"},
        {"Zoznam (Peter's conflicted copy 2026-12-07).dat", "Dropbox"},
        {"Zoznam (Peter's conflicted copy 2026-12-07 (1)).dat", "Dropbox"},
        {"Options.sync-conflict-20261207-153000-ABCDEFG.dat", "Syncthing", StoredFile::Options},
        {"Options (conflicted copy 2026-12-07 153000).dat", "Nextcloud", StoredFile::Options},
        {"Options_conflict-20261207-153000.dat", "ownCloud", StoredFile::Options},
        {"Options (Peter's conflicted copy 2026-12-07).dat", "Dropbox", StoredFile::Options},
        // Lookalikes: another file's copy, another extension, a broken
        // date or device, the program's own conflict file, a backup.
        {"Zoznam.dat-conflicts-20261207-153000.csv", nullptr},
        {"Zoznam.dat.bak", nullptr},
        {"Zoznam.sync-conflict-20261207-153000-ABCDEFG.dat.tmp", nullptr},
        {"Zoznam.sync-conflict-2026127-153000-ABCDEFG.dat", nullptr},
        {"Zoznam.sync-conflict-20261207-153000-abcdefg.dat", nullptr},
        {"Zoznamy_conflict-20261207-153000.dat", nullptr},
        {"Zoznam_conflict-20261207-153000.csv", nullptr},
        {"zoznam_conflict-20261207-153000.dat", nullptr},
        {"Zoznam (conflicted copy 2026-12-07).dat", nullptr},
        {"Zoznam (conflicted copy).dat", nullptr},
        {"Zoznam (2).dat", nullptr},
        {"ZoznamXsync-conflict-20261207-153000-ABCDEFG.dat", nullptr},
    };
    writeBytes(ListFileName, "");
    writeBytes(OptionsFileName, std::string("\x01\x00\x01", 3));
    std::vector<std::tuple<StoredFile, std::string, std::string>> expected;
    for (const Case& c : cases) {
        writeBytes(c.name, "");
        if (c.engine)
            expected.emplace_back(c.file, c.name, c.engine);
    }
    std::sort(expected.begin(), expected.end());

    CatalogueStore store;
    std::vector<std::tuple<StoredFile, std::string, std::string>> found;
    for (const ConflictCopy& copy : store.conflictCopies()) {
        found.emplace_back(copy.file, copy.name, copy.engine);
        EXPECT_EQ(std::filesystem::path(copy.path), std::filesystem::canonical(dir.path()) / copy.name);
    }
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, expected);
}

// A copy with no common version with the catalogue: a merge only adds. A
// record the catalogue lacks comes back; one it has under another location
// keeps the catalogue's, and the copy's goes to a conflict file; one the
// copy lacks stays. In a folder a sync engine carries, where a session on
// this computer read a version it had not written itself and saved, that
// version is the common one of any copy (this computer's own save or the
// other's): its deletes and relocations are taken, and where both sides
// changed a record the copy's goes to a conflict file. A version read while
// copies wait beside the catalogue may be the very one that won over them,
// and is not taken for common. A second merge finds nothing new and writes
// nothing.
TEST_F(ConflictCopies, AMergeAddsWhatTheCatalogueLacksAndChangesNothingTheSecondTime) {
    const std::string a = record("Alfa") + record("1"), b = record("Beta") + record("2"), g = record("Gama") + record("3");
    const std::string d = record("Delta") + record("4"), x = record("Chi") + record("8"), e = record("Eta") + record("6");
    const std::string header = "name,location\r\n";
    struct Case {
        const char* what;
        std::string catalogue;
        std::vector<std::string> copies;
        std::string merged;
        std::string conflicts;   // the conflict file, "" for none
        // Sessions before the merge: the first reads `catalogue` (the
        // version both computers had), each saves one of these, and the
        // other computer's version is then copies[0]. The engine kept this
        // computer's last save, or with `ownCopy` made it the copy, the
        // other's taking the name.
        std::vector<std::string> saved = {};
        bool ownCopy = false;
        bool versionsDamaged = false;   // what the store kept of them does not parse
        std::string savedBeside = {};   // saved by a session while the copies wait
        bool carried = true;            // by a sync engine
    };
    const std::vector<Case> cases = {
        {"the copy adds", a + b, {a + b + g}, a + b + g, ""},
        {"the copy lacks a record", a + b + g, {a + g}, a + b + g, ""},
        {"the copy relocates", a + b, {a + record("Beta") + record("9")}, a + b, header + "Beta,9\r\n"},
        {"the copy changes the letter case", a + b, {a + record("BETA") + record("2")}, a + b, ""},
        {"the copy renames", a + b, {a + record("Bety") + record("2")}, a + b + record("Bety") + record("2"), ""},
        {"an empty catalogue", "", {b + a}, b + a, ""},
        {"two copies disagree on a new record", a, {a + record("Delta") + record("4"), record("delta") + record("5")},
         a + record("Delta") + record("4"), header + "delta,5\r\n"},
        {"a name the catalogue lists twice", a + record("alfa") + record("7"), {record("alfa") + record("7")},
         a + record("alfa") + record("7"), ""},
        {"the copy deletes a record the catalogue has unchanged", a + b + g, {a + g}, a + g + d, "", {a + b + g + d}},
        {"the copy relocates a record the catalogue has unchanged", a + b, {a + record("Beta") + record("9")},
         a + record("Beta") + record("9") + g, "", {a + b + g}},
        {"both sides relocate a record", a + b, {a + record("Beta") + record("9")}, a + record("Beta") + record("5"),
         header + "Beta,9\r\n", {a + record("Beta") + record("5")}},
        {"the copy is this computer's own save", a + b + g, {a + record("Beta") + record("9")},
         a + record("Beta") + record("9") + d, "", {a + b + g + d}, true},
        {"what the store kept does not parse", a + b + g, {a + g}, a + b + g + d, "", {a + b + g + d}, false, true},
        {"this computer saved twice while apart", a, {a + d}, a + d + b + g, "", {a + b, a + b + g}, true},
        {"a session saves while the copies wait", a + b + g, {a + b + g + x}, a + b + g + x + e + d, "", {a + b + g + d},
         true, false, a + b + g + x + e},
        {"a folder no sync engine carries", a + b + g, {a + g}, a + b + g + d, "", {a + b + g + d}, false, false, "",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& name : dir.entries())
            std::filesystem::remove(name);
        const ScratchDir caseState;
        const test::StateHomeAt caseStateHome(caseState.path());
        if (c.carried)
            std::filesystem::create_directory(".stfolder");
        writeBytes(ListFileName, c.catalogue);
        const auto save = [&](const std::string& saved) {
            CatalogueStore store;
            Catalogue catalogue = start(store);
            catalogue.clear();
            for (std::size_t at = 0; at < saved.size(); at += 64)
                catalogue.appendLoaded(std::string_view(saved).substr(at + 1, std::size_t(saved[at])),
                                       std::string_view(saved).substr(at + 33, std::size_t(saved[at + 32])));
            test::raised(store.saveCatalogue(catalogue));
            ASSERT_TRUE(readBytes(ListFileName) == saved);
        };
        for (const std::string& saved : c.saved)
            save(saved);
        Names copies;
        for (std::size_t k = 0; k < c.copies.size(); ++k) {
            copies.push_back("Zoznam_conflict-20261207-15300" + std::to_string(k) + ".dat");
            writeBytes(copies.back(), c.copies[k]);
        }
        if (!c.saved.empty()) {
            if (c.ownCopy) {
                std::filesystem::rename(ListFileName, copies[0]);
                writeBytes(ListFileName, c.copies[0]);
            }
            if (!c.savedBeside.empty())
                save(c.savedBeside);
            if (c.versionsDamaged) {
                ASSERT_FALSE(std::filesystem::is_empty(caseState.path() / "vrindel"));
                for (const auto& kept : std::filesystem::directory_iterator(caseState.path() / "vrindel"))
                    writeBytes(kept.path().string(), "VRRECV3\n" + std::string(40, '\x07'));
            }
        }

        for (int round = 1; round <= 2; ++round) {
            SCOPED_TRACE(round == 1 ? "first merge" : "second merge");
            const auto before = identity(ListFileName);
            CatalogueStore store;
            Catalogue catalogue = start(store);
            const CopyMerge merge = store.mergeCopies(catalogue, copies, false);
            ASSERT_TRUE(merge.saved());
            EXPECT_TRUE(readBytes(ListFileName) == c.merged);
            EXPECT_TRUE(bytesOf(catalogue) == c.merged);   // what the window then lists
            const Names files = conflictFiles();
            ASSERT_EQ(files.size(), c.conflicts.empty() ? 0u : 1u);
            if (!files.empty()) {
                EXPECT_EQ(readBytes(files.front()), c.conflicts);
            }
            if (round == 2) {
                EXPECT_TRUE(merge.records.missing.empty());
                EXPECT_EQ(merge.conflicts, 0u);
                EXPECT_EQ(identity(ListFileName), before) << "the catalogue was written again";
            }
            for (const std::string& copy : copies)
                EXPECT_TRUE(std::filesystem::exists(copy));
        }
    }
}

// A copy is removed only once the catalogue that holds its records is on
// disk: a save that fails keeps it, and the catalogue in memory, as they
// were. A damaged copy gives its whole records and is kept. The session
// goes on after the merge as after its own save: a merged record deleted
// then stays deleted.
TEST_F(ConflictCopies, ACopyGoesOnlyOnceItsRecordsAreOnDisk) {
    const std::string a = record("Alfa") + record("1"), d = record("Delta") + record("4");
    const std::string copy = "Zoznam.sync-conflict-20261207-153000-ABCDEFG.dat";
    const std::string damaged = "Zoznam (conflicted copy 2026-12-07 153000).dat";
    writeBytes(ListFileName, a);
    writeBytes(copy, a + d);
    writeBytes(damaged, record("Epsilon") + record("5") + record("Zeta"));

    FaultyFileSystem fs;
    CatalogueStore store({}, fs);
    Catalogue catalogue = start(store);
    Names paths;
    for (const ConflictCopy& found : store.conflictCopies())
        paths.push_back(found.path);
    ASSERT_EQ(paths.size(), 2u);
    const CopyRecords looked = store.compareCopies(catalogue, paths);
    EXPECT_EQ(looked.missing.size(), 2u);
    EXPECT_EQ(looked.damaged.size(), 1u);

    for (const Call call : {Call::Rename, Call::Fsync, Call::Write}) {
        fs.reset();
        fs.failOn(call, 1, EIO, 100);
        const CopyMerge failed = store.mergeCopies(catalogue, paths, true);
        EXPECT_FALSE(failed.saved());
        EXPECT_TRUE(failed.removed.empty());
        EXPECT_TRUE(std::filesystem::exists(copy));
        EXPECT_TRUE(readBytes(ListFileName) == a);
        EXPECT_EQ(catalogue.storageCount(), 1);
    }

    fs.reset();
    const CopyMerge merged = store.mergeCopies(catalogue, paths, true);
    ASSERT_TRUE(merged.saved());
    // The copies in the order of their names, the damaged one first.
    const std::string withCopies = a + record("Epsilon") + record("5") + d;
    EXPECT_TRUE(readBytes(ListFileName) == withCopies);
    EXPECT_TRUE(bytesOf(catalogue) == withCopies);
    EXPECT_FALSE(std::filesystem::exists(copy));
    ASSERT_EQ(merged.kept.size(), 1u);
    EXPECT_EQ(merged.kept[0].why, CopyMerge::Kept::Why::Damaged);
    EXPECT_TRUE(std::filesystem::exists(damaged));

    catalogue.deleteAtDisplay(catalogue.findInDisplay("Delta"));
    test::raised(store.saveCatalogue(catalogue));
    EXPECT_TRUE(readBytes(ListFileName) == a + record("Epsilon") + record("5"));
}

}  // namespace
}  // namespace vrindel
