#include "TableReporter.h"

#include <algorithm>
#include <cstdlib>
#include <cstdio>
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
    else
        std::snprintf(buf, sizeof buf, "%.1f µs", seconds * 1e6);
    return buf;
}

}  // namespace

void TableReporter::ReportRuns(const std::vector<Run>& runs) {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        if (run.run_type == Run::RT_Aggregate || run.error_occurred)
            continue;
        // Names read "<operation>/<records>[/iterations:1][/real_time]".
        const std::string name = run.benchmark_name();
        auto slash = name.find('/');
        if (slash == std::string::npos)
            continue;
        std::string op = name.substr(0, slash);
        long size = std::atol(name.c_str() + slash + 1);
        if (size <= 0)
            continue;
        if (!rows_.count(op))
            order_.push_back(op);
        Cell& cell = rows_[op][size];
        cell.seconds = run.iterations ? run.real_accumulated_time / double(run.iterations) : 0;
        for (const auto& [key, counter] : run.counters)
            cell.counters[key] = counter.value;
    }
}

void TableReporter::Finalize() {
    ConsoleReporter::Finalize();
    std::set<long> sizes;
    for (const auto& [op, cells] : rows_)
        for (const auto& [size, cell] : cells)
            sizes.insert(size);
    std::printf("\nResults on %u cores (real time per operation):\n\n| operation |", std::thread::hardware_concurrency());
    for (long s : sizes)
        std::printf(" %ld |", s);
    std::printf(" x10 records |\n|---|");
    for (std::size_t i = 0; i <= sizes.size(); ++i)
        std::printf("---|");
    std::printf("\n");
    for (const std::string& op : order_) {
        const auto& cells = rows_[op];
        std::printf("| %s |", op.c_str());
        for (long s : sizes) {
            auto it = cells.find(s);
            if (it == cells.end()) {
                std::printf(" |");
                continue;
            }
            auto mb = it->second.counters.find("peak_MB");
            if (mb != it->second.counters.end())
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
    std::fflush(stdout);
}

}  // namespace vrindel::bench
