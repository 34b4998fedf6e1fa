// The two files: what is written byte for byte, what the damaged and odd
// files load as, the two messages, and saves that fail at every step.

#include <gtest/gtest.h>

#include <acl/libacl.h>
#include <grp.h>
#include <sys/acl.h>
#include <sys/xattr.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <ctime>
#include <regex>
#include <thread>
#include <csignal>
#include <chrono>

#include "store/format/CatalogueFiles.h"
#include "store/CatalogueStore.h"
#include "store/journal/RollbackJournal.h"
#include "store/io/ContentHash.h"
#include "store/io/ThisComputer.h"
#include "store/lock/CatalogueLock.h"
#include "store/merge/ConflictFile.h"
#include "FaultCalls.h"
#include "FaultyFileSystem.h"
#include "TestSupport.h"

namespace vrindel {
namespace {

using test::cp;
using test::displayNames;
using test::InScratchDir;
using test::folderOf;
using test::ioErrorOf;
using test::raised;
using test::readBytes;
using test::record;
using test::RecordingMessages;
using test::ScratchDir;
using test::storageLocations;
using test::storageNames;
using test::writeBytes;
using Call = FileSystem::Call;
using Names = std::vector<std::string>;

// Each test works in a directory of its own, under the files' own names,
// as the program does in its working directory.
class CatalogueFiles : public ::testing::Test {
protected:
    ScratchDir dir;
    InScratchDir inDir{dir};
    RecordingMessages messages;
    FileVar listFile;
    FileVar optionsFile;

    void SetUp() override {
        listFile.assign(ListFileName);
        optionsFile.assign(OptionsFileName);
    }

    Catalogue load(bool sorted = false) {
        Catalogue c;
        c.setSorted(sorted);
        readWhole = readCatalogue(listFile, c, messages);
        return c;
    }
    bool readWhole = false;   // what the last load said of the file

    std::vector<std::pair<Switch, bool>> readSwitches() {
        std::vector<std::pair<Switch, bool>> set;
        readOptions(optionsFile, [&](Switch s, bool on) { set.emplace_back(s, on); });
        return set;
    }

