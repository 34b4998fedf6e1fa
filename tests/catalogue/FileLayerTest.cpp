// The file layer: error codes and their texts, file variables read and
// written in whole records, and the seam that makes system calls fail.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "FaultyFileSystem.h"
#include "store/format/FileLayer.h"
#include "TestSupport.h"

namespace vrindel {
namespace {

using test::ioErrorOf;
using test::readBytes;
using test::ScratchDir;
using test::writeBytes;
using Call = FileSystem::Call;

// --- Codes and texts -------------------------------------------------------------------

TEST(IoErrorText, EachCodeHasItsText) {
    EXPECT_EQ(ioErrorText(2), "File not found");
    EXPECT_EQ(ioErrorText(3), "Invalid filename");
    EXPECT_EQ(ioErrorText(4), "Too many open files");
    EXPECT_EQ(ioErrorText(5), "File access denied");
    EXPECT_EQ(ioErrorText(100), "Read beyond end of file");
    EXPECT_EQ(ioErrorText(101), "Disk full");
    EXPECT_EQ(ioErrorText(106), "Invalid numeric input");
    // Any other code is reported by its number.
    EXPECT_EQ(ioErrorText(102), "I/O error 102");
    EXPECT_EQ(ioErrorText(103), "I/O error 103");
    EXPECT_EQ(ioErrorText(32), "I/O error 32");
    EXPECT_EQ(ioErrorText(1), "I/O error 1");
    EXPECT_EQ(ioErrorText(6), "I/O error 6");

    const IoError e = IoError::fromCode(101);
    EXPECT_EQ(e.code(), 101);
    EXPECT_STREQ(e.what(), "Disk full");
}

TEST(IoErrorText, SystemErrorsMapToTheLayersCodes) {
    const std::vector<std::pair<int, int>> mapped = {
        {ENOENT, 2}, {ENAMETOOLONG, 3}, {EMFILE, 4}, {ENFILE, 4}, {EACCES, 5}, {EPERM, 5},
        {EISDIR, 5}, {EROFS, 5},        {ETXTBSY, 5}, {ENOSPC, 101}, {EDQUOT, 101}};
    for (const auto& [err, code] : mapped) {
        EXPECT_EQ(ioCodeForErrno(err), code) << std::strerror(err);
        const IoError e = IoError::fromErrno(err);
        EXPECT_EQ(e.code(), code) << std::strerror(err);
        EXPECT_EQ(e.what(), ioErrorText(code)) << std::strerror(err);
    }
    // Anything else keeps its own number, even one that equals a code with a
    // text of its own: EIO is 5, and is no access denied.
    for (int err : {EIO, EBUSY, EXDEV, EAGAIN, EINVAL, ENOTDIR, ELOOP}) {
        EXPECT_EQ(ioCodeForErrno(err), 0) << std::strerror(err);
        EXPECT_EQ(std::string(IoError::fromErrno(err).what()), test::numbered("I/O error ", err))
            << std::strerror(err);
    }
}

// --- Binding and the existence test -------------------------------------------------

TEST(FileVarExists, CountsOnlyFiles) {
    ScratchDir dir;
    FileVar f;
    f.assign(dir.file("missing.dat"));
    EXPECT_FALSE(f.exists());
    EXPECT_TRUE(dir.entries().empty()) << "binding a name touches nothing";

    writeBytes(dir.file("file.dat"), "x");
    f.assign(dir.file("file.dat"));
    EXPECT_TRUE(f.exists());

    ::mkdir(dir.file("folder.dat").c_str(), 0755);
    f.assign(dir.file("folder.dat"));
    EXPECT_FALSE(f.exists());

    ASSERT_EQ(::symlink("file.dat", dir.file("link.dat").c_str()), 0);
    f.assign(dir.file("link.dat"));
    EXPECT_TRUE(f.exists());

    ASSERT_EQ(::symlink("nowhere.dat", dir.file("dangling.dat").c_str()), 0);
    f.assign(dir.file("dangling.dat"));
    EXPECT_FALSE(f.exists());
}

// --- Opening and closing -----------------------------------------------------------------

// A link is followed as the kernel's protected_symlinks rule would, whatever
// that setting says: in a sticky or world-writable folder only when the link
// belongs to the user or to the folder's owner. A link that is not followed
// is a file that exists but cannot be opened, and is never written.
TEST(FileVarLinks, InASharedFolderOnlyTheUsersOrTheOwnersLinksAreFollowed) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "links of another user need root to set up";
    struct Case {
        const char* what;
        mode_t folderMode;
        uid_t folderOwner;
        uid_t linkOwner;
        bool followed;
    };
    const Case cases[] = {
        {"my own link in a sticky world-writable folder", 01777, 0, 0, true},
        {"another's link in a sticky world-writable folder", 01777, 0, 1234, false},
        {"the folder owner's link in his sticky world-writable folder", 01777, 1234, 1234, true},
        {"another's link in a world-writable folder", 0777, 0, 1234, false},
        {"another's link in a sticky folder", 01775, 0, 1234, false},
        {"another's link in a private folder", 0755, 0, 1234, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        const std::string secret = dir.file("secret.conf"), shared = dir.file("shared");
        writeBytes(secret, "secret\nsecret\nsecret\n");
        ASSERT_EQ(::mkdir(shared.c_str(), 0755), 0);
        ASSERT_EQ(::chown(shared.c_str(), c.folderOwner, 0), 0);
        ASSERT_EQ(::chmod(shared.c_str(), c.folderMode), 0);
        const std::string name = shared + "/Options.dat";
        ASSERT_EQ(::symlink(secret.c_str(), name.c_str()), 0);
        ASSERT_EQ(::lchown(name.c_str(), c.linkOwner, 0), 0);

        FileVar f;
        f.assign(name);
        EXPECT_TRUE(f.exists());
        if (c.followed) {
            f.reset(1);
            EXPECT_EQ(f.sizeInRecords(), 21u);
            f.close();
        } else {
            EXPECT_EQ(ioErrorOf([&] { f.reset(1); }).code(), 5);
            EXPECT_EQ(ioErrorOf([&] { f.rewrite(1); }).code(), 5);
        }
        EXPECT_EQ(readBytes(secret), "secret\nsecret\nsecret\n");
        struct ::stat st{};
        EXPECT_EQ(::lstat(name.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode));
    }
}

TEST(FileVarOpen, FailuresCarryTheirCodes) {
    ScratchDir dir;
    FileVar f;
    EXPECT_EQ(ioErrorOf([&] { f.reset(32); }).code(), 102) << "never bound to a name";
    EXPECT_EQ(ioErrorOf([&] { f.rewrite(32); }).code(), 102);

    f.assign(dir.file("missing.dat"));
    IoError missing = ioErrorOf([&] { f.reset(32); });
    EXPECT_EQ(missing.code(), 2);
    EXPECT_STREQ(missing.what(), "File not found");

    ::mkdir(dir.file("folder.dat").c_str(), 0755);
    f.assign(dir.file("folder.dat"));
    IoError folder = ioErrorOf([&] { f.reset(32); });
    EXPECT_EQ(folder.code(), 5);
    EXPECT_STREQ(folder.what(), "File access denied");
    EXPECT_EQ(ioErrorOf([&] { f.rewrite(32); }).code(), 5);

    f.assign(dir.file(std::string(300, 'n')));
    IoError longName = ioErrorOf([&] { f.reset(32); });
    EXPECT_EQ(longName.code(), 3);
    EXPECT_STREQ(longName.what(), "Invalid filename");
    EXPECT_EQ(ioErrorOf([&] { f.rewrite(32); }).code(), 3);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"folder.dat"}));
}

