#pragma once
// The common version a sync engine's copy of the catalogue is merged
// against (ConflictCopies.h), kept per catalogue in the user's state folder
// ($XDG_STATE_HOME/vrindel), under a hash of the catalogue's full path, for
// catalogues in a folder a sync engine carries only (syncEngineOf):
//
// - a digest (ContentHash.h) of the bytes this computer last wrote, to tell
//   a file it wrote itself from one that came from elsewhere;
// - what it last received: the catalogue as read, the last time it was not
//   what this computer had written, with no conflict copy beside it. Both
//   computers had that version, and each grew its own from it: a copy from
//   either side merges three ways against it. Taken while copies lie beside
//   the catalogue, it could be the winner of the very conflict the copy
//   lost, and the copy's records would look deleted; so it is not.
//
// A computer that never received a version from the other (the one that
// made the catalogue, until the other first saves) has no common version:
// its copies are merged by adding only.
//
// The received version is eight bytes a record (BaseRecords.h), written
// whole beside and then renamed into place. Both are hints: one that cannot
// be written leaves the save as it is, and one that does not parse is not
// there.
//
//   "VRSAVE2\n", digest (u64), checksum of all before it (u64)
//   "VRRECV3\n", digest (u64), record count (u64), record keys (u64 each),
//   checksum of all before it (u64)

#include <cstdint>
#include <optional>
#include <string>

#include "store/io/FileSystem.h"
#include "store/merge/BaseRecords.h"

namespace vrindel {

struct ReceivedVersion {
    std::uint64_t digest = 0;
    BaseRecords records;
};

// Of the catalogue at `cataloguePath`; nothing where none is kept (or
// none parses). `withRecords` false reads the digest alone.
std::optional<ReceivedVersion> readReceivedVersion(FileSystem& fs, const std::string& cataloguePath,
                                                   bool withRecords = true);
std::optional<std::uint64_t> readSavedDigest(FileSystem& fs, const std::string& cataloguePath);

// Each returns whether the version is in place; neither raises.
bool writeSavedDigest(FileSystem& fs, const std::string& cataloguePath, std::uint64_t digest) noexcept;
bool writeReceivedVersion(FileSystem& fs, const std::string& cataloguePath, std::uint64_t digest,
                          const BaseRecords& records) noexcept;

}  // namespace vrindel
