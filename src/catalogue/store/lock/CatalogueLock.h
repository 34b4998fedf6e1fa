#pragma once
// One writer per catalogue: a window, or a command that changes the
// catalogue, holds an exclusive advisory lock for as long as it may write
// it. The lock belongs to the catalogue, not to the name it was reached by:
// it is taken on the real folder that holds the file (so a symbolic link, a
// symlinked folder or a bind mount lead to the same lock) and on the file
// itself (so a hard link in another folder does too). A save that puts a
// new file in the catalogue's place locks the new file before the rename.
// The kernel drops every lock when the holder ends, however it ends, so a
// crash leaves nothing stale and no lock file is ever left behind.

#include <vector>

#include "store/held/HeldFile.h"

namespace vrindel {

class CatalogueLock {
public:
    enum class State {
        Held,       // this process holds it
        Busy,       // another window or command holds it
        Unlocked,   // nothing could be locked: the folder cannot be read and no file is there to lock
    };

    CatalogueLock() = default;
    ~CatalogueLock();
    CatalogueLock(CatalogueLock&& other) noexcept;
    CatalogueLock& operator=(CatalogueLock&& other) noexcept;
    CatalogueLock(const CatalogueLock&) = delete;
    CatalogueLock& operator=(const CatalogueLock&) = delete;

    // Never waits: a catalogue locked by someone else answers Busy at once.
    static CatalogueLock tryAcquire(const HeldFile& file);
    // The catalogue reached through `name` (the working folder's by default).
    static CatalogueLock tryAcquire(const char* name = "Zoznam.dat");

    State state() const { return state_; }
    bool held() const { return state_ == State::Held; }
    bool busy() const { return state_ == State::Busy; }
    // errno of what failed when Unlocked.
    int error() const { return error_; }

    // Locks a file about to take the catalogue's place (a save's new file, or
    // the catalogue just created). The locks already held stay until the end,
    // so a process that opened the old file meanwhile finds it locked. False
    // when the file cannot be locked.
    bool addFile(int fd);

    void release() noexcept;

private:
    bool lockFile(const HeldFile& file);

    int folderFd_ = -1;
    std::vector<int> fileFds_;
    State state_ = State::Unlocked;
    int error_ = 0;
};

}  // namespace vrindel