TEST(FileVarOpen, ClosingWhatIsNotOpenIs103) {
    ScratchDir dir;
    writeBytes(dir.file("a.dat"), std::string(32, 'a'));
    FileVar f;
    f.assign(dir.file("a.dat"));
    IoError never = ioErrorOf([&] { f.close(); });
    EXPECT_EQ(never.code(), 103);
    EXPECT_STREQ(never.what(), "I/O error 103");

    f.reset(32);
    EXPECT_TRUE(f.isOpen());
    f.close();
    EXPECT_FALSE(f.isOpen());
    EXPECT_EQ(ioErrorOf([&] { f.close(); }).code(), 103);

    char buffer[32];
    EXPECT_EQ(ioErrorOf([&] { f.readRecord(buffer); }).code(), 103);
    EXPECT_EQ(ioErrorOf([&] { f.writeRecord(buffer); }).code(), 103);
    f.reset(32);
    EXPECT_EQ(ioErrorOf([&] { f.writeRecord(buffer); }).code(), 103) << "a file open for reading is not written";
    f.close();
}

TEST(FileVarOpen, OpeningAnOpenVariableStartsAgain) {
    ScratchDir dir;
    writeBytes(dir.file("a.dat"), "0123456789");
    FileVar f;
    f.assign(dir.file("a.dat"));
    f.reset(4);
    char r[4];
    f.readRecord(r);
    f.readRecord(r);
    EXPECT_EQ(std::string(r, 4), "4567");
    f.reset(2);
    f.readRecord(r);
    EXPECT_EQ(std::string(r, 2), "01");
    f.close();
}

