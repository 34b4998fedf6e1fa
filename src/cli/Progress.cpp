#include "Progress.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace vrindel::cli {

using namespace std::chrono_literals;

Progress::Progress(std::string job) : job_(std::move(job)) {
    if (::isatty(STDERR_FILENO))
        drawer_ = std::thread(&Progress::run, this);
}

Progress::~Progress() {
    if (!drawer_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    drawer_.join();
    if (drawn_)
        std::fputs("\r\x1b[K", stderr);
}

void Progress::stage(const char* name, std::size_t total) {
    done_.store(0, std::memory_order_relaxed);
    total_.store(total, std::memory_order_relaxed);
    stage_.store(name, std::memory_order_release);
}

void Progress::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (wake_.wait_for(lock, 1s, [this] { return stop_; }))
        return;
    while (!stop_) {
        draw();
        wake_.wait_for(lock, 100ms, [this] { return stop_; });
    }
}

void Progress::draw() {
    constexpr int Width = 30;
    const std::size_t total = total_.load(std::memory_order_relaxed);
    const std::size_t done = std::min(done_.load(std::memory_order_relaxed), total);
    std::string line = "\r" + job_ + ": " + stage_.load(std::memory_order_acquire);
    if (total > 0) {
        const int filled = int(double(done) / double(total) * Width);
        line += " [" + std::string(std::size_t(filled), '#') + std::string(std::size_t(Width - filled), '-') + "] " +
                std::to_string(done * 100 / total) + "%";
    }
    line += "\x1b[K";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace vrindel::cli
