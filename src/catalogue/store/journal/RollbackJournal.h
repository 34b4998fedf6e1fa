#pragma once
// The rollback journal of a file rewritten in place. Before the first byte
// of the file changes, its length goes to the journal; before bytes change,
// the old ones go there too; each is synced before the file is touched. When
// the rewrite is whole and synced, the journal goes. So a save killed at any
// point leaves either the new file whole, or the old one and a journal that
// puts it back the next time the catalogue is opened.
//
// The journal lives beside the file when that folder may be written, and
// otherwise in the user's state folder ($XDG_STATE_HOME/vrindel, by default
// ~/.local/state/vrindel). Its name carries the file's device and inode (and
// in the state folder, a hash of the file's path), and its header repeats
// them, so that it is only ever applied to the file it was written for.
//
//   header   "VRJRNL1\n", device, inode, old length (u64 each), path length
//            (u32), path, checksum of all of it (u64)
//   segment  offset, length (u64 each), the old bytes, checksum (u64)
//
// A journal whose header is incomplete was written before the file changed:
// it is removed. A segment that is incomplete was written before its bytes
// changed: it is left out.

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "store/io/FileSystem.h"
#include "store/held/HeldFile.h"

namespace vrindel {

class RollbackJournal {
public:
    explicit RollbackJournal(FileSystem& fs) : fs_(&fs) {}
    ~RollbackJournal();
    RollbackJournal(const RollbackJournal&) = delete;
    RollbackJournal& operator=(const RollbackJournal&) = delete;

    // Before the file `fd` (at `place`, as `st` describes it) changes at
    // all: a journal of its length, synced. Raises IoError; nothing is left
    // behind then.
    void begin(const HeldFile& place, int fd, const struct ::stat& st);
    // Before the bytes from `from` to the old end change: those bytes, synced.
    // Taken once per rewrite, at the first byte that differs.
    void keepFrom(std::uint64_t from);
    // The rewrite is whole and synced: the journal goes.
    void commit();
    // The rewrite failed: the file goes back to what it was and the journal
    // goes. When that fails too the journal stays, for the next open, and
    // false is returned.
    bool rollBack() noexcept;
    bool active() const { return fd_ >= 0; }
    // Where the journal is, for messages.
    const std::string& path() const { return path_; }

private:
    void close() noexcept;

    FileSystem* fs_;
    int fileFd_ = -1;
    int folder_ = -1;
    bool ownFolder_ = false;
    std::string name_;
    std::string path_;
    int fd_ = -1;
    std::uint64_t oldLength_ = 0;
    std::uint64_t end_ = 0;   // where the journal's next segment goes
};

// The user's state folder for Vrindel ($XDG_STATE_HOME/vrindel, by default
// ~/.local/state/vrindel); empty when there is no home to put it in.
std::string userStateFolder();
// That folder open for reading, made (with the folders above it) when
// `make`; -1 with errno when it cannot be.
int openUserStateFolder(FileSystem& fs, bool make);
// The full path of a file held open at `place`, for messages.
std::string heldPath(FileSystem& fs, const HeldFile& place);

// What the opening of a catalogue found of an earlier save's journal.
struct JournalRecovery {
    bool rolledBack = false;   // a whole journal put the file back as it was
    bool stuck = false;        // a whole journal is there but could not be applied
    std::string reason;        // why it could not
    std::string journal;       // where it was
};

// Looks for a journal of the file at `place`, beside it and in the user's
// state folder. A whole one puts the file back and goes; an incomplete one
// goes. Call it under the catalogue's lock, before the file is read.
JournalRecovery recoverFromJournal(FileSystem& fs, const HeldFile& place);

// Whether a journal of the file at `place` is there, without touching it:
// a reader that takes no lock asks this to know that it needs one.
bool journalPending(FileSystem& fs, const HeldFile& place);

// The journals beside `leaf` in `folder` that another computer's saves left
// (a sync engine carried them here): never applied, only told of.
std::vector<std::string> otherComputersJournals(int folder, const std::string& leaf);

}  // namespace vrindel