// --- Reading ----------------------------------------------------------------------------------

TEST(FileVarRead, AShortRecordIsCopiedAsFarAsItGoesAndFails) {
    ScratchDir dir;
    writeBytes(dir.file("a.dat"), std::string(32, 'a') + std::string(8, 'b'));
    FileVar f;
    f.assign(dir.file("a.dat"));
    f.reset(32);
    EXPECT_EQ(f.sizeInRecords(), 1u);
    char r[32];
    f.readRecord(r);
    EXPECT_EQ(std::string(r, 32), std::string(32, 'a'));
    EXPECT_TRUE(f.eof()) << "the trailing part of a record does not count";
    std::memset(r, 'z', sizeof r);
    IoError e = ioErrorOf([&] { f.readRecord(r); });
    EXPECT_EQ(e.code(), 100);
    EXPECT_STREQ(e.what(), "Read beyond end of file");
    EXPECT_EQ(std::string(r, 32), std::string(8, 'b') + std::string(24, 'z'));
    EXPECT_EQ(ioErrorOf([&] { f.readRecord(r); }).code(), 100);
    f.close();
}

TEST(FileVarRead, EndComparesWholeRecords) {
    ScratchDir dir;
    writeBytes(dir.file("a.dat"), std::string(70, 'x'));
    FileVar f;
    f.assign(dir.file("a.dat"));
    f.reset(32);
    char r[32];
    EXPECT_FALSE(f.eof());
    f.readRecord(r);
    EXPECT_FALSE(f.eof());
    f.readRecord(r);
    EXPECT_TRUE(f.eof());
    f.close();

    writeBytes(dir.file("empty.dat"), "");
    f.assign(dir.file("empty.dat"));
    f.reset(32);
    EXPECT_TRUE(f.eof());
    f.close();
}

TEST(FileVarRead, ReadsLargeFilesAcrossItsBuffer) {
    ScratchDir dir;
    std::string content;
    for (int k = 0; k < 20000; ++k) {
        std::string rec(32, char('A' + k % 26));
        std::memcpy(rec.data(), &k, sizeof k);
        content += rec;
    }
    writeBytes(dir.file("big.dat"), content);
    FileVar f;
    f.assign(dir.file("big.dat"));
    f.reset(32);
    EXPECT_EQ(f.sizeInRecords(), 20000u);
    std::string back;
    char r[32];
    while (!f.eof()) {
        f.readRecord(r);
        back.append(r, 32);
    }
    f.close();
    EXPECT_TRUE(back == content) << "records differ after reading";
}

// --- Writing -----------------------------------------------------------------------------------

TEST(FileVarWrite, NothingChangesOnDiskBeforeTheClose) {
    ScratchDir dir;
    writeBytes(dir.file("a.dat"), "old content");
    FileVar f;
    f.assign(dir.file("a.dat"));
    f.rewrite(4);
    f.writeRecord("new!");
    f.writeRecord("data");
    EXPECT_EQ(readBytes(dir.file("a.dat")), "old content");
    f.close();
    EXPECT_EQ(readBytes(dir.file("a.dat")), "new!data");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.dat"}));
}

