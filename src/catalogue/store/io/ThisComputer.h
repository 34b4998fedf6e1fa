#pragma once
// What tells this computer from another that shares the catalogue's folder
// through a sync engine, for the side files a save leaves beside the
// catalogue: a killed save's temporary file or journal may travel to the
// other computer, where a process id means nothing.

#include <string>
#include <string_view>

namespace vrindel {

// Eight hex digits for this machine (from its machine id, else its host
// name), the same across boots.
const std::string& machineTag();
// Eight hex digits for this boot of it: a process id of an earlier boot is
// no process at all.
const std::string& bootTag();

// A side file's tag, machine then boot: sixteen hex digits.
std::string computerTag();
// Whether `tag` (sixteen hex digits) was made on this machine, and in this boot.
bool madeHere(std::string_view tag);
bool madeThisBoot(std::string_view tag);
bool isComputerTag(std::string_view text);

}  // namespace vrindel
