#pragma once
// The common version a sync engine's copy of the catalogue is merged
// against (ConflictCopies.h), kept per catalogue in the user's state folder
// ($XDG_STATE_HOME/vrindel), under a hash of the catalogue's full path:
//
// - this computer's last save: a digest (ContentHash.h) of the bytes it
//   wrote, and its common version with the other computer: the catalogue
//   as the session read it, where another computer wrote that, and else
//   the common version of the save before. (Whether the other computer
//   ever received a save made here, nothing here tells: taken for common,
//   a record added by an earlier save here that never reached it would be
//   dropped.) A copy with those very bytes is this computer's own save,
//   which the engine renamed when the other computer's won the name: both
//   grew from that common version.
// - the last version this computer read that it had not written: what it
//   last received from the other computer, which a copy from there grew
//   from.
//
// A copy merged once is in the catalogue from then on: merged again it
// brings nothing. Those are told by their digests: the last save keeps the
// one of this computer's own copy it merged, and the version received the
// one of its own bytes (a copy from the other computer is received).
//
// Each is twelve bytes a record (BaseRecords.h), written whole beside and
// then renamed into place. They are hints: one that cannot be written
// leaves the save as it is, and one that does not parse is not there.
//
//   "VRBASE1\n", digest (u64: of the bytes written, or received), digest
//   of the own copy merged (u64, 0 for none; 0 in a version received),
//   record count (u64), record hashes (u64 each), name hashes (u32 each),
//   checksum of all before it (u64)

#include <cstdint>
#include <optional>
#include <string>

#include "store/io/FileSystem.h"
#include "store/merge/BaseRecords.h"

namespace vrindel {

struct CommonVersions {
    std::optional<std::uint64_t> savedDigest;   // of the bytes this computer last wrote
    std::uint64_t mergedOwnCopy = 0;            // of this computer's own copy that save merged
    BaseRecords savedBase;
    std::optional<std::uint64_t> receivedDigest;
    BaseRecords receivedRecords;

    enum class Of {
        None,       // no common version: a merge only adds
        OwnSave,    // this computer's last save: savedBase
        Received,   // grown from what this computer received: receivedRecords
        Merged,     // merged before: it is its own common version
    };
    // Of a copy whose bytes have `digest`.
    Of of(std::uint64_t digest) const {
        if (savedDigest && *savedDigest == digest)
            return Of::OwnSave;
        if ((receivedDigest && *receivedDigest == digest) || (mergedOwnCopy != 0 && mergedOwnCopy == digest))
            return Of::Merged;
        return receivedDigest ? Of::Received : Of::None;
    }
    // Whether bytes with `digest` are not this computer's last save.
    bool foreign(std::uint64_t digest) const { return !savedDigest || *savedDigest != digest; }
};

// Both, for the catalogue at `cataloguePath`.
CommonVersions readCommonVersions(FileSystem& fs, const std::string& cataloguePath);
// Only this computer's last save: its digest, and its common version in
// `base`.
std::optional<std::uint64_t> readSavedVersion(FileSystem& fs, const std::string& cataloguePath, BaseRecords& base);

// Each returns whether the version is in place; neither raises.
bool writeSavedVersion(FileSystem& fs, const std::string& cataloguePath, std::uint64_t digest,
                       std::uint64_t mergedOwnCopy, const BaseRecords& base) noexcept;
bool writeReceivedVersion(FileSystem& fs, const std::string& cataloguePath, std::uint64_t digest,
                          const BaseRecords& records) noexcept;

}  // namespace vrindel
