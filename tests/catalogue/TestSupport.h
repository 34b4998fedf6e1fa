#pragma once
// Small helpers shared by the catalogue tests: Windows-1250 literals, a
// private scratch directory, whole-file reads and writes, and snapshots of
// the three lists.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "records/Catalogue.h"
#include "store/CatalogueStore.h"
#include "store/format/CatalogueFiles.h"
#include "text/RecordText.h"

namespace vrindel::test {

// A UTF-8 literal as the Windows-1250 bytes a record holds.
inline std::string cp(std::string_view utf8) {
    auto bytes = utf8ToWindows1250(utf8);
    if (!bytes)
        throw std::invalid_argument("not storable in Windows-1250: " + std::string(utf8));
    return *bytes;
}

// A text followed by a number. (Built by appending: GCC 12 at -O2 warns
// falsely about `"text" + std::to_string(n)`.)
inline std::string numbered(std::string text, long long number) {
    text += std::to_string(number);
    return text;
}

// A fresh directory of its own, removed with everything in it at the end.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vrindel-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ec;
        // A test may have left something read-only behind; make it removable.
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

    // Every entry of the directory by name, sorted.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::filesystem::path path_;
};

// Runs a test body with the scratch directory as the current directory, as
// the program runs with its two files; the old directory comes back after.
class InScratchDir {
public:
    explicit InScratchDir(const ScratchDir& dir) : old_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir.path());
    }
    ~InScratchDir() {
        std::error_code ec;
        std::filesystem::current_path(old_, ec);
    }
    InScratchDir(const InScratchDir&) = delete;
    InScratchDir& operator=(const InScratchDir&) = delete;

private:
    std::filesystem::path old_;
};

// The user's state folder (XDG_STATE_HOME) in `path` while it lives, so
// that what the file layer puts there stays in the test's own folder.
class StateHomeAt {
public:
    explicit StateHomeAt(const std::filesystem::path& path) {
        if (const char* was = std::getenv("XDG_STATE_HOME"))
            old_ = was;
        ::setenv("XDG_STATE_HOME", path.c_str(), 1);
    }
    ~StateHomeAt() {
        if (old_)
            ::setenv("XDG_STATE_HOME", old_->c_str(), 1);
        else
            ::unsetenv("XDG_STATE_HOME");
    }
    StateHomeAt(const StateHomeAt&) = delete;
    StateHomeAt& operator=(const StateHomeAt&) = delete;

private:
    std::optional<std::string> old_;
};

inline std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

// One 32-byte record as the format lays it out: length, text, zeros.
inline std::string record(std::string_view text) {
    std::string r(32, '\0');
    r[0] = char(text.size());
    text.copy(r.data() + 1, std::min<std::size_t>(text.size(), 31));
    return r;
}

inline std::vector<std::string> displayNames(const Catalogue& c) {
    std::vector<std::string> out;
    for (int i = 0; i < c.displayCount(); ++i)
        out.push_back(c.displayAt(i).str());
    return out;
}

inline std::vector<std::string> storageNames(const Catalogue& c) {
    std::vector<std::string> out;
    for (int j = 0; j < c.storageCount(); ++j)
        out.push_back(c.storageName(j).str());
    return out;
}

inline std::vector<std::string> storageLocations(const Catalogue& c) {
    std::vector<std::string> out;
    for (int j = 0; j < c.storageCount(); ++j)
        out.push_back(c.storageLocation(j).str());
    return out;
}

// Records the two file messages instead of showing them.
class RecordingMessages : public FileMessages {
public:
    void listFileMissing() override { ++missing; }
    void listFileDamaged() override { ++damaged; }
    int missing = 0;
    int damaged = 0;
};

// The message of the ListError that `body` raises, or "" if none is raised.
template <typename Body>
std::string listErrorOf(Body&& body) {
    try {
        body();
    } catch (const ListError& e) {
        return e.what();
    }
    return "";
}

// A store's save as the file procedures fail: its first failure raised.
inline SaveReport raised(SaveReport report) {
    if (!report.ok())
        throw report.failures.front().error;
    return report;
}

// The folder a store is built from, for a catalogue reached by `name`.
inline std::string folderOf(const std::string& name) {
    return std::filesystem::path(name).parent_path().string();
}

// The IoError that `body` raises; a failure if it raises none.
template <typename Body>
IoError ioErrorOf(Body&& body) {
    try {
        body();
    } catch (const IoError& e) {
        return e;
    }
    ADD_FAILURE() << "no input/output error was raised";
    return IoError(0, "");
}

}  // namespace vrindel::test
