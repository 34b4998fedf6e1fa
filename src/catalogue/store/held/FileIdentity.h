#pragma once
// Which file a name led to when it was read or written: its device and
// inode, and its size and times, so that a later save can tell whether it
// is still the same file, unchanged.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>

namespace vrindel {

struct FileIdentity {
    bool present = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t mtimeNs = 0;
    std::int64_t ctimeNs = 0;

    static FileIdentity of(const struct ::stat& st) {
        return {true, st.st_dev, st.st_ino, st.st_size, nanoseconds(st.st_mtim), nanoseconds(st.st_ctim)};
    }
    bool sameFile(const FileIdentity& other) const {
        return present == other.present && (!present || (device == other.device && inode == other.inode));
    }
    bool operator==(const FileIdentity& other) const = default;

private:
    static std::int64_t nanoseconds(const struct ::timespec& t) {
        return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
    }
};

}  // namespace vrindel
