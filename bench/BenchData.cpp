#include "BenchData.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>
#include <unordered_set>

#include "text/Collation.h"
#include "text/RecordText.h"

namespace vrindel::bench {

namespace {

const char* const Lower[] = {"a", "á", "ä", "b", "c", "č", "d", "ď", "e", "é", "f", "g", "h", "i", "í", "j",
                             "k", "l", "ĺ", "ľ", "m", "n", "ň", "o", "ó", "ô", "p", "r", "ŕ", "s", "š", "t",
                             "ť", "u", "ú", "v", "y", "ý", "z", "ž"};
const char* const Upper[] = {"A", "Á", "B", "C", "Č", "D", "Ď", "E", "F", "G", "H", "I", "J", "K", "L", "Ľ",
                             "M", "N", "O", "P", "R", "S", "Š", "T", "Ť", "U", "V", "Z", "Ž"};
const char* const Extensions[] = {".zip", ".rar", ".exe"};

std::string win1250(const std::string& utf8) {
    auto bytes = utf8ToWindows1250(utf8);
    if (!bytes)
        throw std::logic_error("generator produced an unstorable name");
    return *bytes;
}

}  // namespace

std::vector<GeneratedRecord> generateRecords(std::size_t count, unsigned seed) {
    std::mt19937_64 rng(seed);
    auto pick = [&](std::size_t n) { return std::size_t(rng() % n); };
    std::vector<GeneratedRecord> out;
    out.reserve(count);
    std::unordered_set<std::string> seen;
    seen.reserve(count * 2);
    // Unique ignoring case means unique under the catalogue's own
    // comparison: its sort key is the set key.
    const Collation& collation = Collation::instance();
    std::vector<std::uint8_t> key;
    auto keyOf = [&](const std::string& bytes) {
        key.clear();
        collation.appendSortKey(bytes, key);
        return std::string(key.begin(), key.end());
    };
    while (out.size() < count) {
        std::string name;
        const std::size_t words = 1 + pick(3);
        for (std::size_t w = 0; w < words; ++w) {
            if (w)
                name += " ";
            name += Upper[pick(std::size(Upper))];
            const std::size_t letters = 2 + pick(7);
            for (std::size_t l = 0; l < letters; ++l)
                name += Lower[pick(std::size(Lower))];
        }
        if (pick(3) == 0) {
            name += ' ';
            name += std::to_string(pick(2000));
        }
        if (pick(4) == 0)
            name += Extensions[pick(3)];
        std::string bytes = win1250(name);
        if (bytes.size() < 3 || bytes.size() > 31)
            continue;
        if (!seen.insert(keyOf(bytes)).second)
            continue;
        char location[16];
        std::snprintf(location, sizeof location, "CD %04zu", pick(10000));
        out.push_back({std::move(bytes), location});
    }
    return out;
}

void writeCatalogueFile(const std::string& path, const std::vector<GeneratedRecord>& records) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    for (const auto& r : records) {
        RecordText name(r.name), location(r.location);
        file.write(reinterpret_cast<const char*>(&name), sizeof name);
        file.write(reinterpret_cast<const char*>(&location), sizeof location);
    }
    if (!file)
        throw std::runtime_error("cannot write " + path);
}

std::string catalogueFile(std::size_t count) {
    const std::string dir = "bench-data";
    ::mkdir(dir.c_str(), 0755);
    const std::string path = dir + "/Zoznam-" + std::to_string(count) + ".dat";
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0 && std::size_t(st.st_size) == count * 64)
        return path;
    writeCatalogueFile(path, generateRecords(count));
    return path;
}

std::string namesFile(std::size_t count) {
    const std::string catalogue = catalogueFile(count);
    const std::string path = "bench-data/names-" + std::to_string(count) + ".txt";
    struct stat names{}, source{};
    if (::stat(path.c_str(), &names) == 0 && ::stat(catalogue.c_str(), &source) == 0 &&
        names.st_mtime >= source.st_mtime)
        return path;
    std::ifstream in(catalogue, std::ios::binary);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    RecordText name, location;
    while (in.read(reinterpret_cast<char*>(&name), sizeof name) &&
           in.read(reinterpret_cast<char*>(&location), sizeof location))
        out << windows1250ToUtf8(name.view()) << '\n';
    if (!out)
        throw std::runtime_error("cannot write " + path);
    return path;
}

bool runSortF(const std::string& path) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {"sort", "-f", path.c_str(), nullptr};
    const char* envp[] = {"LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin", nullptr};
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, "sort", &actions, nullptr, const_cast<char* const*>(argv),
                                    const_cast<char* const*>(envp));
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return failed == 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

long peakKilobytes() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    char line[256];
    long kb = -1;
    while (status && std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmHWM: %ld kB", &kb) == 1)
            break;
    if (status)
        std::fclose(status);
    return kb;
}

long reportedPeakKilobytes(const std::string& command) {
    std::FILE* pipe = popen(command.c_str(), "r");
    long kb = -1;
    if (!pipe || std::fscanf(pipe, "%ld", &kb) != 1)
        kb = -1;
    if (pipe && pclose(pipe) != 0)
        kb = -1;
    return kb;
}

}  // namespace vrindel::bench
