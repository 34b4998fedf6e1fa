#pragma once
// One writer per catalogue: a window, or a command that changes the
// catalogue, holds an exclusive advisory lock on the folder that holds
// "Zoznam.dat" for as long as it may write there. The kernel drops the lock
// when the holder ends, however it ends, so a crash leaves nothing stale and
// no lock file is ever left behind.

#include <string>

namespace vrindel {

class CatalogueLock {
public:
    enum class State {
        Held,       // this process holds it
        Busy,       // another window or command holds it
        Unlocked,   // the folder could not be opened to lock (gone, no access)
    };

    CatalogueLock() = default;
    ~CatalogueLock();
    CatalogueLock(CatalogueLock&& other) noexcept;
    CatalogueLock& operator=(CatalogueLock&& other) noexcept;
    CatalogueLock(const CatalogueLock&) = delete;
    CatalogueLock& operator=(const CatalogueLock&) = delete;

    // Never waits: a folder locked by someone else answers Busy at once.
    static CatalogueLock tryAcquire(const std::string& folder = ".");

    State state() const { return state_; }
    bool held() const { return state_ == State::Held; }
    bool busy() const { return state_ == State::Busy; }
    // errno of the failed open when Unlocked.
    int error() const { return error_; }

    void release() noexcept;

private:
    int fd_ = -1;
    State state_ = State::Unlocked;
    int error_ = 0;
};

}  // namespace vrindel
