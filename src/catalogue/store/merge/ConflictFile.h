#pragma once
// Records another program wrote to the catalogue that a save could not take
// (their names were taken by this session's records, deleted or renamed in
// it, or written twice by the other program) are never dropped: they go to a
// CSV file beside the catalogue, which `vrindel-cli import` reads back.
//
// RFC 4180 text in UTF-8: the header "name,location", then one row a record,
// lines ended by CR LF. Its name tells what it is and when it was written,
// "Zoznam.dat-conflicts-20261207-153000.csv", and never replaces an earlier
// one (a random part follows the numbered names). Where the catalogue's
// folder may not be written it goes to the user's state folder (see
// RollbackJournal.h). It has the catalogue's owner, group, mode and access
// list (SideFile.h).

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/io/FileSystem.h"
#include "store/held/HeldFile.h"
#include "text/RecordText.h"

namespace vrindel {

// Writes the records, synced, and returns the file's full path. Raises
// IoError; nothing is left behind then.
std::string writeConflictFile(FileSystem& fs, const HeldFile& catalogue,
                              const std::vector<std::pair<RecordText, RecordText>>& records);

// The records the conflict files beside the catalogue keep, each as its
// BaseRecords::recordHash, so that a merge that meets them again does not
// write them once more. A file that cannot be read, or a row that is no
// record, is passed over: the worst that costs is a record written twice.
std::set<std::uint64_t> recordsInConflictFiles(FileSystem& fs, const HeldFile& catalogue);

}  // namespace vrindel
