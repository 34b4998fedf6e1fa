#pragma once
// Generated catalogues for the benchmarks: plausible Slovak names, unique
// ignoring case, in random storage order, with fixed seeds.

#include <cstddef>
#include <string>
#include <vector>

namespace vrindel::bench {

struct GeneratedRecord {
    std::string name;       // Windows-1250
    std::string location;   // Windows-1250
};

std::vector<GeneratedRecord> generateRecords(std::size_t count, unsigned seed = 2026);

// Writes "Zoznam.dat" content for the records to path (once: an existing
// file of the right size is reused).
void writeCatalogueFile(const std::string& path, const std::vector<GeneratedRecord>& records);

// The data folder beside the benchmark programs, created on demand, with a
// catalogue of `count` records in it; returns the file's path.
std::string catalogueFile(std::size_t count);

// The names of that catalogue as UTF-8, one a line, in a file beside it
// (written once); returns the file's path.
std::string namesFile(std::size_t count);

// Runs GNU `sort -f` in the C.UTF-8 locale on a file, its output discarded;
// false if it could not be run or failed.
bool runSortF(const std::string& path);

// Peak resident size of this process image in kB (VmHWM), or -1.
long peakKilobytes();
// The peak a fresh process reports on its output (a shell command that
// prints it in kB and succeeds), or -1: the rusage of a child would carry
// this process's own peak across the exec.
long reportedPeakKilobytes(const std::string& command);

}  // namespace vrindel::bench
