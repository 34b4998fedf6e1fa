// vrindel-cli as a user times it: the whole program, start to end, on the
// generated catalogues of 10,000, 100,000 and 1,000,000 records (and
// 10,000,000 with VRINDEL_BENCH_10M=1, which takes minutes and gigabytes of
// disk). Export reads the catalogue and writes the file; import reads the
// file, checks every row and name, and saves a new catalogue in an empty
// folder, or, with --update, into a catalogue that holds the same records.
// Each run also gives the program's peak resident size (its VmHWM, from
// wait4), as a multiple of the size of what it reads.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchData.h"

using namespace vrindel::bench;
namespace fs = std::filesystem;

extern char** environ;

namespace {

// The generated catalogue, made in a process of its own: a child's peak
// counts the memory of the process it was started from, which must stay small.
std::string generatedFile(std::size_t records) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        catalogueFile(records);
        std::_Exit(0);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("cannot generate the catalogue");
    return catalogueFile(records);
}

// A folder per size holding a copy of the generated catalogue.
std::string folderWith(std::size_t records) {
    const std::string folder = "bench-data/cli-" + std::to_string(records);
    const std::string source = generatedFile(records);
    fs::create_directories(folder);
    const fs::path target = fs::path(folder) / "Zoznam.dat";
    if (!fs::exists(target) || fs::file_size(target) != fs::file_size(source))
        fs::copy_file(source, target, fs::copy_options::overwrite_existing);
    return folder;
}

// Runs the program in `folder` with its output discarded, and returns its
// peak resident size in bytes (as wait4 gives it: at least this process's
// own, which posix_spawn's child shares until it starts the program). Status 1 is an answer too: find found nothing.
double runCli(const std::string& folder, std::vector<std::string> args) {
    args.insert(args.begin(), {VRINDEL_CLI, "-C", folder});
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, VRINDEL_CLI, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    struct rusage usage {};
    if (failed || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) > 1)
        throw std::runtime_error("failed: vrindel-cli " + args[3]);
    return double(usage.ru_maxrss) * 1024;   // kB on Linux
}

// The largest peak of the runs, in MB and as a multiple of `input` bytes.
void reportPeak(benchmark::State& state, double peak, std::uintmax_t input) {
    state.counters["peak_MB"] = peak / (1024 * 1024);
    state.counters["x_input"] = peak / double(input);
}

void cliExport(benchmark::State& state, const char* format) {
    const std::size_t records = std::size_t(state.range(0));
    const std::string folder = folderWith(records);
    double peak = 0;
    for (auto _ : state)
        peak = std::max(peak, runCli(folder, {"export", "--format", format, "-o", std::string("export.") + format}));
    reportPeak(state, peak, fs::file_size(fs::path(folder) / "Zoznam.dat"));
}

void cliImport(benchmark::State& state, const char* format, bool update) {
    const std::string folder = folderWith(std::size_t(state.range(0)));
    const std::string file = std::string("export.") + format;
    if (!fs::exists(fs::path(folder) / file))
        runCli(folder, {"export", "--format", format, "-o", file});
    const std::string into = folder + (update ? "/update" : "/empty");
    if (update) {
        fs::create_directories(into);
        fs::copy_file(fs::path(folder) / "Zoznam.dat", fs::path(into) / "Zoznam.dat",
                      fs::copy_options::overwrite_existing);
    }
    std::vector<std::string> args{"import", "../" + file};
    if (update)
        args.emplace_back("--update");
    double peak = 0;
    for (auto _ : state) {
        if (!update) {
            state.PauseTiming();
            fs::remove_all(into);
            fs::create_directory(into);
            state.ResumeTiming();
        }
        peak = std::max(peak, runCli(into, args));
    }
    reportPeak(state, peak, fs::file_size(fs::path(folder) / file));
}

void cliFind(benchmark::State& state) {
    const std::string folder = folderWith(std::size_t(state.range(0)));
    for (auto _ : state)
        runCli(folder, {"find", "sach"});
}

// GNU sort -f (C.UTF-8) on the same names, one a line: the yardstick.
void sortF(benchmark::State& state) {
    generatedFile(std::size_t(state.range(0)));
    const std::string names = namesFile(std::size_t(state.range(0)));
    for (auto _ : state)
        if (!runSortF(names))
            state.SkipWithError("sort -f failed");
}

bool tenMillion() {
    const char* on = std::getenv("VRINDEL_BENCH_10M");
    return on && std::string(on) == "1";
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();
    if (tenMillion())
        b->Arg(10000000);
}

// A sheet holds at most about a million rows.
void sheetSizes(benchmark::internal::Benchmark* b) {
    b->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK(sortF)->Name("baseline_sort_f")->Apply(sizes);
BENCHMARK_CAPTURE(cliExport, csv, "csv")->Name("cli_export_csv")->Apply(sizes);
BENCHMARK_CAPTURE(cliImport, csv, "csv", false)->Name("cli_import_csv")->Apply(sizes);
BENCHMARK_CAPTURE(cliImport, csv_update, "csv", true)->Name("cli_import_update_csv")->Apply(sizes);
BENCHMARK_CAPTURE(cliExport, json, "json")->Name("cli_export_json")->Apply(sizes);
BENCHMARK_CAPTURE(cliImport, json, "json", false)->Name("cli_import_json")->Apply(sizes);
BENCHMARK_CAPTURE(cliExport, xlsx, "xlsx")->Name("cli_export_xlsx")->Apply(sheetSizes);
BENCHMARK(cliFind)->Name("cli_find")->Apply(sizes);
