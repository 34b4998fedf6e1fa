#pragma once
// Prints, after the usual console output, one table of all results: an
// operation a row, a catalogue size a column, and how the cost grows from
// 100,000 to 1,000,000 records.

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace vrindel::bench {

class TableReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

private:
    struct Cell {
        double seconds = 0;       // per iteration, real time
        std::map<std::string, double> counters;
    };
    std::vector<std::string> order_;
    std::map<std::string, std::map<long, Cell>> rows_;
};

}  // namespace vrindel::bench
