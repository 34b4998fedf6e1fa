#pragma once
// The file an export writes: first a temporary file in the target's folder,
// which takes the target's place only once it is whole and synced. A full
// disk, a write error or an interrupted export leaves the old file as it
// was and no temporary file behind.
//
// The target's name is followed as the catalogue's is (see HeldFile): a
// link the user made leads the export to its target, which is replaced
// while the link stays, so a backup linked to another disk stays there;
// another user's link in a shared folder is not followed. Anything but a
// regular file at the end (a device, a FIFO, a folder) is refused: an
// export never writes through one.

#include <sys/types.h>

#include <cstdio>
#include <string>

#include "store/held/HeldFile.h"

namespace vrindel::cli {

class OutputFile {
public:
    // Creates the temporary file, or the command ends with a file error.
    explicit OutputFile(const std::string& path);
    ~OutputFile();   // removes the temporary file unless it took the place
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::FILE* stream() const { return stream_; }
    // Flushes, syncs and renames into place; the command ends with a file
    // error when any of that fails, the old file kept.
    void commit();
    // Ends a failed export: the temporary file goes, and the command ends
    // with a file error for `err` (an errno).
    [[noreturn]] void fail(int err);

private:
    void discard() noexcept;

    std::string path_;
    HeldFile place_;
    std::string temporary_;
    std::FILE* stream_ = nullptr;
    bool hadOld_ = false;
};

}  // namespace vrindel::cli
