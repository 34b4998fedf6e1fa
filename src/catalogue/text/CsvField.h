#pragma once
// The one rule for a field of a CSV row, shared by the conflict file and
// every export.

#include <string>
#include <string_view>

namespace vrindel {

// One field of a CSV row, quoted where it must be: a quote, a line break
// (a bare CR too, which a spreadsheet takes for one) or one of the
// `separators` (the delimiter, and any other a reader may take for one).
void appendCsvField(std::string& out, std::string_view utf8, std::string_view separators = ",");

}  // namespace vrindel
