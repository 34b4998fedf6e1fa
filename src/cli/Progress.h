#pragma once
// A progress bar on standard error for the long jobs (a million records):
// drawn only when standard error is a terminal and the job has taken longer
// than a second, and wiped when it ends, so that scripts and quick jobs see
// nothing of it.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

namespace vrindel::cli {

// Whether the bar may be drawn at all: off under --quiet and --no-progress.
void allowProgress(bool allowed);
// Whether the summaries a change prints (`Imported 3 records ...`) are
// wanted: not under --quiet, which leaves only errors and warnings.
bool quiet();
void setQuiet(bool quiet);

class Progress {
public:
    explicit Progress(std::string job);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // A new stage; `total` 0 when its length is unknown. What is counted is
    // records (or rows, files), or the bytes of the input.
    enum class Unit { Items, Bytes };
    void stage(const char* name, std::size_t total = 0, Unit unit = Unit::Items);
    void advance(std::size_t done) { done_.store(done, std::memory_order_relaxed); }

private:
    void draw();
    void run();

    std::string job_;
    std::atomic<const char*> stage_{""};
    std::atomic<std::size_t> total_{0};
    std::atomic<Unit> unit_{Unit::Items};
    std::atomic<std::size_t> done_{0};
    bool drawn_ = false;
    bool stop_ = false;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread drawer_;
};

}  // namespace vrindel::cli