    std::vector<std::string> others() const {
        Names names = dir.entries();
        names.erase(std::remove(names.begin(), names.end(), ListFileName), names.end());
        names.erase(std::remove(names.begin(), names.end(), OptionsFileName), names.end());
        return names;
    }
};

// --- The message texts ---------------------------------------------------------------------

TEST(CatalogueFileNames, AndMessageTextsAreExact) {
    EXPECT_STREQ(ListFileName, "Zoznam.dat");
    EXPECT_STREQ(OptionsFileName, "Options.dat");
    EXPECT_STREQ(FileMessageCaption, "Vrindel");
    EXPECT_STREQ(ListMissingText, "Súbor so zoznamom sa nenašiel!");
    EXPECT_STREQ(ListDamagedText, "Súbor so záznamami je poškodený!");
}

// --- Missing files ----------------------------------------------------------------------------

TEST_F(CatalogueFiles, AMissingCatalogueIsWarnedOfOnceAndCreatedEmpty) {
    ensureCatalogueFile(listFile, messages);
    EXPECT_EQ(messages.missing, 1);
    EXPECT_EQ(readBytes(ListFileName), "");
    EXPECT_FALSE(listFile.isOpen());
    ensureCatalogueFile(listFile, messages);
    EXPECT_EQ(messages.missing, 1);

    Catalogue c = load();
    EXPECT_EQ(c.storageCount(), 0);
    EXPECT_EQ(messages.damaged, 0);
    EXPECT_EQ(others(), Names{});
}

TEST_F(CatalogueFiles, AnExistingCatalogueIsLeftAlone) {
    writeBytes(ListFileName, record("a") + record("b"));
    ensureCatalogueFile(listFile, messages);
    EXPECT_EQ(messages.missing, 0);
    EXPECT_EQ(readBytes(ListFileName), record("a") + record("b"));
}

TEST_F(CatalogueFiles, ADirectoryNamedLikeTheCatalogueIsWarnedOfAndRefused) {
    ASSERT_EQ(::mkdir(ListFileName, 0755), 0);
    IoError e = ioErrorOf([&] { ensureCatalogueFile(listFile, messages); });
    EXPECT_EQ(messages.missing, 1);
    EXPECT_EQ(e.code(), 5);
    EXPECT_STREQ(e.what(), "File access denied");
    struct ::stat st{};
    ASSERT_EQ(::stat(ListFileName, &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(others(), Names{});
}

TEST_F(CatalogueFiles, MissingOptionsGetTheDefaultsSilently) {
    ensureOptionsFile(optionsFile);
    EXPECT_EQ(readBytes(OptionsFileName), std::string("\x01\x00\x01", 3));
    EXPECT_EQ(readSwitches(), (std::vector<std::pair<Switch, bool>>{
                                  {Switch::Zoradit, true}, {Switch::DelPlaceBox, false}, {Switch::DelExt, true}}));

    writeBytes(OptionsFileName, std::string("\x00\x01\x00", 3));
    ensureOptionsFile(optionsFile);
    EXPECT_EQ(readBytes(OptionsFileName), std::string("\x00\x01\x00", 3)) << "an existing file is kept";
}

// --- Options ------------------------------------------------------------------------------------

TEST_F(CatalogueFiles, OptionsAreWrittenAsThreeBytes) {
    for (int bits = 0; bits < 8; ++bits) {
        Switches s{(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0};
        saveOptions(optionsFile, s);
        const std::string expected = {char(bits & 1), char((bits >> 1) & 1), char((bits >> 2) & 1)};
        EXPECT_EQ(readBytes(OptionsFileName), expected);
        EXPECT_EQ(readSwitches(), (std::vector<std::pair<Switch, bool>>{
                                      {Switch::Zoradit, s.zoradit},
                                      {Switch::DelPlaceBox, s.delPlaceBox},
                                      {Switch::DelExt, s.delExt}}));
    }
}

TEST_F(CatalogueFiles, AOneByteOptionsFileSetsOnlyTheFirstSwitch) {
    writeBytes(OptionsFileName, std::string("\x00", 1));
    EXPECT_EQ(readSwitches(), (std::vector<std::pair<Switch, bool>>{{Switch::Zoradit, false}}));
    EXPECT_FALSE(optionsFile.isOpen());

    writeBytes(OptionsFileName, "");
    EXPECT_TRUE(readSwitches().empty());
}

TEST_F(CatalogueFiles, OptionBytesAfterTheThirdAreNeverReadAndNotWrittenBack) {
    writeBytes(OptionsFileName, std::string("\x02\x00\xFF\x00\x01", 5));
    EXPECT_EQ(readSwitches(), (std::vector<std::pair<Switch, bool>>{
                                  {Switch::Zoradit, true}, {Switch::DelPlaceBox, false}, {Switch::DelExt, true}}))
        << "any byte but zero is on";
    saveOptions(optionsFile, Switches{true, false, true});
    EXPECT_EQ(readBytes(OptionsFileName), std::string("\x01\x00\x01", 3));
}

TEST_F(CatalogueFiles, ASwitchThatFailsEndsTheReadingSilently) {
    writeBytes(OptionsFileName, std::string("\x01\x01\x01", 3));
    std::vector<Switch> set;
    readOptions(optionsFile, [&](Switch s, bool) {
        set.push_back(s);
        if (s == Switch::DelPlaceBox)
            throw ListError::outOfBounds(0);
    });
    EXPECT_EQ(set, (std::vector<Switch>{Switch::Zoradit, Switch::DelPlaceBox}));
    EXPECT_FALSE(optionsFile.isOpen());
}

TEST_F(CatalogueFiles, AnOptionsFileThatCannotBeOpenedIsAnError) {
    EXPECT_EQ(ioErrorOf([&] { readSwitches(); }).code(), 2);
}

// --- Writing the catalogue ---------------------------------------------------------------

TEST_F(CatalogueFiles, TheCatalogueIsWrittenAs64BytesARecordInStorageOrder) {
    Catalogue c;
    c.setSorted(true);
    c.appendLoaded(cp("Žltý kôň.zip"), "CD 0421");
    c.appendLoaded("", cp("Polica č. 3"));
    c.appendLoaded(std::string(31, 'm'), "x");
    c.add("Abeceda", std::string(40, 'L'));
    ASSERT_EQ(displayNames(c).front(), "");
    saveCatalogue(listFile, c);

    const std::string bytes = readBytes(ListFileName);
    EXPECT_EQ(bytes.size(), 4u * 64u);
    std::string expected;
    expected += std::string("\x0C\x8E\x6C\x74\xFD\x20\x6B\xF4\xF2\x2E\x7A\x69\x70", 13) + std::string(19, '\0');
    expected += std::string("\x07" "CD 0421", 8) + std::string(24, '\0');
    expected += std::string(32, '\0');
    expected += std::string("\x0B" "Polica \xE8. 3", 12) + std::string(20, '\0');
    expected += std::string("\x1F") + std::string(31, 'm');
    expected += std::string("\x01x", 2) + std::string(30, '\0');
    expected += std::string("\x07" "Abeceda", 8) + std::string(24, '\0');
    expected += std::string("\x1F") + std::string(31, 'L');
    EXPECT_TRUE(bytes == expected) << "the file differs from the expected bytes";
    EXPECT_FALSE(listFile.isOpen());
    EXPECT_EQ(others(), Names{});
}

TEST_F(CatalogueFiles, AnEmptyCatalogueIsAnEmptyFile) {
    writeBytes(ListFileName, record("old") + record("x"));
    Catalogue c;
    saveCatalogue(listFile, c);
    EXPECT_EQ(readBytes(ListFileName), "");
}

TEST_F(CatalogueFiles, SavedAndLoadedAgainGivesTheSameRecordsInTheSameOrder) {
    Catalogue c;
    c.setSorted(true);
    const std::vector<std::pair<std::string, std::string>> records = {
        {"zeta", "1"}, {"Abc", "2"}, {"ABC", "3"}, {"", ""}, {cp("Čaj"), cp("Šuplík")}, {"abc", "6"}};
    for (const auto& [n, l] : records)
        c.appendLoaded(n, l);
    c.setSelection(0);
    c.renameAtDisplay(0, "new");
    c.resortAfterRename();
    saveCatalogue(listFile, c);

    Catalogue again = load(true);
    EXPECT_EQ(messages.damaged, 0);
    EXPECT_EQ(storageNames(again), storageNames(c));
    EXPECT_EQ(storageLocations(again), storageLocations(c));
    EXPECT_EQ(displayNames(again), displayNames(c));
    EXPECT_EQ(again.recordCount(), 6);
}

// --- Reading the catalogue: odd and damaged files --------------------------------------

TEST_F(CatalogueFiles, AnEmptyFileLoadsWithoutAMessage) {
    writeBytes(ListFileName, "");
    Catalogue c = load();
    EXPECT_EQ(c.storageCount(), 0);
    EXPECT_EQ(c.displayCount(), 0);
    EXPECT_EQ(c.recordCount(), 0);
    EXPECT_EQ(messages.damaged, 0);
    EXPECT_FALSE(listFile.isOpen());
}

TEST_F(CatalogueFiles, ThreeRecordsLoadOneAndShowTheDamagedMessage) {
    for (bool sorted : {false, true}) {
        messages = RecordingMessages{};
        writeBytes(ListFileName, record("name") + record("place") + record("orphan"));
        Catalogue c = load(sorted);
        EXPECT_EQ(messages.damaged, 1);
        EXPECT_EQ(messages.missing, 0);
        EXPECT_EQ(displayNames(c), Names{"name"});
        EXPECT_EQ(storageNames(c), Names{"name"});
        EXPECT_EQ(storageLocations(c), Names{"place"});
        EXPECT_EQ(c.recordCount(), 1);
        EXPECT_FALSE(listFile.isOpen());
        // Every whole record is in memory: saving it back loses nothing.
        EXPECT_TRUE(readWhole);
    }
}

TEST_F(CatalogueFiles, ATrailingPartOfARecordIsIgnoredWithoutAMessage) {
    writeBytes(ListFileName, record("name") + record("place") + std::string(6, '\x05'));
    Catalogue c = load();
    EXPECT_EQ(messages.damaged, 0);
    EXPECT_EQ(storageNames(c), Names{"name"});
    EXPECT_EQ(storageLocations(c), Names{"place"});
    EXPECT_EQ(c.recordCount(), 1);
}

TEST_F(CatalogueFiles, AZeroLengthByteIsAnEmptyText) {
    std::string zero = record("");
    zero.replace(1, 5, "ghost");  // not significant after a length of 0
    writeBytes(ListFileName, zero + record("place") + record("name") + zero);
    Catalogue c = load();
    EXPECT_EQ(storageNames(c), (Names{"", "name"}));
    EXPECT_EQ(storageLocations(c), (Names{"place", ""}));
    EXPECT_EQ(messages.damaged, 0);
}

TEST_F(CatalogueFiles, ALengthByteAbove31IsCutTo31) {
    std::string tooLong = record(std::string(31, 'q'));
    tooLong[0] = char(32);
    std::string wayTooLong = record(std::string(31, 'r'));
    wayTooLong[0] = char(255);
    writeBytes(ListFileName, tooLong + wayTooLong);
    Catalogue c = load();
    EXPECT_EQ(storageNames(c), Names{std::string(31, 'q')});
    EXPECT_EQ(storageLocations(c), Names{std::string(31, 'r')});
    EXPECT_EQ(messages.damaged, 0);

    saveCatalogue(listFile, c);
    EXPECT_EQ(readBytes(ListFileName), record(std::string(31, 'q')) + record(std::string(31, 'r')));
}

TEST_F(CatalogueFiles, BytesAfterATextAreNotSignificantAndAreWrittenAsZeros) {
    std::string dirty = record("ab");
    dirty.replace(3, 10, "leftovers!");
    writeBytes(ListFileName, dirty + dirty);
    Catalogue c = load();
    EXPECT_EQ(storageNames(c), Names{"ab"});
    EXPECT_EQ(storageLocations(c), Names{"ab"});
    saveCatalogue(listFile, c);
    EXPECT_EQ(readBytes(ListFileName), record("ab") + record("ab"));
}

TEST_F(CatalogueFiles, EveryByteValueSurvivesLoadThenSave) {
    // 256 values spread over texts of 31, 30, ... bytes, zeros after each
    // text as the writer leaves them; some records hold the undefined bytes
    // alone.
    std::string file;
    int next = 0;
    for (std::size_t length = 31; next < 256; length = length > 1 ? length - 3 : 31) {
        std::string text;
        while (text.size() < length && next < 256)
            text += char(next++);
        file += record(text);
    }
    for (const char* alone : {"\x81", "\x83", "\x88", "\x90", "\x98", "\x81\x83\x88\x90\x98"})
        file += record(alone);
    if ((file.size() / 32) % 2)
        file += record(std::string("\xFF\x00\x80", 3));
    writeBytes(ListFileName, file);

    Catalogue c = load();
    ASSERT_EQ(messages.damaged, 0);
    ASSERT_EQ(c.recordCount(), int(file.size() / 64));
    // The window sees every text in UTF-16 and gives it back unchanged.
    for (int j = 0; j < c.storageCount(); ++j)
        EXPECT_EQ(toWindows1250(fromWindows1250(c.storageName(j).view())), c.storageName(j).str());
    saveCatalogue(listFile, c);
    EXPECT_TRUE(readBytes(ListFileName) == file) << "the file changed on a load and save";
}

TEST_F(CatalogueFiles, AReadErrorIsADamagedFileKeepingWhatWasReadWhole) {
    std::string file;
    for (int k = 0; k < 20000; ++k)
        file += record(test::numbered("n", k)) + record(test::numbered("l", k));
    writeBytes(ListFileName, file);
    FaultyFileSystem fs;
    fs.failOn(Call::Read, 2, EIO);  // the first chunk arrives, the second does not
    listFile.setFileSystem(fs);
    Catalogue c = load();
    EXPECT_EQ(messages.damaged, 1);
    EXPECT_GT(c.recordCount(), 0);
    EXPECT_LT(c.recordCount(), 20000);
    EXPECT_EQ(c.storageCount(), c.recordCount());
    EXPECT_EQ(c.displayCount(), c.recordCount());
    EXPECT_EQ(int(storageLocations(c).size()), c.recordCount());
    const int last = c.recordCount() - 1;
    EXPECT_EQ(c.storageName(last).str(), test::numbered("n", last));
    EXPECT_EQ(c.storageLocation(last).str(), test::numbered("l", last));
    EXPECT_FALSE(listFile.isOpen());
    // The rest is still on disk: the caller must not write this part back.
    EXPECT_FALSE(readWhole);
}

TEST_F(CatalogueFiles, ACatalogueThatCannotBeOpenedIsAnErrorNotADamagedFile) {
    IoError e = ioErrorOf([&] { load(); });
    EXPECT_EQ(e.code(), 2);
    EXPECT_STREQ(e.what(), "File not found");
    EXPECT_EQ(messages.damaged, 0);
}

TEST_F(CatalogueFiles, ReadsThroughTheSeamWithInterruptions) {
    writeBytes(ListFileName, record("a") + record("1") + record("b") + record("2"));
    FaultyFileSystem fs;
    fs.failOn(Call::Open, 1, EINTR);
    fs.failOn(Call::Read, 1, EINTR, 4);
    listFile.setFileSystem(fs);
    Catalogue c = load();
    EXPECT_EQ(storageNames(c), (Names{"a", "b"}));
    EXPECT_EQ(storageLocations(c), (Names{"1", "2"}));
    EXPECT_EQ(fs.injected(), 5);
    EXPECT_EQ(messages.damaged, 0);
}

// --- Saves that fail ----------------------------------------------------------------------------

class FailingSave : public CatalogueFiles {
protected:
    const std::string oldFile = record("old") + record("place") + record(cp("Ďalší")) + record("miesto");
    Catalogue next;
    std::string nextFile;
    FaultyFileSystem fs;

    void SetUp() override {
        CatalogueFiles::SetUp();
        writeBytes(ListFileName, oldFile);
        ::chmod(ListFileName, 0640);
        for (int k = 0; k < 5; ++k) {
            next.appendLoaded(test::numbered("new ", k), test::numbered("shelf ", k));
            nextFile += record(test::numbered("new ", k)) + record(test::numbered("shelf ", k));
        }
        listFile.setFileSystem(fs);
    }

    // The save fails with the code and leaves the old file as it was, its
    // permissions included, and nothing else behind.
    void expectFailsAndKeepsTheOldFile(int code, const std::string& text) {
        IoError e = ioErrorOf([&] { saveCatalogue(listFile, next); });
        EXPECT_EQ(e.code(), code);
        EXPECT_EQ(e.what(), text);
        EXPECT_GE(fs.injected(), 1) << "the fault was never delivered";
        EXPECT_TRUE(readBytes(ListFileName) == oldFile) << "the old file changed";
        struct ::stat st{};
        ::stat(ListFileName, &st);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        EXPECT_EQ(others(), Names{}) << "a temporary file was left behind";
        EXPECT_FALSE(listFile.isOpen());
    }
};

TEST_F(FailingSave, WhenTheTargetCannotBeOpenedNothingIsWritten) {
    fs.failOn(Call::Open, 1, EACCES);
    expectFailsAndKeepsTheOldFile(5, "File access denied");
    EXPECT_EQ(fs.calls(Call::Open), 1);
    EXPECT_EQ(fs.calls(Call::Write), 0);
}

TEST_F(FailingSave, WhenTheNewFileCannotBeCreated) {
    fs.failOn(Call::Open, 2, ENOSPC);
    expectFailsAndKeepsTheOldFile(101, "Disk full");
    EXPECT_EQ(fs.calls(Call::Write), 0);
}

// Where the new file cannot have the old one's access, the old file is
// rewritten in place; where the file system has no owners or modes to keep
// (FAT, exFAT through FUSE), that is no reason to fail or to leave the way.
TEST_F(FailingSave, AccessThatCannotBeCopiedChoosesTheWayAndNeverFailsTheSave) {
    struct Case {
        Call call;
        int err;
        SaveWay way;
        SaveReason reason;
    };
    for (const Case& c : {Case{Call::CopyAccess, EPERM, SaveWay::InPlace, SaveReason::AccessNotKept},
                          Case{Call::CopyAccess, ENOSYS, SaveWay::Replace, SaveReason::Replaceable},
                          Case{Call::CopyAccess, EOPNOTSUPP, SaveWay::Replace, SaveReason::Replaceable},
                          Case{Call::Open, EACCES, SaveWay::InPlace, SaveReason::FolderNotWritable}}) {
        SCOPED_TRACE(test::numbered(test::numbered("call ", int(c.call)) + " errno ", c.err));
        writeBytes(ListFileName, oldFile);
        ::chmod(ListFileName, 0640);
        struct ::stat st{};
        ::lstat(ListFileName, &st);
        const ino_t before = st.st_ino;
        fs.reset();
        // The second open is the temporary file's.
        fs.failOn(c.call, c.call == Call::Open ? 2 : 1, c.err);
        saveCatalogue(listFile, next);
        EXPECT_EQ(fs.injected(), 1);
        EXPECT_EQ(listFile.lastWay(), c.way);
        EXPECT_EQ(listFile.lastReason(), c.reason);
        EXPECT_TRUE(readBytes(ListFileName) == nextFile);
        ::lstat(ListFileName, &st);
        EXPECT_EQ(st.st_ino == before, c.way == SaveWay::InPlace);
        EXPECT_EQ(others(), Names{});
    }
}

// After the rename the save is done whatever the folder's sync says: the
// failure is kept to be mentioned, never raised as a failed save.
TEST_F(FailingSave, AFolderThatCannotBeSyncedAfterTheRenameLeavesTheSaveDone) {
    for (int err : {EIO, EACCES}) {
        writeBytes(ListFileName, oldFile);
        fs.reset();
        if (err == EIO)
            fs.failOn(Call::Fsync, 2, EIO);   // the second sync is of the folder
        else
            fs.failOn(Call::Open, 3, EACCES);   // old file, temporary, folder
        saveCatalogue(listFile, next);
        EXPECT_EQ(listFile.folderSyncError(), err);
        EXPECT_TRUE(readBytes(ListFileName) == nextFile);
    }
}

// In place, the journal must outlive a power cut before the file changes:
// a folder that cannot be synced once the journal is made stops the save
// there, the old file as it was and no journal left.
TEST_F(FailingSave, InPlaceAJournalWhoseFolderCannotBeSyncedStopsTheSave) {
    ASSERT_EQ(::link(ListFileName, "other.dat"), 0);
    fs.failOn(Call::Fsync, 2, EIO);   // the journal's own sync, then its folder's
    EXPECT_EQ(ioErrorOf([&] { saveCatalogue(listFile, next); }).code(), EIO);
    EXPECT_TRUE(readBytes(ListFileName) == oldFile);
    EXPECT_EQ(others(), Names{"other.dat"});
}

TEST_F(FailingSave, WhenAWriteFails) {
    fs.failOn(Call::Write, 1, EIO);
    expectFailsAndKeepsTheOldFile(EIO, "I/O error 5");
}

TEST_F(FailingSave, WhenTheDiskIsFull) {
    fs.failOn(Call::Write, 1, ENOSPC);
    expectFailsAndKeepsTheOldFile(101, "Disk full");
}

TEST_F(FailingSave, WhenAWriteIsShortAndTheRestFindsTheDiskFull) {
    fs.shortWriteOn(1, 100);
    fs.failOn(Call::Write, 2, ENOSPC);
    expectFailsAndKeepsTheOldFile(101, "Disk full");
}

TEST_F(FailingSave, WhenAWriteStoresNothing) {
    fs.shortWriteOn(1, 0);
    expectFailsAndKeepsTheOldFile(101, "Disk full");
}

TEST_F(FailingSave, WhenFsyncFails) {
    fs.failOn(Call::Fsync, 1, EIO);
    expectFailsAndKeepsTheOldFile(EIO, "I/O error 5");
}

TEST_F(FailingSave, WhenCloseFails) {
    fs.failOn(Call::Close, 2, EDQUOT);  // the first close is of the probe of the old file
    expectFailsAndKeepsTheOldFile(101, "Disk full");
}

TEST_F(FailingSave, WhenRenameFails) {
    fs.failOn(Call::Rename, 1, EXDEV);
    expectFailsAndKeepsTheOldFile(EXDEV, test::numbered("I/O error ", EXDEV));
}

// Only a name that is taken is worth trying another for: a full disk is
// reported as one at once.
TEST_F(FailingSave, WhenNamingTheNewFileFindsTheDiskFull) {
    fs.failOn(Call::Link, 1, ENOSPC, 1000);
    expectFailsAndKeepsTheOldFile(101, "Disk full");
}

TEST_F(FailingSave, WithoutUnnamedFilesAHiddenNamedOneIsUsedAndNothingIsLeft) {
    fs.failOn(Call::Open, 2, EOPNOTSUPP);  // the unnamed temporary file
    saveCatalogue(listFile, next);
    EXPECT_EQ(fs.injected(), 1);
    EXPECT_EQ(fs.calls(Call::Link), 0);
    EXPECT_EQ(fs.calls(Call::Rename), 1);
    EXPECT_TRUE(readBytes(ListFileName) == nextFile);
    EXPECT_EQ(others(), Names{});
    // Named and failing before the rename, it is removed again.
    fs.reset();
    fs.failOn(Call::Open, 2, EOPNOTSUPP);
    fs.failOn(Call::Fsync, 1, EIO);
    ioErrorOf([&] { saveCatalogue(listFile, next); });
    EXPECT_EQ(others(), Names{});
}

TEST_F(FailingSave, AShortWriteThatIsFollowedUpStoresEverything) {
    fs.shortWriteOn(1, 33);
    saveCatalogue(listFile, next);
    EXPECT_EQ(fs.injected(), 1);
    EXPECT_TRUE(readBytes(ListFileName) == nextFile);
    EXPECT_GE(fs.calls(Call::Write), 2);

    // In place (the file has a second name), with every write of the
    // journal and of the catalogue cut short: each goes on where it stopped.
    writeBytes(ListFileName, oldFile);
    ASSERT_EQ(::link(ListFileName, "other.dat"), 0);
    fs.reset();
    for (int nth = 1; nth <= 1000; ++nth)
        fs.shortWriteOn(nth, 5, Call::Pwrite);
    saveCatalogue(listFile, next);
    EXPECT_TRUE(listFile.rewroteInPlace());
    EXPECT_GE(fs.injected(), 2);
    EXPECT_TRUE(readBytes("other.dat") == nextFile);
}

// In place, with every read of the old bytes cut short: the journal still
// holds them exactly, so a save that fails, or is killed and undone at the
// next opening, leaves the file byte for byte as it was.
TEST_F(FailingSave, ShortReadsStillJournalTheOldBytesExactly) {
    ASSERT_EQ(::link(ListFileName, "other.dat"), 0);
    auto cutShort = [](FaultyFileSystem& f) {
        for (int nth = 1; nth <= 10000; ++nth)
            f.shortReadOn(nth, 40, Call::Pread);
    };
    cutShort(fs);
    saveCatalogue(listFile, next);
    ASSERT_TRUE(listFile.rewroteInPlace());
    ASSERT_GT(fs.injected(), 0) << "no read was cut short";
    EXPECT_TRUE(readBytes(ListFileName) == nextFile);
    const int syncs = fs.calls(Call::Fsync);

    for (int nth = 1; nth <= syncs; ++nth) {
        SCOPED_TRACE(test::numbered("sync ", nth) + " fails");
        writeBytes(ListFileName, oldFile);
        fs.reset();
        cutShort(fs);
        fs.failOn(Call::Fsync, nth, EIO);
        bool failed = false;
        try {
            saveCatalogue(listFile, next);
        } catch (const IoError&) {
            failed = true;
        }
        EXPECT_FALSE(listFile.rollbackPending());
        EXPECT_TRUE(readBytes(ListFileName) == (failed ? oldFile : nextFile))
            << (failed ? "not put back as it was" : "not saved");
    }
    for (int step = 1;; ++step) {
        SCOPED_TRACE(test::numbered("killed at step ", step));
        writeBytes(ListFileName, oldFile);
        fs.reset();
        cutShort(fs);
        fs.dieAt(step);
        try {
            saveCatalogue(listFile, next);
        } catch (const IoError&) {
        }
        const bool died = fs.dead();
        FaultyFileSystem opening;
        cutShort(opening);
        const JournalRecovery found = recoverFromJournal(opening, HeldFile::resolve(opening, ListFileName));
        EXPECT_FALSE(found.stuck) << found.reason;
        const std::string now = readBytes(ListFileName);
        EXPECT_TRUE(now == oldFile || (now == nextFile && !found.rolledBack)) << "not put back as it was";
        EXPECT_EQ(others(), Names{"other.dat"}) << "a journal was left";
        if (!died || ::testing::Test::HasFailure())
            break;
    }
}

// A power cut can leave the journal's last segment at its full length but
// with zeros where its bytes never reached the disk; the file has not
// changed then (the segment is synced first), and the opening that finds
// such a journal must leave the file as it is, not write the zeros into it.
TEST_F(FailingSave, AJournalSegmentWhoseBytesNeverReachedTheDiskIsLeftOut) {
    ASSERT_EQ(::link(ListFileName, "other.dat"), 0);
    saveCatalogue(listFile, next);   // which write is the first to the file
    ASSERT_TRUE(listFile.rewroteInPlace());
    const std::string file = std::filesystem::canonical(ListFileName).string();
    int journalWrites = 0;
    for (const FaultyFileSystem::Step& s : fs.steps()) {
        if (s.call == Call::Pwrite && s.file == file)
            break;
        journalWrites += s.call == Call::Pwrite;
    }

    // That write fails, and so does every later one: the file keeps its old
    // bytes, and the journal, which cannot be applied now, stays.
    writeBytes(ListFileName, oldFile);
    fs.reset();
    fs.failOn(Call::Pwrite, journalWrites + 1, EIO, 1000);
    ioErrorOf([&] { saveCatalogue(listFile, next); });
    ASSERT_TRUE(listFile.rollbackPending());
    ASSERT_TRUE(readBytes(ListFileName) == oldFile);
    Names left = others();
    std::erase(left, "other.dat");
    ASSERT_EQ(left.size(), 1u);
    ASSERT_TRUE(left[0].ends_with(".journal"));

    // The old bytes of its segment zeroed, its length kept (RollbackJournal.h
    // lays it out: the header, then the old bytes, then the new ones the
    // failed write announced).
    std::string journal = readBytes(left[0]);
    std::uint32_t pathLength = 0;
    std::uint64_t length = 0;
    ASSERT_GT(journal.size(), 36u);
    std::memcpy(&pathLength, journal.data() + 32, 4);
    const std::size_t segment = 36 + pathLength + 16;
    ASSERT_GE(journal.size(), segment + 32);
    std::memcpy(&length, journal.data() + segment + 16, 8);
    ASSERT_GE(journal.size(), segment + 32 + length + 8) << "no old bytes";
    std::fill_n(journal.begin() + std::ptrdiff_t(segment + 32), length, '\0');
    writeBytes(left[0], journal);

    FileSystem& opening = systemFileSystem();
    const JournalRecovery found = recoverFromJournal(opening, HeldFile::resolve(opening, ListFileName));
    EXPECT_FALSE(found.stuck) << found.reason;
    EXPECT_TRUE(readBytes(ListFileName) == oldFile) << "the zeros were written into the file";
    EXPECT_EQ(others(), Names{"other.dat"});
}

TEST_F(FailingSave, InterruptedCallsAreRetried) {
    fs.failOn(Call::Open, 1, EINTR, 2);
    fs.failOn(Call::Write, 1, EINTR, 2);
    fs.failOn(Call::Fsync, 1, EINTR, 3);
    saveCatalogue(listFile, next);
    EXPECT_EQ(fs.injected(), 7);
    EXPECT_TRUE(readBytes(ListFileName) == nextFile);
    EXPECT_EQ(others(), Names{});
}

TEST_F(FailingSave, ADirectoryThatCannotBeSyncedIsNoFailure) {
    fs.failOn(Call::Fsync, 2, EINVAL);  // the second sync is of the directory
    saveCatalogue(listFile, next);
    EXPECT_EQ(fs.injected(), 1);
    EXPECT_TRUE(readBytes(ListFileName) == nextFile);
}

// Every call of a save made to fail in turn: the file is always either the
// old one or the new one whole, never a mixture; before the rename it is
// the old one; nothing is left behind; and a save that raises nothing has
// written the new file.
TEST_F(FailingSave, AnySingleFailingCallLeavesTheOldOrTheNewFileWhole) {
    saveCatalogue(listFile, next);  // counts the calls of a save over an existing file
    std::map<Call, int> counts;
    for (const CallKind& kind : CallKinds)
        counts[kind.call] = fs.calls(kind.call);
    ASSERT_GE(counts[Call::Write], 1);
    ASSERT_EQ(counts[Call::Rename], 1);

    int faults = 0;
    for (int err : {EIO, ENOSPC}) {
        for (const auto& [call, count] : counts) {
            for (int nth = 1; nth <= count; ++nth) {
                const std::string which = test::numbered(test::numbered("call ", int(call)) + " #", nth);
                SCOPED_TRACE(test::numbered(which + " errno ", err));
                writeBytes(ListFileName, oldFile);
                fs.reset();
                fs.failOn(call, nth, err);
                bool raised = false;
                try {
                    saveCatalogue(listFile, next);
                } catch (const IoError& e) {
                    raised = true;
                    EXPECT_STREQ(e.what(), IoError::fromErrno(err).what());
                }
                faults += fs.injected();
                const std::string now = readBytes(ListFileName);
                EXPECT_TRUE(now == oldFile || now == nextFile) << "a mixture of old and new";
                const bool renamed = fs.calls(Call::Rename) >= 1 && !(call == Call::Rename);
                if (!renamed) {
                    EXPECT_TRUE(now == oldFile) << "changed before the rename";
                }
                if (!raised) {
                    EXPECT_TRUE(now == nextFile) << "no error, yet the new file is not there";
                }
                EXPECT_EQ(others(), Names{});
                EXPECT_FALSE(listFile.isOpen());
                struct ::stat st{};
                ::stat(ListFileName, &st);
                EXPECT_EQ(st.st_mode & 07777, 0640u);
            }
        }
    }
    EXPECT_GE(faults, 2 * 8) << "too few faults reached the save";
}

// --- What the new file keeps of the old --------------------------------------------------

TEST_F(CatalogueFiles, TheNewFileKeepsTheOldPermissionBits) {
    Catalogue c;
    c.appendLoaded("a", "b");
    for (mode_t mode : {0600, 0640, 0604, 0664, 0755}) {
        writeBytes(ListFileName, "");
        ::chmod(ListFileName, mode);
        saveCatalogue(listFile, c);
        struct ::stat st{};
        ASSERT_EQ(::stat(ListFileName, &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
        EXPECT_EQ(readBytes(ListFileName), record("a") + record("b"));
    }
}

TEST_F(CatalogueFiles, ANewFileFollowsTheUmask) {
    const mode_t old = ::umask(027);
    Catalogue c;
    saveCatalogue(listFile, c);
    saveOptions(optionsFile, Switches{});
    ::umask(old);
    struct ::stat st{};
    ASSERT_EQ(::stat(ListFileName, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    ASSERT_EQ(::stat(OptionsFileName, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(CatalogueFiles, ALinkedCatalogueStaysALinkAndItsTargetIsReplaced) {
    ASSERT_EQ(::mkdir("shelf", 0755), 0);
    writeBytes("shelf/real.dat", record("old") + record("one"));
    ASSERT_EQ(::symlink("shelf/real.dat", "middle.dat"), 0);
    ASSERT_EQ(::symlink("middle.dat", ListFileName), 0);
    writeBytes("options.real", std::string("\x00\x00\x00", 3));
    ASSERT_EQ(::symlink((dir.path() / "options.real").c_str(), OptionsFileName), 0);  // an absolute link

    Catalogue c = load();
    EXPECT_EQ(storageNames(c), Names{"old"});
    c.add("new", "two");
    saveCatalogue(listFile, c);
    saveOptions(optionsFile, Switches{true, true, false});

    struct ::stat st{};
    ASSERT_EQ(::lstat(ListFileName, &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::lstat("middle.dat", &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(std::filesystem::read_symlink(ListFileName), "middle.dat");
    EXPECT_EQ(readBytes("shelf/real.dat"), record("old") + record("one") + record("new") + record("two"));
    ASSERT_EQ(::lstat(OptionsFileName, &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(readBytes("options.real"), std::string("\x01\x01\x00", 3));
    EXPECT_EQ(dir.entries(), (Names{"Options.dat", "Zoznam.dat", "middle.dat", "options.real", "shelf"}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("shelf"), {}), 1) << "a temporary file was left";
}

// --- Read-only files, as a user who is not root meets them -------------------------------

// Runs `body` as an unprivileged user (nobody, in `group` as well when one
// is given): in a child that gives up root, or here when the tests do not
// run as root. The body returns 0 on success.
int asUnprivilegedUser(const std::function<int()>& body, gid_t group = 0) {
    if (::geteuid() != 0)
        return body();
    ::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (::setgroups(group ? 1 : 0, &group) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(90);
        // A state folder of nobody's own, for journals of folders he may not write.
        char state[] = "/tmp/vrindel-state-XXXXXX";
        if (!::mkdtemp(state) || ::setenv("XDG_STATE_HOME", state, 1) != 0)
            ::_exit(91);
        const int result = body();
        std::error_code ignored;
        std::filesystem::remove_all(state, ignored);
        ::_exit(result);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

TEST_F(CatalogueFiles, AReadOnlyCatalogueIsRefusedWithCode5BeforeAnythingIsWritten) {
    ::chmod(dir.path().c_str(), 0777);  // the directory is open to all; only the file is not
    writeBytes(ListFileName, record("keep") + record("me"));
    writeBytes(OptionsFileName, std::string("\x01\x01\x01", 3));
    ::chmod(ListFileName, 0444);
    ::chmod(OptionsFileName, 0444);

    const int result = asUnprivilegedUser([&]() -> int {
        Catalogue c;
        c.appendLoaded("new", "place");
        FileVar list, options;
        list.assign(ListFileName);
        options.assign(OptionsFileName);
        try {
            saveCatalogue(list, c);
            return 1;
        } catch (const IoError& e) {
            if (e.code() != 5 || std::string(e.what()) != "File access denied")
                return 2;
        }
        try {
            saveOptions(options, Switches{});
            return 3;
        } catch (const IoError& e) {
            if (e.code() != 5)
                return 4;
        }
        // Opening for reading asks for write access too.
        try {
            RecordingMessages m;
            readCatalogue(list, c, m);
            return 5;
        } catch (const IoError& e) {
            if (e.code() != 5)
                return 6;
        }
        return 0;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(readBytes(ListFileName), record("keep") + record("me"));
    EXPECT_EQ(readBytes(OptionsFileName), std::string("\x01\x01\x01", 3));
    EXPECT_EQ(others(), Names{});
}

// --- The session: what is at the names, other writers, owners --------------------------------

struct Stat {
    bool ok = false;
    struct ::stat st{};
};
Stat lstatOf(const std::string& path) {
    Stat s;
    s.ok = ::lstat(path.c_str(), &s.st) == 0;
    return s;
}

// A window's start-up through the store, as far as it gets; returns the
// error that ended it, or nothing.
struct Started {
    std::optional<IoError> error;
    Catalogue catalogue;
};
Started startSession(CatalogueStore& session, FileMessages& messages, bool commonAtSave = false) {
    Started s;
    try {
        session.ensureCatalogueFile(messages);
        session.ensureOptionsFile();
        session.readOptions([](Switch, bool) {});
        session.readCatalogue(s.catalogue, messages, true, commonAtSave);
    } catch (const IoError& e) {
        s.error = e;
    }
    return s;
}

// Something that is not a regular file, at either name itself or where a
// link at the name leads: start-up reports an error (a folder alone is
// still first reported missing, as it always was), nothing is created over
// it, a close leaves the catalogue alone, and a plain save refuses it.
TEST_F(CatalogueFiles, WhatIsNoRegularFileIsNeverCreatedOverOrReplaced) {
    struct Thing {
        const char* what;
        std::function<void(const std::string& path)> make;
        bool countsAsMissing;
    };
    const std::vector<Thing> things = {
        {"a FIFO", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0666), 0); }, false},
        {"a socket",
         [](const std::string& p) {
             const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             p.copy(address.sun_path, sizeof address.sun_path - 1);
             ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
             ::close(fd);
         },
         false},
        // A private copy of the null device; making one needs root.
        {"a device node",
         [](const std::string& p) {
             if (::mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
                 ASSERT_EQ(::mkfifo(p.c_str(), 0666), 0);
             }
         },
         false},
        {"a folder", [](const std::string& p) { ASSERT_EQ(::mkdir(p.c_str(), 0777), 0); }, true},
        {"a link loop", [](const std::string& p) { ASSERT_EQ(::symlink(p.c_str(), p.c_str()), 0); }, false},
        {"a link into a missing folder",
         [](const std::string& p) { ASSERT_EQ(::symlink("gone/x.dat", p.c_str()), 0); }, false},
    };
    Catalogue next;
    next.appendLoaded("new", "place");
    for (const Thing& thing : things) {
        for (const char* name : {ListFileName, OptionsFileName}) {
            for (bool throughLink : {false, true}) {
                SCOPED_TRACE(std::string(thing.what) + (throughLink ? " behind a link at " : " at ") + name);
                const bool linkThing = std::string(thing.what).find("link") != std::string::npos;
                if (throughLink && linkThing)
                    continue;
                std::filesystem::remove_all("odd");
                std::filesystem::remove(ListFileName);
                std::filesystem::remove(OptionsFileName);
                const std::string where = throughLink ? "odd" : name;
                const bool atList = std::string(name) == ListFileName;
                // The other file is a sound one.
                if (atList)
                    writeBytes(OptionsFileName, std::string("\x01\x00\x01", 3));
                else
                    writeBytes(ListFileName, record("a") + record("b"));
                thing.make(where);
                if (throughLink) {
                    ASSERT_EQ(::symlink("odd", name), 0);
                }
                const Stat before = lstatOf(where);
                ASSERT_TRUE(before.ok);

                RecordingMessages m;
                CatalogueStore session;
                Started started = startSession(session, m);
                ASSERT_TRUE(started.error.has_value()) << "start-up read what is no file";
                EXPECT_EQ(m.missing, atList && thing.countsAsMissing ? 1 : 0);
                EXPECT_FALSE(session.catalogueRead());
                try {
                    raised(session.saveCatalogue(started.catalogue));
                    raised(session.saveOptions(Switches{}));
                } catch (const IoError&) {
                }
                FileVar& plain = atList ? listFile : optionsFile;
                ioErrorOf([&] {
                    if (atList)
                        saveCatalogue(plain, next);
                    else
                        saveOptions(plain, Switches{});
                });

                const Stat after = lstatOf(where);
                ASSERT_TRUE(after.ok) << "it was removed";
                EXPECT_EQ(after.st.st_mode, before.st.st_mode) << "it was replaced";
                EXPECT_EQ(after.st.st_ino, before.st.st_ino) << "it was replaced";
                EXPECT_EQ(after.st.st_rdev, before.st.st_rdev);
                if (throughLink) {
                    EXPECT_TRUE(std::filesystem::is_symlink(name));
                }
                for (const std::string& other : others())
                    EXPECT_EQ(other, "odd") << "left behind";
            }
        }
    }
}

// Since start-up the name has come to lead to another of the user's files:
// nothing is written through it, and the close says so.
TEST_F(CatalogueFiles, ANameSwappedForALinkToAnotherFileIsNotWrittenThrough) {
    writeBytes(ListFileName, record("a") + record("1"));
    writeBytes(OptionsFileName, std::string("\x01\x00\x01", 3));
    writeBytes("diary.txt", "my own words");
    CatalogueStore session;
    Started started = startSession(session, messages);
    ASSERT_FALSE(started.error);
    started.catalogue.add("b", "2");
    for (const char* name : {ListFileName, OptionsFileName}) {
        std::filesystem::remove(name);
        ASSERT_EQ(::symlink("diary.txt", name), 0);
    }
    EXPECT_EQ(ioErrorOf([&] { raised(session.saveCatalogue(started.catalogue)); }).code(), io::FileChanged);
    IoError e = ioErrorOf([&] { raised(session.saveOptions(Switches{false, false, false})); });
    EXPECT_EQ(e.code(), io::FileChanged);
    EXPECT_STREQ(e.what(), "File was replaced by another program");
    EXPECT_EQ(readBytes("diary.txt"), "my own words");
    EXPECT_EQ(others(), Names{"diary.txt"});
}

// A folder on the way to the catalogue renamed and replaced by a link to
// another folder: the save still knows the folder it read from, writes
// nothing into the other catalogue, and says the file was replaced.
TEST_F(CatalogueFiles, AFolderSwappedOnTheWayNeverRedirectsTheSave) {
    ASSERT_EQ(::mkdir("sub", 0755), 0);
    ASSERT_EQ(::mkdir("other", 0755), 0);
    writeBytes("sub/Zoznam.dat", record("Orig") + record("o"));
    writeBytes("sub/Options.dat", std::string("\x01\x00\x01", 3));
    writeBytes("other/Zoznam.dat", record("Other") + record("o"));
    ASSERT_EQ(::symlink("sub/Zoznam.dat", ListFileName), 0);
    ASSERT_EQ(::symlink("sub/Options.dat", OptionsFileName), 0);
    CatalogueStore session;
    ASSERT_EQ(session.open().lock, LockState::Held);
    Started started = startSession(session, messages);
    ASSERT_FALSE(started.error);
    started.catalogue.add("Typed", "t");
    ASSERT_EQ(::rename("sub", "sub.old"), 0);
    ASSERT_EQ(::symlink("other", "sub"), 0);
    EXPECT_EQ(ioErrorOf([&] { raised(session.saveCatalogue(started.catalogue)); }).code(), io::FileChanged);
    EXPECT_EQ(ioErrorOf([&] { raised(session.saveOptions(Switches{false, false, false})); }).code(), io::FileChanged);
    EXPECT_TRUE(readBytes("other/Zoznam.dat") == record("Other") + record("o"));
    EXPECT_FALSE(std::filesystem::exists("other/Options.dat"));
    EXPECT_TRUE(readBytes("sub.old/Zoznam.dat") == record("Orig") + record("o"));
}

// Switches are written back only when they changed, and never into a file
// that could not be read: a link to the user's notes stays his notes, and
// another user's link in a shared folder is never written through.
TEST_F(CatalogueFiles, OptionsAreWrittenOnlyWhenReadAndChanged) {
    writeBytes(ListFileName, record("a") + record("1"));
    writeBytes("notes.txt", "my notes line\n");
    ASSERT_EQ(::symlink("notes.txt", OptionsFileName), 0);
    {
        CatalogueStore session;
        Started started = startSession(session, messages);
        ASSERT_FALSE(started.error);
        raised(session.saveChangedCatalogue(started.catalogue));
        // As read (every byte was not zero), but no switches file: saved as
        // one, its bytes kept beside it first.
        const SaveReport report = raised(session.saveOptions(Switches{true, true, true}));
        EXPECT_EQ(readBytes("notes.txt"), std::string("\x01\x01\x01", 3));
        ASSERT_EQ(report.keptDamaged.size(), 1u);
        EXPECT_EQ(readBytes(report.keptDamaged[0]), "my notes line\n");
        EXPECT_TRUE(readBytes(ListFileName) == record("a") + record("1"));
        std::filesystem::remove(report.keptDamaged[0]);
        writeBytes("notes.txt", "my notes line\n");
    }
    if (::geteuid() != 0)
        return;
    ASSERT_EQ(::chmod(".", 01777), 0);
    ASSERT_EQ(::lchown(OptionsFileName, 1234, 1234), 0);
    CatalogueStore session;
    Started started = startSession(session, messages);
    ASSERT_TRUE(started.error);
    EXPECT_EQ(started.error->code(), io::AccessDenied);
    raised(session.saveOptions(Switches{false, false, false}));
    EXPECT_EQ(readBytes("notes.txt"), "my notes line\n");
    ::chmod(".", 0700);
}

// Three versions meet at a save: the catalogue as read, as changed here,
// and as another program (or a sync engine) left the file. A change made
// on one side only is taken; a record both sides changed differently keeps
// this side's version and the other goes to the conflict file.
TEST_F(CatalogueFiles, ASaveMergesThreeWaysWithTheCatalogueAsRead) {
    using Edit = std::function<void(Catalogue&)>;
    const Edit none = [](Catalogue&) {};
    const auto relocate = [](const char* name, const char* to) {
        return Edit([=](Catalogue& c) { c.relocateAtDisplay(c.findInDisplay(name), to); });
    };
    const auto remove = [](const char* name) { return Edit([=](Catalogue& c) { c.deleteAtDisplay(c.findInDisplay(name)); }); };
    const auto rename = [](const char* name, const char* to) {
        return Edit([=](Catalogue& c) { c.renameAtDisplay(c.findInDisplay(name), to); });
    };
    const auto add = [](const char* name, const char* location) {
        return Edit([=](Catalogue& c) { c.add(name, location); });
    };
    const Edit addedAndTakenBack = [](Catalogue& c) {
        c.add("Delta", "4");
        c.deleteAtDisplay(c.findInDisplay("Delta"));
    };
    struct Case {
        const char* what;
        Edit here;
        std::string theirs;   // the file as the other side left it
        std::string saved;
        std::string conflicts;
    };
    const std::string a = record("Alfa") + record("1"), b = record("Beta") + record("2"), g = record("Gama") + record("3");
    const std::string header = "name,location\r\n";
    const std::vector<Case> cases = {
        {"they add", none, a + b + g + record("Delta") + record("4"), a + b + g + record("Delta") + record("4"), ""},
        {"they delete", none, a + g, a + g, ""},
        {"they rename", none, a + record("Bety") + record("2") + g, a + g + record("Bety") + record("2"), ""},
        {"they relocate", none, a + record("Beta") + record("9") + g, a + record("Beta") + record("9") + g, ""},
        {"they relocate and append", none, a + record("Beta") + record("9") + g + record("Delta") + record("4"),
         a + record("Beta") + record("9") + g + record("Delta") + record("4"), ""},
        {"they change the letter case", none, a + record("BETA") + record("2") + g, a + record("BETA") + record("2") + g, ""},
        {"here added", add("Delta", "4"), a + b + g, a + b + g + record("Delta") + record("4"), ""},
        {"here deleted", remove("Beta"), a + b + g, a + g, ""},
        {"here renamed", rename("Beta", "Bety"), a + b + g, a + record("Bety") + record("2") + g, ""},
        {"here relocated", relocate("Beta", "8"), a + b + g, a + record("Beta") + record("8") + g, ""},
        {"both relocate alike", relocate("Beta", "8"), a + record("Beta") + record("8") + g,
         a + record("Beta") + record("8") + g, ""},
        {"both relocate differently", relocate("Beta", "8"), a + record("Beta") + record("9") + g,
         a + record("Beta") + record("8") + g, header + "Beta,9\r\n"},
        {"deleted here, relocated there", remove("Beta"), a + record("Beta") + record("9") + g, a + g,
         header + "Beta,9\r\n"},
        {"relocated here, deleted there", relocate("Beta", "8"), a + g, a + record("Beta") + record("8") + g, ""},
        {"both add alike", add("Delta", "4"), a + b + g + record("Delta") + record("4"),
         a + b + g + record("Delta") + record("4"), ""},
        {"both add differently", add("Delta", "4"), a + b + g + record("Delta") + record("5"),
         a + b + g + record("Delta") + record("4"), header + "Delta,5\r\n"},
        {"added and taken back here, added there", addedAndTakenBack, a + b + g + record("Delta") + record("5"),
         a + b + g + record("Delta") + record("5"), ""},
    };
    // A change that only appends and relocates (an import) may leave the
    // catalogue as read to be worked out at the save from what it relocated.
    const std::pair<const char*, const char*> asRead[] = {{"Alfa", "1"}, {"Beta", "2"}, {"Gama", "3"}};
    std::vector<std::pair<Case, bool>> runs;
    for (const Case& c : cases)
        for (const bool atSave : {false, true})
            runs.emplace_back(c, atSave);
    // Behind the three, as many records again as a large catalogue has, whose
    // common version is taken beside the start-up's name order.
    std::string large;
    for (int k = 0; k < 60000; ++k)
        large += record(std::to_string(k).insert(0, 1, 'F')) + record("x");
    for (const std::string& before : {std::string(), large})
    for (const auto& [c, commonAtSave] : runs) {
        if (!before.empty() && commonAtSave)
            continue;
        SCOPED_TRACE(c.what + std::string(before.empty() ? "" : ", in a large catalogue"));
        SCOPED_TRACE(commonAtSave ? "the catalogue as read worked out at the save" : "the catalogue as read kept");
        for (const std::string& f : others())
            std::filesystem::remove(f);
        writeBytes(ListFileName, before + a + b + g);
        CatalogueStore store;
        Started started = startSession(store, messages, commonAtSave);
        ASSERT_FALSE(started.error);
        c.here(started.catalogue);
        std::vector<std::pair<int, std::string_view>> readWith;
        for (int j = 0; j < 3 && commonAtSave; ++j) {
            if (j >= started.catalogue.storageCount() || started.catalogue.storageName(j).view() != asRead[j].first)
                readWith.emplace_back(-1, "");   // deleted or renamed: no append
            else if (started.catalogue.storageLocation(j).view() != asRead[j].second)
                readWith.emplace_back(j, asRead[j].second);
        }
        if (commonAtSave && !readWith.empty() && readWith.front().first < 0)
            continue;
        writeBytes("their.tmp", before + c.theirs);
        std::filesystem::rename("their.tmp", ListFileName);
        const SaveReport report = raised(commonAtSave ? store.saveAppended(started.catalogue, readWith)
                                                      : store.saveCatalogue(started.catalogue));
        EXPECT_TRUE(readBytes(ListFileName) == before + c.saved);
        EXPECT_EQ(report.conflicts, c.conflicts.empty() ? 0u : 1u);
        const Names conflictFiles = others();
        EXPECT_EQ(conflictFiles.empty() ? std::string() : readBytes(conflictFiles.front()), c.conflicts);
        if (!conflictFiles.empty()) {
            EXPECT_TRUE(std::regex_match(conflictFiles.front(), std::regex(R"(Zoznam\.dat-conflicts-\d{8}-\d{6}\.csv)")))
                << conflictFiles.front();
        }
        // A second save of the same catalogue, its file now this save's,
        // keeps what the first one merged.
        raised(store.saveCatalogue(started.catalogue));
        EXPECT_TRUE(readBytes(ListFileName) == before + c.saved);
    }
}

// A window kept open after a save (its switches could not be saved): what
// it changes from then on is measured from what it saved, so a record it
// added and saved, then deleted, stays deleted, whether or not the first
// save took records of another program.
TEST_F(CatalogueFiles, AfterASaveTheNextMergesFromWhatWasSaved) {
    for (bool tookTheirs : {false, true}) {
        SCOPED_TRACE(tookTheirs ? "the first save took another program's record" : "the first save took nothing");
        writeBytes(ListFileName, record("Alfa") + record("1"));
        CatalogueStore store;
        Started started = startSession(store, messages);
        ASSERT_FALSE(started.error);
        started.catalogue.add("Beta", "2");
        if (tookTheirs)
            std::ofstream(ListFileName, std::ios::binary | std::ios::app) << record("Gama") + record("3");
        raised(store.saveCatalogue(started.catalogue));
        started.catalogue.deleteAtDisplay(started.catalogue.findInDisplay("Beta"));
        std::ofstream(ListFileName, std::ios::binary | std::ios::app) << record("Delta") + record("4");
        raised(store.saveCatalogue(started.catalogue));
        EXPECT_TRUE(readBytes(ListFileName) == record("Alfa") + record("1") +
                                                   (tookTheirs ? record("Gama") + record("3") : std::string()) +
                                                   record("Delta") + record("4"));
        EXPECT_EQ(others(), Names{});
    }
}

// The switches merge one by one: the one changed here is saved, one the
// other side changed meanwhile is not turned back.
TEST_F(CatalogueFiles, SwitchesMergeOneByOne) {
    writeBytes(ListFileName, record("a") + record("1"));
    writeBytes(OptionsFileName, std::string("\x01\x00\x01", 3));
    CatalogueStore store;
    Started started = startSession(store, messages);
    ASSERT_FALSE(started.error);
    writeBytes(OptionsFileName, std::string("\x01\x01\x00", 3));   // there: both of the others
    raised(store.saveOptions(Switches{false, false, true}));       // here: the first, and the second as read
    EXPECT_EQ(readBytes(OptionsFileName), std::string("\x00\x01\x00", 3));
}

// Another program changes the catalogue while it is open: by appending to
// it, or by putting a new file in its place. The records it added survive
// the close after the window's own; those the catalogue cannot take (a name
// the window has with another location, deleted or renamed here, or one the
// other program wrote twice) go to one conflict file, written once; a record
// that is already there byte for byte is simply there. A second close
// (after a failed one) keeps them all.
TEST_F(CatalogueFiles, RecordsAnotherProgramAddedSurviveTheClose) {
    for (bool replaced : {false, true}) {
        SCOPED_TRACE(replaced ? "the other program replaced the file" : "the other program appended");
        const std::string start = record("Alfa") + record("1") + record("Beta") + record("2") + record("Gama") + record("3");
        writeBytes(ListFileName, start);
        writeBytes(OptionsFileName, std::string("\x00\x00\x00", 3));
        FaultyFileSystem fs;
        CatalogueStore session({}, fs);
        Started s = startSession(session, messages);
        ASSERT_FALSE(s.error);
        s.catalogue.add("Delta", "4");                        // added here
        s.catalogue.deleteAtDisplay(s.catalogue.findInDisplay("Beta"));
        s.catalogue.renameAtDisplay(s.catalogue.findInDisplay("Gama"), "Gamma");

        const std::string theirs = start + record("Epsilon") + record("5") +
                                   record("delta") + record("six") +     // the window added Delta
                                   record("alfa") + record("x") +        // the window has Alfa at 1
                                   record("beta") + record("y") +        // deleted here
                                   record("gama") + record("z") +        // renamed here
                                   record("Zeta") + record("7") + record("ZETA") + record("8") +
                                   record("Epsilon") + record("5") +     // theirs, twice
                                   record("Alfa") + record("1");         // the window's, byte for byte
        if (replaced) {
            writeBytes("their.tmp", theirs);
            std::filesystem::rename("their.tmp", ListFileName);
        } else {
            writeBytes(ListFileName, theirs);
        }
        // The first close fails at the options; the second saves both.
        const SaveReport first = raised(session.saveCatalogue(s.catalogue));
        fs.reset();
        fs.failOn(Call::Lstat, 1, EIO, 100);
        EXPECT_EQ(ioErrorOf([&] { raised(session.saveOptions(Switches{})); }).code(), EIO);
        EXPECT_EQ(first.conflicts, 5u);
        const Names conflictFiles = others();
        ASSERT_EQ(conflictFiles.size(), 1u);
        EXPECT_EQ(first.conflictFile, (std::filesystem::current_path() / conflictFiles[0]).string());
        EXPECT_EQ(readBytes(conflictFiles[0]), "name,location\r\ndelta,six\r\nalfa,x\r\nbeta,y\r\ngama,z\r\nZETA,8\r\n");
        fs.reset();
        const SaveReport second = raised(session.saveCatalogue(s.catalogue));
        raised(session.saveOptions(Switches{}));
        EXPECT_EQ(second.conflicts, 0u);

        EXPECT_EQ(second.merged, 2u);
        EXPECT_TRUE(readBytes(ListFileName) == record("Alfa") + record("1") + record("Gamma") + record("3") +
                                                   record("Delta") + record("4") + record("Epsilon") + record("5") +
                                                   record("Zeta") + record("7"));
        EXPECT_EQ(others(), conflictFiles);
        std::filesystem::remove(conflictFiles[0]);
    }
    // Two written within the same second: the second never replaces the first.
    const HeldFile here = HeldFile::resolve(systemFileSystem(), ListFileName);
    const std::string first = writeConflictFile(systemFileSystem(), here, {{RecordText("a"), RecordText("1")}});
    const std::string second = writeConflictFile(systemFileSystem(), here, {{RecordText("b"), RecordText("2")}});
    EXPECT_NE(first, second);
    EXPECT_EQ(readBytes(first), "name,location\r\na,1\r\n");
    EXPECT_EQ(readBytes(second), "name,location\r\nb,2\r\n");
}

// A conflict file is durable, its name in its folder too, by the time it is
// written: beside the catalogue, or in the user's state folder when the
// catalogue's folder refuses new files.
TEST_F(CatalogueFiles, AConflictFileAndItsNameAreSyncedOnceWritten) {
    for (bool besideTheCatalogue : {true, false}) {
        SCOPED_TRACE(besideTheCatalogue ? "beside the catalogue" : "in the state folder");
        ScratchDir state;
        test::StateHomeAt stateHome(state.path());
        FaultyFileSystem fs;
        if (!besideTheCatalogue)
            fs.failOn(Call::Open, 1, EACCES);
        const HeldFile here = HeldFile::resolve(fs, ListFileName);
        const std::string written = writeConflictFile(fs, here, {{RecordText("a"), RecordText("1")}});
        EXPECT_EQ(readBytes(written), "name,location\r\na,1\r\n");
        const std::filesystem::path file = std::filesystem::canonical(written);
        const std::filesystem::path folder = besideTheCatalogue ? dir.path() : state.path() / "vrindel";
        EXPECT_EQ(file.parent_path(), std::filesystem::canonical(folder));

        const auto& steps = fs.steps();
        auto last = [&](Call call, const std::filesystem::path& which) {
            auto it = std::find_if(steps.rbegin(), steps.rend(),
                                   [&](auto& s) { return s.call == call && s.file == which; });
            return it == steps.rend() ? -1 : int(steps.rend() - it) - 1;
        };
        ASSERT_GE(last(Call::Write, file), 0);
        EXPECT_GT(last(Call::Fsync, file), last(Call::Write, file)) << "the file was not synced";
        EXPECT_GT(last(Call::Fsync, file.parent_path()), last(Call::Write, file)) << "its folder was not synced";
        std::filesystem::remove(written);
    }
}

// A conflict file holds the catalogue's records: whoever may not read the
// catalogue may not read it either. It has the catalogue's owner, group,
// mode and access list as a save gives them; a user who may not give a
// file away keeps it with the catalogue's group and access. And names
// planted at every numbered name it could take (links to elsewhere) cannot
// stop it or lead it: it takes a name of its own.
TEST_F(CatalogueFiles, AConflictFileIsAsPrivateAsTheCatalogueAndTakesANameOfItsOwn) {
    const bool root = ::geteuid() == 0;
    const mode_t umaskWas = ::umask(022);
    struct Row {
        const char* what;
        uid_t owner;
        gid_t group;
        mode_t mode;
        const char* acl;        // set on the catalogue, expected on the conflict file
        bool asNobody;          // written as uid 65534 in group `group`
        uid_t expectedOwner;
    };
    const uid_t me = ::geteuid();
    const gid_t myGroup = ::getegid();
    const gid_t staff = 50;
    std::vector<Row> rows = {
        {"a private catalogue", me, myGroup, 0600, nullptr, false, me},
        {"an access list", me, myGroup, 0640, "u::rw-,u:1235:r--,g::r--,m::r--,o::---", false, me},
    };
    if (root) {
        rows.push_back({"root writes for nobody's private catalogue", 65534, 65534, 0600, nullptr, false, 65534});
        rows.push_back({"a group member writes for root's group catalogue", 0, staff, 0660, nullptr, true, 65534});
    }
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        ScratchDir d;
        ASSERT_EQ(::chmod(d.path().c_str(), 0777), 0);
        const std::string list = d.file(ListFileName);
        writeBytes(list, record("a") + record("1"));
        ASSERT_EQ(::chown(list.c_str(), r.owner, r.group), 0);
        ASSERT_EQ(::chmod(list.c_str(), r.mode), 0);
        if (r.acl) {
            acl_t acl = ::acl_from_text(r.acl);
            ASSERT_NE(acl, nullptr);
            const int set = ::acl_set_file(list.c_str(), ACL_TYPE_ACCESS, acl);
            ::acl_free(acl);
            if (set != 0)
                continue;   // no access lists on this file system
        }
        std::string written;
        const auto write = [&]() -> int {
            try {
                const HeldFile held = HeldFile::resolve(systemFileSystem(), list);
                written = writeConflictFile(systemFileSystem(), held, {{RecordText("b"), RecordText("2")}});
                // The child's answer: the file it wrote is beside the catalogue.
                return std::filesystem::path(written).parent_path() == d.path() ? 0 : 1;
            } catch (const IoError&) {
                return 2;
            }
        };
        ASSERT_EQ(r.asNobody ? asUnprivilegedUser(write, r.group) : write(), 0);
        Names conflicts;
        for (const std::string& name : d.entries())
            if (name != ListFileName)
                conflicts.push_back(name);
        ASSERT_EQ(conflicts.size(), 1u);
        const Stat file = lstatOf(d.file(conflicts[0]));
        EXPECT_EQ(file.st.st_uid, r.expectedOwner);
        EXPECT_EQ(file.st.st_gid, r.group);
        EXPECT_EQ(file.st.st_mode & 07777, r.mode);
        if (r.acl) {
            acl_t acl = ::acl_get_file(d.file(conflicts[0]).c_str(), ACL_TYPE_ACCESS);
            ASSERT_NE(acl, nullptr);
            char* text = ::acl_to_any_text(acl, nullptr, ',', 0);
            EXPECT_STREQ(text, "user::rw-,user:1235:r--,group::r--,mask::r--,other::---");
            ::acl_free(text);
            ::acl_free(acl);
        }
    }
    ::umask(umaskWas);

    // Links at every numbered name of this second and the next two.
    writeBytes("elsewhere.txt", "theirs");
    const std::time_t now = std::time(nullptr);
    for (std::time_t t = now; t < now + 3; ++t) {
        std::tm local{};
        ::localtime_r(&t, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
        const std::string stem = std::string(ListFileName) + "-conflicts-" + stamp;
        for (int n = 1; n < 1000; ++n)
            ASSERT_EQ(::symlink("elsewhere.txt", (stem + (n > 1 ? "-" + std::to_string(n) : "") + ".csv").c_str()), 0);
    }
    writeBytes(ListFileName, record("a") + record("1"));
    const HeldFile here = HeldFile::resolve(systemFileSystem(), ListFileName);
    const std::string written = writeConflictFile(systemFileSystem(), here, {{RecordText("b"), RecordText("2")}});
    const Stat file = lstatOf(written);
    ASSERT_TRUE(file.ok);
    EXPECT_TRUE(S_ISREG(file.st.st_mode));
    EXPECT_EQ(std::filesystem::path(written).parent_path(), std::filesystem::current_path());
    EXPECT_EQ(readBytes(written), "name,location\r\nb,2\r\n");
    EXPECT_EQ(readBytes("elsewhere.txt"), "theirs");
}

// A catalogue read whole but not as a save writes it (a name without its
// location, a part of a record at its end), and switches that are not three
// bytes of 0 and 1: the first close saves them as they are in memory, after
// keeping their exact bytes beside them, with their access; and a file that
// went while the session was open is brought back. Sound files and a
// second close write nothing.
TEST_F(CatalogueFiles, TheFirstCloseMendsAFileNotAsSavedAndBringsBackOneThatWent) {
    const std::string sound = record("a") + record("1");
    struct Row {
        const char* what;
        std::string list;
        std::string options;
        bool removeOptions;       // while the session is open
        std::string listAfter;
        std::string optionsAfter;
    };
    const std::vector<Row> rows = {
        {"sound files", sound, std::string("\x00\x01\x00", 3), false, sound, std::string("\x00\x01\x00", 3)},
        {"a name without its location", sound + record("b"), std::string("\x00\x01\x00", 3), false, sound,
         std::string("\x00\x01\x00", 3)},
        {"a part of a record at the end", sound + std::string(6, '\x05'), std::string("\x00\x01\x00", 3), false,
         sound, std::string("\x00\x01\x00", 3)},
        {"switches of five bytes", sound, std::string("\x02\x00\xFF\x00\x01", 5), false, sound,
         std::string("\x01\x00\x01", 3)},
        {"switches of one byte", sound, std::string("\x00", 1), false, sound, std::string("\x00\x01\x01", 3)},
        {"switches removed while open", sound, std::string("\x00\x01\x00", 3), true, sound,
         std::string("\x00\x01\x00", 3)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        ScratchDir d;
        const std::string list = d.file(ListFileName), options = d.file(OptionsFileName);
        writeBytes(list, r.list);
        writeBytes(options, r.options);
        ASSERT_EQ(::chmod(list.c_str(), 0640), 0);
        ASSERT_EQ(::chmod(options.c_str(), 0604), 0);
        const Stat listBefore = lstatOf(list), optionsBefore = lstatOf(options);
        for (int close = 1; close <= 2; ++close) {
            SCOPED_TRACE(close == 1 ? "the first session" : "the next session");
            CatalogueStore session(d.path().string());
            RecordingMessages m;
            Switches read{true, true, true};
            Catalogue c;
            session.ensureCatalogueFile(m);
            session.ensureOptionsFile();
            session.readOptions([&](Switch which, bool on) {
                (which == Switch::Zoradit ? read.zoradit : which == Switch::DelPlaceBox ? read.delPlaceBox : read.delExt) = on;
            });
            session.readCatalogue(c, m);
            if (close == 2) {
                EXPECT_EQ(m.damaged, 0) << "the damaged message again";
            }
            if (r.removeOptions && close == 1)
                std::filesystem::remove(options);
            const SaveReport report = session.saveAll(c, read);
            ASSERT_TRUE(report.ok());
            const SaveReport again = session.saveAll(c, read);
            EXPECT_TRUE(again.ok() && again.keptDamaged.empty());
            EXPECT_TRUE(readBytes(list) == r.listAfter);
            EXPECT_EQ(readBytes(options), r.optionsAfter);

            // What was kept: the bytes as they were, once, beside the file,
            // as private as it.
            Names kept;
            for (const std::string& name : d.entries())
                if (name != ListFileName && name != OptionsFileName)
                    kept.push_back(name);
            if (close == 2) {
                EXPECT_TRUE(report.keptDamaged.empty());
                continue;
            }
            Names expectedKept;
            if (r.list != r.listAfter)
                expectedKept.push_back(ListFileName);
            if (!r.removeOptions && r.options != r.optionsAfter)
                expectedKept.push_back(OptionsFileName);
            ASSERT_EQ(kept.size(), expectedKept.size());
            ASSERT_EQ(report.keptDamaged.size(), expectedKept.size());
            for (std::size_t k = 0; k < kept.size(); ++k) {
                const bool ofList = expectedKept[k] == ListFileName;
                EXPECT_TRUE(std::regex_match(kept[k], std::regex(expectedKept[k] + R"(\.damaged-\d{8}-\d{6})")))
                    << kept[k];
                EXPECT_EQ(std::filesystem::path(report.keptDamaged[k]).filename(), kept[k]);
                EXPECT_TRUE(readBytes(d.file(kept[k])) == (ofList ? r.list : r.options));
                EXPECT_EQ(lstatOf(d.file(kept[k])).st.st_mode & 07777, ofList ? 0640u : 0604u);
            }
            // Untouched unless written: the very file, not a copy.
            if (r.list == r.listAfter) {
                EXPECT_EQ(lstatOf(list).st.st_ino, listBefore.st.st_ino);
            }
            if (r.options == r.optionsAfter && !r.removeOptions) {
                EXPECT_EQ(lstatOf(options).st.st_ino, optionsBefore.st.st_ino);
            }
        }
    }
}

// A save in place killed at any of its steps: the next session that opens
// the catalogue finds it whole, as it was or as saved, never a mix; it says
// when it put the file back, and no journal is left. Through a second hard
// link (the journal beside the file) and as a user who may not write the
// folder (the journal in his state folder); growing, shrinking and changing
// a record in the middle.
TEST_F(CatalogueFiles, AnInPlaceSaveKilledAtAnyStepIsRolledBackAtTheNextOpening) {
    struct Edit {
        const char* what;
        std::function<void(Catalogue&)> apply;
    };
    const std::vector<Edit> edits = {
        {"two records added", [](Catalogue& c) { c.add("Nový", "CD 9"); c.add("Ďalší", "CD 10"); }},
        {"the first record deleted", [](Catalogue& c) { c.deleteAtDisplay(c.findInDisplay("N000")); }},
        {"the last records deleted (the file only gets shorter)", [](Catalogue& c) {
             c.deleteAtDisplay(c.findInDisplay("N099"));
             c.deleteAtDisplay(c.findInDisplay("N098"));
         }},
        {"a record in the middle renamed", [](Catalogue& c) { c.renameAtDisplay(c.findInDisplay("N050"), "Iný"); }},
    };
    std::string old;
    for (int i = 0; i < 100; ++i) {
        char name[8], location[8];
        std::snprintf(name, sizeof name, "N%03d", i);
        std::snprintf(location, sizeof location, "L%d", i);
        old += record(name) + record(location);
    }

    // Returns what went wrong, or nothing.
    auto trial = [&](const std::string& folder, const Edit& edit) -> std::string {
        const std::string list = folder + "/" + ListFileName, options = folder + "/" + OptionsFileName;
        int rolledBack = 0;
        for (int step = 1;; ++step) {
            writeBytes(list, old);
            std::string saved;
            bool died = false;
            {
                FaultyFileSystem fs;
                CatalogueStore session(folder, fs);
                RecordingMessages m;
                if (session.open().lock != LockState::Held)
                    return "no lock";
                Started started = startSession(session, m);
                if (started.error)
                    return std::string("start: ") + started.error->what();
                edit.apply(started.catalogue);
                fs.dieAt(step);
                const SaveReport report = session.saveCatalogue(started.catalogue);
                died = fs.dead();
                if (!died && !report.inPlace)
                    return "not saved in place";
                Catalogue expected = started.catalogue;
                for (int j = 0; j < expected.storageCount(); ++j)
                    saved += record(expected.storageName(j).str()) + record(expected.storageLocation(j).str());
            }
            CatalogueStore next(folder);
            if (next.open().lock != LockState::Held)
                return "no lock at step " + std::to_string(step);
            rolledBack += next.opening().rolledBack;
            const std::string now = readBytes(list);
            if (now != old && now != saved)
                return "torn after a kill at step " + std::to_string(step);
            if (next.opening().rolledBack && now != old)
                return "said it rolled back at step " + std::to_string(step) + " but did not";
            for (const auto& entry : std::filesystem::directory_iterator(folder))
                if (entry.path().extension() == ".journal")
                    return "a journal left after step " + std::to_string(step);
            if (!died)
                return rolledBack > 0 ? "" : "never rolled back";
        }
    };
    for (const Edit& edit : edits) {
        SCOPED_TRACE(edit.what);
        ScratchDir hardLinked;
        writeBytes(hardLinked.file(ListFileName), old);
        ASSERT_EQ(::link(hardLinked.file(ListFileName).c_str(), hardLinked.file("other.dat").c_str()), 0);
        EXPECT_EQ(trial(hardLinked.path().string(), edit), "");
        if (::geteuid() != 0)
            continue;
        ScratchDir locked;
        const std::string folder = locked.file("shared");
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        writeBytes(folder + "/" + ListFileName, old);
        writeBytes(folder + "/" + OptionsFileName, std::string("\x01\x01\x01", 3));
        ASSERT_EQ(::chown((folder + "/" + ListFileName).c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown((folder + "/" + OptionsFileName).c_str(), 65534, 65534), 0);
        ::chmod(locked.path().c_str(), 0755);
        EXPECT_EQ(asUnprivilegedUser([&] {
                      const std::string problem = trial(folder, edit);
                      std::fprintf(stderr, "%s", problem.c_str());
                      return problem.empty() ? 0 : 1;
                  }),
                  0);
    }
}

// The parts of a journal's header, to forge one as anyone could
// (RollbackJournal.h lays it out; its checksum is no secret).
struct JournalHeader {
    char version = '2';
    std::uint64_t device = 0, inode = 0, length = 0, newLength = 0;
    std::string path;
    std::string rest;   // the segments

    static JournalHeader parse(const std::string& bytes) {
        JournalHeader h;
        h.version = bytes.at(6);
        std::uint32_t pathLength = 0;
        std::memcpy(&h.device, bytes.data() + 8, 8);
        std::memcpy(&h.inode, bytes.data() + 16, 8);
        std::memcpy(&h.length, bytes.data() + 24, 8);
        std::memcpy(&pathLength, bytes.data() + 32, 4);
        h.path = bytes.substr(36, pathLength);
        std::memcpy(&h.newLength, bytes.data() + 36 + pathLength, 8);
        h.rest = bytes.substr(36 + pathLength + 16);
        return h;
    }
    std::string bytes() const {
        std::string out = "VRJRNL2\n";
        out[6] = version;
        auto put = [&](std::uint64_t v) { out.append(reinterpret_cast<const char*>(&v), 8); };
        put(device);
        put(inode);
        put(length);
        const auto pathLength = std::uint32_t(path.size());
        out.append(reinterpret_cast<const char*>(&pathLength), 4);
        out += path;
        if (version == '2')
            put(newLength);
        put(ContentHash::of(out.data(), out.size()));
        return out + rest;
    }
    // As the first version wrote it: no new length, and one segment of
    // offset, length, old bytes and checksum.
    std::string firstVersion() const {
        JournalHeader h = *this;
        h.version = '1';
        std::uint64_t head[4];
        std::memcpy(head, rest.data(), sizeof head);
        const std::string old = rest.substr(32, head[2]);
        h.rest.assign(reinterpret_cast<const char*>(head + 1), 16);
        ContentHash sum;
        sum.update(head + 1, 16);
        sum.update(old.data(), old.size());
        const std::uint64_t digest = sum.digest();
        h.rest += old + std::string(reinterpret_cast<const char*>(&digest), 8);
        return h.bytes();
    }
};

// Files named like a journal of the catalogue that its own saves could not
// have left: each is told of and left where it is, and the catalogue is not
// touched; a journal a killed save left (of either version) puts the file
// back. Every row starts from a save in place killed after the file
// changed, and then plants, changes or replaces what is at the journal's
// name, as another user, a sync engine or a restored backup would.
TEST_F(CatalogueFiles, OnlyAJournalThisCataloguesSaveCouldHaveLeftIsApplied) {
    std::string old;
    for (int i = 0; i < 100; ++i) {
        char name[8], location[8];
        std::snprintf(name, sizeof name, "N%03d", 100 + i);
        std::snprintf(location, sizeof location, "L%d", i);
        old += record(name) + record(location);
    }
    const std::string backup = record("Záloha") + record("CD 1");
    const bool root = ::geteuid() == 0;
    struct Row {
        const char* what;
        std::function<void(const std::string& folder, const std::string& journal)> plant;
        std::optional<JournalRefusal> refused;   // nothing: applied
        bool asRoot = false;
    };
    auto rewriteHeader = [](const std::string& journal, const std::function<void(JournalHeader&)>& change) {
        JournalHeader h = JournalHeader::parse(readBytes(journal));
        change(h);
        writeBytes(journal, h.bytes());
    };
    const std::vector<Row> rows = {
        {"as the killed save left it", [](auto&, auto&) {}, std::nullopt},
        {"of the first version", [](auto&, const std::string& j) { writeBytes(j, JournalHeader::parse(readBytes(j)).firstVersion()); },
         std::nullopt},
        {"owned by another user",
         [](auto&, const std::string& j) { ASSERT_EQ(::chown(j.c_str(), 1234, 1234), 0); }, JournalRefusal::Foreign, true},
        {"of the first version, owned by another user",
         [](auto&, const std::string& j) {
             writeBytes(j, JournalHeader::parse(readBytes(j)).firstVersion());
             ASSERT_EQ(::chown(j.c_str(), 1234, 1234), 0);
         },
         JournalRefusal::Foreign, true},
        {"a link to a journal elsewhere",
         [](const std::string& folder, const std::string& j) {
             std::filesystem::rename(j, folder + "/elsewhere");
             std::filesystem::create_symlink(folder + "/elsewhere", j);
         },
         JournalRefusal::NotRegular},
        {"a FIFO", [](auto&, const std::string& j) { std::filesystem::remove(j); ASSERT_EQ(::mkfifo(j.c_str(), 0600), 0); },
         JournalRefusal::NotRegular},
        {"writable by the group", [](auto&, const std::string& j) { ::chmod(j.c_str(), 0620); }, JournalRefusal::Writable},
        {"naming another path",
         [&](auto&, const std::string& j) { rewriteHeader(j, [](JournalHeader& h) { h.path = "/tmp/Zoznam.dat"; }); },
         JournalRefusal::OtherFile},
        {"naming another inode",
         [&](auto&, const std::string& j) { rewriteHeader(j, [](JournalHeader& h) { h.inode += 1; }); },
         JournalRefusal::OtherFile},
        {"an old length of 16 GiB",
         [&](auto&, const std::string& j) { rewriteHeader(j, [](JournalHeader& h) { h.length = std::uint64_t(1) << 34; }); },
         JournalRefusal::Oversized},
        {"the catalogue restored from a backup since (same inode)",
         [&](const std::string& folder, auto&) { writeBytes(folder + "/" + ListFileName, backup); },
         JournalRefusal::Changed},
        {"the catalogue restored from a backup of the same length since",
         [&](const std::string& folder, auto&) {
             std::string same = old;
             same.replace(same.size() - 64, 32, record("Iný"));
             writeBytes(folder + "/" + ListFileName, same);
         },
         JournalRefusal::Changed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.asRoot && !root)
            continue;
        ScratchDir scratch;
        const std::string folder = scratch.path().string(), list = folder + "/" + ListFileName;
        writeBytes(list, old);
        ASSERT_EQ(::link(list.c_str(), (folder + "/other.dat").c_str()), 0);   // saved in place
        // The first step that leaves the file changed and its journal there.
        std::string journal;
        for (int step = 1; journal.empty() && step < 200; ++step) {
            writeBytes(list, old);
            FaultyFileSystem fs;
            FileVar file(fs);
            file.assign(list);
            Catalogue c;
            RecordingMessages m;
            readCatalogue(file, c, m);
            ASSERT_EQ(c.storageCount(), 100);
            c.deleteAtDisplay(50);
            fs.dieAt(step);
            try {
                saveCatalogue(file, c);
            } catch (const IoError&) {
            }
            for (const auto& entry : std::filesystem::directory_iterator(folder))
                if (entry.path().extension() == ".journal") {
                    if (readBytes(list) != old)
                        journal = entry.path().string();
                    else
                        std::filesystem::remove(entry.path());
                }
        }
        ASSERT_FALSE(journal.empty()) << "no kill left a journal";
        row.plant(folder, journal);
        if (::testing::Test::HasFatalFailure())
            return;
        const std::string before = readBytes(list);

        CatalogueStore store(folder);
        const Opening& opening = store.open();
        ASSERT_EQ(opening.lock, LockState::Held);
        if (!row.refused) {
            EXPECT_TRUE(opening.rolledBack);
            EXPECT_TRUE(opening.refusedJournals.empty());
            EXPECT_TRUE(readBytes(list) == old) << "not put back";
            EXPECT_FALSE(std::filesystem::exists(journal));
            continue;
        }
        EXPECT_FALSE(opening.rolledBack);
        EXPECT_FALSE(opening.rollbackStuck);
        ASSERT_EQ(opening.refusedJournals.size(), 1u);
        EXPECT_EQ(opening.refusedJournals[0].journal, journal);
        EXPECT_EQ(opening.refusedJournals[0].why, *row.refused);
        EXPECT_TRUE(readBytes(list) == before) << "the catalogue was written";
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(journal))) << "the journal was removed";
        // A save goes on beside it, and leaves it too.
        Catalogue c;
        RecordingMessages m;
        if (store.readCatalogue(c, m)) {
            c.add("Nový", "CD 2");
            EXPECT_TRUE(store.saveCatalogue(c).ok());
            EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(journal)));
        }
    }
}

// A reader never sees half a save: with a writer stopped between two
// writes of an in-place rewrite, a reader waits for it, and reads the new
// catalogue whole once it goes on.
TEST_F(CatalogueFiles, AReaderWaitsForASaveInPlaceStoppedHalfway) {
    std::string old;
    for (int i = 0; i < 10000; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "N%05d", i);
        old += record(name) + record("L");
    }
    writeBytes(ListFileName, old);
    ASSERT_EQ(::link(ListFileName, "other.dat"), 0);
    const std::string catalogue = std::filesystem::canonical(ListFileName).string();

    // Stops itself before its second write to the catalogue, the first done.
    class Stopping : public FaultyFileSystem {
    public:
        explicit Stopping(std::string file) : file_(std::move(file)) {}
        ssize_t pwrite(int fd, const void* b, std::size_t n, off_t at) override {
            char link[64], target[4096];
            std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
            const ssize_t len = ::readlink(link, target, sizeof target);
            if (len > 0 && std::string(target, std::size_t(len)) == file_ && ++writes_ == 2)
                ::raise(SIGSTOP);
            return FaultyFileSystem::pwrite(fd, b, n, at);
        }

    private:
        std::string file_;
        int writes_ = 0;
    };
    ::fflush(nullptr);
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        Stopping fs(catalogue);
        CatalogueStore store("", fs);
        RecordingMessages m;
        Started started = startSession(store, m);
        if (started.error)
            ::_exit(1);
        started.catalogue.deleteAtDisplay(0);
        const SaveReport report = store.saveCatalogue(started.catalogue);
        ::_exit(report.ok() && report.inPlace ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(writer, &status, WUNTRACED), writer);
    ASSERT_TRUE(WIFSTOPPED(status)) << "the writer ended before it was half-way";
    ASSERT_TRUE(readBytes(ListFileName) != old) << "nothing written yet";

    std::thread goOn([writer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ::kill(writer, SIGCONT);
    });
    CatalogueStore reader;
    const Opening& opening = reader.openForLooking();
    Catalogue read;
    RecordingMessages m;
    const bool whole = !opening.saveInProgress && reader.readCatalogue(read, m);
    goOn.join();
    ASSERT_EQ(::waitpid(writer, &status, 0), writer);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(whole);
    EXPECT_EQ(read.storageCount(), 9999) << "half a save was read";
    EXPECT_TRUE(read.repeatedNames().empty()) << "half a save was read";
    EXPECT_EQ(storageNames(read).front(), "N00001");
}

// A FIFO (or anything but a regular file) named like a journal in the state
// folder is told of without being opened for long: nothing hangs. The state
// folder is $XDG_STATE_HOME/vrindel, or ~/.local/state/vrindel when that is
// not an absolute path.
TEST_F(CatalogueFiles, AFifoInTheStateFolderIsRefusedWithoutWaiting) {
    writeBytes(ListFileName, record("keep") + record("me"));
    struct ::stat st{};
    ASSERT_EQ(::stat(ListFileName, &st), 0);
    char name[80];
    std::snprintf(name, sizeof name, "%llu-%llu-0123456789abcdef.journal", (unsigned long long)st.st_dev,
                  (unsigned long long)st.st_ino);
    const char* wasState = std::getenv("XDG_STATE_HOME");
    const char* wasHome = std::getenv("HOME");
    const std::string savedState = wasState ? wasState : "", savedHome = wasHome ? wasHome : "";
    ScratchDir scratch;
    struct Place {
        std::string state, home;
        std::filesystem::path folder;
    };
    const Place places[] = {
        {scratch.file("state"), "/nonexistent", scratch.path() / "state" / "vrindel"},
        {"relative/state", scratch.file("home"), scratch.path() / "home" / ".local" / "state" / "vrindel"},
    };
    for (const Place& place : places) {
        SCOPED_TRACE(place.state);
        ASSERT_EQ(::setenv("XDG_STATE_HOME", place.state.c_str(), 1), 0);
        ASSERT_EQ(::setenv("HOME", place.home.c_str(), 1), 0);
        std::filesystem::create_directories(place.folder);
        const std::string fifo = (place.folder / name).string();
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        for (bool looking : {false, true}) {
            CatalogueStore store;
            const Opening& opening = looking ? store.openForLooking() : store.open();
            ASSERT_EQ(opening.refusedJournals.size(), 1u);
            EXPECT_EQ(opening.refusedJournals[0].journal, fifo);
            EXPECT_EQ(opening.refusedJournals[0].why, JournalRefusal::NotRegular);
        }
        EXPECT_TRUE(std::filesystem::is_fifo(fifo));
        std::filesystem::remove(fifo);
    }
    for (const auto& [variable, was, saved] : {std::tuple{"XDG_STATE_HOME", wasState, savedState},
                                               std::tuple{"HOME", wasHome, savedHome}}) {
        if (was)
            ::setenv(variable, saved.c_str(), 1);
        else
            ::unsetenv(variable);
    }
}

// Past a file-size limit (ulimit -f) a save fails as on a full disk, with
// its own text, and the old file stays as it was, whichever way it is saved:
// the process is not killed by SIGXFSZ.
TEST_F(CatalogueFiles, AFileSizeLimitIsASaveErrorAndTheFileStaysAsItWas) {
    std::string old;
    for (int i = 0; i < 100; ++i)
        old += record(std::to_string(i)) + record("L");
    for (bool hardLink : {false, true}) {
        SCOPED_TRACE(hardLink ? "in place" : "replaced");
        writeBytes(ListFileName, old);
        writeBytes(OptionsFileName, std::string("\x01\x01\x01", 3));
        if (hardLink) {
            ASSERT_EQ(::link(ListFileName, "other.dat"), 0);
        }
        ::fflush(nullptr);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const rlimit limit{4096, 4096};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            CatalogueStore session;
            RecordingMessages m;
            Started started = startSession(session, m);
            started.catalogue.add("Nový", "DVD");
            try {
                raised(session.saveCatalogue(started.catalogue));
            } catch (const IoError& e) {
                ::_exit(e.code() == io::FileTooLarge && std::string(e.what()) == "File too large" ? 0 : 2);
            }
            ::_exit(1);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_TRUE(readBytes(ListFileName) == old);
        EXPECT_EQ(others(), hardLink ? Names{"other.dat"} : Names{});
        std::filesystem::remove("other.dat");
    }
}

// Another program appends while a save is under way, after the merge and
// before the new file takes the old one's place: the save merges again, so
// that what it appended is kept; one that never stops makes the save give
// up with KeepsChanging, and the file keeps all it appended.
TEST_F(CatalogueFiles, RecordsAppendedDuringASaveAreMergedAgainOrTheSaveGivesUp) {
    // Appends one record each time the save syncs its new file.
    class AppendingFileSystem : public FaultyFileSystem {
    public:
        int appendsLeft = 0;
        int appended = 0;
        int fsync(int fd) override {
            if (appendsLeft > 0) {
                --appendsLeft;
                ++appended;
                std::ofstream(ListFileName, std::ios::binary | std::ios::app)
                    << record("Their" + std::to_string(appended)) << record("X");
            }
            return FaultyFileSystem::fsync(fd);
        }
    };
    for (int appends : {1, 3, 100}) {
        SCOPED_TRACE(appends);
        const std::string start = record("Alfa") + record("1");
        writeBytes(ListFileName, start);
        writeBytes(OptionsFileName, std::string("\x01\x01\x01", 3));
        AppendingFileSystem fs;
        CatalogueStore session({}, fs);
        Started started = startSession(session, messages);
        started.catalogue.add("Beta", "2");
        fs.appendsLeft = appends;
        std::string theirs;
        if (appends < 5) {
            SaveReport report;
            EXPECT_NO_THROW(report = raised(session.saveCatalogue(started.catalogue)));
            EXPECT_EQ(report.merged, std::size_t(appends));
            for (int i = 1; i <= appends; ++i)
                theirs += record("Their" + std::to_string(i)) + record("X");
            EXPECT_TRUE(readBytes(ListFileName) == start + record("Beta") + record("2") + theirs);
        } else {
            EXPECT_EQ(ioErrorOf([&] { raised(session.saveCatalogue(started.catalogue)); }).code(), io::KeepsChanging);
            for (int i = 1; i <= fs.appended; ++i)
                theirs += record("Their" + std::to_string(i)) + record("X");
            EXPECT_TRUE(readBytes(ListFileName) == start + theirs);
        }
        EXPECT_EQ(others(), Names{});
    }
}

// An in-place save reserves room for all it will write, the records merged
// from another program included, so that a full disk refuses it before the
// first byte changes rather than in the middle.
TEST_F(CatalogueFiles, AnInPlaceSaveReservesRoomForTheMergedRecordsToo) {
    class Reserving : public FaultyFileSystem {
    public:
        off_t reserved = 0;
        int fallocate(int fd, off_t offset, off_t length) override {
            reserved = std::max(reserved, offset + length);
            return FaultyFileSystem::fallocate(fd, offset, length);
        }
    };
    writeBytes(ListFileName, record("Alfa") + record("1"));
    ASSERT_EQ(::link(ListFileName, "other.dat"), 0);
    Reserving fs;
    CatalogueStore session({}, fs);
    Started started = startSession(session, messages);
    std::string theirs;
    for (int i = 0; i < 50; ++i)
        theirs += record("Their" + std::to_string(i)) + record("X");
    std::ofstream(ListFileName, std::ios::binary | std::ios::app) << theirs;
    started.catalogue.add("Beta", "2");
    const SaveReport report = raised(session.saveCatalogue(started.catalogue));
    ASSERT_TRUE(report.inPlace);
    EXPECT_EQ(report.merged, 50u);
    EXPECT_EQ(std::uint64_t(fs.reserved), readBytes(ListFileName).size());
}

// A save keeps the old file's mode, owner and group however it writes:
// root gives the new file away; a user who may not, or who may not write
// the folder, or whose file has other names, has it rewritten in place.
TEST_F(CatalogueFiles, ASaveKeepsModeOwnerGroupAndLinks) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "files of another user need root to set up";
    const std::string content = record("keep") + record("me");
    Catalogue next;
    next.appendLoaded("new", "place");
    next.appendLoaded(cp("Ďalší"), "miesto");
    const std::string saved = record("new") + record("place") + record(cp("Ďalší")) + record("miesto");

    struct Setting {
        const char* what;
        uid_t fileOwner;
        gid_t fileGroup;
        mode_t fileMode;
        mode_t folderMode;
        bool asNobody;         // the save runs as uid 65534
        gid_t alsoInGroup;     // ... with this supplementary group
        bool hardLink;
        bool inPlace;
    };
    const gid_t staff = 50;
    const std::vector<Setting> settings = {
        {"root saves nobody's 0600 files", 65534, 65534, 0600, 0755, false, 0, false, false},
        {"root saves a setgid file of another group", 65534, staff, 02640, 0755, false, 0, false, false},
        {"a group member saves root's file in a group folder", 0, staff, 0660, 0770, true, staff, false, true},
        {"nobody saves in a folder he may not write", 65534, 65534, 0640, 0555, true, 0, false, true},
        {"a group member saves root's file in a sticky folder", 0, staff, 0660, 01777, true, staff, false, true},
        {"a catalogue with a second hard link", 65534, 65534, 0644, 0755, false, 0, true, true},
        {"nobody saves his own file of a group he is a member of", 65534, staff, 0640, 0770, true, staff, false, false},
    };
    for (const Setting& s : settings) {
        SCOPED_TRACE(s.what);
        ScratchDir d;
        const std::string folder = d.file("shared");
        ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
        const std::string list = folder + "/" + ListFileName, options = folder + "/" + OptionsFileName;
        writeBytes(list, content);
        writeBytes(options, std::string("\x00\x00\x00", 3));
        for (const std::string& f : {list, options}) {
            ASSERT_EQ(::chown(f.c_str(), s.fileOwner, s.fileGroup), 0);
            ASSERT_EQ(::chmod(f.c_str(), s.fileMode), 0);
        }
        if (s.hardLink) {
            ASSERT_EQ(::link(list.c_str(), (d.path() / "elsewhere.dat").c_str()), 0);
        }
        ASSERT_EQ(::chown(folder.c_str(), 0, s.folderMode & 01000 ? 0 : s.fileGroup), 0);
        ASSERT_EQ(::chmod(folder.c_str(), s.folderMode), 0);
        ::chmod(d.path().c_str(), 0755);
        const Stat before = lstatOf(list);

        const std::function<int()> save = [&]() -> int {
                CatalogueStore session(folder);
                RecordingMessages m;
                Started started = startSession(session, m);
                if (started.error)
                    return 10;
                SaveReport report;
                try {
                    report = raised(session.saveCatalogue(next));
                    raised(session.saveOptions(Switches{true, true, true}));
                } catch (const IoError& e) {
                    return 20 + e.code() % 10;
                }
                return report.inPlace == s.inPlace ? 0 : 30;
        };
        const int result = s.asNobody ? asUnprivilegedUser(save, s.alsoInGroup) : save();
        EXPECT_EQ(result, 0);
        ::chmod(folder.c_str(), 0755);
        EXPECT_TRUE(readBytes(list) == saved);
        EXPECT_EQ(readBytes(options), std::string("\x01\x01\x01", 3));
        for (const std::string& f : {list, options}) {
            const Stat now = lstatOf(f);
            EXPECT_EQ(now.st.st_uid, s.fileOwner) << f;
            EXPECT_EQ(now.st.st_gid, s.fileGroup) << f;
            EXPECT_EQ(now.st.st_mode & 07777, s.fileMode) << f;
        }
        const Stat after = lstatOf(list);
        if (s.inPlace) {
            EXPECT_EQ(after.st.st_ino, before.st.st_ino) << "not rewritten in place";
        }
        if (s.hardLink) {
            EXPECT_TRUE(readBytes((d.path() / "elsewhere.dat").string()) == saved) << "the other name was detached";
        }
        Names left;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            left.push_back(entry.path().filename().string());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (Names{OptionsFileName, ListFileName})) << "a temporary file was left";
    }
}

// A save never widens who may read or write the file: its access control
// list and extended attributes go to the new file, and the owning group
// does not gain the mask's write access.
TEST_F(CatalogueFiles, ASaveKeepsTheAccessListAndExtendedAttributes) {
    for (const char* name : {ListFileName, OptionsFileName}) {
        SCOPED_TRACE(name);
        writeBytes(name, std::string(64, '\0'));
        acl_t acl = ::acl_from_text("u::rw-,u:1235:rw-,g::r--,m::rw-,o::---");
        ASSERT_NE(acl, nullptr);
        const int set = ::acl_set_file(name, ACL_TYPE_ACCESS, acl);
        ::acl_free(acl);
        if (set != 0 || ::setxattr(name, "user.note", "hello", 5, 0) != 0)
            GTEST_SKIP() << "this file system keeps no access lists or user attributes";
    }
    FileVar l, o;
    l.assign(ListFileName);
    o.assign(OptionsFileName);
    Catalogue next;
    next.appendLoaded("new", "place");
    saveCatalogue(l, next);
    saveOptions(o, Switches{});
    EXPECT_EQ(l.lastWay(), SaveWay::Replace);
    for (const char* name : {ListFileName, OptionsFileName}) {
        SCOPED_TRACE(name);
        acl_t acl = ::acl_get_file(name, ACL_TYPE_ACCESS);
        ASSERT_NE(acl, nullptr);
        char* text = ::acl_to_any_text(acl, nullptr, ',', 0);
        EXPECT_STREQ(text, "user::rw-,user:1235:rw-,group::r--,mask::rw-,other::---");
        ::acl_free(text);
        ::acl_free(acl);
        char note[16] = {};
        EXPECT_EQ(::getxattr(name, "user.note", note, sizeof note), 5);
        EXPECT_STREQ(note, "hello");
    }
    EXPECT_TRUE(readBytes(ListFileName) == record("new") + record("place"));
}

// A kill in the middle of a save leaves nothing the next start or save
// does not remove: a temporary file of a process that is gone goes, those
// of live processes stay.
TEST_F(CatalogueFiles, TemporaryFilesOfKilledSavesGoAtTheNextStartAndSave) {
    std::string big;
    Catalogue many;
    for (int k = 0; k < 60000; ++k) {
        many.appendLoaded(test::numbered("n", k), test::numbered("l", k));
        big += record(test::numbered("n", k)) + record(test::numbered("l", k));
    }
    writeBytes(ListFileName, record("old") + record("one"));
    for (int round = 0; round < 12; ++round) {
        ::fflush(nullptr);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            try {
                FileVar l;
                l.assign(ListFileName);
                for (;;)
                    saveCatalogue(l, many);
            } catch (...) {
            }
            ::_exit(1);
        }
        ::usleep(useconds_t(3000 + 4000 * round));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        const std::string now = readBytes(ListFileName);
        EXPECT_TRUE(now == big || now == record("old") + record("one")) << "a mixture after a kill";
    }
    // What a kill between naming the new file and renaming it leaves, and
    // what a live process is writing.
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const std::string stale = test::numbered(".Zoznam.dat.tmp-", gone) + "-7";
    const std::string staleOptions = test::numbered(".Options.dat.tmp-", gone) + "-u2";
    const std::string live = test::numbered(".Zoznam.dat.tmp-", ::getppid()) + "-1";
    // Tagged by computer: this one's from an earlier boot is stale whatever
    // its process id; another computer's (a sync engine carried it here)
    // is never taken for this one's, and neither is its journal.
    const std::string earlierBoot = ".Zoznam.dat.tmp-" + machineTag() + "00000000-" + std::to_string(::getpid()) + "-3";
    const std::string otherComputer = ".Zoznam.dat.tmp-" + std::string(machineTag() == "0badf00d" ? "1badf00d" : "0badf00d") +
                                      "00000000-" + std::to_string(gone) + "-4";
    const std::string otherJournal = std::string("Zoznam.dat.") + (machineTag() == "0badf00d" ? "1badf00d" : "0badf00d") +
                                     ".1-2.journal";
    for (const std::string& f : {stale, staleOptions, live, earlierBoot, otherComputer, otherJournal})
        writeBytes(f, "x");
    writeBytes("unrelated.tmp-1-1", "y");

    CatalogueStore session;
    ASSERT_EQ(session.open().lock, LockState::Held);
    auto sortedNames = [](Names names) {
        std::sort(names.begin(), names.end());
        return names;
    };
    EXPECT_EQ(sortedNames(others()), sortedNames({live, otherComputer, otherJournal, "unrelated.tmp-1-1"}));
    EXPECT_EQ(sortedNames(session.otherComputersLeftovers()), sortedNames({otherComputer, otherJournal}));
    writeBytes(stale, "x");
    saveCatalogue(listFile, many);
    EXPECT_EQ(sortedNames(others()), sortedNames({live, otherComputer, otherJournal, "unrelated.tmp-1-1"}));
}

// One writer per catalogue: a second session on the folder is refused, and
// touches nothing.
TEST_F(CatalogueFiles, ASecondSessionOnTheFolderIsRefused) {
    CatalogueStore first;
    ASSERT_EQ(first.open().lock, LockState::Held);
    CatalogueStore second;
    EXPECT_EQ(second.open().lock, LockState::Busy);
    EXPECT_EQ(others(), Names{});
    EXPECT_FALSE(std::filesystem::exists(ListFileName)) << "a refused session touched the files";
}

// What a session that reaches the catalogue through `name` finds; its lock
// goes when it returns.
LockState lockThrough(const std::string& name) {
    CatalogueStore other(folderOf(name));
    return other.open().lock;
}

// The lock belongs to the catalogue, not to the path: whatever path reaches
// the file, a second session is refused, before and after the first has
// saved (a save that replaces the file moves the lock with it), and is let
// in once the first has ended.
TEST_F(CatalogueFiles, ASecondSessionIsRefusedWhateverPathReachesTheCatalogue) {
    struct Shape {
        const char* what;
        std::function<bool()> make;   // false: this machine cannot make it
        std::string name;             // the catalogue's name by that path
    };
    const std::string here = dir.path().string();
    const std::vector<Shape> shapes = {
        {"the same name", [] { return true; }, ListFileName},
        {"an absolute path", [] { return true; }, here + "/" + ListFileName},
        {"a symbolic link in another folder",
         [] { return ::mkdir("B", 0755) == 0 && ::symlink("../Zoznam.dat", "B/Zoznam.dat") == 0; }, "B/Zoznam.dat"},
        {"a symlinked folder", [] { return ::symlink(".", "L") == 0; }, "L/Zoznam.dat"},
        {"a hard link in another folder",
         [] { return ::mkdir("H", 0755) == 0 && ::link(ListFileName, "H/Zoznam.dat") == 0; }, "H/Zoznam.dat"},
        {"a bind mount",
         [] { return ::mkdir("M", 0755) == 0 && std::system("mount --bind . M 2>/dev/null") == 0; }, "M/Zoznam.dat"},
    };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.what);
        writeBytes(ListFileName, record("a") + record("1"));
        writeBytes(OptionsFileName, std::string("\x01\x00\x01", 3));
        if (!shape.make()) {
            std::cout << "[ SKIPPED  ] " << shape.what << ": cannot be made here\n";
            continue;
        }
        auto trySession = [&] { return lockThrough(shape.name); };
        {
            CatalogueStore first;
            ASSERT_EQ(first.open().lock, LockState::Held);
            EXPECT_EQ(trySession(), LockState::Busy);
            Started started = startSession(first, messages);
            ASSERT_FALSE(started.error);
            started.catalogue.add("b", "2");
            raised(first.saveCatalogue(started.catalogue));
            EXPECT_EQ(trySession(), LockState::Busy) << "the lock stayed with the old file";
        }
        EXPECT_EQ(trySession(), LockState::Held);
        if (std::string(shape.what) == "a bind mount")
            std::system("umount M");
    }
}

// A folder that may be written but not read cannot be locked: the file
// carries the lock, and after a save that replaced it the new file does.
TEST_F(CatalogueFiles, InAFolderThatCannotBeReadTheFileCarriesTheLock) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to drop to another user, for whom the folder's mode counts";
    writeBytes(ListFileName, record("a") + record("1"));
    writeBytes(OptionsFileName, std::string("\x01\x00\x01", 3));
    for (const char* f : {ListFileName, OptionsFileName})
        ASSERT_EQ(::chown(f, 65534, 65534), 0);
    ASSERT_EQ(::chown(".", 65534, 65534), 0);
    ASSERT_EQ(::chmod(".", 0300), 0);
    const int result = asUnprivilegedUser([&]() -> int {
        auto trySession = [] { return lockThrough(ListFileName); };
        CatalogueStore first;
        if (first.open().lock != LockState::Held)
            return 1;
        if (trySession() != LockState::Busy)
            return 2;
        RecordingMessages m;
        Started started = startSession(first, m);
        if (started.error)
            return 3;
        started.catalogue.add("b", "2");
        if (raised(first.saveCatalogue(started.catalogue)).inPlace)
            return 4;
        return trySession() == LockState::Busy ? 0 : 5;
    });
    ::chmod(".", 0755);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(readBytes(ListFileName) == record("a") + record("1") + record("b") + record("2"));
}

// A catalogue its user may write but not read, in such a folder: the file
// still carries the lock, opened for writing alone.
TEST_F(CatalogueFiles, AWriteOnlyCatalogueInAFolderThatCannotBeReadStillCarriesTheLock) {
    writeBytes(ListFileName, record("a") + record("1"));
    ASSERT_EQ(::chmod(ListFileName, 0200), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(ListFileName, 65534, 65534), 0);
        ASSERT_EQ(::chown(".", 65534, 65534), 0);
    }
    ASSERT_EQ(::chmod(".", 0300), 0);
    const int result = asUnprivilegedUser([]() -> int {
        const CatalogueLock first = CatalogueLock::tryAcquire(ListFileName);
        if (!first.held())
            return 1;
        return CatalogueLock::tryAcquire(ListFileName).busy() ? 0 : 2;
    });
    ::chmod(".", 0755);
    if (result == 90)
        GTEST_SKIP() << "cannot drop root here";
    EXPECT_EQ(result, 0) << (result == 1 ? "the first lock was not taken" : "a second lock was let in");
    ::chmod(ListFileName, 0600);
    EXPECT_TRUE(readBytes(ListFileName) == record("a") + record("1"));
}

}  // namespace
}  // namespace vrindel
