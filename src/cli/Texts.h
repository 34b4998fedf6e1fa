#pragma once
// A text typed on the command line or read from a file, on its way into a
// record: the window's rules for what a record text may hold.

#include <string>
#include <string_view>

#include "text/TerminalText.h"

namespace vrindel::cli {

struct Converted {
    std::string bytes;     // Windows-1250, when it can be stored
    std::string problem;   // otherwise why not, e.g. "the name is 40 characters long (at most 31)"
};

// `what` names the text in the problem: "name", "location" or "new name". Composed
// first (a letter typed as a base and a combining accent is one
// character), then mapped to Windows-1250 by the library's table.
Converted toRecordText(std::string_view utf8, const char* what);
// The same into `out`, whose room is used again: for a million rows.
void toRecordText(std::string_view utf8, const char* what, Converted& out);

// Why a new text (typed on the command line, a file's name) is refused
// for a control character it holds, as the window refuses it; empty when
// it holds none. `bytes` are Windows-1250.
std::string controlProblem(std::string_view bytes, const char* what);

// A text as a message prints it to a terminal: vrindel::printable
// (TerminalText.h), as `list` shows records and the window shows paths.
using vrindel::printable;

}  // namespace vrindel::cli
