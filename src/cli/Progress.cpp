#include "Progress.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace vrindel::cli {

using namespace std::chrono_literals;

namespace {
bool allowed_ = true;
bool quiet_ = false;

// A count as people read it: thin groups of three digits.
std::string grouped(std::size_t n) {
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ' ';
        out += digits[i];
    }
    return out;
}

std::string amount(std::size_t n, Progress::Unit unit) {
    if (unit == Progress::Unit::Items)
        return grouped(n);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", double(n) / 1e6);
    return text;
}
}  // namespace

void allowProgress(bool allowed) { allowed_ = allowed; }
bool quiet() { return quiet_; }
void setQuiet(bool quiet) { quiet_ = quiet; }

Progress::Progress(std::string job) : job_(std::move(job)) {
    if (allowed_ && ::isatty(STDERR_FILENO))
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

void Progress::stage(const char* name, std::size_t total, Unit unit) {
    done_.store(0, std::memory_order_relaxed);
    total_.store(total, std::memory_order_relaxed);
    unit_.store(unit, std::memory_order_relaxed);
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
    const Unit unit = unit_.load(std::memory_order_relaxed);
    std::size_t done = done_.load(std::memory_order_relaxed);
    std::string line = "\r" + job_ + ": " + stage_.load(std::memory_order_acquire);
    if (total > 0) {
        done = std::min(done, total);
        const int filled = int(double(done) / double(total) * Width);
        line += " [" + std::string(std::size_t(filled), '#') + std::string(std::size_t(Width - filled), '-') + "] " +
                std::to_string(done * 100 / total) + "% (" + amount(done, unit) + " / " + amount(total, unit) + ")";
    } else if (done > 0) {
        line += ": " + amount(done, unit);
    }
    line += "\x1b[K";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace vrindel::cli
