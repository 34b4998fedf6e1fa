#include "TableReporter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <thread>

namespace vrindel::bench {

namespace {

std::string human(double seconds) {
    char buf[32];
    if (seconds >= 1)
        std::snprintf(buf, sizeof buf, "%.2f s", seconds);
    else if (seconds >= 1e-3)
        std::snprintf(buf, sizeof buf, "%.2f ms", seconds * 1e3);
    else if (seconds >= 1e-6)
        std::snprintf(buf, sizeof buf, "%.1f µs", seconds * 1e6);
    else
        std::snprintf(buf, sizeof buf, "%.1f ns", seconds * 1e9);
    return buf;
}

}  // namespace

bool TableReporter::ReportContext(const Context& context) {
    double load[3] = {0, 0, 0};
    const int got = getloadavg(load, 3);
    std::fprintf(stderr, "%s: %d cores, load average %.2f at the start\n", context.executable_name,
                 context.cpu_info.num_cpus, got > 0 ? load[0] : -1.0);
    return true;
}

void TableReporter::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        if (run.run_type == Run::RT_Aggregate)
            continue;
        const std::string name = run.benchmark_name();
        if (run.error_occurred) {
            std::fprintf(stderr, "  %s: %s\n", name.c_str(), run.error_message.c_str());
            continue;
        }
        // Names read "<operation>[/<records>][/iterations:n][/min_time:t][/real_time]".
        const auto slash = name.find('/');
        const std::string op = name.substr(0, slash);
        const long size = slash == std::string::npos ? 0 : std::atol(name.c_str() + slash + 1);
        if (!rows_.count(op))
            order_.push_back(op);
        Cell& cell = rows_[op][size];
        cell.seconds = run.iterations ? run.real_accumulated_time / double(run.iterations) : 0;
        for (const auto& [key, counter] : run.counters)
            cell.counters[key] = counter.value;
        std::fprintf(stderr, "  %s: %s\n", name.c_str(), human(cell.seconds).c_str());
    }
}

void TableReporter::Finalize() {
    printSizedTable();
    printPeakTable();
    printStartupShare();
    printPerCallTable();
    std::fflush(stdout);
}

void TableReporter::printSizedTable() {
    std::set<long> sizes;
    for (const auto& [op, cells] : rows_)
        for (const auto& [size, cell] : cells)
            if (size > 0)
                sizes.insert(size);
    if (sizes.empty())
        return;
    std::printf("\nResults on %u cores (real time per operation):\n\n| operation |", std::thread::hardware_concurrency());
    for (long s : sizes)
        std::printf(" %ld |", s);
    std::printf(" x10 records |\n|---|");
    for (std::size_t i = 0; i <= sizes.size(); ++i)
        std::printf("---|");
    std::printf("\n");
    for (const std::string& op : order_) {
        const auto& cells = rows_[op];
        if (!cells.count(0) || cells.size() > 1) {
            std::printf("| %s |", op.c_str());
            for (long s : sizes) {
                auto it = cells.find(s);
                if (it == cells.end()) {
                    std::printf(" |");
                    continue;
                }
                auto mb = it->second.counters.find("peak_MB");
                if (mb != it->second.counters.end() && it->second.counters.count("x_empty"))
                    // The peak, that of an empty catalogue's times, and what
                    // it holds beyond that as a share of the file.
                    std::printf(" %.0f MB (%.2fx empty; +%.0f MB, %.2fx file) |", mb->second,
                                it->second.counters.at("x_empty"), it->second.counters.at("over_empty_MB"),
                                it->second.counters.at("over_x_file"));
                else if (mb != it->second.counters.end() && it->second.counters.count("x_file"))
                    std::printf(" %.0f MB (%.2fx file) |", mb->second, it->second.counters.at("x_file"));
                else
                    std::printf(" %s |", human(it->second.seconds).c_str());
            }
            auto a = cells.find(100000), b = cells.find(1000000);
            if (a != cells.end() && b != cells.end() && a->second.seconds > 0)
                std::printf(" %.1fx |", b->second.seconds / a->second.seconds);
            else
                std::printf(" |");
            std::printf("\n");
        }
    }
}

// The window's start-up, and every command of vrindel-cli, as a share of
// GNU sort -f on the same names.
void TableReporter::printStartupShare() {
    auto sortF = rows_.find("baseline_sort_f");
    if (sortF == rows_.end())
        return;
    std::printf("\nAs a share of `sort -f` (C.UTF-8) on the same names, this run:\n\n"
                "| operation |");
    for (const auto& [size, cell] : sortF->second)
        std::printf(" %ld |", size);
    std::printf("\n|---|");
    for (std::size_t i = 0; i < sortF->second.size(); ++i)
        std::printf("---|");
    std::printf("\n");
    for (const std::string& op : order_) {
        if (op.rfind("window_startup_", 0) != 0 && op.rfind("window_first_rows_", 0) != 0 && op.rfind("cli_", 0) != 0)
            continue;
        const auto& row = rows_[op];
        std::printf("| %s |", op.c_str());
        for (const auto& [size, cell] : sortF->second) {
            auto it = row.find(size);
            if (it != row.end() && cell.seconds > 0)
                std::printf(" %.2f |", it->second.seconds / cell.seconds);
            else
                std::printf(" |");
        }
        std::printf("\n");
    }
}

// The peak resident size of a program run, where a benchmark measured it
// against the size of what the program read.
void TableReporter::printPeakTable() {
    std::set<long> sizes;
    for (const auto& [op, cells] : rows_)
        for (const auto& [size, cell] : cells)
            if (cell.counters.count("x_input"))
                sizes.insert(size);
    if (sizes.empty())
        return;
    std::printf("\nPeak memory (VmHWM of the process), and as a multiple of the input's size:\n\n| operation |");
    for (long s : sizes)
        std::printf(" %ld |", s);
    std::printf("\n|---|");
    for (std::size_t i = 0; i < sizes.size(); ++i)
        std::printf("---|");
    std::printf("\n");
    for (const std::string& op : order_) {
        const auto& cells = rows_[op];
        if (std::none_of(cells.begin(), cells.end(), [](const auto& c) { return c.second.counters.count("x_input"); }))
            continue;
        std::printf("| %s |", op.c_str());
        for (long s : sizes) {
            auto it = cells.find(s);
            if (it == cells.end() || !it->second.counters.count("x_input"))
                std::printf(" |");
            else
                std::printf(" %.0f MB (%.2fx) |", it->second.counters.at("peak_MB"), it->second.counters.at("x_input"));
        }
        std::printf("\n");
    }
}

void TableReporter::printPerCallTable() {
    bool any = false;
    for (const std::string& op : order_) {
        const auto& cells = rows_[op];
        auto it = cells.find(0);
        if (it == cells.end())
            continue;
        if (!any)
            std::printf("\nPer call (real time):\n\n| operation | time |\n|---|---|\n");
        any = true;
        std::printf("| %s | %s |\n", op.c_str(), human(it->second.seconds).c_str());
    }
}

}  // namespace vrindel::bench
