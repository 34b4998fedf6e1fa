#include <benchmark/benchmark.h>

#include "TableReporter.h"

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    vrindel::bench::TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
}