TEST(FileVarWrite, AnAbandonedRewriteLeavesTheOldFileAndNoTrace) {
    ScratchDir dir;
    writeBytes(dir.file("a.dat"), "old content");
    {
        FileVar f;
        f.assign(dir.file("a.dat"));
        f.rewrite(4);
        f.writeRecord("new!");
    }
    EXPECT_EQ(readBytes(dir.file("a.dat")), "old content");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.dat"}));
}

TEST(FileVarWrite, WritesLargeFilesWhole) {
    ScratchDir dir;
    FileVar f;
    f.assign(dir.file("big.dat"));
    f.rewrite(32);
    std::string content;
    for (int k = 0; k < 20000; ++k) {
        std::string rec(32, char('a' + k % 26));
        std::memcpy(rec.data(), &k, sizeof k);
        f.writeRecord(rec.data());
        content += rec;
    }
    f.close();
    EXPECT_TRUE(readBytes(dir.file("big.dat")) == content);
}

// A file system that checks, as the layer goes, that the old file stays as
// it was until the new content is durable, and that the directory is
// synced after the rename.
class WatchingFileSystem : public FaultyFileSystem {
public:
    WatchingFileSystem(std::string target, std::string old) : target_(std::move(target)), old_(std::move(old)) {}

    ssize_t write(int fd, const void* b, std::size_t n) override {
        if (readBytes(target_) != old_)
            changedEarly = true;
        return FaultyFileSystem::write(fd, b, n);
    }
    int fsync(int fd) override {
        struct ::stat st{};
        FaultyFileSystem::fstat(fd, &st);
        if (S_ISDIR(st.st_mode)) {
            directorySyncedAfterRename = directorySyncedAfterRename || renamed;
        } else {
            fileSyncedBeforeRename = !renamed;
            if (readBytes(target_) != old_)
                changedEarly = true;
        }
        return FaultyFileSystem::fsync(fd);
    }
    int rename(int fd, const std::string& a, int td, const std::string& b) override {
        if (readBytes(target_) != old_)
            changedEarly = true;
        renamed = target_.ends_with("/" + b);
        return FaultyFileSystem::rename(fd, a, td, b);
    }

    bool changedEarly = false;
    bool renamed = false;
    bool fileSyncedBeforeRename = false;
    bool directorySyncedAfterRename = false;

private:
    std::string target_, old_;
};

TEST(FileVarWrite, TheNewFileIsDurableBeforeItReplacesTheOld) {
    ScratchDir dir;
    const std::string target = dir.file("a.dat");
    writeBytes(target, "old content");
    WatchingFileSystem fs(target, "old content");
    FileVar f(fs);
    f.assign(target);
    f.rewrite(1);
    for (char ch : std::string("new"))
        f.writeRecord(&ch);
    f.close();
    EXPECT_EQ(readBytes(target), "new");
    EXPECT_FALSE(fs.changedEarly);
    EXPECT_TRUE(fs.renamed);
    EXPECT_TRUE(fs.fileSyncedBeforeRename);
    EXPECT_TRUE(fs.directorySyncedAfterRename);
}

