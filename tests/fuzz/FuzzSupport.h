#pragma once
// What the fuzz targets share: a scratch folder for the files they read and
// write, and a check that stops the run with the input kept.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace vrindel::fuzz {

[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
}

inline void check(bool holds, const char* what) {
    if (!holds)
        fail(what);
}

// One folder for the whole run, on a memory file system when there is one:
// every save syncs its file and its folder.
class ScratchFolder {
public:
    ScratchFolder() {
        std::filesystem::path parent = std::filesystem::temp_directory_path();
        if (::access("/dev/shm", W_OK) == 0)
            parent = "/dev/shm";
        std::string pattern = (parent / "vrindel-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            fail("cannot create a scratch folder");
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const char* name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline ScratchFolder& scratch() {
    static ScratchFolder folder;
    return folder;
}

inline void putBytes(const std::string& path, const unsigned char* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    check(f != nullptr, "cannot open the input file");
    check(size == 0 || std::fwrite(data, 1, size, f) == size, "cannot write the input file");
    check(std::fclose(f) == 0, "cannot close the input file");
}

inline std::optional<std::string> getBytes(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return std::nullopt;
    std::string bytes;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.append(chunk, n);
    std::fclose(f);
    return bytes;
}

}  // namespace vrindel::fuzz
