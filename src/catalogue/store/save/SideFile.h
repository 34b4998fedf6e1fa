#pragma once
// Files that keep some of a catalogue's records or bytes beside it: the
// conflict file of records a save could not take, the bytes of a damaged
// file before its first save. They hold what the catalogue holds, so they
// are readable by whoever may read the catalogue and by no one else; and
// their names are never taken over by what someone else put there.

#include <sys/stat.h>

#include <functional>
#include <string>

#include "store/held/HeldFile.h"
#include "store/io/FileSystem.h"

namespace vrindel {

// Creates a new file beside the file held at `of` (or, when its folder
// refuses new files, in the user's state folder), fills it (`fill` writes
// to the descriptor and returns 0 or an errno), gives it the access of the
// file at `of` (SaveWay.h: shareAccess; private to this user when no file is
// there), and makes it and its name durable. Its name is the first
// free one of `stem` + `extension`, `stem`-2 + `extension`, ... and then
// `stem`-<random> + `extension`: one only this call created, never a link
// or a file someone else made. Returns its full path. Raises IoError;
// nothing is left behind then.
std::string writeSideFile(FileSystem& fs, const HeldFile& of, const std::string& stem, const std::string& extension,
                          const std::function<int(int fd)>& fill);

// "20261207-153000", the local time of now, as side files are named.
std::string sideFileTimeStamp();

}  // namespace vrindel
