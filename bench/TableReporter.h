#pragma once
// Prints the results as tables and nothing else: an operation a row, a
// catalogue size a column, and how the cost grows from 100,000 to 1,000,000
// records; operations that do not depend on the size (one comparison) in a
// table of their own. Each finished benchmark is named on standard error
// while the run goes on.

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace vrindel::bench {

class TableReporter : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context& context) override;
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

private:
    struct Cell {
        double seconds = 0;       // per iteration, real time
        std::map<std::string, double> counters;
    };
    void printSizedTable();
    void printPeakTable();
    void printStartupShare();
    void printPerCallTable();

    std::vector<std::string> order_;
    std::map<std::string, std::map<long, Cell>> rows_;   // size 0: no size
};

}  // namespace vrindel::bench
