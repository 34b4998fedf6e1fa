#pragma once
// Small helpers shared by the robustness tests: scratch directories, the
// exact bytes of the two files, and catalogues made up for a test.

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "store/format/CatalogueFiles.h"

namespace vrindel::testing {

// A directory of its own, removed with everything in it at the end.
class ScratchDir {
public:
    explicit ScratchDir(const std::filesystem::path& parent = std::filesystem::temp_directory_path()) {
        std::string pattern = (parent / "vrindel-robust-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot create a scratch directory under " + parent.string());
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const char* name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// The bytes of a file, or nothing when there is no such file.
inline std::optional<std::string> fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return std::nullopt;
    std::string bytes(std::size_t(in.tellg()), '\0');
    in.seekg(0);
    in.read(bytes.data(), std::streamsize(bytes.size()));
    return bytes;
}

inline void putFile(const std::filesystem::path& path, const std::string& bytes, mode_t mode = 0644) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        if (!out)
            throw std::runtime_error("cannot write " + path.string());
    }
    std::filesystem::permissions(path, std::filesystem::perms(mode));
}

// Every name in a directory, hidden ones included.
inline std::set<std::string> entriesOf(const std::filesystem::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

inline mode_t modeOf(const std::filesystem::path& path) {
    struct ::stat st{};
    if (::stat(path.c_str(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

// Name and location, Windows-1250 bytes.
using Record = std::pair<std::string, std::string>;
using Records = std::vector<Record>;

// The catalogue file as the program writes it: 64 bytes a record, zeros
// after each text.
inline std::string catalogueBytes(const Records& records) {
    std::string out;
    out.reserve(records.size() * 2 * ListRecordSize);
    for (const auto& [name, location] : records) {
        for (const std::string* text : {&name, &location}) {
            std::string record(ListRecordSize, '\0');
            record[0] = char(text->size());
            text->copy(record.data() + 1, text->size());
            out += record;
        }
    }
    return out;
}

inline std::string optionsBytes(bool zoradit, bool delPlaceBox, bool delExt) {
    return {char(zoradit), char(delPlaceBox), char(delExt)};
}

// `count` distinct records with accented letters, the longest and the
// empty text among them. `salt` makes two sets differ from the first name on.
inline Records madeUpRecords(int count, int salt = 0) {
    static const char* const stems[] = {"\xC8" "esk\xE1 hra", "\x9Ekola", "Archiv", "\xFA\xE8tovn\xED" "ctvo",
                                        "zbierka", "\xC1nia", "Pr\xEDru\xE8ka", "ovl\xE1" "da\xE8"};
    static const char* const places[] = {"CD 1", "DVD \x9A" "kola", "Police 3", "Disk\xE9ta 12", ""};
    Records records;
    records.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i) {
        std::string name = std::string(stems[(i + salt) % 8]) + " " + std::to_string(salt) + "-" + std::to_string(i);
        std::string location = places[i % 5];
        if (i % 97 == 3)
            name = (name + std::string(31, 'x')).substr(0, MaxTextLength);
        records.emplace_back(name.substr(0, MaxTextLength), location);
    }
    return records;
}

}  // namespace vrindel::testing
