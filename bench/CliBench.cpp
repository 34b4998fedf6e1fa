// vrindel-cli as a user times it: the whole program, start to end, on the
// generated catalogues of 10,000, 100,000 and 1,000,000 records. Export
// reads the catalogue and writes the file; import reads the file, checks
// every row and name, and saves a new catalogue in an empty folder.

#include <benchmark/benchmark.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "BenchData.h"

using namespace vrindel::bench;
namespace fs = std::filesystem;

namespace {

// A folder per size holding a copy of the generated catalogue.
std::string folderWith(std::size_t records) {
    const std::string folder = "bench-data/cli-" + std::to_string(records);
    const std::string source = catalogueFile(records);
    fs::create_directories(folder);
    const fs::path target = fs::path(folder) / "Zoznam.dat";
    if (!fs::exists(target) || fs::file_size(target) != fs::file_size(source))
        fs::copy_file(source, target, fs::copy_options::overwrite_existing);
    return folder;
}

// Status 1 is an answer too: find found nothing.
void runCli(const std::string& folder, const std::string& args) {
    const std::string command = std::string(VRINDEL_CLI) + " -C " + folder + " " + args + " >/dev/null";
    const int status = std::system(command.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1)
        throw std::runtime_error("failed: " + command);
}

void cliExport(benchmark::State& state, const char* format) {
    const std::string folder = folderWith(std::size_t(state.range(0)));
    for (auto _ : state)
        runCli(folder, std::string("export --format ") + format + " -o export." + format);
}

void cliImport(benchmark::State& state, const char* format) {
    const std::string folder = folderWith(std::size_t(state.range(0)));
    runCli(folder, std::string("export --format ") + format + " -o export." + format);
    const std::string empty = folder + "/empty";
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(empty);
        fs::create_directory(empty);
        state.ResumeTiming();
        runCli(empty, std::string("import ../export.") + format);
    }
}

void cliFind(benchmark::State& state) {
    const std::string folder = folderWith(std::size_t(state.range(0)));
    for (auto _ : state)
        runCli(folder, "find sach");
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK_CAPTURE(cliExport, csv, "csv")->Name("cli_export_csv")->Apply(sizes);
BENCHMARK_CAPTURE(cliImport, csv, "csv")->Name("cli_import_csv")->Apply(sizes);
BENCHMARK_CAPTURE(cliExport, json, "json")->Name("cli_export_json")->Apply(sizes);
BENCHMARK_CAPTURE(cliImport, json, "json")->Name("cli_import_json")->Apply(sizes);
BENCHMARK(cliFind)->Name("cli_find")->Apply(sizes);
