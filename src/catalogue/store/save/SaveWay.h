#pragma once
// The two ways a file is saved, and the one place that chooses between
// them.
//
// Replace: the records go to a temporary file beside the old one (unnamed
// where the file system allows, so a killed save leaves nothing), which is
// made durable, given the old file's owner, group, mode, access control
// list and extended attributes, and renamed over it. Until the rename the
// old file is untouched; after it the new one is whole.
//
// In place: the old file itself is rewritten. Taken only when replacing
// would change something the user relies on, or cannot be done at all:
// the file has other names (a rename would detach them), the folder may
// not be written, or the new file could not be given the old one's access
// (a user who may not give a file away, an access list that will not copy).

#include <sys/stat.h>

#include <string>
#include <vector>

#include "store/io/FileSystem.h"

namespace vrindel {

enum class SaveWay { Replace, InPlace };

enum class SaveReason {
    NewFile,            // Replace: nothing was there; the file is made whole and then named
    Replaceable,        // Replace: the usual way
    OtherNames,         // InPlace: hard links elsewhere would keep the old file
    FolderNotWritable,  // InPlace: no temporary file can be made beside it
    AccessNotKept,      // InPlace: the new file could not have the old one's owner, group or access
};

// The temporary file of a Replace, open for writing.
struct Temporary {
    int fd = -1;
    std::string name;      // empty while it is unnamed
    bool unnamed = false;
};

struct SavePlan {
    SaveWay way = SaveWay::Replace;
    SaveReason reason = SaveReason::NewFile;
    Temporary temporary;   // for Replace
};

// Chooses how to save `leaf` in `folder`. `oldFd` and `old` describe the
// file there, open for writing (-1 and nullptr when none is). For Replace
// the temporary file is ready, with the old file's access. Raises IoError
// when neither way can be taken; nothing is left behind then.
SavePlan chooseSaveWay(FileSystem& fs, int folder, const std::string& leaf, int oldFd, const struct ::stat* old);

// Gives a temporary file its own name beside the target (an unnamed one
// must have one before it can be renamed). Raises IoError.
void nameTemporary(FileSystem& fs, int folder, const std::string& leaf, Temporary& temporary);

// Gives a new file that keeps records or bytes of the file open as
// `fromFd` (described by `from`) that file's access: its owner, group, mode,
// access control list and extended attributes, as a save gives them, set-id
// bits aside. Where this user may not give the file away it stays his (he
// could read the file), with the file's group and access; where not even
// the group can be given, it stays private to him. Raises IoError.
void shareAccess(FileSystem& fs, int fromFd, const struct ::stat& from, int fd);

// Removes the temporary files that saves of `leaf` left behind in a process
// that is gone (killed in the middle of a save). Those of live processes are
// left alone. Never fails.
void removeStaleTemporaries(FileSystem& fs, int folder, const std::string& leaf);
// The temporary files of saves of `leaf` that another computer's killed
// saves left (a sync engine carried them here): never removed as stale, only
// told of.
std::vector<std::string> otherComputersTemporaries(int folder, const std::string& leaf);

}  // namespace vrindel