// In place, told by the order in which the steps reached the disk: the
// journal and its name in its folder are durable before the first byte of
// the file changes, and the file is whole and durable before the journal
// goes. Beside the file, and in the user's state folder when the file's
// folder refuses new files.
TEST(FileVarWrite, InPlaceTheJournalIsDurableBeforeTheFileChangesAndGoesOnlyAfterIt) {
    for (bool besideTheFile : {true, false}) {
        SCOPED_TRACE(besideTheFile ? "a second hard link" : "a folder that refuses new files");
        ScratchDir dir, state;
        const std::string target = dir.file("a.dat");
        writeBytes(target, "old content");
        test::StateHomeAt stateHome(state.path());
        FaultyFileSystem fs;
        if (besideTheFile) {
            ASSERT_EQ(::link(target.c_str(), dir.file("b.dat").c_str()), 0);
        } else {
            fs.failOn(Call::Open, 2, EACCES, 2);   // the temporary file, then the journal beside the file
        }
        FileVar f(fs);
        f.assign(target);
        f.rewrite(1);
        for (char ch : std::string("new content, longer"))
            f.writeRecord(&ch);
        f.close();
        ASSERT_TRUE(f.rewroteInPlace());
        EXPECT_EQ(readBytes(target), "new content, longer");

        using Steps = std::vector<FaultyFileSystem::Step>;
        const Steps& steps = fs.steps();
        const auto journal =
            std::find_if(steps.begin(), steps.end(), [](auto& s) { return s.file.ends_with(".journal"); });
        ASSERT_NE(journal, steps.end()) << "no journal was written";
        const std::string file = std::filesystem::canonical(target).string();
        const std::string folder = std::filesystem::path(journal->file).parent_path().string();
        EXPECT_EQ(folder, std::filesystem::canonical(besideTheFile ? dir.path() : state.path() / "vrindel").string());
        auto changes = [&](const FaultyFileSystem::Step& s) {
            return s.file == file && (s.call == Call::Write || s.call == Call::Pwrite || s.call == Call::Ftruncate);
        };
        // Whether `which` was synced between the two steps.
        auto synced = [](Steps::const_iterator from, Steps::const_iterator to, const std::string& which) {
            return std::any_of(from, to, [&](auto& s) { return s.call == Call::Fsync && s.file == which; });
        };
        const auto firstChange = std::find_if(steps.begin(), steps.end(), changes);
        const auto lastChange = std::find_if(steps.rbegin(), steps.rend(), changes).base();   // just after it
        const auto gone = std::find_if(steps.begin(), steps.end(),
                                       [&](auto& s) { return s.call == Call::Unlink && s.file == journal->file; });
        ASSERT_NE(gone, steps.end()) << "the journal was never removed";
        ASSERT_TRUE(journal < firstChange) << "the file changed before its journal was written";
        ASSERT_TRUE(lastChange <= gone) << "the file changed after its journal went";
        EXPECT_TRUE(synced(journal, firstChange, journal->file))
            << "the journal was not synced before the file changed";
        EXPECT_TRUE(synced(journal, firstChange, folder))
            << "the journal's folder was not synced before the file changed";
        EXPECT_TRUE(synced(lastChange, gone, file)) << "the journal went before the file was synced";
        EXPECT_TRUE(synced(gone, steps.end(), folder)) << "the journal's removal was not made durable";
    }
}

// --- The seam itself ----------------------------------------------------------------------

TEST(FaultyFileSystem, FailsTheNthCallForAsManyTimesAsTold) {
    ScratchDir dir;
    writeBytes(dir.file("a.dat"), "abc");
    FaultyFileSystem fs;
    fs.failOn(Call::Open, 2, EMFILE, 2);
    FileVar f(fs);
    f.assign(dir.file("a.dat"));
    f.reset(1);
    f.close();
    EXPECT_EQ(ioErrorOf([&] { f.reset(1); }).code(), 4);
    EXPECT_EQ(ioErrorOf([&] { f.reset(1); }).code(), 4);
    f.reset(1);
    f.close();
    EXPECT_EQ(fs.calls(Call::Open), 4);
    EXPECT_EQ(fs.injected(), 2);

    fs.reset();
    EXPECT_EQ(fs.calls(Call::Open), 0);
    f.reset(1);
    f.close();
    EXPECT_EQ(fs.injected(), 0);
}

TEST(FaultyFileSystem, InterruptedCallsAreRetried) {
    ScratchDir dir;
    writeBytes(dir.file("a.dat"), "abcdef");
    FaultyFileSystem fs;
    fs.failOn(Call::Open, 1, EINTR, 3);
    fs.failOn(Call::Read, 1, EINTR, 2);
    FileVar f(fs);
    f.assign(dir.file("a.dat"));
    f.reset(3);
    char r[3];
    f.readRecord(r);
    EXPECT_EQ(std::string(r, 3), "abc");
    f.readRecord(r);
    EXPECT_EQ(std::string(r, 3), "def");
    f.close();
    EXPECT_EQ(fs.injected(), 5);

    fs.reset();
    fs.failOn(Call::Open, 1, EINTR, 2);
    fs.failOn(Call::Write, 1, EINTR, 3);
    fs.failOn(Call::Fsync, 1, EINTR, 2);
    f.rewrite(3);
    f.writeRecord("xyz");
    f.close();
    EXPECT_EQ(readBytes(dir.file("a.dat")), "xyz");
    EXPECT_EQ(fs.injected(), 7);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.dat"}));
}

}  // namespace
}  // namespace vrindel
