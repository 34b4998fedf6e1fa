#pragma once
// What a program of Vrindel prints to a terminal of texts it did not write
// itself (records, paths, names from the environment): control characters
// (C0, DEL, and C1 as UTF-8 writes them) as \xNN, so that a record or a
// folder's name cannot move the cursor, retitle the terminal or hide a
// message. vrindel-cli and the window print them the same way.

#include <string>
#include <string_view>

namespace vrindel {

std::string printable(std::string_view text);

}  // namespace vrindel
