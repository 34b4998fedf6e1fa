// A save on a file system that is really full: a small tmpfs mounted for the
// test, filled to the last block. Needs root (or the right to mount);
// skipped otherwise.

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "records/Catalogue.h"
#include "store/format/CatalogueFiles.h"
#include "store/format/FileLayer.h"
#include "TestFiles.h"

using namespace vrindel;
using namespace vrindel::testing;

namespace {

class SmallTmpfs {
public:
    explicit SmallTmpfs(const std::filesystem::path& where) : where_(where) {
        if (::mount("vrindel-full", where.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=256k,mode=0755") == 0)
            mounted_ = true;
        else
            error_ = std::strerror(errno);
    }
    ~SmallTmpfs() {
        if (mounted_)
            ::umount2(where_.c_str(), MNT_DETACH);
    }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& error() const { return error_; }

private:
    std::filesystem::path where_;
    bool mounted_ = false;
    std::string error_;
};

// Writes a file until the file system refuses more.
void fillUp(const std::filesystem::path& path) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::setvbuf(f, nullptr, _IONBF, 0);
    const std::string block(4096, 'x');
    while (std::fwrite(block.data(), 1, block.size(), f) == block.size()) {
    }
    // Then byte by byte, so not even a part of a block is left.
    while (std::fwrite("x", 1, 1, f) == 1) {
    }
    std::fclose(f);
}

TEST(FullDisk, SaveOnAFullFileSystemSaysDiskFullAndKeepsTheOldFiles) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root; the full-disk save was not tried";
    ScratchDir dir;
    SmallTmpfs disk(dir.path());
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << disk.error() << "); the full-disk save was not tried";

    const Records before = madeUpRecords(10, 8);
    const Records after = madeUpRecords(1000, 9);   // 64000 bytes, far more than is left
    const std::string listBefore = catalogueBytes(before);
    const std::string optionsBefore = optionsBytes(false, true, false);
    putFile(dir.file(ListFileName), listBefore, 0644);
    putFile(dir.file(OptionsFileName), optionsBefore, 0644);
    fillUp(dir.path() / "filler");

    Catalogue catalogue;
    for (const auto& [name, location] : after)
        catalogue.appendLoaded(name, location);
    FileVar listFile, optionsFile;
    listFile.assign(dir.file(ListFileName));
    optionsFile.assign(dir.file(OptionsFileName));
    const std::set<std::string> expectedEntries = {ListFileName, OptionsFileName, "filler"};

    try {
        saveCatalogue(listFile, catalogue);
        ADD_FAILURE() << "a catalogue larger than the space left was saved";
    } catch (const IoError& e) {
        EXPECT_EQ(e.code(), io::DiskFull);
        EXPECT_STREQ(e.what(), "Disk full");
    }
    EXPECT_TRUE(fileBytes(dir.file(ListFileName)) == listBefore) << "the old catalogue file was changed";
    EXPECT_EQ(entriesOf(dir.path()), expectedEntries);

    // Even three bytes of options need a block that is not there.
    try {
        saveOptions(optionsFile, Switches{true, false, true});
        ADD_FAILURE() << "the options were saved on a full file system";
    } catch (const IoError& e) {
        EXPECT_EQ(e.code(), io::DiskFull);
        EXPECT_STREQ(e.what(), "Disk full");
    }
    EXPECT_TRUE(fileBytes(dir.file(OptionsFileName)) == optionsBefore) << "the old options file was changed";
    EXPECT_EQ(entriesOf(dir.path()), expectedEntries);

    // Space made, the same file variables save both.
    std::filesystem::remove(dir.path() / "filler");
    EXPECT_NO_THROW(saveCatalogue(listFile, catalogue));
    EXPECT_NO_THROW(saveOptions(optionsFile, Switches{true, false, true}));
    EXPECT_TRUE(fileBytes(dir.file(ListFileName)) == catalogueBytes(after));
    EXPECT_TRUE(fileBytes(dir.file(OptionsFileName)) == optionsBytes(true, false, true));
    EXPECT_EQ(entriesOf(dir.path()), (std::set<std::string>{ListFileName, OptionsFileName}));
}

// The in-place way on a full disk: a catalogue with a second hard link is
// rewritten in place. Growing it is refused before any byte changes; so is
// shrinking it, whose old bytes need room in the journal first. With room
// made, it is rewritten in place, the links kept.
TEST(FullDisk, AnInPlaceSaveReservesTheRoomFirst) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root; the full-disk save was not tried";
    ScratchDir dir;
    SmallTmpfs disk(dir.path());
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << disk.error() << "); the full-disk save was not tried";

    const Records before = madeUpRecords(200, 10);   // 12800 bytes
    const std::string listBefore = catalogueBytes(before);
    putFile(dir.file(ListFileName), listBefore, 0640);
    ASSERT_EQ(::link(dir.file(ListFileName).c_str(), dir.file("other-name.dat").c_str()), 0);
    fillUp(dir.path() / "filler");

    FileVar listFile;
    listFile.assign(dir.file(ListFileName));
    for (int count : {1000, 20, -20}) {
        SCOPED_TRACE(count);
        const bool roomMade = count < 0;
        if (roomMade)
            std::filesystem::remove(dir.path() / "filler");
        const Records after = madeUpRecords(roomMade ? -count : count, 11);
        Catalogue catalogue;
        for (const auto& [name, location] : after)
            catalogue.appendLoaded(name, location);
        const std::string expected = roomMade ? catalogueBytes(after) : listBefore;
        try {
            saveCatalogue(listFile, catalogue);
            EXPECT_TRUE(roomMade) << "saved in place on a full disk";
        } catch (const IoError& e) {
            EXPECT_FALSE(roomMade) << e.what();
            EXPECT_EQ(e.code(), io::DiskFull);
        }
        EXPECT_TRUE(listFile.rewroteInPlace());
        EXPECT_TRUE(fileBytes(dir.file(ListFileName)) == expected);
        EXPECT_TRUE(fileBytes(dir.file("other-name.dat")) == expected) << "the hard link was detached";
        EXPECT_EQ(modeOf(dir.file(ListFileName)), mode_t(0640));
        std::set<std::string> entries{ListFileName, "other-name.dat"};
        if (!roomMade)
            entries.insert("filler");
        EXPECT_EQ(entriesOf(dir.path()), entries);
    }
}

}  // namespace
