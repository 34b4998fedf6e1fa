#pragma once
// The safe rewrite of a held file: one of the two ways of SaveWay.h, taken
// so that a failure before the end leaves the old file byte for byte as it
// was. Replaced, the new bytes go to a temporary file that takes the old
// one's place whole; rewritten in place, every old byte goes to a rollback
// journal (RollbackJournal.h) before it changes, and comes back when the
// rewrite fails; killed, the rewrite leaves the journal, which the next
// opening of the catalogue applies.

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Errors.h"
#include "store/held/FileIdentity.h"
#include "store/held/HeldFile.h"
#include "store/io/FileSystem.h"
#include "store/journal/RollbackJournal.h"
#include "store/save/SaveWay.h"

namespace vrindel {

class SafeRewrite {
public:
    // `place` must outlive the rewrite. `beforeReplacing` is called with the
    // new file's descriptor just before it takes the old one's place, and
    // may raise to stop it.
    SafeRewrite(FileSystem& fs, const HeldFile& place, std::function<void(int fd)> beforeReplacing);
    ~SafeRewrite();
    SafeRewrite(const SafeRewrite&) = delete;
    SafeRewrite& operator=(const SafeRewrite&) = delete;

    // The target must be a writable regular file if it exists (5 otherwise,
    // before anything is written); `bytes` is how many will be written, so
    // that an in-place rewrite can reserve them first. With `expected`, the
    // target must still be that file (or still absent), else FileChanged,
    // and still as it describes (size and times), now and again just before
    // a new file takes its place, else ChangedMeanwhile. Raises IoError;
    // nothing is left behind then.
    void begin(std::uint64_t bytes, const FileIdentity* expected);
    // The next bytes of the new file. Raises IoError, the old file back.
    void write(const unsigned char* data, std::size_t size);
    // The new file whole and durable in the old one's place; what it is
    // now. Raises IoError, the old file back.
    FileIdentity finish();
    // Stops where it is: the old file goes back, a temporary goes.
    void abandon() noexcept;
    bool active() const { return fd_ >= 0; }

    SaveWay way() const { return plan_.way; }
    SaveReason reason() const { return plan_.reason; }
    // Failed in place and could not put the file back: its journal will,
    // at the next opening.
    bool rollbackPending() const { return rollbackPending_; }
    // errno of a folder sync that failed after the new file was renamed into
    // place (0 when it succeeded): saved, but perhaps not durable.
    int folderSyncError() const { return folderSyncError_; }

private:
    int openExisting(struct ::stat& old);
    void requireExpected(const struct ::stat* now);   // nullptr: nothing there
    void beginInPlace(int fd, const struct ::stat& old, std::uint64_t bytes);
    void writeInPlace(const unsigned char* data, std::size_t size);
    // The new bytes durable, and what the file is now.
    struct ::stat syncNewFile();
    FileIdentity finishInPlace();
    FileIdentity finishReplacing();
    [[noreturn]] void fail(int err);
    [[noreturn]] void fail(const IoError& error);

    FileSystem& fs_;
    const HeldFile& place_;
    std::function<void(int)> beforeReplacing_;
    SavePlan plan_;
    int fd_ = -1;
    bool expecting_ = false;
    FileIdentity expected_;
    std::uint64_t written_ = 0;    // bytes of the new file so far
    // In place: the old file's length, and whether the new bytes have
    // differed from the old ones yet (until then nothing is written, and
    // nothing needs keeping in the journal).
    std::unique_ptr<RollbackJournal> journal_;
    std::uint64_t oldSize_ = 0;
    bool diverged_ = false;
    std::vector<unsigned char> scratch_;
    bool rollbackPending_ = false;
    int folderSyncError_ = 0;
};

}  // namespace vrindel
