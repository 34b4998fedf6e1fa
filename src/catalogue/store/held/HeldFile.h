#pragma once
// Where a file's name leads, found once and then held: the real folder that
// holds the file, open, and the file's own name in it. Every later read,
// lock and write goes through that folder, so a folder on the way renamed
// or swapped for a link cannot send a save into another catalogue; and a
// save can ask whether the name still leads to the same place.
//
// Links are followed by hand, so that the rule the kernel applies only when
// its protected_symlinks setting is on holds everywhere: in a sticky or
// world-writable folder, a link is followed only when it belongs to the
// user or to the folder's owner. Another user's link planted in a shared
// folder is a file that exists but cannot be opened.

#include <sys/types.h>

#include <cerrno>

#include <string>

#include "store/io/FileSystem.h"

namespace vrindel {

class HeldFile {
public:
    HeldFile() = default;
    ~HeldFile();
    HeldFile(HeldFile&& other) noexcept;
    HeldFile& operator=(HeldFile&& other) noexcept;
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    // Follows `name` (relative to the working folder) to the last name that
    // is no link. Never raises: what went wrong is kept in error().
    static HeldFile resolve(FileSystem& fs, const std::string& name);

    // The real folder, open for *at calls (O_PATH); -1 after an error.
    int folder() const { return folder_; }
    // The file's name in that folder.
    const std::string& leaf() const { return leaf_; }
    // 0, or why the name leads to no file that may be used: EACCES for a
    // link that may not be followed, ELOOP, ENOENT or ENOTDIR for a link
    // into a folder that is not there, or whatever failed on the way.
    int error() const { return error_; }
    // error() as an open of the name would report it: a link into a folder
    // that is not there reads as a missing file.
    int openError() const { return error_ == ENOTDIR ? ENOENT : error_; }
    // Whether the error says where the name leads (a link refused, looping
    // or into a missing folder) rather than that the system failed to tell.
    bool leadsNowhere() const;

    // The same folder (by device and inode) and the same name in it.
    bool sameAs(const HeldFile& other) const;

private:
    int folder_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    std::string leaf_;
    int error_ = 0;
    bool followedLink_ = false;
    bool refusedLink_ = false;
};

}  // namespace vrindel
